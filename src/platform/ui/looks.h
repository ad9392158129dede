#pragma once

// What every window of the program shares: its name, icon and text-window font, the
// caption suffix and the built-in start page.

#include <QFont>
#include <QIcon>
#include <QString>

// The program's name, as its windows and settings file show it.
inline const QString kProgramName = QStringLiteral("Tarnwick");

// The built-in default start page: the program's own page, served by the program itself
// (platform/webengine/start_page.h), so that it needs no network.
inline const QString kDefaultStartPage = QStringLiteral("tarnwick://start/");

// The icon all of the program's windows carry.
QIcon applicationIcon();

// The font of the program's text windows (source, about): Courier New, 8.25 points,
// regular, or the system's typewriter font where Courier New is missing.
QFont textWindowFont();

// A caption naming the program after `subject`: "<subject> - Tarnwick".
QString captionWithProgramName(const QString& subject);
