// Start-up and the program's end, seen from outside: the settings file, the start page's
// requests, the caption, and the three ways the program ends.

#include <QDir>
#include <QFileInfo>

#include "platform/looks.h"
#include "app_fixture.h"

namespace {

class AppStartup : public AppTest {};

TEST_F(AppStartup, StoredStartPageIsRequestedAndNamesTheCaption) {
    const QByteArray ini = "; kept as it is\r\n[Other]\r\nx=1\r\n\r\n[Tarnwick]\r\nDefaultURL=" +
                           server.url(QStringLiteral("/start")).toUtf8() + "\r\n";
    server.route(QStringLiteral("/start"), page(QStringLiteral("Start Page")));
    app.setIni(ini);
    ASSERT_TRUE(app.start()) << qPrintable(app.error());
    ASSERT_NE(app.waitForMainWindow(), 0u);
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Start Page - Tarnwick")))
        << "caption: " << qPrintable(app.mainTitle());
    EXPECT_GE(server.requestCount(QStringLiteral("/start")), 1);
    // The address enters the history when the page's title arrives.
    EXPECT_TRUE(waitUntil(
        [&] { return app.readHistory() == "\"" + server.url(QStringLiteral("/start")).toUtf8() + "\"\r\n"; },
        5000))
        << "URL.slx: " << app.readHistory().toStdString();
    // A stored start page is only read, never written back.
    EXPECT_EQ(app.readIni().toStdString(), ini.toStdString());
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

TEST_F(AppStartup, EmptyStoredStartPageIsReplacedByTheDefault) {
    app.setIni("[Tarnwick]\r\nDefaultURL=\r\n");
    ASSERT_TRUE(app.start()) << qPrintable(app.error());
    ASSERT_NE(app.waitForMainWindow(), 0u);
    const QByteArray expected = iniWith(kDefaultStartPage);
    EXPECT_TRUE(waitUntil([&] { return app.readIni() == expected; }, 10000))
        << "Tarnwick.ini holds: " << app.readIni().toStdString();
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

TEST_F(AppStartup, ClosingTheMainWindowEndsTheProgramWithTheSettingsDialogOpen) {
    startAt(QStringLiteral("/start"), QStringLiteral("Closing"));
    // File > Settings... opens the (until then hidden) settings dialog.
    EXPECT_TRUE(app.key({QStringLiteral("alt+f"), QStringLiteral("s")}));
    EXPECT_TRUE(waitUntil(
        [&] {
            for (std::uint32_t window : app.ownWindows())
                if (app.desktop().title(window) == QLatin1String("Tarnwick Settings")) return true;
            return false;
        },
        10000))
        << "the settings dialog did not show";
    // The close box: the window manager's delete request.
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly(5000);
}

// Silent to the person; what was passed over is told only by the logging categories the
// user switches on, the engine's and the program's alike.
TEST_F(AppStartup, UnwritableSettingsFileIsSilentAndTheDefaultIsOpenedAnyway) {
    // A folder where the settings file should be: it can be neither read nor replaced,
    // whoever runs the test (file permissions do not bind root).
    ASSERT_TRUE(QDir().mkpath(app.iniPath() + QStringLiteral("/in-the-way")));
    app.setEnv(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("tarnwick.*.debug=true;qt.webenginecontext.info=true"));
    ASSERT_TRUE(app.start()) << qPrintable(app.error());
    ASSERT_NE(app.waitForMainWindow(), 0u);
    // The start-up goes on: the main window shows and the program stays usable; no
    // message box or other window appears.
    EXPECT_FALSE(waitUntil([&] { return !app.running(); }, 2000)) << "the program ended";
    EXPECT_EQ(app.ownWindows().size(), 1u);
    EXPECT_TRUE(QFileInfo(app.iniPath()).isDir());
    EXPECT_TRUE(exitFromMenu());
    expectEndsCleanly();
    EXPECT_TRUE(app.log().contains("tarnwick.app: default start page not stored")) << app.log().constData();
    EXPECT_TRUE(app.log().contains("qt.webenginecontext")) << app.log().constData();
}

}  // namespace
