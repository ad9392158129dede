#include "platform/settings/file_save.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

#include <algorithm>

namespace FileSave {

QString target(const QString& path) {
    // As QSaveFile follows links to the file it replaces.
    QFileInfo info(path);
    for (int depth = 0; depth < 128 && info.isSymLink(); ++depth) info.setFile(info.symLinkTarget());
    return info.absoluteFilePath();
}

namespace {

// The path as the system takes it: UTF-16 on Windows, the file-name encoding's bytes
// elsewhere.
std::filesystem::path nativePath(const QString& path) {
#ifdef _WIN32
    return std::filesystem::path(path.toStdU16String());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

}  // namespace

Identity identify(const QString& path) { return identifyFile(nativePath(path)); }

Identity identify(int fd) { return identifyOpenFile(fd); }

Lock::Lock(const QString& path, const QLoggingCategory& log) {
    // Nothing that is not saved is locked: no lock file beside a device or a pipe.
    if (!replaceable(path)) return;
    const QString name = target(path) + QStringLiteral(".lock");
    lock_ = std::make_unique<FileLock>(nativePath(name), kLockWaitMs);
    if (!lock_->held()) qCDebug(log) << "saving without a lock:" << name << lock_->failure().c_str();
}

bool replaceable(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) return true;  // a new file
    // isFile() follows links: true only for a regular file or a link ending at one.
    return info.isFile();
}

void removeLeftovers(const QString& path, const QLoggingCategory& log, qint64 minAgeSeconds) {
    const QFileInfo replaced(target(path));
    const QString name = replaced.fileName();
    if (name.isEmpty()) return;
    QDir dir = replaced.absoluteDir();
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
