// Text and CSV cells whose text holds the column separator or a double quote are enclosed in
// quotes with inner quotes doubled, so that a CSV reader sees the cells the writer meant.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "config/canlog_config.h"
#include "writers/text_writers.h"

namespace tessmar {
namespace {

// One row of a signal, an expression and a GPS column (whose format gives "48.5,N").
std::string WriteOneRow(WriterSetup s, ChannelValue (&channels)[3], const std::uint8_t* entry) {
  s.output_path = std::filesystem::temp_directory_path() /
                  ("tessmar_cells_" + std::to_string(::getpid()) + ".csv");
  s.layout = MakeColumnLayout(1, 1, 1, false);
  s.columns = {{ColumnGroup::kSignal, 0, true, "Speed", "", 0, 0},
               {ColumnGroup::kExpression, 0, true, "max(a,b)", "", 0, 0},
               {ColumnGroup::kGps, 0, true, "GpsPos", "", 0, 0}};
  s.channels = channels;
  s.gps_formatter = [](const void*, int, char* out, int capacity) {
    return std::snprintf(out, static_cast<std::size_t>(capacity), "48.5,N");
  };
  TextCsvWriter w;
  EXPECT_EQ(w.Create(s), 1);
  WriterRow row;
  row.entry = entry;
  EXPECT_EQ(w.WriteRow(row), kRowWritten);
  EXPECT_EQ(w.Finish(WriterFinish{}), 1);
  std::ostringstream text;
  text << std::ifstream(s.output_path, std::ios::binary).rdbuf();
  std::filesystem::remove(s.output_path);
  return text.str();
}

TEST(CellQuoting, CellsHoldingTheSeparatorOrAQuote) {
  ChannelValue channels[3];
  channels[0].valid = channels[2].valid = true;
  channels[0].scaled = 1.5;
  WriterSetup s;
  s.column_separator = ',';
  s.invalid_value = "n/a, \"none\"";
  EXPECT_EQ(WriteOneRow(s, channels, nullptr),
            "Speed,\"max(a,b)\",GpsPos\r\n1.5,\"n/a, \"\"none\"\"\",\"48.5,N\"\r\n");

  // Text values are always quoted, their quotes doubled; a blank separator quotes blanks.
  channels[1].valid = true;
  channels[1].value_type = kChannelTypeText;
  channels[1].text = "say \"hi\"";
  s.headlines = 0;
  EXPECT_EQ(WriteOneRow(s, channels, nullptr), "1.5,\"say \"\"hi\"\"\",\"48.5,N\"\r\n");
  s.column_separator = ' ';
  s.invalid_value = "no value";
  channels[2].valid = false;
  EXPECT_EQ(WriteOneRow(s, channels, nullptr), "1.5 \"say \"\"hi\"\"\" \"no value\"\r\n");

  // Messages: the expression text decides, not the blanks of the row layout.
  T_CanLog_Config cfg;
  SetText(cfg.Exp[0].ex, "max(a,b)");
  s.output_type = OutputType::kMessages;
  s.logged_config = &cfg;
  s.column_separator = ',';
  channels[1].scaled = 2.75;
  const std::uint8_t entry[16] = {0x90};
  EXPECT_EQ(WriteOneRow(s, channels, entry), "\"; EXPR: max(a,b)      = 2.75\"\r\n");
}

}  // namespace
}  // namespace tessmar
