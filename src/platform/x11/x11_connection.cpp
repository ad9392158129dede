#include "platform/x11/x11_connection.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/system/log.h"
#include "platform/x11/x11_text.h"

namespace x11 {

namespace {

// A GetProperty asks for this many 32-bit units: every real property fits at once; a
// larger one is read on in further requests.
constexpr std::uint32_t kWholeProperty = 0x3FFFFFFFu;

}  // namespace

std::vector<std::uint32_t> Property::values32() const {
    std::vector<std::uint32_t> values;
    if (format != 32) return values;
    values.resize(std::size_t(bytes.size()) / 4);
    if (!values.empty()) std::memcpy(values.data(), bytes.constData(), values.size() * 4);
    return values;
}

bool Property::contains32(xcb_atom_t value) const {
    const auto values = values32();
    return std::find(values.begin(), values.end(), value) != values.end();
}

Connection::~Connection() {
    if (c_) xcb_disconnect(c_);
}

bool Connection::open(const QString& display) {
    const QByteArray name = display.toLocal8Bit();
    int screenNumber = 0;
    c_ = xcb_connect(name.isEmpty() ? nullptr : name.constData(), &screenNumber);
    if (xcb_connection_has_error(c_)) {
        qCDebug(lcX11) << "no X server at" << (name.isEmpty() ? qgetenv("DISPLAY") : name);
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c_));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    if (!screens.rem) {
        qCDebug(lcX11) << "the X server has no screen" << screenNumber;
        return false;
    }
    root_ = screens.data->root;

    std::array<xcb_intern_atom_cookie_t, AtomCount> cookies;
    for (int i = 0; i < AtomCount; ++i)
        cookies[i] = xcb_intern_atom(c_, 0, std::uint16_t(std::strlen(kAtomNames[i])), kAtomNames[i]);
    for (int i = 0; i < AtomCount; ++i) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c_, cookies[i], nullptr);
        if (reply) atoms_[i] = reply->atom;
        else qCDebug(lcX11) << "atom" << kAtomNames[i] << "not interned";
        std::free(reply);
    }
    ++roundTrips_;

    listen(root_, XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
    alive_ = !xcb_connection_has_error(c_);
    return alive_;
}

bool Connection::checkAlive() {
    if (alive_ && xcb_connection_has_error(c_)) {
        qCDebug(lcX11) << "connection to the X server broken";
        alive_ = false;
    }
    return alive_;
}

void Connection::listen(xcb_window_t window, std::uint32_t mask) {
    xcb_change_window_attributes(c_, window, XCB_CW_EVENT_MASK, &mask);
}

xcb_get_property_cookie_t Connection::askProperty(xcb_window_t window, xcb_atom_t atom, std::uint32_t offset) {
    return xcb_get_property(c_, 0, window, atom, XCB_GET_PROPERTY_TYPE_ANY, offset, kWholeProperty);
}

Property Connection::takeProperty(xcb_get_property_cookie_t cookie, xcb_window_t window, xcb_atom_t atom) {
    Property property;
    std::uint32_t offset = 0;
    for (;;) {
        xcb_generic_error_t* error = nullptr;
        xcb_get_property_reply_t* reply = xcb_get_property_reply(c_, cookie, &error);
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
        ++roundTrips_;
    }
}

Property Connection::readProperty(xcb_window_t window, xcb_atom_t atom) {
    ++roundTrips_;
    return takeProperty(askProperty(window, atom), window, atom);
}

QString Connection::textOf(const Property& property) const {
    if (property.type == XCB_NONE || property.format != 8) return QString();
    if (property.type == atoms_[UTF8_STRING]) return x11text::decode(x11text::Encoding::Utf8, property.bytes);
    if (property.type == atoms_[COMPOUND_TEXT]) return x11text::decode(x11text::Encoding::CompoundText, property.bytes);
    return x11text::decode(x11text::Encoding::Latin1, property.bytes);
}

}  // namespace x11
