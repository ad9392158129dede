#pragma once

// The source viewer: the current page's markup as plain text in a window of its own.

#include <QWidget>

class QPlainTextEdit;

class frmSource : public QWidget {
    Q_OBJECT
public:
    frmSource();

    // Shows `markup` under the caption `caption` (taken literally).
    void showSource(const QString& markup, const QString& caption);

    void Form_Resize();

protected:
    // The text follows the window's size whenever it is resized or shown.
    bool event(QEvent* event) override;

private:
    QPlainTextEdit* txtSource = nullptr;
};
