#pragma once

// The X11 adapter's own connection to the X server: connecting, the interned atoms,
// selecting events on a window and reading properties. Nothing here keeps state about
// windows.

#include <xcb/xcb.h>

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

#include "platform/x11/atoms.h"

namespace x11 {

using WindowId = std::uint32_t;

// A property as read: absent (type 0), or its type, format and bytes.
struct Property {
    bool gone = false;  // BadWindow: the window no longer exists
    xcb_atom_t type = XCB_NONE;
    std::uint8_t format = 0;
    QByteArray bytes;

    std::vector<std::uint32_t> values32() const;
    bool contains32(xcb_atom_t value) const;
};

class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects to `display` (":N", or $DISPLAY when empty), interns the atoms and listens
    // to the root window's property and substructure changes. False when it failed.
    bool open(const QString& display);

    // False once the connection broke (it never recovers).
    bool checkAlive();
    bool alive() const { return alive_; }

    xcb_connection_t* c() const { return c_; }
    xcb_window_t root() const { return root_; }
    xcb_atom_t operator[](Atom atom) const { return atoms_[atom]; }

    // Batches of requests whose replies were taken so far.
    std::uint64_t roundTrips() const { return roundTrips_; }
    void countRoundTrip() { ++roundTrips_; }

    void listen(xcb_window_t window, std::uint32_t mask);

    xcb_get_property_cookie_t askProperty(xcb_window_t window, xcb_atom_t atom, std::uint32_t offset = 0);
    // The reply to askProperty, read on (more round trips) when the property did not
    // fit, which only a huge property makes happen.
    Property takeProperty(xcb_get_property_cookie_t cookie, xcb_window_t window, xcb_atom_t atom);
    // One property, asked and waited for.
    Property readProperty(xcb_window_t window, xcb_atom_t atom);

    // A text property (STRING, UTF8_STRING or COMPOUND_TEXT) as text; empty when absent.
    QString textOf(const Property& property) const;

private:
    xcb_connection_t* c_ = nullptr;
    xcb_window_t root_ = XCB_NONE;
    std::array<xcb_atom_t, AtomCount> atoms_{};
    bool alive_ = false;
    std::uint64_t roundTrips_ = 0;
};

}  // namespace x11
