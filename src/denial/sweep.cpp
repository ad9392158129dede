// The popup sweep: ten times a second, every visible, bordered top-level window whose
// title ends in "Microsoft Internet Explorer" is asked to close and counted, and the
// main browser opens the address the user last pointed at.

#include <QCoreApplication>
#include <QLabel>
#include <limits>

#include "app/frm_main.h"
#include "platform/web_browser.h"

namespace {

const QString kForeignBrowser = QStringLiteral("Microsoft Internet Explorer");

// Text up to the first NUL, as a window text or a label keeps it.
QString uptoNul(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

}  // namespace

void frmMain::tmrEngine_Timer() {
    // A tick that falls due while a sweep is yielding is skipped: sweeps never nest.
    if (sweeping_) return;
    sweeping_ = true;
    FindApps();
    sweeping_ = false;
}

bool frmMain::TaskWindow(const WindowId& hwnd) {
    const std::uint32_t style = platform_.desktop->Style(hwnd);
    return (style & TaskStyleMask) == TaskStyleMask;
}

void frmMain::FindApps() {
    DesktopWindows& desktop = *platform_.desktop;
    lstApp.clear();

    WindowId mainWindow = hWnd();
    WindowId window = desktop.FirstWindow(mainWindow);
    while (window != 0) {
        // Let the browser's events and the user's commands run between two windows.
        QCoreApplication::processEvents();
        mainWindow = hWnd();

        if (TaskWindow(window) && window != mainWindow) {
            const int length = desktop.TitleLength(window);
            // length + 1 must fit the title buffer's signed 32-bit size; when it does not,
            // this sweep is abandoned and the next tick starts afresh.
            if (length < 0 || length == std::numeric_limits<int>::max()) return;
            const int size = length + 1;

            QString read;
            const int count = desktop.Title(window, read, size);
            if (count > 0) {
                // The buffer: the text read, its terminating NUL, then the blanks the
                // buffer was made of (when the title shrank in between).
                QString buffer = read.left(std::min(count, size - 1));
                buffer.append(QChar(0));
                if (buffer.size() < size) buffer.append(QString(size - buffer.size(), QLatin1Char(' ')));
                const QString title = uptoNul(buffer);

                lstApp.push_back(AppEntry{title, 0});

                id = uptoNul(buffer.right(28));
                if (id == kForeignBrowser) {
                    const WindowId target = desktop.FindByTitle(title);
                    if (target != 0) desktop.RequestClose(target);
                    ++DeniedCount;
                    Panel1->setText(QString::number(DeniedCount) +
                                    (DeniedCount == 1 ? QStringLiteral(" event denied")
                                                      : QStringLiteral(" events denied")));
                    if (LastStatusText.left(7) == QLatin1String("http://")) Browser->Navigate(LastStatusText);
                }
                lstApp.back().itemData = window;
            }
        }
        window = desktop.NextWindow(window);
    }
}
