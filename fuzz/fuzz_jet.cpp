// libFuzzer target for the Access storage reader (Jet 3/4 and ACE): the input
// is a whole database file. It is opened read-only, every table is listed,
// its columns read and its rows scanned (a bounded number per table). The
// reader may reject the input only with db::Error.
//
// Built twice: fuzz_jet opens without a password, fuzz_jet_password (with
// TP_FUZZ_PASSWORD) opens with "password" so that the header password check
// and the Office decryption run past their refusal.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "db/error.h"
#include "db/jet/database.h"
#include "fuzz/fuzz_file.h"

using namespace tp::db;
using namespace tp::db::jet;

namespace {

#ifdef TP_FUZZ_PASSWORD
constexpr const char* kPassword = "password";
#else
constexpr const char* kPassword = "";
#endif
constexpr int kRowsPerTable = 200;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = tp::fuzz::writeScratch("fuzz.mdb", data, size);
    try {
        auto db = Database::open(path, kPassword, true);
        (void)db->format();
        for (const auto& t : db->listTables()) {
            try {
                (void)db->findTable(t.name);
                (void)db->columns(t.name);
                auto cursor = db->scan(t.name);
                (void)cursor->fields();
                std::vector<Value> row;
                for (int n = 0; n < kRowsPerTable && cursor->next(row); ++n) {}
            } catch (const Error&) {
                // One damaged table must not stop the others from being read.
            }
        }
        db->close();
    } catch (const Error&) {}
    return 0;
}
