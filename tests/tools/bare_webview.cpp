// A bare Qt WebEngine window: loads the address given as its first argument and takes
// the page's title as its window title. The reference the start-up benchmark compares
// tarnwick against.

#include <QApplication>
#include <QUrl>
#include <QWebEngineView>
#include <unistd.h>

int main(int argc, char* argv[]) {
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc < 2) return 2;
    QWebEngineView view;
    QObject::connect(&view, &QWebEngineView::titleChanged, &view, &QWidget::setWindowTitle);
    view.resize(660, 450);
    view.load(QUrl::fromUserInput(QString::fromLocal8Bit(argv[1])));
    view.show();
    return app.exec();
}
