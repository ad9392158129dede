#include "platform/x11/shared_colormap.h"

#include <xcb/xcb.h>

#include <QEvent>
#include <QGuiApplication>
#include <QPlatformSurfaceEvent>
#include <QWindow>

#include "platform/log.h"

namespace x11 {

namespace {

// Gives each top-level window the colormap as soon as Qt has made it: before it is shown,
// so that the window manager finds it there when it takes the window in.
class ColormapSharer : public QObject {
public:
    ColormapSharer(QGuiApplication& app, std::uint32_t colormap) : QObject(&app), colormap_(colormap) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::PlatformSurface ||
            static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() != QPlatformSurfaceEvent::SurfaceCreated)
            return false;
        auto* window = qobject_cast<QWindow*>(watched);
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        if (!window || !window->isTopLevel() || !x11) return false;
        // On Qt's own connection, so that the server takes it after the window's creation.
        xcb_change_window_attributes(x11->connection(), xcb_window_t(window->winId()), XCB_CW_COLORMAP, &colormap_);
        qCDebug(lcX11) << "window" << window->winId() << "shares the default colormap";
        return false;
    }

private:
    std::uint32_t colormap_;
};

}  // namespace

std::optional<ScreenVisual> defaultScreenVisual() {
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    std::optional<ScreenVisual> result;
    if (!xcb_connection_has_error(c)) {
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
        if (screens.rem) result = ScreenVisual{screens.data->root_visual, screens.data->default_colormap};
    }
    xcb_disconnect(c);
    return result;
}

void shareColormap(QGuiApplication& app, std::uint32_t colormap) {
    app.installEventFilter(new ColormapSharer(app, colormap));
}

}  // namespace x11
