#pragma once
// Only one desktop program runs per user: a lock file held for the whole run plus a local server
// of the same name, both in the user's runtime folder (see UserRuntimeFolder). A second start that
// carries files hands them to the running instance over that server instead of failing.

#include <QString>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/instance_rules.h"

class QLockFile;
class QLocalServer;
class QLocalSocket;

namespace tessmar {

inline constexpr const char* kInstanceName = "QRBCanLogger";
inline constexpr const char* kInstanceCaption = "PROBLEM : Mutex \"QRBCanLogger\" already in use.";
inline constexpr const char* kInstanceText =
    "Most likely, the Tessmar is already running !\r\nIf not, please reboot the system and try "
    "again.\r\n\r\nVermutlich wurde das Tessmar bereits gestartet !\r\nFalls nicht, System neu "
    "starten und nochmal versuchen.\r\n\r\n";

class SingleInstance {
 public:
  // folder: where the lock and the socket live; empty: the user's runtime folder.
  explicit SingleInstance(std::filesystem::path folder = {},
                          const QString& name = QString::fromLatin1(kInstanceName));
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when this process holds the instance; false when another one runs already. When no
  // runtime folder can be used the program runs unguarded (true, with a warning on stderr).
  bool Acquire();

  // Files handed over by a later start go to the handler, which returns how many it takes (0
  // refuses them).
  using HandoffHandler = std::function<int(const HandedFiles& files)>;
  void SetHandoffHandler(HandoffHandler handler) { handler_ = std::move(handler); }

  // In a second start: hands the files to the running instance; true when it took them all.
  bool HandOver(const HandedFiles& files, int timeout_ms = 5000) const;

  // The lock file and the server's socket (empty before Acquire()).
  QString lock_path() const;
  QString server_path() const;

 private:
  void OnConnection();
  void OnReadyRead(QLocalSocket* socket);

  std::filesystem::path folder_;
  QString name_;
  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<QLocalServer> server_;
  HandoffHandler handler_;
};

}  // namespace tessmar
