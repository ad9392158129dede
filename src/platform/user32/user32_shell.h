#pragma once

// The program's dealings with the Windows shell, in plain standard C++ (Windows only):
// the hand-off of an address to the default browser and the settings file's place.

#include <string>

namespace user32 {

// Hands `address` to the shell's handler for it: ShellExecuteW with the verb "open", the
// address as the file and nothing else (no parameters, no command interpreter). False
// when the shell reports a failure.
bool openUrl(const std::wstring& address);

// The folder of the running program, without a trailing backslash.
std::wstring programFolder();

// The user's roaming application-data folder; empty when the system names none.
std::wstring roamingFolder();

// True when a file can be made in `folder` (tried with a file deleted at once).
bool folderWritable(const std::wstring& folder);

// The settings file: `programFolder` + "\Tarnwick.ini" while that folder can be written;
// otherwise the user's copy, `roaming` + "\Tarnwick\Tarnwick.ini", once it exists, and
// until then, for reading, the program folder's file (a default an administrator may put
// there). For writing, a missing copy is started here: its folder made, the program
// folder's file copied into it.
std::wstring settingsFile(const std::wstring& programFolder, const std::wstring& roaming, bool forWriting);

}  // namespace user32
