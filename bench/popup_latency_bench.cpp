// How long a popup stays on screen with the program running: on a private Xvfb with
// openbox, 200 foreign background windows and the built program idle on "about:blank",
// popups titled "Popup N - Microsoft Internet Explorer" appear one after another (each
// from an xwin of its own, at random moments so that they do not line up with the
// sweep's 100 ms tick). A popup's time on screen runs from the moment xwin reports it
// mapped (its id) to the moment xwin receives the close request ("closed ID").
// The program runs twice, with the early sweep and with it turned off
// (TARNWICK_EARLY_SWEEP=0: the 100 ms tick alone).
// References in the same run: the tick period (the bound a sweep per tick allows), and
// the round trip of a close request sent straight to the same kind of window (titled so
// that the program leaves it alone): through the window manager with `wmctrl -ic`, and
// as a WM_DELETE_WINDOW client message sent by this process itself.
//
// Usage: popup_latency_bench [--popups N] [--floor N] [--windows N] [--seed N]

#include <xcb/xcb.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tarnwick_process.h"
#include "x_session.h"

namespace {

constexpr int kTickMs = 100;
constexpr int kCloseTimeoutMs = 5000;

// Sends WM_DELETE_WINDOW to a window over a connection of its own, as a window manager's
// close box does.
class DirectCloser {
public:
    DirectCloser() {
        c_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c_)) return;
        protocols_ = atom("WM_PROTOCOLS");
        delete_ = atom("WM_DELETE_WINDOW");
    }
    ~DirectCloser() { xcb_disconnect(c_); }
    bool ok() const { return !xcb_connection_has_error(c_) && protocols_ && delete_; }

    void close(std::uint32_t window) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = protocols_;
        event.data.data32[0] = delete_;
        event.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(c_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
        xcb_flush(c_);
    }

private:
    xcb_atom_t atom(const char* name) {
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, std::uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t result = reply ? reply->atom : 0;
        std::free(reply);
        return result;
    }

    xcb_connection_t* c_ = nullptr;
    xcb_atom_t protocols_ = 0;
    xcb_atom_t delete_ = 0;
};

// Reads one line from `process`, waiting at most until `deadline` runs out.
bool readLine(QProcess& process, QByteArray& line, const QElapsedTimer& clock, qint64 deadlineMs) {
    while (!process.canReadLine()) {
        const qint64 left = deadlineMs - clock.elapsed();
        if (left <= 0 || process.state() == QProcess::NotRunning) return false;
        process.waitForReadyRead(int(std::min<qint64>(left, 200)));
    }
    line = process.readLine().trimmed();
    return true;
}

// Shows one window titled `title` and returns how long it stayed on screen in
// milliseconds, from its id to its "closed" line; `shown` runs once it is mapped (to
// close it from here). Negative when it was not closed in time.
double onScreenMs(const QString& title, const std::function<void(std::uint32_t)>& shown) {
    QProcess xwin;
    xwin.start(QStringLiteral(TARNWICK_BINARY_DIR "/xwin"), {QStringLiteral("--title"), title});
    if (!xwin.waitForStarted(10000)) return -1;
    QElapsedTimer clock;
    clock.start();
    QByteArray line;
    if (!readLine(xwin, line, clock, 30000)) {
        xwin.kill();
        xwin.waitForFinished(2000);
        return -1;
    }
    clock.restart();  // the window is mapped
    const std::uint32_t id = line.toUInt();
    if (shown) shown(id);
    const QByteArray closed = "closed " + QByteArray::number(id);
    double result = -1;
    while (readLine(xwin, line, clock, kCloseTimeoutMs)) {
        if (line == closed) {
            result = clock.nsecsElapsed() / 1e6;
            break;
        }
    }
    if (!xwin.waitForFinished(2000)) {
        xwin.kill();
        xwin.waitForFinished(2000);
    }
    return result;
}

struct Stats {
    int runs = 0;
    int missed = 0;  // not closed within the timeout
    std::vector<double> ms;

    double percentile(double q) const {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t rank = std::size_t(std::ceil(q * double(sorted.size())));
        return sorted[std::min(sorted.size() - 1, rank == 0 ? 0 : rank - 1)];
    }
};

void report(const char* name, const Stats& s) {
    if (s.ms.empty()) {
        std::printf("%-36s %6d %6d %9s %9s %9s %9s\n", name, s.runs, s.missed, "-", "-", "-", "-");
    } else {
        std::printf("%-36s %6d %6d %9.1f %9.1f %9.1f %9.1f\n", name, s.runs, s.missed,
                    *std::min_element(s.ms.begin(), s.ms.end()), s.percentile(0.50), s.percentile(0.95),
                    *std::max_element(s.ms.begin(), s.ms.end()));
    }
    std::fflush(stdout);
}

void pause(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, std::max<qint64>(1, ms - clock.elapsed()));
}

Stats series(const char* name, int count, std::mt19937& random, const QString& titlePattern,
             const std::function<void(std::uint32_t)>& shown) {
    std::uniform_int_distribution<int> delay(50, 250);
    Stats stats;
    for (int i = 1; i <= count; ++i) {
        pause(delay(random));
        const double ms = onScreenMs(titlePattern.arg(i), shown);
        ++stats.runs;
        if (ms < 0) ++stats.missed;
        else stats.ms.push_back(ms);
    }
    report(name, stats);
    return stats;
}

}  // namespace

int main(int argc, char** argv) {
    int popups = 50;
    int floorRuns = 20;
    int windows = 200;
    unsigned seed = 20240607;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--popups")) popups = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--floor")) floorRuns = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--windows")) windows = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seed")) seed = unsigned(std::strtoul(argv[i + 1], nullptr, 10));
    }
    if (popups < 1 || floorRuns < 0 || windows < 0) {
        std::fprintf(stderr, "usage: popup_latency_bench [--popups N] [--floor N] [--windows N] [--seed N]\n");
        return 2;
    }
    XSession session(XSession::WindowManager::Openbox);
    if (!session.ok()) {
        std::fprintf(stderr, "could not start Xvfb with openbox\n");
        return 1;
    }
    session.exportForQt();
    QApplication app(argc, argv);

    // The background: windows whose titles never match, all mapped before anything else.
    QProcess background;
    if (windows > 0) {
        background.start(QStringLiteral(TARNWICK_BINARY_DIR "/xwin"),
                         {"--title", "Page %d - Another Browser", "--count", QString::number(windows)});
        QElapsedTimer clock;
        clock.start();
        int ids = 0;
        QByteArray line;
        while (ids < windows && readLine(background, line, clock, 120000)) ++ids;
        if (ids < windows) {
            std::fprintf(stderr, "only %d of %d background windows appeared\n", ids, windows);
            return 1;
        }
    }

    DirectCloser closer;
    if (!closer.ok()) {
        std::fprintf(stderr, "no X connection for the direct close\n");
        return 1;
    }

    std::mt19937 random(seed);
    std::printf("Time on screen, mapped -> close request received, %d background windows (ms), seed %u\n", windows,
                seed);
    std::printf("%-36s %6s %6s %9s %9s %9s %9s\n", "Case", "runs", "missed", "min", "p50", "p95", "max");
    std::printf("%s\n", std::string(90, '-').c_str());
    // The same program twice: with the early sweep, and with the tick alone.
    bool ok = true;
    for (const bool early : {true, false}) {
        TarnwickProcess program;
        program.setIni("[Tarnwick]\r\nDefaultURL=about:blank\r\n");
        if (!early) program.setEnv(QStringLiteral("TARNWICK_EARLY_SWEEP"), QStringLiteral("0"));
        if (!program.start()) {
            std::fprintf(stderr, "%s\n", qPrintable(program.error()));
            return 1;
        }
        if (!program.waitForMainWindow(60000)) {
            std::fprintf(stderr, "no main window; log:\n%s\n", program.log().constData());
            return 1;
        }
        pause(3000);  // start-up settles
        const Stats swept = series(early ? "Popup/foreign/early sweep" : "Popup/foreign/tick only", popups, random,
                                   QStringLiteral("Popup %1 - Microsoft Internet Explorer"), nullptr);
        if (!program.running()) std::fprintf(stderr, "the program ended during the run\n");
        ok = ok && program.running() && swept.missed == 0;
    }
    std::printf("%-36s %6s %6s %9s %9d %9d %9s\n", "Reference/tick bound", "-", "-", "-", kTickMs, kTickMs, "-");
    // Nothing sweeps now: only the request sent from here closes these.
    series("Floor/wmctrl -ic", floorRuns, random, QStringLiteral("Popup %1 - Another Browser"), [](std::uint32_t id) {
        // Not waited for: the "closed" line is read as soon as it comes.
        QProcess::startDetached(QStringLiteral("wmctrl"), {QStringLiteral("-ic"), QString::number(id)});
    });
    series("Floor/WM_DELETE_WINDOW direct", floorRuns, random, QStringLiteral("Popup %1 - Another Browser"),
           [&closer](std::uint32_t id) { closer.close(id); });
    std::printf("Target: Popup/foreign/early sweep p95 <= 15 ms, none missed in either mode\n");

    background.terminate();
    background.waitForFinished(5000);
    return ok ? 0 : 1;
}
