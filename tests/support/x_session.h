#pragma once

// Private desktops for tests and benchmarks: an X server (Xvfb) for one test suite,
// optionally with the openbox window manager, and a headless sway (a wlroots Wayland
// compositor) with Xwayland. Displays are chosen by the servers themselves, so suites
// never collide.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <optional>
#include <sys/types.h>

class XSession {
public:
    enum class WindowManager { None, Openbox };

    explicit XSession(WindowManager wm = WindowManager::Openbox, int width = 1280, int height = 1024);
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // True when the server (and the window manager, when asked for) came up.
    bool ok() const { return ok_; }

    // ":N", the value for DISPLAY.
    QString display() const { return display_; }

    // Sets DISPLAY in this process's environment to this session.
    void exportDisplay() const;

    // Prepares this process for a Qt application on this session: DISPLAY, the xcb
    // platform, and (unless already set) the engine's settings for running as root on a
    // virtual display without a GPU. Child processes inherit them.
    void exportForQt() const;

    // Waits (at most `timeoutMs`) until the X server and the window manager have used
    // almost no CPU for a second: a window manager takes in a crowded desktop's windows
    // long after they were mapped, and a measurement made meanwhile shares the machine
    // with it. False when they stayed busy.
    bool waitQuiet(int timeoutMs = 120000) const;

private:
    pid_t xvfb_ = -1;
    pid_t wm_ = -1;
    QString display_;
    bool ok_ = false;
};

// sway 1.7 on its headless backend (pixman renderer, no input devices) with Xwayland
// started at once, every window floating, a runtime folder of its own. sway refuses to
// run as root: as root it runs as nobody, and root is let into its Xwayland.
class SwaySession {
public:
    SwaySession();
    ~SwaySession();
    SwaySession(const SwaySession&) = delete;
    SwaySession& operator=(const SwaySession&) = delete;

    // True once the compositor and its Xwayland accept clients.
    bool ok() const { return ok_; }

    // The compositor's socket (a full path, for WAYLAND_DISPLAY) and Xwayland's ":N".
    QString waylandDisplay() const { return wayland_; }
    QString display() const { return display_; }
    // sway's IPC socket, for swaymsg's SWAYSOCK.
    QString ipcSocket() const;

    // As XSession::waitQuiet, for the compositor and its Xwayland.
    bool waitQuiet(int timeoutMs = 120000) const;

    // Points WAYLAND_DISPLAY and DISPLAY of this process (and so of the programs it starts
    // from now on) at this session, until the session ends.
    void exportForClients();

private:
    QTemporaryDir dir_;
    pid_t sway_ = -1;
    QString wayland_;
    QString display_;
    bool ok_ = false;
    bool exported_ = false;
    std::optional<QByteArray> savedDisplay_;  // DISPLAY and WAYLAND_DISPLAY before (nullopt: unset)
    std::optional<QByteArray> savedWayland_;
};
