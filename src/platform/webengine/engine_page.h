#pragma once

// The page policy, one for every page the program shows: the main browser's page and the
// pages of the windows it opens. Every request for a new window (window.open,
// target=_blank links and forms) opens one of the session's windows, under its bound;
// every permission a page asks for (notifications, location, camera, microphone, screen
// sharing, pointer lock, protocol handlers, file system access) is denied without asking
// the person: the page sees "denied". What differs between the pages is the Policy.

#include <QPointer>
#include <QWebEnginePage>
#include <functional>

#include "platform/web_browser.h"

class QAuthenticator;
class EngineSession;

class EnginePage : public QWebEnginePage {
    Q_OBJECT
public:
    struct Policy {
        // Script dialogs (alert, confirm, prompt) and file choosers show, as the engine
        // shows them (modal, dismissible); otherwise each is answered at once as
        // cancelled, so that a window the program did not ask for never holds it in a
        // modal dialog.
        bool dialogs = true;
        // The page's console messages go to the engine's log.
        bool consoleMessages = true;
        // Answers a login request (HTTP or proxy): fills in the user name and password
        // and returns true, or returns false to refuse. Without it every login is
        // refused. Either way a refusal shows the site's own refusal page.
        std::function<bool(LoginRequest& request)> login;
    };

    EnginePage(EngineSession& session, Policy policy, QObject* parent);

protected:
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override;
    void javaScriptAlert(const QUrl& origin, const QString& message) override;
    bool javaScriptConfirm(const QUrl& origin, const QString& message) override;
    bool javaScriptPrompt(const QUrl& origin, const QString& message, const QString& value, QString* result) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles, const QStringList& types) override;

private:
    void denyPermissions();
    void answerLogin(const QUrl& site, bool proxy, QAuthenticator* authenticator);

    QPointer<EngineSession> session_;
    Policy policy_;
};
