// Signals rows written on a second thread: the pipeline on its own against a writer that records
// what it reads, and the whole conversion with and without the thread, which must give the same
// bytes, messages and counts.

#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/message_output.h"
#include "config/clc_file.h"
#include "convert/conversion_driver.h"
#include "convert/row_pipeline.h"
#include "logfile/simulator/recording_simulator.h"
#include "tests/test_observer.h"
#include "writers/gps_settings.h"

namespace tessmar {
namespace {

using FormatThread = ConversionRequest::FormatThread;

// ---- The pipeline alone ------------------------------------------------------------------------

bool SameValue(const ChannelValue& a, const ChannelValue& b) {
  return a.valid == b.valid && a.value_type == b.value_type && a.is_float == b.is_float &&
         a.raw == b.raw &&
         std::bit_cast<uint64_t>(a.raw_float) == std::bit_cast<uint64_t>(b.raw_float) &&
         std::bit_cast<uint64_t>(a.scaled) == std::bit_cast<uint64_t>(b.scaled) && a.text == b.text;
}

// Keeps what it reads at every row (time, pre-trigger flag, values); skips the rows whose time is
// a multiple of 7, fails at fail_at and shows a message at every multiple of 100.
class RecordingWriter : public Writer {
 public:
  RecordingWriter(const ChannelValue* values, std::size_t columns)
      : values_(values), columns_(columns) {}
  int Create(const WriterSetup&) override { return 1; }
  int Finish(const WriterFinish&) override { return 1; }
  int WriteRow(const WriterRow& row) override {
    const auto t = static_cast<long long>(row.time);
    if (t == fail_at) return kRowFailed;
    if (t % 100 == 0) ShowMessageF(kMsgWarning, "row %lld", t);
    if (t % 7 == 0) return kRowSkipped;
    seen.push_back({row.time, row.pretrigger, {values_, values_ + columns_}});
    return kRowWritten;
  }
  struct Seen {
    double time;
    bool pretrigger;
    std::vector<ChannelValue> values;
  };
  long long fail_at = -1;
  std::vector<Seen> seen;

 private:
  const ChannelValue* values_;
  std::size_t columns_;
};

// Random changes as the decoders make them, each column marked: numbers, NaN and -0, raw floats
// that are not the raw value converted, texts, value types.
void ChangeSomeColumns(std::mt19937& random, std::vector<ChannelValue>& live, RowPipeline& pipe) {
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  for (int k = pick(5); k > 0; --k) {
    const int c = pick(static_cast<int>(live.size()));
    ChannelValue& v = live[static_cast<std::size_t>(c)];
    const int what = pick(5);
    if (what == 0) v.ClearValue();
    v.valid = what != 0;
    v.raw = pick(1000) - 500;
    v.raw_float = what == 2 ? (pick(2) ? std::nan("") : -0.0) : static_cast<double>(v.raw) / 3;
    v.scaled = pick(2) ? v.raw_float : v.raw_float * 0.25;
    v.is_float = what == 2;
    v.value_type = what == 3 ? kChannelTypeText : pick(20);
    v.text = std::string(what == 3 ? static_cast<std::size_t>(pick(12)) : 0, 'a' + pick(26));
    pipe.Touch(c);
  }
  if (pick(50) == 0) pipe.TouchAll();
}

TEST(RowPipeline, WriterSeesTheValuesAndPretriggerFlagsOfEveryRow) {
  std::mt19937 random(1);
  std::vector<ChannelValue> live(12);
  live[3].valid = true;  // a value from before the pass
  RowPipeline pipe;
  RecordingWriter writer(pipe.mirror(), live.size());
  pipe.Begin(&writer, live);
  std::vector<RecordingWriter::Seen> expected;
  bool pre = false;                  // what the writer would see when called directly
  for (int t = 1; t <= 1500; ++t) {  // several batches, the last one partial
    ChangeSomeColumns(random, live, pipe);
    WriterRow row;
    row.time = t;
    row.pretrigger = random() % 10 == 0;
    pre = pre || row.pretrigger;
    if (t % 7 != 0) expected.push_back({row.time, std::exchange(pre, false), live});
    ASSERT_TRUE(pipe.Push(row));
  }
  const RowPipeline::Result result = pipe.End();
  EXPECT_FALSE(result.failed);
  EXPECT_EQ(result.rows_written, static_cast<int64_t>(expected.size()));
  ASSERT_EQ(writer.seen.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(writer.seen[i].time, expected[i].time);
    EXPECT_EQ(writer.seen[i].pretrigger, expected[i].pretrigger) << "row " << expected[i].time;
    for (std::size_t c = 0; c < live.size(); ++c) {
      ASSERT_TRUE(SameValue(writer.seen[i].values[c], expected[i].values[c]))
          << "row " << expected[i].time << " column " << c;
    }
  }
}

TEST(RowPipeline, FailedRowStopsTheProducerAndMessagesComeOnItsThread) {
  std::vector<std::pair<std::thread::id, std::string>> shown;
  MessageHandler previous = SetMessageHandler([&](int, std::string_view text) {
    shown.emplace_back(std::this_thread::get_id(), std::string(text));
  });
  std::vector<ChannelValue> live(4);
  RowPipeline pipe;
  RecordingWriter writer(pipe.mirror(), live.size());
  writer.fail_at = 1000;
  pipe.Begin(&writer, live);
  int pushed = 0;
  WriterRow row;
  row.time = 1;
  while (pushed < 100000 && pipe.Push(row)) row.time = ++pushed + 1;
  // The producer learns of the failure within the batches in flight.
  EXPECT_LE(pushed, 1000 + static_cast<int>(RowPipeline::kBatchRows * RowPipeline::kBatches));
  const RowPipeline::Result result = pipe.End();
  SetMessageHandler(previous);
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(result.rows_written, 999 - 999 / 7);
  ASSERT_EQ(shown.size(), 9u);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    EXPECT_EQ(shown[i].first, std::this_thread::get_id());
    EXPECT_EQ(shown[i].second, "row " + std::to_string(100 * (i + 1)));
  }
}

// ---- Whole conversions, one thread against two -------------------------------------------------

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct RunResult {
  ConversionSummary summary;
  std::map<std::string, std::string> files;           // every file of the output folder
  std::vector<std::pair<int, std::string>> messages;  // without the status line
};

RunResult Run(ConversionRequest request, FormatThread mode,
              ConversionObserver* observer = nullptr) {
  request.format_thread = mode;
  std::filesystem::remove_all(request.output_dir);
  std::filesystem::create_directories(request.output_dir);
  RunResult r;
  {
    MessageCapture capture;
    r.summary = RunConversion(request, observer);
    for (const MessageCapture::Entry& e : capture.entries()) {
      if (e.severity != kMsgStatus) r.messages.emplace_back(e.severity, e.text);
    }
  }
  for (const auto& entry : std::filesystem::directory_iterator(request.output_dir)) {
    r.files[entry.path().filename().string()] = Slurp(entry.path());
  }
  return r;
}

// Converts with one thread, then with two: the same files, messages and counts. Returns the
// second run.
// Each run gets a copy of the observer, so that functions with a state start afresh.
RunResult ExpectSameWithTwoThreads(const ConversionRequest& request,
                                   const TestObserver& observer = {}) {
  TestObserver first = observer;
  TestObserver second = observer;
  const RunResult one = Run(request, FormatThread::kOff, &first);
  RunResult two = Run(request, FormatThread::kOn, &second);
  EXPECT_EQ(one.summary.format_thread_sources, 0);
  EXPECT_EQ(two.summary.converted, one.summary.converted);
  EXPECT_EQ(two.summary.errors, one.summary.errors);
  EXPECT_EQ(two.summary.aborted, one.summary.aborted);
  EXPECT_EQ(two.messages, one.messages);
  EXPECT_EQ(two.files.size(), one.files.size());
  for (const auto& [name, bytes] : one.files) EXPECT_TRUE(two.files[name] == bytes) << name;
  return two;
}

constexpr int kTextFormats[] = {kFormatText,        kFormatCsvInternational,
                                kFormatCsvGerman,   kFormatSemicolonCsvGerman,
                                kFormatDiademAscii, kFormatEtasAscii};

class TwoThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tessmar_format_thread_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    ASSERT_TRUE(
        ReadClcFile(std::filesystem::path(TESSMAR_EXAMPLES_DIR) / "demo_logger.clc", config_));
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  // The example configuration simulated: GPS, expressions, Intel and Motorola signals.
  std::filesystem::path Simulate(const std::string& name, double seconds, double bus_load,
                                 uint64_t seed) {
    SimulatorOptions sim;
    sim.duration_s = seconds;
    sim.bus_load_percent = bus_load;
    sim.seed = seed;
    sim.gps = true;
    const std::filesystem::path path = dir_ / name;
    EXPECT_TRUE(SimulateRecording(config_, sim, path).ok);
    return path;
  }
  ConversionRequest Request(std::vector<std::filesystem::path> sources, int format,
                            const char* interval) {
    ConversionRequest request;
    request.sources = std::move(sources);
    request.output_dir = dir_ / "out";
    request.options.output_type = OutputType::kSignals;
    request.options.output_file_format = format;
    request.options.write_interval = interval;
    request.options.time_column1 = TimeColumnKind::kSeconds;
    request.options.time_column2 = TimeColumnKind::kDateTimeFraction;
    return request;
  }

  std::filesystem::path dir_;
  LoggerConfiguration config_;
};

TEST_F(TwoThreads, EveryTextFormatGivesTheSameBytesOnTheExampleRecording) {
  const std::filesystem::path source = Simulate("demo.cld", 20, 0, 1);
  for (const int format : kTextFormats) {
    SCOPED_TRACE("format " + std::to_string(format));
    ConversionRequest request = Request({source}, format, "0.005");
    ASSERT_TRUE(LoadGpsPreset(0, request.gps));
    // GPS columns too, formatted on the second thread (DIAdem has none).
    request.gps.merge_into_main_file = format == kFormatDiademAscii ? 0 : 1;
    request.verbose = true;
    const RunResult two = ExpectSameWithTwoThreads(request);
    EXPECT_EQ(two.summary.format_thread_sources, 1);
    EXPECT_EQ(two.summary.errors, 0);
  }
}

TEST_F(TwoThreads, RandomRecordingsSparseAndDenseGiveTheSameBytes) {
  const struct {
    double seconds;
    double bus_load;
    const char* interval;
    bool raw;
    bool skip_until_valid;
  } cases[] = {
      {30, 1, "0.001", false, true},  // sparse frames on a fine grid: mostly repeated values
      {4, 60, "0.01", true, false},   // dense: most values new at every row
      {10, 20, "0.0001", false, false},
  };
  uint64_t seed = 11;
  for (const auto& c : cases) {
    const std::string name = "random" + std::to_string(seed) + ".cld";
    const std::filesystem::path source = Simulate(name, c.seconds, c.bus_load, seed++);
    for (const int format : {kFormatCsvInternational, kFormatDiademAscii, kFormatEtasAscii}) {
      SCOPED_TRACE(name + " format " + std::to_string(format));
      ConversionRequest request = Request({source}, format, c.interval);
      request.options.scaled_values = !c.raw;
      request.options.skip_until_all_valid = c.skip_until_valid;
      ExpectSameWithTwoThreads(request);
    }
  }
  // Two sources combined into one output: the thread ends and starts again between them.
  const std::filesystem::path second = Simulate("second.cld", 3, 30, 99);
  ConversionRequest combined = Request({dir_ / "random11.cld", second}, kFormatText, "0.01");
  combined.options.combine_output = true;
  EXPECT_EQ(ExpectSameWithTwoThreads(combined).summary.format_thread_sources, 2);
}

TEST_F(TwoThreads, WriteFailureIsReportedAsWithOneThread) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const std::filesystem::path source = Simulate("full.cld", 20, 0, 5);
  for (const int format : {kFormatText, kFormatCsvInternational}) {  // written to the name itself
    SCOPED_TRACE("format " + std::to_string(format));
    ConversionRequest request = Request({source}, format, "0.001");
    request.output_names = {"/dev/full"};
    const RunResult two = ExpectSameWithTwoThreads(request);
    EXPECT_EQ(two.summary.format_thread_sources, 1);
    EXPECT_GE(two.summary.errors, 1);
    EXPECT_EQ(two.summary.converted, 0);
  }
}

TEST_F(TwoThreads, AbortDrainsTheQueuedRowsAndClosesTheOutput) {
  const std::filesystem::path source = Simulate("abort.cld", 30, 40, 7);
  ConversionRequest request = Request({source}, kFormatCsvInternational, "0.001");
  // The pre-scan reports 0 to 100 %, then the conversion pass does: abort halfway through it.
  TestObserver observer;
  observer.progress = [phase = 0, last = 0](int percent, const std::filesystem::path&,
                                            int64_t) mutable {
    if (percent < last) ++phase;
    last = percent;
    return !(phase == 1 && percent >= 50);
  };
  const RunResult two = ExpectSameWithTwoThreads(request, observer);
  EXPECT_TRUE(two.summary.aborted);
  EXPECT_EQ(two.summary.converted, 0);
  ASSERT_EQ(two.files.size(), 1u);
  EXPECT_GT(two.files.begin()->second.size(), 100000u);
}

}  // namespace
}  // namespace tessmar
