// The built program's CPU use while idle, with 200 foreign windows on the desktop, on a
// private Xvfb with openbox. The program runs from a program folder of its own whose
// settings file starts it on "about:blank" (no network); after it settles, the CPU time
// of its process and of all its descendants (the web engine's processes) is summed over
// a stretch of wall time, with the early sweep and with the tick alone
// (TARNWICK_EARLY_SWEEP=0), and again with one more foreign window retitling itself 100
// times a second (a clock; its title never matches). References in the same run: the
// program with no foreign windows, and a bare Qt WebEngine window idle on the same page.
// Then on a wlroots desktop (headless sway with Xwayland, the sweep on the compositor's
// list of toplevels): the program with `--native` (300) native Wayland windows (wlwin),
// with the early sweep and with the tick alone, against the program there with none.
//
// Usage: idle_bench [--settle SECONDS] [--seconds SECONDS] [--windows N] [--native N]
//                   [--desktop x11|sway|both]

#include <xcb/xcb.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
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

#include "proc_tree.h"
#include "tarnwick_process.h"
#include "x_session.h"

namespace {

// `root`'s process tree keyed by (pid, start time), so that a reused pid is another process.
std::map<std::pair<pid_t, unsigned long long>, ProcStat> processTreeByStart(pid_t root) {
    std::map<std::pair<pid_t, unsigned long long>, ProcStat> tree;
    for (const ProcStat& p : processTree(root)) tree[{p.pid, p.startTime}] = p;
    return tree;
}

void pump(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(50);
    }
}

struct Usage {
    double wallSeconds = 0;
    double mainSeconds = 0;   // CPU of the process itself
    double totalSeconds = 0;  // CPU of the process and its descendants
    int processes = 0;
};

// CPU time of `root`'s process tree over `seconds` of wall time. Processes that start
// during the stretch count with all their time; those that end during it are lost.
Usage measure(pid_t root, int seconds) {
    const double tick = double(sysconf(_SC_CLK_TCK));
    QElapsedTimer clock;
    const auto before = processTreeByStart(root);
    clock.start();
    pump(seconds * 1000);
    const auto after = processTreeByStart(root);
    Usage usage;
    usage.wallSeconds = clock.nsecsElapsed() / 1e9;
    for (const auto& [key, p] : after) {
        auto it = before.find(key);
        const unsigned long long used = p.cpuTicks - (it == before.end() ? 0 : it->second.cpuTicks);
        usage.totalSeconds += used / tick;
        if (p.pid == root) usage.mainSeconds = used / tick;
    }
    usage.processes = int(after.size());
    return usage;
}

void report(const char* name, const Usage& u) {
    std::printf("%-42s %8.2f %10.3f %10.3f %10.3f %10.3f %6d\n", name, u.wallSeconds, u.totalSeconds,
                100.0 * u.totalSeconds / u.wallSeconds, 100.0 * u.mainSeconds / u.wallSeconds,
                100.0 * (u.totalSeconds - u.mainSeconds) / u.wallSeconds, u.processes);
    std::fflush(stdout);
}

const QString kXwin = QStringLiteral(TARNWICK_BINARY_DIR "/xwin");
const QString kWlwin = QStringLiteral(TARNWICK_BINARY_DIR "/wlwin");

// `count` foreign windows with titles that never match, made by one xwin (X11) or wlwin
// (native Wayland); ready once it has printed every id (it prints them once all show).
class ForeignWindows {
public:
    bool start(int count, const QString& tool) {
        if (count == 0) return true;
        xwin_.start(tool, {"--title", "Page %d - Another Browser", "--count", QString::number(count)});
        if (!xwin_.waitForStarted(10000)) return false;
        int ids = 0;
        QElapsedTimer clock;
        clock.start();
        while (ids < count && clock.elapsed() < 120000) {
            if (xwin_.canReadLine() || xwin_.waitForReadyRead(1000))
                while (xwin_.canReadLine()) {
                    xwin_.readLine();
                    ++ids;
                }
            if (xwin_.state() == QProcess::NotRunning) break;
        }
        return ids == count;
    }
    ~ForeignWindows() {
        if (xwin_.state() == QProcess::NotRunning) return;
        xwin_.terminate();
        xwin_.waitForFinished(5000);
    }

private:
    QProcess xwin_;
};

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
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) {
            xcb_disconnect(c);
            return;
        }
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_window_t window = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 240, 40, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const auto atom = [c](const char* name) {
            xcb_intern_atom_reply_t* r =
                xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr);
            const xcb_atom_t a = r ? r->atom : XCB_NONE;
            std::free(r);
            return a;
        };
        const xcb_atom_t netName = atom("_NET_WM_NAME");
        const xcb_atom_t utf8 = atom("UTF8_STRING");
        const auto retitle = [&](long n) {
            const std::string title = "Clock " + std::to_string(n);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, netName, utf8, 8, std::uint32_t(title.size()),
                                title.data());
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                                std::uint32_t(title.size()), title.data());
            xcb_flush(c);
        };
        retitle(0);
        xcb_map_window(c, window);
        auto next = std::chrono::steady_clock::now();
        while (!stop_) {
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
            retitle(++retitles_);
        }
        xcb_disconnect(c);
    }

    std::atomic<bool> stop_{false};
    std::atomic<long> retitles_{0};
    std::thread thread_;
};

struct Options {
    int settle = 5;
    int seconds = 15;
    int windows = 200;
    int native = 300;
    std::string desktop = "both";
};

bool runTarnwick(const char* name, int windows, const Options& options, bool early = true, bool clock = false,
                 const QString& tool = kXwin) {
    ForeignWindows foreign;
    if (!foreign.start(windows, tool)) {
        std::fprintf(stderr, "%s: the foreign windows did not appear\n", name);
        return false;
    }
    std::unique_ptr<RetitlingClock> retitling;
    if (clock) retitling = std::make_unique<RetitlingClock>();
    TarnwickProcess program;
    program.setIni("[Tarnwick]\r\nDefaultURL=about:blank\r\n");
    if (!early) program.setEnv(QStringLiteral("TARNWICK_EARLY_SWEEP"), QStringLiteral("0"));
    if (!program.start()) {
        std::fprintf(stderr, "%s: %s\n", name, qPrintable(program.error()));
        return false;
    }
    if (!program.waitForMainWindow(60000)) {
        std::fprintf(stderr, "%s: no main window; log:\n%s\n", name, program.log().constData());
        return false;
    }
    pump(options.settle * 1000);
    const Usage usage = measure(program.pid(), options.seconds);
    if (!program.running()) {
        std::fprintf(stderr, "%s: the program ended during the measurement\n", name);
        return false;
    }
    report(name, usage);
    if (retitling && retitling->retitles() < long(options.seconds + options.settle) * 50) {
        std::fprintf(stderr, "%s: the clock retitled only %ld times\n", name, retitling->retitles());
        return false;
    }
    return true;
}

bool runBareWebView(const char* name, int windows, const Options& options) {
    ForeignWindows foreign;
    if (!foreign.start(windows, kXwin)) {
        std::fprintf(stderr, "%s: the foreign windows did not appear\n", name);
        return false;
    }
    QTemporaryDir home;
    QDir().mkpath(home.filePath(QStringLiteral("runtime")));
    QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral(".local/share")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral(".cache")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    // The same engine flags the program runs with.
    env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"),
               QStringLiteral("--disable-gpu --no-first-run --disable-background-networking"));
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
    XDesktop desktop;
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
        pump(options.settle * 1000);
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
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--settle")) options.settle = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seconds")) options.seconds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--windows")) options.windows = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--native")) options.native = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--desktop")) options.desktop = argv[i + 1];
    }
    if (options.seconds < 1 || options.settle < 0 || options.windows < 0 || options.native < 0 ||
        (options.desktop != "x11" && options.desktop != "sway" && options.desktop != "both")) {
        std::fprintf(stderr, "usage: idle_bench [--settle SECONDS] [--seconds SECONDS] [--windows N] [--native N] "
                             "[--desktop x11|sway|both]\n");
        return 2;
    }
    XSession session(XSession::WindowManager::Openbox);
    if (!session.ok()) {
        std::fprintf(stderr, "could not start Xvfb with openbox\n");
        return 1;
    }
    session.exportForQt();
    QApplication app(argc, argv);

    std::printf("Idle CPU over %d s after %d s settling; %% of one core (utime+stime)\n", options.seconds,
                options.settle);
    std::printf("%-42s %8s %10s %10s %10s %10s %6s\n", "Case", "wall s", "CPU s", "total %", "main %",
                "helpers %", "procs");
    std::printf("%s\n", std::string(102, '-').c_str());
    const std::string many = "Idle/tarnwick/" + std::to_string(options.windows) + "windows";
    const std::string bare = "Idle/bare_webview/" + std::to_string(options.windows) + "windows";
    bool ok = true;
    if (options.desktop != "sway") {
        ok = runTarnwick("Idle/tarnwick/0windows", 0, options) && ok;
        ok = runTarnwick((many + "/early").c_str(), options.windows, options) && ok;
        ok = runTarnwick((many + "/tick only").c_str(), options.windows, options, false) && ok;
        ok = runTarnwick((many + "+clock/early").c_str(), options.windows, options, true, true) && ok;
        ok = runTarnwick((many + "+clock/tick only").c_str(), options.windows, options, false, true) && ok;
        ok = runBareWebView(bare.c_str(), options.windows, options) && ok;
    }
    if (options.desktop != "x11") {
        SwaySession sway;
        if (!sway.ok()) {
            std::fprintf(stderr, "could not start headless sway with Xwayland\n");
            return 1;
        }
        sway.exportForClients();
        const std::string native = "Idle/sway/tarnwick/" + std::to_string(options.native) + "native";
        ok = runTarnwick("Idle/sway/tarnwick/0windows", 0, options) && ok;
        ok = runTarnwick((native + "/early").c_str(), options.native, options, true, false, kWlwin) && ok;
        ok = runTarnwick((native + "/tick only").c_str(), options.native, options, false, false, kWlwin) && ok;
    }
    std::printf("Target: Idle/tarnwick with %d windows at most 1%% of one core (total); early sweep at most\n"
                "0.5%% of one core more than none and no worse than tick only, also with the clock; the same\n"
                "on sway with %d native windows\n",
                options.windows, options.native);
    return ok ? 0 : 1;
}
