// A tiny partner program: listens as a window number, prints every message it receives and sends
// the messages it is told to on its standard input.
//
//   tessmar-test-partner WINDOW
//
// Standard output: "ready" once listening, then "recv SENDER USERVALUE TEXT" per message received
// (each answered with 1) and "answer N" per message sent.
// Standard input, one command per line: "send TO USERVALUE TEXT" or "quit".

#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <string>

#include "app/partner_channel.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) {
    std::fputs("usage: tessmar-test-partner WINDOW\n", stderr);
    return 2;
  }
  const qint64 window = QByteArray(argv[1]).toLongLong();
  tessmar::PartnerChannel channel;
  if (!channel.Listen(window, [](int64_t sender, uint32_t user_value, const QByteArray& text) {
        std::printf("recv %lld %u %s\n", static_cast<long long>(sender), user_value,
                    text.constData());
        std::fflush(stdout);
        return 1;
      })) {
    std::fputs("cannot listen\n", stderr);
    return 1;
  }
  std::puts("ready");
  std::fflush(stdout);

  // Standard input is read with read(2) so that no line waits unseen in a stdio buffer.
  std::string pending;
  auto run = [&](const std::string& command) {
    if (command == "quit") {
      QCoreApplication::quit();
      return;
    }
    long long to = 0;
    unsigned user_value = 0;
    int consumed = 0;
    if (std::sscanf(command.c_str(), "send %lld %u %n", &to, &user_value, &consumed) >= 2 &&
        consumed > 0) {
      const int32_t answer = tessmar::SendPartnerMessage(
          to, window, user_value, QByteArray::fromStdString(command.substr(size_t(consumed))));
      std::printf("answer %d\n", answer);
      std::fflush(stdout);
    }
  };
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[1024];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      QCoreApplication::quit();
      return;
    }
    pending.append(buffer, size_t(n));
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::string command = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!command.empty() && command.back() == '\r') command.pop_back();
      run(command);
    }
  });
  return app.exec();
}
