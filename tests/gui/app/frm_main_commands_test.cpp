// The page commands and the page context menu with the hand-off to the default browser,
// on the fake browser and platform.

#include <QApplication>
#include <QKeySequence>
#include <QTest>
#include <QWindow>
#include <optional>

#include "main_window_fixture.h"
#include "window_parts.h"

namespace {

// The text a menu shows for a caption: "&&" shows as "&", a single "&" marks the access
// key and is not shown.
QString shownMenuText(const QString& caption) {
    QString out;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&')) {
            if (i + 1 < caption.size() && caption[i + 1] == QLatin1Char('&')) {
                out += QLatin1Char('&');
                ++i;
            }
            continue;
        }
        out += caption[i];
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------
// Navigation and document commands

using PageCommands = MainWindowFixture;

TEST_F(PageCommands, OpenLocationProposesTheLastConfirmedFileAndCancelChangesNothing) {
    frmMain& w = make();
    const QStringList startUp = browser().navigations;

    // Cancel before any file: the dialog proposed nothing, nothing was opened.
    w.mnuOpen_Click();
    ASSERT_EQ(fake.openDialogProposals.size(), 1u);
    EXPECT_EQ(fake.openDialogProposals[0], QString());
    EXPECT_EQ(browser().navigations, startUp);

    // A confirmed file is opened exactly as the dialog returned it.
    const QString first = QStringLiteral("/tmp/some dir/R&D \"notes\" #1 \u00e9t\u00e9.html");
    fake.openDialogAnswer = first;
    w.mnuOpen_Click();
    EXPECT_EQ(browser().navigations, startUp + QStringList{first});

    // Cancel after a file was opened: the file is proposed, nothing is opened.
    fake.openDialogAnswer.reset();
    browser().calls.clear();
    w.mnuOpen_Click();
    EXPECT_EQ(fake.openDialogProposals.back(), first);
    EXPECT_TRUE(browser().calls.isEmpty());
    EXPECT_EQ(parts(w).Panel2->text(), QString());

    // The cancel did not forget the file; a second confirmed file replaces it, also when
    // the browser refuses to open it.
    const QString second = QStringLiteral("/var/other.htm");
    fake.openDialogAnswer = second;
    browser().navigateResult = false;
    w.mnuOpen_Click();
    EXPECT_EQ(fake.openDialogProposals.back(), first);
    EXPECT_EQ(browser().navigations.last(), second);
    fake.openDialogAnswer.reset();
    w.mnuOpen_Click();
    EXPECT_EQ(fake.openDialogProposals.back(), second);
}

TEST_F(PageCommands, BackAndForwardWithNowhereToGoChangeNothing) {
    frmMain& w = make();
    browser().loadPage(QStringLiteral("http://a.example/"), QStringLiteral("A"));
    parts(w).Panel2->setText(QStringLiteral("Idle"));
    const QString caption = w.windowTitle();
    const QString address = parts(w).URL->currentText();
    browser().calls.clear();

    w.mnuBack_Click();
    w.mnuForward_Click();
    EXPECT_EQ(browser().calls, QStringList({"GoBack", "GoForward"}));
    EXPECT_EQ(parts(w).Panel2->text(), QStringLiteral("Idle"));
    EXPECT_EQ(w.windowTitle(), caption);
    EXPECT_EQ(parts(w).URL->currentText(), address);
    EXPECT_EQ(fake.endRequests, 0);
}

TEST_F(PageCommands, StopTurnsExactlyLoadingPageIntoIdleAlsoWhenTheStopFails) {
    frmMain& w = make();
    const std::pair<const char*, const char*> cases[] = {
        {"Loading page...", "Idle"},
        {"loading page...", "loading page..."},
        {"Loading page... ", "Loading page... "},
        {"Loading page..", "Loading page.."},
        {"http://link.example/", "http://link.example/"},
        {"Uninitialized", "Uninitialized"},
        {"Idle", "Idle"},
        {"", ""},
    };
    for (bool stopWorks : {true, false}) {
        browser().stopResult = stopWorks;
        for (auto [before, after] : cases) {
            browser().calls.clear();
            parts(w).Panel2->setText(QString::fromLatin1(before));
            w.mnuStop_Click();
            EXPECT_EQ(browser().calls, QStringList({"Stop"})) << before;
            EXPECT_EQ(parts(w).Panel2->text(), QString::fromLatin1(after)) << before << " stop works " << stopWorks;
        }
    }
}

TEST_F(PageCommands, RefreshAsksTheBrowserNotTheDocument) {
    frmMain& w = make();
    auto doc = std::make_shared<FakeDocument>();
    browser().document = doc;
    browser().raiseDocumentComplete();
    browser().calls.clear();
    w.mnuRefresh_Click();
    EXPECT_EQ(browser().calls, QStringList({"Refresh"}));
    EXPECT_TRUE(doc->commands.isEmpty());
}

TEST_F(PageCommands, DocumentCommandsUseTheDocumentBoundAtTheClick) {
    frmMain& w = make();
    auto first = std::make_shared<FakeDocument>();
    browser().document = first;

    // Before the first completed document nothing is bound: nothing runs, nothing breaks.
    w.mnuCopy_Click();
    w.mnuPaste_Click();
    w.mnuPrint_Click();
    w.mnuSaveAs_Click();
    EXPECT_TRUE(first->commands.isEmpty());

    browser().raiseDocumentComplete();
    w.mnuCopy_Click();
    w.mnuPaste_Click();
    w.mnuPrint_Click();
    w.mnuSaveAs_Click();
    EXPECT_EQ(first->commands, QStringList({"copy", "paste", "print", "saveas"}));

    // The browser already holds another document, but it has not completed: the bound
    // one still gets the commands.
    auto second = std::make_shared<FakeDocument>();
    browser().document = second;
    w.mnuCopy_Click();
    EXPECT_EQ(first->commands.last(), QStringLiteral("copy"));
    EXPECT_TRUE(second->commands.isEmpty());

    browser().raiseDocumentComplete();
    second->commandResult = false;  // a failing command is ignored
    parts(w).mnuPrint->trigger();
    parts(w).mnuSaveAs->trigger();
    parts(w).mnuPaste->trigger();
    EXPECT_EQ(second->commands, QStringList({"print", "saveas", "paste"}));
    EXPECT_EQ(first->commands.size(), 5);
}

// Copy and Paste from the Edit menu, Print from the menu that is not in the menu bar, all
// going to the bound document (the window's other keys are the commands' journey).
TEST_F(PageCommands, CopyPasteAndPrintKeysGoToTheBoundDocument) {
    frmMain& w = make();
    auto doc = std::make_shared<FakeDocument>();
    browser().document = doc;
    browser().raiseDocumentComplete();
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    parts(w).Browser->widget()->setFocus();

    QTest::keyClick(&w, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(&w, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(&w, Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(doc->commands, QStringList({"copy", "paste", "print"}));
    EXPECT_EQ(fake.endRequests, 0);
}

// ---------------------------------------------------------------------------------
// Page context menu and hand-off

class ContextMenu : public MainWindowFixture {
protected:
    // Binds a document and records every showing of the popup menu with the first item's
    // caption at that moment. `onShow` plays the user's part while the menu is open.
    frmMain& makeBound() {
        frmMain& w = make();
        doc = std::make_shared<FakeDocument>();
        browser().document = doc;
        browser().raiseDocumentComplete();
        w.setPopupMenu([this, &w](QMenu* menu) {
            shown.push_back(menu);
            captions << parts(w).mnuLaunchIE->text();
            if (onShow) onShow();
        });
        return w;
    }

    std::shared_ptr<FakeDocument> doc;
    std::vector<QMenu*> shown;
    QStringList captions;
    std::function<void()> onShow;
};

// Each showing of the menu carries the address of that moment, whole and unchanged: no
// letter of it becomes an access key, however long it is.
TEST_F(ContextMenu, EachShowingCarriesTheCurrentAddressUnchanged) {
    frmMain& w = makeBound();
    QString longAddress = QStringLiteral("http://long.example/");
    while (longAddress.size() < 5000) longAddress += QStringLiteral("segment-%1/").arg(longAddress.size());
    for (const QString& address :
         {QStringLiteral("http://a.example/page"), QStringLiteral("file:///home/user/local page.html"),
          QStringLiteral("http://x.example/?a=1&b=2&&c=&"), longAddress}) {
        browser().locationURL = address;
        EXPECT_FALSE(doc->rightClick());  // the page's own menu is suppressed
        const QString expected = QStringLiteral("Launch ") + address + QStringLiteral(" In Default Browser");
        EXPECT_EQ(shownMenuText(captions.last()), expected);
        EXPECT_EQ(parts(w).mnuLaunchIE->iconText(), expected);
        EXPECT_TRUE(QKeySequence::mnemonic(parts(w).mnuLaunchIE->text()).isEmpty());
    }
    EXPECT_EQ(shown, std::vector<QMenu*>(4, parts(w).mnuPop));
    EXPECT_EQ(parts(w).mnuPop->actions().first(), parts(w).mnuLaunchIE);
    EXPECT_EQ(fake.endRequests, 0);
}

TEST_F(ContextMenu, BeforeTheFirstDocumentThePagesOwnMenuShows) {
    make();
    auto doc = std::make_shared<FakeDocument>();
    browser().document = doc;  // in the browser, but not completed: not bound
    EXPECT_TRUE(doc->rightClick());
}

TEST_F(ContextMenu, PopupRefreshRunsTheDocumentsRefreshAndIgnoresFailures) {
    frmMain& w = makeBound();
    browser().calls.clear();
    doc->commandResult = false;
    w.mnuPopRefresh_Click();
    doc->commandResult = true;
    parts(w).mnuPopRefresh->trigger();
    EXPECT_EQ(doc->commands, QStringList({"refresh", "refresh"}));
    EXPECT_TRUE(browser().calls.isEmpty());  // not the browser's own reload

    // The Print and Save As items of the menu are the document commands.
    parts(w).mnuPrint->trigger();
    parts(w).mnuSaveAs->trigger();
    EXPECT_EQ(doc->commands.mid(2), QStringList({"print", "saveas"}));
}

TEST_F(ContextMenu, HandOffStopsTheSweepOpensTheAddressReadNowAndEndsTheProgram) {
    for (bool openerWorks : {true, false}) {
        SCOPED_TRACE(openerWorks);
        fake.openedUrls.clear();
        fake.endRequests = 0;
        fake.openUrlResult = openerWorks;

        std::optional<bool> timerActiveAtOpen;
        int endsBeforeOpen = -1;
        Platform platform = fake.platform();
        const auto open = platform.openUrl;
        platform.openUrl = [&, open](const QString& address) {
            timerActiveAtOpen = parts(*window).tmrEngine->isActive();
            endsBeforeOpen = fake.endRequests;
            return open(address);
        };
        window = std::make_unique<frmMain>(platform);
        frmMain& w = *window;
        auto doc = std::make_shared<FakeDocument>();
        browser().document = doc;
        browser().raiseDocumentComplete();
        w.setPopupMenu([](QMenu*) {});

        // The caption shows one address; the address changes before the item is chosen.
        browser().locationURL = QStringLiteral("http://shown.example/");
        doc->rightClick();
        const QString now = QStringLiteral("file:///tmp/a b/R&D \"x\";$(rm -rf).html");
        browser().locationURL = now;
        ASSERT_TRUE(parts(w).tmrEngine->isActive());
        parts(w).mnuLaunchIE->trigger();

        EXPECT_EQ(fake.openedUrls, QStringList({now}));
        ASSERT_TRUE(timerActiveAtOpen.has_value());
        EXPECT_FALSE(*timerActiveAtOpen);
        EXPECT_EQ(endsBeforeOpen, 0);
        EXPECT_EQ(fake.endRequests, 1);
        EXPECT_FALSE(parts(w).tmrEngine->isActive());
        window.reset();
    }
}
