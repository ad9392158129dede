#pragma once

// The settings and about windows are small tool windows without a taskbar entry.

class QWidget;

// Asks the window manager to leave `window` out of the taskbar. Call it while the window
// is created but not yet mapped (from its show event). Does nothing off X11.
//
// Qt marks a Qt::Tool window as _NET_WM_WINDOW_TYPE_UTILITY, which most taskbars skip,
// but it does not set _NET_WM_STATE_SKIP_TASKBAR, and a taskbar is free to list utility
// windows (several do, as they list every window without the state). The state is the
// one hint every EWMH taskbar honours, so it is set here; Qt keeps states it finds on
// the window when it adds its own at mapping.
void keepOutOfTaskbar(QWidget* window);
