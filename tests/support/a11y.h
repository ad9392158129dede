#pragma once

// Reads the built program's widgets from outside through the accessibility bus (AT-SPI),
// as a screen reader does: a private D-Bus session bus for this test process and the
// programs it starts, at-spi2-core's bus launcher and registry (activated on it), and
// Qt's accessibility switched on in the program (QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1).

#include <QRect>
#include <QString>
#include <QStringList>
#include <vector>
#include <sys/types.h>

namespace a11y {

// Starts the private session bus once per process and exports its address and the Qt
// switch, so that programs started afterwards register on it. False when it cannot run.
bool start();

// What the program with process id `pid` shows; empty when it is not (yet) on the bus.
struct MainWindowView {
    bool found = false;
    QStringList statusPanels;  // the status bar's labels, left to right
    QString address;           // the address box's text
    bool addressFocused = false;  // whether the address box has the keyboard focus
    QStringList menus;         // the menu bar's menu titles
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
