#pragma once

// The settings dialog: the start page and clearing the URL history.

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

class frmMain;

class frmSettings : public QWidget {
    Q_OBJECT
public:
    explicit frmSettings(frmMain& main);

    QPushButton* ClearURL = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLineEdit* DefaultURL = nullptr;
    QPushButton* cmd2 = nullptr;
    QPushButton* Command5 = nullptr;
    QPushButton* cmd1 = nullptr;
    QPushButton* Command1 = nullptr;

    void cmd1_Click();
    void cmd2_Click();
    void Command5_Click();
    void ClearURL_Click();
    void Command1_Click();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    frmMain& main_;
};
