// Tarnwick: a single-window web-browser shell that denies popup windows.

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

#include "app/frm_main.h"
#include "platform/looks.h"
#include "dialogs/frm_downloads.h"
#include "dialogs/frm_login.h"
#include "platform/shell.h"
#include "platform/webengine/engine_profile.h"
#include "platform/wayland/wayland_desktop_windows.h"
#include "platform/webengine/webengine_browser.h"
#include "platform/x11/x11_desktop_windows.h"

namespace {

// How long the engine may take, after every window is gone, to write out the stores it
// keeps in memory (cookies, local storage) before the process ends regardless.
constexpr auto kEngineShutdownBound = std::chrono::milliseconds(600);

// Once the program ends, no user input or timer reaches it any more.
class EndedFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Timer:
            return qobject_cast<QTimer*>(watched) != nullptr;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::Wheel:
        case QEvent::Close:
        case QEvent::ContextMenu:
            return true;
        default:
            return false;
        }
    }
};

// Ending: for the person it is over at once (every window goes), and the process exits
// within kEngineShutdownBound. Meanwhile main() ends the engine's profile cleanly.
void endProgram() {
    static bool ended = false;
    if (ended) return;
    ended = true;
    std::thread([] {
        std::this_thread::sleep_for(kEngineShutdownBound);
        ::_exit(0);
    }).detach();
    qApp->installEventFilter(new EndedFilter(qApp));
    for (QWidget* window : QApplication::topLevelWidgets()) window->hide();
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        if (x11->connection()) xcb_flush(x11->connection());
    QCoreApplication::exit(0);
}

// What the browser's page needs from the person, in the program's windows: where to keep
// a download (and the downloads window), and logins.
void connectBrowser(WebEngineBrowser* browser, QWidget* window, const Platform& platform) {
    browser->loginPrompt = [window](LoginRequest& request) { return frmLogin::ask(window, request); };
    auto downloads = std::make_shared<QPointer<frmDownloads>>();
    auto session = std::make_shared<std::vector<QPointer<Download>>>();
    auto openUrl = platform.openUrl;
    QObject::connect(browser, &WebBrowser::DownloadRequested, window, [=](Download* download) {
        askWhereToSave(window, download, [=](Download* accepted) {
            session->push_back(accepted);
            if (!*downloads) {
                *downloads = new frmDownloads(openUrl);
                for (const QPointer<Download>& earlier : *session)
                    if (earlier) (*downloads)->add(earlier);
            }
            (*downloads)->add(accepted);
            (*downloads)->show();
            (*downloads)->raise();
        });
    });
}

// The sweep watches the desktop over X11, and the program's own popups are among the
// windows it closes only while they are X11 windows too. Qt would pick its Wayland platform
// on a Wayland desktop, so with an X display at hand the xcb platform is asked for in the
// arguments: QT_QPA_PLATFORM stays untouched for every program started later (the default
// browser). A platform the user chose is kept.
std::vector<char*> platformArguments(int argc, char* argv[]) {
    static char option[] = "-platform";
    static char xcb[] = "xcb";
    std::vector<char*> arguments(argv, argv + argc);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY")) {
        arguments.insert(arguments.begin() + (argc > 0 ? 1 : 0), {option, xcb});
    }
    arguments.push_back(nullptr);
    return arguments;
}

// One line on stderr when popups cannot be denied: no X display, or a platform other
// than xcb whose windows the sweep cannot see.
void warnWhenUnwatched(const X11DesktopWindows& desktop) {
    const QString platform = QGuiApplication::platformName();
    if (!desktop.ok())
        std::fprintf(stderr, "tarnwick: no X display to watch: popup windows are not closed\n");
    else if (platform != QLatin1String("xcb"))
        std::fprintf(stderr,
                     "tarnwick: Qt platform \"%s\" in use: the program's own popups are not closed "
                     "(leave QT_QPA_PLATFORM unset or set it to xcb)\n",
                     qPrintable(platform));
}

// The desktop the sweep walks. In a Wayland session whose compositor lists its windows
// (wlroots: sway, labwc, Hyprland, wayfire), that list, which holds the XWayland windows
// too, so each window is judged once; otherwise the X11 desktop, and in a Wayland
// session one line says that native Wayland windows stay out of reach.
std::unique_ptr<DesktopWindows> openDesktop() {
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        auto wayland = std::make_unique<WaylandDesktopWindows>();
        if (wayland->ok()) return wayland;
        std::fprintf(stderr,
                     "tarnwick: the Wayland compositor lists no windows to other programs: only X11 windows "
                     "can be denied\n");
    }
    auto x11 = std::make_unique<X11DesktopWindows>();
    warnWhenUnwatched(*x11);
    return x11;
}

}  // namespace

int main(int argc, char* argv[]) {
    // The engine's sandbox cannot run as root.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    std::vector<char*> arguments = platformArguments(argc, argv);
    int argumentCount = int(arguments.size()) - 1;
    QApplication app(argumentCount, arguments.data());
    QApplication::setApplicationName(kProgramName);
    QApplication::setWindowIcon(applicationIcon());

    const std::unique_ptr<DesktopWindows> desktop = openDesktop();

    Platform platform;
    platform.desktop = desktop.get();
    platform.openUrl = shell::openUrl;
    platform.programFolder = shell::programFolder();
    platform.showOpen = shell::showOpen;
    platform.endProgram = endProgram;
    platform.createBrowser = [&platform](QWidget* parent) -> WebBrowser* {
        auto* browser = new WebEngineBrowser(parent);
        connectBrowser(browser, parent->window(), platform);
        return browser;
    };

    int code = 0;
    {
        frmMain main(platform);
        main.show();
        code = app.exec();
    }
    // Every page goes before the profile, and the profile before the engine.
    std::vector<QPointer<QWidget>> windows;
    for (QWidget* window : QApplication::topLevelWidgets()) windows.emplace_back(window);
    for (const QPointer<QWidget>& window : windows) delete window.data();
    webengine::closeProfile();
    return code;
}
