#include "ui/events.h"

#include <chrono>

namespace tp {

namespace {
std::function<void()> g_pump;
int g_throttleMs = 15;
std::chrono::steady_clock::time_point g_last{};
}  // namespace

void setEventPump(std::function<void()> pump) { g_pump = std::move(pump); }
void setEventThrottleMs(int ms) { g_throttleMs = ms; }

void DoEventsNow() {
    if (!g_pump) return;
    g_last = std::chrono::steady_clock::now();
    g_pump();
}

void DoEvents() {
    if (!g_pump) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - g_last < std::chrono::milliseconds(g_throttleMs)) return;
    g_last = now;
    g_pump();
}

}  // namespace tp
