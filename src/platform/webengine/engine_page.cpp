#include "platform/webengine/engine_page.h"

#include <QAuthenticator>
#include <algorithm>
#include <QCoreApplication>
#include <QDataStream>
#include <QMetaEnum>
#include <QWebEngineNewWindowRequest>
#include <QTimer>
#include <QWebEngineHistory>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineUrlScheme>

#include "platform/system/log.h"
#include "platform/system/shell.h"
#include "platform/system/text_start.h"
#include "platform/webengine/engine_download.h"
#include "platform/webengine/engine_session.h"
#include "platform/webengine/history_steps.h"
#include "platform/webengine/person_activity.h"

EnginePage::EnginePage(EngineSession& session, Policy policy, QObject* parent)
    : QWebEnginePage(session.profile(), parent), session_(&session), policy_(std::move(policy)),
      historySteps_(new HistorySteps(this, &session.activity())) {
    denyPermissions();
    // Every request for a new window, with the address it asks to open (createWindow is
    // left to the engine's default, which declines, so that the request comes here).
    connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest& request) {
        if (stillLeaving()) {
            qCDebug(lcEngine) << "window refused: the person is leaving" << url();
            return;
        }
        // A window for an address of another program's is no window of ours: the address
        // goes to that program, as from this page, or is refused.
        if (!showsItself(request.requestedUrl())) {
            mayHandOff(request.requestedUrl(), true);
            return;
        }
        if (QWebEnginePage* page = session_ ? session_->openWindow(this, request.requestedUrl()) : nullptr)
            request.openIn(page);
    });
    // The person's load done: the page left is gone.
    connect(this, &QWebEnginePage::loadFinished, this, [this] {
        if (!personPending_) leaving_ = false;
    });
    connect(this, &QWebEnginePage::urlChanged, this, [this] {
        const std::uint64_t press = session_ ? session_->activity().lastPress(this) : 0;
        if (press > addressPress_) {
            addressPress_ = press;
            addresses_ = 0;
        }
        ++addresses_;
    });
    connect(this, &QWebEnginePage::linkHovered, this, [this](const QString& url) { pointedLink_ = QUrl(url); });
    connect(this, &QWebEnginePage::authenticationRequired, this,
            [this](const QUrl& url, QAuthenticator* authenticator) { answerLogin(url, false, authenticator); });
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            [this](const QUrl&, QAuthenticator* authenticator, const QString& proxyHost) {
                answerLogin(QUrl(QStringLiteral("http://") + proxyHost), true, authenticator);
            });
}

QString EnginePage::documentStamp() const {
    // Every document the page shows stamps its history entry with the time it came, the
    // same address loaded again too; an entry the page is only on its way to has none yet.
    const QWebEngineHistory* entries = history();
    qint64 latest = 0;
    for (const QWebEngineHistoryItem& entry : entries->items())
        latest = std::max(latest, entry.lastVisited().toMSecsSinceEpoch());
    return QString::number(entries->count()) + QLatin1Char('/') + QString::number(latest);
}

bool EnginePage::stillLeaving() {
    // The document the person asked for has come: the page left is gone. The person acts
    // in the page as it shows now (the history entry they went to was in the same
    // document): they are there, not leaving it.
    if (leaving_ && ((!personPending_ && documentStamp() != passedAt_) ||
                     (session_ && session_->activity().fresh(this))))
        leaving_ = personPending_ = false;
    return leaving_;
}

void EnginePage::personLeaves() {
    leaving_ = true;
    personPending_ = true;
    crossed_ = false;
    personSteps();
    leftAt_ = documentStamp();
    mayCross_ = session_ && session_->activity().fresh(this, kEngineConsentFor);
    // Nothing the person did in the page counts any more: it gets no dialog, full screen
    // or download from it while it goes.
    if (session_) session_->activity().forget(this);
}

void EnginePage::personSteps() {
    ownSteps_ = 0;
    addresses_ = 0;
    refusedLogins_.clear();
    historySteps_->personNavigates();
}

void EnginePage::restoreHistory(const QByteArray& history) {
    restoring_ = true;
    QDataStream in(history);
    in >> *this->history();
    restoring_ = false;
}

bool EnginePage::showsItself(const QUrl& url) {
    static const QStringList web = {
        QStringLiteral("http"),       QStringLiteral("https"), QStringLiteral("file"),        QStringLiteral("data"),
        QStringLiteral("about"),      QStringLiteral("blob"),  QStringLiteral("filesystem"),  QStringLiteral("javascript"),
        QStringLiteral("view-source"), QStringLiteral("qrc"),  QStringLiteral("chrome"),      QStringLiteral("devtools")};
    const QString scheme = url.scheme().toLower();
    // Schemes registered with the engine are its own (the program's start page).
    return scheme.isEmpty() || web.contains(scheme) || !QWebEngineUrlScheme::schemeByName(scheme.toLatin1()).name().isEmpty();
}

bool EnginePage::handOff(const QUrl& url) { return shell::openUrl(url.toString(QUrl::FullyEncoded)); }

bool EnginePage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    if (!showsItself(url)) return mayHandOff(url, type == NavigationTypeLinkClicked);
    // Frames inside the page go where the page has them go; what the page shows stays.
    if (!isMainFrame) return true;
    if (restoring_) {
        qCDebug(lcEngine) << "the restored history's own load held back:" << url;
        return false;
    }
    qCDebug(lcEngine) << "navigation asked:" << type << url << "leaving" << leaving_ << "the person's pending"
                      << personPending_ << "steps" << ownSteps_;
    const bool personKind = type == NavigationTypeTyped || type == NavigationTypeBackForward ||
                            type == NavigationTypeReload;
    bool go = true;
    if (personPending_ && personKind) {
        personPending_ = false;
        passedAt_ = documentStamp();
        followOns_ = 0;
    } else {
        go = mayNavigate(url, type);
    }
    if (go) loading_ = url;
    return go;
}

bool EnginePage::mayNavigate(const QUrl& url, NavigationType type) {
    // No document came since the last navigation let through: a redirect now is part of
    // that navigation (an HTTP redirect), or a page going round past the engine's own
    // bound on those.
    const bool noneCame = documentStamp() == passedAt_;
    PersonActivity* activity = session_ ? &session_->activity() : nullptr;
    if (stillLeaving()) {
        if (personPending_ && documentStamp() != leftAt_) {
            // The person's step went to another entry of the same document, which answers
            // it (on popstate) by going elsewhere.
            return refuseNavigation(url, "the page answers the person's step in its history");
        }
        // The page being left answers the person's leave with a navigation of its own
        // (a redirect of its own too, when it had the person's click to do it with).
        if (type != NavigationTypeRedirect || (mayCross_ && noneCame)) {
            if (!crossed_ && policy_.leaveCrossed) {
                crossed_ = true;
                QTimer::singleShot(0, this, [this] { policy_.leaveCrossed(); });
            }
            return refuseNavigation(url, "the person is leaving the page");
        }
    }
    if (type == NavigationTypeRedirect && noneCame && ++followOns_ <= 20) return true;
    if (activity && !leaving_ && activity->fresh(this)) {
        // A link to another document may be followed on a fresh page (the browser's).
        const bool sameDocument =
            url.hasFragment() && url.adjusted(QUrl::RemoveFragment) == this->url().adjusted(QUrl::RemoveFragment);
        if (type == NavigationTypeLinkClicked && !sameDocument && policy_.personFollows && policy_.personFollows(url)) {
            activity->forget(this);
            return false;
        }
        // The person's click or key in the page: theirs, and the count starts anew. What
        // a download this navigation turns into is theirs too; the next document starts
        // with nothing the person did.
        personSteps();
        if (webengine::DownloadHub* hub = session_->downloads()) hub->allowFromNavigation(this, url);
    } else {
        if (lastStep_.isValid() && lastStep_.elapsed() >= std::chrono::milliseconds(kQuietFor).count()) ownSteps_ = 0;
        if (ownSteps_ >= kOwnSteps) return refuseNavigation(url, "the page went elsewhere on its own too often");
        ++ownSteps_;
        lastStep_.start();
    }
    if (activity) activity->forget(this);
    passedAt_ = documentStamp();
    followOns_ = 0;
    return true;
}

bool EnginePage::refuseNavigation(const QUrl& url, const char* why, bool wayBack) {
    qCDebug(lcEngine) << "navigation refused:" << why << url;
    // The address the page wanted, listed; offered as a way back only where the person
    // may have wanted it.
    refuse(WebBrowser::Refusal::Navigation,
           wayBack ? Denial::of(QString(), QString(), QString(), url.toString(QUrl::FullyEncoded))
                   : Denial::of(QString(), QString(), url.toDisplayString()));
    return false;
}

bool EnginePage::mayHandOff(const QUrl& url, bool clicked) {
    // The engine asks only after a click or key of the person's in the page; a script may
    // have picked the address in answer to it. The program, not the engine, starts the
    // desktop's opener, the same way as for every hand-off.
    PersonActivity* activity = session_ ? &session_->activity() : nullptr;
    if (clicked && !stillLeaving() && activity && activity->fresh(this) &&
        url == pointedLink_) {
        activity->forget(this);
        qCDebug(lcEngine) << "handed to the desktop:" << url;
        handOff(url);
        return false;
    }
    return refuseNavigation(url, "an address for another program, not the link the person clicked", true);
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
static QString messageStart(const QString& message) { return textStart(message.simplified(), 80); }

bool EnginePage::mayShowDialog(const QUrl& origin, const QString& message) {
    if (policy_.dialogs && !stillLeaving() && session_ &&
        session_->activity().take(this, PersonActivity::Answer::Dialog))
        return true;
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
    // Each refusal is a denied event like any other, listed with what was asked.
    connect(this, &QWebEnginePage::featurePermissionRequested, this, [this](const QUrl& origin, Feature feature) {
        qCDebug(lcEngine) << "permission denied:" << feature << origin;
        setFeaturePermission(origin, feature, PermissionDeniedByUser);
        refuse(WebBrowser::Refusal::Permission,
               Denial::of(QString(), origin.toDisplayString(),
                          QLatin1String(QMetaEnum::fromType<QWebEnginePage::Feature>().valueToKey(int(feature)))));
    });
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
            [this](QWebEngineRegisterProtocolHandlerRequest request) {
                request.reject();
                refuse(WebBrowser::Refusal::Permission,
                       Denial::of(QString(), request.origin().toDisplayString(),
                                  QStringLiteral("ProtocolHandler ") + request.scheme()));
            });
    connect(this, &QWebEnginePage::fileSystemAccessRequested, this, [this](QWebEngineFileSystemAccessRequest request) {
        request.reject();
        refuse(WebBrowser::Refusal::Permission,
               Denial::of(QString(), request.origin().toDisplayString(), QStringLiteral("FileSystemAccess")));
    });
    // The engine grants a page's keyboard lock (the keys the program's commands use, in
    // full screen) without asking anyone, and has no permission for it to deny: the page
    // hears "not allowed" instead, in every frame, before any script of its own runs.
    QWebEngineScript noKeyboardLock;
    noKeyboardLock.setName(QStringLiteral("tarnwick-no-keyboard-lock"));
    noKeyboardLock.setInjectionPoint(QWebEngineScript::DocumentCreation);
    noKeyboardLock.setWorldId(QWebEngineScript::MainWorld);
    noKeyboardLock.setRunsOnSubFrames(true);
    noKeyboardLock.setSourceCode(QStringLiteral(
        "if (self.Keyboard && Keyboard.prototype.lock) Object.defineProperty(Keyboard.prototype, 'lock', {"
        " value: function () {"
        "   return Promise.reject(new DOMException('Keyboard lock is not allowed', 'NotAllowedError')); }"
        "});"));
    scripts().insert(noKeyboardLock);
}

// The same scheme, host and port.
static bool sameOrigin(const QUrl& a, const QUrl& b) {
    const auto port = [](const QUrl& url) {
        const QString scheme = url.scheme();
        return url.port(scheme == QLatin1String("https") ? 443 : scheme == QLatin1String("http") ? 80 : -1);
    };
    return a.scheme() == b.scheme() && a.host() == b.host() && port(a) == port(b);
}

// A login dialog stands for the page's own site: another site's image, frame or script
// asking gets no dialog (it would pass for the page's), nor does a site whose dialog the
// person refused, in any realm, until their next step (an address, Back, Forward,
// Refresh, a link) or click or key in the page. Those are refused and counted.
void EnginePage::answerLogin(const QUrl& site, bool proxy, QAuthenticator* authenticator) {
    LoginRequest request;
    request.site = site;
    request.realm = authenticator->realm();
    request.proxy = proxy;
    const QString origin =
        site.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment).toDisplayString();
    const QString asking = (proxy ? QStringLiteral("proxy ") : QString()) + origin;
    const bool own = proxy || sameOrigin(site, url()) || sameOrigin(site, loading_);
    const bool refusedBefore = refusedLogins_.contains(asking) &&
                               !(session_ && session_->activity().take(this, PersonActivity::Answer::Dialog));
    // The prompt may run an event loop of its own; the answer is given only to a page
    // that is still there.
    const std::function<bool(LoginRequest&)> login = policy_.login;
    bool asked = false, answered = false;
    QPointer<EnginePage> self(this);
    if (login && own && !refusedBefore) {
        const Waiting waiting(*this);
        asked = true;
        answered = login(request) && self;
    }
    if (answered) {
        authenticator->setUser(request.user);
        authenticator->setPassword(request.password);
        return;
    }
    qCDebug(lcEngine) << "login refused:" << site << request.realm << (asked ? "by the person" : "at once");
    if (self && asked) {
        refusedLogins_.insert(asking);
    } else if (self && login) {
        refuse(WebBrowser::Refusal::Dialog, Denial::of(QString(), origin, QStringLiteral("Login: ") + request.realm));
    }
    // The engine hands over an authenticator that already carries the realm, so one
    // left untouched would be answered with an empty login, again and again; a null
    // one refuses: the page shows the site's refusal.
    *authenticator = QAuthenticator();
}
