#include "platform/webengine/browser_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QExposeEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QScreen>
#include <QWebEnginePage>
#include <QWindow>

#include "platform/webengine/engine_page.h"
#include "platform/webengine/engine_session.h"
#include "platform/desktop/window_title.h"

namespace {

// How long a new window keeps its first frame back: after its first expose, and at most
// after it was shown (for a window that is never exposed).
constexpr int kHoldAfterExposeMs = 40;
constexpr int kHoldAtMostMs = 250;

}  // namespace

// The window is mapped, titled and framed at once, but its first frame (the GL context of
// its backing store, the page's first scene graph render and their shader compiles, tens
// of ms in software rendering) waits a moment: the window sweep, woken by the map, gets
// this thread first and closes the window before that work is ever done. A window that
// is not closed shows its page right after.
void BrowserWindow::showHoldingFirstFrame() {
    create();
    holding_ = true;
    windowHandle()->installEventFilter(this);
    heldContent_ = focusProxy();  // the page's rendering widget
    if (heldContent_) heldContent_->hide();
    holdTimer_.setSingleShot(true);
    connect(&holdTimer_, &QTimer::timeout, this, &BrowserWindow::endHold);
    holdTimer_.start(kHoldAtMostMs);
    show();
}

bool BrowserWindow::eventFilter(QObject* watched, QEvent* event) {
    if (holding_ && event->type() == QEvent::Expose && watched == windowHandle()) {
        if (!heldExpose_) holdTimer_.start(kHoldAfterExposeMs);
        heldExpose_ = true;
        return true;
    }
    return QWebEngineView::eventFilter(watched, event);
}

void BrowserWindow::endHold() {
    holding_ = false;
    QWindow* native = windowHandle();
    if (native) native->removeEventFilter(this);
    if (heldContent_) {
        heldContent_->show();
        if (isActiveWindow() && !focusWidget()) heldContent_->setFocus();
    }
    // The exposes held back: the window is painted as the first of them would have had it.
    if (heldExpose_ && native && native->isExposed()) {
        QExposeEvent expose(QRegion(QRect(QPoint(), native->size())));
        QCoreApplication::sendEvent(native, &expose);
    }
}

QString BrowserWindow::titleFor(const QString& pageTitle) {
    const QString& suffix = kForeignBrowserName;
    if (pageTitle.isEmpty()) return suffix;
    return literalWindowTitle(pageTitle + QStringLiteral(" - ") + suffix);
}

BrowserWindow::BrowserWindow(EngineSession& session, QWebEnginePage* opener, const QUrl& address)
    : QWebEngineView(static_cast<QWidget*>(nullptr)),
      session_(&session),
      opener_(opener),
      address_(address),
      openerAddress_(opener ? opener->url() : QUrl()) {
    session.windowOpened();
    setAttribute(Qt::WA_DeleteOnClose);  // closing destroys the view, its page and its renderer share
    // A new window does not take the keyboard from the window the person is typing in (it
    // is usually gone a moment later), and the main window is not repainted for a change
    // of focus just as the new window appears.
    setAttribute(Qt::WA_ShowWithoutActivating);
    EnginePage::Policy policy;  // no dialogs, logins or refusals to report
    policy.dialogs = false;
    policy.consoleMessages = true;
    auto* page = new EnginePage(session, std::move(policy), this);
    setPage(page);
    setWindowTitle(titleFor(QString()));
    resize(800, 600);

    connect(page, &QWebEnginePage::urlChanged, this, [this](const QUrl& url) {
        if (address_.isEmpty()) address_ = url;
    });
    connect(page, &QWebEnginePage::titleChanged, this,
            [this](const QString& title) { setWindowTitle(titleFor(title)); });
    // window.close() from the page's script.
    connect(page, &QWebEnginePage::windowCloseRequested, this, &QWidget::close);
    // window.open(..., "width=...,height=...") and window.resizeTo/moveTo.
    connect(page, &QWebEnginePage::geometryChangeRequested, this, &BrowserWindow::applyRequestedGeometry);
    // Shown once the engine has given the new page its view, from the event loop: a window
    // shown before that gets its view's rendering surface afterwards, and Qt then destroys
    // and remakes the native window (it is mapped twice, and the remaking holds up this
    // thread just as the window appears).
    QTimer::singleShot(0, this, &BrowserWindow::showHoldingFirstFrame);
}

QWebEnginePage* BrowserWindow::openerOf(const QWebEnginePage* page) {
    const auto* window = page ? qobject_cast<const BrowserWindow*>(page->parent()) : nullptr;
    return window ? window->opener() : nullptr;
}

std::optional<Denial> BrowserWindow::denialOf(WindowId window, const QString& title) {
    const BrowserWindow* titled = nullptr;
    for (QWidget* each : QApplication::topLevelWidgets()) {
        const auto* opened = qobject_cast<BrowserWindow*>(each);
        if (!opened) continue;
        if (window != 0 && WindowId(opened->internalWinId()) == window) return opened->denial();
        if (!titled && opened->isVisible() && opened->windowTitle() == title) titled = opened;
    }
    return titled ? std::optional<Denial>(titled->denial()) : std::nullopt;
}

Denial BrowserWindow::denial() const {
    return Denial::of(QStringLiteral("Window"), openerAddress_.toDisplayString(), windowTitle(), address_.toString());
}

BrowserWindow::~BrowserWindow() {
    if (session_) session_->windowClosed();
}

void BrowserWindow::applyRequestedGeometry(const QRect& geometry) {
    // The request is for the page area; keep it on the screen and at a usable size.
    QRect available(0, 0, 1024, 768);
    if (QScreen* screen = QGuiApplication::primaryScreen()) available = screen->availableGeometry();
    QSize size = geometry.size().expandedTo(QSize(100, 100)).boundedTo(available.size());
    resize(size);
    if (geometry.x() != 0 || geometry.y() != 0) {
        QPoint at = geometry.topLeft();
        at.setX(qBound(available.left(), at.x(), available.right() - size.width() + 1));
        at.setY(qBound(available.top(), at.y(), available.bottom() - size.height() + 1));
        move(at);
    }
}
