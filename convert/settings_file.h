#pragma once
// The program's own settings file "Tessmar.ini": an INI file (sections, key=value) that carries
// the user's choices from one run to the next. Qt-free: the desktop program and tessmar-cli both
// read and write it through this model.
//
// Keys are read and written in a fixed order (the order of the members below). A missing file or
// key gives the default; values out of range for their lists are corrected as noted. Keys this
// model does not know (other parts of the program may store their own) are kept when the file is
// written back.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/converter_options.h"
#include "writers/gps_settings.h"

namespace tessmar {

// A small INI file: ordered sections of ordered key=value lines. Section and key names compare
// ignoring case, as the Windows profile functions do. Lines end in CR LF when written.
class IniFile {
 public:
  // Reads a file; false when it cannot be opened (the object is then empty).
  bool Load(const std::filesystem::path& path);
  // Parses INI text.
  void Parse(std::string_view text);
  // Writes the whole file; false with the reason in *error when it fails.
  bool Save(const std::filesystem::path& path, std::string* error = nullptr) const;
  std::string ToText() const;

  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  // Integer value (decimal, optional sign, "0x"/"$" hexadecimal); def when missing or unreadable.
  long long GetInt(std::string_view section, std::string_view key, long long def) const;
  std::string GetString(std::string_view section, std::string_view key, std::string_view def) const;
  void Set(std::string_view section, std::string_view key, std::string_view value);
  void SetInt(std::string_view section, std::string_view key, long long value);
  // Removes a key (nothing happens when it is not there).
  void Remove(std::string_view section, std::string_view key);

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;
  std::vector<Section> sections_;
};

inline constexpr int kRecentCanDbCount = 8;
inline constexpr int kGpsColumnDefCount = 8;
inline constexpr std::size_t kGpsColumnTextLength = 40;

// Default folder of the topography tiles: $XDG_DATA_HOME/tessmar/gtopo30, else
// $HOME/.local/share/tessmar/gtopo30.
std::string DefaultTopographicMapData();

struct TessmarSettings {
  // [MainWindow]. Placement values of -1 mean "the window's design value".
  int left = -1, top = -1, width = -1, height = -1;
  int split_x = -1;  // width of the right-hand panel of the "CANdb" page; -1 = design width
  int candb_page_index = 0;
  bool show_message_layout = false;
  bool launch_external_viewer = false;
  bool verbose_display = false;
  int language_test_mode = 0;
  int language = 1;
  // [Passwords] LoggerCfg: kept scrambled exactly as stored; the desktop unscrambles it.
  std::string scrambled_password;
  // [DeviceInfo]
  int logger_device_family = -1;  // -1 = none chosen yet
  // [Files]
  std::string log_file_dir;
  std::string logger_cfg = "logger.clc";
  std::string can_db_dir;
  std::string export_dir;
  std::string external_data_viewer;
  // A missing key, and the Windows default "c:\\gtopo30" that earlier versions wrote, read as
  // DefaultTopographicMapData().
  std::string topographic_map_data = DefaultTopographicMapData();
  // [MostRecentCANdbFiles]
  std::array<std::string, kRecentCanDbCount> recent_candb_names{};
  std::array<int, kRecentCanDbCount> recent_candb_buses{};
  // [Converter]
  ConverterOptions converter;
  // [GPS_Output]
  int gps_separate_track_file = 0;
  int gps_merge_into_main_file = 0;
  int gps_show_preview = 1;
  int gps_track_file_format = 0;
  int gps_columns_added_where = 0;
  std::array<std::string, kGpsColumnDefCount> gps_col_title{};
  std::array<std::string, kGpsColumnDefCount> gps_col_unit{};
  std::array<std::string, kGpsColumnDefCount> gps_col_format{};
  std::array<std::string, kGpsColumnDefCount> gps_col_exprs{};

  // What to write: the placement keys only when the window is in its normal state, and
  // Files/LoggerCfg only when its file-name part is not "unnamed.clc".
  bool write_placement = true;
};

// Reads every key in table order with defaults and range corrections. Keys missing from ini keep
// their defaults.
TessmarSettings ReadSettings(const IniFile& ini);
// Stores every key in table order into ini (other keys of ini stay).
void WriteSettings(const TessmarSettings& settings, IniFile& ini);

// The GPS output options of the settings as the conversion takes them, and back.
GpsOutputSettings GpsSettingsOf(const TessmarSettings& settings);
void SetGpsSettings(const GpsOutputSettings& gps, TessmarSettings& settings);

// Convenience: load from a file (missing file = defaults) and save back, keeping unknown keys.
TessmarSettings LoadSettingsFile(const std::filesystem::path& path, bool* found = nullptr);
[[nodiscard]] bool SaveSettingsFile(const TessmarSettings& settings,
                                    const std::filesystem::path& path,
                                    std::string* error = nullptr);

// Where "Tessmar.ini" lives: beside the program when it can be written there (the file exists
// and is writable, or the folder is writable), else in $XDG_CONFIG_HOME/tessmar/
// (~/.config/tessmar/ when the variable is not set).
std::filesystem::path DefaultSettingsPath(const std::filesystem::path& program_dir);

inline constexpr const char* kSettingsFileName = "Tessmar.ini";

}  // namespace tessmar
