#include "platform/webengine/engine_page.h"

#include <QAuthenticator>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>

#include "platform/webengine/engine_log.h"
#include "platform/webengine/engine_session.h"

EnginePage::EnginePage(EngineSession& session, Policy policy, QObject* parent)
    : QWebEnginePage(session.profile(), parent), session_(&session), policy_(std::move(policy)) {
    denyPermissions();
    connect(this, &QWebEnginePage::authenticationRequired, this,
            [this](const QUrl& url, QAuthenticator* authenticator) { answerLogin(url, false, authenticator); });
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            [this](const QUrl&, QAuthenticator* authenticator, const QString& proxyHost) {
                answerLogin(QUrl(QStringLiteral("http://") + proxyHost), true, authenticator);
            });
}

QWebEnginePage* EnginePage::createWindow(WebWindowType) { return session_ ? session_->openWindow() : nullptr; }

void EnginePage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                          const QString& source) {
    if (policy_.consoleMessages) QWebEnginePage::javaScriptConsoleMessage(level, message, line, source);
}

void EnginePage::javaScriptAlert(const QUrl& origin, const QString& message) {
    if (policy_.dialogs) QWebEnginePage::javaScriptAlert(origin, message);
}

bool EnginePage::javaScriptConfirm(const QUrl& origin, const QString& message) {
    return policy_.dialogs && QWebEnginePage::javaScriptConfirm(origin, message);
}

bool EnginePage::javaScriptPrompt(const QUrl& origin, const QString& message, const QString& value, QString* result) {
    return policy_.dialogs && QWebEnginePage::javaScriptPrompt(origin, message, value, result);
}

QStringList EnginePage::chooseFiles(FileSelectionMode mode, const QStringList& oldFiles, const QStringList& types) {
    return policy_.dialogs ? QWebEnginePage::chooseFiles(mode, oldFiles, types) : QStringList();
}

void EnginePage::denyPermissions() {
    connect(this, &QWebEnginePage::featurePermissionRequested, this, [this](const QUrl& origin, Feature feature) {
        qCDebug(lcEngine) << "permission denied:" << feature << origin;
        setFeaturePermission(origin, feature, PermissionDeniedByUser);
    });
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
            [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::fileSystemAccessRequested, this,
            [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
}

void EnginePage::answerLogin(const QUrl& site, bool proxy, QAuthenticator* authenticator) {
    LoginRequest request;
    request.site = site;
    request.realm = authenticator->realm();
    request.proxy = proxy;
    // The prompt may run an event loop of its own; the answer is given only to a page
    // that is still there.
    const std::function<bool(LoginRequest&)> login = policy_.login;
    QPointer<EnginePage> self(this);
    const bool answered = login && login(request) && self;
    if (answered) {
        authenticator->setUser(request.user);
        authenticator->setPassword(request.password);
    } else {
        qCDebug(lcEngine) << "login refused:" << site << request.realm;
        // The engine hands over an authenticator that already carries the realm, so one
        // left untouched would be answered with an empty login, again and again; a null
        // one refuses: the page shows the site's refusal.
        *authenticator = QAuthenticator();
    }
}
