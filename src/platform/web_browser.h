#pragma once

// What the program calls on its hosted web browser and on the browser's current HTML
// document, and nothing more. The real implementation sits on Qt WebEngine
// (platform/webengine/); tests use a scriptable fake.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QWidget;

// The browser's current top-level HTML document.
class HtmlDocument {
public:
    virtual ~HtmlDocument() = default;

    // Runs one of the document's own commands: "copy", "paste", "print", "saveas" or
    // "refresh". Returns false when the command could not be carried out.
    virtual bool execCommand(const QString& command) = 0;

    // Reads the markup inside the root element (documentElement.innerHTML). The answer
    // may come later; `done` receives std::nullopt when the document has no root element
    // or the markup cannot be read. `done` is never called after the document is gone.
    virtual void documentElementInnerHTML(std::function<void(std::optional<QString>)> done) = 0;

    // The document's context-menu event. Called on a right-click in the page while this
    // document is bound; its result tells whether the page's own menu may show. Without
    // a handler the page's own menu shows.
    std::function<bool()> oncontextmenu;
};

class WebBrowser : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~WebBrowser() override = default;

    // The widget to place and size inside the main window.
    virtual QWidget* widget() = 0;

    // Each returns false when the browser refused or could not do it.
    virtual bool Navigate(const QString& address) = 0;
    virtual bool GoBack() = 0;
    virtual bool GoForward() = 0;
    virtual bool Stop() = 0;
    virtual bool Refresh() = 0;

    // 0 uninitialized, 1 loading, 2 loaded, 3 interactive, 4 complete.
    virtual int ReadyState() const = 0;
    virtual QString LocationName() const = 0;
    virtual QString LocationURL() const = 0;

    // The current top-level document, or nullptr when there is none or it is not HTML
    // (binding fails).
    virtual std::shared_ptr<HtmlDocument> Document() = 0;

signals:
    void StatusTextChange(const QString& text);
    void ProgressChange(int progress, int progressMax);
    void TitleChange(const QString& title);
    void DocumentComplete(const QString& url);
};
