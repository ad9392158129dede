#pragma once

// What the engine adapter's tests share: the loopback server and the engine's session
// for the whole suite, the browser's own windows, and a page of a title and a body.

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

namespace webengine_test {

inline QString run(const QString& program, const QStringList& args) {
    QByteArray output;
    runTool(program, args, 10000, &output);
    return QString::fromUtf8(output);
}

inline QString netWmName(WId window) {
    return run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window), QStringLiteral("_NET_WM_NAME")}).trimmed();
}

inline QList<BrowserWindow*> browserWindows() {
    QList<BrowserWindow*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<BrowserWindow*>(w)) found.append(window);
    return found;
}

inline BrowserWindow* browserWindowTitled(const QString& title) {
    for (BrowserWindow* w : browserWindows())
        if (w->windowTitle() == title) return w;
    return nullptr;
}

inline void closeAllBrowserWindows(const EngineSession& session) {
    for (BrowserWindow* w : browserWindows()) w->close();
    waitUntil([&] { return session.openWindowCount() == 0; });
}

// Resident memory of this process and all its descendants (the engine's helpers), kB.
inline qint64 processTreeRssKb() {
    qint64 total = 0;
    for (const ProcStat& p : processTree(getpid())) total += procStatusKb(p.pid, "VmRSS");
    return total;
}

inline QByteArray page(const QByteArray& title, const QByteArray& body, const QByteArray& head = {}) {
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

inline HttpServer* WebEngineBrowserTest::server = nullptr;
inline EngineSession* WebEngineBrowserTest::session = nullptr;

// Navigate loads what the typed-address rule gives (a local file for an absolute path),
// and refuses, leaving the browser as it was, when nothing is loadable.

}  // namespace webengine_test

using namespace webengine_test;
