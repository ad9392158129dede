// The popup sweep over a desktop that tells what changed: looking only at the changed
// windows must give exactly what a walk over all of them gives.

#include <gtest/gtest.h>

#include <QString>
#include <QTimer>
#include <random>

#include "denial/popup_sweep.h"
#include "fakes.h"
#include "untracked_desktop.h"
#include "wait.h"

namespace {

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

TEST(PopupSweep, LookingOnlyAtChangedWindowsFindsWhatTheWholeWalkFinds) {
    std::mt19937 random(testSeed());
    FakeDesktop desktop;
    desktop.tracksChanges = true;
    UntrackedDesktop untracked(desktop);
    const QString kIE = QStringLiteral("Microsoft Internet Explorer");
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

// A window destroyed while the sweep yields before it ends the walk there, also when only
// the changed windows are looked at: what lies below waits for the next tick.
TEST(PopupSweep, WindowDestroyedDuringTheYieldEndsTheWalkOfChangedWindowsToo) {
    FakeDesktop desktop;
    desktop.tracksChanges = true;
    const QString kIE = QStringLiteral("Microsoft Internet Explorer");
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
