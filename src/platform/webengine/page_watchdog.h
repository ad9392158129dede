#pragma once

// Whether a page's renderer still answers. A page's script that never returns (an endless
// loop, a loop of dialogs answered at once) holds the renderer's main thread, and with it
// everything the page would do next, a navigation to the same site included. The watchdog
// asks the renderer a question from the application's own script world, which that thread
// answers between two tasks of the page. The patience is counted in the processor time
// that thread spends meanwhile, not in the time that passes: a page that does not return
// spends it without end, while a renderer that is merely slow (a busy machine shares its
// cores) gets to the question after a little of its own time, and one waiting for the
// person's answer to the page's dialog spends none; neither is taken for one that does
// not return, however long the answer takes by the clock. Where that time cannot be read,
// the time that passes counts instead. It asks only when it is needed (the person's input
// in the window, the person leaving the page): a quiet page costs nothing.

#include <QObject>
#include <QPointer>
#include <QTimer>

class QWebEnginePage;

class PageWatchdog : public QObject {
    Q_OBJECT
public:
    // The processor time the renderer's main thread may spend without answering.
    static constexpr int kPatienceMs = 1000;
    // How often an open question looks at that time.
    static constexpr int kLookEveryMs = 100;

    explicit PageWatchdog(QObject* parent);

    // The page whose renderer is asked from now on; a question to the page before is
    // forgotten.
    void watch(QWebEnginePage* page);
    // Asks the page's renderer, unless a question is open already or the page has no
    // renderer running.
    void ask();
    // The renderer asked has spent kPatienceMs on the page without answering the open
    // question, and the page still has that renderer.
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
    void look();
    void close();

    QPointer<QWebEnginePage> page_;
    QPointer<QWidget> window_;
    QTimer patience_;
    qint64 askedPid_ = 0;     // the renderer the open question went to
    qint64 askedCpuMs_ = -1;  // its main thread's processor time then; -1: unknown
    qint64 waitedMs_ = 0;     // time passed since, where that is unknown
    quint64 question_ = 0;    // numbers the questions; a late answer to an older one counts for nothing
    bool open_ = false;
    bool late_ = false;
};
