// The popup sweep as the main window runs it: its timer, the count in the status bar and
// the link the user last pointed at (the sweep's own rules are unit tests).

#include "main_window_fixture.h"
#include "window_parts.h"

namespace {
class Sweep : public MainWindowFixture {};
}  // namespace

TEST_F(Sweep, TheTimerSweepsCountsInTheStatusBarAndOpensThePointedLink) {
    frmMain& w = make();
    ASSERT_TRUE(parts(w).tmrEngine->isActive());
    EXPECT_TRUE(w.popupSweep().earlySweepEnabled());
    browser().navigations.clear();
    const QString kIE = QStringLiteral("Microsoft Internet Explorer");
    fake.desktop.addWithId(w.hWnd(), QStringLiteral("Main - ") + kIE);
    browser().raiseStatusText(QStringLiteral("http://link.example/"));
    // No report from the fake desktop: only the tick can find them.
    const WindowId popup = fake.desktop.add(QStringLiteral("Popup - ") + kIE);
    ASSERT_TRUE(waitUntil([&] { return !fake.desktop.exists(popup); }, 2000));
    EXPECT_EQ(parts(w).Panel1->text(), QStringLiteral("1 event denied"));
    EXPECT_EQ(browser().navigations, QStringList({"http://link.example/"}));
    EXPECT_TRUE(fake.desktop.exists(w.hWnd()));

    w.popupSweep().setDeniedCount(4294967295LL);
    const WindowId another = fake.desktop.add(kIE);
    ASSERT_TRUE(waitUntil([&] { return !fake.desktop.exists(another); }, 2000));
    EXPECT_EQ(parts(w).Panel1->text(), QStringLiteral("4294967296 events denied"));
}
