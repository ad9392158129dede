#include "platform/x11/window_state.h"

#include <cstdlib>

#include "platform/desktop/desktop_windows.h"

namespace x11 {

namespace {

constexpr std::uint32_t kWmStateNormal = 1;
constexpr std::uint32_t kWmStateIconic = 3;
constexpr std::uint32_t kMotifHintsDecorations = 2;

bool decoratedTypeOf(const Property& property, const Connection& x) {
    for (std::uint32_t type : property.values32()) {
        if (type == x[_NET_WM_WINDOW_TYPE_NORMAL] || type == x[_NET_WM_WINDOW_TYPE_DIALOG] ||
            type == x[_NET_WM_WINDOW_TYPE_UTILITY])
            return true;
        for (int known = _NET_WM_WINDOW_TYPE_DESKTOP; known <= _NET_WM_WINDOW_TYPE_DND; ++known)
            if (type == x[Atom(known)]) return false;
    }
    return true;  // no type, or only types nobody knows: a normal window
}

}  // namespace

const std::array<WindowProperty, kPropertyCount> kWindowProperties{{
    {_NET_WM_NAME, DirtyNetName,
     [](Client& c, const Property& p, const Connection& x) {
         c.hasNetName = p.type != XCB_NONE;
         c.netName = x.textOf(p);
     }},
    {WM_NAME, DirtyWmName, [](Client& c, const Property& p, const Connection& x) { c.wmName = x.textOf(p); }},
    {WM_STATE, DirtyState,
     [](Client& c, const Property& p, const Connection&) {
         const auto values = p.values32();
         c.hasWmState = p.type != XCB_NONE;
         c.wmShown = !values.empty() && (values[0] == kWmStateNormal || values[0] == kWmStateIconic);
     }},
    {_NET_WM_WINDOW_TYPE, DirtyType,
     [](Client& c, const Property& p, const Connection& x) { c.decoratedType = decoratedTypeOf(p, x); }},
    {_MOTIF_WM_HINTS, DirtyMotif,
     [](Client& c, const Property& p, const Connection&) {
         const auto values = p.values32();
         c.undecorated = values.size() >= 3 && (values[0] & kMotifHintsDecorations) && values[2] == 0;
     }},
    {WM_PROTOCOLS, DirtyProtocols,
     [](Client& c, const Property& p, const Connection& x) { c.deleteProtocol = p.contains32(x[WM_DELETE_WINDOW]); }},
}};

std::uint32_t styleOf(const Client& c, bool ewmh) {
    std::uint32_t style = 0;
    if (ewmh || c.hasWmState ? c.wmShown : c.mapped) style |= WindowStyle::Visible;
    if (!c.overrideRedirect && c.decoratedType && !c.undecorated) style |= WindowStyle::Border;
    return style;
}

std::uint8_t dirtyBitOf(const Connection& x, xcb_atom_t atom) {
    for (const WindowProperty& p : kWindowProperties)
        if (x[p.atom] == atom) return p.bit;
    return 0;
}

StateRead sendRead(Connection& x, WindowId window, std::uint8_t what) {
    StateRead read;
    read.window = window;
    read.what = what;
    if (what & DirtyAttributes) read.attributes = xcb_get_window_attributes(x.c(), window);
    for (std::size_t i = 0; i < kPropertyCount; ++i)
        if (what & kWindowProperties[i].bit) read.properties[i] = x.askProperty(window, x[kWindowProperties[i].atom]);
    return read;
}

bool takeRead(Connection& x, const StateRead& read, Client* client) {
    bool gone = false;
    bool overrideRedirect = false;
    bool mapped = false;
    if (read.what & DirtyAttributes) {
        xcb_generic_error_t* error = nullptr;
        xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(x.c(), read.attributes, &error);
        if (reply) {
            overrideRedirect = reply->override_redirect;
            mapped = reply->map_state != XCB_MAP_STATE_UNMAPPED;
        } else {
            gone = true;
        }
        std::free(reply);
        std::free(error);
    }
    std::array<Property, kPropertyCount> values;
    for (std::size_t i = 0; i < kPropertyCount; ++i) {
        if (!(read.what & kWindowProperties[i].bit)) continue;
        values[i] = x.takeProperty(read.properties[i], read.window, x[kWindowProperties[i].atom]);
        gone = gone || values[i].gone;
    }
    if (gone || !client) return !gone;
    if (read.what & DirtyAttributes) {
        client->overrideRedirect = overrideRedirect;
        client->mapped = mapped;
    }
    for (std::size_t i = 0; i < kPropertyCount; ++i)
        if (read.what & kWindowProperties[i].bit) kWindowProperties[i].apply(*client, values[i], x);
    return true;
}

}  // namespace x11
