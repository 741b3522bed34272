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

// What the container says of a field or a table beside its name, in
// UTF-8 with blanks around each text left out; empty where it says nothing.
// A table has no caption, default, input mask or format.
struct DbcProperties {
    std::string caption;       // property 56
    std::string comment;       // property 7
    std::string rule;          // property 9: a FoxPro expression
    std::string ruleText;      // property 10: a FoxPro expression giving the message
    std::string defaultValue;  // property 11: a FoxPro expression
    std::string inputMask;     // property 54
    std::string format;        // property 55
    // Why the property memo could not be read to its end (what was read
    // before the damage is kept); empty when it could.
    std::string problem;
};

struct DbcTable {
    std::string name;                            // the long table name
    std::string storedPath;                      // the path stored in the container (may be empty)
    std::vector<std::string> fields;             // long field names, in container order
    std::vector<DbcProperties> fieldProperties;  // per field
    DbcProperties properties;                    // of the table: comment, rule and its text
    std::vector<DbcIndex> indexes;               // in container order
    std::string primaryTag;                      // property 20 of the Table object; empty when none
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
    std::string insertRule;  // "RESTRICT" or "IGNORE"
    std::string problem;     // why the relation cannot be used; empty when it can
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
// The captions, comments, rules and the like of a PROPERTY memo, its text
// in the container's code page.
DbcProperties dbcProperties(const std::vector<unsigned char>& property, const TextDecoder& decoder);

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
