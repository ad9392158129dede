// The engine adapter's new windows: decorated top-level windows with the browser's
// title, held to a bound however many a page opens, and giving their memory back.

#include "webengine_fixture.h"

#include "platform/x11/x11_desktop_windows.h"

namespace {

TEST_F(WebEngineBrowserTest, NewWindowsAreDecoratedTopLevelWindowsWithTheBrowserTitle) {
    server->route("/pop.html", page("Pop Title", "<p>popup</p>"));
    server->route("/late.html", page("Late", "<p>late popup</p>"));
    server->setDelay("/late.html", 60000);
    server->route("/opener.html",
                  page("Opener", "<a id=blank target=_blank href=\"pop.html\" style=\"display:block;width:300px;"
                                 "height:150px;background:#ccc\">blank</a>"));
    ASSERT_TRUE(load(server->url("/opener.html")));

    // A target=_blank link clicked with the real pointer.
    pointerAt(globalOf(QPoint(150, 75)), 1);
    ASSERT_TRUE(waitUntil([] { return browserWindowTitled("Pop Title - Microsoft Internet Explorer"); }));
    QPointer<BrowserWindow> window = browserWindowTitled("Pop Title - Microsoft Internet Explorer");
    EXPECT_TRUE(window->isWindow());
    EXPECT_EQ(window->parentWidget(), nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(session->openWindowCount(), 1);
    // As the X server and the window manager see it: the title, a frame, no owner.
    ASSERT_TRUE(waitUntil([&] { return netWmName(window->winId()).contains("\"Pop Title - Microsoft Internet Explorer\""); }))
        << netWmName(window->winId()).toStdString();
    const QString extents = run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window->winId()),
                                                          QStringLiteral("_NET_FRAME_EXTENTS"), QStringLiteral("WM_TRANSIENT_FOR")});
    EXPECT_TRUE(extents.contains(QLatin1String("_NET_FRAME_EXTENTS(CARDINAL) = "))) << extents.toStdString();
    EXPECT_FALSE(extents.contains(QLatin1String("_NET_FRAME_EXTENTS(CARDINAL) = 0, 0, 0, 0"))) << extents.toStdString();
    EXPECT_FALSE(extents.contains(QLatin1String("WM_TRANSIENT_FOR(WINDOW)"))) << extents.toStdString();

    // The window manager's delete request closes and destroys it.
    run(QStringLiteral("wmctrl"), {QStringLiteral("-F"), QStringLiteral("-c"), QStringLiteral("Pop Title - Microsoft Internet Explorer")});
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }));
    EXPECT_EQ(session->openWindowCount(), 0);

    // window.open: shown at once, titled without a page title until the page has one.
    evaluate(QStringLiteral("window.open('late.html')"));
    ASSERT_TRUE(waitUntil([] { return session->openWindowCount() == 1; }));
    window = browserWindows().value(0);
    ASSERT_TRUE(window);
    ASSERT_TRUE(waitUntil([&] { return window->isVisible(); }));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Microsoft Internet Explorer"));

    // window.close() from the window's own page.
    bool closed = false;
    window->page()->runJavaScript(QStringLiteral("window.close()"), [&](const QVariant&) { closed = true; });
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }));
    EXPECT_EQ(session->openWindowCount(), 0);

    // As the sweep sees it: one of the program's own windows, closed by the program, is no
    // longer visible at once, before the X server has told anyone (else the next sweep
    // asks and counts it again).
    X11DesktopWindows desktop;
    evaluate(QStringLiteral("window.open('pop.html')"));
    ASSERT_TRUE(waitUntil([] { return browserWindowTitled("Pop Title - Microsoft Internet Explorer"); }));
    window = browserWindowTitled("Pop Title - Microsoft Internet Explorer");
    const WindowId id = WindowId(window->winId());
    ASSERT_TRUE(waitUntil([&] {
        desktop.FirstWindow();
        return desktop.Style(id) == (WindowStyle::Visible | WindowStyle::Border);
    })) << "style " << desktop.Style(id);
    window->close();
    EXPECT_EQ(desktop.Style(id), 0u);
}

TEST_F(WebEngineBrowserTest, NewWindowsCannotHoldTheProgramWithDialogsAndOpenTheirOwnWindows) {
    server->route("/alerting.html",
                  page("before", "", "<script>alert('hi');confirm('sure?');prompt('name');document.title='after dialogs';"
                                     "window.open('pop.html');</script>"));
    server->route("/pop.html", page("Pop Title", "<p>popup</p>"));
    ASSERT_TRUE(load(server->url("/a.html")));
    evaluate(QStringLiteral("window.open('alerting.html')"));
    ASSERT_TRUE(waitUntil([] { return browserWindowTitled("after dialogs - Microsoft Internet Explorer"); }));
    ASSERT_TRUE(waitUntil([] { return browserWindowTitled("Pop Title - Microsoft Internet Explorer"); }));
    EXPECT_EQ(session->openWindowCount(), 2);
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_EQ(qobject_cast<QMessageBox*>(w), nullptr);
    for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(qobject_cast<QDialog*>(w) && w->isVisible());
}

TEST_F(WebEngineBrowserTest, AWindowOpenLoopIsBoundedAndClosedWindowsGiveTheirMemoryBack) {
    ASSERT_TRUE(load(server->url("/a.html")));
    settle(500);
    const qint64 before = processTreeRssKb();

    // 50 windows, measured open and after closing.
    evaluate(QStringLiteral("for (var i = 0; i < 50; ++i) window.open('b.html', 'w' + i);"));
    ASSERT_TRUE(waitUntil([] { return session->openWindowCount() == 50; }, 60000)) << session->openWindowCount();
    ASSERT_TRUE(waitUntil([] {
        int titled = 0;
        for (BrowserWindow* w : browserWindows()) titled += w->windowTitle() == QLatin1String("Page B - Microsoft Internet Explorer");
        return titled == 50;
    }, 120000));
    const qint64 withFifty = processTreeRssKb();
    closeAllBrowserWindows(*session);
    ASSERT_EQ(session->openWindowCount(), 0);
    settle(2000);
    const qint64 after = processTreeRssKb();
    RecordProperty("rss_kb_before", static_cast<int>(before));
    RecordProperty("rss_kb_with_50_windows", static_cast<int>(withFifty));
    RecordProperty("rss_kb_after_closing", static_cast<int>(after));
    std::printf("process tree RSS: before %lld kB, 50 windows open %lld kB, after closing %lld kB\n",
                static_cast<long long>(before), static_cast<long long>(withFifty), static_cast<long long>(after));
    // What the windows took comes back (allowing for the engine's caches).
    EXPECT_LT(after - before, (withFifty - before) / 4);

}

TEST_F(WebEngineBrowserTest, AThousandWindowOpensStayWithinTheBoundAndLeaveTheBrowserUsable) {
    ASSERT_TRUE(load(server->url("/a.html")));
    evaluate(QStringLiteral("setTimeout(function() { for (var i = 0; i < 1000; ++i) window.open('about:blank', 'x' + i);"
                            " document.title = 'loop over'; }, 0)"));
    ASSERT_TRUE(waitUntil([&] { return titles.contains(QStringLiteral("loop over")); }, 180000));
    EXPECT_EQ(session->openWindowCount(), EngineSession::kMaxOpenWindows);
    int shownViews = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) shownViews += qobject_cast<QWebEngineView*>(w) && w->isVisible();
    EXPECT_EQ(shownViews, EngineSession::kMaxOpenWindows);
    closeAllBrowserWindows(*session);
    EXPECT_EQ(session->openWindowCount(), 0);

    // The main browser still works.
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(browser->Navigate(server->url("/b.html")));
    const bool loaded = waitUntil([&] { return browser->ReadyState() == 4 && browser->LocationName() == "Page B"; }, 120000);
    std::printf("load after the loop: %lld ms\n", static_cast<long long>(clock.elapsed()));
    ASSERT_TRUE(loaded);
}

}  // namespace
