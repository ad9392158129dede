// The cost of one popup sweep (PopupSweep::FindApps) over the real X11 desktop against
// the number of top-level windows, on a private Xvfb with openbox and foreign windows from
// xwin whose titles never match. No main window: the sweep alone, with no timer, so that
// only the measured sweeps run.
// Reference in the same run: `wmctrl -l` listing the same windows.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cstdio>
#include <functional>
#include <memory>

#include "denial/popup_sweep.h"
#include "platform/x11/x11_desktop_windows.h"
#include "x_session.h"

namespace {

int countWindows(DesktopWindows& desktop) {
    int n = 0;
    for (WindowId w = desktop.FirstWindow(); w != 0; w = desktop.NextWindow(w)) ++n;
    return n;
}

bool waitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

// The foreign windows on the desktop: exactly `windows` of them besides the main window,
// made by one xwin; the sweep lists them but never closes them.
class ForeignWindows {
public:
    ForeignWindows(X11DesktopWindows& desktop, int others) : desktop_(desktop), others_(others) {}
    ~ForeignWindows() { stop(); }

    bool ensure(int windows) {
        if (windows == made_) return true;
        stop();
        xwin_ = std::make_unique<QProcess>();
        xwin_->start(QStringLiteral(TARNWICK_BINARY_DIR "/xwin"),
                     {"--title", "Page %d - Another Browser", "--count", QString::number(windows)});
        if (!xwin_->waitForStarted()) return false;
        made_ = windows;
        if (!waitUntil([&] { return countWindows(desktop_) >= others_ + windows; }, 120000)) {
            std::fprintf(stderr, "only %d of %d windows appeared (connection %s)\n",
                         countWindows(desktop_) - others_, windows, desktop_.ok() ? "working" : "broken");
            return false;
        }
        waitUntil([] { return false; }, 500);  // the window manager settles
        return true;
    }

private:
    void stop() {
        if (!xwin_) return;
        xwin_->terminate();
        xwin_->waitForFinished(5000);
        xwin_.reset();
        waitUntil([&] { return countWindows(desktop_) == others_; }, 60000);
        made_ = 0;
    }

    X11DesktopWindows& desktop_;
    const int others_;
    std::unique_ptr<QProcess> xwin_;
    int made_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    XSession session(XSession::WindowManager::Openbox);
    if (!session.ok()) {
        std::fprintf(stderr, "could not start Xvfb with openbox\n");
        return 1;
    }
    session.exportForQt();
    QCoreApplication app(argc, argv);

    X11DesktopWindows desktop(session.display());
    PopupSweep sweep(desktop, PopupSweep::Hooks{});
    sweep.setTaskStyleMask(kTaskStyleMask);

    ForeignWindows foreign(desktop, countWindows(desktop));
    for (int windows : {100, 1000}) {
        const std::string suffix = "/" + std::to_string(windows);
        benchmark::RegisterBenchmark(("FindApps" + suffix).c_str(), [&, windows](benchmark::State& state) {
            if (!foreign.ensure(windows)) return state.SkipWithError("windows missing");
            const std::uint64_t tripsBefore = desktop.roundTrips();
            for (auto _ : state) sweep.FindApps();
            // Batches of requests the X server was waited for, per sweep: none on an
            // unchanged desktop.
            state.counters["roundTrips"] = benchmark::Counter(double(desktop.roundTrips() - tripsBefore),
                                                              benchmark::Counter::kAvgIterations);
            // Every foreign window listed, none closed: the sweep walked them all.
            state.counters["listed"] = double(sweep.lstApp().size());
            state.counters["denied"] = double(sweep.DeniedCount());
            if (int(sweep.lstApp().size()) < windows) state.SkipWithError("windows not listed");
        })->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->UseRealTime();
        benchmark::RegisterBenchmark(("WmctrlList" + suffix).c_str(), [&, windows](benchmark::State& state) {
            if (!foreign.ensure(windows)) return state.SkipWithError("windows missing");
            int lines = 0;
            for (auto _ : state) {
                QProcess wmctrl;
                wmctrl.start(QStringLiteral("wmctrl"), {QStringLiteral("-l")});
                wmctrl.waitForFinished(60000);
                lines = int(wmctrl.readAllStandardOutput().count('\n'));
            }
            state.counters["listed"] = lines;
        })->Unit(benchmark::kMicrosecond)->UseRealTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
