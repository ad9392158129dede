#include "platform/webengine/engine_profile.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QDir>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEnginePage>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

#include "platform/webengine/browser_window.h"
#include "platform/webengine/engine_download.h"

Q_LOGGING_CATEGORY(lcEngine, "tarnwick.engine", QtWarningMsg)

namespace webengine {

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
        .arg(BrowserWindow::kMaxOpen);
}

// Holds the lock on the profile's folders for as long as the application object lives,
// which is after the engine has shut down and written everything out.
class ProfileLock : public QObject {
public:
    explicit ProfileLock(const QString& path) : QObject(QCoreApplication::instance()), lock(path) {
        lock.setStaleLockTime(0);  // only a live process holds it
    }
    QLockFile lock;
};

QPointer<QWebEngineProfile> g_profile;
bool g_persistent = false;

// The folders of the persistent profile, locked for this process; false when they cannot
// be had (another instance holds them, or they cannot be created).
bool lockProfileFolders(const QString& data, const QString& cache) {
    if (data.isEmpty() || cache.isEmpty() || !QDir().mkpath(data) || !QDir().mkpath(cache)) {
        qCDebug(lcEngine) << "profile folders cannot be created; off the record:" << data << cache;
        return false;
    }
    auto* holder = new ProfileLock(data + QStringLiteral("/tarnwick.lock"));
    if (!holder->lock.tryLock(0)) {
        qCDebug(lcEngine) << "profile in use by another instance (" << holder->lock.error() << "); off the record";
        delete holder;
        return false;
    }
    return true;
}

}  // namespace

QWebEngineProfile* sharedProfile() {
    if (g_profile) return g_profile;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString dataPath = data.isEmpty() ? QString() : data + QStringLiteral("/tarnwick");
    const QString cachePath = cache.isEmpty() ? QString() : cache + QStringLiteral("/tarnwick");
    g_persistent = lockProfileFolders(dataPath, cachePath);
    // The engine sets a profile up in QStandardPaths::AppDataLocation/QtWebEngine/ before
    // it can be given its folders, and writes a preferences file there. That place follows
    // the application's name ("Tarnwick": ~/.local/share/Tarnwick, a second data folder);
    // while the profile is made it follows the data folder's name and lies inside it.
    const QString applicationName = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("tarnwick"));
    if (g_persistent) {
        g_profile = new QWebEngineProfile(QStringLiteral("tarnwick"), QCoreApplication::instance());
        g_profile->setPersistentStoragePath(dataPath);
        g_profile->setCachePath(cachePath);
        g_profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        g_profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    } else {
        g_profile = new QWebEngineProfile(QCoreApplication::instance());  // no name: off the record
    }
    QCoreApplication::setApplicationName(applicationName);
    QWebEngineScript bound;
    bound.setName(QStringLiteral("tarnwick-window-open-bound"));
    bound.setSourceCode(windowOpenBound());
    bound.setInjectionPoint(QWebEngineScript::DocumentCreation);
    bound.setWorldId(QWebEngineScript::MainWorld);
    bound.setRunsOnSubFrames(true);
    g_profile->scripts()->insert(bound);
    watchDownloads(g_profile);
    return g_profile;
}

bool profileIsPersistent() {
    sharedProfile();
    return g_persistent;
}

void denyPermissions(QWebEnginePage* page) {
    QObject::connect(page, &QWebEnginePage::featurePermissionRequested, page,
                     [page](const QUrl& origin, QWebEnginePage::Feature feature) {
                         qCDebug(lcEngine) << "permission denied:" << feature << origin;
                         page->setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
                     });
    QObject::connect(page, &QWebEnginePage::registerProtocolHandlerRequested, page,
                     [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
    QObject::connect(page, &QWebEnginePage::fileSystemAccessRequested, page,
                     [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
}

void refuseLogins(QWebEnginePage* page) {
    // The engine hands over an authenticator that already carries the realm, so one left
    // untouched would be answered with an empty login, again and again; a null one refuses.
    QObject::connect(page, &QWebEnginePage::authenticationRequired, page,
                     [](const QUrl& url, QAuthenticator* authenticator) {
                         qCDebug(lcEngine) << "login refused in a new window:" << url;
                         *authenticator = QAuthenticator();
                     });
    QObject::connect(page, &QWebEnginePage::proxyAuthenticationRequired, page,
                     [](const QUrl&, QAuthenticator* authenticator, const QString&) { *authenticator = QAuthenticator(); });
}

void closeProfile() {
    if (!g_profile) return;
    endDownloads(g_profile);
    delete g_profile.data();
}

}  // namespace webengine
