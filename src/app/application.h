#pragma once

// The composition root: the program's parts made and wired together. The engine's
// session, the main window's platform (the browser on that session, the desktop, the
// shell), the windows a page needs from the person (where a download goes and the
// downloads window, logins), and the program's end.

#include <QPointer>
#include <atomic>
#include <memory>
#include <vector>

#include "platform/platform.h"

class DesktopWindows;
class Download;
class EngineSession;
class QWidget;
class WebEngineBrowser;
class frmDownloads;

class Application {
public:
    // The program on `desktop`, which must outlive it. Needs the QApplication.
    explicit Application(DesktopWindows& desktop);
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Shows the main window and runs the program until it ends; then every page goes,
    // then the engine's profile, and the engine after it. Returns the exit code: 0 when
    // the program ended cleanly, else the event loop's code, or kEndStuck when its end did
    // not get past its pages (the process then ends regardless).
    int run();

    static constexpr int kEndStuck = 70;

private:
    // What the browser's page needs from the person, in the program's windows.
    void connectBrowser(WebEngineBrowser* browser, QWidget* window);
    void keepDownload(Download* accepted);
    // Ending: for the person it is over at once (every window goes), and the process
    // exits within a bound once the pages are gone. Meanwhile run() ends the engine's
    // profile cleanly.
    void end();

    // How far the end got, shared with the thread that bounds it (which may outlive the
    // application object).
    struct Ending {
        std::atomic<int> status{0};
        std::atomic<bool> pagesGone{false};
    };
    std::shared_ptr<Ending> ending_ = std::make_shared<Ending>();

    // Belongs to the application object, which goes after the engine has shut down: the
    // profile's folders stay locked until everything is written out.
    EngineSession* session_ = nullptr;
    Platform platform_;
    QPointer<frmDownloads> downloadsWindow_;
    std::vector<QPointer<Download>> downloads_;  // every download of this run, for a new window
    bool ended_ = false;
};
