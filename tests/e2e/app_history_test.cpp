// The address box and its history file, driven with the keyboard and the pointer.

#include <QFileInfo>

#include "app_fixture.h"

namespace {

class AppHistory : public AppTest {
protected:
    QByteArray entries(const QStringList& paths) {
        QByteArray bytes;
        for (const QString& path : paths) bytes += "\"" + server.url(path).toUtf8() + "\"\r\n";
        return bytes;
    }
    void visit(const QString& path, const QString& title) {
        ASSERT_TRUE(app.enterAddress(server.url(path)));
        ASSERT_TRUE(app.waitForMainTitle(title + QStringLiteral(" - Tarnwick")))
            << "after entering " << qPrintable(path) << " the caption is " << qPrintable(app.mainTitle());
    }
};

TEST_F(AppHistory, VisitedPagesAreKeptSortedOnceEachInTheCurrentDirectory) {
    server.route(QStringLiteral("/cherry"), page(QStringLiteral("Cherry")));
    server.route(QStringLiteral("/apple"), page(QStringLiteral("Apple")));
    server.route(QStringLiteral("/banana"), page(QStringLiteral("Banana")));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));

    visit(QStringLiteral("/cherry"), QStringLiteral("Cherry"));
    visit(QStringLiteral("/apple"), QStringLiteral("Apple"));
    visit(QStringLiteral("/banana"), QStringLiteral("Banana"));
    const QByteArray sorted =
        entries({QStringLiteral("/apple"), QStringLiteral("/banana"), QStringLiteral("/cherry"), QStringLiteral("/start")});
    EXPECT_TRUE(waitUntil([&] { return app.readHistory() == sorted; }, 5000))
        << "URL.slx: " << app.readHistory().toStdString();

    // Revisits add nothing.
    visit(QStringLiteral("/apple"), QStringLiteral("Apple"));
    visit(QStringLiteral("/start"), QStringLiteral("Start"));
    EXPECT_EQ(app.readHistory().toStdString(), sorted.toStdString());
    EXPECT_EQ(server.requestCount(QStringLiteral("/apple")), 2);
    EXPECT_FALSE(QFileInfo::exists(app.programFolder() + QStringLiteral("/URL.slx")));

    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
    // Nothing is written at the end.
    EXPECT_EQ(app.readHistory().toStdString(), sorted.toStdString());
}

TEST_F(AppHistory, HistoryFileFillsTheListSortedAndEntriesOpenFromIt) {
    server.route(QStringLiteral("/zeta"), page(QStringLiteral("Zeta")));
    server.route(QStringLiteral("/alpha"), page(QStringLiteral("Alpha")));
    server.route(QStringLiteral("/mid"), page(QStringLiteral("Mid, with a comma")));
    // The file's order is not the list's: the list sorts its entries.
    app.setHistory(entries({QStringLiteral("/zeta"), QStringLiteral("/alpha"), QStringLiteral("/mid")}));
    startAt(QStringLiteral("/start"), QStringLiteral("Start"));
    EXPECT_EQ(server.requestCount(QStringLiteral("/alpha")), 0);

    // Open the drop-down list from the address box, go to its first entry, choose it.
    ASSERT_TRUE(app.activateMain());
    ASSERT_TRUE(app.pointerTo(120, app.addressBoxY()));
    ASSERT_TRUE(app.click(1));
    ASSERT_TRUE(app.key({QStringLiteral("alt+Down")}));
    ASSERT_TRUE(waitUntil([&] { return !app.ownMenus().empty(); }, 5000)) << "the list did not drop down";
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Home"), QStringLiteral("Return")}));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Alpha - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_EQ(server.requestCount(QStringLiteral("/alpha")), 1);

    // And the last entry.
    ASSERT_TRUE(app.key({QStringLiteral("alt+Down")}));
    ASSERT_TRUE(waitUntil([&] { return !app.ownMenus().empty(); }, 5000)) << "the list did not drop down";
    ASSERT_TRUE(runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("End"), QStringLiteral("Return")}));
    EXPECT_TRUE(app.waitForMainTitle(QStringLiteral("Zeta - Tarnwick"))) << qPrintable(app.mainTitle());
    EXPECT_EQ(server.requestCount(QStringLiteral("/zeta")), 1);

    // The file now holds the loaded entries and the start page, sorted, each once.
    EXPECT_TRUE(waitUntil(
        [&] {
            return app.readHistory() == entries({QStringLiteral("/alpha"), QStringLiteral("/mid"),
                                                 QStringLiteral("/start"), QStringLiteral("/zeta")});
        },
        5000))
        << "URL.slx: " << app.readHistory().toStdString();
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

}  // namespace
