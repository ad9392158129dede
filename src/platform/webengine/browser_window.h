#pragma once

// The hosted browser's own new windows: every request of a page for a new window
// (window.open, target=_blank links and forms) opens one of these as a separate,
// decorated top-level window, titled like the original control's windows: the page's
// title followed by " - Microsoft Internet Explorer". They are the browser's windows,
// not the program's, and the window sweep finds them like any foreign window.

#include <QString>
#include <QWebEngineView>

class BrowserWindow : public QWebEngineView {
    Q_OBJECT
public:
    // At most this many windows are open at once. A page that calls window.open in a
    // loop gets null from window.open once the bound is reached, until windows close;
    // each window costs a view and a page (several MB), so an unbounded loop would
    // exhaust the machine.
    static constexpr int kMaxOpen = 64;

    // Opens and shows a new window and returns its page, for the engine to load the
    // requested document into; nullptr while kMaxOpen windows are open.
    static QWebEnginePage* open();

    // How many of these windows exist now.
    static int openCount();

    // The window title for a page title: "T - Microsoft Internet Explorer", or
    // "Microsoft Internet Explorer" for an empty title.
    static QString titleFor(const QString& pageTitle);

    ~BrowserWindow() override;

private:
    BrowserWindow();
    void applyRequestedGeometry(const QRect& geometry);
};
