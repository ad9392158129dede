// wlwin: makes native Wayland toplevel windows for the tests (Qt on its Wayland
// platform, app id "wlwin") and keeps them until they are closed.
//
// Usage: wlwin [--title TEXT] [--count N]
//   --title TEXT   the title; "%d" becomes the window's index (default "wlwin %d")
//   --count N      makes N windows (default 1)
//
// Prints each window's index on its own line once every window has drawn its first frame,
// then serves: the compositor's close request prints "closed INDEX" and destroys that
// window; a line "title TEXT" on standard input retitles every window (with "%d" as
// above). Exits when no window is left, on SIGTERM, or when the compositor goes away.

#include <QGuiApplication>
#include <QCloseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QSocketNotifier>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

int shownCount = 0;
int openCount = 0;
int windowCount = 1;

QString titleFor(QString pattern, int index) { return pattern.replace(QLatin1String("%d"), QString::number(index)); }

class Window : public QRasterWindow {
public:
    explicit Window(int index) : index_(index) {}
    int index() const { return index_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(QRect(QPoint(), size()), Qt::white);
        if (shown_) return;
        shown_ = true;
        if (++shownCount == windowCount) {
            for (int i = 0; i < windowCount; ++i) std::printf("%d\n", i);
            std::fflush(stdout);
        }
    }
    // The window goes as a whole, later: a platform window destroyed at once (the default)
    // may still get an expose event queued for it, which Qt 6.4's Wayland backing store
    // does not survive.
    // A close request that comes again before the window is gone is answered once. The
    // last window's close ends the program at once, so that the compositor sees the
    // window go as soon as a window that exits on close would go.
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        if (closed_) return;
        closed_ = true;
        std::printf("closed %d\n", index_);
        std::fflush(stdout);
        if (--openCount == 0) _exit(0);
        deleteLater();
    }

private:
    int index_;
    bool shown_ = false;
    bool closed_ = false;
};

void onTerm(int) { _exit(0); }

}  // namespace

int main(int argc, char** argv) {
    QString title = QStringLiteral("wlwin %d");
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--title")) title = QString::fromUtf8(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--count")) windowCount = std::atoi(argv[i + 1]);
    }
    if (windowCount < 1 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: wlwin [--title TEXT] [--count N]\n");
        return 2;
    }
    std::signal(SIGTERM, onTerm);
    qputenv("QT_QPA_PLATFORM", "wayland");
    QGuiApplication::setDesktopFileName(QStringLiteral("wlwin"));
    QGuiApplication app(argc, argv);
    QGuiApplication::setQuitOnLastWindowClosed(false);

    std::vector<Window*> windows;
    for (int i = 0; i < windowCount; ++i) {
        auto* window = new Window(i);
        window->setTitle(titleFor(title, i));
        window->resize(160, 100);
        window->show();
        windows.push_back(window);
        QObject::connect(window, &QObject::destroyed, [&windows, window] {
            windows.erase(std::find(windows.begin(), windows.end(), window));
        });
    }
    openCount = windowCount;

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[4096];
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (n <= 0) {
            input.setEnabled(false);
            return;
        }
        line[n] = 0;
        for (const QString& command : QString::fromUtf8(line).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (!command.startsWith(QLatin1String("title "))) continue;
            for (Window* window : windows) window->setTitle(titleFor(command.mid(6), window->index()));
        }
    });
    return app.exec();
}
