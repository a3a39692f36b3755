// Converting several recordings at the same time (ConversionRequest::jobs): the same outputs,
// messages and counts as one after the other, and an abort that leaves no output reported
// complete that is not.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/message_output.h"
#include "config/clc_file.h"
#include "convert/conversion_driver.h"
#include "convert/output_names.h"
#include "logfile/simulator/recording_simulator.h"
#include "tests/test_observer.h"
#include "writers/writer.h"

namespace tessmar {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every file below a folder with its contents, by path relative to the folder. The time an
// MDF 4 file was written (its file history block) is blanked.
std::map<std::string, std::string> FilesBelow(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::string bytes = Slurp(e.path());
    const std::size_t fh = bytes.find("##FH");
    if (e.path().extension() == ".mf4" && fh != std::string::npos && fh + 48 <= bytes.size()) {
      bytes.replace(fh + 40, 8, 8, '\0');  // after the 24-byte head and two links
    }
    files[fs::relative(e.path(), dir).string()] = std::move(bytes);
  }
  return files;
}

class ParallelConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tessmar_parallel_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ASSERT_TRUE(ReadClcFile(fs::path(TESSMAR_EXAMPLES_DIR) / "demo_logger.clc", config_, nullptr));
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Simulate(const std::string& name, double seconds, uint64_t seed) {
    const fs::path path = dir_ / name;
    fs::create_directories(path.parent_path());
    SimulatorOptions sim;
    sim.duration_s = seconds;
    sim.seed = seed;
    sim.gps = seed % 2 == 0;
    EXPECT_TRUE(SimulateRecording(config_, sim, path).ok);
    return path;
  }

  struct Result {
    ConversionSummary summary;
    std::vector<MessageCapture::Entry> messages;
    std::map<std::string, std::string> files;
  };

  // Converts into dir_/out, then moves the outputs aside: both runs write to the same paths, so
  // texts that name the output compare equal.
  Result Convert(ConversionRequest request, int jobs, const std::string& keep_as,
                 ConversionObserver* observer = nullptr) {
    request.output_dir = dir_ / "out";
    fs::create_directories(request.output_dir);
    request.jobs = jobs;
    Result r;
    {
      MessageCapture capture;
      r.summary = RunConversion(request, observer);
      r.messages = capture.entries();
    }
    r.files = FilesBelow(request.output_dir);
    fs::rename(request.output_dir, dir_ / keep_as);
    return r;
  }

  fs::path dir_;
  LoggerConfiguration config_;
};

void ExpectSameRun(const char* what, const auto& serial, const auto& parallel) {
  SCOPED_TRACE(what);
  EXPECT_EQ(serial.summary.converted, parallel.summary.converted);
  EXPECT_EQ(serial.summary.errors, parallel.summary.errors);
  EXPECT_EQ(serial.summary.outputs, parallel.summary.outputs);
  ASSERT_EQ(serial.messages.size(), parallel.messages.size());
  for (std::size_t i = 0; i < serial.messages.size(); ++i) {
    EXPECT_EQ(serial.messages[i].severity, parallel.messages[i].severity) << i;
    EXPECT_EQ(serial.messages[i].text, parallel.messages[i].text) << i;
  }
  ASSERT_EQ(serial.files.size(), parallel.files.size());
  for (const auto& [name, bytes] : serial.files) {
    auto it = parallel.files.find(name);
    ASSERT_NE(it, parallel.files.end()) << name;
    EXPECT_TRUE(it->second == bytes) << name << " differs";
  }
}

// Every format and output type: recordings of the same name from two folders, one named like
// the replacement of their output, a recording that cannot be read and ordinary ones.
TEST_F(ParallelConversionTest, SameOutputsMessagesAndCountsAsOneAfterTheOther) {
  ConversionRequest request;
  request.sources = {Simulate("a/LOG.cld", 20, 1),   Simulate("b/LOG.cld", 15, 2),
                     Simulate("c/LOG_2.cld", 10, 3), Simulate("c/REC1.cld", 25, 4),
                     dir_ / "c/missing.cld",         Simulate("d/REC2.cld", 5, 5)};
  int cases = 0;
  for (const OutputFormatInfo& format : kOutputFormats) {
    for (const OutputType type : {OutputType::kMessages, OutputType::kSignals}) {
      if (!(format.output_types & OutputTypeBit(type))) continue;
      request.options.output_type = type;
      request.options.output_file_format = format.code;
      request.options.write_interval = "0.05";
      const std::string name = std::string(format.cli_name) + "-" + std::to_string(cases++);
      const Result serial = Convert(request, 1, name + "-serial");
      const Result parallel = Convert(request, 3, name + "-parallel");
      EXPECT_EQ(serial.summary.converted, 5) << name;
      ExpectSameRun(name.c_str(), serial, parallel);
    }
  }
  EXPECT_GT(cases, 12);
}

TEST(GroupSourcesByOutput, SameNamesAndTheirReplacementsShareAGroup) {
  const std::vector<fs::path> planned = {"out/A.txt",       "out/LOG.txt",     "out/B.txt",
                                         "out/LOG.txt",     "out/LOG_2.txt",   "out/C_2.txt",
                                         "other/LOG_3.txt", "out/LOG_2_2.txt", "out/LOG.csv"};
  const std::vector<std::vector<int>> expected = {{0}, {1, 3, 4, 7}, {2}, {5}, {6}, {8}};
  EXPECT_EQ(GroupSourcesByOutput(planned), expected);
  // A replacement-like name with nothing to replace keeps its own group.
  const std::vector<fs::path> plain = {"out/LOG.txt", "out/LOG_2.txt"};
  EXPECT_EQ(GroupSourcesByOutput(plain), (std::vector<std::vector<int>>{{0}, {1}}));
}

// An output of several files (DIAdem's header x.dat with its data x.asc) and another output named
// like one of them (Vector ASCII x.asc): the second gets a name of its own, one after the other
// and in parallel, instead of replacing the first one's data.
TEST_F(ParallelConversionTest, AnOutputNeverReplacesTheCompanionFileOfAnother) {
  ConversionRequest request;
  request.sources = {Simulate("a.cld", 10, 1), Simulate("b.cld", 10, 3)};
  request.output_names = {dir_ / "out/x.dat", dir_ / "out/x.asc"};
  const Result serial = Convert(request, 1, "serial");
  EXPECT_EQ(serial.summary.converted, 2);
  EXPECT_EQ(serial.summary.outputs.back().filename(), "x_2.asc");
  ASSERT_TRUE(serial.files.contains("x.asc"));
  EXPECT_EQ(serial.files.at("x.asc").rfind("date", 0), std::string::npos)
      << "the DIAdem data file was replaced by a Vector ASCII file";
  ExpectSameRun("parallel", serial, Convert(request, 2, "parallel"));
  const std::vector<fs::path> planned = {"out/x.dat", "out/x.asc", "out/y.txt"};
  const std::vector<std::vector<fs::path>> files = {{"out/x.dat", "out/x.asc"}, {"out/x.asc"}, {}};
  EXPECT_EQ(GroupSourcesByOutput(planned, files), (std::vector<std::vector<int>>{{0, 1}, {2}}));
}

// The user aborts while the second recording is half converted: what is reported complete is
// complete (the same bytes as a run without abort), and nothing else is reported complete.
TEST_F(ParallelConversionTest, AbortLeavesNoOutputReportedCompleteThatIsNot) {
  ConversionRequest request;
  for (int i = 0; i < 5; ++i) {
    request.sources.push_back(Simulate("r/REC" + std::to_string(i) + ".cld", 200, 10 + i));
  }
  request.options.output_type = OutputType::kSignals;
  request.options.output_file_format = kFormatCsvInternational;
  request.options.write_interval = "0.01";
  const Result whole = Convert(request, 1, "whole");

  std::atomic<int> calls{0};
  TestObserver observer;
  observer.progress = [&](int percent, const fs::path& source, int64_t) {
    ++calls;
    return !(source.filename() == "REC1.cld" && percent >= 50);
  };
  const Result aborted = Convert(request, 2, "aborted", &observer);
  EXPECT_TRUE(aborted.summary.aborted);
  EXPECT_LT(aborted.summary.converted, 5);
  int complete_messages = 0;
  for (const MessageCapture::Entry& m : aborted.messages) {
    if (m.text.find("\" complete, ") != std::string::npos) ++complete_messages;
  }
  EXPECT_EQ(complete_messages, aborted.summary.converted);
  ASSERT_EQ(aborted.summary.outputs.size(), static_cast<std::size_t>(aborted.summary.converted));
  for (const fs::path& output : aborted.summary.outputs) {
    const std::string name = output.filename().string();
    EXPECT_NE(name, "REC1.csv");
    EXPECT_TRUE(aborted.files.at(name) == whole.files.at(name)) << name;
  }
  EXPECT_GT(calls.load(), 0);
  // Each recording not reported complete is named, also those never started.
  for (const fs::path& source : request.sources) {
    bool converted = false;
    for (const fs::path& output : aborted.summary.outputs) {
      converted = converted || output.stem() == source.stem();
    }
    bool named = false;
    for (const MessageCapture::Entry& m : aborted.messages) {
      named = named || (m.severity == kMsgWarning && m.text.starts_with("Not converted") &&
                        m.text.ends_with("\"" + source.string() + "\""));
    }
    EXPECT_NE(converted, named) << source;
  }
}

}  // namespace
}  // namespace tessmar
