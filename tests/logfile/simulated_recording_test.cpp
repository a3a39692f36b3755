// Recordings written by the simulator, read back through reader, pre-scan, clock and values and
// compared with what the simulator says it wrote.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "common/message_output.h"
#include "config/clc_file.h"
#include "logfile/log_header.h"
#include "logfile/pre_scan.h"
#include "logfile/simulator/recording_simulator.h"
#include "tests/logfile/recording_builder.h"

namespace tessmar {
namespace {

struct Pass {
  SimulationResult sim;
  LogHeader header;
  PreScanResult scan;
  DecodeMessages msgs;
  std::vector<ChannelValue> channels;
  ColumnLayout layout;
  T_CanLog_SigTab sigs;
  uint64_t entries_read = 0;
  double worst_time_error = 0;  // largest |absolute time - true time| of a CAN frame
  bool monotonic = true;
  int errors_before_pass = 0;
};

void ReadBack(const SimulatorOptions& options, Pass* p) {
  testing::TempFolder tmp;
  LoggerConfiguration config;
  ASSERT_TRUE(ReadClcFile(std::string(TESSMAR_EXAMPLES_DIR) + "/demo_logger.clc", config));
  SimulatorOptions o = options;
  o.keep_entry_list = true;
  const auto path = tmp.File("sim.cld");
  p->sim = SimulateRecording(config, o, path);
  ASSERT_TRUE(p->sim.ok) << p->sim.error;

  CldReader reader;
  ASSERT_TRUE(reader.Open(path));
  T_CanLog_Config cfg;
  p->header = ReadLogHeader(reader, cfg, p->sigs);
  ASSERT_EQ(static_cast<uint64_t>(p->header.binary_position), p->sim.binary_pos);
  reader.ReadBinaryHeader(p->header.binary_position);
  ASSERT_EQ(static_cast<uint64_t>(reader.FirstEntryPosition()), p->sim.first_entry_pos);

  p->layout = CountColumns(p->sigs, cfg, 0, false);
  SignalDecoder decoder;
  decoder.Build(p->sigs, p->layout);
  p->channels.assign(static_cast<size_t>(p->layout.total), ChannelValue{});
  InitChannelRanges(p->channels, p->layout, p->sigs);
  RunningClock clock;
  PreScanSetup setup;
  setup.file_name = "sim.cld";
  setup.start = p->header.start;
  setup.frequency = CheckTimerFrequency(p->header, &p->msgs);
  setup.new_file_on_startup = cfg.NewFileOnStartup != 0;
  setup.circular = cfg.FifoMode != 0;
  setup.layout = &p->layout;
  setup.signals = &decoder;
  setup.channels = p->channels;
  p->scan = RunPreScan(reader, clock, p->msgs, setup);
  ASSERT_TRUE(p->scan.completed);
  p->errors_before_pass = p->msgs.error_count;

  std::map<int64_t, double> truth;
  for (const SimulatedEntry& e : p->sim.entries) truth[static_cast<int64_t>(e.file_pos)] = e.time;

  clock.BeginPass(ClockPass::kConversion);
  ClearChannelValues(p->channels);
  reader.SetPosition(p->scan.oldest_position, static_cast<uint32_t>(p->scan.oldest_index));
  LogEntry e;
  ExtTime last = -1;
  for (uint32_t i = 0; i < p->scan.entry_count; ++i) {
    if (!reader.NextEntry(&e, &p->msgs)) {
      reader.SetPosition(reader.FirstEntryPosition(), 0);
      if (!reader.NextEntry(&e, &p->msgs)) break;
    }
    ++p->entries_read;
    clock.ApplyEntry(e);
    if (e.cls == EntryClass::kCanFrame && clock.TimeEntrySeenInPass() && !IsDummyBlock(e.bytes)) {
      decoder.DecodeFrame(CanIdentifier(e.bytes), CanData(e.bytes), p->channels.data());
      const ExtTime t = clock.AbsoluteTime();
      if (t < last) p->monotonic = false;
      last = t;
      const auto it = truth.find(e.position);
      if (it != truth.end()) {
        p->worst_time_error =
            std::max(p->worst_time_error, std::fabs(static_cast<double>(t) - it->second));
      }
    } else if (e.cls == EntryClass::kExpression) {
      ApplyExpressionEntry(DecodeExpressionEntry(e.bytes), p->layout, p->channels.data(), false);
    } else if (e.cls == EntryClass::kBulkExpression) {
      DecodeBulkBlock(e, p->layout, p->channels.data(), false);
    }
  }
}

// True time of the first entry of a kind in recording order (smallest time), -1 if none.
double OldestOfKind(const SimulationResult& sim, SimEntryKind kind) {
  double best = -1;
  for (const SimulatedEntry& e : sim.entries) {
    if (e.kind == kind && (best < 0 || e.time < best)) best = e.time;
  }
  return best;
}

TEST(SimulatedRecording, LinearFileReadsBackExactly) {
  MessageCapture capture;
  Pass p;
  SimulatorOptions o;
  o.duration_s = 20;
  o.seed = 3;
  o.fifo_size_kb = 0;
  ReadBack(o, &p);
  EXPECT_EQ(p.scan.entry_count, p.sim.entries_in_file);
  EXPECT_EQ(p.entries_read, p.sim.entries_in_file);
  EXPECT_TRUE(p.scan.found_eof);
  EXPECT_EQ(p.scan.oldest_index, 0);
  EXPECT_EQ(p.msgs.error_count, 0);
  EXPECT_TRUE(p.monotonic);
  EXPECT_LT(p.worst_time_error, 0.011);
  EXPECT_NEAR(static_cast<double>(p.scan.oldest_time), p.sim.first_time, 0.011);
  // Every signal the simulator wrote got a value, inside the range it reports.
  for (size_t i = 0; i < p.sim.signals.size(); ++i) {
    const SimulatedChannel& s = p.sim.signals[i];
    if (s.count == 0) continue;
    int slot = FindSignalByName(p.sigs, s.name);
    ASSERT_GE(slot, 0) << s.name;
    const ChannelValue& c = p.channels[static_cast<size_t>(p.layout.signal_first + slot)];
    EXPECT_TRUE(c.valid) << s.name;
    EXPECT_LE(c.minimum, s.min + 1e-6 * std::fabs(s.min) + 1e-9) << s.name;
    EXPECT_GE(c.maximum, s.max - 1e-6 * std::fabs(s.max) - 1e-9) << s.name;
  }
}

TEST(SimulatedRecording, WrappedCircularFileStartsAtItsOldestEntry) {
  for (uint64_t seed : {1u, 2u, 5u}) {
    MessageCapture capture;
    Pass p;
    SimulatorOptions o;
    o.duration_s = 60;
    o.seed = seed;
    o.fifo_size_kb = 64;
    o.bus_load_percent = 20;
    ReadBack(o, &p);
    ASSERT_TRUE(p.sim.wrapped);
    EXPECT_TRUE(p.scan.found_eof);
    // The oldest entry is the one behind the "eof" marker; the oldest time is that of the first
    // surviving time entry.
    EXPECT_EQ(p.scan.oldest_position, p.sim.eof_pos + 16) << "seed " << seed;
    EXPECT_NEAR(static_cast<double>(p.scan.oldest_time), OldestOfKind(p.sim, SimEntryKind::kTime),
                0.011);
    EXPECT_EQ(p.scan.entry_count, p.sim.entries_in_file);
    EXPECT_EQ(p.entries_read, p.sim.entries_in_file);
    EXPECT_EQ(p.msgs.error_count, 0) << "seed " << seed;
    EXPECT_TRUE(p.monotonic);
    EXPECT_LT(p.worst_time_error, 0.011) << "seed " << seed;
  }
}

// Power lost in a circular file: no "eof" marker tells where the newest entry ends. Every entry
// is still read once, in recording order, at its own time.
TEST(SimulatedRecording, TruncatedCircularFileStartsBehindItsNewestEntry) {
  for (uint64_t seed : {1u, 2u, 3u, 7u}) {
    MessageCapture capture;
    Pass p;
    SimulatorOptions o;
    o.duration_s = 120;
    o.seed = seed;
    o.fifo_size_kb = 64;
    o.gps = seed % 2 == 1;
    o.faults.truncated_end = true;
    ReadBack(o, &p);
    ASSERT_TRUE(p.sim.wrapped);
    EXPECT_FALSE(p.scan.found_eof);
    double oldest = -1;
    int64_t oldest_position = -1;
    for (const SimulatedEntry& e : p.sim.entries) {
      if (e.kind != SimEntryKind::kDummy && (oldest < 0 || e.time < oldest)) {
        oldest = e.time;
        oldest_position = static_cast<int64_t>(e.file_pos);
      }
    }
    EXPECT_EQ(p.scan.oldest_position, oldest_position) << "seed " << seed;
    EXPECT_EQ(p.entries_read, p.sim.entries_in_file) << "seed " << seed;
    EXPECT_EQ(p.msgs.error_count, 1) << "only the missing end marker, seed " << seed;
    EXPECT_TRUE(p.monotonic) << "seed " << seed;
    EXPECT_LT(p.worst_time_error, 0.011) << "seed " << seed;
  }
}

TEST(SimulatedRecording, CounterDefectsAreRepaired) {
  MessageCapture capture;
  Pass p;
  SimulatorOptions o;
  o.duration_s = 30;
  o.seed = 9;
  o.fifo_size_kb = 0;
  o.faults.wrap24 = true;
  o.faults.lost_carry = true;
  o.faults.dummy_blocks = true;
  ReadBack(o, &p);
  EXPECT_EQ(p.msgs.error_count, 0);
  EXPECT_TRUE(p.monotonic);
  EXPECT_LT(p.worst_time_error, 0.011);
  EXPECT_TRUE(capture.Contains("Warning: Skipped an 'all-zero' dummy block at filepos="));
}

TEST(SimulatedRecording, CounterRestartIsBridgedThenResynchronisedByTheNextTimeEntry) {
  MessageCapture capture;
  Pass p;
  SimulatorOptions o;
  o.duration_s = 30;
  o.seed = 11;
  o.fifo_size_kb = 0;
  o.faults.counter_restart = true;
  ReadBack(o, &p);
  EXPECT_EQ(p.msgs.error_count - p.errors_before_pass, 1) << "one unresolvable step in the pass";
  EXPECT_TRUE(capture.Contains("Added TEN SECONDS to bridge \"gap\" in timestamp at fp="));
  EXPECT_TRUE(p.monotonic);
  EXPECT_NEAR(static_cast<double>(p.scan.latest_time), p.sim.last_time, 0.011)
      << "the time entries after the restart put the clock right again";
}

// File position of the first entry after the simulated restart.
int64_t RestartPosition(const SimulationResult& sim) {
  for (const std::string& f : sim.faults) {
    if (f.rfind("counter_restart filepos=", 0) == 0) return std::stoll(f.substr(24), nullptr, 16);
  }
  return -1;
}

// Late in a long recording the restarted counter's first stamps lie less than half the 24-bit
// range ahead of the last ones: they would pass for a wrap, silently putting the frames up to
// 214 s late. The 32-bit counts around them show the restart.
TEST(SimulatedRecording, CounterRestartThatLooksLikeAWrapIsFoundAndBridged) {
  MessageCapture capture;
  Pass p;
  SimulatorOptions o;
  o.duration_s = 400;
  o.bus_load_percent = 2;
  o.fifo_size_kb = 0;
  o.faults.counter_restart = true;
  ReadBack(o, &p);
  ASSERT_EQ(p.scan.counter_restarts.size(), 1u);
  EXPECT_EQ(p.scan.counter_restarts[0].position, RestartPosition(p.sim));
  EXPECT_EQ(p.msgs.error_count - p.errors_before_pass, 1);
  EXPECT_TRUE(capture.Contains("Added TEN SECONDS to bridge \"gap\" in timestamp at fp="));
  EXPECT_TRUE(p.monotonic);
}

// A bad real-time clock: the time comes from GPS, also after the logger restarted.
TEST(SimulatedRecording, BadClockWithRestartContinuesFromGpsTime) {
  MessageCapture capture;
  Pass p;
  SimulatorOptions o;
  o.duration_s = 30;
  o.seed = 5;
  o.fifo_size_kb = 0;
  o.gps = true;
  o.faults.bad_rtc_date = true;
  o.faults.counter_restart = true;
  ReadBack(o, &p);
  EXPECT_TRUE(p.scan.using_gps_time);
  ASSERT_EQ(p.scan.counter_restarts.size(), 1u);
  EXPECT_EQ(p.scan.counter_restarts[0].position, RestartPosition(p.sim));
  EXPECT_TRUE(capture.Contains("time continues from GPS time"));
  EXPECT_LT(p.worst_time_error, 0.011);
  EXPECT_TRUE(p.monotonic);
}

TEST(SimulatedRecording, BadClockFallsBackToGpsAndTruncatedEndIsReported) {
  MessageCapture capture;
  Pass p;
  SimulatorOptions o;
  o.duration_s = 30;
  o.seed = 4;
  o.fifo_size_kb = 0;
  o.gps = true;
  o.faults.bad_rtc_date = true;
  o.faults.truncated_end = true;
  ReadBack(o, &p);
  EXPECT_TRUE(p.scan.bad_rtc);
  EXPECT_TRUE(p.scan.using_gps_time);
  EXPECT_FALSE(p.scan.found_eof);
  EXPECT_TRUE(capture.Contains("Problem: Did not find an END-OF-FILE marker in \"sim.cld\" ."));
  // The oldest time becomes that of the first GPS fix with a date (the receiver needs a few fixes
  // for it), and the times of all frames follow it.
  bool at_a_fix = false;
  for (const SimulatedEntry& e : p.sim.entries) {
    if (e.kind == SimEntryKind::kGps1 &&
        std::fabs(e.time - static_cast<double>(p.scan.oldest_time)) < 0.011) {
      at_a_fix = true;
    }
  }
  EXPECT_TRUE(at_a_fix);
  EXPECT_GT(static_cast<double>(p.scan.oldest_time), OldestOfKind(p.sim, SimEntryKind::kGps1));
  EXPECT_LT(p.worst_time_error, 0.011);
  EXPECT_TRUE(p.monotonic);
}

}  // namespace
}  // namespace tessmar
