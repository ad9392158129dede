#pragma once

// The hosted browser on Qt WebEngine: a QWebEngineView placed in the main window, with
// the control's members and events mapped onto the view and its page.

#include <QPoint>
#include <QWidget>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <memory>

#include "platform/web_browser.h"

class QAuthenticator;
class QPrinter;
class QWebEngineFullScreenRequest;
class FullScreenWindow;
class QWebEngineView;
class QWebEnginePage;
class WebEngineDocument;

class WebEngineBrowser : public WebBrowser {
    Q_OBJECT
public:
    // The view becomes a child widget of `parent`; the browser object belongs to
    // `parent` too and goes with it.
    explicit WebEngineBrowser(QWidget* parent);
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
    bool Zoom(int step) override;
    void FindText(const QString& text, bool backward, std::function<void(int active, int count)> found) override;

    // The address Navigate loads for `address`: an absolute path becomes a file URL, an
    // address without a scheme gets "http://", anything else is taken as it is. Invalid
    // (or empty) when the address cannot be loaded.
    static QUrl addressToUrl(const QString& address);

    // The document commands that need a file or a printer, without their dialogs.
    // savePage stores the current page at `path`: a name ending in ".mht" or ".mhtml"
    // gets one MIME HTML file, any other name the complete page (HTML with its
    // resources in a folder beside it). It returns at once; the file follows.
    bool savePage(const QString& path);
    // printPage prints the current page on `printer`, which is kept until the engine
    // reports the end of printing; `finished` then receives the outcome. Returns false
    // (and drops the printer) while an earlier print is still running.
    bool printPage(std::unique_ptr<QPrinter> printer, std::function<void(bool)> finished = {});

    // The page shows alone on the whole screen, as it asked.
    bool isFullScreen() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class WebEngineDocument;

    void onLinkHovered(const QString& url);
    void releasePendingClear();
    void watchPointer();

    void onLoadStarted();
    void onLoadProgress(int progress);
    void onLoadFinished(bool ok);
    void onRenderProcessTerminated();
    void answerLogin(const QUrl& site, bool proxy, QAuthenticator* authenticator);
    void onFullScreenRequested(QWebEngineFullScreenRequest request);
    bool onContextMenu(const QPoint& globalPos);

    // The document commands with their dialogs.
    bool printWithDialog();
    bool saveWithDialog();

    QPointer<QWebEngineView> view_;
    QPointer<QWebEnginePage> page_;
    int readyState_ = 0;
    quint64 loadGeneration_ = 0;           // bumped at every load start and renderer crash
    bool titleThisLoad_ = false;           // the current load has had its title event
    QString statusText_;                   // the link last reported under the pointer
    QPoint hoverPointer_;                  // where the pointer was when it was reported
    bool clearPending_ = false;            // the engine dropped it without the pointer moving
    QPointer<QWidget> pointerSurface_;     // the view's input widget, watched for motion
    std::shared_ptr<WebEngineDocument> document_;  // the current HTML document, if any
    bool printing_ = false;
    std::unique_ptr<FullScreenWindow> fullScreen_;  // while the page is full screen
};
