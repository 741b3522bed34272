// UPDATE and DELETE over the engine: the WHERE and SET expressions bound to
// the table's columns and evaluated for each row the engine offers; a SET
// value is stored by the rules of an INSERT's literal into its column.
#include <cstdio>

#include "db/jet/sql/sql.h"
#include "db/jet/sql/sql_query.h"

namespace tp::db::jet {

namespace {

std::vector<FieldInfo> fieldsOf(const std::vector<ColumnDef>& cols) {
    std::vector<FieldInfo> f(cols.size());
    for (size_t i = 0; i < cols.size(); ++i) f[i].name = cols[i].name;
    return f;
}

// A number's text without its sign, and the sign.
void unsigned_(std::string text, Literal& lit, std::string& scratch) {
    lit.kind = LiteralKind::Number;
    lit.negative = !text.empty() && text.front() == '-';
    scratch = lit.negative ? text.substr(1) : std::move(text);
    lit.text = scratch;
}

std::string dateText(const DateTime& d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", d.date.year, d.date.month, d.date.day, d.hour,
                  d.minute, d.second);
    return buf;
}

// The literal an INSERT would carry for the value (its text in scratch).
void literalOf(const Value& v, Literal& lit, std::string& scratch) {
    lit = Literal{};
    switch (v.kind()) {
    case Kind::Null: return;
    case Kind::Bool:
        lit.kind = LiteralKind::Bool;
        lit.boolean = v.boolean();
        return;
    case Kind::Int: return unsigned_(std::to_string(v.integer()), lit, scratch);
    case Kind::Double: return unsigned_(shortestDouble(v.real()), lit, scratch);
    case Kind::Currency: return unsigned_(currencyText(v.currency()), lit, scratch);
    case Kind::Decimal: return unsigned_(v.decimal().text, lit, scratch);
    case Kind::Date:
    case Kind::DateTime:
        lit.kind = LiteralKind::Date;
        scratch = dateText(v.kind() == Kind::Date ? DateTime{v.date()} : v.dateTime());
        lit.text = scratch;
        return;
    default:
        lit.kind = LiteralKind::String;
        scratch = v.kind() == Kind::Text ? v.text() : toIsoText(v);
        lit.text = scratch;
        return;
    }
}

int columnNamed(const std::vector<ColumnDef>& cols, const std::string& name) {
    for (size_t i = 0; i < cols.size(); ++i)
        if (sameName(cols[i].name, name)) return int(i);
    return -1;
}

}  // namespace

Value storedValue(const Value& v, const ColumnDef& c, const std::string& table) {
    if (v.kind() == Kind::Binary && (c.type == ColType::Binary || c.type == ColType::OLE)) {
        if (c.type == ColType::Binary && int(v.bytes().size()) > c.size) throw jeterr::fieldTooSmall();
        return v;
    }
    Literal lit;
    std::string scratch;
    literalOf(v, lit, scratch);
    return coerceLiteral(lit, c, table);
}

Value defaultValueOf(const ColumnDef& c, std::string_view table) {
    Literal lit;
    if (!c.defaultValue.empty()) try {
            if (parseLiteralText(c.defaultValue, lit)) return coerceLiteral(lit, c, table);
            Expr e = parseExpression(c.defaultValue);
            bindColumns(e, {});
            return storedValue(evaluate(e, EvalContext{}), c, std::string(table));
        } catch (const Error&) {
            // A default the engine cannot evaluate, or one that does not fit
            // (an Access file's): the column is left empty.
        }
    return coerceLiteral(Literal{}, c, table);
}

long runDelete(Database& db, const std::string& table, Query& q) {
    const std::vector<ColumnDef> cols = db.columns(table);
    if (q.where) bindColumns(*q.where, fieldsOf(cols));
    const EvalContext cx0{nullptr, nullptr, db.textOrder()};
    return long(db.changeRows(
        table,
        [&](std::vector<Value>& row) {
            EvalContext cx = cx0;
            cx.row = &row;
            return !q.where || isTrue(evaluate(*q.where, cx)) ? RowChange::Remove : RowChange::Keep;
        },
        indexableRanges(q.where, cx0.order)));
}

long runUpdate(Database& db, const std::string& table, Query& q) {
    const std::vector<ColumnDef> cols = db.columns(table);
    const std::vector<FieldInfo> fields = fieldsOf(cols);
    if (q.where) bindColumns(*q.where, fields);
    std::vector<int> targets;
    for (SetItem& s : q.sets) {
        const int i = columnNamed(cols, s.column);
        if (i < 0) throw jeterr::missingParameter();
        if (cols[size_t(i)].autoNumber) throw jeterr::fieldNotUpdatable(cols[size_t(i)].name);
        for (int t : targets)
            if (t == i) throw Error(jeterr::kDuplicateOutput, "Duplicate output destination '" + s.column + "'.");
        targets.push_back(i);
        bindColumns(s.expr, fields);
    }
    const EvalContext cx0{nullptr, nullptr, db.textOrder()};
    std::vector<Value> values(targets.size());
    const RowChanger change = [&](std::vector<Value>& row) {
        EvalContext cx = cx0;
        cx.row = &row;
        if (q.where && !isTrue(evaluate(*q.where, cx))) return RowChange::Keep;
        // Every SET reads the row as it was.
        for (size_t k = 0; k < targets.size(); ++k) {
            const ColumnDef& c = cols[size_t(targets[k])];
            values[k] = storedValue(evaluate(q.sets[k].expr, cx), c, table);
            if (values[k].isNull() && c.notNull) throw jeterr::required(table, c.name);
        }
        for (size_t k = 0; k < targets.size(); ++k) row[size_t(targets[k])] = std::move(values[k]);
        return RowChange::Replace;
    };
    return long(db.changeRows(table, change, indexableRanges(q.where, cx0.order)));
}

}  // namespace tp::db::jet
