#pragma once

// Reads the built program's widgets from outside through the accessibility bus (AT-SPI),
// as a screen reader does: a private D-Bus session bus for this test process and the
// programs it starts, at-spi2-core's bus launcher and registry (activated on it), and
// Qt's accessibility switched on in the program (QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1).

#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>
#include <ostream>
#include <sys/types.h>
#include <vector>

namespace a11y {

// Starts the private session bus once per process and exports its address and the Qt
// switch, so that programs started afterwards register on it. False when it cannot run.
bool start();

// A window of the program as the bus lists it: its role as AT-SPI names it ("frame",
// "dialog", "filler", ...) and its name.
struct Window {
    QString role;
    QString name;
    bool operator==(const Window&) const = default;
};
// How a test failure shows one (GoogleTest finds it by its namespace).
inline void PrintTo(const Window& window, std::ostream* out) {
    *out << window.role.toStdString() << " \"" << window.name.toStdString() << "\"";
}

// What the program with process id `pid` shows; empty when it is not (yet) on the bus.
struct MainWindowView {
    bool found = false;
    QList<Window> windows;     // the application's windows, in the bus's order
    QStringList statusPanels;  // the status bar's labels, left to right
    QString address;           // the address box's text
    QString addressName;       // the name of the address box's entry
    bool addressFocused = false;  // whether the address box has the keyboard focus
    QStringList menus;         // the menu bar's menu titles
    QStringList page;          // the names in the main window's page, in tree order
    QStringList labels;        // every other label showing in the program's windows
    // The labels and buttons shown elsewhere in the window (the browser area), each with
    // its text and the centre of its place on the screen, where a click reaches it.
    struct Shown {
        QString text;
        int x = 0, y = 0;
    };
    std::vector<Shown> shown;
    // The first of `shown` whose text contains `part`, or nullptr.
    const Shown* find(const QString& part) const;
};
MainWindowView read(pid_t pid);

// Every accessible node of the program's windows, the web pages' own included, as a
// screen reader walks them: its role, its text (or name), its parent's name, where it lies
// on the screen and whether it is showing.
struct Node {
    QString role;  // as AT-SPI names it: "label", "link", "push button", ...
    QString text;
    QString parent;      // the parent's name
    QString parentRole;  // and role
    QRect screen;
    bool showing = false;
};
std::vector<Node> nodes(pid_t pid);

}  // namespace a11y
