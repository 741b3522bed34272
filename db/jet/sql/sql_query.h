// The queries people type: SELECT over one table with expressions, WHERE,
// GROUP BY, HAVING and ORDER BY, and UPDATE and DELETE, as trees of
// expressions evaluated with the engine's rules (Null's three values, text
// compared by the database's sort order).
//
// Parsing: sql_query.cpp; values: sql_expr.cpp and sql_functions.cpp;
// running a SELECT: sql_select.cpp; UPDATE and DELETE: sql_change.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/cursor.h"
#include "db/jet/database.h"
#include "db/jet/format/index_keys.h"
#include "db/value.h"

namespace tp::db::jet {

namespace sqllex {
class Lexer;
}
class EntrySorter;

enum class ExprOp : uint8_t {
    Literal,
    Column,
    Neg,
    Not,
    And,
    Or,
    Eq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    Add,
    Sub,
    Mul,
    Div,
    IntDiv,
    Mod,
    Pow,
    Concat,
    Like,     // args: text, pattern
    In,       // args: value, then the list
    Between,  // args: value, low, high
    IsNull,
    Call,  // function: fn
    // Aggregates: their value comes from the group (slot).
    CountStar,
    Count,
    Sum,
    Avg,
    Min,
    Max,
    First,
    Last,
};

inline bool isAggregate(ExprOp op) { return op >= ExprOp::CountStar; }

enum class Fn : uint8_t {
    Len,
    Left,
    Right,
    Mid,
    UCase,
    LCase,
    Trim,
    LTrim,
    RTrim,
    Nz,
    IIf,
    Year,
    Month,
    Day,
    Hour,
    Minute,
    Second,
    Date,
    Now,
    Abs,
    Int,
};

struct Expr {
    ExprOp op = ExprOp::Literal;
    bool negated = false;  // NOT LIKE, NOT IN, NOT BETWEEN, IS NOT NULL
    Fn fn = Fn::Len;       // Call
    int column = -1;       // Column: its position in the row, once bound
    int slot = -1;         // aggregates: the group's value
    Value value;           // Literal
    std::string name;      // Column: as written; Call and aggregates: the function
    std::vector<Expr> args;
};

struct SelectItem {
    Expr expr;
    std::string text;   // as written (an unnamed expression's messages)
    std::string alias;  // AS name
    bool star = false;  // *
};

struct OrderItem {
    Expr expr;
    int position = -1;  // ORDER BY n: the n-th chosen column (0-based)
    bool descending = false;
};

struct SetItem {
    std::string column;
    Expr expr;
    std::string text;
};

enum class QueryKind : uint8_t { Select, Update, Delete };

struct Query {
    QueryKind kind = QueryKind::Select;
    std::string table;
    // SELECT
    bool distinct = false;
    int64_t top = -1;  // TOP n (-1: none)
    bool topPercent = false;
    std::vector<SelectItem> items;
    std::vector<Expr> groupBy;
    std::optional<Expr> having;
    std::vector<OrderItem> orderBy;
    int aggregates = 0;  // slots of the aggregates in items, HAVING and ORDER BY
    // UPDATE
    std::vector<SetItem> sets;
    // every kind
    std::optional<Expr> where;
    std::string whereText;
};

// Parsing, after the statement's first word (sql_query.cpp).
void parseSelectQuery(sqllex::Lexer& lx, Query& q);
void parseUpdateQuery(sqllex::Lexer& lx, Query& q);
void parseDeleteQuery(sqllex::Lexer& lx, Query& q);

// One expression that is the whole text (a validation rule, a default
// value); errors as a WHERE's (3075), aggregates refused.
Expr parseExpression(std::string_view text);

// Values (sql_expr.cpp).
struct EvalContext {
    const std::vector<Value>* row = nullptr;
    const std::vector<Value>* aggregates = nullptr;  // a group's aggregate values, by slot
    SortOrder order;
};
Value evaluate(const Expr& e, const EvalContext& cx);
// Compares two values as the engine does: -1, 0 or 1, or nothing when either
// is Null. Text compares by the sort order's keys; text against a number is
// a type mismatch (3464).
std::optional<int> compareValues(const Value& a, const Value& b, SortOrder order);
// A number's value as a double (dates as days), as numbers of different
// kinds compare.
double numberValue(const Value& v);
// WHERE and HAVING keep a row whose condition is true (not false, not Null).
bool isTrue(const Value& v);
// A text's key under the sort order (the index key; case folded as the
// order folds it), appended to out.
void appendSortKey(std::string& out, const std::string& text, SortOrder order);
// Names to positions in the row (fields); an unknown name is a parameter
// without a value (3061).
void bindColumns(Expr& e, const std::vector<FieldInfo>& fields);
// The value a function gives (sql_functions.cpp); args already evaluated.
Value callFunction(Fn fn, const std::string& name, std::vector<Value>& args);
// Whether text matches an Access LIKE pattern (* ? # [list] [!list]).
bool likeMatch(const std::string& text, const std::string& pattern, SortOrder order);

// The terms of a bound WHERE an index may serve (sql_ranges.cpp).
std::vector<ValueRange> indexableRanges(const std::optional<Expr>& where, SortOrder order);

// Running (sql_select.cpp, sql_change.cpp). The query is bound to the
// table's columns and kept by the cursor.
std::unique_ptr<Cursor> runSelect(Database& db, const std::string& table, std::shared_ptr<Query> q);
long runUpdate(Database& db, const std::string& table, Query& q);
long runDelete(Database& db, const std::string& table, Query& q);
// The rows of a query that gathers, in the order of their sort keys (each
// key compared as the engine compares values, Nulls first; `descending` per
// key), rows with equal keys in the order they came (sql_sort.cpp). Past
// rowSortBound() bytes they are sorted in runs in a temporary file beside
// `near` (the database; empty: the system's temporary folder) and merged as
// the cursor reads them; the file goes with the cursor. TOP n (top >= 0)
// gives n rows, with `ties` those whose keys equal the last one's too; a
// small n keeps only its rows (a heap), TOP n percent sorts them all.
class SortedRows {
public:
    // `distinct`: of rows with equal keys only the first is given.
    SortedRows(const std::string& near, std::vector<bool> descending, int64_t top, bool topPercent, bool ties,
               bool distinct = false);
    ~SortedRows();
    SortedRows(const SortedRows&) = delete;
    SortedRows& operator=(const SortedRows&) = delete;
    void add(const std::vector<Value>& keys, const std::vector<Value>& values);
    std::unique_ptr<Cursor> finish(std::vector<FieldInfo> fields);

private:
    struct Top;
    std::vector<bool> descending_;
    int64_t top_;
    bool topPercent_;
    bool ties_;
    bool distinct_;
    int64_t count_ = 0;
    std::unique_ptr<Top> topRows_;
    std::unique_ptr<EntrySorter> sorted_;
};
// The bytes of rows SortedRows holds in memory (32 MB; tests may lower it;
// 0: back to that).
size_t rowSortBound();
void setRowSortBound(size_t bytes);
// A value converted into the value column `c` stores, by the rules of an
// INSERT's literal (errors: 3464, 3349, 3163).
Value storedValue(const Value& v, const ColumnDef& c, const std::string& table);
// The value a column an INSERT leaves out takes from its DefaultValue: a
// literal as an INSERT's literal, an expression of constants and functions
// (Date(), Now()) as it evaluates; anything else, and a value that does not
// fit the column, Null (a Required column then refuses the row, 3314).
Value defaultValueOf(const ColumnDef& c, std::string_view table);

}  // namespace tp::db::jet
