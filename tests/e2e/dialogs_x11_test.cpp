// The settings and about windows as the X server and the window manager see them: no
// taskbar entry, and not resizable. The hints are read back from the server with xcb.

#include <xcb/xcb.h>

#include <QApplication>
#include <QTest>

#include "browse/frm_source.h"
#include "dialogs/frm_about.h"
#include "dialogs/frm_downloads.h"
#include "dialogs/frm_settings.h"
#include "main_window_fixture.h"
#include "window_parts.h"
#include "x_client.h"

namespace {

// WM_NORMAL_HINTS: flags, x, y, width, height, min w/h, max w/h, ...
constexpr uint32_t kPMinSize = 16;
constexpr uint32_t kPMaxSize = 32;

class DialogsOnX11 : public MainWindowFixture {
protected:
    void TearDown() override {
        MainWindowFixture::TearDown();
        deleteClosedWindows();
    }

    // Waits until the window manager has taken the window in (it sets
    // _NET_WM_ALLOWED_ACTIONS on the windows it manages).
    bool managed(xcb_window_t window) {
        return waitUntil([&] { return x.cards(window, "_NET_WM_ALLOWED_ACTIONS").has_value(); }, 5000);
    }

    // No taskbar entry, fixed size: what the program tells the window manager and what
    // the window manager then allows.
    void expectFixedToolWindow(QWidget* w) {
        const auto window = static_cast<xcb_window_t>(w->winId());
        ASSERT_TRUE(managed(window));
        // The first type the window manager understands counts: utility (Qt adds normal
        // after it as the fallback for older window managers).
        const auto types = x.cards(window, "_NET_WM_WINDOW_TYPE");
        ASSERT_TRUE(types && !types->empty());
        EXPECT_EQ(types->front(), x.atom("_NET_WM_WINDOW_TYPE_UTILITY"));
        // Set by the window itself and kept by the window manager once it is managed.
        EXPECT_TRUE(x.holds(window, "_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR"));

        const auto hints = x.cards(window, "WM_NORMAL_HINTS");
        ASSERT_TRUE(hints && hints->size() >= 9);
        const auto& h = *hints;
        EXPECT_EQ(h[0] & (kPMinSize | kPMaxSize), kPMinSize | kPMaxSize);
        EXPECT_EQ(h[5], h[7]);
        EXPECT_EQ(h[6], h[8]);
        EXPECT_EQ(QSize(int(h[5]), int(h[6])), w->size() * w->devicePixelRatio());

        // Neither minimise nor maximise function or button is asked for: _MOTIF_WM_HINTS
        // flags, functions, decorations, ...
        constexpr uint32_t kFunctions = 1, kDecorations = 2;
        constexpr uint32_t kAll = 1, kFuncMinimize = 8, kFuncMaximize = 16, kDecorMinimize = 32,
                           kDecorMaximize = 64;
        const auto motif = x.cards(window, "_MOTIF_WM_HINTS");
        ASSERT_TRUE(motif && motif->size() >= 3);
        const auto& m = *motif;
        ASSERT_TRUE(m[0] & kFunctions);
        EXPECT_EQ(m[1] & (kAll | kFuncMinimize | kFuncMaximize), 0u);
        ASSERT_TRUE(m[0] & kDecorations);
        EXPECT_EQ(m[2] & (kAll | kDecorMinimize | kDecorMaximize), 0u);

        // What the window manager makes of it: no resize, no maximise, but a close box.
        // (openbox still offers to minimise utility windows from its own window menu.)
        for (const char* action :
             {"_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT"})
            EXPECT_FALSE(x.holds(window, "_NET_WM_ALLOWED_ACTIONS", action)) << action;
        EXPECT_TRUE(x.holds(window, "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_CLOSE"));
    }

    XClient x;
};

}  // namespace

TEST_F(DialogsOnX11, ToolWindowsHaveNoTaskbarEntryAndOnlyDownloadsCanBeResized) {
    ASSERT_TRUE(x.ok());
    frmMain& w = make();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    w.mnuSettings_Click();
    ASSERT_TRUE(w.settingsWindow());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.settingsWindow()));
    {
        SCOPED_TRACE("settings");
        expectFixedToolWindow(w.settingsWindow());
    }

    w.mnuAbout_Click();
    ASSERT_TRUE(w.aboutWindow());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.aboutWindow()));
    {
        SCOPED_TRACE("about");
        expectFixedToolWindow(w.aboutWindow());
    }

    // The downloads window is the same kind of tool window, but resizable.
    auto* downloads = new frmDownloads({});
    downloads->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(downloads));
    const auto listed = static_cast<xcb_window_t>(downloads->winId());
    ASSERT_TRUE(managed(listed));
    EXPECT_TRUE(x.holds(listed, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_UTILITY"));
    EXPECT_TRUE(x.holds(listed, "_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_TRUE(x.holds(listed, "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_RESIZE"));
    EXPECT_EQ(downloads->size(), QSize(480, 240));
    downloads->close();

    // For contrast: the main window is an ordinary, resizable taskbar window.
    const auto main = static_cast<xcb_window_t>(w.winId());
    ASSERT_TRUE(managed(main));
    EXPECT_FALSE(x.holds(main, "_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_FALSE(x.holds(main, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_UTILITY"));
    EXPECT_TRUE(x.holds(main, "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_RESIZE"));
}

TEST_F(DialogsOnX11, SourceWindowIsAnOrdinaryResizableWindow) {
    ASSERT_TRUE(x.ok());
    frmMain& w = make();
    auto doc = std::make_shared<FakeDocument>();
    browser().document = doc;
    browser().locationURL = QStringLiteral("http://a.example/");
    w.mnuSource2_Click();
    ASSERT_TRUE(w.sourceWindow());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.sourceWindow()));
    const auto window = static_cast<xcb_window_t>(w.sourceWindow()->winId());
    ASSERT_TRUE(managed(window));
    EXPECT_FALSE(x.holds(window, "_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_FALSE(x.holds(window, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_UTILITY"));
    for (const char* action : {"_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MINIMIZE"})
        EXPECT_TRUE(x.holds(window, "_NET_WM_ALLOWED_ACTIONS", action)) << action;
}
