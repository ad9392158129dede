// The popup sweep over the user32 desktop adapter, on real Win32 windows under Wine.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <map>

#include "denial/popup_sweep.h"
#include "platform/desktop/core_desktop_windows.h"
#include "wait.h"
#include "wine_host.h"

namespace {

[[maybe_unused]] void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

struct Made {
    QString title;
    QString flags;  // v visible, b bordered, i ignores WM_CLOSE
};

}  // namespace

// Windows of every kind the sweep tells apart, a message box among them; each sweep must
// list, close and count what the walk from the top of the order meets, the close request
// going to the first window of the order with exactly the title (the one in other
// capitals above it is left open); the main window is left alone.
// The windows ignore close requests until the sweep has ended (their thread then takes
// its messages), so each sweep meets the desktop as it was when it began.
TEST(Win32Desktop, SweepClosesExactlyTheDescribedWindows) {
    WineHost host;
    ASSERT_TRUE(host.ok());
    const QString mie = kDeniedTitleSuffix;
    const std::vector<Made> kinds = {
        {mie, "vb"}, {"Page - " + mie, "vb"}, {"Page - microsoft internet explorer", "vb"}, {mie + " 6", "vb"},
        {QString::fromUtf8("Grüße – 東京 - ") + mie, "vb"}, {"Twin - " + mie, "vb"}, {"Twin - " + mie, "vb"},
        {"Stubborn - " + mie, "vbi"}, {"Hidden - " + mie, "b"}, {"Bare - " + mie, "v"}, {"", "vb"},
        {"Settings", "vb"}, {"Tarnwick - " + mie, "vb"}};
    std::map<WindowId, Made> ours;
    WindowId mainWindow = 0;  // the last one made
    for (const Made& kind : kinds) {
        mainWindow = WindowId(host.number("make " + kind.flags + " " + hex16(kind.title)));
        ASSERT_NE(mainWindow, 0u) << kind.title.toStdString();
        ours[mainWindow] = kind;
    }
    const auto box = WindowId(host.number("msgbox " + hex16(mie)));
    ASSERT_NE(box, 0u);
    ours[box] = Made{mie, "vb"};

    // Which changes the system reported to the adapter's probe (User32Desktop::Seen bits;
    // 127: all, and the adapter hands out revisions).
    std::printf("window events reported to the probe: %lld of 127\n", host.number("probe"));
    auto core = std::make_unique<RemoteDesktop>(host);
    RemoteDesktop& remote = *core;
    CoreDesktopWindows desktop(std::move(core));
    int navigations = 0;
    PopupSweep sweep(desktop, {[&] { return mainWindow; }, [] { return QStringLiteral("http://example.test/next"); },
                               nullptr, [&](const QString& address) {
                                   EXPECT_EQ(address, "http://example.test/next");
                                   ++navigations;
                               }});
    sweep.setTaskStyleMask(kTaskStyleMask);

    // One sweep, checked against the order EnumWindows gives, down to `end` (the window
    // where the walk ends early).
    std::int64_t count = 0;
    const auto sweepOnce = [&](WindowId end) {
        std::vector<WindowId> order;
        for (const QString& w : host.ask("zorder").split(' ', Qt::SkipEmptyParts)) order.push_back(w.toUInt());
        std::vector<QString> listed;
        std::map<WindowId, bool> closed;
        for (WindowId w : order) {
            if (w == end) break;
            const auto it = ours.find(w);
            if (it == ours.end() || w == mainWindow || it->second.title.isEmpty() ||
                !it->second.flags.contains('v') || !it->second.flags.contains('b'))
                continue;
            listed.push_back(it->second.title);
            if (!it->second.title.endsWith(mie)) continue;
            ++count;
            for (WindowId first : order)
                if (ours.count(first) && ours[first].title == it->second.title) {
                    closed[first] = !ours[first].flags.contains('i');
                    break;
                }
        }
        sweep.tmrEngine_Timer();
        std::vector<QString> got;
        for (const auto& entry : sweep.lstApp()) {
            got.push_back(entry.text);
            EXPECT_TRUE(ours.count(entry.itemData) && ours[entry.itemData].title == entry.text) << entry.text.toStdString();
        }
        EXPECT_EQ(got, listed);
        EXPECT_EQ(sweep.DeniedCount(), count);
        ASSERT_EQ(host.ask("pump"), "ok");
        for (auto it = ours.begin(); it != ours.end();) {
            const QString alive = QStringLiteral("alive %1").arg(it->first);
            if (it->first == end || closed[it->first]) {
                EXPECT_TRUE(waitUntil([&] { return host.number(alive) == 0; })) << it->second.title.toStdString();
                it = ours.erase(it);
            } else {
                EXPECT_EQ(host.number(alive), 1) << it->second.title.toStdString();
                ++it;
            }
        }
    };
    for (int i = 0; i < 3; ++i) sweepOnce(0);
    // Two windows of each shared title, one closed per sweep; the stubborn one counted in
    // each.
    EXPECT_EQ(sweep.DeniedCount(), 7 + 3 + 1);
    EXPECT_EQ(navigations, 11);
    std::vector<QString> left;
    for (const auto& [window, made] : ours) left.push_back(made.title);
    EXPECT_EQ(left.size(), 8u);
    EXPECT_FALSE(ours.count(box));

    // A window destroyed the moment the walk reaches it ends the walk there; the next
    // sweep walks everything again.
    const auto doomed = WindowId(host.number("make vb " + hex16("Doomed - " + mie)));
    ours[doomed] = Made{"Doomed - " + mie, "vb"};
    remote.destroyOnVisit = doomed;
    sweepOnce(doomed);
    sweepOnce(0);
    EXPECT_EQ(sweep.lstApp().size(), 4u);

    // The early sweep: a window the system reports (here by its creation, the one change
    // Wine reports) is judged at once; one the sweep would close wakes a sweep of its own,
    // with no tick, and is closed; one it would not close wakes nobody.
    remote.relayTouched();  // the windows made before
    sweep.enableEarlySweep();
    const auto sweeps = sweep.sweepCount();
    const auto touched = [&](WindowId window) {
        return waitUntil([&] {
            const std::vector<WindowId> relayed = remote.relayTouched();
            return std::find(relayed.begin(), relayed.end(), window) != relayed.end();
        });
    };
    const auto plain = WindowId(host.number("make vb " + hex16("Plain page")));
    ASSERT_TRUE(touched(plain));
    QCoreApplication::processEvents();
    EXPECT_EQ(sweep.sweepCount(), sweeps);
    const auto early = WindowId(host.number("make vb " + hex16("Early - " + mie)));
    ASSERT_TRUE(touched(early));
    EXPECT_TRUE(waitUntil([&] { return sweep.sweepCount() > sweeps; }));
    ASSERT_EQ(host.ask("pump"), "ok");
    EXPECT_TRUE(waitUntil([&] { return host.number(QStringLiteral("alive %1").arg(early)) == 0; }));
    EXPECT_EQ(host.number(QStringLiteral("alive %1").arg(plain)), 1);
}
