#include "wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>
#include <random>

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

unsigned testSeed() {
    bool ok = false;
    unsigned seed = qEnvironmentVariable("TARNWICK_TEST_SEED").toUInt(&ok);
    if (!ok) seed = std::random_device{}();
    std::fprintf(stderr, "[ seed     ] TARNWICK_TEST_SEED=%u\n", seed);
    return seed;
}
