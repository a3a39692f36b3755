// Signals rows of the text writers (Text / CSV, DIAdem ASCII, ETAS ASCII) against rows built
// independently with printf: random recordings with sparse and dense value changes, scaled and
// raw values, integer and floating point channels, values becoming invalid and valid again, and
// every separator combination. The writers keep each column's last text and copy it while the
// value stays the same, so these runs check that a kept text is never shown for another value.
// A cell has the usual digits unless they do not give the value back at the signal's factor;
// the reference then adds digits one at a time with printf.

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/c_locale.h"
#include "tests/writers/writer_fixture.h"
#include "writers/writer.h"

namespace tessmar {
namespace {

constexpr int kSignals = 24;
constexpr int kRows = 3000;

constexpr double kFactors[] = {1, 0.1, 0.01, 0.001, 0.25, 0.05, 1e-7, 123.456};

// 24 signals of 1 to 24 bits (signed and unsigned) with their factors and offsets, a few of them
// 'D' signals with floating-point values, some single precision; new values for a share of the
// columns per row.
struct RandomRecording {
  test::TempFolder folder;
  test::WriterFixture f;
  std::mt19937_64 rng;
  std::uniform_real_distribution<double> unit{0, 1};

  RandomRecording(const char* file, std::uint64_t seed) : rng(seed) {
    for (int s = 0; s < kSignals; ++s) {
      f.Signal(s, ("S" + std::to_string(s)).c_str(), "u", Bits(s), Type(s), Factor(s),
               Type(s) != 'D' && s % 3 == 0 ? -40 : 0);
    }
    f.Finish(folder / file);
    f.setup.output_type = OutputType::kSignals;
    f.setup.headlines = 0;
  }
  static int Bits(int s) { return Type(s) == 'D' ? 64 : 1 + s % 24; }
  static char Type(int s) { return s % 5 == 4 ? 'D' : s % 2 ? 'S' : 'U'; }
  static double Factor(int s) { return Type(s) == 'D' ? 1 : kFactors[s % 8]; }

  void NewValue(int column) {
    const int s = column - f.SignalColumn(0);
    if (Type(s) == 'D') {
      f.SetFloat(column, (unit(rng) - 0.5) * std::pow(10.0, static_cast<int>(rng() % 24) - 8));
      // A single precision channel: its raw value is a floating-point number too.
      if (s % 10 == 9)
        f.channels[static_cast<std::size_t>(column)].value_type = kChannelTypeFloat32;
      return;
    }
    const int bits = Bits(s);
    const auto raw = static_cast<std::int64_t>(rng() >> (64 - bits)) -
                     (s % 2 ? std::int64_t{1} << (bits - 1) : 0);
    // Nearby values that print alike must still be told apart by their bits.
    const double jitter = s % 7 == 3 ? static_cast<double>(rng() % 3) * 1e-12 : 0;
    f.Set(column, static_cast<double>(raw) * kFactors[s % 8] - (s % 3 == 0 ? 40 : 0) + jitter, raw);
  }
  // Moves the values on to the next row.
  void Step(double change_share) {
    for (int c = f.SignalColumn(0); c < f.SignalColumn(0) + kSignals; ++c) {
      const double roll = unit(rng);
      if (roll < 0.01) {
        f.Invalidate(c);
      } else if (roll < change_share || !f.channels[static_cast<std::size_t>(c)].valid) {
        NewValue(c);
      }
    }
  }
  const ChannelValue& Value(int s) const {
    return f.channels[static_cast<std::size_t>(f.SignalColumn(s))];
  }
  // Writes kRows rows, calling expect_row(row text) before each.
  template <class ExpectRow>
  void Run(int format, double change_share, ExpectRow&& expect_row) {
    std::unique_ptr<Writer> w = CreateWriter(OutputType::kSignals, format);
    ASSERT_TRUE(w);
    f.setup.format_code = format;
    ASSERT_EQ(w->Create(f.setup), 1) << w->error_text();
    WriterRow row;
    for (int r = 0; r < kRows; ++r) {
      Step(change_share);
      expect_row();
      row.time = row.elapsed = 10 + r * 0.01;
      ASSERT_EQ(w->WriteRow(row), kRowWritten);
    }
    ASSERT_EQ(w->Finish(WriterFinish{kRows, false, false}), 1) << w->error_text();
  }
};

// "%.<digits>lg", with one more digit at a time until the text reads back within half a step
// (less a margin of 1e-4 of it).
std::string ExactPrintf(double v, int digits, double step) {
  char buf[64];
  for (;; ++digits) {
    SnprintfC(buf, sizeof buf, "%.*lg", digits, v);
    if (digits >= 17 || !std::isfinite(v) ||
        2 * std::fabs(StrtodC(buf, nullptr) - v) < step * (1 - 1e-4)) {
      return buf;
    }
  }
}

// The last `count` lines of text, without their CR LF, each split at sep.
std::vector<std::vector<std::string>> LastLines(const std::string& text, std::size_t count,
                                                char sep) {
  std::vector<std::vector<std::string>> lines;
  std::size_t end = text.size();
  while (lines.size() < count && end >= 2) {
    const std::size_t begin = text.rfind('\n', end - 3);
    const std::size_t from = begin == std::string::npos ? 0 : begin + 1;
    std::vector<std::string> cells(1);
    for (std::size_t i = from; i < end - 2; ++i) {
      if (text[i] == sep) {
        cells.emplace_back();
      } else {
        cells.back() += text[i];
      }
    }
    lines.insert(lines.begin(), std::move(cells));
    if (begin == std::string::npos) break;
    end = from;
  }
  return lines;
}

// One Text / CSV cell: quoted when the decimal separator is the column separator or the text
// holds the separator or a quote (quotes doubled).
std::string CsvCell(const std::string& text, char sep, bool quote_all) {
  if (!quote_all && text.find(sep) == std::string::npos && text.find('"') == std::string::npos) {
    return text;
  }
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string CsvNumber(const ChannelValue& v, double step, bool scaled, char decimal) {
  std::string text;
  if (scaled) {
    text = ExactPrintf(v.scaled, v.value_type == kChannelTypeFloat64 ? 11 : 7, step);
  } else if (v.value_type == kChannelTypeFloat64 || v.is_float) {
    // Raw values of a signal lie on whole numbers.
    text = ExactPrintf(v.raw_float, 11, 1);
  } else {
    text = std::to_string(v.raw);
  }
  for (char& c : text) {
    if (c == '.') c = decimal;
  }
  return text;
}

struct Combination {
  char column;
  char decimal;
  bool scaled;
  const char* invalid;
  double change_share;  // share of the columns that get a new value per row
};

class CsvSignalRows : public ::testing::TestWithParam<Combination> {};

TEST_P(CsvSignalRows, MatchPrintfRowByRow) {
  const Combination& k = GetParam();
  RandomRecording rec("out.csv", static_cast<std::uint64_t>(k.column) * 131 + k.decimal);
  rec.f.setup.column_separator = k.column;
  rec.f.setup.decimal_separator = k.decimal;
  rec.f.setup.scaled_values = k.scaled;
  rec.f.setup.invalid_value = k.invalid;
  const bool quote_all = k.column == k.decimal;
  std::string expect;
  rec.Run(kFormatCsvInternational, k.change_share, [&] {
    std::string line;
    for (int s = 0; s < kSignals; ++s) {
      const ChannelValue& v = rec.Value(s);
      line += CsvCell(v.valid ? CsvNumber(v, RandomRecording::Factor(s), k.scaled, k.decimal)
                              : std::string(k.invalid),
                      k.column, quote_all);
      line += k.column;
    }
    line.back() = '\r';
    expect += line + "\n";
  });
  const std::string got = test::ReadText(rec.folder / "out.csv");
  ASSERT_EQ(got.size(), expect.size());
  // The first differing line, not 500 KB of text, when they differ.
  for (std::size_t at = 0, next; at < expect.size(); at = next + 1) {
    next = expect.find('\n', at);
    ASSERT_EQ(got.substr(at, next - at), expect.substr(at, next - at)) << "at byte " << at;
  }
}

INSTANTIATE_TEST_SUITE_P(Combinations, CsvSignalRows,
                         ::testing::Values(Combination{',', '.', true, "-99999999", 0.05},
                                           Combination{',', '.', false, "-99999999", 0.9},
                                           Combination{';', ',', true, "", 0.3},
                                           Combination{';', ',', false, "n;a", 0.05},
                                           Combination{',', ',', true, "-99999999", 0.3},
                                           Combination{',', ',', false, "\"none\"", 0.05},
                                           Combination{'\t', '.', true, "x", 0.9},
                                           Combination{' ', ',', true, "no value", 0.3},
                                           Combination{' ', '.', false, "-1", 0.3}));

// Runs a random recording through a writer whose data lines hold `lead` cells before the values
// and `tail` after them, and compares the values with cell(value column, value, written file)
// row by row.
template <class CellText>
void CompareValueCells(int format, const char* file, const char* data_file, char sep, int lead,
                       int tail, CellText&& cell) {
  for (double share : {0.05, 0.9}) {
    RandomRecording rec(file, static_cast<std::uint64_t>(format));
    rec.f.setup.invalid_value = "-1";
    std::vector<std::vector<ChannelValue>> values;
    rec.Run(format, share, [&] {
      std::vector<ChannelValue>& row = values.emplace_back();
      for (int s = 0; s < kSignals; ++s) row.push_back(rec.Value(s));
    });
    const std::string text = test::ReadText(rec.folder / data_file);
    std::vector<std::vector<std::string>> expect;
    for (const std::vector<ChannelValue>& row_values : values) {
      std::vector<std::string>& row = expect.emplace_back(lead);
      for (int s = 0; s < kSignals; ++s) {
        const ChannelValue& v = row_values[static_cast<std::size_t>(s)];
        row.push_back(v.valid ? cell(s, v, text) : "-1");
      }
      row.resize(row.size() + static_cast<std::size_t>(tail));
    }
    auto got = LastLines(text, kRows, sep);
    ASSERT_EQ(got.size(), expect.size());
    for (std::size_t r = 0; r < got.size(); ++r) {
      for (int i = 0; i < lead; ++i) got[r][static_cast<std::size_t>(i)].clear();  // times
      ASSERT_EQ(got[r], expect[r]) << "row " << r;
    }
  }
}

// DIAdem ASCII (time implicit): "%lg" of every scaled value, or more digits.
TEST(AsciiSignalRows, DiademMatchesPrintf) {
  CompareValueCells(kFormatDiademAscii, "d.dat", "d.asc", ',', 0, 0,
                    [](int s, const ChannelValue& v, const std::string&) {
                      return ExactPrintf(v.scaled, 6, RandomRecording::Factor(s));
                    });
}

// ETAS ASCII: the row time, then 6 digits (or more) for the "f4" columns of the type line, 15 (or
// more) for the "f8" columns or the shortest text of a float for single precision values in
// them, and an empty cell after the last tab.
TEST(AsciiSignalRows, EtasMatchesPrintf) {
  CompareValueCells(kFormatEtasAscii, "e.ascii", "e.ascii", '\t', 1, 1,
                    [](int s, const ChannelValue& v, const std::string& file) {
                      // The type line is the fourth; the time's type comes first.
                      std::size_t at = 0;
                      for (int line = 0; line < 3; ++line) at = file.find('\n', at) + 1;
                      std::string_view cells(file.data() + at, file.find('\r', at) - at);
                      for (int skip = 0; skip <= s; ++skip)
                        cells.remove_prefix(cells.find('\t') + 1);
                      const std::string_view type = cells.substr(0, 2);
                      if (type == "f4") return ExactPrintf(v.scaled, 6, RandomRecording::Factor(s));
                      if (v.value_type != kChannelTypeFloat32) {
                        return ExactPrintf(v.scaled, 15, RandomRecording::Factor(s));
                      }
                      char buf[32];
                      return std::string(
                          buf, std::to_chars(buf, buf + 32, static_cast<float>(v.scaled)).ptr);
                    });
}

}  // namespace
}  // namespace tessmar
