// Journeys: what a person does with the built program, start to end, with real input
// (xdotool: typing, keys, pointer, clicks, window switches) and read only from outside:
// window titles, the loopback server's request log, the files, and the status bar and
// address box through the accessibility bus. Each journey says what the person would see
// going wrong.

#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QProcess>
#include <QUrl>
#include <tuple>

#include "a11y.h"
#include "app_fixture.h"
#include "platform/looks.h"

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
}

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
        const std::uint32_t dialog = waitForDialog();
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

    QByteArray opened;
    handOff(record, opened);
    // One start, one argument (each ends in a NUL, each start in a line break).
    EXPECT_EQ(opened, address.toUtf8() + QByteArray(1, '\0') + '\n') << "the address arrived changed or split";
    for (int i = 1; i <= 3; ++i)
        EXPECT_FALSE(QFileInfo::exists(marker + QStringLiteral("-%1").arg(i))) << "a shell ran part of the address";
}

}  // namespace
