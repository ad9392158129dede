#pragma once

// A desktop's top-level windows in plain standard C++: what a desktop adapter written
// without Qt (user32's) offers, with titles in UTF-16. CoreDesktopWindows hands it to the
// sweep as a DesktopWindows.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/desktop/window_id.h"

class DesktopCore : public WindowWalk<std::u16string> {
public:
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
