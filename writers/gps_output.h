#pragma once
// GPS output of a conversion: turns the recording's GPS entries into fixes, fills the GPS columns
// of the main output on every complete fix, writes the track file (NMEA or text) and formats GPS
// column values for the text outputs.
//
// Use per conversion start:
//   Start(settings)                      clears the fix and the message counter
//   OpenTrack(output_path)               when a track file is wanted (not when appending)
//   OnGpsEntry(entry, channels, layout)  for every entry 0xA1 / 0xA2 of the pass; true when the
//                                        entry completed a fix (then fix() is the new fix)
//                                        and the fix went to the track file ($GPGGA, then
//                                        $GPRMC; or one text line)
//   FinishTrack()                        at the end of a source: reports and closes the track file
//
// GPS column mapping: the defined GPS columns (title above blank) are numbered in order and the
// i-th defined column fills the i-th column of the GPS group, so a gap in the definitions never
// shifts a column out of the group.

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "common/buffered_file.h"
#include "logfile/channel_value.h"
#include "logfile/gps_fix.h"
#include "writers/gps_settings.h"
#include "writers/gps_text.h"

namespace tessmar {

// At most this many "Error #%d in GPS-expressions, line %d ." messages per conversion.
inline constexpr int kMaxGpsExpressionMessages = 20;

class GpsOutput {
 public:
  GpsOutput() = default;
  GpsOutput(const GpsOutput&) = delete;
  GpsOutput& operator=(const GpsOutput&) = delete;
  ~GpsOutput();

  // Start of a conversion: keeps a copy of the settings, clears the fix, the seen-entry flags,
  // the GPS-data flag and the expression message counter. An open track file stays open.
  void Start(const GpsOutputSettings& settings);
  const GpsOutputSettings& settings() const { return settings_; }

  // Number of defined GPS columns (the size of the GPS group when they go into the main output)
  // and their titles, units and definition indices in group order.
  int DefinedColumnCount() const { return static_cast<int>(defined_.size()); }
  std::vector<std::string> ColumnTitles() const;
  std::vector<std::string> ColumnUnits() const;
  // The definition behind the i-th column of the GPS group, nullptr when there is none.
  const GpsColumnDef* DefinitionOfGroupColumn(int group_column) const;

  // Decodes one entry. When it completes a fix (an entry 1 and an entry 2 since the previous
  // complete fix, in either order), evaluates the GPS columns into channels (columns of the GPS
  // group of layout) and writes the fix to the open track file; returns true then.
  bool OnGpsEntry(std::span<const std::uint8_t> entry, std::span<ChannelValue> channels,
                  const ColumnLayout& layout);
  // The two steps of a complete fix, for callers that decode entries themselves.
  void FillColumns(std::span<ChannelValue> channels, const ColumnLayout& layout);
  bool WriteTrackFix();

  const GpsFix& fix() const { return fix_; }
  // True once a GPS entry was decoded since Start().
  bool had_gps_data() const { return had_gps_data_; }
  // True when the fix should go to the track preview: quality not 0, more than two satellites,
  // position valid.
  bool FixIsDrawable() const;

  // ---- Track file ----

  // Path of the track file: everything from the last dot of the output file name replaced by
  // ".nmea" or ".gps"; empty when the name has no dot.
  static std::filesystem::path TrackPath(const std::filesystem::path& output_path, int format);
  // Creates the track file in the format of the settings. On failure reports
  // "Error: Could not create \"%s\" (%s) !" and returns false.
  bool OpenTrack(const std::filesystem::path& output_path);
  bool track_open() const { return track_.is_open(); }
  const std::filesystem::path& track_path() const { return track_path_; }
  // Reports "GPS track written to file \"%s\" ." (or the warning that the recording held no GPS
  // data) and closes the file. A write error is reported and gives false.
  bool FinishTrack();

  // ---- GPS columns in text outputs ----

  // Binds the channel records that FormatCell reads.
  void BindChannels(const ChannelValue* channels, const ColumnLayout& layout);
  // GpsCellFormatter of writers/writer.h: context is the GpsOutput. Formats the scaled value of
  // the GPS group's column by its column format ("%.7lg" when there is none).
  static int FormatCell(const void* context, int gps_column, char* out, int capacity);

 private:
  GpsOutputSettings settings_;
  std::vector<int> defined_;  // definition index of each GPS group column
  std::array<GpsValueFormat, kGpsColumns> formats_{};
  GpsFix fix_;
  bool seen1_ = false, seen2_ = false;
  bool had_gps_data_ = false;
  int expression_messages_ = 0;
  BufferedFile track_;
  std::filesystem::path track_path_;
  bool track_write_failed_ = false;
  const ChannelValue* bound_channels_ = nullptr;
  ColumnLayout bound_layout_;
};

}  // namespace tessmar
