#pragma once

#include <QLoggingCategory>

// The main window's category: "tarnwick.app".
Q_DECLARE_LOGGING_CATEGORY(lcApp)
