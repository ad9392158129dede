// The about window, with a main window on fakes.

#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>

#include "dialogs/frm_about.h"
#include "main_window_fixture.h"
#include "platform/ui/twips.h"
#include "window_parts.h"

class AboutWindow : public MainWindowFixture {
protected:
    void TearDown() override {
        MainWindowFixture::TearDown();
        deleteClosedWindows();
    }
};

TEST_F(AboutWindow, FixedToolWindowCentredOnTheMainWindow) {
    frmMain& w = make();
    w.move(100, 60);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    parts(w).mnuAbout->trigger();
    ASSERT_TRUE(w.aboutWindow());
    frmAbout* a = w.aboutWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(a));
    EXPECT_EQ(a->windowTitle(), QStringLiteral("About Tarnwick"));
    expectFixedToolWindow(a, QSize(tw::px(4575), tw::px(2655)));
    EXPECT_EQ(a->size(), QSize(305, 177));
    const QPoint offset = a->frameGeometry().center() - w.frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();

    QPlainTextEdit* t = textOf(a);
    EXPECT_EQ(t->geometry(), QRect(8, 8, 289, 161));
    expectTextWindowFont(t);
    EXPECT_EQ(t->palette().color(QPalette::Base), a->palette().color(QPalette::Button));
    EXPECT_TRUE(t->verticalScrollBar()->isVisible());
    EXPECT_FALSE(t->horizontalScrollBar()->isVisible());
    EXPECT_NE(t->lineWrapMode(), QPlainTextEdit::NoWrap);
}

TEST_F(AboutWindow, TextCanBeSelectedAndCopiedButNotChanged) {
    frmMain& w = make();
    w.mnuAbout_Click();
    ASSERT_TRUE(w.aboutWindow());
    frmAbout* a = w.aboutWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(a));
    QPlainTextEdit* t = textOf(a);
    const QString before = t->toPlainText();
    t->setFocus();
    ASSERT_TRUE(t->hasFocus());

    QTest::keyClicks(t, QStringLiteral("typed"));
    QTest::keyClick(t, Qt::Key_Backspace);
    QTest::keyClick(t, Qt::Key_Delete);
    QTest::keyClick(t, Qt::Key_Return);
    QTest::keyClick(t, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(t, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(t->toPlainText(), before);

    QApplication::clipboard()->clear();
    QTest::keyClick(t, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(t, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), before);
    EXPECT_EQ(t->toPlainText(), before);
}

// Closed, then About at once: a new window, and only it remains (About twice while it is
// open is the settings' e2e test).
TEST_F(AboutWindow, ClosedThenAboutAgainGivesOneNewWindow) {
    frmMain& w = make();
    w.mnuAbout_Click();
    frmAbout* first = w.aboutWindow();
    ASSERT_TRUE(first);
    QPointer<frmAbout> old(first);
    first->close();
    w.mnuAbout_Click();
    ASSERT_TRUE(w.aboutWindow());
    EXPECT_NE(w.aboutWindow(), first);
    EXPECT_TRUE(w.aboutWindow()->isVisible());
    deleteClosedWindows();
    EXPECT_TRUE(old.isNull());
    EXPECT_EQ(topLevels<frmAbout>().size(), 1);
    EXPECT_TRUE(w.aboutWindow() && w.aboutWindow()->isVisible());
}
