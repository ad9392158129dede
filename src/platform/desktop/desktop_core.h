#pragma once

// A desktop's top-level windows in plain standard C++: what a desktop adapter written
// without Qt (user32's) offers, with titles in UTF-16. CoreDesktopWindows hands it to the
// sweep as a DesktopWindows. The calls mean what DesktopWindows' calls of the same names
// mean.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/desktop/window_id.h"

class DesktopCore {
public:
    DesktopCore() = default;
    DesktopCore(const DesktopCore&) = delete;
    DesktopCore& operator=(const DesktopCore&) = delete;
    virtual ~DesktopCore() = default;

    virtual WindowId FirstWindow() = 0;
    virtual WindowId NextWindow(WindowId window) = 0;
    virtual std::uint32_t Style(WindowId window) = 0;
    virtual int TitleLength(WindowId window) = 0;
    // At most maxCount - 1 code units of the title into `title`; returns how many.
    virtual int Title(WindowId window, std::u16string& title, int maxCount) = 0;
    virtual WindowId FindByTitle(const std::u16string& title) = 0;
    virtual bool RequestClose(WindowId window) = 0;
    virtual std::uint64_t Revision() { return 0; }
    virtual bool ChangedSince(std::uint64_t since, std::vector<WindowId>& changed) {
        (void)since;
        (void)changed;
        return false;
    }

    // Called, from the thread's message loop, with each top-level window that was shown,
    // retitled or created, as far as the system tells: the window may have become one the
    // sweep closes. One listener; a new one (or none) replaces it.
    void onWindowTouched(std::function<void(WindowId)> listener) { touched_ = std::move(listener); }

protected:
    void reportTouched(WindowId window) {
        if (touched_) touched_(window);
    }

private:
    std::function<void(WindowId)> touched_;
};
