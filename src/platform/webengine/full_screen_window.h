#pragma once

// The page alone on the whole screen, for a page that asked to go full screen in answer
// to the person's click or key: a window of its own that takes the page from the
// browser's view and gives it back when it closes. The main window stays as it was
// behind it. On entering, a notice says how to leave. Esc asks the page to leave full
// screen, and the page may not come back to it until the person clicks in it again;
// closing the window does the same.

#include <QPointer>
#include <QWidget>

class PersonActivity;
class QLabel;
class QWebEnginePage;
class QWebEngineView;

class FullScreenWindow : public QWidget {
public:
    // The notice's text, and how long it shows.
    static const QString kLeaveNotice;
    static constexpr int kNoticeMs = 4000;

    // The person's clicks and keys in the window count for `page` in `activity`.
    FullScreenWindow(QWebEngineView* home, QWebEnginePage* page, PersonActivity& activity);
    ~FullScreenWindow() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void askToLeave();
    void placeNotice();

    QPointer<QWebEngineView> home_;
    QPointer<QWebEnginePage> page_;
    QPointer<PersonActivity> activity_;
    QWebEngineView* view_ = nullptr;
    QLabel* notice_ = nullptr;
};
