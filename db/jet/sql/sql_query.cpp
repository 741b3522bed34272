// SELECT, UPDATE and DELETE parsed into trees: expressions by Access's
// precedence (^, unary -, * /, \, Mod, + -, &, comparisons, NOT, AND, OR),
// the clauses around them, and the slots of the aggregates.
#include <cmath>
#include <cstdlib>

#include "db/jet/sql/sql_lexer.h"
#include "db/jet/sql/sql_query.h"

namespace tp::db::jet {

namespace {

using namespace sqlchars;

bool reserved(std::string_view w) {
    static const char* const words[] = {"FROM",     "WHERE", "AND",  "OR",  "NOT",  "ORDER",  "GROUP", "HAVING",
                                        "BY",       "AS",    "LIKE", "IN",  "IS",   "SELECT", "SET",   "BETWEEN",
                                        "DISTINCT", "TOP",   "MOD",  "ASC", "DESC", "UPDATE", "DELETE"};
    for (const char* r : words)
        if (ieq(w, r)) return true;
    return false;
}

struct FnName {
    const char* name;
    Fn fn;
    int minArgs, maxArgs;
};

const FnName kFunctions[] = {
    {"LEN", Fn::Len, 1, 1},       {"LEFT", Fn::Left, 2, 2},   {"RIGHT", Fn::Right, 2, 2}, {"MID", Fn::Mid, 2, 3},
    {"UCASE", Fn::UCase, 1, 1},   {"LCASE", Fn::LCase, 1, 1}, {"TRIM", Fn::Trim, 1, 1},   {"LTRIM", Fn::LTrim, 1, 1},
    {"RTRIM", Fn::RTrim, 1, 1},   {"NZ", Fn::Nz, 1, 2},       {"IIF", Fn::IIf, 3, 3},     {"YEAR", Fn::Year, 1, 1},
    {"MONTH", Fn::Month, 1, 1},   {"DAY", Fn::Day, 1, 1},     {"HOUR", Fn::Hour, 1, 1},   {"MINUTE", Fn::Minute, 1, 1},
    {"SECOND", Fn::Second, 1, 1}, {"DATE", Fn::Date, 0, 0},   {"NOW", Fn::Now, 0, 0},     {"ABS", Fn::Abs, 1, 1},
    {"INT", Fn::Int, 1, 1},
};

struct AggregateName {
    const char* name;
    ExprOp op;
};

const AggregateName kAggregates[] = {{"COUNT", ExprOp::Count}, {"SUM", ExprOp::Sum}, {"AVG", ExprOp::Avg},
                                     {"MIN", ExprOp::Min},     {"MAX", ExprOp::Max}, {"FIRST", ExprOp::First},
                                     {"LAST", ExprOp::Last}};

Expr node(ExprOp op, Expr a) {
    Expr e;
    e.op = op;
    e.args.push_back(std::move(a));
    return e;
}

Expr node(ExprOp op, Expr a, Expr b) {
    Expr e = node(op, std::move(a));
    e.args.push_back(std::move(b));
    return e;
}

// The words that end an expression of a clause.
bool clauseWord(std::string_view w) {
    return ieq(w, "FROM") || ieq(w, "WHERE") || ieq(w, "GROUP") || ieq(w, "HAVING") || ieq(w, "ORDER") || ieq(w, "SET");
}

// One expression, read from the lexer's position; a failure names the
// expression as written.
class ExprParser {
public:
    explicit ExprParser(sqllex::Lexer& lx) : lx_(lx) {
        lx_.skip();
        start_ = lx_.pos();
    }

    Expr parse() {
        Expr e = parseOr();
        return e;
    }

    // The text from the expression's start up to where the lexer stands.
    std::string text() const { return std::string(trimmed(lx_.text().substr(start_, lx_.pos() - start_))); }

    [[noreturn]] void bad() const {
        // The expression as Access quotes it: up to the clause's end.
        size_t e = lx_.pos();
        const std::string_view s = lx_.text();
        while (e < s.size() && s[e] != ',' && s[e] != ';' && s[e] != ')') {
            size_t w = e;
            while (w < s.size() && isNameChar(s[w])) ++w;
            if (w > e && clauseWord(s.substr(e, w - e)) && e > 0 && !isNameChar(s[e - 1])) break;
            e = w > e ? w : e + 1;
        }
        throw jeterr::syntaxInExpression(trimmed(s.substr(start_, e - start_)));
    }

private:
    Expr parseOr() {
        Expr e = parseAnd();
        while (lx_.acceptWord("OR")) e = node(ExprOp::Or, std::move(e), parseAnd());
        return e;
    }
    Expr parseAnd() {
        Expr e = parseNot();
        while (lx_.acceptWord("AND")) e = node(ExprOp::And, std::move(e), parseNot());
        return e;
    }
    // Every operand and NOT counts: an expression deeper or longer than the
    // engine evaluates is refused before it is built.
    void tick() {
        if (++operands_ > 1000) throw Error(3360, "Query is too complex.");
    }
    Expr parseNot() {
        tick();
        if (lx_.acceptWord("NOT")) return node(ExprOp::Not, parseNot());
        return parseComparison();
    }
    bool comparisonOp(ExprOp& op) {
        if (lx_.acceptPair('<', '>')) op = ExprOp::Ne;
        else if (lx_.acceptPair('<', '=')) op = ExprOp::Le;
        else if (lx_.acceptPair('>', '=')) op = ExprOp::Ge;
        else if (lx_.accept('<')) op = ExprOp::Lt;
        else if (lx_.accept('>')) op = ExprOp::Gt;
        else if (lx_.accept('=')) op = ExprOp::Eq;
        else return false;
        return true;
    }
    Expr parseComparison() {
        Expr e = parseConcat();
        ExprOp op{};
        if (comparisonOp(op)) return node(op, std::move(e), parseConcat());
        if (lx_.acceptWord("IS")) {
            Expr is = node(ExprOp::IsNull, std::move(e));
            is.negated = lx_.acceptWord("NOT");
            if (!lx_.acceptWord("NULL")) bad();
            return is;
        }
        const bool negated = lx_.acceptWord("NOT");
        Expr r;
        if (lx_.acceptWord("LIKE")) r = node(ExprOp::Like, std::move(e), parseConcat());
        else if (lx_.acceptWord("BETWEEN")) r = between(std::move(e));
        else if (lx_.acceptWord("IN")) r = inList(std::move(e));
        else if (negated) bad();
        else return e;
        r.negated = negated;
        return r;
    }
    Expr between(Expr e) {
        Expr low = parseConcat();
        if (!lx_.acceptWord("AND")) bad();
        Expr r = node(ExprOp::Between, std::move(e), std::move(low));
        r.args.push_back(parseConcat());
        return r;
    }
    Expr inList(Expr e) {
        if (!lx_.accept('(')) bad();
        Expr r = node(ExprOp::In, std::move(e));
        do r.args.push_back(parseConcat());
        while (lx_.accept(','));
        if (!lx_.accept(')')) bad();
        return r;
    }
    Expr parseConcat() {
        Expr e = parseAdd();
        while (lx_.accept('&')) e = node(ExprOp::Concat, std::move(e), parseAdd());
        return e;
    }
    Expr parseAdd() {
        Expr e = parseMod();
        for (;;) {
            if (lx_.accept('+')) e = node(ExprOp::Add, std::move(e), parseMod());
            else if (lx_.accept('-')) e = node(ExprOp::Sub, std::move(e), parseMod());
            else return e;
        }
    }
    Expr parseMod() {
        Expr e = parseIntDiv();
        while (lx_.acceptWord("MOD")) e = node(ExprOp::Mod, std::move(e), parseIntDiv());
        return e;
    }
    Expr parseIntDiv() {
        Expr e = parseMul();
        while (lx_.accept('\\')) e = node(ExprOp::IntDiv, std::move(e), parseMul());
        return e;
    }
    Expr parseMul() {
        Expr e = parseUnary();
        for (;;) {
            if (lx_.accept('*')) e = node(ExprOp::Mul, std::move(e), parseUnary());
            else if (lx_.accept('/')) e = node(ExprOp::Div, std::move(e), parseUnary());
            else return e;
        }
    }
    Expr parseUnary() {
        tick();
        if (lx_.accept('-')) return node(ExprOp::Neg, parseUnary());
        if (lx_.accept('+')) return parseUnary();
        Expr e = parsePrimary();
        while (lx_.accept('^')) e = node(ExprOp::Pow, std::move(e), parsePrimary());
        return e;
    }
    Expr parsePrimary() {
        const char c = lx_.peek();
        if (c == '(') {
            lx_.accept('(');
            Expr e = parseOr();
            if (!lx_.accept(')')) bad();
            return e;
        }
        if (c == '\'' || c == '"' || c == '#' || c == '.' || isDigit(c)) return literal();
        if (c == '[' || c == '`') return column(std::string(lx_.name()));
        const size_t at = lx_.pos();
        const std::string_view w = lx_.word();
        if (w.empty() && isNameStart(c)) return column(std::string(lx_.name()));
        if (w.empty()) bad();
        if (ieq(w, "NULL") || ieq(w, "TRUE") || ieq(w, "FALSE")) {
            lx_.seek(at);
            return literal();
        }
        if (lx_.peek() == '(') return call(w);
        if (reserved(w)) bad();
        lx_.seek(at);
        return column(std::string(lx_.name()));
    }
    Expr literal() {
        Literal lit;
        try {
            lx_.literal(lit);
        } catch (const Error&) {
            bad();
        }
        Expr e;
        e.value = literalValue(lit);
        return e;
    }
    // A name, or table.name / table!name (the table is the query's one).
    Expr column(std::string name) {
        if (lx_.accept('.') || lx_.accept('!')) name = std::string(lx_.name());
        Expr e;
        e.op = ExprOp::Column;
        e.name = std::move(name);
        return e;
    }
    Expr call(std::string_view w) {
        lx_.expect('(');
        for (const AggregateName& a : kAggregates)
            if (ieq(w, a.name)) return aggregate(a, w);
        const FnName* f = nullptr;
        for (const FnName& n : kFunctions)
            if (ieq(w, n.name)) f = &n;
        if (!f) throw jeterr::undefinedFunction(w);
        Expr e;
        e.op = ExprOp::Call;
        e.fn = f->fn;
        e.name = std::string(w);
        if (!lx_.accept(')')) {
            do e.args.push_back(parseOr());
            while (lx_.accept(','));
            if (!lx_.accept(')')) bad();
        }
        if (int(e.args.size()) < f->minArgs || int(e.args.size()) > f->maxArgs)
            throw Error(jeterr::kSyntaxExpression,
                        "Wrong number of arguments used with function in query expression '" + text() + "'.");
        return e;
    }
    Expr aggregate(const AggregateName& a, std::string_view w) {
        Expr e;
        e.op = a.op;
        e.name = std::string(w);
        if (a.op == ExprOp::Count && lx_.accept('*')) {
            e.op = ExprOp::CountStar;
        } else {
            e.args.push_back(parseOr());
        }
        if (!lx_.accept(')')) bad();
        return e;
    }

    static Value literalValue(const Literal& lit) {
        switch (lit.kind) {
        case LiteralKind::Null: return Value();
        case LiteralKind::Bool: return Value(lit.boolean);
        case LiteralKind::String: return Value(unquote(lit));
        case LiteralKind::Date: {
            DateTime dt;
            if (!parseDateText(lit.text, dt)) throw jeterr::dateSyntax(lit.text);
            return Value(dt);
        }
        case LiteralKind::Binary: {
            Bytes b(lit.text.size() / 2);
            for (size_t i = 0; i < b.size(); ++i)
                b[i] = uint8_t(hexValue(lit.text[2 * i]) << 4 | hexValue(lit.text[2 * i + 1]));
            return Value(std::move(b));
        }
        case LiteralKind::Number: break;
        }
        const std::string t(lit.text);
        if (t.find_first_of(".eE") == std::string::npos && t.size() <= 10) {
            const long long n = std::strtoll(t.c_str(), nullptr, 10);
            if (n <= 2147483647LL) return Value(int64_t(lit.negative ? -n : n));
        }
        const double d = std::strtod(t.c_str(), nullptr);
        return Value(lit.negative ? -d : d);
    }

    sqllex::Lexer& lx_;
    size_t start_ = 0;
    int operands_ = 0;
};

// Gives each aggregate of a tree its slot; an aggregate inside another is
// refused.
void assignSlots(Expr& e, int& next, bool inside, const std::string& text) {
    const bool agg = isAggregate(e.op);
    if (agg && inside)
        throw Error(jeterr::kSyntaxExpression, "Cannot have aggregate function in expression (" + text + ").");
    if (agg) e.slot = next++;
    for (Expr& a : e.args) assignSlots(a, next, inside || agg, text);
}

bool hasAggregate(const Expr& e) {
    if (isAggregate(e.op)) return true;
    for (const Expr& a : e.args)
        if (hasAggregate(a)) return true;
    return false;
}

// After a WHERE, HAVING or SET expression: the statement's end, a comma, or
// the next clause; anything else is a missing operator in the expression.
void endOfExpression(sqllex::Lexer& lx, const ExprParser& p) {
    const char c = lx.peek();
    if (c == '\0' || c == ';' || c == ',') return;
    const std::string_view w = lx.peekWord();
    if (ieq(w, "GROUP") || ieq(w, "ORDER") || ieq(w, "HAVING") || ieq(w, "WHERE")) return;
    p.bad();
}

void parseWhere(sqllex::Lexer& lx, Query& q) {
    if (!lx.acceptWord("WHERE")) return;
    ExprParser p(lx);
    q.where = p.parse();
    endOfExpression(lx, p);
    q.whereText = p.text();
    if (hasAggregate(*q.where)) throw jeterr::aggregateInWhere(q.whereText);
}

// TOP n [PERCENT] and DISTINCT / DISTINCTROW / ALL.
void parsePredicates(sqllex::Lexer& lx, Query& q) {
    if (lx.acceptWord("DISTINCT")) q.distinct = true;
    else if (!lx.acceptWord("DISTINCTROW")) lx.acceptWord("ALL");
    if (lx.acceptWord("TOP")) {
        q.top = lx.number();
        q.topPercent = lx.acceptWord("PERCENT");
        if (q.topPercent && q.top > 100) lx.fail();
    }
}

void parseItems(sqllex::Lexer& lx, Query& q) {
    for (;;) {
        SelectItem it;
        if (ieq(lx.peekWord(), "FROM")) lx.fail();
        if (lx.accept('*')) {
            it.star = true;
        } else {
            ExprParser p(lx);
            it.expr = p.parse();
            it.text = p.text();
            if (lx.acceptWord("AS")) it.alias = std::string(lx.name());
        }
        q.items.push_back(std::move(it));
        if (lx.accept(',')) continue;
        if (!ieq(lx.peekWord(), "FROM")) lx.fail();
        return;
    }
}

void parseGroupBy(sqllex::Lexer& lx, Query& q) {
    if (!lx.acceptWord("GROUP")) return;
    lx.expectWord("BY");
    do {
        ExprParser p(lx);
        q.groupBy.push_back(p.parse());
        if (hasAggregate(q.groupBy.back())) throw jeterr::aggregateInWhere(p.text());
    } while (lx.accept(','));
}

void parseOrderBy(sqllex::Lexer& lx, Query& q) {
    if (!lx.acceptWord("ORDER")) return;
    lx.setError(jeterr::kSyntaxOrderBy, jeterr::kSyntaxOrderByText);
    lx.expectWord("BY");
    do {
        OrderItem o;
        if (lx.atEnd() || lx.peek() == ';' || lx.peek() == ',') lx.fail();
        const size_t at = lx.pos();
        const char c = lx.peek();
        if (isDigit(c)) {
            const long n = lx.number();
            if (lx.peek() == ',' || lx.peek() == ';' || lx.atEnd() || !lx.peekWord().empty()) o.position = int(n) - 1;
            else lx.seek(at);
        }
        if (o.position < 0) {
            ExprParser p(lx);
            o.expr = p.parse();
        }
        if (lx.acceptWord("DESC")) o.descending = true;
        else lx.acceptWord("ASC");
        q.orderBy.push_back(std::move(o));
    } while (lx.accept(','));
}

void assignQuerySlots(Query& q) {
    int next = 0;
    for (SelectItem& it : q.items)
        if (!it.star) assignSlots(it.expr, next, false, it.text);
    if (q.having) assignSlots(*q.having, next, false, "HAVING");
    for (OrderItem& o : q.orderBy)
        if (o.position < 0) assignSlots(o.expr, next, false, "ORDER BY");
    q.aggregates = next;
}

}  // namespace

void parseSelectQuery(sqllex::Lexer& lx, Query& q) {
    q = Query{};
    q.kind = QueryKind::Select;
    parsePredicates(lx, q);
    parseItems(lx, q);
    lx.expectWord("FROM");
    lx.setError(jeterr::kSyntaxFrom, jeterr::kSyntaxFromText);
    q.table = std::string(lx.name());
    if (lx.acceptWord("AS")) lx.name();
    lx.setError(jeterr::kSyntaxSelect, jeterr::kSyntaxSelectText);
    parseWhere(lx, q);
    parseGroupBy(lx, q);
    if (lx.acceptWord("HAVING")) {
        ExprParser p(lx);
        q.having = p.parse();
        endOfExpression(lx, p);
    }
    parseOrderBy(lx, q);
    lx.finish();
    assignQuerySlots(q);
}

void parseUpdateQuery(sqllex::Lexer& lx, Query& q) {
    q = Query{};
    q.kind = QueryKind::Update;
    q.table = std::string(lx.name());
    lx.expectWord("SET");
    do {
        SetItem s;
        s.column = std::string(lx.name());
        if (lx.accept('.') || lx.accept('!')) s.column = std::string(lx.name());
        lx.expect('=');
        ExprParser p(lx);
        s.expr = p.parse();
        endOfExpression(lx, p);
        s.text = p.text();
        if (hasAggregate(s.expr)) throw jeterr::aggregateInWhere(s.text);
        q.sets.push_back(std::move(s));
    } while (lx.accept(','));
    parseWhere(lx, q);
    lx.finish();
}

void parseDeleteQuery(sqllex::Lexer& lx, Query& q) {
    q = Query{};
    q.kind = QueryKind::Delete;
    if (!lx.acceptWord("FROM")) {
        // DELETE * FROM t, DELETE t.* FROM t
        if (!lx.accept('*')) {
            lx.name();
            if (!lx.accept('.')) lx.fail();
            lx.expect('*');
        }
        lx.expectWord("FROM");
    }
    q.table = std::string(lx.name());
    parseWhere(lx, q);
    lx.finish();
}

}  // namespace tp::db::jet

namespace tp::db::jet {

Expr parseExpression(std::string_view text) {
    sqllex::Lexer lx(text, jeterr::kSyntaxExpression, "Syntax error in expression.");
    ExprParser p(lx);
    Expr e = p.parse();
    if (!lx.atEnd()) p.bad();
    if (hasAggregate(e)) throw jeterr::syntaxInExpression(std::string(text));
    return e;
}

}  // namespace tp::db::jet
