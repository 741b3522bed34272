// The source and target modules and the conversion run, as the main window
// calls them.
#pragma once

#include <memory>

#include "convert/host.h"

namespace tp::app {

// IsProviderInstalled of the Access module.
bool providerInstalled();
// IsValidFoxProConnection of the FoxPro module.
bool foxProConnectionValid();

// One conversion run object per main window, so that a click during a run's
// yield is refused by the run itself.
class RunStarter {
public:
    virtual ~RunStarter() = default;
    virtual void start() = 0;
};
std::unique_ptr<RunStarter> makeRunStarter(convert::RunHost& host);

}  // namespace tp::app
