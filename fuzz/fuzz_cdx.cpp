// libFuzzer target for the compound index reader: the input is a .cdx file,
// read from memory. Its tag directory and tag headers give a tag list or an
// Error, whatever the bytes (cycles, offsets past the end, cut entries).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "db/error.h"
#include "db/foxpro/cdx.h"

using namespace tp::db;
using namespace tp::db::foxpro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto src = memorySource("fuzz.cdx", std::vector<uint8_t>(data, data + size));
    try {
        for (const CdxTag& t : readCdxTags(*src))
            if (t.problem.empty() && t.expression.empty()) __builtin_trap();
    } catch (const Error&) {}
    return 0;
}
