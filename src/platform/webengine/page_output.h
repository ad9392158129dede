#pragma once

// Saving and printing the browser's page, the document commands that need a file or a
// printer, with their dialogs and without.

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class QPrinter;
class QWebEnginePage;
class QWebEngineView;

class PageOutput : public QObject {
public:
    // Saves and prints `page`, which `view` shows (and prints).
    PageOutput(QWebEngineView* view, QWebEnginePage* page, QObject* parent);

    // Stores the current page at `path`: a name ending in ".mht" or ".mhtml" gets one
    // MIME HTML file, any other name the complete page (HTML with its resources in a
    // folder beside it). Returns at once; the file follows.
    bool savePage(const QString& path);
    // Asks with the platform's save dialog where, proposing the page's title.
    bool saveWithDialog();

    // Prints the current page on `printer`, which is kept until the engine reports the
    // end of printing; `finished` then receives the outcome. Returns false (and drops
    // the printer) while an earlier print is still running.
    bool printPage(std::unique_ptr<QPrinter> printer, std::function<void(bool)> finished = {});
    // Asks with the platform's print dialog on which printer.
    bool printWithDialog();

private:
    QPointer<QWebEngineView> view_;
    QPointer<QWebEnginePage> page_;
    bool printing_ = false;
};
