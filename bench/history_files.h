#pragma once

// History files ("URL.slx") a benchmark starts the program with: the full list, a huge
// file of zeros or of line breaks, put back in place before every run.

#include <QByteArray>
#include <QCollator>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <unistd.h>

// A full history file: kMaxEntries realistic addresses of varying lengths, unique, in
// the order the program keeps its list (case-insensitive, by the locale's collation), one
// '"' address '"' CR LF line each.
inline constexpr int kFullHistoryEntries = 32767;

inline QByteArray fullHistoryFile() {
    static const char* const words[] = {"news", "docs", "shop", "wiki", "forum", "blog", "media",
                                        "search", "account", "support", "archive", "download"};
    QStringList addresses;
    addresses.reserve(kFullHistoryEntries);
    quint32 seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
    for (int i = 0; i < kFullHistoryEntries; ++i) {
        QString a = (next() % 4 ? QStringLiteral("http://host-%1.example") : QStringLiteral("https://www.host-%1.example"))
                        .arg(i);
        const int depth = next() % 6;
        for (int d = 0; d < depth; ++d) a += u'/' + QLatin1String(words[next() % 12]);
        a += QStringLiteral("/path/%1").arg(i);
        if (next() % 3 == 0) a += QStringLiteral(".html");
        if (next() % 4 == 0) a += QStringLiteral("?id=%1&ref=%2").arg(next()).arg(QLatin1String(words[next() % 12]));
        if (next() % 10 == 0) a += QStringLiteral("#section-%1").arg(next() % 50);
        addresses.append(a);
    }
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(addresses.begin(), addresses.end(),
              [&collator](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    QByteArray file;
    file.reserve(kFullHistoryEntries * 64);
    for (const QString& a : addresses) file += '"' + a.toLatin1() + "\"\r\n";
    return file;
}

// Puts `contents` into `dir`/URL.slx, or removes the file when `contents` is null.
inline bool resetHistory(const QString& dir, const QByteArray& contents) {
    const QString path = QDir(dir).filePath(QStringLiteral("URL.slx"));
    QFile::remove(path);
    if (contents.isNull()) return !QFile::exists(path);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(contents) == contents.size() && f.flush();
}

// Writes `path` as `bytes` line breaks (LF).
inline bool lineBreaksFile(const QString& path, qint64 bytes) {
    QFile f(path);
    const QByteArray block(64 << 20, '\n');
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    for (qint64 left = bytes; left > 0; left -= block.size())
        if (f.write(block.constData(), std::min<qint64>(left, block.size())) <= 0) return false;
    return f.flush();
}

// Makes `dir`/URL.slx a hard link to `master`.
inline bool linkHistory(const QString& dir, const QString& master) {
    const QString path = QDir(dir).filePath(QStringLiteral("URL.slx"));
    QFile::remove(path);
    return link(QFile::encodeName(master).constData(), QFile::encodeName(path).constData()) == 0;
}

// Makes `dir`/URL.slx a sparse file of `bytes` zeros.
inline bool hugeHistory(const QString& dir, qint64 bytes) {
    const QString path = QDir(dir).filePath(QStringLiteral("URL.slx"));
    QFile::remove(path);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.resize(bytes);
}
