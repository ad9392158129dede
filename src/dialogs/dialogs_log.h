#pragma once

#include <QLoggingCategory>

// The settings and about windows' category: "tarnwick.dialogs".
Q_DECLARE_LOGGING_CATEGORY(lcDialogs)
