#include "platform/webengine/engine_document.h"

#include <QWebEnginePage>
#include <QWebEngineScript>

#include "platform/webengine/page_output.h"

WebEngineDocument::WebEngineDocument(QWebEnginePage* page, PageOutput* output, quint64 generation)
    : page_(page), output_(output), generation_(generation) {}

bool WebEngineDocument::execCommand(const QString& command) {
    if (!page_) return false;
    // MSHTML command identifiers are case-insensitive.
    const QString name = command.toLower();
    if (name == QLatin1String("copy")) {
        page_->triggerAction(QWebEnginePage::Copy);
        return true;
    }
    if (name == QLatin1String("paste")) {
        page_->triggerAction(QWebEnginePage::Paste);
        return true;
    }
    if (name == QLatin1String("refresh")) {
        page_->triggerAction(QWebEnginePage::Reload);
        return true;
    }
    if (name == QLatin1String("print")) return output_ && output_->printWithDialog();
    if (name == QLatin1String("saveas")) return output_ && output_->saveWithDialog();
    return false;
}

void WebEngineDocument::documentElementInnerHTML(std::function<void(std::optional<QString>)> done) {
    if (!done) return;
    if (!page_) {
        done(std::nullopt);
        return;
    }
    std::weak_ptr<WebEngineDocument> self = weak_from_this();
    QPointer<QWebEnginePage> page = page_;
    // The application's own script world: a page's scripts cannot redefine what this
    // reads.
    page->runJavaScript(
        QStringLiteral("document.documentElement ? document.documentElement.innerHTML : null"),
        QWebEngineScript::ApplicationWorld, [self, page, done](const QVariant& result) {
            // Never answer for a document that is gone: destroyed, or replaced by the next
            // page, or whose page or browser went away.
            std::shared_ptr<WebEngineDocument> document = self.lock();
            if (!document || !page || !document->current_) return;
            if (result.typeId() == QMetaType::QString)
                done(result.toString());
            else
                done(std::nullopt);
        });
}
