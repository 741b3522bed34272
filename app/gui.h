// The windows' entry point: the application object, the skin and the main
// window.
#pragma once

namespace tp::app {

// Starts the windows; returns the exit status.
int runGui(int argc, char** argv);

}  // namespace tp::app
