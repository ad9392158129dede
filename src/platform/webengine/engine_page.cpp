#include "platform/webengine/engine_page.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>

#include "platform/log.h"
#include "platform/webengine/engine_session.h"
#include "platform/webengine/person_activity.h"

EnginePage::EnginePage(EngineSession& session, Policy policy, QObject* parent)
    : QWebEnginePage(session.profile(), parent), session_(&session), policy_(std::move(policy)) {
    denyPermissions();
    connect(this, &QWebEnginePage::loadStarted, this, [this] { leaving_ = false; });
    // Every request for a new window, with the address it asks to open (createWindow is
    // left to the engine's default, which declines, so that the request comes here).
    connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest& request) {
        if (QWebEnginePage* page = session_ ? session_->openWindow(this, request.requestedUrl()) : nullptr)
            request.openIn(page);
    });
    connect(this, &QWebEnginePage::authenticationRequired, this,
            [this](const QUrl& url, QAuthenticator* authenticator) { answerLogin(url, false, authenticator); });
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            [this](const QUrl&, QAuthenticator* authenticator, const QString& proxyHost) {
                answerLogin(QUrl(QStringLiteral("http://") + proxyHost), true, authenticator);
            });
}

void EnginePage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                          const QString& source) {
    if (policy_.consoleMessages) QWebEnginePage::javaScriptConsoleMessage(level, message, line, source);
}

void EnginePage::refuse(WebBrowser::Refusal what, const Denial& details) {
    if (!policy_.refused) return;
    Denial denial = details;
    if (denial.origin.isEmpty()) denial.origin = url().toDisplayString();
    policy_.refused(what, denial);
}

// The start of a dialog's message, on one line.
static QString messageStart(const QString& message) {
    constexpr qsizetype kStart = 80;
    const QString line = message.simplified();
    return line.size() <= kStart ? line : line.left(kStart - 1) + QChar(0x2026);
}

bool EnginePage::mayShowDialog(const QUrl& origin, const QString& message) {
    if (policy_.dialogs && session_ && session_->activity().take(this, PersonActivity::Answer::Dialog)) return true;
    qCDebug(lcEngine) << "dialog answered at once: no fresh action of the person in" << url();
    refuse(WebBrowser::Refusal::Dialog, Denial::of(QString(), origin.toDisplayString(), messageStart(message)));
    return false;
}

bool EnginePage::ask(PageDialog::Kind kind, const QUrl& origin, const QString& message, const QString& value,
                     QString* result) {
    if (!mayShowDialog(origin, message)) return false;
    PageDialog dialog(kind, origin, message, value);
    const Waiting waiting(*this);
    QPointer<EnginePage> self(this);
    const std::function<bool(PageDialog&)> show = policy_.showDialog;
    const bool accepted = show && show(dialog);
    if (!self) return false;
    // The page could not take in clicks or keys while it waited for the answer: they
    // grant it no further dialog.
    if (session_) session_->activity().take(this, PersonActivity::Answer::Dialog);
    if (accepted && result) *result = dialog.value();
    return accepted;
}

void EnginePage::javaScriptAlert(const QUrl& origin, const QString& message) {
    ask(PageDialog::Kind::Alert, origin, message);
}

bool EnginePage::javaScriptConfirm(const QUrl& origin, const QString& message) {
    // The engine asks its leave-page question (a beforeunload handler's) as a confirm
    // with its own text. Only while the person leaves is such a confirm taken for it: a
    // page's own confirm with the same words gets no "yes" from this.
    static const QString leavePage = QCoreApplication::translate(
        "QWebEnginePage", "Are you sure you want to leave this page? Changes that you made may not be saved.");
    if (leaving_ && message == leavePage) {
        qCDebug(lcEngine) << "leave-page question answered \"leave\" for" << url();
        refuse(WebBrowser::Refusal::Dialog, Denial::of(QString(), origin.toDisplayString(), message));
        return true;
    }
    return ask(PageDialog::Kind::Confirm, origin, message);
}

bool EnginePage::javaScriptPrompt(const QUrl& origin, const QString& message, const QString& value, QString* result) {
    return ask(PageDialog::Kind::Prompt, origin, message, value, result);
}

QStringList EnginePage::chooseFiles(FileSelectionMode mode, const QStringList& oldFiles, const QStringList& types) {
    if (!mayShowDialog(url(), QStringLiteral("Choose a file"))) return {};
    const Waiting waiting(*this);
    return QWebEnginePage::chooseFiles(mode, oldFiles, types);
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
    const Waiting waiting(*this);
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
