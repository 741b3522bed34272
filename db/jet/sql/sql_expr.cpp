// Expressions evaluated by the engine's rules: Null propagates through
// arithmetic and comparisons, AND/OR/NOT have three values, text compares
// by the database's sort order (the index keys), numbers of different kinds
// compare by value, and a date is a number of days.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "db/coding/utf.h"
#include "db/jet/sql/sql.h"
#include "db/jet/sql/sql_query.h"
#include "db/jet/tables/stored_table.h"

namespace tp::db::jet {

namespace {

[[noreturn]] void mismatch() { throw jeterr::typeMismatch(); }

bool numeric(const Value& v) {
    switch (v.kind()) {
    case Kind::Int:
    case Kind::Double:
    case Kind::Decimal:
    case Kind::Currency:
    case Kind::Bool:
    case Kind::Date:
    case Kind::DateTime: return true;
    default: return false;
    }
}

bool dateLike(const Value& v) { return v.kind() == Kind::Date || v.kind() == Kind::DateTime; }

double asDouble(const Value& v) {
    switch (v.kind()) {
    case Kind::Int: return double(v.integer());
    case Kind::Double: return v.real();
    case Kind::Decimal: return std::strtod(v.decimal().text.c_str(), nullptr);
    case Kind::Currency: return double(v.currency().units) / 10000.0;
    case Kind::Bool: return v.boolean() ? -1.0 : 0.0;
    case Kind::Date: return toOleDate(DateTime{v.date()});
    case Kind::DateTime: return toOleDate(v.dateTime());
    case Kind::Text: {
        DateTime dt;
        if (parseDateText(v.text(), dt)) return toOleDate(dt);
        char* end = nullptr;
        const double d = std::strtod(v.text().c_str(), &end);
        if (end == v.text().c_str() || *end != '\0') mismatch();
        return d;
    }
    default: mismatch();
    }
}

// Text as a number, for arithmetic with a number (Access converts it).
Value textAsNumber(const Value& v) {
    const std::string& s = v.text();
    char* end = nullptr;
    const double d = std::strtod(s.c_str(), &end);
    if (s.empty() || end == s.c_str()) mismatch();
    while (*end == ' ') ++end;
    if (*end != '\0') mismatch();
    return Value(d);
}

int sign(double d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

int compareBytes(const Bytes& a, const Bytes& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end())
               ? -1
               : (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end()) ? 1 : 0);
}

// A text's sort key, kept for the next call with the same text: a WHERE
// compares every row's value with the same literal.
struct KeptKey {
    std::string text, key;
    SortOrder order;
    bool valid = false;
    const std::string& of(const std::string& t, SortOrder o) {
        if (!valid || order != o || text != t) {
            key.clear();
            appendSortKey(key, t, o);
            text = t;
            order = o;
            valid = true;
        }
        return key;
    }
};

int compareText(const std::string& a, const std::string& b, SortOrder order) {
    if (a == b) return 0;  // the same text has the same key
    static thread_local KeptKey keptA, keptB;
    const int c = keptA.of(a, order).compare(keptB.of(b, order));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::optional<int> compareNumbers(const Value& a, const Value& b) {
    if (a.kind() == Kind::Int && b.kind() == Kind::Int)
        return a.integer() < b.integer() ? -1 : (a.integer() > b.integer() ? 1 : 0);
    if (a.kind() == Kind::Currency && b.kind() == Kind::Currency)
        return a.currency().units < b.currency().units ? -1 : (a.currency().units > b.currency().units ? 1 : 0);
    return sign(asDouble(a) - asDouble(b));
}

// ---- arithmetic -------------------------------------------------------------

Value fromDouble(double d, bool date) {
    if (!std::isfinite(d)) throw jeterr::overflow();
    return date ? Value(fromOleDate(d)) : Value(d);
}

Value addOrSubtract(const Value& a, const Value& b, bool subtract) {
    if (a.kind() == Kind::Int && b.kind() == Kind::Int) {
        int64_t r = 0;
        const bool over = subtract ? __builtin_sub_overflow(a.integer(), b.integer(), &r)
                                   : __builtin_add_overflow(a.integer(), b.integer(), &r);
        if (!over) return Value(r);
    }
    const bool currency = (a.kind() == Kind::Currency || a.kind() == Kind::Int) &&
                          (b.kind() == Kind::Currency || b.kind() == Kind::Int) &&
                          (a.kind() == Kind::Currency || b.kind() == Kind::Currency);
    if (currency) {
        auto units = [](const Value& v) {
            return v.kind() == Kind::Currency ? v.currency().units : v.integer() * 10000;
        };
        return Value(Currency{subtract ? units(a) - units(b) : units(a) + units(b)});
    }
    // A date plus or minus days is a date; a date minus a date is days.
    const bool date = dateLike(a) != dateLike(b) || (dateLike(a) && !subtract);
    const double x = asDouble(a), y = asDouble(b);
    return fromDouble(subtract ? x - y : x + y, date);
}

Value arithmetic(ExprOp op, Value a, Value b) {
    if (a.isNull() || b.isNull()) return Value();
    if (op == ExprOp::Add && a.kind() == Kind::Text && b.kind() == Kind::Text) return Value(a.text() + b.text());
    if (a.kind() == Kind::Text) a = textAsNumber(a);
    if (b.kind() == Kind::Text) b = textAsNumber(b);
    if (!numeric(a) || !numeric(b)) mismatch();
    if (op == ExprOp::Add || op == ExprOp::Sub) return addOrSubtract(a, b, op == ExprOp::Sub);
    if (op == ExprOp::Mul && a.kind() == Kind::Int && b.kind() == Kind::Int) {
        int64_t r = 0;
        if (!__builtin_mul_overflow(a.integer(), b.integer(), &r)) return Value(r);
    }
    const double x = asDouble(a), y = asDouble(b);
    switch (op) {
    case ExprOp::Mul: return fromDouble(x * y, false);
    case ExprOp::Div:
        if (y == 0) throw jeterr::divisionByZero();
        return fromDouble(x / y, false);
    case ExprOp::Pow: return fromDouble(std::pow(x, y), false);
    default: break;
    }
    // \ and Mod: both sides rounded to whole numbers first (banker's rounding).
    const double rx = std::nearbyint(x), ry = std::nearbyint(y);
    if (ry == 0) throw jeterr::divisionByZero();
    if (std::fabs(rx) > 9.2e18 || std::fabs(ry) > 9.2e18) throw jeterr::overflow();
    const int64_t ix = int64_t(rx), iy = int64_t(ry);
    return Value(op == ExprOp::IntDiv ? ix / iy : ix % iy);
}

Value negate(const Value& v) {
    switch (v.kind()) {
    case Kind::Null: return Value();
    case Kind::Int: return Value(-v.integer());
    case Kind::Currency: return Value(Currency{-v.currency().units});
    case Kind::Text: return Value(-asDouble(textAsNumber(v)));
    default:
        if (!numeric(v)) mismatch();
        return Value(-asDouble(v));
    }
}

// ---- logic ------------------------------------------------------------------

// A condition's value: true, false, or nothing for Null.
std::optional<bool> truth(const Value& v) {
    switch (v.kind()) {
    case Kind::Null: return std::nullopt;
    case Kind::Bool: return v.boolean();
    case Kind::Text: return asDouble(v) != 0;
    default:
        if (!numeric(v)) mismatch();
        return asDouble(v) != 0;
    }
}

Value boolValue(std::optional<bool> b) { return b ? Value(*b) : Value(); }

Value andOr(const Expr& e, const EvalContext& cx) {
    const bool isAnd = e.op == ExprOp::And;
    const std::optional<bool> a = truth(evaluate(e.args[0], cx));
    // FALSE AND x is false, TRUE OR x is true, whatever x is.
    if (a && *a != isAnd) return Value(*a);
    const std::optional<bool> b = truth(evaluate(e.args[1], cx));
    if (b && *b != isAnd) return Value(*b);
    if (!a || !b) return Value();
    return Value(isAnd);
}

// A column's or literal's value where it is (no copy of its text for each
// row compared), else the expression's value in `held`.
const Value& operand(const Expr& e, const EvalContext& cx, Value& held) {
    if (e.op == ExprOp::Column) return (*cx.row)[size_t(e.column)];
    if (e.op == ExprOp::Literal) return e.value;
    held = evaluate(e, cx);
    return held;
}

Value comparison(const Expr& e, const EvalContext& cx) {
    Value a, b;
    const std::optional<int> c = compareValues(operand(e.args[0], cx, a), operand(e.args[1], cx, b), cx.order);
    if (!c) return Value();
    switch (e.op) {
    case ExprOp::Eq: return Value(*c == 0);
    case ExprOp::Ne: return Value(*c != 0);
    case ExprOp::Lt: return Value(*c < 0);
    case ExprOp::Le: return Value(*c <= 0);
    case ExprOp::Gt: return Value(*c > 0);
    default: return Value(*c >= 0);
    }
}

std::optional<bool> negatedIf(std::optional<bool> b, bool negated) {
    if (!b) return b;
    return negated ? !*b : *b;
}

std::string textOf(const Value& v) {
    if (v.kind() == Kind::Text) return v.text();
    if (v.kind() == Kind::Double) return shortestDouble(v.real());
    return toIsoText(v);
}

Value like(const Expr& e, const EvalContext& cx) {
    const Value a = evaluate(e.args[0], cx), p = evaluate(e.args[1], cx);
    if (a.isNull() || p.isNull()) return Value();
    return boolValue(negatedIf(likeMatch(textOf(a), textOf(p), cx.order), e.negated));
}

Value inList(const Expr& e, const EvalContext& cx) {
    const Value a = evaluate(e.args[0], cx);
    if (a.isNull()) return Value();
    bool sawNull = false;
    for (size_t i = 1; i < e.args.size(); ++i) {
        const std::optional<int> c = compareValues(a, evaluate(e.args[i], cx), cx.order);
        if (c && *c == 0) return Value(!e.negated);
        if (!c) sawNull = true;
    }
    if (sawNull) return Value();
    return Value(e.negated);
}

Value between(const Expr& e, const EvalContext& cx) {
    const Value a = evaluate(e.args[0], cx);
    const std::optional<int> lo = compareValues(a, evaluate(e.args[1], cx), cx.order);
    const std::optional<int> hi = compareValues(a, evaluate(e.args[2], cx), cx.order);
    std::optional<bool> r;
    if (lo && hi) r = *lo >= 0 && *hi <= 0;
    else if ((lo && *lo < 0) || (hi && *hi > 0)) r = false;
    return boolValue(negatedIf(r, e.negated));
}

Value concat(const Expr& e, const EvalContext& cx) {
    const Value a = evaluate(e.args[0], cx), b = evaluate(e.args[1], cx);
    if (a.isNull() && b.isNull()) return Value();
    std::string s = a.isNull() ? std::string() : textOf(a);
    if (!b.isNull()) s += textOf(b);
    return Value(std::move(s));
}

Value call(const Expr& e, const EvalContext& cx) {
    std::vector<Value> args;
    args.reserve(e.args.size());
    if (e.fn == Fn::IIf) {
        const std::optional<bool> c = truth(evaluate(e.args[0], cx));
        return evaluate(e.args[c && *c ? 1 : 2], cx);
    }
    for (const Expr& a : e.args) args.push_back(evaluate(a, cx));
    return callFunction(e.fn, e.name, args);
}

Value logic(const Expr& e, const EvalContext& cx) {
    switch (e.op) {
    case ExprOp::Not: return boolValue(negatedIf(truth(evaluate(e.args[0], cx)), true));
    case ExprOp::And:
    case ExprOp::Or: return andOr(e, cx);
    case ExprOp::Like: return like(e, cx);
    case ExprOp::In: return inList(e, cx);
    case ExprOp::Between: return between(e, cx);
    case ExprOp::IsNull: return Value(evaluate(e.args[0], cx).isNull() != e.negated);
    default: return comparison(e, cx);
    }
}

}  // namespace

void appendSortKey(std::string& out, const std::string& text, SortOrder order) {
    std::vector<uint8_t> key;
    if (appendTextKey(key, utf8ToUtf16(text), order)) {
        out.append(key.begin(), key.end());
        return;
    }
    out += foldName(text);
}

std::optional<int> compareValues(const Value& a, const Value& b, SortOrder order) {
    if (a.isNull() || b.isNull()) return std::nullopt;
    if (a.kind() == Kind::Text && b.kind() == Kind::Text) return compareText(a.text(), b.text(), order);
    if (a.kind() == Kind::Binary && b.kind() == Kind::Binary) return compareBytes(a.bytes(), b.bytes());
    // Text against a date is read as a date; against a number it does not
    // compare.
    if (a.kind() == Kind::Text && !dateLike(b)) mismatch();
    if (b.kind() == Kind::Text && !dateLike(a)) mismatch();
    if (a.kind() == Kind::Binary || b.kind() == Kind::Binary) mismatch();
    return compareNumbers(a, b);
}

double numberValue(const Value& v) { return asDouble(v); }

bool isTrue(const Value& v) {
    const std::optional<bool> t = truth(v);
    return t && *t;
}

Value evaluate(const Expr& e, const EvalContext& cx) {
    switch (e.op) {
    case ExprOp::Literal: return e.value;
    case ExprOp::Column: return (*cx.row)[size_t(e.column)];
    case ExprOp::Neg: return negate(evaluate(e.args[0], cx));
    case ExprOp::Add:
    case ExprOp::Sub:
    case ExprOp::Mul:
    case ExprOp::Div:
    case ExprOp::IntDiv:
    case ExprOp::Mod:
    case ExprOp::Pow: return arithmetic(e.op, evaluate(e.args[0], cx), evaluate(e.args[1], cx));
    case ExprOp::Concat: return concat(e, cx);
    case ExprOp::Call: return call(e, cx);
    default: break;
    }
    if (isAggregate(e.op)) return (*cx.aggregates)[size_t(e.slot)];
    return logic(e, cx);
}

void bindColumns(Expr& e, const std::vector<FieldInfo>& fields) {
    if (e.op == ExprOp::Column) {
        e.column = -1;
        for (size_t i = 0; i < fields.size() && e.column < 0; ++i)
            if (sameName(fields[i].name, e.name)) e.column = int(i);
        // The engine reads an unknown name as a parameter without a value.
        if (e.column < 0) throw jeterr::missingParameter();
    }
    for (Expr& a : e.args) bindColumns(a, fields);
}

}  // namespace tp::db::jet
