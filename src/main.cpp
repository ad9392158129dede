// Tarnwick: a single-window web-browser shell that denies popup windows.

#include <QApplication>
#include <unistd.h>

#include "app/frm_main.h"
#include "platform/looks.h"
#include "platform/shell.h"
#include "platform/webengine/webengine_browser.h"
#include "platform/x11/x11_desktop_windows.h"

int main(int argc, char* argv[]) {
    // The engine's sandbox cannot run as root.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(kProgramName);
    QApplication::setWindowIcon(applicationIcon());

    X11DesktopWindows desktop;

    Platform platform;
    platform.createBrowser = [](QWidget* parent) -> WebBrowser* { return new WebEngineBrowser(parent); };
    platform.desktop = &desktop;
    platform.openUrl = shell::openUrl;
    platform.programFolder = shell::programFolder();
    platform.showOpen = shell::showOpen;
    platform.endProgram = [] { shell::endProgram(); };

    frmMain main(platform);
    main.show();
    return app.exec();
}
