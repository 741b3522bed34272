// The providers built into the program.
#include <mutex>

#include "db/ado.h"
#include "db/jet_provider.h"
#include "db/foxpro_provider.h"

namespace tp::db {

void registerBuiltinProviders() {
    static std::once_flag once;
    std::call_once(once, [] {
        jet::registerJetProviders();
        ProviderRegistry::instance().add(foxpro::kProviderName, foxpro::openFoxproProvider);
    });
}

}  // namespace tp::db
