// Tarnwick: a single-window web-browser shell that denies popup windows. This file
// chooses the platform (the engine's sandbox, Qt's window system, the desktop to watch)
// and starts the program, which app/Application puts together.

#include <QApplication>
#include <cstdio>
#include <memory>

#include "app/application.h"
#include "platform/webengine/engine_environment.h"
#include "platform/webengine/start_page.h"

#ifdef _WIN32
#include "platform/desktop/core_desktop_windows.h"
#include "platform/user32/user32_desktop.h"

int main(int argc, char* argv[]) {
    webengine::prepareEngine();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    webengine::registerStartPageScheme();
    QApplication app(argc, argv);
    // The desktop through user32, hooked on this, the user-interface thread.
    CoreDesktopWindows desktop(std::make_unique<User32Desktop>());
    Application tarnwick(desktop);
    return tarnwick.run();
}

#else
#include <unistd.h>

#include "platform/wayland/wayland_desktop_windows.h"
#include "platform/x11/xcb_start.h"
#include "platform/x11/x11_desktop_windows.h"

namespace {

// One line on stderr when popups cannot be denied: no X display, or a platform other
// than xcb whose windows the sweep cannot see.
void warnWhenUnwatched(const X11DesktopWindows& desktop) {
    const QString platform = QGuiApplication::platformName();
    if (!desktop.ok())
        std::fprintf(stderr, "tarnwick: no X display to watch: popup windows are not closed\n");
    else if (platform != QLatin1String("xcb"))
        std::fprintf(stderr,
                     "tarnwick: Qt platform \"%s\" in use: the program's own popups are not closed "
                     "(leave QT_QPA_PLATFORM unset or set it to xcb)\n",
                     qPrintable(platform));
}

// The desktop the sweep walks. In a Wayland session whose compositor lists its windows
// (wlroots: sway, labwc, Hyprland, wayfire), that list, which holds the XWayland windows
// too, so each window is judged once; otherwise the X11 desktop, and in a Wayland
// session one line says that native Wayland windows stay out of reach.
std::unique_ptr<DesktopWindows> openDesktop() {
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        auto wayland = std::make_unique<WaylandDesktopWindows>();
        if (wayland->ok()) return wayland;
        std::fprintf(stderr,
                     "tarnwick: the Wayland compositor lists no windows to other programs: only X11 windows "
                     "can be denied\n");
    }
    auto x11 = std::make_unique<X11DesktopWindows>();
    warnWhenUnwatched(*x11);
    return x11;
}

}  // namespace

int main(int argc, char* argv[]) {
    // The engine's sandbox cannot run as root.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    webengine::prepareEngine();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The program's own pages: their scheme is known to the engine before it starts.
    webengine::registerStartPageScheme();
    // On xcb: the platform, the screen's visual and colormap, OpenGL through EGL.
    x11::XcbStart xcb(argc, argv);
    QApplication app(xcb.argc(), xcb.argv());
    xcb.applicationMade(app);
    const std::unique_ptr<DesktopWindows> desktop = openDesktop();

    Application tarnwick(*desktop);
    return tarnwick.run();
}

#endif
