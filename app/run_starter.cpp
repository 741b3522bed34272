#include "app/run_starter.h"

#include "convert/run.h"
#include "convert/source.h"
#include "convert/target.h"

namespace tp::app {

bool providerInstalled() { return tp::convert::target::providerInstalled(); }

bool canConnectToSource() { return tp::convert::source::canConnect(); }

std::string sourceProblem() { return tp::convert::source::problem(); }

namespace {
class Starter : public RunStarter {
public:
    explicit Starter(convert::RunHost& host) : run_(host) {}
    void start() override { run_.start(); }

private:
    convert::ConversionRun run_;
};
}  // namespace

std::unique_ptr<RunStarter> makeRunStarter(convert::RunHost& host) { return std::make_unique<Starter>(host); }

}  // namespace tp::app
