#pragma once

// The mirror of the desktop's top-level windows: their order and what is known of each,
// kept up to date from the X server's events. An event marks what changed; a refresh
// reads all of it in one batch of requests followed by their replies. From the event
// loop the batches go out without waiting: their replies are taken when the socket
// brings them. The same events tell which windows just became ones the sweep closes,
// judged in the mirror alone.

#include <xcb/xcb.h>

#include <QString>
#include <cstdint>
#include <deque>
#include <utility>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/desktop/change_log.h"
#include "platform/desktop/desktop_windows.h"
#include "platform/x11/stacking_order.h"
#include "platform/x11/window_state.h"
#include "platform/x11/x11_connection.h"

namespace x11 {

// A request (GetInputFocus) sent after a group of requests: once its reply has been read
// from the socket, all of theirs are in.
struct Fence {
    xcb_get_input_focus_cookie_t cookie{};
    bool in = false;

    void send(xcb_connection_t* c) {
        cookie = xcb_get_input_focus(c);
        in = false;
    }
    // True once the reply has been read from the socket; waits for nothing.
    bool answered(xcb_connection_t* c);
    // The reply is not looked for any more: it is dropped as it comes.
    void drop(xcb_connection_t* c);
};

class WindowMirror {
public:
    explicit WindowMirror(Connection& x) : x_(x), order_(x) {}

    // The rule of windows to report when they become closable; null: none.
    const ClosableRule* rule = nullptr;
    // Windows that became closable since the last report.
    std::vector<WindowId> eligibleNow;

    // Windows in walk order (top of the stacking order first).
    const std::vector<WindowId>& order() const { return order_.windows(); }
    WindowId next(WindowId window) const { return order_.next(window); }
    bool ewmh() const { return ewmh_; }
    const Client* client(WindowId window) const;
    std::uint32_t style(const Client& c) const { return styleOf(c, ewmh_); }

    // Windows read in flight at most, by refreshInBackground: a few batches, so that
    // sending them never waits long for the X server to take them in.
    static constexpr std::size_t kMostInFlight = 256;

    // Something is to be done that no reply still to come will wake the event loop for:
    // events were handled whose changes are not sent for yet, or a batch was answered
    // whose replies have already left the socket. Handles the events that looking for
    // those replies read off the socket.
    bool needsRead();

    // Windows whose properties are read at each walk rather than on events.
    bool polling() const { return !polled_.empty(); }
    // Marks the properties of those windows to be read by the next refresh; false when
    // there are none.
    bool poll();

    // Handles every event that has arrived, without waiting for the X server.
    void drain();
    // Handles the events xcb has read already, without a system call: what is still in
    // the socket wakes the event loop and is handled there.
    void drainRead();
    // Finds the window manager (a few round trips); the windows are read later.
    void findWindowManager();
    // Brings the mirror up to date: events first, then one batch for what changed.
    void refresh();
    // The same without waiting for the windows' replies: takes the oldest batch already
    // answered, then sends batches of at most `batchWindows` windows for what changed, up
    // to kMostInFlight windows in flight.
    void refreshInBackground(std::size_t batchWindows);

    // A number that grows with every change of what the mirror answers (the order, or a
    // window's style or title).
    std::uint64_t revision() const { return changes_.revision(); }
    // Since `since`: true when the order stayed, with the windows whose style or title
    // changed in walk order; false when the order changed or that is no longer known.
    bool changedSince(std::uint64_t since, std::vector<WindowId>& changed) const;

    // Reads whose replies were dropped: an event about the window came first.
    std::uint64_t staleReads() const { return staleReads_; }

    // False once the connection broke; the mirror is empty from then on.
    bool checkAlive();

private:
    void clear();
    void handle(const xcb_generic_event_t* event);
    void drainQueued();

    // ---- events ----
    void onProperty(const xcb_property_notify_event_t* e);
    void onDestroy(const xcb_destroy_notify_event_t* e);
    void onMapped(WindowId window, bool mapped);
    void onConfigure(const xcb_configure_notify_event_t* e);

    // ---- the retitle storm ----
    std::uint32_t clientMask(WindowId window, bool properties) const;
    void startPolling(WindowId window);
    void pollRead(WindowId window, Client& c, bool titleChanged);

    void orderChanged();
    void windowChanged(WindowId window);

    // Marks what of the window is to be read. `newer`: something happened to the window
    // (an event) that replies to reads already on their way may not show yet, so they are
    // dropped when they come; a poll or a dropped read sent again is no such thing, and
    // keeps them.
    void markDirty(WindowId window, std::uint8_t what, bool newer = true);
    void forget(WindowId window);
    void judge(WindowId window, Client& c);
    void rebuildOrder();

    // ---- reading ----
    void readRoot();
    void readList();
    void listRead(const std::vector<WindowId>& before);

    // The root's read in flight from refreshInBackground, closed by a fence whose reply
    // says it is in: the window manager's check, its check window's, or the stacking list.
    struct RootRead {
        enum Step { None, Manager, ManagerCheck, List } step = None;
        xcb_get_property_cookie_t first{};
        xcb_get_property_cookie_t second{};
        Fence fence;
        xcb_window_t child = XCB_NONE;  // the check window named by the root
        bool stacking = false;          // _NET_SUPPORTED lists the stacking list
    };
    void sendRootRead();
    bool takeRootRead(bool wait);
    void finishRootRead();
    void discardRootRead();
    void applyWindowManager(xcb_window_t check, bool ewmh);
    void readDirtyWindows(bool list);

    // One batch of reads in flight, closed by its fence.
    struct Batch {
        std::vector<StateRead> reads;
        Fence fence;
        bool counted = true;  // a round trip of its own (not sharing the wait for the list)
    };
    bool sendBatch(std::size_t mostWindows);
    void takeBatches(bool wait, std::size_t mostBatches = SIZE_MAX);
    void discardBatches();
    void apply(const StateRead& read);

    Connection& x_;
    StackingOrder order_;
    std::unordered_map<WindowId, Client> clients_;
    std::unordered_set<WindowId> polled_;  // listed windows whose properties are read at each walk, not on events
    std::vector<WindowId> dirtyWindows_;
    std::deque<Batch> inFlight_;
    std::size_t inFlightWindows_ = 0;
    std::uint64_t stamps_ = 0;  // the last Client::stamp handed out
    std::uint64_t staleReads_ = 0;

    bool ewmh_ = false;
    xcb_window_t wmCheck_ = XCB_NONE;
    bool wmDirty_ = true;
    bool listDirty_ = true;
    bool orderStale_ = false;  // windows were removed from clients_ but not yet from the order

    RootRead rootRead_;
    ChangeLog changes_;
};

}  // namespace x11
