#pragma once

#include <functional>

// Checks `condition` until it holds or `timeoutMs` pass, running the calling thread's Qt
// events in between (QTest::qWaitFor); true when it held. A costly condition (one that
// asks another program) is checked only every `intervalMs`.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 20000, int intervalMs = 0);

// For measurements, where the pace is the caller's: calls `sample` every `intervalMs`
// (running Qt events in between) until it returns true or `timeoutMs` pass; true when
// it did. A sample that never returns true makes a stretch of fixed length.
bool sampleUntil(const std::function<bool()>& sample, int timeoutMs, int intervalMs);

// Runs Qt events for `ms` milliseconds: where something must NOT happen, or over a stretch
// of time being measured.
void settle(int ms);

// The seed for a test drawing random input: TARNWICK_TEST_SEED when set, else a fresh one.
// Printed either way, so that a failing run can be repeated with the same input.
unsigned testSeed();
