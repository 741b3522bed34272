// Running a SELECT over one table: a plain query streams its rows from the
// table's scan; DISTINCT, GROUP BY, aggregates and ORDER BY gather what they
// must (one row per group; the chosen rows, sorted by SortedRows within a
// bound on memory).
#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_set>

#include "db/jet/sql/sql.h"
#include "db/jet/sql/sql_query.h"

namespace tp::db::jet {

namespace {

// ---- names and types of the chosen columns ----------------------------------

int typeOf(const Expr& e, const std::vector<FieldInfo>& in);

int literalType(const Value& v) {
    switch (v.kind()) {
    case Kind::Int: return adtype::Integer;
    case Kind::Double: return adtype::Double;
    case Kind::Bool: return adtype::Boolean;
    case Kind::DateTime:
    case Kind::Date: return adtype::Date;
    case Kind::Currency: return adtype::Currency;
    default: return adtype::VarWChar;
    }
}

int callType(const Expr& e, const std::vector<FieldInfo>& in) {
    switch (e.fn) {
    case Fn::Len:
    case Fn::Year:
    case Fn::Month:
    case Fn::Day:
    case Fn::Hour:
    case Fn::Minute:
    case Fn::Second: return adtype::Integer;
    case Fn::Date:
    case Fn::Now: return adtype::Date;
    case Fn::Abs:
    case Fn::Int:
    case Fn::Nz: return typeOf(e.args[0], in);
    case Fn::IIf: return typeOf(e.args[1], in);
    default: return adtype::VarWChar;
    }
}

int typeOf(const Expr& e, const std::vector<FieldInfo>& in) {
    switch (e.op) {
    case ExprOp::Literal: return literalType(e.value);
    case ExprOp::Column: return in[size_t(e.column)].type;
    case ExprOp::Call: return callType(e, in);
    case ExprOp::Concat: return adtype::VarWChar;
    case ExprOp::Count:
    case ExprOp::CountStar: return adtype::Integer;
    case ExprOp::Avg:
    case ExprOp::Div:
    case ExprOp::Pow: return adtype::Double;
    case ExprOp::Neg:
    case ExprOp::Sum:
    case ExprOp::Min:
    case ExprOp::Max:
    case ExprOp::First:
    case ExprOp::Last: return typeOf(e.args[0], in);
    case ExprOp::Add:
    case ExprOp::Sub:
    case ExprOp::Mul:
    case ExprOp::IntDiv:
    case ExprOp::Mod: {
        const int a = typeOf(e.args[0], in);
        return a == typeOf(e.args[1], in) ? a : adtype::Double;
    }
    default: return adtype::Boolean;
    }
}

// The chosen columns: * expanded, names given (an unnamed expression is
// ExprNNNN as the engine names it).
std::vector<FieldInfo> outputFields(Query& q, const std::vector<FieldInfo>& in) {
    std::vector<SelectItem> items;
    for (SelectItem& it : q.items) {
        if (!it.star) {
            items.push_back(std::move(it));
            continue;
        }
        for (const FieldInfo& f : in) {
            SelectItem col;
            col.expr.op = ExprOp::Column;
            col.expr.name = f.name;
            col.text = f.name;
            items.push_back(std::move(col));
        }
    }
    q.items = std::move(items);
    std::vector<FieldInfo> out;
    int unnamed = 1000;
    for (SelectItem& it : q.items) {
        bindColumns(it.expr, in);
        FieldInfo f;
        if (it.expr.op == ExprOp::Column) f = in[size_t(it.expr.column)];
        else f.type = typeOf(it.expr, in);
        if (!it.alias.empty()) f.name = it.alias;
        else if (it.expr.op != ExprOp::Column) f.name = "Expr" + std::to_string(unnamed++);
        out.push_back(std::move(f));
    }
    return out;
}

// ORDER BY: positions checked, a name that is only an alias taken as its
// column, the rest bound to the table's columns.
void bindOrder(Query& q, const std::vector<FieldInfo>& in) {
    for (OrderItem& o : q.orderBy) {
        if (o.position >= int(q.items.size())) throw Error(jeterr::kSyntaxOrderBy, jeterr::kSyntaxOrderByText);
        if (o.position >= 0) continue;
        if (o.expr.op == ExprOp::Column) {
            const bool isColumn =
                std::any_of(in.begin(), in.end(), [&](const FieldInfo& f) { return sameName(f.name, o.expr.name); });
            for (size_t i = 0; i < q.items.size() && !isColumn && o.position < 0; ++i)
                if (sameName(q.items[i].alias, o.expr.name)) o.position = int(i);
            if (o.position >= 0) continue;
        }
        bindColumns(o.expr, in);
    }
}

// ---- aggregates ----------------------------------------------------------------

void collectAggregates(const Expr& e, std::vector<const Expr*>& out) {
    if (isAggregate(e.op)) {
        out[size_t(e.slot)] = &e;
        return;
    }
    for (const Expr& a : e.args) collectAggregates(a, out);
}

void collectColumns(const Expr& e, std::vector<int>& out) {
    if (e.op == ExprOp::Column) out.push_back(e.column);
    if (isAggregate(e.op)) return;
    for (const Expr& a : e.args) collectColumns(a, out);
}

// In a grouped query every column outside an aggregate must be grouped by.
void requireGrouped(const Expr& e, const std::vector<int>& grouped, const std::string& text) {
    std::vector<int> used;
    collectColumns(e, used);
    for (int c : used)
        if (std::find(grouped.begin(), grouped.end(), c) == grouped.end()) throw jeterr::notInAggregate(text);
}

// One aggregate's running value.
struct Accumulator {
    int64_t count = 0;
    Value value;  // Sum (Int, Currency or Double), Min, Max, First, Last
    double sum = 0;

    void add(ExprOp op, const Value& v, SortOrder order) {
        if (op == ExprOp::CountStar) {
            ++count;
            return;
        }
        if (v.isNull()) return;
        ++count;
        if (op == ExprOp::Sum || op == ExprOp::Avg) return addSum(v);
        if (op == ExprOp::First && count > 1) return;
        const bool replace = count == 1 || op == ExprOp::Last ||
                             (op == ExprOp::Min && *compareValues(v, value, order) < 0) ||
                             (op == ExprOp::Max && *compareValues(v, value, order) > 0);
        if (replace) value = v;
    }
    void addSum(const Value& v) {
        if (v.kind() == Kind::Text || v.kind() == Kind::Binary) throw jeterr::typeMismatch();
        const Kind k = value.isNull() ? v.kind() : value.kind();
        int64_t r = 0;
        if (k == Kind::Int && v.kind() == Kind::Int &&
            !__builtin_add_overflow(value.isNull() ? 0 : value.integer(), v.integer(), &r)) {
            value = Value(r);
        } else if (k == Kind::Currency && v.kind() == Kind::Currency) {
            value = Value(Currency{(value.isNull() ? 0 : value.currency().units) + v.currency().units});
        } else {
            value = Value(value.isNull() || value.kind() == Kind::Double ? sum + numberOf(v)
                                                                         : numberOf(value) + numberOf(v));
        }
        sum = numberOf(value);
    }
    static double numberOf(const Value& v) {
        switch (v.kind()) {
        case Kind::Int: return double(v.integer());
        case Kind::Double: return v.real();
        case Kind::Currency: return double(v.currency().units) / 10000.0;
        case Kind::Bool: return v.boolean() ? -1 : 0;
        case Kind::Decimal: return std::strtod(v.decimal().text.c_str(), nullptr);
        case Kind::DateTime: return toOleDate(v.dateTime());
        default: throw jeterr::typeMismatch();
        }
    }
    Value result(ExprOp op) const {
        if (op == ExprOp::Count || op == ExprOp::CountStar) return Value(count);
        if (op == ExprOp::Avg) return count ? Value(sum / double(count)) : Value();
        return value;
    }
};

// A row's values as one comparable key: text by its sort key, numbers by
// value, so that rows the engine counts as equal have the same key.
void appendValueKey(std::string& k, const Value& v, SortOrder order) {
    switch (v.kind()) {
    case Kind::Null: k += 'z'; break;
    case Kind::Text:
        k += 't';
        appendSortKey(k, v.text(), order);
        break;
    case Kind::Binary:
        k += 'b';
        k.append(v.bytes().begin(), v.bytes().end());
        break;
    default: k += 'n' + shortestDouble(Accumulator::numberOf(v)); break;
    }
    k += '\0';
    k += '\x01';
}

// ---- the cursors ------------------------------------------------------------------

// A plain query: each row of the scan that meets WHERE, its chosen values.
class StreamCursor final : public Cursor {
public:
    StreamCursor(std::unique_ptr<Cursor> in, std::shared_ptr<Query> q, std::vector<FieldInfo> fields, SortOrder order)
        : in_(std::move(in)), q_(std::move(q)), fields_(std::move(fields)) {
        cx_.row = &row_;
        cx_.order = order;
        // A column chosen once and used by no other item is swapped with the
        // value given last, not copied: the next row is read into that
        // value's room.
        std::vector<int> used;
        for (const SelectItem& it : q_->items) collectColumns(it.expr, used);
        for (const SelectItem& it : q_->items)
            moved_.push_back(it.expr.op == ExprOp::Column && std::count(used.begin(), used.end(), it.expr.column) == 1);
    }
    const std::vector<FieldInfo>& fields() const override { return fields_; }
    bool next(std::vector<Value>& out) override {
        if (q_->top >= 0 && given_ >= q_->top) return false;
        while (in_->next(row_)) {
            if (q_->where && !isTrue(evaluate(*q_->where, cx_))) continue;
            out.resize(q_->items.size());
            for (size_t i = 0; i < out.size(); ++i) {
                const Expr& e = q_->items[i].expr;
                if (moved_[i]) out[i].swap(row_[size_t(e.column)]);
                else out[i] = evaluate(e, cx_);
            }
            ++given_;
            return true;
        }
        return false;
    }
    std::vector<ReadNotice> takeNotices() override { return in_->takeNotices(); }

private:
    std::unique_ptr<Cursor> in_;
    std::shared_ptr<Query> q_;
    std::vector<FieldInfo> fields_;
    std::vector<Value> row_;
    std::vector<bool> moved_;  // per item
    EvalContext cx_;
    int64_t given_ = 0;
};

struct Group {
    std::vector<Value> first;  // the group's first row
    std::vector<Accumulator> acc;
};

// The rows of a query that gathers: grouped, distinct or sorted.
class Gatherer {
public:
    Gatherer(Query& q, size_t width, SortOrder order, const std::string& near)
        : q_(q),
          width_(width),
          order_(order),
          grouped_(q.aggregates > 0 || !q.groupBy.empty()),
          byOrder_(q.distinct && !grouped_ && q.orderBy.empty() && q.top < 0),
          rows_(near, descending(q, grouped_), q.top, q.topPercent, !q.orderBy.empty(), byOrder_) {
        aggs_.assign(size_t(q.aggregates), nullptr);
        for (const SelectItem& it : q.items) collectAggregates(it.expr, aggs_);
        if (q.having) collectAggregates(*q.having, aggs_);
        for (const OrderItem& o : q.orderBy)
            if (o.position < 0) collectAggregates(o.expr, aggs_);
    }

    void checkGrouping() {
        if (!grouped_) return;
        std::vector<int> grouped;
        for (const Expr& g : q_.groupBy) collectColumns(g, grouped);
        for (const SelectItem& it : q_.items) requireGrouped(it.expr, grouped, it.text);
        if (q_.having) requireGrouped(*q_.having, grouped, "HAVING");
        for (const OrderItem& o : q_.orderBy)
            if (o.position < 0) requireGrouped(o.expr, grouped, "ORDER BY");
    }

    void take(const std::vector<Value>& row) {
        EvalContext cx{&row, nullptr, order_};
        if (q_.where && !isTrue(evaluate(*q_.where, cx))) return;
        if (!grouped_) return emit(cx);
        std::string key;
        for (const Expr& g : q_.groupBy) appendValueKey(key, evaluate(g, cx), order_);
        auto [it, fresh] = index_.try_emplace(key, groups_.size());
        if (fresh) groups_.push_back(Group{row, std::vector<Accumulator>(aggs_.size())});
        Group& g = groups_[it->second];
        for (size_t s = 0; s < aggs_.size(); ++s) {
            const Expr& a = *aggs_[s];
            g.acc[s].add(a.op, a.op == ExprOp::CountStar ? Value() : evaluate(a.args[0], cx), order_);
        }
    }

    std::unique_ptr<Cursor> finish(std::vector<FieldInfo> fields) {
        if (grouped_) emitGroups();
        return rows_.finish(std::move(fields));
    }

private:
    // The direction of each sort key: ORDER BY's, else the grouped or
    // distinct values' (ascending).
    static std::vector<bool> descending(const Query& q, bool grouped) {
        std::vector<bool> down;
        for (const OrderItem& o : q.orderBy) down.push_back(o.descending);
        if (q.orderBy.empty() && grouped) down.assign(q.groupBy.size(), false);
        else if (q.orderBy.empty() && q.distinct) down.assign(q.items.size(), false);
        return down;
    }

    void emitGroups() {
        // Aggregates without GROUP BY: one row, also over no rows.
        if (groups_.empty() && q_.groupBy.empty())
            groups_.push_back(Group{std::vector<Value>(width_), std::vector<Accumulator>(aggs_.size())});
        std::vector<Value> values(aggs_.size());
        for (Group& g : groups_) {
            for (size_t s = 0; s < aggs_.size(); ++s) values[s] = g.acc[s].result(aggs_[s]->op);
            EvalContext cx{&g.first, &values, order_};
            if (q_.having && !isTrue(evaluate(*q_.having, cx))) continue;
            emit(cx);
        }
    }

    void emit(const EvalContext& cx) {
        values_.clear();
        keys_.clear();
        for (const SelectItem& it : q_.items) values_.push_back(evaluate(it.expr, cx));
        if (q_.distinct && !byOrder_) {
            std::string key;
            for (const Value& v : values_) appendValueKey(key, v, order_);
            if (!seen_.insert(std::move(key)).second) return;
        }
        for (const OrderItem& o : q_.orderBy)
            keys_.push_back(sortKey(o.position >= 0 ? values_[size_t(o.position)] : evaluate(o.expr, cx)));
        // Without ORDER BY, groups come in the order of their values and
        // distinct rows in the order of theirs, as the engine sorts to find
        // them.
        if (q_.orderBy.empty() && grouped_)
            for (const Expr& g : q_.groupBy) keys_.push_back(sortKey(evaluate(g, cx)));
        else if (q_.orderBy.empty() && q_.distinct)
            for (const Value& v : values_) keys_.push_back(sortKey(v));
        rows_.add(keys_, values_);
    }

    // Text sorts by its key, kept as bytes.
    Value sortKey(const Value& v) const {
        if (v.kind() != Kind::Text) return v;
        std::string k;
        appendSortKey(k, v.text(), order_);
        return Value(Bytes(k.begin(), k.end()));
    }

    Query& q_;
    size_t width_;
    SortOrder order_;
    bool grouped_;
    // DISTINCT alone: the rows sorted by their values, the repeated ones
    // left out as they are read (none held to find them).
    bool byOrder_;
    std::vector<const Expr*> aggs_;
    std::map<std::string, size_t> index_;
    std::vector<Group> groups_;
    std::unordered_set<std::string> seen_;
    SortedRows rows_;
    std::vector<Value> values_, keys_;  // the row being emitted
};

}  // namespace

std::unique_ptr<Cursor> runSelect(Database& db, const std::string& table, std::shared_ptr<Query> q) {
    auto scan = db.scan(table);
    const std::vector<FieldInfo> in = scan->fields();
    std::vector<FieldInfo> out = outputFields(*q, in);
    if (q->where) bindColumns(*q->where, in);
    for (Expr& g : q->groupBy) bindColumns(g, in);
    if (q->having) bindColumns(*q->having, in);
    bindOrder(*q, in);
    const SortOrder order = db.textOrder();
    if (auto found = db.scanWhere(table, indexableRanges(q->where, order))) scan = std::move(found);
    // COUNT(*) of a whole table: the count its definition keeps.
    if (!q->where && q->groupBy.empty() && !q->having && q->top < 0 && q->items.size() == 1 &&
        q->items[0].expr.op == ExprOp::CountStar)
        if (const std::optional<int64_t> n = db.rowCount(table))
            return std::make_unique<VectorCursor>(std::move(out), std::vector<std::vector<Value>>{{Value(*n)}});
    const bool gathers = q->distinct || q->aggregates > 0 || !q->groupBy.empty() || q->having || !q->orderBy.empty() ||
                         (q->topPercent && q->top >= 0);
    if (!gathers) return std::make_unique<StreamCursor>(std::move(scan), std::move(q), std::move(out), order);
    Gatherer g(*q, in.size(), order, db.tempFilesBeside());
    g.checkGrouping();
    std::vector<Value> row;
    while (scan->next(row)) g.take(row);
    return g.finish(std::move(out));
}

}  // namespace tp::db::jet
