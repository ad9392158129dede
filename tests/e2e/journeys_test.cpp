// Journeys: what a person does with the built program, start to end, with real input
// (xdotool: typing, keys, pointer, clicks, window switches) and read only from outside:
// window titles, the loopback server's request log, the files, and the status bar and
// address box through the accessibility bus. Each journey says what the person would see
// going wrong.

#include <QFileInfo>
#include <QProcess>

#include "a11y.h"
#include "app_fixture.h"

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

    // The program's managed window other than the main window (a dialog), once it shows.
    std::uint32_t waitForDialog(int timeoutMs = 10000) {
        std::uint32_t found = 0;
        waitUntil(
            [&] {
                for (std::uint32_t window : app.ownWindows())
                    if (window != app.mainWindow()) found = window;
                return found != 0;
            },
            timeoutMs);
        return found;
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

    // Types `path`'s address into the address box, presses Enter, waits for its caption.
    void go(const QString& path, const QString& title) {
        ASSERT_TRUE(app.enterAddress(server.url(path)));
        ASSERT_TRUE(app.waitForMainTitle(title + QStringLiteral(" - Tarnwick")))
            << "after typing " << qPrintable(path) << " + Enter the caption is " << qPrintable(app.mainTitle());
    }
};

// A person types an address and presses Enter, then switches to another program and
// back and clicks into the page. Going wrong: the page flickers and reloads each time
// the address box loses the focus.
TEST_F(Journey, TypedAddressLoadsOnceAndFocusChangesNeverReloadIt) {
    server.route(QStringLiteral("/one"), page(QStringLiteral("One"), QStringLiteral("<p>one</p>")));
    server.route(QStringLiteral("/two"), page(QStringLiteral("Two")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    ASSERT_TRUE(waitUntil([&] { return view().found; }, 20000)) << "the program is not on the accessibility bus";
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("0 events denied"))) << qPrintable(panels());
    EXPECT_EQ(view().menus, QStringList({QStringLiteral("File"), QStringLiteral("Edit"), QStringLiteral("Navigate")}));

    go(QStringLiteral("/one"), QStringLiteral("One"));
    EXPECT_TRUE(waitForPanel(1, QStringLiteral("Idle"))) << qPrintable(panels());
    EXPECT_EQ(view().address, server.url(QStringLiteral("/one")));

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

// A person opens a page, points at a link whose click opens a popup, and clicks. Going
// wrong: the page reloads on the click, the popup stays, or the main window does not go
// to the link.
TEST_F(Journey, ClickedPopupLinkOpensInTheMainWindowAndThePopupIsDenied) {
    server.route(QStringLiteral("/clicked"), page(QStringLiteral("Clicked")));
    // The link's own navigation is cancelled by its script: only the sweep can open it.
    server.route(QStringLiteral("/links"), page(QStringLiteral("Links"), linkPageBody(QStringLiteral("/clicked"), true)));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    go(QStringLiteral("/links"), QStringLiteral("Links"));
    ASSERT_TRUE(app.pointerTo(200, app.pageTop() + 80));
    ASSERT_TRUE(waitForRequests(QStringLiteral("/hovered"), 1, 10000)) << "the link saw no pointer";
    EXPECT_TRUE(waitForPanel(1, server.url(QStringLiteral("/clicked")))) << qPrintable(panels());
    ASSERT_TRUE(app.click(1));
    EXPECT_TRUE(waitForRequests(QStringLiteral("/opened"), 1)) << "no popup was opened";
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Clicked - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_TRUE(waitForPanel(0, QStringLiteral("1 event denied"))) << qPrintable(panels());
    EXPECT_TRUE(explorerWindows().empty()) << "the popup is still open";
    EXPECT_EQ(app.ownWindows().size(), 1u);
    sweepBarrier();
    EXPECT_EQ(server.requestCount(QStringLiteral("/clicked")), 1);
    EXPECT_EQ(server.requestCount(QStringLiteral("/links")), 1) << "the page was reloaded by the click";
    EXPECT_EQ(app.mainTitle(), QStringLiteral("Clicked - Tarnwick"));
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
    const std::uint32_t settings = waitForDialog();
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

// The window's commands from the keyboard, once with the focus in the address box and
// once in the page. Going wrong: a key edits the box or the page instead (the box's own
// X11 editing keys claim Ctrl+B, Ctrl+F and Ctrl+E), or the command does nothing.
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
        const std::uint32_t dialog = waitForDialog();
        ASSERT_NE(dialog, 0u) << qPrintable(chord) << " opened no window";
        ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")}));
        ASSERT_TRUE(waitUntil([&] { return app.ownWindows().size() == 1; }, 10000)) << "the dialog stayed";
    }
};

TEST_P(JourneyCommands, EveryCommandKeyWorksWhereverTheFocusIs) {
    server.route(QStringLiteral("/a"), page(QStringLiteral("A"), QStringLiteral("<div style=\"height:900px\"></div>")));
    server.route(QStringLiteral("/b"), page(QStringLiteral("B"), QStringLiteral("<div style=\"height:900px\"></div>")));
    server.route(QStringLiteral("/slow"), page(QStringLiteral("Slow")));
    server.setDelay(QStringLiteral("/slow"), 60000);
    startAt(QStringLiteral("/a"), QStringLiteral("A"));
    go(QStringLiteral("/b"), QStringLiteral("B"));

    press(QStringLiteral("ctrl+b"));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("A - Tarnwick"))) << "Ctrl+B did not go back";
    press(QStringLiteral("ctrl+f"));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("B - Tarnwick"))) << "Ctrl+F did not go forward";
    const int loads = server.requestCount(QStringLiteral("/b"));
    press(QStringLiteral("ctrl+r"));
    EXPECT_TRUE(waitForRequests(QStringLiteral("/b"), loads + 1)) << "Ctrl+R did not reload";
    EXPECT_TRUE(waitForPanel(1, QStringLiteral("Idle"))) << qPrintable(panels());

    ASSERT_TRUE(app.enterAddress(server.url(QStringLiteral("/slow"))));
    ASSERT_TRUE(waitForRequests(QStringLiteral("/slow"), 1));
    ASSERT_TRUE(waitForPanel(1, QStringLiteral("Loading page..."))) << qPrintable(panels());
    press(QStringLiteral("ctrl+s"));
    EXPECT_TRUE(waitForPanel(1, QStringLiteral("Idle"), 10000)) << "Ctrl+S did not stop: " << qPrintable(panels());

    pressForDialog(QStringLiteral("ctrl+o"));
    pressForDialog(QStringLiteral("ctrl+p"));
    press(QStringLiteral("ctrl+e"));
    expectEndsCleanly();
}

INSTANTIATE_TEST_SUITE_P(FocusIn, JourneyCommands, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("AddressBox") : std::string("Page");
                         });

// A person right-clicks the page: Refresh reloads it, Launch In Default Browser hands the
// address to the desktop's browser and ends the program. Going wrong: nothing reloads,
// the browser gets a different or split address, a shell runs part of it, or the
// program stays.
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

    // A dismissed menu changes nothing and comes back.
    ASSERT_TRUE(openPageMenu()) << "no context menu";
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")}));
    EXPECT_TRUE(waitUntil([&] { return app.ownMenus().empty(); }, 5000)) << "the menu stayed open";
    // Launch, Refresh, Print, Save As: Refresh is the second row.
    ASSERT_TRUE(openPageMenu()) << "no context menu";
    clickMenuRow(1, 4);
    EXPECT_TRUE(waitForRequests(QStringLiteral("/evil"), 2)) << "Refresh did not reload";
    ASSERT_TRUE(waitForRequests(QStringLiteral("/loaded"), 2)) << "the page did not finish loading again";
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(readFile(record).isEmpty());

    ASSERT_TRUE(openPageMenu()) << "no context menu";
    clickMenuRow(0, 4);
    expectEndsCleanly();
    QByteArray opened;
    EXPECT_TRUE(waitUntil([&] { return !(opened = readFile(record)).isEmpty(); }, 10000))
        << "the stand-in browser was not started";
    // One start, one argument (each ends in a NUL, each start in a line break).
    EXPECT_EQ(opened, address.toUtf8() + QByteArray(1, '\0') + '\n') << "the address arrived changed or split";
    for (int i = 1; i <= 3; ++i)
        EXPECT_FALSE(QFileInfo::exists(marker + QStringLiteral("-%1").arg(i))) << "a shell ran part of the address";
}

}  // namespace
