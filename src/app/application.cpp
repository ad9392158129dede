#include "app/application.h"

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>
#ifdef _WIN32
#include <process.h>  // _exit
#else
#include <unistd.h>
#include <xcb/xcb.h>
#endif

#include "app/frm_main.h"
#include "dialogs/frm_downloads.h"
#include "dialogs/frm_login.h"
#include "dialogs/page_dialog_panel.h"
#include "platform/ui/accessibility.h"
#include "platform/ui/looks.h"
#include "platform/system/shell.h"
#include "platform/webengine/engine_session.h"
#include "platform/webengine/start_page.h"
#include "platform/webengine/webengine_browser.h"

namespace {

// How long the engine may take, after every window is gone, to write out the stores it
// keeps in memory (cookies, local storage) before the process ends regardless.
constexpr auto kEngineShutdownBound = std::chrono::milliseconds(600);
// How long the end may take to get rid of the windows and their pages before it is taken
// as stuck (a call into a page that never returns) and the process ends regardless.
constexpr auto kStuckBound = std::chrono::seconds(10);

// What the person does to a window: none of it reaches one once the program has ended.
constexpr QEvent::Type kInput[] = {
    QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick, QEvent::KeyPress,
    QEvent::KeyRelease,       QEvent::Shortcut,           QEvent::ShortcutOverride,    QEvent::Wheel,
    QEvent::Close,            QEvent::ContextMenu};

// Once the program ends, no user input or timer reaches it any more.
class EndedFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Timer) return qobject_cast<QTimer*>(watched) != nullptr;
        return std::find(std::begin(kInput), std::end(kInput), event->type()) != std::end(kInput);
    }
};

}  // namespace

Application::Application(DesktopWindows& desktop) {
    QApplication::setApplicationName(kProgramName);
    QApplication::setWindowIcon(applicationIcon());
    accessibility::installWindowRoles();
    session_ = new EngineSession(EngineSession::userFolders(), qApp);

    platform_.desktop = &desktop;
    // The program's own pages go to the default browser as a file copy.
    platform_.openUrl = [this](const QString& address) {
        const QString page = webengine::handOffAddress(session_->profile(), address, EngineSession::userFolders().cache);
        return !page.isEmpty() && shell::openUrl(page);
    };
    platform_.programFolder = shell::programFolder();
    platform_.showOpen = shell::showOpen;
    platform_.endProgram = [this] { end(); };
    platform_.createBrowser = [this](QWidget* parent) -> WebBrowser* {
        auto* browser = new WebEngineBrowser(*session_, parent);
        connectBrowser(browser, parent->window());
        return browser;
    };
}

int Application::run() {
    int code = 0;
    {
        frmMain main(platform_);
        main.show();
        code = QApplication::exec();
    }
    ending_->status = code;
    // Every page goes before the profile, and the profile before the engine.
    std::vector<QPointer<QWidget>> windows;
    for (QWidget* window : QApplication::topLevelWidgets()) windows.emplace_back(window);
    for (const QPointer<QWidget>& window : windows) delete window.data();
    ending_->pagesGone = true;
    session_->close();
    return code;
}

void Application::connectBrowser(WebEngineBrowser* browser, QWidget* window) {
    browser->loginPrompt = [window](LoginRequest& request) { return frmLogin::ask(window, request); };
    browser->showDialog = [browser](PageDialog* dialog) { PageDialogPanel::show(browser->widget(), dialog); };
    QObject::connect(browser, &WebBrowser::DownloadRequested, window, [this, window](Download* download) {
        askWhereToSave(window, download, [this](Download* accepted) { keepDownload(accepted); });
    });
}

void Application::keepDownload(Download* accepted) {
    downloads_.push_back(accepted);
    if (!downloadsWindow_) {
        downloadsWindow_ = new frmDownloads(platform_.openUrl);
        for (const QPointer<Download>& earlier : downloads_)
            if (earlier) downloadsWindow_->add(earlier);
    }
    downloadsWindow_->add(accepted);
    downloadsWindow_->show();
    downloadsWindow_->raise();
}

void Application::end() {
    if (ended_) return;
    ended_ = true;
    std::thread([ending = ending_] {
        const auto started = std::chrono::steady_clock::now();
        while (!ending->pagesGone && std::chrono::steady_clock::now() - started < kStuckBound)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!ending->pagesGone) ::_exit(kEndStuck);
        std::this_thread::sleep_for(kEngineShutdownBound);
        ::_exit(ending->status);
    }).detach();
    qApp->installEventFilter(new EndedFilter(qApp));
    for (QWidget* window : QApplication::topLevelWidgets()) window->hide();
#ifndef _WIN32
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        if (x11->connection()) xcb_flush(x11->connection());
#endif
    QCoreApplication::exit(0);
}
