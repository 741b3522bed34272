#include "convert/expression.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "convert/regional.h"

namespace tp::convert::expression {
namespace {

namespace adtype = db::adtype;

enum class Kind { Number, Text, Date, Logical, Null };

// How a text compares without regard to case: caseless (no letters),
// upper or lower case only, or any.
enum class Case { None, Upper, Lower, Any };

// Operator precedence, loosest last: a term of a looser level is put in
// parentheses under a tighter operator.
enum Level { Atom, Power, Product, Sum, Comparison, Negation, Conjunction, Disjunction };

// A translated part of the expression.
struct Term {
    std::string text;
    Kind kind = Kind::Number;
    int level = Atom;
    // Text: the width of the padded field it is (untrimmed C), or -1.
    int width = -1;
    bool trimmed = false;  // text without trailing blanks (a literal, a trimmed value)
    Case letters = Case::Any;
    std::optional<std::string> literal;  // a text literal's value
};

struct Failure {
    std::string reason;
};
[[noreturn]] void fail(std::string reason) { throw Failure{std::move(reason)}; }

bool isIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool isIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

Case caseOf(const std::string& s) {
    bool upper = false, lower = false;
    for (const char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) return Case::Any;
        upper |= std::isupper(static_cast<unsigned char>(c)) != 0;
        lower |= std::islower(static_cast<unsigned char>(c)) != 0;
    }
    if (upper && lower) return Case::Any;
    return upper ? Case::Upper : lower ? Case::Lower : Case::None;
}

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (const char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

Term make(std::string text, Kind kind, int level = Atom) {
    Term t;
    t.text = std::move(text);
    t.kind = kind;
    t.level = level;
    return t;
}

// The term as an operand at `level`: in parentheses when it binds looser.
std::string operand(const Term& t, int level) { return t.level > level ? "(" + t.text + ")" : t.text; }

class Translator {
public:
    Translator(std::string_view s, const std::vector<db::FieldInfo>& fields, std::string_view column)
        : s_(s), fields_(fields), column_(column) {}

    Term whole() {
        Term t = disjunction();
        skip();
        if (pos_ < s_.size()) fail("\"" + std::string(s_.substr(pos_)) + "\" cannot be read");
        return t;
    }

private:
    void skip() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r' || s_[pos_] == '\n'))
            ++pos_;
    }
    bool acceptText(std::string_view word) {
        skip();
        if (s_.size() - pos_ < word.size() || !equalsNoCase(s_.substr(pos_, word.size()), word)) return false;
        // A word ends where an identifier does.
        if (isIdentChar(word.back()) && pos_ + word.size() < s_.size() && isIdentChar(s_[pos_ + word.size()]))
            return false;
        pos_ += word.size();
        return true;
    }
    bool accept(char c) {
        skip();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    void expect(char c) {
        if (!accept(c)) fail(std::string("a \"") + c + "\" is missing");
    }

    Term logical(Term t, const char* what) {
        if (t.kind != Kind::Logical && t.kind != Kind::Null)
            fail(std::string(what) + " of a value that is not logical");
        return t;
    }

    // a OR b OR ..., a AND b AND ...: logical terms of the next level.
    Term logicalChain(Term (Translator::*next)(), const char* word, const char* access, int level) {
        Term t = (this->*next)();
        while (acceptText(std::string(".") + word + ".") || acceptText(word)) {
            Term r = logical((this->*next)(), word);
            t = make(operand(logical(t, word), level) + access + operand(r, level), Kind::Logical, level);
        }
        return t;
    }
    Term disjunction() { return logicalChain(&Translator::conjunction, "OR", " Or ", Disjunction); }
    Term conjunction() { return logicalChain(&Translator::negation, "AND", " And ", Conjunction); }
    Term negation() {
        skip();
        const bool bang = pos_ < s_.size() && s_[pos_] == '!' && (pos_ + 1 >= s_.size() || s_[pos_ + 1] != '=');
        if (bang) ++pos_;
        if (bang || acceptText(".NOT.") || acceptText("NOT")) {
            Term t = logical(negation(), "NOT");
            return make("Not " + operand(t, Negation), Kind::Logical, Negation);
        }
        return comparison();
    }

    std::string comparisonOperator() {
        skip();
        static const char* const kOps[] = {"==", "<>", "!=", "<=", ">=", "=>", "=<", "=", "#", "<", ">"};
        for (const char* op : kOps)
            if (s_.substr(pos_).rfind(op, 0) == 0) {
                pos_ += std::string_view(op).size();
                return op;
            }
        return {};
    }

    Term comparison() {
        Term l = sum();
        const std::string op = comparisonOperator();
        if (op.empty()) return l;
        Term r = sum();
        std::string access = op == "=="                ? "="
                             : op == "!=" || op == "#" ? "<>"
                             : op == "=>"              ? ">="
                             : op == "=<"              ? "<="
                                                       : op;
        compared(l, r, op);
        return make(operand(l, Sum) + access + operand(r, Sum), Kind::Logical, Comparison);
    }

    // Whether Access compares the two as FoxPro does; fails when not.
    void compared(const Term& l, const Term& r, const std::string& op) {
        if (l.kind == Kind::Null || r.kind == Kind::Null) return;
        if (l.kind != r.kind) fail("it compares values of different kinds");
        if (l.kind == Kind::Logical && op != "=" && op != "==" && op != "<>" && op != "#" && op != "!=")
            fail("it orders logical values");
        if (l.kind != Kind::Text) return;
        const bool equality = op == "=" || op == "==" || op == "<>" || op == "#" || op == "!=";
        if (!equality) fail("it orders text, which Access sorts by its own order");
        textEquality(l, r, op != "==");
    }

    static void textEquality(const Term& l, const Term& r, bool prefix) {
        const bool caseSafe =
            l.letters == Case::None || r.letters == Case::None || (l.letters == r.letters && l.letters != Case::Any);
        if (!caseSafe) fail("FoxPro compares text with regard to case, and Access does not");
        if (l.literal && r.literal) return;
        // A padded field against a literal of its width compares alike; a
        // trimmed value against a literal too, unless FoxPro's "=" compares
        // only as far as the literal goes.
        const Term& value = r.literal ? l : r;
        const Term& lit = r.literal ? r : l;
        if (!lit.literal || (prefix && !r.literal)) fail("FoxPro compares text up to the length of its right side");
        const std::string& v = *lit.literal;
        const bool blankEnd = !v.empty() && v.back() == ' ';
        const bool widthMatch = value.width >= 0 && (prefix ? static_cast<int>(v.size()) >= value.width
                                                            : static_cast<int>(v.size()) == value.width);
        if (!blankEnd && (widthMatch || (!prefix && value.trimmed))) return;
        fail("FoxPro compares text with its trailing blanks and up to the length of its right side");
    }

    Term sum() {
        Term t = product();
        for (;;) {
            skip();
            if (pos_ >= s_.size() || (s_[pos_] != '+' && s_[pos_] != '-')) return t;
            const char op = s_[pos_++];
            Term r = product();
            t = arithmetic(t, r, std::string(1, op), Sum);
        }
    }
    Term product() {
        Term t = power();
        for (;;) {
            skip();
            if (pos_ >= s_.size() || (s_[pos_] != '*' && s_[pos_] != '/' && s_[pos_] != '%')) return t;
            if (s_.substr(pos_, 2) == "**") return t;
            const char op = s_[pos_++];
            if (op == '%') fail("FoxPro's % keeps the divisor's sign, and Access's Mod the dividend's");
            t = arithmetic(t, power(), std::string(1, op), Product);
        }
    }
    Term power() {
        Term t = unary();
        skip();
        if (accept('^') || (s_.substr(pos_, 2) == "**" && (pos_ += 2))) t = arithmetic(t, unary(), "^", Power);
        return t;
    }
    Term unary() {
        skip();
        if (accept('-')) {
            Term t = unary();
            if (t.kind != Kind::Number) fail("a minus before a value that is no number");
            return make("-" + operand(t, Atom), Kind::Number);
        }
        if (accept('+')) return unary();
        return primary();
    }

    static Term arithmetic(const Term& l, const Term& r, const std::string& op, int level) {
        Kind kind = Kind::Number;
        if (l.kind == Kind::Text || r.kind == Kind::Text) fail("FoxPro joins text with its trailing blanks");
        const bool dates = l.kind == Kind::Date || r.kind == Kind::Date;
        if (dates && op != "+" && op != "-") fail("it multiplies or divides a date");
        if (dates) kind = l.kind == Kind::Date && r.kind == Kind::Date ? Kind::Number : Kind::Date;
        if (!dates && (l.kind != Kind::Number || r.kind != Kind::Number))
            if (l.kind != Kind::Null && r.kind != Kind::Null) fail("it computes with values that are not numbers");
        return make(operand(l, level) + op + operand(r, level - 1), kind, level);
    }

    Term primary() {
        skip();
        if (pos_ >= s_.size()) fail("it ends early");
        const char c = s_[pos_];
        if (c == '(') {
            ++pos_;
            Term t = disjunction();
            expect(')');
            return t;
        }
        if (c == '"' || c == '\'' || c == '[') return stringLiteral();
        if (c == '{') return dateLiteral();
        if (c == '.' && pos_ + 1 < s_.size() && !std::isdigit(static_cast<unsigned char>(s_[pos_ + 1])))
            return dotted();
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') return number();
        if (isIdentStart(c)) return name();
        fail("\"" + std::string(s_.substr(pos_)) + "\" cannot be read");
    }

    Term stringLiteral() {
        const char open = s_[pos_];
        const char close = open == '[' ? ']' : open;
        const size_t end = s_.find(close, pos_ + 1);
        if (end == std::string_view::npos) fail("a string has no end");
        Term t = make("", Kind::Text);
        t.literal = std::string(s_.substr(pos_ + 1, end - pos_ - 1));
        t.text = quoted(*t.literal);
        t.letters = caseOf(*t.literal);
        t.trimmed = true;
        pos_ = end + 1;
        return t;
    }

    Term dateLiteral() {
        const size_t end = s_.find('}', pos_);
        if (end == std::string_view::npos) fail("a date has no end");
        std::string body(s_.substr(pos_ + 1, end - pos_ - 1));
        pos_ = end + 1;
        if (body.empty() || body.find_first_not_of(" /-:.") == std::string::npos)
            fail("the empty date has no Access form");
        if (body[0] != '^') fail("the date {" + body + "} depends on FoxPro's SET DATE");
        body.erase(0, 1);
        if (body.find_first_not_of("0123456789/- :") != std::string::npos)
            fail("the date {^" + body + "} has no plain Access form");
        for (char& ch : body)
            if (ch == '/') ch = '-';
        return make("#" + body + "#", Kind::Date);
    }

    Term dotted() {
        if (acceptText(".T.") || acceptText(".Y.")) return make("True", Kind::Logical);
        if (acceptText(".F.") || acceptText(".N.")) return make("False", Kind::Logical);
        if (acceptText(".NULL.")) return make("Null", Kind::Null);
        fail("\"" + std::string(s_.substr(pos_)) + "\" cannot be read");
    }

    Term number() {
        const size_t b = pos_;
        // A point before a letter begins .AND. or the like, not a fraction.
        auto inNumber = [&](size_t i) {
            if (std::isdigit(static_cast<unsigned char>(s_[i]))) return true;
            return s_[i] == '.' && !(i + 1 < s_.size() && std::isalpha(static_cast<unsigned char>(s_[i + 1])));
        };
        while (pos_ < s_.size() && inNumber(pos_)) ++pos_;
        std::string text(s_.substr(b, pos_ - b));
        if (std::count(text.begin(), text.end(), '.') > 1) fail("the number " + text + " cannot be read");
        if (text.front() == '.') text.insert(0, "0");
        if (text.back() == '.') text.pop_back();
        return make(text, Kind::Number);
    }

    std::string identifier() {
        const size_t b = pos_;
        while (pos_ < s_.size() && isIdentChar(s_[pos_])) ++pos_;
        return std::string(s_.substr(b, pos_ - b));
    }

    Term name() {
        std::string id = identifier();
        skip();
        if (accept('(')) return call(id);
        // alias.field or alias->field: the table's own fields only.
        const bool dot = pos_ < s_.size() && s_[pos_] == '.' && pos_ + 1 < s_.size() && isIdentStart(s_[pos_ + 1]);
        const bool arrow = s_.substr(pos_, 2) == "->";
        if (dot || arrow) {
            pos_ += dot ? 1 : 2;
            id = identifier();
        }
        return field(id);
    }

    const db::FieldInfo* findField(const std::string& id) const {
        const auto it = std::find_if(fields_.begin(), fields_.end(),
                                     [&](const db::FieldInfo& f) { return equalsNoCase(f.name, id); });
        return it == fields_.end() ? nullptr : &*it;
    }

    Term field(const std::string& id) {
        const db::FieldInfo* f = findField(id);
        if (!f) fail("\"" + id + "\" is no field of the table");
        if (!column_.empty() && !equalsNoCase(f->name, column_))
            fail("it names the field " + f->name + ", and an Access field rule can name only its own field");
        Term t = make("[" + f->name + "]", kindOf(*f));
        if (t.kind == Kind::Text) t.width = f->sourceType == 'C' ? f->definedSize : -1;
        fieldOf_ = f;
        return t;
    }

    static Kind kindOf(const db::FieldInfo& f) {
        if (f.binary) fail("the field " + f.name + " holds bytes");
        switch (f.sourceType) {
        case 'C':
        case 'V':
        case 'M': return Kind::Text;
        case 'D':
        case 'T': return Kind::Date;
        case 'L': return Kind::Logical;
        case 'N':
        case 'F':
        case 'I':
        case 'Y':
        case 'B': return Kind::Number;
        default: fail("the field " + f.name + " is of a kind no rule can test");
        }
    }

    std::vector<Term> arguments() {
        std::vector<Term> args;
        if (accept(')')) return args;
        do args.push_back(disjunction());
        while (accept(','));
        expect(')');
        return args;
    }

    static void arity(const std::string& fn, const std::vector<Term>& a, size_t n) {
        if (a.size() != n) fail(fn + "() takes " + std::to_string(n) + " arguments here");
    }

    // The function's full name, as FoxPro reads it shortened.
    static std::string fullName(std::string fn) {
        for (char& ch : fn) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        static constexpr std::string_view kNames[] = {"EMPTY", "ISNULL", "BETWEEN", "INLIST", "DATE", "DATETIME",
                                                      "UPPER", "LOWER",  "ALLTRIM", "RTRIM",  "TRIM", "LTRIM",
                                                      "LEN",   "ABS",    "YEAR",    "MONTH",  "DAY"};
        const std::string_view full = functionNamed(fn, kNames);
        return full.empty() ? fn : std::string(full);
    }

    Term call(const std::string& name) {
        const std::string fn = fullName(name);
        fieldOf_ = nullptr;
        std::vector<Term> a = arguments();
        const db::FieldInfo* onlyField = a.size() == 1 && a[0].level == Atom ? fieldOf_ : nullptr;
        if (fn == "EMPTY") return empty(a, onlyField);
        if (fn == "ISNULL") {
            arity(fn, a, 1);
            if (a[0].kind == Kind::Date) fail("an empty FoxPro date becomes Null in Access");
            return make(operand(a[0], Sum) + " Is Null", Kind::Logical, Comparison);
        }
        if (fn == "BETWEEN") {
            arity(fn, a, 3);
            compared(a[0], a[1], "<=");
            compared(a[0], a[2], "<=");
            return make(operand(a[0], Sum) + " Between " + operand(a[1], Sum) + " And " + operand(a[2], Sum),
                        Kind::Logical, Comparison);
        }
        if (fn == "INLIST") return inList(a);
        return function(fn, a);
    }

    Term empty(const std::vector<Term>& a, const db::FieldInfo* f) {
        arity("EMPTY", a, 1);
        if (!f || a[0].text != "[" + f->name + "]") fail("EMPTY() of a value that is no field");
        const std::string n = "[" + f->name + "]";
        switch (a[0].kind) {
        case Kind::Text:
            if (f->sourceType == 'M') return make(n + " Is Null Or Trim(" + n + ")=''", Kind::Logical, Disjunction);
            return make("Trim(" + n + ")=''", Kind::Logical, Comparison);
        case Kind::Number: return make(n + "=0", Kind::Logical, Comparison);
        case Kind::Date: return make(n + " Is Null", Kind::Logical, Comparison);
        case Kind::Logical: return make(n + "=False", Kind::Logical, Comparison);
        default: fail("EMPTY() of a value of no kind");
        }
    }

    Term inList(const std::vector<Term>& a) {
        if (a.size() < 2) fail("INLIST() takes a value and a list");
        std::string list;
        for (size_t i = 1; i < a.size(); ++i) {
            compared(a[0], a[i], "=");
            list += (i > 1 ? "," : "") + a[i].text;
        }
        return make(operand(a[0], Sum) + " In (" + list + ")", Kind::Logical, Comparison);
    }

    Term function(const std::string& fn, std::vector<Term>& a) {
        if ((fn == "DATE" || fn == "DATETIME") && a.empty()) return make(fn == "DATE" ? "Date()" : "Now()", Kind::Date);
        if (fn == "UPPER" || fn == "LOWER") {
            arity(fn, a, 1);
            Term t = textArgument(fn, a[0]);
            t.text = (fn == "UPPER" ? "UCase(" : "LCase(") + a[0].text + ")";
            t.letters = fn == "UPPER" ? Case::Upper : Case::Lower;
            t.literal.reset();
            return t;
        }
        if (fn == "ALLTRIM" || fn == "RTRIM" || fn == "TRIM" || fn == "LTRIM") {
            arity(fn, a, 1);
            Term t = textArgument(fn, a[0]);
            t.text = (fn == "ALLTRIM" ? "Trim(" : fn == "LTRIM" ? "LTrim(" : "RTrim(") + a[0].text + ")";
            t.trimmed = fn != "LTRIM";
            t.width = -1;
            t.literal.reset();
            return t;
        }
        if (fn == "LEN") {
            arity(fn, a, 1);
            textArgument(fn, a[0]);
            if (a[0].width >= 0) fail("LEN() of a padded field is its width in FoxPro");
            return make("Len(" + a[0].text + ")", Kind::Number);
        }
        return numeric(fn, a);
    }

    static Term textArgument(const std::string& fn, const Term& t) {
        if (t.kind != Kind::Text) fail(fn + "() of a value that is not text");
        Term r = t;
        r.level = Atom;
        return r;
    }

    static Term numeric(const std::string& fn, const std::vector<Term>& a) {
        static const std::pair<const char*, const char*> kSame[] = {
            {"ABS", "Abs"}, {"YEAR", "Year"}, {"MONTH", "Month"}, {"DAY", "Day"}};
        for (const auto& [foxpro, access] : kSame)
            if (fn == foxpro) {
                arity(fn, a, 1);
                const bool date = fn != "ABS";
                if ((date && a[0].kind != Kind::Date) || (!date && a[0].kind != Kind::Number))
                    fail(fn + "() of a value of another kind");
                return make(std::string(access) + "(" + a[0].text + ")", Kind::Number);
            }
        fail(fn + "() has no Access form that gives the same result");
    }

    std::string_view s_;
    size_t pos_ = 0;
    const std::vector<db::FieldInfo>& fields_;
    std::string_view column_;
    const db::FieldInfo* fieldOf_ = nullptr;  // the field the last term named
};

}  // namespace

std::string_view functionNamed(std::string_view name, std::span<const std::string_view> known) {
    std::string_view found;
    for (const std::string_view f : known) {
        if (name == f) return f;
        if (name.size() < 4 || f.substr(0, name.size()) != name) continue;
        if (!found.empty()) return {};
        found = f;
    }
    return found;
}

Translation rule(std::string_view foxpro, const std::vector<db::FieldInfo>& fields, std::string_view column) {
    try {
        Translator t(foxpro, fields, column);
        const Term whole = t.whole();
        if (whole.kind != Kind::Logical) return {{}, "it does not give a logical value"};
        return {whole.text, {}};
    } catch (const Failure& f) {
        return {{}, f.reason};
    }
}

Translation message(std::string_view foxpro) {
    while (!foxpro.empty() && foxpro.back() == ' ') foxpro.remove_suffix(1);
    while (!foxpro.empty() && foxpro.front() == ' ') foxpro.remove_prefix(1);
    if (foxpro.size() >= 2) {
        const char open = foxpro.front();
        const char close = open == '[' ? ']' : open;
        const bool delimited = (open == '"' || open == '\'' || open == '[') && foxpro.back() == close &&
                               foxpro.substr(1, foxpro.size() - 2).find(close) == std::string_view::npos;
        if (delimited) return {std::string(foxpro.substr(1, foxpro.size() - 2)), {}};
    }
    return {{}, "the message is an expression FoxPro computes"};
}

Translation defaultValue(std::string_view foxpro, const db::FieldInfo& field) {
    std::string e(foxpro);
    e.erase(std::remove(e.begin(), e.end(), ' '), e.end());
    const bool date = equalsNoCase(e, "DATE()"), now = equalsNoCase(e, "DATETIME()");
    if (!date && !now) return {{}, "it is not a plain literal"};
    if (field.sourceType != 'D' && field.sourceType != 'T') return {{}, "a date is no value of the field"};
    if (date) return {"Date()", {}};
    if (field.sourceType == 'D') return {{}, "DATETIME() is no value of a date field"};
    return {"Now()", {}};
}

}  // namespace tp::convert::expression
