#include "platform/webengine/webengine_browser.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDataStream>
#include <QEventLoop>
#include <QMenu>
#include <QPrinter>
#include <QStackedLayout>
#include <QTimer>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineHistory>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <utility>

#include "platform/system/log.h"
#include "platform/system/typed_address.h"
#include "platform/webengine/browser_view.h"
#include "platform/webengine/browser_window.h"
#include "platform/webengine/dead_page.h"
#include "platform/webengine/engine_document.h"
#include "platform/webengine/engine_download.h"
#include "platform/webengine/engine_page.h"
#include "platform/webengine/engine_session.h"
#include "platform/webengine/full_screen_window.h"
#include "platform/webengine/history_steps.h"
#include "platform/webengine/hover_status.h"
#include "platform/webengine/page_memory.h"
#include "platform/webengine/page_output.h"
#include "platform/webengine/page_view_tools.h"
#include "platform/webengine/page_watchdog.h"
#include "platform/webengine/person_activity.h"
#include "platform/webengine/start_page.h"

namespace {

// Deletes `page`, which ends its renderer, from the event loop and never while a call of
// the engine into it waits for the person (a page dialog's own event loop may be running
// when the page is let go).
void deleteWhenFree(QPointer<EnginePage> page, int delayMs) {
    QTimer::singleShot(delayMs, page, [page] {
        if (page && page->waitingForPerson())
            deleteWhenFree(page, 50);
        else
            delete page.data();
    });
}

bool isHtmlType(const QString& contentType) {
    const QString type = contentType.trimmed().toLower();
    return type == QLatin1String("text/html") || type == QLatin1String("application/xhtml+xml");
}

}  // namespace

WebEngineBrowser::WebEngineBrowser(EngineSession& session, QWidget* parent)
    : WebBrowser(parent), session_(&session), activity_(&session.activity()) {
    area_ = new QWidget(parent);
    stack_ = new QStackedLayout(area_);
    stack_->setContentsMargins(0, 0, 0, 0);
    auto* view = new BrowserView(area_);
    view_ = view;
    stack_->addWidget(view);
    deadPage_ = new DeadPage(area_);
    stack_->addWidget(deadPage_);
    area_->setFocusProxy(view);
    connect(deadPage_, &DeadPage::reloadRequested, this, [this] { Refresh(); });
    // The main browser's page: its script dialogs show (through showDialog) in answer to
    // the person's click or key in the page, refusals are reported, logins are asked through loginPrompt,
    // and the console messages of pages are not logged.
    policy_ = EnginePage::Policy{.dialogs = true,
                                 .showDialog = [this](PageDialog& dialog) { return runDialog(dialog); },
                                 .consoleMessages = false,
                                 .login =
                                     [this](LoginRequest& request) {
                                         const std::function<bool(LoginRequest&)> prompt = loginPrompt;
                                         return prompt && prompt(request);
                                     },
                                 .refused = [this](Refusal what, const Denial& details) { emit Refused(what, details); },
                                 .leaveCrossed = [this] { onLeaveCrossed(); },
                                 .personFollows = [this](const QUrl& url) { return followFresh(url); }};
    session.activity().watch(view);
    view->customMenu = [this](const QPoint& globalPos) { return onContextMenu(globalPos); };
    view->hasCustomMenu = [this] { return document_ && document_->oncontextmenu; };
    hover_ = new HoverStatus(view, this);
    output_ = new PageOutput(view, nullptr, this);
    watchdog_ = new PageWatchdog(this);
    memory_ = new PageMemory(webengine::pageMemoryBoundKb(), this);
    watchdog_->askOnInputIn(parent ? parent->window() : area_.data());
    connect(watchdog_, &PageWatchdog::hung, this, &WebEngineBrowser::onHung);
    connect(watchdog_, &PageWatchdog::answered, this, [this] { leaving_ = nullptr; });
    connect(hover_, &HoverStatus::changed, this, &WebBrowser::StatusTextChange);
    adopt(new EnginePage(session, policy_, view));
    if (webengine::DownloadHub* hub = session.downloads()) {
        connect(hub, &webengine::DownloadHub::started, this, &WebBrowser::DownloadRequested);
        connect(hub, &webengine::DownloadHub::refused, this, [this](const QString& fileName, const QUrl& origin) {
            emit Refused(Refusal::Download, Denial::of(QString(), origin.toDisplayString(), fileName));
        });
    }
    webengine::serveStartPage(page_->profile(),
                              [self = QPointer(this)] { return self && self->deniedCount ? self->deniedCount() : 0; });
}

std::optional<Denial> WebEngineBrowser::newWindowOf(WindowId window, const QString& title) {
    return BrowserWindow::denialOf(window, title);
}

void WebEngineBrowser::adopt(EnginePage* page) {
    page_ = page;
    connect(page, &QWebEnginePage::loadStarted, this, &WebEngineBrowser::onLoadStarted);
    connect(page, &QWebEnginePage::loadProgress, this, &WebEngineBrowser::onLoadProgress);
    connect(page, &QWebEnginePage::loadFinished, this, &WebEngineBrowser::onLoadFinished);
    connect(page, &QWebEnginePage::renderProcessTerminated, this, &WebEngineBrowser::onRenderProcessTerminated);
    connect(page, &QWebEnginePage::linkHovered, hover_, &HoverStatus::linkHovered);
    connect(page, &QWebEnginePage::loadFinished, hover_, &HoverStatus::askPage);
    connect(page, &QWebEnginePage::titleChanged, this, [this](const QString& title) {
        if (dead_) return;
        if (readyState_ != 4) titleThisLoad_ = true;  // not a script's change after the load
        emit TitleChange(title);
    });
    // Certificate errors keep the engine's default: the certificate is rejected and the
    // engine shows its error page; the load ends like any failed load.

    page->settings()->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
    connect(page, &QWebEnginePage::fullScreenRequested, this, &WebEngineBrowser::onFullScreenRequested);
    view_->setPage(page);
    output_->setPage(page);
    watchdog_->watch(page);
    memory_->watch(page);
}

WebEngineBrowser::~WebEngineBrowser() {
    withdrawDialog();
    fullScreen_.reset();
    bind(nullptr);
    if (view_) static_cast<BrowserView*>(view_.data())->customMenu = nullptr;
    delete area_.data();  // the view, its pages and the dead page
}

QWidget* WebEngineBrowser::widget() { return area_; }

// ---------------------------------------------------------------------------------
// Leaving the page

bool WebEngineBrowser::leave(Leave go, bool freshPage) {
    if (!page_) return false;
    // No dialog of the page stays, nor a question whether to leave.
    withdrawDialog();
    page_->personLeaves();
    // Known not to answer (the person's input asked it meanwhile), or holding much memory
    // that its renderer would keep for the next page of the site: replaced at once.
    if (freshPage || watchdog_->unanswered() || holdsMuch()) replacePage();
    carryOut(go);
    personGo_ = go;
    leaving_ = std::move(go);
    watchdog_->ask();
    return true;
}

void WebEngineBrowser::onLeaveCrossed() {
    // The page being left started a navigation of its own meanwhile, refused; the engine
    // may have dropped the person's for it. A fresh page does what the person asked, once.
    const Leave go = std::exchange(personGo_, nullptr);
    if (!go || !page_) return;
    replacePage();
    leave(go);
    personGo_ = nullptr;
}

bool WebEngineBrowser::followFresh(const QUrl& url) {
    // A link the person follows out of a page holding much memory is left like a typed
    // address: the next page of the site gets a renderer of its own.
    if (!holdsMuch()) return false;
    QTimer::singleShot(0, this, [this, url] { leave([url](QWebEnginePage* page) { page->load(url); }, true); });
    return true;
}

bool WebEngineBrowser::holdsMuch() const { return memory_->heldKb() > memory_->leaveFreshAboveKb(); }

void WebEngineBrowser::onHung() {
    if (!leaving_) return;  // while the person stays, a page that does not return holds only itself
    const Leave go = std::move(leaving_);
    leaving_ = nullptr;
    replacePage();
    carryOut(go);
}

void WebEngineBrowser::carryOut(const Leave& go) {
    // What the person has the page load may be a download: theirs.
    if (webengine::DownloadHub* hub = session_ ? session_->downloads() : nullptr) hub->allowFromNavigation(page_);
    go(page_);
}

void WebEngineBrowser::replacePage() {
    if (!page_ || !session_ || !session_->profile()) return;
    qCDebug(lcEngine) << "a fresh page replaces" << page_->url();
    fullScreen_.reset();
    // The history is the engine's, outside the renderer, and goes over whole; the fresh
    // page does not load its current entry again, what the person asked for comes next.
    QByteArray history;
    {
        QDataStream out(&history, QIODevice::WriteOnly);
        out << *page_->history();
    }
    auto* fresh = new EnginePage(*session_, policy_, view_);
    fresh->historySteps().takeOver(page_->historySteps());
    retire(page_);
    bind(nullptr);
    adopt(fresh);
    fresh->restoreHistory(history);
}

void WebEngineBrowser::retire(EnginePage* page) {
    disconnect(page, nullptr, this, nullptr);
    disconnect(page, nullptr, hover_, nullptr);
    deleteWhenFree(page, 0);
}

bool WebEngineBrowser::Navigate(const QString& address) {
    const QUrl url = addressToUrl(address);
    if (!page_ || !url.isValid()) return false;
    // The person's own address for another program (mailto:, a chat's): it goes there,
    // and the page stays. Only while the person is at the program (one of its windows
    // active): a start page for another program starts nothing with the program.
    if (!EnginePage::showsItself(url)) return QApplication::activeWindow() && EnginePage::handOff(url);
    return leave([url](QWebEnginePage* page) { page->load(url); });
}

bool WebEngineBrowser::GoBack() { return page_ && page_->history()->canGoBack() && goInHistory(-1); }

bool WebEngineBrowser::GoForward() { return page_ && page_->history()->canGoForward() && goInHistory(1); }

bool WebEngineBrowser::goInHistory(int step) {
    // Past the entries the page added on its own (HistorySteps): one step reaches the page
    // the person was on.
    const int index = page_->historySteps().target(step);
    return index >= 0 && leave([index](QWebEnginePage* page) { HistorySteps::goTo(page, index); });
}

bool WebEngineBrowser::Stop() {
    if (!page_) return false;
    withdrawDialog();
    page_->triggerAction(QWebEnginePage::Stop);
    return true;
}

bool WebEngineBrowser::Refresh() {
    if (!page_ || page_->url().isEmpty()) return false;
    return leave([](QWebEnginePage* page) { page->triggerAction(QWebEnginePage::Reload); });
}

// Over a dead page: 0, uninitialized, as before the first navigation; there is no
// document until the page loads again.
int WebEngineBrowser::ReadyState() const { return dead_ ? 0 : readyState_; }

void WebEngineBrowser::withdrawDialog() {
    if (dialog_) dialog_->answer(false);
}

bool WebEngineBrowser::runDialog(PageDialog& dialog) {
    const std::function<void(PageDialog*)> show = showDialog;
    if (!show || dialog_) return false;
    // The page shows its dialogs in the main window, not alone on the screen.
    if (fullScreen_ && page_) {
        page_->triggerAction(QWebEnginePage::ExitFullScreen);
        fullScreen_.reset();
    }
    QPointer<WebEngineBrowser> self(this);
    dialog_ = &dialog;
    // Everything else goes on meanwhile: the person's commands, the sweep, the page's
    // other signals, the program's end (which ends this loop too).
    QEventLoop wait;
    connect(&dialog, &PageDialog::Closed, &wait, &QEventLoop::quit);
    show(&dialog);
    if (!dialog.closed()) wait.exec();
    if (self) dialog_ = nullptr;
    dialog.answer(false);  // the program ended meanwhile: the dialog goes all the same
    return dialog.accepted();
}

// The title the view shows; the engine gives the address for a page without one.
QString WebEngineBrowser::LocationName() const {
    if (dead_) return dead_->name;
    return page_ ? page_->title() : QString();
}

// The address in its encoded form, the way the browser requests it: what goes into
// the history file and to the desktop's URL opener is then one unambiguous address
// (spaces and non-ASCII characters percent-encoded), as the original control reported.
QString WebEngineBrowser::LocationURL() const {
    if (dead_) return dead_->url;
    return page_ ? page_->url().toString(QUrl::FullyEncoded) : QString();
}

bool WebEngineBrowser::LocationForHistory() const { return dead_ || !page_ || page_->addressKept(); }

std::shared_ptr<HtmlDocument> WebEngineBrowser::Document() { return document_; }

bool WebEngineBrowser::Zoom(int step) { return webengine::zoomPage(page_, step); }

void WebEngineBrowser::FindText(const QString& text, bool backward, std::function<void(int, int)> found) {
    webengine::findInPage(page_, text, backward, std::move(found));
}

void WebEngineBrowser::bind(std::shared_ptr<WebEngineDocument> document) {
    if (document_ && document_ != document) document_->retire();
    document_ = std::move(document);
}

void WebEngineBrowser::onLoadStarted() {
    if (dead_) {
        dead_.reset();
        showDeadPage(false);
    }
    hover_->loadStarted();
    ++loadGeneration_;
    titleThisLoad_ = false;
    readyState_ = 1;
    emit ProgressChange(0, 100);
}

void WebEngineBrowser::onLoadProgress(int progress) {
    if (dead_) return;
    if (readyState_ == 1 && progress > 0) readyState_ = 3;
    emit ProgressChange(progress, 100);
}

void WebEngineBrowser::onLoadFinished(bool) {
    if (dead_) return;  // a load its renderer's end cut short
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
    // Full screen only in direct answer to the person's click or key in the page.
    if (request.toggleOn() && (!activity_ || !activity_->take(page_, PersonActivity::Answer::FullScreen))) {
        qCDebug(lcEngine) << "full screen refused: no fresh action of the person in" << page_->url();
        // A rejected request leaves the engine waiting for it to be settled, deaf to the
        // page's later ones; one that is granted and left again at once is over.
        request.accept();
        page_->triggerAction(QWebEnginePage::ExitFullScreen);
        emit Refused(Refusal::FullScreen, Denial::of(QString(), request.origin().toDisplayString()));
        return;
    }
    request.accept();
    if (request.toggleOn())
        fullScreen_ = std::make_unique<FullScreenWindow>(widget(), page_, *activity_);
    else
        fullScreen_.reset();
}

bool WebEngineBrowser::isFullScreen() const { return fullScreen_ != nullptr; }

void WebEngineBrowser::onRenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status,
                                                 int exitCode) {
    qCDebug(lcEngine) << "the page's renderer ended:" << status << exitCode << page_->url();
    withdrawDialog();
    fullScreen_.reset();
    // The page is gone with its renderer: the load is over and no document is bound. The
    // browser reports the page as dead, under its address, until the next load starts a
    // new renderer.
    ++loadGeneration_;
    readyState_ = 4;
    bind(nullptr);
    const DeadPage::Ending ending =
        memory_->stoppedForMemory() ? DeadPage::Ending::OutOfMemory : DeadPage::endingOf(status, exitCode);
    const QString title = page_->title();
    const QString url = page_->url().toString(QUrl::FullyEncoded);
    const QString said = DeadPage::shortText(ending);
    dead_ = Dead{title.isEmpty() || title == url ? said : said + QStringLiteral(": ") + title, url};
    deadPage_->tell(ending, page_->url().toDisplayString());
    showDeadPage(true);
    emit TitleChange(dead_->name);
    emit ProgressChange(-1, 100);
}

void WebEngineBrowser::showDeadPage(bool shown) {
    QWidget* focused = QApplication::focusWidget();
    const bool hadFocus = focused && area_->isAncestorOf(focused);
    QWidget* front = shown ? static_cast<QWidget*>(deadPage_) : view_.data();
    stack_->setCurrentWidget(front);
    area_->setFocusProxy(front);
    if (hadFocus) front->setFocus();
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
