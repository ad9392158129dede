#pragma once

// What the program calls on its hosted web browser and on the browser's current HTML
// document, and nothing more. The real implementation sits on Qt WebEngine
// (platform/webengine/); tests use a scriptable fake.

#include <QObject>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/desktop/denial_record.h"
#include "platform/desktop/desktop_windows.h"

class QWidget;

// The browser's current top-level HTML document.
class HtmlDocument {
public:
    virtual ~HtmlDocument() = default;

    // Runs one of the document's own commands: "copy", "paste", "print", "saveas" or
    // "refresh". Returns false when the command could not be carried out.
    virtual bool execCommand(const QString& command) = 0;

    // Reads the markup inside the root element (documentElement.innerHTML). The answer
    // may come later; `done` receives std::nullopt when the document has no root element
    // or the markup cannot be read. `done` is never called after the document is gone.
    virtual void documentElementInnerHTML(std::function<void(std::optional<QString>)> done) = 0;

    // The document's context-menu event. Called on a right-click in the page while this
    // document is bound; its result tells whether the page's own menu may show. Without
    // a handler the page's own menu shows.
    std::function<bool()> oncontextmenu;
};

// A file a page gave the browser to download (a link, a `download` attribute, a response
// the browser cannot show), from the main page or any window the browser opened. The
// browser starts receiving it at once into a temporary file beside `proposedPath` (named
// "<file name>.part"); the file gets its final name only once it is complete and
// accepted. A cancelled or failed download leaves nothing behind.
class Download : public QObject {
    Q_OBJECT
public:
    enum class State { Asking, Running, Completed, Cancelled, Failed };
    using QObject::QObject;
    ~Download() override = default;

    // The server's file name in the user's download folder.
    virtual QString proposedPath() const = 0;
    // Where the file goes once complete: empty until accepted, then the accepted path
    // (or a free name beside it when a file appeared there meanwhile).
    virtual QString path() const = 0;
    virtual State state() const = 0;
    virtual qint64 receivedBytes() const = 0;
    // The full size, -1 while unknown.
    virtual qint64 totalBytes() const = 0;

    // Keeps the download under `path` once complete. A file already at `path` is
    // replaced: the caller has asked the user. Only while asking.
    virtual void accept(const QString& path) = 0;
    // Stops the download and removes what was received. Nothing once it has ended.
    virtual void cancel() = 0;

signals:
    // The state or the received bytes changed.
    void Changed();
};

// A site or a proxy asks for a user name and password (HTTP authentication).
struct LoginRequest {
    QUrl site;           // the address that asked
    QString realm;       // the realm the server named
    bool proxy = false;  // a proxy asked (then `site` names the proxy host)
    QString user;        // filled in by the answer
    QString password;
};

// A page's script dialog (alert, confirm, prompt) for the person to answer, asked in
// answer to their own click or key in the page. It belongs to the page, not to the
// program: whoever shows it keeps the rest of the program usable, and shows the page's
// origin with it. The browser withdraws it, answered as cancelled, as soon as the person
// acts elsewhere (another address, Back, Forward, Stop, Refresh, the program's end) or
// the page's renderer ends.
class PageDialog : public QObject {
    Q_OBJECT
public:
    enum class Kind { Alert, Confirm, Prompt };
    PageDialog(Kind kind, const QUrl& origin, const QString& message, const QString& value = QString())
        : kind_(kind), origin_(origin), message_(message), value_(value) {}

    Kind kind() const { return kind_; }
    // The security origin of the page that asks ("http://host:port").
    QUrl origin() const { return origin_; }
    QString message() const { return message_; }
    // A prompt's text: what the page proposes, then what the person answered.
    QString value() const { return value_; }
    bool closed() const { return closed_; }
    bool accepted() const { return accepted_; }

    // The answer: OK (with a prompt's text) or cancelled. Only the first one counts.
    void answer(bool accepted, const QString& value = QString()) {
        if (closed_) return;
        closed_ = true;
        accepted_ = accepted;
        if (accepted && kind_ == Kind::Prompt) value_ = value;
        emit Closed();
    }

signals:
    // Answered, or withdrawn: whatever shows the dialog takes it away. The dialog object
    // itself goes right after.
    void Closed();

private:
    Kind kind_;
    QUrl origin_;
    QString message_;
    QString value_;
    bool closed_ = false;
    bool accepted_ = false;
};

class WebBrowser : public QObject {
    Q_OBJECT
public:
    // What a page may ask for only in answer to the person's own click or key in it. A
    // Navigation is a page going elsewhere (or loading itself again) on its own once it
    // has done so a few times in a row, or while the person is leaving it.
    enum class Refusal { Dialog, FullScreen, Download, Navigation, Permission };
    Q_ENUM(Refusal)

    using QObject::QObject;
    ~WebBrowser() override = default;

    // The widget to place and size inside the main window.
    virtual QWidget* widget() = 0;

    // Each returns false when the browser refused or could not do it.
    virtual bool Navigate(const QString& address) = 0;
    virtual bool GoBack() = 0;
    virtual bool GoForward() = 0;
    virtual bool Stop() = 0;
    virtual bool Refresh() = 0;

    // 0 uninitialized, 1 loading, 2 loaded, 3 interactive, 4 complete.
    virtual int ReadyState() const = 0;
    virtual QString LocationName() const = 0;
    virtual QString LocationURL() const = 0;
    // Whether LocationURL is an address for the person's history: not when a page gave
    // it to itself, past the first few since the person's last action.
    virtual bool LocationForHistory() const { return true; }

    // The current top-level document, or nullptr when there is none or it is not HTML
    // (binding fails).
    virtual std::shared_ptr<HtmlDocument> Document() = 0;

    // Zooms the page one step larger (`step` > 0) or smaller (< 0) along the usual zoom
    // levels, or back to 100 % (0). False when there is no further level.
    virtual bool Zoom(int step) = 0;

    // Finds `text` in the page, forward or `backward` from the current match, and
    // highlights every match; the empty text ends the search. `found` receives the
    // active match (1-based, 0 for none) and the number of matches, possibly later.
    virtual void FindText(const QString& text, bool backward, std::function<void(int active, int count)> found) = 0;

    // How many windows have been denied so far: the program's own start page shows it.
    std::function<std::int64_t()> deniedCount;

    // Answers a login request of the browser's own page: fills in the user name and the
    // password and returns true, or returns false to refuse (the page then shows the
    // site's own refusal). Runs while the page waits; without it every request is
    // refused. Windows the browser opened never ask.
    std::function<bool(LoginRequest& request)> loginPrompt;

    // Shows a page's dialog to the person inside the browser's area, without holding the
    // rest of the program, and answers it (PageDialog::answer) when the person does; the
    // dialog is to go at PageDialog::Closed. Runs while the page waits. Without it every
    // dialog is answered as cancelled.
    std::function<void(PageDialog* dialog)> showDialog;

    // A window the browser opened for a page (window.open, target=_blank): the address
    // the page asked it to open, the page that asked and the window's title, as a
    // "Window" denial. Nothing for any other window. The window is known by its id on
    // the desktop, else (a desktop whose ids are not the windows' own) by its `title`.
    virtual std::optional<Denial> newWindowOf(WindowId window, const QString& title) {
        (void)window;
        (void)title;
        return std::nullopt;
    }

signals:
    void StatusTextChange(const QString& text);
    void ProgressChange(int progress, int progressMax);
    void TitleChange(const QString& title);
    void DocumentComplete(const QString& url);
    // A download started; the receiver asks where to keep it (Download::accept) or drops
    // it (Download::cancel). The download belongs to the browser.
    void DownloadRequested(Download* download);
    // The browser refused a page one thing it asked for without a fresh action of the
    // person in that page (on load, from a timer, the next round of a loop): a script
    // dialog answered at once as cancelled, full screen, a download, a navigation. One signal per
    // refusal; the program counts each as a denied event. `details` tells where it came
    // from (its kind may be left empty: it is `what`).
    void Refused(WebBrowser::Refusal what, const Denial& details = Denial());
};
