#pragma once

// DesktopWindows on a wlroots Wayland compositor (sway, labwc, Hyprland, wayfire) through
// zwlr_foreign_toplevel_manager_v1, on a wl_display connection of its own.
//
// The compositor announces every toplevel it shows, native Wayland windows and XWayland
// ones alike, with its title, and tells of each change; the adapter keeps a mirror of
// them from these events alone, so a sweep asks the compositor nothing. What the
// protocol gives and what the sweep asks for meet so:
// - Walk order: the toplevels in the order the compositor first described them, newest
//   first (the protocol knows no stacking order): a window that just appeared is visited
//   first.
// - Visible: every listed toplevel (the compositor lists mapped windows only; a minimised
//   one counts, as on X11), except one of this program's own windows that it has hidden
//   since. Border: every listed toplevel too (menus, popups and panels are never listed).
// - Window ids are the adapter's own, with the top bit set, so they never meet an X11
//   window id; a toplevel that is one of this program's own windows (the same app id and
//   the same title as one of its top-level windows) has that window's id (winId()), so
//   the sweep knows its main window.
// - What changed: a revision that grows with every change of the list or of a title,
//   and the toplevels retitled since a revision. The program's own windows, whose
//   visibility is this program's and no event's, are looked at when the revision is
//   asked for.
// - A close request is the protocol's close, or for the program's own windows their close
//   event, sent from here; a window that becomes closable (its description done with a
//   title ending in the watched suffix) is reported at once.

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/desktop/desktop_windows.h"

class WaylandDesktopWindows : public DesktopWindows {
public:
    // Connects to `display` (a socket name or path), or to $WAYLAND_DISPLAY when empty.
    explicit WaylandDesktopWindows(const QString& display = QString());
    ~WaylandDesktopWindows() override;

    // True while the compositor lists its toplevels over a working connection. When the
    // compositor does not offer the protocol, or the connection breaks, the desktop has
    // no windows.
    bool ok() const;

    // Requests that waited for the compositor's answer so far (only the start's).
    std::uint64_t roundTrips() const;

    // The interface, in its order. The walk: the toplevels in the order the compositor
    // first described them, newest first (the protocol has no stacking order).
    WindowId FirstWindow() override;
    WindowId NextWindow(WindowId window) override;
    // Visible and bordered for every listed toplevel (the compositor lists mapped ones
    // only); one of the program's own windows stops being visible once it is hidden.
    std::uint32_t Style(WindowId window) override;
    // The protocol's close request; the program's own windows get their close event directly.
    bool RequestClose(WindowId window) override;
    std::uint64_t Revision() override;
    bool ChangedSince(std::uint64_t since, std::vector<WindowId>& changed) override;
    // The toplevel's app id.
    QString Program(WindowId window) override;

    struct Toplevel;
    struct Connection;

protected:
    const QString* heldTitle(WindowId window) override;

private:
    friend struct Connection;
    void readEvents();
    void flush();
    void described(Toplevel& toplevel);
    void forget(Toplevel& toplevel);
    void forgetAll();
    void identifyOwn(Toplevel& toplevel);
    void report();
    Toplevel* find(WindowId window) const;

    std::unique_ptr<Connection> wl_;
};
