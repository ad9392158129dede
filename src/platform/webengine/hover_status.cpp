#include "platform/webengine/hover_status.h"

#include <QCursor>
#include <QMouseEvent>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

HoverStatus::HoverStatus(QWebEngineView* view, QObject* parent) : QObject(parent), view_(view) {}

void HoverStatus::linkHovered(const QString& url) {
    watchPointer();
    ++reports_;
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

// The engine reports a link only when it differs from the last one it reported, and it
// forgets the report itself (at a load, or when the pointer leaves the view): the same
// link is then never reported again while the pointer comes back onto it from outside the
// view, or rests on it as its page loads again. Whenever that can be, the page is asked.
void HoverStatus::askPage() {
    watchPointer();
    QWebEnginePage* page = view_ ? view_->page() : nullptr;
    if (!page || !text_.isEmpty() || !pointerSurface_ || !pointerSurface_->underMouse()) return;
    const QPoint at = QCursor::pos();
    const QPointF css = QPointF(view_->mapFromGlobal(at)) / page->zoomFactor();
    const quint64 reports = reports_;
    QPointer<HoverStatus> self(this);
    page->runJavaScript(QStringLiteral("(function () { var e = document.elementFromPoint(%1, %2);"
                                       " e = e && e.closest('a[href]'); return e ? e.href : ''; })()")
                            .arg(css.x())
                            .arg(css.y()),
                        QWebEngineScript::ApplicationWorld, [self, at, reports](const QVariant& link) {
                            const QString url = link.toString();
                            // Only while nothing was reported since, and the pointer rests there.
                            if (!self || url.isEmpty() || self->reports_ != reports || QCursor::pos() != at) return;
                            self->clearPending_ = false;
                            self->pointer_ = at;
                            self->text_ = url;
                            emit self->changed(url);
                        });
}

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
    if (watched == pointerSurface_ && type == QEvent::Enter) askPage();
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
