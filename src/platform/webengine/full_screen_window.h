#pragma once

// The page alone on the whole screen, for a page that asked to go full screen: a window
// of its own that takes the page from the browser's view and gives it back when it
// closes. The main window stays as it was behind it. Esc asks the page to leave full
// screen; so does closing the window.

#include <QPointer>
#include <QWidget>

class QWebEnginePage;
class QWebEngineView;

class FullScreenWindow : public QWidget {
public:
    FullScreenWindow(QWebEngineView* home, QWebEnginePage* page);
    ~FullScreenWindow() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void askToLeave();

    QPointer<QWebEngineView> home_;
    QPointer<QWebEnginePage> page_;
    QWebEngineView* view_ = nullptr;
};
