#pragma once
// Message output and questions shared by every part of the program.
//
// The core never prints and never opens a dialog. It reports through ShowMessage(), and the front
// end (CLI or desktop window) installs the handler that decides where the text goes. Questions
// go through Ask(): in batch mode, or when no front end has installed a handler, every question
// takes its fixed batch answer.

#include <cstdarg>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tessmar {

// Severities of the message output.
inline constexpr int kMsgInfo = 0;      // appended to the message list
inline constexpr int kMsgStatus = 1;    // status line only
inline constexpr int kMsgWarning = 63;  // appended to the message list
inline constexpr int kMsgError = 127;   // appended to the message list

using MessageHandler = std::function<void(int severity, std::string_view text)>;

// Installs the handler that receives every message; returns the previous one. An empty handler
// drops messages.
MessageHandler SetMessageHandler(MessageHandler handler);

// While it lives, the messages shown by the thread that made it go to its handler instead of the
// process-wide one: a worker thread collects its messages this way and the thread that runs the
// conversion shows them. Questions asked on such a thread take their batch answer.
class ThreadMessageHandler {
 public:
  explicit ThreadMessageHandler(MessageHandler handler);
  ~ThreadMessageHandler();
  ThreadMessageHandler(const ThreadMessageHandler&) = delete;
  ThreadMessageHandler& operator=(const ThreadMessageHandler&) = delete;

 private:
  MessageHandler handler_;
  const MessageHandler* previous_;
};

// Sends one message to the installed handler.
void ShowMessage(int severity, std::string_view text);

// The text without a severity word of its own at its start ("Warning: ", "ERROR:   ", "Error: "):
// a front end that labels every message by its severity shows one label, never two that
// disagree (a message worded "Warning: ..." that is reported as an error).
std::string_view WithoutSeverityLabel(std::string_view text);

// printf-style variant. The format passes through the translation lookup first.
void ShowMessageF(int severity, const char* format, ...) __attribute__((format(printf, 2, 3)));
void ShowMessageV(int severity, const char* format, va_list args);

// printf into a std::string (no length limit).
std::string StrPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string StrPrintfV(const char* format, va_list args);

// Translation lookup for user-visible texts: into the current user-interface language of
// common/translation.h (English, the program's own language, returns every text unchanged), or
// through a translator set with SetTranslator. The returned pointer stays valid as long as the
// text and the translator do.
using Translator = std::function<const char*(const char* text)>;
void SetTranslator(Translator translator);
const char* Tr(const char* text);

// ---- Questions ---------------------------------------------------------------------------------

enum class Answer { kYes, kNo, kCancel, kOk };
enum class Buttons { kOk, kYesNo, kYesNoCancel, kOkCancel };
enum class Icon { kQuestion, kWarning, kInformation };

struct Question {
  std::string text;
  std::string caption;
  Buttons buttons = Buttons::kYesNo;
  Answer batch_answer = Answer::kYes;  // taken in batch mode and when no front end asks
  Icon icon = Icon::kQuestion;         // the symbol a message box shows
};

using QuestionHandler = std::function<Answer(const Question& question)>;
QuestionHandler SetQuestionHandler(QuestionHandler handler);

// Asks the user, or returns question.batch_answer in batch mode or without a handler.
Answer Ask(const Question& question);

// Batch flag: while set, no question is asked and every question takes its batch answer.
void SetBatchMode(bool on);
bool BatchMode();

// Collects every message while it lives (for tests and for callers that want the texts).
class MessageCapture {
 public:
  struct Entry {
    int severity;
    std::string text;
  };
  MessageCapture();
  ~MessageCapture();
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;

  const std::vector<Entry>& entries() const { return entries_; }
  // True when some message contains the given text.
  bool Contains(std::string_view text) const;
  // Number of messages of at least the given severity (status-only messages excluded).
  int CountAtLeast(int severity) const;
  void Clear() { entries_.clear(); }

 private:
  std::vector<Entry> entries_;
  MessageHandler previous_;
};

}  // namespace tessmar
