#pragma once

// The about window: the build line and what the program does.

#include <QPlainTextEdit>
#include <QWidget>

class frmAbout : public QWidget {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* centreOn = nullptr);

    QPlainTextEdit* Text1 = nullptr;

    // The window's text, each line ended by CR LF.
    static QString text();

protected:
    void showEvent(QShowEvent* event) override;
};
