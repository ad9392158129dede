#pragma once

// The hosted browser on Qt WebEngine: a QWebEngineView placed in the main window, with
// the control's members and events mapped onto the view and its page. Its parts, each
// in a unit of its own: the page policy (EnginePage), the engine's session with the
// profile, the new windows and the downloads (EngineSession), the status text
// (HoverStatus), the document and its commands (WebEngineDocument), saving and printing
// (PageOutput), full screen (FullScreenWindow), whether the page's renderer answers
// (PageWatchdog), the bound on its memory (PageMemory) and what shows over a page whose
// renderer ended (DeadPage).
//
// Leaving a page always works: a page whose renderer does not answer when the person
// leaves it (a navigation, Back, Forward, Refresh) is replaced by a fresh page in the same
// profile, on the same view and with the same history, which does what the person asked;
// the old page goes, and its renderer with it. A page holding much memory is replaced the
// same way when the person leaves it (a link they follow in it too), so that no renderer
// keeps what the left page held.

#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "platform/web_browser.h"
#include "platform/webengine/engine_page.h"

class DeadPage;
class EngineSession;
class FullScreenWindow;
class PageMemory;
class PageWatchdog;
class QStackedLayout;
class HoverStatus;
class PersonActivity;
class PageOutput;
class QPrinter;
class QWebEngineFullScreenRequest;
class QWebEngineView;
class WebEngineDocument;

class WebEngineBrowser : public WebBrowser {
    Q_OBJECT
public:
    // The view becomes a child widget of `parent`; the browser object belongs to
    // `parent` too and goes with it. Its pages belong to `session`, which must outlive it.
    WebEngineBrowser(EngineSession& session, QWidget* parent);
    ~WebEngineBrowser() override;

    QWidget* widget() override;

    bool Navigate(const QString& address) override;
    bool GoBack() override;
    bool GoForward() override;
    bool Stop() override;
    bool Refresh() override;

    int ReadyState() const override;
    QString LocationName() const override;
    QString LocationURL() const override;
    bool LocationForHistory() const override;
    std::shared_ptr<HtmlDocument> Document() override;
    bool Zoom(int step) override;
    void FindText(const QString& text, bool backward, std::function<void(int active, int count)> found) override;
    std::optional<Denial> newWindowOf(WindowId window, const QString& title) override;

    // The document commands that need a file or a printer, without their dialogs
    // (PageOutput).
    bool savePage(const QString& path);
    bool printPage(std::unique_ptr<QPrinter> printer, std::function<void(bool)> finished = {});

    // The page shows alone on the whole screen, as it asked.
    bool isFullScreen() const;

private:
    // What leaving does to a page: the one shown when the person leaves, and again the
    // one that replaces it when that one does not answer.
    using Leave = std::function<void(QWebEnginePage* page)>;
    // With `freshPage`, a fresh page takes the place of the one left in any case.
    bool leave(Leave go, bool freshPage = false);
    // The page holds so much memory that its renderer should go with it when it is left.
    bool holdsMuch() const;
    // One step back (-1) or forward (1) in the history.
    bool goInHistory(int step);
    // The page being left tried to go elsewhere while the person left it.
    void onLeaveCrossed();
    // The person follows a link out of the page: true when the browser leaves it for
    // `url` itself, on a fresh page.
    bool followFresh(const QUrl& url);
    // The person left a page that does not answer: a fresh page takes its place.
    void onHung();
    void carryOut(const Leave& go);
    void replacePage();
    // `page` becomes the browser's page: its events reach the browser, the view shows it.
    void adopt(EnginePage* page);
    // `page` is no longer the browser's; it goes as soon as nothing of it runs any more.
    void retire(EnginePage* page);

    // Shows a dialog of the page (showDialog) and waits for its answer, or for the person
    // to act elsewhere.
    bool runDialog(PageDialog& dialog);
    // The person acts on the page from outside it: an open dialog is withdrawn.
    void withdrawDialog();
    void onLoadStarted();
    void onLoadProgress(int progress);
    void onLoadFinished(bool ok);
    void onRenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode);
    void showDeadPage(bool shown);
    void onFullScreenRequested(QWebEngineFullScreenRequest request);
    bool onContextMenu(const QPoint& globalPos);
    // Binds `document` (or none), letting go of the one bound before.
    void bind(std::shared_ptr<WebEngineDocument> document);

    QPointer<EngineSession> session_;
    EnginePage::Policy policy_;  // the main page's, for every page that replaces it
    QPointer<QWidget> area_;      // the widget the main window places: the view, or the dead page
    QStackedLayout* stack_ = nullptr;
    QPointer<QWebEngineView> view_;
    DeadPage* deadPage_ = nullptr;
    QPointer<EnginePage> page_;
    PageWatchdog* watchdog_ = nullptr;
    PageMemory* memory_ = nullptr;
    Leave leaving_;  // the last leave, until the page's renderer answers
    Leave personGo_;  // the last leave, until the page being left crosses it
    // The page whose renderer ended: what the browser reports for it until the next load.
    struct Dead {
        QString name, url;
    };
    std::optional<Dead> dead_;
    QPointer<PersonActivity> activity_;
    PageDialog* dialog_ = nullptr;         // the page's dialog while it is open
    HoverStatus* hover_ = nullptr;
    PageOutput* output_ = nullptr;
    int readyState_ = 0;
    quint64 loadGeneration_ = 0;           // bumped at every load start and renderer crash
    bool titleThisLoad_ = false;           // the current load has had its title event
    std::shared_ptr<WebEngineDocument> document_;  // the current HTML document, if any
    std::unique_ptr<FullScreenWindow> fullScreen_;  // while the page is full screen
};
