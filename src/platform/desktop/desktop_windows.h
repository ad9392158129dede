#pragma once

// The desktop's top-level windows, as the popup sweep sees them. Window ids are the
// platform's own (window_id.h); 0 means "no window".

#include <QString>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <functional>

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

class DesktopWindows : public WindowWalk<QString> {
public:
    // For a desktop that holds its windows' titles (heldTitle): the length, and the title
    // cut to maxCount - 1 characters, a whole title shared with the desktop's text, not
    // copied; 0 and empty when untitled, gone or maxCount < 1.
    int TitleLength(WindowId window) override {
        const QString* title = heldTitle(window);
        return title ? int(std::min<qsizetype>(title->size(), std::numeric_limits<int>::max())) : 0;
    }
    int Title(WindowId window, QString& title, int maxCount) override {
        const QString* held = heldTitle(window);
        if (!held || maxCount < 1) {
            title.clear();
            return 0;
        }
        title = held->left(maxCount - 1);
        return int(title.size());
    }

    // For a desktop that holds its windows' titles: the first window of the walk whose
    // title is exactly `title`, hidden ones included; 0 when none.
    WindowId FindByTitle(const QString& title) override {
        for (WindowId window = FirstWindow(); window != 0; window = NextWindow(window)) {
            const QString* held = heldTitle(window);
            if (held && *held == title) return window;
        }
        return 0;
    }

    // The program the window belongs to, as a person knows it: its class (WM_CLASS on
    // X11, the app id on Wayland) or its process's name; empty when unknown or gone. May
    // ask the desktop and wait for the answer.
    virtual QString Program(WindowId window) {
        (void)window;
        return QString();
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
    // The title the desktop holds for the window; null when the window is gone (or the
    // desktop overrides TitleLength and Title instead).
    virtual const QString* heldTitle(WindowId window) {
        (void)window;
        return nullptr;
    }

    const ClosableRule& eligibleRule() const { return eligibleRule_; }
    bool watchesEligible() const { return bool(eligibleListener_); }
    void reportEligible(WindowId window) {
        if (eligibleListener_) eligibleListener_(window);
    }

private:
    ClosableRule eligibleRule_;
    std::function<void(WindowId)> eligibleListener_;
};
