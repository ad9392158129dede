// The main window on fakes: start-up, menus, layout, focus, and the browser's events.

#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

#include "browse/url_history.h"
#include "dialogs/frm_settings.h"
#include "main_window_fixture.h"
#include "platform/ui/twips.h"
#include "window_parts.h"

namespace {

const QByteArray kDefaultIni = "[Tarnwick]\r\nDefaultURL=tarnwick://start/\r\n";

QStringList listOf(const frmMain& w) { return w.addressBox().history().entries(); }

}  // namespace

// ---------------------------------------------------------------------------------
// Start-up

using StartUp = MainWindowFixture;

TEST_F(StartUp, FirstStartStoresTheDefaultAndRequestsItTwice) {
    frmMain& w = make();
    EXPECT_EQ(ini(), kDefaultIni);
    EXPECT_EQ(parts(w).URL->currentText(), kDefaultStartPage);
    EXPECT_EQ(browser().navigations, QStringList({kDefaultStartPage, kDefaultStartPage}));
    ASSERT_TRUE(w.settingsWindow());
    EXPECT_FALSE(w.settingsWindow()->isVisible());
    EXPECT_EQ(parts(w.settingsWindow()).DefaultURL->text(), kDefaultStartPage);
    EXPECT_EQ(w.popupSweep().TaskStyleMask(), 0x10800000u);
    EXPECT_FALSE(w.isVisible());
    // The default is an absolute address: a scheme, a host name and a final "/".
    const QUrl defaultPage(kDefaultStartPage, QUrl::StrictMode);
    EXPECT_EQ(defaultPage.scheme() + QStringLiteral("://") + defaultPage.host() + QStringLiteral("/"), kDefaultStartPage);
}

TEST_F(StartUp, StoredStartPageIsUsedAsReadAndNeverRewritten) {
    const QByteArray stored = "; mine\r\n[other]\r\nx=1\r\n\r\n[TARNWICK]\r\n  defaulturl =  not even an address  \r\n";
    writeFile(iniPath(), stored);
    frmMain& w = make();
    EXPECT_EQ(ini(), stored);
    EXPECT_EQ(parts(w).URL->currentText(), QStringLiteral("not even an address"));
    EXPECT_EQ(browser().navigations,
              QStringList({QStringLiteral("not even an address"), QStringLiteral("not even an address")}));
    EXPECT_EQ(parts(w.settingsWindow()).DefaultURL->text(), QStringLiteral("not even an address"));
}

TEST_F(StartUp, EmptyStoredValueCountsAsUnsetAndIsReplacedInPlace) {
    writeFile(iniPath(), "[Tarnwick]\r\nDefaultURL=\r\nOther=kept\r\n");
    make();
    EXPECT_EQ(ini(), QByteArray("[Tarnwick]\r\nDefaultURL=tarnwick://start/\r\nOther=kept\r\n"));
    EXPECT_EQ(browser().navigations.size(), 2);
    EXPECT_EQ(browser().navigations.last(), kDefaultStartPage);
}

TEST_F(StartUp, UnwritableProgramFolderStillOpensTheDefault) {
    fake.programFolder = programDir.filePath(QStringLiteral("missing/folder"));
    frmMain& w = make();
    EXPECT_FALSE(QFile::exists(fake.programFolder));
    EXPECT_EQ(parts(w).URL->currentText(), kDefaultStartPage);
    EXPECT_EQ(browser().navigations, QStringList({kDefaultStartPage, kDefaultStartPage}));
}

TEST_F(StartUp, HistoryFileFillsTheListWithoutTouchingTheText) {
    writeFile(workDir.filePath(QStringLiteral("URL.slx")),
              "\"http://b.example/\"\r\n\"http://A.example/\"\r\n\"http://c.example/\"\r\n");
    frmMain& w = make();
    EXPECT_EQ(listOf(w), QStringList({QStringLiteral("http://A.example/"), QStringLiteral("http://b.example/"),
                                      QStringLiteral("http://c.example/")}));
    EXPECT_EQ(parts(w).URL->currentText(), kDefaultStartPage);
    EXPECT_EQ(parts(w).URL->count(), 3);
}

TEST_F(StartUp, FailingNavigationDoesNotStopTheSequence) {
    // The browser refuses every address; the rest of start-up still happens.
    Platform platform = fake.platform();
    auto create = platform.createBrowser;
    platform.createBrowser = [create, this](QWidget* parent) {
        WebBrowser* b = create(parent);
        fake.browser->navigateResult = false;
        return b;
    };
    window = std::make_unique<frmMain>(platform);
    EXPECT_EQ(browser().navigations.size(), 2);
    EXPECT_EQ(window->popupSweep().TaskStyleMask(), 0x10800000u);
    EXPECT_EQ(ini(), kDefaultIni);
}

// ---------------------------------------------------------------------------------
// Window, controls and menus

using MainWindowLayout = MainWindowFixture;

TEST_F(MainWindowLayout, HiddenPopupMenuStillAnswersCtrlP) {
    frmMain& w = make();
    browser().document = std::make_shared<FakeDocument>();
    browser().raiseDocumentComplete();
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(browser().document->commands, QStringList({"print"}));
}

TEST_F(MainWindowLayout, ResizeAppliesTheThreeRulesAndSkipsNegativeOnes) {
    frmMain& w = make();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QWidget* view = parts(w).Browser->widget();

    w.resize(800, 600);
    QCoreApplication::processEvents();
    const QRect outer = w.frameGeometry();
    EXPECT_EQ(view->width(), tw::px(outer.width() * 15 - 115));
    EXPECT_EQ(view->height(), tw::px(outer.height() * 15 - 1300));
    EXPECT_EQ(parts(w).URL->width(), tw::px(outer.width() * 15 - 115));
    EXPECT_EQ(view->pos(), QPoint(0, tw::px(350)));
    EXPECT_EQ(parts(w).URL->pos(), QPoint(0, 0));

    // Shorter than 1300 twips: the browser keeps its height; the widths still follow.
    const int keptHeight = view->height();
    w.setMinimumSize(0, 0);
    w.resize(700, 60);
    QCoreApplication::processEvents();
    ASSERT_LT(w.frameGeometry().height() * 15, 1300);
    EXPECT_EQ(view->height(), keptHeight);
    EXPECT_EQ(view->width(), tw::px(w.frameGeometry().width() * 15 - 115));

    // Back to a normal size: all three rules again.
    w.resize(640, 480);
    QCoreApplication::processEvents();
    EXPECT_EQ(view->height(), tw::px(w.frameGeometry().height() * 15 - 1300));
    EXPECT_EQ(view->width(), tw::px(w.frameGeometry().width() * 15 - 115));
}

TEST_F(MainWindowLayout, TabMovesBetweenBrowserAndAddressBoxOnly) {
    frmMain& w = make();
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QWidget* view = parts(w).Browser->widget();
    view->setFocus();
    ASSERT_TRUE(view->hasFocus());
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        const bool onUrl = focus == parts(w).URL || focus == parts(w).URL->lineEdit();
        EXPECT_EQ(onUrl, i % 2 == 0) << "tab " << i;
        EXPECT_EQ(focus == view, i % 2 == 1) << "tab " << i;
    }
}

// ---------------------------------------------------------------------------------
// Browser events

using BrowserEvents = MainWindowFixture;

TEST_F(BrowserEvents, ReadyStateTableOnProgress) {
    frmMain& w = make();
    const std::pair<int, const char*> table[] = {
        {4, "Idle"}, {3, "Loading page..."}, {2, "Idle"}, {1, "Loading page..."}, {0, "Uninitialized"}};
    for (auto [state, text] : table) {
        browser().readyState = state;
        browser().raiseProgress();
        EXPECT_EQ(parts(w).Panel2->text(), QString::fromLatin1(text)) << state;
    }
    parts(w).Panel2->setText(QStringLiteral("before"));
    browser().readyState = 7;
    browser().raiseProgress();
    EXPECT_EQ(parts(w).Panel2->text(), QStringLiteral("before"));
    EXPECT_EQ(w.lastStatusText(), QString());
}

TEST_F(BrowserEvents, StatusTextIsAlwaysRecordedButOnlyHttpAddressesShow) {
    frmMain& w = make();
    browser().readyState = 4;
    browser().raiseStatusText(QStringLiteral("http://127.0.0.1/page?a=1&b=2"));
    EXPECT_EQ(w.lastStatusText(), QStringLiteral("http://127.0.0.1/page?a=1&b=2"));
    EXPECT_EQ(parts(w).Panel2->text(), QStringLiteral("http://127.0.0.1/page?a=1&b=2"));

    for (const char* other : {"https://secure.example/", "HTTP://LOUD.EXAMPLE/", "mailto:a@b.example", "http:/",
                              "Done", ""}) {
        browser().raiseStatusText(QString::fromLatin1(other));
        EXPECT_EQ(w.lastStatusText(), QString::fromLatin1(other));
        EXPECT_EQ(parts(w).Panel2->text(), QStringLiteral("Idle")) << other;
    }

    // Progress never shows an address and never touches LastStatusText.
    browser().raiseStatusText(QStringLiteral("http://x.example/"));
    browser().raiseProgress();
    EXPECT_EQ(parts(w).Panel2->text(), QStringLiteral("Idle"));
    EXPECT_EQ(w.lastStatusText(), QStringLiteral("http://x.example/"));
}

TEST_F(BrowserEvents, TitleChangeSetsCaptionAddressAndHistory) {
    frmMain& w = make();
    browser().locationName = QStringLiteral("Name From Browser");
    browser().locationURL = QStringLiteral("http://b.example/");
    browser().raiseTitle(QStringLiteral("title carried by the event"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Name From Browser - Tarnwick"));
    EXPECT_EQ(parts(w).URL->currentText(), QStringLiteral("http://b.example/"));
    EXPECT_EQ(listOf(w), QStringList({"http://b.example/"}));
    EXPECT_EQ(history(), QByteArray("\"http://b.example/\"\r\n"));

    browser().locationName = QString();
    browser().locationURL = QStringLiteral("http://a.example/");
    browser().raiseTitle(QStringLiteral("ignored"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral(" - Tarnwick"));
    EXPECT_EQ(history(), QByteArray("\"http://a.example/\"\r\n\"http://b.example/\"\r\n"));

    // The same page again: the list keeps one entry; the file is written all the same
    // (a new file takes its place).
    const auto inode = [&] {
        struct stat st {};
        return ::stat(QFile::encodeName(workDir.filePath(QStringLiteral("URL.slx"))).constData(), &st) == 0 ? st.st_ino : 0;
    };
    const ino_t before = inode();
    browser().raiseTitle();
    EXPECT_EQ(listOf(w), QStringList({"http://a.example/", "http://b.example/"}));
    EXPECT_EQ(history(), QByteArray("\"http://a.example/\"\r\n\"http://b.example/\"\r\n"));
    EXPECT_NE(inode(), before);
}

TEST_F(BrowserEvents, CaptionShowsPageTitlesQtWouldOtherwiseInterpret) {
    frmMain& w = make();
    w.show();
    browser().locationName = QStringLiteral("Draft [*] & more");
    browser().locationURL = QStringLiteral("http://a.example/");
    browser().raiseTitle();
    // What the window system is given is the text as it stands.
    EXPECT_EQ(w.windowHandle()->title(), QStringLiteral("Draft [*] & more - Tarnwick"));
}

TEST_F(BrowserEvents, FailingHistoryWriteKeepsCaptionAndAddress) {
    frmMain& w = make();
    ASSERT_TRUE(QDir(workDir.path()).mkdir(QStringLiteral("URL.slx")));  // a folder: cannot be written
    browser().locationName = QStringLiteral("Page");
    browser().locationURL = QStringLiteral("http://p.example/");
    browser().raiseTitle();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Page - Tarnwick"));
    EXPECT_EQ(parts(w).URL->currentText(), QStringLiteral("http://p.example/"));
    EXPECT_EQ(listOf(w), QStringList({"http://p.example/"}));
    // The program carries on: the next page is handled as usual.
    browser().locationURL = QStringLiteral("http://q.example/");
    browser().raiseTitle();
    EXPECT_EQ(parts(w).URL->currentText(), QStringLiteral("http://q.example/"));
}

TEST_F(BrowserEvents, DocumentCompleteBindsTheTopLevelHtmlDocumentOnly) {
    frmMain& w = make();
    EXPECT_EQ(w.boundDocument(), nullptr);
    auto first = std::make_shared<FakeDocument>();
    browser().document = first;
    browser().raiseDocumentComplete(QStringLiteral("http://a.example/frame1"));
    EXPECT_EQ(w.boundDocument(), first);
    EXPECT_TRUE(static_cast<bool>(first->oncontextmenu));

    // Frames completing rebind the same top-level document.
    browser().raiseDocumentComplete(QStringLiteral("http://a.example/frame2"));
    EXPECT_EQ(w.boundDocument(), first);

    // A document that is not HTML cannot be bound: the previous one stays.
    browser().document = nullptr;
    browser().raiseDocumentComplete();
    EXPECT_EQ(w.boundDocument(), first);

    // A new page: the old document is released and no longer reaches our menu.
    auto second = std::make_shared<FakeDocument>();
    browser().document = second;
    browser().raiseDocumentComplete();
    EXPECT_EQ(w.boundDocument(), second);
    EXPECT_FALSE(static_cast<bool>(first->oncontextmenu));
}

// ---------------------------------------------------------------------------------
// Address box

using AddressBoxTest = MainWindowFixture;

TEST_F(AddressBoxTest, EnterNavigatesToTheTextAndLeavesTheListAlone) {
    frmMain& w = make();
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    browser().navigations.clear();
    parts(w).URL->lineEdit()->setFocus();
    parts(w).URL->lineEdit()->selectAll();
    QTest::keyClicks(parts(w).URL->lineEdit(), QStringLiteral("typed.example/x"));
    EXPECT_TRUE(browser().navigations.isEmpty());
    QTest::keyClick(parts(w).URL->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(browser().navigations, QStringList({"typed.example/x"}));
    EXPECT_EQ(parts(w).URL->count(), 0);
    EXPECT_EQ(parts(w).URL->currentText(), QStringLiteral("typed.example/x"));

    // The history changes only when the page's title arrives, with the browser's address.
    browser().locationURL = QStringLiteral("http://typed.example/x");
    browser().raiseTitle();
    EXPECT_EQ(listOf(w), QStringList({"http://typed.example/x"}));
}

TEST_F(AddressBoxTest, ChoosingAnEntryNavigatesAndTextAndListStayIndependent) {
    writeFile(workDir.filePath(QStringLiteral("URL.slx")), "\"http://a.example/\"\r\n\"http://b.example/\"\r\n");
    frmMain& w = make();
    browser().navigations.clear();
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_EQ(parts(w).URL->currentText(), kDefaultStartPage);
    EXPECT_EQ(parts(w).URL->currentIndex(), -1);  // the restored list selects nothing

    // Down arrow selects an entry: the browser goes there.
    parts(w).URL->lineEdit()->setFocus();
    QTest::keyClick(parts(w).URL->lineEdit(), Qt::Key_Down);
    ASSERT_EQ(browser().navigations.size(), 1);
    EXPECT_EQ(browser().navigations.first(), parts(w).URL->currentText());
    EXPECT_TRUE(listOf(w).contains(parts(w).URL->currentText()));
    ASSERT_EQ(parts(w).URL->currentIndex(), 0);

    // Adding entries leaves the text alone.
    parts(w).URL->setEditText(QStringLiteral("typed but not confirmed"));
    browser().locationURL = QStringLiteral("http://0.example/");
    w.AddUrlToHistory();
    EXPECT_EQ(parts(w).URL->currentText(), QStringLiteral("typed but not confirmed"));
    EXPECT_EQ(listOf(w), QStringList({"http://0.example/", "http://a.example/", "http://b.example/"}));
    // ...and leaves no entry selected: the arrow keys start afresh from the text.
    EXPECT_EQ(parts(w).URL->currentIndex(), -1);

    // ...until the next title event replaces the typed text with the page's address.
    browser().raiseTitle();
    EXPECT_EQ(parts(w).URL->currentText(), QStringLiteral("http://0.example/"));
}

TEST_F(AddressBoxTest, HistoryFollowsTheCurrentDirectoryAtEachAccess) {
    frmMain& w = make();
    QTemporaryDir elsewhere;
    browser().locationURL = QStringLiteral("http://one.example/");
    browser().raiseTitle();
    QDir::setCurrent(elsewhere.path());
    browser().locationURL = QStringLiteral("http://two.example/");
    browser().raiseTitle();
    EXPECT_EQ(history(), QByteArray("\"http://one.example/\"\r\n"));
    QFile moved(elsewhere.filePath(QStringLiteral("URL.slx")));
    ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
    EXPECT_EQ(moved.readAll(), QByteArray("\"http://one.example/\"\r\n\"http://two.example/\"\r\n"));
    w.ClearUrlHistory();
    EXPECT_FALSE(moved.exists());
    EXPECT_TRUE(QFile::exists(workDir.filePath(QStringLiteral("URL.slx"))));
    QDir::setCurrent(workDir.path());
}

// ---------------------------------------------------------------------------------
// Shutdown

using Shutdown = MainWindowFixture;

TEST_F(Shutdown, ExitCloseAndCtrlEEndTheProgram) {
    frmMain& w = make();
    w.mnuExit_Click();
    EXPECT_EQ(fake.endRequests, 1);
    w.show();
    w.close();
    EXPECT_EQ(fake.endRequests, 2);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(fake.endRequests, 3);
    // Nothing was written at the end.
    EXPECT_EQ(ini(), kDefaultIni);
    EXPECT_FALSE(QFile::exists(workDir.filePath(QStringLiteral("URL.slx"))));
}

TEST_F(MainWindowLayout, BrowserHasTheFocusFirst) {
    frmMain& w = make();
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_EQ(QApplication::focusWidget(), parts(w).Browser->widget());
}
