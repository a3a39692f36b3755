#include "writers/text_writers.h"

#include <cstring>

#include "config/canlog_config.h"
#include "logfile/log_entry.h"
#include "writers/date_time_format.h"
#include "writers/number_format.h"

namespace tessmar {

namespace {

// Room for one cell besides its text: quotes, separator, a number.
constexpr std::size_t kCellSlack = 8 + numfmt::kMaxNumberChars;
// Whole milliseconds are taken by truncation; grid times summed from the interval carry a little
// floating-point error (0.1 s may be held as 0.09999999), which must not turn 100 ms into 99.
constexpr double kMsSlack = 1e-6;
// Longest text a channel can hold (255) or a GPS cell may take.
constexpr std::size_t kMaxCellText = 256;

// A cell whose text holds the column separator or a double quote is enclosed in double quotes,
// so that a reader sees one cell; a quote inside it is doubled. Numbers never need this (their
// characters are digits, sign, exponent and the decimal separator, and a decimal separator equal
// to the column separator quotes every cell anyway), so only texts are checked.
bool NeedsQuotes(const char* text, std::size_t len, char sep) {
  return std::memchr(text, sep, len) != nullptr || std::memchr(text, '"', len) != nullptr;
}

// Writes text enclosed in double quotes with every quote doubled; out needs room for 2 * len + 2.
char* QuotedText(char* out, const char* text, std::size_t len) {
  *out++ = '"';
  for (std::size_t i = 0; i < len; ++i) {
    if (text[i] == '"') *out++ = '"';
    *out++ = text[i];
  }
  *out++ = '"';
  return out;
}

const char* TimeHeader(TimeColumnKind kind, bool messages, int headlines) {
  switch (kind) {
    case TimeColumnKind::kSeconds:
      return messages ? "Time_second" : "time_sec";
    case TimeColumnKind::kMilliseconds:
      return messages ? "Millisecond" : "time_ms";
    case TimeColumnKind::kDateTime:
      return headlines >= 2 ? "Date_Time" : kDateTimePattern;
    case TimeColumnKind::kDateTimeFraction:
      return headlines >= 2 ? "Date_Time" : kDateTimeFractionPattern;
    default:
      return nullptr;
  }
}

const char* TimeUnit(TimeColumnKind kind) {
  switch (kind) {
    case TimeColumnKind::kSeconds:
      return "sec";
    case TimeColumnKind::kMilliseconds:
      return "ms";
    case TimeColumnKind::kDateTime:
      return kDateTimePattern;
    case TimeColumnKind::kDateTimeFraction:
      return kDateTimeFractionPattern;
    default:
      return nullptr;
  }
}

}  // namespace

// ---- TextFileWriter --------------------------------------------------------------------------

namespace {
constexpr std::size_t kStageSize = 256 * 1024;
}  // namespace

bool TextFileWriter::OpenOutput(const WriterSetup& setup) {
  ClearError();
  if (setup.appending && file_.is_open()) return true;
  if (file_.is_open()) file_.Close();
  path_ = setup.output_path;
  bytes_written_ = 0;
  staged_ = 0;
  write_failed_ = false;
  if (stage_.size() < kStageSize) stage_.resize(kStageSize);
  if (!file_.Create(path_)) {
    SetError(file_.last_error_text());
    return false;
  }
  return true;
}

bool TextFileWriter::FlushStage() {
  if (staged_ > 0 && !write_failed_ && !file_.WriteBytes(stage_.data(), staged_)) {
    write_failed_ = true;
    SetError(file_.last_error_text().empty() ? "write error" : file_.last_error_text());
  }
  staged_ = 0;
  return !write_failed_;
}

char* TextFileWriter::Reserve(std::size_t max_len) {
  if (staged_ + max_len > stage_.size()) {
    FlushStage();
    if (max_len > stage_.size()) stage_.resize(max_len);
  }
  return stage_.data() + staged_;
}

bool TextFileWriter::Commit(const char* end) {
  const std::size_t used = static_cast<std::size_t>(end - stage_.data());
  bytes_written_ += static_cast<int64_t>(used - staged_);
  staged_ = used;
  return !write_failed_;
}

bool TextFileWriter::Write(const char* begin, const char* end) {
  const std::size_t len = static_cast<std::size_t>(end - begin);
  char* p = Reserve(len);
  std::memcpy(p, begin, len);
  return Commit(p + len);
}

int TextFileWriter::Finish(const WriterFinish& finish) {
  if (!file_.is_open()) return 1;
  const bool flushed = FlushStage();
  if (finish.more_follow) {
    // A source is complete only when its rows reached the file, also when more follow.
    if (flushed && !file_.Flush()) {
      write_failed_ = true;
      SetError(file_.last_error_text().empty() ? "write error" : file_.last_error_text());
      return 0;
    }
    return flushed ? 1 : 0;
  }
  if (!file_.Close() || !flushed) {
    if (error_text().empty()) {
      SetError(file_.last_error_text().empty() ? "write error" : file_.last_error_text());
    }
    return 0;
  }
  return 1;
}

// ---- TextCsvWriter ---------------------------------------------------------------------------

int TextCsvWriter::Create(const WriterSetup& setup) {
  const bool appending = setup.appending && file_.is_open();
  if (!OpenOutput(setup)) return 0;
  setup_ = setup;
  messages_ = setup.output_type == OutputType::kMessages;
  quote_ = setup.decimal_separator == setup.column_separator;
  kinds_[0] = setup.time_column1;
  kinds_[1] = setup.time_column2;
  // Relative time columns count from the first row of the output, across combined sources.
  if (!appending) have_t0_[0] = have_t0_[1] = false;
  for (int b = 0; b < 256; ++b) {
    const char cell[4] = {numfmt::kHexDigits[b >> 4], numfmt::kHexDigits[b & 15],
                          setup.column_separator, setup.column_separator};
    std::memcpy(hex_cells_[static_cast<std::size_t>(b)].data(), cell, 4);
  }
  is_gps_.assign(setup.columns.size(), 0);
  // The kept cells hold the separators of the previous setup: start afresh.
  last_cells_.assign(setup.columns.size(), numfmt::LastText{});
  rules_.assign(setup.columns.size(), CellRules{});
  std::size_t longest = 0;
  for (std::size_t c = 0; c < setup.columns.size(); ++c) {
    is_gps_[c] = setup.columns[c].group == ColumnGroup::kGps;
    // A signal's values lie on the grid of its factor (its raw values on whole numbers);
    // expression values must read back as themselves.
    int slot = 0;
    if (setup.layout.GroupOf(static_cast<int>(c), &slot) == ColumnGroup::kSignal &&
        setup.signal_table != nullptr && slot >= 0 && slot < MAX_LOGGED_SIGNALS) {
      const T_CanLog_SigDef& sig = (*setup.signal_table)[static_cast<std::size_t>(slot)];
      rules_[c] = {numfmt::SignalRule(7, sig.fa, sig.of), numfmt::GridRule(11, sig.fa),
                   numfmt::GridRule(11, 1.0)};
    } else {
      rules_[c] = {numfmt::ValueRule(7), numfmt::ValueRule(11), numfmt::ValueRule(11)};
    }
    longest += std::max<std::size_t>(setup.columns[c].name.size(), setup.columns[c].unit.size());
  }
  // A quoted text may double in length.
  const std::size_t per_cell =
      kCellSlack + 2 * std::max<std::size_t>(kMaxCellText, setup.invalid_value.size());
  row_capacity_ = 4 * 64 + (setup.columns.size() + 12) * per_cell + longest * 4 + 128;
  // The invalid-value cell is the same in every row: made once, copied per cell.
  invalid_cell_.resize(2 * setup.invalid_value.size() + 3);
  invalid_cell_.resize(static_cast<std::size_t>(
      Cell(invalid_cell_.data(), setup.invalid_value.data(), setup.invalid_value.size(), quote_) -
      invalid_cell_.data()));
  if (!appending && setup.headlines > 0 && !WriteHeadlines()) return 0;
  return 1;
}

char* TextCsvWriter::Cell(char* p, const char* text, std::size_t len, bool quote) {
  if (quote || NeedsQuotes(text, len, setup_.column_separator)) {
    p = QuotedText(p, text, len);
  } else {
    std::memcpy(p, text, len);
    p += len;
  }
  *p++ = setup_.column_separator;
  return p;
}

char* TextCsvWriter::EndLine(char* p) {
  // The separator after the last cell becomes the line end.
  if (p > row_start_ && p[-1] == setup_.column_separator) --p;
  *p++ = '\r';
  *p++ = '\n';
  return p;
}

bool TextCsvWriter::WriteHeadlines() {
  const int headlines = setup_.headlines;
  auto time_cell = [&](char* p, const char* text) {
    char cell[32];
    const std::size_t len = std::min(std::strlen(text), sizeof cell);
    std::memcpy(cell, text, len);
    // With a blank separator the blank between date and time would split the column.
    if (setup_.column_separator == ' ' && len > 10 && cell[10] == ' ') cell[10] = '_';
    return Cell(p, cell, len, quote_);
  };
  // Line 1: names.
  char* p = BeginRow();
  for (TimeColumnKind kind : kinds_) {
    if (const char* h = TimeHeader(kind, messages_, headlines)) p = time_cell(p, h);
  }
  if (messages_) {
    p = Cell(p, "CanIdentif", 10, quote_);
    for (int i = 0; i < 8; ++i) {
      const char d[2] = {'d', static_cast<char>('0' + i)};
      p = Cell(p, d, 2, quote_);
    }
  } else {
    for (const WriterColumn& c : setup_.columns) p = Cell(p, c.name.data(), c.name.size(), quote_);
  }
  p = EndLine(p);
  if (!Commit(p)) return false;
  if (headlines >= 2) {
    p = BeginRow();
    for (TimeColumnKind kind : kinds_) {
      if (const char* u = TimeUnit(kind)) p = time_cell(p, u);
    }
    if (messages_) {
      p = Cell(p, "", 0, quote_);
      for (int i = 0; i < 8; ++i) {
        const char d[2] = {'d', static_cast<char>('0' + i)};
        p = Cell(p, d, 2, quote_);
      }
    } else {
      for (const WriterColumn& c : setup_.columns) {
        p = Cell(p, c.unit.data(), c.unit.size(), quote_);
      }
    }
    p = EndLine(p);
    if (!Commit(p)) return false;
  }
  if (headlines >= 3) {
    std::string_view info =
        setup_.logged_config ? TextOf(setup_.logged_config->InfoString) : std::string_view();
    p = BeginRow();
    std::memcpy(p, info.data(), info.size());
    p += info.size();
    *p++ = '\r';
    *p++ = '\n';
    if (!Commit(p)) return false;
  }
  return true;
}

char* TextCsvWriter::TimeCells(char* p, const WriterRow& row) {
  for (int k = 0; k < 2; ++k) {
    const TimeColumnKind kind = kinds_[k];
    if (kind == TimeColumnKind::kOff || kind == TimeColumnKind::kImplicit) continue;
    if (!have_t0_[k] || row.elapsed < t0_[k]) {
      t0_[k] = row.elapsed;
      have_t0_[k] = true;
    }
    const double rel = row.elapsed - t0_[k];
    if (quote_) *p++ = '"';
    char* start = p;
    switch (kind) {
      case TimeColumnKind::kSeconds:
        if (!messages_) {
          p = numfmt::Fixed(p, rel, 4);
        } else if (char* end = padded_seconds_[k].Write(p, rel)) {
          p = end;
        } else {
          p = numfmt::FixedZeroPadded(p, rel, 11, 4);
        }
        break;
      case TimeColumnKind::kMilliseconds:
        p = messages_ ? numfmt::FixedZeroPadded(p, rel * 1000.0, 11, 1)
                      : numfmt::Int(p, static_cast<int64_t>(rel * 1000.0 + kMsSlack));
        break;
      default: {
        const char* pattern =
            kind == TimeColumnKind::kDateTime ? kDateTimePattern : kDateTimeFractionPattern;
        p += FormatDateTimeTo(p, 40, row.time + row.time_base, pattern);
        if (setup_.column_separator == ' ' && p - start > 10) start[10] = '_';
        break;
      }
    }
    if (setup_.decimal_separator != '.') numfmt::ReplacePeriods(start, p, setup_.decimal_separator);
    if (quote_) *p++ = '"';
    *p++ = setup_.column_separator;
  }
  return p;
}

int TextCsvWriter::WriteRow(const WriterRow& row) {
  return messages_ ? WriteMessageRow(row) : WriteSignalRow(row);
}

int TextCsvWriter::WriteMessageRow(const WriterRow& row) {
  if (!row.entry) return kRowSkipped;
  const std::uint8_t* e = row.entry;
  char* p = BeginRow();
  const char sep = setup_.column_separator;
  const EntryClass cls = ClassifyEntry(e);
  if (cls == EntryClass::kCanFrame) {
    p = TimeCells(p, row);
    *p++ = '0';
    *p++ = 'x';
    p = numfmt::Hex8(p, CanIdentifier(e));
    *p++ = sep;
    const int n = CanDataLength(e);
    const std::uint8_t* data = CanData(e);
    for (int i = 0; i < 8; ++i) {
      if (i < n) {
        std::memcpy(p, hex_cells_[data[i]].data(), 4);  // two digits and the separator
        p += 3;
      } else {
        *p++ = sep;
      }
    }
    p = EndLine(p);
    return Commit(p) ? kRowWritten : kRowFailed;
  }
  if (cls == EntryClass::kExpression) {
    const int index = e[1];
    if (Le16(e + 2) != 0 || index >= setup_.layout.expression_count || !setup_.channels) {
      return kRowSkipped;
    }
    // A slot without expression text below the last used one is not an expression.
    const std::size_t column = static_cast<std::size_t>(setup_.layout.expression_first + index);
    if (column < setup_.columns.size() && !setup_.columns[column].used) return kRowSkipped;
    p = TimeCells(p, row);
    // The cell is assembled aside: whether it needs quotes is known only at its end.
    char cell[32 + numfmt::kMaxNumberChars];
    char* c = cell;
    static constexpr char kTag[] = "; EXPR: ";
    std::memcpy(c, kTag, sizeof kTag - 1);
    c += sizeof kTag - 1;
    std::string_view ex;
    if (setup_.logged_config) ex = TextOf(setup_.logged_config->Exp[index].ex);
    if (ex.size() > 16) ex = ex.substr(0, 16);
    std::memcpy(c, ex.data(), ex.size());
    c += ex.size();
    for (std::size_t i = ex.size(); i < 13; ++i) *c++ = ' ';
    *c++ = ' ';
    *c++ = '=';
    *c++ = ' ';
    char* num = c;
    // "%lg", with more digits where six would not give the expression's value back.
    const ChannelValue& value = setup_.channels[setup_.layout.expression_first + index];
    c = numfmt::GExact<6>(c, value.scaled, numfmt::ValueRule(6), value.value_type == kValueFloat32);
    if (setup_.decimal_separator != '.') numfmt::ReplacePeriods(num, c, setup_.decimal_separator);
    // The blanks of the layout itself do not count: the expression text and the value decide
    // (with the decimal comma as column separator the value holds one).
    const bool quote = NeedsQuotes(ex.data(), ex.size(), sep) ||
                       NeedsQuotes(num, static_cast<std::size_t>(c - num), sep);
    const std::size_t len = static_cast<std::size_t>(c - cell);
    if (quote) {
      p = QuotedText(p, cell, len);
    } else {
      std::memcpy(p, cell, len);
      p += len;
    }
    *p++ = '\r';
    *p++ = '\n';
    return Commit(p) ? kRowWritten : kRowFailed;
  }
  return kRowSkipped;
}

namespace {

// Which number a cell shows and how (kind 1 scaled double, 2 scaled other, 3 raw float, 4 raw
// integer): a column's cell text repeats while both stay the same.
inline std::uint64_t CellKey(const ChannelValue& v, bool scaled, std::uint8_t* kind) {
  if (scaled) {
    *kind = v.value_type == kValueFloat64 ? 1 : 2;
    return numfmt::LastText::Bits(v.scaled);
  }
  if (v.value_type == kValueFloat64 || v.is_float) {
    *kind = 3;
    return numfmt::LastText::Bits(v.raw_float);
  }
  *kind = 4;
  return static_cast<std::uint64_t>(v.raw);
}

}  // namespace

char* TextCsvWriter::SignalValue(char* p, int column) {
  const ChannelValue& v = setup_.channels[column];
  const bool quote = quote_;
  if (!v.valid) {
    std::memcpy(p, invalid_cell_.data(), invalid_cell_.size());
    return p + invalid_cell_.size();
  }
  if (v.value_type == kValueString) {
    p = QuotedText(p, v.text.data(), std::min(v.text.size(), kMaxCellText));
    *p++ = setup_.column_separator;
    return p;
  }
  if (is_gps_[static_cast<std::size_t>(column)] && setup_.gps_formatter) {
    // A GPS column's format may put any character into the cell.
    char text[kMaxCellText];
    const int gps_column = setup_.columns[static_cast<std::size_t>(column)].index_in_group;
    const int n = setup_.gps_formatter(setup_.gps_formatter_context, gps_column, text,
                                       static_cast<int>(kMaxCellText));
    char* end = text + std::max(n, 0);
    if (setup_.decimal_separator != '.') {
      numfmt::ReplacePeriods(text, end, setup_.decimal_separator);
    }
    return Cell(p, text, static_cast<std::size_t>(end - text), quote);
  }
  const numfmt::LastText& last = last_cells_[static_cast<std::size_t>(column)];
  return setup_.scaled_values ? KeptOrNewCell<true>(p, column, v, last)
                              : KeptOrNewCell<false>(p, column, v, last);
}

template <bool kScaled>
inline char* TextCsvWriter::KeptOrNewCell(char* p, int column, const ChannelValue& v,
                                          const numfmt::LastText& last) {
  std::uint8_t kind;
  const std::uint64_t key = CellKey(v, kScaled, &kind);
  // The row has room for a whole cell of any length here, so a fixed-size copy is safe.
  if (last.Holds(kind, key)) return last.CopyTo(p);
  return NumberCell(p, column, kind, key);
}

char* TextCsvWriter::NumberCell(char* p, int column, std::uint8_t kind, std::uint64_t key) {
  const ChannelValue& v = setup_.channels[column];
  const bool quote = quote_;
  char* const cell = p;
  if (quote) *p++ = '"';
  char* start = p;
  const CellRules& rules = rules_[static_cast<std::size_t>(column)];
  const bool single = v.value_type == kValueFloat32;
  switch (kind) {
    case 1:
      p = numfmt::GExact<11>(p, v.scaled, rules.scaled11, single);
      break;
    case 2:
      p = numfmt::GExactSignal<7>(p, v.scaled, v.raw, !v.is_float, rules.scaled7, single);
      break;
    case 3:
      p = numfmt::GExact<11>(p, v.raw_float, rules.raw11, single);
      break;
    default:
      // Raw integers are written as signed numbers: a sign-extended negative value would
      // otherwise appear as a 20-digit unsigned number.
      p = numfmt::Int(p, v.raw);
      break;
  }
  if (setup_.decimal_separator != '.') numfmt::ReplacePeriods(start, p, setup_.decimal_separator);
  if (quote) *p++ = '"';
  *p++ = setup_.column_separator;
  last_cells_[static_cast<std::size_t>(column)].Keep(kind, key, cell, p);
  return p;
}

template <bool kScaled>
char* TextCsvWriter::SignalCells(char* p, int count) {
  const ChannelValue* const channels = setup_.channels;
  const numfmt::LastText* const last_cells = last_cells_.data();
  const std::uint8_t* const is_gps = is_gps_.data();
  for (int c = 0; c < count; ++c) {
    // Most cells repeat the previous row's number: that case is decided and copied here, in
    // the loop; everything else (no value, texts, GPS columns) takes the full way.
    const ChannelValue& v = channels[c];
    if (v.valid && v.value_type != kValueString && !is_gps[c]) {
      p = KeptOrNewCell<kScaled>(p, c, v, last_cells[c]);
    } else {
      p = SignalValue(p, c);
    }
  }
  return p;
}

int TextCsvWriter::WriteSignalRow(const WriterRow& row) {
  char* p = TimeCells(BeginRow(), row);
  const int count = static_cast<int>(setup_.columns.size());
  if (setup_.channels) {
    p = setup_.scaled_values ? SignalCells<true>(p, count) : SignalCells<false>(p, count);
  }
  p = EndLine(p);
  return Commit(p) ? kRowWritten : kRowFailed;
}

// ---- Vector ASCII ----------------------------------------------------------------------------

std::size_t FormatVectorAsciiLine(char* out, double seconds, std::uint32_t id_word, int data_length,
                                  const std::uint8_t* data, numfmt::RowSeconds& seconds_text) {
  char* p = out;
  // "%9.4lf", through the kept text of the whole seconds; negative and huge times through the
  // general formatting.
  if (char* end = seconds_text.Write(p, seconds)) {
    p = end;
  } else {
    char num[numfmt::kMaxNumberChars];
    const int len = static_cast<int>(numfmt::Fixed(num, seconds, 4) - num);
    for (int i = len; i < 9; ++i) *p++ = ' ';
    std::memcpy(p, num, static_cast<std::size_t>(len));
    p += len;
  }
  // " %d  " channel
  *p++ = ' ';
  *p++ = static_cast<char>('0' + CanIdBus(id_word));
  *p++ = ' ';
  *p++ = ' ';
  const std::uint32_t id = id_word & kCanIdMask;
  if (id_word & kCanIdExtended) {
    p = numfmt::Hex8(p, id);
    *p++ = 'x';
  } else {
    p = numfmt::HexUpper(p, id);
  }
  *p++ = ' ';
  if (p - out < 29) {
    std::memset(p, ' ', 29);  // out has room for 96 characters
    p = out + 29;
  }
  static constexpr char kRx[] = "Rx   d ";
  std::memcpy(p, kRx, sizeof kRx - 1);
  p += sizeof kRx - 1;
  if (data_length > 8) data_length = 8;
  if (data_length < 0) data_length = 0;
  *p++ = static_cast<char>('0' + data_length);
  for (int i = 0; i < data_length; ++i) {
    // A blank and two hex digits; the fourth byte copied is overwritten next.
    const char cell[4] = {' ', numfmt::kHexDigits[data[i] >> 4], numfmt::kHexDigits[data[i] & 15],
                          '\0'};
    std::memcpy(p, cell, 4);
    p += 3;
  }
  *p = '\0';
  return static_cast<std::size_t>(p - out);
}

std::string VectorAsciiDateLine(double start_date) {
  const CivilTime c = ToCivil(start_date);
  std::string line = "date ";
  line += GermanWeekdayName(c.weekday);
  line += ' ';
  line += FormatTimePattern(start_date, "Mmm DD hh:mm:ss YYYY", true);
  return line;
}

int VectorAsciiWriter::Create(const WriterSetup& setup) {
  if (!OpenOutput(setup)) return 0;
  if (!setup.appending) start_time_ = setup.conversion_start_time;
  head_pending_ = file_is_empty();
  return 1;
}

void VectorAsciiWriter::SetConversionStart(double absolute_time) { start_time_ = absolute_time; }

bool VectorAsciiWriter::WriteHead() {
  head_pending_ = false;
  // Row times count from the start time, so the date line shows it too.
  std::string head = VectorAsciiDateLine(start_time_);
  head += "\r\nbase hex  timestamps absolute\r\ninternal events logged\r\n";
  return Write(head.data(), head.data() + head.size());
}

int VectorAsciiWriter::WriteRow(const WriterRow& row) {
  if (!row.entry || ClassifyEntry(row.entry) != EntryClass::kCanFrame) return kRowSkipped;
  if (head_pending_ && !WriteHead()) return kRowFailed;
  char* line = Reserve(128);
  const std::uint8_t* e = row.entry;
  std::size_t n = FormatVectorAsciiLine(line, row.elapsed, CanIdentifier(e), CanDataLength(e),
                                        CanData(e), seconds_text_);
  line[n++] = '\r';
  line[n++] = '\n';
  return Commit(line + n) ? kRowWritten : kRowFailed;
}

int VectorAsciiWriter::Finish(const WriterFinish& finish) {
  if (head_pending_ && !finish.more_follow && file_.is_open() && !WriteHead()) {
    TextFileWriter::Finish(finish);
    return 0;
  }
  return TextFileWriter::Finish(finish);
}

}  // namespace tessmar
