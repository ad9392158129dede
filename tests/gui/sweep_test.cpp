// The popup sweep over a fake desktop.

#include <QTimer>
#include <climits>

#include "main_window_fixture.h"
#include "window_parts.h"

namespace {

constexpr std::uint32_t kShown = WindowStyle::Visible | WindowStyle::Border;
const QString kIE = QStringLiteral("Microsoft Internet Explorer");

class Sweep : public MainWindowFixture {
protected:
    frmMain& start() {
        frmMain& w = make();
        parts(w).tmrEngine->stop();  // sweeps run when the test says so
        browser().navigations.clear();
        return w;
    }
    // One sweep, then the windows handle what they were sent.
    void sweep(frmMain& w) {
        w.FindApps();
        QCoreApplication::processEvents();
    }
};

}  // namespace

TEST_F(Sweep, ClosesExactlyTheVisibleBorderedWindowsEndingInTheProductName) {
    frmMain& w = start();
    FakeDesktop& d = fake.desktop;
    const WindowId plain = d.add(kIE);
    const WindowId page = d.add(QStringLiteral("Some Page - ") + kIE);
    const WindowId capitals = d.add(QStringLiteral("Page - Microsoft internet Explorer"));
    const WindowId version = d.add(QStringLiteral("Page - Microsoft Internet Explorer 6"));
    const WindowId blank = d.add(QStringLiteral("Page - Microsoft Internet Explorer "));
    const WindowId other = d.add(QStringLiteral("Page - Mozilla Firefox"));
    const WindowId untitled = d.add(QString());
    d.addWithId(w.hWnd(), QStringLiteral("Main - ") + kIE);
    const WindowId message = d.add(kIE, kShown);  // a message box with that title
    // Below the others: the find by title would otherwise pick them for the message box.
    const WindowId hidden = d.add(kIE, WindowStyle::Border);
    const WindowId borderless = d.add(kIE, WindowStyle::Visible);

    sweep(w);

    EXPECT_EQ(d.closeRequests, std::vector<WindowId>({plain, page, message}));
    EXPECT_EQ(w.popupSweep().DeniedCount(), 3);
    EXPECT_EQ(parts(w).Panel1->text(), QStringLiteral("3 events denied"));
    for (WindowId kept : {capitals, version, blank, other, hidden, borderless, untitled, w.hWnd()})
        EXPECT_TRUE(d.exists(kept));

    // The list: every titled, visible, bordered window but the main one, with its id.
    ASSERT_EQ(w.popupSweep().lstApp().size(), 7u);
    const std::vector<std::pair<QString, WindowId>> expected = {
        {kIE, plain},
        {QStringLiteral("Some Page - ") + kIE, page},
        {QStringLiteral("Page - Microsoft internet Explorer"), capitals},
        {QStringLiteral("Page - Microsoft Internet Explorer 6"), version},
        {QStringLiteral("Page - Microsoft Internet Explorer "), blank},
        {QStringLiteral("Page - Mozilla Firefox"), other},
        {kIE, message},
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(w.popupSweep().lstApp()[i].text, expected[i].first);
        EXPECT_EQ(w.popupSweep().lstApp()[i].itemData, expected[i].second);
    }
    // The label holds the tail of the last titled window visited.
    EXPECT_EQ(w.popupSweep().id(), kIE);
}

TEST_F(Sweep, CountTextAndCountsPastSixteenBits) {
    frmMain& w = start();
    fake.desktop.add(kIE);
    sweep(w);
    EXPECT_EQ(parts(w).Panel1->text(), QStringLiteral("1 event denied"));
    fake.desktop.add(kIE);
    sweep(w);
    EXPECT_EQ(parts(w).Panel1->text(), QStringLiteral("2 events denied"));

    w.popupSweep().setDeniedCount(32767);
    fake.desktop.add(kIE);
    sweep(w);
    EXPECT_EQ(parts(w).Panel1->text(), QStringLiteral("32768 events denied"));
    w.popupSweep().setDeniedCount(4294967295LL);
    fake.desktop.add(kIE);
    sweep(w);
    EXPECT_EQ(parts(w).Panel1->text(), QStringLiteral("4294967296 events denied"));
}

TEST_F(Sweep, NavigatesToTheLastStatusTextOnlyWhenItIsAnHttpAddress) {
    frmMain& w = start();
    const std::pair<const char*, bool> cases[] = {
        {"http://127.0.0.1:8080/target?a=1&b=2", true},
        {"https://secure.example/", false},
        {"HTTP://LOUD.EXAMPLE/", false},
        {"http:/", false},
        {"", false},
        {"Done", false},
    };
    for (auto [status, navigates] : cases) {
        browser().navigations.clear();
        browser().raiseStatusText(QString::fromLatin1(status));
        fake.desktop.add(kIE);
        const auto before = w.popupSweep().DeniedCount();
        sweep(w);
        EXPECT_EQ(w.popupSweep().DeniedCount(), before + 1) << status;
        EXPECT_EQ(browser().navigations,
                  navigates ? QStringList({QString::fromLatin1(status)}) : QStringList())
            << status;
    }
}

TEST_F(Sweep, TwoMatchesInOneSweepCountTwiceAndNavigateTwice) {
    frmMain& w = start();
    browser().raiseStatusText(QStringLiteral("http://link.example/"));
    const WindowId a = fake.desktop.add(QStringLiteral("A - ") + kIE);
    const WindowId b = fake.desktop.add(QStringLiteral("B - ") + kIE);
    sweep(w);
    EXPECT_EQ(fake.desktop.closeRequests, std::vector<WindowId>({a, b}));
    EXPECT_EQ(parts(w).Panel1->text(), QStringLiteral("2 events denied"));
    EXPECT_EQ(browser().navigations, QStringList({"http://link.example/", "http://link.example/"}));
}

TEST_F(Sweep, SameTitleTwiceAsksTheFirstFoundWindowBothTimes) {
    frmMain& w = start();
    // The first window takes its time to close; the find by title returns it again.
    const WindowId first = fake.desktop.add(kIE, kShown, /*closesOnRequest=*/false);
    const WindowId second = fake.desktop.add(kIE, kShown, /*closesOnRequest=*/false);
    sweep(w);
    EXPECT_EQ(fake.desktop.closeRequests, std::vector<WindowId>({first, first}));
    EXPECT_EQ(w.popupSweep().DeniedCount(), 2);
    // A window still open at the next tick is asked again and counted again.
    sweep(w);
    EXPECT_EQ(w.popupSweep().DeniedCount(), 4);
    EXPECT_TRUE(fake.desktop.exists(second));
}

TEST_F(Sweep, TitleChangedBeforeTheFindClosesNothingButStillCounts) {
    frmMain& w = start();
    browser().raiseStatusText(QStringLiteral("http://link.example/"));
    const WindowId popup = fake.desktop.add(QStringLiteral("Old - ") + kIE);
    fake.desktop.afterTitleRead = [&](WindowId id) {
        if (auto* window = fake.desktop.find(id)) window->title = QStringLiteral("New title");
    };
    sweep(w);
    EXPECT_TRUE(fake.desktop.closeRequests.empty());
    EXPECT_TRUE(fake.desktop.exists(popup));
    EXPECT_EQ(parts(w).Panel1->text(), QStringLiteral("1 event denied"));
    EXPECT_EQ(browser().navigations, QStringList({"http://link.example/"}));
}

TEST_F(Sweep, TitleThatShrankBetweenLengthAndReadIsCaughtAtTheNextTick) {
    frmMain& w = start();
    // The length is asked first; by the time the text is read the title is shorter, so
    // the buffer's tail is the blanks it was made of: listed, not matched.
    const WindowId popup = fake.desktop.add(kIE);
    fake.desktop.titleLengthOverride = 60;
    sweep(w);
    EXPECT_EQ(w.popupSweep().DeniedCount(), 0);
    ASSERT_EQ(w.popupSweep().lstApp().size(), 1u);
    EXPECT_EQ(w.popupSweep().lstApp()[0].text, kIE);
    EXPECT_EQ(w.popupSweep().id(), QString(28, QLatin1Char(' ')));
    fake.desktop.titleLengthOverride.reset();
    sweep(w);
    EXPECT_EQ(fake.desktop.closeRequests, std::vector<WindowId>({popup}));
}

TEST_F(Sweep, WindowDestroyedDuringTheYieldEndsTheWalk) {
    frmMain& w = start();
    const WindowId doomed = fake.desktop.add(kIE);
    const WindowId later = fake.desktop.add(kIE);
    // Runs in the sweep's first yield, before the first window is examined.
    QTimer::singleShot(0, [&] { fake.desktop.remove(doomed); });
    sweep(w);
    EXPECT_TRUE(fake.desktop.closeRequests.empty());
    EXPECT_TRUE(fake.desktop.exists(later));
    EXPECT_EQ(w.popupSweep().DeniedCount(), 0);
    // The next tick starts afresh and finds it.
    sweep(w);
    EXPECT_EQ(fake.desktop.closeRequests, std::vector<WindowId>({later}));
}

TEST_F(Sweep, StatusTextChangingDuringTheYieldIsUsed) {
    frmMain& w = start();
    fake.desktop.add(kIE);
    QTimer::singleShot(0, [&] { browser().raiseStatusText(QStringLiteral("http://newer.example/")); });
    sweep(w);
    EXPECT_EQ(browser().navigations, QStringList({"http://newer.example/"}));
}

TEST_F(Sweep, TitleLengthOverflowAbandonsOnlyThisSweep) {
    frmMain& w = start();
    fake.desktop.add(QStringLiteral("Editor"));
    fake.desktop.add(kIE);
    fake.desktop.titleLengthOverride = INT_MAX;
    sweep(w);
    EXPECT_TRUE(w.popupSweep().lstApp().empty());
    EXPECT_EQ(w.popupSweep().DeniedCount(), 0);
    fake.desktop.titleLengthOverride.reset();
    sweep(w);
    EXPECT_EQ(w.popupSweep().DeniedCount(), 1);
    EXPECT_EQ(w.popupSweep().lstApp().size(), 2u);
}

TEST_F(Sweep, TicksAndReportsDuringASweepNeverNestAndReportsCoalesce) {
    frmMain& w = start();
    PopupSweep& sweep = w.popupSweep();
    ASSERT_TRUE(sweep.earlySweepEnabled());
    fake.desktop.add(kIE, kShown, /*closesOnRequest=*/false);
    fake.desktop.add(QStringLiteral("Other"));
    const WindowId late = fake.desktop.add(QStringLiteral("Other"));

    // During the sweep's first yield: a tick, then a burst of reports (one of them for
    // the main window itself, which asks for nothing).
    int nested = 0;
    QTimer::singleShot(0, [&] {
        ++nested;
        w.tmrEngine_Timer();
        EXPECT_TRUE(sweep.sweeping());
        fake.desktop.announce(w.hWnd());
        for (int i = 0; i < 5; ++i) fake.desktop.announce(late);
    });
    w.tmrEngine_Timer();
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(sweep.sweepCount(), 1u);
    EXPECT_EQ(sweep.DeniedCount(), 1);
    // The reports that came while it yielded give exactly one more sweep.
    ASSERT_TRUE(waitUntil([&] { return sweep.sweepCount() == 2; }, 2000));
    EXPECT_EQ(sweep.DeniedCount(), 2);

    // A burst while nothing sweeps: one sweep from the event loop, at once.
    for (int i = 0; i < 20; ++i) fake.desktop.announce(late);
    EXPECT_EQ(sweep.sweepCount(), 2u);  // not from within the report
    QCoreApplication::processEvents();
    EXPECT_EQ(sweep.sweepCount(), 3u);
    EXPECT_EQ(sweep.DeniedCount(), 3);
    // A later tick sweeps as before; the early sweeps left nothing queued behind.
    QCoreApplication::processEvents();
    w.tmrEngine_Timer();
    EXPECT_EQ(sweep.sweepCount(), 4u);
    EXPECT_EQ(fake.desktop.closeRequests.size(), 4u);
    // The main window's own report alone asks for no sweep.
    fake.desktop.announce(w.hWnd());
    QCoreApplication::processEvents();
    EXPECT_EQ(sweep.sweepCount(), 4u);
}

TEST_F(Sweep, TimerDrivesTheSweepTenTimesASecond) {
    frmMain& w = make();
    const WindowId popup = fake.desktop.add(QStringLiteral("Popup - ") + kIE);
    EXPECT_TRUE(parts(w).tmrEngine->isActive());
    // No report from the fake desktop: only the tick can find it.
    ASSERT_TRUE(waitUntil([&] { return !fake.desktop.exists(popup); }, 2000));
    EXPECT_EQ(parts(w).Panel1->text(), QStringLiteral("1 event denied"));
}
