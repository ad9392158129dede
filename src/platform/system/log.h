#pragma once

#include <QLoggingCategory>

// The program's logging categories, one per subsystem. Each failure the program
// deliberately passes over logs one debug line in its subsystem's category; all of them
// show warnings and above and keep debug and info lines off until QT_LOGGING_RULES turns
// them on ("tarnwick.*.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcSweep)     // tarnwick.sweep: the popup sweep
Q_DECLARE_LOGGING_CATEGORY(lcX11)       // tarnwick.x11: the X11 desktop adapter
Q_DECLARE_LOGGING_CATEGORY(lcWayland)   // tarnwick.wayland: the Wayland desktop adapter
Q_DECLARE_LOGGING_CATEGORY(lcHistory)   // tarnwick.history: the URL history file
Q_DECLARE_LOGGING_CATEGORY(lcProfile)   // tarnwick.profile: the settings file
Q_DECLARE_LOGGING_CATEGORY(lcEngine)    // tarnwick.engine: the Qt WebEngine adapter
Q_DECLARE_LOGGING_CATEGORY(lcApp)       // tarnwick.app: the main window's handlers
Q_DECLARE_LOGGING_CATEGORY(lcBrowse)    // tarnwick.browse: the address box
Q_DECLARE_LOGGING_CATEGORY(lcDialogs)   // tarnwick.dialogs: the settings and about windows
