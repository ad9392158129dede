#pragma once

// What the mirror knows of one top-level window, and how it is read: one table of the
// window properties it follows, each with its atom, the dirty bit a change of it sets and
// what a read of it tells. The event handler, the batch of requests and the application
// of their replies all go through that table.

#include <xcb/xcb.h>

#include <QString>
#include <array>
#include <cstdint>

#include "platform/x11/retitle_storm.h"
#include "platform/x11/x11_connection.h"

namespace x11 {

// What of a window must be read again.
enum Dirty : std::uint8_t {
    DirtyAttributes = 1,  // override-redirect and map state (GetWindowAttributes)
    DirtyNetName = 2,
    DirtyWmName = 4,
    DirtyState = 8,
    DirtyType = 16,
    DirtyMotif = 32,
    DirtyProtocols = 64,
    DirtyAll = 127,
    DirtyProperties = DirtyAll & ~DirtyAttributes,
    DirtyTitle = DirtyNetName | DirtyWmName,
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
    RetitleStorm storm;
    QString netName;
    QString wmName;
    std::uint8_t dirty = 0;
    // Changes with every event that tells something of the window, and for every new
    // entry: a read sent under an older stamp may answer with what is no longer true.
    std::uint64_t stamp = 0;

    const QString& title() const { return hasNetName ? netName : wmName; }
};

// The WindowStyle bits of a window; `ewmh`: an EWMH window manager runs.
std::uint32_t styleOf(const Client& client, bool ewmh);

// One property of the table.
struct WindowProperty {
    Atom atom;
    Dirty bit;
    void (*apply)(Client& client, const Property& value, const Connection& x);
};

inline constexpr std::size_t kPropertyCount = 6;
extern const std::array<WindowProperty, kPropertyCount> kWindowProperties;

// The dirty bit a change of `atom` on a window sets; 0 for properties nobody reads.
std::uint8_t dirtyBitOf(const Connection& x, xcb_atom_t atom);

// One window's part of a batch of reads: the requests sent, waiting for their replies.
struct StateRead {
    WindowId window = XCB_NONE;
    std::uint8_t what = 0;
    std::uint64_t stamp = 0;  // the window's Client::stamp when the requests went out
    xcb_get_window_attributes_cookie_t attributes{};
    std::array<xcb_get_property_cookie_t, kPropertyCount> properties{};
};

// Sends the requests for what `what` marks; waits for nothing.
StateRead sendRead(Connection& x, WindowId window, std::uint8_t what);

// Takes every reply of `read` and, unless the window turned out gone (then false),
// applies them to `client` when there is one.
bool takeRead(Connection& x, const StateRead& read, Client* client);

}  // namespace x11
