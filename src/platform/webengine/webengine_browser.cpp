#include "platform/webengine/webengine_browser.h"

#include <QAction>
#include <QAuthenticator>
#include <QContextMenuEvent>
#include <QVBoxLayout>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineSettings>
#include <QCursor>
#include <QMouseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QTimer>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include "platform/webengine/browser_window.h"
#include "platform/webengine/engine_download.h"
#include "platform/webengine/engine_profile.h"
#include "platform/webengine/page_view_tools.h"
#include "platform/webengine/start_page.h"

namespace {

// The page of the main browser: new-window requests open the browser's own windows;
// the console messages of pages are not logged. JavaScript dialogs of the page itself
// keep the engine's default (modal, dismissible) behaviour.
class BrowserPage : public QWebEnginePage {
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    QWebEnginePage* createWindow(WebWindowType) override { return BrowserWindow::open(); }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) override {}
};

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

}  // namespace

// The page alone on the whole screen, for a page that asked to go full screen: a window
// of its own that takes the page from the browser's view and gives it back when it
// closes. The main window stays as it was behind it. Esc asks the page to leave full
// screen; so does closing the window.
class FullScreenWindow : public QWidget {
public:
    FullScreenWindow(QWebEngineView* home, QWebEnginePage* page) : QWidget(nullptr), home_(home), page_(page) {
        setWindowTitle(home->window()->windowTitle());  // never a popup's title
        setWindowIcon(home->window()->windowIcon());
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        view_ = new QWebEngineView(this);
        layout->addWidget(view_);
        auto* leave = new QAction(this);
        leave->setShortcut(Qt::Key_Escape);
        leave->setShortcutContext(Qt::WindowShortcut);
        connect(leave, &QAction::triggered, this, [this] { askToLeave(); });
        addAction(leave);
        view_->setPage(page);
        showFullScreen();
        activateWindow();
        view_->setFocus();
    }
    ~FullScreenWindow() override {
        if (home_ && page_) home_->setPage(page_);
        if (home_) {
            home_->window()->activateWindow();
            home_->setFocus();
        }
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        askToLeave();
    }

private:
    void askToLeave() {
        if (page_) page_->triggerAction(QWebEnginePage::ExitFullScreen);
    }

    QPointer<QWebEngineView> home_;
    QPointer<QWebEnginePage> page_;
    QWebEngineView* view_ = nullptr;
};

namespace {

bool isHtmlType(const QString& contentType) {
    const QString type = contentType.trimmed().toLower();
    return type == QLatin1String("text/html") || type == QLatin1String("application/xhtml+xml");
}

}  // namespace

// One loaded HTML document of the browser's page. The browser replaces it at the next
// completed load; commands on a replaced document still act on the page.
class WebEngineDocument : public HtmlDocument, public std::enable_shared_from_this<WebEngineDocument> {
public:
    WebEngineDocument(WebEngineBrowser* browser, quint64 generation) : browser_(browser), generation_(generation) {}

    quint64 generation() const { return generation_; }

    bool execCommand(const QString& command) override {
        if (!browser_ || !browser_->page_) return false;
        QWebEnginePage* page = browser_->page_;
        // MSHTML command identifiers are case-insensitive.
        const QString name = command.toLower();
        if (name == QLatin1String("copy")) {
            page->triggerAction(QWebEnginePage::Copy);
            return true;
        }
        if (name == QLatin1String("paste")) {
            page->triggerAction(QWebEnginePage::Paste);
            return true;
        }
        if (name == QLatin1String("refresh")) {
            page->triggerAction(QWebEnginePage::Reload);
            return true;
        }
        if (name == QLatin1String("print")) return browser_->printWithDialog();
        if (name == QLatin1String("saveas")) return browser_->saveWithDialog();
        return false;
    }

    void documentElementInnerHTML(std::function<void(std::optional<QString>)> done) override {
        if (!done) return;
        if (!browser_ || !browser_->page_) {
            done(std::nullopt);
            return;
        }
        std::weak_ptr<WebEngineDocument> self = weak_from_this();
        QPointer<WebEngineBrowser> browser = browser_;
        QPointer<QWebEnginePage> page = browser_->page_;
        // The application's own script world: a page's scripts cannot redefine what
        // this reads.
        page->runJavaScript(
            QStringLiteral("document.documentElement ? document.documentElement.innerHTML : null"),
            QWebEngineScript::ApplicationWorld, [self, browser, page, done](const QVariant& result) {
                // Never answer for a document that is gone: destroyed, or replaced by
                // the next page, or whose page or browser went away.
                std::shared_ptr<WebEngineDocument> document = self.lock();
                if (!document || !browser || !page || browser->document_ != document) return;
                if (result.typeId() == QMetaType::QString)
                    done(result.toString());
                else
                    done(std::nullopt);
            });
    }

private:
    QPointer<WebEngineBrowser> browser_;
    quint64 generation_;
};

WebEngineBrowser::WebEngineBrowser(QWidget* parent) : WebBrowser(parent) {
    auto* view = new BrowserView(parent);
    view_ = view;
    page_ = new BrowserPage(webengine::sharedProfile(), view);
    view->setPage(page_);
    view->customMenu = [this](const QPoint& globalPos) { return onContextMenu(globalPos); };
    view->hasCustomMenu = [this] { return document_ && document_->oncontextmenu; };

    connect(page_, &QWebEnginePage::loadStarted, this, &WebEngineBrowser::onLoadStarted);
    connect(page_, &QWebEnginePage::loadProgress, this, &WebEngineBrowser::onLoadProgress);
    connect(page_, &QWebEnginePage::loadFinished, this, &WebEngineBrowser::onLoadFinished);
    connect(page_, &QWebEnginePage::renderProcessTerminated, this, &WebEngineBrowser::onRenderProcessTerminated);
    connect(page_, &QWebEnginePage::linkHovered, this, &WebEngineBrowser::onLinkHovered);
    connect(page_, &QWebEnginePage::titleChanged, this, [this](const QString& title) {
        if (readyState_ != 4) titleThisLoad_ = true;  // not a script's change after the load
        emit TitleChange(title);
    });
    // Certificate errors keep the engine's default: the certificate is rejected and the
    // engine shows its error page; the load ends like any failed load.

    webengine::denyPermissions(page_);
    connect(page_, &QWebEnginePage::authenticationRequired, this,
            [this](const QUrl& url, QAuthenticator* authenticator) { answerLogin(url, false, authenticator); });
    connect(page_, &QWebEnginePage::proxyAuthenticationRequired, this,
            [this](const QUrl&, QAuthenticator* authenticator, const QString& proxyHost) {
                answerLogin(QUrl(QStringLiteral("http://") + proxyHost), true, authenticator);
            });
    page_->settings()->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
    connect(page_, &QWebEnginePage::fullScreenRequested, this, &WebEngineBrowser::onFullScreenRequested);
    if (webengine::DownloadHub* hub = webengine::downloadHub(page_->profile()))
        connect(hub, &webengine::DownloadHub::started, this, &WebBrowser::DownloadRequested);
    webengine::serveStartPage(page_->profile(),
                              [self = QPointer(this)] { return self && self->deniedCount ? self->deniedCount() : 0; });
}

WebEngineBrowser::~WebEngineBrowser() {
    fullScreen_.reset();
    document_.reset();
    if (view_) {
        static_cast<BrowserView*>(view_.data())->customMenu = nullptr;
        delete view_.data();
    }
}

QWidget* WebEngineBrowser::widget() { return view_; }

QUrl WebEngineBrowser::addressToUrl(const QString& address) {
    const QString text = address.trimmed();
    if (text.isEmpty()) return {};
    if (text.startsWith(QLatin1Char('/'))) return QUrl::fromLocalFile(text);

    // A scheme counts when "//" follows it, or when it is one that never has "//"
    // (about:blank, mailto:...). "localhost:8080/x" is a host with a port.
    static const QRegularExpression schemePattern(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):"));
    bool hasScheme = false;
    const QRegularExpressionMatch match = schemePattern.match(text);
    if (match.hasMatch()) {
        static const QStringList bareSchemes = {
            QStringLiteral("about"), QStringLiteral("blob"),  QStringLiteral("data"),
            QStringLiteral("file"),  QStringLiteral("ftp"),   QStringLiteral("http"),
            QStringLiteral("https"), QStringLiteral("javascript"), QStringLiteral("mailto"),
            QStringLiteral("view-source"), QString::fromLatin1(webengine::kStartPageScheme)};
        hasScheme = text.mid(match.capturedLength()).startsWith(QLatin1String("//")) ||
                    bareSchemes.contains(match.captured(1).toLower());
    }
    const QUrl url(hasScheme ? text : QStringLiteral("http://") + text, QUrl::TolerantMode);
    if (!url.isValid() || url.scheme().isEmpty()) return {};
    return url;
}

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

bool WebEngineBrowser::Zoom(int step) { return webengine::zoomPage(page_, step); }

void WebEngineBrowser::FindText(const QString& text, bool backward, std::function<void(int, int)> found) {
    webengine::findInPage(page_, text, backward, std::move(found));
}

// The status text is the link under the pointer. The engine also drops the link when the
// window merely loses the focus (a popup the click opened takes it), with the pointer
// still resting on the link; the link then stays the status text until the pointer
// moves or leaves the page.
void WebEngineBrowser::onLinkHovered(const QString& url) {
    watchPointer();
    const bool focusLost = view_ && !view_->window()->isActiveWindow();
    if (url.isEmpty() && !statusText_.isEmpty() && focusLost && QCursor::pos() == hoverPointer_) {
        clearPending_ = true;
        return;
    }
    clearPending_ = false;
    if (!url.isEmpty()) hoverPointer_ = QCursor::pos();
    statusText_ = url;
    emit StatusTextChange(url);
}

void WebEngineBrowser::releasePendingClear() {
    if (!clearPending_) return;
    clearPending_ = false;
    statusText_.clear();
    emit StatusTextChange(QString());
}

void WebEngineBrowser::watchPointer() {
    QWidget* surface = view_ ? view_->focusProxy() : nullptr;
    if (surface && surface != pointerSurface_) {
        surface->installEventFilter(this);
        pointerSurface_ = surface;
    }
}

bool WebEngineBrowser::eventFilter(QObject* watched, QEvent* event) {
    if (clearPending_ && watched == pointerSurface_) {
        if (event->type() == QEvent::Leave ||
            (event->type() == QEvent::MouseMove &&
             static_cast<QMouseEvent*>(event)->globalPosition().toPoint() != hoverPointer_))
            releasePendingClear();
    }
    return WebBrowser::eventFilter(watched, event);
}

void WebEngineBrowser::onLoadStarted() {
    releasePendingClear();
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
                                 self->document_.reset();
                             } else if (!self->document_ || self->document_->generation() != generation) {
                                 self->document_ = std::make_shared<WebEngineDocument>(self.data(), generation);
                             }
                             emit self->DocumentComplete(self->LocationURL());
                         });
}

void WebEngineBrowser::answerLogin(const QUrl& site, bool proxy, QAuthenticator* authenticator) {
    LoginRequest request;
    request.site = site;
    request.realm = authenticator->realm();
    request.proxy = proxy;
    // The prompt may run an event loop of its own; the answer is given only to a page
    // that is still there.
    QPointer<QWebEnginePage> page = page_;
    const bool answered = loginPrompt && loginPrompt(request) && page;
    if (answered) {
        authenticator->setUser(request.user);
        authenticator->setPassword(request.password);
    } else {
        qCDebug(lcEngine) << "login refused:" << site << request.realm;
        *authenticator = QAuthenticator();  // refused: the page shows the site's refusal
    }
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
    document_.reset();
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

bool WebEngineBrowser::savePage(const QString& path) {
    if (!page_ || path.isEmpty() || page_->url().isEmpty()) return false;
    const QString suffix = QFileInfo(path).suffix().toLower();
    const auto format = (suffix == QLatin1String("mht") || suffix == QLatin1String("mhtml"))
                            ? QWebEngineDownloadRequest::MimeHtmlSaveFormat
                            : QWebEngineDownloadRequest::CompleteHtmlSaveFormat;
    page_->save(path, format);
    return true;
}

bool WebEngineBrowser::saveWithDialog() {
    if (!view_ || !page_ || page_->url().isEmpty()) return false;
    const QString completeFilter = QStringLiteral("Web Page, complete (*.htm *.html)");
    const QString archiveFilter = QStringLiteral("Web Archive, single file (*.mht *.mhtml)");
    QString suggested = page_->title();
    suggested.replace(QRegularExpression(QStringLiteral("[/\\\\:*?\"<>|]")), QStringLiteral("_"));
    if (suggested.isEmpty()) suggested = QStringLiteral("page");
    QString selectedFilter = completeFilter;
    QPointer<WebEngineBrowser> self(this);
    QString path = QFileDialog::getSaveFileName(view_->window(), QString(), suggested + QStringLiteral(".htm"),
                                                completeFilter + QStringLiteral(";;") + archiveFilter,
                                                &selectedFilter);
    if (!self || path.isEmpty()) return false;  // cancelled, or the browser went away meanwhile
    if (QFileInfo(path).suffix().isEmpty())
        path += selectedFilter == archiveFilter ? QStringLiteral(".mht") : QStringLiteral(".htm");
    return savePage(path);
}

bool WebEngineBrowser::printPage(std::unique_ptr<QPrinter> printer, std::function<void(bool)> finished) {
    if (printing_ || !view_ || !printer) return false;
    printing_ = true;
    // The engine prints asynchronously and uses the printer until printFinished. The
    // printer lives in the connection: it goes when printing ends or with the view.
    std::shared_ptr<QPrinter> kept(printer.release());
    QPointer<WebEngineBrowser> self(this);
    connect(
        view_, &QWebEngineView::printFinished, this,
        [self, kept, finished](bool ok) {
            if (self) self->printing_ = false;
            if (finished) finished(ok);
        },
        Qt::SingleShotConnection);
    view_->print(kept.get());
    return true;
}

bool WebEngineBrowser::printWithDialog() {
    if (printing_ || !view_) return false;
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPointer<WebEngineBrowser> self(this);
    QPointer<QPrintDialog> dialog = new QPrintDialog(printer.get(), view_->window());
    const int result = dialog->exec();
    if (dialog) delete dialog.data();
    if (!self || result != QDialog::Accepted) return false;
    return printPage(std::move(printer));
}
