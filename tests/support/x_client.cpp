#include "x_client.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <poll.h>

XClient::XClient(const QString& display) {
    connection_ = xcb_connect(display.isEmpty() ? nullptr : display.toLatin1().constData(), nullptr);
    if (xcb_connection_has_error(connection_)) return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    root_ = screen->root;
    rootVisual_ = screen->root_visual;
}

XClient::~XClient() {
    if (connection_) xcb_disconnect(connection_);
}

bool XClient::ok() const { return connection_ && !xcb_connection_has_error(connection_) && root_ != 0; }

void XClient::flush() { xcb_flush(connection_); }

void XClient::listen(std::uint32_t window, std::uint32_t mask) {
    if (!ok()) return;
    xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &mask);
    flush();
}

bool XClient::takeEvents(int waitMs, const std::function<bool(const xcb_generic_event_t&)>& take) {
    if (!ok()) return false;
    // Replies read meanwhile may have brought events along: those are not on the socket.
    xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_);
    if (!event) {
        pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
        ::poll(&fd, 1, waitMs);
        event = xcb_poll_for_event(connection_);
    }
    for (; event; event = xcb_poll_for_event(connection_)) {
        const bool taken = take(*event);
        std::free(event);
        if (taken) return true;
    }
    return false;
}

std::uint32_t XClient::atom(const char* name) {
    auto it = atoms_.find(name);
    if (it != atoms_.end()) return it->second;
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(strlen(name)), name), nullptr);
    std::uint32_t value = reply ? reply->atom : 0;
    free(reply);
    atoms_[name] = value;
    return value;
}

QByteArray XClient::property(std::uint32_t window, std::uint32_t prop, std::uint32_t type) {
    if (!ok()) return {};
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, prop, type, 0, 1 << 20), nullptr);
    QByteArray bytes;
    if (reply) {
        bytes = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                           xcb_get_property_value_length(reply));
        free(reply);
    }
    return bytes;
}

std::optional<std::vector<std::uint32_t>> XClient::cards(std::uint32_t window, const char* name) {
    if (!ok()) return std::nullopt;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20),
        nullptr);
    std::optional<std::vector<std::uint32_t>> items;
    if (reply && reply->type != XCB_ATOM_NONE && reply->format == 32) {
        const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        items.emplace(data, data + xcb_get_property_value_length(reply) / 4);
    }
    free(reply);
    return items;
}

bool XClient::holds(std::uint32_t window, const char* name, const char* value) {
    const auto items = cards(window, name);
    const std::uint32_t wanted = atom(value);
    for (std::uint32_t item : items.value_or(std::vector<std::uint32_t>{}))
        if (item == wanted) return true;
    return false;
}

std::vector<std::uint32_t> XClient::clients() {
    const QByteArray bytes = property(root_, atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    std::vector<std::uint32_t> result(static_cast<size_t>(bytes.size()) / 4);
    if (!result.empty()) memcpy(result.data(), bytes.constData(), result.size() * 4);
    return result;
}

std::vector<std::uint32_t> XClient::children(std::uint32_t window) {
    std::vector<std::uint32_t> result;
    if (!ok()) return result;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr);
    if (!tree) return result;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    result.assign(children, children + xcb_query_tree_children_length(tree));
    free(tree);
    return result;
}

std::vector<std::uint32_t> XClient::mappedOverrideRedirect() {
    const std::vector<std::uint32_t> all = rootChildren();
    std::vector<xcb_get_window_attributes_cookie_t> cookies;
    for (std::uint32_t window : all) cookies.push_back(xcb_get_window_attributes(connection_, window));
    std::vector<std::uint32_t> result;
    for (size_t i = 0; i < all.size(); ++i) {
        xcb_get_window_attributes_reply_t* attributes =
            xcb_get_window_attributes_reply(connection_, cookies[i], nullptr);
        if (attributes && attributes->override_redirect && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
            result.push_back(all[i]);
        free(attributes);
    }
    return result;
}

QString XClient::title(std::uint32_t window) {
    const QByteArray name = property(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"));
    if (!name.isEmpty()) return QString::fromUtf8(name);
    return QString::fromLatin1(property(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING));
}

pid_t XClient::pid(std::uint32_t window) {
    const QByteArray bytes = property(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
    if (bytes.size() < 4) return 0;
    std::uint32_t value = 0;
    memcpy(&value, bytes.constData(), 4);
    return static_cast<pid_t>(value);
}

std::optional<XClient::Rect> XClient::geometry(std::uint32_t window) {
    if (!ok()) return std::nullopt;
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
    if (!geometry) return std::nullopt;
    Rect rect;
    rect.width = geometry->width;
    rect.height = geometry->height;
    free(geometry);
    xcb_translate_coordinates_reply_t* position = xcb_translate_coordinates_reply(
        connection_, xcb_translate_coordinates(connection_, window, root_, 0, 0), nullptr);
    if (!position) return std::nullopt;
    rect.x = position->dst_x;
    rect.y = position->dst_y;
    free(position);
    return rect;
}

bool XClient::exists(std::uint32_t window) { return colormap(window).has_value(); }

std::optional<std::uint32_t> XClient::colormap(std::uint32_t window) {
    if (!ok()) return std::nullopt;
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr);
    if (!attributes) return std::nullopt;
    const std::uint32_t colormap = attributes->colormap;
    free(attributes);
    return colormap;
}

std::uint32_t XClient::defaultColormap() const {
    return ok() ? xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->default_colormap : 0;
}

std::optional<std::pair<int, int>> XClient::pointer() {
    if (!ok()) return std::nullopt;
    xcb_query_pointer_reply_t* reply =
        xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr);
    if (!reply) return std::nullopt;
    std::pair<int, int> position{reply->root_x, reply->root_y};
    free(reply);
    return position;
}

std::vector<std::uint32_t> XClient::clientsTitledEndingWith(const QString& suffix) {
    std::vector<std::uint32_t> result;
    for (std::uint32_t window : clients())
        if (title(window).endsWith(suffix)) result.push_back(window);
    return result;
}

std::uint32_t XClient::activeWindow() {
    const QByteArray bytes = property(root_, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    std::uint32_t window = 0;
    if (bytes.size() >= 4) memcpy(&window, bytes.constData(), 4);
    return window;
}

std::uint32_t XClient::createWindow(int width, int height) {
    const xcb_window_t window = xcb_generate_id(connection_);
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, root_, 0, 0, static_cast<uint16_t>(width),
                      static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, rootVisual_, 0, nullptr);
    flush();
    return window;
}

void XClient::map(std::uint32_t window) {
    xcb_map_window(connection_, window);
    flush();
}

void XClient::destroy(std::uint32_t window) {
    xcb_destroy_window(connection_, window);
    flush();
}

void XClient::setText(std::uint32_t window, const char* name, const char* type, const QByteArray& bytes) {
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom(name), atom(type), 8,
                        static_cast<std::uint32_t>(bytes.size()), bytes.constData());
    flush();
}

void XClient::retitle(std::uint32_t window, const QByteArray& title) {
    setText(window, "_NET_WM_NAME", "UTF8_STRING", title);
}

void XClient::setDecorations(std::uint32_t window, bool on) {
    const std::uint32_t hints[5] = {2, 0, on ? 1u : 0u, 0, 0};
    const xcb_atom_t motif = atom("_MOTIF_WM_HINTS");
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, motif, motif, 32, 5, hints);
    flush();
}

void XClient::grabServer(bool on) {
    if (on) xcb_grab_server(connection_);
    else xcb_ungrab_server(connection_);
    flush();
}

void XClient::raise(std::uint32_t window, bool windowManager) {
    if (windowManager) {
        xcb_client_message_event_t m{};
        m.response_type = XCB_CLIENT_MESSAGE;
        m.format = 32;
        m.window = window;
        m.type = atom("_NET_ACTIVE_WINDOW");
        m.data.data32[0] = 2;  // from a pager: always honoured
        m.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection_, 0, root_, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&m));
    } else {
        const std::uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(connection_, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    }
    flush();
}

void XClient::fakeGone(std::uint32_t window) {
    xcb_unmap_notify_event_t unmapped{};
    unmapped.response_type = XCB_UNMAP_NOTIFY;
    unmapped.event = unmapped.window = window;
    xcb_destroy_notify_event_t destroyed{};
    destroyed.response_type = XCB_DESTROY_NOTIFY;
    destroyed.event = destroyed.window = window;
    for (const char* e : {reinterpret_cast<const char*>(&unmapped), reinterpret_cast<const char*>(&destroyed)})
        xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_STRUCTURE_NOTIFY, e);
    flush();
}

void XClient::requestClose(std::uint32_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    flush();
}

void XClient::sendKey(std::uint32_t window, std::uint32_t stamp) {
    for (const std::uint8_t type : {std::uint8_t(XCB_KEY_PRESS), std::uint8_t(XCB_KEY_RELEASE)}) {
        xcb_key_press_event_t e{};
        e.response_type = type;
        e.detail = 38;  // 'a' on the virtual server's keymap
        e.time = stamp;
        e.root = root_;
        e.event = window;
        e.same_screen = 1;
        xcb_send_event(connection_, 0, window, type == XCB_KEY_PRESS ? XCB_EVENT_MASK_KEY_PRESS : XCB_EVENT_MASK_KEY_RELEASE,
                       reinterpret_cast<const char*>(&e));
    }
    flush();
}
