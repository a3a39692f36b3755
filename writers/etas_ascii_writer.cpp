#include "writers/etas_ascii_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "common/message_output.h"
#include "writers/number_text.h"
#include "writers/writer_common.h"

namespace tessmar {

namespace {

bool EtasColumnType(char ty) {
  switch (ty) {
    case 'F':
    case 'f':
    case 'S':
    case 's':
    case 'U':
    case 'u':
    case 'D':
    case 'd':
      return true;
  }
  return false;
}

// Significant digits of a value: what a float ("f4") or a double ("f8") holds.
constexpr int kFloatDigits = 6;
constexpr int kDoubleDigits = 15;

// True when a float cannot hold every value of an integer signal at the signal's resolution, so
// that its column must be a double: a 64-bit signal, raw values beyond 2^24 (a 32-bit counter or
// mask), or scaled values whose largest magnitude reaches 2^23 steps of the factor (a float's
// rounding then exceeds half a step).
bool IntegerSignalNeedsDouble(const T_CanLog_SigDef& sig) {
  const int bits = std::clamp<int>(sig.nb, 1, 64);
  if (bits == 64) return true;
  const bool is_signed = sig.ty == 'S' || sig.ty == 's';
  const double lowest = is_signed ? -std::ldexp(1.0, bits - 1) : 0.0;
  const double highest = std::ldexp(1.0, is_signed ? bits - 1 : bits) - 1;
  const bool scaled = sig.fa != 1.0 || sig.of != 0.0;
  if (!scaled) return std::max(-lowest, highest) > 16777216.0;
  const double step = std::fabs(sig.fa);
  if (!(step > 0)) return false;  // every value is the offset
  const double largest =
      std::max(std::fabs(lowest * sig.fa + sig.of), std::fabs(highest * sig.fa + sig.of));
  return !(largest / step < 8388608.0);
}

}  // namespace

void EtasAsciiWriter::Fail(const std::string& text) {
  state_.error_text = text;
  SetError(text);
}

bool EtasAsciiWriter::Initialise(const WriterSetup& setup) {
  state_.file.Close();
  state_ = T_EtasAsciiWriter{};
  ClearError();
  if (setup.signal_table) state_.signals = *setup.signal_table;
  state_.file_name = OwnFilePath(setup.output_path, ".ascii");
  state_.write_interval = setup.write_interval;
  const ColumnLayout& layout = setup.layout;
  static const T_CanLog_Config kNoConfig{};
  const T_CanLog_Config& cfg = setup.logged_config ? *setup.logged_config : kNoConfig;
  auto add = [&](ColumnGroup group, int index, bool is_double, std::string name) {
    const std::size_t c = static_cast<std::size_t>(state_.value_columns++);
    state_.group[c] = group;
    state_.index[c] = static_cast<std::int16_t>(index);
    state_.is_double[c] = is_double;
    state_.names.push_back(std::move(name));
  };
  // The name the other outputs give a column of the layout.
  auto name_of = [&](int column) {
    if (column < static_cast<int>(setup.columns.size()) &&
        !setup.columns[static_cast<std::size_t>(column)].name.empty()) {
      return setup.columns[static_cast<std::size_t>(column)].name;
    }
    return ColumnName(layout, column, state_.signals, cfg);
  };
  // GPS values and expressions (which BULK blocks may deliver as doubles or 32-bit integers) are
  // doubles: a float would lose digits of a position, a time or a large integer.
  auto add_gps = [&] {
    for (int g = 0; g < layout.gps_count && g < kMaxGpsColumns; ++g) {
      add(ColumnGroup::kGps, g, true, name_of(layout.gps_first + g));
    }
  };
  if (layout.gps_before) add_gps();
  int dropped_signals = 0;
  for (int slot = 0; slot < MAX_LOGGED_SIGNALS; ++slot) {
    const T_CanLog_SigDef& sig = state_.signals[static_cast<std::size_t>(slot)];
    if (static_cast<signed char>(sig.sn[0]) <= 32 || !EtasColumnType(sig.ty)) continue;
    if (state_.signal_columns >= kEtasMaxSignalColumns) {
      ++dropped_signals;
      continue;
    }
    const bool integer = sig.ty == 'S' || sig.ty == 's' || sig.ty == 'U' || sig.ty == 'u';
    const bool is_double = sig.ty == 'D' || sig.ty == 'd' || sig.nb >= 64 ||
                           (integer && IntegerSignalNeedsDouble(sig));
    add(ColumnGroup::kSignal, slot, is_double, std::string(TextOf(sig.sn)));
    ++state_.signal_columns;
  }
  for (int e = 0; e < layout.expression_count && e < MAX_LOGGED_EXPRESSIONS; ++e) {
    if (!ExpressionSlotUsed(cfg.Exp[static_cast<std::size_t>(e)])) continue;
    add(ColumnGroup::kExpression, e, true, name_of(layout.expression_first + e));
  }
  if (!layout.gps_before) add_gps();
  state_.total_columns = state_.value_columns + 1;
  if (dropped_signals > 0) {
    ShowMessageF(kMsgWarning,
                 "Warning: ETAS ASCII output holds at most %d signal columns; %d further "
                 "signal(s) are not written.",
                 kEtasMaxSignalColumns, dropped_signals);
  }
  std::string invalid = setup.invalid_value.substr(0, 40);
  state_.invalid_text = invalid.empty() ? "0.0" : invalid;
  channels_ = setup.channels;
  layout_ = setup.layout;
  column_channels_.clear();
  const char first = state_.invalid_text[0];
  if (!(first >= '0' && first <= '9') && first != '-') {
    Fail("ETAS requires a NUMERIC 'Invalid Value'-dummy !");
    return false;
  }
  return true;
}

bool EtasAsciiWriter::CreateFile() {
  if (state_.total_columns <= 0) {
    Fail("Could not create header file (no channels)");
    return false;
  }
  state_.first_row_time = -1.0;
  state_.row_count = 0;
  if (!state_.file.Create(state_.file_name)) {
    Fail("Could not create data file (create error)");
    return false;
  }
  std::string head = "ETASAsciiItemFile\trecord\tCrLf\tTab\r\nsampleCount\t";
  bool ok = state_.file.WriteText(head);
  state_.sample_count_position = state_.file.Position();
  std::string rest = std::string(15, ' ') + "\r\ntime\t";
  for (const std::string& name : state_.names) {
    rest += name;
    rest += '\t';
  }
  rest += "\r\nf8\t";
  for (int c = 0; c < state_.value_columns; ++c) {
    rest += state_.is_double[static_cast<std::size_t>(c)] ? "f8\t" : "f4\t";
  }
  rest += "\r\n";
  ok = state_.file.WriteText(rest) && ok;
  if (!ok) {
    state_.write_failed = true;
    Fail(WriteErrorText(state_.file));
    state_.file.Close();
    return false;
  }
  last_texts_.assign(static_cast<std::size_t>(state_.value_columns), numfmt::LastText{});
  rules_.assign(static_cast<std::size_t>(state_.value_columns), numfmt::ExactRule{});
  for (std::size_t c = 0; c < rules_.size(); ++c) {
    const int digits = state_.is_double[c] ? kDoubleDigits : kFloatDigits;
    rules_[c] = state_.group[c] == ColumnGroup::kSignal
                    ? numfmt::SignalRule(
                          digits, state_.signals[static_cast<std::size_t>(state_.index[c])].fa,
                          state_.signals[static_cast<std::size_t>(state_.index[c])].of)
                    : numfmt::ValueRule(digits);
  }
  return true;
}

char* EtasAsciiWriter::NumberCell(char* p, std::size_t k, const ChannelValue& value,
                                  std::uint8_t kind, std::uint64_t bits) {
  char* const number = p;
  if (kind == 2) {
    // A single-precision value (an expression entry) with the digits it has, not more.
    p = std::to_chars(p, p + 32, static_cast<float>(value.scaled)).ptr;
  } else {
    const bool single = value.value_type == kChannelTypeFloat32;
    p = kind == 1 ? numfmt::GExactSignal<kFloatDigits>(p, value.scaled, value.raw, !value.is_float,
                                                       rules_[k], single)
                  : numfmt::GExact<kDoubleDigits>(p, value.scaled, rules_[k], single);
  }
  last_texts_[k].Keep(kind, bits, number, p);
  return p;
}

bool EtasAsciiWriter::WriteLine(double t) {
  if (!state_.file.is_open()) {
    Fail("Cannot write DATA file (not opened)");
    return false;
  }
  if (state_.first_row_time < 0) state_.first_row_time = t;
  // The line is assembled in place: room for the time, and for every column its longest cell
  // (a number, a kept text copied whole, or the invalid value) and a tab.
  const std::size_t cell_room =
      std::max<std::size_t>(numfmt::kMaxNumberChars, state_.invalid_text.size()) + 1;
  const std::size_t room = 400 + static_cast<std::size_t>(state_.value_columns) * cell_room + 8;
  if (line_.size() < room) line_.resize(room);
  char* const line = line_.data();
  // "%.4lf" of the time: integer arithmetic where it gives the library's digits.
  const double elapsed = t - state_.first_row_time;
  char* p = numfmt::FixedFast(line, elapsed, 0, 4);
  if (p == nullptr) p = AppendFixed(line, line + 400, elapsed, 4);
  *p++ = '\t';
  const std::size_t columns = static_cast<std::size_t>(state_.value_columns);
  if (column_channels_.size() != columns) {
    column_channels_.resize(columns);
    for (std::size_t k = 0; k < columns; ++k) column_channels_[k] = ChannelOf(static_cast<int>(k));
  }
  const ChannelValue* const* const channels = column_channels_.data();
  const numfmt::LastText* const lasts = last_texts_.data();
  for (std::size_t k = 0; k < columns; ++k) {
    const ChannelValue* cv = channels[k];
    if (cv != nullptr && cv->valid && cv->value_type != kChannelTypeText) {
      // Most cells repeat the previous row's number: decided and copied here.
      const std::uint8_t kind = CellKind(k, *cv);
      const std::uint64_t bits = numfmt::LastText::Bits(cv->scaled);
      p = lasts[k].Holds(kind, bits) ? lasts[k].CopyTo(p) : NumberCell(p, k, *cv, kind, bits);
      *p++ = '\t';
      continue;
    }
    // No value, or a text value (the format holds numbers only): the invalid value.
    if (cv != nullptr && cv->valid && !state_.text_reported[k]) {
      state_.text_reported[k] = true;
      ShowMessageF(kMsgWarning,
                   "Warning: ETAS ASCII holds numbers only; text values of \"%s\" are written "
                   "as the invalid value.",
                   state_.names[k].c_str());
    }
    std::memcpy(p, state_.invalid_text.data(), state_.invalid_text.size());
    p += state_.invalid_text.size();
    *p++ = '\t';
  }
  *p++ = '\r';
  *p++ = '\n';
  if (!state_.file.WriteBytes(line, static_cast<std::size_t>(p - line))) {
    state_.write_failed = true;
    Fail(WriteErrorText(state_.file));
    return false;
  }
  ++state_.row_count;
  return true;
}

const ChannelValue* EtasAsciiWriter::ChannelOf(int value_column) const {
  if (channels_ == nullptr) return nullptr;
  const std::size_t k = static_cast<std::size_t>(value_column);
  const int index = state_.index[k];
  int first = 0, count = 0;
  switch (state_.group[k]) {
    case ColumnGroup::kSignal:
      first = layout_.signal_first;
      count = layout_.signal_count;
      break;
    case ColumnGroup::kExpression:
      first = layout_.expression_first;
      count = layout_.expression_count;
      break;
    case ColumnGroup::kGps:
      first = layout_.gps_first;
      count = layout_.gps_count;
      break;
    case ColumnGroup::kNone:
      return nullptr;
  }
  // A named signal slot beyond the signal group has no record and stays invalid.
  if (index >= count || first + index >= layout_.total) return nullptr;
  return &channels_[first + index];
}

bool EtasAsciiWriter::Close() {
  if (!state_.file.is_open()) return true;
  bool ok = !state_.write_failed;
  if (ok) {
    // The count overwrites the first of the 15 blanks after "sampleCount\t".
    std::string count = std::to_string(state_.row_count);
    ok = state_.file.Seek(state_.sample_count_position) == state_.sample_count_position &&
         state_.file.WriteText(count);
  }
  bool closed = state_.file.Close();
  if (!ok || !closed) {
    if (!state_.write_failed || state_.error_text.empty()) Fail(WriteErrorText(state_.file));
    return false;
  }
  return true;
}

int EtasAsciiWriter::Create(const WriterSetup& setup) {
  if (setup.appending) {
    if (!state_.file.is_open()) {
      Fail("Cannot write DATA file (not opened)");
      return 0;
    }
    channels_ = setup.channels;
    layout_ = setup.layout;
    column_channels_.clear();
    return 1;
  }
  SetFailedInInitialise(false);
  if (!Initialise(setup)) {
    SetFailedInInitialise(true);
    return 0;
  }
  return CreateFile() ? 1 : 0;
}

int EtasAsciiWriter::WriteRow(const WriterRow& row) {
  return WriteLine(row.elapsed) ? kRowWritten : kRowFailed;
}

std::string EtasAsciiWriter::CreateFailureMessage(const std::filesystem::path& output_path) const {
  // Failing while setting up (before any file is made) is worded as the converter's own failure.
  if (!failed_in_initialise()) return Writer::CreateFailureMessage(output_path);
  if (error_text().empty()) return Tr("Error: Couldn't init ETAS-ASCII-Converter !");
  return StrPrintf(Tr("Error: %s"), error_text().c_str());
}

std::vector<std::filesystem::path> EtasAsciiWriter::OutputFiles(
    const std::filesystem::path& output_path) const {
  return {OwnFilePath(output_path, ".ascii")};
}

int EtasAsciiWriter::Finish(const WriterFinish& finish) {
  if (finish.more_follow && state_.file.is_open()) return 1;
  if (finish.aborted && state_.file.is_open()) state_.write_failed = true;  // no sample count
  return Close() ? 1 : 0;
}

}  // namespace tessmar
