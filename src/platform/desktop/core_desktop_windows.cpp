#include "platform/desktop/core_desktop_windows.h"

#include <algorithm>

CoreDesktopWindows::CoreDesktopWindows(std::unique_ptr<DesktopCore> core) : core_(std::move(core)) {
    core_->onWindowTouched([this](WindowId window) { touched(window); });
}

CoreDesktopWindows::~CoreDesktopWindows() { core_->onWindowTouched(nullptr); }

void CoreDesktopWindows::touched(WindowId window) {
    if (!watchesEligible()) return;
    const std::uint32_t style = core_->Style(window);
    const int length = core_->TitleLength(window);
    bool eligible = false;
    if (eligibleRule().styleFits(style) && length > 0) {
        core_->Title(window, text_, length + 1);
        eligible = eligibleRule().closable(style, QString::fromStdU16String(text_));
    }
    if (!eligible) {
        reported_.erase(window);
        return;
    }
    if (reported_.insert(window).second) reportEligible(window);
}

WindowId CoreDesktopWindows::FirstWindow() { return core_->FirstWindow(); }

WindowId CoreDesktopWindows::NextWindow(WindowId window) { return core_->NextWindow(window); }

std::uint32_t CoreDesktopWindows::Style(WindowId window) { return core_->Style(window); }

int CoreDesktopWindows::TitleLength(WindowId window) { return core_->TitleLength(window); }

int CoreDesktopWindows::Title(WindowId window, QString& title, int maxCount) {
    const int count = core_->Title(window, text_, maxCount);
    const std::size_t size = std::min<std::size_t>(text_.size(), std::size_t(std::max(count, 0)));
    title = QString::fromUtf16(text_.data(), qsizetype(size));
    return int(size);
}

WindowId CoreDesktopWindows::FindByTitle(const QString& title) { return core_->FindByTitle(title.toStdU16String()); }

bool CoreDesktopWindows::RequestClose(WindowId window) { return core_->RequestClose(window); }

std::uint64_t CoreDesktopWindows::Revision() { return core_->Revision(); }

bool CoreDesktopWindows::ChangedSince(std::uint64_t since, std::vector<WindowId>& changed) {
    return core_->ChangedSince(since, changed);
}
