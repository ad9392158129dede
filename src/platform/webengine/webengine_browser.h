#pragma once

// The hosted browser on Qt WebEngine: a QWebEngineView placed in the main window, with
// the control's members and events mapped onto the view and its page. Its parts, each
// in a unit of its own: the page policy (EnginePage), the engine's session with the
// profile, the new windows and the downloads (EngineSession), the status text
// (HoverStatus), the document and its commands (WebEngineDocument), saving and printing
// (PageOutput) and full screen (FullScreenWindow).

#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

#include "platform/web_browser.h"

class EngineSession;
class EnginePage;
class FullScreenWindow;
class HoverStatus;
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
    std::shared_ptr<HtmlDocument> Document() override;

    // The document commands that need a file or a printer, without their dialogs
    // (PageOutput).
    bool savePage(const QString& path);
    bool printPage(std::unique_ptr<QPrinter> printer, std::function<void(bool)> finished = {});

    // The page shows alone on the whole screen, as it asked.
    bool isFullScreen() const;

private:
    void onLoadStarted();
    void onLoadProgress(int progress);
    void onLoadFinished(bool ok);
    void onRenderProcessTerminated();
    void onFullScreenRequested(QWebEngineFullScreenRequest request);
    bool onContextMenu(const QPoint& globalPos);
    // Binds `document` (or none), letting go of the one bound before.
    void bind(std::shared_ptr<WebEngineDocument> document);

    QPointer<QWebEngineView> view_;
    QPointer<EnginePage> page_;
    HoverStatus* hover_ = nullptr;
    PageOutput* output_ = nullptr;
    int readyState_ = 0;
    quint64 loadGeneration_ = 0;           // bumped at every load start and renderer crash
    bool titleThisLoad_ = false;           // the current load has had its title event
    std::shared_ptr<WebEngineDocument> document_;  // the current HTML document, if any
    std::unique_ptr<FullScreenWindow> fullScreen_;  // while the page is full screen
};
