#include "platform/webengine/engine_download.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>
#include <QStandardPaths>
#include <QWebEngineDownloadRequest>
#include <QWebEngineNavigationRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <cerrno>
#include <cstdio>

#include "platform/system/log.h"
#include "platform/system/safe_file_name.h"
#include "platform/webengine/browser_window.h"
#include "platform/webengine/person_activity.h"

namespace webengine {

namespace {

bool removeFile(const QString& path) {
    if (path.isEmpty() || !QFileInfo::exists(path)) return true;
    if (QFile::remove(path)) return true;
    qCDebug(lcEngine) << "cannot remove a partial download:" << path;
    return false;
}

// Moves `from` to `to`, replacing a file there in one step where the file system allows.
bool moveReplacing(const QString& from, const QString& to) {
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0) return true;
    if (errno != EXDEV) return false;
    // Another file system: copy beside the target first, then rename it in place.
    const QString beside = freeName(to + QStringLiteral(".part"));
    if (!QFile::copy(from, beside)) return false;
    if (std::rename(QFile::encodeName(beside).constData(), QFile::encodeName(to).constData()) != 0) {
        QFile::remove(beside);
        return false;
    }
    QFile::remove(from);
    return true;
}

}  // namespace

QString freeName(const QString& path) {
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) return path;
    const QFileInfo info(path);
    const QString base = info.completeBaseName();
    const QString suffix = info.suffix().isEmpty() ? QString() : QStringLiteral(".") + info.suffix();
    for (int n = 2;; ++n) {
        const QString candidate = info.dir().filePath(QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(suffix));
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink()) return candidate;
    }
}

EngineDownload::EngineDownload(QWebEngineDownloadRequest* request, const QString& proposedPath, const QString& partPath)
    : Download(request), request_(request), proposed_(proposedPath), part_(partPath) {
    total_ = request->totalBytes() > 0 ? request->totalBytes() : -1;
    connect(request, &QWebEngineDownloadRequest::receivedBytesChanged, this, [this] {
        if (!request_) return;
        received_ = request_->receivedBytes();
        if (request_->totalBytes() > 0) total_ = request_->totalBytes();
        emit Changed();
    });
    connect(request, &QWebEngineDownloadRequest::stateChanged, this, &EngineDownload::onEngineState);
    // The engine retries an interrupted download (from the start, when the server offers
    // no way to resume) without reporting the interruption as a state; the first
    // interruption ends it here.
    connect(request, &QWebEngineDownloadRequest::interruptReasonChanged, this, &EngineDownload::onEngineState);
}

void EngineDownload::accept(const QString& path) {
    if (state_ != State::Asking || path.isEmpty()) return;
    path_ = QFileInfo(path).absoluteFilePath();
    replace_ = QFileInfo::exists(path_);
    state_ = State::Running;
    if (received_all_)
        keep();
    else
        emit Changed();
}

void EngineDownload::cancel() {
    if (state_ != State::Asking && state_ != State::Running) return;
    end(State::Cancelled);
}

void EngineDownload::onEngineState() {
    if (!request_ || (state_ != State::Asking && state_ != State::Running)) return;
    const bool interrupted = request_->interruptReason() != QWebEngineDownloadRequest::NoReason;
    switch (interrupted ? QWebEngineDownloadRequest::DownloadInterrupted : request_->state()) {
    case QWebEngineDownloadRequest::DownloadCompleted:
        received_ = request_->receivedBytes();
        total_ = received_;
        received_all_ = true;
        if (state_ == State::Running)
            keep();
        else
            emit Changed();  // still waiting for the user's answer
        break;
    case QWebEngineDownloadRequest::DownloadCancelled:
        end(State::Cancelled);
        break;
    case QWebEngineDownloadRequest::DownloadInterrupted:
        qCDebug(lcEngine) << "download failed:" << request_->interruptReason() << proposed_;
        end(State::Failed);  // the engine would keep its partial file for a resumption
        break;
    default:
        break;
    }
}

void EngineDownload::keep() {
    // A file that appeared under the chosen name after the user chose it is not replaced.
    if (!replace_) path_ = freeName(path_);
    if (!moveReplacing(part_, path_)) {
        qCDebug(lcEngine) << "cannot move a finished download to" << path_;
        end(State::Failed);
        return;
    }
    state_ = State::Completed;
    emit Changed();
}

void EngineDownload::end(State state) {
    state_ = state;  // first: cancelling reports back at once
    if (request_ && !request_->isFinished()) request_->cancel();
    removeFile(part_);
    removeFile(part_ + QStringLiteral(".download"));  // the engine's own partial file
    emit Changed();
}

DownloadHub::DownloadHub(QWebEngineProfile* profile, PersonActivity& activity, const QString& receivingIn,
                         QObject* parent)
    : QObject(parent), profile_(profile), activity_(activity) {
    const QString base = receivingIn.isEmpty() ? QDir::tempPath() : receivingIn;
    // Folders a run that was killed left behind hold nothing anyone accepted.
    if (!receivingIn.isEmpty())
        for (const QFileInfo& stale :
             QDir(base).entryInfoList({QStringLiteral("downloads-*")}, QDir::Dirs | QDir::NoDotAndDotDot))
            QDir(stale.absoluteFilePath()).removeRecursively();
    QDir().mkpath(base);
    receiving_ = std::make_unique<QTemporaryDir>(base + QStringLiteral("/downloads-XXXXXX"));
    if (!receiving_->isValid()) qCDebug(lcEngine) << "no folder to receive downloads in:" << base;
    connect(profile, &QWebEngineProfile::downloadRequested, this, &DownloadHub::take);
}

DownloadHub::~DownloadHub() = default;

void DownloadHub::allowFromNavigation(QWebEnginePage* page, const QUrl& address) {
    if (!page) return;
    stopFollowing(page);
    // The addresses of the person's load: `address` when the caller knows it (a link the
    // person clicked), else its first request made by the browser itself (typed, a
    // history entry, a reload); then the server's redirects of it. A download is theirs
    // only when it is one of these addresses: whatever a document starts has an address
    // of its own, however soon it comes.
    Loading& loading = navigating_[page];
    if (address.isValid()) loading.urls.insert(address);
    loading.requested = connect(page, &QWebEnginePage::navigationRequested, this,
                                [this, page](QWebEngineNavigationRequest& request) {
        auto found = navigating_.find(page);
        if (found == navigating_.end() || !request.isMainFrame()) return;
        switch (request.navigationType()) {
        case QWebEngineNavigationRequest::TypedNavigation:
        case QWebEngineNavigationRequest::BackForwardNavigation:
        case QWebEngineNavigationRequest::ReloadNavigation:
            if (found->urls.isEmpty()) found->urls.insert(request.url());
            break;
        case QWebEngineNavigationRequest::RedirectNavigation:
            if (!found->urls.isEmpty()) found->urls.insert(request.url());
            break;
        default:
            break;
        }
    });
    // The first document shown ends it (the load was no download), as does the page's end.
    loading.shown = connect(page, &QWebEnginePage::urlChanged, this, [this, page] { stopFollowing(page); });
    loading.gone = connect(page, &QObject::destroyed, this, [this, page] { stopFollowing(page); });
}

void DownloadHub::stopFollowing(const QWebEnginePage* page) {
    auto found = navigating_.find(page);
    if (found == navigating_.end()) return;
    disconnect(found->requested);
    disconnect(found->shown);
    disconnect(found->gone);
    navigating_.erase(found);
}

bool DownloadHub::askedFor(QWebEngineDownloadRequest* request) {
    QWebEnginePage* page = request->page();
    if (!page) return false;
    auto loading = navigating_.find(page);
    if (loading != navigating_.end() && loading->urls.contains(request->url())) {
        stopFollowing(page);
        return true;
    }
    if (activity_.take(page, PersonActivity::Answer::Download)) return true;
    // A window the person's click opened, whose address turned out to be a download.
    QWebEnginePage* opener = BrowserWindow::openerOf(page);
    return opener && activity_.take(opener, PersonActivity::Answer::Download);
}

void DownloadHub::take(QWebEngineDownloadRequest* request) {
    // Saving the page (Save As) is the program's own download and goes on by itself.
    if (request->isSavePageDownload() || request->state() != QWebEngineDownloadRequest::DownloadRequested) return;
    if (!hasListener() || !receiving_->isValid()) {
        qCDebug(lcEngine) << "download dropped: nobody to ask" << request->url();
        return;  // unaccepted: the engine cancels it
    }
    if (!askedFor(request)) {
        qCDebug(lcEngine) << "download refused: nobody asked for it" << request->url();
        request->cancel();
        const QUrl from = request->page() ? request->page()->url() : request->url();
        emit refused(request->suggestedFileName(), from.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment));
        return;
    }
    // The folder is always the download folder: a name the server gave with folders in it
    // ("../../x", "/etc/x") names no folder here, and only its last part is proposed.
    QString folder = profile_ ? profile_->downloadPath() : QString();
    if (folder.isEmpty()) folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty()) folder = QDir::homePath();
    const QString given = request->suggestedFileName().isEmpty() ? request->downloadFileName() : request->suggestedFileName();
    const QString name = safe_name::fileName(given, request->url());
    const QString proposed = QDir(folder).filePath(name);
    // The received file's name holds ".part" and a number within what the file system takes.
    const QString part = freeName(QDir(receiving_->path()).filePath(
        safe_name::fileName(given, request->url(), safe_name::kMaxBytes - 16) + QStringLiteral(".part")));
    request->setDownloadDirectory(receiving_->path());
    request->setDownloadFileName(QFileInfo(part).fileName());
    auto* download = new EngineDownload(request, proposed, part);
    request->accept();
    downloads_.removeAll(nullptr);
    downloads_.append(download);
    waiting_.append(download);
    connect(download, &Download::Changed, this, &DownloadHub::offerNext);
    offerNext();
}

void DownloadHub::offerNext() {
    if (asking_ && asking_->state() == Download::State::Asking) return;
    asking_ = nullptr;
    while (!waiting_.isEmpty()) {
        QPointer<EngineDownload> next = waiting_.takeFirst();
        if (!next || next->state() != Download::State::Asking) continue;  // ended while it waited
        asking_ = next;
        // The download folder is made when it is first proposed.
        const QString folder = QFileInfo(next->proposedPath()).absolutePath();
        if (!QDir().mkpath(folder)) qCDebug(lcEngine) << "cannot make the download folder" << folder;
        emit started(next);
        return;
    }
}

void DownloadHub::endAll() {
    for (const QPointer<EngineDownload>& download : downloads_)
        if (download) download->cancel();
}

}  // namespace webengine
