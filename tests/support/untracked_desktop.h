#pragma once

// A desktop seen through an interface that cannot tell what changed (the default
// Revision and ChangedSince): every sweep over it walks every window.

#include "platform/desktop/desktop_windows.h"

class UntrackedDesktop : public DesktopWindows {
public:
    explicit UntrackedDesktop(DesktopWindows& d) : d_(d) {}
    WindowId FirstWindow() override { return d_.FirstWindow(); }
    WindowId NextWindow(WindowId w) override { return d_.NextWindow(w); }
    std::uint32_t Style(WindowId w) override { return d_.Style(w); }
    int TitleLength(WindowId w) override { return d_.TitleLength(w); }
    int Title(WindowId w, QString& title, int maxCount) override { return d_.Title(w, title, maxCount); }
    WindowId FindByTitle(const QString& title) override { return d_.FindByTitle(title); }
    bool RequestClose(WindowId w) override { return d_.RequestClose(w); }

private:
    DesktopWindows& d_;
};
