// Print to a file through the platform's print dialog, driven through the keyboard (Save
// As is the context menu's journey, the source viewer the commands' journeys').

#include <QFileInfo>

#include "app_fixture.h"

namespace {

using AppCommands = AppTest;

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
    ASSERT_TRUE(keysHere({QStringLiteral("Return")}));
    const QString pdf = app.home() + QStringLiteral("/print.pdf");
    EXPECT_TRUE(waitUntil([&] { return readFile(pdf).startsWith("%PDF") && readFile(pdf).contains("%%EOF"); }, 30000))
        << qPrintable(pdf) << " holds " << QFileInfo(pdf).size() << " bytes";
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(app.closeWindow(app.mainWindow()));
    expectEndsCleanly();
}

}  // namespace
