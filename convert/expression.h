// FoxPro rule and default expressions in Access's expression language.
//
// An expression is translated only where Access gives the same result for
// every value: comparisons of numbers, dates and logical values, AND/OR/NOT,
// BETWEEN() and INLIST() of them, EMPTY() and ISNULL() of a field, the
// arithmetic, and the few functions with a faithful Access form. Text is
// compared only where Access's comparison, which ignores case and trailing
// blanks, cannot differ from FoxPro's. Everything else is left out with the
// part that has no Access form, for the user to be told.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/ado.h"

namespace tp::convert::expression {

struct Translation {
    std::string access;  // the Access expression; empty when left out
    std::string reason;  // why it was left out; empty when translated
    bool ok() const { return reason.empty(); }
};

// A validation rule: of the field `column` (its rule may name only it) or,
// with column empty, of the table's record (any of its fields). The rule
// must give a logical value.
Translation rule(std::string_view foxpro, const std::vector<db::FieldInfo>& fields, std::string_view column);

// A rule's message: FoxPro keeps it as an expression, in practice a string
// literal; its text, or the reason it has none.
Translation message(std::string_view foxpro);

// FoxPro takes a function's name shortened to four letters or more: the
// full name, among `known`, of the uppercase `name`; empty when it names
// none of them (or, shortened, more than one).
std::string_view functionNamed(std::string_view name, std::span<const std::string_view> known);

// A default value expression that is no plain literal: DATE() and
// DATETIME() of the field's kind.
Translation defaultValue(std::string_view foxpro, const db::FieldInfo& field);

}  // namespace tp::convert::expression
