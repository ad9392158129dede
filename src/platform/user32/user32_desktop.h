#pragma once

// DesktopCore on user32, in plain standard C++ (Windows only). Every call is the wide
// (UTF-16) form: the ANSI forms would turn each title character outside the code page
// into '?', and a retitled popup would then neither match nor be found by its title.
//
// The walk follows the live chain of top-level windows by GetWindow, from the desktop's
// first child on; the style comes from GetWindowLongW(GWL_STYLE), the title from
// GetWindowTextLengthW/GetWindowTextW, the window to close from FindWindowW by title
// alone (the first window of the order whose title is exactly the text: FindWindowW by
// itself ignores case), the close request is PostMessageW(WM_CLOSE, 0, 0).
//
// The system's window events (SetWinEventHook, out of context: they arrive through the
// thread's message loop) keep a revision and a change log, and report windows that
// were shown, created or retitled. The revision is handed out only when the system was
// seen to report every kind of change the sweep depends on (a probe window of our own
// goes through them once, at the start); otherwise Revision() is 0 and every walk looks at
// every window.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/desktop/change_log.h"
#include "platform/desktop/desktop_core.h"

class User32Desktop : public DesktopCore {
public:
    // The kinds of change the probe saw reported, a bit each.
    enum Seen : unsigned {
        Created = 1, Shown = 2, Renamed = 4, Restyled = 8, Reordered = 16, Hidden = 32, Destroyed = 64,
        Everything = 127
    };

    // Hooks the window events of the calling thread's desktop. One per thread.
    User32Desktop();
    ~User32Desktop() override;

    // What the start-up probe saw reported (Seen bits).
    unsigned seenAtProbe() const { return seen_; }

    WindowId FirstWindow() override;
    WindowId NextWindow(WindowId window) override;
    std::uint32_t Style(WindowId window) override;
    int TitleLength(WindowId window) override;
    int Title(WindowId window, std::u16string& title, int maxCount) override;
    WindowId FindByTitle(const std::u16string& title) override;
    bool RequestClose(WindowId window) override;
    std::uint64_t Revision() override;
    bool ChangedSince(std::uint64_t since, std::vector<WindowId>& changed) override;

    // One window event, as the hook receives it (public for the hook's callback).
    void event(std::uint32_t kind, void* hwnd, long object, long child);

private:
    void probe();

    void* hooks_[2] = {nullptr, nullptr};
    ChangeLog log_;
    unsigned seen_ = 0;
    void* probe_ = nullptr;  // the probe window while it exists
    bool trusted_ = false;
};
