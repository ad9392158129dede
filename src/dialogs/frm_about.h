#pragma once

// The about window: the build line and what the program does.

#include <QString>

#include "dialogs/tool_window.h"

class QPlainTextEdit;

class frmAbout : public ToolWindow {
    Q_OBJECT
public:
    // Placed at the centre of `centreOn` when one is given.
    explicit frmAbout(QWidget* centreOn = nullptr);

    // The window's text, each line ended by CR LF.
    static QString text();

private:
    QPlainTextEdit* Text1 = nullptr;
};
