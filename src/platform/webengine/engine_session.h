#pragma once

// One run of the web engine for the program: the profile every page uses (a page opened
// for a new window must share its opener's profile), the lock on the profile's folders,
// the bound on the windows pages open, and the profile's downloads. The program's
// composition root makes one and hands it to the browser; tests make their own.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWebEngineProfile>
#include <memory>

class PersonActivity;
class QLockFile;
class QWebEnginePage;
class BrowserWindow;

namespace webengine {
class DownloadHub;
}

class EngineSession : public QObject {
    Q_OBJECT
public:
    // At most this many new windows are open at once. Once the bound is reached, further
    // requests get a page that is closed at once and never shown, until windows close.
    // Each window costs about 25 MB (view, page, backing store), so a page calling
    // window.open in a loop would otherwise exhaust the machine.
    static constexpr int kMaxOpenWindows = 64;

    // Where a profile keeps its data (cookies, local storage, IndexedDB, visited links)
    // and its HTTP cache.
    struct Folders {
        QString data;
        QString cache;
    };
    // The user's: $XDG_DATA_HOME/tarnwick and $XDG_CACHE_HOME/tarnwick (empty where the
    // location is unknown).
    static Folders userFolders();

    // The profile keeps its data in `folders`, which this session locks. The engine
    // cannot share these folders between two processes, so when they cannot be had
    // (another running instance holds them, they cannot be created, none are given) the
    // profile is off the record instead, kept in memory and gone at its end. The lock is
    // held as long as the session lives: a session that belongs to the application
    // object keeps it until the engine has shut down and written everything out.
    explicit EngineSession(const Folders& folders, QObject* parent = nullptr);
    // Closes the session (see close()).
    ~EngineSession() override;

    // The profile; null once closed.
    QWebEngineProfile* profile() const { return profile_; }
    // Where the profile's downloads are offered.
    webengine::DownloadHub* downloads() const { return downloads_; }
    // The person's fresh actions in the session's pages, as the views that show them
    // report them.
    PersonActivity& activity() const { return *activity_; }

    // A page's request for a new window: opens a BrowserWindow, shown from the event loop
    // right after, and returns its page for the engine to load the requested document
    // into; while kMaxOpenWindows windows are open, a page that is dropped at once and
    // shows nothing. `opener` is the page that asked, `address` what it asked to open
    // (when the engine told). Null once closed.
    QWebEnginePage* openWindow(QWebEnginePage* opener = nullptr, const QUrl& address = QUrl());
    // How many of the windows opened for pages exist now.
    int openWindowCount() const { return openWindows_; }

    // Ends the profile cleanly, after every page is gone: cancels the downloads still
    // running (removing their partial files) and releases the profile, so that the
    // engine's shutdown writes out what it still holds in memory. The folder lock stays.
    void close();

private:
    friend class BrowserWindow;
    void windowOpened();
    void windowClosed();
    void releaseFreedMemorySoon();

    std::unique_ptr<QLockFile> lock_;
    QPointer<QWebEngineProfile> profile_;
    webengine::DownloadHub* downloads_ = nullptr;
    PersonActivity* activity_ = nullptr;
    int openWindows_ = 0;    // BrowserWindows alive now; touched only on the UI thread
    bool trimPending_ = false;
};
