#include "platform/x11/x11_desktop_windows.h"

#include <xcb/xcb.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

#include "platform/x11/x11_text.h"

namespace {

// A GetProperty asks for this many 32-bit units: every real property fits at once; a
// larger one is read on in further requests.
constexpr std::uint32_t kWholeProperty = 0x3FFFFFFFu;

constexpr std::uint32_t kWmStateNormal = 1;
constexpr std::uint32_t kWmStateIconic = 3;
constexpr std::uint32_t kMotifHintsDecorations = 2;

enum Atom : int {
    WM_PROTOCOLS,
    WM_DELETE_WINDOW,
    WM_STATE,
    UTF8_STRING,
    COMPOUND_TEXT,
    _NET_WM_NAME,
    _NET_SUPPORTING_WM_CHECK,
    _NET_SUPPORTED,
    _NET_CLIENT_LIST_STACKING,
    _NET_WM_WINDOW_TYPE,
    _NET_WM_WINDOW_TYPE_NORMAL,
    _NET_WM_WINDOW_TYPE_DIALOG,
    _NET_WM_WINDOW_TYPE_UTILITY,
    _NET_WM_WINDOW_TYPE_DESKTOP,
    _NET_WM_WINDOW_TYPE_DOCK,
    _NET_WM_WINDOW_TYPE_TOOLBAR,
    _NET_WM_WINDOW_TYPE_MENU,
    _NET_WM_WINDOW_TYPE_SPLASH,
    _NET_WM_WINDOW_TYPE_DROPDOWN_MENU,
    _NET_WM_WINDOW_TYPE_POPUP_MENU,
    _NET_WM_WINDOW_TYPE_TOOLTIP,
    _NET_WM_WINDOW_TYPE_NOTIFICATION,
    _NET_WM_WINDOW_TYPE_COMBO,
    _NET_WM_WINDOW_TYPE_DND,
    _MOTIF_WM_HINTS,
    AtomCount
};

const char* const kAtomNames[AtomCount] = {
    "WM_PROTOCOLS",
    "WM_DELETE_WINDOW",
    "WM_STATE",
    "UTF8_STRING",
    "COMPOUND_TEXT",
    "_NET_WM_NAME",
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_SUPPORTED",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
    "_MOTIF_WM_HINTS",
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
};

struct Client {
    bool overrideRedirect = false;
    bool mapped = false;
    bool wmShown = false;        // WM_STATE Normal or Iconic
    bool decoratedType = true;   // no type, or normal, dialog or utility
    bool undecorated = false;    // _MOTIF_WM_HINTS removes the decorations
    bool deleteProtocol = false;
    bool hasNetName = false;
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
};

}  // namespace

struct X11DesktopWindows::Impl {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = XCB_NONE;
    std::array<xcb_atom_t, AtomCount> atoms{};
    bool alive = false;
    std::uint64_t roundTrips = 0;

    // Window manager.
    bool ewmh = false;
    xcb_window_t wmCheck = XCB_NONE;
    bool wmDirty = true;
    bool listDirty = true;

    // The mirror: windows in walk order (top of the stacking order first), where each
    // one is in that order, and what is known of each.
    std::vector<WindowId> order;
    std::unordered_map<WindowId, std::size_t> index;
    std::unordered_map<WindowId, Client> clients;
    bool orderStale = false;  // windows were removed from `clients` but not yet from `order`
    std::vector<WindowId> dirtyWindows;

    std::unique_ptr<QSocketNotifier> notifier;

    ~Impl() {
        notifier.reset();
        if (connection) xcb_disconnect(connection);
    }

    bool checkAlive() {
        if (alive && xcb_connection_has_error(connection)) {
            alive = false;
            order.clear();
            index.clear();
            clients.clear();
            dirtyWindows.clear();
            if (notifier) notifier->setEnabled(false);
        }
        return alive;
    }

    void connect(const QString& display) {
        const QByteArray name = display.toLocal8Bit();
        int screenNumber = 0;
        connection = xcb_connect(name.isEmpty() ? nullptr : name.constData(), &screenNumber);
        if (xcb_connection_has_error(connection)) return;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
        if (!screens.rem) return;
        root = screens.data->root;

        std::array<xcb_intern_atom_cookie_t, AtomCount> cookies;
        for (int i = 0; i < AtomCount; ++i)
            cookies[i] = xcb_intern_atom(connection, 0, std::uint16_t(std::strlen(kAtomNames[i])), kAtomNames[i]);
        for (int i = 0; i < AtomCount; ++i) {
            xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookies[i], nullptr);
            if (reply) atoms[i] = reply->atom;
            std::free(reply);
        }
        ++roundTrips;

        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
        alive = !xcb_connection_has_error(connection);
        if (!alive) return;

        if (QCoreApplication::instance()) {
            notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection), QSocketNotifier::Read);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this] { refresh(); });
        }
        refresh();
    }

    // ---- events ----

    void markDirty(WindowId window, std::uint8_t what) {
        auto it = clients.find(window);
        if (it == clients.end()) return;
        if (it->second.dirty == 0) dirtyWindows.push_back(window);
        it->second.dirty |= what;
    }

    void forget(WindowId window) {
        if (clients.erase(window)) orderStale = true;
    }

    void handle(const xcb_generic_event_t* event) {
        switch (event->response_type & 0x7F) {
        case 0:  // an error of a request without reply (a window gone meanwhile)
            break;
        case XCB_PROPERTY_NOTIFY: {
            auto e = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (e->window == root) {
                if (e->atom == atoms[_NET_SUPPORTING_WM_CHECK] || e->atom == atoms[_NET_SUPPORTED]) wmDirty = true;
                else if (e->atom == atoms[_NET_CLIENT_LIST_STACKING] && ewmh) listDirty = true;
                break;
            }
            std::uint8_t what = 0;
            if (e->atom == atoms[_NET_WM_NAME]) what = DirtyNetName;
            else if (e->atom == XCB_ATOM_WM_NAME) what = DirtyWmName;
            else if (e->atom == atoms[WM_STATE]) what = DirtyState;
            else if (e->atom == atoms[_NET_WM_WINDOW_TYPE]) what = DirtyType;
            else if (e->atom == atoms[_MOTIF_WM_HINTS]) what = DirtyMotif;
            else if (e->atom == atoms[WM_PROTOCOLS]) what = DirtyProtocols;
            if (what) markDirty(e->window, what);
            break;
        }
        case XCB_DESTROY_NOTIFY: {
            auto e = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
            if (e->window == wmCheck) wmDirty = true;
            forget(e->window);
            break;
        }
        case XCB_UNMAP_NOTIFY: {
            auto e = reinterpret_cast<const xcb_unmap_notify_event_t*>(event);
            auto it = clients.find(e->window);
            if (it != clients.end()) it->second.mapped = false;
            break;
        }
        case XCB_MAP_NOTIFY: {
            auto e = reinterpret_cast<const xcb_map_notify_event_t*>(event);
            auto it = clients.find(e->window);
            if (it != clients.end()) it->second.mapped = true;
            break;
        }
        case XCB_CREATE_NOTIFY: {
            auto e = reinterpret_cast<const xcb_create_notify_event_t*>(event);
            if (!ewmh && e->parent == root) listDirty = true;
            break;
        }
        case XCB_REPARENT_NOTIFY: {
            auto e = reinterpret_cast<const xcb_reparent_notify_event_t*>(event);
            if (!ewmh && (e->parent == root || clients.count(e->window))) listDirty = true;
            break;
        }
        case XCB_CIRCULATE_NOTIFY:
            if (!ewmh) listDirty = true;
            break;
        case XCB_CONFIGURE_NOTIFY: {
            // Without a window manager the stacking order is the root's: a window whose
            // lower neighbour changed was restacked.
            auto e = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if (ewmh || e->event != root || listDirty || orderStale) break;
            auto at = index.find(e->window);
            if (at == index.end()) break;
            const std::size_t below = at->second + 1;
            const WindowId expected = below < order.size() ? order[below] : XCB_NONE;
            if (expected != e->above_sibling) listDirty = true;
            break;
        }
        default:
            break;
        }
    }

    // Handles every event that has arrived, without waiting for the X server.
    void drain() {
        if (!checkAlive()) return;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            handle(event);
            std::free(event);
        }
        checkAlive();
        rebuildOrder();
    }

    // Handles events xcb already read while waiting for replies.
    void drainQueued() {
        while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection)) {
            handle(event);
            std::free(event);
        }
    }

    void rebuildOrder() {
        if (!orderStale) return;
        orderStale = false;
        order.erase(std::remove_if(order.begin(), order.end(), [this](WindowId w) { return !clients.count(w); }),
                    order.end());
        index.clear();
        for (std::size_t i = 0; i < order.size(); ++i) index.emplace(order[i], i);
    }

    // ---- reading ----

    xcb_get_property_cookie_t askProperty(xcb_window_t window, xcb_atom_t atom, std::uint32_t offset = 0) {
        return xcb_get_property(connection, 0, window, atom, XCB_GET_PROPERTY_TYPE_ANY, offset, kWholeProperty);
    }

    // The reply to askProperty, read on (more round trips) when the property did not
    // fit, which only a huge property makes happen.
    Property takeProperty(xcb_get_property_cookie_t cookie, xcb_window_t window, xcb_atom_t atom) {
        Property property;
        std::uint32_t offset = 0;
        for (;;) {
            xcb_generic_error_t* error = nullptr;
            xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, &error);
            if (!reply) {
                property.gone = error && error->error_code == XCB_WINDOW;
                if (!error) property.gone = true;  // connection broke
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

    void readWindowManager() {
        wmDirty = false;
        xcb_get_property_cookie_t checkCookie =
            xcb_get_property(connection, 0, root, atoms[_NET_SUPPORTING_WM_CHECK], XCB_ATOM_WINDOW, 0, 1);
        xcb_get_property_cookie_t supportedCookie = askProperty(root, atoms[_NET_SUPPORTED]);
        const Property check = takeProperty(checkCookie, root, atoms[_NET_SUPPORTING_WM_CHECK]);
        const Property supported = takeProperty(supportedCookie, root, atoms[_NET_SUPPORTED]);
        ++roundTrips;

        xcb_window_t child = XCB_NONE;
        if (const auto values = check.values32(); !values.empty()) child = values[0];
        bool valid = false;
        if (child != XCB_NONE) {
            // Watch the check window so that a window manager that dies is noticed.
            const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(connection, child, XCB_CW_EVENT_MASK, &mask);
            xcb_get_property_cookie_t cookie =
                xcb_get_property(connection, 0, child, atoms[_NET_SUPPORTING_WM_CHECK], XCB_ATOM_WINDOW, 0, 1);
            const Property own = takeProperty(cookie, child, atoms[_NET_SUPPORTING_WM_CHECK]);
            ++roundTrips;
            const auto values = own.values32();
            valid = !values.empty() && values[0] == child;
        }
        const auto list = supported.values32();
        const bool stacking =
            std::find(list.begin(), list.end(), atoms[_NET_CLIENT_LIST_STACKING]) != list.end();
        const bool nowEwmh = valid && stacking;
        wmCheck = valid ? child : XCB_NONE;
        if (nowEwmh != ewmh) {
            ewmh = nowEwmh;
            order.clear();
            index.clear();
            clients.clear();
            dirtyWindows.clear();
            orderStale = false;
        }
        listDirty = true;
    }

    void readList() {
        listDirty = false;
        std::vector<WindowId> bottomToTop;
        if (ewmh) {
            const Property list = takeProperty(askProperty(root, atoms[_NET_CLIENT_LIST_STACKING]), root,
                                               atoms[_NET_CLIENT_LIST_STACKING]);
            const auto values = list.values32();
            bottomToTop.assign(values.begin(), values.end());
        } else {
            xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr);
            if (tree) {
                const xcb_window_t* children = xcb_query_tree_children(tree);
                bottomToTop.assign(children, children + xcb_query_tree_children_length(tree));
            }
            std::free(tree);
        }
        ++roundTrips;

        order.assign(bottomToTop.rbegin(), bottomToTop.rend());
        index.clear();
        std::size_t kept = 0;
        for (WindowId window : order) {
            if (window == XCB_NONE || index.count(window)) continue;  // a list with repeats
            index.emplace(window, kept);
            order[kept++] = window;
        }
        order.resize(kept);
        orderStale = false;

        for (auto it = clients.begin(); it != clients.end();) {
            if (!index.count(it->first)) it = clients.erase(it);
            else ++it;
        }
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        for (WindowId window : order) {
            if (clients.count(window)) continue;
            // Listen first, then read: a change after the read always brings an event.
            xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
            clients.emplace(window, Client{});
            markDirty(window, DirtyAll);
        }
    }

    void readDirty() {
        struct Pending {
            WindowId window;
            std::uint8_t what;
            xcb_get_window_attributes_cookie_t attributes;
            xcb_get_property_cookie_t netName, wmName, state, type, motif, protocols;
        };
        std::vector<WindowId> windows;
        windows.swap(dirtyWindows);
        std::vector<Pending> pending;
        pending.reserve(windows.size());
        for (WindowId window : windows) {
            auto it = clients.find(window);
            if (it == clients.end() || it->second.dirty == 0) continue;
            Pending p{};
            p.window = window;
            p.what = it->second.dirty;
            it->second.dirty = 0;
            if (p.what & DirtyAttributes) p.attributes = xcb_get_window_attributes(connection, window);
            if (p.what & DirtyNetName) p.netName = askProperty(window, atoms[_NET_WM_NAME]);
            if (p.what & DirtyWmName) p.wmName = askProperty(window, XCB_ATOM_WM_NAME);
            if (p.what & DirtyState) p.state = askProperty(window, atoms[WM_STATE]);
            if (p.what & DirtyType) p.type = askProperty(window, atoms[_NET_WM_WINDOW_TYPE]);
            if (p.what & DirtyMotif) p.motif = askProperty(window, atoms[_MOTIF_WM_HINTS]);
            if (p.what & DirtyProtocols) p.protocols = askProperty(window, atoms[WM_PROTOCOLS]);
            pending.push_back(p);
        }
        if (pending.empty()) return;
        ++roundTrips;

        for (const Pending& p : pending) {
            // Every reply is taken, also for a window found gone on the way.
            bool gone = false;
            Client fresh;
            if (p.what & DirtyAttributes) {
                xcb_generic_error_t* error = nullptr;
                xcb_get_window_attributes_reply_t* reply =
                    xcb_get_window_attributes_reply(connection, p.attributes, &error);
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
                    property = takeProperty(cookie, p.window, atom);
                    gone = gone || property.gone;
                }
                return property;
            };
            const Property netName = take(DirtyNetName, p.netName, atoms[_NET_WM_NAME]);
            const Property wmName = take(DirtyWmName, p.wmName, XCB_ATOM_WM_NAME);
            const Property state = take(DirtyState, p.state, atoms[WM_STATE]);
            const Property type = take(DirtyType, p.type, atoms[_NET_WM_WINDOW_TYPE]);
            const Property motif = take(DirtyMotif, p.motif, atoms[_MOTIF_WM_HINTS]);
            const Property protocols = take(DirtyProtocols, p.protocols, atoms[WM_PROTOCOLS]);

            auto it = clients.find(p.window);
            if (it == clients.end()) continue;
            if (gone) {
                forget(p.window);
                continue;
            }
            Client& client = it->second;
            if (p.what & DirtyAttributes) {
                client.overrideRedirect = fresh.overrideRedirect;
                client.mapped = fresh.mapped;
            }
            if (p.what & DirtyNetName) {
                client.hasNetName = netName.type != XCB_NONE;
                client.netName = textOf(netName);
            }
            if (p.what & DirtyWmName) client.wmName = textOf(wmName);
            if (p.what & DirtyState) {
                const auto values = state.values32();
                client.wmShown =
                    !values.empty() && (values[0] == kWmStateNormal || values[0] == kWmStateIconic);
            }
            if (p.what & DirtyType) client.decoratedType = decoratedTypeOf(type);
            if (p.what & DirtyMotif) {
                const auto values = motif.values32();
                client.undecorated = values.size() >= 3 && (values[0] & kMotifHintsDecorations) && values[2] == 0;
            }
            if (p.what & DirtyProtocols) {
                const auto values = protocols.values32();
                client.deleteProtocol =
                    std::find(values.begin(), values.end(), atoms[WM_DELETE_WINDOW]) != values.end();
            }
        }
    }

    // Brings the mirror up to date: events first, then one batch for what changed.
    void refresh() {
        drain();
        for (int round = 0; alive && round < 4; ++round) {
            if (!wmDirty && !listDirty && dirtyWindows.empty()) break;
            if (wmDirty) readWindowManager();
            if (listDirty) readList();
            if (!dirtyWindows.empty()) readDirty();
            if (!checkAlive()) break;
            drainQueued();
        }
        checkAlive();
        rebuildOrder();
    }

    const Client* client(WindowId window) const {
        auto it = clients.find(window);
        return it == clients.end() ? nullptr : &it->second;
    }
};

X11DesktopWindows::X11DesktopWindows(const QString& display) : d(std::make_unique<Impl>()) {
    d->connect(display);
}

X11DesktopWindows::~X11DesktopWindows() = default;

bool X11DesktopWindows::ok() const { return d->alive && !xcb_connection_has_error(d->connection); }

bool X11DesktopWindows::hasWindowManager() const { return d->alive && d->ewmh; }

std::uint64_t X11DesktopWindows::roundTrips() const { return d->roundTrips; }

WindowId X11DesktopWindows::FirstWindow(WindowId) {
    d->refresh();
    return d->order.empty() ? 0 : d->order.front();
}

WindowId X11DesktopWindows::NextWindow(WindowId window) {
    d->drain();
    auto it = d->index.find(window);
    if (it == d->index.end()) return 0;
    const std::size_t next = it->second + 1;
    return next < d->order.size() ? d->order[next] : 0;
}

std::uint32_t X11DesktopWindows::Style(WindowId window) {
    const Client* c = d->client(window);
    if (!c) return 0;
    std::uint32_t style = 0;
    if (d->ewmh ? c->wmShown : c->mapped) style |= WindowStyle::Visible;
    if (!c->overrideRedirect && c->decoratedType && !c->undecorated) style |= WindowStyle::Border;
    return style;
}

int X11DesktopWindows::TitleLength(WindowId window) {
    const Client* c = d->client(window);
    return c ? int(std::min<qsizetype>(c->title().size(), std::numeric_limits<int>::max())) : 0;
}

int X11DesktopWindows::Title(WindowId window, QString& title, int maxCount) {
    const Client* c = d->client(window);
    if (!c || maxCount < 1) {
        title.clear();
        return 0;
    }
    title = c->title().left(maxCount - 1);
    return int(title.size());
}

WindowId X11DesktopWindows::FindByTitle(const QString& title) {
    d->drain();
    for (WindowId window : d->order) {
        const Client* c = d->client(window);
        if (c && c->title() == title) return window;
    }
    return 0;
}

bool X11DesktopWindows::RequestClose(WindowId window) {
    if (!d->checkAlive() || window == 0) return false;
    bool listsDelete = false;
    if (const Client* c = d->client(window)) {
        listsDelete = c->deleteProtocol;
    } else {
        // Not one of the mirror's windows: ask the server.
        const Property protocols =
            d->takeProperty(d->askProperty(window, d->atoms[WM_PROTOCOLS]), window, d->atoms[WM_PROTOCOLS]);
        ++d->roundTrips;
        const auto values = protocols.values32();
        listsDelete = std::find(values.begin(), values.end(), d->atoms[WM_DELETE_WINDOW]) != values.end();
    }
    if (!listsDelete) return false;

    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = d->atoms[WM_PROTOCOLS];
    message.data.data32[0] = d->atoms[WM_DELETE_WINDOW];
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(d->connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    return xcb_flush(d->connection) > 0 && d->checkAlive();
}
