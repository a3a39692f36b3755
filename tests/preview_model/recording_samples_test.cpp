// Recordings written by the simulator, loaded for the viewer and compared with what the simulator
// says it wrote.

#include "preview_model/recording_samples.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "config/clc_file.h"
#include "logfile/simulator/recording_simulator.h"

namespace tessmar {
namespace {

// A folder of this test process's own: ctest runs the tests of this file in parallel processes,
// and one of them removes its folder at the end.
std::filesystem::path TempFile(const char* name) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("tessmar_viewer_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  return dir / name;
}

TEST(RecordingSamples, EveryValueAtItsOwnTimeAsTheSimulatorWroteIt) {
  LoggerConfiguration config;
  ASSERT_TRUE(ReadClcFile(std::string(TESSMAR_EXAMPLES_DIR) + "/demo_logger.clc", config));
  SimulatorOptions o;
  o.duration_s = 20;
  o.faults.wrap24 = true;  // times must keep rising over the counter's wrap
  const auto path = TempFile("viewer.cld");
  const SimulationResult sim = SimulateRecording(config, o, path);
  ASSERT_TRUE(sim.ok) << sim.error;

  Recording rec;
  ASSERT_TRUE(LoadRecording(path, &rec));
  EXPECT_NEAR(rec.start, sim.first_time, 0.01);
  EXPECT_NEAR(rec.duration, sim.last_time - sim.first_time, 0.01);
  ASSERT_EQ(rec.channels.size(), sim.signals.size() + sim.expressions.size());
  for (std::size_t i = 0; i < sim.signals.size(); ++i) {
    const ViewerChannel& c = rec.channels[i];
    const SimulatedChannel& s = sim.signals[i];
    SCOPED_TRACE(s.name);
    EXPECT_EQ(c.name, s.name);
    EXPECT_EQ(c.size(), s.count);
    if (s.count == 0 || s.nan_count > 0) continue;
    EXPECT_DOUBLE_EQ(c.minimum, s.min);
    EXPECT_DOUBLE_EQ(c.maximum, s.max);
    EXPECT_TRUE(std::is_sorted(c.t.begin(), c.t.end()));
    EXPECT_GE(c.t.front(), 0);
    EXPECT_LE(c.t.back(), rec.duration);
  }
  for (std::size_t i = 0; i < sim.expressions.size(); ++i) {
    const ViewerChannel& c = rec.channels[sim.signals.size() + i];
    EXPECT_EQ(c.size(), sim.expressions[i].count) << sim.expressions[i].name;
    EXPECT_EQ(c.unit, "calculated");
  }
  EXPECT_EQ(rec.fixes.size(), sim.gps_fixes);
  EXPECT_EQ(rec.fix_t.size(), rec.fixes.size());
  const ViewerChannel& speed = rec.channels[0];
  EXPECT_EQ(speed.unit, "km/h");
  EXPECT_EQ(speed.message, "0x100");
  EXPECT_EQ(speed.bus, 1);
  std::filesystem::remove_all(path.parent_path());
}

// The value tables come from the CAN database the recording names, found beside it; a signal
// renamed by an alias is found by its bits.
TEST(RecordingSamples, StateSignalsTakeTheValueTableOfTheirDatabase) {
  LoggerConfiguration config;
  ASSERT_TRUE(ReadClcFile(std::string(TESSMAR_EXAMPLES_DIR) + "/demo_logger.clc", config));
  SimulatorOptions o;
  o.duration_s = 2;
  const auto path = TempFile("states.cld");
  ASSERT_TRUE(SimulateRecording(config, o, path).ok);
  std::filesystem::copy_file(std::string(TESSMAR_EXAMPLES_DIR) + "/demo_vehicle.dbc",
                             path.parent_path() / "demo_vehicle.dbc",
                             std::filesystem::copy_options::overwrite_existing);

  Recording rec;
  ASSERT_TRUE(LoadRecording(path, &rec));
  const auto gear = std::find_if(rec.channels.begin(), rec.channels.end(),
                                 [](const ViewerChannel& c) { return c.name == "GearSelected"; });
  ASSERT_NE(gear, rec.channels.end());
  const std::vector<StateText> want = {
      {0, "Park"}, {1, "Reverse"}, {2, "Neutral"}, {3, "Drive"}, {15, "Invalid"}};
  EXPECT_EQ(gear->states, want);
  for (const ViewerChannel& c : rec.channels) {
    if (c.name != "GearSelected") {
      EXPECT_TRUE(c.states.empty()) << c.name;
    }
  }

  // Signal 2 of the demo configuration is GearSelected; under an alias it keeps its texts.
  SetText(config.sigs[2].sn, "Gang");
  std::vector<ViewerChannel> channels(1);
  const int origin = 2;
  AttachValueTables(channels, std::span(&origin, 1), config.sigs,
                    {(path.parent_path() / "demo_vehicle.dbc").string(), ""});
  EXPECT_EQ(channels[0].states, want);
  std::filesystem::remove_all(path.parent_path());
}

TEST(RecordingSamples, MissingFileFails) {
  Recording rec;
  EXPECT_FALSE(LoadRecording(TempFile("none.cld"), &rec));
  std::filesystem::remove_all(TempFile("x").parent_path());
}

}  // namespace
}  // namespace tessmar
