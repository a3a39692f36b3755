#pragma once
// GPS output settings: whether and how GPS data recorded with the CAN traffic is written (track
// file, extra columns of the main output) and the eight user-defined GPS columns, each a small
// expression over GPS variables. Saved in the settings file section "GPS_Output".

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tessmar {

inline constexpr int kGpsColumns = 8;
inline constexpr std::size_t kGpsTextFieldSize = 44;  // bytes of each column text
inline constexpr std::size_t kGpsTextMaxChars = 40;   // characters kept when a text is set

// Track file formats ("TrackFileFormat").
inline constexpr int kGpsTrackText = 0;  // "Text, proprietary"
inline constexpr int kGpsTrackNmea = 1;  // "NMEA strings"
// Where the GPS columns go in the main output ("ColumnsAddedWhere").
inline constexpr int kGpsColumnsAfter = 0;   // "after the other data columns"
inline constexpr int kGpsColumnsBefore = 1;  // "before the other data columns"

inline constexpr const char* kGpsTrackFormatNames[2] = {"Text, proprietary", "NMEA strings"};
inline constexpr const char* kGpsColumnsWhereNames[2] = {"after the other data columns",
                                                         "before the other data columns"};

// One GPS column: four NUL-terminated texts.
struct GpsColumnDef {
  char title[kGpsTextFieldSize] = {};
  char unit[kGpsTextFieldSize] = {};
  char format[kGpsTextFieldSize] = {};
  char source[kGpsTextFieldSize] = {};  // the contents expression, e.g. "gps.lat"

  // A column is defined (gets an output column) when its title begins with a character above
  // the blank; the comparison is on signed 8-bit characters, so a byte of 128 or more does not
  // count.
  bool defined() const { return static_cast<signed char>(title[0]) > 32; }
  // A column is in use (shown on the GPS page) when its title or its expression begins with a
  // character above the blank.
  bool in_use() const { return defined() || static_cast<signed char>(source[0]) > 32; }
  friend bool operator==(const GpsColumnDef&, const GpsColumnDef&) = default;
};

struct GpsOutputSettings {
  std::int32_t separate_track_file = 0;   // "SeparateTrackFile"
  std::int32_t merge_into_main_file = 0;  // "MergeIntoMainFile"
  std::int32_t show_preview = 0;          // "ShowGpsPreview"
  std::int32_t track_file_format = 0;     // "TrackFileFormat": kGpsTrackText / kGpsTrackNmea
  std::int32_t columns_added_where = 0;   // "ColumnsAddedWhere": kGpsColumnsAfter / Before
  std::array<GpsColumnDef, kGpsColumns> columns{};

  friend bool operator==(const GpsOutputSettings&, const GpsOutputSettings&) = default;
};

// Sets one column text, cut silently to 40 characters.
void SetGpsText(char (&field)[kGpsTextFieldSize], std::string_view text);
std::string_view GpsText(const char (&field)[kGpsTextFieldSize]);

// Number of defined columns among the eight.
int CountDefinedGpsColumns(const GpsOutputSettings& settings);

// All fields 0 and all texts empty.
void ClearGpsSettings(GpsOutputSettings& settings);

// The presets offered on the GPS page.
inline constexpr int kGpsPresetCount = 3;
// "Author's favorite (default)", ...; nullptr for an unknown preset.
const char* GpsPresetName(int preset);
// Replaces the whole record by preset 0, 1 or 2; false (record unchanged) for any other number.
bool LoadGpsPreset(int preset, GpsOutputSettings& settings);

// ---- Command-line options ---------------------------------------------------------------------
// "--gps-preset 0|1|2" replaces the whole record (apply it before the other two);
// "--gps-track off|nmea|text" sets SeparateTrackFile and TrackFileFormat;
// "--gps-columns off|after|before" sets MergeIntoMainFile and ColumnsAddedWhere.
// Each returns false (record unchanged) for a value it does not know.
bool ApplyGpsPresetOption(std::string_view value, GpsOutputSettings& settings);
bool ApplyGpsTrackOption(std::string_view value, GpsOutputSettings& settings);
bool ApplyGpsColumnsOption(std::string_view value, GpsOutputSettings& settings);

// ---- Settings file section "GPS_Output" -------------------------------------------------------

inline constexpr const char* kGpsSettingsSection = "GPS_Output";

// Key names of the column texts: "ColTitle0".."ColTitle7", "ColUnit%d", "ColFormat%d",
// "ColExprs%d".
std::string GpsColumnTitleKey(int column);
std::string GpsColumnUnitKey(int column);
std::string GpsColumnFormatKey(int column);
std::string GpsColumnExprsKey(int column);

// Reads the section through a lookup that returns the text of a key, or nothing when the key is
// absent. The record is cleared first; missing keys keep their defaults ("ShowGpsPreview" 1, all
// else 0 or empty). Integers that do not read as numbers count as missing.
using SettingsLookup = std::function<std::optional<std::string>(std::string_view key)>;
void ReadGpsSettings(const SettingsLookup& lookup, GpsOutputSettings& settings);

// Writes every key of the section, in the order of the settings file, through store(key, text).
using SettingsStore = std::function<void(std::string_view key, std::string_view value)>;
void WriteGpsSettings(const GpsOutputSettings& settings, const SettingsStore& store);

}  // namespace tessmar
