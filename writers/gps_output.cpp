#include "writers/gps_output.h"

#include <cstring>

#include "common/message_output.h"
#include "writers/gps_expression.h"
#include "writers/writer_common.h"

namespace tessmar {

GpsOutput::~GpsOutput() { track_.Close(); }

void GpsOutput::Start(const GpsOutputSettings& settings) {
  settings_ = settings;
  defined_.clear();
  for (int k = 0; k < kGpsColumns; ++k) {
    const GpsColumnDef& column = settings_.columns[static_cast<std::size_t>(k)];
    if (!column.defined()) continue;
    formats_[defined_.size()] = ParseGpsValueFormat(GpsText(column.format));
    defined_.push_back(k);
  }
  fix_ = GpsFix{};
  seen1_ = seen2_ = false;
  had_gps_data_ = false;
  expression_messages_ = 0;
  bound_channels_ = nullptr;
}

std::vector<std::string> GpsOutput::ColumnTitles() const {
  std::vector<std::string> titles;
  for (int k : defined_)
    titles.emplace_back(GpsText(settings_.columns[static_cast<std::size_t>(k)].title));
  return titles;
}

std::vector<std::string> GpsOutput::ColumnUnits() const {
  std::vector<std::string> units;
  for (int k : defined_)
    units.emplace_back(GpsText(settings_.columns[static_cast<std::size_t>(k)].unit));
  return units;
}

const GpsColumnDef* GpsOutput::DefinitionOfGroupColumn(int group_column) const {
  if (group_column < 0 || group_column >= static_cast<int>(defined_.size())) return nullptr;
  return &settings_
              .columns[static_cast<std::size_t>(defined_[static_cast<std::size_t>(group_column)])];
}

bool GpsOutput::OnGpsEntry(std::span<const std::uint8_t> entry, std::span<ChannelValue> channels,
                           const ColumnLayout& layout) {
  int which = DecodeGpsEntry(entry, fix_);
  if (which == 0) return false;
  had_gps_data_ = true;
  if (which == 1) seen1_ = true;
  if (which == 2) seen2_ = true;
  if (!(seen1_ && seen2_)) return false;
  seen1_ = seen2_ = false;
  FillColumns(channels, layout);
  WriteTrackFix();
  return true;
}

void GpsOutput::FillColumns(std::span<ChannelValue> channels, const ColumnLayout& layout) {
  for (std::size_t i = 0; i < defined_.size(); ++i) {
    const int column = layout.gps_first + static_cast<int>(i);
    if (static_cast<int>(i) >= layout.gps_count || column >= static_cast<int>(channels.size())) {
      break;
    }
    const GpsColumnDef& def = settings_.columns[static_cast<std::size_t>(defined_[i])];
    GpsExprResult r = EvaluateGpsExpression(GpsText(def.source), fix_);
    ChannelValue& cv = channels[static_cast<std::size_t>(column)];
    if (r.code == kGpsExprNumber) {
      cv.valid = true;
      cv.is_float = true;
      cv.value_type = kChannelTypeFloat64;
      cv.raw_float = r.value;
      cv.raw = TruncateToInt64(r.value);
      cv.scaled = r.value;
      cv.Widen(r.value);
    } else if (r.code == kGpsExprInvalidTime || r.code == kGpsExprNoPosition) {
      // Not measured: writers show the invalid value, the number is kept for display.
      cv.valid = false;
      cv.is_float = false;
      cv.value_type = kChannelTypeFloat64;
      cv.raw = 0;
      cv.raw_float = 0;
      cv.scaled = r.value;
    } else if (r.code != kGpsExprText) {
      if (expression_messages_ < kMaxGpsExpressionMessages) {
        ++expression_messages_;
        ShowMessageF(kMsgError, "Error #%d in GPS-expressions, line %d .", -r.code, defined_[i]);
      }
    }
  }
}

bool GpsOutput::WriteTrackFix() {
  if (!track_.is_open() || track_write_failed_) return false;
  bool ok;
  if (settings_.track_file_format == kGpsTrackNmea) {
    // $GPGGA first: readers such as GPSBabel attach a $GPRMC to the fix read before it, so this
    // order keeps position, height, time and speed of one fix together.
    ok = track_.WriteText(NmeaGpgga(fix_));
    ok = track_.WriteText(NmeaGprmc(fix_)) && ok;
  } else {
    ok = track_.WriteText(TextTrackLine(fix_));
  }
  if (!ok) track_write_failed_ = true;
  return ok;
}

bool GpsOutput::FixIsDrawable() const { return GpsFixHasPosition(fix_); }

std::filesystem::path GpsOutput::TrackPath(const std::filesystem::path& output_path, int format) {
  bool had_dot = false;
  std::filesystem::path p =
      ReplaceFromLastDot(output_path, format == kGpsTrackNmea ? ".nmea" : ".gps", &had_dot);
  if (!had_dot) return {};
  return p;
}

bool GpsOutput::OpenTrack(const std::filesystem::path& output_path) {
  track_.Close();
  track_write_failed_ = false;
  track_path_ = TrackPath(output_path, settings_.track_file_format);
  if (track_path_.empty()) return false;
  if (!track_.Create(track_path_)) {
    ShowMessageF(kMsgError, "Error: Could not create \"%s\" (%s) !", track_path_.c_str(),
                 track_.last_error_text().c_str());
    return false;
  }
  if (settings_.track_file_format != kGpsTrackNmea && !track_.WriteText(TextTrackHeader())) {
    track_write_failed_ = true;
  }
  return true;
}

bool GpsOutput::FinishTrack() {
  if (!track_.is_open()) return true;
  bool ok = track_.Close() && !track_write_failed_;
  if (!ok) {
    ShowMessageF(
        kMsgError, "Error: Could not write GPS track file \"%s\" (%s) !", track_path_.c_str(),
        track_.last_error_text().empty() ? "write error" : track_.last_error_text().c_str());
    return false;
  }
  if (had_gps_data_) {
    ShowMessageF(kMsgInfo, "GPS track written to file \"%s\" .", track_path_.c_str());
  } else {
    ShowMessageF(kMsgWarning,
                 "GPS track file (%s) may be useless because logfile contains no GPS data !",
                 track_path_.c_str());
  }
  return true;
}

void GpsOutput::BindChannels(const ChannelValue* channels, const ColumnLayout& layout) {
  bound_channels_ = channels;
  bound_layout_ = layout;
}

int GpsOutput::FormatCell(const void* context, int gps_column, char* out, int capacity) {
  if (capacity <= 0) return 0;
  out[0] = '\0';
  const auto* self = static_cast<const GpsOutput*>(context);
  if (self == nullptr || self->bound_channels_ == nullptr || gps_column < 0 ||
      gps_column >= self->bound_layout_.gps_count) {
    return 0;
  }
  const ChannelValue& cv = self->bound_channels_[self->bound_layout_.gps_first + gps_column];
  GpsValueFormat general;
  const GpsValueFormat& format = gps_column < static_cast<int>(self->defined_.size())
                                     ? self->formats_[static_cast<std::size_t>(gps_column)]
                                     : general;
  return FormatGpsValue(cv.scaled, format, out, capacity);
}

}  // namespace tessmar
