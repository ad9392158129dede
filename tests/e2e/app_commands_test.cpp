// Menu commands that open windows of their own: the source viewer, and the platform's
// save and print dialogs, driven through the keyboard.

#include <QDir>
#include <QFileInfo>

#include "app_fixture.h"

namespace {

class AppCommands : public AppTest {
protected:
    static bool keys(const QStringList& chords) {
        return runTool(QStringLiteral("xdotool"),
                       QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("80")} + chords);
    }
};

TEST_F(AppCommands, ViewSourceOpensAWindowNamedAfterTheAddress) {
    startAt(QStringLiteral("/source"), QStringLiteral("Source"), QStringLiteral("<p id=\"x\">some markup</p>"));
    // Edit > View Source from the keyboard. It does nothing until the engine has the
    // page's document, some time after the title: chosen again until the window shows.
    std::uint32_t source = 0;
    for (int attempt = 0; attempt < 5 && source == 0; ++attempt) {
        ASSERT_TRUE(app.key({QStringLiteral("alt+e"), QStringLiteral("v")}));
        source = app.waitForOwnWindow(server.url(QStringLiteral("/source")) + QStringLiteral(" - Tarnwick"), 3000);
    }
    EXPECT_NE(source, 0u) << "no source window";
    // The main window keeps its own caption.
    EXPECT_EQ(app.mainTitle(), QStringLiteral("Source - Tarnwick"));
    // Exit with the source window open ends everything.
    EXPECT_TRUE(exitFromMenu());
    expectEndsCleanly();
}

TEST_F(AppCommands, SaveAsFromTheContextMenuWritesThePage) {
    startAt(QStringLiteral("/save"), QStringLiteral("Saved Page"),
            QStringLiteral("<p>markup worth keeping</p>") + loadedSignal());
    ASSERT_TRUE(waitForRequests(QStringLiteral("/loaded"), 1)) << "the page did not finish loading";
    ASSERT_TRUE(openPageMenu()) << "no context menu";
    // "Save As..." is the menu's last item.
    ASSERT_TRUE(keys({QStringLiteral("Up"), QStringLiteral("Return")}));
    const std::uint32_t dialog = app.waitForOwnWindow(QStringLiteral("Save As"));
    ASSERT_NE(dialog, 0u) << "no save dialog";
    const QString target = app.root() + QStringLiteral("/saved.htm");
    // The file name field has the focus: replace its text and confirm.
    ASSERT_TRUE(keys({QStringLiteral("ctrl+a"), QStringLiteral("BackSpace")}));
    ASSERT_TRUE(app.type(target));
    ASSERT_TRUE(keys({QStringLiteral("Return")}));
    EXPECT_TRUE(waitUntil([&] { return readFile(target).contains("markup worth keeping"); }, 15000))
        << "saved: " << readFile(target).left(300).toStdString();
    EXPECT_TRUE(readFile(target).contains("<title>Saved Page</title>"));
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

TEST_F(AppCommands, PrintToFileWritesAPdf) {
    startAt(QStringLiteral("/print"), QStringLiteral("Printed Page"), QStringLiteral("<h1>paper</h1>"));
    // Ctrl+P belongs to the hidden context menu, yet works from the main window. It does
    // nothing until the page's document is bound, which the engine reports some time
    // after the title: pressed again until the dialog shows.
    std::uint32_t dialog = 0;
    for (int attempt = 0; attempt < 5 && dialog == 0; ++attempt) {
        ASSERT_TRUE(app.key(QStringLiteral("ctrl+p")));
        dialog = app.waitForOwnWindow(QStringLiteral("Print"), 3000);
    }
    ASSERT_NE(dialog, 0u) << "no print dialog";
    // Without a print server the only printer is "Print to File (PDF)", writing to the
    // home folder's print.pdf; Return is the dialog's Print button.
    ASSERT_TRUE(keys({QStringLiteral("Return")}));
    const QString pdf = app.home() + QStringLiteral("/print.pdf");
    EXPECT_TRUE(waitUntil([&] { return readFile(pdf).startsWith("%PDF") && readFile(pdf).contains("%%EOF"); }, 30000))
        << qPrintable(pdf) << " holds " << QFileInfo(pdf).size() << " bytes";
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

}  // namespace
