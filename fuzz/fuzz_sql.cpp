// libFuzzer target for the Jet SQL parser: the input is one statement. Each
// literal of an INSERT is coerced into a column of every type (the engine's
// own coercion); names go through the name check, dates through the date
// reader.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "db/error.h"
#include "db/jet/sql/sql.h"
#include "db/jet/sql/sql_query.h"

using namespace tp::db;
using namespace tp::db::jet;

namespace {

std::vector<ColumnDef> columnsOfEveryType() {
    std::vector<ColumnDef> cols;
    auto add = [&](ColType t, int size = 255, int precision = 18, int scale = 0) {
        ColumnDef c;
        c.name = "c" + std::to_string(cols.size());
        c.type = t;
        c.size = size;
        c.precision = precision;
        c.scale = scale;
        cols.push_back(c);
    };
    for (ColType t : {ColType::Bool, ColType::Byte, ColType::Int, ColType::Long, ColType::Money, ColType::Float,
                      ColType::Double, ColType::DateTime, ColType::OLE, ColType::Memo, ColType::Guid})
        add(t);
    add(ColType::Text, 5);
    add(ColType::Text, 255);
    add(ColType::Binary, 4);
    add(ColType::Numeric, 255, 18, 0);
    add(ColType::Numeric, 255, 10, 4);
    add(ColType::Numeric, 255, 28, 28);
    add(ColType::Numeric, 255, 1, 0);
    return cols;
}

// A row with a value of each kind, and a query's names bound to its columns
// by their spelling.
const std::vector<Value>& sampleRow() {
    static const std::vector<Value> row{Value(),
                                        Value(int64_t(-7)),
                                        Value(2.5),
                                        Value(std::string("Ab\xc3\xa9*[x]")),
                                        Value(true),
                                        Value(DateTime{{2001, 1, 31}, 10, 20, 30}),
                                        Value(Currency{125000}),
                                        Value(Decimal{"-1.2345"}),
                                        Value(Bytes{1, 2})};
    return row;
}

void bindAny(Expr& e) {
    if (e.op == ExprOp::Column) e.column = int(std::hash<std::string>{}(e.name) % sampleRow().size());
    for (Expr& a : e.args) bindAny(a);
}

// The query's expressions evaluated over the sample row (aggregates as the
// row's values): the evaluator meets what the parser lets through.
void evaluateQuery(Query& q) {
    std::vector<Expr*> exprs;
    if (q.where) exprs.push_back(&*q.where);
    if (q.having) exprs.push_back(&*q.having);
    for (SelectItem& it : q.items) exprs.push_back(&it.expr);
    for (SetItem& s : q.sets) exprs.push_back(&s.expr);
    for (OrderItem& o : q.orderBy) exprs.push_back(&o.expr);
    std::vector<Value> aggregates(size_t(q.aggregates), Value(int64_t(3)));
    for (SortOrder order : {kGeneralLegacy, kGeneral2010}) {
        const EvalContext cx{&sampleRow(), &aggregates, order};
        for (Expr* e : exprs) {
            try {
                bindAny(*e);
                (void)isTrue(evaluate(*e, cx));
            } catch (const Error&) {}
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<ColumnDef> cols = columnsOfEveryType();
    static Statement st;  // reused, as the engine reuses it
    const std::string_view sql(reinterpret_cast<const char*>(data), size);
    (void)utf16Length(sql);
    DateTime dt{};
    (void)parseDateText(sql, dt);
    try {
        parseStatement(sql, st);
    } catch (const Error&) {
        return 0;
    }
    try {
        checkName(st.table);
    } catch (const Error&) {}
    for (const auto& d : st.definitions) {
        try {
            checkName(d.name);
        } catch (const Error&) {}
    }
    if (st.query && st.kind != StatementKind::Insert) evaluateQuery(*st.query);
    for (const auto& lit : st.values) {
        if (lit.kind == LiteralKind::String) (void)unquote(lit);
        for (const auto& c : cols) {
            try {
                (void)coerceLiteral(lit, c, st.table);
            } catch (const Error&) {}
        }
    }
    return 0;
}
