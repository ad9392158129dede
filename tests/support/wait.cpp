#include "wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QtCore/qtestsupport_core.h>
#include <QThread>
#include <cstdio>
#include <random>

bool waitUntil(const std::function<bool()>& condition, int timeoutMs, int intervalMs) {
    QElapsedTimer sinceCheck;
    const auto due = [&] {
        // qWaitFor runs one pass of the event loop between its 10 ms naps; the engine
        // posts more than one pass takes, so each check runs the events up to 5 ms more.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (sinceCheck.isValid() && sinceCheck.elapsed() < intervalMs) return false;
        sinceCheck.start();
        return condition();
    };
    return QTest::qWaitFor(due, timeoutMs) || condition();
}

bool sampleUntil(const std::function<bool()>& sample, int timeoutMs, int intervalMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (sample()) return true;
        if (clock.elapsed() >= timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, intervalMs);
        QThread::usleep(static_cast<unsigned long>(intervalMs) * 1000);
    }
}

void settle(int ms) {
    sampleUntil([] { return false; }, ms, 10);
}

unsigned testSeed() {
    bool ok = false;
    unsigned seed = qEnvironmentVariable("TARNWICK_TEST_SEED").toUInt(&ok);
    if (!ok) seed = std::random_device{}();
    std::fprintf(stderr, "[ seed     ] TARNWICK_TEST_SEED=%u\n", seed);
    return seed;
}
