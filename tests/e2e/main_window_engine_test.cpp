// The main window in this process on the real engine and the real X11 desktop: what
// cannot be seen from outside the program (the status panels, LastStatusText, the
// context menu's caption) with real pages and real pointer motion.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

#include "app/frm_main.h"
#include "http_server.h"
#include "tarnwick_process.h"
#include "wait.h"
#include "platform/webengine/browser_window.h"
#include "platform/webengine/engine_session.h"
#include "platform/webengine/webengine_browser.h"
#include "platform/x11/x11_desktop_windows.h"
#include "window_parts.h"

namespace {

QByteArray page(const char* title, const QByteArray& body) {
    return QByteArray("<!DOCTYPE html><html><head><title>") + title +
           "</title></head><body style=\"margin:0\">" + body + "</body></html>";
}

class MainWindowOnEngine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.ok());
        oldCurrent = QDir::currentPath();
        QDir::setCurrent(workDir.path());
        server.route(QStringLiteral("/target"), page("Target", "<p>target</p>"));
        server.route(QStringLiteral("/popup"), page("Popup", "<p>popup</p>"));
    }
    void TearDown() override {
        window.reset();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<BrowserWindow*>(w)) w->close();
        waitUntil([&] { return session.openWindowCount() == 0; }, 5000);
        QDir::setCurrent(oldCurrent);
    }

    // Starts the main window on `path` and waits until that page has loaded.
    frmMain& start(const QString& path, const QString& title) {
        QFile ini(programDir.filePath(QStringLiteral("Tarnwick.ini")));
        EXPECT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[Tarnwick]\r\nDefaultURL=" + server.url(path).toUtf8() + "\r\n");
        ini.close();

        Platform platform;
        platform.createBrowser = [this](QWidget* parent) -> WebBrowser* { return new WebEngineBrowser(session, parent); };
        platform.desktop = &desktop;
        platform.openUrl = [this](const QString& address) {
            opened << address;
            return true;
        };
        platform.programFolder = programDir.path();
        platform.showOpen = [](QString&) { return false; };
        platform.endProgram = [this] { ++ends; };
        window = std::make_unique<frmMain>(platform);
        window->move(0, 0);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(waitUntil([&] {
            return window->windowTitle() == title + QStringLiteral(" - Tarnwick") && parts(*window).Browser->ReadyState() == 4 &&
                   window->boundDocument() != nullptr;
        })) << qPrintable(window->windowTitle());
        return *window;
    }

    QPoint inPage(int x, int y) const { return parts(*window).Browser->widget()->mapToGlobal(QPoint(x, y)); }

    HttpServer server;
    EngineSession session{EngineSession::Folders{}};  // off the record
    X11DesktopWindows desktop;
    QTemporaryDir programDir;
    QTemporaryDir workDir;
    QString oldCurrent;
    QStringList opened;
    int ends = 0;
    std::unique_ptr<frmMain> window;
};

const QByteArray kBigLink =
    "<a href=\"/target\" style=\"display:block;width:300px;height:150px;font-size:40px\">target</a>";

}  // namespace

TEST_F(MainWindowOnEngine, PointingAtALinkShowsItsAddressAndLeavingItBringsBackThePageState) {
    server.route(QStringLiteral("/links"), page("Links", kBigLink));
    frmMain& w = start(QStringLiteral("/links"), QStringLiteral("Links"));
    EXPECT_EQ(parts(w).Panel2->text(), QStringLiteral("Idle"));
    EXPECT_EQ(parts(w).URL->currentText(), server.url(QStringLiteral("/links")));

    pointerAt(inPage(100, 60));
    const QString target = server.url(QStringLiteral("/target"));
    EXPECT_TRUE(waitUntil([&] { return parts(w).Panel2->text() == target; })) << qPrintable(parts(w).Panel2->text());
    EXPECT_EQ(w.lastStatusText(), target);

    pointerAt(inPage(500, 300));
    EXPECT_TRUE(waitUntil([&] { return parts(w).Panel2->text() == QLatin1String("Idle"); })) << qPrintable(parts(w).Panel2->text());
    EXPECT_EQ(w.lastStatusText(), QString());
}

TEST_F(MainWindowOnEngine, PagesWithTheSameTitleEachReachTheAddressBoxAndTheHistory) {
    server.route(QStringLiteral("/one"), page("Same", "<p>one</p>"));
    server.route(QStringLiteral("/two"), page("Same", "<p>two</p>"));
    frmMain& w = start(QStringLiteral("/one"), QStringLiteral("Same"));
    int completes = 0;
    QObject counting;  // ends the count with this test, before the window goes
    QObject::connect(parts(w).Browser, &WebBrowser::DocumentComplete, &counting, [&] { ++completes; });
    parts(w).Browser->Navigate(server.url(QStringLiteral("/two")));
    ASSERT_TRUE(waitUntil([&] { return completes > 0; }));
    EXPECT_EQ(parts(w).URL->currentText(), server.url(QStringLiteral("/two")));
    EXPECT_EQ(w.addressBox().history().entries(),
              QStringList({server.url(QStringLiteral("/one")), server.url(QStringLiteral("/two"))}));

    // The same page again after the history file went away: it is written anew.
    ASSERT_TRUE(QFile::remove(workDir.filePath(QStringLiteral("URL.slx"))));
    // Reloaded right after the load: the engine may not report the reload's start.
    parts(w).Browser->Refresh();
    EXPECT_TRUE(waitUntil([&] { return QFile::exists(workDir.filePath(QStringLiteral("URL.slx"))); }));
}
