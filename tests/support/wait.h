#pragma once

#include <functional>

// Polls `condition` until it holds or `timeoutMs` pass, processing the calling thread's
// Qt events between polls; true when it held.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 20000, int intervalMs = 10);
