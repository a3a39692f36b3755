#pragma once
// Window placement of the preview windows in the settings file: "Left", "Top", "Width" and
// "Height" of one section. Left and Top are the position of the window's frame (its title bar's
// corner), Width and Height the size of the window's own area. A window is always placed so that
// its whole frame lies inside the available area of a screen; one without a stored placement
// opens next to its owner (the window of its parent). The placement is written only in the normal
// window state.

#include <QPoint>
#include <QRect>
#include <QSize>
#include <filesystem>
#include <optional>
#include <string>

#include "common/window_geometry.h"

class QWidget;

namespace tessmar {

// Places the window from the section now and again whenever it is shown; without a stored
// placement it opens next to its owner as `how` and `cascade` say (see window_geometry.h).
void ReadWindowPlacement(QWidget* window, const std::filesystem::path& ini_path,
                         const char* section, DefaultPlacement how = DefaultPlacement::kOverOwner,
                         int cascade = 0);
// Places a window at a frame position and size (a position of std::nullopt: next to its owner, or
// centred on the screen without one) and again whenever it is shown, always with its whole frame
// inside the available area of a screen.
void PlaceWindow(QWidget* window, std::optional<QPoint> frame_position, QSize size,
                 DefaultPlacement how = DefaultPlacement::kOverOwner, int cascade = 0);
// Writes the placement unless the window is minimised, maximised or full screen.
void WriteWindowPlacement(const QWidget* window, const std::filesystem::path& ini_path,
                          const char* section);

// The frame of a top-level window as the window system knows it now (its own area until the
// window manager has framed it).
QRect FrameGeometryOf(const QWidget* window);
// The frame margins of a top-level window: its own once the window manager has framed it, else
// those of another framed window of the program, else those of a typical title bar and border.
FrameMargins FrameMarginsOf(const QWidget* window);
// The available area of the screen under a point (the primary screen when none is there).
ScreenRect AvailableAreaAt(const QPoint& point);

// Integer and text keys of one section of the settings file (missing file or key: def).
long long ReadIniInt(const std::filesystem::path& ini_path, const char* section, const char* key,
                     long long def);
std::string ReadIniString(const std::filesystem::path& ini_path, const char* section,
                          const char* key, const std::string& def);
void WriteIniInt(const std::filesystem::path& ini_path, const char* section, const char* key,
                 long long value);

}  // namespace tessmar
