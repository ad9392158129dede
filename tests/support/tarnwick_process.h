#pragma once

// The built `tarnwick` program, driven from outside the way a user would: it runs from a
// fresh program folder of its own (where its settings file lives) with a chosen current
// directory (where its history file lives), on the display in DISPLAY, with HOME and the
// XDG folders inside a private temporary folder. Windows are found and read over X11,
// keys and pointer input go through xdotool (XTEST), and every helper process the
// program starts (the web engine's) is remembered so that a test can check that none
// outlives it.

#include <QByteArray>
#include <QPoint>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "wait.h"
#include "x_client.h"
#include <sys/types.h>

// Runs a command line tool (xdotool, wmctrl, import), ending it after `timeoutMs`;
// true when it exited with status 0.
bool runTool(const QString& program, const QStringList& arguments, int timeoutMs = 10000,
             QByteArray* output = nullptr);
// The real pointer (XTEST through xdotool) moved to a point of the root window, and
// there a click of `button` (1 left, 3 right; 0: none).
bool pointerAt(const QPoint& point, int button = 0);

class TarnwickProcess {
public:
    TarnwickProcess();
    // Ends the program (SIGKILL) and its remembered helpers when they still run.
    ~TarnwickProcess();
    TarnwickProcess(const TarnwickProcess&) = delete;
    TarnwickProcess& operator=(const TarnwickProcess&) = delete;

    // --- before start() ---
    // The settings file to find in the program folder at start; none by default.
    void setIni(const QByteArray& bytes) { ini_ = bytes; }
    // The history file to find in the current directory at start; none by default.
    void setHistory(const QByteArray& bytes) { history_ = bytes; }
    // The current directory to start in; a fresh folder of its own by default.
    void setWorkDir(const QString& path) { workDir_ = path; }
    // Runs this binary where it lies (an installed copy) instead of a copy of the built
    // one; the program folder is then the binary's folder.
    void setBinary(const QString& path) { binary_ = path; }
    // Extra environment for the program (NAME=value pairs override the defaults).
    void setEnv(const QString& name, const QString& value);

    // Copies the built binary into the program folder, writes the files asked for and
    // starts the program. False (with the reason in error()) when it could not start.
    bool start();
    QString error() const { return error_; }

    // --- folders and files ---
    QString root() const { return dir_.path(); }
    QString programFolder() const;
    QString workDir() const;
    QString home() const;
    QString iniPath() const;
    QString historyPath() const;
    QByteArray readIni() const;
    QByteArray readHistory() const;
    // The program's standard output and error so far.
    QByteArray log() const;

    // --- the process ---
    pid_t pid() const { return pid_; }
    bool running();
    // Waits for the process to end; true when it did within `timeoutMs`.
    bool waitForExit(int timeoutMs);
    int exitCode() const;
    bool crashed() const;
    // Resident memory of the program's own process in KiB (0 when gone).
    long rssKiB() const;

    // Rescans /proc and remembers every process whose parent chain leads to the program.
    // Called by every wait of this class; call it after starting something that forks.
    void rememberHelpers();
    // The remembered helpers, and those of them that still run (same pid, same start
    // time, not a zombie).
    int helpersSeen() const { return static_cast<int>(helpers_.size()); }
    QStringList helpersAlive() const;

    // --- windows ---
    XClient& desktop() { return desktop_; }
    // Finds the main window: the program's managed window titled "Tarnwick" or ending in
    // " - Tarnwick", present when no other such window of the program exists yet.
    // Returns 0 after `timeoutMs` without one.
    std::uint32_t waitForMainWindow(int timeoutMs = 30000);
    std::uint32_t mainWindow() const { return main_; }
    QString mainTitle();
    // Waits until the main window's title is `title`; false after `timeoutMs`.
    bool waitForMainTitle(const QString& title, int timeoutMs = 15000);
    // The program's managed windows (all of its top-level windows the WM knows).
    std::vector<std::uint32_t> ownWindows();
    // The program's managed window titled `title` (any window but the main one when
    // `title` is empty), once it shows; 0 after `timeoutMs`.
    std::uint32_t waitForOwnWindow(const QString& title, int timeoutMs = 10000);
    // Every X11 window of the program that is a child of the root, mapped or not, managed
    // or not (a widget that is gone has none).
    int nativeWindowCount();
    // The program's mapped override-redirect windows (its open popup menus).
    std::vector<std::uint32_t> ownMenus();

    // --- input (XTEST through xdotool) ---
    // Activates the main window (waiting until it has the focus) and sends a key chord
    // such as "ctrl+e"; several chords are sent one after the other.
    bool key(const QStringList& chords);
    bool key(const QString& chord) { return key(QStringList{chord}); }
    // Types text into whatever has the keyboard focus.
    bool type(const QString& text);
    // Moves the pointer to (x, y) in the main window's coordinates (0, 0 is the window's
    // top-left corner below the frame, i.e. the menu bar's corner).
    bool pointerTo(int x, int y);
    // Moves the pointer to a point of the root window.
    bool pointerToScreen(int x, int y);
    // Clicks a button (1 left, 3 right) where the pointer is.
    bool click(int button = 1);
    bool activateMain();
    // Asks the window manager to close a window (as its close box does).
    bool closeWindow(std::uint32_t window);

    // The vertical position of the middle of the address box in main-window coordinates
    // (just below the menu bar), and of a point well inside the page.
    int addressBoxY() const;
    int pageTop() const;

    // Focuses the address box with a click, replaces its text and presses Return.
    bool enterAddress(const QString& address);
    // The same without the Return.
    bool typeAddress(const QString& address);

    // Saves a picture of the whole screen beside the build's other outputs; returns its
    // path (empty when it failed).
    QString screenshot(const QString& name);

private:
    void writeFile(const QString& path, const QByteArray& bytes);

    QTemporaryDir dir_;
    std::optional<QByteArray> ini_;
    std::optional<QByteArray> history_;
    QString workDir_;
    QString binary_;
    std::vector<std::pair<QString, QString>> extraEnv_;
    QString error_;
    std::unique_ptr<QProcess> process_;
    pid_t pid_ = 0;
    std::uint32_t main_ = 0;
    XClient desktop_;

    struct Helper {
        pid_t pid;
        unsigned long long startTime;
        QString name;
    };
    std::vector<Helper> helpers_;
};
