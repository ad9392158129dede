#include "platform/webengine/hover_status.h"

#include <QCursor>
#include <QMouseEvent>
#include <QWebEngineView>

HoverStatus::HoverStatus(QWebEngineView* view, QObject* parent) : QObject(parent), view_(view) {}

void HoverStatus::linkHovered(const QString& url) {
    watchPointer();
    const bool focusLost = view_ && !view_->window()->isActiveWindow();
    if (url.isEmpty() && !text_.isEmpty() && focusLost && QCursor::pos() == pointer_) {
        clearPending_ = true;
        return;
    }
    clearPending_ = false;
    if (!url.isEmpty()) pointer_ = QCursor::pos();
    text_ = url;
    emit changed(url);
}

void HoverStatus::loadStarted() { releasePendingClear(); }

void HoverStatus::releasePendingClear() {
    if (!clearPending_) return;
    clearPending_ = false;
    text_.clear();
    emit changed(QString());
}

void HoverStatus::watchPointer() {
    QWidget* surface = view_ ? view_->focusProxy() : nullptr;
    if (surface && surface != pointerSurface_) {
        surface->installEventFilter(this);
        pointerSurface_ = surface;
    }
}

bool HoverStatus::eventFilter(QObject* watched, QEvent* event) {
    if (clearPending_ && watched == pointerSurface_) {
        if (event->type() == QEvent::Leave ||
            (event->type() == QEvent::MouseMove &&
             static_cast<QMouseEvent*>(event)->globalPosition().toPoint() != pointer_))
            releasePendingClear();
    }
    return QObject::eventFilter(watched, event);
}
