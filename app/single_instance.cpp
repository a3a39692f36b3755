#include "app/single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLockFile>

namespace tessmar {

SingleInstance::SingleInstance(const QString& name) : name_(name) {}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::Acquire() {
  lock_ = std::make_unique<QLockFile>(QDir::temp().filePath(name_ + QStringLiteral(".lock")));
  // A lock left by a crashed run is taken over (QLockFile checks whether its owner still lives).
  lock_->setStaleLockTime(0);
  if (!lock_->tryLock(0)) {
    lock_.reset();
    return false;
  }
  // The lock is ours, so a socket file of the same name is a leftover.
  QLocalServer::removeServer(name_);
  server_ = std::make_unique<QLocalServer>();
  server_->listen(name_);
  return true;
}

}  // namespace tessmar
