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

class BrowserWindow : public QWebEngineView {
    Q_OBJECT
public:
    // At most this many windows are open at once. Once the bound is reached, further
    // requests get a window that is closed at once and never shown, until windows
    // close. Each window costs about 25 MB (view, page, backing store), so a page
    // calling window.open in a loop would otherwise exhaust the machine.
    static constexpr int kMaxOpen = 64;

    // Opens a new window, shown from the event loop right after, and returns its page,
    // for the engine to load the requested document into; while kMaxOpen windows are
    // open, a page that is dropped at once and shows nothing.
    static QWebEnginePage* open();

    // How many of these windows exist now.
    static int openCount();

    // The window title for a page title: "T - Microsoft Internet Explorer", or
    // "Microsoft Internet Explorer" for an empty title.
    static QString titleFor(const QString& pageTitle);

    ~BrowserWindow() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    BrowserWindow();
    void applyRequestedGeometry(const QRect& geometry);
    // Shows the window with its first frame held back a moment (see the definition).
    void showHoldingFirstFrame();
    void endHold();

    QTimer holdTimer_;
    QPointer<QWidget> heldContent_;
    bool holding_ = false;
    bool heldExpose_ = false;
};
