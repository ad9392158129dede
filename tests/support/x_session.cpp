#include "x_session.h"

#include <xcb/xcb.h>

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <grp.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
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
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        QThread::msleep(20);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

bool windowManagerRunning(const QByteArray& display) {
    xcb_connection_t* c = xcb_connect(display.constData(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    bool running = false;
    if (atom) {
        xcb_get_property_reply_t* prop = xcb_get_property_reply(
            c, xcb_get_property(c, 0, screen->root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
        running = prop && xcb_get_property_value_length(prop) == 4;
        free(prop);
        free(atom);
    }
    xcb_disconnect(c);
    return running;
}

// True once the window manager manages new windows: a probe window, mapped, gets
// WM_STATE. The window manager announces itself (_NET_SUPPORTING_WM_CHECK) before it has
// finished starting, and a window mapped in between can be left unmanaged for good.
bool windowManagerManages(const QByteArray& display, int timeoutMs) {
    xcb_connection_t* c = xcb_connect(display.constData(), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const char name[] = "WM_STATE";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    const xcb_atom_t wmState = atom ? atom->atom : XCB_NONE;
    free(atom);
    const xcb_window_t probe = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, screen->root, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, 0, nullptr);
    xcb_map_window(c, probe);
    xcb_flush(c);
    bool managed = false;
    QElapsedTimer clock;
    clock.start();
    while (!managed && clock.elapsed() < timeoutMs && !xcb_connection_has_error(c)) {
        xcb_get_property_reply_t* prop = xcb_get_property_reply(
            c, xcb_get_property(c, 0, probe, wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 2), nullptr);
        managed = prop && prop->type != XCB_NONE;
        free(prop);
        if (!managed) QThread::msleep(20);
    }
    xcb_destroy_window(c, probe);
    xcb_flush(c);
    // Drop the probe's events; the destruction reaches the server with this round trip.
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
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
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20000) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 200) > 0) {
            char ch;
            ssize_t n = read(fds[0], &ch, 1);
            if (n <= 0) break;
            if (ch == '\n') break;
            number.append(ch);
        }
    }
    close(fds[0]);
    if (number.isEmpty()) {
        stop(xvfb_);
        return;
    }
    display_ = QStringLiteral(":") + QString::fromLatin1(number);

    if (wm == WindowManager::Openbox) {
        const QByteArray display = display_.toLatin1();
        const char* wmArgv[] = {"openbox", "--sm-disable", nullptr};
        wm_ = spawn(wmArgv, display, -1);
        clock.restart();
        while (!windowManagerRunning(display) || !windowManagerManages(display, 1000)) {
            if (clock.elapsed() > 20000) return;
            QThread::msleep(50);
        }
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
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-first-run --disable-background-networking");
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

    QElapsedTimer clock;
    clock.start();
    QByteArray names;
    while (clock.elapsed() < 20000 && names.isEmpty()) {
        QThread::msleep(50);
        QFile file(ready);
        if (file.open(QIODevice::ReadOnly)) names = file.readAll();
    }
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
