#include "platform/webengine/full_screen_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "platform/webengine/person_activity.h"

const QString FullScreenWindow::kLeaveNotice = QStringLiteral("Press Esc to leave full screen");

FullScreenWindow::FullScreenWindow(QWebEngineView* home, QWebEnginePage* page, PersonActivity& activity)
    : QWidget(nullptr), home_(home), page_(page), activity_(&activity) {
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
    activity.watch(view_);

    // Over the page, not part of it: the page cannot cover or restyle it.
    notice_ = new QLabel(kLeaveNotice, this);
    notice_->setObjectName(QStringLiteral("FullScreenNotice"));
    notice_->setTextFormat(Qt::PlainText);
    notice_->setAlignment(Qt::AlignCenter);
    notice_->setStyleSheet(QStringLiteral("QLabel{background:rgba(32,32,32,220);color:white;padding:10px 18px;"
                                          "border-radius:6px;font-size:16px}"));
    notice_->adjustSize();
    QTimer::singleShot(kNoticeMs, notice_, &QWidget::hide);

    showFullScreen();
    activateWindow();
    view_->setFocus();
    placeNotice();
    notice_->raise();
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

void FullScreenWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeNotice();
}

void FullScreenWindow::placeNotice() {
    if (notice_) notice_->move((width() - notice_->width()) / 2, 24);
}

void FullScreenWindow::askToLeave() {
    if (!page_) return;
    // The person left: a page that asks again at once, or at their next key, stays out.
    if (activity_) activity_->requireClick(page_, PersonActivity::Answer::FullScreen);
    page_->triggerAction(QWebEnginePage::ExitFullScreen);
}
