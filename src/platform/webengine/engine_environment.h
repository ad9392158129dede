#pragma once

// What the engine is told before it starts, in the process's environment and logging
// rules. Call before the application object is made.

namespace webengine {

// - The page's content is handed to the accessibility bus: Qt WebEngine builds the
//   page's accessibility tree on Linux only when QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY
//   is set, and then only while an assistive technology is active, so it is set unless
//   the user set it.
// - The engine's start-up report (its GL and command-line lines, about twenty on every
//   start, in the category qt.webenginecontext) is off unless the user switches that
//   category on: rules in QT_LOGGING_RULES (or a QT_LOGGING_CONF file) come after the
//   program's own and win, e.g. QT_LOGGING_RULES="qt.webenginecontext.info=true". The
//   program's own tarnwick.* categories are left as they are.
void prepareEngine();

}  // namespace webengine
