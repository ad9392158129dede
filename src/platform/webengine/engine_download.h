#pragma once

// Downloads on the engine's profile. A download a page starts without the person asking
// for it (on load, from a timer, the second of one click) is refused at once: the engine
// fetches nothing more of it and nothing is written. One the person asked for (a click or
// key in the page, or in the page that opened the window it comes from; an address the
// person had the browser load) starts at once into "<name>.part" in a folder of the
// program's own and is offered (as a Download) to whoever listens on the hub, one at a
// time: the next is offered once the one before is answered. Nothing reaches the download
// folder before the person accepts.

#include <QHash>
#include <QList>
#include <QMetaMethod>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QTemporaryDir>
#include <memory>

#include "platform/web_browser.h"

class PersonActivity;
class QWebEngineDownloadRequest;
class QWebEnginePage;
class QWebEngineProfile;

namespace webengine {

class EngineDownload : public Download {
    Q_OBJECT
public:
    // Takes over `request` (still in its requested state): it will write to `partPath`.
    EngineDownload(QWebEngineDownloadRequest* request, const QString& proposedPath, const QString& partPath);

    QString proposedPath() const override { return proposed_; }
    QString path() const override { return path_; }
    State state() const override { return state_; }
    qint64 receivedBytes() const override { return received_; }
    qint64 totalBytes() const override { return total_; }
    void accept(const QString& path) override;
    void cancel() override;

    // The temporary file the engine writes.
    QString partPath() const { return part_; }

private:
    void onEngineState();
    void keep();                 // the received file moves to its final name
    void end(State state);       // cancelled or failed: nothing stays behind

    QPointer<QWebEngineDownloadRequest> request_;
    QString proposed_, part_, path_;
    bool replace_ = false;       // the user confirmed replacing a file at path_
    bool received_all_ = false;  // the engine has the whole file in part_
    State state_ = State::Asking;
    qint64 received_ = 0, total_ = -1;
};

// Where a profile's downloads are offered: takes every download the profile is asked
// for while someone listens on `started`.
class DownloadHub : public QObject {
    Q_OBJECT
public:
    // Whether the person asked for a download is told by `activity`; downloads are
    // received in a folder made inside `receivingIn` (the temporary folder when empty)
    // and removed with the hub.
    DownloadHub(QWebEngineProfile* profile, PersonActivity& activity, const QString& receivingIn, QObject* parent);
    ~DownloadHub() override;
    // Cancels the downloads still running, removing their partial files.
    void endAll();
    // The person had `page` load an address (typed, chosen, Back, Refresh): a download
    // that this load (or a redirect of it) turns into is theirs. Holds until the page
    // shows a document.
    // `address`: the load's own address, when the caller knows it.
    void allowFromNavigation(QWebEnginePage* page, const QUrl& address = QUrl());

signals:
    // A download to ask the person about; the next comes once this one is answered.
    void started(Download* download);
    // A download refused: nobody asked for it. `fileName` is the server's name for the
    // file, `origin` the page it came from (else its own address).
    void refused(const QString& fileName, const QUrl& origin);

private:
    void take(QWebEngineDownloadRequest* request);
    bool askedFor(QWebEngineDownloadRequest* request);
    void offerNext();
    bool hasListener() { return isSignalConnected(QMetaMethod::fromSignal(&DownloadHub::started)); }

    QPointer<QWebEngineProfile> profile_;
    PersonActivity& activity_;
    std::unique_ptr<QTemporaryDir> receiving_;
    // Pages loading an address for the person, with that load's addresses so far.
    struct Loading {
        QSet<QUrl> urls;
        QMetaObject::Connection requested, shown, gone;
    };
    void stopFollowing(const QWebEnginePage* page);
    QHash<const QWebEnginePage*, Loading> navigating_;
    QList<QPointer<EngineDownload>> downloads_;
    QList<QPointer<EngineDownload>> waiting_;  // received meanwhile, not yet offered
    QPointer<EngineDownload> asking_;           // offered, not yet answered
};

// A name in the folder of `path` that no file has: `path` itself, else "name (2).ext",
// "name (3).ext", ...
QString freeName(const QString& path);

}  // namespace webengine
