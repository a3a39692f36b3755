#include "convert/conversion_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/conversion_driver.h"

namespace tessmar {
namespace {

std::vector<std::string> Texts(const std::vector<MessageCapture::Entry>& entries) {
  std::vector<std::string> texts;
  for (const MessageCapture::Entry& e : entries) texts.push_back(e.text);
  return texts;
}

ConversionRequest ThreeSources() {
  ConversionRequest request;
  request.sources = {"/in/a.cld", "/in/b.CLD", "/in/c.txt"};
  request.output_dir = "/out";
  request.options.output_type = OutputType::kSignals;
  request.options.output_file_format = kFormatCsvInternational;
  return request;
}

// The plan decides each source's output and format before anything is read; a refusal by the
// source's name or options is kept for the moment the run reaches it.
TEST(ConversionPlan, OutputsFormatsAndSourceRefusals) {
  ConversionRequest request = ThreeSources();
  request.output_names = {"/named/first.mf4"};
  const ConversionPlan plan = PlanConversion(request);
  ASSERT_TRUE(plan.accepted);
  ASSERT_EQ(plan.sources.size(), 3u);
  EXPECT_EQ(plan.sources[0].output, "/named/first.mf4");
  EXPECT_TRUE(plan.sources[0].named_output);
  EXPECT_EQ(plan.sources[0].options.output_file_format, kFormatMdf4);
  EXPECT_EQ(plan.sources[1].output, "/out/b.csv");
  EXPECT_EQ(plan.sources[1].format->code, kFormatCsvInternational);
  EXPECT_EQ(plan.sources[1].refusal, "");
  EXPECT_EQ(plan.sources[2].refusal, "Error: Unsupported sourcefile format .");
  for (const PlannedSource& s : plan.sources) EXPECT_EQ(s.role, CombineRole::kSeparate);

  request.options.combine_output = true;
  const ConversionPlan combined = PlanConversion(request);
  EXPECT_EQ(combined.sources[0].role, CombineRole::kFirst);
  EXPECT_TRUE(combined.sources[1].appends() && combined.sources[1].more_follow());
  EXPECT_EQ(combined.sources[2].role, CombineRole::kLast);
  // Combining: the first output name names the one output, for every source.
  EXPECT_EQ(combined.sources[2].output, "/named/first.mf4");
}

// A refusal carries the texts every front end shows: the reasons, the box text unless the front
// end showed the box itself, and the closing line; running a refused plan shows them and converts
// nothing.
TEST(ConversionPlan, RefusalsReadTheSameEverywhere) {
  ConversionRequest request = ThreeSources();
  request.options.output_type = OutputType::kMessages;
  request.options.output_file_format = kFormatDiademAscii;  // refuses Messages
  ConversionPlan plan = PlanConversion(request);
  EXPECT_FALSE(plan.accepted);
  ASSERT_EQ(plan.messages.size(), 2u);
  EXPECT_EQ(plan.messages[0].severity, kMsgWarning);
  EXPECT_EQ(plan.messages[1].text, "Illegal parameters, refused to convert logfile.");
  request.option_box_shown = true;
  EXPECT_EQ(Texts(PlanConversion(request).messages),
            (std::vector<std::string>{"Illegal parameters, refused to convert logfile."}));

  request = ThreeSources();
  request.options.start_time = "20";
  request.options.stop_time = "10";
  plan = PlanConversion(request);
  EXPECT_FALSE(plan.accepted);
  EXPECT_EQ(plan.messages.back().text, "Illegal parameters, refused to convert logfile.");
  MessageCapture capture;
  ConversionObserver quiet;
  const ConversionSummary summary = RunConversion(plan, quiet);
  EXPECT_TRUE(summary.refused);
  EXPECT_EQ(summary.errors, 2);
  EXPECT_EQ(Texts(capture.entries()), Texts(plan.messages));
}

// The graph preview draws Signals only: the plan drops it for other output types and says so,
// so that the front end can tell the user.
TEST(ConversionPlan, GraphPreviewOnlyWithSignals) {
  ConversionRequest request = ThreeSources();
  request.options.graph_preview = true;
  EXPECT_FALSE(PlanConversion(request).graph_preview_dropped);
  request.options.output_type = OutputType::kMessages;
  request.options.output_file_format = kFormatText;
  const ConversionPlan plan = PlanConversion(request);
  EXPECT_TRUE(plan.graph_preview_dropped);
  EXPECT_FALSE(plan.options.graph_preview);
}

TEST(ConversionPlan, ResultLine) {
  EXPECT_EQ(ConversionResultLine(1, 0, "See above."), "1 file  converted, 0 conversion errors. ");
  EXPECT_EQ(ConversionResultLine(3, 1, "See above."),
            "3 files converted, 1 conversion error . See above.");
}

}  // namespace
}  // namespace tessmar
