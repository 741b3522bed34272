// Jet SQL for the Access engine: the statements this program generates and
// what a user editing them types (CREATE TABLE, DROP TABLE, INSERT INTO ...
// VALUES, SELECT ... FROM one table), parsed in one pass without copying, and
// the engine's coercion of each literal into its column's type.
//
// Every failure is a db::Error carrying the engine's own number and wording.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/error.h"
#include "db/jet/database.h"
#include "db/jet/errors.h"
#include "db/value.h"

namespace tp::db::jet {

enum class LiteralKind : uint8_t { Null, String, Number, Bool, Date, Binary };

// One literal of a VALUES list. Views point into the statement text.
struct Literal {
    LiteralKind kind = LiteralKind::Null;
    // String: the body between the quotes, doubled quotes not yet undone
    // (escaped tells whether there are any). Number: as written, sign
    // not included (see negative). Date: the text between the # signs.
    // Binary: the hexadecimal digits after 0x.
    std::string_view text;
    char quote = '\'';
    bool escaped = false;
    // String: text is a joined text, quoted pieces and Chr(n)/ChrW(n) joined
    // by & ('a' & Chr(13) & Chr(10) & 'b'), as a value with line breaks is
    // written on one line.
    bool joined = false;
    bool boolean = false;   // Bool
    bool negative = false;  // Number: a minus sign stood before it
};

enum class StatementKind : uint8_t {
    CreateTable,
    DropTable,
    Insert,
    Select,
    CreateIndex,      // CREATE INDEX, ALTER TABLE ... ADD CONSTRAINT ... PRIMARY KEY / UNIQUE
    AddRelationship,  // ALTER TABLE ... ADD CONSTRAINT ... FOREIGN KEY
    DropIndex,        // DROP INDEX ... ON, ALTER TABLE ... DROP CONSTRAINT (constraint set)
    Update,
    Delete,
    AlterColumn,    // ALTER TABLE ... ADD [COLUMN], ALTER [COLUMN], DROP [COLUMN]
    SetProperties,  // ALTER TABLE ... [ALTER [COLUMN] c] SET name = 'text', ...
};

struct Query;

// A parsed statement. The object is meant to be reused: its vectors keep
// their room from one statement to the next.
struct Statement {
    StatementKind kind = StatementKind::Insert;
    std::string_view table;  // the name without its brackets
    // INSERT: the column list (hasColumnList); SELECT: the chosen columns
    // that are plain names (empty for *).
    std::vector<std::string_view> columns;
    bool hasColumnList = false;
    std::string_view columnListText;     // INSERT: the raw list, for caching
    std::vector<Literal> values;         // INSERT
    std::vector<ColumnDef> definitions;  // CREATE TABLE
    IndexDef index;                      // CreateIndex; DropIndex: its name and table
    RelationshipDef relationship;        // AddRelationship
    bool constraint = false;             // DropIndex: ALTER TABLE ... DROP CONSTRAINT
    ColumnChange columnChange;           // AlterColumn
    PropertyChange propertyChange;       // SetProperties
    // SELECT, UPDATE, DELETE: the query (sql_query.h), a new one for each
    // statement (a SELECT's cursor keeps its own).
    std::shared_ptr<Query> query;

    // The text of the last INSERT without a column list up to its first
    // literal, and where the table name lies in it: a statement that starts
    // with the same bytes is read from its literals on.
    std::string valuesPrefix;
    size_t tableAt = 0, tableSize = 0;
};

// Parses one statement (a trailing ";" and blanks are allowed). Throws
// db::Error in the engine's words.
void parseStatement(std::string_view sql, Statement& out);

// The text of a literal's string body with doubled quotes undone.
std::string unquote(const Literal& lit);

// Converts a literal into the value stored in column `column` of table
// `table` (the table name only appears in messages).
Value coerceLiteral(const Literal& lit, const ColumnDef& column, std::string_view table);
// Reads text that is one literal alone (a column's DefaultValue); false for
// anything else (an expression Access would evaluate). Views point into text.
bool parseLiteralText(std::string_view text, Literal& out);
// The same into out, whose text keeps its room from the last row.
void coerceLiteral(const Literal& lit, const ColumnDef& column, std::string_view table, Value& out);

// Checks an object or field name by the engine's rules (at most 64
// characters, none of . ! ` [ ], no control characters, no leading blank).
void checkName(std::string_view name);

// Reads a date or time text as the engine does under United States
// conventions: m/d/yyyy, m/d/yy, m/d, yyyy-mm-dd, each with an optional time
// h:nn[:ss] [AM|PM], or a time alone (on 1899-12-30).
bool parseDateText(std::string_view text, DateTime& out);

// The number of UTF-16 code units of a UTF-8 text (the engine's length).
size_t utf16Length(std::string_view utf8);

// Compares names without regard to ASCII case.
bool sameName(std::string_view a, std::string_view b);

struct StoredTable;
// The position of the table's column of that name (sameName), or -1.
int columnIndex(const StoredTable& t, std::string_view name);

}  // namespace tp::db::jet
