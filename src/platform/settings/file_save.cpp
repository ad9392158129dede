#include "platform/settings/file_save.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileSave {

QString target(const QString& path) {
    // As QSaveFile follows links to the file it replaces.
    QFileInfo info(path);
    for (int depth = 0; depth < 128 && info.isSymLink(); ++depth) info.setFile(info.symLinkTarget());
    return info.absoluteFilePath();
}

namespace {

Identity identityOf(const struct stat& st) {
    return {true,
            st.st_dev,
            st.st_ino,
            st.st_size,
            qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

}  // namespace

Identity identify(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? identityOf(st) : Identity{};
}

Identity identify(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? identityOf(st) : Identity{};
}

Lock::Lock(const QString& path, const QLoggingCategory& log) {
    // Nothing that is not saved is locked: no lock file beside a device or a pipe.
    if (!replaceable(path)) return;
    const QByteArray name = QFile::encodeName(target(path) + QStringLiteral(".lock"));
    const auto fail = [&](const char* what, int error) {
        if (error != 0) qCDebug(log) << "saving without a lock:" << name << what << std::strerror(error);
        else qCDebug(log) << "saving without a lock:" << name << what;
    };
    QDeadlineTimer deadline(kLockWaitMs);
    useconds_t pause = 1000;
    // No links (a link to a device must not be opened), no waiting on a pipe.
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    for (;;) {
        int fd = ::open(name.constData(), O_RDWR | O_CREAT | kFlags, 0666);
        // A folder that may not be written to can still hold a lock file from before.
        if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(name.constData(), O_RDONLY | kFlags);
        if (fd < 0) {
            fail("open:", errno);
            return;
        }
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            fail("is not a regular file", 0);
            return;
        }
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if ((error != EWOULDBLOCK && error != EINTR) || deadline.hasExpired()) {
                ::close(fd);
                if (error == EWOULDBLOCK) fail("still held by another program", 0);
                else fail("flock:", error);
                return;
            }
            ::usleep(pause);
            pause = std::min<useconds_t>(pause * 2, 20000);
        }
        // Locked: still the file under that name? (Someone may have removed or replaced
        // it meanwhile; the next holder would lock the one there now.)
        struct stat named {};
        if (::stat(name.constData(), &named) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
            fd_ = fd;
            return;
        }
        ::close(fd);
        if (deadline.hasExpired()) {
            fail("the lock file keeps being replaced", 0);
            return;
        }
    }
}

Lock::~Lock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
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
