// The providers built into the program. Each provider adds one line here.
#include <mutex>

#include "db/ado.h"
#include "db/jet/provider.h"
#include "db/foxpro/provider.h"

namespace tp::db {

void registerBuiltinProviders() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Providers register themselves here as they are built.
        jet::registerJetProviders();
        ProviderRegistry::instance().add(foxpro::kProviderName, foxpro::openFoxproProvider);
    });
}

}  // namespace tp::db
