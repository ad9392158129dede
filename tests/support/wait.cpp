#include "wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

bool waitUntil(const std::function<bool()>& condition, int timeoutMs, int intervalMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (condition()) return true;
        if (clock.elapsed() >= timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(static_cast<unsigned long>(intervalMs));
    }
}
