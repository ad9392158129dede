#include "platform/webengine/webengine_browser.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPrinter>
#include <QTimer>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineHistory>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include "platform/typed_address.h"
#include "platform/webengine/engine_document.h"
#include "platform/webengine/engine_download.h"
#include "platform/webengine/engine_log.h"
#include "platform/webengine/engine_page.h"
#include "platform/webengine/engine_session.h"
#include "platform/webengine/full_screen_window.h"
#include "platform/webengine/hover_status.h"
#include "platform/webengine/page_output.h"

namespace {

// The view: a right-click asks `customMenu` first; when that takes the click, the
// engine's own context menu is not shown. QWebEngineView swallows the window system's
// context-menu event and waits for the engine to ask for a menu, which the engine does
// not do everywhere (not on the empty area of a page without content), so a bound
// handler answers the window system's event itself and the engine's later request is
// dropped.
class BrowserView : public QWebEngineView {
public:
    using QWebEngineView::QWebEngineView;
    std::function<bool(const QPoint& globalPos)> customMenu;  // runs the handler when bound
    std::function<bool()> hasCustomMenu;                      // a handler is bound

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ContextMenu && customMenu &&
            customMenu(static_cast<QContextMenuEvent*>(event)->globalPos())) {
            event->accept();
            return true;
        }
        return QWebEngineView::event(event);
    }

    void contextMenuEvent(QContextMenuEvent* event) override {
        // The engine's request: ours was shown already when a handler is bound.
        if (hasCustomMenu && hasCustomMenu()) {
            event->accept();
            return;
        }
        QWebEngineView::contextMenuEvent(event);
    }
};

bool isHtmlType(const QString& contentType) {
    const QString type = contentType.trimmed().toLower();
    return type == QLatin1String("text/html") || type == QLatin1String("application/xhtml+xml");
}

}  // namespace

WebEngineBrowser::WebEngineBrowser(EngineSession& session, QWidget* parent) : WebBrowser(parent) {
    auto* view = new BrowserView(parent);
    view_ = view;
    // The main browser's page: its script dialogs keep the engine's default (modal,
    // dismissible) behaviour, logins are asked through loginPrompt, and the console
    // messages of pages are not logged.
    EnginePage::Policy policy{.dialogs = true, .consoleMessages = false, .login = [this](LoginRequest& request) {
                                  const std::function<bool(LoginRequest&)> prompt = loginPrompt;
                                  return prompt && prompt(request);
                              }};
    page_ = new EnginePage(session, std::move(policy), view);
    view->setPage(page_);
    view->customMenu = [this](const QPoint& globalPos) { return onContextMenu(globalPos); };
    view->hasCustomMenu = [this] { return document_ && document_->oncontextmenu; };
    hover_ = new HoverStatus(view, this);
    output_ = new PageOutput(view, page_, this);

    connect(page_, &QWebEnginePage::loadStarted, this, &WebEngineBrowser::onLoadStarted);
    connect(page_, &QWebEnginePage::loadProgress, this, &WebEngineBrowser::onLoadProgress);
    connect(page_, &QWebEnginePage::loadFinished, this, &WebEngineBrowser::onLoadFinished);
    connect(page_, &QWebEnginePage::renderProcessTerminated, this, &WebEngineBrowser::onRenderProcessTerminated);
    connect(page_, &QWebEnginePage::linkHovered, hover_, &HoverStatus::linkHovered);
    connect(hover_, &HoverStatus::changed, this, &WebBrowser::StatusTextChange);
    connect(page_, &QWebEnginePage::titleChanged, this, [this](const QString& title) {
        if (readyState_ != 4) titleThisLoad_ = true;  // not a script's change after the load
        emit TitleChange(title);
    });
    // Certificate errors keep the engine's default: the certificate is rejected and the
    // engine shows its error page; the load ends like any failed load.

    page_->settings()->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
    connect(page_, &QWebEnginePage::fullScreenRequested, this, &WebEngineBrowser::onFullScreenRequested);
    if (webengine::DownloadHub* hub = session.downloads())
        connect(hub, &webengine::DownloadHub::started, this, &WebBrowser::DownloadRequested);
}

WebEngineBrowser::~WebEngineBrowser() {
    fullScreen_.reset();
    bind(nullptr);
    if (view_) {
        static_cast<BrowserView*>(view_.data())->customMenu = nullptr;
        delete view_.data();
    }
}

QWidget* WebEngineBrowser::widget() { return view_; }

bool WebEngineBrowser::Navigate(const QString& address) {
    if (!page_) return false;
    const QUrl url = addressToUrl(address);
    if (!url.isValid()) return false;
    page_->load(url);
    return true;
}

bool WebEngineBrowser::GoBack() {
    if (!page_ || !page_->history()->canGoBack()) return false;
    page_->triggerAction(QWebEnginePage::Back);
    return true;
}

bool WebEngineBrowser::GoForward() {
    if (!page_ || !page_->history()->canGoForward()) return false;
    page_->triggerAction(QWebEnginePage::Forward);
    return true;
}

bool WebEngineBrowser::Stop() {
    if (!page_) return false;
    page_->triggerAction(QWebEnginePage::Stop);
    return true;
}

bool WebEngineBrowser::Refresh() {
    if (!page_ || page_->url().isEmpty()) return false;
    page_->triggerAction(QWebEnginePage::Reload);
    return true;
}

int WebEngineBrowser::ReadyState() const { return readyState_; }

// The title the view shows; the engine gives the address for a page without one.
QString WebEngineBrowser::LocationName() const { return page_ ? page_->title() : QString(); }

// The address in its encoded form, the way the browser requests it: what goes into
// the history file and to the desktop's URL opener is then one unambiguous address
// (spaces and non-ASCII characters percent-encoded), as the original control reported.
QString WebEngineBrowser::LocationURL() const {
    return page_ ? page_->url().toString(QUrl::FullyEncoded) : QString();
}

std::shared_ptr<HtmlDocument> WebEngineBrowser::Document() { return document_; }

void WebEngineBrowser::bind(std::shared_ptr<WebEngineDocument> document) {
    if (document_ && document_ != document) document_->retire();
    document_ = std::move(document);
}

void WebEngineBrowser::onLoadStarted() {
    hover_->loadStarted();
    ++loadGeneration_;
    titleThisLoad_ = false;
    readyState_ = 1;
    emit ProgressChange(0, 100);
}

void WebEngineBrowser::onLoadProgress(int progress) {
    if (readyState_ == 1 && progress > 0) readyState_ = 3;
    emit ProgressChange(progress, 100);
}

void WebEngineBrowser::onLoadFinished(bool) {
    // The engine reports a title only when it differs from the one before; every page
    // that loads has its title event all the same (a page with the same title as the
    // last one, the same page loaded again).
    // (A reload issued right after a load may come without its own load start.)
    if (!titleThisLoad_ && page_) emit TitleChange(page_->title());
    titleThisLoad_ = false;
    readyState_ = 4;
    // As the original control: a progress of -1 says the download is done.
    emit ProgressChange(-1, 100);
    if (!page_) return;

    // Document() answers at once, so the document's type is found out before the
    // completion is reported. A load that starts in the meantime drops this answer.
    const quint64 generation = loadGeneration_;
    QPointer<WebEngineBrowser> self(this);
    page_->runJavaScript(QStringLiteral("document.contentType"), QWebEngineScript::ApplicationWorld,
                         [self, generation](const QVariant& result) {
                             if (!self || self->loadGeneration_ != generation) return;
                             if (!isHtmlType(result.toString())) {
                                 self->bind(nullptr);
                             } else if (!self->document_ || self->document_->generation() != generation) {
                                 self->bind(std::make_shared<WebEngineDocument>(self->page_, self->output_, generation));
                             }
                             emit self->DocumentComplete(self->LocationURL());
                         });
}

void WebEngineBrowser::onFullScreenRequested(QWebEngineFullScreenRequest request) {
    if (request.toggleOn() == (fullScreen_ != nullptr)) {
        request.accept();
        return;
    }
    request.accept();
    if (request.toggleOn())
        fullScreen_ = std::make_unique<FullScreenWindow>(view_, page_);
    else
        fullScreen_.reset();
}

bool WebEngineBrowser::isFullScreen() const { return fullScreen_ != nullptr; }

void WebEngineBrowser::onRenderProcessTerminated() {
    qCDebug(lcEngine) << "the page's renderer ended; the next navigation starts a new one";
    fullScreen_.reset();
    // The page is gone with its renderer: the load is over and no document is bound.
    // The next navigation starts a new renderer.
    ++loadGeneration_;
    readyState_ = 4;
    bind(nullptr);
    emit ProgressChange(-1, 100);
}

bool WebEngineBrowser::onContextMenu(const QPoint& globalPos) {
    if (!document_ || !document_->oncontextmenu) return false;
    // The handler shows a modal menu; run it from the event loop rather than inside the
    // engine's context-menu callback.
    std::weak_ptr<WebEngineDocument> bound = document_;
    QTimer::singleShot(0, this, [this, bound, globalPos] {
        std::shared_ptr<WebEngineDocument> document = bound.lock();
        if (!document || !document->oncontextmenu) return;
        std::function<bool()> handler = document->oncontextmenu;  // the handler may rebind
        QPointer<WebEngineBrowser> self(this);
        const bool pageMenu = handler();
        if (pageMenu && self && view_) {
            QMenu* menu = view_->createStandardContextMenu();
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(globalPos);
        }
    });
    return true;
}

bool WebEngineBrowser::savePage(const QString& path) { return output_->savePage(path); }

bool WebEngineBrowser::printPage(std::unique_ptr<QPrinter> printer, std::function<void(bool)> finished) {
    return output_->printPage(std::move(printer), std::move(finished));
}
