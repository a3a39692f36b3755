#include "common/message_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/batch_run.h"

namespace tessmar {
namespace {

TEST(MessageOutput, CaptureCollectsFormattedTextsAndRestoresPreviousHandler) {
  int outer_calls = 0;
  auto previous = SetMessageHandler([&](int, std::string_view) { ++outer_calls; });
  {
    MessageCapture capture;
    ShowMessageF(kMsgError, "File not found: \"%s\" .", "a.dbc");
    ShowMessage(kMsgStatus, "busy");
    ShowMessage(kMsgWarning, "careful");
    ASSERT_EQ(capture.entries().size(), 3u);
    EXPECT_EQ(capture.entries()[0].text, "File not found: \"a.dbc\" .");
    EXPECT_TRUE(capture.Contains("careful"));
    EXPECT_EQ(capture.CountAtLeast(kMsgWarning), 2);
    EXPECT_EQ(capture.CountAtLeast(kMsgInfo), 2);  // status-only texts are not counted
  }
  ShowMessage(kMsgInfo, "after");
  EXPECT_EQ(outer_calls, 1);
  SetMessageHandler(std::move(previous));
}

TEST(MessageOutput, LongFormattedTextIsNotCut) {
  std::string long_text(2000, 'x');
  EXPECT_EQ(StrPrintf("<%s>", long_text.c_str()).size(), 2002u);
}

TEST(MessageOutput, QuestionsTakeTheirBatchAnswerInBatchModeOrWithoutFrontEnd) {
  Question q{"Save changes?", "Tessmar", Buttons::kYesNoCancel, Answer::kNo};
  EXPECT_EQ(Ask(q), Answer::kNo);
  auto previous = SetQuestionHandler([](const Question&) { return Answer::kCancel; });
  EXPECT_EQ(Ask(q), Answer::kCancel);
  SetBatchMode(true);
  EXPECT_EQ(Ask(q), Answer::kNo);
  SetBatchMode(false);
  SetQuestionHandler(std::move(previous));
}

TEST(MessageOutput, TranslatorReplacesFormatsAndFallsBackToTheOriginal) {
  SetTranslator([](const char* t) -> const char* {
    return std::string_view(t) == "Hello %s" ? "Hallo %s" : nullptr;
  });
  MessageCapture capture;
  ShowMessageF(kMsgInfo, "Hello %s", "Welt");
  ShowMessageF(kMsgInfo, "Other %d", 1);
  SetTranslator(nullptr);
  EXPECT_EQ(capture.entries()[0].text, "Hallo Welt");
  EXPECT_EQ(capture.entries()[1].text, "Other 1");
}

// A batch run: one status text per step, the conversion in step 2, closing from step 4 on; the
// exit status follows the conversion.
TEST(BatchRun, StepsTextsActionsAndExitStatus) {
  BatchRun run;
  run.Begin();
  EXPECT_TRUE(run.active() && BatchMode());
  SetBatchMode(false);
  MessageCapture cap;
  std::vector<BatchRun::Action> actions;
  for (int i = 0; i < 6; ++i) actions.push_back(run.Step());
  using A = BatchRun::Action;
  EXPECT_EQ(actions,
            (std::vector<A>{A::kNone, A::kNone, A::kConvert, A::kNone, A::kClose, A::kClose}));
  std::string texts;
  for (const auto& e : cap.entries()) texts += e.text + "|";
  EXPECT_EQ(texts,
            "BATCH MODE, Step 0   (initializing)|BATCH MODE, Step 1   (loading)|"
            "BATCH MODE, Step 2   (converting)|BATCH MODE, Step 3   (closing)|"
            "BATCH MODE, Step 4   |BATCH MODE, Step 5   |");
  EXPECT_EQ(run.ExitCode(), 0);
  run.RecordConversion(false, true, 0);
  EXPECT_EQ(run.ExitCode(), 1);
  run.RecordConversion(false, false, 0);
  EXPECT_EQ(run.ExitCode(), 0);
}

}  // namespace
}  // namespace tessmar
