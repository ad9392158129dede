// The hand-off of the current page to the desktop's default web browser when the desktop
// has none (the journeys cover the hand-off to a registered one).

#include "app_fixture.h"

namespace {

class AppHandoff : public AppTest {
protected:
    // Right-clicks the page and waits for the program's menu.
    void openContextMenu() {
        ASSERT_TRUE(waitForRequests(QStringLiteral("/loaded"), 1)) << "the page did not finish loading";
        ASSERT_TRUE(openPageMenu()) << "no context menu";
    }
};

TEST_F(AppHandoff, HandOffWithoutARegisteredBrowserStillEndsTheProgram) {
    // No handler registered for the test (the machine registers none either).
    // The opener's last resort, a browser named in BROWSER, fails too.
    app.setEnv(QStringLiteral("BROWSER"), QStringLiteral("false"));
    startAt(QStringLiteral("/start"), QStringLiteral("Nowhere to go"), QStringLiteral("<p>text</p>") + loadedSignal());
    openContextMenu();
    ASSERT_TRUE(keysHere({QStringLiteral("Down"), QStringLiteral("Return")}));
    expectEndsCleanly();
    // No window of the program is left (no message box either).
    EXPECT_TRUE(app.ownWindows().empty());
}

}  // namespace
