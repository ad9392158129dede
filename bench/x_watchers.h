#pragma once

// Watching a private desktop from outside, for the benchmarks: window titles as they
// change (start-up), and the window manager's frames as popups come and go (popups on
// screen). Both only listen: waiting sends the X server nothing.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <utility>
#include <vector>
#include <xcb/xcb.h>

#include "x_client.h"

// The steady clock in ns, shared by the threads of a benchmark.
inline qint64 steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Window titles of the managed top-level windows, heard as they change: the root's client
// list (_NET_CLIENT_LIST) names each new window, whose title changes are then heard too.
// Waiting costs the desktop nothing, so the crowded desktop is not read once per sample.
class TitleWatcher {
public:
    explicit TitleWatcher(const QByteArray& display)
        : x_(QString::fromLatin1(display)),
          clientList_(x_.atom("_NET_CLIENT_LIST")),
          netName_(x_.atom("_NET_WM_NAME")) {
        // Heard from now on: no new window is listed unheard, between runs or during one.
        x_.listen(x_.root(), XCB_EVENT_MASK_PROPERTY_CHANGE);
    }

    // The managed windows now; those are never looked at again (foreign windows that stay).
    int ignoreExisting() {
        const std::vector<std::uint32_t> windows = x_.clients();
        ignored_.insert(windows.begin(), windows.end());
        return int(windows.size());
    }

    bool anyTitled(const QByteArray& title) {
        for (std::uint32_t window : x_.clients())
            if (!ignored_.count(window) && x_.title(window) == QString::fromUtf8(title)) return true;
        return false;
    }

    // Whether a new managed window is titled `wanted` within `ms`.
    bool waitTitled(const QString& wanted, int ms) {
        QElapsedTimer clock;
        clock.start();
        for (int left = ms; left > 0 && x_.ok(); left = ms - int(clock.elapsed()))
            if (x_.takeEvents(left, [&](const xcb_generic_event_t& event) { return heard(event, wanted); }))
                return true;
        return false;
    }

    // The next run starts: its window is a new one.
    void nextRun() { heard_.clear(); }

private:
    bool heard(const xcb_generic_event_t& event, const QString& wanted) {
        if ((event.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
        const auto& change = reinterpret_cast<const xcb_property_notify_event_t&>(event);
        if (change.window == x_.root()) return change.atom == clientList_ && lookAtList(wanted);
        return heard_.count(change.window) && (change.atom == netName_ || change.atom == XCB_ATOM_WM_NAME) &&
               x_.title(change.window) == wanted;
    }

    // Listens to each window new in the list, then reads its title (a change after the
    // read is heard).
    bool lookAtList(const QString& wanted) {
        bool found = false;
        for (std::uint32_t window : x_.clients()) {
            if (ignored_.count(window) || !heard_.insert(window).second) continue;
            x_.listen(window, XCB_EVENT_MASK_PROPERTY_CHANGE);
            found = found || x_.title(window) == wanted;
        }
        return found;
    }

    XClient x_;
    const std::uint32_t clientList_;
    const std::uint32_t netName_;
    std::set<std::uint32_t> ignored_;
    std::set<std::uint32_t> heard_;
};

// Watches the window manager's frames from outside: a popup is on screen from its frame's
// map to its frame's unmap (or destruction). Only frames whose client's title ends in
// "Microsoft Internet Explorer" count.
class FrameWatcher {
public:
    FrameWatcher() {
        if (!x_.ok()) return;
        x_.listen(x_.root(), XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
        clock_.start();
    }
    bool ok() const { return x_.ok(); }

    std::vector<double> onScreenMs;  // one per popup gone
    int shown = 0;                   // popups mapped so far
    int mostAtOnce = 0;
    qint64 firstMapMs = -1;
    qint64 lastGoneMs = -1;
    int onScreen() const { return int(since_.size()); }
    // Popup clients as their frames were mapped (steadyNs), in order; xwin's ids repeat.
    std::vector<std::pair<xcb_window_t, qint64>> clientShownNs;
    qint64 now() const { return clock_.elapsed(); }

    // Handles the events that came, waiting up to 2 ms for one: a sample for sampleUntil,
    // whose pace keeps the times taken here within a few milliseconds.
    void handleEvents() {
        x_.takeEvents(2, [this](const xcb_generic_event_t& e) {
            handle(&e);
            return false;
        });
    }

private:
    bool isPopup(xcb_window_t client) { return x_.title(client).endsWith(QLatin1String("Microsoft Internet Explorer")); }
    void gone(xcb_window_t frame) {
        auto it = since_.find(frame);
        if (it == since_.end()) return;
        onScreenMs.push_back((clock_.nsecsElapsed() - it->second) / 1e6);
        lastGoneMs = clock_.elapsed();
        since_.erase(it);
    }
    void handle(const xcb_generic_event_t* e) {
        switch (e->response_type & 0x7F) {
        case XCB_REPARENT_NOTIFY: {
            // The title is read now, while the client surely exists: a popup closed within
            // moments of its frame's map may be gone by the time the map is handled here.
            auto r = reinterpret_cast<const xcb_reparent_notify_event_t*>(e);
            if (r->parent != x_.root()) {
                frames_[r->parent] = Frame{r->window, isPopup(r->window)};
            }
            break;
        }
        case XCB_MAP_NOTIFY: {
            auto m = reinterpret_cast<const xcb_map_notify_event_t*>(e);
            auto it = frames_.find(m->window);
            if (it == frames_.end() || since_.count(m->window) || !it->second.popup) break;
            since_[m->window] = clock_.nsecsElapsed();
            clientShownNs.emplace_back(it->second.client, steadyNs());
            ++shown;
            if (firstMapMs < 0) firstMapMs = clock_.elapsed();
            mostAtOnce = std::max(mostAtOnce, int(since_.size()));
            break;
        }
        case XCB_UNMAP_NOTIFY: gone(reinterpret_cast<const xcb_unmap_notify_event_t*>(e)->window); break;
        case XCB_DESTROY_NOTIFY: {
            auto d = reinterpret_cast<const xcb_destroy_notify_event_t*>(e);
            gone(d->window);
            frames_.erase(d->window);
            break;
        }
        default: break;
        }
    }

    XClient x_;
    QElapsedTimer clock_;
    struct Frame {
        xcb_window_t client = 0;
        bool popup = false;  // its client's title ends in "Microsoft Internet Explorer"
    };
    std::map<xcb_window_t, Frame> frames_;
    std::map<xcb_window_t, qint64> since_;           // frame -> map time (ns)
};
