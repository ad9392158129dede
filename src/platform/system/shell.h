#pragma once

// The real platform services the main window receives (see platform.h).

#include <QString>

class QWidget;
struct Platform;
class DesktopWindows;

namespace shell {

// Hands `address` to the desktop's opener for it (xdg-open; on Windows the shell's "open"
// verb), as one argument and never through a command interpreter. Returns false when the opener could not be started.
bool openUrl(const QString& address);

// The folder of the running program.
QString programFolder();

// The modal open-file dialog with the platform's defaults, proposing `fileName`.
bool showOpen(QString& fileName);

}  // namespace shell
