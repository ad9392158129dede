#include "platform/webengine/page_output.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrinter>
#include <QUrl>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "platform/system/safe_file_name.h"

PageOutput::PageOutput(QWebEngineView* view, QWebEnginePage* page, QObject* parent)
    : QObject(parent), view_(view), page_(page) {}

bool PageOutput::savePage(const QString& path) {
    if (!page_ || path.isEmpty() || page_->url().isEmpty()) return false;
    const QString suffix = QFileInfo(path).suffix().toLower();
    const auto format = (suffix == QLatin1String("mht") || suffix == QLatin1String("mhtml"))
                            ? QWebEngineDownloadRequest::MimeHtmlSaveFormat
                            : QWebEngineDownloadRequest::CompleteHtmlSaveFormat;
    page_->save(path, format);
    return true;
}

bool PageOutput::saveWithDialog() {
    if (!view_ || !page_ || page_->url().isEmpty()) return false;
    const QString completeFilter = QStringLiteral("Web Page, complete (*.htm *.html)");
    const QString archiveFilter = QStringLiteral("Web Archive, single file (*.mht *.mhtml)");
    // The page names the file by its title: only a plain name is proposed from it.
    const QString title = page_->title().isEmpty() ? QStringLiteral("page") : page_->title();
    const QString suggested = safe_name::fileName(title, QUrl(), safe_name::kMaxBytes - 4);
    QString selectedFilter = completeFilter;
    QPointer<PageOutput> self(this);
    QString path = QFileDialog::getSaveFileName(view_->window(), QString(), suggested + QStringLiteral(".htm"),
                                                completeFilter + QStringLiteral(";;") + archiveFilter,
                                                &selectedFilter);
    if (!self || path.isEmpty()) return false;  // cancelled, or the browser went away meanwhile
    if (QFileInfo(path).suffix().isEmpty())
        path += selectedFilter == archiveFilter ? QStringLiteral(".mht") : QStringLiteral(".htm");
    return savePage(path);
}

bool PageOutput::printPage(std::unique_ptr<QPrinter> printer, std::function<void(bool)> finished) {
    if (printing_ || !view_ || !printer) return false;
    printing_ = true;
    // The engine prints asynchronously and uses the printer until printFinished. The
    // printer lives in the connection: it goes when printing ends or with the view.
    std::shared_ptr<QPrinter> kept(printer.release());
    QPointer<PageOutput> self(this);
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

bool PageOutput::printWithDialog() {
    if (printing_ || !view_) return false;
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPointer<PageOutput> self(this);
    QPointer<QPrintDialog> dialog = new QPrintDialog(printer.get(), view_->window());
    const int result = dialog->exec();
    if (dialog) delete dialog.data();
    if (!self || result != QDialog::Accepted) return false;
    return printPage(std::move(printer));
}
