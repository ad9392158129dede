#include "platform/system/log.h"

namespace {

// Every category's threshold: warnings and above show, debug and info lines wait for a rule.
constexpr QtMsgType kShown = QtWarningMsg;

}  // namespace

Q_LOGGING_CATEGORY(lcSweep, "tarnwick.sweep", kShown)
Q_LOGGING_CATEGORY(lcX11, "tarnwick.x11", kShown)
Q_LOGGING_CATEGORY(lcWayland, "tarnwick.wayland", kShown)
Q_LOGGING_CATEGORY(lcHistory, "tarnwick.history", kShown)
Q_LOGGING_CATEGORY(lcProfile, "tarnwick.profile", kShown)
Q_LOGGING_CATEGORY(lcEngine, "tarnwick.engine", kShown)
Q_LOGGING_CATEGORY(lcApp, "tarnwick.app", kShown)
Q_LOGGING_CATEGORY(lcBrowse, "tarnwick.browse", kShown)
Q_LOGGING_CATEGORY(lcDialogs, "tarnwick.dialogs", kShown)
