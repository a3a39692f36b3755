// Tests of the recording simulator. Its output is checked with a deliberately simple decoder
// written here from the byte layout of a recording, not with the reader of logfile/.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "config/clc_file.h"
#include "config/scramble.h"
#include "logfile/simulator/entry_encoder.h"
#include "logfile/simulator/recording_simulator.h"
#include "logfile/simulator/sim_expression.h"

namespace tessmar {
namespace {

namespace fs = std::filesystem;

// ---- A small independent decoder
// -----------------------------------------------------------------

uint32_t Le32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Bit walk of a signal: least significant bit at sb, Intel upwards, Motorola downwards.
uint64_t Extract(const uint8_t* d, int sb, int nb, char bo) {
  uint64_t v = 0;
  int got = 0;
  int k = sb / 8, p = sb % 8;
  while (got < nb && k >= 0 && k < 8) {
    for (int b = p; b < 8 && got < nb; ++b) v |= static_cast<uint64_t>((d[k] >> b) & 1) << got++;
    p = 0;
    k += bo == 'M' ? -1 : 1;
  }
  return v;
}

struct Entry {
  uint64_t pos;
  std::vector<uint8_t> bytes;
};

struct Recording {
  std::string data;
  std::vector<std::string> header;  // text lines before "[BINARY_LOG_DATA]"
  std::size_t binary_pos = 0;
  std::size_t first_entry = 0;
  bool has_binary_header = false;
  std::vector<Entry> entries;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Recording Decode(const fs::path& path, int32_t key = 0) {
  Recording r;
  r.data = Slurp(path);
  std::size_t pos = 0;
  while (pos < r.data.size()) {
    const std::size_t eol = r.data.find("\r\n", pos);
    if (eol == std::string::npos) break;
    std::string line = r.data.substr(pos, eol - pos);
    pos = eol + 2;
    if (key != 0 && !line.starts_with("Encryption=") && !line.starts_with("[Common]")) {
      line = Unscrambled(line, key);
    }
    if (line == "[BINARY_LOG_DATA]") {
      r.binary_pos = pos;
      break;
    }
    r.header.push_back(line);
  }
  const auto* d = reinterpret_cast<const uint8_t*>(r.data.data());
  r.has_binary_header =
      r.binary_pos + 512 <= r.data.size() &&
      std::memcmp(d + r.binary_pos, "BinaryLogfileHeader\r\nSize=512 byte\r\n", 37) == 0;
  r.first_entry = r.binary_pos + (r.has_binary_header ? 512 : 0);
  for (std::size_t p = r.first_entry; r.binary_pos && p + 16 <= r.data.size();) {
    std::size_t len = 16;
    if (d[p] >= 0xC0) {
      const std::size_t n = d[p] & 0x0F;
      len = n ? n * 16 : Le16(d + p + 1);
      len = (len + 15) / 16 * 16;
    }
    if (p + len > r.data.size()) break;
    r.entries.push_back(Entry{p, std::vector<uint8_t>(d + p, d + p + len)});
    p += len;
  }
  return r;
}

bool IsTag(const Entry& e, const char* tag) {
  return e.bytes[0] >= 0x40 && e.bytes[0] < 0x80 && std::memcmp(&e.bytes[1], tag, 3) == 0;
}
bool IsDummy(const Entry& e) {
  return std::all_of(e.bytes.begin(), e.bytes.begin() + 8, [](uint8_t b) { return b == 0; });
}
int64_t TimDate(const Entry& e) {
  const uint8_t* b = &e.bytes[8];
  return sim::SecondsFromCivil(b[0] << 8 | b[1], b[2], b[3], b[4], b[5], b[6]);
}

LoggerConfiguration DemoConfig() {
  LoggerConfiguration c;
  EXPECT_TRUE(ReadClcFile(fs::path(TESSMAR_EXAMPLES_DIR) / "demo_logger.clc", c));
  return c;
}

class SimulatorTest : public ::testing::Test {
 protected:
  fs::path Out(const std::string& name) { return dir_ / name; }
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tessmar_sim_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

// ---- Entry layouts ----------------------------------------------------------------------------

TEST(EntryEncoder, TimeEntryHasBigEndianYearAndKnownSeconds) {
  sim::Slot s;
  sim::EncodeTimeEntry(s, 0x12345678, sim::CivilTime{2017, 10, 19, 12, 34, 56, 78});
  const uint8_t want[16] = {0x40, 't',  'i',  'm',  0x78, 0x56, 0x34, 0x12,
                            0x07, 0xE1, 0x0A, 0x13, 0x0C, 0x22, 0x38, 0x4E};
  EXPECT_EQ(0, std::memcmp(s, want, 16));
  EXPECT_EQ(1508416496, sim::SecondsFromCivil(2017, 10, 19, 12, 34, 56));
  const sim::CivilTime back = sim::CivilFromSeconds(1508416496.78);
  EXPECT_EQ(2017, back.year);
  EXPECT_EQ(19, back.day);
  EXPECT_EQ(56, back.second);
  EXPECT_EQ(78, back.hundredths);
  EXPECT_EQ(951782400, sim::SecondsFromCivil(2000, 2, 29, 0, 0, 0));  // leap day
}

TEST(EntryEncoder, CanFrameExpressionAndGpsFields) {
  const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  sim::Slot s;
  sim::EncodeCanFrame(s, 3, 0xAB123456, 0x40000123, data);
  EXPECT_EQ(3, s[0]);
  EXPECT_EQ(0x123456u, s[1] | s[2] << 8 | s[3] << 16);  // only the low 24 bits
  EXPECT_EQ(0x40000123u, Le32(s + 4));
  EXPECT_EQ(0, std::memcmp(s + 8, data, 8));

  const float v = 2.75f;
  sim::EncodeExpressionEntry(s, 63, 77, &v, nullptr);
  EXPECT_EQ(0x90, s[0]);
  EXPECT_EQ(63, s[1]);
  EXPECT_EQ(0, Le16(s + 2));
  EXPECT_EQ(77u, Le32(s + 4));
  float got;
  std::memcpy(&got, s + 8, 4);
  EXPECT_EQ(2.75f, got);
  EXPECT_EQ(0xFFFFFFFFu, Le32(s + 12));

  sim::GpsFix1 f{3, false, 9, 12, 4523456, sim::PackGpsDate(2017, 10, 19), -15};
  sim::EncodeGps1(s, 5, f);
  EXPECT_EQ(0xA1, s[0]);
  EXPECT_EQ(0xC9, s[1]);  // quality 3, valid, 9 satellites
  EXPECT_EQ(((17 << 9) | (10 << 5) | 19), Le16(s + 12));
  EXPECT_EQ(0xFFF1, Le16(s + 14));
  sim::EncodeGps2(s, -123, -18000000, 4000000);
  EXPECT_EQ(0xA2, s[0]);
  EXPECT_EQ(static_cast<uint32_t>(-18000000), Le32(s + 4));  // 50 degrees south
  EXPECT_EQ(static_cast<uint16_t>(-123), Le16(s + 2));
}

TEST(EntryEncoder, BulkBlocksInBothForms) {
  sim::BulkBlockBuilder b;
  b.Start(0x01020304, false);
  b.AddInteger(1, sim::BulkType::kUns16, 65535);
  b.AddInteger(2, sim::BulkType::kInt16, -1);
  auto one = b.Finish();
  ASSERT_EQ(16u, one.size());
  EXPECT_EQ(0xD1, one[0]);  // expression values, one slot
  EXPECT_EQ(0x01020304u, Le32(&one[1]));
  const uint8_t rec[] = {1, 6, 0xFF, 0xFF, 2, 3, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(0, std::memcmp(&one[5], rec, sizeof rec));

  b.Start(9, true);
  for (int i = 0; i < 9; ++i) b.AddFloat64(static_cast<uint8_t>(i), i * 0.5);  // 90 bytes
  b.AddString(10, "abc");
  auto big = b.Finish();
  const std::size_t length = Le16(&big[1]);
  EXPECT_EQ(0xD0, big[0]);
  EXPECT_EQ(7u + 90 + 6 + 1, length);  // head, float64 records, "abc" record, end
  EXPECT_EQ((length + 15) / 16 * 16, big.size());
  EXPECT_EQ(9u, Le32(&big[3]));
  EXPECT_EQ(17, big[8]);  // type of the first record
  EXPECT_EQ(255, big[length - 1]);
}

TEST(EntryEncoder, InsertBitsIsTheInverseOfTheBitWalk) {
  // Writing back the value a mapping reads leaves the frame unchanged (worked example frame).
  const uint8_t frame[8] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
  struct M {
    int sb, nb;
    char bo;
    uint64_t raw;
  } rows[] = {{4, 12, 'I', 0x341}, {12, 12, 'M', 0x123},  {8, 16, 'I', 0x5634},
              {36, 8, 'I', 0xC9},  {56, 16, 'M', 0xDEF0}, {60, 16, 'I', 0xF}};
  for (const auto& r : rows) {
    EXPECT_EQ(r.raw, Extract(frame, r.sb, r.nb, r.bo)) << r.sb;
    uint8_t d[8];
    std::memcpy(d, frame, 8);
    sim::InsertBits(d, r.sb, r.nb, r.bo, r.raw);
    EXPECT_EQ(0, std::memcmp(d, frame, 8)) << r.sb;
  }
  // Random mappings round-trip through zeros; bits outside the frame are dropped.
  uint64_t x = 88172645463325252ULL;
  for (int i = 0; i < 2000; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    const int sb = static_cast<int>(x % 64), nb = 1 + static_cast<int>((x >> 8) % 64);
    const char bo = (x >> 20) & 1 ? 'M' : 'I';
    uint8_t d[8] = {};
    sim::InsertBits(d, sb, nb, bo, x);
    const uint64_t got = Extract(d, sb, nb, bo);
    int bits = 0;
    for (uint64_t t =
             got | Extract(std::array<uint8_t, 8>{255, 255, 255, 255, 255, 255, 255, 255}.data(),
                           sb, nb, bo);
         t; t >>= 1)
      ++bits;
    const uint64_t mask = bits >= 64 ? ~0ULL : (1ULL << bits) - 1;
    EXPECT_EQ(x & mask, got) << sb << " " << nb << " " << bo;
  }
  uint8_t d[8] = {};
  EXPECT_EQ(0, sim::InsertBits(d, 64, 8, 'I', 0xFF));  // outside the frame: nothing written
  EXPECT_EQ(0, sim::InsertBits(d, 0, 0, 'I', 0xFF));
}

// ---- Whole recordings ---------------------------------------------------------------------------

TEST_F(SimulatorTest, DemoRecordingDecodesAsWritten) {
  const LoggerConfiguration cfg = DemoConfig();
  SimulatorOptions opt;
  opt.duration_s = 20;
  const SimulationResult res = SimulateRecording(cfg, opt, Out("demo.cld"));
  ASSERT_TRUE(res.ok) << res.error;
  const Recording r = Decode(Out("demo.cld"));

  // Text header: the configuration, then [LogFileInfo] with start date and counter.
  ASSERT_NE(0u, r.binary_pos);
  EXPECT_EQ(res.binary_pos, r.binary_pos);
  EXPECT_EQ("[Common]", r.header.front());
  EXPECT_NE(std::find(r.header.begin(), r.header.end(), "[LogFileInfo]"), r.header.end());
  EXPECT_NE(std::find(r.header.begin(), r.header.end(), "StartDate=2026-05-04 08:00:00"),
            r.header.end());
  EXPECT_EQ("StartTimestamp=" + std::to_string(res.start_timestamp), r.header.back());

  // Binary header fields.
  ASSERT_TRUE(r.has_binary_header);
  const auto* d = reinterpret_cast<const uint8_t*>(r.data.data()) + r.binary_pos;
  EXPECT_EQ(0, d[36]);
  EXPECT_EQ(static_cast<uint32_t>(res.eof_pos), Le32(d + 64));
  EXPECT_EQ(res.entries_in_file, Le32(d + 68));
  EXPECT_STREQ("Mar 14 2026", reinterpret_cast<const char*>(d + 160));

  // Entry stream: walk it with a 64-bit counter rebuilt from the stamps.
  ASSERT_EQ(res.entries_in_file, r.entries.size());
  EXPECT_EQ(r.data.size(), res.file_size);
  EXPECT_TRUE(IsTag(r.entries.front(), "tim"));
  EXPECT_TRUE(IsTag(r.entries.back(), "eof"));
  uint64_t counter = res.start_timestamp, frames = 0, tims = 0, gps1 = 0, gps2 = 0, bulk = 0,
           expr = 0;
  int64_t last_date = -1;
  uint64_t last_tim_counter = 0;
  const double f = res.timer_frequency;
  std::vector<int> mux_seen(16, 0);
  bool bus2 = false, extended = false;
  for (const auto& e : r.entries) {
    const uint8_t* b = e.bytes.data();
    uint32_t low = 0;
    if (b[0] < 0x40) {
      low = (static_cast<uint32_t>(counter) & 0xFF000000u) | (b[1] | b[2] << 8 | b[3] << 16);
      if (low < static_cast<uint32_t>(counter)) low += 0x1000000;  // 24-bit wrap
      ++frames;
      const uint32_t id = Le32(b + 4);
      bus2 |= (id & 0x40000000u) != 0;
      extended |= (id & 0x20000000u) != 0;
      if (id == 0x121) ++mux_seen[b[8] & 0x0F];
      if (id == 0x110) {  // MotorSpeed: Motorola, signed 16 bits at start bit 8
        const int16_t rpm = static_cast<int16_t>(Extract(b + 8, 8, 16, 'M'));
        EXPECT_LE(std::abs(rpm), 12000);
      }
      EXPECT_LE(b[0] & 0x0F, 8);
    } else if (b[0] == 0xA2) {
      ++gps2;
      continue;  // no timestamp
    } else {
      low = Le32(b + (b[0] >= 0xC0 ? ((b[0] & 0x0F) ? 1 : 3) : 4));
      if (b[0] == 0xA1) ++gps1;
      if (b[0] >= 0xD0 && b[0] < 0xE0) ++bulk;
      if (b[0] == 0x90) ++expr;
      if (IsTag(e, "tim")) {
        ++tims;
        const int64_t date = TimDate(e);
        if (last_date >= 0) {
          EXPECT_EQ(last_date + 1, date);  // one time entry per second
          EXPECT_NEAR(f, low - last_tim_counter, 2.0);
        }
        last_date = date;
        last_tim_counter = low;
      }
    }
    EXPECT_GE(low, static_cast<uint32_t>(counter)) << "counter ran backwards at " << e.pos;
    counter = low;
  }
  EXPECT_EQ(res.can_frames, frames);
  EXPECT_EQ(res.time_entries, tims);
  EXPECT_EQ(20u, tims);
  EXPECT_EQ(res.gps_fixes, gps1);
  EXPECT_EQ(gps1, gps2);
  EXPECT_EQ(res.bulk_blocks, bulk);
  EXPECT_EQ(res.expression_entries, expr);
  EXPECT_GT(mux_seen[0], 0);
  EXPECT_GT(mux_seen[1], 0);
  EXPECT_EQ(mux_seen[0] + mux_seen[1], std::accumulate(mux_seen.begin(), mux_seen.end(), 0));
  EXPECT_TRUE(bus2);
  EXPECT_TRUE(extended);
  EXPECT_NEAR(res.first_time, 1777881600.0, 0.001);
  EXPECT_NEAR(res.last_time - res.first_time, 20.0, 0.1);
}

TEST_F(SimulatorTest, SameSeedSameBytesOtherSeedOtherBytes) {
  const LoggerConfiguration cfg = DemoConfig();
  SimulatorOptions opt;
  opt.duration_s = 5;
  opt.seed = 42;
  opt.faults.dummy_blocks = true;
  ASSERT_TRUE(SimulateRecording(cfg, opt, Out("a.cld")).ok);
  ASSERT_TRUE(SimulateRecording(cfg, opt, Out("b.cld")).ok);
  opt.seed = 43;
  ASSERT_TRUE(SimulateRecording(cfg, opt, Out("c.cld")).ok);
  EXPECT_EQ(Slurp(Out("a.cld")), Slurp(Out("b.cld")));
  EXPECT_NE(Slurp(Out("a.cld")), Slurp(Out("c.cld")));
}

TEST_F(SimulatorTest, CircularFileWrapsAndEofFollowsTheNewestEntry) {
  const LoggerConfiguration cfg = DemoConfig();
  SimulatorOptions opt;
  opt.duration_s = 30;
  opt.fifo_size_kb = 64;
  opt.keep_entry_list = true;
  const SimulationResult res = SimulateRecording(cfg, opt, Out("fifo.cld"));
  ASSERT_TRUE(res.ok) << res.error;
  EXPECT_TRUE(res.wrapped);
  const Recording r = Decode(Out("fifo.cld"));
  EXPECT_LE(r.data.size(), 64u * 1024);
  EXPECT_NE(std::find(r.header.begin(), r.header.end(), "FifoMode=1"), r.header.end());
  ASSERT_EQ(res.entries.size(), r.entries.size());
  std::size_t eof = r.entries.size();
  for (std::size_t i = 0; i < r.entries.size(); ++i) {
    EXPECT_EQ(res.entries[i].file_pos, r.entries[i].pos);
    if (IsTag(r.entries[i], "eof")) eof = i;
  }
  ASSERT_LT(eof + 1, r.entries.size());  // in the middle: the file wrapped
  EXPECT_EQ(static_cast<int64_t>(r.entries[eof].pos), res.eof_pos);
  ASSERT_GT(eof, 0u);
  EXPECT_EQ(res.last_time, res.entries[eof - 1].time);  // the marker follows the newest entry
  for (const auto& en : res.entries) {
    if (en.kind != SimEntryKind::kEof) {
      EXPECT_LE(en.time, res.last_time);
    }
  }
  // Time entries read from behind the marker round to it are in order: oldest first.
  int64_t last = -1;
  int tims = 0;
  for (std::size_t n = 1; n < r.entries.size(); ++n) {
    const Entry& e = r.entries[(eof + n) % r.entries.size()];
    if (!IsTag(e, "tim")) continue;
    EXPECT_GT(TimDate(e), last);
    last = TimDate(e);
    ++tims;
  }
  EXPECT_GT(tims, 2);
  EXPECT_EQ(static_cast<uint64_t>(tims), res.time_entries);
  EXPECT_EQ(last, static_cast<int64_t>(std::floor(res.last_time)));
  EXPECT_GT(res.first_time, 1777881600.0 + 1.0);  // the start was overwritten
  std::size_t oldest = eof + 1;
  while (oldest < r.entries.size() && IsDummy(r.entries[oldest]))
    ++oldest;  // filler after the marker
  ASSERT_LT(oldest, r.entries.size());
  EXPECT_EQ(res.entries[oldest].time, res.first_time);
}

TEST_F(SimulatorTest, PasswordScramblesEveryHeaderLineAfterTheKey) {
  const LoggerConfiguration cfg = DemoConfig();
  SimulatorOptions opt;
  opt.duration_s = 2;
  opt.password = "Secret7";
  ASSERT_TRUE(SimulateRecording(cfg, opt, Out("p.cld")).ok);
  const std::string raw = Slurp(Out("p.cld"));
  const int32_t key = KeyFromPassword("Secret7");
  ASSERT_NE(0, key);
  EXPECT_NE(std::string::npos, raw.find("Encryption=" + std::to_string(key) + "\r\n"));
  EXPECT_EQ(std::string::npos, raw.find("[BINARY_LOG_DATA]"));
  EXPECT_EQ(std::string::npos, raw.find("[LogFileInfo]"));
  EXPECT_EQ(std::string::npos, raw.find("VehicleSpeed"));
  const Recording r = Decode(Out("p.cld"), key);
  ASSERT_NE(0u, r.binary_pos);
  EXPECT_NE(std::find(r.header.begin(), r.header.end(), "Password1=\"Secret7\""), r.header.end());
  EXPECT_NE(std::find(r.header.begin(), r.header.end(), "[LogFileInfo]"), r.header.end());
  ASSERT_TRUE(r.has_binary_header);  // the binary part is never scrambled
  EXPECT_TRUE(IsTag(r.entries.front(), "tim"));
}

TEST_F(SimulatorTest, WithoutBinaryHeaderEntriesStartAtOnce) {
  SimulatorOptions opt;
  opt.duration_s = 2;
  opt.binary_header = false;
  opt.gps = false;
  const SimulationResult res = SimulateRecording(DemoConfig(), opt, Out("n.cld"));
  ASSERT_TRUE(res.ok);
  const Recording r = Decode(Out("n.cld"));
  EXPECT_FALSE(r.has_binary_header);
  EXPECT_EQ(r.binary_pos, r.first_entry);
  EXPECT_TRUE(IsTag(r.entries.front(), "tim"));
  EXPECT_EQ(0u, res.gps_fixes);
  for (const auto& e : r.entries) EXPECT_FALSE(e.bytes[0] == 0xA1 || e.bytes[0] == 0xA2);
}

// ---- Faults -------------------------------------------------------------------------------------

TEST_F(SimulatorTest, CounterFaultsLookAsTheLoggerWritesThem) {
  SimulatorOptions opt;
  opt.duration_s = 20;
  opt.faults.lost_carry = true;
  opt.faults.counter_restart = true;
  opt.faults.wrap24 = true;
  const SimulationResult res = SimulateRecording(DemoConfig(), opt, Out("f.cld"));
  ASSERT_TRUE(res.ok) << res.error;
  const Recording r = Decode(Out("f.cld"));
  EXPECT_EQ(0x1000000u - static_cast<uint32_t>(0.5 * res.timer_frequency), res.start_timestamp);

  uint32_t prev = res.start_timestamp;    // low 32 bits of the last timed entry
  uint32_t prev_frame = prev & 0xFFFFFF;  // stamp of the last CAN frame
  int wraps = 0, lost_carries = 0, restarts = 0;
  int64_t last_date = -1;
  bool date_jump_after_restart = false;
  for (const auto& e : r.entries) {
    const uint8_t* b = e.bytes.data();
    if (b[0] == 0xA2) continue;
    if (b[0] < 0x40) {
      const uint32_t stamp = b[1] | b[2] << 8 | b[3] << 16;
      const uint32_t prev24 = prev & 0xFFFFFF;
      if (prev_frame > 0xF00000 && stamp < 0x100000) ++wraps;
      prev_frame = stamp;
      if (stamp < prev24 && !(prev24 > 0xF00000 && stamp < 0x100000)) {
        if ((stamp >> 16) == (prev24 >> 16) && (stamp & 0xFFFF) < 0xFF &&
            (prev24 & 0xFFFF) > 0xFF00) {
          ++lost_carries;
          prev = (prev & 0xFF000000u) | (stamp + 0x10000);
          continue;
        } else {
          ++restarts;
        }
      }
      prev = (prev & 0xFF000000u) | stamp;
    } else {
      prev = Le32(b + (b[0] >= 0xC0 ? ((b[0] & 0x0F) ? 1 : 3) : 4));
      if (IsTag(e, "tim")) {
        const int64_t date = TimDate(e);
        if (restarts && last_date >= 0 && date - last_date > 30) date_jump_after_restart = true;
        last_date = date;
      }
    }
  }
  EXPECT_EQ(1, wraps);
  EXPECT_EQ(1, lost_carries);
  EXPECT_EQ(1, restarts);
  EXPECT_TRUE(date_jump_after_restart);
  EXPECT_EQ(3u, res.faults.size());
}

TEST_F(SimulatorTest, FileFaultsDummyBlocksBadClockTruncation) {
  SimulatorOptions opt;
  opt.duration_s = 10;
  opt.gps = true;
  opt.faults.dummy_blocks = true;
  opt.faults.bad_rtc_date = true;
  opt.faults.truncated_end = true;
  const SimulationResult res = SimulateRecording(DemoConfig(), opt, Out("t.cld"));
  ASSERT_TRUE(res.ok) << res.error;
  const Recording r = Decode(Out("t.cld"));
  EXPECT_NE(std::find(r.header.begin(), r.header.end(), "StartDate=1999-12-31 23:50:00"),
            r.header.end());
  EXPECT_EQ(-1, res.eof_pos);
  EXPECT_NE(0u, (r.data.size() - r.first_entry) % 16);  // ends inside an entry
  EXPECT_EQ(res.entries_in_file, r.entries.size());
  uint64_t dummies = 0;
  for (const auto& e : r.entries) {
    EXPECT_FALSE(IsTag(e, "eof"));
    if (IsDummy(e)) ++dummies;
    if (IsTag(e, "tim")) {
      EXPECT_EQ(1999, e.bytes[8] << 8 | e.bytes[9]);
    }
    if (e.bytes[0] == 0xA1 && Le16(&e.bytes[12]) != 0) {
      EXPECT_EQ(26, Le16(&e.bytes[12]) >> 9);  // GPS keeps the true date: 2026
    }
  }
  EXPECT_EQ(res.dummy_blocks, dummies);
  EXPECT_GE(dummies, 3u);
}

TEST_F(SimulatorTest, OddEntriesAreWholeSlotsOfTheIgnoredClasses) {
  SimulatorOptions opt;
  opt.duration_s = 4;
  opt.faults.odd_entries = true;
  opt.keep_entry_list = true;
  const SimulationResult res = SimulateRecording(DemoConfig(), opt, Out("o.cld"));
  ASSERT_TRUE(res.ok) << res.error;
  const Recording r = Decode(Out("o.cld"));
  ASSERT_EQ(res.entries.size(), r.entries.size());  // the stream stays in step
  EXPECT_EQ(8u, res.other_entries);
  int unknown_markers = 0, other_bulk = 0, free_slot_frames = 0, long_dlc = 0, unused_expr = 0,
      text = 0;
  for (const auto& e : r.entries) {
    const uint8_t* b = e.bytes.data();
    if (b[0] >= 0x40 && b[0] < 0x80 && !IsTag(e, "tim") && !IsTag(e, "pre") && !IsTag(e, "tri") &&
        !IsTag(e, "eof")) {
      ++unknown_markers;
    }
    if (b[0] == 0xC3 || b[0] == 0xE0) {
      ++other_bulk;
      EXPECT_EQ(48u, e.bytes.size());
    }
    if (b[0] < 0x40 && Le32(b + 4) == 0xFFFFFFFFu) ++free_slot_frames;
    if (b[0] == 0x0F) ++long_dlc;
    if (b[0] == 0x90 && Le16(b + 2) != 0) ++unused_expr;
    if (b[0] == 0xD0 && e.bytes.size() > 9 && b[8] == 9) {
      EXPECT_EQ(0, std::memcmp(b + 9, "odd entry", 10));  // index, type 9, text and its zero
      EXPECT_EQ(b[7], b[19]);                             // then an "octets" record
      EXPECT_EQ(10, b[20]);
      EXPECT_EQ(b[7], b[21]);  // and an "unknown" one
      EXPECT_EQ(0, b[22]);
      EXPECT_EQ(255, b[23]);  // end of the block
      ++text;
    }
  }
  EXPECT_EQ(2, unknown_markers);
  EXPECT_EQ(2, other_bulk);
  EXPECT_EQ(1, free_slot_frames);
  EXPECT_EQ(1, long_dlc);
  EXPECT_EQ(1, unused_expr);
  EXPECT_EQ(1, text);
}

TEST_F(SimulatorTest, BadOptionsAreRefusedWithAMessage) {
  SimulatorOptions opt;
  opt.duration_s = -1;
  SimulationResult res = SimulateRecording(DemoConfig(), opt, Out("x.cld"));
  EXPECT_FALSE(res.ok);
  EXPECT_FALSE(res.error.empty());
  opt.duration_s = 1;
  opt.fifo_size_kb = 1;  // smaller than the header
  res = SimulateRecording(DemoConfig(), opt, Out("x.cld"));
  EXPECT_FALSE(res.ok);
  opt.fifo_size_kb = 0;
  res = SimulateRecording(LoggerConfiguration{}, opt, Out("x.cld"));
  EXPECT_FALSE(res.ok);
  EXPECT_EQ("The configuration logs no CAN message.", res.error);
  res = SimulateRecording(DemoConfig(), opt, dir_ / "no_such_dir" / "x.cld");
  EXPECT_FALSE(res.ok);
}

TEST_F(SimulatorTest, HostileSignalDefinitionsGiveAFileNotACrash) {
  LoggerConfiguration c;
  auto add = [&](int slot, const char* name, char ty, char bo, int sb, int nb, double fa, double mi,
                 double ma) {
    T_CanLog_SigDef& s = c.sigs[slot];
    SetText(s.sn, name);
    s.id = 0x123;
    s.ty = ty;
    s.bo = bo;
    s.sb = static_cast<int16_t>(sb);
    s.nb = static_cast<int16_t>(nb);
    s.fa = fa;
    s.mi = mi;
    s.ma = ma;
  };
  add(0, "Huge", 'S', 'I', 0, 64, 1.0, -1e308, 1e308);
  add(1, "Tiny", 'U', 'M', 63, 64, 1e-300, 0, 1);
  add(2, "NotANumber", 'F', 'I', 0, 32, std::nan(""), 0, 1);
  add(3, "Outside", 'U', 'I', 99, 8, 1.0, 0, 1);
  add(4, "NoBits", 'U', 'I', 0, 0, 1.0, 0, 1);
  add(5, "Wide", 'D', 'M', 7, 200, 0.0, 5, 5);
  c.sigs[5].mu.MuxBitCount = 70;
  c.sigs[5].mu.MuxStartBit = -3;
  SetText(c.cfg.Exp[63].ex, "x");
  c.cfg.Exp[63].mi = 1e308;
  c.cfg.Exp[63].ma = -1e308;
  SimulatorOptions opt;
  opt.duration_s = 3;
  opt.bus_load_percent = 200;
  const SimulationResult res = SimulateRecording(c, opt, Out("h.cld"));
  ASSERT_TRUE(res.ok) << res.error;
  const Recording r = Decode(Out("h.cld"));
  EXPECT_EQ(res.entries_in_file, r.entries.size());
  EXPECT_NEAR(3 * 8000.0, static_cast<double>(res.can_frames), 3 * 8000.0 * 0.02);  // 200 % load
  for (const auto& ch : res.signals) {
    EXPECT_TRUE(std::isfinite(ch.min) && std::isfinite(ch.max)) << ch.name;
  }
  EXPECT_EQ(res.signals[2].count, res.signals[2].nan_count);
}

// ---- Expressions on the simulated signals ------------------------------------------------------

TEST(SimExpression, PrecedenceParenthesesAndWhatIsNotCompiled) {
  const auto lookup = [](std::string_view name) {
    return name == "A" ? 0 : name == "B.x" ? 1 : -1;
  };
  const double values[] = {6.0, 2.0};
  sim::SimExpression x;
  ASSERT_TRUE(x.Compile("A + B.x * 3 - -1", lookup));
  EXPECT_DOUBLE_EQ(x.Evaluate(values), 13.0);
  ASSERT_TRUE(x.Compile(" (A + B.x) / 4 ", lookup));
  EXPECT_DOUBLE_EQ(x.Evaluate(values), 2.0);
  ASSERT_TRUE(x.Compile("A - B.x - 1", lookup));  // left to right within one level
  EXPECT_DOUBLE_EQ(x.Evaluate(values), 3.0);
  ASSERT_TRUE(x.Compile("A / (B.x - 2)", lookup));
  EXPECT_FALSE(std::isfinite(x.Evaluate(values)));
  for (const char* text : {"", "A +", "(A", "A B.x", "C * 2", "sqrt(A)", "A % 2"}) {
    EXPECT_FALSE(x.Compile(text, lookup)) << text;
    EXPECT_FALSE(x.compiled()) << text;
  }
}

TEST_F(SimulatorTest, ExpressionsCarryTheirValueOnTheSimulatedSignals) {
  LoggerConfiguration cfg = DemoConfig();
  for (auto& e : cfg.cfg.Exp) e = T_CanLog_ExprDef{};
  SetText(cfg.cfg.Exp[0].ex, "VehicleSpeed/3.6");
  SetText(cfg.cfg.Exp[0].na, "SpeedMps");
  SetText(cfg.cfg.Exp[1].ex, "gps.speed");  // no signal: keeps a moving value of its own
  SimulatorOptions opt;
  opt.duration_s = 10;
  const SimulationResult res = SimulateRecording(cfg, opt, Out("expr.cld"));
  ASSERT_TRUE(res.ok) << res.error;
  const Recording r = Decode(Out("expr.cld"));
  double speed = -1;
  int compared = 0, other = 0;
  for (const auto& e : r.entries) {
    const uint8_t* b = e.bytes.data();
    if (b[0] < 0x40 && Le32(b + 4) == 0x100) speed = Extract(b + 8, 0, 16, 'I') * 0.01;
    if (b[0] != 0x90 || b[1] != 0) continue;
    float value, second;
    std::memcpy(&value, b + 8, 4);
    std::memcpy(&second, b + 12, 4);
    if (Le32(b + 12) != 0xFFFFFFFFu) ++other;
    if (speed < 0) continue;  // before the first frame the signal's start value counts
    EXPECT_NEAR(value, speed / 3.6, 1e-4 * std::max(1.0, speed)) << "at " << e.pos;
    ++compared;
  }
  EXPECT_GT(compared, 50);
  EXPECT_GT(other, 50);
}

}  // namespace
}  // namespace tessmar
