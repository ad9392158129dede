// The popup sweep over the live X11 mirror: no round trip on an unchanged desktop, every
// change seen at the next tick, windows closed as they become closable.

#include "x11_desktop_fixture.h"

namespace {

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
    })) << [&] {
        X11DesktopWindows fresh(this->session_->display());
        walk(fresh);
        waitUntil([&] { return fresh.Style(p.ids.back()) != 0; }, 5000);
        std::string out;
        for (WindowId w : p.ids)
            out += std::to_string(w) + ": mirror " + std::to_string(this->desktop_->Style(w)) + " fresh " +
                   std::to_string(fresh.Style(w)) + "\n";
        return out;
    }();
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
    ASSERT_TRUE(waitUntil([&] { return titleOf(*this->desktop_, clock) == QStringLiteral("Clock 299"); }))
        << this->mirrorAndServer(clock);
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

}  // namespace
