// Tarnwick: a single-window web-browser shell that denies popup windows. This file
// chooses the platform (the engine's sandbox, Qt's window system, the desktop to watch)
// and starts the program, which app/Application puts together.

#include <QApplication>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

#include "app/application.h"
#include "platform/webengine/engine_environment.h"
#include "platform/webengine/start_page.h"
#include "platform/wayland/wayland_desktop_windows.h"
#include "platform/x11/shared_colormap.h"
#include "platform/x11/x11_desktop_windows.h"

namespace {

bool hasArgument(int argc, char* argv[], const char* name) {
    for (int i = 1; i < argc; ++i)
        if (!qstrcmp(argv[i], name) || (argv[i][0] == '-' && !qstrcmp(argv[i] + 1, name))) return true;
    return false;
}

// The sweep watches the desktop over X11, and the program's own popups are among the
// windows it closes only while they are X11 windows too. Qt would pick its Wayland platform
// on a Wayland desktop, so with an X display at hand the xcb platform is asked for in the
// arguments: QT_QPA_PLATFORM stays untouched for every program started later (the default
// browser). A platform the user chose is kept.
//
// On xcb the program's windows are made with the screen's own visual, and share its
// default colormap (shared_colormap.h); `colormap` is set then. A visual the user chose is
// kept.
std::vector<char*> platformArguments(int argc, char* argv[], std::uint32_t& colormap) {
    static char platformOption[] = "-platform";
    static char xcb[] = "xcb";
    static char visualOption[] = "-visual";
    static QByteArray visual;
    std::vector<char*> arguments(argv, argv + argc);
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const bool userPlatform = hasArgument(argc, argv, "-platform");
    const bool chooseXcb = platform.isEmpty() && !qEnvironmentVariableIsEmpty("DISPLAY") && !userPlatform;
    if (chooseXcb) arguments.insert(arguments.begin() + (argc > 0 ? 1 : 0), {platformOption, xcb});
    if ((chooseXcb || (platform.startsWith("xcb") && !userPlatform)) && !hasArgument(argc, argv, "-visual") &&
        !hasArgument(argc, argv, "-display")) {
        if (const auto screen = x11::defaultScreenVisual()) {
            visual = "0x" + QByteArray::number(screen->visual, 16);
            arguments.insert(arguments.begin() + (argc > 0 ? 1 : 0), {visualOption, visual.data()});
            colormap = screen->colormap;
        }
    }
    arguments.push_back(nullptr);
    return arguments;
}

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
    std::uint32_t colormap = 0;
    std::vector<char*> arguments = platformArguments(argc, argv, colormap);
    int argumentCount = int(arguments.size()) - 1;
    // On xcb, OpenGL through EGL rather than GLX: GLX makes a window with a colormap of its
    // own for every context it creates and frees that colormap at once, and the X server
    // walks every window on the screen at each free (five times at start-up, tens of
    // milliseconds of the server's time on a crowded desktop). GLX remains Qt's fallback;
    // an integration the user chose is kept, and programs started later see no change.
    const bool chooseEgl = colormap && !qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION");
    if (chooseEgl) qputenv("QT_XCB_GL_INTEGRATION", "xcb_egl");
    QApplication app(argumentCount, arguments.data());
    if (chooseEgl) qunsetenv("QT_XCB_GL_INTEGRATION");
    if (colormap && QGuiApplication::platformName() == QLatin1String("xcb")) x11::shareColormap(app, colormap);
    const std::unique_ptr<DesktopWindows> desktop = openDesktop();

    Application tarnwick(*desktop);
    return tarnwick.run();
}
