// A Visual FoxPro database container (.dbc): itself a table whose records
// name the tables, views and fields of the database.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "db/foxpro/dbf.h"

namespace tp::db::foxpro {

// An Index object of the container: one tag of its table's structural index.
struct DbcIndex {
    std::string name;
    bool primary = false;  // property 17: the table's primary key
};

struct DbcTable {
    std::string name;                 // the long table name
    std::string storedPath;           // the path stored in the container (may be empty)
    std::vector<std::string> fields;  // long field names, in container order
    // Per field: its default value expression (property 11 of the Field
    // object), in UTF-8; empty when none.
    std::vector<std::string> fieldDefaults;
    std::vector<DbcIndex> indexes;    // in container order
    std::string primaryTag;           // property 20 of the Table object; empty when none
    // The tag the container names as primary key: the Index object marked
    // so, else the Table object's property 20; empty when none.
    std::string primaryKeyTag() const;
};

// A persistent relation: its object belongs to the child (many side) table.
struct DbcRelation {
    std::string name;        // the object's name ("Relation 1")
    int childTable = -1;     // into Dbc::tables; -1 when its parent object is no table
    std::string childTag;    // property 13
    std::string parentName;  // property 18, as stored
    int parentTable = -1;    // into Dbc::tables; -1 when no table has that name
    std::string parentTag;   // property 19
    std::string updateRule;  // "CASCADE", "RESTRICT" or "IGNORE", from RIINFO
    std::string deleteRule;
    std::string problem;  // why the relation cannot be used; empty when it can
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
    std::vector<DbcRelation> relations;  // in container order
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
// The value of property `id` of a PROPERTY memo; false when it has none.
bool dbcProperty(const std::vector<unsigned char>& property, uint8_t id, std::string& value);

// An Index or Relation record of the container, as read.
struct DbcKeyRecord {
    int64_t parent = -1;
    bool relation = false;
    std::string name;
    std::vector<unsigned char> property;
    std::string riinfo;
};
// Adds the records' indexes to their tables and their relations to
// dbc.relations (dbc_keys.cpp); tableById maps OBJECTID to Dbc::tables.
void attachDbcKeys(Dbc& dbc, const std::vector<DbcKeyRecord>& records, const std::map<int64_t, size_t>& tableById);

}  // namespace tp::db::foxpro
