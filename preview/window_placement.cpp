#include "preview/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "convert/settings_file.h"

namespace tessmar {

void ReadWindowPlacement(QWidget* window, const std::filesystem::path& ini_path,
                         const char* section) {
  if (ini_path.empty()) return;
  IniFile ini;
  ini.Load(ini_path);
  const QRect design = window->geometry();
  int left = int(ini.GetInt(section, "Left", design.x()));
  int top = int(ini.GetInt(section, "Top", design.y()));
  const int width = std::max(100, int(ini.GetInt(section, "Width", design.width())));
  const int height = std::max(100, int(ini.GetInt(section, "Height", design.height())));
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desk = screen->availableGeometry();
    left = std::min(left, desk.width() - 100);
    top = std::min(top, desk.height() - 100);
  }
  window->setGeometry(left, top, width, height);
}

void WriteWindowPlacement(const QWidget* window, const std::filesystem::path& ini_path,
                          const char* section) {
  if (ini_path.empty()) return;
  if (window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) {
    return;
  }
  IniFile ini;
  ini.Load(ini_path);
  const QRect g = window->geometry();
  ini.SetInt(section, "Left", g.x());
  ini.SetInt(section, "Top", g.y());
  ini.SetInt(section, "Width", g.width());
  ini.SetInt(section, "Height", g.height());
  ini.Save(ini_path);
}

long long ReadIniInt(const std::filesystem::path& ini_path, const char* section, const char* key,
                     long long def) {
  IniFile ini;
  if (ini_path.empty() || !ini.Load(ini_path)) return def;
  return ini.GetInt(section, key, def);
}

std::string ReadIniString(const std::filesystem::path& ini_path, const char* section,
                          const char* key, const std::string& def) {
  IniFile ini;
  if (ini_path.empty() || !ini.Load(ini_path)) return def;
  return ini.GetString(section, key, def);
}

void WriteIniInt(const std::filesystem::path& ini_path, const char* section, const char* key,
                 long long value) {
  if (ini_path.empty()) return;
  IniFile ini;
  ini.Load(ini_path);
  ini.SetInt(section, key, value);
  ini.Save(ini_path);
}

}  // namespace tessmar
