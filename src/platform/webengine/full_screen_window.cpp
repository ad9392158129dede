#include "platform/webengine/full_screen_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>

FullScreenWindow::FullScreenWindow(QWebEngineView* home, QWebEnginePage* page)
    : QWidget(nullptr), home_(home), page_(page) {
    setWindowTitle(home->window()->windowTitle());  // never a popup's title
    setWindowIcon(home->window()->windowIcon());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new QWebEngineView(this);
    layout->addWidget(view_);
    auto* leave = new QAction(this);
    leave->setShortcut(Qt::Key_Escape);
    leave->setShortcutContext(Qt::WindowShortcut);
    connect(leave, &QAction::triggered, this, [this] { askToLeave(); });
    addAction(leave);
    view_->setPage(page);
    showFullScreen();
    activateWindow();
    view_->setFocus();
}

FullScreenWindow::~FullScreenWindow() {
    if (home_ && page_) home_->setPage(page_);
    if (home_) {
        home_->window()->activateWindow();
        home_->setFocus();
    }
}

void FullScreenWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    askToLeave();
}

void FullScreenWindow::askToLeave() {
    if (page_) page_->triggerAction(QWebEnginePage::ExitFullScreen);
}
