#pragma once

#include <functional>

// Polls `condition` until it holds or `timeoutMs` pass, processing the calling thread's
// Qt events between polls; true when it held.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 20000, int intervalMs = 10);

// The seed for a test drawing random input: TARNWICK_TEST_SEED when set, else a fresh one.
// Printed either way, so that a failing run can be repeated with the same input.
unsigned testSeed();
