#pragma once

// Everything the main window needs from the platform, handed to it at construction:
// main.cpp passes the real services, tests pass fakes.

#include <QString>
#include <functional>

class QWidget;
class WebBrowser;
class DesktopWindows;

struct Platform {
    // Creates the hosted browser as a child of `parent`.
    std::function<WebBrowser*(QWidget* parent)> createBrowser;

    // The desktop's top-level windows (not owned).
    DesktopWindows* desktop = nullptr;

    // Hands an address to the desktop's default handler for it, as one argument.
    // Returns false when no handler could be started.
    std::function<bool(const QString& address)> openUrl;

    // The running program's folder (no trailing separator).
    QString programFolder;

    // The modal open-file dialog: proposes `fileName`, returns true and the confirmed
    // full path in `fileName`, or false when cancelled.
    std::function<bool(QString& fileName)> showOpen;

    // Ends the process at once: no further handler of the program runs.
    std::function<void()> endProgram;
};
