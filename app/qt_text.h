#pragma once
// Text conversion at the boundary between the core (std::string, UTF-8) and Qt.

#include <QString>
#include <string>
#include <string_view>

namespace tessmar {

inline QString FromCore(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToCore(const QString& text) { return text.toStdString(); }

}  // namespace tessmar
