#include "wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QtCore/qtestsupport_core.h>
#include <QThread>
#include <cstdio>
#include <random>

int patient(int timeoutMs) {
    // A deadline only ends a wait that failed; a busy machine must not turn a slow pass
    // into a failure, so every deadline is this many times what the test names
    // (TARNWICK_TEST_PATIENCE, 3 unless set).
    static const double factor = [] {
        bool ok = false;
        const double set = qEnvironmentVariable("TARNWICK_TEST_PATIENCE").toDouble(&ok);
        return ok && set > 0 ? set : 3.0;
    }();
    return static_cast<int>(timeoutMs * factor);
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs, int intervalMs) {
    timeoutMs = patient(timeoutMs);
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
