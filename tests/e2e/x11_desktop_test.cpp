// The X11 desktop mirror against real foreign windows: an xwin process makes them on a
// private X server, once with openbox as window manager and once with none.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <functional>
#include <memory>
#include <vector>

#include "denial/popup_sweep.h"
#include "platform/x11/x11_desktop_windows.h"
#include "x_client.h"
#include "x_session.h"
#include "xwin.h"

#include "wait.h"

namespace {

const QString kIE = QStringLiteral("Microsoft Internet Explorer");
constexpr std::uint32_t kVisibleBorder = WindowStyle::Visible | WindowStyle::Border;

std::vector<WindowId> walk(DesktopWindows& desktop) {
    std::vector<WindowId> windows;
    for (WindowId w = desktop.FirstWindow(); w != 0; w = desktop.NextWindow(w)) windows.push_back(w);
    return windows;
}

QString titleOf(DesktopWindows& desktop, WindowId w) {
    QString title;
    desktop.Title(w, title, desktop.TitleLength(w) + 1);
    return title;
}

bool listed(DesktopWindows& desktop, WindowId w) {
    const auto windows = walk(desktop);
    return std::find(windows.begin(), windows.end(), w) != windows.end();
}

struct WithOpenbox {
    static constexpr XSession::WindowManager wm = XSession::WindowManager::Openbox;
};
struct WithoutWindowManager {
    static constexpr XSession::WindowManager wm = XSession::WindowManager::None;
};

template <class Desktop>
class X11DesktopTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { session_ = new XSession(Desktop::wm); }
    static void TearDownTestSuite() {
        delete session_;
        session_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(session_ && session_->ok()) << "no private X server";
        desktop_ = std::make_unique<X11DesktopWindows>(session_->display());
        ASSERT_TRUE(desktop_->ok());
        ASSERT_EQ(desktop_->hasWindowManager(), withWindowManager());
    }
    void TearDown() override {
        for (auto& p : processes_) p->stop();
        // Nothing of this test stays on the desktop for the next one.
        std::vector<WindowId> left;
        for (auto& p : processes_) left.insert(left.end(), p->ids.begin(), p->ids.end());
        EXPECT_TRUE(waitUntil([&] {
            const auto windows = walk(*desktop_);
            return std::none_of(left.begin(), left.end(), [&](WindowId w) {
                return std::find(windows.begin(), windows.end(), w) != windows.end();
            });
        }));
        processes_.clear();
    }

    static bool withWindowManager() { return Desktop::wm == XSession::WindowManager::Openbox; }

    Xwin& xwin(QStringList args, int count = 1) {
        processes_.push_back(std::make_unique<Xwin>(args, count, session_->display()));
        Xwin& p = *processes_.back();
        EXPECT_EQ(int(p.ids.size()), count) << args.join(' ').left(200).toStdString();
        return p;
    }
    // One window with the given title, waited for until the mirror shows it with `style`.
    WindowId window(const QStringList& args, std::uint32_t style = kVisibleBorder) {
        Xwin& p = xwin(args);
        if (p.ids.empty()) return 0;
        const WindowId w = p.ids.front();
        EXPECT_TRUE(waitUntil([&] { return listed(*desktop_, w) && desktop_->Style(w) == style; }))
            << "style " << desktop_->Style(w) << " of " << args.join(' ').left(200).toStdString();
        return w;
    }

    static inline XSession* session_ = nullptr;
    std::unique_ptr<X11DesktopWindows> desktop_;
    std::vector<std::unique_ptr<Xwin>> processes_;
};

using Desktops = ::testing::Types<WithOpenbox, WithoutWindowManager>;
class DesktopNames {
public:
    template <class T>
    static std::string GetName(int) {
        return std::is_same_v<T, WithOpenbox> ? "Openbox" : "NoWindowManager";
    }
};
TYPED_TEST_SUITE(X11DesktopTest, Desktops, DesktopNames);

TYPED_TEST(X11DesktopTest, ForeignBrowserWindowsAreVisibleBorderedFoundAndClosed) {
    const QString page = QStringLiteral("Page - ") + kIE;
    Xwin& browser = this->xwin({"--title", kIE});
    Xwin& pageWindow = this->xwin({"--title", page});
    Xwin& dialog = this->xwin({"--title", kIE, "--type", "dialog"});
    ASSERT_FALSE(browser.ids.empty());
    Xwin& messageBox =
        this->xwin({"--title", kIE, "--type", "dialog", "--transient-for", QString::number(browser.ids[0])});
    std::vector<Xwin*> all{&browser, &pageWindow, &dialog, &messageBox};
    for (Xwin* p : all) {
        ASSERT_EQ(p->ids.size(), 1u);
        const WindowId w = p->ids[0];
        ASSERT_TRUE(waitUntil([&] { return listed(*this->desktop_, w) && this->desktop_->Style(w) == kVisibleBorder; }))
            << "style " << this->desktop_->Style(w);
    }
    EXPECT_EQ(titleOf(*this->desktop_, pageWindow.ids[0]), page);
    EXPECT_EQ(this->desktop_->TitleLength(pageWindow.ids[0]), page.size());
    EXPECT_EQ(this->desktop_->FindByTitle(page), pageWindow.ids[0]);

    // Several windows share the plain title: the first of them in walk order is found.
    const auto order = walk(*this->desktop_);
    const WindowId firstPlain = *std::find_if(order.begin(), order.end(),
                                              [&](WindowId w) { return titleOf(*this->desktop_, w) == kIE; });
    EXPECT_EQ(this->desktop_->FindByTitle(kIE), firstPlain);
    EXPECT_EQ(this->desktop_->FindByTitle(kIE.toLower()), 0u);
    EXPECT_EQ(this->desktop_->FindByTitle(QStringLiteral("Microsoft Internet")), 0u);

    // Closing by title, as the sweep does, until no window of that title is left.
    for (const QString& title : {kIE, page}) {
        for (int round = 0; round < 4; ++round) {
            const WindowId target = this->desktop_->FindByTitle(title);
            if (target == 0) break;
            EXPECT_TRUE(this->desktop_->RequestClose(target));
            EXPECT_TRUE(waitUntil([&] { return !listed(*this->desktop_, target); })) << title.toStdString();
            EXPECT_EQ(this->desktop_->Style(target), 0u);
        }
        EXPECT_EQ(this->desktop_->FindByTitle(title), 0u);
    }
    for (Xwin* p : all) {
        EXPECT_TRUE(p->finished(3000));
        EXPECT_TRUE(p->lines.contains(QStringLiteral("closed %1").arg(p->ids[0])) || p->waitForLine(QStringLiteral("closed %1").arg(p->ids[0])));
    }
}

TYPED_TEST(X11DesktopTest, StyleFollowsMappingTypeAndDecorations) {
    const bool wm = this->withWindowManager();
    struct Case {
        QStringList args;
        std::uint32_t withWm;
        std::uint32_t withoutWm;
    };
    const std::vector<Case> cases{
        {{"--title", "microsoft internet explorer"}, kVisibleBorder, kVisibleBorder},
        {{"--title", kIE + " 6"}, kVisibleBorder, kVisibleBorder},
        {{"--title", kIE, "--type", "utility"}, kVisibleBorder, kVisibleBorder},
        {{"--title", kIE, "--type", "normal"}, kVisibleBorder, kVisibleBorder},
        {{"--title", kIE, "--no-decorations"}, WindowStyle::Visible, WindowStyle::Visible},
        {{"--title", kIE, "--type", "dock"}, WindowStyle::Visible, WindowStyle::Visible},
        {{"--title", kIE, "--type", "splash"}, WindowStyle::Visible, WindowStyle::Visible},
        // Never managed by a window manager: not one of its clients at all.
        {{"--title", kIE, "--unmapped"}, 0, WindowStyle::Border},
        {{"--title", kIE, "--override-redirect"}, 0, WindowStyle::Visible},
        {{}, kVisibleBorder, kVisibleBorder},
    };
    std::vector<WindowId> windows;
    for (const Case& c : cases) {
        Xwin& p = this->xwin(c.args);
        ASSERT_EQ(p.ids.size(), 1u);
        windows.push_back(p.ids[0]);
    }
    // A window made after all the others: once it is shown, the others' state is final.
    const WindowId last = this->window({"--title", "last"});
    ASSERT_TRUE(listed(*this->desktop_, last));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::uint32_t expected = wm ? cases[i].withWm : cases[i].withoutWm;
        EXPECT_TRUE(waitUntil([&] { return this->desktop_->Style(windows[i]) == expected; }, 2000))
            << cases[i].args.join(' ').toStdString() << ": style " << std::hex << this->desktop_->Style(windows[i]);
        EXPECT_EQ(listed(*this->desktop_, windows[i]), expected != 0) << cases[i].args.join(' ').toStdString();
        if (expected != 0 && !cases[i].args.isEmpty()) {
            EXPECT_EQ(titleOf(*this->desktop_, windows[i]), cases[i].args[1]);
        }
    }
    // Untitled.
    const WindowId untitled = windows.back();
    QString title = QStringLiteral("stale");
    EXPECT_EQ(this->desktop_->TitleLength(untitled), 0);
    EXPECT_EQ(this->desktop_->Title(untitled, title, 100), 0);
    EXPECT_TRUE(title.isEmpty());

    // Changes made later are followed: decorations removed, title replaced.
    XClient x(this->session_->display());
    const WindowId changing = windows[0];
    x.setDecorations(changing, false);
    x.retitle(changing, "Renamed - Microsoft Internet Explorer");
    EXPECT_TRUE(waitUntil([&] {
        return this->desktop_->Style(changing) == WindowStyle::Visible &&
               titleOf(*this->desktop_, changing) == QStringLiteral("Renamed - ") + kIE;
    }));
}

TYPED_TEST(X11DesktopTest, TitlesInEveryEncodingAreReadWhole) {
    const QString unicode = QStringLiteral("Überraschung — 日本語 ✓ - ") + kIE;
    const QString latin = QStringLiteral("Café à la carte - ") + kIE;
    struct Case {
        QStringList args;
        QString expected;
    };
    QString huge = QString(100000 - kIE.size(), QLatin1Char('x')) + kIE;
    huge[0] = QLatin1Char('A');
    const std::vector<Case> cases{
        {{"--title", unicode, "--title-encoding", "utf8"}, unicode},
        {{"--title", latin, "--title-encoding", "latin1"}, latin},
        {{"--title", unicode, "--title-encoding", "ctext"}, unicode},
        {{"--title", latin, "--title-encoding", "ctext"}, latin},
        {{"--title", unicode, "--title-encoding", "wmname-utf8"}, unicode},
        // _NET_WM_NAME wins over WM_NAME (which holds '?' for what Latin-1 lacks).
        {{"--title", unicode, "--title-encoding", "both"}, unicode},
        {{"--title", huge}, huge},
        // Invalid UTF-8: replacement characters, nothing lost around them.
        {{"--title-hex", "41ff42c3", "--title-encoding", "utf8"}, QString::fromUtf8("\x41\xff\x42\xc3", 4)},
        {{"--title-hex", "41ff42", "--title-encoding", "latin1"}, QStringLiteral("A\u00ffB")},
    };
    for (const Case& c : cases) {
        const WindowId w = this->window(c.args);
        ASSERT_NE(w, 0u);
        EXPECT_EQ(this->desktop_->TitleLength(w), c.expected.size()) << c.args.join(' ').left(80).toStdString();
        EXPECT_EQ(titleOf(*this->desktop_, w), c.expected) << c.args.join(' ').left(80).toStdString();
        // Earlier cases' windows have the same titles: the newest is found once the
        // stacking order has it on top.
        EXPECT_TRUE(waitUntil([&] { return this->desktop_->FindByTitle(c.expected) == w; }))
            << this->desktop_->FindByTitle(c.expected) << " found instead of " << w;
    }
    EXPECT_TRUE(QString::fromUtf8("\x41\xff\x42\xc3", 4).contains(QChar(0xFFFD)));

    // The caller's buffer size bounds what is copied: at most maxCount - 1 characters.
    const WindowId w = this->desktop_->FindByTitle(huge);
    QString part = QStringLiteral("stale");
    EXPECT_EQ(this->desktop_->Title(w, part, 5), 4);
    EXPECT_EQ(part, QStringLiteral("Axxx"));
    EXPECT_EQ(this->desktop_->Title(w, part, 1), 0);
    EXPECT_TRUE(part.isEmpty());
    EXPECT_EQ(this->desktop_->Title(w, part, 0), 0);
    EXPECT_EQ(this->desktop_->Title(w, part, 100001), 100000);
    EXPECT_EQ(this->desktop_->Title(w, part, 1 << 30), 100000);
}

TYPED_TEST(X11DesktopTest, CloseRequestsFollowTheWindowsProtocols) {
    Xwin& stubborn = this->xwin({"--title", kIE, "--ignore-close"});
    Xwin& deaf = this->xwin({"--title", QStringLiteral("Deaf - ") + kIE, "--no-delete-protocol"});
    ASSERT_EQ(stubborn.ids.size(), 1u);
    ASSERT_EQ(deaf.ids.size(), 1u);
    const WindowId s = stubborn.ids[0];
    const WindowId d = deaf.ids[0];
    ASSERT_TRUE(waitUntil([&] {
        return this->desktop_->Style(s) == kVisibleBorder && this->desktop_->Style(d) == kVisibleBorder;
    }));

    // Ignored: the window stays and can be asked again.
    const QString ignored = QStringLiteral("ignored %1").arg(s);
    EXPECT_TRUE(this->desktop_->RequestClose(s));
    EXPECT_TRUE(stubborn.waitForLine(ignored));
    EXPECT_TRUE(listed(*this->desktop_, s));
    EXPECT_EQ(this->desktop_->Style(s), kVisibleBorder);
    EXPECT_TRUE(this->desktop_->RequestClose(s));
    EXPECT_TRUE(stubborn.waitForLine(ignored, 2));
    EXPECT_TRUE(listed(*this->desktop_, s));

    // No WM_DELETE_WINDOW: nothing is sent and nothing stronger is done.
    EXPECT_FALSE(this->desktop_->RequestClose(d));
    EXPECT_FALSE(deaf.finished(300));
    EXPECT_TRUE(listed(*this->desktop_, d));
    EXPECT_EQ(this->desktop_->Style(d), kVisibleBorder);

    EXPECT_FALSE(this->desktop_->RequestClose(0));
}

TYPED_TEST(X11DesktopTest, DestroyedWindowsAreGoneWithoutErrors) {
    Xwin& p = this->xwin({"--title", "doomed %d", "--count", "3"}, 3);
    ASSERT_EQ(p.ids.size(), 3u);
    for (WindowId w : p.ids) ASSERT_TRUE(waitUntil([&] { return this->desktop_->Style(w) == kVisibleBorder; }));
    const WindowId middle = p.ids[1];
    ASSERT_NE(this->desktop_->NextWindow(middle), 0u);

    // Only the server's word counts: fake notices from another client leave the window
    // as it is (the retitle after them is seen once they were handled).
    XClient x(this->session_->display());
    if (!this->withWindowManager()) {
        x.fakeGone(middle);
        x.retitle(middle, "doomed still");
        ASSERT_TRUE(waitUntil([&] { return titleOf(*this->desktop_, middle) == QStringLiteral("doomed still"); }));
        EXPECT_EQ(this->desktop_->Style(middle), kVisibleBorder);
        EXPECT_TRUE(listed(*this->desktop_, middle));
    }

    // Destroyed behind the mirror's back, between two calls of a walk.
    x.destroy(middle);
    EXPECT_TRUE(waitUntil([&] { return this->desktop_->NextWindow(middle) == 0; }));
    QString title = QStringLiteral("stale");
    EXPECT_EQ(this->desktop_->Style(middle), 0u);
    EXPECT_EQ(this->desktop_->TitleLength(middle), 0);
    EXPECT_EQ(this->desktop_->Title(middle, title, 100), 0);
    EXPECT_TRUE(title.isEmpty());
    EXPECT_EQ(this->desktop_->FindByTitle(QStringLiteral("doomed 1")), 0u);
    EXPECT_FALSE(this->desktop_->RequestClose(middle));
    EXPECT_FALSE(listed(*this->desktop_, middle));

    // The whole process dies: its windows go at once.
    const WindowId first = p.ids[0];
    p.kill();
    EXPECT_TRUE(waitUntil([&] { return this->desktop_->Style(first) == 0 && !listed(*this->desktop_, first); }));
    EXPECT_EQ(this->desktop_->NextWindow(first), 0u);
    EXPECT_EQ(this->desktop_->Style(1), 0u);
    EXPECT_EQ(this->desktop_->NextWindow(1), 0u);
}

TYPED_TEST(X11DesktopTest, WalkRunsFromTheTopOfTheStackingOrder) {
    const WindowId a = this->window({"--title", "A"});
    const WindowId b = this->window({"--title", "B"});
    const auto position = [&](WindowId w) {
        const auto order = walk(*this->desktop_);
        return std::find(order.begin(), order.end(), w) - order.begin();
    };
    EXPECT_EQ(this->desktop_->FirstWindow(), b);
    EXPECT_LT(position(b), position(a));

    XClient x(this->session_->display());
    x.raise(a, this->withWindowManager());
    EXPECT_TRUE(waitUntil([&] { return this->desktop_->FirstWindow() == a; }));
    EXPECT_LT(position(a), position(b));
    x.raise(b, this->withWindowManager());
    EXPECT_TRUE(waitUntil([&] { return this->desktop_->FirstWindow() == b; }));
}

// What a sweep lists: (title, window) in walk order.
std::vector<std::pair<std::string, WindowId>> listOf(const PopupSweep& sweep) {
    std::vector<std::pair<std::string, WindowId>> list;
    for (const auto& entry : sweep.lstApp()) list.emplace_back(entry.text.toStdString(), entry.itemData);
    return list;
}

// The sweep over the live mirror, tick after tick with no timer: on an unchanged desktop
// it asks the X server nothing, and every change between two ticks (a title, the
// decorations, a map) is judged at the next one as a sweep over a fresh mirror judges it.
TYPED_TEST(X11DesktopTest, SteadyStateSweepCostsNoRoundTripAndSeesEveryChange) {
    Xwin& p = this->xwin({"--title", "Steady %d - Another Browser", "--count", "20"}, 20);
    ASSERT_EQ(p.ids.size(), 20u);
    Xwin& bare = this->xwin({"--title", kIE, "--no-decorations"});
    Xwin& unmapped = this->xwin({"--title", QStringLiteral("Unmapped - ") + kIE, "--unmapped"});
    ASSERT_TRUE(waitUntil([&] {
        return std::all_of(p.ids.begin(), p.ids.end(),
                           [&](WindowId w) { return this->desktop_->Style(w) == kVisibleBorder; });
    }));
    // Barrier: the window manager handles windows in order, so once a later window is
    // managed and seen, the others are settled; one sweep reads what is new.
    ASSERT_NE(this->window({"--title", "Later"}), 0u);
    PopupSweep sweep(*this->desktop_, PopupSweep::Hooks{});
    sweep.setTaskStyleMask(kTaskStyleMask);
    const auto sweepAndCompare = [&] {
        sweep.FindApps();
        X11DesktopWindows fresh(this->session_->display());
        PopupSweep whole(fresh, PopupSweep::Hooks{});
        whole.setTaskStyleMask(kTaskStyleMask);
        whole.FindApps();
        EXPECT_EQ(listOf(sweep), listOf(whole));
        EXPECT_EQ(sweep.id(), whole.id());
    };
    sweepAndCompare();
    EXPECT_GE(sweep.lstApp().size(), 21u);

    // The window manager may still restack or refocus after the last window is taken in:
    // the desktop counts as unchanged once a sweep 100 ms after the one before reads
    // nothing. A sweep that always asked would never get there.
    ASSERT_TRUE(waitUntil([&] {
        settle(100);
        const std::uint64_t trips = this->desktop_->roundTrips();
        sweep.FindApps();
        return this->desktop_->roundTrips() == trips;
    }, 5000));
    const std::uint64_t before = this->desktop_->roundTrips();
    for (int i = 0; i < 3; ++i) sweep.FindApps();
    EXPECT_EQ(this->desktop_->roundTrips(), before);

    // One title changes: one batch reads it.
    XClient x(this->session_->display());
    x.retitle(p.ids[5], "Changed");
    ASSERT_TRUE(waitUntil([&] { return titleOf(*this->desktop_, p.ids[5]) == QStringLiteral("Changed"); }));
    EXPECT_EQ(this->desktop_->roundTrips(), before + 1);
    // Decorations removed from one window, and the last one retitled.
    x.setDecorations(p.ids[3], false);
    x.retitle(p.ids[19], "Last but one");
    ASSERT_TRUE(waitUntil([&] {
        return this->desktop_->Style(p.ids[3]) == WindowStyle::Visible &&
               titleOf(*this->desktop_, p.ids[19]) == QStringLiteral("Last but one");
    }));
    sweepAndCompare();
    EXPECT_EQ(sweep.DeniedCount(), 0);

    // A window raised: the list follows the new order.
    x.raise(p.ids[10], this->withWindowManager());
    ASSERT_TRUE(waitUntil([&] { return this->desktop_->FirstWindow() == p.ids[10]; }));
    sweepAndCompare();

    // Windows that come to match between two ticks are closed at the next one: mapped,
    // retitled, given their decorations (each after a tick that closed nothing).
    const auto closedAtNextTick = [&](Xwin& owner, WindowId w) {
        sweep.FindApps();
        EXPECT_TRUE(owner.waitForLine(QStringLiteral("closed %1").arg(w)));
        EXPECT_TRUE(waitUntil([&] { return !listed(*this->desktop_, w); }));
        sweep.FindApps();
    };
    x.map(unmapped.ids[0]);
    ASSERT_TRUE(waitUntil([&] { return this->desktop_->Style(unmapped.ids[0]) == kVisibleBorder; }));
    closedAtNextTick(unmapped, unmapped.ids[0]);
    x.retitle(p.ids[7], (QStringLiteral("Now - ") + kIE).toUtf8());
    ASSERT_TRUE(waitUntil([&] { return titleOf(*this->desktop_, p.ids[7]).endsWith(kIE); }));
    closedAtNextTick(p, p.ids[7]);
    x.setDecorations(bare.ids[0], true);
    ASSERT_TRUE(waitUntil([&] { return this->desktop_->Style(bare.ids[0]) == kVisibleBorder; }));
    closedAtNextTick(bare, bare.ids[0]);
    EXPECT_EQ(sweep.DeniedCount(), 3);
}

TYPED_TEST(X11DesktopTest, EarlySweepClosesWindowsAsTheyBecomeClosableAndIgnoresTheRest) {
    // The sweep alone, with no timer: only a report from the desktop can start it.
    PopupSweep sweep(*this->desktop_, PopupSweep::Hooks{});
    sweep.setTaskStyleMask(kTaskStyleMask);
    sweep.enableEarlySweep();
    XClient x(this->session_->display());

    // Windows the sweep leaves alone, and a clock retitling itself hundreds of times.
    this->window({"--title", "Page - Microsoft Internet Explorer 6"});
    this->window({"--title", kIE, "--no-decorations"}, WindowStyle::Visible);
    const WindowId clock = this->window({"--title", "Clock"});
    for (int tick = 0; tick < 300; ++tick) {
        x.retitle(clock, QByteArray("Clock ") + QByteArray::number(tick));
        if (tick % 50 == 0) QCoreApplication::processEvents();
    }
    ASSERT_TRUE(waitUntil([&] { return titleOf(*this->desktop_, clock) == QStringLiteral("Clock 299"); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(sweep.sweepCount(), 0u);
    // Right after its storm (its title now read in batches), the clock comes to match.
    x.retitle(clock, (QStringLiteral("Alarm - ") + kIE).toUtf8());
    EXPECT_TRUE(this->processes_.back()->waitForLine(QStringLiteral("closed %1").arg(clock)));
    EXPECT_EQ(sweep.DeniedCount(), 1);

    // A matching window is closed as soon as it is mapped.
    Xwin& popup = this->xwin({"--title", QStringLiteral("Popup - ") + kIE});
    ASSERT_EQ(popup.ids.size(), 1u);
    EXPECT_TRUE(popup.waitForLine(QStringLiteral("closed %1").arg(popup.ids[0])));
    EXPECT_EQ(sweep.DeniedCount(), 2);

    // A window retitled to match after it was mapped is closed at once.
    const WindowId late = this->window({"--title", "Harmless"});
    const std::uint64_t sweepsBefore = sweep.sweepCount();
    x.retitle(late, (QStringLiteral("Now - ") + kIE).toUtf8());
    EXPECT_TRUE(this->processes_.back()->waitForLine(QStringLiteral("closed %1").arg(late)));
    EXPECT_GT(sweep.sweepCount(), sweepsBefore);
    EXPECT_EQ(sweep.DeniedCount(), 3);

    // A read answered with a matching title, and the window retitled away before the
    // answer is taken: the answer is older than the retitle and reports nothing. Tried a
    // few times until the retitle came between the answer and its taking.
    const WindowId away = this->window({"--title", "Quiet"});
    const std::uint64_t staleBefore = this->desktop_->staleReads();
    for (int attempt = 0; attempt < 5 && this->desktop_->staleReads() == staleBefore; ++attempt) {
        settle(200);
        const std::uint64_t sweeps = sweep.sweepCount();
        x.retitle(away, (QStringLiteral("Brief - ") + kIE).toUtf8());
        x.activeWindow();                   // a round trip: retitled, and its event sent
        QCoreApplication::processEvents();  // the event handled, the read sent
        QThread::msleep(50);                // the read answered, not taken yet
        x.retitle(away, QByteArray("Quiet ") + QByteArray::number(attempt));
        x.activeWindow();
        EXPECT_TRUE(waitUntil([&] { return titleOf(*this->desktop_, away) == QStringLiteral("Quiet %1").arg(attempt); }));
        settle(200);
        EXPECT_EQ(sweep.sweepCount(), sweeps) << "attempt " << attempt;
    }
    EXPECT_GT(this->desktop_->staleReads(), staleBefore);
    EXPECT_EQ(sweep.DeniedCount(), 3);
}

TYPED_TEST(X11DesktopTest, MirrorStaysExactThroughManyWindowsComingAndGoing) {
    for (int round = 0; round < 4; ++round) {
        Xwin& p = this->xwin({"--title", QStringLiteral("Churn %1.%d").arg(round), "--count", "50"}, 50);
        ASSERT_EQ(p.ids.size(), 50u);
        ASSERT_TRUE(waitUntil([&] {
            return std::all_of(p.ids.begin(), p.ids.end(),
                               [&](WindowId w) { return this->desktop_->Style(w) == kVisibleBorder; });
        }));
        for (std::size_t i = 0; i < p.ids.size(); i += 2) EXPECT_TRUE(this->desktop_->RequestClose(p.ids[i]));
        EXPECT_TRUE(waitUntil([&] {
            for (std::size_t i = 0; i < p.ids.size(); i += 2)
                if (this->desktop_->Style(p.ids[i]) != 0) return false;
            return true;
        }));
        for (std::size_t i = 1; i < p.ids.size(); i += 2) EXPECT_EQ(this->desktop_->Style(p.ids[i]), kVisibleBorder);
        p.kill();
        EXPECT_TRUE(waitUntil([&] {
            return std::none_of(p.ids.begin(), p.ids.end(), [&](WindowId w) { return listed(*this->desktop_, w); });
        }));
    }
    const WindowId survivor = this->window({"--title", "Survivor"});

    // A mirror built from scratch sees exactly the same desktop.
    X11DesktopWindows fresh(this->session_->display());
    const auto expected = walk(fresh);
    const auto actual = walk(*this->desktop_);
    EXPECT_EQ(actual, expected);
    EXPECT_NE(std::find(actual.begin(), actual.end(), survivor), actual.end());
    for (WindowId w : expected) {
        EXPECT_EQ(this->desktop_->Style(w), fresh.Style(w));
        EXPECT_EQ(titleOf(*this->desktop_, w), titleOf(fresh, w));
    }
}

// ---- desktops of their own ----

TEST(X11DesktopSession, FollowsAWindowManagerArrivingAndLeaving) {
    XSession session(XSession::WindowManager::None);
    ASSERT_TRUE(session.ok());
    X11DesktopWindows desktop(session.display());
    Xwin normal({"--title", kIE}, 1, session.display());
    Xwin tooltip({"--title", "tip", "--override-redirect"}, 1, session.display());
    ASSERT_EQ(normal.ids.size(), 1u);
    ASSERT_EQ(tooltip.ids.size(), 1u);
    const WindowId n = normal.ids[0];
    const WindowId t = tooltip.ids[0];
    ASSERT_TRUE(waitUntil([&] { return listed(desktop, n) && listed(desktop, t); }));
    EXPECT_FALSE(desktop.hasWindowManager());

    QProcess openbox;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), session.display());
    openbox.setProcessEnvironment(env);
    openbox.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    ASSERT_TRUE(openbox.waitForStarted());
    EXPECT_TRUE(waitUntil(
        [&] { return desktop.hasWindowManager() && desktop.Style(n) == kVisibleBorder && !listed(desktop, t); },
        10000));
    EXPECT_EQ(desktop.FindByTitle(kIE), n);

    openbox.terminate();
    ASSERT_TRUE(openbox.waitForFinished(5000));
    EXPECT_TRUE(waitUntil(
        [&] { return !desktop.hasWindowManager() && desktop.Style(n) == kVisibleBorder && listed(desktop, t); }));
    EXPECT_EQ(desktop.FindByTitle(kIE), n);
}

// A reparenting window manager that publishes no stacking list, as weston's Xwayland
// one: each window mapped is put into an untitled frame and given WM_STATE Normal.
class FramingWindowManager {
public:
    explicit FramingWindowManager(const QString& display) : x_(display), c_(x_.connection()), root_(x_.root()) {
        wmState_ = x_.atom("WM_STATE");
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
        xcb_generic_error_t* error = xcb_request_check(c_, xcb_change_window_attributes_checked(c_, root_, XCB_CW_EVENT_MASK, &mask));
        ok_ = !error && wmState_ != XCB_NONE;
        free(error);
        if (ok_) thread_ = std::thread([this] { run(); });
    }
    ~FramingWindowManager() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool ok() const { return ok_; }
    std::atomic<int> framed{0};

private:
    void run() {
        while (!stop_) {
            xcb_generic_event_t* event = xcb_poll_for_event(c_);
            if (!event) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            if ((event->response_type & 0x7F) == XCB_MAP_REQUEST) frame(reinterpret_cast<xcb_map_request_event_t*>(event)->window);
            if ((event->response_type & 0x7F) == XCB_CONFIGURE_REQUEST) {
                const auto* e = reinterpret_cast<xcb_configure_request_event_t*>(event);
                const std::uint32_t values[] = {std::uint32_t(e->width), std::uint32_t(e->height)};
                xcb_configure_window(c_, e->window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
            }
            if ((event->response_type & 0x7F) == XCB_DESTROY_NOTIFY) {
                const auto* e = reinterpret_cast<xcb_destroy_notify_event_t*>(event);
                if (std::find(frames_.begin(), frames_.end(), e->event) != frames_.end()) xcb_destroy_window(c_, e->event);
            }
            free(event);
            xcb_flush(c_);
        }
    }
    void frame(xcb_window_t client) {
        const xcb_window_t frame = xcb_generate_id(c_);
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;  // its client's end
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, frame, root_, 0, 0, 400, 300, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
        frames_.push_back(frame);
        xcb_reparent_window(c_, client, frame, 4, 24);
        const std::uint32_t state[] = {1, XCB_NONE};
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, client, wmState_, wmState_, 32, 2, state);
        xcb_map_window(c_, client);
        xcb_map_window(c_, frame);
        ++framed;
    }

    XClient x_;
    xcb_connection_t* c_;
    xcb_window_t root_;
    xcb_atom_t wmState_ = XCB_NONE;
    bool ok_ = false;
    std::vector<xcb_window_t> frames_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(X11DesktopSession, FramingWindowManagerWithoutStackingListIsSweptByClient) {
    XSession session(XSession::WindowManager::None);
    ASSERT_TRUE(session.ok());
    FramingWindowManager wm(session.display());
    ASSERT_TRUE(wm.ok());
    X11DesktopWindows desktop(session.display());
    Xwin page({"--title", "Some page"}, 1, session.display());
    ASSERT_TRUE(waitUntil([&] { return wm.framed == 1; }));
    Xwin popup({"--title", QStringLiteral("Popup - ") + kIE}, 1, session.display());
    ASSERT_EQ(page.ids.size(), 1u);
    ASSERT_EQ(popup.ids.size(), 1u);
    const WindowId p = popup.ids[0];
    const WindowId other = page.ids[0];

    // The walk holds the clients, the newest frame's on top, and no untitled frame.
    ASSERT_TRUE(waitUntil([&] { return walk(desktop) == std::vector<WindowId>{p, other}; }))
        << "walked " << walk(desktop).size() << " windows";
    EXPECT_FALSE(desktop.hasWindowManager());
    EXPECT_EQ(titleOf(desktop, p), QStringLiteral("Popup - ") + kIE);
    EXPECT_EQ(titleOf(desktop, other), QStringLiteral("Some page"));
    EXPECT_EQ(desktop.Style(p), kVisibleBorder);
    EXPECT_EQ(desktop.FindByTitle(QStringLiteral("Popup - ") + kIE), p);

    EXPECT_TRUE(desktop.RequestClose(p));
    EXPECT_TRUE(popup.waitForLine(QStringLiteral("closed %1").arg(p)));
    EXPECT_TRUE(waitUntil([&] { return walk(desktop) == std::vector<WindowId>{other}; }));
}

TEST(X11DesktopSession, NoServerMeansNoWindows) {
    X11DesktopWindows nowhere(QStringLiteral(":4093"));
    EXPECT_FALSE(nowhere.ok());
    QString title = QStringLiteral("stale");
    EXPECT_EQ(nowhere.FirstWindow(), 0u);
    EXPECT_EQ(nowhere.NextWindow(1), 0u);
    EXPECT_EQ(nowhere.Style(1), 0u);
    EXPECT_EQ(nowhere.TitleLength(1), 0);
    EXPECT_EQ(nowhere.Title(1, title, 10), 0);
    EXPECT_EQ(nowhere.FindByTitle(kIE), 0u);
    EXPECT_FALSE(nowhere.RequestClose(1));

    // The server goes away under a working mirror.
    auto session = std::make_unique<XSession>(XSession::WindowManager::None);
    ASSERT_TRUE(session->ok());
    X11DesktopWindows desktop(session->display());
    Xwin p({"--title", kIE}, 1, session->display());
    ASSERT_EQ(p.ids.size(), 1u);
    const WindowId w = p.ids[0];
    ASSERT_TRUE(waitUntil([&] { return desktop.Style(w) == kVisibleBorder; }));
    session.reset();
    EXPECT_TRUE(waitUntil([&] { return desktop.FirstWindow() == 0; }));
    EXPECT_FALSE(desktop.ok());
    EXPECT_EQ(desktop.NextWindow(w), 0u);
    EXPECT_EQ(desktop.Style(w), 0u);
    EXPECT_EQ(desktop.Title(w, title, 10), 0);
    EXPECT_EQ(desktop.FindByTitle(kIE), 0u);
    EXPECT_FALSE(desktop.RequestClose(w));
}

}  // namespace
