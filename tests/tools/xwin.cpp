// xwin: makes foreign top-level X11 windows for the tests, with plain xcb, and keeps them
// until they are closed.
//
// Usage: xwin [options]
//   --title TEXT            the title (UTF-8 on the command line); "%d" becomes the
//                           window's index when several are made. No title: untitled.
//   --title-hex HEX         the title as raw bytes (e.g. "ff41"), written unchanged into
//                           the properties chosen by --title-encoding
//   --title-encoding E      utf8   _NET_WM_NAME (UTF8_STRING) only
//                           latin1 WM_NAME (STRING, Latin-1) only
//                           ctext  WM_NAME (COMPOUND_TEXT) only: Latin-1 text as is,
//                                  other characters in an ESC % G UTF-8 segment
//                           wmname-utf8  WM_NAME typed UTF8_STRING only
//                           both   _NET_WM_NAME (UTF-8) and WM_NAME (Latin-1) (default)
//   --count N               makes N windows (default 1)
//   --type T                _NET_WM_WINDOW_TYPE normal|dialog|utility|dock|splash
//                           (default: no type property)
//   --override-redirect     override-redirect windows (no window manager frame)
//   --no-decorations        _MOTIF_WM_HINTS removing the decorations
//   --unmapped              creates the windows but never maps them
//   --no-delete-protocol    WM_PROTOCOLS without WM_DELETE_WINDOW
//   --ignore-close          lists WM_DELETE_WINDOW but ignores the request
//   --transient-for ID      WM_TRANSIENT_FOR the given window (decimal or 0x hex)
//
// Prints each window's id in decimal on its own line once all are mapped, then serves
// events: a WM_DELETE_WINDOW request prints "closed ID" and destroys that window (or
// prints "ignored ID" with --ignore-close); the program exits when no window is left, on
// SIGTERM, or when the X server goes away.

#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Options {
    bool titled = false;
    std::string title;
    bool rawTitle = false;
    std::string encoding = "both";
    int count = 1;
    std::string type;
    bool overrideRedirect = false;
    bool noDecorations = false;
    bool unmapped = false;
    bool noDeleteProtocol = false;
    bool ignoreClose = false;
    xcb_window_t transientFor = 0;
};

[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr, "xwin: %s\n", why);
    std::exit(2);
}

std::string fromHex(const std::string& hex) {
    if (hex.size() % 2) usage("--title-hex needs an even number of digits");
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) bytes.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// One character of UTF-8 text: its code point and how many bytes it took. A byte that
// is no valid UTF-8 stands for itself.
struct Char {
    char32_t cp;
    std::size_t width;
};

std::vector<Char> characters(const std::string& utf8) {
    std::vector<Char> out;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char b = utf8[i];
        const std::size_t extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        char32_t cp = extra == 3 ? b & 0x07 : extra == 2 ? b & 0x0F : extra == 1 ? b & 0x1F : b;
        bool valid = b < 0x80 || extra > 0;
        for (std::size_t k = 1; valid && k <= extra; ++k) {
            if (i + k >= utf8.size() || (utf8[i + k] & 0xC0) != 0x80) valid = false;
            else cp = (cp << 6) | (utf8[i + k] & 0x3F);
        }
        out.push_back(valid ? Char{cp, extra + 1} : Char{b, 1});
        i += valid ? extra + 1 : 1;
    }
    return out;
}

std::string toLatin1(const std::string& utf8) {
    std::string out;
    for (const Char& ch : characters(utf8)) out.push_back(ch.cp < 0x100 ? char(ch.cp) : '?');
    return out;
}

std::string toCompoundText(const std::string& utf8) {
    std::string out;
    bool inUtf8 = false;
    std::size_t i = 0;
    for (const Char& ch : characters(utf8)) {
        if (ch.cp < 0x100) {
            if (inUtf8) out += "\x1b%@";
            inUtf8 = false;
            out.push_back(char(ch.cp));
        } else {
            if (!inUtf8) out += "\x1b%G";
            inUtf8 = true;
            out += utf8.substr(i, ch.width);
        }
        i += ch.width;
    }
    if (inUtf8) out += "\x1b%@";
    return out;
}

std::string substitute(const std::string& text, int index) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "%d") == 0) {
            out += std::to_string(index);
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage(("missing value for " + arg).c_str());
            return argv[++i];
        };
        if (arg == "--title") o.titled = true, o.title = value();
        else if (arg == "--title-hex") o.titled = true, o.rawTitle = true, o.title = fromHex(value());
        else if (arg == "--title-encoding") o.encoding = value();
        else if (arg == "--count") o.count = std::atoi(value().c_str());
        else if (arg == "--type") o.type = value();
        else if (arg == "--override-redirect") o.overrideRedirect = true;
        else if (arg == "--no-decorations") o.noDecorations = true;
        else if (arg == "--unmapped") o.unmapped = true;
        else if (arg == "--no-delete-protocol") o.noDeleteProtocol = true;
        else if (arg == "--ignore-close") o.ignoreClose = true;
        else if (arg == "--transient-for") o.transientFor = xcb_window_t(std::strtoul(value().c_str(), nullptr, 0));
        else usage(("unknown option " + arg).c_str());
    }
    if (o.count < 1) usage("--count must be at least 1");
    const std::set<std::string> encodings{"utf8", "latin1", "ctext", "wmname-utf8", "both"};
    if (!encodings.count(o.encoding)) usage("unknown --title-encoding");
    if (!o.type.empty() && o.type != "normal" && o.type != "dialog" && o.type != "utility" && o.type != "dock" &&
        o.type != "splash")
        usage("unknown --type");
    return o;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return a;
}

void setText(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property, xcb_atom_t type, const std::string& bytes) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, type, 8, std::uint32_t(bytes.size()), bytes.data());
}

void onTerm(int) { _exit(0); }

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    std::signal(SIGTERM, onTerm);
    std::signal(SIGPIPE, SIG_IGN);

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) usage("cannot connect to the X server");
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;

    const xcb_atom_t wmProtocols = atom(c, "WM_PROTOCOLS");
    const xcb_atom_t wmDelete = atom(c, "WM_DELETE_WINDOW");
    const xcb_atom_t utf8String = atom(c, "UTF8_STRING");
    const xcb_atom_t compoundText = atom(c, "COMPOUND_TEXT");
    const xcb_atom_t netWmName = atom(c, "_NET_WM_NAME");
    const xcb_atom_t netWmPid = atom(c, "_NET_WM_PID");
    const xcb_atom_t windowType = atom(c, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t motifHints = atom(c, "_MOTIF_WM_HINTS");
    xcb_atom_t typeAtom = XCB_NONE;
    if (!o.type.empty()) {
        std::string name = "_NET_WM_WINDOW_TYPE_" + o.type;
        for (char& ch : name) ch = char(std::toupper(static_cast<unsigned char>(ch)));
        typeAtom = atom(c, name.c_str());
    }

    std::set<xcb_window_t> open;
    std::vector<xcb_window_t> order;
    for (int index = 0; index < o.count; ++index) {
        const xcb_window_t w = xcb_generate_id(c);
        const std::uint32_t values[] = {screen->white_pixel, o.overrideRedirect ? 1u : 0u,
                                        XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, std::int16_t(20 + index % 50 * 10),
                          std::int16_t(20 + index % 40 * 10), 240, 120, 1, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK,
                          values);
        if (o.titled) {
            const std::string title = o.rawTitle ? o.title : substitute(o.title, index);
            const std::string latin1 = o.rawTitle ? title : toLatin1(title);
            if (o.encoding == "utf8" || o.encoding == "both") setText(c, w, netWmName, utf8String, title);
            if (o.encoding == "latin1" || o.encoding == "both") setText(c, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, latin1);
            if (o.encoding == "ctext")
                setText(c, w, XCB_ATOM_WM_NAME, compoundText, o.rawTitle ? title : toCompoundText(title));
            if (o.encoding == "wmname-utf8") setText(c, w, XCB_ATOM_WM_NAME, utf8String, title);
        }
        const char wmClass[] = "xwin\0Xwin";
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof wmClass,
                            wmClass);
        const std::uint32_t pid = std::uint32_t(getpid());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netWmPid, XCB_ATOM_CARDINAL, 32, 1, &pid);
        if (!o.noDeleteProtocol)
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, wmProtocols, XCB_ATOM_ATOM, 32, 1, &wmDelete);
        if (typeAtom != XCB_NONE)
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, windowType, XCB_ATOM_ATOM, 32, 1, &typeAtom);
        if (o.noDecorations) {
            const std::uint32_t hints[5] = {2, 0, 0, 0, 0};  // flags: decorations; decorations: none
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, motifHints, motifHints, 32, 5, hints);
        }
        if (o.transientFor != 0)
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1,
                                &o.transientFor);
        if (!o.unmapped) xcb_map_window(c, w);
        open.insert(w);
        order.push_back(w);
    }
    xcb_flush(c);
    // A round trip: every window exists on the server before anyone reads its id.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    for (xcb_window_t w : order) std::printf("%u\n", w);
    std::fflush(stdout);

    while (!open.empty()) {
        xcb_generic_event_t* event = xcb_wait_for_event(c);
        if (!event) break;  // the X server went away
        if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
            auto m = reinterpret_cast<xcb_client_message_event_t*>(event);
            if (m->type == wmProtocols && m->format == 32 && m->data.data32[0] == wmDelete && open.count(m->window)) {
                if (o.ignoreClose) {
                    std::printf("ignored %u\n", m->window);
                } else {
                    std::printf("closed %u\n", m->window);
                    xcb_destroy_window(c, m->window);
                    xcb_flush(c);
                    open.erase(m->window);
                }
                std::fflush(stdout);
            }
        } else if ((event->response_type & 0x7F) == XCB_DESTROY_NOTIFY) {
            open.erase(reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window);
        }
        std::free(event);
    }
    xcb_disconnect(c);
    return 0;
}
