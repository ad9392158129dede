// The popup sweep over a fake desktop: which windows it closes, counts and lists, where it
// sends the main browser, how it survives windows changing while it yields, and that
// looking only at the windows a desktop reports changed gives exactly what a walk over
// all of them gives.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QString>
#include <QTimer>
#include <climits>
#include <random>

#include "denial/popup_sweep.h"
#include "fakes.h"
#include "untracked_desktop.h"
#include "wait.h"

namespace {

const QString kIE = QStringLiteral("Microsoft Internet Explorer");
constexpr std::uint32_t kShown = WindowStyle::Visible | WindowStyle::Border;

// A sweep on a fake desktop with a main window of its own, recording what it reports.
struct SweepOnFakes : ::testing::Test {
    FakeDesktop desktop;
    WindowId mainWindow = 1;
    QString statusText;
    std::int64_t reported = -1;  // the count last reported
    QStringList navigated;
    PopupSweep sweep{desktop, PopupSweep::Hooks{[this] { return mainWindow; }, [this] { return statusText; },
                                                [this](std::int64_t count) { reported = count; },
                                                [this](const QString& address) { navigated << address; }}};

    SweepOnFakes() { sweep.setTaskStyleMask(kTaskStyleMask); }
    // One sweep, then the windows handle what they were sent.
    void run() {
        sweep.FindApps();
        QCoreApplication::processEvents();
    }
};

struct Observed {
    std::vector<std::pair<QString, WindowId>> list;
    QString id;
    std::int64_t denied = 0;
    std::vector<WindowId> closed;
    QStringList navigated;
    bool operator==(const Observed&) const = default;
};

void PrintTo(const Observed& o, std::ostream* out) {
    *out << "denied " << o.denied << ", id \"" << o.id.toStdString() << "\", list";
    for (const auto& [title, window] : o.list) *out << " " << window << ":\"" << title.toStdString() << "\"";
    *out << ", closed";
    for (WindowId w : o.closed) *out << " " << w;
    *out << ", navigated " << o.navigated.size();
}

TEST_F(SweepOnFakes, ClosesExactlyTheVisibleBorderedWindowsEndingInTheProductName) {
    FakeDesktop& d = desktop;
    const WindowId plain = d.add(kIE);
    const WindowId page = d.add(QStringLiteral("Some Page - ") + kIE);
    const WindowId capitals = d.add(QStringLiteral("Page - Microsoft internet Explorer"));
    const WindowId version = d.add(QStringLiteral("Page - Microsoft Internet Explorer 6"));
    const WindowId blank = d.add(QStringLiteral("Page - Microsoft Internet Explorer "));
    const WindowId other = d.add(QStringLiteral("Page - Mozilla Firefox"));
    const WindowId untitled = d.add(QString());
    d.addWithId(mainWindow, QStringLiteral("Main - ") + kIE);
    const WindowId message = d.add(kIE, kShown);  // a message box with that title
    // Below the others: the find by title would otherwise pick them for the message box.
    const WindowId hidden = d.add(kIE, WindowStyle::Border);
    const WindowId borderless = d.add(kIE, WindowStyle::Visible);

    run();

    EXPECT_EQ(d.closeRequests, std::vector<WindowId>({plain, page, message}));
    EXPECT_EQ(sweep.DeniedCount(), 3);
    EXPECT_EQ(reported, 3);
    for (WindowId kept : {capitals, version, blank, other, hidden, borderless, untitled, mainWindow})
        EXPECT_TRUE(d.exists(kept));

    // The list: every titled, visible, bordered window but the main one, with its id.
    const std::vector<std::pair<QString, WindowId>> expected = {
        {kIE, plain},
        {QStringLiteral("Some Page - ") + kIE, page},
        {QStringLiteral("Page - Microsoft internet Explorer"), capitals},
        {QStringLiteral("Page - Microsoft Internet Explorer 6"), version},
        {QStringLiteral("Page - Microsoft Internet Explorer "), blank},
        {QStringLiteral("Page - Mozilla Firefox"), other},
        {kIE, message},
    };
    std::vector<std::pair<QString, WindowId>> listed;
    for (const auto& entry : sweep.lstApp()) listed.emplace_back(entry.text, entry.itemData);
    EXPECT_EQ(listed, expected);
    // The label holds the tail of the last titled window visited.
    EXPECT_EQ(sweep.id(), kIE);
}

TEST_F(SweepOnFakes, EveryMatchCountsAndNavigatesOnlyToAnHttpStatusText) {
    const std::pair<const char*, bool> cases[] = {
        {"http://127.0.0.1:8080/target?a=1&b=2", true},
        {"https://secure.example/", false},
        {"HTTP://LOUD.EXAMPLE/", false},
        {"http:/", false},
        {"", false},
        {"Done", false},
    };
    for (auto [status, navigates] : cases) {
        navigated.clear();
        statusText = QString::fromLatin1(status);
        desktop.add(kIE);
        const auto before = sweep.DeniedCount();
        run();
        EXPECT_EQ(reported, before + 1) << status;
        EXPECT_EQ(navigated, navigates ? QStringList({statusText}) : QStringList()) << status;
    }
    // Two matches in one sweep count twice and navigate twice.
    navigated.clear();
    statusText = QStringLiteral("http://link.example/");
    const std::size_t requests = desktop.closeRequests.size();
    const WindowId a = desktop.add(QStringLiteral("A - ") + kIE);
    const WindowId b = desktop.add(QStringLiteral("B - ") + kIE);
    run();
    EXPECT_EQ(std::vector<WindowId>(desktop.closeRequests.begin() + std::ptrdiff_t(requests), desktop.closeRequests.end()),
              std::vector<WindowId>({a, b}));
    EXPECT_EQ(reported, std::int64_t(std::size(cases)) + 2);
    EXPECT_EQ(navigated, QStringList({statusText, statusText}));
    // The count runs on past 16 and 32 bits.
    for (const std::int64_t from : {32767LL, 4294967295LL}) {
        sweep.setDeniedCount(from);
        desktop.add(kIE);
        run();
        EXPECT_EQ(reported, from + 1);
    }
}

TEST_F(SweepOnFakes, SameTitleTwiceAsksTheFirstFoundWindowBothTimes) {
    // The first window takes its time to close; the find by title returns it again.
    const WindowId first = desktop.add(kIE, kShown, /*closesOnRequest=*/false);
    const WindowId second = desktop.add(kIE, kShown, /*closesOnRequest=*/false);
    run();
    EXPECT_EQ(desktop.closeRequests, std::vector<WindowId>({first, first}));
    EXPECT_EQ(sweep.DeniedCount(), 2);
    // A window still open at the next tick is asked again and counted again.
    run();
    EXPECT_EQ(sweep.DeniedCount(), 4);
    EXPECT_TRUE(desktop.exists(second));
}

TEST_F(SweepOnFakes, TitlesChangingUnderTheSweepCostAtMostOneTick) {
    statusText = QStringLiteral("http://link.example/");
    // Retitled between the read and the find by title: nothing closed, still counted.
    const WindowId popup = desktop.add(QStringLiteral("Old - ") + kIE);
    desktop.afterTitleRead = [&](WindowId id) {
        if (auto* window = desktop.find(id)) window->title = QStringLiteral("New title");
    };
    run();
    desktop.afterTitleRead = nullptr;
    EXPECT_TRUE(desktop.closeRequests.empty());
    EXPECT_TRUE(desktop.exists(popup));
    EXPECT_EQ(reported, 1);
    EXPECT_EQ(navigated, QStringList({statusText}));
    desktop.remove(popup);

    // Shorter by the time the text is read than the length asked first: the buffer's tail
    // is the blanks it was made of, so it is listed, not matched, until the next tick.
    const WindowId shrunk = desktop.add(kIE);
    desktop.titleLengthOverride = 60;
    run();
    EXPECT_EQ(sweep.DeniedCount(), 1);
    ASSERT_EQ(sweep.lstApp().size(), 1u);
    EXPECT_EQ(sweep.lstApp()[0].text, kIE);
    EXPECT_EQ(sweep.id(), QString(28, QLatin1Char(' ')));
    desktop.titleLengthOverride.reset();
    run();
    EXPECT_EQ(desktop.closeRequests, std::vector<WindowId>({shrunk}));

    // A length that overflows abandons that sweep (nothing below it is looked at), and
    // that sweep only.
    const WindowId huge = desktop.add(QStringLiteral("Huge"));
    desktop.find(huge)->titleLength = INT_MAX;
    desktop.add(QStringLiteral("Editor"));
    desktop.add(kIE);
    run();
    EXPECT_TRUE(sweep.lstApp().empty());
    EXPECT_EQ(sweep.DeniedCount(), 2);
    desktop.find(huge)->titleLength.reset();
    run();
    EXPECT_EQ(sweep.DeniedCount(), 3);
    EXPECT_EQ(sweep.lstApp().size(), 3u);
}

TEST_F(SweepOnFakes, StatusTextChangingDuringTheYieldIsUsed) {
    desktop.add(kIE);
    QTimer::singleShot(0, [&] { statusText = QStringLiteral("http://newer.example/"); });
    run();
    EXPECT_EQ(navigated, QStringList({"http://newer.example/"}));
}

// A popup that never closes: asked and counted once per tick, whichever sweeps run in
// between. An early sweep does the next tick's work sooner: what it asks waits out the
// tick after it.
TEST_F(SweepOnFakes, TicksAndReportsDuringASweepNeverNestAndReportsCoalesce) {
    desktop.tracksChanges = true;
    sweep.enableEarlySweep();
    const WindowId stays = desktop.add(kIE, kShown, /*closesOnRequest=*/false);
    const WindowId second = desktop.add(QStringLiteral("Other"), kShown, /*closesOnRequest=*/false);
    const WindowId late = desktop.add(QStringLiteral("Other"));

    // During the sweep's first yield: a tick, then a burst of reports (one of them for
    // the main window itself, which asks for nothing).
    int nested = 0;
    QTimer::singleShot(0, [&] {
        ++nested;
        sweep.tmrEngine_Timer();
        EXPECT_TRUE(sweep.sweeping());
        desktop.announce(mainWindow);
        for (int i = 0; i < 5; ++i) desktop.announce(late);
    });
    sweep.tmrEngine_Timer();
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(sweep.sweepCount(), 1u);
    EXPECT_EQ(sweep.DeniedCount(), 1);
    // The reports that came while it yielded give exactly one more sweep, which leaves
    // the asked popup its time.
    ASSERT_TRUE(waitUntil([&] { return sweep.sweepCount() == 2; }, 2000));
    EXPECT_EQ(sweep.DeniedCount(), 1);

    // A burst while nothing sweeps: one sweep from the event loop, at once.
    for (int i = 0; i < 20; ++i) desktop.announce(late);
    EXPECT_EQ(sweep.sweepCount(), 2u);  // not from within the report
    QCoreApplication::processEvents();
    EXPECT_EQ(sweep.sweepCount(), 3u);
    EXPECT_EQ(sweep.DeniedCount(), 1);
    // The next tick asks again; the early sweeps left nothing queued behind.
    QCoreApplication::processEvents();
    sweep.tmrEngine_Timer();
    EXPECT_EQ(sweep.sweepCount(), 4u);
    EXPECT_EQ(desktop.closeRequests, std::vector<WindowId>({stays, stays}));
    // The main window's own report alone asks for no sweep.
    desktop.announce(mainWindow);
    QCoreApplication::processEvents();
    EXPECT_EQ(sweep.sweepCount(), 4u);

    // A second popup that never closes, asked by an early sweep: the next tick asks only
    // the first again, the tick after both.
    desktop.retitle(second, QStringLiteral("Second - ") + kIE);
    desktop.announce(second);
    QCoreApplication::processEvents();
    EXPECT_EQ(sweep.DeniedCount(), 3);
    sweep.tmrEngine_Timer();
    sweep.tmrEngine_Timer();
    EXPECT_EQ(desktop.closeRequests, std::vector<WindowId>({stays, stays, second, stays, stays, second}));
    // A window coming or going may hand its id to another: the next sweep asks anew.
    desktop.remove(late);
    desktop.announce(stays);
    QCoreApplication::processEvents();
    EXPECT_EQ(sweep.DeniedCount(), 8);
}

TEST(PopupSweep, LookingOnlyAtChangedWindowsFindsWhatTheWholeWalkFinds) {
    std::mt19937 random(testSeed());
    FakeDesktop desktop;
    desktop.tracksChanges = true;
    UntrackedDesktop untracked(desktop);
    // Titles that match are rarer than the others, as on a desktop.
    // (The last: a match whose title up to its NUL no window has, so it is never closed.)
    const QString titles[] = {QString(), QStringLiteral("Editor"), QStringLiteral("Page - Microsoft Internet Explorer 6"),
                              QStringLiteral("A long title of a page that is not a browser window at all"),
                              QStringLiteral("Mail"), QStringLiteral("Terminal"), QStringLiteral("Calculator"),
                              QStringLiteral("Page - ") + kIE, kIE, QStringLiteral("x") + QChar(0) + QStringLiteral(" - ") + kIE};
    const std::uint32_t styles[] = {kTaskStyleMask, WindowStyle::Visible, WindowStyle::Border, 0};
    const auto pick = [&](auto& from) { return from[random() % std::size(from)]; };
    for (int i = 0; i < 40; ++i) desktop.add(titles[random() % 7], pick(styles), /*closesOnRequest=*/false);
    WindowId main = desktop.windows[7].id;

    // Two sweeps, one told what changed and one walking everything, each with its own
    // record of what it did.
    Observed seen[2];
    std::vector<std::unique_ptr<PopupSweep>> sweeps;
    for (int k = 0; k < 2; ++k) {
        sweeps.push_back(std::make_unique<PopupSweep>(
            k == 0 ? static_cast<DesktopWindows&>(desktop) : untracked,
            PopupSweep::Hooks{[&main] { return main; }, [] { return QStringLiteral("http://link.example/"); },
                              [&seen, k](std::int64_t count) { seen[k].denied = count; },
                              [&seen, k](const QString& address) { seen[k].navigated << address; }}));
        sweeps.back()->setTaskStyleMask(kTaskStyleMask);
    }
    int titleReads = 0;
    desktop.beforeTitleRead = [&](WindowId) { ++titleReads; };
    for (int round = 0; round < 400; ++round) {
        const int changes = int(random() % 4);  // often none at all
        for (int c = 0; c < changes; ++c) {
            FakeDesktop::Window& w = desktop.windows[random() % desktop.windows.size()];
            switch (random() % 16) {
            case 0: desktop.add(pick(titles), pick(styles), false); break;
            case 1:
                if (w.id != main) desktop.remove(w.id);
                break;
            case 2: desktop.restyle(w.id, pick(styles)); break;
            case 3:  // another main window, or another mask
                if (random() % 2) {
                    main = w.id;
                } else {
                    const std::uint32_t mask = random() % 2 ? kTaskStyleMask : WindowStyle::Visible;
                    for (auto& sweep : sweeps) sweep->setTaskStyleMask(mask);
                }
                break;
            default: desktop.retitle(w.id, titles[random() % (random() % 8 ? 7 : 10)]); break;
            }
        }
        for (int k = 0; k < 2; ++k) {
            const std::size_t requests = desktop.closeRequests.size();
            sweeps[k]->FindApps();
            seen[k].closed.assign(desktop.closeRequests.begin() + std::ptrdiff_t(requests), desktop.closeRequests.end());
            seen[k].list.clear();
            for (const auto& entry : sweeps[k]->lstApp()) seen[k].list.emplace_back(entry.text, entry.itemData);
            seen[k].id = sweeps[k]->id();
        }
        ASSERT_EQ(seen[0], seen[1]) << "round " << round;
        ASSERT_EQ(sweeps[0]->DeniedCount(), sweeps[1]->DeniedCount());
        for (Observed& o : seen) o.navigated.clear();
        // The windows asked close (both sweeps asked the same ones); the next sweep walks all.
        for (WindowId w : seen[0].closed)
            if (desktop.exists(w) && random() % 2) desktop.remove(w);
    }
    // Settled (no window matches): a sweep after no change reads no title at all, one
    // after a retitle reads that title (and the label's window when that changed).
    for (FakeDesktop::Window& w : desktop.windows)
        if (w.title.contains(kIE)) desktop.retitle(w.id, QStringLiteral("Calculator"));
    for (int i = 0; i < 2; ++i) desktop.add(QStringLiteral("Listed"), kTaskStyleMask, false);
    sweeps[0]->FindApps();
    const auto tracked = [&] {
        titleReads = 0;
        sweeps[0]->FindApps();
        return titleReads;
    };
    EXPECT_EQ(tracked(), 0);
    const WindowId last = sweeps[0]->lstApp().back().itemData;
    desktop.retitle(sweeps[0]->lstApp().front().itemData, QStringLiteral("Retitled"));
    EXPECT_EQ(tracked(), 1);
    desktop.retitle(last, QString());  // no longer listed: the label comes from the one before
    EXPECT_EQ(tracked(), 2);
    EXPECT_EQ(tracked(), 0);
    EXPECT_GT(sweeps[1]->DeniedCount(), 0);  // the rounds had matches to agree on
}

// A window destroyed while the sweep yields before it ends the walk there, in a walk over
// every window and when only the changed windows are looked at: what lies below waits for
// the next tick.
TEST_F(SweepOnFakes, WindowDestroyedDuringTheYieldEndsTheWalk) {
    const WindowId doomed = desktop.add(kIE);
    const WindowId later = desktop.add(kIE);
    // Runs in the sweep's first yield, before the first window is examined.
    QTimer::singleShot(0, [&] { desktop.remove(doomed); });
    run();
    EXPECT_TRUE(desktop.closeRequests.empty());
    EXPECT_TRUE(desktop.exists(later));
    EXPECT_EQ(sweep.DeniedCount(), 0);
    run();
    EXPECT_EQ(desktop.closeRequests, std::vector<WindowId>({later}));
}

TEST(PopupSweep, WindowDestroyedDuringTheYieldEndsTheWalkOfChangedWindowsToo) {
    FakeDesktop desktop;
    desktop.tracksChanges = true;
    desktop.add(QStringLiteral("Editor"));
    const WindowId doomed = desktop.add(QStringLiteral("Mail"));
    const WindowId below = desktop.add(QStringLiteral("Terminal"));
    PopupSweep sweep(desktop, PopupSweep::Hooks{});
    sweep.setTaskStyleMask(kTaskStyleMask);
    sweep.FindApps();
    desktop.retitle(doomed, kIE);
    desktop.retitle(below, kIE);
    QTimer::singleShot(0, [&] { desktop.remove(doomed); });
    sweep.FindApps();
    EXPECT_EQ(sweep.DeniedCount(), 0);
    ASSERT_EQ(sweep.lstApp().size(), 1u);
    EXPECT_EQ(sweep.id(), QStringLiteral("Editor"));
    sweep.FindApps();
    EXPECT_EQ(desktop.closeRequests, std::vector<WindowId>({below}));
}

}  // namespace
