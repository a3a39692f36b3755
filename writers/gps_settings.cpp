#include "writers/gps_settings.h"

#include <charconv>
#include <cstring>

namespace tessmar {

void SetGpsText(char (&field)[kGpsTextFieldSize], std::string_view text) {
  std::size_t n = text.size() < kGpsTextMaxChars ? text.size() : kGpsTextMaxChars;
  std::memset(field, 0, kGpsTextFieldSize);
  std::memcpy(field, text.data(), n);
}

std::string_view GpsText(const char (&field)[kGpsTextFieldSize]) {
  std::size_t n = 0;
  while (n < kGpsTextFieldSize && field[n] != '\0') ++n;
  return std::string_view(field, n);
}

int CountDefinedGpsColumns(const GpsOutputSettings& settings) {
  int count = 0;
  for (const GpsColumnDef& column : settings.columns) {
    if (column.defined()) ++count;
  }
  return count;
}

void ClearGpsSettings(GpsOutputSettings& settings) { settings = GpsOutputSettings{}; }

namespace {

struct PresetColumn {
  const char* title;
  const char* unit;
  const char* format;
  const char* source;
};

constexpr PresetColumn kDate{"GpsDate", "YYYY-MM-DD", "YYYY-MM-DD", "gps.time"};
constexpr PresetColumn kTime{"GpsTime", "hh:mm:ss", "hh:mm:ss", "gps.time"};
constexpr PresetColumn kDateAndTime{"GpsDateAndTime", "YYMMDDhhmmss", "YYMMDDhhmmss", "gps.time"};
constexpr PresetColumn kLon{"GpsLon", "deg", "##0.00000", "gps.lon"};
constexpr PresetColumn kLat{"GpsLat", "deg", "##0.00000", "gps.lat"};
constexpr PresetColumn kSpeed{"GpsSpeed", "km/h", "##0.0", "gps.speed"};
constexpr PresetColumn kHeight{"GpsHeight", "masl", "###0.0", "gps.hasl"};
constexpr PresetColumn kHdop{"GpsHDOP", "", "##0.0", "gps.hdop"};
constexpr PresetColumn kNrSats{"GpsNrSats", "", "#0", "gps.nsat"};
constexpr PresetColumn kEmpty{"", "", "", ""};

struct Preset {
  const char* name;
  int separate_track_file, merge_into_main_file, show_preview, track_file_format,
      columns_added_where;
  PresetColumn columns[kGpsColumns];
};

// clang-format off
constexpr Preset kPresets[kGpsPresetCount] = {
    {"Author's favorite (default)",
     1, 1, 1, kGpsTrackNmea, kGpsColumnsAfter,
     {kDate, kTime, kLon, kLat, kSpeed, kHeight, kHdop, kNrSats}},
    {"Simple text: only Date + Time + Position + Height + Speed",
     1, 0, 1, kGpsTrackNmea, kGpsColumnsAfter,
     {kDate, kTime, kLon, kLat, kHeight, kSpeed, kEmpty, kEmpty}},
    {"Optimized for Stiegele MDF: Date + Time combined",
     0, 1, 1, kGpsTrackNmea, kGpsColumnsAfter,
     {kDateAndTime, kLon, kLat, kSpeed, kHeight, kHdop, kNrSats, kEmpty}},
};
// clang-format on

std::string IndexedKey(const char* stem, int column) {
  return std::string(stem) + std::to_string(column);
}

std::optional<std::int32_t> ParseInt(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::string_view s = *text;
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  std::int32_t value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return value;
}

}  // namespace

const char* GpsPresetName(int preset) {
  if (preset < 0 || preset >= kGpsPresetCount) return nullptr;
  return kPresets[preset].name;
}

bool LoadGpsPreset(int preset, GpsOutputSettings& settings) {
  if (preset < 0 || preset >= kGpsPresetCount) return false;
  const Preset& p = kPresets[preset];
  GpsOutputSettings result;
  result.separate_track_file = p.separate_track_file;
  result.merge_into_main_file = p.merge_into_main_file;
  result.show_preview = p.show_preview;
  result.track_file_format = p.track_file_format;
  result.columns_added_where = p.columns_added_where;
  for (int k = 0; k < kGpsColumns; ++k) {
    SetGpsText(result.columns[k].title, p.columns[k].title);
    SetGpsText(result.columns[k].unit, p.columns[k].unit);
    SetGpsText(result.columns[k].format, p.columns[k].format);
    SetGpsText(result.columns[k].source, p.columns[k].source);
  }
  settings = result;
  return true;
}

bool ApplyGpsPresetOption(std::string_view value, GpsOutputSettings& settings) {
  if (value.size() != 1 || value[0] < '0' || value[0] > '2') return false;
  return LoadGpsPreset(value[0] - '0', settings);
}

bool ApplyGpsTrackOption(std::string_view value, GpsOutputSettings& settings) {
  if (value == "off") {
    settings.separate_track_file = 0;
  } else if (value == "nmea" || value == "text") {
    settings.separate_track_file = 1;
    settings.track_file_format = value == "nmea" ? kGpsTrackNmea : kGpsTrackText;
  } else {
    return false;
  }
  return true;
}

bool ApplyGpsColumnsOption(std::string_view value, GpsOutputSettings& settings) {
  if (value == "off") {
    settings.merge_into_main_file = 0;
  } else if (value == "after" || value == "before") {
    settings.merge_into_main_file = 1;
    settings.columns_added_where = value == "after" ? kGpsColumnsAfter : kGpsColumnsBefore;
  } else {
    return false;
  }
  return true;
}

std::string GpsColumnTitleKey(int column) { return IndexedKey("ColTitle", column); }
std::string GpsColumnUnitKey(int column) { return IndexedKey("ColUnit", column); }
std::string GpsColumnFormatKey(int column) { return IndexedKey("ColFormat", column); }
std::string GpsColumnExprsKey(int column) { return IndexedKey("ColExprs", column); }

void ReadGpsSettings(const SettingsLookup& lookup, GpsOutputSettings& settings) {
  ClearGpsSettings(settings);
  settings.show_preview = 1;
  auto read_int = [&](const char* key, std::int32_t& field) {
    if (auto value = ParseInt(lookup(key))) field = *value;
  };
  read_int("SeparateTrackFile", settings.separate_track_file);
  read_int("MergeIntoMainFile", settings.merge_into_main_file);
  read_int("ShowGpsPreview", settings.show_preview);
  read_int("TrackFileFormat", settings.track_file_format);
  read_int("ColumnsAddedWhere", settings.columns_added_where);
  for (int k = 0; k < kGpsColumns; ++k) {
    GpsColumnDef& column = settings.columns[k];
    if (auto v = lookup(GpsColumnTitleKey(k))) SetGpsText(column.title, *v);
    if (auto v = lookup(GpsColumnUnitKey(k))) SetGpsText(column.unit, *v);
    if (auto v = lookup(GpsColumnFormatKey(k))) SetGpsText(column.format, *v);
    if (auto v = lookup(GpsColumnExprsKey(k))) SetGpsText(column.source, *v);
  }
}

void WriteGpsSettings(const GpsOutputSettings& settings, const SettingsStore& store) {
  store("SeparateTrackFile", std::to_string(settings.separate_track_file));
  store("MergeIntoMainFile", std::to_string(settings.merge_into_main_file));
  store("ShowGpsPreview", std::to_string(settings.show_preview));
  store("TrackFileFormat", std::to_string(settings.track_file_format));
  store("ColumnsAddedWhere", std::to_string(settings.columns_added_where));
  for (int k = 0; k < kGpsColumns; ++k) {
    const GpsColumnDef& column = settings.columns[k];
    store(GpsColumnTitleKey(k), GpsText(column.title));
    store(GpsColumnUnitKey(k), GpsText(column.unit));
    store(GpsColumnFormatKey(k), GpsText(column.format));
    store(GpsColumnExprsKey(k), GpsText(column.source));
  }
}

}  // namespace tessmar
