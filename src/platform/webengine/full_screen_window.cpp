#include "platform/webengine/full_screen_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>

#include "platform/webengine/person_activity.h"

const QString FullScreenWindow::kLeaveNotice = QStringLiteral("Press Esc to leave full screen");

FullScreenWindow::FullScreenWindow(QWidget* area, QWebEnginePage* page, PersonActivity& activity)
    : QWidget(nullptr), area_(area), home_(area->parentWidget()), homeGeometry_(area->geometry()), page_(page),
      activity_(&activity) {
    setWindowTitle(area->window()->windowTitle());  // never a popup's title
    setWindowIcon(area->window()->windowIcon());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area);
    auto* leave = new QAction(this);
    leave->setShortcut(Qt::Key_Escape);
    leave->setShortcutContext(Qt::WindowShortcut);
    connect(leave, &QAction::triggered, this, [this] { askToLeave(); });
    addAction(leave);

    // Over the page, not part of it: the page can neither cover nor restyle it.
    notice_ = new QLabel(kLeaveNotice, this);
    notice_->setObjectName(QStringLiteral("FullScreenNotice"));
    notice_->setTextFormat(Qt::PlainText);
    notice_->setAlignment(Qt::AlignCenter);
    notice_->setStyleSheet(QStringLiteral("QLabel{background:rgba(32,32,32,220);color:white;padding:10px 18px;"
                                          "border-radius:6px;font-size:16px}"));
    notice_->adjustSize();
    // Its time counts from when it is first painted, on screen: a busy machine that takes
    // seconds to show the window does not shorten it.
    notice_->installEventFilter(this);

    showFullScreen();
    activateWindow();
    area->setFocus();
    placeNotice();
    notice_->raise();
}

FullScreenWindow::~FullScreenWindow() {
    if (!area_) return;
    area_->setParent(home_);
    area_->setGeometry(homeGeometry_);
    area_->show();
    if (home_) home_->window()->activateWindow();
    area_->setFocus();
}

void FullScreenWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    askToLeave();
}

bool FullScreenWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == notice_ && event->type() == QEvent::Paint && !noticeShown_) {
        noticeShown_ = true;
        QTimer::singleShot(kNoticeMs, notice_, &QWidget::hide);
    }
    return QWidget::eventFilter(watched, event);
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
