#include "writers/etas_ascii_writer.h"

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
      return true;
  }
  return false;
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
  for (int slot = 0; slot < MAX_LOGGED_SIGNALS && state_.signal_columns < kEtasMaxSignalColumns;
       ++slot) {
    const T_CanLog_SigDef& sig = state_.signals[static_cast<std::size_t>(slot)];
    if (static_cast<signed char>(sig.sn[0]) <= 32 || !EtasColumnType(sig.ty)) continue;
    const bool integer = sig.ty == 'S' || sig.ty == 's' || sig.ty == 'U' || sig.ty == 'u';
    const bool scaled = sig.fa != 1.0 || sig.of != 0.0;
    const std::size_t c = static_cast<std::size_t>(state_.signal_columns);
    state_.signal_slot[c] = static_cast<std::int16_t>(slot);
    state_.is_double[c] = integer && scaled && sig.nb > 23;
    ++state_.signal_columns;
  }
  state_.total_columns = state_.signal_columns + 1;
  std::string invalid = setup.invalid_value.substr(0, 40);
  state_.invalid_text = invalid.empty() ? "0.0" : invalid;
  channels_ = setup.channels;
  layout_ = setup.layout;
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
  for (int c = 0; c < state_.signal_columns; ++c) {
    rest += TextOf(
        state_.signals[static_cast<std::size_t>(state_.signal_slot[static_cast<std::size_t>(c)])]
            .sn);
    rest += '\t';
  }
  rest += "\r\nf8\t";
  for (int c = 0; c < state_.signal_columns; ++c) {
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
  line_.reserve(64 + static_cast<std::size_t>(state_.signal_columns) * 48);
  return true;
}

bool EtasAsciiWriter::WriteLine(double t) {
  if (!state_.file.is_open()) {
    Fail("Cannot write DATA file (not opened)");
    return false;
  }
  if (state_.first_row_time < 0) state_.first_row_time = t;
  char number[400];
  line_.clear();
  char* end = AppendFixed(number, number + sizeof number, t - state_.first_row_time, 4);
  line_.append(number, end);
  line_ += '\t';
  for (int c = 0; c < state_.signal_columns; ++c) {
    const int slot = state_.signal_slot[static_cast<std::size_t>(c)];
    const int column = layout_.signal_first + slot;
    const ChannelValue* cv =
        (channels_ != nullptr && slot < layout_.signal_count && column < layout_.total)
            ? &channels_[column]
            : nullptr;
    if (cv != nullptr && cv->valid) {
      end = AppendG(number, cv->scaled);
      line_.append(number, end);
    } else {
      line_ += state_.invalid_text;
    }
    line_ += '\t';
  }
  line_ += "\r\n";
  if (!state_.file.WriteText(line_)) {
    state_.write_failed = true;
    Fail(WriteErrorText(state_.file));
    return false;
  }
  ++state_.row_count;
  return true;
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
  return WriteLine(row.time) ? kRowWritten : kRowFailed;
}

int EtasAsciiWriter::Finish(const WriterFinish& finish) {
  if (finish.more_follow && state_.file.is_open()) return 1;
  if (finish.aborted && state_.file.is_open()) state_.write_failed = true;  // no sample count
  return Close() ? 1 : 0;
}

}  // namespace tessmar
