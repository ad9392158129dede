#pragma once

// The order of the desktop's top-level windows, top first: the EWMH window manager's
// stacking list (_NET_CLIENT_LIST_STACKING) when one runs, otherwise the root window's
// children. Without the stacking list each of the root's children stands for its
// client, the window inside it that carries WM_STATE (the child itself, or the first
// found inside it, level by level, as window managers and xprop find it).

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/x11/x11_connection.h"

namespace x11 {

class StackingOrder {
public:
    explicit StackingOrder(Connection& x) : x_(x) {}

    // Reads the order again without a window manager's list (round trips): the root's
    // children and the clients of the frames not known yet.
    void readChildren();
    // The order from the window manager's stacking list, read by the caller (bottom first).
    void setStacking(const std::vector<WindowId>& bottomToTop);
    void clear();

    // Top first, each window once.
    const std::vector<WindowId>& windows() const { return order_; }
    bool contains(WindowId window) const { return index_.count(window) != 0; }
    // Where the window is in windows(); windows().size() when it is not there.
    std::size_t position(WindowId window) const;
    // The window after `window`; 0 at the end or when it is not there.
    WindowId next(WindowId window) const;
    // Drops the windows `gone` says are gone; true when any was dropped.
    bool remove(const std::function<bool(WindowId)>& gone);

    // ---- frames (only without the stacking list) ----
    WindowId clientOf(WindowId frame) const;
    WindowId frameOf(WindowId client) const;
    // A root child with no client found yet: watched for one arriving inside it.
    bool unresolved(WindowId frame) const { return unresolved_.count(frame) != 0; }
    // Something was mapped or reparented inside `parent`: true when that is a frame
    // without a client, which the next read looks into again.
    bool somethingInside(WindowId parent);
    // A window left its frame or ended: true when it was a framed client, whose frame
    // the next read looks into again.
    bool clientLeft(WindowId window);
    // A root child was configured to lie above `aboveSibling`: true when that is not the
    // window below it in the order, so the order must be read again.
    bool restacked(WindowId window, WindowId aboveSibling) const;

private:
    void resolveClients(const std::vector<WindowId>& frames);
    void reindex();

    Connection& x_;
    std::vector<WindowId> order_;
    std::unordered_map<WindowId, std::size_t> index_;  // where each window is in order_
    // Each root child's client, each framed client's frame, and the root children with
    // no client found.
    std::unordered_map<WindowId, WindowId> clientOf_;
    std::unordered_map<WindowId, WindowId> frameOf_;
    std::unordered_set<WindowId> unresolved_;
    bool resolveAgain_ = false;
};

}  // namespace x11
