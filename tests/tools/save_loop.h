#pragma once

// The history entry that save_loop (loop mode) adds before its n-th history save.

#include <QString>

inline QString saveLoopEntry(const QString& tag, int n) {
    return QStringLiteral("http://%1-%2.example/news/archive/2024/page.html?ref=loop").arg(tag).arg(n);
}
