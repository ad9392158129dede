#include "platform/wayland/wayland_desktop_windows.h"

#include <wayland-client.h>

#include "platform/desktop/change_log.h"
#include "platform/system/log.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QWindow>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

namespace {

// The highest version of the protocol whose events the adapter takes.
constexpr std::uint32_t kProtocolVersion = 3;

// The adapter's own window ids carry this bit, which no X11 window id has.
constexpr WindowId kOwnIdBit = 0x80000000u;

// Whether `appId` is one this program's windows carry: on XWayland the WM_CLASS class
// Qt gives them (the application's name), natively the desktop file's name or, without
// one, the binary's.
bool isOwnAppId(const QString& appId) {
    if (appId.isEmpty() || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
    QString desktopName = QGuiApplication::desktopFileName();
    if (desktopName.endsWith(QLatin1String(".desktop"))) desktopName.chop(8);
    return appId == QCoreApplication::applicationName() || (!desktopName.isEmpty() && appId == desktopName) ||
           appId == QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

}  // namespace

// One toplevel the compositor announced. Its title and app id change as a whole when the
// compositor says its description is done.
struct WaylandDesktopWindows::Toplevel {
    WaylandDesktopWindows* owner = nullptr;
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    WindowId id = 0;         // as the sweep knows it now
    WindowId announced = 0;  // the adapter's own id, answered as long as the toplevel lives
    QString title;
    QString appId;
    QString nextTitle;
    QString nextAppId;
    bool described = false;  // listed: its first description is done
    bool own = false;        // one of this program's windows: `window`
    QPointer<QWindow> window;
    bool eligible = false;   // last judged one the sweep closes
    bool shown = true;       // an own window: visible when last looked at (Revision)
    std::size_t position = 0;  // in Connection::order while described
};

// The connection, the protocol's objects and the mirror they feed.
struct WaylandDesktopWindows::Connection {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    zwlr_foreign_toplevel_manager_v1* manager = nullptr;
    bool alive = false;
    std::uint64_t roundTrips = 0;
    std::unique_ptr<QSocketNotifier> readable;
    std::unique_ptr<QSocketNotifier> writable;  // while requests wait for room in the socket

    std::vector<std::unique_ptr<Toplevel>> toplevels;  // every announced toplevel
    std::vector<Toplevel*> order;                      // the described ones, oldest first
    std::unordered_map<WindowId, Toplevel*> byId;      // both ids of each described toplevel
    std::vector<WindowId> eligibleNow;                 // became closable since the last report
    std::vector<Toplevel*> own;                        // the described ones that are the program's
    ChangeLog changes;  // the list's changes, and each retitle since the last of them
    WindowId lastId = 0;

    WindowId newId() {
        lastId = (lastId + 1) & ~kOwnIdBit;
        if (lastId == 0) lastId = 1;
        return lastId | kOwnIdBit;
    }

    // ---- the protocol's events ----

    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                         std::uint32_t version) {
        auto* self = static_cast<WaylandDesktopWindows*>(data);
        Connection& wl = *self->wl_;
        if (wl.manager || std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) != 0) return;
        wl.manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
            registry, name, &zwlr_foreign_toplevel_manager_v1_interface, std::min(version, kProtocolVersion)));
        zwlr_foreign_toplevel_manager_v1_add_listener(wl.manager, &kManagerListener, self);
    }
    static void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

    static void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle) {
        auto* self = static_cast<WaylandDesktopWindows*>(data);
        auto toplevel = std::make_unique<Toplevel>();
        toplevel->owner = self;
        toplevel->handle = handle;
        toplevel->announced = toplevel->id = self->wl_->newId();
        zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kHandleListener, toplevel.get());
        self->wl_->toplevels.push_back(std::move(toplevel));
    }
    static void onFinished(void* data, zwlr_foreign_toplevel_manager_v1* manager) {
        auto* self = static_cast<WaylandDesktopWindows*>(data);
        qCDebug(lcWayland) << "the compositor stopped listing its toplevels";
        zwlr_foreign_toplevel_manager_v1_destroy(manager);
        self->wl_->manager = nullptr;
        self->forgetAll();
    }

    static void onTitle(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
        static_cast<Toplevel*>(data)->nextTitle = QString::fromUtf8(title ? title : "");
    }
    static void onAppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
        static_cast<Toplevel*>(data)->nextAppId = QString::fromUtf8(appId ? appId : "");
    }
    static void onOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    // Minimised, maximised, active and full-screen toplevels are all visible windows.
    static void onState(void*, zwlr_foreign_toplevel_handle_v1*, wl_array*) {}
    static void onDone(void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* toplevel = static_cast<Toplevel*>(data);
        toplevel->owner->described(*toplevel);
    }
    static void onClosed(void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* toplevel = static_cast<Toplevel*>(data);
        toplevel->owner->forget(*toplevel);
    }
    static void onParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

    static constexpr wl_registry_listener kRegistryListener{onGlobal, onGlobalRemove};
    static constexpr zwlr_foreign_toplevel_manager_v1_listener kManagerListener{onToplevel, onFinished};
    static constexpr zwlr_foreign_toplevel_handle_v1_listener kHandleListener{
        onTitle, onAppId, onOutput, onOutput, onState, onDone, onClosed, onParent};
};

WaylandDesktopWindows::WaylandDesktopWindows(const QString& display) : wl_(std::make_unique<Connection>()) {
    const QByteArray name = display.toLocal8Bit();
    wl_->display = wl_display_connect(name.isEmpty() ? nullptr : name.constData());
    if (!wl_->display) {
        qCDebug(lcWayland) << "no Wayland compositor at" << (name.isEmpty() ? qgetenv("WAYLAND_DISPLAY") : name);
        return;
    }
    wl_->registry = wl_display_get_registry(wl_->display);
    wl_registry_add_listener(wl_->registry, &Connection::kRegistryListener, this);
    // The globals, then the toplevels the compositor shows already.
    for (int i = 0; i < 2; ++i) {
        ++wl_->roundTrips;
        if (wl_display_roundtrip(wl_->display) < 0 || !wl_->manager) {
            if (!wl_->manager) qCDebug(lcWayland) << "the compositor offers no zwlr_foreign_toplevel_manager_v1";
            else qCDebug(lcWayland) << "connection to the compositor broken at start";
            return;
        }
    }
    wl_->alive = true;
    if (QCoreApplication::instance()) {
        const int fd = wl_display_get_fd(wl_->display);
        wl_->readable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(wl_->readable.get(), &QSocketNotifier::activated, wl_->readable.get(),
                         [this] { readEvents(); });
        wl_->writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        wl_->writable->setEnabled(false);
        QObject::connect(wl_->writable.get(), &QSocketNotifier::activated, wl_->writable.get(), [this] { flush(); });
    }
}

WaylandDesktopWindows::~WaylandDesktopWindows() {
    wl_->readable.reset();
    wl_->writable.reset();
    for (const auto& toplevel : wl_->toplevels) zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle);
    if (wl_->manager) {
        zwlr_foreign_toplevel_manager_v1_stop(wl_->manager);
        zwlr_foreign_toplevel_manager_v1_destroy(wl_->manager);
    }
    if (wl_->registry) wl_registry_destroy(wl_->registry);
    if (wl_->display) {
        wl_display_flush(wl_->display);
        wl_display_disconnect(wl_->display);
    }
}

bool WaylandDesktopWindows::ok() const { return wl_->alive && wl_->manager; }

std::uint64_t WaylandDesktopWindows::roundTrips() const { return wl_->roundTrips; }

// The compositor has something to say: read it without blocking, hand every event to its
// listener, and report the windows that became closable.
void WaylandDesktopWindows::readEvents() {
    wl_display* display = wl_->display;
    bool broken = false;
    while (!broken && wl_display_prepare_read(display) != 0) broken = wl_display_dispatch_pending(display) < 0;
    if (!broken) {
        wl_display_flush(display);
        broken = wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0;
    }
    if (broken || wl_display_get_error(display) != 0) {
        qCDebug(lcWayland) << "connection to the compositor broken:" << std::strerror(wl_display_get_error(display));
        wl_->alive = false;
        wl_->readable->setEnabled(false);
        wl_->writable->setEnabled(false);
        forgetAll();
        return;
    }
    report();
}

// Sends what waits; when the socket is full, the rest goes once it has room.
void WaylandDesktopWindows::flush() {
    if (!wl_->alive) return;
    const bool full = wl_display_flush(wl_->display) < 0 && errno == EAGAIN;
    if (wl_->writable) wl_->writable->setEnabled(full);
}

void WaylandDesktopWindows::described(Toplevel& toplevel) {
    const bool retitled = toplevel.title != toplevel.nextTitle;
    toplevel.title = toplevel.nextTitle;
    toplevel.appId = toplevel.nextAppId;
    if (!toplevel.described) {
        toplevel.described = true;
        toplevel.position = wl_->order.size();
        wl_->order.push_back(&toplevel);
        wl_->byId[toplevel.id] = &toplevel;
        wl_->changes.orderChanged();
    } else if (retitled) {
        wl_->changes.windowChanged(toplevel.id, wl_->order.size());
    }
    identifyOwn(toplevel);
    // Every listed toplevel is shown and bordered.
    const bool now = watchesEligible() &&
                     eligibleRule().closable(WindowStyle::Visible | WindowStyle::Border, toplevel.title);
    if (now && !toplevel.eligible) wl_->eligibleNow.push_back(toplevel.id);
    toplevel.eligible = now;
}

// A toplevel with this program's app id and the title of one of its shown top-level
// windows is that window, for as long as it lives; a window not yet claimed by another
// toplevel is chosen first (two windows may share a title).
void WaylandDesktopWindows::identifyOwn(Toplevel& toplevel) {
    if (toplevel.own || !isOwnAppId(toplevel.appId)) return;
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (!window->handle() || !window->isVisible() || window->title() != toplevel.title) continue;
        const WindowId id = WindowId(window->winId());
        if (id == 0 || wl_->byId.count(id)) continue;
        toplevel.own = true;
        toplevel.window = window;
        toplevel.id = id;
        wl_->byId[id] = &toplevel;
        wl_->own.push_back(&toplevel);
        wl_->changes.orderChanged();  // the walk answers another id there
        qCDebug(lcWayland) << "toplevel" << toplevel.announced << "is the program's own window" << id
                           << toplevel.title;
        return;
    }
}

void WaylandDesktopWindows::forget(Toplevel& toplevel) {
    if (toplevel.described) {
        wl_->order.erase(wl_->order.begin() + std::ptrdiff_t(toplevel.position));
        for (std::size_t i = toplevel.position; i < wl_->order.size(); ++i) wl_->order[i]->position = i;
        wl_->byId.erase(toplevel.announced);
        if (toplevel.own) wl_->byId.erase(toplevel.id);
        std::erase(wl_->own, &toplevel);
        wl_->changes.orderChanged();
    }
    zwlr_foreign_toplevel_handle_v1_destroy(toplevel.handle);
    auto& all = wl_->toplevels;
    all.erase(std::find_if(all.begin(), all.end(), [&](const auto& t) { return t.get() == &toplevel; }));
}

void WaylandDesktopWindows::forgetAll() {
    for (const auto& toplevel : wl_->toplevels) zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle);
    wl_->toplevels.clear();
    wl_->order.clear();
    wl_->byId.clear();
    wl_->eligibleNow.clear();
    wl_->own.clear();
    wl_->changes.orderChanged();
}

// The program's own windows are visible as long as they are shown here, which no event
// tells: each is looked at now.
std::uint64_t WaylandDesktopWindows::Revision() {
    for (Toplevel* toplevel : wl_->own) {
        const bool shown = toplevel->window && toplevel->window->isVisible();
        if (shown == toplevel->shown) continue;
        toplevel->shown = shown;
        wl_->changes.windowChanged(toplevel->id, wl_->order.size());
    }
    return wl_->changes.revision();
}

bool WaylandDesktopWindows::ChangedSince(std::uint64_t since, std::vector<WindowId>& changed) {
    // Walk order: newest first.
    const auto position = [this](WindowId w) {
        const Toplevel* toplevel = find(w);
        return toplevel ? toplevel->position : 0;
    };
    return wl_->changes.changedSince(since, changed, [&](WindowId a, WindowId b) { return position(a) > position(b); });
}

void WaylandDesktopWindows::report() {
    std::vector<WindowId> windows;
    windows.swap(wl_->eligibleNow);
    for (WindowId window : windows) {
        const Toplevel* toplevel = find(window);
        if (toplevel && toplevel->eligible) reportEligible(toplevel->id);
    }
}

WaylandDesktopWindows::Toplevel* WaylandDesktopWindows::find(WindowId window) const {
    auto it = wl_->byId.find(window);
    return it == wl_->byId.end() ? nullptr : it->second;
}

WindowId WaylandDesktopWindows::FirstWindow() { return wl_->order.empty() ? 0 : wl_->order.back()->id; }

WindowId WaylandDesktopWindows::NextWindow(WindowId window) {
    const Toplevel* toplevel = find(window);
    if (!toplevel || toplevel->position == 0) return 0;
    return wl_->order[toplevel->position - 1]->id;
}

// The program's own windows are shown as long as they are shown here: one it has just
// hidden or closed leaves the walk at once, before the compositor has heard of it.
std::uint32_t WaylandDesktopWindows::Style(WindowId window) {
    const Toplevel* toplevel = find(window);
    if (!toplevel || (toplevel->own && !(toplevel->window && toplevel->window->isVisible()))) return 0;
    return WindowStyle::Visible | WindowStyle::Border;
}

QString WaylandDesktopWindows::Program(WindowId window) {
    const Toplevel* toplevel = find(window);
    return toplevel ? toplevel->appId : QString();
}

const QString* WaylandDesktopWindows::heldTitle(WindowId window) {
    const Toplevel* toplevel = find(window);
    return toplevel ? &toplevel->title : nullptr;
}

// A window of this very process gets the close event its close request would have
// become, from the event loop, without the trip through the compositor and Xwayland.
bool WaylandDesktopWindows::RequestClose(WindowId window) {
    Toplevel* toplevel = find(window);
    if (!toplevel || !ok()) return false;
    if (toplevel->own) {
        if (!toplevel->window) return false;
        QMetaObject::invokeMethod(
            toplevel->window, [own = toplevel->window] { if (own) own->close(); }, Qt::QueuedConnection);
        return true;
    }
    qCDebug(lcWayland) << "close request to toplevel" << toplevel->announced << toplevel->title;
    zwlr_foreign_toplevel_handle_v1_close(toplevel->handle);
    flush();
    return wl_->alive;
}
