#pragma once

// The page alone on the whole screen, for a page that asked to go full screen in answer
// to the person's click or key: a window of its own that takes the browser's area (the
// view with its page, moved as it is) and gives it back where it was when it closes. The
// main window stays as it was behind it. The page never changes views, so what the
// engine and the accessibility bus know of it stays valid. On entering, a notice says how
// to leave. Esc asks the page to leave full screen, and the page may not come back to it
// until the person clicks in it again; closing the window does the same.

#include <QPointer>
#include <QRect>
#include <QWidget>

class PersonActivity;
class QLabel;
class QWebEnginePage;

class FullScreenWindow : public QWidget {
public:
    // The notice's text, and how long it shows once on screen.
    static const QString kLeaveNotice;
    static constexpr int kNoticeMs = 4000;

    // Shows `area` (the browser's widget, which shows `page`) alone on the screen; its
    // clicks and keys keep counting for the page in `activity`.
    FullScreenWindow(QWidget* area, QWebEnginePage* page, PersonActivity& activity);
    ~FullScreenWindow() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void askToLeave();
    void placeNotice();

    QPointer<QWidget> area_;
    QPointer<QWidget> home_;  // where the area came from, and where it stood
    QRect homeGeometry_;
    QPointer<QWebEnginePage> page_;
    QPointer<PersonActivity> activity_;
    QLabel* notice_ = nullptr;
    bool noticeShown_ = false;  // painted once: its time runs
};
