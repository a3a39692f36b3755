#include "common/message_output.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>

#include "common/c_locale.h"
#include "common/translation.h"

namespace tessmar {
namespace {

MessageHandler& Handler() {
  static MessageHandler handler;
  return handler;
}

QuestionHandler& QHandler() {
  static QuestionHandler handler;
  return handler;
}

Translator& TrTable() {
  static Translator translator;
  return translator;
}

std::atomic<bool> g_batch_mode{false};

// The handler of ThreadMessageHandler on its thread, else nullptr.
thread_local const MessageHandler* t_thread_handler = nullptr;

const MessageHandler& ActiveHandler() { return t_thread_handler ? *t_thread_handler : Handler(); }

}  // namespace

MessageHandler SetMessageHandler(MessageHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}

ThreadMessageHandler::ThreadMessageHandler(MessageHandler handler)
    : handler_(std::move(handler)), previous_(std::exchange(t_thread_handler, &handler_)) {}

ThreadMessageHandler::~ThreadMessageHandler() { t_thread_handler = previous_; }

void ShowMessage(int severity, std::string_view text) {
  const MessageHandler& handler = ActiveHandler();
  if (handler) handler(severity, text);
}

std::string_view WithoutSeverityLabel(std::string_view text) {
  for (const std::string_view label : {"warning:", "error:"}) {
    if (text.size() < label.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < label.size() && same; ++i) {
      const char c = text[i];
      same = (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == label[i];
    }
    if (!same) continue;
    std::size_t rest = label.size();
    while (rest < text.size() && text[rest] == ' ') ++rest;
    return text.substr(rest);
  }
  return text;
}

std::string StrPrintfV(const char* format, va_list args) {
  char small[512];
  va_list copy;
  va_copy(copy, args);
  const int n = VsnprintfC(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n), '\0');
  VsnprintfC(out.data(), out.size() + 1, format, args);
  return out;
}

std::string StrPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = StrPrintfV(format, args);
  va_end(args);
  return out;
}

void ShowMessageV(int severity, const char* format, va_list args) {
  if (!ActiveHandler()) return;
  ShowMessage(severity, StrPrintfV(Tr(format), args));
}

void ShowMessageF(int severity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  ShowMessageV(severity, format, args);
  va_end(args);
}

void SetTranslator(Translator translator) { TrTable() = std::move(translator); }

const char* Tr(const char* text) {
  if (text == nullptr) return text;
  const char* translated;
  if (TrTable()) {
    translated = TrTable()(text);
  } else {
    // The language state keeps the last text not found: worker threads translate too.
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    translated = Language().Translate(text);
  }
  return translated ? translated : text;
}

QuestionHandler SetQuestionHandler(QuestionHandler handler) {
  return std::exchange(QHandler(), std::move(handler));
}

Answer Ask(const Question& question) {
  // A worker thread (one with its own message handler) never opens a dialog.
  if (g_batch_mode || !QHandler() || t_thread_handler) return question.batch_answer;
  return QHandler()(question);
}

void SetBatchMode(bool on) { g_batch_mode = on; }
bool BatchMode() { return g_batch_mode; }

MessageCapture::MessageCapture() {
  previous_ = SetMessageHandler([this](int severity, std::string_view text) {
    entries_.push_back({severity, std::string(text)});
  });
}

MessageCapture::~MessageCapture() { SetMessageHandler(std::move(previous_)); }

bool MessageCapture::Contains(std::string_view text) const {
  for (const auto& e : entries_) {
    if (e.text.find(text) != std::string::npos) return true;
  }
  return false;
}

int MessageCapture::CountAtLeast(int severity) const {
  int n = 0;
  for (const auto& e : entries_) {
    if (e.severity != kMsgStatus && e.severity >= severity) ++n;
  }
  return n;
}

}  // namespace tessmar
