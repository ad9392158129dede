#pragma once

// Downloads on the engine's profile: every download the profile is asked for, from the
// main page or from any window the browser opened, starts at once into "<name>.part" in
// the download folder and is offered (as a Download) to whoever listens on the hub.

#include <QList>
#include <QMetaMethod>
#include <QObject>
#include <QPointer>
#include <QString>

#include "platform/web_browser.h"

class QWebEngineDownloadRequest;
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
    DownloadHub(QWebEngineProfile* profile, QObject* parent);
    // Cancels the downloads still running, removing their partial files.
    void endAll();

signals:
    void started(Download* download);

private:
    void take(QWebEngineDownloadRequest* request);
    bool hasListener() { return isSignalConnected(QMetaMethod::fromSignal(&DownloadHub::started)); }
    QList<QPointer<EngineDownload>> downloads_;
};

// A name in the folder of `path` that no file has: `path` itself, else "name (2).ext",
// "name (3).ext", ...
QString freeName(const QString& path);

}  // namespace webengine
