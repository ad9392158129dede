#pragma once

// Reads the built program's widgets from outside through the accessibility bus (AT-SPI),
// as a screen reader does: a private D-Bus session bus for this test process and the
// programs it starts, at-spi2-core's bus launcher and registry (activated on it), and
// Qt's accessibility switched on in the program (QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1).

#include <QString>
#include <QStringList>
#include <sys/types.h>
#include <vector>

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

}  // namespace a11y
