#include "x_session.h"

#include "proc_tree.h"
#include "test_env.h"
#include "wait.h"
#include "x_client.h"

#include <xcb/xcb.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <grp.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t spawn(const char* const argv[], const QByteArray& display, int keepFd) {
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        if (!display.isEmpty()) setenv("DISPLAY", display.constData(), 1);
        int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            dup2(devnull, 0);
            dup2(devnull, 1);
            dup2(devnull, 2);
        }
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != keepFd) close(fd);
        execvp(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    return pid;
}

void stop(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (!waitUntil([pid] { return waitpid(pid, nullptr, WNOHANG) == pid; }, 2000)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

// True once the window manager manages new windows: a probe window, mapped, gets
// WM_STATE. The window manager announces itself (_NET_SUPPORTING_WM_CHECK) before it has
// finished starting, and a window mapped in between can be left unmanaged for good.
bool windowManagerManages(const QString& display, int timeoutMs) {
    XClient c(display);
    const auto check = c.cards(c.root(), "_NET_SUPPORTING_WM_CHECK");
    if (!c.ok() || !check || check->empty()) return false;
    const std::uint32_t probe = c.createWindow(10, 10);
    c.map(probe);
    const bool managed = waitUntil([&] { return !c.ok() || c.cards(probe, "WM_STATE"); }, timeoutMs) && c.ok();
    c.destroy(probe);
    // Drop the probe's events; the destruction reaches the server with this round trip.
    c.exists(probe);
    return managed;
}

}  // namespace

XSession::XSession(WindowManager wm, int width, int height) {
    int fds[2];
    if (pipe(fds) != 0) return;
    const QByteArray fdArg = QByteArray::number(fds[1]);
    const QByteArray screen = QByteArray::number(width) + "x" + QByteArray::number(height) + "x24";
    const char* argv[] = {"Xvfb", "-displayfd", fdArg.constData(), "-screen", "0", screen.constData(),
                          "-nolisten", "tcp", "-noreset", nullptr};
    xvfb_ = spawn(argv, QByteArray(), fds[1]);
    close(fds[1]);

    QByteArray number;
    bool done = false;
    waitUntil(
        [&] {
            pollfd p{fds[0], POLLIN, 0};
            char ch = 0;
            while (!done && poll(&p, 1, 0) > 0) {
                done = read(fds[0], &ch, 1) <= 0 || ch == '\n';
                if (!done) number.append(ch);
            }
            return done;
        },
        20000);
    close(fds[0]);
    if (number.isEmpty()) {
        stop(xvfb_);
        return;
    }
    display_ = QStringLiteral(":") + QString::fromLatin1(number);

    if (wm == WindowManager::Openbox) {
        const char* wmArgv[] = {"openbox", "--sm-disable", nullptr};
        wm_ = spawn(wmArgv, display_.toLatin1(), -1);
        if (!waitUntil([this] { return windowManagerManages(display_, 1000); }, 20000)) return;
    }
    ok_ = true;
}

XSession::~XSession() {
    stop(wm_);
    stop(xvfb_);
}

void XSession::exportDisplay() const { qputenv("DISPLAY", display_.toLatin1()); }

void XSession::exportForQt() const {
    exportDisplay();
    qputenv("QT_QPA_PLATFORM", "xcb");
    testenv::exportEngineDefaults();
}

// ---------------------------------------------------------------------------------

namespace {

constexpr uid_t kNobody = 65534;

// Adds the local user root to the hosts Xwayland lets in, connecting as nobody, whom it
// lets in as the user who started it. Runs in a child process of its own.
bool letRootIn(const QByteArray& display) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(1);
        xcb_connection_t* c = xcb_connect(display.constData(), nullptr);
        if (xcb_connection_has_error(c)) _exit(1);
        const char host[] = "localuser\0root";
        xcb_generic_error_t* error = xcb_request_check(
            c, xcb_change_hosts_checked(c, XCB_HOST_MODE_INSERT, XCB_FAMILY_SERVER_INTERPRETED, sizeof host - 1,
                                  reinterpret_cast<const std::uint8_t*>(host)));
        _exit(error ? 1 : 0);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

SwaySession::SwaySession() {
    if (!dir_.isValid()) return;
    const bool root = geteuid() == 0;
    const QString runtime = dir_.filePath(QStringLiteral("runtime"));
    const QString config = dir_.filePath(QStringLiteral("config"));
    const QString ready = runtime + QStringLiteral("/ready");
    QDir().mkpath(runtime);
    QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                           QFileDevice::ReadOther | QFileDevice::ExeOther);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (root && chown(QFile::encodeName(runtime).constData(), kNobody, kNobody) != 0) return;
    {
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) return;
        // The socket and Xwayland's display, written once both exist.
        file.write("xwayland force\n"
                   "for_window [title=\".*\"] floating enable\n"
                   "exec sh -c 'printf \"%s %s\" \"$WAYLAND_DISPLAY\" \"$DISPLAY\" > \"$XDG_RUNTIME_DIR/ready.tmp\" && "
                   "mv \"$XDG_RUNTIME_DIR/ready.tmp\" \"$XDG_RUNTIME_DIR/ready\"'\n");
    }
    QFile::setPermissions(config, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);

    const QByteArray runtimeVar = "XDG_RUNTIME_DIR=" + QFile::encodeName(runtime);
    const QByteArray homeVar = "HOME=" + QFile::encodeName(runtime);
    const QByteArray configArg = QFile::encodeName(config);
    std::vector<const char*> argv{"env", "-i", "PATH=/usr/sbin:/usr/bin:/sbin:/bin", runtimeVar.constData(),
                                  homeVar.constData(), "WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1",
                                  "WLR_RENDERER=pixman"};
    if (root) argv.insert(argv.end(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    argv.insert(argv.end(), {"sway", "-c", configArg.constData(), nullptr});
    sway_ = spawn(argv.data(), QByteArray(), -1);

    QByteArray names;
    waitUntil(
        [&] {
            QFile file(ready);
            if (file.open(QIODevice::ReadOnly)) names = file.readAll();
            return !names.isEmpty();
        },
        20000);
    const QList<QByteArray> parts = names.split(' ');
    if (parts.size() != 2 || parts[0].isEmpty() || parts[1].isEmpty()) return;
    wayland_ = runtime + QLatin1Char('/') + QString::fromLocal8Bit(parts[0]);
    display_ = QString::fromLocal8Bit(parts[1]);
    ok_ = !root || letRootIn(parts[1]);
}

SwaySession::~SwaySession() {
    if (exported_) {
        const auto restore = [](const char* name, const std::optional<QByteArray>& value) {
            if (value) qputenv(name, *value);
            else qunsetenv(name);
        };
        restore("DISPLAY", savedDisplay_);
        restore("WAYLAND_DISPLAY", savedWayland_);
    }
    stop(sway_);
}

QString SwaySession::ipcSocket() const {
    const QStringList sockets =
        QDir(dir_.filePath(QStringLiteral("runtime"))).entryList({QStringLiteral("sway-ipc.*.sock")}, QDir::System);
    return sockets.isEmpty() ? QString() : dir_.filePath(QStringLiteral("runtime/") + sockets.first());
}

void SwaySession::exportForClients() {
    if (!exported_) {
        const auto save = [](const char* name) {
            return qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt;
        };
        savedDisplay_ = save("DISPLAY");
        savedWayland_ = save("WAYLAND_DISPLAY");
        exported_ = true;
    }
    qputenv("DISPLAY", display_.toLocal8Bit());
    qputenv("WAYLAND_DISPLAY", wayland_.toLocal8Bit());
}

namespace {

// Waits (at most `timeoutMs`) until the processes `roots` and their descendants used at
// most 10 ms of CPU in one second.
bool waitProcessesQuiet(const std::vector<pid_t>& roots, int timeoutMs) {
    const auto ticks = [&roots] {
        unsigned long long sum = 0;
        for (pid_t root : roots)
            if (root > 0)
                for (const ProcStat& p : processTree(root)) sum += p.cpuTicks;
        return sum;
    };
    const long perSecond = sysconf(_SC_CLK_TCK);
    unsigned long long before = ticks();
    for (int waited = 0; waited < timeoutMs; waited += 1000) {
        settle(1000);
        const unsigned long long now = ticks();
        if ((now - before) * 100 <= static_cast<unsigned long long>(perSecond)) return true;
        before = now;
    }
    return false;
}

}  // namespace

bool XSession::waitQuiet(int timeoutMs) const { return ok_ && waitProcessesQuiet({xvfb_, wm_}, timeoutMs); }

bool SwaySession::waitQuiet(int timeoutMs) const { return ok_ && waitProcessesQuiet({sway_}, timeoutMs); }
