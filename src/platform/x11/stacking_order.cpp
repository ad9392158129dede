#include "platform/x11/stacking_order.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "platform/system/log.h"

namespace x11 {

void StackingOrder::readChildren() {
    std::vector<WindowId> bottomToTop;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(x_.c(), xcb_query_tree(x_.c(), x_.root()), nullptr);
    if (tree) {
        const xcb_window_t* children = xcb_query_tree_children(tree);
        bottomToTop.assign(children, children + xcb_query_tree_children_length(tree));
    } else {
        qCDebug(lcX11) << "root window's children not read";
    }
    std::free(tree);
    x_.countRoundTrip();
    resolveClients(bottomToTop);
    for (WindowId& window : bottomToTop) window = clientOf(window);
    setStacking(bottomToTop);
}

void StackingOrder::setStacking(const std::vector<WindowId>& bottomToTop) {
    order_.assign(bottomToTop.rbegin(), bottomToTop.rend());
    std::unordered_set<WindowId> seen;
    std::erase_if(order_, [&](WindowId window) { return window == XCB_NONE || !seen.insert(window).second; });
    reindex();
}

void StackingOrder::clear() {
    order_.clear();
    index_.clear();
    clientOf_.clear();
    frameOf_.clear();
    unresolved_.clear();
}

std::size_t StackingOrder::position(WindowId window) const {
    auto it = index_.find(window);
    return it == index_.end() ? order_.size() : it->second;
}

WindowId StackingOrder::next(WindowId window) const {
    const std::size_t next = position(window) + 1;
    return next < order_.size() ? order_[next] : 0;
}

bool StackingOrder::remove(const std::function<bool(WindowId)>& gone) {
    if (std::erase_if(order_, gone) == 0) return false;
    reindex();
    return true;
}

void StackingOrder::reindex() {
    index_.clear();
    for (std::size_t i = 0; i < order_.size(); ++i) index_.emplace(order_[i], i);
}

WindowId StackingOrder::clientOf(WindowId frame) const {
    auto it = clientOf_.find(frame);
    return it == clientOf_.end() ? frame : it->second;
}

WindowId StackingOrder::frameOf(WindowId client) const {
    auto it = frameOf_.find(client);
    return it == frameOf_.end() ? client : it->second;
}

bool StackingOrder::somethingInside(WindowId parent) {
    if (!unresolved_.count(parent)) return false;
    resolveAgain_ = true;
    return true;
}

bool StackingOrder::clientLeft(WindowId window) {
    auto it = frameOf_.find(window);
    if (it == frameOf_.end()) return false;
    clientOf_.erase(it->second);
    return true;
}

bool StackingOrder::restacked(WindowId window, WindowId aboveSibling) const {
    const std::size_t at = position(clientOf(window));
    if (at == order_.size()) return false;
    const WindowId expected = at + 1 < order_.size() ? frameOf(order_[at + 1]) : XCB_NONE;
    return expected != aboveSibling;
}

void StackingOrder::resolveClients(const std::vector<WindowId>& frames) {
    const bool again = resolveAgain_;
    resolveAgain_ = false;
    std::unordered_map<WindowId, WindowId> kept;
    std::vector<WindowId> open;
    for (WindowId frame : frames) {
        auto it = clientOf_.find(frame);
        if (it != clientOf_.end() && !(again && unresolved_.count(frame))) kept.emplace(frame, it->second);
        else open.push_back(frame);
    }
    clientOf_.swap(kept);
    frameOf_.clear();
    for (auto it = unresolved_.begin(); it != unresolved_.end();)
        it = clientOf_.count(*it) ? std::next(it) : unresolved_.erase(it);

    // frame -> the windows of the current level inside it
    std::vector<std::pair<WindowId, std::vector<WindowId>>> searching;
    for (WindowId frame : open) searching.push_back({frame, {frame}});
    constexpr int kLevels = 4;
    for (int level = 0; level < kLevels && !searching.empty(); ++level) {
        struct Ask {
            xcb_get_property_cookie_t state;
            xcb_query_tree_cookie_t tree;
        };
        std::vector<std::vector<Ask>> asks(searching.size());
        for (std::size_t i = 0; i < searching.size(); ++i)
            for (WindowId window : searching[i].second)
                asks[i].push_back({xcb_get_property(x_.c(), 0, window, x_[WM_STATE], XCB_GET_PROPERTY_TYPE_ANY, 0, 0),
                                   xcb_query_tree(x_.c(), window)});
        x_.countRoundTrip();
        std::vector<std::pair<WindowId, std::vector<WindowId>>> deeper;
        for (std::size_t i = 0; i < searching.size(); ++i) {
            WindowId found = XCB_NONE;
            std::vector<WindowId> inside;
            for (std::size_t k = 0; k < asks[i].size(); ++k) {
                xcb_get_property_reply_t* state = xcb_get_property_reply(x_.c(), asks[i][k].state, nullptr);
                xcb_query_tree_reply_t* tree = xcb_query_tree_reply(x_.c(), asks[i][k].tree, nullptr);
                if (state && state->type != XCB_NONE && found == XCB_NONE) found = searching[i].second[k];
                if (tree) {
                    const xcb_window_t* children = xcb_query_tree_children(tree);
                    inside.insert(inside.end(), children, children + xcb_query_tree_children_length(tree));
                }
                std::free(state);
                std::free(tree);
            }
            const WindowId frame = searching[i].first;
            if (found != XCB_NONE) clientOf_[frame] = found;
            else if (!inside.empty() && level + 1 < kLevels) deeper.push_back({frame, std::move(inside)});
        }
        searching.swap(deeper);
    }
    for (WindowId frame : open) {
        if (clientOf_.count(frame)) continue;
        // No client yet: the frame stands for itself, and what appears inside it is
        // looked at again.
        clientOf_[frame] = frame;
        unresolved_.insert(frame);
        x_.listen(frame, XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                             XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
    }
    for (WindowId frame : open)
        if (clientOf_[frame] != frame) unresolved_.erase(frame);
    for (const auto& [frame, client] : clientOf_)
        if (frame != client) frameOf_[client] = frame;
}

}  // namespace x11
