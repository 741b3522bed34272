#include "host/events.h"

#include <time.h>

#include <cstdint>

#include "db/busy.h"
#include "host/worker_thread.h"

namespace tp {

namespace {

std::function<void()> g_pump;
std::function<void()> g_busyPump;
std::function<void()> g_beforePump;
int g_throttleMs = 15;
int64_t g_lastNs = INT64_MIN / 2;

// The kernel's coarse monotonic clock: a few milliseconds of resolution,
// which the throttle tolerates, read for a quarter of the precise clock's
// cost (a yield runs once per field of every row).
int64_t nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace

void setEventPump(std::function<void()> pump) { g_pump = std::move(pump); }
void setBeforePump(std::function<void()> hook) { g_beforePump = std::move(hook); }
void setEventThrottleMs(int ms) { g_throttleMs = ms; }

void setBusyPump(std::function<void()> pump) {
    g_busyPump = std::move(pump);
    if (!g_busyPump) {
        db::setBusyHook(nullptr);
        return;
    }
    db::setBusyHook([] {
        const int64_t now = nowNs();
        if (now - g_lastNs < static_cast<int64_t>(g_throttleMs) * 1000000) return;
        g_lastNs = now;
        if (g_beforePump) g_beforePump();
        g_busyPump();
        clearUpperVectorState();
    });
}

void pumpEventsNow() {
    if (!g_pump) return;
    g_lastNs = nowNs();
    if (g_beforePump) g_beforePump();
    g_pump();
    clearUpperVectorState();
}

void pumpEvents() {
    if (!g_pump) return;
    const int64_t now = nowNs();
    if (now - g_lastNs < static_cast<int64_t>(g_throttleMs) * 1000000) return;
    g_lastNs = now;
    if (g_beforePump) g_beforePump();
    g_pump();
    clearUpperVectorState();
}

}  // namespace tp
