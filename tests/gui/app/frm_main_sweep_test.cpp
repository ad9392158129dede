// The popup sweep as the main window runs it: its timer, the count in the status bar and
// the link the user last pointed at (the sweep's own rules are unit tests).

#include <QLabel>
#include <QListWidget>

#include "dialogs/frm_denied.h"
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

    // The list behind panel 1: the kept denials, newest first, the rest a line; it
    // follows while open, bounded.
    w.showDeniedList();
    const auto* list = w.deniedWindow()->findChild<QListWidget*>(QStringLiteral("lstDenied"));
    const auto* dropped = w.deniedWindow()->findChild<QLabel*>(QStringLiteral("lblDropped"));
    ASSERT_TRUE(list && dropped && list->count() == 2);
    EXPECT_TRUE(list->item(0)->text().endsWith(QStringLiteral("Window: \u201C") + kIE + QChar(0x201D)));
    EXPECT_TRUE(list->item(1)->text().endsWith(QStringLiteral("\u201CPopup - ") + kIE + QChar(0x201D)));
    EXPECT_EQ(dropped->text(), QStringLiteral("4294967294 earlier dropped"));
    for (int i = 0; i < 1000; ++i) w.popupSweep().countDenial(Denial::of(QStringLiteral("Dialog"), QString::number(i)));
    ASSERT_EQ(list->count(), 1000);
    EXPECT_TRUE(list->item(0)->text().endsWith(QStringLiteral("Dialog: from 999")));
    EXPECT_EQ(dropped->text(), QStringLiteral("4294967296 earlier dropped"));
    EXPECT_EQ(parts(w).Panel1->text(), QStringLiteral("4294968296 events denied"));
}
