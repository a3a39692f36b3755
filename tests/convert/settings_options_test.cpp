#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "common/message_output.h"
#include "convert/converter_options.h"
#include "convert/settings_file.h"

namespace tessmar {
namespace {

// ---- Settings file ---------------------------------------------------------------------------

TEST(SettingsFile, TopographyFolderDefaultsToTheUsersDataFolder) {
  const char* saved = std::getenv("XDG_DATA_HOME");
  const std::string kept = saved ? saved : "";
  setenv("XDG_DATA_HOME", "/srv/data", 1);
  EXPECT_EQ(DefaultTopographicMapData(), "/srv/data/tessmar/gtopo30");
  // The Windows default that earlier versions stored names no folder here.
  IniFile old_default;
  old_default.Parse("[Files]\r\nTopograhicMapData=C:\\GTOPO30\r\n");
  EXPECT_EQ(ReadSettings(old_default).topographic_map_data, "/srv/data/tessmar/gtopo30");
  IniFile own;
  own.Parse("[Files]\r\nTopograhicMapData=/maps/gtopo30\r\n");
  EXPECT_EQ(ReadSettings(own).topographic_map_data, "/maps/gtopo30");
  if (saved) {
    setenv("XDG_DATA_HOME", kept.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}

TEST(SettingsFile, MissingKeysGiveDefaults) {
  IniFile ini;
  const TessmarSettings s = ReadSettings(ini);
  EXPECT_EQ(s.language, 1);
  EXPECT_EQ(s.logger_device_family, -1);
  EXPECT_EQ(s.logger_cfg, "logger.clc");
  EXPECT_EQ(s.topographic_map_data, DefaultTopographicMapData());
  EXPECT_EQ(s.converter.output_type, OutputType::kSignals);
  EXPECT_EQ(s.converter.output_file_format, 0);
  EXPECT_EQ(s.converter.headlines, 1);
  EXPECT_EQ(s.converter.write_interval, "0.010");
  EXPECT_EQ(s.converter.invalid_signal, "-99999999");
  EXPECT_TRUE(s.converter.scaled_values);
  EXPECT_EQ(s.gps_show_preview, 1);
  // No choice of the first time column: seconds. A file that names "off" keeps it.
  EXPECT_EQ(s.converter.time_column1, TimeColumnKind::kSeconds);
  EXPECT_EQ(s.converter.time_column2, TimeColumnKind::kOff);
  IniFile off;
  off.Parse("[Converter]\r\nTimeColumn1=0\r\n");
  EXPECT_EQ(ReadSettings(off).converter.time_column1, TimeColumnKind::kOff);
}

TEST(SettingsFile, RangeCorrections) {
  IniFile ini;
  ini.Parse(
      "[Converter]\nOutputType=3\nOutputFileHeadlines=7\nOutputColumnSeparator=-1\n"
      "DecimalSeparator=2\nTimeColumn1=6\nTimeColumn2=5\nOutputFileFormat=11\n"
      "[GPS_Output]\nColTitle3=0123456789012345678901234567890123456789ABC\n");
  const TessmarSettings s = ReadSettings(ini);
  EXPECT_EQ(s.converter.output_type, OutputType::kMessages);
  EXPECT_EQ(s.converter.headlines, 1);
  EXPECT_EQ(s.converter.column_separator, ColumnSeparator::kBlank);
  EXPECT_EQ(s.converter.decimal_separator, DecimalSeparator::kPeriod);
  EXPECT_EQ(s.converter.time_column1, TimeColumnKind::kOff);
  EXPECT_EQ(s.converter.time_column2, TimeColumnKind::kDateTimeFraction);
  // The stored value is the format code: 11 is the semicolon flavour, 10 selects nothing.
  EXPECT_EQ(s.converter.output_file_format, 11);
  EXPECT_EQ(OutputFormatListIndex(11), 3);
  EXPECT_EQ(OutputFormatListIndex(10), -1);
  EXPECT_EQ(s.gps_col_title[3].size(), 40u);
}

TEST(SettingsFile, RoundTripKeepsValuesOrderAndForeignKeys) {
  IniFile ini;
  ini.Parse("[GraphPreview]\nColour0=255\n[Converter]\nInvalidSignal=\"n/a\"\n");
  TessmarSettings s = ReadSettings(ini);
  EXPECT_EQ(s.converter.invalid_signal, "n/a");
  s.converter.combine_output = true;
  s.recent_candb_names[2] = "/data/van.dbc";
  s.recent_candb_buses[2] = 2;
  s.left = 17;
  WriteSettings(s, ini);
  const std::string text = ini.ToText();
  EXPECT_NE(text.find("CombimeOutputIntoOneFile=1\r\n"), std::string::npos);
  EXPECT_NE(text.find("TopograhicMapData=" + DefaultTopographicMapData() + "\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("[GraphPreview]\r\nColour0=255\r\n"), std::string::npos);
  // Keys of a section come in table order.
  EXPECT_LT(text.find("OutputType="), text.find("OutputFileFormat="));
  EXPECT_LT(text.find("TimeColumn2="), text.find("WriteInterval="));
  IniFile again;
  again.Parse(text);
  const TessmarSettings back = ReadSettings(again);
  EXPECT_TRUE(back.converter.combine_output);
  EXPECT_EQ(back.recent_candb_names[2], "/data/van.dbc");
  EXPECT_EQ(back.recent_candb_buses[2], 2);
  EXPECT_EQ(back.left, 17);
}

// The typed choices are kept as the integers of every earlier settings file: each stored value
// reads as its choice and is written back as the same integer.
TEST(SettingsFile, EveryStoredChoiceReadsAndWritesAsItsInteger) {
  const struct {
    const char* key;
    int count;
  } keys[] = {{"OutputType", 3},
              {"OutputColumnSeparator", 4},
              {"DecimalSeparator", 2},
              {"TimeColumn1", 6},
              {"TimeColumn2", 6}};
  for (const auto& key : keys) {
    for (int v = 0; v < key.count; ++v) {
      IniFile ini;
      ini.Parse("[Converter]\r\n" + std::string(key.key) + "=" + std::to_string(v) + "\r\n");
      const TessmarSettings s = ReadSettings(ini);
      IniFile out;
      WriteSettings(s, out);
      const std::string line = std::string(key.key) + "=" + std::to_string(v) + "\r\n";
      EXPECT_NE(out.ToText().find(line), std::string::npos) << line;
    }
  }
}

TEST(SettingsFile, TextsWithLineBreaksOrBlankEndsCannotBreakTheFile) {
  TessmarSettings s;
  s.log_file_dir = "/data/run\r\n[Converter]\r\nOutputType=2";
  s.export_dir = " /out ";
  s.converter.invalid_signal = "\"NaN\"";
  IniFile ini;
  WriteSettings(s, ini);
  IniFile again;
  again.Parse(ini.ToText());
  const TessmarSettings back = ReadSettings(again);
  EXPECT_EQ(back.log_file_dir, "/data/run");
  EXPECT_EQ(back.converter.output_type,
            OutputType::kSignals);  // no key smuggled in by the folder name
  EXPECT_EQ(back.export_dir, " /out ");
  EXPECT_EQ(back.converter.invalid_signal, "\"NaN\"");
}

TEST(SettingsFile, GpsSectionRoundTrip) {
  IniFile ini;
  ini.Parse(
      "[GPS_Output]\nSeparateTrackFile=1\nTrackFileFormat=1\nColTitle2=GpsLat\n"
      "ColExprs2=gps.lat\nColFormat2=##0.00000\n");
  const GpsOutputSettings gps = GpsSettingsOf(ReadSettings(ini));
  EXPECT_EQ(gps.separate_track_file, 1);
  EXPECT_EQ(gps.track_file_format, kGpsTrackNmea);
  EXPECT_EQ(GpsText(gps.columns[2].title), "GpsLat");
  EXPECT_EQ(GpsText(gps.columns[2].source), "gps.lat");
  TessmarSettings back;
  SetGpsSettings(gps, back);
  EXPECT_EQ(back.gps_col_format[2], "##0.00000");
  EXPECT_EQ(back.gps_track_file_format, 1);
}

TEST(SettingsFile, UnnamedConfigAndMaximisedWindowAreNotStored) {
  IniFile ini;
  ini.Parse("[MainWindow]\nLeft=40\n[Files]\nLoggerCfg=truck.clc\n");
  TessmarSettings s = ReadSettings(ini);
  s.logger_cfg = "/home/u/unnamed.clc";
  s.left = 0;
  s.write_placement = false;
  WriteSettings(s, ini);
  const TessmarSettings back = ReadSettings(ini);
  EXPECT_EQ(back.logger_cfg, "truck.clc");
  EXPECT_EQ(back.left, 40);
}

TEST(SettingsFile, SplitWidthIsNeverStoredAsMinusOne) {
  IniFile ini;
  ini.Parse("[MainWindow]\nLeft=5\nSplitX=-1\nCANdbPageIndex=2\n");
  TessmarSettings s = ReadSettings(ini);
  EXPECT_EQ(s.split_x, -1);
  WriteSettings(s, ini);
  EXPECT_EQ(ini.ToText().find("SplitX"), std::string::npos) << ini.ToText();
  EXPECT_EQ(ReadSettings(ini).split_x, -1);
  EXPECT_EQ(ReadSettings(ini).candb_page_index, 2);
  // A width of its own is stored and read back; a nonsense negative one means the design width.
  s.split_x = 312;
  WriteSettings(s, ini);
  EXPECT_EQ(ReadSettings(ini).split_x, 312);
  ini.Parse("[MainWindow]\nSplitX=-40\n");
  EXPECT_EQ(ReadSettings(ini).split_x, -1);
}

// ---- Option check ----------------------------------------------------------------------------

TEST(ConverterOptionsCheck, FormatsFixTheirSeparators) {
  ConverterOptions o;
  o.output_file_format = kFormatSemicolonCsvGerman;
  EXPECT_TRUE(CheckConverterOptions(o).accepted);
  EXPECT_EQ(ColumnSeparatorChar(o.column_separator), ';');
  EXPECT_EQ(DecimalSeparatorChar(o.decimal_separator), ',');

  o = ConverterOptions{};
  o.output_type = OutputType::kSignals;
  o.output_file_format = kFormatVectorAscii;
  o.headlines = 3;
  CheckConverterOptions(o);
  EXPECT_EQ(o.output_type, OutputType::kMessages);
  EXPECT_EQ(o.headlines, 0);
  EXPECT_EQ(o.time_column1, TimeColumnKind::kSeconds);
  EXPECT_EQ(o.time_column2, TimeColumnKind::kOff);
  EXPECT_EQ(o.invalid_signal, "");
  EXPECT_EQ(o.write_interval, "0");
}

TEST(ConverterOptionsCheck, DiademRefusesMessagesAndFixesInvalidValue) {
  ConverterOptions o;
  o.output_type = OutputType::kMessages;
  o.output_file_format = kFormatDiademInt32;
  const OptionCheckResult r = CheckConverterOptions(o);
  EXPECT_FALSE(r.accepted);
  EXPECT_EQ(r.box_text, "Cannot export a CAN MESSAGE FILE in DIAdem format yet");
  EXPECT_EQ(o.invalid_signal, "2147483646");
  o.output_type = OutputType::kSignals;
  o.output_file_format = kFormatDiademReal64;
  EXPECT_TRUE(CheckConverterOptions(o).accepted);
  EXPECT_EQ(o.invalid_signal, "9.9E+34");
}

TEST(ConverterOptionsCheck, WriteIntervalRaisedForSignals) {
  ConverterOptions o;
  o.write_interval = "0";
  const OptionCheckResult r = CheckConverterOptions(o);
  EXPECT_EQ(o.write_interval, "0.0001");
  EXPECT_NE(r.box_text.find("write-interval of 0.1 ms or more MUST be specified"),
            std::string::npos);
  o.output_type = OutputType::kMessages;
  o.write_interval = "0";
  EXPECT_TRUE(CheckConverterOptions(o).box_text.empty());
  // An interval that is no finite number counts as none: Signals get the smallest interval.
  for (const char* text : {"inf", "-inf", "nan", "1e999"}) {
    o = ConverterOptions{};
    o.write_interval = text;
    EXPECT_FALSE(CheckConverterOptions(o).box_text.empty()) << text;
    EXPECT_EQ(o.write_interval, "0.0001") << text;
  }
}

TEST(ConverterOptionsCheck, ReadWriteIntervalReplacesTinyValues) {
  MessageCapture capture;
  ConverterOptions o;
  o.write_interval = "0.00001";
  EXPECT_DOUBLE_EQ(ReadWriteInterval(o, 0), 0.01);
  EXPECT_TRUE(capture.Contains(
      "Warning: Output write interval was illegal. Changed from 1e-05 to 0.01 seconds."));
  o.write_interval = "0.00001";
  EXPECT_DOUBLE_EQ(ReadWriteInterval(o, 20), 0.02);
  o.write_interval = "0";
  EXPECT_DOUBLE_EQ(ReadWriteInterval(o, 20), 0);
}

TEST(ConverterOptionsCheck, EtasNeedsNumericInvalidValue) {
  MessageCapture capture;
  ConverterOptions o;
  o.output_file_format = kFormatEtasAscii;
  o.invalid_signal = "n/a";
  EXPECT_TRUE(CheckConverterOptions(o).invalid_value_red);
  EXPECT_TRUE(capture.Contains("Warning: ETAS 'AsciiItemFile' needs a NUMERIC 'No-Value'-dummy"));
  o.invalid_signal = "-1";
  EXPECT_FALSE(CheckConverterOptions(o).invalid_value_red);
}

// ---- Output paths ----------------------------------------------------------------------------

TEST(OutputPath, ExtensionReplacedOrAppended) {
  EXPECT_EQ(MakeOutputPath("/out", "/in/run1.cld", kFormatCsvGerman), "/out/run1.csv");
  EXPECT_EQ(MakeOutputPath("/out", "/in/run1.recording", kFormatText), "/out/run1.recording.txt");
  EXPECT_EQ(MakeOutputPath("/out", "/in/run.v1.cld", kFormatEtasAscii), "/out/run.v1.ascii");
  EXPECT_EQ(MakeOutputPath("", "/in/a.cld", kFormatVectorAscii), "/in/a.asc");
  EXPECT_EQ(ReplaceExtension("/x/out.dat", ".dia"), "/x/out.dia");
}

TEST(OutputPath, CombineFlags) {
  EXPECT_EQ(CombineFlags(false, 1, 3), 0);
  EXPECT_EQ(CombineFlags(true, 0, 3), kCombineMoreFollow);
  EXPECT_EQ(CombineFlags(true, 1, 3), kCombineAppend | kCombineMoreFollow);
  EXPECT_EQ(CombineFlags(true, 2, 3), kCombineAppend);
  EXPECT_EQ(CombineFlags(true, 0, 1), 0);
}

TEST(OutputPath, BatchOutputNameChoosesFormat) {
  ConverterOptions o;
  o.output_type = OutputType::kMessages;
  ASSERT_TRUE(ApplyBatchOutputName("x.csv", o));
  EXPECT_EQ(o.output_file_format, kFormatCsvInternational);
  EXPECT_EQ(o.output_type, OutputType::kSignals);
  ASSERT_TRUE(ApplyBatchOutputName("x.ASC", o));
  EXPECT_EQ(o.output_file_format, kFormatVectorAscii);
  EXPECT_EQ(o.output_type, OutputType::kMessages);
  o.output_file_format = kFormatDiademReal64;
  ASSERT_TRUE(ApplyBatchOutputName("x.dat", o));
  EXPECT_EQ(o.output_file_format, kFormatDiademReal64);
  ASSERT_TRUE(ApplyBatchOutputName("x.txt", o));
  EXPECT_EQ(o.output_file_format, kFormatText);
  EXPECT_FALSE(ApplyBatchOutputName("x.mdf", o));
  // ".dat" keeps a selected Vector MDF, and makes DIAdem of anything else.
  o.output_file_format = kFormatVectorMdf;
  ASSERT_TRUE(ApplyBatchOutputName("x.dat", o));
  EXPECT_EQ(o.output_file_format, kFormatVectorMdf);
  o.output_file_format = kFormatStiegeleMdf;
  ASSERT_TRUE(ApplyBatchOutputName("x.dat", o));
  EXPECT_EQ(o.output_file_format, kFormatDiademAscii);
  // ".ascii" keeps a selected ETAS ASCII and its output type; otherwise it is Vector ASCII.
  o.output_file_format = kFormatEtasAscii;
  o.output_type = OutputType::kSignals;
  ASSERT_TRUE(ApplyBatchOutputName("x.ASCII", o));
  EXPECT_EQ(o.output_file_format, kFormatEtasAscii);
  EXPECT_EQ(o.output_type, OutputType::kSignals);
  ASSERT_TRUE(ApplyBatchOutputName("x.asc", o));
  EXPECT_EQ(o.output_file_format, kFormatVectorAscii);
  ASSERT_TRUE(ApplyBatchOutputName("x.ascii", o));
  EXPECT_EQ(o.output_file_format, kFormatVectorAscii);
  EXPECT_EQ(o.output_type, OutputType::kMessages);
}

}  // namespace
}  // namespace tessmar

namespace tessmar {
namespace {

TEST(SettingsFile, LocationBesideProgramOrXdg) {
  const auto base =
      std::filesystem::temp_directory_path() / ("tessmar_settings_" + std::to_string(::getpid()));
  std::filesystem::create_directories(base / "bin");
  EXPECT_EQ(DefaultSettingsPath(base / "bin"), base / "bin" / "Tessmar.ini");
  ::setenv("XDG_CONFIG_HOME", (base / "xdg").c_str(), 1);
  if (::geteuid() != 0) {  // root may write anywhere
    std::filesystem::permissions(
        base / "bin", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_EQ(DefaultSettingsPath(base / "bin"), base / "xdg" / "tessmar" / "Tessmar.ini");
    std::filesystem::permissions(base / "bin", std::filesystem::perms::owner_all);
  }
  EXPECT_EQ(DefaultSettingsPath(""), base / "xdg" / "tessmar" / "Tessmar.ini");
  // Saving creates the folder.
  TessmarSettings s;
  s.converter.output_file_format = kFormatSemicolonCsvGerman;
  ASSERT_TRUE(SaveSettingsFile(s, DefaultSettingsPath("")));
  bool found = false;
  EXPECT_EQ(LoadSettingsFile(DefaultSettingsPath(""), &found).converter.output_file_format, 11);
  EXPECT_TRUE(found);
  ::unsetenv("XDG_CONFIG_HOME");
  std::filesystem::remove_all(base);
}

}  // namespace
}  // namespace tessmar
