#pragma once

// One X11 connection of a test or benchmark's own, to look at the desktop's windows the
// way a pager does and to act on them the way another client does.

#include <xcb/xcb.h>

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

class XClient {
public:
    // The display `display` (":N"); empty: the one in DISPLAY.
    explicit XClient(const QString& display = QString());
    ~XClient();
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    bool ok() const;
    // The connection itself, for what only a watcher of its events needs.
    xcb_connection_t* connection() const { return connection_; }
    std::uint32_t root() const { return root_; }
    // This server's atom of that name (atoms differ between servers).
    std::uint32_t atom(const char* name);

    // --- looking ---
    // The window manager's client list (_NET_CLIENT_LIST): the managed top-level windows.
    std::vector<std::uint32_t> clients();
    // The children of the root, and of any window, bottom first.
    std::vector<std::uint32_t> rootChildren() { return children(root_); }
    std::vector<std::uint32_t> children(std::uint32_t window);
    // Mapped override-redirect children of the root (menus, tooltips).
    std::vector<std::uint32_t> mappedOverrideRedirect();

    // _NET_WM_NAME, else WM_NAME; empty when untitled or gone.
    QString title(std::uint32_t window);
    // _NET_WM_PID; 0 when not set or gone.
    pid_t pid(std::uint32_t window);
    // The window's position on the root window and its size; nullopt when gone.
    struct Rect {
        int x = 0, y = 0, width = 0, height = 0;
    };
    std::optional<Rect> geometry(std::uint32_t window);
    bool exists(std::uint32_t window);
    // The window's colormap; none when the window is gone.
    std::optional<std::uint32_t> colormap(std::uint32_t window);
    std::uint32_t defaultColormap() const;
    // Where the pointer is on the root window.
    std::optional<std::pair<int, int>> pointer();
    // The 32-bit items of a property of any type; nullopt when the window does not have it.
    std::optional<std::vector<std::uint32_t>> cards(std::uint32_t window, const char* property);
    // Whether a property holding atoms holds the atom `value`.
    bool holds(std::uint32_t window, const char* property, const char* value);

    // Managed windows whose title ends in `suffix` (any process).
    std::vector<std::uint32_t> clientsTitledEndingWith(const QString& suffix);
    // The window the window manager has given the keyboard (_NET_ACTIVE_WINDOW), or 0.
    std::uint32_t activeWindow();

    // --- hearing ---
    // This client's events of `mask` (XCB_EVENT_MASK_*) on `window` from now on.
    void listen(std::uint32_t window, std::uint32_t mask);
    // Hands this connection's events to `take`: those already here, else those that come
    // within `waitMs`. Stops at the first for which `take` returns true, and then returns
    // true; the rest stay for the next call.
    bool takeEvents(int waitMs, const std::function<bool(const xcb_generic_event_t&)>& take);

    // --- acting (each request is sent at once) ---
    // A top-level window of this connection, not mapped yet.
    std::uint32_t createWindow(int width, int height);
    void map(std::uint32_t window);
    void destroy(std::uint32_t window);
    // Sets a text property (8-bit items) of the given type.
    void setText(std::uint32_t window, const char* property, const char* type, const QByteArray& bytes);
    // _NET_WM_NAME (UTF-8), the title window managers show.
    void retitle(std::uint32_t window, const QByteArray& title);
    // The Motif hints' decorations on or off.
    void setDecorations(std::uint32_t window, bool on);
    // Raises the window: through the window manager when one runs, else directly.
    void raise(std::uint32_t window, bool windowManager);
    // Holds every other client's requests until ungrabbed (events still reach them).
    void grabServer(bool on);
    // Another client's claim that the window was unmapped and destroyed (SendEvent to
    // whoever follows the window's structure), while it stays as it is.
    void fakeGone(std::uint32_t window);
    // WM_DELETE_WINDOW sent straight to the window, as a window manager's close box does.
    void requestClose(std::uint32_t window);
    // A key press and release of 'a' sent to the window, the press stamped `stamp` (its
    // time field).
    void sendKey(std::uint32_t window, std::uint32_t stamp);

private:
    QByteArray property(std::uint32_t window, std::uint32_t property, std::uint32_t type);
    void flush();

    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::uint32_t rootVisual_ = 0;
    std::map<std::string, std::uint32_t> atoms_;
};
