#pragma once

// The hosted browser's own new windows: every request of a page for a new window
// (window.open, target=_blank links and forms) opens one of these as a separate,
// decorated top-level window, titled like the original control's windows: the page's
// title followed by " - Microsoft Internet Explorer". They are the browser's windows,
// not the program's, and the window sweep finds them like any foreign window.

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWebEngineView>
#include <optional>

#include "platform/desktop/denial_record.h"
#include "platform/desktop/desktop_windows.h"

class EngineSession;
class QWebEnginePage;

class BrowserWindow : public QWebEngineView {
    Q_OBJECT
public:
    // A new window of `session` (EngineSession::openWindow), counted there while it
    // exists, shown from the event loop right after: once the engine has given the new
    // page its view. Its page keeps the policy of new windows: no script dialogs, file
    // choosers or logins, no permissions, no full screen; its own requests for new
    // windows open further windows under the same bound.
    // `opener` is the page whose request opened it, `address` what it asked to open.
    BrowserWindow(EngineSession& session, QWebEnginePage* opener, const QUrl& address = QUrl());
    ~BrowserWindow() override;

    // The page that opened the window; null once gone.
    QWebEnginePage* opener() const { return opener_; }
    // The opener of `page` when it is a window's page, else null.
    static QWebEnginePage* openerOf(const QWebEnginePage* page);

    // The address the opener asked the window to open (else the first one its page went
    // to), and the address of the page that asked, as it was then.
    QUrl requestedAddress() const { return address_; }
    QUrl openerAddress() const { return openerAddress_; }
    // The window of this process with the native id `window`, else the shown one titled
    // `title`, as a "Window" denial.
    static std::optional<Denial> denialOf(WindowId window, const QString& title);

    // The window title for a page title: "T - Microsoft Internet Explorer", or
    // "Microsoft Internet Explorer" for an empty title.
    static QString titleFor(const QString& pageTitle);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Denial denial() const;
    void applyRequestedGeometry(const QRect& geometry);
    // Shows the window with its first frame held back a moment (see the definition).
    void showHoldingFirstFrame();
    void endHold();

    QPointer<EngineSession> session_;
    QPointer<QWebEnginePage> opener_;
    QUrl address_;
    QUrl openerAddress_;
    QTimer holdTimer_;
    QPointer<QWidget> heldContent_;
    bool holding_ = false;
    bool heldExpose_ = false;
};
