// libFuzzer target for the database container reader: the input is a .dbc
// followed, after its first 0xFE 0xFF 0xFE 0xFF marker, by its .dct memo
// file. The container is read and every table's file resolved (inside a
// private scratch folder; a path leaving it must be refused).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "db/error.h"
#include "db/foxpro/dbc.h"
#include "fuzz/fuzz_file.h"

using namespace tp::db;
using namespace tp::db::foxpro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint8_t marker[4] = {0xFE, 0xFF, 0xFE, 0xFF};
    size_t split = size;
    for (size_t i = 0; i + 4 <= size; ++i)
        if (std::memcmp(data + i, marker, 4) == 0) {
            split = i;
            break;
        }
    const std::string path = tp::fuzz::writeScratch("fuzz.dbc", data, split);
    const std::string memo = tp::fuzz::scratchDir() + "/fuzz.dct";
    if (split < size) tp::fuzz::writeScratch("fuzz.dct", data + split + 4, size - split - 4);
    else std::remove(memo.c_str());
    try {
        const Dbc dbc = Dbc::read(path);
        for (const auto& t : dbc.tables) {
            try {
                (void)dbc.resolveTableFile(t);
            } catch (const Error&) {}
        }
    } catch (const Error&) {}
    return 0;
}
