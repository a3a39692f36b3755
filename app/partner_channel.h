#pragma once
// Local-socket transport of the partner-window messages.
//
// Every window number N is a local server named "tessmar-wnd-N". A message is one connection
// that carries the sender's window number, a user value and a text, and is answered with a
// 32-bit result (1 = acknowledged). The byte layout is in docs/partner-protocol.md.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

class QLocalServer;
class QLocalSocket;

namespace tessmar {

// Name of the local server that stands for a window number.
QString PartnerServerName(int64_t window);

// Sends one message and waits for the answer; returns the answer, or 0 when nobody listens or
// nothing came back within timeout_ms.
int32_t SendPartnerMessage(int64_t to_window, int64_t from_window, uint32_t user_value,
                           const QByteArray& text, int timeout_ms = 2000);

// Receives the messages addressed to one window number.
class PartnerChannel : public QObject {
  Q_OBJECT
 public:
  // The handler gets (sender, user value, text) and returns the answer sent back.
  using Handler = std::function<int32_t(int64_t sender, uint32_t user_value, const QByteArray&)>;

  explicit PartnerChannel(QObject* parent = nullptr);
  ~PartnerChannel() override;

  // Starts listening as the given window number; false when the server cannot be created.
  bool Listen(int64_t window, Handler handler);
  int64_t window() const { return window_; }

 private:
  void OnNewConnection();
  void OnReadyRead(QLocalSocket* socket);

  QLocalServer* server_ = nullptr;
  Handler handler_;
  int64_t window_ = 0;
};

}  // namespace tessmar
