// Kept apart from the provider itself, so that programs which build the
// provider over another storage layer do not pull in the file engine.
#include "db/jet_provider.h"

namespace tp::db::jet {

void registerJetProviders() {
    auto factory = [](const ConnectionString& cs, const ConnectionOptions& options) {
        return openJetConnection(cs, options, [](const std::string& path, const std::string& password, bool readOnly) {
            return Database::open(path, password, readOnly);
        });
    };
    ProviderRegistry::instance().add(kJetProviderName, factory);
    // The ACE provider opens the same engine; the storage layer tells which
    // formats it can open.
    ProviderRegistry::instance().add(kAceProviderName, factory);
}

}  // namespace tp::db::jet
