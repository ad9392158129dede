#include "platform/x11/x11_desktop_windows.h"

#include <xcb/xcb.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QWindow>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <iterator>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/x11/x11_text.h"

Q_LOGGING_CATEGORY(lcX11, "tarnwick.x11", QtWarningMsg)

namespace {

// A GetProperty asks for this many 32-bit units: every real property fits at once; a
// larger one is read on in further requests.
constexpr std::uint32_t kWholeProperty = 0x3FFFFFFFu;

constexpr std::uint32_t kWmStateNormal = 1;
constexpr std::uint32_t kWmStateIconic = 3;
constexpr std::uint32_t kMotifHintsDecorations = 2;

// A window whose title keeps changing (a clock, a ticker) is not followed event by event:
// after more than kBurstEvents title events, each within kBurstGapMs of the one before,
// the mirror stops listening to its properties and reads them again at each walk, at
// least every kPollMs, until they have stayed the same kQuietPolls reads in a row.
constexpr int kBurstEvents = 8;
constexpr std::uint32_t kBurstGapMs = 100;
constexpr int kPollMs = 150;
constexpr int kQuietPolls = 3;

// Every atom the adapter uses, interned once at connection. The window types from
// DESKTOP to DND are the undecorated ones, in one run.
#define TARNWICK_X11_ATOMS(X)              \
    X(WM_PROTOCOLS)                        \
    X(WM_DELETE_WINDOW)                    \
    X(WM_STATE)                            \
    X(UTF8_STRING)                         \
    X(COMPOUND_TEXT)                       \
    X(_NET_WM_NAME)                        \
    X(_NET_SUPPORTING_WM_CHECK)            \
    X(_NET_SUPPORTED)                      \
    X(_NET_CLIENT_LIST_STACKING)           \
    X(_NET_WM_WINDOW_TYPE)                 \
    X(_NET_WM_WINDOW_TYPE_NORMAL)          \
    X(_NET_WM_WINDOW_TYPE_DIALOG)          \
    X(_NET_WM_WINDOW_TYPE_UTILITY)         \
    X(_NET_WM_WINDOW_TYPE_DESKTOP)         \
    X(_NET_WM_WINDOW_TYPE_DOCK)            \
    X(_NET_WM_WINDOW_TYPE_TOOLBAR)         \
    X(_NET_WM_WINDOW_TYPE_MENU)            \
    X(_NET_WM_WINDOW_TYPE_SPLASH)          \
    X(_NET_WM_WINDOW_TYPE_DROPDOWN_MENU)   \
    X(_NET_WM_WINDOW_TYPE_POPUP_MENU)      \
    X(_NET_WM_WINDOW_TYPE_TOOLTIP)         \
    X(_NET_WM_WINDOW_TYPE_NOTIFICATION)    \
    X(_NET_WM_WINDOW_TYPE_COMBO)           \
    X(_NET_WM_WINDOW_TYPE_DND)             \
    X(_MOTIF_WM_HINTS)

enum Atom : int {
#define X(name) name,
    TARNWICK_X11_ATOMS(X)
#undef X
    AtomCount
};

const char* const kAtomNames[AtomCount] = {
#define X(name) #name,
    TARNWICK_X11_ATOMS(X)
#undef X
};

// What of a window must be read again.
enum Dirty : std::uint8_t {
    DirtyAttributes = 1,
    DirtyNetName = 2,
    DirtyWmName = 4,
    DirtyState = 8,
    DirtyType = 16,
    DirtyMotif = 32,
    DirtyProtocols = 64,
    DirtyAll = 127,
    DirtyProperties = DirtyAll & ~DirtyAttributes,
};

struct Client {
    bool overrideRedirect = false;
    bool mapped = false;
    bool hasWmState = false;     // a window manager manages it
    bool wmShown = false;        // WM_STATE Normal or Iconic
    bool decoratedType = true;   // no type, or normal, dialog or utility
    bool undecorated = false;    // _MOTIF_WM_HINTS removes the decorations
    bool deleteProtocol = false;
    bool hasNetName = false;
    bool eligible = false;       // last judged one the sweep closes
    std::uint8_t burst = 0;      // title events in quick succession
    std::uint8_t quietPolls = 0; // polled reads in a row that found the same title
    xcb_timestamp_t lastTitleEvent = 0;
    QString netName;
    QString wmName;
    std::uint8_t dirty = 0;

    const QString& title() const { return hasNetName ? netName : wmName; }
};

// A property as read: absent (type 0), or its type, format and bytes.
struct Property {
    bool gone = false;  // BadWindow: the window no longer exists
    xcb_atom_t type = XCB_NONE;
    std::uint8_t format = 0;
    QByteArray bytes;

    std::vector<std::uint32_t> values32() const {
        std::vector<std::uint32_t> values;
        if (format != 32) return values;
        values.resize(std::size_t(bytes.size()) / 4);
        if (!values.empty()) std::memcpy(values.data(), bytes.constData(), values.size() * 4);
        return values;
    }
    bool contains32(xcb_atom_t value) const {
        const auto values = values32();
        return std::find(values.begin(), values.end(), value) != values.end();
    }
};

}  // namespace

// ---------------------------------------------------------------------------------
// The connection: the X server, its atoms and the requests the mirror sends.

struct X11DesktopWindows::Connection {
    xcb_connection_t* c = nullptr;
    xcb_window_t root = XCB_NONE;
    std::array<xcb_atom_t, AtomCount> atoms{};
    bool alive = false;
    std::uint64_t roundTrips = 0;
    std::unique_ptr<QSocketNotifier> notifier;

    ~Connection() {
        notifier.reset();
        if (c) xcb_disconnect(c);
    }

    xcb_atom_t operator[](Atom atom) const { return atoms[atom]; }

    bool open(const QString& display) {
        const QByteArray name = display.toLocal8Bit();
        int screenNumber = 0;
        c = xcb_connect(name.isEmpty() ? nullptr : name.constData(), &screenNumber);
        if (xcb_connection_has_error(c)) {
            qCDebug(lcX11) << "no X server at" << (name.isEmpty() ? qgetenv("DISPLAY") : name);
            return false;
        }
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
        if (!screens.rem) {
            qCDebug(lcX11) << "the X server has no screen" << screenNumber;
            return false;
        }
        root = screens.data->root;

        std::array<xcb_intern_atom_cookie_t, AtomCount> cookies;
        for (int i = 0; i < AtomCount; ++i)
            cookies[i] = xcb_intern_atom(c, 0, std::uint16_t(std::strlen(kAtomNames[i])), kAtomNames[i]);
        for (int i = 0; i < AtomCount; ++i) {
            xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookies[i], nullptr);
            if (reply) atoms[i] = reply->atom;
            else qCDebug(lcX11) << "atom" << kAtomNames[i] << "not interned";
            std::free(reply);
        }
        ++roundTrips;

        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
        alive = !xcb_connection_has_error(c);
        return alive;
    }

    // False once the connection broke (it never recovers).
    bool checkAlive() {
        if (alive && xcb_connection_has_error(c)) {
            qCDebug(lcX11) << "connection to the X server broken";
            alive = false;
            if (notifier) notifier->setEnabled(false);
        }
        return alive;
    }

    void listen(xcb_window_t window, std::uint32_t mask) {
        xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
    }

    xcb_get_property_cookie_t askProperty(xcb_window_t window, xcb_atom_t atom, std::uint32_t offset = 0) {
        return xcb_get_property(c, 0, window, atom, XCB_GET_PROPERTY_TYPE_ANY, offset, kWholeProperty);
    }

    // The reply to askProperty, read on (more round trips) when the property did not
    // fit, which only a huge property makes happen.
    Property takeProperty(xcb_get_property_cookie_t cookie, xcb_window_t window, xcb_atom_t atom) {
        Property property;
        std::uint32_t offset = 0;
        for (;;) {
            xcb_generic_error_t* error = nullptr;
            xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, &error);
            if (!reply) {
                // BadWindow, or no error at all when the connection broke.
                property.gone = !error || error->error_code == XCB_WINDOW;
                qCDebug(lcX11) << "property" << atom << "of window" << window << "not read, error"
                               << (error ? int(error->error_code) : -1);
                std::free(error);
                return property;
            }
            property.type = reply->type;
            property.format = reply->format;
            const int length = xcb_get_property_value_length(reply);
            property.bytes.append(static_cast<const char*>(xcb_get_property_value(reply)), length);
            const std::uint32_t after = reply->bytes_after;
            std::free(reply);
            if (after == 0 || property.type == XCB_NONE || length <= 0) return property;
            // Offsets count 32-bit units; replies of formats 8 and 16 end on such a unit
            // because every reply but the last is a multiple of 4 bytes long.
            offset += std::uint32_t(length) / 4;
            cookie = askProperty(window, atom, offset);
            ++roundTrips;
        }
    }

    // One property, asked and waited for.
    Property readProperty(xcb_window_t window, xcb_atom_t atom) {
        ++roundTrips;
        return takeProperty(askProperty(window, atom), window, atom);
    }

    QString textOf(const Property& property) const {
        if (property.type == XCB_NONE || property.format != 8) return QString();
        if (property.type == atoms[UTF8_STRING]) return x11text::decode(x11text::Encoding::Utf8, property.bytes);
        if (property.type == atoms[COMPOUND_TEXT])
            return x11text::decode(x11text::Encoding::CompoundText, property.bytes);
        return x11text::decode(x11text::Encoding::Latin1, property.bytes);
    }

    bool decoratedTypeOf(const Property& property) const {
        for (std::uint32_t type : property.values32()) {
            if (type == atoms[_NET_WM_WINDOW_TYPE_NORMAL] || type == atoms[_NET_WM_WINDOW_TYPE_DIALOG] ||
                type == atoms[_NET_WM_WINDOW_TYPE_UTILITY])
                return true;
            for (int known = _NET_WM_WINDOW_TYPE_DESKTOP; known <= _NET_WM_WINDOW_TYPE_DND; ++known)
                if (type == atoms[known]) return false;
        }
        return true;  // no type, or only types nobody knows: a normal window
    }
};

// ---------------------------------------------------------------------------------
// The mirror: the top-level windows in walk order and what is known of each, kept up to
// date from events.

class X11DesktopWindows::WindowMirror {
public:
    explicit WindowMirror(Connection& x) : x_(x) {}

    // The title ending of windows to report when they become closable; null: none.
    const QString* suffix = nullptr;
    // Windows that became closable since the last report.
    std::vector<WindowId> eligibleNow;

    // Windows in walk order (top of the stacking order first).
    const std::vector<WindowId>& order() const { return order_; }
    bool ewmh() const { return ewmh_; }
    // Events were handled whose changes are not read yet.
    bool needsRead() const { return x_.alive && (wmDirty_ || listDirty_ || !dirtyWindows_.empty()); }

    // Windows whose properties are read at each walk rather than on events.
    bool polling() const { return !polled_.empty(); }
    // Marks the properties of those windows to be read by the next refresh; false when
    // there are none.
    bool poll() {
        for (WindowId window : polled_) markDirty(window, DirtyProperties);
        return !polled_.empty();
    }

    const Client* client(WindowId window) const {
        auto it = clients_.find(window);
        return it == clients_.end() ? nullptr : &it->second;
    }

    std::uint32_t styleOf(const Client& c) const {
        std::uint32_t style = 0;
        if (ewmh_ || c.hasWmState ? c.wmShown : c.mapped) style |= WindowStyle::Visible;
        if (!c.overrideRedirect && c.decoratedType && !c.undecorated) style |= WindowStyle::Border;
        return style;
    }

    WindowId next(WindowId window) const {
        auto it = index_.find(window);
        if (it == index_.end()) return 0;
        const std::size_t next = it->second + 1;
        return next < order_.size() ? order_[next] : 0;
    }

    void clear() {
        order_.clear();
        index_.clear();
        clients_.clear();
        clientOf_.clear();
        frameOf_.clear();
        unresolved_.clear();
        dirtyWindows_.clear();
        polled_.clear();
        eligibleNow.clear();
        orderStale_ = false;
    }

    // Handles every event that has arrived, without waiting for the X server.
    void drain() {
        if (!checkAlive()) return;
        while (xcb_generic_event_t* event = xcb_poll_for_event(x_.c)) {
            handle(event);
            std::free(event);
        }
        checkAlive();
        rebuildOrder();
    }

    // Handles the events xcb has read already, without a system call: what is still in
    // the socket wakes the event loop and is handled there.
    void drainRead() {
        if (!checkAlive()) return;
        drainQueued();
        rebuildOrder();
    }

    // Brings the mirror up to date: events first, then one batch for what changed.
    void refresh() {
        drain();
        for (int round = 0; x_.alive && round < 4; ++round) {
            if (!wmDirty_ && !listDirty_ && dirtyWindows_.empty()) break;
            if (wmDirty_) readWindowManager();
            // The changed windows' requests go out before the list is asked for: one wait
            // brings both.
            std::vector<Pending> pending;
            if (!dirtyWindows_.empty()) pending = sendRequests();
            const bool listRead = listDirty_;
            if (listDirty_) readList();
            if (!pending.empty()) {
                if (!listRead) ++x_.roundTrips;
                applyReplies(pending);
            }
            if (!checkAlive()) break;
            drainQueued();
        }
        checkAlive();
        rebuildOrder();
    }

    bool checkAlive() {
        const bool was = x_.alive;
        if (!x_.checkAlive() && was) clear();
        return x_.alive;
    }

private:
    // ---- events: one function per kind ----

    void handle(const xcb_generic_event_t* event) {
        switch (event->response_type & 0x7F) {
        case XCB_MAP_NOTIFY:
            // Something appeared inside a frame whose client was not found.
            if (unresolved_.count(reinterpret_cast<const xcb_map_notify_event_t*>(event)->event))
                listDirty_ = resolveAgain_ = true;
            break;
        case XCB_REPARENT_NOTIFY:
            if (unresolved_.count(reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->event))
                listDirty_ = resolveAgain_ = true;
            [[fallthrough]];
        case XCB_DESTROY_NOTIFY:
            // A framed client that left its frame or ended: the frame is looked at again.
            if (const auto* e = reinterpret_cast<const xcb_map_notify_event_t*>(event); frameOf_.count(e->window)) {
                clientOf_.erase(frameOf_[e->window]);
                listDirty_ = true;
            }
            break;
        default: break;
        }
        switch (event->response_type & 0x7F) {
        case 0: onError(reinterpret_cast<const xcb_generic_error_t*>(event)); break;
        case XCB_PROPERTY_NOTIFY: onProperty(reinterpret_cast<const xcb_property_notify_event_t*>(event)); break;
        case XCB_DESTROY_NOTIFY: onDestroy(reinterpret_cast<const xcb_destroy_notify_event_t*>(event)); break;
        case XCB_UNMAP_NOTIFY: onMapped(reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->window, false); break;
        case XCB_MAP_NOTIFY: onMapped(reinterpret_cast<const xcb_map_notify_event_t*>(event)->window, true); break;
        case XCB_CREATE_NOTIFY: onCreate(reinterpret_cast<const xcb_create_notify_event_t*>(event)); break;
        case XCB_REPARENT_NOTIFY: onReparent(reinterpret_cast<const xcb_reparent_notify_event_t*>(event)); break;
        case XCB_CIRCULATE_NOTIFY: onCirculate(); break;
        case XCB_CONFIGURE_NOTIFY: onConfigure(reinterpret_cast<const xcb_configure_notify_event_t*>(event)); break;
        default: break;
        }
    }

    // An error of a request without reply: a window gone meanwhile.
    void onError(const xcb_generic_error_t* error) {
        qCDebug(lcX11) << "request" << int(error->major_code) << "failed with error" << int(error->error_code)
                       << "on" << error->resource_id;
    }

    void onProperty(const xcb_property_notify_event_t* e) {
        if (e->window == x_.root) {
            if (e->atom == x_[_NET_SUPPORTING_WM_CHECK] || e->atom == x_[_NET_SUPPORTED]) wmDirty_ = true;
            else if (e->atom == x_[_NET_CLIENT_LIST_STACKING] && ewmh_) listDirty_ = true;
            return;
        }
        auto it = clients_.find(e->window);
        if (it == clients_.end() || polled_.count(e->window)) return;  // a polled window: the next read sees it
        std::uint8_t what = 0;
        if (e->atom == x_[_NET_WM_NAME]) what = DirtyNetName;
        else if (e->atom == XCB_ATOM_WM_NAME) what = DirtyWmName;
        else if (e->atom == x_[WM_STATE]) what = DirtyState;
        else if (e->atom == x_[_NET_WM_WINDOW_TYPE]) what = DirtyType;
        else if (e->atom == x_[_MOTIF_WM_HINTS]) what = DirtyMotif;
        else if (e->atom == x_[WM_PROTOCOLS]) what = DirtyProtocols;
        if (what & (DirtyNetName | DirtyWmName)) {
            Client& c = it->second;
            const bool quick = c.burst > 0 && xcb_timestamp_t(e->time - c.lastTitleEvent) <= kBurstGapMs;
            c.burst = quick ? std::uint8_t(std::min(c.burst + 1, 255)) : 1;
            c.lastTitleEvent = e->time;
            if (c.burst > kBurstEvents) {
                startPolling(e->window, c);
                return;
            }
        }
        if (what) markDirty(e->window, what);
    }

    // What the mirror listens to on a listed window.
    std::uint32_t clientMask(WindowId window, bool properties) const {
        return (properties ? XCB_EVENT_MASK_PROPERTY_CHANGE : 0) | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
               (unresolved_.count(window) ? XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY : 0);
    }

    // A title storm: stop listening to the window's properties; they are read at each
    // walk instead (poll). Mapping and destruction still come as events.
    void startPolling(WindowId window, Client& c) {
        qCDebug(lcX11) << "window" << window << "retitles itself quickly: its properties are polled";
        c.quietPolls = 0;
        polled_.insert(window);
        x_.listen(window, clientMask(window, false));
    }

    // Called after each read of a polled window: once its title has held still for a few
    // reads, it is followed by events again, read once more after listening.
    void pollRead(WindowId window, Client& c, bool titleChanged) {
        c.quietPolls = titleChanged ? 0 : std::uint8_t(c.quietPolls + 1);
        if (c.quietPolls < kQuietPolls) return;
        qCDebug(lcX11) << "window" << window << "quiet again: its properties are followed by events";
        c.burst = 0;
        polled_.erase(window);
        x_.listen(window, clientMask(window, true));
        markDirty(window, DirtyProperties);
    }

    void onDestroy(const xcb_destroy_notify_event_t* e) {
        if (e->window == wmCheck_) wmDirty_ = true;
        forget(clientOf(e->window));
        forget(e->window);
    }

    void onMapped(WindowId window, bool mapped) {
        auto it = clients_.find(window);
        if (it == clients_.end()) return;
        it->second.mapped = mapped;
        judge(window, it->second);
    }

    void onCreate(const xcb_create_notify_event_t* e) {
        if (!ewmh_ && e->parent == x_.root) listDirty_ = true;
    }

    void onReparent(const xcb_reparent_notify_event_t* e) {
        if (!ewmh_ && (e->parent == x_.root || clients_.count(e->window))) listDirty_ = true;
    }

    void onCirculate() {
        if (!ewmh_) listDirty_ = true;
    }

    // Without a window manager the stacking order is the root's: a window whose lower
    // neighbour changed was restacked.
    void onConfigure(const xcb_configure_notify_event_t* e) {
        if (ewmh_ || e->event != x_.root || listDirty_ || orderStale_) return;
        auto at = index_.find(clientOf(e->window));
        if (at == index_.end()) return;
        const std::size_t below = at->second + 1;
        const WindowId expected = below < order_.size() ? frameOf(order_[below]) : XCB_NONE;
        if (expected != e->above_sibling) listDirty_ = true;
    }

    // Handles events xcb already read while waiting for replies.
    void drainQueued() {
        while (xcb_generic_event_t* event = xcb_poll_for_queued_event(x_.c)) {
            handle(event);
            std::free(event);
        }
    }

    void markDirty(WindowId window, std::uint8_t what) {
        auto it = clients_.find(window);
        if (it == clients_.end()) return;
        if (it->second.dirty == 0) dirtyWindows_.push_back(window);
        it->second.dirty |= what;
    }

    void forget(WindowId window) {
        if (clients_.erase(window)) orderStale_ = true;
        polled_.erase(window);
    }

    // Notes a window that has just become one the sweep closes.
    void judge(WindowId window, Client& c) {
        const std::uint32_t closable = WindowStyle::Visible | WindowStyle::Border;
        const bool now = suffix && (styleOf(c) & closable) == closable && c.title().endsWith(*suffix);
        if (now && !c.eligible) eligibleNow.push_back(window);
        c.eligible = now;
    }

    void rebuildOrder() {
        if (!orderStale_) return;
        orderStale_ = false;
        order_.erase(std::remove_if(order_.begin(), order_.end(), [this](WindowId w) { return !clients_.count(w); }),
                     order_.end());
        index_.clear();
        for (std::size_t i = 0; i < order_.size(); ++i) index_.emplace(order_[i], i);
    }

    // ---- reading ----

    void readWindowManager() {
        wmDirty_ = false;
        xcb_get_property_cookie_t checkCookie =
            xcb_get_property(x_.c, 0, x_.root, x_[_NET_SUPPORTING_WM_CHECK], XCB_ATOM_WINDOW, 0, 1);
        xcb_get_property_cookie_t supportedCookie = x_.askProperty(x_.root, x_[_NET_SUPPORTED]);
        const Property check = x_.takeProperty(checkCookie, x_.root, x_[_NET_SUPPORTING_WM_CHECK]);
        const Property supported = x_.takeProperty(supportedCookie, x_.root, x_[_NET_SUPPORTED]);
        ++x_.roundTrips;

        xcb_window_t child = XCB_NONE;
        if (const auto values = check.values32(); !values.empty()) child = values[0];
        bool valid = false;
        if (child != XCB_NONE) {
            // Watch the check window so that a window manager that dies is noticed.
            x_.listen(child, XCB_EVENT_MASK_STRUCTURE_NOTIFY);
            xcb_get_property_cookie_t cookie =
                xcb_get_property(x_.c, 0, child, x_[_NET_SUPPORTING_WM_CHECK], XCB_ATOM_WINDOW, 0, 1);
            const Property own = x_.takeProperty(cookie, child, x_[_NET_SUPPORTING_WM_CHECK]);
            ++x_.roundTrips;
            const auto values = own.values32();
            valid = !values.empty() && values[0] == child;
            if (!valid) qCDebug(lcX11) << "stale window manager check window" << child;
        }
        const bool nowEwmh = valid && supported.contains32(x_[_NET_CLIENT_LIST_STACKING]);
        wmCheck_ = valid ? child : XCB_NONE;
        if (nowEwmh != ewmh_) {
            ewmh_ = nowEwmh;
            clear();
        }
        listDirty_ = true;
    }

    void readList() {
        listDirty_ = false;
        std::vector<WindowId> bottomToTop;
        if (ewmh_) {
            const auto values = x_.readProperty(x_.root, x_[_NET_CLIENT_LIST_STACKING]).values32();
            bottomToTop.assign(values.begin(), values.end());
        } else {
            xcb_query_tree_reply_t* tree = xcb_query_tree_reply(x_.c, xcb_query_tree(x_.c, x_.root), nullptr);
            if (tree) {
                const xcb_window_t* children = xcb_query_tree_children(tree);
                bottomToTop.assign(children, children + xcb_query_tree_children_length(tree));
            } else {
                qCDebug(lcX11) << "root window's children not read";
            }
            std::free(tree);
            ++x_.roundTrips;
            resolveClients(bottomToTop);
            for (WindowId& window : bottomToTop) window = clientOf(window);
        }

        order_.assign(bottomToTop.rbegin(), bottomToTop.rend());
        index_.clear();
        std::size_t kept = 0;
        for (WindowId window : order_) {
            if (window == XCB_NONE || index_.count(window)) continue;  // a list with repeats
            index_.emplace(window, kept);
            order_[kept++] = window;
        }
        order_.resize(kept);
        orderStale_ = false;

        for (auto it = clients_.begin(); it != clients_.end();) {
            if (index_.count(it->first)) {
                ++it;
                continue;
            }
            polled_.erase(it->first);
            it = clients_.erase(it);
        }
        for (WindowId window : order_) {
            if (clients_.count(window)) continue;
            // Listen first, then read: a change after the read always brings an event.
            x_.listen(window, clientMask(window, true));
            clients_.emplace(window, Client{});
            markDirty(window, DirtyAll);
        }
    }

    // ---- frames: without the stacking list each of the root's children stands for its
    // client, the window that carries WM_STATE (the child itself, or the first found
    // inside it, level by level, as window managers and xprop find it) ----

    WindowId clientOf(WindowId frame) const {
        auto it = clientOf_.find(frame);
        return it == clientOf_.end() ? frame : it->second;
    }
    WindowId frameOf(WindowId client) const {
        auto it = frameOf_.find(client);
        return it == frameOf_.end() ? client : it->second;
    }

    void resolveClients(const std::vector<WindowId>& frames) {
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
                    asks[i].push_back({xcb_get_property(x_.c, 0, window, x_[WM_STATE], XCB_GET_PROPERTY_TYPE_ANY, 0, 0),
                                       xcb_query_tree(x_.c, window)});
            ++x_.roundTrips;
            std::vector<std::pair<WindowId, std::vector<WindowId>>> deeper;
            for (std::size_t i = 0; i < searching.size(); ++i) {
                WindowId found = XCB_NONE;
                std::vector<WindowId> inside;
                for (std::size_t k = 0; k < asks[i].size(); ++k) {
                    xcb_get_property_reply_t* state = xcb_get_property_reply(x_.c, asks[i][k].state, nullptr);
                    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(x_.c, asks[i][k].tree, nullptr);
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

    struct Pending {
        WindowId window;
        std::uint8_t what;
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_property_cookie_t netName, wmName, state, type, motif, protocols;
    };

    // Sends one batch of requests for everything marked dirty; waits for nothing.
    std::vector<Pending> sendRequests() {
        std::vector<WindowId> windows;
        windows.swap(dirtyWindows_);
        std::vector<Pending> pending;
        pending.reserve(windows.size());
        for (WindowId window : windows) {
            auto it = clients_.find(window);
            if (it == clients_.end() || it->second.dirty == 0) continue;
            Pending p{};
            p.window = window;
            p.what = it->second.dirty;
            it->second.dirty = 0;
            if (p.what & DirtyAttributes) p.attributes = xcb_get_window_attributes(x_.c, window);
            if (p.what & DirtyNetName) p.netName = x_.askProperty(window, x_[_NET_WM_NAME]);
            if (p.what & DirtyWmName) p.wmName = x_.askProperty(window, XCB_ATOM_WM_NAME);
            if (p.what & DirtyState) p.state = x_.askProperty(window, x_[WM_STATE]);
            if (p.what & DirtyType) p.type = x_.askProperty(window, x_[_NET_WM_WINDOW_TYPE]);
            if (p.what & DirtyMotif) p.motif = x_.askProperty(window, x_[_MOTIF_WM_HINTS]);
            if (p.what & DirtyProtocols) p.protocols = x_.askProperty(window, x_[WM_PROTOCOLS]);
            pending.push_back(p);
        }
        return pending;
    }

    // Takes every reply of the batch (also for a window found gone on the way) and
    // applies it to the mirror.
    void applyReplies(const std::vector<Pending>& pending) {
        for (const Pending& p : pending) {
            bool gone = false;
            Client fresh;
            if (p.what & DirtyAttributes) {
                xcb_generic_error_t* error = nullptr;
                xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(x_.c, p.attributes, &error);
                if (reply) {
                    fresh.overrideRedirect = reply->override_redirect;
                    fresh.mapped = reply->map_state != XCB_MAP_STATE_UNMAPPED;
                } else {
                    gone = true;
                }
                std::free(reply);
                std::free(error);
            }
            const auto take = [&](std::uint8_t bit, xcb_get_property_cookie_t cookie, xcb_atom_t atom) {
                Property property;
                if (p.what & bit) {
                    property = x_.takeProperty(cookie, p.window, atom);
                    gone = gone || property.gone;
                }
                return property;
            };
            const Property netName = take(DirtyNetName, p.netName, x_[_NET_WM_NAME]);
            const Property wmName = take(DirtyWmName, p.wmName, XCB_ATOM_WM_NAME);
            const Property state = take(DirtyState, p.state, x_[WM_STATE]);
            const Property type = take(DirtyType, p.type, x_[_NET_WM_WINDOW_TYPE]);
            const Property motif = take(DirtyMotif, p.motif, x_[_MOTIF_WM_HINTS]);
            const Property protocols = take(DirtyProtocols, p.protocols, x_[WM_PROTOCOLS]);

            auto it = clients_.find(p.window);
            if (it == clients_.end()) continue;
            if (gone) {
                qCDebug(lcX11) << "window" << p.window << "gone while read";
                forget(p.window);
                continue;
            }
            Client& client = it->second;
            const QString titleBefore = client.title();
            if (p.what & DirtyAttributes) {
                client.overrideRedirect = fresh.overrideRedirect;
                client.mapped = fresh.mapped;
            }
            if (p.what & DirtyNetName) {
                client.hasNetName = netName.type != XCB_NONE;
                client.netName = x_.textOf(netName);
            }
            if (p.what & DirtyWmName) client.wmName = x_.textOf(wmName);
            if (p.what & DirtyState) {
                const auto values = state.values32();
                client.hasWmState = state.type != XCB_NONE;
                client.wmShown = !values.empty() && (values[0] == kWmStateNormal || values[0] == kWmStateIconic);
            }
            if (p.what & DirtyType) client.decoratedType = x_.decoratedTypeOf(type);
            if (p.what & DirtyMotif) {
                const auto values = motif.values32();
                client.undecorated = values.size() >= 3 && (values[0] & kMotifHintsDecorations) && values[2] == 0;
            }
            if (p.what & DirtyProtocols) client.deleteProtocol = protocols.contains32(x_[WM_DELETE_WINDOW]);
            judge(p.window, client);
            if (polled_.count(p.window)) pollRead(p.window, client, client.title() != titleBefore);
        }
    }

    Connection& x_;

    // Window manager.
    bool ewmh_ = false;
    xcb_window_t wmCheck_ = XCB_NONE;
    bool wmDirty_ = true;
    bool listDirty_ = true;

    std::vector<WindowId> order_;
    std::unordered_map<WindowId, std::size_t> index_;  // where each window is in order_
    std::unordered_map<WindowId, Client> clients_;
    // Without the stacking list: each root child's client, each framed client's frame,
    // and the root children with no client found (watched for one arriving).
    std::unordered_map<WindowId, WindowId> clientOf_;
    std::unordered_map<WindowId, WindowId> frameOf_;
    std::unordered_set<WindowId> unresolved_;
    std::unordered_set<WindowId> polled_;  // listed windows whose properties are read at each walk, not on events
    bool resolveAgain_ = false;
    bool orderStale_ = false;  // windows were removed from clients_ but not yet from order_
    std::vector<WindowId> dirtyWindows_;
};

// ---------------------------------------------------------------------------------

X11DesktopWindows::X11DesktopWindows(const QString& display)
    : x_(std::make_unique<Connection>()), mirror_(std::make_unique<WindowMirror>(*x_)) {
    if (!x_->open(display)) return;
    if (QCoreApplication::instance()) {
        x_->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(x_->c), QSocketNotifier::Read);
        QObject::connect(x_->notifier.get(), &QSocketNotifier::activated, x_->notifier.get(),
                         [this] { refreshFromEvents(); });
        // Polled windows are read at each walk; this reads them when no walk comes.
        pollTimer_ = std::make_unique<QTimer>();
        pollTimer_->setSingleShot(true);
        pollTimer_->setInterval(kPollMs);
        QObject::connect(pollTimer_.get(), &QTimer::timeout, pollTimer_.get(), [this] {
            pollNow();
            refreshFromEvents();
        });
    }
    mirror_->refresh();
}

X11DesktopWindows::~X11DesktopWindows() = default;

// The X server has something to say: bring the mirror up to date and report windows that
// became closable.
void X11DesktopWindows::refreshFromEvents() {
    mirror_->suffix = watchesEligible() ? &eligibleSuffix() : nullptr;
    mirror_->refresh();
    report();
    refreshSoon();  // what the last batch's wait brought in beyond its rounds
    if (pollTimer_ && mirror_->polling() && !pollTimer_->isActive()) pollTimer_->start();
}

void X11DesktopWindows::pollNow() {
    if (mirror_->poll() && pollTimer_) pollTimer_->start();
}

void X11DesktopWindows::report() {
    std::vector<WindowId> windows;
    windows.swap(mirror_->eligibleNow);
    for (WindowId window : windows) {
        const Client* c = mirror_->client(window);
        if (c && c->eligible) reportEligible(window);
    }
}

// Events handled within a call of the interface have left the socket, so the notifier
// will not bring them back: their reading and their reports wait for the event loop.
void X11DesktopWindows::refreshSoon() {
    if (refreshQueued_ || !x_->notifier) return;
    if (mirror_->eligibleNow.empty() && !mirror_->needsRead()) return;
    refreshQueued_ = true;
    QMetaObject::invokeMethod(
        x_->notifier.get(),
        [this] {
            refreshQueued_ = false;
            refreshFromEvents();
        },
        Qt::QueuedConnection);
}

bool X11DesktopWindows::ok() const { return x_->alive && !xcb_connection_has_error(x_->c); }

bool X11DesktopWindows::hasWindowManager() const { return x_->alive && mirror_->ewmh(); }

std::uint64_t X11DesktopWindows::roundTrips() const { return x_->roundTrips; }

WindowId X11DesktopWindows::FirstWindow() {
    mirror_->suffix = watchesEligible() ? &eligibleSuffix() : nullptr;
    pollNow();
    mirror_->refresh();
    refreshSoon();
    return mirror_->order().empty() ? 0 : mirror_->order().front();
}

WindowId X11DesktopWindows::NextWindow(WindowId window) {
    mirror_->drainRead();
    refreshSoon();
    return mirror_->next(window);
}

std::uint32_t X11DesktopWindows::Style(WindowId window) {
    const Client* c = mirror_->client(window);
    return c ? mirror_->styleOf(*c) : 0;
}

int X11DesktopWindows::TitleLength(WindowId window) {
    const Client* c = mirror_->client(window);
    return c ? int(std::min<qsizetype>(c->title().size(), std::numeric_limits<int>::max())) : 0;
}

int X11DesktopWindows::Title(WindowId window, QString& title, int maxCount) {
    const Client* c = mirror_->client(window);
    if (!c || maxCount < 1) {
        title.clear();
        return 0;
    }
    title = c->title().left(maxCount - 1);
    return int(title.size());
}

WindowId X11DesktopWindows::FindByTitle(const QString& title) {
    mirror_->drainRead();
    refreshSoon();
    for (WindowId window : mirror_->order()) {
        const Client* c = mirror_->client(window);
        if (c && c->title() == title) return window;
    }
    return 0;
}

// A window of this very process (the engine's new windows) gets its close request
// straight from here, as a close event from the event loop, the same event the X server's
// WM_DELETE_WINDOW message would have become, without the trip through the server and
// back that waits behind everything else this thread has to do.
bool X11DesktopWindows::closeOwn(WindowId window) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
    for (QWindow* own : QGuiApplication::topLevelWindows()) {
        if (!own->handle() || WindowId(own->winId()) != window) continue;
        QMetaObject::invokeMethod(
            own, [own = QPointer<QWindow>(own)] { if (own) own->close(); }, Qt::QueuedConnection);
        return true;
    }
    return false;
}

bool X11DesktopWindows::RequestClose(WindowId window) {
    if (!mirror_->checkAlive() || window == 0) return false;
    bool listsDelete = false;
    if (const Client* c = mirror_->client(window)) {
        listsDelete = c->deleteProtocol;
    } else {
        // Not one of the mirror's windows: ask the server.
        listsDelete = x_->readProperty(window, x_->atoms[WM_PROTOCOLS]).contains32(x_->atoms[WM_DELETE_WINDOW]);
    }
    if (!listsDelete) {
        qCDebug(lcX11) << "window" << window << "takes no close request";
        return false;
    }
    if (closeOwn(window)) return true;

    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = x_->atoms[WM_PROTOCOLS];
    message.data.data32[0] = x_->atoms[WM_DELETE_WINDOW];
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(x_->c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    return xcb_flush(x_->c) > 0 && mirror_->checkAlive();
}
