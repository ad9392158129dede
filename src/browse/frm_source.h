#pragma once

// The source viewer: the current page's markup as plain text in a window of its own.

#include <QPlainTextEdit>
#include <QWidget>

class frmSource : public QWidget {
    Q_OBJECT
public:
    frmSource();

    QPlainTextEdit* txtSource = nullptr;

    void Form_Resize();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
};
