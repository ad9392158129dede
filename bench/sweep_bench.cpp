// The cost of one popup sweep (PopupSweep::FindApps) over the real X11 desktop against
// the number of top-level windows and what changed since the sweep before, on a private
// Xvfb with openbox and foreign windows from xwin whose titles never match. No main
// window: the sweep alone, with no timer, so that only the measured sweeps run.
//   FindApps/N/unchanged      nothing changed since the last sweep
//   FindApps/N/one retitled   one window retitled since the last sweep (and read by the
//                             mirror from its event, as the event loop does before a tick)
//   FindApps/N/whole walk     the same desktop behind an interface that cannot tell what
//                             changed: every sweep examines every window
//   WmctrlList/N              reference: `wmctrl -l` listing the same windows
// Input latency during sweeps over 10,000 windows: another X client sends key presses to
// a window of this process at random moments (5 to 15 ms apart); the time from the send
// to the window's key handler, while whole walks run back to back, and (the reference)
// while the event loop is idle.
// Built from an older tree, the same program measures that code's sweep (which walks
// every window every time).
// Usage: sweep_bench [--window-manager none] [benchmark flags]. Openbox takes in thousands
// of windows slowly (minutes for a few thousand): the cases with 10,000 windows run with
// --window-manager none (the desktop is then the root's children).

#include <benchmark/benchmark.h>

#include <QEventLoop>
#include <QKeyEvent>
#include <QProcess>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "denial/popup_sweep.h"
#include "platform/x11/x11_desktop_windows.h"
#include "bench_main.h"
#include "untracked_desktop.h"
#include "wait.h"
#include "x_client.h"
#include "xwin.h"

namespace {

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int countWindows(DesktopWindows& desktop) {
    int n = 0;
    for (WindowId w = desktop.FirstWindow(); w != 0; w = desktop.NextWindow(w)) ++n;
    return n;
}

QString titleOf(DesktopWindows& desktop, WindowId w) {
    QString title;
    desktop.Title(w, title, desktop.TitleLength(w) + 1);
    return title;
}

// The foreign windows on the desktop: exactly `windows` of them besides the others,
// made by one xwin; the sweep lists them but never closes them.
class ForeignWindows {
public:
    ForeignWindows(X11DesktopWindows& desktop, int others) : desktop_(desktop), others_(others) {}
    ~ForeignWindows() { stop(); }

    bool ensure(int windows) {
        if (windows == made_) return true;
        stop();
        xwin_ = std::make_unique<Xwin>(QStringList{"--title", "Page %d - Another Browser", "--count", QString::number(windows)},
                                       windows, QString(), Xwin::xwin(), 600000);
        made_ = windows;
        const bool all = int(xwin_->ids.size()) == windows &&
                         waitUntil([&] { return countWindows(desktop_) >= others_ + windows; }, 600000);
        if (!all) {
            std::fprintf(stderr, "only %d of %d windows appeared (connection %s)\n",
                         countWindows(desktop_) - others_, windows, desktop_.ok() ? "working" : "broken");
            return false;
        }
        settle(500);  // the window manager settles
        return true;
    }

    const std::vector<WindowId>& ids() const { return xwin_->ids; }

private:
    void stop() {
        if (!xwin_) return;
        xwin_.reset();
        waitUntil([&] { return countWindows(desktop_) == others_; }, 120000);
        made_ = 0;
    }

    X11DesktopWindows& desktop_;
    const int others_;
    std::unique_ptr<Xwin> xwin_;
    int made_ = 0;
};

// A window of this process that notes when each key press reaches its handler.
class KeyTarget : public QWindow {
public:
    // When each press was sent (steady clock, ns), by its stamp.
    std::vector<std::atomic<std::int64_t>> sent = std::vector<std::atomic<std::int64_t>>(1 << 16);
    std::vector<double> latencyMs;

protected:
    void keyPressEvent(QKeyEvent* e) override {
        const std::int64_t now = nowNs();
        const std::size_t stamp = std::size_t(e->timestamp());
        if (stamp > 0 && stamp < sent.size() && sent[stamp] > 0) latencyMs.push_back(double(now - sent[stamp]) / 1e6);
    }
};

// Key presses sent to `target` from a thread with a connection of its own, at random
// moments, until it is destroyed.
class KeySender {
public:
    KeySender(const QString& display, KeyTarget& target)
        : client_(display), window_(WindowId(target.winId())), target_(target), thread_([this] { run(); }) {}
    ~KeySender() {
        stop_ = true;
        thread_.join();
    }
    int sent() const { return stamp_; }

private:
    void run() {
        std::mt19937 random(20240607);
        std::uniform_int_distribution<int> gapUs(5000, 15000);
        while (!stop_ && stamp_ + 1 < int(target_.sent.size())) {
            std::this_thread::sleep_for(std::chrono::microseconds(gapUs(random)));
            const int stamp = stamp_ + 1;
            target_.sent[std::size_t(stamp)] = nowNs();
            client_.sendKey(window_, std::uint32_t(stamp));
            stamp_ = stamp;
        }
    }

    XClient client_;
    const WindowId window_;
    KeyTarget& target_;
    std::atomic<bool> stop_{false};
    std::atomic<int> stamp_{0};
    std::thread thread_;
};

double percentile(std::vector<double> v, double q) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(q * double(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    BenchDesktop bench(argc, argv, BenchDesktop::App::Gui);
    if (!bench.ok()) return 1;
    XSession& session = bench.session();

    KeyTarget target;
    target.setTitle(QStringLiteral("Key target"));
    target.resize(200, 100);
    target.show();

    X11DesktopWindows desktop(session.display());
    waitUntil([&] { return countWindows(desktop) >= 1; }, 10000);
    PopupSweep sweep(desktop, PopupSweep::Hooks{});
    sweep.setTaskStyleMask(kTaskStyleMask);
    UntrackedDesktop untracked(desktop);
    PopupSweep wholeSweep(untracked, PopupSweep::Hooks{});
    wholeSweep.setTaskStyleMask(kTaskStyleMask);
    XClient other(session.display());

    ForeignWindows foreign(desktop, countWindows(desktop));
    const auto listedAll = [&](benchmark::State& state, const PopupSweep& s, int windows) {
        // Every foreign window listed, none closed: the sweep saw them all.
        state.counters["listed"] = double(s.lstApp().size());
        state.counters["denied"] = double(s.DeniedCount());
        if (int(s.lstApp().size()) < windows) state.SkipWithError("windows not listed");
    };
    for (int windows : {100, 1000, 10000}) {
        const std::string suffix = "/" + std::to_string(windows);
        benchmark::RegisterBenchmark(("FindApps" + suffix + "/unchanged").c_str(), [&, windows](benchmark::State& state) {
            if (!foreign.ensure(windows)) return state.SkipWithError("windows missing");
            sweep.FindApps();
            const std::uint64_t tripsBefore = desktop.roundTrips();
            for (auto _ : state) sweep.FindApps();
            // Batches of requests the X server was waited for, per sweep: none.
            state.counters["roundTrips"] = benchmark::Counter(double(desktop.roundTrips() - tripsBefore),
                                                              benchmark::Counter::kAvgIterations);
            listedAll(state, sweep, windows);
        })->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->UseRealTime();
        benchmark::RegisterBenchmark(("FindApps" + suffix + "/one retitled").c_str(), [&, windows](benchmark::State& state) {
            if (!foreign.ensure(windows)) return state.SkipWithError("windows missing");
            sweep.FindApps();
            int n = 0;
            for (auto _ : state) {
                state.PauseTiming();
                const WindowId w = foreign.ids()[std::size_t(n * 7919) % foreign.ids().size()];
                const QByteArray title = "Retitled " + QByteArray::number(++n) + " - Another Browser";
                other.retitle(w, title);
                if (!waitUntil([&] { return titleOf(desktop, w) == QString::fromUtf8(title); }, 10000))
                    return state.SkipWithError("retitle not seen");
                state.ResumeTiming();
                sweep.FindApps();
            }
            listedAll(state, sweep, windows);
        })->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(windows > 1000 ? 50 : 200);
        benchmark::RegisterBenchmark(("FindApps" + suffix + "/whole walk").c_str(), [&, windows](benchmark::State& state) {
            if (!foreign.ensure(windows)) return state.SkipWithError("windows missing");
            for (auto _ : state) wholeSweep.FindApps();
            listedAll(state, wholeSweep, windows);
        })->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->UseRealTime();
        auto* wmctrl = benchmark::RegisterBenchmark(("WmctrlList" + suffix).c_str(), [&, windows](benchmark::State& state) {
            if (!foreign.ensure(windows)) return state.SkipWithError("windows missing");
            int lines = 0;
            for (auto _ : state) {
                QProcess wmctrl;
                wmctrl.start(QStringLiteral("wmctrl"), {QStringLiteral("-l")});
                wmctrl.waitForFinished(60000);
                lines = int(wmctrl.readAllStandardOutput().count('\n'));
            }
            state.counters["listed"] = lines;
        });
        wmctrl->Unit(benchmark::kMicrosecond)->UseRealTime();
        if (windows > 1000) wmctrl->Iterations(3);
    }
    // Key press to handler, 3 s each: whole walks back to back over 10,000 windows, then
    // the event loop idle.
    for (const bool sweeping : {true, false}) {
        const char* name = sweeping ? "KeyLatency/10000/whole walks" : "KeyLatency/10000/idle";
        benchmark::RegisterBenchmark(name, [&, sweeping](benchmark::State& state) {
            if (!foreign.ensure(10000)) return state.SkipWithError("windows missing");
            if (!waitUntil([&] { return target.isExposed(); }, 10000)) return state.SkipWithError("no key target");
            int sweeps = 0;
            for (auto _ : state) {
                target.latencyMs.clear();
                for (auto& t : target.sent) t = 0;
                KeySender sender(session.display(), target);
                if (sweeping) {
                    sampleUntil(
                        [&] {
                            wholeSweep.FindApps();
                            ++sweeps;
                            return false;
                        },
                        3000, 0);
                } else {
                    QEventLoop idle;
                    QTimer::singleShot(3000, &idle, &QEventLoop::quit);
                    idle.exec();
                }
                state.counters["keys sent"] = sender.sent();
            }
            settle(200);  // the last keys arrive
            state.counters["keys"] = double(target.latencyMs.size());
            state.counters["sweeps"] = sweeps;
            state.counters["p50_ms"] = percentile(target.latencyMs, 0.50);
            state.counters["p95_ms"] = percentile(target.latencyMs, 0.95);
            state.counters["max_ms"] = percentile(target.latencyMs, 1.0);
            if (target.latencyMs.empty()) state.SkipWithError("no key reached the handler");
        })->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
    }
    return runBenchmarks(argc, argv);
}
