// The source viewer: one window reused while open, its caption, its text box and its
// layout, on the fake browser and platform.

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QWindow>
#include <optional>

#include "browse/frm_source.h"
#include "main_window_fixture.h"
#include "platform/ui/twips.h"
#include "window_parts.h"

class SourceViewer : public MainWindowFixture {
protected:
    void TearDown() override {
        MainWindowFixture::TearDown();
        deleteClosedWindows();
    }
    // Shows `page` with `markup` as the browser's current document.
    void showPage(const QString& url, std::optional<QString> markup) {
        auto doc = std::make_shared<FakeDocument>();
        doc->innerHTML = std::move(markup);
        browser().document = doc;
        browser().locationURL = url;
    }
};

TEST_F(SourceViewer, OneWindowReusedWhileOpenAndCreatedAnewAfterClosing) {
    frmMain& w = make();
    showPage(QStringLiteral("http://a.example/"), QStringLiteral("<head></head><body>A &amp; a</body>"));
    parts(w).mnuSource2->trigger();
    ASSERT_TRUE(w.sourceWindow());
    frmSource* first = w.sourceWindow();
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->parentWidget(), nullptr);
    EXPECT_EQ(textOf(first)->toPlainText(), QStringLiteral("<head></head><body>A &amp; a</body>"));
    EXPECT_EQ(first->windowTitle(), QStringLiteral("http://a.example/ - Tarnwick"));

    // Navigating elsewhere leaves the copy alone.
    showPage(QStringLiteral("http://b.example/"), QStringLiteral("<body>B</body>"));
    EXPECT_EQ(textOf(first)->toPlainText(), QStringLiteral("<head></head><body>A &amp; a</body>"));

    // A second View Source refills the same window.
    w.mnuSource2_Click();
    EXPECT_EQ(w.sourceWindow(), first);
    EXPECT_EQ(textOf(first)->toPlainText(), QStringLiteral("<body>B</body>"));
    EXPECT_EQ(first->windowTitle(), QStringLiteral("http://b.example/ - Tarnwick"));
    EXPECT_EQ(topLevels<frmSource>().size(), 1);

    // Closed: the next View Source creates a new window, even before the old one is gone.
    QPointer<frmSource> closed(first);
    first->close();
    showPage(QStringLiteral("http://c.example/"), QStringLiteral("<body>C</body>"));
    w.mnuSource2_Click();
    ASSERT_TRUE(w.sourceWindow());
    EXPECT_NE(w.sourceWindow(), first);
    EXPECT_TRUE(w.sourceWindow()->isVisible());
    EXPECT_EQ(textOf(w.sourceWindow())->toPlainText(), QStringLiteral("<body>C</body>"));
    deleteClosedWindows();
    EXPECT_TRUE(closed.isNull());
    ASSERT_TRUE(w.sourceWindow());
    EXPECT_EQ(topLevels<frmSource>().size(), 1);
}

TEST_F(SourceViewer, CaptionIsTheAddressFollowedBySuffixAsDisplayed) {
    frmMain& w = make();
    const QString address = QStringLiteral("http://x.example/[*]&q=1 - a");
    showPage(address, QStringLiteral("<body></body>"));
    w.mnuSource2_Click();
    ASSERT_TRUE(w.sourceWindow());
    ASSERT_TRUE(w.sourceWindow()->windowHandle());
    EXPECT_EQ(w.sourceWindow()->windowHandle()->title(), address + QStringLiteral(" - Tarnwick"));
}

TEST_F(SourceViewer, WithoutMarkupNothingHappens) {
    frmMain& w = make();
    browser().document = nullptr;  // no document, or one that cannot be bound
    browser().locationURL = QStringLiteral("http://a.example/");
    w.mnuSource2_Click();
    showPage(QStringLiteral("file:///tmp/picture.png"), std::nullopt);  // no root element
    w.mnuSource2_Click();
    EXPECT_FALSE(w.sourceWindow());
    EXPECT_TRUE(topLevels<frmSource>().isEmpty());

    // An open window keeps what it had when the next page has no markup.
    showPage(QStringLiteral("http://a.example/"), QStringLiteral("<body>A</body>"));
    w.mnuSource2_Click();
    showPage(QStringLiteral("file:///tmp/picture.png"), std::nullopt);
    w.mnuSource2_Click();
    ASSERT_TRUE(w.sourceWindow());
    EXPECT_EQ(textOf(w.sourceWindow())->toPlainText(), QStringLiteral("<body>A</body>"));
    EXPECT_EQ(w.sourceWindow()->windowTitle(), QStringLiteral("http://a.example/ - Tarnwick"));
}

TEST_F(SourceViewer, TextBoxLooksLikeAnEditorAndIsEditable) {
    frmMain& w = make();
    QString wide = QStringLiteral("<body>");
    for (int i = 0; i < 400; ++i) wide += QStringLiteral("x");
    for (int i = 0; i < 200; ++i) wide += QStringLiteral("\n<p>line</p>");
    showPage(QStringLiteral("http://a.example/"), wide);
    w.mnuSource2_Click();
    ASSERT_TRUE(w.sourceWindow());
    frmSource& s = *w.sourceWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&s));
    QPlainTextEdit* box = textOf(&s);

    expectTextWindowFont(box);
    EXPECT_EQ(box->palette().color(QPalette::Base), QColor(255, 255, 255));
    EXPECT_EQ(box->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_TRUE(box->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(box->verticalScrollBar()->isVisible());

    // A sizable ordinary window with the program's icon, shown in the taskbar.
    EXPECT_EQ(s.windowType(), Qt::Window);
    EXPECT_TRUE(s.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(s.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_NE(s.minimumSize(), s.maximumSize());
    EXPECT_FALSE(s.windowIcon().isNull());

    // Edits stay in the box.
    EXPECT_FALSE(box->isReadOnly());
    s.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&s));
    box->setFocus();
    box->moveCursor(QTextCursor::Start);
    QTest::keyClicks(box, QStringLiteral("edited"));
    EXPECT_TRUE(box->toPlainText().startsWith(QStringLiteral("edited<body>")));
    EXPECT_EQ(browser().navigations.size(), 2);  // start-up only
}

TEST_F(SourceViewer, LayoutFollowsTheOuterSizeAndKeepsAUsableSize) {
    frmMain& w = make();
    showPage(QStringLiteral("http://a.example/"), QStringLiteral("<body></body>"));
    w.mnuSource2_Click();
    ASSERT_TRUE(w.sourceWindow());
    frmSource& s = *w.sourceWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&s));
    QPlainTextEdit* box = textOf(&s);

    auto expectRules = [&](const char* what) {
        const QRect outer = s.frameGeometry();
        EXPECT_EQ(box->pos(), QPoint(0, 0)) << what;
        EXPECT_EQ(box->width(), tw::px(outer.width() * 15.0f - 115.0f)) << what;
        EXPECT_EQ(box->height(), tw::px(outer.height() * 15.0f - 400.0f)) << what;
    };
    // Shown: never at its creation size (9615 x 5055 twips).
    expectRules("shown");
    EXPECT_NE(box->size(), QSize(tw::px(9615), tw::px(5055)));

    s.resize(900, 700);
    QCoreApplication::processEvents();
    expectRules("larger");

    // Narrower than 115 and lower than 400 twips: the box keeps its last size.
    const QSize kept = box->size();
    s.setMinimumSize(0, 0);
    s.resize(1, 20);
    QCoreApplication::processEvents();
    ASSERT_LT(s.frameGeometry().width() * 15, 115);
    ASSERT_LT(s.frameGeometry().height() * 15, 400);
    EXPECT_EQ(box->size(), kept);

    // Only one of the two negative: the other rule still applies.
    s.resize(1, 300);
    QCoreApplication::processEvents();
    EXPECT_EQ(box->width(), kept.width());
    EXPECT_EQ(box->height(), tw::px(s.frameGeometry().height() * 15.0f - 400.0f));

    s.resize(640, 480);
    QCoreApplication::processEvents();
    expectRules("restored");
}
