// Validation rules: the ValidationRule of a column or of the table, parsed
// once per table into expressions over the row and checked on every row an
// INSERT or UPDATE stores. A rule that gives False refuses the row; Null
// passes, as for a blank field.
#include <algorithm>

#include "db/jet/sql/sql.h"
#include "db/jet/sql/sql_query.h"
#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

struct TableRules {
    struct Rule {
        Expr expr;
        std::string rule, text, object;  // object: 't.c' or 't', as the message names it
        int column = -1;                 // a column's rule: its position
    };
    std::vector<Rule> rules;
};

namespace {

bool nameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The rule's first word (empty when it begins with a sign).
std::string_view firstWord(std::string_view rule) {
    size_t i = 0;
    while (i < rule.size() && rule[i] == ' ') ++i;
    size_t e = i;
    while (e < rule.size() && nameChar(rule[e])) ++e;
    return rule.substr(i, e - i);
}

// Whether a column's rule leaves the column implied: it starts with a
// comparison (> 0, <> '') or with Between, In, Like, Is or Not.
bool impliesColumn(std::string_view rule) {
    const size_t i = rule.find_first_not_of(' ');
    if (i != std::string_view::npos && (rule[i] == '<' || rule[i] == '>' || rule[i] == '=')) return true;
    const std::string_view w = firstWord(rule);
    for (const char* k : {"BETWEEN", "IN", "LIKE", "IS", "NOT"})
        if (sameName(w, k)) return true;
    return false;
}

std::vector<FieldInfo> fieldsOf(const StoredTable& t) {
    std::vector<FieldInfo> fields;
    for (const StoredColumn& c : t.columns) fields.push_back(fieldInfoOf(c));
    return fields;
}

// A rule as an expression bound to the table's columns (column empty: the
// table's own rule). Throws the parser's error.
Expr bound(const StoredTable& t, const std::string& text) {
    Expr e = parseExpression(text);
    bindColumns(e, fieldsOf(t));
    return e;
}

Expr compileRule(const StoredTable& t, const std::string& column, const std::string& rule) {
    if (column.empty() || !impliesColumn(rule)) return bound(t, rule);
    // "Not" begins a whole expression (Not ([c] Is Null)) as well as an
    // implied one (Not Between 1 And 5): the whole one is tried first.
    if (sameName(firstWord(rule), "NOT")) {
        try {
            return bound(t, rule);
        } catch (const Error&) {}
    }
    return bound(t, "[" + column + "] " + rule);
}

// Whether the expression reads the column.
bool names(const Expr& e, int column) {
    if (e.op == ExprOp::Column && e.column == column) return true;
    return std::any_of(e.args.begin(), e.args.end(), [&](const Expr& a) { return names(a, column); });
}

// Whether a rule lets the row through: not False (Null passes). A rule the
// row's values cannot be compared with prohibits them.
bool allows(const Expr& e, const std::vector<Value>& row, SortOrder order) {
    try {
        const Value v = evaluate(e, EvalContext{&row, nullptr, order});
        return v.isNull() || isTrue(v);
    } catch (const Error&) {
        return false;
    }
}

}  // namespace

std::string JetDatabase::ruleProblem(const StoredTable& t, const std::string& column, const std::string& rule) const {
    if (!column.empty() && std::none_of(t.columns.begin(), t.columns.end(),
                                        [&](const StoredColumn& c) { return foldName(c.name) == foldName(column); }))
        return "the table has no field '" + column + "'";
    try {
        compileRule(t, column, rule);
    } catch (const Error& e) {
        return e.what();
    }
    return {};
}

CatalogEntry& JetDatabase::tableEntry(const std::string& stored) {
    auto entry = std::find_if(catalog_.begin(), catalog_.end(),
                              [&](const CatalogEntry& e) { return e.isTable() && e.name == stored; });
    if (stored.empty() || entry == catalog_.end()) throw jeterr::tableMissing(stored);
    return *entry;
}

// The table's rules from its catalog entry; a rule the engine cannot read
// (one an Access file brought) is left out.
void JetDatabase::loadRules(StoredTable& t) {
    t.rulesKnown = true;
    t.rules.reset();
    const auto entry = std::find_if(catalog_.begin(), catalog_.end(),
                                    [&](const CatalogEntry& e) { return e.isTable() && e.tablePage() == t.page; });
    if (entry == catalog_.end() || entry->properties.rules.empty()) return;
    auto rules = std::make_shared<TableRules>();
    // The columns' rules first, then the table's, as Access checks them.
    std::vector<ColumnProperties::Rule> stored = entry->properties.rules;
    std::stable_partition(stored.begin(), stored.end(),
                          [](const ColumnProperties::Rule& r) { return !r.column.empty(); });
    for (const ColumnProperties::Rule& r : stored) {
        try {
            int at = -1;
            for (size_t k = 0; k < t.columns.size(); ++k)
                if (!r.column.empty() && foldName(t.columns[k].name) == foldName(r.column)) at = int(k);
            rules->rules.push_back({compileRule(t, r.column, r.rule), r.rule, r.text,
                                    r.column.empty() ? t.name : t.name + "." + r.column, at});
        } catch (const Error&) {}
    }
    if (!rules->rules.empty()) t.rules = std::move(rules);
}

void JetDatabase::checkRules(StoredTable& t, const std::vector<Value>& row) {
    if (!t.rulesKnown) loadRules(t);
    if (!t.rules) return;
    for (const TableRules::Rule& r : t.rules->rules)
        if (!allows(r.expr, row, sortOrder())) throw jeterr::validationRule(r.rule, r.object, r.text);
}

bool JetDatabase::ruleNeeds(StoredTable& t, size_t k) {
    if (!t.rulesKnown) loadRules(t);
    if (!t.rules) return false;
    return std::any_of(t.rules->rules.begin(), t.rules->rules.end(),
                       [&](const TableRules::Rule& r) { return r.column != int(k) && names(r.expr, int(k)); });
}

}  // namespace tp::db::jet
