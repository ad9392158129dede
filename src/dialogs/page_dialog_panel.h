#pragma once

// A page's script dialog (alert, confirm, prompt) as a panel over the top of the
// browser's area, not a window: the address box, the menus, the window's commands and
// its close box stay usable while it shows. It names the page's origin ("host:port
// says"). Enter answers OK, Esc cancels (an alert has only OK). It goes when the dialog
// is answered or withdrawn.

#include <QDialog>
#include <QPointer>

#include "platform/web_browser.h"

class QLabel;
class QLineEdit;

class PageDialogPanel : public QDialog {
    Q_OBJECT
public:
    // Shows `dialog` over `browser` (a widget inside a window), taking the keyboard.
    static void show(QWidget* browser, PageDialog* dialog);

    // The line saying who asks: "127.0.0.1:8080 says", or "This page says" for a page
    // without a host (a file).
    static QString askerText(const QUrl& origin);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;

private:
    PageDialogPanel(QWidget* browser, PageDialog* dialog);
    void place();
    void takeAway();

    QPointer<QWidget> browser_;
    QPointer<PageDialog> dialog_;
    QLineEdit* edit_ = nullptr;  // a prompt's text
};
