#pragma once

// The downloads window: one row per download of the session with its name, a progress
// bar with the bytes received and the rate, and Cancel / Open folder. A small tool window
// that exists at most once; closing it leaves the downloads running.

#include <QElapsedTimer>
#include <QPointer>
#include <functional>

#include "dialogs/tool_window.h"
#include "platform/web_browser.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

class frmDownloads : public ToolWindow {
    Q_OBJECT
public:
    // `openFolder` opens a folder (as an address) in the desktop's file manager.
    explicit frmDownloads(std::function<bool(const QString&)> openFolder);

    // Adds a row for `download` (once) and keeps it current.
    void add(Download* download);
    int rowCount() const { return rows_; }

    // Texts shown for a download: "12.5 MB of 50.0 MB, 3.1 MB/s", "50.0 MB, done", ...
    static QString statusText(const Download& download, double bytesPerSecond);

private:
    std::function<bool(const QString&)> openFolder_;
    QVBoxLayout* list_ = nullptr;
    int rows_ = 0;
    QList<QPointer<Download>> listed_;
};

// Asks with the platform's save dialog where to keep `download`, proposing the server's
// file name in the download folder (replacing an existing file takes the dialog's
// confirmation). Save accepts the download and calls `accepted`; Cancel drops it.
void askWhereToSave(QWidget* parent, Download* download, std::function<void(Download*)> accepted);
