// The Access engine's storage layer: one open .mdb (Jet 4; later ACE .accdb
// and Jet 3) file. Statements are parsed and coerced above this layer; the
// storage layer takes typed values, one per column, in column order.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "db/cursor.h"
#include "db/jet/errors.h"
#include "db/jet/format/index_keys.h"
#include "db/value.h"

namespace tp::db::jet {

// Column types as stored in the table definition.
enum class ColType : uint8_t {
    Bool = 0x01,   // Yes/No (stored in the null mask)
    Byte = 0x02,   // 8-bit unsigned
    Int = 0x03,    // 16-bit
    Long = 0x04,   // 32-bit
    Money = 0x05,  // currency, 64-bit ten-thousandths
    Float = 0x06,  // single
    Double = 0x07,
    DateTime = 0x08,  // double, days since 1899-12-30
    Binary = 0x09,    // up to 255 bytes
    Text = 0x0A,      // up to 255 characters
    OLE = 0x0B,       // long binary
    Memo = 0x0C,      // long text
    Guid = 0x0F,
    Numeric = 0x10,  // decimal, precision and scale
    Complex = 0x12,  // attachments, multi-value (ACE; never written by us)
    BigInt = 0x13,   // ACE large number (never written by us)
    ExtDateTime = 0x14,
};

struct ColumnDef {
    std::string name;
    ColType type = ColType::Text;
    // Text: maximum characters (1..255). Binary: maximum bytes (1..255).
    // Other types: ignored when creating (the engine knows their sizes).
    int size = 255;
    int precision = 18;       // Numeric
    int scale = 0;            // Numeric
    bool autoNumber = false;  // Long with COUNTER/AUTOINCREMENT
    // COUNTER(seed, 1): the first value the AutoNumber hands out (0: 1).
    uint32_t autoNumberSeed = 0;
    bool notNull = false;
    bool fixedLength = false;  // fixed-length text/binary (CHAR)
    bool compressed = false;   // Text/Memo WITH COMPRESSION (Unicode compression)
    // DEFAULT: the literal as written (its DefaultValue property); empty for
    // none. A column an INSERT leaves out takes it.
    std::string defaultValue{};

    bool operator==(const ColumnDef&) const = default;
};

// An index as CREATE INDEX and ADD CONSTRAINT ... PRIMARY KEY describe it.
struct IndexDef {
    std::string name, table;
    struct Column {
        std::string name;
        bool descending = false;
    };
    std::vector<Column> columns;
    bool unique = false;
    bool primary = false;       // the table's primary key (unique, no nulls)
    bool disallowNull = false;  // WITH DISALLOW NULL
    bool ignoreNull = false;    // WITH IGNORE NULL: rows whose key is all null have no entry
};

// An enforced relationship: the many side's columns refer to the one side's
// primary key or unique index.
struct RelationshipDef {
    std::string name;
    std::string table;  // the many side
    std::vector<std::string> columns;
    std::string referenced;  // the one side
    std::vector<std::string> referencedColumns;
    bool cascadeUpdate = false, cascadeDelete = false;
    bool enforced = true;  // read from a file: Access also keeps relationships it does not enforce
};

enum class TableKind { User, System, AccessSystem, Query, Linked };

struct TableInfo {
    std::string name;
    TableKind kind = TableKind::User;
};

enum class FileFormat { Jet3, Jet4, Ace12, Ace14, Ace16, Ace17 };

// What UPDATE and DELETE do with a row offered to them.
enum class RowChange { Keep, Remove, Replace };
// Given a row's values (one per column), tells what becomes of it; for
// Replace it leaves the new values in the row.
using RowChanger = std::function<RowChange(std::vector<Value>& row)>;

// A condition a WHERE puts on one column, for reading through an index: the
// column's value lies in one of the spans [low, high] (a Null bound leaves
// that side open; no spans: no row meets it). Rows read this way are a
// superset of those that meet it; the WHERE still decides.
struct ValueRange {
    int column = -1;  // position in columns()
    std::vector<std::pair<Value, Value>> spans;
};

// Reads of rows through an index (scanWhere, changeRows) since the process
// started.
uint64_t indexReadCount();

// ALTER TABLE ... ADD [COLUMN], ALTER [COLUMN] and DROP [COLUMN].
enum class ColumnChangeKind { Add, Alter, Drop };
struct ColumnChange {
    ColumnChangeKind kind = ColumnChangeKind::Add;
    std::string table;
    ColumnDef column;  // Add, Alter: the column as defined; Drop: its name
};
// ALTER TABLE t [ALTER [COLUMN] c] SET name = 'text' [, ...]: properties of
// a column, or of the table itself, set (nullopt: removed). Yes/No
// properties (Required) take "1" or "0".
struct PropertyChange {
    std::string table;
    std::string column;  // empty: the table's own properties
    std::vector<std::pair<std::string, std::optional<std::string>>> values;
};

// ALTER COLUMN: a stored value as the altered column stores it (throws the
// error an INSERT of that value would give).
using ValueConverter = std::function<Value(const Value& value, const ColumnDef& column)>;

// Values the storage layer accepts for a column (already coerced):
//   Bool: Kind::Bool           Byte/Int/Long: Kind::Int (range-checked here)
//   Money: Kind::Currency      Float/Double: Kind::Double
//   DateTime: Kind::DateTime   Binary/OLE: Kind::Binary
//   Text/Memo: Kind::Text (UTF-8)   Guid: Kind::Text "{xxxxxxxx-...}"
//   Numeric: Kind::Decimal (scale already applied)
//   null: Value() for any column (autoNumber columns: null means "next number").
// Reading gives the same kinds back.
class Database {
public:
    virtual ~Database() = default;

    // Opens an existing file. Errors (db::Error): "Could not find file '<path>'.",
    // "Not a valid password.", "Unrecognized database format '<path>'.", and
    // clear messages for damaged files.
    static std::unique_ptr<Database> open(const std::string& path, const std::string& password, bool readOnly);
    // Creates a new, empty database with the engine's own system tables
    // (fails with "Database already exists." if the file exists). A password
    // holds at most 20 characters.
    static std::unique_ptr<Database> create(const std::string& path, const std::string& password,
                                            FileFormat format = FileFormat::Jet4);

    virtual FileFormat format() const = 0;
    virtual std::vector<TableInfo> listTables() = 0;
    // Throws "The Microsoft Jet database engine cannot find the input table or
    // query '<name>'..."-style error (without vendor names) when missing.
    // Names compare without regard to case.
    virtual std::vector<ColumnDef> columns(const std::string& table) = 0;
    // The stored spelling of a table's name, or empty when there is none.
    virtual std::string findTable(const std::string& name) = 0;

    // Errors: "Table '<name>' already exists." (3010), invalid names (3125),
    // a repeated column name (3191), bad sizes (3290).
    virtual void createTable(const std::string& name, const std::vector<ColumnDef>& columns) = 0;
    // Releases the table's pages and removes its catalog row, permission rows
    // and index entries. "Table '<name>' does not exist." (3376); system
    // tables and tables in a relationship are refused.
    virtual void dropTable(const std::string& name) = 0;
    // One value per column, in column order. Cheap: appends to the table's
    // last data page in the page cache; nothing is synced (see flush()).
    // Errors: wrong value count (3346), text/binary longer than the column
    // (3163), numbers out of the column's range (3349 "Numeric field
    // overflow."), a value of the wrong kind (3464).
    virtual void insertRow(const std::string& table, const std::vector<Value>& values) = 0;
    // Keys. createIndex: "Table 't' already has an index named 'i'." (3375),
    // "Primary key already exists." (3283), existing duplicates (3022) or
    // nulls in a primary key or DISALLOW NULL index (3058). dropIndex also
    // drops a relationship of that name (ALTER TABLE ... DROP CONSTRAINT);
    // an index a relationship uses is refused (3303). addRelationship:
    // the referenced columns must be uniquely indexed (3374), the types must
    // agree (3368), and every row of the many side must have its row on the
    // one side (3379). Later INSERTs keep every index and relationship.
    virtual void createIndex(const IndexDef&) { throw jeterr::notSupportedForObject(); }
    virtual void dropIndex(const std::string& /*table*/, const std::string& /*name*/, bool /*constraint*/) {
        throw jeterr::notSupportedForObject();
    }
    virtual void addRelationship(const RelationshipDef&) { throw jeterr::notSupportedForObject(); }
    // The enforced and other relationships of the file, one entry per
    // relationship (the columns in order).
    virtual std::vector<RelationshipDef> relationships() { return {}; }

    // UPDATE and DELETE: every row of the table is offered to `change`.
    // One statement: when a row cannot be changed (a duplicate key 3022, a
    // Null in a required field 3314 or index 3058, a missing related record
    // 3201, related records of a removed key 3200, or what `change` throws)
    // the table is left as before. Rows removed free their long values;
    // replaced rows are checked and stored as an INSERT stores them. Returns
    // the number of rows removed or replaced.
    virtual int64_t changeRows(const std::string& /*table*/, const RowChanger& /*change*/) {
        throw jeterr::notSupportedForObject();
    }
    // The same, offering only the rows a current index finds under the
    // conditions (all of which hold for every row `change` keeps or
    // changes); without such an index every row is offered.
    virtual int64_t changeRows(const std::string& table, const RowChanger& change,
                               const std::vector<ValueRange>& /*where*/) {
        return changeRows(table, change);
    }
    // ALTER TABLE on a column, as one statement. Add: "Field 'c' already
    // exists in table 't'." (3380); rows already stored read the new column
    // as Null (AutoNumber columns number them). Alter and Drop: an unknown
    // column (3265); a column an index or relationship uses cannot be
    // dropped (3280); ALTER converts every stored value with `convert` and
    // fails the whole statement when one does not fit.
    virtual void changeColumn(const ColumnChange& /*change*/, const ValueConverter& /*convert*/) {
        throw jeterr::notSupportedForObject();
    }
    // Properties of a column or of the table (Caption, Description,
    // ValidationRule, ValidationText, DefaultValue, InputMask, Format,
    // Required), as one statement; every other property is kept. A
    // validation rule is parsed when set (3320 when it cannot be), not
    // checked against the rows already stored; INSERT and UPDATE enforce it
    // (3317). Required set to True fails on a stored Null (3314).
    virtual void setProperties(const PropertyChange&) { throw jeterr::notSupportedForObject(); }
    // The sort order text compares by in queries (the database's).
    virtual SortOrder textOrder() const { return kGeneralLegacy; }

    // The file beside which the engine's temporary files go (a query's rows
    // sorted past a bound on memory); empty: the system's temporary folder.
    virtual std::string tempFilesBeside() const { return {}; }

    // The table's row count as its definition keeps it (nothing when the
    // engine keeps none): SELECT COUNT(*) of a whole table.
    virtual std::optional<int64_t> rowCount(const std::string& /*table*/) { return std::nullopt; }
    // Rows in storage order; fields() describe the columns with ADO types.
    virtual std::unique_ptr<Cursor> scan(const std::string& table) = 0;
    // The rows that may meet the conditions (every row that does, perhaps
    // others), read through a current index of the table, in storage order
    // as scan() gives them; nullptr when no index serves.
    virtual std::unique_ptr<Cursor> scanWhere(const std::string& /*table*/, const std::vector<ValueRange>& /*where*/) {
        return nullptr;
    }

    // Units: the statements between beginUnit() and commitUnit() take effect
    // together. rollbackUnit() undoes every one of them (tables dropped come
    // back, tables created are gone, rows inserted are gone) and leaves the
    // file as it was at beginUnit(). One unit at a time; closing with a unit
    // open rolls it back. Errors: a second beginUnit() (3003), commit or
    // rollback without a unit (3034).
    virtual void beginUnit() { throw jeterr::notSupportedForObject(); }
    virtual void commitUnit() { throw jeterr::notSupportedForObject(); }
    virtual void rollbackUnit() { throw jeterr::notSupportedForObject(); }
    // What the open unit keeps to undo itself: page images, of them in
    // memory, and bytes in its temporary file; and the pages the engine's
    // cache holds now.
    struct UnitUse {
        size_t pages = 0, inMemory = 0;
        uint64_t spilled = 0;
        size_t cached = 0;
    };
    virtual UnitUse unitUse() const { return {}; }

    // Writes everything to the file and syncs it (a durability point; also
    // done by close() and, during long insert runs, every few seconds).
    virtual void flush() = 0;
    virtual void close() = 0;
};

}  // namespace tp::db::jet
