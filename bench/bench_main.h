#pragma once

// What the benchmarks' mains share: a private X server for the run (with openbox unless
// `--window-manager none` is given), this process and the programs it starts pointed at
// it, and a Qt application on it.

#include <QCoreApplication>
#include <memory>

#include "x_session.h"

class BenchDesktop {
public:
    enum class App { Core, Gui, Widgets };
    // Takes `--window-manager openbox|none` out of the arguments.
    BenchDesktop(int& argc, char** argv, App app = App::Widgets);
    // False (and said so on stderr) when the server or the window manager did not come up.
    bool ok() const { return session_->ok(); }
    bool windowManager() const { return windowManager_; }
    XSession& session() { return *session_; }

private:
    bool windowManager_ = true;
    std::unique_ptr<XSession> session_;
    std::unique_ptr<QCoreApplication> app_;
};

// The google benchmarks registered so far, run with the remaining arguments; the exit code.
int runBenchmarks(int argc, char** argv);
