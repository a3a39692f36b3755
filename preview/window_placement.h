#pragma once
// Window placement of the preview windows in the settings file: "Left", "Top", "Width" and
// "Height" of one section. Reading keeps the window on the desktop (Left at most desktop width -
// 100, Top at most desktop height - 100); writing happens only in the normal window state.

#include <QString>
#include <filesystem>
#include <string>

class QWidget;

namespace tessmar {

// Places the window from the section; missing keys keep the window's current geometry.
void ReadWindowPlacement(QWidget* window, const std::filesystem::path& ini_path,
                         const char* section);
// Writes the placement unless the window is minimised, maximised or full screen.
void WriteWindowPlacement(const QWidget* window, const std::filesystem::path& ini_path,
                          const char* section);

// Integer and text keys of one section of the settings file (missing file or key: def).
long long ReadIniInt(const std::filesystem::path& ini_path, const char* section, const char* key,
                     long long def);
std::string ReadIniString(const std::filesystem::path& ini_path, const char* section,
                          const char* key, const std::string& def);
void WriteIniInt(const std::filesystem::path& ini_path, const char* section, const char* key,
                 long long value);

}  // namespace tessmar
