#include "platform/x11/x11_desktop_windows.h"

#include <sys/socket.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/system/log.h"
#include "platform/x11/retitle_storm.h"
#include "platform/x11/window_mirror.h"
#include "platform/x11/x11_connection.h"

using x11::Client;

namespace {

// Two sockets connected to the same address: the same X server.
bool sameServer(int one, int other) {
    sockaddr_storage a{};
    sockaddr_storage b{};
    socklen_t aSize = sizeof a;
    socklen_t bSize = sizeof b;
    return getpeername(one, reinterpret_cast<sockaddr*>(&a), &aSize) == 0 &&
           getpeername(other, reinterpret_cast<sockaddr*>(&b), &bSize) == 0 && aSize == bSize &&
           aSize <= sizeof a && std::memcmp(&a, &b, aSize) == 0;
}

// Windows read in one batch when the reads come from events: a batch the X server
// answers in about a millisecond, taken in one turn of the event loop. The rest follow in
// the next turns.
constexpr std::size_t kSliceWindows = 128;

}  // namespace

X11DesktopWindows::X11DesktopWindows(const QString& display)
    : x_(std::make_unique<x11::Connection>()), mirror_(std::make_unique<x11::WindowMirror>(*x_)) {
    if (!x_->open(display)) return;
    if (QCoreApplication::instance()) {
        notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(x_->c()), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { refreshFromEvents(); });
        // Polled windows are read at each walk; this reads them when no walk comes.
        pollTimer_ = std::make_unique<QTimer>();
        pollTimer_->setSingleShot(true);
        pollTimer_->setInterval(x11::RetitleStorm::kPollMs);
        QObject::connect(pollTimer_.get(), &QTimer::timeout, pollTimer_.get(), [this] {
            pollNow();
            refreshFromEvents();
        });
    }
    // Nothing is read yet: the window manager, the order and the windows are asked for
    // from the event loop, a few batches at a time, their replies taken as they come. The
    // program's windows are made first, and its start waits neither for a crowded desktop
    // nor for the X server (which has every window of the screen to visit when a client
    // starts listening to the root). The first walk takes whatever is left.
    refreshSoon();
}

X11DesktopWindows::~X11DesktopWindows() = default;

// The X server has something to say: bring the mirror up to date and report windows that
// became closable.
void X11DesktopWindows::refreshFromEvents() {
    mirror_->rule = watchesEligible() ? &eligibleRule() : nullptr;
    mirror_->refreshInBackground(kSliceWindows);
    checkAlive();
    report();
    refreshSoon();  // the next batch answered, or windows beyond those in flight
    if (pollTimer_ && mirror_->polling() && !pollTimer_->isActive()) pollTimer_->start();
}

void X11DesktopWindows::pollNow() {
    if (mirror_->poll() && pollTimer_) pollTimer_->start();
}

void X11DesktopWindows::report() {
    std::vector<WindowId> windows;
    windows.swap(mirror_->eligibleNow);
    for (WindowId window : windows) {
        const Client* c = mirror_->client(window);
        if (c && c->eligible) reportEligible(window);
    }
}

// Events handled within a call of the interface have left the socket, so the notifier
// will not bring them back: their reading and their reports wait for the event loop.
void X11DesktopWindows::refreshSoon() {
    if (refreshQueued_ || !notifier_ || !x_->alive()) return;
    const bool read = mirror_->needsRead();  // first: it may handle events
    if (!read && mirror_->eligibleNow.empty()) return;
    refreshQueued_ = true;
    QMetaObject::invokeMethod(
        notifier_.get(),
        [this] {
            refreshQueued_ = false;
            refreshFromEvents();
        },
        Qt::QueuedConnection);
}

// A broken connection stays broken: its socket no longer wakes anyone.
bool X11DesktopWindows::checkAlive() {
    const bool alive = mirror_->checkAlive();
    if (!alive && notifier_) notifier_->setEnabled(false);
    return alive;
}

std::uint64_t X11DesktopWindows::Revision() { return mirror_->revision(); }

bool X11DesktopWindows::ChangedSince(std::uint64_t since, std::vector<WindowId>& changed) {
    return mirror_->changedSince(since, changed);
}

bool X11DesktopWindows::ok() const { return x_->alive() && !xcb_connection_has_error(x_->c()); }

bool X11DesktopWindows::hasWindowManager() {
    mirror_->findWindowManager();
    refreshSoon();  // the order, and events the wait read off the socket
    return x_->alive() && mirror_->ewmh();
}

std::uint64_t X11DesktopWindows::roundTrips() const { return x_->roundTrips(); }

std::uint64_t X11DesktopWindows::staleReads() const { return mirror_->staleReads(); }

WindowId X11DesktopWindows::FirstWindow() {
    mirror_->rule = watchesEligible() ? &eligibleRule() : nullptr;
    pollNow();
    mirror_->refresh();
    checkAlive();
    refreshSoon();
    return mirror_->order().empty() ? 0 : mirror_->order().front();
}

WindowId X11DesktopWindows::NextWindow(WindowId window) {
    mirror_->drainRead();
    refreshSoon();
    return mirror_->next(window);
}

// A window of this very process is visible only while it is shown here: one the program
// has just closed is gone at once, without waiting for the X server to report it (and a
// sweep in the meantime asking and counting it again).
std::uint32_t X11DesktopWindows::Style(WindowId window) {
    const Client* c = mirror_->client(window);
    if (!c) return 0;
    if (isOwn(window)) {
        const QWindow* own = ownWindow(window);
        if (!own || !own->isVisible()) return 0;
    }
    return mirror_->style(*c);
}

// The ids of this process's windows: those the X server hands out to the connection of
// the program's windows, which is not the mirror's, when both talk to the same server.
bool X11DesktopWindows::isOwn(WindowId window) {
    if (!ownIds_) {
        ownIds_ = OwnIds{};
        auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        auto* x11 = gui ? gui->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
        if (connection && x_->alive() && sameServer(xcb_get_file_descriptor(connection), xcb_get_file_descriptor(x_->c()))) {
            const xcb_setup_t* setup = xcb_get_setup(connection);
            ownIds_ = OwnIds{setup->resource_id_base, setup->resource_id_mask};
        }
    }
    return ownIds_->mask != 0 && (window & ~ownIds_->mask) == ownIds_->base;
}

QWindow* X11DesktopWindows::ownWindow(WindowId window) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return nullptr;
    for (QWindow* own : QGuiApplication::topLevelWindows())
        if (own->handle() && WindowId(own->winId()) == window) return own;
    return nullptr;
}

const QString* X11DesktopWindows::heldTitle(WindowId window) {
    const Client* c = mirror_->client(window);
    return c ? &c->title() : nullptr;
}

// The mirror as it stands, with the replies already in: a new walk from FirstWindow would
// read again windows that retitle themselves in a storm.
WindowId X11DesktopWindows::FindByTitle(const QString& title) {
    mirror_->drainRead();
    refreshSoon();
    for (WindowId window : mirror_->order()) {
        const Client* c = mirror_->client(window);
        if (c && c->title() == title) return window;
    }
    return 0;
}

QString X11DesktopWindows::Program(WindowId window) {
    if (!checkAlive() || window == 0) return QString();
    const x11::Property wmClass = x_->readProperty(window, XCB_ATOM_WM_CLASS);
    const x11::Property pid = wmClass.gone ? x11::Property() : x_->readProperty(window, (*x_)[x11::_NET_WM_PID]);
    refreshSoon();  // the waits may have read replies and events off the socket
    // "instance\0class\0": the class names the program.
    const QList<QByteArray> names = wmClass.bytes.split('\0');
    if (names.size() >= 2 && !names.at(1).isEmpty()) return QString::fromLocal8Bit(names.at(1));
    if (names.size() >= 1 && !names.at(0).isEmpty()) return QString::fromLocal8Bit(names.at(0));
    const std::vector<std::uint32_t> ids = pid.values32();
    if (ids.empty() || ids.front() == 0) return QString();
    QFile comm(QStringLiteral("/proc/%1/comm").arg(ids.front()));
    if (!comm.open(QIODevice::ReadOnly)) return QString();
    return QString::fromLocal8Bit(comm.readLine(256).trimmed());
}

// A window of this very process (the engine's new windows) gets its close request
// straight from here, as a close event from the event loop, the same event the X server's
// WM_DELETE_WINDOW message would have become, without the trip through the server and
// back that waits behind everything else this thread has to do.
bool X11DesktopWindows::closeOwn(WindowId window) {
    QWindow* own = isOwn(window) ? ownWindow(window) : nullptr;
    if (!own) return false;
    QMetaObject::invokeMethod(
        own, [own = QPointer<QWindow>(own)] { if (own) own->close(); }, Qt::QueuedConnection);
    return true;
}

bool X11DesktopWindows::RequestClose(WindowId window) {
    if (!checkAlive() || window == 0) return false;
    bool listsDelete = false;
    if (const Client* c = mirror_->client(window)) {
        listsDelete = c->deleteProtocol;
    } else {
        // Not one of the mirror's windows: ask the server.
        listsDelete = x_->readProperty(window, (*x_)[x11::WM_PROTOCOLS]).contains32((*x_)[x11::WM_DELETE_WINDOW]);
        refreshSoon();  // the wait may have read replies and events off the socket
    }
    if (!listsDelete) {
        qCDebug(lcX11) << "window" << window << "takes no close request";
        return false;
    }
    if (closeOwn(window)) return true;

    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = (*x_)[x11::WM_PROTOCOLS];
    message.data.data32[0] = (*x_)[x11::WM_DELETE_WINDOW];
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(x_->c(), 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    return xcb_flush(x_->c()) > 0 && checkAlive();
}
