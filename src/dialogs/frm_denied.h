#pragma once

// The "Denied" list: this session's denied events, newest first, one row each, so that
// its rows and the line of those it no longer keeps add up to the count in status panel 1.
// A row with an address opens it in the main window (Open here, or Enter on the row) and
// gives it to the clipboard (Ctrl+C). A small tool window that exists at most once.

#include <QString>
#include <cstdint>
#include <functional>

#include "dialogs/tool_window.h"
#include "platform/desktop/denial_record.h"

class QLabel;
class QListWidget;
class QPushButton;

class frmDenied : public ToolWindow {
    Q_OBJECT
public:
    // `openHere` opens an address in the main window as if the person had typed it.
    explicit frmDenied(std::function<void(const QString&)> openHere);

    // Shows what `log` keeps, newest first, and how many of the `count` denials it no
    // longer keeps. Only what is new since the last call is added.
    void showLog(const DenialLog& log, std::int64_t count);

    // The text of a denial's row: its time, what it was and where it came from.
    static QString rowText(const Denial& denial);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString currentAddress() const;
    void openCurrent();

    std::function<void(const QString&)> openHere_;
    QListWidget* list_ = nullptr;
    QLabel* dropped_ = nullptr;
    QPushButton* open_ = nullptr;
    std::uint64_t shown_ = 0;  // the log's additions shown so far
};
