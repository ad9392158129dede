// The Qt WebEngine adapter against the real engine: pages come from a loopback HTTP
// server, the pointer moves through the X server (xdotool), and the browser's own
// new-window windows are checked as X11 windows under openbox.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <csignal>
#include <memory>

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QWebEngineProfile>

#include "http_server.h"
#include "proc_tree.h"
#include "tarnwick_process.h"
#include "wait.h"
#include "platform/webengine/browser_window.h"
#include "platform/webengine/engine_session.h"
#include "platform/webengine/webengine_browser.h"

namespace {

QString run(const QString& program, const QStringList& args) {
    QByteArray output;
    runTool(program, args, 10000, &output);
    return QString::fromUtf8(output);
}

QString netWmName(WId window) {
    return run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window), QStringLiteral("_NET_WM_NAME")}).trimmed();
}

QList<BrowserWindow*> browserWindows() {
    QList<BrowserWindow*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<BrowserWindow*>(w)) found.append(window);
    return found;
}

BrowserWindow* browserWindowTitled(const QString& title) {
    for (BrowserWindow* w : browserWindows())
        if (w->windowTitle() == title) return w;
    return nullptr;
}

void closeAllBrowserWindows(const EngineSession& session) {
    for (BrowserWindow* w : browserWindows()) w->close();
    waitUntil([&] { return session.openWindowCount() == 0; });
}

// Resident memory of this process and all its descendants (the engine's helpers), kB.
qint64 processTreeRssKb() {
    qint64 total = 0;
    for (const ProcStat& p : processTree(getpid())) total += procStatusKb(p.pid, "VmRSS");
    return total;
}

QByteArray page(const QByteArray& title, const QByteArray& body, const QByteArray& head = {}) {
    return "<!DOCTYPE html><html><head><title>" + title + "</title>" + head +
           "<style>body{margin:0}</style></head><body>" + body + "</body></html>";
}

class WebEngineBrowserTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new HttpServer;
        server->route("/a.html", page("Page A", "<p>first page</p>"));
        server->route("/b.html", page("Page B", "<p>second page</p>"));
        server->route("/plain.txt", "just text, no markup", "text/plain; charset=utf-8");
        server->route("/x.xhtml",
                      "<?xml version=\"1.0\"?><html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>X</title>"
                      "</head><body><p>xhtml</p></body></html>",
                      "application/xhtml+xml");
        server->route("/slow.html", page("Slow", "<p>late</p>"));
        server->setDelay("/slow.html", 60000);
        // Off the record: what one test's pages store stays out of the next suite's.
        session = new EngineSession(EngineSession::Folders{});
    }
    static void TearDownTestSuite() {
        delete session;
        session = nullptr;
        delete server;
        server = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(server->ok());
        host = std::make_unique<QWidget>();
        host->setWindowTitle(QStringLiteral("adapter host"));
        host->resize(900, 700);
        browser = new WebEngineBrowser(*session, host.get());
        browser->widget()->setGeometry(0, 0, 900, 700);
        QObject::connect(browser, &WebBrowser::ProgressChange, [this](int, int) { states.append(browser->ReadyState()); });
        QObject::connect(browser, &WebBrowser::TitleChange, [this](const QString& t) { titles.append(t); });
        QObject::connect(browser, &WebBrowser::StatusTextChange, [this](const QString& t) { statusTexts.append(t); });
        QObject::connect(browser, &WebBrowser::DocumentComplete, [this](const QString&) { ++completes; });
        host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
    }

    void TearDown() override {
        closeAllBrowserWindows(*session);
        host.reset();  // takes the browser with it
    }

    // Navigates and waits for the document's completion.
    bool load(const QString& address) {
        const int before = completes;
        if (!browser->Navigate(address)) return false;
        return waitUntil([&] { return completes > before; });
    }

    QVariant evaluate(const QString& script) {
        // The answer may come after a timeout: it must not land on this stack frame.
        auto answer = std::make_shared<std::optional<QVariant>>();
        shownPage()->runJavaScript(script, [answer](const QVariant& v) { *answer = v; });
        waitUntil([&] { return answer->has_value(); });
        return answer->value_or(QVariant());
    }

    QPoint globalOf(const QPoint& inView) { return browser->widget()->mapToGlobal(inView); }
    // Clicks the page at `inView` with the real pointer until the page has seen the press:
    // right after the window is moved, the engine may not take input yet and drops it.
    bool clickPage(const QPoint& inView) {
        evaluate(QStringLiteral("window.pressed = 0; addEventListener('mousedown', () => window.pressed++, true)"));
        for (int tries = 0; tries < 5; ++tries) {
            pointerAt(globalOf(inView), 1);
            if (waitUntil([&] { return evaluate(QStringLiteral("window.pressed")).toInt() > 0; }, 2000, 50)) return true;
        }
        return false;
    }
    // The page shown by the browser's widget (its engine view).
    QWebEnginePage* shownPage() { return browser->widget()->findChild<QWebEngineView*>()->page(); }

    static HttpServer* server;
    static EngineSession* session;
    std::unique_ptr<QWidget> host;
    WebEngineBrowser* browser = nullptr;
    QList<int> states;
    QStringList titles;
    QStringList statusTexts;
    int completes = 0;
};

HttpServer* WebEngineBrowserTest::server = nullptr;
EngineSession* WebEngineBrowserTest::session = nullptr;

// Navigate loads what the typed-address rule gives (a local file for an absolute path),
// and refuses, leaving the browser as it was, when nothing is loadable.
TEST_F(WebEngineBrowserTest, NavigateRunsTheLoadThroughReadyStatesAndEvents) {
    EXPECT_FALSE(browser->Navigate(QStringLiteral("   ")));
    EXPECT_FALSE(browser->Refresh());
    EXPECT_EQ(browser->ReadyState(), 0);
    EXPECT_EQ(browser->Document(), nullptr);
    EXPECT_TRUE(browser->LocationURL().isEmpty());

    ASSERT_TRUE(load(server->url("/a.html")));
    EXPECT_EQ(browser->ReadyState(), 4);
    ASSERT_FALSE(states.isEmpty());
    EXPECT_EQ(states.first(), 1);
    EXPECT_EQ(states.last(), 4);
    for (int i = 1; i < states.size(); ++i) EXPECT_LE(states[i - 1], states[i]) << "states went back";
    EXPECT_TRUE(titles.contains(QStringLiteral("Page A")));
    EXPECT_EQ(browser->LocationName(), QStringLiteral("Page A"));
    EXPECT_EQ(browser->LocationURL(), server->url("/a.html"));
    EXPECT_NE(browser->Document(), nullptr);
    // The document object stays the same while the page does.
    EXPECT_EQ(browser->Document(), browser->Document());

    // The next page: a new document object, and back/forward through the history.
    const std::shared_ptr<HtmlDocument> first = browser->Document();
    ASSERT_TRUE(load(server->url("/b.html")));
    EXPECT_NE(browser->Document(), first);
    EXPECT_FALSE(browser->GoForward());
    const int before = completes;
    EXPECT_TRUE(browser->GoBack());
    ASSERT_TRUE(waitUntil([&] { return completes > before && browser->LocationName() == "Page A"; }));
    EXPECT_EQ(browser->LocationURL(), server->url("/a.html"));
    EXPECT_FALSE(browser->GoBack());
    EXPECT_TRUE(browser->GoForward());
    ASSERT_TRUE(waitUntil([&] { return browser->LocationName() == "Page B"; }));

    // Refresh reloads from the server.
    const int requests = server->requestCount("/b.html");
    EXPECT_TRUE(browser->Refresh());
    ASSERT_TRUE(waitUntil([&] { return server->requestCount("/b.html") > requests; }));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("local page.html"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(page("Local File", "<p>from disk</p>"));
    file.close();
    ASSERT_TRUE(load(path));
    EXPECT_EQ(browser->LocationName(), QStringLiteral("Local File"));
    EXPECT_EQ(browser->LocationURL(), QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
    EXPECT_TRUE(browser->LocationURL().endsWith(QStringLiteral("/local%20page.html")));
}

TEST_F(WebEngineBrowserTest, HoveringALinkGivesItsAbsoluteAddressAndLeavingClearsIt) {
    server->route("/links.html",
                  page("Links", "<a id=l href=\"target.html?x=1\" style=\"display:block;width:400px;height:200px;"
                                "background:#ccc\">target</a><div style=\"height:300px\"></div>"));
    ASSERT_TRUE(load(server->url("/links.html")));
    pointerAt(globalOf(QPoint(600, 600)));
    settle(100);
    statusTexts.clear();

    pointerAt(globalOf(QPoint(200, 100)));
    const QString target = server->url("/target.html") + QStringLiteral("?x=1");
    ASSERT_TRUE(waitUntil([&] { return statusTexts.contains(target); })) << statusTexts.join(QLatin1Char('|')).toStdString();

    pointerAt(globalOf(QPoint(600, 600)));
    ASSERT_TRUE(waitUntil([&] { return !statusTexts.isEmpty() && statusTexts.last().isEmpty(); }));
}

TEST_F(WebEngineBrowserTest, OnlyHtmlDocumentsCanBeBound) {
    ASSERT_TRUE(load(server->url("/plain.txt")));
    EXPECT_EQ(browser->ReadyState(), 4);
    EXPECT_EQ(browser->Document(), nullptr);

    ASSERT_TRUE(load(server->url("/x.xhtml")));
    EXPECT_NE(browser->Document(), nullptr);

    ASSERT_TRUE(load(server->url("/a.html")));
    EXPECT_NE(browser->Document(), nullptr);

    // A page that failed to load still completes (the engine's error page).
    ASSERT_TRUE(load(QStringLiteral("http://127.0.0.1:1/")));
    EXPECT_EQ(browser->ReadyState(), 4);
}

TEST_F(WebEngineBrowserTest, InnerHtmlIsTheMarkupInsideTheRootAndNeverAnswersForAGoneDocument) {
    server->route("/markup.html", "<!DOCTYPE html><html><head><title>M</title></head><body><p id=\"x\">Hello &amp; bye</p></body></html>");
    ASSERT_TRUE(load(server->url("/markup.html")));
    std::shared_ptr<HtmlDocument> document = browser->Document();
    ASSERT_NE(document, nullptr);

    std::optional<QString> markup;
    bool answered = false;
    document->documentElementInnerHTML([&](std::optional<QString> m) {
        markup = std::move(m);
        answered = true;
    });
    ASSERT_TRUE(waitUntil([&] { return answered; }));
    ASSERT_TRUE(markup.has_value());
    EXPECT_EQ(*markup, QStringLiteral("<head><title>M</title></head><body><p id=\"x\">Hello &amp; bye</p></body>"));

    // A document replaced by the next page answers nothing any more.
    int lateCalls = 0;
    ASSERT_TRUE(load(server->url("/a.html")));
    document->documentElementInnerHTML([&](std::optional<QString>) { ++lateCalls; });
    settle(500);
    EXPECT_EQ(lateCalls, 0);

    // The browser goes away while the page is busy and the answer is pending: no call.
    std::shared_ptr<HtmlDocument> current = browser->Document();
    ASSERT_NE(current, nullptr);
    evaluate(QStringLiteral("setTimeout(function() { var t = Date.now(); while (Date.now() - t < 1500); }, 0)"));
    current->documentElementInnerHTML([&](std::optional<QString>) { ++lateCalls; });
    host.reset();
    settle(2500);
    EXPECT_EQ(lateCalls, 0);
    // A document whose browser is gone answers nothing and refuses commands.
    EXPECT_FALSE(current->execCommand(QStringLiteral("copy")));
}

TEST_F(WebEngineBrowserTest, CopyAndPasteGoThroughTheClipboard) {
    server->route("/edit.html", page("Edit", "<p id=t>CopyMe123</p><input id=in value=\"\">"));
    ASSERT_TRUE(load(server->url("/edit.html")));
    std::shared_ptr<HtmlDocument> document = browser->Document();
    ASSERT_NE(document, nullptr);
    host->activateWindow();
    browser->widget()->setFocus();

    QGuiApplication::clipboard()->clear();
    evaluate(QStringLiteral("var r=document.createRange();r.selectNodeContents(document.getElementById('t'));"
                            "getSelection().removeAllRanges();getSelection().addRange(r);"));
    EXPECT_TRUE(document->execCommand(QStringLiteral("copy")));
    ASSERT_TRUE(waitUntil([] { return QGuiApplication::clipboard()->text().contains(QLatin1String("CopyMe123")); }));

    QGuiApplication::clipboard()->setText(QStringLiteral("Pasted42"));
    evaluate(QStringLiteral("document.getElementById('in').focus()"));
    EXPECT_TRUE(document->execCommand(QStringLiteral("paste")));
    ASSERT_TRUE(waitUntil([&] {
        return evaluate(QStringLiteral("document.getElementById('in').value")).toString() == QLatin1String("Pasted42");
    }));

    const int requests = server->requestCount("/edit.html");
    EXPECT_TRUE(document->execCommand(QStringLiteral("refresh")));
    ASSERT_TRUE(waitUntil([&] { return server->requestCount("/edit.html") > requests; }));

    EXPECT_FALSE(document->execCommand(QStringLiteral("bold")));
    EXPECT_FALSE(document->execCommand(QString()));
}

TEST_F(WebEngineBrowserTest, SavingChoosesTheFormatFromTheFileName) {
    server->route("/save.html", page("Saved Page", "<p>SaveMarker777</p>"));
    ASSERT_TRUE(load(server->url("/save.html")));
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("page.mht"));
    const QString complete = dir.filePath(QStringLiteral("page.html"));

    ASSERT_TRUE(browser->savePage(archive));
    auto contentOf = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    ASSERT_TRUE(waitUntil([&] { return contentOf(archive).contains("SaveMarker777"); }));
    EXPECT_TRUE(contentOf(archive).contains("multipart/related"));

    ASSERT_TRUE(browser->savePage(complete));
    ASSERT_TRUE(waitUntil([&] { return contentOf(complete).contains("SaveMarker777"); }));
    EXPECT_FALSE(contentOf(complete).contains("multipart/related"));
    EXPECT_TRUE(contentOf(complete).contains("<title>Saved Page</title>"));

    EXPECT_FALSE(browser->savePage(QString()));
}

TEST_F(WebEngineBrowserTest, PrintingKeepsThePrinterUntilTheEngineIsDone) {
    server->route("/print.html", page("Print", "<h1>PrintMarker</h1>"));
    ASSERT_TRUE(load(server->url("/print.html")));
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(pdf);

    std::optional<bool> outcome;
    ASSERT_TRUE(browser->printPage(std::move(printer), [&](bool ok) { outcome = ok; }));
    // One print at a time.
    EXPECT_FALSE(browser->printPage(std::make_unique<QPrinter>()));
    ASSERT_TRUE(waitUntil([&] { return outcome.has_value(); }, 60000));
    EXPECT_TRUE(*outcome);
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.read(5) == "%PDF-");
    // Free again for the next print.
    auto next = std::make_unique<QPrinter>();
    next->setOutputFormat(QPrinter::PdfFormat);
    next->setOutputFileName(dir.filePath(QStringLiteral("next.pdf")));
    std::optional<bool> nextOutcome;
    EXPECT_TRUE(browser->printPage(std::move(next), [&](bool ok) { nextOutcome = ok; }));
    ASSERT_TRUE(waitUntil([&] { return nextOutcome.has_value(); }, 60000));
}

TEST_F(WebEngineBrowserTest, StopEndsAPendingLoad) {
    ASSERT_TRUE(browser->Navigate(server->url("/slow.html")));
    ASSERT_TRUE(waitUntil([&] { return server->requestCount("/slow.html") > 0; }));
    EXPECT_TRUE(browser->ReadyState() == 1 || browser->ReadyState() == 3);
    EXPECT_TRUE(browser->Stop());
    ASSERT_TRUE(waitUntil([&] { return browser->ReadyState() == 4; }, 15000));
}

// A killed renderer: the page is reported dead under its address (uninitialized, no
// document) until it loads again; Refresh reloads it.
TEST_F(WebEngineBrowserTest, ARendererCrashEndsTheLoadAndTheBrowserGoesOn) {
    ASSERT_TRUE(load(server->url("/a.html")));
    const qint64 pid = shownPage()->renderProcessPid();
    ASSERT_GT(pid, 0);
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return browser->Document() == nullptr; }));
    EXPECT_EQ(browser->ReadyState(), 0);
    EXPECT_EQ(titles.last(), QStringLiteral("Page killed: Page A"));
    EXPECT_EQ(browser->LocationName(), titles.last());
    EXPECT_EQ(browser->LocationURL(), server->url("/a.html"));

    const int requests = server->requestCount("/a.html"), completed = completes;
    ASSERT_TRUE(browser->Refresh());
    ASSERT_TRUE(waitUntil([&] { return completes > completed && browser->LocationName() == QStringLiteral("Page A"); }));
    EXPECT_EQ(server->requestCount("/a.html"), requests + 1);
    ASSERT_TRUE(load(server->url("/b.html")));
    EXPECT_EQ(browser->LocationName(), QStringLiteral("Page B"));
    EXPECT_NE(browser->Document(), nullptr);
}

TEST_F(WebEngineBrowserTest, ARightClickGoesToTheBoundDocumentInsteadOfTheEngineMenu) {
    // Closes whatever menu is open; true once none is. The engine's own request for a menu
    // can come well after the click, while the test has moved on to the next binding.
    const auto closeMenus = [] {
        if (QWidget* menu = QApplication::activePopupWidget()) menu->close();
        return QApplication::activePopupWidget() == nullptr;
    };
    ASSERT_TRUE(load(server->url("/a.html")));
    std::shared_ptr<HtmlDocument> document = browser->Document();
    ASSERT_NE(document, nullptr);
    const QPoint inPage = globalOf(QPoint(300, 300));

    // Bound: the handler runs, the engine's menu stays away.
    int calls = 0;
    document->oncontextmenu = [&] {
        ++calls;
        return false;
    };
    pointerAt(inPage, 3);
    ASSERT_TRUE(waitUntil([&] { return calls == 1; }));
    settle(700);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    // A handler that lets the page's menu show.
    document->oncontextmenu = [&] {
        ++calls;
        return true;
    };
    pointerAt(inPage, 3);
    ASSERT_TRUE(waitUntil([&] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; }));
    EXPECT_EQ(calls, 2);
    ASSERT_TRUE(waitUntil(closeMenus));

    // Unbound (no handler): the engine's own menu.
    document->oncontextmenu = nullptr;
    pointerAt(inPage, 3);
    ASSERT_TRUE(waitUntil([&] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; }));
    ASSERT_TRUE(waitUntil(closeMenus));
    EXPECT_EQ(calls, 2);
}

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

// 50 MB that compress to nothing in common: each run's own bytes from a printed seed.
QByteArray largeBody(qint64 bytes) {
    const quint32 seed = qEnvironmentVariableIsSet("TARNWICK_SEED") ? qEnvironmentVariableIntValue("TARNWICK_SEED")
                                                                     : QRandomGenerator::global()->generate();
    std::printf("download body seed %u (TARNWICK_SEED)\n", seed);
    QRandomGenerator random(seed);
    QByteArray body(bytes, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32*>(body.data()), bytes / 4);
    return body;
}

QByteArray fileContent(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST_F(WebEngineBrowserTest, DownloadsArriveWholeAndOnlyThenCarryTheirNameAndLeaveNothingWhenCancelledOrCutOff) {
    constexpr qint64 kSize = 50 * 1024 * 1024;
    const QByteArray body = largeBody(kSize);
    const QByteArray attachment = "Content-Disposition: attachment; filename=\"big.bin\"\r\n";
    for (const char* path : {"/big.bin", "/cancel.bin", "/cut.bin", "/popup.bin"}) {
        server->route(path, body, "application/octet-stream");
        server->setHeaders(path, attachment);
        server->setPacing(path, 512 * 1024, 40, QByteArray(path) == "/cut.bin" ? 10 * 1024 * 1024 : -1);
    }
    QList<QPointer<Download>> requested;
    QObject::connect(browser, &WebBrowser::DownloadRequested, [&](Download* d) { requested.append(d); });
    int refused = 0;
    QObject::connect(browser, &WebBrowser::Refused, [&](WebBrowser::Refusal what) {
        EXPECT_EQ(what, WebBrowser::Refusal::Download);
        ++refused;
    });
    QTemporaryDir target;
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);

    ASSERT_TRUE(browser->Navigate(server->url("/cut.bin")));
    ASSERT_TRUE(waitUntil([&] { return requested.size() == 1; }));
    QPointer<Download> cut = requested.takeLast();
    const QString cutPath = target.filePath(QStringLiteral("cut.bin"));
    cut->accept(cutPath);
    ASSERT_TRUE(waitUntil([&] { return cut->state() == Download::State::Failed; }, 60000)) << int(cut->state());
    EXPECT_LT(cut->receivedBytes(), kSize);

    // A link with a response the browser cannot show: proposed under the server's name in
    // the download folder, received into "big.bin.part" meanwhile.
    server->route("/links.html", page("Links", "<a id=l href=big.bin style=\"display:block;width:300px;height:150px;"
                                               "background:#ccc\">big</a><a href=popup.bin target=_blank "
                                               "style=\"display:block;width:300px;height:150px\">popup</a>"));
    ASSERT_TRUE(load(server->url("/links.html")));
    // A download the page starts by itself is refused, before anything is received.
    const int before = server->requestCount("/popup.bin");
    evaluate(QStringLiteral("var a = document.createElement('a'); a.href = 'popup.bin'; a.download = '';"
                            " document.body.appendChild(a); a.click();"));
    ASSERT_TRUE(waitUntil([&] { return refused == 1; }));
    EXPECT_EQ(server->requestCount("/popup.bin"), before + 1);
    EXPECT_TRUE(requested.isEmpty());
    pointerAt(globalOf(QPoint(150, 75)), 1);
    ASSERT_TRUE(waitUntil([&] { return requested.size() == 1; }));
    QPointer<Download> big = requested[0];
    EXPECT_EQ(big->proposedPath(), downloads + QStringLiteral("/big.bin"));
    EXPECT_EQ(big->state(), Download::State::Asking);
    const QString chosen = target.filePath(QStringLiteral("chosen.bin"));
    big->accept(chosen);
    // While it runs: progress between nothing and all, the final name absent, and a file
    // that appears under the chosen name meanwhile (not confirmed by the user) is kept.
    QList<qint64> progress;
    QObject::connect(big, &Download::Changed, [&] { progress.append(big->receivedBytes()); });
    ASSERT_TRUE(waitUntil([&] { return big->receivedBytes() > 0 && big->receivedBytes() < kSize; }));
    EXPECT_EQ(big->totalBytes(), kSize);
    EXPECT_FALSE(QFileInfo::exists(chosen));
    // Nothing in the download folder: it is received where only the program looks.
    EXPECT_TRUE(QDir(downloads).entryList(QDir::Files | QDir::Hidden).isEmpty());
    {
        QFile other(chosen);
        ASSERT_TRUE(other.open(QIODevice::WriteOnly));
        other.write("not yours");
    }
    ASSERT_TRUE(waitUntil([&] { return big->state() == Download::State::Completed; }, 120000))
        << int(big->state()) << " " << big->receivedBytes();
    int between = 0;
    for (qint64 n : progress) between += n > 0 && n < kSize;
    EXPECT_GE(between, 3) << "progress while it ran";
    EXPECT_EQ(big->path(), target.filePath(QStringLiteral("chosen (2).bin")));
    EXPECT_EQ(fileContent(chosen), QByteArray("not yours"));
    const QByteArray arrived = fileContent(big->path());
    EXPECT_EQ(arrived.size(), kSize);
    EXPECT_TRUE(arrived == body) << "bytes differ";
    EXPECT_FALSE(QFileInfo::exists(downloads + QStringLiteral("/big.bin.part")));

    // Cancelled while running, and cut off by the server: reported, nothing left.
    ASSERT_TRUE(browser->Navigate(server->url("/cancel.bin")));
    ASSERT_TRUE(waitUntil([&] { return requested.size() == 2; }));
    QPointer<Download> cancelled = requested[1];
    const QString cancelledPath = target.filePath(QStringLiteral("cancelled.bin"));
    cancelled->accept(cancelledPath);
    ASSERT_TRUE(waitUntil([&] { return cancelled->receivedBytes() > 0; }));
    cancelled->cancel();
    EXPECT_EQ(cancelled->state(), Download::State::Cancelled);


    // A download in a window the person's click opened goes on after the window is closed
    // (as by the sweep), and the user is asked only once it is known to be a download.
    ASSERT_TRUE(load(server->url("/links.html")));
    pointerAt(globalOf(QPoint(150, 225)), 1);
    ASSERT_TRUE(waitUntil([&] { return requested.size() == 3; }));
    QPointer<Download> fromPopup = requested[2];
    closeAllBrowserWindows(*session);
    fromPopup->accept(target.filePath(QStringLiteral("popup.bin")));
    ASSERT_TRUE(waitUntil([&] { return fromPopup->state() == Download::State::Completed; }, 120000));
    EXPECT_EQ(QFileInfo(target.filePath(QStringLiteral("popup.bin"))).size(), kSize);

    // Nothing of the cancelled and the cut-off download stays, under any name.
    EXPECT_FALSE(QFileInfo::exists(cancelledPath));
    EXPECT_FALSE(QFileInfo::exists(cutPath));
    EXPECT_EQ(refused, 1);
    ASSERT_TRUE(waitUntil([&] { return QDir(downloads).entryList(QDir::Files | QDir::Hidden).isEmpty(); }))
        << QDir(downloads).entryList(QDir::Files | QDir::Hidden).join(QLatin1Char(' ')).toStdString();
}

TEST_F(WebEngineBrowserTest, LoginsAreAskedForTheMainPageOnlyAndARefusalShowsTheSitesPage) {
    const QByteArray refusal = page("Refused 401", "<p>no entry</p>");
    server->route("/secret.html", page("Secret", "<p>inside</p>"));
    server->requireLogin("/secret.html", "Vault", "ann", "pa:ss w", refusal);
    server->route("/other.html", page("Other Secret", "<p>inside</p>"));
    server->requireLogin("/other.html", "Other realm", "ann", "x", refusal);
    server->route("/popup-secret.html", page("Popup Secret", "<p>inside</p>"));
    server->requireLogin("/popup-secret.html", "Popup realm", "ann", "x", page("Popup Refused", ""));

    QList<LoginRequest> asked;
    bool answer = true;
    browser->loginPrompt = [&](LoginRequest& request) {
        asked.append(request);
        request.user = QStringLiteral("ann");
        request.password = QStringLiteral("pa:ss w");
        return answer;
    };
    ASSERT_TRUE(load(server->url("/secret.html")));
    EXPECT_EQ(browser->LocationName(), QStringLiteral("Secret"));
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0].realm, QStringLiteral("Vault"));
    EXPECT_EQ(asked[0].site.host(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(asked[0].site.port(), server->port());
    EXPECT_FALSE(asked[0].proxy);

    // Refused: the server's own 401 page.
    answer = false;
    ASSERT_TRUE(load(server->url("/other.html")));
    EXPECT_EQ(browser->LocationName(), QStringLiteral("Refused 401"));
    EXPECT_EQ(asked.size(), 2);

    // A popup window never asks: it shows the refusal.
    answer = true;
    evaluate(QStringLiteral("window.open('popup-secret.html')"));
    const bool refused = waitUntil([] { return browserWindowTitled("Popup Refused - Microsoft Internet Explorer"); });
    for (BrowserWindow* w : browserWindows()) std::printf("popup: %s %s\n", qPrintable(w->windowTitle()), qPrintable(w->page()->url().toString()));
    ASSERT_TRUE(refused) << server->requestCount("/popup-secret.html");
    EXPECT_EQ(asked.size(), 2);
}

TEST_F(WebEngineBrowserTest, FullScreenShowsThePageAloneAndEscRestoresTheWindowWhilePermissionsAreDenied) {
    server->route("/video.html",
                  page("Video", "<button id=b style=\"width:300px;height:150px\" "
                                "onclick=\"document.documentElement.requestFullscreen().then("
                                "function(){document.title='full'},function(e){document.title='refused '+e})\">go</button>"));
    QStringList permissions;
    QObject::connect(browser, &WebBrowser::Refused, [&](WebBrowser::Refusal what, const Denial& details) {
        if (what == WebBrowser::Refusal::Permission) permissions << details.text;
    });
    ASSERT_TRUE(load(server->url("/video.html")));

    // Permissions: denied at once, and no window asks the user.
    const int windowsBefore = QApplication::topLevelWidgets().size();
    EXPECT_EQ(evaluate(QStringLiteral("Notification.permission")).toString(), QStringLiteral("default"));
    evaluate(QStringLiteral("Notification.requestPermission().then(function(p){window.notify=p});"
                            "navigator.geolocation.getCurrentPosition(function(){window.geo='granted'},"
                            "function(e){window.geo='error '+e.code});"
                            "navigator.mediaDevices.getUserMedia({audio:true}).then(function(){window.mic='granted'},"
                            "function(e){window.mic=e.name})"));
    ASSERT_TRUE(waitUntil([&] { return evaluate(QStringLiteral("window.notify")).toString() == "denied"; }));
    ASSERT_TRUE(waitUntil([&] { return evaluate(QStringLiteral("window.geo")).toString() == "error 1"; }));
    ASSERT_TRUE(waitUntil([&] { return !evaluate(QStringLiteral("window.mic")).toString().isEmpty(); }));
    EXPECT_NE(evaluate(QStringLiteral("window.mic")).toString(), QStringLiteral("granted"));
    EXPECT_EQ(QApplication::topLevelWidgets().size(), windowsBefore);
    // Each refusal is reported, to be counted and listed, with what was asked.
    EXPECT_TRUE(permissions.contains(QStringLiteral("Notifications")) && permissions.contains(QStringLiteral("Geolocation")))
        << permissions.join(QLatin1Char(' ')).toStdString();

    // Full screen from a real click (a page may ask only on a user's gesture).
    host->move(40, 30);
    ASSERT_TRUE(waitUntil([&] { return host->pos() == QPoint(40, 30); }));
    const QRect frame = host->frameGeometry(), inner = host->geometry();
    QWebEnginePage* pageOf = shownPage();
    ASSERT_TRUE(clickPage(QPoint(150, 75))) << "the page never saw the click";
    ASSERT_TRUE(waitUntil([&] { return browser->LocationName() == "full"; })) << browser->LocationName().toStdString();
    ASSERT_TRUE(browser->isFullScreen());
    QWidget* alone = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowState().testFlag(Qt::WindowFullScreen)) alone = w;
    ASSERT_NE(alone, nullptr);
    const QRect screen = alone->screen()->geometry();
    ASSERT_TRUE(waitUntil([&] { return alone->geometry() == screen; })) << alone->geometry().width();
    EXPECT_FALSE(alone->windowTitle().endsWith(QLatin1String("Microsoft Internet Explorer")));
    EXPECT_TRUE(host->isVisible());  // the window stays as it was behind the page

    run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
    ASSERT_TRUE(waitUntil([&] { return !browser->isFullScreen(); }));
    ASSERT_TRUE(waitUntil([&] { return evaluate(QStringLiteral("document.fullscreenElement === null")).toBool(); }));
    EXPECT_EQ(host->frameGeometry(), frame);
    EXPECT_EQ(host->geometry(), inner);
    EXPECT_EQ(shownPage(), pageOf);
    EXPECT_EQ(pageOf->url(), server->url("/video.html"));
    EXPECT_EQ(browser->widget()->geometry(), QRect(0, 0, 900, 700));

    // The page's own exit request ends it as well.
    pointerAt(globalOf(QPoint(150, 75)), 1);
    ASSERT_TRUE(waitUntil([&] { return browser->isFullScreen(); }));
    // (While full screen the browser's view, with its page, is in the full-screen window.)
    EXPECT_EQ(browser->widget()->window()->windowState() & Qt::WindowFullScreen, Qt::WindowFullScreen);
    pageOf->runJavaScript(QStringLiteral("document.exitFullscreen()"));
    ASSERT_TRUE(waitUntil([&] { return !browser->isFullScreen(); }));
    EXPECT_EQ(host->frameGeometry(), frame);
}

// The built program: what a page stored seconds before Ctrl+E is there at the next start;
// a second instance started meanwhile runs beside it on a profile of its own; the login
// dialog lets the person into a protected site; a download goes through the save dialog
// into the downloads window, which the sweep leaves alone and Escape closes. All of it
// keeps one data folder.
TEST(BrowserProfileJourney, StoredDataOutlivesCtrlEAndASecondInstanceRunsLoginsAndDownloadsAsk) {
    HttpServer server;
    ASSERT_TRUE(server.ok());
    server.route("/set.html", page("Set", "<script>localStorage.setItem('k', 'v1')</script>"));
    server.setHeaders("/set.html", "Set-Cookie: visit=42; Max-Age=3600; Path=/\r\n");
    server.route("/check.html", page("Check", "<script>document.title = 'stored ' + localStorage.getItem('k')</script>"));
    server.route("/dl.html", page("Downloads", "<a href=file.bin style=\"display:block;height:300px;background:#ccf\">get</a>"));
    const QByteArray body = largeBody(8 * 1024 * 1024);
    server.route("/file.bin", body, "application/octet-stream");
    server.setHeaders("/file.bin", "Content-Disposition: attachment; filename=\"file.bin\"\r\n");
    server.setPacing("/file.bin", 256 * 1024, 50);
    QTemporaryDir profile;
    auto start = [&](TarnwickProcess& program, const char* path, const QString& title) {
        program.setIni("[Tarnwick]\r\nDefaultURL=" + server.url(path).toUtf8() + "\r\n");
        program.setEnv(QStringLiteral("XDG_DATA_HOME"), profile.filePath(QStringLiteral("data")));
        program.setEnv(QStringLiteral("XDG_CACHE_HOME"), profile.filePath(QStringLiteral("cache")));
        return program.start() && program.waitForMainWindow() != 0 && program.waitForMainTitle(title);
    };

    TarnwickProcess first;
    ASSERT_TRUE(start(first, "/set.html", QStringLiteral("Set - Tarnwick"))) << first.mainTitle().toStdString();
    // The second instance: off the record, so it sees neither the cookie nor the storage.
    {
        TarnwickProcess second;
        ASSERT_TRUE(start(second, "/check.html", QStringLiteral("stored null - Tarnwick"))) << second.log().toStdString();
        EXPECT_FALSE(server.lastRequest("/check.html").contains("visit=42"));
        ASSERT_TRUE(second.key(QStringLiteral("ctrl+e")));
        ASSERT_TRUE(second.waitForExit(10000));
        EXPECT_EQ(second.exitCode(), 0);
    }
    ASSERT_TRUE(first.key(QStringLiteral("ctrl+e")));
    QElapsedTimer ending;
    ending.start();
    ASSERT_TRUE(first.waitForExit(10000));
    std::printf("Ctrl+E to the end of the process: %lld ms\n", static_cast<long long>(ending.elapsed()));
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(first.crashed());

    TarnwickProcess third;
    ASSERT_TRUE(start(third, "/check.html", QStringLiteral("stored v1 - Tarnwick"))) << third.mainTitle().toStdString();
    EXPECT_TRUE(server.lastRequest("/check.html").contains("\r\nCookie: visit=42\r\n"))
        << server.lastRequest("/check.html").toStdString();

    // A site behind a login: the dialog asks, the page opens with what the person typed.
    server.route("/members.html", page("Members", "<p>inside</p>"));
    server.requireLogin("/members.html", "Club", "ann", "secret", page("Refused", ""));
    ASSERT_TRUE(third.enterAddress(server.url("/members.html")));
    const std::uint32_t login = third.waitForOwnWindow(QStringLiteral("Login"));
    ASSERT_NE(login, 0u);
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(login)}));
    ASSERT_TRUE(third.type(QStringLiteral("ann")));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Tab")}));
    ASSERT_TRUE(third.type(QStringLiteral("secret")));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")}));
    ASSERT_TRUE(third.waitForMainTitle(QStringLiteral("Members - Tarnwick"))) << third.mainTitle().toStdString();

    // A download: the save dialog proposes the server's name; the file is saved where the
    // person says, listed in the downloads window while it runs.
    ASSERT_TRUE(third.enterAddress(server.url("/dl.html")));
    ASSERT_TRUE(third.waitForMainTitle(QStringLiteral("Downloads - Tarnwick")));
    ASSERT_TRUE(third.pointerTo(200, third.pageTop() + 100) && third.click());
    const std::uint32_t saveDialog = third.waitForOwnWindow(QStringLiteral("Save File"));
    ASSERT_NE(saveDialog, 0u);
    // The pointer leaves the link, so the sweep below has no link to open.
    ASSERT_TRUE(third.pointerTo(200, third.pageTop() + 420));
    QTemporaryDir target;
    const QString saved = target.filePath(QStringLiteral("saved.bin"));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(saveDialog)}));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+a")}));
    ASSERT_TRUE(third.type(saved));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Return")}));
    const std::uint32_t downloads = third.waitForOwnWindow(QStringLiteral("Downloads"));
    ASSERT_NE(downloads, 0u);
    EXPECT_FALSE(QFileInfo::exists(saved)) << "complete already: the test's pacing is too fast";
    // The sweep runs on (a foreign browser window goes) and leaves the downloads window.
    QProcess foreign;
    foreign.start(QStringLiteral(TARNWICK_BINARY_DIR "/xwin"), {QStringLiteral("--title"), QStringLiteral("Microsoft Internet Explorer")});
    ASSERT_TRUE(foreign.waitForFinished(10000));
    EXPECT_TRUE(third.desktop().exists(downloads));
    ASSERT_TRUE(waitUntil([&] { return fileContent(saved) == body; }, 60000));
    EXPECT_TRUE(third.desktop().exists(downloads));
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                                    QString::number(downloads), QStringLiteral("key"), QStringLiteral("Escape")}));
    EXPECT_TRUE(waitUntil([&] { return !third.desktop().exists(downloads); })) << "Escape left the downloads window";
    EXPECT_TRUE(third.running());
    ASSERT_TRUE(third.closeWindow(third.mainWindow()));
    ASSERT_TRUE(third.waitForExit(10000)) << third.log().right(3000).toStdString();
    // The engine kept nothing beside the profile's own folder (not even the preferences it
    // writes while a profile is set up, nor the second instance's).
    const QStringList kept = QDir(profile.filePath(QStringLiteral("data"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    EXPECT_EQ(kept, QStringList{QStringLiteral("tarnwick")}) << qPrintable(kept.join(QStringLiteral(", ")));
}

}  // namespace
