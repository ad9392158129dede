// The settings dialog, with a main window on fakes.

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "dialogs/frm_settings.h"
#include "main_window_fixture.h"
#include "window_parts.h"

namespace {

QByteArray iniWith(const QByteArray& value) { return "[Tarnwick]\r\nDefaultURL=" + value + "\r\n"; }

}  // namespace

class SettingsDialog : public MainWindowFixture {
protected:
    void TearDown() override {
        MainWindowFixture::TearDown();
        deleteClosedWindows();
    }
    // Opens the dialog through the File menu and waits until it has the focus.
    frmSettings* open(frmMain& w) {
        parts(w).mnuSettings->trigger();
        frmSettings* dialog = w.settingsWindow();
        if (dialog && !QTest::qWaitForWindowActive(dialog)) return nullptr;
        return dialog;
    }
};

// Every control shows whole inside its parent, none covers another, no button is the
// default (Enter in the text box presses none), and Tab goes through them in order.
TEST_F(SettingsDialog, ControlsShowWholeAndTabGoesThroughThemInOrder) {
    frmMain& w = make();
    frmSettings* d = open(w);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Tarnwick Settings"));
    const QList<QWidget*> controls = {parts(d).ClearURL, parts(d).Frame1, parts(d).DefaultURL, parts(d).cmd2,
                                      parts(d).Command5, parts(d).cmd1, parts(d).Command1};
    for (QWidget* control : controls) {
        SCOPED_TRACE(control->objectName().toStdString());
        EXPECT_TRUE(control->isVisible());
        EXPECT_TRUE(control->parentWidget()->rect().contains(control->geometry())) << "cut off by its parent";
        for (QWidget* other : controls) {
            if (other != control && other->parentWidget() == control->parentWidget()) {
                EXPECT_FALSE(control->geometry().intersects(other->geometry())) << "covers " << other->objectName().toStdString();
            }
        }
        if (auto* button = qobject_cast<QPushButton*>(control)) {
            EXPECT_FALSE(button->text().isEmpty());
            EXPECT_FALSE(button->isDefault());
            EXPECT_FALSE(button->autoDefault());
        }
    }

    // Focus on "Clear URL Listbox"; Tab goes through the controls in their order.
    EXPECT_EQ(QApplication::focusWidget(), parts(d).ClearURL);
    const QList<QWidget*> order = {parts(d).DefaultURL, parts(d).cmd2, parts(d).Command5, parts(d).cmd1, parts(d).Command1, parts(d).ClearURL};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
}

// Enter presses no button; Escape closes the dialog as its close box does, storing
// nothing.
TEST_F(SettingsDialog, EnterInTheTextBoxPressesNoButtonAndEscapeOnlyCloses) {
    frmMain& w = make();
    frmSettings* d = open(w);
    ASSERT_TRUE(d);
    const QByteArray before = ini();
    parts(d).DefaultURL->clear();
    parts(d).DefaultURL->setFocus();
    QTest::keyClicks(parts(d).DefaultURL, QStringLiteral("http://typed.example/"));
    QTest::keyClick(parts(d).DefaultURL, Qt::Key_Return);
    EXPECT_EQ(ini(), before);
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(parts(d).DefaultURL->text(), QStringLiteral("http://typed.example/"));
    QTest::keyClick(parts(d).DefaultURL, Qt::Key_Escape);
    EXPECT_FALSE(d->isVisible());
    EXPECT_FALSE(w.settingsWindow());
    EXPECT_EQ(ini(), before);
}

TEST_F(SettingsDialog, StoreButtonsWriteTheTextBoxAfterTheirOwnChange) {
    frmMain& w = make();
    frmSettings* d = open(w);
    ASSERT_TRUE(d);
    const QStringList navigations = browser().navigations;
    parts(w).URL->setEditText(QStringLiteral("http://shown.example/"));

    // Select: what was typed, blanks included.
    parts(d).DefaultURL->clear();
    parts(d).DefaultURL->setFocus();
    QTest::keyClicks(parts(d).DefaultURL, QStringLiteral("  http://typed.example/?a=1&b="));
    parts(d).DefaultURL->insert(QStringLiteral("\u00e9  "));  // beyond what key clicks can type
    parts(d).cmd1->click();
    EXPECT_EQ(ini(), iniWith(QStringLiteral("  http://typed.example/?a=1&b=\u00e9  ").toLocal8Bit()));

    // Select with an empty box stores an empty start page.
    parts(d).DefaultURL->clear();
    parts(d).cmd1->click();
    EXPECT_EQ(ini(), iniWith(""));

    // Use Current: the address box's text at the press, typed and never opened.
    parts(w).URL->setEditText(QStringLiteral("typed but never opened"));
    parts(d).cmd2->click();
    EXPECT_EQ(parts(d).DefaultURL->text(), QStringLiteral("typed but never opened"));
    EXPECT_EQ(ini(), iniWith("typed but never opened"));
    parts(w).URL->setEditText(QStringLiteral("http://later.example/"));
    parts(d).cmd2->click();
    EXPECT_EQ(parts(d).DefaultURL->text(), QStringLiteral("http://later.example/"));
    EXPECT_EQ(ini(), iniWith("http://later.example/"));

    // Use Default: the built-in start page.
    parts(d).DefaultURL->setText(QStringLiteral("something else"));
    parts(d).Command5->click();
    EXPECT_EQ(parts(d).DefaultURL->text(), kDefaultStartPage);
    EXPECT_EQ(ini(), iniWith(kDefaultStartPage.toLocal8Bit()));

    // Neither the browser nor the address box took part.
    EXPECT_EQ(browser().navigations, navigations);
    EXPECT_EQ(parts(w).URL->currentText(), QStringLiteral("http://later.example/"));
}

TEST_F(SettingsDialog, StoringKeepsTheRestOfTheSettingsFile) {
    const QByteArray stored = "; keep me\r\n[other]\r\nDefaultURL=elsewhere\r\n[tarnwick]\r\nx=1\r\ndefaulturl = http://old.example/\r\ny=2\r\n";
    writeFile(iniPath(), stored);
    frmMain& w = make();
    ASSERT_EQ(ini(), stored);  // start-up found a start page and wrote nothing
    frmSettings* d = w.settingsWindow();
    EXPECT_EQ(parts(d).DefaultURL->text(), QStringLiteral("http://old.example/"));
    EXPECT_FALSE(d->isVisible());
    parts(d).DefaultURL->setText(QStringLiteral("http://new.example/"));
    parts(d).cmd1->click();
    EXPECT_EQ(ini(), QByteArray("; keep me\r\n[other]\r\nDefaultURL=elsewhere\r\n[tarnwick]\r\nx=1\r\n"
                                "defaulturl=http://new.example/\r\ny=2\r\n"));
}

TEST_F(SettingsDialog, ClearUrlListboxLeavesTheCurrentAddressAndRemovesTheFile) {
    writeFile(workDir.filePath(QStringLiteral("URL.slx")), "\"http://a.example/\"\r\n\"http://b.example/\"\r\n");
    frmMain& w = make();
    ASSERT_EQ(w.addressBox().history().count(), 2);
    frmSettings* d = open(w);
    ASSERT_TRUE(d);
    browser().locationURL = QStringLiteral("http://current.example/");
    parts(w).URL->setEditText(QStringLiteral("something typed"));
    parts(d).ClearURL->click();
    EXPECT_EQ(w.addressBox().history().entries(), QStringList({"http://current.example/"}));
    EXPECT_EQ(parts(w).URL->currentText(), QStringLiteral("http://current.example/"));
    EXPECT_EQ(parts(w).URL->currentIndex(), -1);
    EXPECT_FALSE(QFile::exists(workDir.filePath(QStringLiteral("URL.slx"))));
    // Again without a file to remove: still cleared, no failure.
    parts(d).ClearURL->click();
    EXPECT_EQ(w.addressBox().history().entries(), QStringList({"http://current.example/"}));
    EXPECT_TRUE(d->isVisible());
}

TEST_F(SettingsDialog, OneDialogAtATimeAndANewOneAfterClosing) {
    frmMain& w = make();
    frmSettings* startUp = w.settingsWindow();
    ASSERT_TRUE(startUp);
    EXPECT_FALSE(startUp->isVisible());

    // The hidden start-up dialog is the one the menu shows, twice.
    w.mnuSettings_Click();
    w.mnuSettings_Click();
    EXPECT_EQ(w.settingsWindow(), startUp);
    EXPECT_TRUE(startUp->isVisible());
    EXPECT_EQ(topLevels<frmSettings>().size(), 1);
    EXPECT_EQ(parts(startUp).DefaultURL->text(), kDefaultStartPage);

    // Close by "&Close" (Alt+C), store something first: the next dialog shows the stored
    // start page, not what the old text box held.
    parts(startUp).DefaultURL->setText(QStringLiteral("http://stored.example/"));
    parts(startUp).cmd1->click();
    parts(startUp).DefaultURL->setText(QStringLiteral("not stored"));
    startUp->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(startUp));
    QPointer<frmSettings> old(startUp);
    QTest::keyClick(startUp, Qt::Key_C, Qt::AltModifier);
    // The mnemonic presses the button visibly: the click follows a moment later.
    EXPECT_TRUE(waitUntil([&] { return !old || !old->isVisible(); }));
    deleteClosedWindows();
    EXPECT_TRUE(old.isNull());
    EXPECT_FALSE(w.settingsWindow());

    w.mnuSettings_Click();
    ASSERT_TRUE(w.settingsWindow());
    EXPECT_TRUE(w.settingsWindow()->isVisible());
    EXPECT_EQ(parts(w.settingsWindow()).DefaultURL->text(), QStringLiteral("http://stored.example/"));

    // The close box, and the menu at once, before the closed dialog is deleted.
    QPointer<frmSettings> second(w.settingsWindow());
    second->close();
    w.mnuSettings_Click();
    ASSERT_TRUE(w.settingsWindow());
    EXPECT_NE(w.settingsWindow(), second.data());
    EXPECT_TRUE(w.settingsWindow()->isVisible());
    deleteClosedWindows();
    EXPECT_TRUE(second.isNull());
    ASSERT_TRUE(w.settingsWindow());
    EXPECT_TRUE(w.settingsWindow()->isVisible());
    EXPECT_EQ(topLevels<frmSettings>().size(), 1);

    // The Close button itself.
    QPointer<frmSettings> third(w.settingsWindow());
    parts(third.data()).Command1->click();
    deleteClosedWindows();
    EXPECT_TRUE(third.isNull());
    EXPECT_TRUE(topLevels<frmSettings>().isEmpty());
}

