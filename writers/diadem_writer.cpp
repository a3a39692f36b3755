#include "writers/diadem_writer.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/c_locale.h"
#include "common/message_output.h"
#include "writers/block_buffer.h"
#include "writers/date_time_format.h"
#include "writers/number_text.h"
#include "writers/writer_common.h"

namespace tessmar {

namespace {

const char* const kExtensions[3] = {"asc", "i32", "r64"};
const char* const kLine201[3] = {"201,ASCII blockfile", "201,Binary blockfile",
                                 "201,Binary blockfile"};
const char* const kLine214[3] = {"214,ASCII", "214,INT32", "214,REAL64"};

int ClampMode(int mode) { return mode < 0 || mode > 2 ? 0 : mode; }

bool ExplicitTime(int kind) { return kind >= 2 && kind <= 5; }

bool ExpressionPresent(const T_CanLog_ExprDef& e) { return e.ex[0] != '\0'; }

// Unit, offset and factor of an explicit time channel.
struct TimeScale {
  const char* unit;
  double offset;
  double factor;
};

TimeScale ExplicitTimeScale(int mode, int kind, double start_date) {
  const bool date = kind == 4 || kind == 5;
  switch (mode) {
    case kDiademInt32:
      if (date) return {"Date", start_date + kDiademDateOffset, 0.1};
      if (kind == 3) return {"ms", 0, 0.1};  // values are 0.1 ms steps
      return {"s", 0, 0.01};
    case kDiademReal64:
      // Values count seconds from the start date; the offset turns them into DIAdem dates.
      if (date) return {"Date", start_date + kDiademDateOffset, 1};
      return {"s", 0, 1};
    default:
      if (date) return {"Date", 0, 1};
      if (kind == 3) return {"ms", 0, 1};
      return {"s", 0, 1};
  }
}

void Line(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Line(std::string& out, const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  VsnprintfC(buf, sizeof buf, format, args);
  va_end(args);
  out += buf;
  out += "\r\n";
}

std::int32_t Int32TimeValue(double v) {
  if (std::isnan(v)) return 0;
  if (v > 2147483647.0) {
    // Reduced by 2147483647 as long as it is above: the remainder, or 2147483647 itself for an
    // exact multiple.
    v = std::fmod(v, 2147483647.0);
    if (v == 0.0) v = 2147483647.0;
  }
  if (v < -2147483647.0) return -2147483647;
  // Row times are sums of the write interval, so a time that is exactly 10 units in decimal can
  // arrive as 9.9999999; a tolerance far below one unit keeps the truncation from losing a step.
  constexpr double kTolerance = 1e-6;
  return static_cast<std::int32_t>(v >= 0.0 ? v + kTolerance : v - kTolerance);
}

}  // namespace

std::string BuildDiademHeader(const T_DiademWriter& state, const std::filesystem::path& header_path,
                              std::int64_t row_count) {
  const int mode = ClampMode(state.mode);
  std::string file = FileStem(header_path).substr(0, 80) + "." + state.data_extension;
  std::string out;
  Line(out, "DIAEXTENDED  {@:ENGLISH");
  Line(out, "#BEGINGLOBALHEADER");
  Line(out, "  1,WINDOWS");
  Line(out, "  2,{@R:200");
  Line(out, "101,Created by Tessmar File Conversion Utility");
  Line(out, "102,File Converter compiled %s", ProgramBuildDate());
  Line(out, "%s", "");
  Line(out, "104,%s", FormatTimePattern(state.start_date, "YYYY-MM-DD").c_str());
  Line(out, "105,%s", FormatTimePattern(state.start_date, "hh:mm:ss").c_str());
  Line(out, "110,#yyyy-mm-dd hh:nn:ss");
  switch (mode) {
    case kDiademInt32:
      Line(out, "111,%ld", static_cast<long>(kDiademInt32NoValue));
      break;
    case kDiademReal64:
      Line(out, "111,%lG", kDiademReal64NoValue);
      break;
    default:
      Line(out, "111,%s", state.invalid_text.c_str());
      break;
  }
  Line(out, "#ENDGLOBALHEADER");

  const long n = static_cast<long>(row_count);
  const int w = state.channel_count;
  int number = 0;    // channel number
  int implicit = 0;  // implicit time channels so far
  auto begin = [&]() {
    Line(out, "%s", "");
    Line(out, "#BEGINCHANNELHEADER");
  };
  auto placement = [&](int p) {
    if (mode == kDiademAscii) {
      if (number == 1) Line(out, "221,1");
      Line(out, "223,%d", p);
    } else {
      Line(out, "221,%d", p);
      Line(out, "222,%d", w);
    }
  };

  for (int i = 0; i < 2; ++i) {
    const int kind = state.time_kinds[static_cast<std::size_t>(i)];
    if (kind == 0) continue;
    ++number;
    begin();
    Line(out, "200,%s", i == 0 ? "Time" : "Time2");
    if (!ExplicitTime(kind)) {
      ++implicit;
      Line(out, "201,time(implicit)");
      Line(out, "202,s");
      Line(out, "210,IMPLICIT");
      Line(out, "220,%ld", n);
      Line(out, "240,0");
      Line(out, "241,%s", FormatGRoundTrip(state.row_interval).c_str());
      Line(out, "252,No");
      Line(out, "253,increasing");
      Line(out, "260,Numeric");
    } else {
      TimeScale scale = ExplicitTimeScale(mode, kind, state.start_date);
      Line(out, "201,time(explicit)");
      Line(out, "202,%s", scale.unit);
      Line(out, "210,EXPLICIT");
      Line(out, "211,%s", file.c_str());
      Line(out, "213,BLOCK");
      Line(out, "%s", kLine214[mode]);
      Line(out, "220,%ld", n);
      placement(number - implicit);
      Line(out, "230,44");
      Line(out, "231,46");
      Line(out, "232,69");
      if (scale.offset == 0) {
        Line(out, "240,0.0");
      } else {
        Line(out, "240,%2.12lg", scale.offset);
      }
      Line(out, "241,%lg", scale.factor);
      Line(out, "252,No");
      Line(out, "253,increasing");
      Line(out, "260,%s", kind >= 4 ? "Time" : "Numeric");
    }
    Line(out, "#ENDCHANNELHEADER");
  }

  auto value_channel = [&](std::string_view name, std::string_view unit, bool int32_signal,
                           double offset, double factor) {
    ++number;
    begin();
    Line(out, "200,%.*s", static_cast<int>(name.size()), name.data());
    Line(out, "%s", kLine201[mode]);
    if (unit.empty()) {
      Line(out, "202,-");
    } else {
      Line(out, "202,%.*s", static_cast<int>(unit.size()), unit.data());
    }
    Line(out, "210,EXPLICIT");
    Line(out, "211,%s", file.c_str());
    Line(out, "213,BLOCK");
    Line(out, "%s", kLine214[mode]);
    Line(out, "220,%ld", n);
    placement(number - implicit);
    Line(out, "230,44");
    Line(out, "231,46");
    Line(out, "232,69");
    if (int32_signal) {
      // As many digits as give back the stored factor and offset: DIAdem scales every value
      // with them.
      Line(out, "240,%s", FormatGRoundTrip(offset).c_str());
      Line(out, "241,%s", FormatGRoundTrip(factor).c_str());
    } else {
      Line(out, "240,0");
      Line(out, "241,1");
    }
    Line(out, "252,Yes");
    Line(out, "253,not monotone");
    Line(out, "260,Numeric");
    Line(out, "#ENDCHANNELHEADER");
  };

  for (const T_CanLog_SigDef& sig : state.signals) {
    if (!SignalSlotUsed(sig)) continue;
    value_channel(TextOf(sig.sn), TextOf(sig.un), mode == kDiademInt32, sig.of, sig.fa);
  }
  for (const T_CanLog_ExprDef& e : state.expressions) {
    if (!ExpressionPresent(e)) continue;
    value_channel(e.na[0] != '\0' ? TextOf(e.na) : TextOf(e.ex), "", false, 0, 1);
  }
  return out;
}

std::filesystem::path DiademWriter::DataPath(const std::filesystem::path& output_path, int mode) {
  return ReplaceFromLastDot(output_path, std::string(".") + kExtensions[ClampMode(mode)]);
}

std::filesystem::path DiademWriter::HeaderPath(const std::filesystem::path& output_path) {
  bool had_dot = false;
  std::filesystem::path p = ReplaceFromLastDot(output_path, ".dat", &had_dot);
  return had_dot ? p : std::filesystem::path();
}

std::filesystem::path DiademWriter::ShownOutputPath(
    const std::filesystem::path& output_path) const {
  return output_path.string() + "+." + kExtensions[ClampMode(mode_)];
}

std::vector<std::filesystem::path> DiademWriter::OutputFiles(
    const std::filesystem::path& output_path) const {
  std::vector<std::filesystem::path> files = {DataPath(output_path, mode_)};
  std::filesystem::path header = HeaderPath(output_path);
  if (!header.empty()) files.push_back(std::move(header));
  return files;
}

std::string DiademWriter::CreateFailureMessage(const std::filesystem::path& output_path) const {
  if (!create_reason_.empty()) {
    return StrPrintf(
        Tr("DIAdem export error: Could not create data file \"%s\" (create error: %s) !"),
        FailedFileOr(output_path).c_str(), create_reason_.c_str());
  }
  return StrPrintf(Tr("DIAdem export error: %s !"), error_text().c_str());
}

void DiademWriter::Fail(const std::string& text) {
  state_.error_text = text;
  SetError(text);
}

bool DiademWriter::Initialise(const WriterSetup& setup) {
  state_ = T_DiademWriter{};
  ClearError();
  const int mode = ClampMode(mode_);
  if (setup.signal_table) state_.signals = *setup.signal_table;
  if (setup.logged_config) state_.expressions = setup.logged_config->Exp;
  state_.start_date = setup.start_date;
  state_.row_interval = setup.write_interval;
  state_.mode = mode;
  state_.time_kinds = {static_cast<int>(setup.time_column1), static_cast<int>(setup.time_column2)};
  state_.first_time_values = {-1.0, -1.0};
  state_.invalid_text = setup.invalid_value.substr(0, 40);
  state_.data_extension = kExtensions[mode];
  channels_ = setup.channels;
  layout_ = setup.layout;
  row_channels_.clear();

  row_columns_.clear();
  rules_.clear();
  int values = 0;
  for (int column = 0; column < layout_.total && column < kMaxColumns; ++column) {
    int index = 0;
    const ColumnGroup group = layout_.GroupOf(column, &index);
    switch (group) {
      case ColumnGroup::kSignal:
        if (!SignalSlotUsed(state_.signals[static_cast<std::size_t>(index)])) continue;
        break;
      case ColumnGroup::kExpression:
        if (!ExpressionPresent(state_.expressions[static_cast<std::size_t>(index)])) continue;
        break;
      case ColumnGroup::kGps:
        ++state_.gps_columns;
        break;
      default:
        continue;
    }
    row_columns_.push_back(static_cast<std::int16_t>(column));
    rules_.push_back(group == ColumnGroup::kSignal
                         ? numfmt::SignalRule(6, state_.signals[static_cast<std::size_t>(index)].fa,
                                              state_.signals[static_cast<std::size_t>(index)].of)
                         : numfmt::ValueRule(6));
    ++values;
  }
  last_texts_.assign(row_columns_.size(), numfmt::LastText{});
  values_written_.assign(row_columns_.size(), 0);
  values_inexact_.assign(row_columns_.size(), 0);
  int explicit_times = 0;
  for (int kind : state_.time_kinds) explicit_times += ExplicitTime(kind) ? 1 : 0;
  state_.channel_count = explicit_times + values;
  row_.assign(static_cast<std::size_t>(state_.channel_count) * 8 + 64, 0);
  if (state_.gps_columns > 0) {
    Fail("Export of GPS data not supported");
    return false;
  }
  return true;
}

char* DiademWriter::AsciiNumber(char* q, std::size_t k, const ChannelValue& value) {
  char* end = numfmt::GExactSignal<6>(q, value.scaled, value.raw, !value.is_float, rules_[k],
                                      value.value_type == kChannelTypeFloat32);
  last_texts_[k].Keep(1, numfmt::LastText::Bits(value.scaled), q, end);
  return end;
}

bool DiademWriter::WriteDataRow(double elapsed, double absolute) {
  if (!data_.is_open()) {
    Fail("Cannot write DATA file (not opened)");
    return false;
  }
  if (rows_written_ == 0) {
    // The header's start date is the first row's time (whole seconds), the moment the relative
    // time channels count from.
    state_.start_date = std::trunc(absolute);
  }
  const int mode = state_.mode;
  const double s = state_.start_date;
  std::uint8_t* p = row_.data();
  char number[400];
  // An ASCII row is assembled in place: room for two time fields, and for every column its
  // longest field (a number, a kept text copied whole, or the invalid value) and a comma.
  const std::size_t room =
      2 * sizeof number + row_columns_.size() * (numfmt::kMaxNumberChars + 1) + 8;
  if (mode == kDiademAscii && text_row_.size() < room) text_row_.resize(room);
  char* const line = text_row_.data();
  char* q = line;
  // Every ASCII field is followed by a comma; the last one becomes the line end.
  auto field = [&](const char* begin, const char* end) {
    std::memcpy(q, begin, static_cast<std::size_t>(end - begin));
    q += end - begin;
    *q++ = ',';
  };

  for (int i = 0; i < 2; ++i) {
    const int kind = state_.time_kinds[static_cast<std::size_t>(i)];
    if (!ExplicitTime(kind)) continue;
    double v;
    const bool date = kind >= 4;
    if (mode == kDiademAscii) {
      v = kind == 2 ? elapsed : elapsed * 1000.0;
    } else if (mode == kDiademInt32) {
      v = date ? (absolute - s) * 10.0 : (kind == 2 ? elapsed * 100.0 : elapsed * 10000.0);
    } else {
      v = date ? absolute - s : elapsed;
    }
    if (!date) {
      double& first = state_.first_time_values[static_cast<std::size_t>(i)];
      if (first == -1.0 || v < first) first = v;
      v -= first;
    }
    if (mode == kDiademAscii) {
      if (date) {
        std::size_t len =
            FormatDateTimeTo(number, sizeof number, std::trunc(absolute), "YYYY-MM-DD hh:mm:ss");
        field(number, number + len);
      } else {
        // "%.3lf" / "%.1lf": integer arithmetic where it gives the library's digits.
        char* end = numfmt::FixedFast(q, v, 0, kind == 2 ? 3 : 1);
        if (end == nullptr) end = AppendFixed(q, q + sizeof number, v, kind == 2 ? 3 : 1);
        q = end;
        *q++ = ',';
      }
    } else if (mode == kDiademInt32) {
      StoreLe32(p, static_cast<std::uint32_t>(Int32TimeValue(v)));
      p += 4;
    } else {
      StoreF64(p, v);
      p += 8;
    }
  }

  if (row_channels_.size() != row_columns_.size()) {
    row_channels_.resize(row_columns_.size());
    for (std::size_t k = 0; k < row_columns_.size(); ++k) {
      const std::int16_t column = row_columns_[k];
      row_channels_[k] =
          (channels_ != nullptr && column < layout_.total) ? &channels_[column] : nullptr;
    }
  }
  const std::size_t count = mode == kDiademAscii ? row_channels_.size() : 0;
  const ChannelValue* const* const channels = row_channels_.data();
  const numfmt::LastText* const lasts = last_texts_.data();
  for (std::size_t k = 0; k < count; ++k) {
    const ChannelValue* cv = channels[k];
    if (cv == nullptr || !cv->valid) {
      field(state_.invalid_text.data(), state_.invalid_text.data() + state_.invalid_text.size());
      continue;
    }
    // A repeated number is a copy of its kept text; a new one is formatted in place and kept.
    const std::uint64_t bits = numfmt::LastText::Bits(cv->scaled);
    q = lasts[k].Holds(1, bits) ? lasts[k].CopyTo(q) : AsciiNumber(q, k, *cv);
    *q++ = ',';
  }
  for (std::size_t k = 0; mode != kDiademAscii && k < row_channels_.size(); ++k) {
    const ChannelValue* cv = row_channels_[k];
    const bool valid = cv != nullptr && cv->valid;
    if (mode == kDiademInt32) {
      std::int32_t value = kDiademInt32NoValue;
      if (valid) {
        std::int64_t raw;
        bool exact = true;
        if (cv->is_float) {
          raw = TruncateToInt64(cv->raw_float);
          exact = cv->raw_float == static_cast<double>(raw);  // false for a fraction and NaN
        } else {
          raw = cv->raw;
        }
        if (raw > 2147483647 || raw < -2147483647) {
          raw = raw > 0 ? 2147483647 : -2147483647;
          exact = false;
        }
        // The no-value code cannot stand for a value as well.
        if (raw == kDiademInt32NoValue) exact = false;
        value = static_cast<std::int32_t>(raw);
        ++values_written_[k];
        if (!exact) ++values_inexact_[k];
      }
      StoreLe32(p, static_cast<std::uint32_t>(value));
      p += 4;
    } else {
      StoreF64(p, valid ? cv->scaled : kDiademReal64NoValue);
      p += 8;
    }
  }

  bool ok;
  if (mode == kDiademAscii) {
    if (q != line) --q;  // the comma after the last field
    *q++ = '\r';
    *q++ = '\n';
    ok = data_.WriteBytes(line, static_cast<std::size_t>(q - line));
  } else {
    ok = data_.WriteBytes(row_.data(), static_cast<std::size_t>(p - row_.data()));
  }
  if (!ok) {
    write_failed_ = true;
    Fail(WriteErrorText(data_));
    SetFailedFile(DataPath(output_path_, mode_));
    return false;
  }
  ++rows_written_;
  return true;
}

int DiademWriter::Create(const WriterSetup& setup) {
  if (setup.appending && data_.is_open()) {
    // Combining sources: the rows of this source continue the open data file.
    channels_ = setup.channels;
    layout_ = setup.layout;
    row_channels_.clear();
    return 1;
  }
  data_.Close();
  rows_written_ = 0;
  write_failed_ = false;
  have_previous_row_ = false;
  interval_breaks_ = 0;
  output_path_ = setup.output_path;
  create_reason_.clear();
  if (!Initialise(setup)) return 0;
  if (!data_.Create(DataPath(setup.output_path, mode_))) {
    Fail("Could not create data file (create error)");
    SetFailedFile(DataPath(setup.output_path, mode_));
    create_reason_ = data_.last_error_text();
    if (create_reason_.empty()) create_reason_ = "unknown reason";
    return 0;
  }
  return 1;
}

int DiademWriter::WriteRow(const WriterRow& row) {
  if (!WriteDataRow(row.elapsed, row.time + row.time_base)) return kRowFailed;
  // Rows more than half an interval away from the fixed interval break an implicit time.
  const double interval = state_.row_interval;
  if (have_previous_row_ && std::fabs(row.elapsed - previous_elapsed_ - interval) > interval / 2) {
    ++interval_breaks_;
  }
  have_previous_row_ = true;
  previous_elapsed_ = row.elapsed;
  return kRowWritten;
}

std::string DiademWriter::ColumnTitle(int column) const {
  int index = 0;
  switch (layout_.GroupOf(column, &index)) {
    case ColumnGroup::kSignal:
      return std::string(TextOf(state_.signals[static_cast<std::size_t>(index)].sn));
    case ColumnGroup::kExpression: {
      const T_CanLog_ExprDef& e = state_.expressions[static_cast<std::size_t>(index)];
      return std::string(e.na[0] != '\0' ? TextOf(e.na) : TextOf(e.ex));
    }
    default:
      return {};
  }
}

void DiademWriter::ReportInexactValues() const {
  for (std::size_t k = 0; k < values_inexact_.size(); ++k) {
    if (values_inexact_[k] == 0) continue;
    ShowMessageF(kMsgWarning,
                 "Column \"%s\": %lld of %lld values do not fit DIAdem INT32 (whole numbers up to "
                 "2147483647 either way) and were written clipped or without their fraction; "
                 "\"DIAdem, REAL64\" holds them.",
                 ColumnTitle(row_columns_[k]).c_str(), static_cast<long long>(values_inexact_[k]),
                 static_cast<long long>(values_written_[k]));
  }
}

bool DiademWriter::FinishFiles() {
  if (!data_.is_open()) return true;
  ReportInexactValues();
  const bool closed = data_.Close();
  if (write_failed_ || !closed) {
    // No header: the data file alone is not taken for a complete recording.
    if (!write_failed_) {
      Fail(WriteErrorText(data_));
      SetFailedFile(DataPath(output_path_, mode_));
    }
    return false;
  }
  std::filesystem::path header_path = HeaderPath(output_path_);
  if (header_path.empty()) return true;
  BufferedFile header;
  if (!header.Create(header_path)) {
    Fail("Could not create header file (create error)");
    SetFailedFile(header_path);
    return false;
  }
  bool ok = header.WriteText(BuildDiademHeader(state_, header_path, rows_written_));
  ok = header.Close() && ok;
  if (!ok) {
    Fail(WriteErrorText(header));
    SetFailedFile(header_path);
    return false;
  }
  const int implicit = state_.time_kinds[0] == 1 ? 1 : state_.time_kinds[1] == 1 ? 2 : 0;
  if (implicit != 0 && interval_breaks_ > 0) {
    ShowMessageF(kMsgWarning,
                 "DIAdem: the header gives the rows one fixed interval of %lg s (implicit time), "
                 "but the row grid started again after %lld gap%s in the timestamps, so DIAdem "
                 "shows wrong times from the first gap on. For each row's true time choose an "
                 "explicit time channel: \"Seconds\" for time channel #%d (--time%d seconds).",
                 state_.row_interval, static_cast<long long>(interval_breaks_),
                 interval_breaks_ == 1 ? "" : "s", implicit, implicit);
  }
  return true;
}

int DiademWriter::Finish(const WriterFinish& finish) {
  if (finish.more_follow && data_.is_open()) return 1;
  if (finish.aborted && data_.is_open()) write_failed_ = true;  // no header: incomplete
  return FinishFiles() ? 1 : 0;
}

}  // namespace tessmar
