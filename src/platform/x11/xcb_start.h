#pragma once

// What the program settles with Qt's xcb platform around the construction of its
// QApplication.
//
// The platform. The sweep watches the desktop over X11, and the program's own popups are
// among the windows it closes only while they are X11 windows too. Qt would pick its
// Wayland platform on a Wayland desktop, so with an X display at hand the xcb platform is
// asked for in the arguments: QT_QPA_PLATFORM stays untouched for every program started
// later (the default browser). A platform the user chose is kept.
//
// The screen's colormap. Qt's xcb platform gives every window a colormap of its own, and a
// GL-capable visual other than the screen's. A window manager installs the focused
// window's colormap, so each focus change between such a window and any other (a popup
// taking the focus, the focus coming back) makes the X server walk every window on the
// screen twice to tell them of it: on a crowded desktop several milliseconds of the
// server's time, during which no client, the sweep included, is answered. So on xcb the
// program's windows are made with the screen's own visual ("-visual") and each top-level
// window takes the screen's default colormap before it is shown: there is nothing to
// install. A visual or display the user chose is kept.
//
// OpenGL through EGL rather than GLX. GLX makes a window with a colormap of its own for
// every context it creates and frees that colormap at once, and the X server walks every
// window on the screen at each free (five times at start-up, tens of milliseconds of the
// server's time on a crowded desktop). GLX remains Qt's fallback; an integration the user
// chose is kept, and programs started later see no change.

#include <QByteArray>
#include <cstdint>
#include <vector>

class QGuiApplication;

namespace x11 {

class XcbStart {
public:
    // Before the application: the arguments it is to be given, and what Qt reads from the
    // environment while it is made.
    XcbStart(int argc, char* argv[]);
    XcbStart(const XcbStart&) = delete;
    XcbStart& operator=(const XcbStart&) = delete;

    // For the application's constructor; both must outlive the application.
    int& argc() { return argc_; }
    char** argv() { return arguments_.data(); }

    // Right after the application is made: the environment as it was, and the colormap
    // for every top-level window from now on.
    void applicationMade(QGuiApplication& app);

private:
    std::vector<char*> arguments_;
    int argc_ = 0;
    QByteArray visual_;
    std::uint32_t colormap_ = 0;
    bool chooseEgl_ = false;
};

}  // namespace x11
