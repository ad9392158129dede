#pragma once

// Whether a page's renderer still answers. A page's script that never returns (an endless
// loop, a loop of dialogs answered at once) holds the renderer's main thread, and with it
// everything the page would do next, a navigation to the same site included. The watchdog
// asks the renderer a question from the application's own script world, which that thread
// answers between two tasks of the page; no answer within kPatienceMs means the page does
// not return. It asks only when it is needed (the person's input in the window, the
// person leaving the page): a quiet page costs nothing.

#include <QObject>
#include <QPointer>
#include <QTimer>

class QWebEnginePage;

class PageWatchdog : public QObject {
    Q_OBJECT
public:
    static constexpr int kPatienceMs = 1000;

    explicit PageWatchdog(QObject* parent);

    // The page whose renderer is asked from now on; a question to the page before is
    // forgotten.
    void watch(QWebEnginePage* page);
    // Asks the page's renderer, unless a question is open already or the page has no
    // renderer running.
    void ask();
    // The open question has gone unanswered for kPatienceMs, and the page still has the
    // renderer that was asked.
    bool unanswered() const;
    // Asks whenever the person presses a key or a mouse button in `window`, so that a
    // page that does not return is known by the time the person leaves it.
    void askOnInputIn(QWidget* window);

signals:
    // unanswered() became true.
    void hung();
    // The renderer answered the open question.
    void answered();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void expire();
    void close();

    QPointer<QWebEnginePage> page_;
    QPointer<QWidget> window_;
    QTimer patience_;
    qint64 askedPid_ = 0;     // the renderer the open question went to
    quint64 question_ = 0;    // numbers the questions; a late answer to an older one counts for nothing
    bool open_ = false;
    bool late_ = false;
};
