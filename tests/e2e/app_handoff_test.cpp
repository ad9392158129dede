// The page's context menu and the hand-off of the current page to the desktop's default
// web browser: a stand-in browser, registered for the test the way desktops register
// one, records what it was started with.

#include <QDir>
#include <QFileInfo>

#include "app_fixture.h"

namespace {

class AppHandoff : public AppTest {
protected:
    QString recordPath() const { return app.root() + QStringLiteral("/opened"); }

    // Registers the stand-in as the handler of http and https addresses.
    void registerStandInBrowser() {
        const QString tool = QStringLiteral(TARNWICK_BINARY_DIR "/fake_browser_opener");
        ASSERT_TRUE(QFileInfo(tool).isExecutable()) << qPrintable(tool) << " is not built";
        const QString applications = app.home() + QStringLiteral("/.local/share/applications");
        const QString config = app.home() + QStringLiteral("/.config");
        ASSERT_TRUE(QDir().mkpath(applications) && QDir().mkpath(config));
        writeFile(applications + QStringLiteral("/tarnwick-test-browser.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Stand-in Browser\nExec=" + tool.toUtf8() + " " +
                      recordPath().toUtf8() + " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
        writeFile(config + QStringLiteral("/mimeapps.list"),
                  "[Default Applications]\nx-scheme-handler/http=tarnwick-test-browser.desktop\n"
                  "x-scheme-handler/https=tarnwick-test-browser.desktop\n");
    }

    static void writeFile(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    // The stand-in's records: one list of arguments per start.
    QList<QList<QByteArray>> records() const {
        QList<QList<QByteArray>> result;
        const QByteArray bytes = readFile(recordPath());
        for (const QByteArray& record : bytes.split('\n')) {
            if (record.isEmpty()) continue;
            QList<QByteArray> arguments = record.split('\0');
            arguments.removeLast();  // every argument ends in a NUL
            result << arguments;
        }
        return result;
    }

    // The history entry holding `part`: the address as the browser reports it.
    QString historyEntryWith(const QString& part) {
        for (const QByteArray& line : app.readHistory().split('\n')) {
            const QString entry = QString::fromUtf8(line).trimmed();
            if (entry.size() >= 2 && entry.contains(part)) return entry.mid(1, entry.size() - 2);
        }
        return QString();
    }

    // Right-clicks the page and waits for the program's menu.
    void openContextMenu() {
        ASSERT_TRUE(waitForRequests(QStringLiteral("/loaded"), 1)) << "the page did not finish loading";
        ASSERT_TRUE(app.activateMain());
        ASSERT_TRUE(app.pointerTo(250, app.pageTop() + 120));
        ASSERT_TRUE(app.click(3));
        ASSERT_TRUE(waitUntil([&] { return !app.ownMenus().empty(); }, 10000)) << "no context menu";
    }
    // Keys for the open menu (it holds the keyboard; the main window must not be
    // activated, which would close it).
    static bool menuKeys(const QStringList& keys) {
        return runTool(QStringLiteral("xdotool"), QStringList{QStringLiteral("key"), QStringLiteral("--delay"),
                                                              QStringLiteral("80")} + keys);
    }
};

TEST_F(AppHandoff, CurrentAddressReachesTheDefaultBrowserUnchangedAndNothingElseRuns) {
    registerStandInBrowser();
    const QString marker = app.root() + QStringLiteral("/pwned");
    // Shell syntax of every kind in the query, which the engine keeps as it is.
    const QString query = QStringLiteral("?a=1&b=$(touch$IFS%1-1)&c=`touch$IFS%1-2`;touch$IFS%1-3;"
                                         "&d=\"quoted\"&e='single'&f=x y|z&g=$HOME")
                              .arg(marker);
    server.route(QStringLiteral("/evil"),
                 page(QStringLiteral("Evil"), QStringLiteral("<p>an innocent page</p>") + loadedSignal()));
    // The start page sends the browser on to the address (a settings file could not
    // hold every character of it).
    QString target = server.url(QStringLiteral("/evil")) + query;
    QString literal = target;
    literal.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    startAt(QStringLiteral("/start"), QStringLiteral("Evil"),
            QStringLiteral("<script>location.replace(\"") + literal + QStringLiteral("\");</script>"));
    // The Evil caption may already show during the start page's second load; wait until
    // the address has entered the history.
    QString address;
    ASSERT_TRUE(waitUntil(
        [&] {
            address = historyEntryWith(QStringLiteral("/evil"));
            return !address.isEmpty();
        },
        10000))
        << "URL.slx: " << app.readHistory().toStdString();
    // The engine encodes some characters (blanks, quotes, braces, backticks, bars); the
    // shell's "$(", ";", "&" and "$NAME" are kept.
    for (const QString& kept : {QStringLiteral("$(touch$IFS/"), QStringLiteral(";touch$IFS/"),
                                QStringLiteral("&c="), QStringLiteral("=$HOME")})
        EXPECT_TRUE(address.contains(kept)) << qPrintable(address) << " lacks " << qPrintable(kept);

    openContextMenu();
    // The first item is the hand-off.
    ASSERT_TRUE(menuKeys({QStringLiteral("Down"), QStringLiteral("Return")}));
    expectEndsCleanly();

    QList<QList<QByteArray>> opened;
    EXPECT_TRUE(waitUntil(
        [&] {
            opened = records();
            return !opened.isEmpty();
        },
        10000))
        << "the stand-in browser was not started";
    ASSERT_EQ(opened.size(), 1);
    ASSERT_EQ(opened[0].size(), 1) << "the address arrived split";
    EXPECT_EQ(QString::fromUtf8(opened[0][0]), address);
    for (int i = 1; i <= 3; ++i)
        EXPECT_FALSE(QFileInfo::exists(marker + QStringLiteral("-%1").arg(i))) << "a shell ran part of the address";
}

TEST_F(AppHandoff, HandOffWithoutARegisteredBrowserStillEndsTheProgram) {
    // No handler registered for the test (the machine registers none either).
    // The opener's last resort, a browser named in BROWSER, fails too.
    app.setEnv(QStringLiteral("BROWSER"), QStringLiteral("false"));
    startAt(QStringLiteral("/start"), QStringLiteral("Nowhere to go"), QStringLiteral("<p>text</p>") + loadedSignal());
    openContextMenu();
    ASSERT_TRUE(menuKeys({QStringLiteral("Down"), QStringLiteral("Return")}));
    expectEndsCleanly();
    // No window of the program is left (no message box either).
    EXPECT_TRUE(app.ownWindows().empty());
}

TEST_F(AppHandoff, DismissedMenuLeavesTheProgramRunningAndTheMenuComesBack) {
    registerStandInBrowser();
    startAt(QStringLiteral("/start"), QStringLiteral("Menu"), QStringLiteral("<a href=\"/other\">a link</a>") + loadedSignal());
    for (int round = 0; round < 2; ++round) {
        openContextMenu();
        ASSERT_TRUE(menuKeys({QStringLiteral("Escape")}));
        EXPECT_TRUE(waitUntil([&] { return app.ownMenus().empty(); }, 5000)) << "the menu stayed open";
    }
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(records().isEmpty());
    // Refresh from the menu (its second item) loads the page again.
    const int loads = server.requestCount(QStringLiteral("/start"));
    openContextMenu();
    ASSERT_TRUE(menuKeys({QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")}));
    EXPECT_TRUE(waitForRequests(QStringLiteral("/start"), loads + 1)) << "no reload";
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
    EXPECT_TRUE(records().isEmpty());
}

}  // namespace
