#pragma once
// Helpers of the desktop tests: one offscreen QApplication per test process, a main window on a
// settings file in a temporary folder, and answers for the questions the window asks.

#include <QApplication>
#include <QTemporaryDir>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "common/message_output.h"

namespace tessmar::testing {

QApplication* EnsureApp();

// A main window started on its own settings file, with the timer stopped (tests tick it) and no
// pause after partner notifications.
class WindowFixture {
 public:
  WindowFixture();
  ~WindowFixture();

  // Creates the window; ini_text (if not empty) is written to the settings file first.
  TCanLogForm1& Start(const QStringList& arguments = {}, const std::string& ini_text = {});
  TCanLogForm1& window() { return *window_; }
  // The desktop's language the window is started with (English unless a test sets another).
  int desktop_language = 1;
  std::filesystem::path dir() const;
  std::filesystem::path ini_path() const { return dir() / "Tessmar.ini"; }

  // Answers the window's questions with the given answers in order (kCancel when they run out)
  // and records the questions asked.
  void AnswerWith(std::vector<Answer> answers);
  const std::vector<Question>& asked() const { return asked_; }

  // Closes the window; returns true when it closed.
  bool Close();

 private:
  QTemporaryDir temp_;
  std::unique_ptr<TCanLogForm1> window_;
  std::vector<Answer> answers_;
  std::vector<Question> asked_;
};

// True when a line of the "Info" page's message list contains text.
bool InfoContains(TCanLogForm1& window, const QString& text);

std::string ReadText(const std::filesystem::path& path);
void WriteText(const std::filesystem::path& path, const std::string& text);

}  // namespace tessmar::testing
