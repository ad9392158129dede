#pragma once

// The memory a page may take. The page's renderer process holds everything of the page:
// the script heaps of the page and of its workers, array buffers, WebAssembly memories,
// the DOM, decoded images. Its resident memory of its own (anonymous and shared-memory
// pages, not the program files it maps) is read from /proc about once a second while the
// page has a renderer, and sooner the faster it grows towards the bound: before a renderer
// growing at its last pace could reach the bound, at most every kQuickestMs. A renderer
// over the bound is stopped, and the browser shows the page as out of memory.

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QWebEnginePage;

namespace webengine {

// The resident memory of process `pid` that is its own (RssAnon + RssShmem), KiB; -1 when
// it cannot be read (no such process).
qint64 ownResidentKb(qint64 pid);
// The bound of a page's memory: 1.5 GiB, or a quarter of the machine's memory when that is
// less, KiB.
qint64 pageMemoryBoundKb();

// The processor time, in ms, the main thread of process `pid` has spent (in the program
// and in the system for it); -1 where it cannot be read. On Windows, the whole process's.
qint64 mainThreadCpuMs(qint64 pid);

// Ends the process at once (SIGKILL; TerminateProcess on Windows).
void endProcess(qint64 pid);

}  // namespace webengine

class PageMemory : public QObject {
    Q_OBJECT
public:
    static constexpr int kCalmMs = 1000;  // between two reads of a renderer that does not grow
    static constexpr int kQuickestMs = 10;  // between two reads of one that grows fast

    PageMemory(qint64 boundKb, QObject* parent);

    // The page whose renderer is held to the bound from now on.
    void watch(QWebEnginePage* page);
    // What the page's renderer holds now, KiB (0 with no renderer).
    qint64 heldKb() const;
    // A page holding this much gets a renderer of its own when the person leaves it, so
    // that what it held goes with it.
    qint64 leaveFreshAboveKb() const { return boundKb_ / 4; }
    // The page's last renderer was stopped for its memory (until it has another one).
    bool stoppedForMemory() const { return stoppedPid_ != 0; }

private:
    void check();

    const qint64 boundKb_;
    QPointer<QWebEnginePage> page_;
    QTimer timer_;
    qint64 pid_ = 0;  // the renderer read
    qint64 lastKb_ = -1;  // the last read of pid_, and when it was made
    QElapsedTimer lastAt_;
    qint64 stoppedPid_ = 0;
};
