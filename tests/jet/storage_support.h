// Helpers of the storage tests: dumping a database through our engine in the
// independent reader's JSON layout, and comparing the two dumps.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "db/ado.h"
#include "db/jet/database.h"

namespace tp::test::storage {

// A column of the given type (text and binary: of the given size).
inline db::jet::ColumnDef column(const char* name, db::jet::ColType type, int size = 255) {
    db::jet::ColumnDef c;
    c.name = name;
    c.type = type;
    c.size = size;
    return c;
}

// Little-endian numbers of a file's bytes.
inline uint32_t le32(const std::string& f, size_t at) {
    uint32_t v;
    std::memcpy(&v, f.data() + at, 4);
    return v;
}
inline uint16_t le16(const std::string& f, size_t at) {
    uint16_t v;
    std::memcpy(&v, f.data() + at, 2);
    return v;
}

// The Id (= first table-definition page) of a table, from MSysObjects; 0 when missing.
uint32_t tableId(db::jet::Database& db, const std::string& name);

// JSON with {tables:[{name, columns:[{name,type}], rows:[[...]]}]} for user
// tables, values rendered as mdb-dump.mjs renders them.
std::string engineDump(db::jet::Database& db);
// Compares an engine dump with an mdb-dump.mjs dump (tables, column names and
// types, rows); returns an empty string when equal, else a description.
std::string compareDumps(const std::string& ours, const std::string& theirs);
// Every row a statement gives back through the connection.
std::vector<std::vector<db::Value>> selectRows(db::Connection& conn, const std::string& sql);
// Convenience: dump FILE with both and compare ("" when equal, else what
// differs). Without mdb-reader the file is still checked by our own checker,
// the comparison is skipped visibly (test::skippedCheck) and "" comes back.
std::string compareWithReader(const std::string& file, const std::string& password = {});

}  // namespace tp::test::storage
