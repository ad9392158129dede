#pragma once

// Replacing a settings or history file atomically, with the rules both files share:
//  - Only a regular file is ever replaced. A symbolic link to a regular file is followed
//    (the target is replaced, the link stays); a link to anything else, a folder, a pipe
//    or a device is left alone and the save fails, as for any unwritable file.
//  - The new content goes to a temporary file beside the target ("<name>.XXXXXX"),
//    which is flushed to disk and renamed over the target; the file is never written in
//    place, so a kill or a full disk leaves either the old or the new file.
//  - A temporary file of ours left behind by a save that was killed before its rename
//    (our name pattern, a regular file, older than a few minutes) is removed by the next
//    save of the same file.
//  - Programs that share a file take turns with an advisory lock (file_lock.h) on a lock file
//    beside it, "<name>.lock" (which the leftover rule never matches). The lock file stays:
//    removing it would let a later save lock a new file while an earlier one still holds
//    the old. Where no lock can be had, saving goes on without one.

#include <QLoggingCategory>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

#include "platform/settings/file_lock.h"

namespace FileSave {

// How long a lock is waited for before going on without it. A save holds it for a few
// milliseconds; only a program stopped while saving holds it longer.
inline constexpr int kLockWaitMs = 1000;

// The file a save of `path` replaces, as an absolute path: `path` itself, or the end of
// the chain of symbolic links it starts (a relative `path` against the current directory
// of now).
QString target(const QString& path);

using Identity = FileIdentity;

// The file `path` names (links followed); `exists` is false when there is none.
Identity identify(const QString& path);
// The file open as `fd`.
Identity identify(int fd);

// An exclusive advisory lock on the lock file of `path`'s target, held while the object
// lives. Waits at most kLockWaitMs for another holder. When no lock can be had (a folder
// that cannot take the lock file, a file system without locks, a holder that does not let
// go), held() is false and the reason goes to `log` as a debug line; the caller goes on
// as without a lock. What replaceable() refuses is not locked at all.
class Lock {
public:
    Lock(const QString& path, const QLoggingCategory& log);
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    bool held() const { return lock_ && lock_->held(); }

private:
    std::unique_ptr<FileLock> lock_;
};

// How old a temporary file must be before a later save takes it for a leftover.
inline constexpr qint64 kLeftoverAgeSeconds = 5 * 60;

// False when `path` names something other than a regular file or a symbolic link to
// one (a missing file without a link is fine: it is created).
bool replaceable(const QString& path);

// Writes the new content of `path` through `write` (which returns false on a failed
// write) and replaces the file atomically. Returns false, leaving the file as it was,
// when anything fails; the reason goes to `log` as a debug line.
bool replace(const QString& path,
             const std::function<bool(const std::function<bool(const char*, qint64)>&)>& write,
             const QLoggingCategory& log);

// Removes the leftovers of killed saves of `path`: regular files named `path`'s file
// name, '.', and six letters or digits, last modified more than `minAgeSeconds` ago.
// A leftover that cannot be removed is noted in `log` and left.
void removeLeftovers(const QString& path, const QLoggingCategory& log,
                     qint64 minAgeSeconds = kLeftoverAgeSeconds);

}  // namespace FileSave
