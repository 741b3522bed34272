#include "convert/keys.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "convert/expression.h"
#include "host/utilities.h"

namespace tp::convert::keys {
namespace {

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string upper(std::string_view s) {
    std::string u(s);
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

// A key expression as written: fields, calls, numbers and concatenations.
struct Node {
    enum class Kind { Field, Number, Call, Concat } kind = Kind::Field;
    std::string text;  // the field (as written, qualifier included), the number or the function
    std::vector<Node> args;
};

class Parser {
public:
    explicit Parser(std::string_view s) : s_(s) {}

    // The whole text as one expression, or nothing when it is not one this
    // parser knows.
    std::optional<Node> parse() {
        std::optional<Node> n = expression();
        skipBlanks();
        if (!n || pos_ != s_.size()) return std::nullopt;
        return n;
    }

private:
    void skipBlanks() {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    }
    bool take(char c) {
        skipBlanks();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    static bool identChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

    std::optional<Node> expression() {
        std::optional<Node> first = term();
        if (!first) return std::nullopt;
        if (!take('+')) return first;
        Node concat{Node::Kind::Concat, {}, {std::move(*first)}};
        do {
            std::optional<Node> next = term();
            if (!next) return std::nullopt;
            concat.args.push_back(std::move(*next));
        } while (take('+'));
        return concat;
    }

    std::optional<Node> term() {
        skipBlanks();
        const size_t start = pos_;
        if (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) {
            while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) ++pos_;
            return Node{Node::Kind::Number, std::string(s_.substr(start, pos_ - start)), {}};
        }
        if (!name()) return std::nullopt;
        std::string text(s_.substr(start, pos_ - start));
        if (!take('(')) return Node{Node::Kind::Field, std::move(text), {}};
        Node call{Node::Kind::Call, upper(text), {}};
        if (text.find_first_of(".-") != std::string::npos) return std::nullopt;
        do {
            std::optional<Node> arg = expression();
            if (!arg) return std::nullopt;
            call.args.push_back(std::move(*arg));
        } while (take(','));
        if (!take(')')) return std::nullopt;
        return call;
    }

    // A name, maybe qualified: alias.field or alias->field.
    bool name() {
        const size_t start = pos_;
        while (pos_ < s_.size() && identChar(s_[pos_])) ++pos_;
        if (pos_ == start || std::isdigit(static_cast<unsigned char>(s_[start]))) return false;
        size_t sep = 0;
        if (pos_ < s_.size() && s_[pos_] == '.') sep = 1;
        else if (s_.substr(pos_, 2) == "->") sep = 2;
        if (sep == 0) return true;
        pos_ += sep;
        const size_t fieldStart = pos_;
        while (pos_ < s_.size() && identChar(s_[pos_])) ++pos_;
        return pos_ > fieldStart;
    }

    std::string_view s_;
    size_t pos_ = 0;
};

// The functions with a faithful form, by their full names. FoxPro also
// takes any four or more of a function's first letters.
constexpr std::string_view kFunctions[] = {"UPPER", "LOWER", "TRIM", "RTRIM", "ALLTRIM",
                                           "LTRIM", "DTOS",  "STR",  "TTOC"};

bool isCaseFunction(std::string_view f) { return f == "UPPER" || f == "LOWER"; }
bool trimsLeading(std::string_view f) { return f == "ALLTRIM" || f == "LTRIM"; }
bool trimsTrailing(std::string_view f) { return f == "ALLTRIM" || f == "TRIM" || f == "RTRIM"; }
bool fixesWidth(std::string_view f) { return f == "DTOS" || f == "STR" || f == "TTOC"; }

// One part of the key: a field under its functions (outermost first).
struct Piece {
    std::string field;
    std::vector<std::string_view> functions;
};

std::string noForm(std::string_view expression) {
    return "the expression \"" + std::string(expression) + "\" has no faithful Access index form";
}

// The extra arguments a function may take: STR's length and decimals,
// TTOC's 1 (the sortable form).
bool extraArgumentsFit(std::string_view f, const std::vector<Node>& args) {
    const size_t extra = args.size() - 1;
    for (size_t i = 1; i < args.size(); ++i)
        if (args[i].kind != Node::Kind::Number) return false;
    if (f == "STR") return extra <= 2;
    if (f == "TTOC") return extra == 0 || (extra == 1 && args[1].text == "1");
    return extra == 0;
}

// The parts of the key, or the reason there are none.
std::string flatten(const Node& n, std::vector<std::string_view>& above, std::vector<Piece>& out) {
    switch (n.kind) {
    case Node::Kind::Field: out.push_back({n.text, above}); return {};
    case Node::Kind::Number: return "a constant has no Access index form";
    case Node::Kind::Concat:
        for (std::string_view f : above)
            if (!isCaseFunction(f)) return std::string(f) + "() over a concatenation has no faithful Access index form";
        for (const Node& part : n.args)
            if (std::string why = flatten(part, above, out); !why.empty()) return why;
        return {};
    case Node::Kind::Call: break;
    }
    const std::string_view f = expression::functionNamed(n.text, kFunctions);
    if (f.empty()) return n.text + "() has no faithful Access index form";
    if (n.args.empty() || !extraArgumentsFit(f, n.args))
        return std::string(f) + "() is used here in a way that has no faithful Access index form";
    above.push_back(f);
    std::string why = flatten(n.args[0], above, out);
    above.pop_back();
    return why;
}

// The field a part names, or the reason it names none of the table's.
std::string resolve(const std::string& written, const std::vector<db::FieldInfo>& columns, std::string_view table,
                    const db::FieldInfo*& found) {
    std::string field = written;
    if (const size_t arrow = written.find("->"); arrow != std::string::npos) field = written.substr(arrow + 2);
    else if (const size_t dot = written.find('.'); dot != std::string::npos) field = written.substr(dot + 1);
    if (field.size() != written.size()) {
        const std::string alias =
            written.substr(0, written.size() - field.size() - (written.find("->") != std::string::npos ? 2 : 1));
        if (!sameName(alias, table)) return "\"" + written + "\" names a field of another table";
    }
    for (const db::FieldInfo& c : columns)
        if (sameName(c.name, field)) {
            found = &c;
            return {};
        }
    // A table of a container read as a free table keeps the first ten
    // characters of each long field name, and its tags still use the long
    // names.
    constexpr size_t kShortName = 10;
    if (field.size() > kShortName)
        for (const db::FieldInfo& c : columns)
            if (c.name.size() == kShortName && sameName(c.name, field.substr(0, kShortName))) {
                found = &c;
                return {};
            }
    return "\"" + field + "\" is not a column of the Access table";
}

bool variableWidth(const db::FieldInfo& f) { return f.type == db::adtype::VarChar || f.type == db::adtype::VarWChar; }

// Why a part cannot stand for its column inside a concatenation, or empty.
std::string concatenationProblem(const Piece& piece, const db::FieldInfo& column, bool last) {
    for (std::string_view f : piece.functions)
        if (trimsLeading(f) || (trimsTrailing(f) && !last))
            return std::string(f) +
                   "() inside a concatenation lets its part run into the next, so the key is "
                   "not a list of columns";
    const bool fixed = std::any_of(piece.functions.begin(), piece.functions.end(), fixesWidth);
    if (!last && !fixed && variableWidth(column))
        return "\"" + column.name + "\" has no fixed width, so its part of the concatenation runs into the next";
    return {};
}

// Adds one part of the key to t as its column, or gives the reason it
// cannot be one.
std::string addPiece(Translation& t, const Piece& piece, bool concatenation, bool last, bool descending,
                     const std::vector<db::FieldInfo>& columns, std::string_view table) {
    const db::FieldInfo* column = nullptr;
    if (std::string why = resolve(piece.field, columns, table, column); !why.empty()) return why;
    if (concatenation)
        if (std::string why = concatenationProblem(piece, *column, last); !why.empty()) return why;
    const bool named =
        std::any_of(t.columns.begin(), t.columns.end(), [&](const KeyColumn& k) { return k.name == column->name; });
    if (named) return "it names \"" + column->name + "\" twice, and an Access index holds a column once";
    for (std::string_view f : piece.functions)
        if (trimsLeading(f)) t.leadingBlanksIgnored.emplace_back(column->name, std::string(f));
    t.columns.push_back({column->name, descending});
    return {};
}

}  // namespace

Translation translate(std::string_view expression, std::string_view filter, bool descending,
                      const std::vector<db::FieldInfo>& columns, std::string_view table) {
    Translation t;
    if (!filter.empty()) {
        t.reason = "it has a FOR filter (" + std::string(filter) + "), and an Access index covers every row";
        return t;
    }
    const std::optional<Node> tree = Parser(expression).parse();
    if (!tree) {
        t.reason = noForm(expression);
        return t;
    }
    std::vector<Piece> pieces;
    std::vector<std::string_view> above;
    t.reason = flatten(*tree, above, pieces);
    for (size_t i = 0; i < pieces.size() && t.ok(); ++i)
        t.reason = addPiece(t, pieces[i], pieces.size() > 1, i + 1 == pieces.size(), descending, columns, table);
    if (t.ok() && t.columns.size() > kMaxIndexColumns)
        t.reason = "it has " + std::to_string(t.columns.size()) + " columns, and an Access index holds at most " +
                   std::to_string(kMaxIndexColumns);
    if (!t.ok()) {
        t.columns.clear();
        t.leadingBlanksIgnored.clear();
    }
    return t;
}

namespace {

// The named columns of a schema rowset, read as text (numbers and
// booleans as their text, "1" for true).
class RowsetReader {
public:
    RowsetReader(db::Connection& c, int schema, std::vector<std::string> names) {
        try {
            rs_ = c.OpenSchema(schema);
            for (const std::string& n : names) {
                const auto& f = rs_->fieldInfos();
                const auto it =
                    std::find_if(f.begin(), f.end(), [&](const db::FieldInfo& i) { return sameName(i.name, n); });
                at_.push_back(it == f.end() ? -1 : static_cast<int>(it - f.begin()));
            }
        } catch (...) {  // a provider without the rowset: none
            rs_.reset();
        }
    }
    // Whether every column of `required` (indexes into the names) is there.
    [[nodiscard]] bool has(std::initializer_list<size_t> required) const {
        if (!rs_) return false;
        return std::all_of(required.begin(), required.end(), [&](size_t i) { return at_[i] >= 0; });
    }
    // Steps to the next row: false at the end, or when the rowset fails.
    bool next() {
        try {
            if (started_) rs_->MoveNext();
            started_ = true;
            return !rs_->atEnd();
        } catch (...) {
            return false;
        }
    }
    [[nodiscard]] std::string text(size_t i) const {
        if (at_[i] < 0) return {};
        const db::Value& v = rs_->row().at(static_cast<size_t>(at_[i]));
        switch (v.kind()) {
        case db::Kind::Text: return v.text();
        case db::Kind::Bool: return v.boolean() ? "1" : "0";
        case db::Kind::Int: return std::to_string(v.integer());
        default: return {};
        }
    }

private:
    std::unique_ptr<db::Recordset> rs_;
    std::vector<int> at_;
    bool started_ = false;
};

}  // namespace

std::vector<Tag> readTags(db::Connection& source) {
    enum : size_t { Table, Name, Expression, Collation, Filter, Kind, Problem, Primary, Unique };
    RowsetReader r(source, db::adSchemaIndexes,
                   {"TABLE_NAME", "INDEX_NAME", "COLUMN_NAME", "COLLATION", "FILTER_CONDITION", "INDEX_KIND", "PROBLEM",
                    "PRIMARY_KEY", "UNIQUE"});
    std::vector<Tag> tags;
    if (!r.has({Table, Name, Expression})) return tags;
    while (r.next()) {
        Tag t{r.text(Table),       r.text(Name),    r.text(Expression),      r.text(Filter),
              upper(r.text(Kind)), r.text(Problem), r.text(Collation) == "2"};
        if (t.kind.empty())  // a provider without our own column
            t.kind = r.text(Primary) == "1" ? "PRIMARY" : r.text(Unique) == "1" ? "CANDIDATE" : "REGULAR";
        tags.push_back(std::move(t));
    }
    return tags;
}

std::vector<Relation> readRelations(db::Connection& source) {
    enum : size_t { Name, Parent, ParentTag, Child, ChildTag, Update, Delete, Problem, Insert };
    RowsetReader r(source, db::adSchemaForeignKeys,
                   {"FK_NAME", "PK_TABLE_NAME", "PK_INDEX_NAME", "FK_TABLE_NAME", "FK_INDEX_NAME", "UPDATE_RULE",
                    "DELETE_RULE", "PROBLEM", "INSERT_RULE"});
    std::vector<Relation> relations;
    if (!r.has({Parent, ParentTag, Child, ChildTag})) return relations;
    while (r.next()) {
        Relation rel{r.text(Name),
                     r.text(Parent),
                     r.text(ParentTag),
                     r.text(Child),
                     r.text(ChildTag),
                     upper(r.text(Update)) == "CASCADE",
                     upper(r.text(Delete)) == "CASCADE",
                     r.text(Problem)};
        // FoxPro enforces a relation only by the rules of its triggers: one
        // whose rules all ignore it is a documented link. A source that
        // names no rules enforces it.
        const bool ruled = r.has({Update, Delete});
        rel.enforced = !ruled || upper(r.text(Update)) != "IGNORE" || upper(r.text(Delete)) != "IGNORE" ||
                       upper(r.text(Insert)) == "RESTRICT";
        relations.push_back(std::move(rel));
    }
    return relations;
}

std::vector<FieldDefault> readDefaults(db::Connection& source) {
    enum : size_t { Table, Column, HasDefault, Default };
    RowsetReader r(source, db::adSchemaColumns, {"TABLE_NAME", "COLUMN_NAME", "COLUMN_HASDEFAULT", "COLUMN_DEFAULT"});
    std::vector<FieldDefault> defaults;
    if (!r.has({Table, Column, HasDefault, Default})) return defaults;
    while (r.next())
        if (r.text(HasDefault) == "1" && !r.text(Default).empty())
            defaults.push_back({r.text(Table), r.text(Column), r.text(Default)});
    return defaults;
}

namespace {

bool saysSomething(const SourceProperties& p) {
    return !p.caption.empty() || !p.description.empty() || !p.rule.empty() || !p.ruleText.empty() ||
           !p.inputMask.empty() || !p.format.empty() || !p.problem.empty();
}

}  // namespace

std::vector<SourceProperties> readProperties(db::Connection& source) {
    // The fields first: a source without their rowset (a folder of free
    // tables) keeps no properties, and its tables are not listed again.
    std::vector<SourceProperties> fields;
    {
        enum : size_t { Table, Column, Caption, Description, Rule, RuleText, Mask, Format, Problem };
        RowsetReader r(source, db::adSchemaColumns,
                       {"TABLE_NAME", "COLUMN_NAME", "CAPTION", "DESCRIPTION", "VALIDATION_RULE", "VALIDATION_TEXT",
                        "INPUT_MASK", "FORMAT", "PROPERTY_PROBLEM"});
        if (!r.has({Table, Column})) return {};
        while (r.next()) {
            SourceProperties p{r.text(Table),    r.text(Column), r.text(Caption), r.text(Description), r.text(Rule),
                               r.text(RuleText), r.text(Mask),   r.text(Format),  r.text(Problem)};
            if (saysSomething(p)) fields.push_back(std::move(p));
        }
    }
    // The tables' own before their fields'.
    std::vector<SourceProperties> out;
    enum : size_t { Table, Type, Description, Rule, RuleText, Problem };
    RowsetReader r(
        source, db::adSchemaTables,
        {"TABLE_NAME", "TABLE_TYPE", "DESCRIPTION", "VALIDATION_RULE", "VALIDATION_TEXT", "PROPERTY_PROBLEM"});
    while (r.has({Table, Type}) && r.next()) {
        SourceProperties p{r.text(Table),    {}, {}, r.text(Description), r.text(Rule),
                           r.text(RuleText), {}, {}, r.text(Problem)};
        if (upper(r.text(Type)) == "TABLE" && saysSomething(p)) out.push_back(std::move(p));
    }
    out.insert(out.end(), std::make_move_iterator(fields.begin()), std::make_move_iterator(fields.end()));
    return out;
}

std::vector<TargetRelation> readTargetRelations(db::Connection& target) {
    enum : size_t { Name, Parent, Child };
    RowsetReader r(target, db::adSchemaForeignKeys, {"FK_NAME", "PK_TABLE_NAME", "FK_TABLE_NAME"});
    std::vector<TargetRelation> relations;
    if (!r.has({Name, Parent, Child})) return relations;
    while (r.next()) {
        TargetRelation t{r.text(Name), r.text(Parent), r.text(Child)};
        // One row per column pair: one relationship each.
        const bool known = std::any_of(relations.begin(), relations.end(), [&](const TargetRelation& o) {
            return sameName(o.name, t.name) && sameName(o.child, t.child);
        });
        if (!known) relations.push_back(std::move(t));
    }
    return relations;
}

namespace {
std::string columnList(const std::vector<KeyColumn>& columns, bool withOrder) {
    std::string s = "(";
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) s += ", ";
        s += "[" + columns[i].name + "]";
        if (withOrder && columns[i].descending) s += " DESC";
    }
    return s + ")";
}
}  // namespace

std::string indexStatement(const Tag& tag, const std::string& table, const std::vector<KeyColumn>& columns) {
    if (tag.kind == "PRIMARY")
        return "ALTER TABLE [" + table + "] ADD CONSTRAINT [" + tag.name + "] PRIMARY KEY " +
               columnList(columns, false);
    const char* head = tag.kind == "CANDIDATE" ? "CREATE UNIQUE INDEX [" : "CREATE INDEX [";
    return head + tag.name + "] ON [" + table + "] " + columnList(columns, true);
}

std::string relationStatement(const Relation& r, const std::string& name, const std::vector<KeyColumn>& childColumns,
                              const std::vector<KeyColumn>& parentColumns) {
    std::string s = "ALTER TABLE [" + r.child + "] ADD CONSTRAINT [" + name + "] FOREIGN KEY " +
                    columnList(childColumns, false) + " REFERENCES [" + r.parent + "] " +
                    columnList(parentColumns, false);
    if (!r.enforced) return s + " NOT ENFORCED";
    if (r.updateCascades) s += " ON UPDATE CASCADE";
    if (r.deleteCascades) s += " ON DELETE CASCADE";
    return s;
}

std::string dropRelationStatement(const TargetRelation& r) {
    return "ALTER TABLE [" + r.child + "] DROP CONSTRAINT [" + r.name + "]";
}

std::string relationName(const std::string& parent, const std::string& child, std::set<std::string>& taken) {
    constexpr size_t kMaxName = 64;  // Access's longest object name
    const std::string base = (parent + child).substr(0, kMaxName);
    std::string name = base;
    for (int n = 1; taken.count(asciiLower(name)) > 0; ++n) {
        const std::string number = std::to_string(n);
        name = base.substr(0, kMaxName - number.size()) + number;
    }
    taken.insert(asciiLower(name));
    return name;
}

std::string tagNote(const std::string& table, const std::string& tag, const std::string& reason) {
    return table + (tag.empty() ? "" : ", tag " + tag) + ": " + reason;
}

std::string relationNote(const Relation& r, const std::string& reason) {
    return "relation " + (r.name.empty() ? r.parent + r.child : r.name) + " (" + r.parent + "." + r.parentTag + " to " +
           r.child + "." + r.childTag + "): " + reason;
}

}  // namespace tp::convert::keys
