#pragma once

// The browser's status text: the link under the pointer, as the engine reports it. The
// engine also drops the link when the window merely loses the focus (a popup the click
// opened takes it) or another window comes up under the pointer (a popup the window
// manager places there), with the pointer still resting on the link; the link then stays
// the status text until the pointer moves, or the next load starts.

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

class QWebEngineView;
class QWidget;

class HoverStatus : public QObject {
    Q_OBJECT
public:
    // Follows the pointer over `view`.
    HoverStatus(QWebEngineView* view, QObject* parent);

    // The engine's report: `url` is under the pointer, or no link is (empty).
    void linkHovered(const QString& url);
    // A load starts: a link held after the engine dropped it goes now.
    void loadStarted();
    // The page under the pointer, or what its link is, may have changed without a report
    // of the engine (a load finished): the page is asked which link is under the pointer.
    void askPage();

signals:
    // The status text changed to `text`.
    void changed(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool covered() const;
    void releasePendingClear();
    void watchPointer();

    QPointer<QWebEngineView> view_;
    QString text_;                      // the link last reported under the pointer
    QPoint pointer_;                    // where the pointer last rested on it
    bool clearPending_ = false;         // the engine dropped it without the pointer moving
    quint64 reports_ = 0;               // the engine's reports so far
    QPointer<QWidget> pointerSurface_;  // the view's input widget, watched for motion
};
