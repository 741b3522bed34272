#include "db/busy.h"

namespace tp::db {

namespace {
std::function<void()> g_hook;
}

void setBusyHook(std::function<void()> hook) { g_hook = std::move(hook); }

void stillBusy() {
    if (g_hook) g_hook();
}

}  // namespace tp::db
