// Journeys: what a person does with the built program, start to end, with real input
// (xdotool: typing, keys, pointer, clicks, window switches) and read only from outside:
// window titles, the loopback server's request log, the files, and the status bar and
// address box through the accessibility bus. Each journey says what the person would see
// going wrong.

#include "journey.h"

namespace {

// A person starts the program for the first time, with no network: the program's own
// start page shows and stays current with the count; its "try it" link opens a popup,
// which is denied and counted; handed to the default browser, the page arrives as a file
// that browser can open. Going wrong: an error page, a start page that is not stored, a
// popup that stays or goes uncounted, a hand-off of an address no other browser knows.
TEST_F(Journey, FirstStartOfflineShowsTheBuiltInPageWhosePopupIsDeniedAndCounted) {
    const QString record = app.root() + QStringLiteral("/opened");
    registerStandInBrowser(record);
    if (HasFatalFailure()) return;
    // The engine hands its pages to the accessibility bus only when asked to.
    app.setEnv(QStringLiteral("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"), QStringLiteral("1"));
    // An empty program folder: no settings file yet.
    ASSERT_TRUE(app.start()) << qPrintable(app.error());
    ASSERT_NE(app.waitForMainWindow(), 0u) << "no main window";
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Start page - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_TRUE(waitUntil([&] { return app.readIni() == iniWith(kDefaultStartPage); }, 10000))
        << "Tarnwick.ini holds: " << app.readIni().toStdString();
    // Nothing besides the main window shows at start-up (the settings dialog is hidden),
    // and the history belongs to the current directory, never to the program folder.
    EXPECT_EQ(app.ownWindows().size(), 1u);
    // The window shares the screen's default colormap: a popup taking the focus and giving
    // it back makes the X server install nothing (and walk no window for it).
    EXPECT_EQ(app.desktop().colormap(app.mainWindow()), app.desktop().defaultColormap());
    EXPECT_FALSE(QFileInfo::exists(app.programFolder() + QStringLiteral("/URL.slx")));
    ASSERT_TRUE(waitUntil([&] { return view().found; }, 20000)) << "the program is not on the accessibility bus";
    EXPECT_EQ(view().address, kDefaultStartPage);
    const auto pageSays = [&](const QString& text) {
        return waitForNode([&](const a11y::Node& n) {
            return n.parentRole != QLatin1String("status bar") && n.text.contains(text);
        });
    };
    EXPECT_TRUE(pageSays(QStringLiteral("Microsoft Internet Explorer"))) << spoken();
    EXPECT_TRUE(pageSays(QStringLiteral("0 events denied"))) << spoken();

    // The link, where a screen reader finds it on the screen.
    const auto link = node([](const a11y::Node& n) {
        return n.role == QLatin1String("link") && n.text.startsWith(QLatin1String("Try it")) && !n.screen.isEmpty();
    });
    ASSERT_TRUE(link) << spoken();
    ASSERT_TRUE(app.pointerToScreen(link->screen.center().x(), link->screen.center().y()));
    ASSERT_TRUE(app.click(1));
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("1 event denied"))) << qPrintable(panels());
    EXPECT_TRUE(pageSays(QStringLiteral("1 event denied"))) << "the page's count did not follow: " << spoken();
    EXPECT_TRUE(explorerWindows().empty()) << "the popup is still open";
    sweepBarrier();
    EXPECT_TRUE(pageSays(QStringLiteral("2 events denied"))) << spoken();
    // The link is no web address: the main window stays on the start page.
    EXPECT_EQ(app.mainTitle(), QStringLiteral("Start page - Tarnwick"));

    // Launch ... In Default Browser: a copy of the page as the default browser gets it.
    QByteArray opened;
    handOff(record, opened);
    ASSERT_TRUE(opened.endsWith(QByteArray(1, '\0') + '\n')) << opened.toStdString();
    const QString handed = QString::fromUtf8(opened.chopped(2));
    const QByteArray copy = readFile(handed.startsWith(QLatin1String("file:")) ? QUrl(handed).toLocalFile() : handed);
    EXPECT_TRUE(copy.contains("Microsoft Internet Explorer") && copy.contains("2 events denied"))
        << qPrintable(handed) << " holds " << copy.left(400).toStdString();
    // A quiet start: none of the engine's report of its GL set-up and command line.
    EXPECT_FALSE(app.log().contains("qt.webenginecontext")) << app.log().constData();
    EXPECT_FALSE(app.log().contains("GL Type")) << app.log().constData();
}

// A person types an address and presses Enter, then switches to another program and
// back, opens the settings, about and source windows (Escape closes the first two) and
// clicks into the page; a screen reader reads along. Going wrong: the page flickers and
// reloads each time the address box loses the focus; the screen reader hears nameless
// "fillers", a stray window, the address instead of the box's name, or nothing of the
// page; Escape leaves a tool window open.
TEST_F(Journey, TypedAddressLoadsOnceAndFocusChangesNeverReloadIt) {
    server.route(QStringLiteral("/one"),
                 page(QStringLiteral("One"), QStringLiteral("<h1>First heading</h1><p>one <a href=\"/two\">to two</a></p>")));
    server.route(QStringLiteral("/two"), page(QStringLiteral("Two")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    ASSERT_TRUE(waitUntil([&] { return view().found; }, 20000)) << "the program is not on the accessibility bus";
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("0 events denied"))) << qPrintable(panels());
    EXPECT_EQ(view().menus, QStringList({QStringLiteral("File"), QStringLiteral("Edit"), QStringLiteral("Navigate")}));

    go(QStringLiteral("/one"), QStringLiteral("One"));
    EXPECT_TRUE(waitForPanel(1, QStringLiteral("Idle"))) << qPrintable(panels());
    EXPECT_EQ(view().address, server.url(QStringLiteral("/one")));
    EXPECT_EQ(view().addressName.toStdString(), "Address");
    EXPECT_EQ(view().windows, QList<a11y::Window>({{QStringLiteral("frame"), QStringLiteral("One - Tarnwick")}}));
    EXPECT_TRUE(waitUntil([&] {
        const QStringList names = view().page;
        return names.contains(QStringLiteral("First heading")) && names.contains(QStringLiteral("to two"));
    })) << "the page's content is not on the bus: " << qPrintable(view().page.join(QStringLiteral(" | ")));

    // The tool windows are dialogs named by their captions, and Escape closes them; the
    // source viewer is a frame (its close box closes it).
    auto showsWindow = [&](const a11y::Window& window) {
        return waitUntil([&] { return view().windows.contains(window); }, 10000);
    };
    for (const auto& [chord, caption] : {std::pair{QStringLiteral("s"), QStringLiteral("Tarnwick Settings")},
                                         std::pair{QStringLiteral("a"), QStringLiteral("About Tarnwick")}}) {
        ASSERT_TRUE(app.key({QStringLiteral("alt+f"), chord}));
        EXPECT_TRUE(showsWindow({QStringLiteral("dialog"), caption}))
            << qPrintable(caption) << " is not a named dialog; windows: " << ::testing::PrintToString(view().windows);
        const std::uint32_t dialog = app.waitForOwnWindow(QString());
        ASSERT_NE(dialog, 0u) << qPrintable(caption) << " did not show";
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                                        QString::number(dialog), QStringLiteral("key"), QStringLiteral("Escape")}));
        EXPECT_TRUE(waitUntil([&] { return app.ownWindows().size() == 1; }, 10000)) << "Escape left " << qPrintable(caption);
    }
    ASSERT_TRUE(app.key({QStringLiteral("alt+e"), QStringLiteral("v")}));
    EXPECT_TRUE(showsWindow({QStringLiteral("frame"), server.url(QStringLiteral("/one")) + QStringLiteral(" - Tarnwick")}));
    const std::uint32_t source = app.waitForOwnWindow(QString());
    ASSERT_NE(source, 0u) << "the source viewer did not show";
    ASSERT_TRUE(app.closeWindow(source));
    EXPECT_TRUE(waitUntil([&] { return view().windows.size() == 1; }, 10000));

    // Another program's window takes the focus, three times; then a click into the page.
    QProcess other;
    other.start(QStringLiteral(TARNWICK_BINARY_DIR "/xwin"), {QStringLiteral("--title"), QStringLiteral("Notes")});
    ASSERT_TRUE(other.waitForStarted() && other.waitForReadyRead(10000));
    const QString otherId = QString::fromLatin1(other.readLine().trimmed());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), otherId}));
        ASSERT_TRUE(app.activateMain());
    }
    ASSERT_TRUE(app.pointerTo(250, app.pageTop() + 200));
    ASSERT_TRUE(app.click(1));
    other.terminate();
    other.waitForFinished(5000);

    // Barrier: the next typed address loads, so every earlier focus change was handled.
    go(QStringLiteral("/two"), QStringLiteral("Two"));
    EXPECT_EQ(server.requestCount(QStringLiteral("/one")), 1) << "the page was requested again on a focus change";
    EXPECT_EQ(server.requestCount(QStringLiteral("/two")), 1);
    EXPECT_EQ(view().address, server.url(QStringLiteral("/two")));
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

// A person opens a page that opens a popup as soon as it loads. Going wrong: the page
// reloads and opens popups endlessly, the status bar stays on "Loading page..." and the
// next address typed is never reached.
TEST_F(Journey, PageOpeningAPopupOnLoadIsLoadedOnceAndTheNextAddressIsReached) {
    server.route(QStringLiteral("/onload"),
                 page(QStringLiteral("Onload"), QStringLiteral("<p>one popup</p>"),
                      QStringLiteral("<script>window.open('/popup', '_blank', 'width=300,height=200,left=900,top=700');"
                                     "fetch('/opened');</script>")));
    server.route(QStringLiteral("/after"), page(QStringLiteral("After")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    go(QStringLiteral("/onload"), QStringLiteral("Onload"));
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("1 event denied"))) << qPrintable(panels());
    EXPECT_TRUE(explorerWindows().empty()) << "the popup is still open";
    sweepBarrier();
    EXPECT_EQ(view().statusPanels.value(0), QStringLiteral("2 events denied")) << "sentinel not counted";
    go(QStringLiteral("/after"), QStringLiteral("After"));
    EXPECT_TRUE(waitForPanel(1, QStringLiteral("Idle"))) << qPrintable(panels());
    EXPECT_EQ(server.requestCount(QStringLiteral("/onload")), 1) << "the page was loaded again";
    EXPECT_EQ(server.requestCount(QStringLiteral("/opened")), 1) << "more than one popup was opened";
    EXPECT_EQ(view().statusPanels.value(0), QStringLiteral("2 events denied"));
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

// A person opens a page, points at a link whose click opens a popup, and clicks; three
// times in a row. Going wrong: the page reloads on the click, the popup stays, or the main
// window stays on the page (the window manager put the popup under the pointer, or gave
// it the focus, and the link pointed at was forgotten before the popup was denied).
TEST_F(Journey, ClickedPopupLinkOpensInTheMainWindowAndThePopupIsDenied) {
    server.route(QStringLiteral("/clicked"), page(QStringLiteral("Clicked")));
    // The link's own navigation is cancelled by its script: only the sweep can open it.
    server.route(QStringLiteral("/links"), page(QStringLiteral("Links"), linkPageBody(QStringLiteral("/clicked"), true)));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    constexpr int kRounds = 3;
    for (int round = 1; round <= kRounds; ++round) {
        SCOPED_TRACE(round);
        go(QStringLiteral("/links"), QStringLiteral("Links"));
        // Off the page, then back onto the link (from round 2 on the same link as before).
        ASSERT_TRUE(app.pointerTo(520, app.pageTop() + 400));
        ASSERT_TRUE(app.pointerTo(200, app.pageTop() + 80));
        ASSERT_TRUE(waitForRequests(QStringLiteral("/hovered"), round, 10000)) << "the link saw no pointer";
        EXPECT_TRUE(waitForPanel(1, server.url(QStringLiteral("/clicked")))) << qPrintable(panels());
        ASSERT_TRUE(app.click(1));
        EXPECT_TRUE(waitForRequests(QStringLiteral("/opened"), round)) << "no popup was opened";
        ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("Clicked - Tarnwick")))
            << "the main window stayed on " << qPrintable(app.mainTitle());
        // Each round's popup, and the sentinel of each round before.
        const QString denied = round == 1 ? QStringLiteral("1 event denied") : QStringLiteral("%1 events denied").arg(2 * round - 1);
        EXPECT_TRUE(waitForPanel(0, denied)) << qPrintable(panels());
        EXPECT_TRUE(explorerWindows().empty()) << "the popup is still open";
        EXPECT_EQ(app.ownWindows().size(), 1u);
        sweepBarrier();
        EXPECT_EQ(server.requestCount(QStringLiteral("/clicked")), round);
        EXPECT_EQ(server.requestCount(QStringLiteral("/links")), round) << "the page was reloaded by the click";
        EXPECT_EQ(app.mainTitle(), QStringLiteral("Clicked - Tarnwick"));
    }
    // The link's address is the page's like any other: in the address box and the history.
    EXPECT_EQ(view().address, server.url(QStringLiteral("/clicked")));
    EXPECT_TRUE(app.readHistory().contains("\"" + server.url(QStringLiteral("/clicked")).toUtf8() + "\"\r\n"))
        << app.readHistory().toStdString();
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

// A page denies the person an https link opened in a new window, a window.open button
// and, on load, three alerts; another program's window goes too. Its mail links (one for
// a new window) open the mail program; its box that answers a click with an address for another program of the
// page's own choosing is refused. The person clicks panel 1: the list names each denial,
// newest first, one row per counted event. Ctrl+C copies a row's address; Enter on the
// https link's row opens its address here, as typed; from the page, the list's key brings
// it back, Open here on the button's row lands on that page with no referrer, and on the
// box's row hands its address to its program after all. Going wrong: rows missing or not
// adding up to the count, a row that does not say what it was or that holds the whole of
// a 100,000-character title (a thousand such rows took gigabytes), the lost link not
// reachable, the page that asked riding along, or a page starting programs at will.
TEST_F(Journey, DeniedListNamesEveryDenialAndOpensTheLostWindowsHere) {
    const QString record = app.root() + QStringLiteral("/opened");
    registerStandInBrowser(record);
    if (HasFatalFailure()) return;
    const QString secure = QStringLiteral("https://127.0.0.1:%1/secure").arg(server.port());
    const QString app42 = QStringLiteral("tarnwick-test-app://join/42");
    server.route(QStringLiteral("/offer"), page(QStringLiteral("Offer")));
    server.route(QStringLiteral("/denials"), page(QStringLiteral("Denials"),
        QStringLiteral("<a href=\"%1\" target=\"_blank\" style=\"display:block;height:160px\">secure</a>"
                       "<button style=\"display:block;width:400px;height:100px\" "
                       "onclick=\"window.open('/offer', '_blank', 'noopener')\">offer</button>"
                       "<a href=\"mailto:ann@example.com\" style=\"position:absolute;left:420px;top:0;width:170px;height:100px\">mail</a>"
                       "<a href=\"mailto:bob@example.com\" target=\"_blank\" "
                       "style=\"position:absolute;left:420px;top:110px;width:170px;height:100px\">mail</a>"
                       "<div style=\"position:absolute;left:420px;top:220px;width:170px;height:100px\" "
                       "onclick=\"location = '%2'\">join</div>"
                       "<script>for (var i = 0; i < 3; ++i) alert('Loop ' + i);</script>").arg(secure, app42)));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    go(QStringLiteral("/denials"), QStringLiteral("Denials"));
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("3 events denied"))) << qPrintable(panels());
    QProcess other;
    // Another program's window, titled at length: the list shows the start of its title.
    other.start(QStringLiteral(TARNWICK_BINARY_DIR "/xwin"),
                {QStringLiteral("--title"), QStringLiteral("Notes ") + QString(100000, QLatin1Char('x')) +
                                                QStringLiteral(" - Microsoft Internet Explorer")});
    ASSERT_TRUE(other.waitForStarted() && other.waitForFinished(10000)) << "the foreign window was not closed";
    const auto opened = [&](const QStringList& addresses) {
        return waitUntil([&] { return readFile(record) == standInStarts(addresses); }, 10000);
    };
    // Each click, the count after it, and the mail program's address it starts, if any.
    QStringList started;
    for (const auto& [x, y, count, mail] :
         {std::tuple{200, 80, "5 events denied", ""}, std::tuple{200, 210, "6 events denied", ""},
          std::tuple{500, 50, "6 events denied", "mailto:ann@example.com"},
          std::tuple{500, 160, "6 events denied", "mailto:bob@example.com"}, std::tuple{500, 270, "7 events denied", ""}}) {
        ASSERT_TRUE(app.activateMain() && app.pointerTo(x, app.pageTop() + y) && app.click(1));
        ASSERT_TRUE(waitForPanel(0, QLatin1String(count))) << qPrintable(panels());
        if (*mail) {
            started << QLatin1String(mail);
            EXPECT_TRUE(opened(started)) << readFile(record).toStdString();
        }
    }
    const auto clickOn = [&](const std::function<bool(const a11y::Node&)>& match) {
        std::optional<a11y::Node> target;
        return waitUntil([&] { return (target = node(match)).has_value(); }) &&
               app.pointerToScreen(target->screen.center().x(), target->screen.center().y()) && app.click(1);
    };
    ASSERT_TRUE(clickOn([](const a11y::Node& n) { return n.parentRole == QLatin1String("status bar") && n.text.endsWith(QLatin1String(" denied")); }));
    const auto isRow = [](const a11y::Node& n) { return n.parent == QLatin1String("Denied events, newest first") && n.role == QLatin1String("list item"); };
    QStringList rows;
    EXPECT_TRUE(waitUntil([&] {
        rows.clear();
        for (const a11y::Node& each : a11y::nodes(app.pid()))
            if (isRow(each)) rows << each.text;
        return rows.size() == 7;
    })) << spoken();
    ASSERT_EQ(rows.size(), 7) << qPrintable(rows.join(QLatin1Char('\n')));
    EXPECT_TRUE(rows[0].contains(QStringLiteral("Navigation: ") + app42 + QStringLiteral(" from ") + server.url(QStringLiteral("/denials")))) << qPrintable(rows[0]);
    EXPECT_TRUE(rows[1].contains(QStringLiteral("Window: ") + server.url(QStringLiteral("/offer")) + QStringLiteral(" ")) &&
                rows[1].endsWith(QStringLiteral("from ") + server.url(QStringLiteral("/denials")))) << qPrintable(rows[1]);
    EXPECT_TRUE(rows[2].contains(QStringLiteral("Window: ") + secure + QStringLiteral(" "))) << qPrintable(rows[2]);
    EXPECT_TRUE(rows[3].contains(QStringLiteral("\u201CNotes xxx")) && rows[3].contains(QStringLiteral("x\u2026\u201D of Xwin")) &&
                rows[3].size() < 300) << qPrintable(rows[3].left(400));
    for (int i = 4; i < 7; ++i)
        EXPECT_TRUE(rows[i].contains(QStringLiteral("Dialog: \u201CLoop %1\u201D from http://127.0.0.1").arg(6 - i))) << qPrintable(rows[i]);

    // Ctrl+C on the button's row; Enter on the https link's row: its address is the main
    // window's, as typed, and the copied one pastes into the address box.
    const auto isOfferRow = [&](const a11y::Node& n) { return isRow(n) && n.text.contains(QLatin1String("/offer")); };
    const auto press = [](const char* chord) { return runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QLatin1String(chord)}); };
    ASSERT_TRUE(clickOn(isOfferRow) && press("ctrl+c"));
    ASSERT_TRUE(clickOn([&](const a11y::Node& n) { return isRow(n) && n.text.contains(secure); }) && press("Return"));
    EXPECT_TRUE(waitUntil([&] { return view().address == secure; })) << qPrintable(view().address);
    ASSERT_TRUE(app.key({QStringLiteral("ctrl+l"), QStringLiteral("ctrl+v")}));
    EXPECT_TRUE(waitUntil([&] { return view().address == server.url(QStringLiteral("/offer")); })) << qPrintable(view().address);
    // From the page, the list's key brings it back; Open here on the button's row, then
    // on the box's.
    const auto openHere = [&](const std::function<bool(const a11y::Node&)>& row) {
        if (!app.key(QStringLiteral("ctrl+shift+d"))) return false;
        const std::uint32_t list = app.waitForOwnWindow(QStringLiteral("Denied"));
        return list != 0 && waitUntil([&] { return app.desktop().activeWindow() == list; }) && clickOn(row) &&
               clickOn([](const a11y::Node& n) { return n.role == QLatin1String("push button") && n.text == QLatin1String("Open here"); });
    };
    ASSERT_TRUE(openHere(isOfferRow));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Offer - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_FALSE(server.lastRequest(QStringLiteral("/offer")).contains("Referer")) << server.lastRequest(QStringLiteral("/offer")).constData();
    ASSERT_TRUE(openHere([&](const a11y::Node& n) { return isRow(n) && n.text.contains(app42); }));
    EXPECT_TRUE(opened(started << app42)) << readFile(record).toStdString();
    EXPECT_EQ(app.mainTitle(), QStringLiteral("Offer - Tarnwick"));
    EXPECT_EQ(view().statusPanels.value(0), QStringLiteral("7 events denied"));
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

// A person picks earlier addresses from the drop-down list, with the mouse and with the
// keyboard, and types a new one; then starts a second copy of the program from the same
// folder, visits pages in both by turns, and clears the history in the first. Going
// wrong: the wrong page opens, a page opens twice, the history file loses, repeats or
// misorders an entry, one copy's save erases the other's addresses, or cleared
// addresses come back.
TEST_F(Journey, HistoryEntriesOpenOnceAndTwoCopiesShareTheFileAndItsClear) {
    auto entries = [&](const QStringList& paths) {
        QByteArray bytes;
        for (const QString& path : paths) bytes += "\"" + server.url(path).toUtf8() + "\"\r\n";
        return bytes;
    };
    for (const char* name : {"alpha", "mid", "zeta", "banana"})
        server.route(QLatin1Char('/') + QString::fromLatin1(name), page(QString::fromLatin1(name).toUpper()));
    // The file's order is not the list's: the list sorts its entries.
    app.setHistory(entries({QStringLiteral("/zeta"), QStringLiteral("/alpha"), QStringLiteral("/mid")}));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    const QByteArray listed = entries({QStringLiteral("/alpha"), QStringLiteral("/mid"), QStringLiteral("/start"),
                                       QStringLiteral("/zeta")});
    ASSERT_TRUE(waitUntil([&] { return app.readHistory() == listed; }, 10000)) << app.readHistory().toStdString();

    // The keyboard in the box: with no entry current, Down goes to the first one.
    ASSERT_TRUE(app.activateMain());
    ASSERT_TRUE(app.pointerTo(120, app.addressBoxY()));
    ASSERT_TRUE(app.click(1));
    ASSERT_TRUE(app.key(QStringLiteral("Down")));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("ALPHA - Tarnwick"))) << qPrintable(app.mainTitle());
    // The mouse: the box's arrow opens the list, a click on its second row.
    const auto main = app.desktop().geometry(app.mainWindow());
    ASSERT_TRUE(main);
    ASSERT_TRUE(app.pointerTo(main->width - 12, app.addressBoxY()));
    ASSERT_TRUE(app.click(1));
    clickMenuRow(1, 4);
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("MID - Tarnwick"))) << qPrintable(app.mainTitle());
    // The keyboard in the open list: its last row.
    ASSERT_TRUE(app.key(QStringLiteral("alt+Down")));
    ASSERT_TRUE(waitUntil([&] { return !app.ownMenus().empty(); }, 5000)) << "the list did not drop down";
    // No entry is current after a page's title event: the first key lands on the first
    // row, three more reach the last.
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("80"),
                                                    QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Down"),
                                                    QStringLiteral("Down"), QStringLiteral("Return")}));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("ZETA - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_EQ(view().address, server.url(QStringLiteral("/zeta")));
    // A new typed address joins the list in order; it is also the barrier for the choices.
    go(QStringLiteral("/banana"), QStringLiteral("BANANA"));
    for (const char* name : {"/alpha", "/mid", "/zeta", "/banana"})
        EXPECT_EQ(server.requestCount(QString::fromLatin1(name)), 1) << name << " was not opened exactly once";
    const auto fileHolds = [&](const QStringList& paths) {
        const QByteArray expected = entries(paths);
        const bool held = waitUntil([&] { return app.readHistory() == expected; }, 10000);
        EXPECT_TRUE(held) << "URL.slx holds\n" << app.readHistory().toStdString() << "instead of\n" << expected.toStdString();
        return held;
    };
    QStringList sorted = {QStringLiteral("/alpha"), QStringLiteral("/banana"), QStringLiteral("/mid"),
                          QStringLiteral("/start"), QStringLiteral("/zeta")};
    fileHolds(sorted);
    EXPECT_FALSE(QFileInfo::exists(app.programFolder() + QStringLiteral("/URL.slx")));

    // The second copy, in the same current directory, and visits by turns: each save keeps
    // what the other copy saved.
    for (const char* name : {"second", "third", "fourth", "fifth"})
        server.route(QLatin1Char('/') + QString::fromLatin1(name), page(QString::fromLatin1(name).toUpper()));
    TarnwickProcess second;
    keepOffline(second);
    second.setWorkDir(app.workDir());
    second.setIni(iniWith(server.url(QStringLiteral("/second"))));
    ASSERT_TRUE(second.start()) << qPrintable(second.error());
    ASSERT_NE(second.waitForMainWindow(), 0u) << "no main window of the second copy";
    ASSERT_TRUE(second.waitForMainTitle(QStringLiteral("SECOND - Tarnwick"))) << qPrintable(second.mainTitle());
    sorted.insert(3, QStringLiteral("/second"));
    ASSERT_TRUE(fileHolds(sorted));
    go(QStringLiteral("/third"), QStringLiteral("THIRD"));
    sorted.insert(5, QStringLiteral("/third"));
    ASSERT_TRUE(fileHolds(sorted)) << "the first copy's save lost the second copy's address";
    ASSERT_TRUE(second.enterAddress(server.url(QStringLiteral("/fourth"))));
    ASSERT_TRUE(second.waitForMainTitle(QStringLiteral("FOURTH - Tarnwick"))) << qPrintable(second.mainTitle());
    sorted.insert(2, QStringLiteral("/fourth"));
    ASSERT_TRUE(fileHolds(sorted)) << "the second copy's save lost the first copy's address";

    // "Clear URL Listbox" in the first copy's settings: the file goes, and the second
    // copy's next visit brings back none of the cleared addresses.
    ASSERT_TRUE(app.key({QStringLiteral("alt+f"), QStringLiteral("s")}));
    const std::uint32_t settings = app.waitForOwnWindow(QString());
    ASSERT_NE(settings, 0u) << "no settings dialog";
    const auto where = app.desktop().geometry(settings);
    ASSERT_TRUE(where);
    ASSERT_TRUE(app.pointerToScreen(where->x + 8 + 92, where->y + 88 + 12) && app.click(1));
    EXPECT_TRUE(waitUntil([&] { return !QFileInfo::exists(app.historyPath()); }, 5000)) << "URL.slx is still there";
    ASSERT_TRUE(app.closeWindow(settings));
    ASSERT_TRUE(waitUntil([&] { return app.ownWindows().size() == 1; }, 10000)) << "the dialog stayed";
    ASSERT_TRUE(second.enterAddress(server.url(QStringLiteral("/fifth"))));
    ASSERT_TRUE(second.waitForMainTitle(QStringLiteral("FIFTH - Tarnwick"))) << qPrintable(second.mainTitle());
    ASSERT_TRUE(fileHolds({QStringLiteral("/fifth")})) << "cleared addresses came back";

    // The first copy's list holds only the page of the clear: Down opens it again, and that
    // save takes in the second copy's address, in the file and in the list (without
    // changing the box's text): Down then goes to it, the list's first row.
    ASSERT_TRUE(app.activateMain());
    ASSERT_TRUE(app.pointerTo(120, app.addressBoxY()) && app.click(1));
    ASSERT_TRUE(app.key(QStringLiteral("Down")));
    EXPECT_TRUE(waitForRequests(QStringLiteral("/third"), 2)) << "the only entry is not the page of the clear";
    ASSERT_TRUE(fileHolds({QStringLiteral("/fifth"), QStringLiteral("/third")}));
    EXPECT_EQ(view().address, server.url(QStringLiteral("/third")));
    ASSERT_TRUE(app.key(QStringLiteral("Down")));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("FIFTH - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_EQ(server.requestCount(QStringLiteral("/fifth")), 2);

    EXPECT_TRUE(second.closeWindow(second.mainWindow()));
    EXPECT_TRUE(second.waitForExit(10000)) << "the second copy is still running";
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
    EXPECT_EQ(app.readHistory().toStdString(), entries({QStringLiteral("/fifth"), QStringLiteral("/third")}).toStdString())
        << "the history changed at the end";
}

// A person right-clicks the page: the program's menu shows (never the page's own),
// Refresh reloads it, Save As writes it through the save dialog, Launch In Default Browser
// hands the address to the desktop's browser and ends the program. Going wrong: the
// engine's menu, nothing reloads or is saved, the browser gets a different or split
// address, a shell runs part of it, or the program stays.
TEST_F(Journey, ContextMenuRefreshesAndHandsTheAddressToTheDefaultBrowser) {
    const QString record = app.root() + QStringLiteral("/opened");
    registerStandInBrowser(record);
    if (HasFatalFailure()) return;
    const QString marker = app.root() + QStringLiteral("/pwned");
    // Shell syntax of every kind in the query, which the engine keeps as it is.
    const QString query = QStringLiteral("?a=1&b=$(touch$IFS%1-1)&c=`touch$IFS%1-2`;touch$IFS%1-3;"
                                         "&d=\"quoted\"&e='single'&f=x y|z&g=$HOME")
                              .arg(marker);
    server.route(QStringLiteral("/evil"),
                 page(QStringLiteral("Evil"), QStringLiteral("<p>markup worth keeping</p>") + loadedSignal()));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    go(QStringLiteral("/evil") + query, QStringLiteral("Evil"));
    ASSERT_TRUE(waitForRequests(QStringLiteral("/loaded"), 1)) << "the page did not finish loading";
    // The address as the engine reports it: some characters encoded, "$(", ";", "&" kept.
    const QString address = view().address;
    for (const QString& kept : {QStringLiteral("$(touch$IFS/"), QStringLiteral(";touch$IFS/"),
                                QStringLiteral("&c="), QStringLiteral("=$HOME")})
        EXPECT_TRUE(address.contains(kept)) << qPrintable(address) << " lacks " << qPrintable(kept);

    // Our menu, never the page's own beside it; a dismissed menu changes nothing and comes
    // back.
    ASSERT_TRUE(openPageMenu()) << "no context menu";
    EXPECT_EQ(app.ownMenus().size(), 1u) << "the page's own menu came up too";
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")}));
    EXPECT_TRUE(waitUntil([&] { return app.ownMenus().empty(); }, 5000)) << "the menu stayed open";
    // Launch, Refresh, Print, Save As: Refresh is the second row.
    ASSERT_TRUE(openPageMenu()) << "no context menu";
    clickMenuRow(1, 4);
    EXPECT_TRUE(waitForRequests(QStringLiteral("/evil"), 2)) << "Refresh did not reload";
    ASSERT_TRUE(waitForRequests(QStringLiteral("/loaded"), 2)) << "the page did not finish loading again";
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(readFile(record).isEmpty());

    // Save As, the last row: the file name field of the dialog has the focus.
    ASSERT_TRUE(openPageMenu()) << "no context menu";
    clickMenuRow(3, 4);
    ASSERT_NE(app.waitForOwnWindow(QStringLiteral("Save As")), 0u) << "no save dialog";
    const QString saved = app.root() + QStringLiteral("/saved.htm");
    ASSERT_TRUE(keysHere({QStringLiteral("ctrl+a"), QStringLiteral("BackSpace")}));
    ASSERT_TRUE(app.type(saved));
    ASSERT_TRUE(keysHere({QStringLiteral("Return")}));
    EXPECT_TRUE(waitUntil([&] { return readFile(saved).contains("markup worth keeping"); }, 15000))
        << "saved: " << readFile(saved).left(300).toStdString();
    EXPECT_TRUE(readFile(saved).contains("<title>Evil</title>"));
    ASSERT_TRUE(waitUntil([&] { return app.ownWindows().size() == 1; }, 10000)) << "the save dialog stayed";

    QByteArray opened;
    handOff(record, opened);
    // One start, one argument (each ends in a NUL, each start in a line break).
    EXPECT_EQ(opened, standInStarts({address})) << "the address arrived changed or split";
    for (int i = 1; i <= 3; ++i)
        EXPECT_FALSE(QFileInfo::exists(marker + QStringLiteral("-%1").arg(i))) << "a shell ran part of the address";
}

}  // namespace
