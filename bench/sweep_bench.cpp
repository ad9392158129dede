// The cost of one popup sweep over the desktop against the number of top-level windows,
// on a private Xvfb with openbox and foreign windows from xwin. Reference in the same
// run: `wmctrl -l` listing the same windows.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cstdio>
#include <functional>
#include <memory>

#include "platform/x11/x11_desktop_windows.h"
#include "x_session.h"

namespace {

const QString kForeignBrowser = QStringLiteral("Microsoft Internet Explorer");

// One walk over the desktop as the sweep makes it: a yield to the event loop per
// window, the style test, the title read into a buffer of its length + 1, the tail
// compared. Returns how many windows matched.
int sweep(DesktopWindows& desktop) {
    constexpr std::uint32_t mask = WindowStyle::Visible | WindowStyle::Border;
    int matches = 0;
    for (WindowId w = desktop.FirstWindow(0); w != 0; w = desktop.NextWindow(w)) {
        QCoreApplication::processEvents();
        if ((desktop.Style(w) & mask) != mask) continue;
        const int length = desktop.TitleLength(w);
        QString title;
        const int count = desktop.Title(w, title, length + 1);
        if (count > 0 && title.right(kForeignBrowser.size()) == kForeignBrowser) ++matches;
    }
    return matches;
}

int countWindows(DesktopWindows& desktop) {
    int n = 0;
    for (WindowId w = desktop.FirstWindow(0); w != 0; w = desktop.NextWindow(w)) ++n;
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


// The foreign windows on the desktop: exactly `windows` of them, made by one xwin, which
// the sweep inspects but never closes.
class ForeignWindows {
public:
    explicit ForeignWindows(X11DesktopWindows& desktop) : desktop_(desktop) {}
    ~ForeignWindows() { stop(); }

    bool ensure(int windows) {
        if (windows == made_) return true;
        stop();
        xwin_ = std::make_unique<QProcess>();
        xwin_->start(QStringLiteral(TARNWICK_BINARY_DIR "/xwin"),
                     {"--title", "Page %d - Another Browser", "--count", QString::number(windows)});
        if (!xwin_->waitForStarted()) return false;
        made_ = windows;
        if (!waitUntil([&] { return countWindows(desktop_) >= windows; }, 120000)) {
            std::fprintf(stderr, "only %d of %d windows appeared (connection %s)\n", countWindows(desktop_), windows,
                         desktop_.ok() ? "working" : "broken");
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
        waitUntil([&] { return countWindows(desktop_) == 0; }, 60000);
        made_ = 0;
    }

    X11DesktopWindows& desktop_;
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
    session.exportDisplay();
    QCoreApplication app(argc, argv);
    X11DesktopWindows desktop(session.display());
    ForeignWindows foreign(desktop);

    for (int windows : {100, 1000}) {
        const std::string suffix = "/" + std::to_string(windows);
        benchmark::RegisterBenchmark(("Sweep" + suffix).c_str(), [&, windows](benchmark::State& state) {
            if (!foreign.ensure(windows)) return state.SkipWithError("windows missing");
            for (auto _ : state) benchmark::DoNotOptimize(sweep(desktop));
            state.counters["windows"] = countWindows(desktop);
        })->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("WmctrlList" + suffix).c_str(), [&, windows](benchmark::State& state) {
            if (!foreign.ensure(windows)) return state.SkipWithError("windows missing");
            int lines = 0;
            for (auto _ : state) {
                QProcess wmctrl;
                wmctrl.start(QStringLiteral("wmctrl"), {QStringLiteral("-l")});
                wmctrl.waitForFinished(60000);
                lines = int(wmctrl.readAllStandardOutput().count('\n'));
            }
            state.counters["windows"] = lines;
        })->Unit(benchmark::kMicrosecond)->UseRealTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
