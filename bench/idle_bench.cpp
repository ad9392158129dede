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

#include <xcb/xcb.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
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
    pump(seconds * 1000);
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

const QString kXwin = QStringLiteral(TARNWICK_BINARY_DIR "/xwin");
const QString kWlwin = QStringLiteral(TARNWICK_BINARY_DIR "/wlwin");

// `count` foreign windows with titles that never match, made by one xwin (X11) or wlwin
// (native Wayland); ready once it has printed every id (it prints them once all show).
class ForeignWindows {
public:
    explicit ForeignWindows(bool managing) : managing(managing) {}
    bool start(int count, const QString& tool = kXwin) {
        if (count == 0) return true;
        xwin_.start(tool, {"--title", "Page %d - Another Browser", "--count", QString::number(count)});
        if (!xwin_.waitForStarted(10000)) return false;
        int ids = 0;
        QElapsedTimer clock;
        clock.start();
        while (ids < count && clock.elapsed() < 600000) {
            if (xwin_.canReadLine() || xwin_.waitForReadyRead(1000))
                while (xwin_.canReadLine()) {
                    xwin_.readLine();
                    ++ids;
                }
            if (xwin_.state() == QProcess::NotRunning) break;
        }
        // A window manager takes the windows in after xwin mapped them: the measurement
        // starts once it has taken in all of them.
        while (ids == count && managing && managedWindows() < count && clock.elapsed() < 600000) QThread::msleep(200);
        return ids == count && (!managing || managedWindows() >= count);
    }
    ~ForeignWindows() {
        if (xwin_.state() == QProcess::NotRunning) return;
        xwin_.terminate();
        xwin_.waitForFinished(5000);
    }

private:
    // The length of the window manager's client list (_NET_CLIENT_LIST).
    static int managedWindows() {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        int n = 0;
        const char name[] = "_NET_CLIENT_LIST";
        xcb_intern_atom_reply_t* a = xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof name - 1, name), nullptr);
        if (a && a->atom != XCB_NONE) {
            const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
            xcb_get_property_reply_t* list = xcb_get_property_reply(
                c, xcb_get_property(c, 0, root, a->atom, XCB_ATOM_WINDOW, 0, 1 << 20), nullptr);
            if (list) n = xcb_get_property_value_length(list) / 4;
            std::free(list);
        }
        std::free(a);
        xcb_disconnect(c);
        return n;
    }
    const bool managing;
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
    int seconds = 30;
    std::vector<int> windows{0, 300, 1000, 10000};
    QString previous;  // another build of the program, measured beside this one
    bool windowManager = true;  // openbox; false: no window manager
    int native = 300;
    std::string desktop = "both";
};

// Without a window manager there is no client list: the main window is the program's
// child of the root with the program's caption.
bool mainWindowShown(TarnwickProcess& program, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (program.running() && clock.elapsed() < timeoutMs) {
        for (std::uint32_t window : program.desktop().rootChildren()) {
            if (program.desktop().pid(window) != program.pid()) continue;
            const QString title = program.desktop().title(window);
            if (title == QLatin1String("Tarnwick") || title.endsWith(QLatin1String(" - Tarnwick"))) return true;
        }
        pump(100);
    }
    return false;
}

// One program on the desktop as it is; `binary` empty: this build's.
bool runTarnwick(const std::string& name, const QString& binary, const Options& options, bool early = true,
                 bool clock = false) {
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
    if (!(options.windowManager ? program.waitForMainWindow(120000) != 0 : mainWindowShown(program, 120000))) {
        std::fprintf(stderr, "%s: no main window; log:\n%s\n", name.c_str(), program.log().constData());
        return false;
    }
    pump(options.settle * 1000);
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
bool runBoth(const std::string& name, int turn, const Options& options, bool early = true, bool clock = false) {
    bool ok = true;
    for (int i = 0; i < 2; ++i) {
        const bool previous = (i + turn) % 2 == 1;
        if (previous && options.previous.isEmpty()) continue;
        ok = runTarnwick(name + (previous ? " [previous]" : ""), previous ? options.previous : QString(), options,
                         early, clock) && ok;
    }
    return ok;
}

bool runBareWebView(const char* name, const Options& options) {
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
        else if (!std::strcmp(argv[i], "--previous")) options.previous = QString::fromLocal8Bit(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--native")) options.native = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--desktop")) options.desktop = argv[i + 1];
        else if (!std::strcmp(argv[i], "--window-manager")) options.windowManager = std::strcmp(argv[i + 1], "none");
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
    XSession session(options.windowManager ? XSession::WindowManager::Openbox : XSession::WindowManager::None);
    if (!session.ok()) {
        std::fprintf(stderr, "could not start Xvfb (with openbox when asked)\n");
        return 1;
    }
    session.exportForQt();
    QApplication app(argc, argv);

    std::printf("Idle CPU over %d s after %d s settling; %% of one core (main: its threads in ns; helpers:"
                " utime+stime)\n", options.seconds, options.settle);
    std::printf("%-46s %8s %10s %10s %10s %10s %6s\n", "Case", "wall s", "CPU s", "total %", "main %",
                "helpers %", "procs");
    std::printf("%s\n", std::string(106, '-').c_str());
    bool ok = true;
    int turn = 0;
    for (int windows : options.desktop != "sway" ? options.windows : std::vector<int>{}) {
        ForeignWindows foreign(options.windowManager);
        if (!foreign.start(windows)) {
            std::fprintf(stderr, "%d foreign windows did not appear\n", windows);
            ok = false;
            continue;
        }
        const std::string name = "Idle/tarnwick/" + std::to_string(windows) + "windows";
        ok = runBoth(name, turn++, options) && ok;
        if (windows == 300) {
            ok = runBoth(name + "+clock/early", turn++, options, true, true) && ok;
            ok = runBoth(name + "+clock/tick only", turn++, options, false, true) && ok;
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
        ok = runBoth("Idle/sway/tarnwick/0windows", turn++, options) && ok;
        ForeignWindows foreign(false);
        if (!foreign.start(options.native, kWlwin)) {
            std::fprintf(stderr, "%d native windows did not appear\n", options.native);
            ok = false;
        } else {
            const std::string native = "Idle/sway/tarnwick/" + std::to_string(options.native) + "native";
            ok = runBoth(native + "/early", turn++, options) && ok;
            ok = runBoth(native + "/tick only", turn++, options, false) && ok;
        }
    }
    double load[3] = {};
    if (getloadavg(load, 3) == 3) std::printf("load average at the end: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    std::printf("Target: main process with 1,000 windows at most 0.15 points of one core above none, with 10,000\n"
                "at most 0.5 points; with the clock, early no worse than tick only; on sway with native windows, early\n"
                "at most 0.5%% of one core more than none and no worse than tick only\n");
    return ok ? 0 : 1;
}
