// Signals rows of the Text / CSV writer against rows built independently with printf: random
// recordings with sparse and dense value changes, scaled and raw values, integer and floating
// point channels, values becoming invalid and valid again, and every separator combination.
// The writer keeps each column's last cell and copies it while the value stays the same, so
// these runs check that a kept cell is never shown for a different value or setup.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "common/c_locale.h"
#include "tests/writers/writer_fixture.h"
#include "writers/writer.h"

namespace tessmar {
namespace {

// One cell as the writer must show it: quoted when the decimal separator is the column separator
// or the text holds the separator or a quote (quotes doubled).
std::string Cell(const std::string& text, char sep, bool quote_all) {
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

std::string Number(const ChannelValue& v, bool scaled, char decimal) {
  char buf[64];
  if (scaled) {
    SnprintfC(buf, sizeof buf, v.value_type == kChannelTypeFloat64 ? "%.11lg" : "%.7lg", v.scaled);
  } else if (v.value_type == kChannelTypeFloat64 || v.is_float) {
    SnprintfC(buf, sizeof buf, "%.11lg", v.raw_float);
  } else {
    SnprintfC(buf, sizeof buf, "%lld", static_cast<long long>(v.raw));
  }
  std::string text = buf;
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

class SignalRows : public ::testing::TestWithParam<Combination> {};

TEST_P(SignalRows, MatchPrintfRowByRow) {
  const Combination& k = GetParam();
  test::TempFolder folder;
  test::WriterFixture f;
  constexpr int kSignals = 24;
  for (int s = 0; s < kSignals; ++s) {
    f.Signal(s, ("S" + std::to_string(s)).c_str(), "u", 1 + s % 32, s % 2 ? 'S' : 'U');
  }
  f.Finish(folder / "out.csv");
  f.setup.output_type = OutputType::kSignals;
  f.setup.format_code = kFormatCsvInternational;
  f.setup.headlines = 0;
  f.setup.column_separator = k.column;
  f.setup.decimal_separator = k.decimal;
  f.setup.scaled_values = k.scaled;
  f.setup.invalid_value = k.invalid;

  std::mt19937_64 rng(static_cast<std::uint64_t>(k.column) * 131 + k.decimal + k.scaled);
  std::uniform_real_distribution<double> unit(0, 1);
  const double factors[] = {1, 0.1, 0.01, 0.001, 0.25, 0.05, 1e-7, 123.456};
  auto new_value = [&](int column) {
    const int s = column - f.SignalColumn(0);
    if (s % 5 == 4) {
      f.SetFloat(column, (unit(rng) - 0.5) * std::pow(10.0, static_cast<int>(rng() % 24) - 8));
      // A single precision channel: its raw value is a floating-point number too.
      if (s % 10 == 9) f.channels[static_cast<std::size_t>(column)].value_type = kChannelTypeFloat32;
      return;
    }
    const int bits = 1 + s % 32;
    const auto raw = static_cast<std::int64_t>(rng() >> (64 - bits)) - (s % 2 ? std::int64_t{1} << (bits - 1) : 0);
    // Nearby values that print the same at 7 digits must still be told apart by their bits.
    const double jitter = s % 7 == 3 ? static_cast<double>(rng() % 3) * 1e-12 : 0;
    f.Set(column, static_cast<double>(raw) * factors[s % 8] - (s % 3 == 0 ? 40 : 0) + jitter, raw);
  };

  std::unique_ptr<Writer> w = CreateWriter(OutputType::kSignals, kFormatCsvInternational);
  ASSERT_TRUE(w);
  ASSERT_EQ(w->Create(f.setup), 1);
  const bool quote_all = k.column == k.decimal;
  std::string expect;
  WriterRow row;
  for (int r = 0; r < 3000; ++r) {
    for (int c = 0; c < f.setup.layout.total; ++c) {
      if (c >= f.SignalColumn(0) + kSignals) continue;
      const double roll = unit(rng);
      if (roll < 0.01) {
        f.Invalidate(c);
      } else if (roll < k.change_share || !f.channels[static_cast<std::size_t>(c)].valid) {
        new_value(c);
      }
    }
    std::string line;
    for (int c = 0; c < f.setup.layout.total; ++c) {
      const ChannelValue& v = f.channels[static_cast<std::size_t>(c)];
      line += Cell(v.valid ? Number(v, k.scaled, k.decimal) : std::string(k.invalid), k.column,
                   quote_all);
      line += k.column;
    }
    line.back() = '\r';
    expect += line + "\n";
    row.time = row.elapsed = r * 0.01;
    ASSERT_EQ(w->WriteRow(row), kRowWritten);
  }
  ASSERT_EQ(w->Finish(WriterFinish{3000, false, false}), 1);
  const std::string got = test::ReadText(folder / "out.csv");
  ASSERT_EQ(got.size(), expect.size());
  // The first differing line, not 500 KB of text, when they differ.
  for (std::size_t at = 0, next; at < expect.size(); at = next + 1) {
    next = expect.find('\n', at);
    ASSERT_EQ(got.substr(at, next - at), expect.substr(at, next - at)) << "at byte " << at;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, SignalRows,
    ::testing::Values(Combination{',', '.', true, "-99999999", 0.05},
                      Combination{',', '.', false, "-99999999", 0.9},
                      Combination{';', ',', true, "", 0.3}, Combination{';', ',', false, "n;a", 0.05},
                      Combination{',', ',', true, "-99999999", 0.3},
                      Combination{',', ',', false, "\"none\"", 0.05},
                      Combination{'\t', '.', true, "x", 0.9}, Combination{' ', ',', true, "no value", 0.3},
                      Combination{' ', '.', false, "-1", 0.3}));

}  // namespace
}  // namespace tessmar
