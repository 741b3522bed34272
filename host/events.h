// Yields to the event loop from long loops. The windows install a pump; the
// command line and the tests may install none. A yield pumps only when the
// last pump is a few milliseconds old, so that a yield per field of a
// million rows costs next to nothing.
#pragma once

#include <functional>

namespace tp {

void setEventPump(std::function<void()> pump);
// Pumps when at least the throttle interval has passed since the last pump.
void pumpEvents();
// Pumps now, whatever the interval (tests, and places that must repaint).
void pumpEventsNow();
void setEventThrottleMs(int ms);
// The pump for the data layer's long work (a big undo, many pages written
// back): it may not run the user's input handlers, which could reach the
// data layer again; the windows pass one that repaints and keeps the input
// for later. Throttled like pumpEvents().
void setBusyPump(std::function<void()> pump);
// Runs before every pump of either kind (none when null): a window that
// changes what it shows many times between two pumps shows the last change
// there, the only one that could be painted.
void setBeforePump(std::function<void()> hook);

}  // namespace tp
