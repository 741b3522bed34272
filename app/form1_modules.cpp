#include "app/modules.h"

#ifdef TP_HAVE_ACCESS_MODULE
#include "db/access.h"
#endif
#ifdef TP_HAVE_FOXPRO_MODULE
#include "db/foxpro.h"
#endif
#if defined(TP_HAVE_CONVERSION_RUN) && !defined(TP_NO_CONVERSION_RUN)
#include "convert/run.h"
#endif
#include "ui/messagebox.h"

namespace tp::app {

bool providerInstalled() {
#ifdef TP_HAVE_ACCESS_MODULE
    return tp::access::IsProviderInstalled();
#else
    return true;
#endif
}

bool foxProConnectionValid() {
#ifdef TP_HAVE_FOXPRO_MODULE
    return tp::Foxpro::IsValidFoxProConnection();
#else
    return false;
#endif
}

namespace {
#if defined(TP_HAVE_CONVERSION_RUN) && !defined(TP_NO_CONVERSION_RUN)
class Starter : public RunStarter {
public:
    explicit Starter(convert::RunHost& host) : run_(host) {}
    void start() override { run_.start(); }

private:
    convert::ConversionRun run_;
};
#else
class Starter : public RunStarter {
public:
    explicit Starter(convert::RunHost&) {}
    void start() override { msgBox("The conversion is not available in this build."); }
};
#endif
}  // namespace

std::unique_ptr<RunStarter> makeRunStarter(convert::RunHost& host) {
    return std::make_unique<Starter>(host);
}

}  // namespace tp::app
