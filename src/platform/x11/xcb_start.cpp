#include "platform/x11/xcb_start.h"

#include <xcb/xcb.h>

#include <QEvent>
#include <QGuiApplication>
#include <QPlatformSurfaceEvent>
#include <QWindow>
#include <optional>

#include "platform/system/log.h"

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

struct ScreenVisual {
    std::uint32_t visual = 0;
    std::uint32_t colormap = 0;
};

// The root visual and default colormap of $DISPLAY's screen; none when no X server
// answers or the root visual is not 24-bit true colour.
std::optional<ScreenVisual> defaultScreenVisual() {
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    std::optional<ScreenVisual> result;
    if (!xcb_connection_has_error(c)) {
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
        // Only a 24-bit true-colour root visual, the one Qt would otherwise pick beside it.
        if (screens.rem && screens.data->root_depth == 24) {
            for (auto depths = xcb_screen_allowed_depths_iterator(screens.data); depths.rem; xcb_depth_next(&depths)) {
                for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem; xcb_visualtype_next(&visuals)) {
                    if (visuals.data->visual_id == screens.data->root_visual &&
                        visuals.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR)
                        result = ScreenVisual{screens.data->root_visual, screens.data->default_colormap};
                }
            }
        }
    }
    xcb_disconnect(c);
    return result;
}

bool hasArgument(int argc, char* argv[], const char* name) {
    for (int i = 1; i < argc; ++i)
        if (!qstrcmp(argv[i], name) || (argv[i][0] == '-' && !qstrcmp(argv[i] + 1, name))) return true;
    return false;
}

}  // namespace

XcbStart::XcbStart(int argc, char* argv[]) : arguments_(argv, argv + argc) {
    static char platformOption[] = "-platform";
    static char xcb[] = "xcb";
    static char visualOption[] = "-visual";
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const bool userPlatform = hasArgument(argc, argv, "-platform");
    const bool chooseXcb = platform.isEmpty() && !qEnvironmentVariableIsEmpty("DISPLAY") && !userPlatform;
    const auto afterName = [&] { return arguments_.begin() + (argc > 0 ? 1 : 0); };
    if (chooseXcb) arguments_.insert(afterName(), {platformOption, xcb});
    if ((chooseXcb || (platform.startsWith("xcb") && !userPlatform)) && !hasArgument(argc, argv, "-visual") &&
        !hasArgument(argc, argv, "-display")) {
        if (const auto screen = defaultScreenVisual()) {
            visual_ = "0x" + QByteArray::number(screen->visual, 16);
            arguments_.insert(afterName(), {visualOption, visual_.data()});
            colormap_ = screen->colormap;
        }
    }
    argc_ = int(arguments_.size());
    arguments_.push_back(nullptr);
    chooseEgl_ = colormap_ && !qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION");
    if (chooseEgl_) qputenv("QT_XCB_GL_INTEGRATION", "xcb_egl");
}

void XcbStart::applicationMade(QGuiApplication& app) {
    if (chooseEgl_) qunsetenv("QT_XCB_GL_INTEGRATION");
    chooseEgl_ = false;
    if (colormap_ && QGuiApplication::platformName() == QLatin1String("xcb"))
        app.installEventFilter(new ColormapSharer(app, colormap_));
}

}  // namespace x11
