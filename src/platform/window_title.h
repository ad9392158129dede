#pragma once

// Qt reads "[*]" in a window title as the placeholder of the modified marker and hides
// it; titles taken from pages and addresses must show as they stand.

#include <QString>

inline QString literalWindowTitle(QString title) {
    return title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}
