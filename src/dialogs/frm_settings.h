#pragma once

// The settings dialog: the start page and clearing the URL history. It is given the
// settings file to write (found at each write), a way to read the current address and the history's "clear" command.

#include <QString>
#include <functional>

#include "dialogs/tool_window.h"

class QGroupBox;
class QLineEdit;
class QPushButton;

class frmSettings : public ToolWindow {
    Q_OBJECT
public:
    frmSettings(std::function<QString()> settingsFileToWrite, std::function<QString()> currentAddress, std::function<void()> clearHistory);

    // Shows `address` as the start page (without storing it).
    void showStartPage(const QString& address);

    void cmd1_Click();
    void cmd2_Click();
    void Command5_Click();
    void ClearURL_Click();
    void Command1_Click();

signals:
    // The user closed the dialog; it is deleted soon after.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QPushButton* ClearURL = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLineEdit* DefaultURL = nullptr;
    QPushButton* cmd2 = nullptr;
    QPushButton* Command5 = nullptr;
    QPushButton* cmd1 = nullptr;
    QPushButton* Command1 = nullptr;

    std::function<QString()> settingsFileToWrite_;
    std::function<QString()> currentAddress_;
    std::function<void()> clearHistory_;
};
