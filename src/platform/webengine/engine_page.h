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
        // Script dialogs (alert, confirm, prompt) and file choosers may show, each only
        // in answer to a fresh action of the person in the page (PersonActivity);
        // otherwise each is answered at once as cancelled, so that a window the program
        // did not ask for, or a page looping dialogs, never holds the person.
        bool dialogs = true;
        // Shows a script dialog and returns once it is answered or withdrawn, with
        // whether it was accepted; the page waits meanwhile. Without it every script
        // dialog is answered as cancelled.
        std::function<bool(PageDialog& dialog)> showDialog;
        // The page's console messages go to the engine's log.
        bool consoleMessages = true;
        // Answers a login request (HTTP or proxy): fills in the user name and password
        // and returns true, or returns false to refuse. Without it every login is
        // refused. Either way a refusal shows the site's own refusal page.
        std::function<bool(LoginRequest& request)> login;
        // Told of every dialog (and whatever else) refused to the page for want of a
        // fresh action of the person.
        std::function<void(WebBrowser::Refusal what, const Denial& details)> refused;
    };

    EnginePage(EngineSession& session, Policy policy, QObject* parent);

    // The person leaves the page (another address, Back, Forward, Refresh): the page's
    // question whether to leave (its beforeunload handler) is answered "leave" at once,
    // never shown, until the next load starts. Leaving is the person's answer.
    void personLeaves() { leaving_ = true; }

    // The engine's call into the page that waits for the person (a dialog, a file chooser,
    // a login) is running: the page must not be deleted now.
    bool waitingForPerson() const { return waits_ > 0; }

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int line,
                                  const QString& source) override;
    void javaScriptAlert(const QUrl& origin, const QString& message) override;
    bool javaScriptConfirm(const QUrl& origin, const QString& message) override;
    bool javaScriptPrompt(const QUrl& origin, const QString& message, const QString& value, QString* result) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles, const QStringList& types) override;

private:
    // Whether the page may show a dialog now; a refusal is reported.
    bool mayShowDialog(const QUrl& origin, const QString& message);
    // A script dialog: shown when it may be, else answered at once as cancelled.
    bool ask(PageDialog::Kind kind, const QUrl& origin, const QString& message, const QString& value = QString(),
             QString* result = nullptr);
    void refuse(WebBrowser::Refusal what, const Denial& details = Denial());
    void denyPermissions();
    void answerLogin(const QUrl& site, bool proxy, QAuthenticator* authenticator);

    QPointer<EngineSession> session_;
    Policy policy_;
    bool leaving_ = false;
    int waits_ = 0;  // calls of the engine waiting for the person, nested

    // Counts one such call while it runs.
    struct Waiting {
        explicit Waiting(EnginePage& page) : page(page) { ++page.waits_; }
        ~Waiting() { --page.waits_; }
        EnginePage& page;
    };
};
