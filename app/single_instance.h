#pragma once
// Only one desktop program runs per user: a lock file held for the whole run plus a local server
// of the same name, both in the temporary folder.

#include <QString>
#include <memory>

class QLockFile;
class QLocalServer;

namespace tessmar {

inline constexpr const char* kInstanceName = "QRBCanLogger";
inline constexpr const char* kInstanceCaption = "PROBLEM : Mutex \"QRBCanLogger\" already in use.";
inline constexpr const char* kInstanceText =
    "Most likely, the Tessmar is already running !\r\nIf not, please reboot the system and try "
    "again.\r\n\r\nVermutlich wurde das Tessmar bereits gestartet !\r\nFalls nicht, System neu "
    "starten und nochmal versuchen.\r\n\r\n";

class SingleInstance {
 public:
  explicit SingleInstance(const QString& name = QString::fromLatin1(kInstanceName));
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // True when this process holds the instance; false when another one runs already.
  bool Acquire();

 private:
  QString name_;
  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<QLocalServer> server_;
};

}  // namespace tessmar
