#pragma once

// A private X server (Xvfb) for one test suite, optionally with the openbox window
// manager. The display is chosen by Xvfb itself, so suites never collide.

#include <QString>
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

private:
    pid_t xvfb_ = -1;
    pid_t wm_ = -1;
    QString display_;
    bool ok_ = false;
};
