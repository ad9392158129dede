// Journeys: what a person does with the built program, start to end, with real input
// (xdotool: typing, keys, pointer, clicks, window switches) and read only from outside:
// window titles, the loopback server's request log, the files, and the status bar and
// address box through the accessibility bus. Each journey says what the person would see
// going wrong.

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <csignal>

#include "a11y.h"
#include "app_fixture.h"
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
// keyboard, and types a new one. Going wrong: the wrong page opens, a page opens twice,
// or the history file loses, repeats or misorders an entry.
TEST_F(Journey, HistoryEntriesChosenWithMouseAndKeysOpenOnceAndTheFileStaysSorted) {
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
    const QByteArray sorted = entries({QStringLiteral("/alpha"), QStringLiteral("/banana"), QStringLiteral("/mid"),
                                       QStringLiteral("/start"), QStringLiteral("/zeta")});
    EXPECT_TRUE(waitUntil([&] { return app.readHistory() == sorted; }, 5000)) << app.readHistory().toStdString();
    EXPECT_FALSE(QFileInfo::exists(app.programFolder() + QStringLiteral("/URL.slx")));
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
    EXPECT_EQ(app.readHistory().toStdString(), sorted.toStdString()) << "the history changed at the end";
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
        QThread::msleep(1000);
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
// then a page's renderer is killed, and another page grows its memory without end.
// Going wrong: the typed address never loads and Back does nothing while the page spins;
// the spinning renderer keeps a core busy after the person left; a killed page leaves a
// grey view with the old caption and "Idle", no way to reload it, or an internal address
// in the box and the history; a page takes gigabytes of memory.
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

    // A page that grows its memory dies at the bound and says so.
    ASSERT_TRUE(app.enterAddress(server.url(QStringLiteral("/grow"))));
    ASSERT_TRUE(waitForRequests(QStringLiteral("/growing"), 1));
    long peakKb = 0;
    const bool outOfMemory = waitUntil(
        [&] {
            for (pid_t pid : renderers()) peakKb = std::max(peakKb, procStatusKb(pid, "VmHWM"));
            return app.mainTitle() == QStringLiteral("Page out of memory: Grow - Tarnwick");
        },
        90000, 50);
    EXPECT_TRUE(outOfMemory) << qPrintable(app.mainTitle());
    std::printf("a growing page's renderer peaked at %ld MB before it was stopped\n", peakKb / 1024);
    EXPECT_LT(peakKb, 1536L * 1024) << "the page took more memory than its bound";
    EXPECT_EQ(view().address, server.url(QStringLiteral("/grow")));

    // Only the pages' own addresses went into the history.
    const QList<QByteArray> entries = app.readHistory().split('\n');
    for (const QByteArray& entry : entries)
        EXPECT_TRUE(entry.isEmpty() || entry.startsWith("\"http://127.0.0.1:") || entry.startsWith("\"http://localhost:"))
            << entry.constData();
    // start, spin, after (on both names), victim, grow, and the last line break
    EXPECT_EQ(entries.size(), 7) << app.readHistory().constData();
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
    ASSERT_TRUE(app.key(QStringLiteral("ctrl+e")));
    expectEndsCleanly();
}

}  // namespace
