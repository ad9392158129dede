#pragma once

// What changed in a mirror of the desktop's windows, for DesktopWindows::Revision and
// ChangedSince: a revision that grows with every change, the revision of the last change
// of the order, and each window changed since then (revision, window), oldest first.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/desktop/window_id.h"

class ChangeLog {
public:
    std::uint64_t revision() const { return revision_; }

    // Windows came, went or moved: only a whole walk sees the desktop as it is.
    void orderChanged() {
        orderRevision_ = ++revision_;
        changes_.clear();
    }

    // `window`'s style or title changed, on a desktop of `windows` windows.
    void windowChanged(WindowId window, std::size_t windows) {
        changes_.emplace_back(++revision_, window);
        // A desktop that keeps changing is walked whole: the log stays small.
        if (changes_.size() > std::max<std::size_t>(256, windows)) orderChanged();
    }

    // Since `since`: true when the order stayed, with the windows changed appended to
    // `changed` once each, in walk order (`before(a, b)`: a is walked before b); false
    // when the order changed or that is no longer known.
    template <class Before>
    bool changedSince(std::uint64_t since, std::vector<WindowId>& changed, Before before) const {
        if (since < orderRevision_ || since > revision_) return false;
        const auto first = std::upper_bound(changes_.begin(), changes_.end(), since,
                                            [](std::uint64_t r, const auto& change) { return r < change.first; });
        const std::size_t from = changed.size();
        for (auto it = first; it != changes_.end(); ++it) changed.push_back(it->second);
        std::sort(changed.begin() + std::ptrdiff_t(from), changed.end(), before);
        changed.erase(std::unique(changed.begin() + std::ptrdiff_t(from), changed.end()), changed.end());
        return true;
    }

private:
    std::uint64_t revision_ = 1;
    std::uint64_t orderRevision_ = 1;
    std::vector<std::pair<std::uint64_t, WindowId>> changes_;
};
