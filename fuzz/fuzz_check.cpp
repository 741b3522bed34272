// libFuzzer target for the integrity check of Access databases: the input is
// a whole database file, checked without and with the password "password".
// The check may refuse only with db::Error (a wrong password); damage of any
// kind must come back as problem lines.
#include <cstddef>
#include <cstdint>

#include "db/error.h"
#include "db/jet/check/check.h"
#include "fuzz/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = tp::fuzz::writeScratch("fuzz-check.mdb", data, size);
    for (const char* password : {"", "password"}) {
        try {
            (void)tp::db::jet::checkDatabase(path, password, 50).problems;
        } catch (const tp::db::Error&) {}
    }
    return 0;
}
