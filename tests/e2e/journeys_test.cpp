// Journeys: what a person does with the built program, start to end, with real input
// (xdotool: typing, keys, pointer, clicks, window switches) and read only from outside:
// window titles, the loopback server's request log, the files, and the status bar and
// address box through the accessibility bus. Each journey says what the person would see
// going wrong.

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <QUrl>
#include <csignal>
#include <cstdio>
#include <tuple>
#include <unistd.h>

#include "a11y.h"
#include "app_fixture.h"
#include "platform/ui/looks.h"
#include "proc_tree.h"

namespace {

class Journey : public AppTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(a11y::start()) << "no private accessibility bus";
        AppTest::SetUp();
        for (const char* path : {"/hovered", "/opened", "/popup-closed"})
            server.route(QString::fromLatin1(path), "", "text/plain");
        server.route(QStringLiteral("/popup"), page(QStringLiteral("Popup")));
    }

    a11y::MainWindowView view() { return a11y::read(app.pid()); }
    // Waits until the status bar's first panel reads `text`.
    bool waitForPanel(int panel, const QString& text, int timeoutMs = 15000) {
        return waitUntil(
            [&] {
                const QStringList panels = view().statusPanels;
                return panels.size() > panel && panels.at(panel) == text;
            },
            timeoutMs, 50);
    }
    QString panels() { return view().statusPanels.join(QStringLiteral(" | ")); }

    // The first accessible node of the program (its pages included) that `match` takes.
    std::optional<a11y::Node> node(const std::function<bool(const a11y::Node&)>& match) {
        for (const a11y::Node& each : a11y::nodes(app.pid()))
            if (match(each)) return each;
        return std::nullopt;
    }
    bool waitForNode(const std::function<bool(const a11y::Node&)>& match, int timeoutMs = 15000) {
        return waitUntil([&] { return node(match).has_value(); }, timeoutMs, 100);
    }
    // What a screen reader hears of the program, for a failure's message.
    std::string spoken() {
        QStringList lines;
        for (const a11y::Node& each : a11y::nodes(app.pid()))
            if (!each.text.isEmpty()) lines << each.role + QStringLiteral(": ") + each.text;
        return lines.join(QLatin1Char('\n')).toStdString();
    }

    // Clicks the `index`th of `count` equally high rows of the program's open popup menu
    // or list.
    void clickMenuRow(int index, int count) {
        std::vector<std::uint32_t> menus;
        ASSERT_TRUE(waitUntil([&] { return !(menus = app.ownMenus()).empty(); }, 10000)) << "no menu or list opened";
        const auto rect = app.desktop().geometry(menus.front());
        ASSERT_TRUE(rect);
        ASSERT_TRUE(app.pointerToScreen(rect->x + rect->width / 2, rect->y + rect->height * (2 * index + 1) / (2 * count)));
        ASSERT_TRUE(app.click(1));
    }

    // The context menu's first item, Launch ... In Default Browser: the program ends and
    // the stand-in browser writes what it got to `record`, read into `opened`.
    void handOff(const QString& record, QByteArray& opened) {
        ASSERT_TRUE(openPageMenu()) << "no context menu";
        clickMenuRow(0, 4);
        expectEndsCleanly();
        EXPECT_TRUE(waitUntil([&] { return !(opened = readFile(record)).isEmpty(); }, 10000))
            << "the stand-in browser was not started";
    }

    // Types `path`'s address into the address box, presses Enter, waits for its caption.
    void go(const QString& path, const QString& title) {
        ASSERT_TRUE(app.enterAddress(server.url(path)));
        ASSERT_TRUE(app.waitForMainTitle(title + QStringLiteral(" - Tarnwick")))
            << "after typing " << qPrintable(path) << " + Enter the caption is " << qPrintable(app.mainTitle());
    }
};

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
// and, on load, three alerts; another program's window goes too. The person clicks panel
// 1: the list names each of them, newest first, one row per counted event. Ctrl+C copies
// a row's address; Enter on the https link's row opens its address here, as typed; from
// the page, the list's key brings it back, and Open here on the button's row lands on
// that page with no referrer. Going wrong: rows missing or not adding up to the count, a
// row that does not say what it was, the lost link not reachable, or the page that asked
// riding along.
TEST_F(Journey, DeniedListNamesEveryDenialAndOpensTheLostWindowsHere) {
    const QString secure = QStringLiteral("https://127.0.0.1:%1/secure").arg(server.port());
    server.route(QStringLiteral("/offer"), page(QStringLiteral("Offer")));
    server.route(QStringLiteral("/denials"), page(QStringLiteral("Denials"),
        QStringLiteral("<a href=\"%1\" target=\"_blank\" style=\"display:block;height:160px\">secure</a>"
                       "<button style=\"display:block;width:400px;height:100px\" "
                       "onclick=\"window.open('/offer', '_blank', 'noopener')\">offer</button>"
                       "<script>for (var i = 0; i < 3; ++i) alert('Loop ' + i);</script>").arg(secure)));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    go(QStringLiteral("/denials"), QStringLiteral("Denials"));
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("3 events denied"))) << qPrintable(panels());
    QProcess other;
    other.start(QStringLiteral(TARNWICK_BINARY_DIR "/xwin"), {QStringLiteral("--title"), QStringLiteral("Notes - Microsoft Internet Explorer")});
    ASSERT_TRUE(other.waitForStarted() && other.waitForFinished(10000)) << "the foreign window was not closed";
    for (const auto& [y, count] : {std::pair{80, "5 events denied"}, std::pair{210, "6 events denied"}}) {
        ASSERT_TRUE(app.activateMain() && app.pointerTo(200, app.pageTop() + y) && app.click(1));
        ASSERT_TRUE(waitForPanel(0, QLatin1String(count))) << qPrintable(panels());
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
        return rows.size() == 6;
    })) << spoken();
    ASSERT_EQ(rows.size(), 6) << qPrintable(rows.join(QLatin1Char('\n')));
    EXPECT_TRUE(rows[0].contains(QStringLiteral("Window: ") + server.url(QStringLiteral("/offer")) + QStringLiteral(" ")) &&
                rows[0].endsWith(QStringLiteral("from ") + server.url(QStringLiteral("/denials")))) << qPrintable(rows[0]);
    EXPECT_TRUE(rows[1].contains(QStringLiteral("Window: ") + secure + QStringLiteral(" "))) << qPrintable(rows[1]);
    EXPECT_TRUE(rows[2].contains(QStringLiteral("Notes - Microsoft Internet Explorer")) && rows[2].endsWith(QStringLiteral("of Xwin"))) << qPrintable(rows[2]);
    for (int i = 3; i < 6; ++i)
        EXPECT_TRUE(rows[i].contains(QStringLiteral("Dialog: \u201CLoop %1\u201D from http://127.0.0.1").arg(5 - i))) << qPrintable(rows[i]);

    // Ctrl+C on the button's row; Enter on the https link's row: its address is the main
    // window's, as typed, and the copied one pastes into the address box.
    const auto isOfferRow = [&](const a11y::Node& n) { return isRow(n) && n.text.contains(QLatin1String("/offer")); };
    const auto press = [](const char* chord) { return runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QLatin1String(chord)}); };
    ASSERT_TRUE(clickOn(isOfferRow) && press("ctrl+c"));
    ASSERT_TRUE(clickOn([&](const a11y::Node& n) { return isRow(n) && n.text.contains(secure); }) && press("Return"));
    EXPECT_TRUE(waitUntil([&] { return view().address == secure; })) << qPrintable(view().address);
    ASSERT_TRUE(app.key({QStringLiteral("ctrl+l"), QStringLiteral("ctrl+v")}));
    EXPECT_TRUE(waitUntil([&] { return view().address == server.url(QStringLiteral("/offer")); })) << qPrintable(view().address);
    // From the page, the key brings the list up; Open here on the button's row.
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+shift+d")));
    const std::uint32_t list = app.waitForOwnWindow(QStringLiteral("Denied"));
    ASSERT_TRUE(list != 0 && waitUntil([&] { return app.desktop().activeWindow() == list; }));
    ASSERT_TRUE(clickOn(isOfferRow));
    ASSERT_TRUE(clickOn([](const a11y::Node& n) { return n.role == QLatin1String("push button") && n.text == QLatin1String("Open here"); }));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Offer - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_FALSE(server.lastRequest(QStringLiteral("/offer")).contains("Referer")) << server.lastRequest(QStringLiteral("/offer")).constData();
    EXPECT_EQ(view().statusPanels.value(0), QStringLiteral("6 events denied"));
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

// The window's commands from the keyboard, the menus' and the keys every browser has,
// once with the focus in the address box and once in the page. Going wrong: a key edits
// the box or the page instead (the box's own X11 editing keys claim Ctrl+B, Ctrl+F and
// Ctrl+E; the engine's view takes keys for the page), or the command does nothing.
class JourneyCommands : public Journey, public ::testing::WithParamInterface<bool> {
protected:
    // Puts the keyboard focus where the person would: a click into the box or the page.
    void focus() {
        const bool box = GetParam();
        ASSERT_TRUE(app.activateMain());
        ASSERT_TRUE(app.pointerTo(box ? 120 : 250, box ? app.addressBoxY() : app.pageTop() + 300));
        ASSERT_TRUE(app.click(1));
        ASSERT_TRUE(waitUntil([&] { return view().addressFocused == box; }, 5000)) << "the focus is not where clicked";
    }
    void press(const QString& chord) {
        focus();
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--clearmodifiers"), chord}));
    }
    // A dialog the chord opens, closed again with Escape.
    void pressForDialog(const QString& chord) {
        press(chord);
        const std::uint32_t dialog = app.waitForOwnWindow(QString());
        ASSERT_NE(dialog, 0u) << qPrintable(chord) << " opened no window";
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")}));
        ASSERT_TRUE(waitUntil([&] { return app.ownWindows().size() == 1; }, 10000)) << "the dialog stayed";
    }
};

TEST_P(JourneyCommands, EveryCommandKeyWorksWhereverTheFocusIs) {
    app.setEnv(QStringLiteral("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"), QStringLiteral("1"));
    server.route(QStringLiteral("/a"), page(QStringLiteral("A"), QStringLiteral("<div style=\"height:900px\"></div>")));
    // B reports each change of its zoom (the device pixel ratio follows it) and holds a
    // word three times.
    server.route(QStringLiteral("/b"),
                 page(QStringLiteral("B"), QStringLiteral("<p>needle, needle and needle</p><div style=\"height:900px\"></div>"),
                      QStringLiteral("<script>addEventListener('resize', function () {"
                                     " fetch('/zoom/' + Math.round(devicePixelRatio * 100)); });</script>")));
    server.route(QStringLiteral("/slow"), page(QStringLiteral("Slow")));
    server.setDelay(QStringLiteral("/slow"), 60000);
    startAt(QStringLiteral("/a"), QStringLiteral("A"));
    go(QStringLiteral("/b"), QStringLiteral("B"));

    press(QStringLiteral("ctrl+b"));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("A - Tarnwick"))) << "Ctrl+B did not go back";
    press(QStringLiteral("ctrl+f"));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("B - Tarnwick"))) << "Ctrl+F did not go forward";
    press(QStringLiteral("alt+Left"));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("A - Tarnwick"))) << "Alt+Left did not go back";
    press(QStringLiteral("alt+Right"));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("B - Tarnwick"))) << "Alt+Right did not go forward";
    for (const QString& chord : {QStringLiteral("ctrl+r"), QStringLiteral("F5"), QStringLiteral("ctrl+F5")}) {
        const int loads = server.requestCount(QStringLiteral("/b"));
        press(chord);
        EXPECT_TRUE(waitForRequests(QStringLiteral("/b"), loads + 1)) << qPrintable(chord) << " did not reload";
        EXPECT_TRUE(waitForPanel(1, QStringLiteral("Idle"))) << qPrintable(panels());
    }
    // The address box takes the keyboard with its text selected: what is typed replaces it.
    for (const QString& chord : {QStringLiteral("ctrl+l"), QStringLiteral("alt+d"), QStringLiteral("F6")}) {
        const int loads = server.requestCount(QStringLiteral("/b"));
        press(chord);
        ASSERT_TRUE(app.type(server.url(QStringLiteral("/b"))));
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")}));
        EXPECT_TRUE(waitForRequests(QStringLiteral("/b"), loads + 1)) << qPrintable(chord) << ": " << qPrintable(view().address);
    }

    for (const QString& chord : {QStringLiteral("ctrl+s"), QStringLiteral("Escape")}) {
        const int slow = server.requestCount(QStringLiteral("/slow"));
        ASSERT_TRUE(app.enterAddress(server.url(QStringLiteral("/slow"))));
        ASSERT_TRUE(waitForRequests(QStringLiteral("/slow"), slow + 1));
        ASSERT_TRUE(waitForPanel(1, QStringLiteral("Loading page..."))) << qPrintable(panels());
        press(chord);
        EXPECT_TRUE(waitForPanel(1, QStringLiteral("Idle"), 10000)) << qPrintable(chord) << " did not stop: " << qPrintable(panels());
    }

    // Zoom steps of 10 %, and back to 100 %.
    for (const auto& [chord, zoom, count] : {std::tuple{"ctrl+plus", "/zoom/110", 1}, {"ctrl+0", "/zoom/100", 1},
                                            {"ctrl+minus", "/zoom/90", 1}, {"ctrl+0", "/zoom/100", 2}}) {
        press(QString::fromLatin1(chord));
        EXPECT_TRUE(waitForRequests(QString::fromLatin1(zoom), count, 5000)) << chord << " did not zoom to " << zoom;
    }

    // F11 fills the screen with the main window and gives it back its size.
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    auto mainSize = [&] {
        const auto rect = app.desktop().geometry(app.mainWindow());
        return rect ? QSize(rect->width, rect->height) : QSize();
    };
    const QSize normal = mainSize();
    press(QStringLiteral("F11"));
    EXPECT_TRUE(waitUntil([&] { return mainSize() == screen; }, 5000)) << "F11 left the window at " << mainSize().width();
    press(QStringLiteral("F11"));
    EXPECT_TRUE(waitUntil([&] { return mainSize() == normal; }, 5000)) << "F11 again left it at " << mainSize().width();

    // The find bar: F3 opens it, typing finds, Enter goes on; then, from the box or the
    // page, F3 and Ctrl+G go one match on, Shift+F3 and Ctrl+Shift+G one back. (A click
    // into the page moves the search's start there, so only one click precedes the keys.)
    auto findCount = [&] {
        const auto shown = node([](const a11y::Node& n) {
            return n.parent == QLatin1String("Find in page") && n.text.endsWith(QLatin1String(" of 3"));
        });
        return shown ? shown->text : QString();
    };
    auto findCountBecomes = [&](const QString& text) { return waitUntil([&] { return findCount() == text; }, 5000, 100); };
    press(QStringLiteral("F3"));
    ASSERT_TRUE(app.type(QStringLiteral("needle")));
    EXPECT_TRUE(findCountBecomes(QStringLiteral("1 of 3"))) << spoken();
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")}));
    EXPECT_TRUE(findCountBecomes(QStringLiteral("2 of 3"))) << "Enter: " << spoken();
    press(QStringLiteral("F3"));
    EXPECT_TRUE(waitUntil([&] { return findCount() != QLatin1String("2 of 3"); }, 5000, 100)) << "F3 found nothing further";
    int active = findCount().left(1).toInt();
    for (const auto& [chord, step] : {std::pair{"ctrl+g", 1}, {"shift+F3", -1}, {"ctrl+shift+g", -1}}) {
        active = (active + step + 2) % 3 + 1;
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--clearmodifiers"), QString::fromLatin1(chord)}));
        EXPECT_TRUE(findCountBecomes(QStringLiteral("%1 of 3").arg(active))) << chord << ": " << qPrintable(findCount());
    }
    const auto field = node([](const a11y::Node& n) { return n.parent == QLatin1String("Find in page") && n.text == QLatin1String("needle"); });
    ASSERT_TRUE(field) << spoken();
    ASSERT_TRUE(app.pointerToScreen(field->screen.center().x(), field->screen.center().y()) && app.click(1));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")}));
    EXPECT_TRUE(waitForNode([](const a11y::Node& n) { return n.text == QLatin1String("Find in page") && !n.showing; }, 5000))
        << "Esc did not close the find bar";

    pressForDialog(QStringLiteral("ctrl+o"));
    pressForDialog(QStringLiteral("ctrl+p"));
    pressForDialog(QStringLiteral("ctrl+shift+d"));
    press(QStringLiteral("ctrl+e"));
    expectEndsCleanly();
}

INSTANTIATE_TEST_SUITE_P(FocusIn, JourneyCommands, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("AddressBox") : std::string("Page");
                         });

// A person right-clicks the page: the program's menu shows (never the page's own),
// Refresh reloads it, Launch In Default Browser hands the address to the desktop's
// browser and ends the program. Going wrong: the engine's menu, nothing reloads, the
// browser gets a different or split address, a shell runs part of it, or the program
// stays.
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
                 page(QStringLiteral("Evil"), QStringLiteral("<p>an innocent page</p>") + loadedSignal()));
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

    QByteArray opened;
    handOff(record, opened);
    // One start, one argument (each ends in a NUL, each start in a line break).
    EXPECT_EQ(opened, address.toUtf8() + QByteArray(1, '\0') + '\n') << "the address arrived changed or split";
    for (int i = 1; i <= 3; ++i)
        EXPECT_FALSE(QFileInfo::exists(marker + QStringLiteral("-%1").arg(i))) << "a shell ran part of the address";
}

// ---------------------------------------------------------------------------------
// Pages that fight back with dialogs and full screen: what a page asks for without the
// person's own click or key in it is refused and counted; leaving works at once.

class JourneyTraps : public Journey {
protected:
    // Panel 1's count.
    int deniedCount() { return view().statusPanels.value(0).section(QLatin1Char(' '), 0, 0).toInt(); }
    bool waitForDenied(int atLeast, int timeoutMs = 15000) {
        return waitUntil([&] { return deniedCount() >= atLeast; }, timeoutMs, 50);
    }
    // A page's dialog showing in the program, with these words.
    bool waitForPageDialog(const QString& message, int timeoutMs = 10000) {
        const QString asker = server.url(QString()).section(QLatin1Char('/'), 2, 2) + QStringLiteral(" says");
        return waitUntil(
            [&] {
                const QStringList labels = view().labels;
                return labels.contains(asker) && labels.contains(message);
            },
            timeoutMs, 50);
    }
    bool clickPage() { return app.activateMain() && app.pointerTo(250, app.pageTop() + 200) && app.click(1); }
    // The person types the address of `path` into the address box and presses Enter,
    // without selecting anything: a click brings the keyboard into the box when it is
    // elsewhere, and the box's whole text is to be selected then, as it is after a title
    // event while the box has the keyboard. Returns the ms from Enter to the caption of
    // `title`, or -1.
    qint64 typeAddress(const QString& path, const QString& title) {
        if (!app.activateMain()) return -1;
        if (!view().addressFocused && (!app.pointerTo(120, app.addressBoxY()) || !app.click(1))) return -1;
        if (!app.type(server.url(path))) return -1;
        return timed(QStringLiteral("Return"), [&] { return app.waitForMainTitle(title + QStringLiteral(" - Tarnwick")); });
    }
    // Presses `chord` and returns the ms until `done` holds, or -1.
    qint64 timed(const QString& chord, const std::function<bool()>& done) {
        QElapsedTimer clock;
        clock.start();
        if (!runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--clearmodifiers"), chord}) ||
            !done())
            return -1;
        return clock.elapsed();
    }
    static void report(const char* what, qint64 ms) { std::printf("time to get out, %s: %lld ms\n", what, ms); }
};

// A page asks with dialogs: alerts from a timer, a prompt and 500 confirms in a row in
// answer to clicks, a question whether to leave. Going wrong: a box pops up that the
// person did not ask for, a box holds the whole program, the next box comes at every
// Esc, the typed address goes into the page's prompt or gets the old address glued in
// front of it, the count misses a refused box, or the page refuses to be left.
TEST_F(JourneyTraps, PageDialogsShowOnlyForThePersonsClickAndNeverHoldTheProgram) {
    server.route(QStringLiteral("/answer"), "", "text/plain");
    server.route(QStringLiteral("/timer-done"), "", "text/plain");
    server.route(QStringLiteral("/after"), page(QStringLiteral("After")));
    server.route(QStringLiteral("/dialogs"), page(QStringLiteral("Dialogs"), QStringLiteral("<div style=\"height:600px\">a page that asks</div>"),
        QStringLiteral("<script>var left = 20, clicks = 0;"
                       "var timer = setInterval(function () {"
                       "  alert('every 50 ms');"
                       "  if (--left == 0) { clearInterval(timer); fetch('/timer-done'); }"
                       "}, 50);"
                       "document.addEventListener('click', function () {"
                       "  if (++clicks == 2) {"
                       "    var no = 0;"
                       "    for (var i = 0; i < 500; ++i) if (!confirm('Stay?')) ++no;"
                       "    document.title = 'No ' + no;"
                       "  } else {"
                       "    fetch('/answer?' + prompt('Your name?', 'nobody'));"
                       "  }"
                       "});"
                       "addEventListener('beforeunload', function (e) { e.preventDefault(); e.returnValue = 'stay'; });"
                       "</script>")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    go(QStringLiteral("/dialogs"), QStringLiteral("Dialogs"));
    // Twenty alerts nobody asked for: each answered at once (the timer ran out) and counted.
    ASSERT_TRUE(waitForRequests(QStringLiteral("/timer-done"), 1)) << "the timer's alerts held the page";
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("20 events denied"))) << qPrintable(panels());

    // A click: its prompt shows, named after the page's origin, and takes the typed name.
    ASSERT_TRUE(clickPage());
    ASSERT_TRUE(waitForPageDialog(QStringLiteral("Your name?"))) << qPrintable(view().labels.join(QLatin1Char('|')));
    ASSERT_TRUE(app.type(QStringLiteral("Alice")));
    ASSERT_TRUE(app.key(QStringLiteral("Return")));
    ASSERT_TRUE(waitUntil([&] { return server.lastRequest(QStringLiteral("/answer")).contains("answer?Alice"); }))
        << server.lastRequest(QStringLiteral("/answer")).constData();

    // The next click asks 500 times: the first box shows and Esc cancels it, the other
    // 499 are answered at once and each is counted.
    ASSERT_TRUE(clickPage());
    ASSERT_TRUE(waitForPageDialog(QStringLiteral("Stay?")));
    ASSERT_TRUE(app.key(QStringLiteral("Escape")));
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("No 500 - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("519 events denied"))) << qPrintable(panels());

    // Leaving: the page's question whether to leave is answered "leave" (and counted).
    qint64 out = typeAddress(QStringLiteral("/after"), QStringLiteral("After"));
    ASSERT_GE(out, 0) << "the page's question held the person: " << qPrintable(app.mainTitle());
    report("a typed address from a page asking whether to leave", out);
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("520 events denied"))) << qPrintable(panels());

    // Back to the page (loaded anew, its timer's 20 alerts refused again). A prompt the
    // person leaves open: the typed address goes to the address box (its whole text
    // selected by the click), and the prompt is answered as cancelled.
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+b")));
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("Dialogs - Tarnwick")));
    ASSERT_TRUE(waitForRequests(QStringLiteral("/timer-done"), 2));
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("540 events denied"))) << qPrintable(panels());
    ASSERT_TRUE(clickPage());
    ASSERT_TRUE(waitForPageDialog(QStringLiteral("Your name?")));
    out = typeAddress(QStringLiteral("/after"), QStringLiteral("After"));
    ASSERT_GE(out, 0) << "the typed address did not load: " << qPrintable(app.mainTitle());
    report("a typed address from an open prompt", out);
    EXPECT_TRUE(waitUntil([&] { return server.lastRequest(QStringLiteral("/answer")).contains("answer?null"); }))
        << server.lastRequest(QStringLiteral("/answer")).constData();
    EXPECT_EQ(view().address, server.url(QStringLiteral("/after")));
    EXPECT_EQ(server.requestCount(QStringLiteral("/after")), 2);
    EXPECT_EQ(server.requestCount(QStringLiteral("/dialogs")), 2);
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

// A page alerts every 50 ms, and in an endless loop once clicked. Going wrong: the
// typed address, Back or Ctrl+E do nothing while the boxes keep coming, a box the
// person answered comes back at once, or the program has to be killed.
TEST_F(JourneyTraps, AlertLoopsAreLeftByATypedAddressBackAndCtrlEAtTheFirstTry) {
    server.route(QStringLiteral("/calm"), page(QStringLiteral("Calm")));
    server.route(QStringLiteral("/alerts"), page(QStringLiteral("Alerts"), QStringLiteral("<div style=\"height:600px\">a page that alerts</div>"),
        QStringLiteral("<script>setInterval(function () { alert('every 50 ms'); }, 50);"
                       "document.addEventListener('click', function () { for (;;) alert('again'); });</script>")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    go(QStringLiteral("/alerts"), QStringLiteral("Alerts"));
    ASSERT_TRUE(waitForDenied(5)) << qPrintable(panels());

    const qint64 typed = typeAddress(QStringLiteral("/calm"), QStringLiteral("Calm"));
    ASSERT_GE(typed, 0) << "the typed address did not load: " << qPrintable(app.mainTitle());
    report("a typed address from a 50 ms alert loop", typed);
    const int before = deniedCount();
    ASSERT_TRUE(app.activateMain());
    const qint64 back = timed(QStringLiteral("ctrl+b"), [&] { return app.waitForMainTitle(QStringLiteral("Alerts - Tarnwick")); });
    ASSERT_GE(back, 0) << "Ctrl+B did not go back: " << qPrintable(app.mainTitle());
    report("Ctrl+B from a 50 ms alert loop", back);
    EXPECT_TRUE(waitForDenied(before + 5)) << qPrintable(panels());

    // The click's endless loop: its first box shows; once answered, the rest are
    // answered at once and counted. The next click shows one box more, and Ctrl+E with
    // that box open ends the program.
    ASSERT_TRUE(clickPage());
    ASSERT_TRUE(waitForPageDialog(QStringLiteral("again")) || waitForPageDialog(QStringLiteral("every 50 ms")));
    const int looping = deniedCount();
    ASSERT_TRUE(app.key(QStringLiteral("Return")));
    EXPECT_TRUE(waitForDenied(looping + 100)) << qPrintable(panels());
    ASSERT_TRUE(clickPage());
    ASSERT_TRUE(waitForPageDialog(QStringLiteral("again")));
    const qint64 ended = timed(QStringLiteral("ctrl+e"), [&] { return app.waitForExit(10000); });
    ASSERT_GE(ended, 0) << "Ctrl+E did not end the program";
    report("Ctrl+E from an endless alert loop, its box open", ended);
    expectEndsCleanly();
}

// A page goes full screen at every click or key and again 100 ms after it is left.
// Going wrong: no notice says how to leave, one Esc does not get the person out, the
// page takes the screen back at once, or the address box cannot be reached.
TEST_F(JourneyTraps, FullScreenTrapIsLeftWithOneEscAndStaysLeftUntilTheNextClick) {
    server.route(QStringLiteral("/fs-in"), "", "text/plain");
    server.route(QStringLiteral("/fs-refused"), "", "text/plain");
    server.route(QStringLiteral("/after"), page(QStringLiteral("After")));
    server.route(QStringLiteral("/trap"), page(QStringLiteral("Trap"), QStringLiteral("<div style=\"height:600px\">a page that wants the whole screen</div>") + loadedSignal(),
        QStringLiteral("<script>function grab() {"
                       "  document.documentElement.requestFullscreen().then(function () { fetch('/fs-in'); },"
                       "                                                   function () { fetch('/fs-refused'); });"
                       "}"
                       "addEventListener('click', grab); addEventListener('keydown', grab);"
                       "document.addEventListener('fullscreenchange', function () {"
                       "  if (!document.fullscreenElement) setTimeout(grab, 100);"
                       "});</script>")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    go(QStringLiteral("/trap"), QStringLiteral("Trap"));
    ASSERT_TRUE(waitForRequests(QStringLiteral("/loaded"), 1)) << "the page did not finish loading";
    QByteArray display;
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("getdisplaygeometry")}, 10000, &display));
    const QList<QByteArray> size = display.trimmed().split(' ');
    ASSERT_EQ(size.size(), 2);
    auto fullScreenWindow = [&]() -> std::uint32_t {
        for (std::uint32_t window : app.ownWindows()) {
            const auto rect = app.desktop().geometry(window);
            if (window != app.mainWindow() && rect && rect->width == size[0].toInt() && rect->height == size[1].toInt())
                return window;
        }
        return 0;
    };

    for (int round = 1; round <= 2; ++round) {
        // The click: the page alone on the whole screen, titled like the main window, with
        // the notice.
        ASSERT_TRUE(clickPage());
        ASSERT_TRUE(waitForRequests(QStringLiteral("/fs-in"), round));
        ASSERT_TRUE(waitUntil([&] { return fullScreenWindow() != 0; })) << "not full screen";
        EXPECT_EQ(app.desktop().title(fullScreenWindow()), QStringLiteral("Trap - Tarnwick"));
        EXPECT_TRUE(waitUntil([&] { return view().labels.contains(QStringLiteral("Press Esc to leave full screen")); }, 3000))
            << qPrintable(view().labels.join(QLatin1Char('|')));
        // One Esc. The page's try to come back 100 ms later is refused (by the engine
        // itself once the click's activation is used up); so is its try at the person's
        // next key in the page, which the program refuses and counts.
        const int refused = server.requestCount(QStringLiteral("/fs-refused"));
        const int denied = deniedCount();
        const qint64 out = timed(QStringLiteral("Escape"), [&] { return waitUntil([&] { return fullScreenWindow() == 0; }); });
        ASSERT_GE(out, 0) << "Esc did not leave full screen";
        report("one Esc from a full-screen trap", out);
        ASSERT_TRUE(waitForRequests(QStringLiteral("/fs-refused"), refused + 1)) << "the page did not try to come back";
        ASSERT_TRUE(waitUntil([&] { return !view().addressFocused; })) << "the keyboard did not go back to the page";
        ASSERT_TRUE(app.key(QStringLiteral("x")));
        EXPECT_TRUE(waitForDenied(denied + 1)) << "the key's request was not refused: " << qPrintable(panels());
        EXPECT_EQ(fullScreenWindow(), 0u) << "the page took the screen back";
    }
    EXPECT_GE(typeAddress(QStringLiteral("/after"), QStringLiteral("After")), 0) << qPrintable(app.mainTitle());
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

// Pages that go round by themselves: one reloads itself on load, one refreshes itself to
// a new address each time (?n=1, ?n=2, ...), two send each other back and forth; all of
// them rename themselves every 40 ms. The person types at 80 ms a key into the address
// box meanwhile, gives up once with Esc, and at last presses Enter. Going wrong: the page
// loads again and again, the machine stays busy, the address box is rewritten under the
// person's fingers (Enter reloads the trap, or opens the typed text cut short as a file),
// Esc keeps the half-typed text, the refusals go uncounted, or the history fills with
// addresses nobody chose.
TEST_F(JourneyTraps, PagesGoingRoundAreStoppedAndTheTypedAddressIsThePersons) {
    const QString renaming = QStringLiteral(
        "<script>var t = 0; setInterval(function () { document.title = document.title.split(' ')[0] + ' ' + ++t; }, 40);"
        "</script>");
    server.route(QStringLiteral("/after"), page(QStringLiteral("After")));
    server.route(QStringLiteral("/reload"), page(QStringLiteral("Reload"), QString(),
        renaming + QStringLiteral("<script>addEventListener('load', function () { location.reload(); });</script>")));
    server.route(QStringLiteral("/counting"), page(QStringLiteral("Counting"), QString(),
        renaming + QStringLiteral("<script>document.write('<meta http-equiv=\"refresh\" content=\"0;url=/counting?n=' +"
                                  " (Number(location.search.slice(3)) + 1) + '\">');</script>")));
    for (const auto& [from, to] : {std::pair{QStringLiteral("ping"), QStringLiteral("pong")},
                                   std::pair{QStringLiteral("pong"), QStringLiteral("ping")}})
        server.route(QLatin1Char('/') + from, page(from, QString(),
            renaming + QStringLiteral("<meta http-equiv=\"refresh\" content=\"0;url=/%1\">").arg(to)));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    QElapsedTimer clock;
    for (const QString& trap : {QStringLiteral("/reload"), QStringLiteral("/counting"), QStringLiteral("/ping")}) {
        const int denied = deniedCount();
        ASSERT_TRUE(app.enterAddress(server.url(trap)));
        ASSERT_TRUE(waitForDenied(denied + 1)) << "the loop was not stopped: " << qPrintable(panels());
        // Idle: from one whole sweep to the next the page asks for no further load, and
        // nothing more is refused.
        sweepBarrier();
        const int loads = server.requestCount(trap) + server.requestCount(QStringLiteral("/pong"));
        const int refused = deniedCount();
        sweepBarrier();
        EXPECT_EQ(server.requestCount(trap) + server.requestCount(QStringLiteral("/pong")), loads) << "still loading";
        EXPECT_EQ(deniedCount(), refused + 1) << qPrintable(panels());
        std::printf("%s: %d loads before the loop stopped\n", qPrintable(trap), loads);

        // Half an address, then Esc: the page's address is back. Then the whole address.
        unsigned long long ticks = 0;
        for (const ProcStat& process : processTree(app.pid())) ticks += process.cpuTicks;
        clock.start();
        const QString shown = view().address;
        ASSERT_TRUE(app.key(QStringLiteral("ctrl+l")));
        const QString typed = server.url(QStringLiteral("/after"));
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"),
                                                        QStringLiteral("80"), typed.left(12)}, 30000));
        EXPECT_TRUE(waitUntil([&] { return view().address == typed.left(12); })) << qPrintable(view().address);
        ASSERT_TRUE(app.key(QStringLiteral("Escape")));
        EXPECT_TRUE(waitUntil([&] { return view().address == shown; })) << qPrintable(view().address);
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--delay"),
                                                        QStringLiteral("80"), typed}, 30000));
        unsigned long long after = 0;
        for (const ProcStat& process : processTree(app.pid())) after += process.cpuTicks;
        std::printf("%s: the program took %.0f %% of a core while the person typed (the page renaming itself)\n",
                    qPrintable(trap), 100.0 * double(after - ticks) / double(sysconf(_SC_CLK_TCK)) / (double(clock.elapsed()) / 1000.0));
        const qint64 out = timed(QStringLiteral("Return"), [&] { return app.waitForMainTitle(QStringLiteral("After - Tarnwick")); });
        ASSERT_GE(out, 0) << "Enter did not open the typed address: " << qPrintable(app.mainTitle());
        EXPECT_EQ(view().address, typed);
    }
    // The history: the pages shown, each once, and nothing typed or cut short.
    const QByteArray history = app.readHistory();
    EXPECT_FALSE(history.contains("file:")) << history.constData();
    EXPECT_EQ(history.count("/counting"), server.requestCount(QStringLiteral("/counting"))) << history.constData();
    EXPECT_LE(history.count('\n'), 12) << history.constData();
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

// A person clicks a link to a page that asks for a dialog and the keyboard on load; clicks
// in a page whose every way out (beforeunload, pagehide, unload) starts a navigation to an
// ad and a window, and at once types another address, comes back and clicks and presses
// Back; then visits a page that adds a history entry on load (and answers Back with the ad)
// and one that adds a thousand. Going wrong: the click's consent carries over to the next
// page, the person lands on the ad, a window opens, or Back takes two presses or thirty.
TEST_F(JourneyTraps, LeavingWinsAndBackGoesBackWhateverThePageDoes) {
    server.route(QStringLiteral("/ad"), page(QStringLiteral("Ad")));
    server.route(QStringLiteral("/after"), page(QStringLiteral("After")));
    server.route(QStringLiteral("/asked"), "", "text/plain");
    server.route(QStringLiteral("/greedy"), page(QStringLiteral("Greedy"), QString(),
        QStringLiteral("<script>alert('on load');"
                       "(navigator.keyboard ? navigator.keyboard.lock() : Promise.reject()).then("
                       "  function () { fetch('/asked?locked'); }, function () { fetch('/asked?refused'); });</script>")));
    server.route(QStringLiteral("/home"), page(QStringLiteral("Home"), linkPageBody(QStringLiteral("/greedy"))));
    const QString away = QStringLiteral("function away() { location.replace('/ad'); window.open('/ad'); }"
                                        "addEventListener('beforeunload', function () { setTimeout(away, 0); });"
                                        "addEventListener('pagehide', function () { location.href = '/ad'; });"
                                        "addEventListener('unload', away);");
    server.route(QStringLiteral("/sticky"), page(QStringLiteral("Sticky"), QStringLiteral("<div style=\"height:600px\">stay</div>"),
                                                  QStringLiteral("<script>") + away + QStringLiteral("</script>")));
    server.route(QStringLiteral("/pushy"), page(QStringLiteral("Pushy"), QString(),
        QStringLiteral("<script>history.pushState({}, '', '?pushed');"
                       "addEventListener('popstate', function () { location.replace('/ad'); }); fetch('/asked?pushed');</script>")));
    server.route(QStringLiteral("/thousand"), page(QStringLiteral("Thousand"), QString(),
        QStringLiteral("<script>for (var i = 0; i < 1000; ++i) history.pushState({}, '', '?i=' + i);"
                       "addEventListener('popstate', function () { history.pushState({}, '', '?again'); });"
                       "fetch('/asked?thousand');</script>")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));

    // The link's click is no consent for the next page's dialog, nor for its keyboard lock.
    go(QStringLiteral("/home"), QStringLiteral("Home"));
    ASSERT_TRUE(app.pointerTo(200, app.pageTop() + 80) && app.click(1));
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("Greedy - Tarnwick"))) << qPrintable(app.mainTitle());
    ASSERT_TRUE(waitForRequests(QStringLiteral("/asked"), 1));
    EXPECT_TRUE(waitForDenied(1)) << qPrintable(panels());
    EXPECT_FALSE(view().labels.contains(QStringLiteral("on load"))) << "the dialog showed";
    EXPECT_TRUE(server.lastRequest(QStringLiteral("/asked")).contains("refused")) << server.lastRequest(QStringLiteral("/asked")).constData();

    // Right after a click, a typed address and Back each land where the person asked.
    server.setDelay(QStringLiteral("/after"), 700);
    go(QStringLiteral("/sticky"), QStringLiteral("Sticky"));
    ASSERT_TRUE(clickPage());
    qint64 out = typeAddress(QStringLiteral("/after"), QStringLiteral("After"));
    ASSERT_GE(out, 0) << "the typed address did not win: " << qPrintable(app.mainTitle());
    report("a typed address right after a click in a page that navigates on its way out", out);
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+b")));
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("Sticky - Tarnwick"))) << qPrintable(app.mainTitle());
    ASSERT_TRUE(clickPage());
    out = timed(QStringLiteral("alt+Left"), [&] { return app.waitForMainTitle(QStringLiteral("Greedy - Tarnwick")); });
    ASSERT_GE(out, 0) << "Back did not win: " << qPrintable(app.mainTitle());
    report("Back right after a click in a page that navigates on its way out", out);

    // One Back past a page's own history entries, and one Forward to its last.
    for (const QString& name : {QStringLiteral("Pushy"), QStringLiteral("Thousand")}) {
        const int asked = server.requestCount(QStringLiteral("/asked"));
        go(QLatin1Char('/') + name.toLower(), name);
        ASSERT_TRUE(waitForRequests(QStringLiteral("/asked"), asked + 1));
        ASSERT_TRUE(app.key(QStringLiteral("ctrl+b")));
        EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Greedy - Tarnwick"))) << qPrintable(app.mainTitle());
        ASSERT_TRUE(app.key(QStringLiteral("ctrl+f")));
        EXPECT_TRUE(app.waitForMainTitle(name + QStringLiteral(" - Tarnwick"))) << qPrintable(app.mainTitle());
        EXPECT_TRUE(view().address.startsWith(server.url(QLatin1Char('/') + name.toLower()) + QLatin1Char('?')))
            << qPrintable(view().address);
        ASSERT_TRUE(app.key(QStringLiteral("alt+Left")));
        EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Greedy - Tarnwick"))) << qPrintable(app.mainTitle());
    }
    EXPECT_EQ(server.requestCount(QStringLiteral("/ad")), 0) << "the ad was opened";
    EXPECT_EQ(app.ownWindows().size(), 1u);
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

// ---------------------------------------------------------------------------------
// Pages whose renderer hangs or dies

class JourneyRenderer : public Journey {
protected:
    // The program's renderer processes (the engine's helpers that show pages).
    std::vector<pid_t> renderers() {
        std::vector<pid_t> found;
        for (const ProcStat& process : processTree(app.pid())) {
            QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(process.pid));
            if (process.state != 'Z' && commandLine.open(QIODevice::ReadOnly) &&
                commandLine.readAll().contains("--type=renderer"))
                found.push_back(process.pid);
        }
        return found;
    }
    // The renderer that keeps the processor busy (a tenth of a core or more over a second:
    // other work may share the cores), or 0. An idle renderer takes next to nothing.
    pid_t spinningRenderer() {
        std::vector<std::pair<pid_t, unsigned long long>> before;
        for (pid_t pid : renderers())
            if (auto stat = readProcStat(pid)) before.emplace_back(pid, stat->cpuTicks);
        settle(1000);
        for (const auto& [pid, ticks] : before)
            if (auto stat = readProcStat(pid); stat && stat->state != 'Z' && stat->cpuTicks - ticks >= 10) return pid;
        return 0;
    }
    static bool gone(pid_t pid) {
        const auto stat = readProcStat(pid);
        return !stat || stat->state == 'Z';
    }
    // Presses `chord` at the start of a clock and waits for the caption `title`: the
    // milliseconds it took, or -1 when the caption never came.
    qint64 timedUntilTitle(const QString& chord, const QString& title) {
        QElapsedTimer clock;
        clock.start();
        if (!runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--clearmodifiers"), chord}))
            return -1;
        return app.waitForMainTitle(title + QStringLiteral(" - Tarnwick")) ? clock.elapsed() : -1;
    }
};

// A person visits a page whose script starts spinning forever, leaves it for another page
// of the same site with a typed address, comes back with Back and leaves with Back again;
// then a page's renderer is killed, pages grow their memory without end (in the script
// heap; in workers, buffers and a WebAssembly memory), and a page holding 800 MB is left
// for another page of the site. Going wrong: the typed address never loads and Back does
// nothing while the page spins; the spinning renderer keeps a core busy after the person
// left; a killed page leaves a grey view with the old caption and "Idle", no way to reload
// it, or an internal address in the box and the history; a page takes gigabytes of
// memory, or its renderer keeps them after the person left it.
TEST_F(JourneyRenderer, HungPagesAreLeftAtOnceAndDeadPagesSaySoAndReload) {
    server.route(QStringLiteral("/spinning"), "", "text/plain");
    server.route(QStringLiteral("/spin"),
                 page(QStringLiteral("Spin"), QStringLiteral("<p>a page that never returns</p>"),
                      QStringLiteral("<script>setTimeout(function () { fetch('/spinning');"
                                     " setTimeout(function () { for (;;) {} }, 200); }, 300);</script>")));
    server.route(QStringLiteral("/after"), page(QStringLiteral("After")));
    server.route(QStringLiteral("/victim"), page(QStringLiteral("Victim")));
    server.route(QStringLiteral("/growing"), "", "text/plain");
    server.route(QStringLiteral("/grow"),
                 page(QStringLiteral("Grow"), QStringLiteral("<p>a page that grows</p>"),
                      QStringLiteral("<script>var kept = []; fetch('/growing'); setInterval(function () {"
                                     " for (var i = 0; i < 40; ++i) kept.push(new Array(100000).fill(Math.random()));"
                                     " }, 10);</script>")));
    server.route(QStringLiteral("/holding"), "", "text/plain");
    server.route(QStringLiteral("/hold"),
                 page(QStringLiteral("Hold"), QStringLiteral("<p>a page holding 800 MB</p>"),
                      QStringLiteral("<script>var kept = []; for (var i = 0; i < 8; ++i)"
                                     " kept.push(new Uint8Array(100 << 20).fill(1)); fetch('/holding');</script>")));
    // 24 workers of 120 MB each, and a WebAssembly memory growing by 10 MB every 20 ms.
    server.route(QStringLiteral("/bomb"),
                 page(QStringLiteral("Bomb"), QStringLiteral("<p>a page taking memory outside its script heap</p>"),
                      QStringLiteral("<script>var url = URL.createObjectURL(new Blob(['var a = new Uint8Array(120 << 20).fill(1);"
                                     " setInterval(function () { a[0]++; }, 1000);']));"
                                     " for (var i = 0; i < 24; ++i) new Worker(url);"
                                     " var m = new WebAssembly.Memory({initial: 16, maximum: 65536});"
                                     " setInterval(function () { var at = m.buffer.byteLength; m.grow(160);"
                                     " new Uint8Array(m.buffer, at).fill(1); }, 20);</script>")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));

    // A typed address on the same site, while the page spins.
    go(QStringLiteral("/spin"), QStringLiteral("Spin"));
    ASSERT_TRUE(waitForRequests(QStringLiteral("/spinning"), 1));
    pid_t spinning = 0;
    ASSERT_TRUE(waitUntil([&] { return (spinning = spinningRenderer()) != 0; }, 10000)) << "no renderer spins";
    ASSERT_TRUE(app.typeAddress(server.url(QStringLiteral("/after"))));
    const qint64 typedOut = timedUntilTitle(QStringLiteral("Return"), QStringLiteral("After"));
    EXPECT_GE(typedOut, 0) << "the typed address did not load while the page spun: " << qPrintable(app.mainTitle());
    std::printf("left a hung page for a same-site address in %lld ms\n", static_cast<long long>(typedOut));
    EXPECT_TRUE(waitUntil([&] { return gone(spinning); }, 10000)) << "the spinning renderer still runs";

    // Back to the spinning page, and Back again while it spins.
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+b")));
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("Spin - Tarnwick"))) << qPrintable(app.mainTitle());
    ASSERT_TRUE(waitForRequests(QStringLiteral("/spinning"), 2));
    ASSERT_TRUE(waitUntil([&] { return (spinning = spinningRenderer()) != 0; }, 10000)) << "no renderer spins";
    ASSERT_TRUE(app.activateMain());
    const qint64 backOut = timedUntilTitle(QStringLiteral("ctrl+b"), QStringLiteral("Start"));
    EXPECT_GE(backOut, 0) << "Back did nothing while the page spun: " << qPrintable(app.mainTitle());
    std::printf("left a hung page with Back in %lld ms\n", static_cast<long long>(backOut));
    EXPECT_TRUE(waitUntil([&] { return gone(spinning); }, 10000)) << "the spinning renderer still runs";

    // Forward to it, and away to another site (the same server under another name).
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+f")));
    ASSERT_TRUE(app.waitForMainTitle(QStringLiteral("Spin - Tarnwick"))) << qPrintable(app.mainTitle());
    ASSERT_TRUE(waitForRequests(QStringLiteral("/spinning"), 3));
    ASSERT_TRUE(waitUntil([&] { return (spinning = spinningRenderer()) != 0; }, 10000)) << "no renderer spins";
    ASSERT_TRUE(app.enterAddress(server.url(QStringLiteral("/after")).replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"))));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("After - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_TRUE(waitUntil([&] { return gone(spinning); }, 10000)) << "the spinning renderer still runs";

    // A page whose renderer is killed: shown as such, under its address, and reloaded.
    go(QStringLiteral("/victim"), QStringLiteral("Victim"));
    for (pid_t pid : renderers()) ::kill(pid, SIGKILL);
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Page killed: Victim - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_TRUE(waitForPanel(1, QStringLiteral("Uninitialized"))) << qPrintable(panels());
    a11y::MainWindowView shown;
    ASSERT_TRUE(waitUntil([&] { return (shown = view()).find(QStringLiteral("Reload")); }, 10000))
        << "no reload link shown";
    EXPECT_EQ(shown.address, server.url(QStringLiteral("/victim")));
    EXPECT_TRUE(shown.find(QStringLiteral("was killed"))) << "the page does not say what happened";
    ASSERT_TRUE(app.pointerToScreen(shown.find(QStringLiteral("Reload"))->x, shown.find(QStringLiteral("Reload"))->y));
    ASSERT_TRUE(app.click(1));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Victim - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_TRUE(waitForPanel(1, QStringLiteral("Idle"))) << qPrintable(panels());
    EXPECT_EQ(server.requestCount(QStringLiteral("/victim")), 2);

    // Pages that grow their memory die at the bound and say so: the script heap, and then
    // workers, buffers and a WebAssembly memory, none of which that heap holds.
    const auto peakUntilOutOfMemory = [&](const QString& path, const QString& title) {
        QElapsedTimer clock;
        clock.start();
        EXPECT_TRUE(app.enterAddress(server.url(path)));
        long peakKb = 0;
        const bool outOfMemory = waitUntil(
            [&] {
                for (pid_t pid : renderers()) peakKb = std::max(peakKb, procStatusKb(pid, "VmHWM"));
                return app.mainTitle() == QStringLiteral("Page out of memory: ") + title + QStringLiteral(" - Tarnwick");
            },
            90000, 50);
        EXPECT_TRUE(outOfMemory) << qPrintable(app.mainTitle());
        std::printf("%s: the renderer peaked at %ld MB, stopped %lld ms after Enter\n", qPrintable(path), peakKb / 1024,
                    static_cast<long long>(clock.elapsed()));
        EXPECT_LT(peakKb, 2048L * 1024) << qPrintable(path) << " took more memory than its bound";
        EXPECT_EQ(view().address, server.url(path));
    };
    peakUntilOutOfMemory(QStringLiteral("/grow"), QStringLiteral("Grow"));

    // A page holding 800 MB, left for another page of the same site: no renderer keeps it.
    go(QStringLiteral("/hold"), QStringLiteral("Hold"));
    ASSERT_TRUE(waitForRequests(QStringLiteral("/holding"), 1));
    const auto mostHeldKb = [&] {
        long most = 0;
        for (pid_t pid : renderers()) most = std::max(most, procStatusKb(pid, "RssAnon"));
        return most;
    };
    EXPECT_GE(mostHeldKb(), 700L * 1024) << "the page did not take its memory";
    go(QStringLiteral("/after"), QStringLiteral("After"));
    EXPECT_TRUE(waitUntil([&] { return mostHeldKb() < 400L * 1024; }, 20000))
        << "a renderer keeps " << mostHeldKb() / 1024 << " MB of the page the person left";
    peakUntilOutOfMemory(QStringLiteral("/bomb"), QStringLiteral("Bomb"));

    // Only the pages' own addresses went into the history.
    const QList<QByteArray> entries = app.readHistory().split('\n');
    for (const QByteArray& entry : entries)
        EXPECT_TRUE(entry.isEmpty() || entry.startsWith("\"http://127.0.0.1:") || entry.startsWith("\"http://localhost:"))
            << entry.constData();
    // start, spin, after (on both names), victim, grow, hold, bomb, and the last line break
    EXPECT_EQ(entries.size(), 9) << app.readHistory().constData();
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+e")));
    expectEndsCleanly();
}

// ---------------------------------------------------------------------------------
// A page that starts downloads by the dozen

class JourneyDownloads : public Journey {
protected:
    // The program's save dialogs on the screen.
    std::vector<std::uint32_t> saveDialogs() {
        std::vector<std::uint32_t> found;
        for (std::uint32_t window : app.ownWindows())
            if (app.desktop().title(window) == QLatin1String("Save File")) found.push_back(window);
        return found;
    }
    // Every file below `folder`, as paths relative to it.
    static QStringList filesIn(const QString& folder) {
        QStringList found;
        QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) found << QDir(folder).relativeFilePath(it.next());
        return found;
    }
};

// A person opens a page that starts ten downloads as it loads and ten more at the click
// of its button, then clicks a link to one file while the save dialog is open, cancels
// the first dialog and saves the second. Going wrong: twenty save dialogs at once, files
// written into the download folder before anyone said where to keep them, a second
// dialog over the first, the refused downloads not counted.
TEST_F(JourneyDownloads, ADownloadBombGetsOneDialogAtATimeAndNothingLandsBeforeThePersonSaysSo) {
    const QByteArray attachment = "Content-Disposition: attachment\r\n";
    for (const char* when : {"load", "click"})
        for (int i = 0; i < 10; ++i) {
            const QString path = QStringLiteral("/f%1%2.bin").arg(QLatin1String(when)).arg(i);
            server.route(path, QByteArray(64 * 1024, 'x'), "application/octet-stream");
            server.setHeaders(path, attachment);
        }
    const QByteArray single(256 * 1024, 's');
    server.route(QStringLiteral("/single.bin"), single, "application/octet-stream");
    server.setHeaders(QStringLiteral("/single.bin"), "Content-Disposition: attachment; filename=\"single.bin\"\r\n");
    // Half of each ten by a link's download attribute, half by frames with attachments.
    server.route(QStringLiteral("/bomb"),
                 page(QStringLiteral("Bomb"),
                      QStringLiteral("<button onclick=\"bomb('click')\" style=\"display:block;width:400px;height:200px\">"
                                     "get</button><a href=\"/single.bin\" style=\"display:block;height:150px\">single</a>"),
                      QStringLiteral("<script>function bomb(when) { for (var i = 0; i < 10; ++i) {"
                                     " var url = '/f' + when + i + '.bin';"
                                     " if (i % 2) { var f = document.createElement('iframe'); f.style.display = 'none';"
                                     "   f.src = url; document.body.appendChild(f); }"
                                     " else { var a = document.createElement('a'); a.href = url; a.download = '';"
                                     "   document.body.appendChild(a); a.click(); } } }"
                                     "addEventListener('load', function () { bomb('load'); });</script>")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    const QString folder = app.home() + QStringLiteral("/Downloads");
    const QString receiving = app.home() + QStringLiteral("/.cache/tarnwick");

    go(QStringLiteral("/bomb"), QStringLiteral("Bomb"));
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("10 events denied"))) << qPrintable(panels());
    ASSERT_TRUE(app.pointerTo(200, app.pageTop() + 80));
    ASSERT_TRUE(app.click(1));
    ASSERT_TRUE(waitUntil([&] { return !saveDialogs().empty(); }, 10000)) << "no save dialog for the clicked button";
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("19 events denied"))) << qPrintable(panels());
    const std::uint32_t first = saveDialogs().front();

    // A link the person clicks meanwhile, with the dialog moved aside: received, not asked
    // about while the first asks.
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowmove"), QString::number(first),
                                                    QStringLiteral("700"), QStringLiteral("560")}));
    ASSERT_TRUE(waitUntil([&] { return app.desktop().geometry(first) && app.desktop().geometry(first)->x >= 650; }, 5000));
    ASSERT_TRUE(app.pointerTo(150, app.pageTop() + 275));
    ASSERT_TRUE(app.click(1));
    ASSERT_TRUE(waitUntil([&] { return !(filesIn(receiving) + filesIn(folder)).filter(QStringLiteral("single.bin")).empty(); },
                          10000))
        << "the clicked link's download was not taken: " << qPrintable(filesIn(receiving).join(QLatin1Char(' ')));
    // The pointer leaves the link (the sweep opens a link pointed at), then a whole sweep.
    ASSERT_TRUE(app.pointerTo(520, app.pageTop() + 80));
    EXPECT_TRUE(waitForPanel(1, QStringLiteral("Idle"))) << qPrintable(panels());
    sweepBarrier();
    EXPECT_EQ(saveDialogs().size(), 1u) << "more than one save dialog at once";
    EXPECT_TRUE(filesIn(folder).isEmpty()) << "in the download folder before any answer: "
                                           << qPrintable(filesIn(folder).join(QLatin1Char(' ')));
    EXPECT_EQ(view().statusPanels.value(0), QStringLiteral("20 events denied"))  // with the sentinel
        << "the person's own link was refused";

    // Esc drops the first; the second asks now, and Return keeps it where it proposes.
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(first)}));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")}));
    std::uint32_t second = 0;
    ASSERT_TRUE(waitUntil([&] {
        const auto dialogs = saveDialogs();
        second = dialogs.size() == 1 && dialogs.front() != first ? dialogs.front() : 0;
        return second != 0;
    }, 10000)) << "the waiting download was never asked about";
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(second)}));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")}));
    EXPECT_TRUE(waitUntil([&] { return readFile(folder + QStringLiteral("/single.bin")) == single; }, 20000))
        << qPrintable(filesIn(folder).join(QLatin1Char(' ')));
    EXPECT_EQ(filesIn(folder), QStringList{QStringLiteral("single.bin")});
    EXPECT_TRUE(waitUntil([&] { return filesIn(receiving).filter(QStringLiteral(".bin")).isEmpty(); }, 10000))
        << "left in the program's folder: " << qPrintable(filesIn(receiving).join(QLatin1Char(' ')));

    // Servers whose names point elsewhere: each proposal, taken with Return, is a plain
    // name in the download folder. Going wrong: a file written above the download
    // folder or into a folder the server named, a hidden file, a name the dialog will not
    // save.
    const QString elsewhere = app.home() + QStringLiteral("/elsewhere");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    const QString longName = QString(300, QLatin1Char('n')) + QStringLiteral(".txt");
    const std::pair<QString, QString> names[] = {
        {QStringLiteral("../../x.sh"), QStringLiteral("x.sh")},
        {elsewhere + QStringLiteral("/cron"), QStringLiteral("cron")},
        {QStringLiteral("..\\..\\x.bat"), QStringLiteral("x.bat")},
        {QStringLiteral(".profile"), QStringLiteral("profile")},
        {longName, QString(251, QLatin1Char('n')) + QStringLiteral(".txt")},
    };
    QString links;
    for (int i = 0; i < int(std::size(names)); ++i) {
        const QString path = QStringLiteral("/named%1").arg(i);
        server.route(path, QByteArray("file ") + QByteArray::number(i), "application/octet-stream");
        server.setHeaders(path, "Content-Disposition: attachment; filename=\"" + names[i].first.toUtf8() + "\"\r\n");
        links += QStringLiteral("<a href=\"%1\" style=\"display:block;height:60px\">%1</a>").arg(path);
    }
    server.route(QStringLiteral("/names"), page(QStringLiteral("Names"), links));
    go(QStringLiteral("/names"), QStringLiteral("Names"));
    QStringList saved{QStringLiteral("single.bin")};
    for (int i = 0; i < int(std::size(names)); ++i) {
        ASSERT_TRUE(app.pointerTo(40, app.pageTop() + 30 + 60 * i));
        ASSERT_TRUE(app.click(1));
        std::uint32_t dialog = 0;
        ASSERT_TRUE(waitUntil([&] { return !saveDialogs().empty() && (dialog = saveDialogs().front()); }, 10000))
            << "no save dialog for " << qPrintable(names[i].first);
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(dialog)}));
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")}));
        saved << names[i].second;
        EXPECT_TRUE(waitUntil([&] { return readFile(folder + QLatin1Char('/') + names[i].second) == "file " + QByteArray::number(i); }, 20000))
            << qPrintable(names[i].first) << " is not in the download folder as " << qPrintable(names[i].second)
            << "; there: " << qPrintable(filesIn(folder).join(QLatin1Char(' ')));
        ASSERT_TRUE(waitUntil([&] { return saveDialogs().empty(); }, 10000));
    }
    saved.sort();
    QStringList there = filesIn(folder);
    there.sort();
    EXPECT_EQ(there, saved);
    EXPECT_TRUE(filesIn(elsewhere).isEmpty()) << "written where the server said: " << qPrintable(filesIn(elsewhere).join(QLatin1Char(' ')));
    for (const QString& outside : {QStringLiteral("x.sh"), QStringLiteral("x.bat"), QStringLiteral(".profile")})
        EXPECT_FALSE(QFileInfo::exists(app.home() + QLatin1Char('/') + outside) || QFileInfo::exists(QStringLiteral("/") + outside))
            << outside.toStdString() << " was written outside the download folder";
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+e")));
    expectEndsCleanly();
}

}  // namespace
