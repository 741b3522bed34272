// The source and target modules' start-up checks and the conversion run, as
// the main window calls them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "convert/host.h"
#include "convert/selection.h"

namespace tp::app {

// convert::target::providerInstalled().
bool providerInstalled();
// convert::source::canConnect().
bool canConnectToSource(const SourceChoice& source);
// convert::source::problem(): why the source cannot be converted, or empty.
std::string sourceProblem(const SourceChoice& source);
// convert::target::openProblem(): why a run could not write into or open the target, or empty.
std::string targetProblem(const TargetChoice& target);

// One conversion run object per main window, so that a click during a run's
// yield is refused by the run itself.
class RunStarter {
public:
    virtual ~RunStarter() = default;
    virtual void start(const RunSelection& selection) = 0;
};
// The run's start is followed, when the run ends, by the notice of the code
// pages its tables were read in (codePagesNotice) and of the indexes and
// relations it left out (keysNotice), when there are.
std::unique_ptr<RunStarter> makeRunStarter(convert::RunHost& host);
std::string codePagesNotice(const std::vector<std::string>& lines);
// The notice of the indexes and relations a run left out, one line each.
// With rowsConverted, it says the rows of those tables were converted.
std::string keysNotice(const std::vector<std::string>& lines, bool withDefaults = false, bool withProperties = false,
                       bool rowsConverted = true);
// The relations made without enforced integrity (the target's rows break them).
std::string unenforcedNotice(const std::vector<std::string>& lines);
// The fields a run left out or kept in another kind, with why.
std::string fieldsNotice(const std::vector<std::string>& lines);

}  // namespace tp::app
