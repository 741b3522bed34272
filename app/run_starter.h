// The source and target modules' start-up checks and the conversion run, as
// the main window calls them.
#pragma once

#include <memory>
#include <string>

#include "convert/host.h"

namespace tp::app {

// convert::target::providerInstalled().
bool providerInstalled();
// convert::source::canConnect().
bool canConnectToSource();
// convert::source::problem(): why the source cannot be converted, or empty.
std::string sourceProblem();

// One conversion run object per main window, so that a click during a run's
// yield is refused by the run itself.
class RunStarter {
public:
    virtual ~RunStarter() = default;
    virtual void start() = 0;
};
std::unique_ptr<RunStarter> makeRunStarter(convert::RunHost& host);

}  // namespace tp::app
