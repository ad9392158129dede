#pragma once

// The built program under test with a loopback web server of its own: every test starts
// one tarnwick and one server, and drives the program from outside.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QFile>
#include <QString>
#include <QStringList>
#include <cstdio>

#include "http_server.h"
#include "tarnwick_process.h"
#include "test_env.h"

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.ok());
        server.route(QStringLiteral("/loaded"), "", "text/plain");
        keepOffline(app);
    }

    // Nothing the program opens may leave this machine: every address but the loopback
    // ones goes to a proxy that is not there.
    static void keepOffline(TarnwickProcess& process) {
        process.setEnv(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"),
                       QString::fromLatin1(testenv::kEngineFlags) + QStringLiteral(" --proxy-server=127.0.0.1:9"));
    }

    void TearDown() override {
        if (HasFailure()) {
            const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
            const QString name = QString::fromLatin1(info->test_suite_name()) + QLatin1Char('.') +
                                 QString::fromLatin1(info->name());
            const QString shot = app.screenshot(name);
            std::fprintf(stderr, "screenshot: %s\n--- tarnwick output (tail) ---\n%s\n", qPrintable(shot),
                         app.log().right(4000).constData());
        }
    }

    // Right-clicks the page until the program's own menu shows; true once it does. The
    // program answers with its menu only once the engine has handed over the page's
    // document, which can come after the page's own load signal: a click before that gets
    // the engine's menu, which Escape closes before the next try.
    bool openPageMenu() {
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (!app.activateMain() || !app.pointerTo(250, app.pageTop() + 120) || !app.click(3)) return false;
            if (waitUntil([&] { return !app.ownMenus().empty(); }, 3000)) return true;
            runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
        }
        return false;
    }

    // Keys for whatever has the keyboard now: an open menu or a dialog (TarnwickProcess::key
    // activates the main window first, which would close a menu).
    static bool keysHere(const QStringList& chords) {
        return runTool(QStringLiteral("xdotool"),
                       QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("80")} + chords);
    }

    // A page with a title and a body.
    static QByteArray page(const QString& title, const QString& body = QString(), const QString& head = QString()) {
        return (QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>") + title +
                QStringLiteral("</title>") + head +
                QStringLiteral("<style>body{margin:0;font:16px sans-serif}</style></head><body>") + body +
                QStringLiteral("</body></html>"))
            .toUtf8();
    }

    // A page script that reports the end of the page's load to the server (/loaded): the
    // program binds its context menu to a page only once the page is complete.
    static QString loadedSignal() {
        return QStringLiteral(
            "<script>addEventListener('load', function () { setTimeout(function () { fetch('/loaded'); }, 0); });"
            "</script>");
    }

    // A page with one big link at its top and an empty area below it. Pointing at the link
    // and leaving it are reported to the server (/hovered, /left), so a test knows when the
    // engine has seen the pointer. The key "p" (or a click on the link, when `popupOnClick`)
    // makes the page open a popup window; the page reports that it opened one (/opened) and,
    // as long as it is shown, when that window is closed (/popup-closed).
    static QString linkPageBody(const QString& href, bool popupOnClick = false) {
        return QStringLiteral(
                   "<script>function openPopup() {"
                   "  var w = window.open('/popup', '_blank', 'width=300,height=200,left=900,top=700');"
                   "  fetch(w ? '/opened' : '/blocked');"
                   "  var t = setInterval(function () {"
                   "    if (!w || w.closed) { clearInterval(t); fetch('/popup-closed'); }"
                   "  }, 50);"
                   "  return false;"
                   "}"
                   "document.addEventListener('keydown', function (e) { if (e.key === 'p') openPopup(); });"
                   "</script>"
                   "<a id=\"link\" href=\"%1\" %2"
                   " style=\"display:block;height:160px;font-size:40px;background:#ccf\""
                   " onmouseover=\"fetch('/hovered')\" onmouseout=\"fetch('/left')\">THE LINK</a>"
                   "<div id=\"blank\" style=\"height:600px\"></div>")
            .arg(href, popupOnClick ? QStringLiteral("onclick=\"return openPopup();\"") : QString());
    }

    // Registers a stand-in browser as the desktop's handler of http and https addresses,
    // of HTML files, and of mailto: and tarnwick-test-app: addresses (another program's),
    // the way desktops register one: each start appends its arguments to `record` (each
    // followed by a NUL, each start by a line break).
    void registerStandInBrowser(const QString& record) {
        const QString tool = QStringLiteral(TARNWICK_BINARY_DIR "/fake_browser_opener");
        ASSERT_TRUE(QFileInfo(tool).isExecutable()) << qPrintable(tool) << " is not built";
        const QString applications = app.home() + QStringLiteral("/.local/share/applications");
        const QString config = app.home() + QStringLiteral("/.config");
        ASSERT_TRUE(QDir().mkpath(applications) && QDir().mkpath(config));
        ASSERT_TRUE(writeFile(applications + QStringLiteral("/tarnwick-test-browser.desktop"),
                              "[Desktop Entry]\nType=Application\nName=Stand-in Browser\nExec=" + tool.toUtf8() +
                                  " " + record.toUtf8() +
                                  " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;text/html;"
                                  "x-scheme-handler/mailto;x-scheme-handler/tarnwick-test-app;\n"));
        QByteArray defaults("[Default Applications]\n");
        for (const char* type : {"x-scheme-handler/http", "x-scheme-handler/https", "text/html",
                                 "x-scheme-handler/mailto", "x-scheme-handler/tarnwick-test-app"})
            defaults += QByteArray(type) + "=tarnwick-test-browser.desktop\n";
        ASSERT_TRUE(writeFile(config + QStringLiteral("/mimeapps.list"), defaults));
    }

    // What the stand-in records for one start with each of `addresses`, in order.
    static QByteArray standInStarts(const QStringList& addresses) {
        QByteArray starts;
        for (const QString& address : addresses) starts += address.toUtf8() + QByteArray(1, '\0') + '\n';
        return starts;
    }

    // The settings file holding `startPage` as the start page.
    static QByteArray iniWith(const QString& startPage) {
        return QByteArray("[Tarnwick]\r\nDefaultURL=") + startPage.toUtf8() + "\r\n";
    }

    // Serves a page titled `title` at `path` and starts the program with it as the start
    // page; waits until the main window's caption shows it.
    void startAt(const QString& path, const QString& title, const QString& body = QString()) {
        server.route(path, page(title, body));
        app.setIni(iniWith(server.url(path)));
        ASSERT_TRUE(app.start()) << qPrintable(app.error());
        ASSERT_NE(app.waitForMainWindow(), 0u) << "no main window";
        ASSERT_TRUE(app.waitForMainTitle(title + QStringLiteral(" - Tarnwick")))
            << "caption: " << qPrintable(app.mainTitle());
    }

    // File > Exit from the keyboard (the menu opens on its first item; Up wraps to the
    // last one, Exit).
    bool exitFromMenu() { return app.key({QStringLiteral("alt+f"), QStringLiteral("Up"), QStringLiteral("Return")}); }

    // Waits for `count` requests of `path` at least.
    bool waitForRequests(const QString& path, int count, int timeoutMs = 15000) {
        return waitUntil(
            [&] {
                app.rememberHelpers();
                return server.requestCount(path) >= count;
            },
            timeoutMs);
    }

    // A foreign window titled like a popup, opened now: once the sweep has closed it, a
    // whole sweep ran after everything before (the proof that a sweep left something be).
    void sweepBarrier() {
        QProcess sentinel;
        sentinel.start(QStringLiteral(TARNWICK_BINARY_DIR "/xwin"),
                       {QStringLiteral("--title"), QStringLiteral("Sentinel - Microsoft Internet Explorer")});
        ASSERT_TRUE(sentinel.waitForStarted());
        ASSERT_TRUE(sentinel.waitForFinished(10000)) << "the sweep did not close the sentinel window";
    }

    // Windows on the desktop whose title ends in "Microsoft Internet Explorer".
    std::vector<std::uint32_t> explorerWindows() {
        return app.desktop().clientsTitledEndingWith(QStringLiteral("Microsoft Internet Explorer"));
    }

    // The program must end within `timeoutMs` by itself, exit normally, and leave none of
    // the engine's helper processes behind.
    void expectEndsCleanly(int timeoutMs = 10000) {
        ASSERT_TRUE(app.waitForExit(timeoutMs)) << "the program is still running";
        EXPECT_FALSE(app.crashed());
        EXPECT_EQ(app.exitCode(), 0);
        EXPECT_GT(app.helpersSeen(), 0) << "no helper process of the engine was ever seen";
        QStringList alive;
        waitUntil(
            [&] {
                alive = app.helpersAlive();
                return alive.isEmpty();
            },
            15000, 100);
        EXPECT_TRUE(alive.isEmpty()) << "left running: " << qPrintable(alive.join(QStringLiteral(", ")));
    }

    static bool writeFile(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
    }
    static QByteArray readFile(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    HttpServer server;
    TarnwickProcess app;
};
