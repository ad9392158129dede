#pragma once

#include <QContextMenuEvent>
#include <QWebEngineView>
#include <functional>

// The view: a right-click asks `customMenu` first; when that takes the click, the
// engine's own context menu is not shown. QWebEngineView swallows the window system's
// context-menu event and waits for the engine to ask for a menu, which the engine does
// not do everywhere (not on the empty area of a page without content), so a bound
// handler answers the window system's event itself and the engine's later request is
// dropped.
class BrowserView : public QWebEngineView {
public:
    using QWebEngineView::QWebEngineView;
    std::function<bool(const QPoint& globalPos)> customMenu;  // runs the handler when bound
    std::function<bool()> hasCustomMenu;                      // a handler is bound

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ContextMenu && customMenu &&
            customMenu(static_cast<QContextMenuEvent*>(event)->globalPos())) {
            event->accept();
            return true;
        }
        return QWebEngineView::event(event);
    }

    void contextMenuEvent(QContextMenuEvent* event) override {
        // The engine's request: ours was shown already when a handler is bound.
        if (hasCustomMenu && hasCustomMenu()) {
            event->accept();
            return;
        }
        QWebEngineView::contextMenuEvent(event);
    }
};
