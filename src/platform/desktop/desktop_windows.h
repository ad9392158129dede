#pragma once

// The desktop's top-level windows, as the popup sweep sees them. Window ids are the
// platform's own (window_id.h); 0 means "no window".

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/desktop/window_id.h"

// Which windows the popup sweep closes: each whose style has every bit of `styleMask` and
// whose title ends in `titleSuffix`. The sweep holds the one rule; a desktop that can tell
// from its events when a window becomes closable judges by the same rule.
struct ClosableRule {
    std::uint32_t styleMask = 0;
    QString titleSuffix;
    bool styleFits(std::uint32_t style) const { return (style & styleMask) == styleMask; }
    bool closable(std::uint32_t style, const QString& title) const {
        return styleFits(style) && title.endsWith(titleSuffix);
    }
};

class DesktopWindows {
public:
    // A desktop stands for a connection or a mirror of one: it is never copied.
    DesktopWindows() = default;
    DesktopWindows(const DesktopWindows&) = delete;
    DesktopWindows& operator=(const DesktopWindows&) = delete;
    virtual ~DesktopWindows() = default;

    // The first top-level window in stacking order (topmost first); 0 when there is none.
    virtual WindowId FirstWindow() = 0;

    // The window after `window` in stacking order; 0 at the end or when `window` is gone.
    virtual WindowId NextWindow(WindowId window) = 0;

    // WindowStyle bits of the window; 0 when the window is gone.
    virtual std::uint32_t Style(WindowId window) = 0;

    // Length of the title in characters (UTF-16 code units); 0 when untitled or gone.
    virtual int TitleLength(WindowId window) = 0;

    // Hands out at most maxCount - 1 characters of the title in `title` (a whole title
    // shares the desktop's text, it is not copied) and returns how many; 0 when untitled,
    // gone or maxCount < 1.
    virtual int Title(WindowId window, QString& title, int maxCount) = 0;

    // The first top-level window in stacking order whose title is exactly `title`; 0 when
    // none has it.
    virtual WindowId FindByTitle(const QString& title) = 0;

    // The program the window belongs to, as a person knows it: its class (WM_CLASS on
    // X11, the app id on Wayland) or its process's name; empty when unknown or gone. May
    // ask the desktop and wait for the answer.
    virtual QString Program(WindowId window) {
        (void)window;
        return QString();
    }

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

    // Reports a window the moment it becomes closable by `rule` (mapped, retitled or given
    // a frame), as far as the desktop learns it by events, without asking anyone. A window
    // that stays so is not reported again. One listener; a new one (or none) replaces it.
    // Called from the event loop, never from within another call of this interface.
    void onWindowEligible(const ClosableRule& rule, std::function<void(WindowId)> listener) {
        eligibleRule_ = rule;
        eligibleListener_ = std::move(listener);
    }

protected:
    const ClosableRule& eligibleRule() const { return eligibleRule_; }
    bool watchesEligible() const { return bool(eligibleListener_); }
    void reportEligible(WindowId window) {
        if (eligibleListener_) eligibleListener_(window);
    }

private:
    ClosableRule eligibleRule_;
    std::function<void(WindowId)> eligibleListener_;
};
