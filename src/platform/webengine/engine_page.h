#pragma once

// The page policy, one for every page the program shows: the main browser's page and the
// pages of the windows it opens. Every request for a new window (window.open,
// target=_blank links and forms) opens one of the session's windows, under its bound;
// every permission a page asks for (notifications, location, camera, microphone, screen
// sharing, pointer lock, keyboard lock, protocol handlers, file system access) is denied
// without asking the person: the page sees "denied". A login dialog is asked for the
// page's own site only, and no more once the person has refused it, until their next
// step. What differs between the pages is the Policy.
//
// Where the page goes is the person's: a page that goes elsewhere or loads itself again
// on its own (script, a refresh in its markup, a chain of pages doing so) gets a few such
// steps in a row, then its next one is refused, and the last page stays. Steps are
// counted, not timed: the count starts again only at the person's own action (their
// address, Back, Forward, Refresh, a click or key in the page) or after the page has
// kept still for kQuietFor. Once the person leaves, the page being left starts nothing
// more: no navigation, window or dialog.
//
// An address the engine does not show itself (mailto:, a chat's or a game store's own
// scheme) starts another program, the one the desktop has for it: only the link the
// person clicks goes there. A page's script that answers a click anywhere in it with such
// an address of its own choosing is refused, and the address is listed with the denials,
// where the person can still open it.

#include <QElapsedTimer>
#include <QPointer>
#include <QSet>
#include <QWebEnginePage>
#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/web_browser.h"

class QAuthenticator;
class EngineSession;
class HistorySteps;

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
        // The page being left started a navigation of its own, which was refused; the
        // engine may have dropped the person's navigation for it, to be carried out anew.
        std::function<void()> leaveCrossed;
        // The person follows a link in the page with their click or key. Returns true
        // when the browser carries the navigation out itself (on a fresh page): the page's
        // own goes no further.
        std::function<bool(const QUrl& url)> personFollows;
    };

    // How many navigations in a row a page may start on its own.
    static constexpr int kOwnSteps = 5;
    // A page that has not navigated on its own for this long starts its count anew (a
    // page that refreshes itself every half minute keeps refreshing).
    static constexpr std::chrono::seconds kQuietFor{10};
    // For how long after the person's click or key the engine lets the page's own
    // navigation take the place of one the person asked for: the engine's 5 s, counted
    // from when its renderer got the input, with room for a busy machine.
    static constexpr std::chrono::seconds kEngineConsentFor{10};

    EnginePage(EngineSession& session, Policy policy, QObject* parent);

    // Whether the engine shows `url` itself (the web's schemes, files, the program's own
    // pages); any other address is for another program of the desktop's.
    static bool showsItself(const QUrl& url);
    // Hands `url`, one the engine does not show, to the desktop's program for it.
    static bool handOff(const QUrl& url);

    // The person leaves the page (another address, Back, Forward, Refresh): the page's
    // question whether to leave (its beforeunload handler) is answered "leave" at once,
    // never shown, and the page starts nothing more (navigation, window, dialog, download)
    // until the load the person asked for is done. Leaving is the person's answer. The
    // next navigation of the person's kind (an address, a history entry, a reload) is
    // theirs.
    void personLeaves();

    // Takes over `history`, the engine's serialized history of a page this one replaces.
    // The engine would load its current entry again on its own; that load is held back,
    // since what the person asked for comes next.
    void restoreHistory(const QByteArray& history);

    // Back and Forward for the person.
    HistorySteps& historySteps() const { return *historySteps_; }

    // Whether the address shown is one for the person's history: the one of the person's
    // last action (their step, or a click or key in the page) and the first kOwnSteps
    // the page gave itself after it (as many as its own navigations), not those after (a
    // page giving itself a new address every few milliseconds with history.replaceState,
    // or going round on its own overnight).
    bool addressKept() const { return addresses_ <= 1 + kOwnSteps; }

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
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

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
    // Tells one document the page showed from the next.
    QString documentStamp() const;
    // Whether the person is still leaving the page.
    bool stillLeaving();
    // The person's own step (theirs, or their click or key in the page): the page's own
    // steps, its history entries and the logins refused count from here anew.
    void personSteps();
    // Whether the page's own navigation may go on; a refusal is reported.
    bool mayNavigate(const QUrl& url, NavigationType type);
    bool refuseNavigation(const QUrl& url, const char* why, bool wayBack = false);
    // Whether an address for another program goes there; see the top of this file.
    // `clicked`: the engine reports a link followed (a script's address after a click too).
    bool mayHandOff(const QUrl& url, bool clicked);

    bool leaving_ = false;         // from the person's leave until their load is done
    bool restoring_ = false;       // restoreHistory() is running
    bool personPending_ = false;   // the person's own navigation is yet to come
    bool crossed_ = false;         // the page being left tried to go elsewhere
    bool mayCross_ = false;        // the page being left had the person's input lately
    int ownSteps_ = 0;                // navigations the page started on its own, in a row
    int followOns_ = 0;            // redirects taken for part of the navigation before
    int addresses_ = 0;            // addresses shown since the person's last action
    std::uint64_t addressPress_ = 0;  // the person's press they were counted from
    HistorySteps* historySteps_;
    QString passedAt_;             // documentStamp() when the last navigation was let through
    QString leftAt_;               // and when the person left
    QElapsedTimer lastStep_;
    QUrl pointedLink_;             // the link under the pointer, as the engine reports it
    QUrl loading_;                 // the main frame's last navigation let through
    QSet<QString> refusedLogins_;  // the sites whose login the person refused since their last step
    int waits_ = 0;  // calls of the engine waiting for the person, nested

    // Counts one such call while it runs.
    struct Waiting {
        explicit Waiting(EnginePage& page) : page(page) { ++page.waits_; }
        ~Waiting() { --page.waits_; }
        EnginePage& page;
    };
};
