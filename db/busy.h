// Long work inside the data layer (undoing a unit, writing back many pages,
// giving back the pages of a big table, reading every row of one) calls
// stillBusy() every few hundred pages, so that a host with windows can keep
// them painted meanwhile. The hook is the host's. It must not call back into
// the data layer: the windows handle paint and timer events in it, and keep
// the user's input for after the statement.
#pragma once

#include <functional>

namespace tp::db {

void setBusyHook(std::function<void()> hook);
void stillBusy();

}  // namespace tp::db
