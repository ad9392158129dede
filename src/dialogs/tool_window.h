#pragma once

// The settings, about and downloads windows are small tool windows without a taskbar
// entry; settings and about have a fixed size, the downloads window can be resized.
// Escape closes them, as their close box does (it presses no button).

#include <QWidget>

class ToolWindow : public QWidget {
    Q_OBJECT
public:
    enum class Sizing { Fixed, Resizable };

    // A top-level tool window of the given size (twips), with a small caption and a close
    // box only, the program's icon, deleted when closed. A fixed window keeps that size;
    // a resizable one starts at it.
    ToolWindow(const QString& title, int widthTwips, int heightTwips, Sizing sizing = Sizing::Fixed);

protected:
    // The show event comes before the window is mapped: the taskbar hint goes with it.
    void showEvent(QShowEvent* event) override;
    // Escape that no control of the window took closes it.
    void keyPressEvent(QKeyEvent* event) override;
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
