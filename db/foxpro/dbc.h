// A Visual FoxPro database container (.dbc): itself a table whose records
// name the tables, views and fields of the database.
#pragma once

#include <string>
#include <vector>

#include "db/foxpro/dbf.h"

namespace tp::db::foxpro {

struct DbcTable {
    std::string name;                 // the long table name
    std::string storedPath;           // the path stored in the container (may be empty)
    std::vector<std::string> fields;  // long field names, in container order
};

struct DbcObject {
    std::string type;  // "TABLE" or "VIEW"
    std::string name;
    int tableIndex = -1;  // into Dbc::tables for tables
};

struct Dbc {
    std::string path;
    std::vector<DbcObject> objects;  // tables and views in container order
    std::vector<DbcTable> tables;
    // The container's own code page note (DbfTable::takeCodePageNote).
    std::string codePageNote;

    // Reads the container, its text as the options say; throws Error naming
    // the file.
    static Dbc read(const std::string& path, const ReadOptions& options = {});
    // The table's file: the stored path taken relative to the container's
    // folder (".." included), each part found without regard to case. Throws
    // Error naming the table when the file is missing.
    std::string resolveTableFile(const DbcTable& table) const;
};

// The stored path of a PROPERTY memo (property 1), empty when none.
std::string dbcPropertyPath(const std::vector<unsigned char>& property);

}  // namespace tp::db::foxpro
