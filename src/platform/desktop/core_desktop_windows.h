#pragma once

// DesktopWindows over a DesktopCore: the thin Qt layer of an adapter written in plain
// C++ (user32's). Titles cross as UTF-16 either way; a window the core reports touched
// is reported to the early sweep when it has become visible and bordered with a title
// ending in the suffix watched, once while it stays so.

#include <QString>
#include <memory>
#include <unordered_set>

#include "platform/desktop/desktop_core.h"
#include "platform/desktop/desktop_windows.h"

class CoreDesktopWindows : public DesktopWindows {
public:
    explicit CoreDesktopWindows(std::unique_ptr<DesktopCore> core);
    ~CoreDesktopWindows() override;

    DesktopCore& core() { return *core_; }

    WindowId FirstWindow() override;
    WindowId NextWindow(WindowId window) override;
    std::uint32_t Style(WindowId window) override;
    int TitleLength(WindowId window) override;
    int Title(WindowId window, QString& title, int maxCount) override;
    WindowId FindByTitle(const QString& title) override;
    bool RequestClose(WindowId window) override;
    std::uint64_t Revision() override;
    bool ChangedSince(std::uint64_t since, std::vector<WindowId>& changed) override;

private:
    void touched(WindowId window);

    std::unique_ptr<DesktopCore> core_;
    std::u16string text_;  // the last title read, reused
    std::unordered_set<WindowId> reported_;
};
