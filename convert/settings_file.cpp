#include "convert/settings_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/text_util.h"

namespace tessmar {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

std::string Cut(std::string s, std::size_t max) {
  if (s.size() > max) s.resize(max);
  return s;
}

}  // namespace

std::string DefaultTopographicMapData() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (data_home != nullptr && data_home[0] == '/') {
    base = data_home;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr && home[0] != '\0' ? home : ".") + "/.local/share";
  }
  return base + "/tessmar/gtopo30";
}

// ---- IniFile ---------------------------------------------------------------------------------

IniFile::Section* IniFile::FindSection(std::string_view name) {
  for (Section& s : sections_) {
    if (EqualsNoCase(s.name, name)) return &s;
  }
  return nullptr;
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
  for (const Section& s : sections_) {
    if (EqualsNoCase(s.name, name)) return &s;
  }
  return nullptr;
}

void IniFile::Parse(std::string_view text) {
  sections_.clear();
  Section* current = nullptr;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    line = Trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      std::size_t close = line.find(']');
      std::string_view name =
          Trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
      current = FindSection(name);
      if (!current) {
        sections_.push_back(Section{std::string(name), {}});
        current = &sections_.back();
      }
      continue;
    }
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || !current) continue;
    std::string_view key = Trim(line.substr(0, eq));
    std::string_view value = Trim(line.substr(eq + 1));
    // A value enclosed in a matching pair of double quotes is read without them.
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    bool replaced = false;
    for (Entry& e : current->entries) {
      if (EqualsNoCase(e.key, key)) {  // the first occurrence is the one that counts
        replaced = true;
        break;
      }
    }
    if (!replaced) current->entries.push_back(Entry{std::string(key), std::string(value)});
  }
}

bool IniFile::Load(const std::filesystem::path& path) {
  sections_.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  Parse(buffer.str());
  return true;
}

namespace {

// A name or value as one line of the file: cut at the first line end or other control character
// (TAB excepted), so that a text from a control can never add lines, keys or sections.
std::string_view OneLine(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 && c != '\t') return text.substr(0, i);
  }
  return text;
}

// Appends a value so that reading gives it back: a value with blanks at either end, or one
// enclosed in double quotes itself, is written inside a pair of double quotes (reading removes
// the surrounding blanks and one pair of quotes).
void AppendValue(std::string& out, std::string_view value) {
  value = OneLine(value);
  const bool blank_ends = !value.empty() && (value.front() == ' ' || value.front() == '\t' ||
                                             value.back() == ' ' || value.back() == '\t');
  const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
  if (blank_ends || quoted) {
    out += '"';
    out += value;
    out += '"';
  } else {
    out += value;
  }
}

}  // namespace

std::string IniFile::ToText() const {
  std::string out;
  for (const Section& s : sections_) {
    out += '[';
    out += OneLine(s.name);
    out += "]\r\n";
    for (const Entry& e : s.entries) {
      out += OneLine(e.key);
      out += '=';
      AppendValue(out, e.value);
      out += "\r\n";
    }
    out += "\r\n";
  }
  return out;
}

bool IniFile::Save(const std::filesystem::path& path, std::string* error) const {
  const std::string text = ToText();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  if (!out) {
    if (error) *error = "write error";
    return false;
  }
  return true;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (!s) return std::nullopt;
  for (const Entry& e : s->entries) {
    if (EqualsNoCase(e.key, key)) return e.value;
  }
  return std::nullopt;
}

long long IniFile::GetInt(std::string_view section, std::string_view key, long long def) const {
  std::optional<std::string> v = Get(section, key);
  if (!v || v->empty()) return def;
  const char* p = v->c_str();
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  int base = 10;
  if (*p == '$') {
    base = 16;
    ++p;
  } else if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  }
  char* end = nullptr;
  errno = 0;
  unsigned long long n = std::strtoull(p, &end, base);
  if (end == p || errno == ERANGE || n > 0x7FFFFFFFFFFFFFFFull) return def;
  long long value = static_cast<long long>(n);
  return negative ? -value : value;
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view def) const {
  std::optional<std::string> v = Get(section, key);
  return v ? *v : std::string(def);
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  Section* s = FindSection(section);
  if (!s) {
    sections_.push_back(Section{std::string(section), {}});
    s = &sections_.back();
  }
  for (Entry& e : s->entries) {
    if (EqualsNoCase(e.key, key)) {
      e.value = std::string(value);
      return;
    }
  }
  s->entries.push_back(Entry{std::string(key), std::string(value)});
}

void IniFile::SetInt(std::string_view section, std::string_view key, long long value) {
  Set(section, key, std::to_string(value));
}

void IniFile::Remove(std::string_view section, std::string_view key) {
  Section* s = FindSection(section);
  if (!s) return;
  std::erase_if(s->entries, [key](const Entry& e) { return EqualsNoCase(e.key, key); });
}

// ---- Settings --------------------------------------------------------------------------------

namespace {

constexpr const char* kMain = "MainWindow";
constexpr const char* kConv = "Converter";
constexpr const char* kGps = "GPS_Output";
constexpr const char* kRecent = "MostRecentCANdbFiles";

int ReadInt(const IniFile& ini, const char* section, const char* key, int def) {
  long long v = ini.GetInt(section, key, def);
  if (v < -2147483647LL - 1 || v > 2147483647LL) return def;
  return static_cast<int>(v);
}

// An index into a list of count entries; out of range gives fallback.
int ReadIndex(const IniFile& ini, const char* section, const char* key, int def, int count,
              int fallback) {
  int v = ReadInt(ini, section, key, def);
  return (v < 0 || v >= count) ? fallback : v;
}

bool ReadFlag(const IniFile& ini, const char* section, const char* key, bool def) {
  return ReadInt(ini, section, key, def ? 1 : 0) != 0;
}

std::string Numbered(const char* stem, int n) { return stem + std::to_string(n); }

bool IsUnnamedConfig(const std::string& name) {
  std::filesystem::path p(name);
  std::string file = p.filename().string();
  // Windows names use backslashes too.
  std::size_t slash = file.find_last_of("\\/");
  if (slash != std::string::npos) file = file.substr(slash + 1);
  return EqualsNoCase(file, "unnamed.clc");
}

}  // namespace

TessmarSettings ReadSettings(const IniFile& ini) {
  TessmarSettings s;
  s.left = ReadInt(ini, kMain, "Left", s.left);
  s.top = ReadInt(ini, kMain, "Top", s.top);
  s.width = ReadInt(ini, kMain, "Width", s.width);
  s.height = ReadInt(ini, kMain, "Height", s.height);
  s.split_x = ReadInt(ini, kMain, "SplitX", s.split_x);
  if (s.split_x < 0) s.split_x = -1;  // no width: the panel's design width
  s.candb_page_index = ReadInt(ini, kMain, "CANdbPageIndex", 0);
  s.show_message_layout = ReadFlag(ini, kMain, "ShowMessageLayout", false);
  s.launch_external_viewer = ReadFlag(ini, kMain, "LaunchExternalViewer", false);
  s.verbose_display = ReadFlag(ini, kMain, "VerboseDisplay", false);
  s.language_test_mode = ReadInt(ini, kMain, "LanguageTestMode", 0);
  s.language = ReadInt(ini, kMain, "Language", 1);

  s.scrambled_password = ini.GetString("Passwords", "LoggerCfg", "");
  s.logger_device_family = ReadInt(ini, "DeviceInfo", "LoggerDeviceFamily", -1);

  s.log_file_dir = ini.GetString("Files", "LogFileDir", "");
  s.logger_cfg = ini.GetString("Files", "LoggerCfg", "logger.clc");
  s.can_db_dir = ini.GetString("Files", "CanDbDir", "");
  s.export_dir = ini.GetString("Files", "ExportDir", "");
  s.external_data_viewer = ini.GetString("Files", "ExternalDataViewer", "");
  s.topographic_map_data = ini.GetString("Files", "TopograhicMapData", "");
  if (s.topographic_map_data.empty() || EqualsNoCase(s.topographic_map_data, "c:\\gtopo30")) {
    s.topographic_map_data = DefaultTopographicMapData();
  }

  for (int i = 0; i < kRecentCanDbCount; ++i) {
    s.recent_candb_names[i] = ini.GetString(kRecent, Numbered("Name", i), "");
  }
  for (int i = 0; i < kRecentCanDbCount; ++i) {
    s.recent_candb_buses[i] = ReadInt(ini, kRecent, Numbered("BusNr", i).c_str(), 0);
  }

  ConverterOptions& c = s.converter;
  c.output_type = OutputTypeFromIndex(ReadIndex(ini, kConv, "OutputType", 1, kOutputTypeCount, 0));
  c.output_file_format = ReadInt(ini, kConv, "OutputFileFormat", 0);
  c.headlines = ReadIndex(ini, kConv, "OutputFileHeadlines", 1, 4, 1);
  c.column_separator = ColumnSeparatorFromIndex(
      ReadIndex(ini, kConv, "OutputColumnSeparator", 0, kColumnSeparatorCount, 0));
  c.decimal_separator = DecimalSeparatorFromIndex(
      ReadIndex(ini, kConv, "DecimalSeparator", 0, kDecimalSeparatorCount, 0));
  // Without a choice of its own (no file, or no key) the first time column is seconds: a first
  // conversion should not leave its rows without time stamps.
  c.time_column1 = TimeColumnKindFromIndex(ReadIndex(
      ini, kConv, "TimeColumn1", ChoiceIndex(TimeColumnKind::kSeconds), kTimeColumnKindCount, 0));
  c.time_column2 =
      TimeColumnKindFromIndex(ReadIndex(ini, kConv, "TimeColumn2", 0, kTimeColumnKindCount, 0));
  c.write_interval = ini.GetString(kConv, "WriteInterval", "0.010");
  c.invalid_signal =
      Cut(ini.GetString(kConv, "InvalidSignal", "-99999999"), kMaxInvalidSignalLength);
  c.scaled_values = ReadFlag(ini, kConv, "ScaledValues", true);
  c.ignore_logged_sigdefs = ReadFlag(ini, kConv, "IgnoreLoggedSigDefs", false);
  c.combine_output = ReadFlag(ini, kConv, "CombimeOutputIntoOneFile", false);
  c.skip_until_all_valid = ReadFlag(ini, kConv, "SkipUntilAllChannelsValid", false);
  c.graph_preview = ReadFlag(ini, kConv, "GraphPreview", false);
  c.conditional_breakpoint = ini.GetString(kConv, "ConditionalBreakpointAtDateAndTime", "");
  c.channels = ini.GetString(kConv, "Channels", "");
  c.start_time = ini.GetString(kConv, "StartTime", "");
  c.stop_time = ini.GetString(kConv, "StopTime", "");

  s.gps_separate_track_file = ReadInt(ini, kGps, "SeparateTrackFile", 0);
  s.gps_merge_into_main_file = ReadInt(ini, kGps, "MergeIntoMainFile", 0);
  s.gps_show_preview = ReadInt(ini, kGps, "ShowGpsPreview", 1);
  s.gps_track_file_format = ReadInt(ini, kGps, "TrackFileFormat", 0);
  s.gps_columns_added_where = ReadInt(ini, kGps, "ColumnsAddedWhere", 0);
  for (int i = 0; i < kGpsColumnDefCount; ++i) {
    s.gps_col_title[i] =
        Cut(ini.GetString(kGps, Numbered("ColTitle", i), ""), kGpsColumnTextLength);
    s.gps_col_unit[i] = Cut(ini.GetString(kGps, Numbered("ColUnit", i), ""), kGpsColumnTextLength);
    s.gps_col_format[i] =
        Cut(ini.GetString(kGps, Numbered("ColFormat", i), ""), kGpsColumnTextLength);
    s.gps_col_exprs[i] =
        Cut(ini.GetString(kGps, Numbered("ColExprs", i), ""), kGpsColumnTextLength);
  }
  return s;
}

void WriteSettings(const TessmarSettings& s, IniFile& ini) {
  if (s.write_placement) {
    ini.SetInt(kMain, "Left", s.left);
    ini.SetInt(kMain, "Top", s.top);
    ini.SetInt(kMain, "Width", s.width);
    ini.SetInt(kMain, "Height", s.height);
    // Without a width of its own the panel has its design width, which a missing key gives
    // back; a width is never stored as -1.
    if (s.split_x >= 0) {
      ini.SetInt(kMain, "SplitX", s.split_x);
    } else {
      ini.Remove(kMain, "SplitX");
    }
  }
  ini.SetInt(kMain, "CANdbPageIndex", s.candb_page_index);
  ini.SetInt(kMain, "ShowMessageLayout", s.show_message_layout);
  ini.SetInt(kMain, "LaunchExternalViewer", s.launch_external_viewer);
  ini.SetInt(kMain, "VerboseDisplay", s.verbose_display);
  ini.SetInt(kMain, "LanguageTestMode", s.language_test_mode);
  ini.SetInt(kMain, "Language", s.language);

  ini.Set("Passwords", "LoggerCfg", s.scrambled_password);
  ini.SetInt("DeviceInfo", "LoggerDeviceFamily", s.logger_device_family);

  ini.Set("Files", "LogFileDir", s.log_file_dir);
  if (!IsUnnamedConfig(s.logger_cfg)) ini.Set("Files", "LoggerCfg", s.logger_cfg);
  ini.Set("Files", "CanDbDir", s.can_db_dir);
  ini.Set("Files", "ExportDir", s.export_dir);
  ini.Set("Files", "ExternalDataViewer", s.external_data_viewer);
  ini.Set("Files", "TopograhicMapData", s.topographic_map_data);

  for (int i = 0; i < kRecentCanDbCount; ++i) {
    ini.Set(kRecent, Numbered("Name", i), s.recent_candb_names[i]);
  }
  for (int i = 0; i < kRecentCanDbCount; ++i) {
    ini.SetInt(kRecent, Numbered("BusNr", i), s.recent_candb_buses[i]);
  }

  const ConverterOptions& c = s.converter;
  ini.SetInt(kConv, "OutputType", ChoiceIndex(c.output_type));
  ini.SetInt(kConv, "OutputFileFormat", c.output_file_format);
  ini.SetInt(kConv, "OutputFileHeadlines", c.headlines);
  ini.SetInt(kConv, "OutputColumnSeparator", ChoiceIndex(c.column_separator));
  ini.SetInt(kConv, "DecimalSeparator", ChoiceIndex(c.decimal_separator));
  ini.SetInt(kConv, "TimeColumn1", ChoiceIndex(c.time_column1));
  ini.SetInt(kConv, "TimeColumn2", ChoiceIndex(c.time_column2));
  ini.Set(kConv, "WriteInterval", c.write_interval);
  ini.Set(kConv, "InvalidSignal", Cut(c.invalid_signal, kMaxInvalidSignalLength));
  ini.SetInt(kConv, "ScaledValues", c.scaled_values);
  ini.SetInt(kConv, "IgnoreLoggedSigDefs", c.ignore_logged_sigdefs);
  ini.SetInt(kConv, "CombimeOutputIntoOneFile", c.combine_output);
  ini.SetInt(kConv, "SkipUntilAllChannelsValid", c.skip_until_all_valid);
  ini.SetInt(kConv, "GraphPreview", c.graph_preview);
  ini.Set(kConv, "ConditionalBreakpointAtDateAndTime", c.conditional_breakpoint);
  ini.Set(kConv, "Channels", c.channels);
  ini.Set(kConv, "StartTime", c.start_time);
  ini.Set(kConv, "StopTime", c.stop_time);

  ini.SetInt(kGps, "SeparateTrackFile", s.gps_separate_track_file);
  ini.SetInt(kGps, "MergeIntoMainFile", s.gps_merge_into_main_file);
  ini.SetInt(kGps, "ShowGpsPreview", s.gps_show_preview);
  ini.SetInt(kGps, "TrackFileFormat", s.gps_track_file_format);
  ini.SetInt(kGps, "ColumnsAddedWhere", s.gps_columns_added_where);
  for (int i = 0; i < kGpsColumnDefCount; ++i) {
    ini.Set(kGps, Numbered("ColTitle", i), Cut(s.gps_col_title[i], kGpsColumnTextLength));
    ini.Set(kGps, Numbered("ColUnit", i), Cut(s.gps_col_unit[i], kGpsColumnTextLength));
    ini.Set(kGps, Numbered("ColFormat", i), Cut(s.gps_col_format[i], kGpsColumnTextLength));
    ini.Set(kGps, Numbered("ColExprs", i), Cut(s.gps_col_exprs[i], kGpsColumnTextLength));
  }
}

GpsOutputSettings GpsSettingsOf(const TessmarSettings& s) {
  GpsOutputSettings gps;
  gps.separate_track_file = s.gps_separate_track_file;
  gps.merge_into_main_file = s.gps_merge_into_main_file;
  gps.show_preview = s.gps_show_preview;
  gps.track_file_format = s.gps_track_file_format;
  gps.columns_added_where = s.gps_columns_added_where;
  for (std::size_t i = 0; i < gps.columns.size() && i < s.gps_col_title.size(); ++i) {
    SetGpsText(gps.columns[i].title, s.gps_col_title[i]);
    SetGpsText(gps.columns[i].unit, s.gps_col_unit[i]);
    SetGpsText(gps.columns[i].format, s.gps_col_format[i]);
    SetGpsText(gps.columns[i].source, s.gps_col_exprs[i]);
  }
  return gps;
}

void SetGpsSettings(const GpsOutputSettings& gps, TessmarSettings& s) {
  s.gps_separate_track_file = gps.separate_track_file;
  s.gps_merge_into_main_file = gps.merge_into_main_file;
  s.gps_show_preview = gps.show_preview;
  s.gps_track_file_format = gps.track_file_format;
  s.gps_columns_added_where = gps.columns_added_where;
  for (std::size_t i = 0; i < gps.columns.size() && i < s.gps_col_title.size(); ++i) {
    s.gps_col_title[i] = std::string(GpsText(gps.columns[i].title));
    s.gps_col_unit[i] = std::string(GpsText(gps.columns[i].unit));
    s.gps_col_format[i] = std::string(GpsText(gps.columns[i].format));
    s.gps_col_exprs[i] = std::string(GpsText(gps.columns[i].source));
  }
}

TessmarSettings LoadSettingsFile(const std::filesystem::path& path, bool* found) {
  IniFile ini;
  bool ok = ini.Load(path);
  if (found) *found = ok;
  return ReadSettings(ini);
}

bool SaveSettingsFile(const TessmarSettings& settings, const std::filesystem::path& path,
                      std::string* error) {
  IniFile ini;
  ini.Load(path);  // keep keys stored by other parts of the program
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  WriteSettings(settings, ini);
  return ini.Save(path, error);
}

std::filesystem::path DefaultSettingsPath(const std::filesystem::path& program_dir) {
  if (!program_dir.empty()) {
    const std::filesystem::path beside = program_dir / kSettingsFileName;
    std::error_code ec;
    const bool exists = std::filesystem::exists(beside, ec);
    if ((exists && ::access(beside.c_str(), W_OK) == 0) ||
        (!exists && ::access(program_dir.c_str(), W_OK) == 0)) {
      return beside;
    }
  }
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::filesystem::path(home) / ".config";
  } else {
    base = std::filesystem::temp_directory_path();
  }
  return base / "tessmar" / kSettingsFileName;
}

}  // namespace tessmar
