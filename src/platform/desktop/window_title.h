#pragma once

// Qt reads "[*]" in a window title as the placeholder of the modified marker and hides
// it; titles taken from pages and addresses must show as they stand.

#include <QString>

inline QString literalWindowTitle(QString title) {
    return title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

// The foreign browser's name, which ends the title of each of its windows: the engine's
// own new-window windows carry it, and the popup sweep closes every window that does.
inline const QString kForeignBrowserName = QStringLiteral("Microsoft Internet Explorer");
