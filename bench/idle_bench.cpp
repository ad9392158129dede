// The built program's CPU use while idle, against the number of foreign windows on the
// desktop (none match), on a private Xvfb with openbox. The program runs from a program
// folder of its own whose settings file starts it on "about:blank" (no network); after it
// settles, the CPU time of its process (its threads, in ns) and of all its descendants
// (the web engine's processes, in clock ticks) is summed over a stretch of wall time.
// Cases: 0, 300, 1,000 and 10,000 windows; 300 windows and one more retitling itself
// 100 times a second (a clock; its title never matches), with the early sweep and with
// the tick alone (TARNWICK_EARLY_SWEEP=0). References in the same run: the program with
// no foreign windows, a bare Qt WebEngine window idle on the same page with 1,000
// windows, and with --previous PATH, another build of the program (an older tree) in
// every case, its runs alternating with this one's on the same windows.
// Then on a wlroots desktop (headless sway with Xwayland, the sweep on the compositor's
// list of toplevels): the program with `--native` (300) native Wayland windows (wlwin),
// with the early sweep and with the tick alone, against the program there with none.
//
// Usage: idle_bench [--settle SECONDS] [--seconds SECONDS] [--windows N,N,...]
//                   [--previous PATH] [--window-manager openbox|none] [--native N]
//                   [--desktop x11|sway|both]
// Openbox takes in thousands of windows slowly (minutes for a few thousand): 10,000
// windows are measured with --window-manager none, beside none on the same desktop.

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_main.h"
#include "proc_tree.h"
#include "tarnwick_process.h"
#include "test_env.h"
#include "wait.h"
#include "x_client.h"
#include "xwin.h"

namespace {

// `root`'s process tree keyed by (pid, start time), so that a reused pid is another process.
std::map<std::pair<pid_t, unsigned long long>, ProcStat> processTreeByStart(pid_t root) {
    std::map<std::pair<pid_t, unsigned long long>, ProcStat> tree;
    for (const ProcStat& p : processTree(root)) tree[{p.pid, p.startTime}] = p;
    return tree;
}

struct Usage {
    double wallSeconds = 0;
    double mainSeconds = 0;   // CPU of the process itself (its threads alive at both ends)
    double totalSeconds = 0;  // CPU of the process and its descendants
    int processes = 0;
};

// CPU time of `root`'s process tree over `seconds` of wall time. Processes that start
// during the stretch count with all their time; those that end during it are lost.
Usage measure(pid_t root, int seconds) {
    const double tick = double(sysconf(_SC_CLK_TCK));
    QElapsedTimer clock;
    const auto before = processTreeByStart(root);
    const unsigned long long mainBefore = threadsCpuNs(root);
    clock.start();
    settle(seconds * 1000);
    const unsigned long long mainAfter = threadsCpuNs(root);
    const auto after = processTreeByStart(root);
    Usage usage;
    usage.wallSeconds = clock.nsecsElapsed() / 1e9;
    for (const auto& [key, p] : after) {
        auto it = before.find(key);
        const unsigned long long used = p.cpuTicks - (it == before.end() ? 0 : it->second.cpuTicks);
        if (p.pid != root) usage.totalSeconds += used / tick;
    }
    usage.mainSeconds = mainAfter > mainBefore ? double(mainAfter - mainBefore) / 1e9 : 0;
    usage.totalSeconds += usage.mainSeconds;
    usage.processes = int(after.size());
    return usage;
}

void report(const char* name, const Usage& u) {
    std::printf("%-46s %8.2f %10.3f %10.3f %10.3f %10.3f %6d\n", name, u.wallSeconds, u.totalSeconds,
                100.0 * u.totalSeconds / u.wallSeconds, 100.0 * u.mainSeconds / u.wallSeconds,
                100.0 * (u.totalSeconds - u.mainSeconds) / u.wallSeconds, u.processes);
    std::fflush(stdout);
}

// `count` foreign windows with titles that never match, made by one xwin (X11) or wlwin
// (native Wayland), all on screen and (when `managing`) taken in by the window manager;
// null when they did not come.
std::unique_ptr<Xwin> foreignWindows(int count, bool managing, const QString& tool = Xwin::xwin()) {
    auto windows = std::make_unique<Xwin>(QStringList{"--title", "Page %d - Another Browser", "--count", QString::number(count)},
                                          count, QString(), tool, 600000);
    XClient desktop;
    const bool ready = int(windows->ids.size()) == count &&
                       (!managing || waitUntil([&] { return int(desktop.clients().size()) >= count; }, 600000));
    return ready ? std::move(windows) : nullptr;
}

// A foreign window retitling itself 100 times a second, from a thread with a connection
// of its own (so that it runs while the measurement blocks this thread).
class RetitlingClock {
public:
    RetitlingClock() : thread_([this] { run(); }) {}
    ~RetitlingClock() {
        stop_ = true;
        thread_.join();
    }
    long retitles() const { return retitles_; }

private:
    void run() {
        XClient x;
        if (!x.ok()) return;
        const std::uint32_t window = x.createWindow(240, 40);
        const auto retitle = [&](long n) {
            const QByteArray title = "Clock " + QByteArray::number(n);
            x.retitle(window, title);
            x.setText(window, "WM_NAME", "STRING", title);
        };
        retitle(0);
        x.map(window);
        auto next = std::chrono::steady_clock::now();
        while (!stop_) {
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
            retitle(++retitles_);
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<long> retitles_{0};
    std::thread thread_;
};

struct Options {
    int settle = 5;
    int seconds = 30;
    std::vector<int> windows{0, 300, 1000, 10000};
    QString previous;  // another build of the program, measured beside this one
    int native = 300;
    std::string desktop = "both";
};

// Without a window manager there is no client list: the main window is the program's
// child of the root with the program's caption.
bool mainWindowShown(TarnwickProcess& program, int timeoutMs) {
    bool shown = false;
    waitUntil(
        [&] {
            for (std::uint32_t window : program.desktop().rootChildren()) {
                const QString title = program.desktop().title(window);
                shown = shown || (program.desktop().pid(window) == program.pid() &&
                                  (title == QLatin1String("Tarnwick") || title.endsWith(QLatin1String(" - Tarnwick"))));
            }
            return shown || !program.running();
        },
        timeoutMs);
    return shown;
}

// One program on the desktop as it is; `binary` empty: this build's.
bool runTarnwick(const std::string& name, const QString& binary, const Options& options, bool windowManager,
                 bool early, bool clock) {
    std::unique_ptr<RetitlingClock> retitling;
    if (clock) retitling = std::make_unique<RetitlingClock>();
    TarnwickProcess program;
    if (!binary.isEmpty()) program.setBinary(binary);
    program.setIni("[Tarnwick]\r\nDefaultURL=about:blank\r\n");
    if (!early) program.setEnv(QStringLiteral("TARNWICK_EARLY_SWEEP"), QStringLiteral("0"));
    if (!program.start()) {
        std::fprintf(stderr, "%s: %s\n", name.c_str(), qPrintable(program.error()));
        return false;
    }
    if (!(windowManager ? program.waitForMainWindow(120000) != 0 : mainWindowShown(program, 120000))) {
        std::fprintf(stderr, "%s: no main window; log:\n%s\n", name.c_str(), program.log().constData());
        return false;
    }
    settle(options.settle * 1000);
    const Usage usage = measure(program.pid(), options.seconds);
    if (!program.running()) {
        std::fprintf(stderr, "%s: the program ended during the measurement\n", name.c_str());
        return false;
    }
    report(name.c_str(), usage);
    if (retitling && retitling->retitles() < long(options.seconds + options.settle) * 50) {
        std::fprintf(stderr, "%s: the clock retitled only %ld times\n", name.c_str(), retitling->retitles());
        return false;
    }
    return true;
}

// This build and the previous one (when given) on the same desktop, in the order `turn`
// says, so that neither always comes first.
bool runBoth(const std::string& name, int turn, const Options& options, bool windowManager, bool early = true,
             bool clock = false) {
    bool ok = true;
    for (int i = 0; i < 2; ++i) {
        const bool previous = (i + turn) % 2 == 1;
        if (previous && options.previous.isEmpty()) continue;
        ok = runTarnwick(name + (previous ? " [previous]" : ""), previous ? options.previous : QString(), options,
                         windowManager, early, clock) && ok;
    }
    return ok;
}

bool runBareWebView(const char* name, const Options& options) {
    QTemporaryDir home;
    // The same home and engine flags the program runs with.
    const QProcessEnvironment env = testenv::privateHome(home.path());
    QProcess bare;
    bare.setProcessEnvironment(env);
    bare.setStandardOutputFile(QProcess::nullDevice());
    bare.setStandardErrorFile(QProcess::nullDevice());
    bare.start(QStringLiteral(TARNWICK_BINARY_DIR "/bare_webview"), {QStringLiteral("about:blank")});
    if (!bare.waitForStarted(10000)) {
        std::fprintf(stderr, "%s: bare_webview did not start\n", name);
        return false;
    }
    const pid_t pid = pid_t(bare.processId());
    XClient desktop;
    const bool shown = waitUntil(
        [&] {
            for (std::uint32_t window : desktop.clients())
                if (desktop.pid(window) == pid) return true;
            return false;
        },
        60000);
    bool ok = shown;
    if (!shown) std::fprintf(stderr, "%s: no window\n", name);
    if (ok) {
        settle(options.settle * 1000);
        const Usage usage = measure(pid, options.seconds);
        ok = bare.state() == QProcess::Running;
        if (ok) report(name, usage);
        else std::fprintf(stderr, "%s: bare_webview ended during the measurement\n", name);
    }
    bare.kill();
    bare.waitForFinished(5000);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    BenchDesktop bench(argc, argv);
    if (!bench.ok()) return 1;
    const bool wm = bench.windowManager();
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--settle")) options.settle = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seconds")) options.seconds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--previous")) options.previous = QString::fromLocal8Bit(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--native")) options.native = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--desktop")) options.desktop = argv[i + 1];
        else if (!std::strcmp(argv[i], "--windows")) {
            options.windows.clear();
            for (const QByteArray& n : QByteArray(argv[i + 1]).split(',')) options.windows.push_back(n.toInt());
        }
    }
    const bool badCount = std::any_of(options.windows.begin(), options.windows.end(), [](int n) { return n < 0; });
    if (options.seconds < 1 || options.settle < 0 || badCount || options.native < 0 ||
        (options.desktop != "x11" && options.desktop != "sway" && options.desktop != "both")) {
        std::fprintf(stderr, "usage: idle_bench [--settle SECONDS] [--seconds SECONDS] [--windows N,N,...]"
                             " [--previous PATH] [--window-manager openbox|none] [--native N]"
                             " [--desktop x11|sway|both]\n");
        return 2;
    }
    std::printf("Idle CPU over %d s after %d s settling; %% of one core (main: its threads in ns; helpers:"
                " utime+stime)\n", options.seconds, options.settle);
    std::printf("%-46s %8s %10s %10s %10s %10s %6s\n", "Case", "wall s", "CPU s", "total %", "main %",
                "helpers %", "procs");
    std::printf("%s\n", std::string(106, '-').c_str());
    bool ok = true;
    int turn = 0;
    for (int windows : options.desktop != "sway" ? options.windows : std::vector<int>{}) {
        const auto foreign = windows > 0 ? foreignWindows(windows, wm) : nullptr;
        if (windows > 0 && !foreign) {
            std::fprintf(stderr, "%d foreign windows did not appear\n", windows);
            ok = false;
            continue;
        }
        const std::string name = "Idle/tarnwick/" + std::to_string(windows) + "windows";
        ok = runBoth(name, turn++, options, wm) && ok;
        if (windows == 300) {
            ok = runBoth(name + "+clock/early", turn++, options, wm, true, true) && ok;
            ok = runBoth(name + "+clock/tick only", turn++, options, wm, false, true) && ok;
        }
        if (windows == 1000) ok = runBareWebView("Idle/bare_webview/1000windows", options) && ok;
    }
    if (options.desktop != "x11") {
        SwaySession sway;
        if (!sway.ok()) {
            std::fprintf(stderr, "could not start headless sway with Xwayland\n");
            return 1;
        }
        sway.exportForClients();
        ok = runBoth("Idle/sway/tarnwick/0windows", turn++, options, wm) && ok;
        const auto foreign = options.native > 0 ? foreignWindows(options.native, false, Xwin::wlwin()) : nullptr;
        if (options.native > 0 && !foreign) {
            std::fprintf(stderr, "%d native windows did not appear\n", options.native);
            ok = false;
        } else {
            const std::string native = "Idle/sway/tarnwick/" + std::to_string(options.native) + "native";
            ok = runBoth(native + "/early", turn++, options, wm) && ok;
            ok = runBoth(native + "/tick only", turn++, options, wm, false) && ok;
        }
    }
    double load[3] = {};
    if (getloadavg(load, 3) == 3) std::printf("load average at the end: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    std::printf("Target: main process with 1,000 windows at most 0.15 points of one core above none, with 10,000\n"
                "at most 0.5 points; with the clock, early no worse than tick only; on sway with native windows, early\n"
                "at most 0.5%% of one core more than none and no worse than tick only\n");
    return ok ? 0 : 1;
}
