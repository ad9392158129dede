#include "platform/webengine/engine_session.h"

#include <QCoreApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include "platform/system/log.h"
#include "platform/webengine/browser_window.h"
#include "platform/webengine/engine_download.h"
#include "platform/webengine/engine_flags.h"
#include "platform/webengine/person_activity.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// A page may ask for new windows faster than any could be shown: a script calling
// window.open in a loop makes the engine build a half-made window for every call, and
// a thousand of those stall the page's renderer even when the browser refuses them.
// So the bound on open windows is also kept where the calls are made: while as many
// windows as may be open at once that a document opened are still open, its further
// window.open calls answer null, as a blocked popup does.
QString windowOpenBound() {
    return QStringLiteral(R"((function () {
  var open = window.open;
  if (typeof open !== 'function') return;
  var limit = %1, mine = [];
  window.open = function () {
    var still = [];
    for (var i = 0; i < mine.length; ++i) {
      try { if (!mine[i].closed) still.push(mine[i]); } catch (e) {}
    }
    mine = still;
    if (mine.length >= limit) return null;
    var opened = open.apply(this, arguments);
    if (opened) mine.push(opened);
    return opened;
  };
})();)")
        .arg(EngineSession::kMaxOpenWindows);
}

// The folders, locked for this process; null when they cannot be had (another instance
// holds them, or they cannot be created).
std::unique_ptr<QLockFile> lockFolders(const EngineSession::Folders& folders) {
    if (folders.data.isEmpty() || folders.cache.isEmpty() || !QDir().mkpath(folders.data) ||
        !QDir().mkpath(folders.cache)) {
        qCDebug(lcEngine) << "profile folders cannot be created; off the record:" << folders.data << folders.cache;
        return nullptr;
    }
    auto lock = std::make_unique<QLockFile>(folders.data + QStringLiteral("/tarnwick.lock"));
    lock->setStaleLockTime(0);  // only a live process holds it
    if (!lock->tryLock(0)) {
        qCDebug(lcEngine) << "profile in use by another instance (" << lock->error() << "); off the record";
        return nullptr;
    }
    return lock;
}

}  // namespace

EngineSession::Folders EngineSession::userFolders() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return {data.isEmpty() ? QString() : data + QStringLiteral("/tarnwick"),
            cache.isEmpty() ? QString() : cache + QStringLiteral("/tarnwick")};
}

EngineSession::EngineSession(const Folders& folders, QObject* parent)
    : QObject(parent), activity_(new PersonActivity(this)) {
    lock_ = lockFolders(folders);
    // The engine sets a profile up in QStandardPaths::AppDataLocation/QtWebEngine/ before
    // it can be given its folders, and writes a preferences file there. That place follows
    // the application's name ("Tarnwick": ~/.local/share/Tarnwick, a second data folder);
    // while the profile is made it follows the data folder's name and lies inside it.
    const QString applicationName = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("tarnwick"));
    // The engine starts with the first profile, with the program's bounds on its pages.
    const webengine::EngineStartFlags bounds;
    if (lock_) {
        profile_ = new QWebEngineProfile(QStringLiteral("tarnwick"), this);
        profile_->setPersistentStoragePath(folders.data);
        profile_->setCachePath(folders.cache);
        profile_->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        profile_->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    } else {
        profile_ = new QWebEngineProfile(this);  // no name: off the record
    }
    QCoreApplication::setApplicationName(applicationName);
    QWebEngineScript bound;
    bound.setName(QStringLiteral("tarnwick-window-open-bound"));
    bound.setSourceCode(windowOpenBound());
    bound.setInjectionPoint(QWebEngineScript::DocumentCreation);
    bound.setWorldId(QWebEngineScript::MainWorld);
    bound.setRunsOnSubFrames(true);
    profile_->scripts()->insert(bound);
    // Downloads are received where only the program looks until the person accepts them.
    downloads_ = new webengine::DownloadHub(profile_, *activity_, lock_ ? folders.cache : QString(), this);
}

EngineSession::~EngineSession() { close(); }

void EngineSession::close() {
    if (!profile_) return;
    downloads_->endAll();
    delete profile_.data();
}

QWebEnginePage* EngineSession::openWindow(QWebEnginePage* opener, const QUrl& address) {
    if (!profile_) return nullptr;
    if (openWindows_ >= kMaxOpenWindows) {
        // Refused. Answering with no page leaves the engine holding the new window's
        // half-made document in the opener's renderer, and a thousand of those stall
        // the opener; a page that is dropped right away closes it properly instead.
        qCDebug(lcEngine) << "new window refused: already" << kMaxOpenWindows << "open";
        auto* discarded = new QWebEnginePage(profile_);
        QTimer::singleShot(0, discarded, &QObject::deleteLater);
        return discarded;
    }
    return (new BrowserWindow(*this, opener, address))->page();
}

void EngineSession::windowOpened() { ++openWindows_; }

void EngineSession::windowClosed() {
    --openWindows_;
    releaseFreedMemorySoon();
}

// A closed window frees tens of MB on the heap, which the C library keeps for reuse
// rather than giving it back; once the closing is over, hand it back to the system.
void EngineSession::releaseFreedMemorySoon() {
#ifdef __GLIBC__
    if (trimPending_) return;
    trimPending_ = true;
    QTimer::singleShot(1000, this, [this] {
        trimPending_ = false;
        malloc_trim(0);
    });
#endif
}
