#pragma once

// Window ids and style bits as every desktop adapter hands them out, without Qt: the
// user32 adapter's core builds with the Windows compilers alone.

#include <cstdint>
#include <vector>

// The platform's own window id (an X11 window id, a user32 window handle); 0 means "no
// window".
using WindowId = std::uint32_t;

namespace WindowStyle {
inline constexpr std::uint32_t Visible = 0x10000000u;  // shown (a minimised window counts)
inline constexpr std::uint32_t Border = 0x00800000u;   // decorated: has a frame or title bar
}  // namespace WindowStyle

// The walk over a desktop's top-level windows, with titles in `Text` (QString for the
// sweep, std::u16string for an adapter written without Qt). A desktop stands for a
// connection or a mirror of one: it is never copied.
template <class Text>
class WindowWalk {
public:
    WindowWalk() = default;
    WindowWalk(const WindowWalk&) = delete;
    WindowWalk& operator=(const WindowWalk&) = delete;
    virtual ~WindowWalk() = default;

    // The first top-level window in stacking order (topmost first); 0 when there is none.
    virtual WindowId FirstWindow() = 0;

    // The window after `window` in stacking order; 0 at the end or when `window` is gone.
    virtual WindowId NextWindow(WindowId window) = 0;

    // WindowStyle bits of the window; 0 when the window is gone.
    virtual std::uint32_t Style(WindowId window) = 0;

    // Length of the title in characters (UTF-16 code units); 0 when untitled or gone.
    virtual int TitleLength(WindowId window) = 0;

    // Hands out at most maxCount - 1 characters of the title in `title` and returns how
    // many; 0 when untitled, gone or maxCount < 1.
    virtual int Title(WindowId window, Text& title, int maxCount) = 0;

    // The first top-level window in stacking order whose title is exactly `title`; 0 when
    // none has it.
    virtual WindowId FindByTitle(const Text& title) = 0;

    // Asks the window politely to close; does not wait. Returns false when the request
    // could not be sent.
    virtual bool RequestClose(WindowId window) = 0;

    // What changed, for a sweep that looks only at that. Revision(), asked after
    // FirstWindow (which brings the desktop's picture up to date), is a number that grows
    // whenever any answer above may change; 0 when the desktop cannot tell, and every
    // walk then looks at every window.
    virtual std::uint64_t Revision() { return 0; }
    // Since `since` (an earlier Revision()): true when no window came, went or moved in
    // the order, with the windows whose style or title may have changed appended to
    // `changed` in walk order; false when that cannot be told.
    virtual bool ChangedSince(std::uint64_t since, std::vector<WindowId>& changed) {
        (void)since;
        (void)changed;
        return false;
    }
};
