// The conditions of a WHERE an index can serve: the terms ANDed at its top
// that compare a column with a value fixed for the statement (=, <, <=, >,
// >=, BETWEEN, IN). None of them holds for a Null, so a row they keep has
// a value in that column.
#include "db/jet/sql/sql_query.h"

namespace tp::db::jet {

namespace {

bool readsColumns(const Expr& e) {
    if (e.op == ExprOp::Column || isAggregate(e.op)) return true;
    for (const Expr& a : e.args)
        if (readsColumns(a)) return true;
    return false;
}

// A value the expression has for every row; false when it reads the row or
// cannot be computed (the scan then meets the error where it always did).
bool fixedValue(const Expr& e, SortOrder order, Value& out) {
    if (readsColumns(e)) return false;
    try {
        const EvalContext cx{nullptr, nullptr, order};
        out = evaluate(e, cx);
    } catch (const Error&) {
        return false;
    }
    return true;
}

// column op value, or value op column (turned around).
bool comparisonRange(const Expr& e, SortOrder order, ValueRange& r) {
    const Expr* col = &e.args[0];
    const Expr* val = &e.args[1];
    ExprOp op = e.op;
    if (col->op != ExprOp::Column) {
        std::swap(col, val);
        if (op == ExprOp::Lt) op = ExprOp::Gt;
        else if (op == ExprOp::Le) op = ExprOp::Ge;
        else if (op == ExprOp::Gt) op = ExprOp::Lt;
        else if (op == ExprOp::Ge) op = ExprOp::Le;
    }
    Value v;
    if (col->op != ExprOp::Column || !fixedValue(*val, order, v)) return false;
    r.column = col->column;
    if (v.isNull()) return true;  // never true: no spans
    if (op == ExprOp::Eq) r.spans.emplace_back(v, v);
    else if (op == ExprOp::Lt || op == ExprOp::Le) r.spans.emplace_back(Value(), std::move(v));
    else r.spans.emplace_back(std::move(v), Value());
    return true;
}

bool listRange(const Expr& e, SortOrder order, ValueRange& r) {
    if (e.negated || e.args[0].op != ExprOp::Column) return false;
    std::vector<Value> vs(e.args.size() - 1);
    for (size_t i = 1; i < e.args.size(); ++i)
        if (!fixedValue(e.args[i], order, vs[i - 1])) return false;
    r.column = e.args[0].column;
    if (e.op == ExprOp::Between) {
        if (!vs[0].isNull() && !vs[1].isNull()) r.spans.emplace_back(std::move(vs[0]), std::move(vs[1]));
        return true;
    }
    for (Value& v : vs)
        if (!v.isNull()) r.spans.emplace_back(v, v);
    return true;
}

void collectRanges(const Expr& e, SortOrder order, std::vector<ValueRange>& out) {
    ValueRange r;
    switch (e.op) {
    case ExprOp::And:
        for (const Expr& a : e.args) collectRanges(a, order, out);
        return;
    case ExprOp::Eq:
    case ExprOp::Lt:
    case ExprOp::Le:
    case ExprOp::Gt:
    case ExprOp::Ge:
        if (comparisonRange(e, order, r)) out.push_back(std::move(r));
        return;
    case ExprOp::Between:
    case ExprOp::In:
        if (listRange(e, order, r)) out.push_back(std::move(r));
        return;
    default: return;
    }
}

}  // namespace

std::vector<ValueRange> indexableRanges(const std::optional<Expr>& where, SortOrder order) {
    std::vector<ValueRange> out;
    if (where) collectRanges(*where, order, out);
    return out;
}

}  // namespace tp::db::jet
