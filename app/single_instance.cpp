#include "app/single_instance.h"

#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <cstdio>
#include <cstdlib>

#include "app/qt_text.h"

namespace tessmar {
namespace {

// A message is its length (4 bytes, little-endian) and the message; the answer is 4 bytes, the
// number of files taken.
constexpr qint64 kLengthBytes = 4;
constexpr uint32_t kMaxMessageBytes = 1u << 20;

QByteArray Le32(uint32_t value) {
  QByteArray out;
  for (int i = 0; i < 4; ++i) out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
  return out;
}

uint32_t ReadLe32(const QByteArray& in) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= uint32_t{static_cast<unsigned char>(in[i])} << (8 * i);
  return value;
}

}  // namespace

SingleInstance::SingleInstance(std::filesystem::path folder, const QString& name)
    : folder_(std::move(folder)), name_(name) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lock_path() const {
  return folder_.empty() ? QString() : QDir(FromCore(folder_.string())).filePath(name_ + ".lock");
}

QString SingleInstance::server_path() const {
  return folder_.empty() ? QString() : QDir(FromCore(folder_.string())).filePath(name_);
}

bool SingleInstance::Acquire() {
  if (folder_.empty()) {
    std::string error;
    folder_ = UserRuntimeFolder(std::getenv("XDG_RUNTIME_DIR"), std::getenv("TMPDIR"),
                                unsigned(::getuid()), &error);
    if (folder_.empty()) {
      std::fprintf(stderr, "tessmar: no single-instance guard: %s\n", error.c_str());
      return true;
    }
  }
  lock_ = std::make_unique<QLockFile>(lock_path());
  // A lock left by a crashed run is taken over (QLockFile checks whether its owner still lives).
  lock_->setStaleLockTime(0);
  if (!lock_->tryLock(0)) {
    lock_.reset();
    return false;
  }
  // The lock is ours, so a socket file of the same name is a leftover.
  QLocalServer::removeServer(server_path());
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (server_->listen(server_path())) {
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(),
                     [this] { OnConnection(); });
  }
  return true;
}

void SingleInstance::OnConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QLocalSocket::readyRead, socket,
                     [this, socket] { OnReadyRead(socket); });
    if (socket->bytesAvailable() > 0) OnReadyRead(socket);
  }
}

void SingleInstance::OnReadyRead(QLocalSocket* socket) {
  // The socket keeps unread bytes itself: wait until the whole message is there.
  if (socket->bytesAvailable() < kLengthBytes) return;
  const uint32_t length = ReadLe32(socket->peek(kLengthBytes));
  if (length > kMaxMessageBytes) {
    socket->abort();
    return;
  }
  if (socket->bytesAvailable() < kLengthBytes + qint64(length)) return;
  socket->read(kLengthBytes);
  const QByteArray message = socket->read(length);
  const std::optional<HandedFiles> files =
      DecodeHandedFiles(std::string_view(message.constData(), size_t(message.size())));
  const int taken = files && handler_ ? handler_(*files) : 0;
  socket->write(Le32(uint32_t(taken < 0 ? 0 : taken)));
  socket->flush();
}

bool SingleInstance::HandOver(const HandedFiles& files, int timeout_ms) const {
  const QString path = server_path();  // known once Acquire() has run
  if (path.isEmpty() || files.empty()) return false;
  const std::string message = EncodeHandedFiles(files);
  QLocalSocket socket;
  socket.connectToServer(path);
  if (!socket.waitForConnected(timeout_ms)) return false;
  socket.write(Le32(uint32_t(message.size())));
  socket.write(message.data(), qint64(message.size()));
  if (!socket.waitForBytesWritten(timeout_ms)) return false;
  QByteArray answer;
  QElapsedTimer clock;
  clock.start();
  while (answer.size() < kLengthBytes) {
    const qint64 left = timeout_ms - clock.elapsed();
    if (left <= 0 || (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(left)))) break;
    answer.append(socket.readAll());
  }
  if (answer.size() < kLengthBytes) return false;
  return ReadLe32(answer) == files.configs.size() + files.recordings.size();
}

}  // namespace tessmar
