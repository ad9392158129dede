#pragma once

// The program's windows share the screen's default colormap.
//
// Qt's xcb platform gives every window a colormap of its own, and a GL-capable visual
// other than the screen's. A window manager installs the focused window's colormap, so
// each focus change between such a window and any other (a popup taking the focus, the
// focus coming back) makes the X server walk every window on the screen twice to tell
// them of it: on a crowded desktop several milliseconds of the server's time, during
// which no client, the sweep included, is answered. With the screen's own visual and its
// default colormap there is nothing to install.

#include <cstdint>
#include <optional>

class QGuiApplication;

namespace x11 {

struct ScreenVisual {
    std::uint32_t visual = 0;
    std::uint32_t colormap = 0;
};

// The root visual and default colormap of $DISPLAY's screen; none when no X server
// answers or the root visual is not 24-bit true colour.
std::optional<ScreenVisual> defaultScreenVisual();

// From now on each top-level window the application creates takes `colormap`. Only for
// windows made with the visual of that colormap (Qt's "-visual" argument).
void shareColormap(QGuiApplication& app, std::uint32_t colormap);

}  // namespace x11
