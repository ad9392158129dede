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

#include <QLoggingCategory>
#include <QString>
#include <QtGlobal>

#include <functional>

namespace FileSave {

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
