#include "tests/app/gui_test_util.h"

#include <QDialog>
#include <fstream>
#include <sstream>

#include "app/simple_pages.h"

namespace tessmar::testing {

QApplication* EnsureApp() {
  static int argc = 1;
  static char name[] = "tessmar_app_tests";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);  // lives until the test process ends
  }
  return static_cast<QApplication*>(QCoreApplication::instance());
}

WindowFixture::WindowFixture() { EnsureApp(); }

WindowFixture::~WindowFixture() {
  if (window_) {
    SetBatchMode(false);
    window_.reset();
  }
}

std::filesystem::path WindowFixture::dir() const { return temp_.path().toStdString(); }

TCanLogForm1& WindowFixture::Start(const QStringList& arguments, const std::string& ini_text) {
  if (!ini_text.empty()) WriteText(ini_path(), ini_text);
  AppStart start;
  start.arguments = arguments;
  start.settings_path = ini_path();
  start.notify_wait_ms = 0;
  start.start_timer = false;
  start.log_batch_to_stderr = false;
  start.desktop_language = desktop_language;
  window_ = std::make_unique<TCanLogForm1>(start);
  // Dialogs are answered by the tests; unanswered ones are cancelled.
  window_->exec_dialog = [](QDialog&) { return int(QDialog::Rejected); };
  SetQuestionHandler([this](const Question& q) {
    asked_.push_back(q);
    if (answers_.empty()) return Answer::kCancel;
    const Answer a = answers_.front();
    answers_.erase(answers_.begin());
    return a;
  });
  return *window_;
}

void WindowFixture::AnswerWith(std::vector<Answer> answers) { answers_ = std::move(answers); }

bool WindowFixture::Close() {
  window_->show();
  const bool closed = window_->close();
  return closed;
}

bool InfoContains(TCanLogForm1& window, const QString& text) {
  for (const QString& line : window.info_page()->Lines()) {
    if (line.contains(text)) return true;
  }
  return false;
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

}  // namespace tessmar::testing
