#include "platform/file_save.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

#include <algorithm>

namespace FileSave {

bool replaceable(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) return true;  // a new file
    // isFile() follows links: true only for a regular file or a link ending at one.
    return info.isFile();
}

void removeLeftovers(const QString& path, const QLoggingCategory& log, qint64 minAgeSeconds) {
    QFileInfo target(path);
    if (target.isSymLink()) target = QFileInfo(target.symLinkTarget());
    const QString name = target.fileName();
    if (name.isEmpty()) return;
    QDir dir = target.absoluteDir();
    const QDateTime cutoff = QDateTime::currentDateTimeUtc().addSecs(-minAgeSeconds);
    const QStringList candidates =
        dir.entryList({name + QStringLiteral(".??????")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& candidate : candidates) {
        if (candidate.size() != name.size() + 7) continue;
        const QStringView suffix = QStringView(candidate).sliced(name.size() + 1);
        if (!candidate.startsWith(name) ||
            !std::all_of(suffix.begin(), suffix.end(), [](QChar c) {
                return c.unicode() < 128 && c.isLetterOrNumber();
            }))
            continue;
        const QFileInfo leftover(dir.filePath(candidate));
        if (leftover.isSymLink() || !leftover.isFile()) continue;
        if (leftover.lastModified().toUTC() >= cutoff) continue;  // perhaps a save under way
        if (!QFile::remove(leftover.filePath()))
            qCDebug(log) << "leftover of a killed save not removed:" << leftover.filePath();
    }
}

bool replace(const QString& path,
             const std::function<bool(const std::function<bool(const char*, qint64)>&)>& write,
             const QLoggingCategory& log) {
    if (!replaceable(path)) {
        qCDebug(log) << "not saved: not a regular file nor a link to one:" << path;
        return false;
    }
    removeLeftovers(path, log);

    // QSaveFile writes a temporary file beside the target (following a link to its
    // target) and renames it over the target on commit; it takes over the existing file's
    // permissions and never creates the folder. Direct writing (which could leave a
    // truncated file) stays off. Unbuffered: a short write (disk full, file size limit)
    // shows in write()'s result, where a buffered QSaveFile would flush in commit()
    // without checking it. commit() syncs the file to disk before the rename.
    QSaveFile out(path);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        qCDebug(log) << "not saved:" << path << out.errorString();
        return false;
    }
    const bool written = write([&out](const char* data, qint64 size) {
        return out.write(data, size) == size;
    });
    if (!written || out.error() != QFileDevice::NoError) {
        qCDebug(log) << "not saved:" << path << out.errorString();
        out.cancelWriting();
        return false;
    }
    if (!out.commit()) {
        qCDebug(log) << "not saved:" << path << out.errorString();
        return false;
    }
    return true;
}

}  // namespace FileSave
