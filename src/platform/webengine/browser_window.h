#pragma once

// The hosted browser's own new windows: every request of a page for a new window
// (window.open, target=_blank links and forms) opens one of these as a separate,
// decorated top-level window, titled like the original control's windows: the page's
// title followed by " - Microsoft Internet Explorer". They are the browser's windows,
// not the program's, and the window sweep finds them like any foreign window.

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWebEngineView>

class EngineSession;

class BrowserWindow : public QWebEngineView {
    Q_OBJECT
public:
    // A new window of `session` (EngineSession::openWindow), counted there while it
    // exists, shown from the event loop right after: once the engine has given the new
    // page its view. Its page keeps the policy of new windows: no script dialogs, file
    // choosers or logins, no permissions, no full screen; its own requests for new
    // windows open further windows under the same bound.
    explicit BrowserWindow(EngineSession& session);
    ~BrowserWindow() override;

    // The window title for a page title: "T - Microsoft Internet Explorer", or
    // "Microsoft Internet Explorer" for an empty title.
    static QString titleFor(const QString& pageTitle);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyRequestedGeometry(const QRect& geometry);
    // Shows the window with its first frame held back a moment (see the definition).
    void showHoldingFirstFrame();
    void endHold();

    QPointer<EngineSession> session_;
    QTimer holdTimer_;
    QPointer<QWidget> heldContent_;
    bool holding_ = false;
    bool heldExpose_ = false;
};
