#pragma once

// The settings and about windows are small fixed tool windows without a taskbar entry.

#include <QWidget>

class ToolWindow : public QWidget {
    Q_OBJECT
public:
    // A top-level tool window of fixed size (twips), with a small caption and a close
    // box only, the program's icon, deleted when closed.
    ToolWindow(const QString& title, int widthTwips, int heightTwips);

protected:
    // The show event comes before the window is mapped: the taskbar hint goes with it.
    void showEvent(QShowEvent* event) override;
};

// Asks the window manager to leave `window` out of the taskbar. Call it while the window
// is created but not yet mapped (from its show event). Does nothing off X11.
//
// Qt marks a Qt::Tool window as _NET_WM_WINDOW_TYPE_UTILITY, which most taskbars skip,
// but it does not set _NET_WM_STATE_SKIP_TASKBAR, and a taskbar is free to list utility
// windows (several do, as they list every window without the state). The state is the
// one hint every EWMH taskbar honours, so it is set here; Qt keeps states it finds on
// the window when it adds its own at mapping.
void keepOutOfTaskbar(QWidget* window);
