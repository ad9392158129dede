#pragma once

// DesktopWindows on X11 through libxcb, with a connection of its own.
//
// It keeps a live mirror of the desktop's top-level windows (window_mirror.h): the
// window manager's client list (_NET_CLIENT_LIST_STACKING) when an EWMH window manager
// runs, otherwise the root window's children (stacking_order.h). Events on the root and on
// every listed window tell it what changed; only that is read again, in one batch of
// requests (window_state.h), sent from the event loop without waiting for the replies.
// A sweep over an unchanged desktop therefore costs no round trip to the X server. The
// same events tell it when a window becomes one the sweep closes (onWindowEligible),
// judged in the mirror alone. A window that retitles itself in
// a rapid storm (a clock) is not followed event by event (retitle_storm.h): its properties
// are read in the batch of each walk until its title holds still again, so that it wakes
// nobody in between.

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/desktop/desktop_windows.h"

class QSocketNotifier;
class QTimer;
class QWindow;

namespace x11 {
class Connection;
class WindowMirror;
}  // namespace x11

class X11DesktopWindows : public DesktopWindows {
public:
    // Connects to `display` (":N"), or to $DISPLAY when it is empty.
    explicit X11DesktopWindows(const QString& display = QString());
    ~X11DesktopWindows() override;

    // True while the connection to the X server works. When it fails or breaks, the
    // desktop has no windows.
    bool ok() const;

    // True while an EWMH window manager is running and its client list is used.
    bool hasWindowManager();

    // Batches of requests whose replies were taken so far.
    std::uint64_t roundTrips() const;
    // Reads whose replies were dropped because an event about the window came first.
    std::uint64_t staleReads() const;

    // The interface, in its order. The walk: top of the stacking order first (the window
    // manager's client list, else the root's children).
    WindowId FirstWindow() override;
    WindowId NextWindow(WindowId window) override;
    // One window as the mirror holds it.
    std::uint32_t Style(WindowId window) override;
    WindowId FindByTitle(const QString& title) override;
    // WM_DELETE_WINDOW, for a window that takes it.
    bool RequestClose(WindowId window) override;
    // What changed in the mirror since a revision of it.
    std::uint64_t Revision() override;
    bool ChangedSince(std::uint64_t since, std::vector<WindowId>& changed) override;
    // WM_CLASS's class, else the name of the process _NET_WM_PID names.
    QString Program(WindowId window) override;

protected:
    const QString* heldTitle(WindowId window) override;

private:
    void refreshFromEvents();
    void refreshSoon();
    void report();
    void pollNow();
    bool closeOwn(WindowId window);
    bool isOwn(WindowId window);
    static QWindow* ownWindow(WindowId window);

    bool checkAlive();

    std::unique_ptr<x11::Connection> x_;
    std::unique_ptr<x11::WindowMirror> mirror_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<QTimer> pollTimer_;
    bool refreshQueued_ = false;
    struct OwnIds {
        std::uint32_t base = 0;
        std::uint32_t mask = 0;
    };
    std::optional<OwnIds> ownIds_;
};
