#pragma once

// Where the settings file lives. A program folder the user may write (a build folder, a
// portable copy) holds Tarnwick.ini itself. An existing folder the user may not write
// (an installed program) is redirected, the way Windows redirects an older program's
// writes to its protected folder: reads and writes go to a per-user copy,
// $XDG_CONFIG_HOME/tarnwick/Tarnwick.ini, and until that copy exists reads fall back to
// the program folder's Tarnwick.ini (a default an administrator may place there).
// On Windows the same holds for a program folder that cannot be written, with the copy in
// the roaming application-data folder: %APPDATA%\Tarnwick\Tarnwick.ini.

#include <QString>

namespace SettingsLocation {

// True when the settings of a program in `programFolder` go to the per-user copy: the
// folder exists and its permission bits (for root as well) or the file system deny the
// user writing, or it lies under /usr, which stays read-only.
bool redirected(const QString& programFolder);

// $XDG_CONFIG_HOME/tarnwick/Tarnwick.ini (~/.config/... when the variable is not set).
QString perUserFile();

// The file to read: the program folder's Tarnwick.ini, or when redirected the per-user
// copy once it exists.
QString forReading(const QString& programFolder);

// The file to write: the program folder's Tarnwick.ini, or when redirected the per-user
// copy. A missing copy is started here (its folder created, the program folder's file
// copied into it) so that the write keeps whatever else the default file holds.
QString forWriting(const QString& programFolder);

}  // namespace SettingsLocation
