// The X11 desktop on X servers of its own: a window manager arriving and leaving, one that
// frames windows without a stacking list, and no server at all.

#include "x11_desktop_fixture.h"

namespace {

TEST(X11DesktopSession, FollowsAWindowManagerArrivingAndLeaving) {
    XSession session(XSession::WindowManager::None);
    ASSERT_TRUE(session.ok());
    X11DesktopWindows desktop(session.display());
    Xwin normal({"--title", kIE}, 1, session.display());
    Xwin tooltip({"--title", "tip", "--override-redirect"}, 1, session.display());
    ASSERT_EQ(normal.ids.size(), 1u);
    ASSERT_EQ(tooltip.ids.size(), 1u);
    const WindowId n = normal.ids[0];
    const WindowId t = tooltip.ids[0];
    ASSERT_TRUE(waitUntil([&] { return listed(desktop, n) && listed(desktop, t); }));
    EXPECT_FALSE(desktop.hasWindowManager());

    QProcess openbox;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), session.display());
    openbox.setProcessEnvironment(env);
    openbox.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    ASSERT_TRUE(openbox.waitForStarted());
    EXPECT_TRUE(waitUntil(
        [&] { return desktop.hasWindowManager() && desktop.Style(n) == kVisibleBorder && !listed(desktop, t); },
        10000));
    EXPECT_EQ(desktop.FindByTitle(kIE), n);

    openbox.terminate();
    ASSERT_TRUE(openbox.waitForFinished(5000));
    EXPECT_TRUE(waitUntil(
        [&] { return !desktop.hasWindowManager() && desktop.Style(n) == kVisibleBorder && listed(desktop, t); }));
    EXPECT_EQ(desktop.FindByTitle(kIE), n);
}

// A reparenting window manager that publishes no stacking list, as weston's Xwayland
// one: each window mapped is put into an untitled frame and given WM_STATE Normal.
class FramingWindowManager {
public:
    explicit FramingWindowManager(const QString& display) : x_(display), c_(x_.connection()), root_(x_.root()) {
        wmState_ = x_.atom("WM_STATE");
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
        xcb_generic_error_t* error = xcb_request_check(c_, xcb_change_window_attributes_checked(c_, root_, XCB_CW_EVENT_MASK, &mask));
        ok_ = !error && wmState_ != XCB_NONE;
        free(error);
        if (ok_) thread_ = std::thread([this] { run(); });
    }
    ~FramingWindowManager() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool ok() const { return ok_; }
    std::atomic<int> framed{0};

private:
    void run() {
        while (!stop_) {
            xcb_generic_event_t* event = xcb_poll_for_event(c_);
            if (!event) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            if ((event->response_type & 0x7F) == XCB_MAP_REQUEST) frame(reinterpret_cast<xcb_map_request_event_t*>(event)->window);
            if ((event->response_type & 0x7F) == XCB_CONFIGURE_REQUEST) {
                const auto* e = reinterpret_cast<xcb_configure_request_event_t*>(event);
                const std::uint32_t values[] = {std::uint32_t(e->width), std::uint32_t(e->height)};
                xcb_configure_window(c_, e->window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
            }
            if ((event->response_type & 0x7F) == XCB_DESTROY_NOTIFY) {
                const auto* e = reinterpret_cast<xcb_destroy_notify_event_t*>(event);
                if (std::find(frames_.begin(), frames_.end(), e->event) != frames_.end()) xcb_destroy_window(c_, e->event);
            }
            free(event);
            xcb_flush(c_);
        }
    }
    void frame(xcb_window_t client) {
        const xcb_window_t frame = xcb_generate_id(c_);
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;  // its client's end
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, frame, root_, 0, 0, 400, 300, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
        frames_.push_back(frame);
        xcb_reparent_window(c_, client, frame, 4, 24);
        const std::uint32_t state[] = {1, XCB_NONE};
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, client, wmState_, wmState_, 32, 2, state);
        xcb_map_window(c_, client);
        xcb_map_window(c_, frame);
        ++framed;
    }

    XClient x_;
    xcb_connection_t* c_;
    xcb_window_t root_;
    xcb_atom_t wmState_ = XCB_NONE;
    bool ok_ = false;
    std::vector<xcb_window_t> frames_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(X11DesktopSession, FramingWindowManagerWithoutStackingListIsSweptByClient) {
    XSession session(XSession::WindowManager::None);
    ASSERT_TRUE(session.ok());
    FramingWindowManager wm(session.display());
    ASSERT_TRUE(wm.ok());
    X11DesktopWindows desktop(session.display());
    Xwin page({"--title", "Some page"}, 1, session.display());
    ASSERT_TRUE(waitUntil([&] { return wm.framed == 1; }));
    Xwin popup({"--title", QStringLiteral("Popup - ") + kIE}, 1, session.display());
    ASSERT_EQ(page.ids.size(), 1u);
    ASSERT_EQ(popup.ids.size(), 1u);
    const WindowId p = popup.ids[0];
    const WindowId other = page.ids[0];

    // The walk holds the clients, the newest frame's on top, and no untitled frame.
    // (The frame's own properties, its border among them, may come a turn after the
    // client's.)
    ASSERT_TRUE(waitUntil([&] {
        return walk(desktop) == std::vector<WindowId>{p, other} && desktop.Style(p) == kVisibleBorder;
    })) << "walked " << walk(desktop).size() << " windows, the popup's style " << desktop.Style(p);
    EXPECT_FALSE(desktop.hasWindowManager());
    EXPECT_EQ(titleOf(desktop, p), QStringLiteral("Popup - ") + kIE);
    EXPECT_EQ(titleOf(desktop, other), QStringLiteral("Some page"));
    EXPECT_EQ(desktop.FindByTitle(QStringLiteral("Popup - ") + kIE), p);

    EXPECT_TRUE(desktop.RequestClose(p));
    EXPECT_TRUE(popup.waitForLine(QStringLiteral("closed %1").arg(p)));
    EXPECT_TRUE(waitUntil([&] { return walk(desktop) == std::vector<WindowId>{other}; }));
}

TEST(X11DesktopSession, NoServerMeansNoWindows) {
    X11DesktopWindows nowhere(QStringLiteral(":4093"));
    EXPECT_FALSE(nowhere.ok());
    QString title = QStringLiteral("stale");
    EXPECT_EQ(nowhere.FirstWindow(), 0u);
    EXPECT_EQ(nowhere.NextWindow(1), 0u);
    EXPECT_EQ(nowhere.Style(1), 0u);
    EXPECT_EQ(nowhere.TitleLength(1), 0);
    EXPECT_EQ(nowhere.Title(1, title, 10), 0);
    EXPECT_EQ(nowhere.FindByTitle(kIE), 0u);
    EXPECT_FALSE(nowhere.RequestClose(1));

    // The server goes away under a working mirror.
    auto session = std::make_unique<XSession>(XSession::WindowManager::None);
    ASSERT_TRUE(session->ok());
    X11DesktopWindows desktop(session->display());
    Xwin p({"--title", kIE}, 1, session->display());
    ASSERT_EQ(p.ids.size(), 1u);
    const WindowId w = p.ids[0];
    ASSERT_TRUE(waitUntil([&] { return desktop.Style(w) == kVisibleBorder; }));
    session.reset();
    EXPECT_TRUE(waitUntil([&] { return desktop.FirstWindow() == 0; }));
    EXPECT_FALSE(desktop.ok());
    EXPECT_EQ(desktop.NextWindow(w), 0u);
    EXPECT_EQ(desktop.Style(w), 0u);
    EXPECT_EQ(desktop.Title(w, title, 10), 0);
    EXPECT_EQ(desktop.FindByTitle(kIE), 0u);
    EXPECT_FALSE(desktop.RequestClose(w));
}

}  // namespace
