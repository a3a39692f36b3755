// Text and CSV cells whose text holds the column separator or a double quote: they are enclosed in
// quotes with inner quotes doubled, so that a CSV reader sees the cells the writer meant.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/canlog_config.h"
#include "convert/text_writers.h"

namespace tessmar {
namespace {

class CellQuoting : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tessmar_cells_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // A Signals setup with one signal, one expression and one GPS column, separator ','.
  WriterSetup Signals() {
    WriterSetup s;
    s.output_path = dir_ / "out.csv";
    s.output_type = OutputType::kSignals;
    s.format_code = kFormatCsvInternational;
    s.layout = MakeColumnLayout(1, 1, 1, false);
    s.columns.resize(3);
    s.columns[0] = {ColumnGroup::kSignal, 0, true, "Speed", "km/h", 0, 0};
    s.columns[1] = {ColumnGroup::kExpression, 0, true, "max(a,b)", "calculated", 0, 0};
    s.columns[2] = {ColumnGroup::kGps, 0, true, "GpsPos", "", 0, 0};
    channels_.assign(3, ChannelValue{});
    s.channels = channels_.data();
    s.gps_formatter = [](const void*, int, char* out, int capacity) {
      return std::snprintf(out, static_cast<std::size_t>(capacity), "48.5,N");
    };
    s.column_separator = ',';
    s.headlines = 1;
    return s;
  }

  std::string Run(TextCsvWriter& w, const WriterSetup& s, int rows = 1) {
    EXPECT_EQ(w.Create(s), 1) << w.error_text();
    WriterRow row;
    row.entry = entry_;
    for (int i = 0; i < rows; ++i) EXPECT_EQ(w.WriteRow(row), kRowWritten);
    EXPECT_EQ(w.Finish(WriterFinish{}), 1) << w.error_text();
    std::ifstream in(s.output_path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::filesystem::path dir_;
  std::vector<ChannelValue> channels_;
  const std::uint8_t* entry_ = nullptr;
};

TEST_F(CellQuoting, SignalsCellsHoldingSeparatorOrQuote) {
  WriterSetup s = Signals();
  s.invalid_value = "n/a, \"none\"";
  channels_[0].valid = true;
  channels_[0].value_type = kChannelTypeInteger;
  channels_[0].scaled = 1.5;
  channels_[2].valid = true;
  channels_[2].value_type = kChannelTypeFloat64;
  TextCsvWriter w;
  std::string text = Run(w, s);
  EXPECT_EQ(text,
            "Speed,\"max(a,b)\",GpsPos\r\n"
            "1.5,\"n/a, \"\"none\"\"\",\"48.5,N\"\r\n");

  // A text value is always quoted; a quote inside it is doubled.
  channels_[1].valid = true;
  channels_[1].value_type = kChannelTypeText;
  channels_[1].text = "say \"hi\"";
  s.headlines = 0;
  s.invalid_value = "-";
  TextCsvWriter again;
  EXPECT_EQ(Run(again, s), "1.5,\"say \"\"hi\"\"\",\"48.5,N\"\r\n");
}

TEST_F(CellQuoting, BlankSeparatorQuotesOnlyTextsWithBlanks) {
  WriterSetup s = Signals();
  s.format_code = kFormatText;
  s.column_separator = ' ';
  s.headlines = 0;
  s.invalid_value = "no value";
  s.time_column1 = TimeColumnKind::kSeconds;
  channels_[0].valid = true;
  channels_[0].value_type = kChannelTypeInteger;
  channels_[0].scaled = -3;
  TextCsvWriter w;
  EXPECT_EQ(Run(w, s, 2),
            "0.0000 -3 \"no value\" \"no value\"\r\n"
            "0.0000 -3 \"no value\" \"no value\"\r\n");
}

TEST_F(CellQuoting, MessagesExpressionTextHoldingTheSeparator) {
  T_CanLog_Config cfg;
  SetText(cfg.Exp[0].ex, "max(a,b)");
  WriterSetup s = Signals();
  s.output_type = OutputType::kMessages;
  s.logged_config = &cfg;
  s.headlines = 0;
  channels_[1].valid = true;
  channels_[1].scaled = 2.75;
  const std::uint8_t entry[16] = {0x90, 0, 0, 0};
  entry_ = entry;
  TextCsvWriter w;
  EXPECT_EQ(Run(w, s), "\"; EXPR: max(a,b)      = 2.75\"\r\n");
}

}  // namespace
}  // namespace tessmar
