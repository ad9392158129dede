#pragma once

// One loaded HTML document of the browser's page and its commands: copy, paste and
// refresh on the page, print and save as through the page's output, and the markup
// inside the root element. The browser replaces it at the next completed load; commands
// on a replaced document still act on the page, but its markup is no longer read.

#include <QPointer>
#include <memory>

#include "platform/web_browser.h"

class PageOutput;
class QWebEnginePage;

class WebEngineDocument : public HtmlDocument, public std::enable_shared_from_this<WebEngineDocument> {
public:
    // The document `page` loaded in the load numbered `generation`.
    WebEngineDocument(QWebEnginePage* page, PageOutput* output, quint64 generation);

    quint64 generation() const { return generation_; }
    // The browser let go of it: the next page replaced it, or the browser goes.
    void retire() { current_ = false; }

    bool execCommand(const QString& command) override;
    void documentElementInnerHTML(std::function<void(std::optional<QString>)> done) override;

private:
    QPointer<QWebEnginePage> page_;
    QPointer<PageOutput> output_;
    quint64 generation_;
    bool current_ = true;
};
