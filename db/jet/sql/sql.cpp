// Jet SQL statements parsed in one pass: the tokenizer, CREATE TABLE with its
// type words, INSERT INTO ... VALUES, SELECT, DROP TABLE, and names (the
// coercion of literals: sql_coerce.cpp).
#include "db/jet/sql/sql.h"
#include "db/jet/sql/sql_chars.h"
#include "db/jet/sql/sql_lexer.h"
#include "db/jet/sql/sql_query.h"
#include "db/jet/format/index_keys.h"
#include "db/jet/tables/stored_table.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

namespace tp::db::jet {

namespace {

using namespace sqlchars;

const char* const kInvalidSql =
    "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'.";

// ---- CREATE TABLE types -----------------------------------------------------

enum class SizeRule { None, Text, Decimal };
struct TypeWord {
    const char* word;
    ColType type;
    SizeRule size;
    bool autoNumber = false;
    bool fixedLength = false;
    bool memoWithoutSize = false;  // TEXT alone is a Memo
};

const TypeWord kTypes[] = {
    {"TEXT", ColType::Text, SizeRule::Text, false, false, true},
    {"VARCHAR", ColType::Text, SizeRule::Text},
    {"CHAR", ColType::Text, SizeRule::Text, false, true},
    {"CHARACTER", ColType::Text, SizeRule::Text, false, true},
    {"NVARCHAR", ColType::Text, SizeRule::Text},
    {"NCHAR", ColType::Text, SizeRule::Text, false, true},
    {"STRING", ColType::Text, SizeRule::Text},
    {"ALPHANUMERIC", ColType::Text, SizeRule::Text},
    {"MEMO", ColType::Memo, SizeRule::None},
    {"LONGTEXT", ColType::Memo, SizeRule::None},
    {"LONGCHAR", ColType::Memo, SizeRule::None},
    {"NOTE", ColType::Memo, SizeRule::None},
    {"NTEXT", ColType::Memo, SizeRule::None},
    {"BYTE", ColType::Byte, SizeRule::None},
    {"TINYINT", ColType::Byte, SizeRule::None},
    {"INTEGER1", ColType::Byte, SizeRule::None},
    {"SHORT", ColType::Int, SizeRule::None},
    {"SMALLINT", ColType::Int, SizeRule::None},
    {"INTEGER2", ColType::Int, SizeRule::None},
    {"INT", ColType::Long, SizeRule::None},
    {"INTEGER", ColType::Long, SizeRule::None},
    {"LONG", ColType::Long, SizeRule::None},
    {"INTEGER4", ColType::Long, SizeRule::None},
    {"COUNTER", ColType::Long, SizeRule::None, true},
    {"AUTOINCREMENT", ColType::Long, SizeRule::None, true},
    {"SINGLE", ColType::Float, SizeRule::None},
    {"REAL", ColType::Float, SizeRule::None},
    {"FLOAT4", ColType::Float, SizeRule::None},
    {"IEEESINGLE", ColType::Float, SizeRule::None},
    {"FLOAT", ColType::Double, SizeRule::None},
    {"DOUBLE", ColType::Double, SizeRule::None},
    {"FLOAT8", ColType::Double, SizeRule::None},
    {"IEEEDOUBLE", ColType::Double, SizeRule::None},
    {"NUMBER", ColType::Double, SizeRule::None},
    {"CURRENCY", ColType::Money, SizeRule::None},
    {"MONEY", ColType::Money, SizeRule::None},
    {"DECIMAL", ColType::Numeric, SizeRule::Decimal},
    {"NUMERIC", ColType::Numeric, SizeRule::Decimal},
    {"DEC", ColType::Numeric, SizeRule::Decimal},
    {"DATETIME", ColType::DateTime, SizeRule::None},
    {"DATE", ColType::DateTime, SizeRule::None},
    {"TIME", ColType::DateTime, SizeRule::None},
    {"TIMESTAMP", ColType::DateTime, SizeRule::None},
    {"BIT", ColType::Bool, SizeRule::None},
    {"YESNO", ColType::Bool, SizeRule::None},
    {"LOGICAL", ColType::Bool, SizeRule::None},
    {"LOGICAL1", ColType::Bool, SizeRule::None},
    {"BOOLEAN", ColType::Bool, SizeRule::None},
    {"BINARY", ColType::Binary, SizeRule::Text},
    {"VARBINARY", ColType::Binary, SizeRule::Text},
    {"LONGBINARY", ColType::OLE, SizeRule::None},
    {"IMAGE", ColType::OLE, SizeRule::None},
    {"OLEOBJECT", ColType::OLE, SizeRule::None},
    {"GENERAL", ColType::OLE, SizeRule::None},
    {"GUID", ColType::Guid, SizeRule::None},
    {"UNIQUEIDENTIFIER", ColType::Guid, SizeRule::None},
};

const TypeWord* findType(std::string_view w) {
    for (const auto& t : kTypes)
        if (ieq(w, t.word)) return &t;
    return nullptr;
}

// DEFAULT literal: kept as written (the DefaultValue Access keeps), after the
// literal is tried on the column as an INSERT would store it. DEFAULT NULL
// is no default.
void parseDefault(Lexer& lx, ColumnDef& def, std::string_view table) {
    lx.skip();
    const size_t from = lx.pos();
    Literal lit;
    lx.valueLiteral(lit);
    if (lit.kind == LiteralKind::Null) {
        def.defaultValue.clear();
        return;
    }
    if (def.autoNumber) lx.fail();
    coerceLiteral(lit, def, table);
    def.defaultValue.assign(lx.text().substr(from, lx.pos() - from));
}

// TEXT(n) and its kin: the size, or a Memo (TEXT alone), or 255.
void parseTextSize(Lexer& lx, const TypeWord& t, ColumnDef& def) {
    if (lx.accept('(')) {
        long n = lx.number();
        lx.expect(')');
        if (n > 255) throw Error(jeterr::kFieldSize, "Size of field '" + def.name + "' is too long.");
        if (n < 1) throw Error(jeterr::kFieldSize, "Size of field '" + def.name + "' must be from 1 through 255.");
        def.size = static_cast<int>(n);
    } else if (t.memoWithoutSize) {
        def.type = ColType::Memo;
        def.size = 0;
    } else {
        def.size = 255;
    }
}

// DECIMAL[(precision[, scale])]
void parseDecimalSize(Lexer& lx, ColumnDef& def) {
    def.precision = 18;
    def.scale = 0;
    if (!lx.accept('(')) return;
    long p = lx.number(), s = 0;
    if (lx.accept(',')) s = lx.number();
    lx.expect(')');
    if (p < 1 || p > 28) throw Error(jeterr::kSyntaxFieldDefinition, "Invalid precision for decimal data type.");
    if (s > p) throw Error(jeterr::kSyntaxFieldDefinition, "Invalid scale for decimal data type.");
    def.precision = static_cast<int>(p);
    def.scale = static_cast<int>(s);
}

// COUNTER[(seed, increment)]: the AutoNumber's first value; it counts by 1.
void parseCounterSeed(Lexer& lx, ColumnDef& def) {
    if (!lx.accept('(')) return;
    const long seed = lx.number();
    lx.expect(',');
    const long increment = lx.number();
    lx.expect(')');
    if (seed < 1 || increment != 1)
        throw Error(jeterr::kNotSupported, "An AutoNumber starts at 1 or more and counts by 1.");
    def.autoNumberSeed = static_cast<uint32_t>(seed);
}

void parseModifiers(Lexer& lx, ColumnDef& def, std::string_view table) {
    // Modifiers: NOT NULL, NULL, WITH COMP[RESSION], DEFAULT literal.
    for (;;) {
        auto w = lx.peekWord();
        if (ieq(w, "NOT")) {
            lx.word();
            lx.expectWord("NULL");
            def.notNull = true;
        } else if (ieq(w, "NULL")) {
            lx.word();
        } else if (ieq(w, "WITH")) {
            lx.word();
            auto c = lx.word();
            if (!ieq(c, "COMP") && !ieq(c, "COMPRESSION")) lx.fail();
            if (def.type != ColType::Text && def.type != ColType::Memo) lx.fail();
            def.compressed = true;
        } else if (ieq(w, "DEFAULT")) {
            lx.word();
            parseDefault(lx, def, table);
        } else if (ieq(w, "PRIMARY") || ieq(w, "UNIQUE") || ieq(w, "CONSTRAINT") || ieq(w, "REFERENCES")) {
            throw Error(jeterr::kNotSupported, "Constraints and keys are not supported in CREATE TABLE.");
        } else {
            break;
        }
    }
}

// One column of a CREATE TABLE: name, type, size and modifiers.
ColumnDef parseColumn(Lexer& lx, std::string_view table) {
    ColumnDef def;
    std::string_view name = lx.name();
    checkName(name);
    lx.setError(jeterr::kSyntaxFieldDefinition, jeterr::kSyntaxFieldText);
    const TypeWord* t = findType(lx.word());
    if (!t) lx.fail();
    def.name.assign(name);
    def.type = t->type;
    def.autoNumber = t->autoNumber;
    def.fixedLength = t->fixedLength;
    if (t->size == SizeRule::Text) parseTextSize(lx, *t, def);
    else if (t->size == SizeRule::Decimal) parseDecimalSize(lx, def);
    else if (t->autoNumber) parseCounterSeed(lx, def);
    parseModifiers(lx, def, table);
    return def;
}

void parseCreate(Lexer& lx, Statement& out) {
    out.kind = StatementKind::CreateTable;
    out.table = lx.name();
    checkName(out.table);
    lx.expect('(');
    for (;;) {
        ColumnDef def = parseColumn(lx, out.table);
        lx.setError(jeterr::kSyntaxCreateTable, jeterr::kSyntaxCreateTableText);
        for (const auto& d : out.definitions)
            if (sameName(d.name, def.name)) throw jeterr::fieldTwice();
        out.definitions.push_back(std::move(def));
        if (out.definitions.size() > 255) throw jeterr::tooManyFields();
        if (lx.accept(',')) continue;
        lx.expect(')');
        break;
    }
    lx.finish();
}

// The literals of a VALUES list after its "(", and the end.
void parseValues(Lexer& lx, Statement& out) {
    for (;;) {
        out.values.emplace_back();
        lx.valueLiteral(out.values.back());
        if (lx.accept(',')) continue;
        lx.expect(')');
        break;
    }
    lx.finish();
}

void parseInsert(Lexer& lx, Statement& out) {
    out.kind = StatementKind::Insert;
    lx.expectWord("INTO");
    out.table = lx.name();
    if (lx.accept('(')) {
        out.hasColumnList = true;
        size_t b = lx.pos();
        for (;;) {
            out.columns.push_back(lx.name());
            if (lx.accept(',')) continue;
            lx.expect(')');
            break;
        }
        out.columnListText = lx.text().substr(b, lx.pos() - b);
    }
    lx.expectWord("VALUES");
    lx.expect('(');
    if (!out.hasColumnList) {
        out.valuesPrefix.assign(lx.text().substr(0, lx.pos()));
        out.tableAt = size_t(out.table.data() - lx.text().data());
        out.tableSize = out.table.size();
    }
    parseValues(lx, out);
}

// SELECT, UPDATE, DELETE: the query, and the table and plain column names
// it names.
void parseQuery(Lexer& lx, Statement& out, StatementKind kind) {
    out.kind = kind;
    out.query = std::make_shared<Query>();
    Query& q = *out.query;
    if (kind == StatementKind::Select) parseSelectQuery(lx, q);
    else if (kind == StatementKind::Update) parseUpdateQuery(lx, q);
    else parseDeleteQuery(lx, q);
    out.table = q.table;
    for (const SelectItem& it : q.items)
        if (!it.star && it.expr.op == ExprOp::Column) out.columns.emplace_back(it.expr.name);
}

// ---- keys: CREATE INDEX, DROP INDEX, ALTER TABLE ... CONSTRAINT ----------------

// "(a [ASC|DESC], b, ...)" into the index's columns.
void parseIndexColumns(Lexer& lx, IndexDef& ix, bool orders) {
    lx.expect('(');
    do {
        IndexDef::Column c;
        c.name = std::string(lx.name());
        if (orders && lx.acceptWord("DESC")) c.descending = true;
        else if (orders) lx.acceptWord("ASC");
        ix.columns.push_back(std::move(c));
    } while (lx.accept(','));
    lx.expect(')');
}

void parseNameList(Lexer& lx, std::vector<std::string>& out) {
    lx.expect('(');
    do out.emplace_back(lx.name());
    while (lx.accept(','));
    lx.expect(')');
}

// CREATE [UNIQUE] INDEX name ON table (columns) [WITH PRIMARY | DISALLOW NULL | IGNORE NULL ...]
void parseCreateIndex(Lexer& lx, Statement& out, bool unique) {
    out.kind = StatementKind::CreateIndex;
    out.index.unique = unique;
    out.index.name = std::string(lx.name());
    lx.expectWord("ON");
    out.index.table = std::string(lx.name());
    parseIndexColumns(lx, out.index, true);
    if (lx.acceptWord("WITH")) {
        do {
            if (lx.acceptWord("PRIMARY")) out.index.primary = true;
            else if (lx.acceptWord("DISALLOW") && lx.acceptWord("NULL")) out.index.disallowNull = true;
            else if (lx.acceptWord("IGNORE") && lx.acceptWord("NULL")) out.index.ignoreNull = true;
            else lx.fail();
        } while (!lx.atEnd() && lx.peek() != ';');
    }
    lx.finish();
}

// ON UPDATE / ON DELETE actions of a FOREIGN KEY: CASCADE or NO ACTION.
void parseReferentialActions(Lexer& lx, RelationshipDef& r) {
    while (lx.acceptWord("ON")) {
        bool* cascade = nullptr;
        if (lx.acceptWord("UPDATE")) cascade = &r.cascadeUpdate;
        else if (lx.acceptWord("DELETE")) cascade = &r.cascadeDelete;
        else lx.fail();
        if (lx.acceptWord("CASCADE")) *cascade = true;
        else if (lx.acceptWord("NO")) lx.expectWord("ACTION");
        else if (lx.acceptWord("SET") && lx.acceptWord("NULL"))
            throw Error(jeterr::kNotSupported, "ON UPDATE / ON DELETE SET NULL is not supported.");
        else lx.fail();
    }
}

// ALTER TABLE table ADD [COLUMN] definition, ALTER [COLUMN] definition and
// DROP [COLUMN] name, after the ADD, ALTER or DROP.
void parseColumnChange(Lexer& lx, Statement& out, const std::string& table, ColumnChangeKind kind) {
    lx.acceptWord("COLUMN");
    out.kind = StatementKind::AlterColumn;
    ColumnChange& ch = out.columnChange;
    ch.kind = kind;
    ch.table = table;
    if (kind == ColumnChangeKind::Drop) {
        ch.column.name = std::string(lx.name());
        lx.finish();
        return;
    }
    ch.column = parseColumn(lx, table);
    lx.setError(jeterr::kSyntaxAlterTable, jeterr::kSyntaxAlterTableText);
    lx.finish();
}

// The property a SET names, as the engine knows it; anything else is refused
// by name.
const props::Known& settableProperty(std::string_view name, bool column) {
    std::string names;
    for (const props::Known& k : props::kKnown) {
        if (!(column ? k.column : k.table)) continue;
        if (ieq(name, k.name)) return k;
        names += std::string(names.empty() ? "" : ", ") + k.name;
    }
    throw Error(jeterr::kNotSupported, "Property '" + std::string(name) + "' cannot be set on " +
                                           (column ? "a field" : "a table") + "; the properties are " + names + ".");
}

// The value of a SET: a string literal ('' for a quote), NULL (the property
// removed), or True/False for a Yes/No property.
std::optional<std::string> propertyValue(Lexer& lx, const props::Known& k) {
    Literal lit;
    lx.valueLiteral(lit);
    if (lit.kind == LiteralKind::Null) return std::nullopt;
    if (k.type == props::kYesNo && lit.kind == LiteralKind::Bool) return lit.boolean ? "1" : "0";
    if (k.type == props::kYesNo || lit.kind != LiteralKind::String || lit.joined) lx.fail();
    return unquote(lit);
}

// ALTER TABLE table [ALTER [COLUMN] column] SET name = value [, name = value ...],
// after the SET.
void parsePropertySet(Lexer& lx, Statement& out, const std::string& table, std::string column) {
    out.kind = StatementKind::SetProperties;
    PropertyChange& ch = out.propertyChange;
    ch.table = table;
    ch.column = std::move(column);
    do {
        const props::Known& k = settableProperty(lx.name(), !ch.column.empty());
        lx.expect('=');
        ch.values.emplace_back(k.name, propertyValue(lx, k));
    } while (lx.accept(','));
    lx.finish();
}

// ALTER [COLUMN] after ALTER TABLE table: a property SET, else the column's
// new definition.
void parseAlterColumn(Lexer& lx, Statement& out, const std::string& table) {
    const size_t at = lx.pos();
    lx.acceptWord("COLUMN");
    const std::string column(lx.name());
    if (lx.acceptWord("SET")) return parsePropertySet(lx, out, table, column);
    lx.seek(at);
    parseColumnChange(lx, out, table, ColumnChangeKind::Alter);
}

// NOT ENFORCED after a FOREIGN KEY: a relationship Access keeps without
// checking its rows, which cannot cascade.
void parseEnforcement(Lexer& lx, RelationshipDef& r) {
    if (!lx.acceptWord("NOT")) return;
    lx.expectWord("ENFORCED");
    if (r.cascadeUpdate || r.cascadeDelete) lx.fail();
    r.enforced = false;
}

// ALTER TABLE table ADD CONSTRAINT name {PRIMARY KEY | UNIQUE | FOREIGN KEY ...}
// and ALTER TABLE table DROP CONSTRAINT name; the column changes and the
// property SETs.
void parseAlterTable(Lexer& lx, Statement& out) {
    const std::string table(lx.name());
    if (lx.acceptWord("SET")) return parsePropertySet(lx, out, table, {});
    if (lx.acceptWord("ALTER")) return parseAlterColumn(lx, out, table);
    if (lx.acceptWord("DROP")) {
        if (!lx.acceptWord("CONSTRAINT")) return parseColumnChange(lx, out, table, ColumnChangeKind::Drop);
        out.kind = StatementKind::DropIndex;
        out.constraint = true;
        out.index.table = table;
        out.index.name = std::string(lx.name());
        lx.finish();
        return;
    }
    lx.expectWord("ADD");
    if (!lx.acceptWord("CONSTRAINT")) return parseColumnChange(lx, out, table, ColumnChangeKind::Add);
    lx.setError(jeterr::kSyntaxConstraint, jeterr::kSyntaxConstraintText);
    const std::string name(lx.name());
    if (lx.acceptWord("FOREIGN")) {
        lx.expectWord("KEY");
        out.kind = StatementKind::AddRelationship;
        RelationshipDef& r = out.relationship;
        r.name = name;
        r.table = table;
        parseNameList(lx, r.columns);
        lx.expectWord("REFERENCES");
        r.referenced = std::string(lx.name());
        if (lx.peek() == '(') parseNameList(lx, r.referencedColumns);
        parseReferentialActions(lx, r);
        parseEnforcement(lx, r);
        lx.finish();
        return;
    }
    out.kind = StatementKind::CreateIndex;
    out.index.name = name;
    out.index.table = table;
    if (lx.acceptWord("PRIMARY")) {
        lx.expectWord("KEY");
        out.index.primary = true;
    } else {
        lx.expectWord("UNIQUE");
        out.index.unique = true;
    }
    parseIndexColumns(lx, out.index, false);
    lx.finish();
}

// CREATE TABLE or CREATE [UNIQUE] INDEX, after CREATE.
void parseCreateStatement(Lexer& lx, Statement& out) {
    lx.setError(jeterr::kSyntaxCreateTable, jeterr::kSyntaxCreateTableText);
    if (lx.acceptWord("TABLE")) return parseCreate(lx, out);
    const bool unique = lx.acceptWord("UNIQUE");
    if (lx.acceptWord("INDEX")) {
        lx.setError(jeterr::kSyntaxCreateIndex, jeterr::kSyntaxCreateIndexText);
        return parseCreateIndex(lx, out, unique);
    }
    auto w = lx.peekWord();
    if (ieq(w, "VIEW") || ieq(w, "PROCEDURE"))
        throw Error(jeterr::kNotSupported, "Only CREATE TABLE and CREATE INDEX are supported.");
    lx.fail();
}

}  // namespace

// ---- public -----------------------------------------------------------------------

// Names are the same when the General sort order keys them alike (case and
// compatibility forms ignored in every script), as the catalog compares them.
bool sameName(std::string_view a, std::string_view b) {
    if (ieq(a, b)) return true;
    auto ascii = [](std::string_view s) {
        for (char c : s)
            if (uint8_t(c) >= 0x80) return false;
        return true;
    };
    if (ascii(a) && ascii(b)) return false;
    std::vector<uint8_t> ka, kb;
    appendTextKey(ka, utf8ToUtf16(a), kGeneralLegacy);
    appendTextKey(kb, utf8ToUtf16(b), kGeneralLegacy);
    return ka == kb;
}

int columnIndex(const StoredTable& t, std::string_view name) {
    for (size_t k = 0; k < t.columns.size(); ++k)
        if (sameName(t.columns[k].name, name)) return int(k);
    return -1;
}

void checkName(std::string_view name) {
    bool ok = !name.empty() && name.front() != ' ' && utf16Length(name) <= 64;
    for (char c : name)
        if (c == '.' || c == '!' || c == '`' || c == '[' || c == ']' || (unsigned char)c < 0x20) ok = false;
    if (!ok) throw jeterr::invalidName(name);
}

size_t utf16Length(std::string_view s) {
    size_t n = 0;
    for (char ch : s) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c & 0xC0) != 0x80) ++n;  // a lead byte or ASCII
        if (c >= 0xF0) ++n;           // four-byte sequences need a surrogate pair
    }
    return n;
}

void parseStatement(std::string_view sql, Statement& out) {
    out.table = {};
    out.columns.clear();
    out.hasColumnList = false;
    out.columnListText = {};
    out.values.clear();
    out.definitions.clear();
    out.index = {};
    out.relationship = {};
    out.constraint = false;
    out.columnChange = {};
    out.propertyChange = {};
    out.query.reset();  // a failed or earlier query never lingers

    const std::string_view prefix = out.valuesPrefix;
    if (!prefix.empty() && sql.size() > prefix.size() && sql.substr(0, prefix.size()) == prefix) {
        // The same bytes read the same way: only the literals are new.
        out.kind = StatementKind::Insert;
        out.table = sql.substr(out.tableAt, out.tableSize);
        Lexer lx(sql, jeterr::kSyntaxInsert, jeterr::kSyntaxInsertText);
        lx.seek(prefix.size());
        parseValues(lx, out);
        return;
    }

    Lexer lx(sql, jeterr::kInvalidStatement, kInvalidSql);
    auto first = lx.word();
    if (ieq(first, "INSERT")) {
        lx.setError(jeterr::kSyntaxInsert, jeterr::kSyntaxInsertText);
        parseInsert(lx, out);
    } else if (ieq(first, "CREATE")) {
        parseCreateStatement(lx, out);
    } else if (ieq(first, "ALTER")) {
        lx.setError(jeterr::kSyntaxAlterTable, jeterr::kSyntaxAlterTableText);
        lx.expectWord("TABLE");
        parseAlterTable(lx, out);
    } else if (ieq(first, "DROP")) {
        lx.setError(jeterr::kSyntaxDrop, jeterr::kSyntaxDropText);
        out.kind = StatementKind::DropTable;
        if (lx.acceptWord("INDEX")) {
            out.kind = StatementKind::DropIndex;
            out.constraint = false;
            out.index.name = std::string(lx.name());
            lx.expectWord("ON");
            out.index.table = std::string(lx.name());
            lx.finish();
            return;
        }
        if (!lx.acceptWord("TABLE")) {
            if (ieq(lx.peekWord(), "VIEW") || ieq(lx.peekWord(), "PROCEDURE"))
                throw Error(jeterr::kNotSupported, "Only DROP TABLE and DROP INDEX are supported.");
            lx.fail();
        }
        out.table = lx.name();
        lx.finish();
    } else if (ieq(first, "SELECT")) {
        lx.setError(jeterr::kSyntaxSelect, jeterr::kSyntaxSelectText);
        parseQuery(lx, out, StatementKind::Select);
    } else if (ieq(first, "UPDATE")) {
        lx.setError(jeterr::kSyntaxUpdate, jeterr::kSyntaxUpdateText);
        parseQuery(lx, out, StatementKind::Update);
    } else if (ieq(first, "DELETE")) {
        lx.setError(jeterr::kSyntaxFrom, jeterr::kSyntaxFromText);
        parseQuery(lx, out, StatementKind::Delete);
    } else {
        lx.fail();
    }
}

bool parseLiteralText(std::string_view text, Literal& out) {
    Lexer lx(text, jeterr::kSyntaxInsert, jeterr::kSyntaxInsertText);
    try {
        lx.valueLiteral(out);
        return lx.atEnd();
    } catch (const Error&) {
        return false;
    }
}

}  // namespace tp::db::jet
