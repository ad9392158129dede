// Start-up and the program's end, seen from outside: a settings file that cannot be
// written, a start page for another program, and the close box with a dialog open (the
// start-up rules are gui tests).

#include <QDir>
#include <QFileInfo>

#include "journey.h"

namespace {

class AppStartup : public Journey {};

// A start page for another program starts nothing with the program; the same address
// typed goes to that program.
TEST_F(AppStartup, ClosingTheMainWindowEndsTheProgramWithTheSettingsDialogOpen) {
    const QString record = app.root() + QStringLiteral("/opened");
    registerStandInBrowser(record);
    if (HasFatalFailure()) return;
    const QString other = QStringLiteral("tarnwick-test-app://start/1");
    app.setIni(iniWith(other));
    ASSERT_TRUE(app.start()) << qPrintable(app.error());
    // Shown, with the start page in the address box (the window the engine's view settles in).
    ASSERT_TRUE(waitUntil([&] { return view().address == other; })) << "the start page is not shown";
    ASSERT_NE(app.waitForMainWindow(), 0u) << "no main window";
    ASSERT_TRUE(app.enterAddress(other));
    EXPECT_TRUE(waitUntil([&] { return !readFile(record).isEmpty(); }, 10000)) << "the typed address went nowhere";
    EXPECT_EQ(readFile(record), standInStarts({other}))
        << "the start page was handed over: " << readFile(record).replace('\0', ' ').toStdString();
    // File > Settings... opens the (until then hidden) settings dialog.
    EXPECT_TRUE(app.key({QStringLiteral("alt+f"), QStringLiteral("s")}));
    EXPECT_NE(app.waitForOwnWindow(QStringLiteral("Tarnwick Settings")), 0u) << "the settings dialog did not show";
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
