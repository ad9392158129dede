#pragma once

#include <QLoggingCategory>

// Failures of the engine adapter that are deliberately swallowed: "tarnwick.engine"
// (off by default).
Q_DECLARE_LOGGING_CATEGORY(lcEngine)
