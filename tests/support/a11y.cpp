#include <atspi/atspi.h>

#include "a11y.h"

#include <QByteArray>
#include <QProcess>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "wait.h"

namespace a11y {
namespace {

struct Unref {
    void operator()(gpointer object) const { if (object) g_object_unref(object); }
};
using Object = std::unique_ptr<AtspiAccessible, Unref>;

QString takeString(gchar* text) {
    const QString result = text ? QString::fromUtf8(text) : QString();
    g_free(text);
    return result;
}

QString nameOf(AtspiAccessible* node) { return takeString(atspi_accessible_get_name(node, nullptr)); }
AtspiRole roleOf(AtspiAccessible* node) { return atspi_accessible_get_role(node, nullptr); }

QString textOf(AtspiAccessible* node) {
    AtspiText* text = atspi_accessible_get_text_iface(node);
    if (!text) return nameOf(node);
    const QString result = takeString(atspi_text_get_text(text, 0, -1, nullptr));
    g_object_unref(text);
    return result;
}

bool showing(AtspiAccessible* node) {
    AtspiStateSet* states = atspi_accessible_get_state_set(node);
    const bool shown = states && atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
    if (states) g_object_unref(states);
    return shown;
}

QString roleNameOf(AtspiAccessible* node) { return takeString(atspi_accessible_get_role_name(node, nullptr)); }

// The names in a page's tree below `node`, depth first, at most `left` more of them.
void readPage(AtspiAccessible* node, int depth, int& left, QStringList& names) {
    const int count = atspi_accessible_get_child_count(node, nullptr);
    for (int i = 0; i < count && left > 0 && depth < 12; ++i) {
        Object child(atspi_accessible_get_child_at_index(node, i, nullptr));
        if (!child) continue;
        --left;
        const QString name = nameOf(child.get());
        if (!name.isEmpty()) names << name;
        readPage(child.get(), depth + 1, left, names);
    }
}

// Walks the widget tree below `node`, filling `view` from the status bar, the editable
// combo box, the menu bar, the labels showing and (in the main window, `main`) the page.
void walk(AtspiAccessible* node, int depth, bool main, MainWindowView& view) {
    const AtspiRole role = roleOf(node);
    const int count = atspi_accessible_get_child_count(node, nullptr);
    if (role == ATSPI_ROLE_LABEL && showing(node)) view.labels << textOf(node);
    if (role == ATSPI_ROLE_STATUS_BAR || role == ATSPI_ROLE_MENU_BAR) {
        for (int i = 0; i < count; ++i) {
            Object child(atspi_accessible_get_child_at_index(node, i, nullptr));
            if (!child) continue;
            const AtspiRole childRole = roleOf(child.get());
            if (role == ATSPI_ROLE_STATUS_BAR && childRole == ATSPI_ROLE_LABEL)
                view.statusPanels << textOf(child.get());
            else if (role == ATSPI_ROLE_MENU_BAR)
                view.menus << nameOf(child.get());
        }
        return;
    }
    if (role == ATSPI_ROLE_COMBO_BOX) {
        for (int i = 0; i < count; ++i) {
            Object child(atspi_accessible_get_child_at_index(node, i, nullptr));
            if (!child || (roleOf(child.get()) != ATSPI_ROLE_TEXT && roleOf(child.get()) != ATSPI_ROLE_ENTRY))
                continue;
            view.address = textOf(child.get());
            view.addressName = nameOf(child.get());
            AtspiStateSet* states = atspi_accessible_get_state_set(child.get());
            view.addressFocused = states && atspi_state_set_contains(states, ATSPI_STATE_FOCUSED);
            if (states) g_object_unref(states);
        }
        return;
    }
    if (role == ATSPI_ROLE_DOCUMENT_WEB || role == ATSPI_ROLE_DOCUMENT_FRAME) {
        int left = 300;  // a test page's worth; the walk is one D-Bus call per node
        if (main) readPage(node, 0, left, view.page);
        return;
    }
    if (role == ATSPI_ROLE_LABEL || role == ATSPI_ROLE_PUSH_BUTTON) {
        AtspiStateSet* states = atspi_accessible_get_state_set(node);
        const bool showing = states && atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
        if (states) g_object_unref(states);
        AtspiComponent* component = showing ? atspi_accessible_get_component_iface(node) : nullptr;
        if (AtspiRect* rect = component ? atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, nullptr)
                                        : nullptr) {
            view.shown.push_back({textOf(node), rect->x + rect->width / 2, rect->y + rect->height / 2});
            g_free(rect);
        }
        if (component) g_object_unref(component);
        return;
    }
    if (depth >= 6) return;
    for (int i = 0; i < count; ++i) {
        Object child(atspi_accessible_get_child_at_index(node, i, nullptr));
        if (child) walk(child.get(), depth + 1, main, view);
    }
}

void collect(AtspiAccessible* node, const QString& parent, const QString& parentRole, int depth,
             std::vector<Node>& out) {
    Node seen;
    seen.role = takeString(atspi_accessible_get_role_name(node, nullptr));
    seen.text = textOf(node);
    seen.parent = parent;
    seen.parentRole = parentRole;
    if (AtspiComponent* component = atspi_accessible_get_component_iface(node)) {
        if (AtspiRect* rect = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, nullptr)) {
            seen.screen = QRect(rect->x, rect->y, rect->width, rect->height);
            g_free(rect);
        }
        g_object_unref(component);
    }
    if (AtspiStateSet* states = atspi_accessible_get_state_set(node)) {
        seen.showing = atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
        g_object_unref(states);
    }
    const QString name = nameOf(node);
    out.push_back(seen);
    const int count = atspi_accessible_get_child_count(node, nullptr);
    for (int i = 0; i < count && depth < 40 && out.size() < 5000; ++i) {
        Object child(atspi_accessible_get_child_at_index(node, i, nullptr));
        if (child) collect(child.get(), name, seen.role, depth + 1, out);
    }
}

// The program's application node on the bus, or none.
Object application(pid_t pid) {
    if (!start()) return {};
    Object desktop(atspi_get_desktop(0));
    if (!desktop) return {};
    const int apps = atspi_accessible_get_child_count(desktop.get(), nullptr);
    for (int i = 0; i < apps; ++i) {
        Object app(atspi_accessible_get_child_at_index(desktop.get(), i, nullptr));
        if (app && static_cast<pid_t>(atspi_accessible_get_process_id(app.get(), nullptr)) == pid) return app;
    }
    return {};
}

}  // namespace

bool start() {
    static const bool started = [] {
        QProcess bus;
        bus.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--fork"), QStringLiteral("--print-address=1"),
                   QStringLiteral("--print-pid=1")});
        if (!bus.waitForFinished(10000) || bus.exitCode() != 0) {
            std::fprintf(stderr, "dbus-daemon: %s\n", bus.readAllStandardError().constData());
            return false;
        }
        const QList<QByteArray> lines = bus.readAllStandardOutput().trimmed().split('\n');
        if (lines.size() < 2) {
            std::fprintf(stderr, "dbus-daemon printed: %s\n", lines.join(' ').constData());
            return false;
        }
        const QByteArray address = lines.at(0).trimmed();
        static pid_t daemon = lines.at(1).trimmed().toInt();
        // The bus, and the launcher and registry it activates, end with this process.
        std::atexit([] { if (daemon > 0) ::kill(daemon, SIGTERM); });
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        // The accessibility bus, from at-spi2-core's launcher (activated on the session
        // bus), answers before anyone looks for it.
        QByteArray a11yBus;
        waitUntil(
            [&] {
                QProcess ask;
                ask.start(QStringLiteral("dbus-send"), {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                                                        QStringLiteral("--dest=org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                        QStringLiteral("org.a11y.Bus.GetAddress")});
                if (ask.waitForFinished(5000) && ask.exitCode() == 0) {
                    const QByteArray reply = ask.readAllStandardOutput();
                    const int open = reply.indexOf("string \"");
                    if (open >= 0) a11yBus = reply.mid(open + 8, reply.lastIndexOf('"') - open - 8);
                }
                return !a11yBus.isEmpty();
            },
            10000, 100);
        if (a11yBus.isEmpty()) {
            std::fprintf(stderr, "no accessibility bus from org.a11y.Bus\n");
            return false;
        }
        qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        const int init = atspi_init();
        if (init > 1) std::fprintf(stderr, "atspi_init: %d\n", init);
        return init <= 1;
    }();
    return started;
}

const MainWindowView::Shown* MainWindowView::find(const QString& part) const {
    for (const Shown& one : shown)
        if (one.text.contains(part)) return &one;
    return nullptr;
}

MainWindowView read(pid_t pid) {
    MainWindowView view;
    if (Object app = application(pid)) {
        view.found = true;
        const int windows = atspi_accessible_get_child_count(app.get(), nullptr);
        for (int w = 0; w < windows; ++w) {
            Object window(atspi_accessible_get_child_at_index(app.get(), w, nullptr));
            if (!window) continue;
            const Window seen{roleNameOf(window.get()), nameOf(window.get())};
            view.windows << seen;
            // The main window is the frame whose caption names the program last.
            const bool main = seen.role == QLatin1String("frame") &&
                              (seen.name == QLatin1String("Tarnwick") || seen.name.endsWith(QLatin1String(" - Tarnwick")));
            walk(window.get(), 1, main, view);
        }
    }
    return view;
}

std::vector<Node> nodes(pid_t pid) {
    std::vector<Node> out;
    if (Object app = application(pid)) collect(app.get(), QString(), QString(), 0, out);
    return out;
}

}  // namespace a11y
