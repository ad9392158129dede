#include "platform/x11/window_mirror.h"

#include <xcb/xcbext.h>

#include <algorithm>
#include <cstdlib>

#include "platform/desktop/desktop_windows.h"
#include "platform/system/log.h"

namespace x11 {

const Client* WindowMirror::client(WindowId window) const {
    auto it = clients_.find(window);
    return it == clients_.end() ? nullptr : &it->second;
}

bool WindowMirror::poll() {
    // The poll's reads leave a read still on its way valid: otherwise, on a machine slow
    // enough that a read's answer takes longer than a poll's interval, every answer would
    // be dropped and the window's title never read again.
    for (WindowId window : polled_) markDirty(window, DirtyProperties, false);
    return !polled_.empty();
}

void WindowMirror::clear() {
    discardBatches();
    discardRootRead();
    orderChanged();
    order_.clear();
    clients_.clear();
    dirtyWindows_.clear();
    polled_.clear();
    eligibleNow.clear();
    orderStale_ = false;
}

bool WindowMirror::checkAlive() {
    const bool was = x_.alive();
    if (!x_.checkAlive() && was) clear();
    return x_.alive();
}

void WindowMirror::drain() {
    if (!checkAlive()) return;
    while (xcb_generic_event_t* event = xcb_poll_for_event(x_.c())) {
        handle(event);
        std::free(event);
    }
    checkAlive();
    rebuildOrder();
}

void WindowMirror::drainRead() {
    if (!checkAlive()) return;
    drainQueued();
    rebuildOrder();
}

void WindowMirror::drainQueued() {
    while (xcb_generic_event_t* event = xcb_poll_for_queued_event(x_.c())) {
        handle(event);
        std::free(event);
    }
}

void WindowMirror::refresh() {
    drain();
    finishRootRead();
    takeBatches(true);
    for (int round = 0; x_.alive() && round < 4; ++round) {
        if (!wmDirty_ && !listDirty_ && dirtyWindows_.empty()) break;
        if (wmDirty_) readRoot();
        readDirtyWindows(listDirty_);
        if (!checkAlive()) break;
        drainQueued();
    }
    checkAlive();
    rebuildOrder();
}

void WindowMirror::findWindowManager() {
    drain();
    if (rootRead_.step == RootRead::Manager || rootRead_.step == RootRead::ManagerCheck) finishRootRead();
    if (x_.alive() && wmDirty_) readRoot();
    checkAlive();
}

void WindowMirror::refreshInBackground(std::size_t batchWindows) {
    drain();
    // The window manager's check and the stacking list go out without waiting too, one
    // at a time, taken once answered. Without a window manager the root's children (and
    // the frames' clients) are read at once.
    while (takeRootRead(false)) drainQueued();
    if (x_.alive() && !ewmh_ && listDirty_ && !wmDirty_ && rootRead_.step == RootRead::None) {
        readList();
        drainQueued();
    }
    sendRootRead();
    // One batch a turn: the event loop runs between two, and the socket or needsRead
    // brings the next.
    takeBatches(false, 1);
    while (x_.alive() && !dirtyWindows_.empty() && inFlightWindows_ < kMostInFlight)
        sendBatch(std::min(batchWindows, kMostInFlight - inFlightWindows_));
    if (x_.alive()) xcb_flush(x_.c());
    drainRead();  // events read off the socket while looking for the replies
}

bool WindowMirror::needsRead() {
    if (!x_.alive()) return false;
    const bool looked = rootRead_.step != RootRead::None || !inFlight_.empty();
    bool answered = rootRead_.step != RootRead::None && rootRead_.fence.answered(x_.c());
    if (!answered && !inFlight_.empty()) answered = inFlight_.front().fence.answered(x_.c());
    // Looking for a reply reads whatever the socket holds, events too: those would wake
    // nobody (the socket is empty now) and wait for the next event, on a busy machine
    // for good. They are handled here; with nothing in flight nothing was read.
    if (looked) drainRead();
    if (answered) return true;
    if (rootRead_.step == RootRead::None && (wmDirty_ || listDirty_)) return true;
    return !dirtyWindows_.empty() && inFlightWindows_ < kMostInFlight;
}

// ---- events ----

void WindowMirror::handle(const xcb_generic_event_t* event) {
    // An event another client sent (SendEvent sets the high bit) is what that client
    // claims, not what the server did: a window manager's synthetic ConfigureNotify to
    // its client, a withdrawing client's synthetic UnmapNotify to the root, or anybody's
    // fake. The state of windows is taken from the server alone. ClientMessages, which
    // are always sent so, carry nothing the mirror follows.
    if (event->response_type & 0x80) return;
    switch (event->response_type & 0x7F) {
    case 0: {
        // An error of a request without reply: a window gone meanwhile.
        const auto* e = reinterpret_cast<const xcb_generic_error_t*>(event);
        qCDebug(lcX11) << "request" << int(e->major_code) << "failed with error" << int(e->error_code) << "on"
                       << e->resource_id;
        break;
    }
    case XCB_PROPERTY_NOTIFY: onProperty(reinterpret_cast<const xcb_property_notify_event_t*>(event)); break;
    case XCB_MAP_NOTIFY: {
        const auto* e = reinterpret_cast<const xcb_map_notify_event_t*>(event);
        // Something appeared inside a frame whose client was not found.
        if (order_.somethingInside(e->event)) listDirty_ = true;
        onMapped(e->window, true);
        break;
    }
    case XCB_UNMAP_NOTIFY: onMapped(reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->window, false); break;
    case XCB_REPARENT_NOTIFY: {
        const auto* e = reinterpret_cast<const xcb_reparent_notify_event_t*>(event);
        if (order_.somethingInside(e->event)) listDirty_ = true;
        // A framed client that left its frame: the frame is looked at again.
        if (order_.clientLeft(e->window)) listDirty_ = true;
        if (!ewmh_ && (e->parent == x_.root() || clients_.count(e->window))) listDirty_ = true;
        break;
    }
    case XCB_DESTROY_NOTIFY: onDestroy(reinterpret_cast<const xcb_destroy_notify_event_t*>(event)); break;
    case XCB_CREATE_NOTIFY:
        if (!ewmh_ && reinterpret_cast<const xcb_create_notify_event_t*>(event)->parent == x_.root())
            listDirty_ = true;
        break;
    case XCB_CIRCULATE_NOTIFY:
        if (!ewmh_) listDirty_ = true;
        break;
    case XCB_CONFIGURE_NOTIFY: onConfigure(reinterpret_cast<const xcb_configure_notify_event_t*>(event)); break;
    default: break;
    }
}

void WindowMirror::onProperty(const xcb_property_notify_event_t* e) {
    if (e->window == x_.root()) {
        if (e->atom == x_[_NET_SUPPORTING_WM_CHECK] || e->atom == x_[_NET_SUPPORTED]) wmDirty_ = true;
        else if (e->atom == x_[_NET_CLIENT_LIST_STACKING] && ewmh_) listDirty_ = true;
        return;
    }
    auto it = clients_.find(e->window);
    if (it == clients_.end() || polled_.count(e->window)) return;  // a polled window: the next read sees it
    const std::uint8_t what = dirtyBitOf(x_, e->atom);
    if ((what & DirtyTitle) && it->second.storm.titleEvent(e->time)) {
        startPolling(e->window);
        return;
    }
    if (what) markDirty(e->window, what);
}

void WindowMirror::onDestroy(const xcb_destroy_notify_event_t* e) {
    // A framed client that ended: its frame is looked at again.
    if (order_.clientLeft(e->window)) listDirty_ = true;
    if (e->window == wmCheck_) wmDirty_ = true;
    forget(order_.clientOf(e->window));
    forget(e->window);
}

void WindowMirror::onMapped(WindowId window, bool mapped) {
    auto it = clients_.find(window);
    if (it == clients_.end()) return;
    it->second.stamp = ++stamps_;
    const std::uint32_t before = style(it->second);
    it->second.mapped = mapped;
    if (style(it->second) != before) windowChanged(window);
    judge(window, it->second);
}

// Without a window manager the stacking order is the root's: a window whose lower
// neighbour changed was restacked.
void WindowMirror::onConfigure(const xcb_configure_notify_event_t* e) {
    if (ewmh_ || e->event != x_.root() || listDirty_ || orderStale_) return;
    if (order_.restacked(e->window, e->above_sibling)) listDirty_ = true;
}

// ---- the retitle storm ----

// What the mirror listens to on a listed window.
std::uint32_t WindowMirror::clientMask(WindowId window, bool properties) const {
    return (properties ? XCB_EVENT_MASK_PROPERTY_CHANGE : 0) | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
           (order_.unresolved(window) ? XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY : 0);
}

// A title storm: stop listening to the window's properties; they are read at each walk
// instead (poll). Mapping and destruction still come as events.
void WindowMirror::startPolling(WindowId window) {
    qCDebug(lcX11) << "window" << window << "retitles itself quickly: its properties are polled";
    polled_.insert(window);
    x_.listen(window, clientMask(window, false));
}

// Called after each read of a polled window: once its title has held still, it is
// followed by events again, read once more after listening.
void WindowMirror::pollRead(WindowId window, Client& c, bool titleChanged) {
    if (!c.storm.polledRead(titleChanged)) return;
    qCDebug(lcX11) << "window" << window << "quiet again: its properties are followed by events";
    polled_.erase(window);
    x_.listen(window, clientMask(window, true));
    markDirty(window, DirtyProperties);
}

// ---- the mirror's state ----

void WindowMirror::orderChanged() { changes_.orderChanged(); }

void WindowMirror::windowChanged(WindowId window) { changes_.windowChanged(window, order_.windows().size()); }

bool WindowMirror::changedSince(std::uint64_t since, std::vector<WindowId>& changed) const {
    return changes_.changedSince(since, changed,
                                 [this](WindowId a, WindowId b) { return order_.position(a) < order_.position(b); });
}

void WindowMirror::markDirty(WindowId window, std::uint8_t what, bool newer) {
    auto it = clients_.find(window);
    if (it == clients_.end()) return;
    if (it->second.dirty == 0) dirtyWindows_.push_back(window);
    it->second.dirty |= what;
    if (newer) it->second.stamp = ++stamps_;
}

void WindowMirror::forget(WindowId window) {
    if (clients_.erase(window)) {
        orderStale_ = true;
        orderChanged();
    }
    polled_.erase(window);
}

// Notes a window that has just become one the sweep closes.
void WindowMirror::judge(WindowId window, Client& c) {
    const bool now = rule && rule->closable(style(c), c.title());
    if (now && !c.eligible) eligibleNow.push_back(window);
    c.eligible = now;
}

void WindowMirror::rebuildOrder() {
    if (!orderStale_) return;
    orderStale_ = false;
    order_.remove([this](WindowId w) { return !clients_.count(w); });
}

}  // namespace x11
