// A bare Qt WebEngine window: loads the address given as its first argument and takes
// the page's title as its window title. The reference the start-up benchmark compares
// tarnwick against. With --tarnwick-xcb first, Qt's xcb platform is set up as tarnwick
// sets it up (the screen's visual and colormap, OpenGL through EGL): what a crowded
// desktop costs any window made that way.

#include <QApplication>
#include <QUrl>
#include <QWebEngineView>
#include <optional>
#include <unistd.h>

#include "platform/x11/xcb_start.h"

int main(int argc, char* argv[]) {
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    const bool tarnwickXcb = argc > 1 && !qstrcmp(argv[1], "--tarnwick-xcb");
    if (tarnwickXcb) {
        argv[1] = argv[0];
        --argc;
        ++argv;
    }
    std::optional<x11::XcbStart> xcb;
    if (tarnwickXcb) xcb.emplace(argc, argv);
    QApplication app(xcb ? xcb->argc() : argc, xcb ? xcb->argv() : argv);
    if (xcb) xcb->applicationMade(app);
    if (argc < 2) return 2;
    QWebEngineView view;
    QObject::connect(&view, &QWebEngineView::titleChanged, &view, &QWidget::setWindowTitle);
    view.resize(660, 450);
    view.load(QUrl::fromUserInput(QString::fromLocal8Bit(argv[1])));
    view.show();
    return app.exec();
}
