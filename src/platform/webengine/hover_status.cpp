#include "platform/webengine/hover_status.h"

#include <QCursor>
#include <QMouseEvent>
#include <QWebEngineView>

HoverStatus::HoverStatus(QWebEngineView* view, QObject* parent) : QObject(parent), view_(view) {}

void HoverStatus::linkHovered(const QString& url) {
    watchPointer();
    if (url.isEmpty() && !text_.isEmpty() && covered() && QCursor::pos() == pointer_) {
        clearPending_ = true;
        return;
    }
    clearPending_ = false;
    if (!url.isEmpty()) pointer_ = QCursor::pos();
    text_ = url;
    emit changed(url);
}

// The view no longer has the person's pointer or keyboard without the pointer moving: a
// window took the focus, or came up under the pointer.
bool HoverStatus::covered() const {
    if (!view_) return false;
    return !view_->window()->isActiveWindow() || (pointerSurface_ && !pointerSurface_->underMouse());
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
    const QEvent::Type type = event->type();
    if (watched == pointerSurface_ && (type == QEvent::Leave || type == QEvent::MouseMove)) {
        // Where the pointer rests now: a window that comes up under it makes the view's
        // pointer leave, the pointer itself stays.
        const QPoint at = type == QEvent::MouseMove ? static_cast<QMouseEvent*>(event)->globalPosition().toPoint()
                                                    : QCursor::pos();
        if (clearPending_ && at != pointer_)
            releasePendingClear();
        else if (!clearPending_ && !text_.isEmpty() && type == QEvent::MouseMove)
            pointer_ = at;  // still over the link the engine reported
    }
    return QObject::eventFilter(watched, event);
}
