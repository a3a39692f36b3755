#include "app/partner_channel.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>

namespace tessmar {
namespace {

// Sender (8 bytes), user value (4), text length (4), all little-endian.
constexpr int kHeaderBytes = 16;
// Texts of the protocol are short; anything longer than this is refused as hostile.
constexpr uint32_t kMaxTextBytes = 65536;

void PutLe(QByteArray& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint64_t GetLe(const QByteArray& in, int offset, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) {
    value |= uint64_t{static_cast<unsigned char>(in[offset + i])} << (8 * i);
  }
  return value;
}

}  // namespace

QString PartnerServerName(int64_t window) { return QStringLiteral("tessmar-wnd-%1").arg(window); }

int32_t SendPartnerMessage(int64_t to_window, int64_t from_window, uint32_t user_value,
                           const QByteArray& text, int timeout_ms) {
  if (to_window == 0) return 0;
  QLocalSocket socket;
  socket.connectToServer(PartnerServerName(to_window));
  if (!socket.waitForConnected(timeout_ms)) return 0;
  QByteArray frame;
  PutLe(frame, static_cast<uint64_t>(from_window), 8);
  PutLe(frame, user_value, 4);
  PutLe(frame, static_cast<uint32_t>(text.size()), 4);
  frame.append(text);
  socket.write(frame);
  if (!socket.waitForBytesWritten(timeout_ms)) return 0;
  QByteArray answer;
  QElapsedTimer clock;
  clock.start();
  while (answer.size() < 4) {
    const qint64 left = timeout_ms - clock.elapsed();
    if (left <= 0 || (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(left)))) break;
    answer.append(socket.readAll());
  }
  socket.disconnectFromServer();
  if (answer.size() < 4) return 0;
  return static_cast<int32_t>(GetLe(answer, 0, 4));
}

PartnerChannel::PartnerChannel(QObject* parent) : QObject(parent) {}

PartnerChannel::~PartnerChannel() = default;

bool PartnerChannel::Listen(int64_t window, Handler handler) {
  handler_ = std::move(handler);
  window_ = window;
  delete server_;
  server_ = new QLocalServer(this);
  const QString name = PartnerServerName(window);
  QLocalServer::removeServer(name);  // a socket file left by a crashed run
  if (!server_->listen(name)) return false;
  connect(server_, &QLocalServer::newConnection, this, &PartnerChannel::OnNewConnection);
  return true;
}

void PartnerChannel::OnNewConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
    if (socket->bytesAvailable() > 0) OnReadyRead(socket);
  }
}

void PartnerChannel::OnReadyRead(QLocalSocket* socket) {
  // The socket keeps unread bytes itself: wait until the whole frame is there.
  if (socket->bytesAvailable() < kHeaderBytes) return;
  const QByteArray header = socket->peek(kHeaderBytes);
  const uint64_t length = GetLe(header, 12, 4);
  if (length > kMaxTextBytes) {
    socket->abort();
    return;
  }
  if (socket->bytesAvailable() < kHeaderBytes + static_cast<qint64>(length)) return;
  socket->read(kHeaderBytes);
  const QByteArray text = socket->read(static_cast<qint64>(length));
  const auto sender = static_cast<int64_t>(GetLe(header, 0, 8));
  const auto user_value = static_cast<uint32_t>(GetLe(header, 8, 4));
  const int32_t answer = handler_ ? handler_(sender, user_value, text) : 0;
  QByteArray reply;
  PutLe(reply, static_cast<uint32_t>(answer), 4);
  socket->write(reply);
  socket->flush();
}

}  // namespace tessmar
