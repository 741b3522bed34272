// libFuzzer target for the table reader: the input is a table file followed,
// after its first 0xFE 0xFF 0xFE 0xFF marker, by its memo file (FPT, or DBT
// when the year byte is odd). Every
// record is decoded; the reader may reject the input only with db::Error.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "db/error.h"
#include "db/foxpro/dbc.h"
#include "db/foxpro/dbf.h"

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
    std::vector<uint8_t> table(data, data + split);
    std::unique_ptr<ByteSource> memo;
    // The low bit of the header's year byte picks a dBase .dbt memo instead
    // of an .fpt (used only by non-VFP tables).
    const bool dbt = size > 1 && (data[1] & 1);
    if (split < size)
        memo = memorySource(dbt ? "fuzz.dbt" : "fuzz.fpt", std::vector<uint8_t>(data + split + 4, data + size));
    try {
        DbfTable t(memorySource("fuzz.dbf", std::move(table)), std::move(memo));
        (void)t.fieldInfos();
        std::vector<Value> row;
        while (t.next(row)) {
            for (const auto& v : row)
                if (v.kind() == Kind::Binary && v.bytes().size() > 7) (void)dbcPropertyPath(v.bytes());
        }
    } catch (const Error&) {}
    return 0;
}
