// The mirror's reads: the root's (the window manager's check, the stacking list) and
// the windows' batches, sent without waiting and taken as the socket brings them.

#include "platform/x11/window_mirror.h"

#include <xcb/xcbext.h>

#include <algorithm>
#include <cstdlib>

#include "platform/desktop/desktop_windows.h"
#include "platform/system/log.h"

namespace x11 {

// ---- reading ----

// Waited for: what is in flight first, then the root's next read (sendRootRead).
void WindowMirror::readRoot() {
    finishRootRead();
    sendRootRead();
    finishRootRead();
}

// ---- the root's reads ----

// Sends the read the root needs next, when none is in flight: the window manager's check
// first, then (under an EWMH window manager) the stacking list.
void WindowMirror::sendRootRead() {
    if (rootRead_.step != RootRead::None || !x_.alive()) return;
    if (wmDirty_) {
        wmDirty_ = false;
        rootRead_.step = RootRead::Manager;
        rootRead_.first = xcb_get_property(x_.c(), 0, x_.root(), x_[_NET_SUPPORTING_WM_CHECK], XCB_ATOM_WINDOW, 0, 1);
        rootRead_.second = x_.askProperty(x_.root(), x_[_NET_SUPPORTED]);
    } else if (listDirty_ && ewmh_) {
        listDirty_ = false;
        rootRead_.step = RootRead::List;
        rootRead_.first = x_.askProperty(x_.root(), x_[_NET_CLIENT_LIST_STACKING]);
    } else {
        return;
    }
    rootRead_.fence.send(x_.c());
}

// Takes the root's read in flight, waiting for it with `wait`, otherwise only once
// answered; true when a step was taken. The window manager's check takes two steps: its
// check window is asked about in the second.
bool WindowMirror::takeRootRead(bool wait) {
    if (rootRead_.step == RootRead::None || !x_.alive()) return false;
    if (!wait && !rootRead_.fence.answered(x_.c())) return false;
    rootRead_.fence.drop(x_.c());
    x_.countRoundTrip();
    const RootRead read = rootRead_;
    rootRead_.step = RootRead::None;
    switch (read.step) {
    case RootRead::Manager: {
        const Property check = x_.takeProperty(read.first, x_.root(), x_[_NET_SUPPORTING_WM_CHECK]);
        const Property supported = x_.takeProperty(read.second, x_.root(), x_[_NET_SUPPORTED]);
        const auto values = check.values32();
        const xcb_window_t child = values.empty() ? XCB_NONE : values[0];
        if (child == XCB_NONE) {
            applyWindowManager(XCB_NONE, false);
            break;
        }
        // Watch the check window so that a window manager that dies is noticed.
        x_.listen(child, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
        rootRead_.step = RootRead::ManagerCheck;
        rootRead_.child = child;
        rootRead_.stacking = supported.contains32(x_[_NET_CLIENT_LIST_STACKING]);
        rootRead_.first = xcb_get_property(x_.c(), 0, child, x_[_NET_SUPPORTING_WM_CHECK], XCB_ATOM_WINDOW, 0, 1);
        rootRead_.fence.send(x_.c());
        break;
    }
    case RootRead::ManagerCheck: {
        const auto values = x_.takeProperty(read.first, read.child, x_[_NET_SUPPORTING_WM_CHECK]).values32();
        const bool valid = !values.empty() && values[0] == read.child;
        if (!valid) qCDebug(lcX11) << "stale window manager check window" << read.child;
        applyWindowManager(valid ? read.child : XCB_NONE, valid && read.stacking);
        break;
    }
    case RootRead::List: {
        const std::vector<WindowId> before = order_.windows();
        order_.setStacking(x_.takeProperty(read.first, x_.root(), x_[_NET_CLIENT_LIST_STACKING]).values32());
        listRead(before);
        break;
    }
    case RootRead::None: break;
    }
    return true;
}

void WindowMirror::finishRootRead() {
    while (takeRootRead(true)) {}
}

void WindowMirror::discardRootRead() {
    if (rootRead_.step == RootRead::None) return;
    xcb_discard_reply(x_.c(), rootRead_.first.sequence);
    if (rootRead_.step == RootRead::Manager) xcb_discard_reply(x_.c(), rootRead_.second.sequence);
    rootRead_.fence.drop(x_.c());
    rootRead_.step = RootRead::None;
}

void WindowMirror::applyWindowManager(xcb_window_t check, bool ewmh) {
    wmCheck_ = check;
    if (ewmh != ewmh_) {
        ewmh_ = ewmh;
        clear();
    }
    listDirty_ = true;
}

// Reads the order and waits for it: under an EWMH window manager its stacking list, the
// same root read refreshInBackground sends without waiting; otherwise the root's children.
void WindowMirror::readList() {
    if (ewmh_) {
        finishRootRead();
        listDirty_ = true;
        readRoot();
        return;
    }
    listDirty_ = false;
    const std::vector<WindowId> before = order_.windows();
    order_.readChildren();
    listRead(before);
}

// The order was read anew: windows that left it are forgotten, new ones followed and read.
void WindowMirror::listRead(const std::vector<WindowId>& before) {
    if (order_.windows() != before) orderChanged();
    orderStale_ = false;
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (order_.contains(it->first)) {
            ++it;
            continue;
        }
        polled_.erase(it->first);
        it = clients_.erase(it);
    }
    for (WindowId window : order_.windows()) {
        if (clients_.count(window)) continue;
        // Listen first, then read: a change after the read always brings an event.
        x_.listen(window, clientMask(window, true));
        clients_.emplace(window, Client{});
        markDirty(window, DirtyAll);
    }
}

// One batch: the requests for the windows marked dirty go out, then (when `list`) the
// list is read, so that one wait brings both, then every reply is taken (also for a
// window found gone on the way) and applied.
void WindowMirror::readDirtyWindows(bool list) {
    const bool sent = sendBatch(SIZE_MAX);
    if (list) {
        if (sent) inFlight_.back().counted = false;
        readList();
    }
    takeBatches(true);
}

// Sends the requests for the first `mostWindows` windows marked dirty, as one batch in
// flight; false when there was nothing to ask for.
bool WindowMirror::sendBatch(std::size_t mostWindows) {
    const std::size_t count = std::min(mostWindows, dirtyWindows_.size());
    Batch batch;
    batch.reads.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        auto it = clients_.find(dirtyWindows_[i]);
        if (it == clients_.end() || it->second.dirty == 0) continue;
        StateRead read = sendRead(x_, it->first, it->second.dirty);
        read.stamp = it->second.stamp;
        it->second.dirty = 0;
        batch.reads.push_back(read);
    }
    dirtyWindows_.erase(dirtyWindows_.begin(), dirtyWindows_.begin() + std::ptrdiff_t(count));
    if (!batch.reads.empty()) {
        batch.fence.send(x_.c());
        inFlightWindows_ += batch.reads.size();
        inFlight_.push_back(std::move(batch));
        return true;
    }
    return false;
}

// True once the fence's reply has been read from the socket, and with it the replies of
// every request sent before it; waits for nothing. Only the first look finds the reply:
// `in` remembers it.
bool Fence::answered(xcb_connection_t* c) {
    if (in) return true;
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (!xcb_poll_for_reply(c, cookie.sequence, &reply, &error)) return false;
    std::free(reply);
    std::free(error);
    in = true;
    return true;
}

void Fence::drop(xcb_connection_t* c) {
    if (!in) xcb_discard_reply(c, cookie.sequence);
    in = true;
}

// Takes the batches in flight, oldest first, at most `mostBatches`: with `wait` all of
// them, waiting for their replies; otherwise those answered already.
void WindowMirror::takeBatches(bool wait, std::size_t mostBatches) {
    for (std::size_t taken = 0; !inFlight_.empty() && taken < mostBatches; ++taken) {
        if (!wait && !inFlight_.front().fence.answered(x_.c())) return;
        Batch batch = std::move(inFlight_.front());
        inFlight_.pop_front();
        inFlightWindows_ -= batch.reads.size();
        batch.fence.drop(x_.c());
        if (batch.counted) x_.countRoundTrip();
        for (const StateRead& read : batch.reads) apply(read);
    }
}

// Forgets the batches in flight: their replies are dropped as they come.
void WindowMirror::discardBatches() {
    for (Batch& batch : inFlight_) {
        for (const StateRead& read : batch.reads) {
            if (read.what & DirtyAttributes) xcb_discard_reply(x_.c(), read.attributes.sequence);
            for (std::size_t i = 0; i < kPropertyCount; ++i)
                if (read.what & kWindowProperties[i].bit) xcb_discard_reply(x_.c(), read.properties[i].sequence);
        }
        batch.fence.drop(x_.c());
    }
    inFlight_.clear();
    inFlightWindows_ = 0;
}

// The replies of one window's read. An event about the window handled after the requests
// went out may tell of a change their replies do not show yet (a window retitled away from
// a title the sweep closes): then the replies are dropped and the window is read again.
// The drop is no news of the window: a read sent after the event stays good, or with two
// reads in flight every answer would be dropped for good.
void WindowMirror::apply(const StateRead& read) {
    auto it = clients_.find(read.window);
    Client* client = it == clients_.end() ? nullptr : &it->second;
    const bool stale = client && client->stamp != read.stamp;
    const QString titleBefore = client ? client->title() : QString();
    const std::uint32_t styleBefore = client ? style(*client) : 0;
    if (!takeRead(x_, read, stale ? nullptr : client)) {
        qCDebug(lcX11) << "window" << read.window << "gone while read";
        forget(read.window);
        return;
    }
    if (stale) {
        ++staleReads_;
        markDirty(read.window, read.what, false);
        return;
    }
    if (!client) return;
    if (style(*client) != styleBefore || client->title() != titleBefore) windowChanged(read.window);
    judge(read.window, *client);
    if (polled_.count(read.window)) pollRead(read.window, *client, client->title() != titleBefore);
}

}  // namespace x11
