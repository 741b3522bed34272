// Jet SQL literals coerced into their column's type: numbers, dates, text,
// Yes/No and GUIDs, with the engine's rounding, limits and errors.
#include "db/jet/sql/sql.h"
#include "db/jet/sql/sql_chars.h"
#include "db/jet/sql/sql_lexer.h"
#include "db/jet/format/index_keys.h"
#include "db/jet/tables/stored_table.h"
#include "db/coding/guid.h"
#include "db/coding/utf.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace tp::db::jet {

namespace {

using namespace sqlchars;

// ---- numbers ------------------------------------------------------------------

// A number split into its parts. value = ±digits × 10^-scale.
struct Number {
    bool negative = false;
    // Significant digits, no leading zeros (empty for zero).
    char digits[96];
    int ndigits = 0;
    long scale = 0;
    // More significant digits than we keep, and a dropped one is not zero
    // (for rounding, the dropped digits only matter as "above zero").
    bool tooLong = false;
    std::string_view text;  // the number as read (numberText of a long one)
};

// One digit of a number's mantissa: leading zeros dropped, digits past the
// ones kept counted in the scale.
void addDigit(Number& n, char c) {
    if (n.ndigits == 0 && c == '0') return;
    if (n.ndigits < int(sizeof n.digits)) {
        n.digits[n.ndigits++] = c;
    } else {
        if (c != '0') n.tooLong = true;
        --n.scale;  // drop the digit, keep the magnitude
    }
}

// The exponent after s[i] == 'e' or 'E': [sign] digits; false without digits.
bool readExponent(std::string_view s, size_t& i, long& exp) {
    ++i;
    bool eneg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) eneg = s[i++] == '-';
    const size_t d = i;
    while (i < s.size() && isDigit(s[i])) {
        if (exp < 100000) exp = exp * 10 + (s[i] - '0');
        ++i;
    }
    if (i == d) return false;
    if (eneg) exp = -exp;
    return true;
}

// Reads [sign] digits [. digits] [E [sign] digits], blanks around allowed.
bool readNumber(std::string_view s, Number& n, bool allowSpaces) {
    if (allowSpaces) s = trimmed(s);
    size_t i = 0;
    n = Number{};
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        n.negative = s[i] == '-';
        ++i;
        if (allowSpaces)
            while (i < s.size() && isSpace(s[i])) ++i;
    }
    size_t digitsSeen = 0;
    long fracCount = 0;
    n.text = s;
    while (i < s.size() && isDigit(s[i])) addDigit(n, s[i++]), ++digitsSeen;
    if (i < s.size() && s[i] == '.') {
        ++i;
        for (; i < s.size() && isDigit(s[i]); ++i, ++digitsSeen, ++fracCount) addDigit(n, s[i]);
    }
    if (digitsSeen == 0) return false;
    long exp = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E') && !readExponent(s, i, exp)) return false;
    if (i != s.size()) return false;
    // fracCount digits after the point, but leading zeros of the whole were
    // not kept: the scale still counts every fraction digit.
    n.scale += fracCount - exp;
    // Trailing zeros carry no information.
    while (n.ndigits > 0 && n.digits[n.ndigits - 1] == '0' && n.scale > 0) {
        --n.ndigits;
        --n.scale;
    }
    if (n.ndigits == 0) {
        n.scale = 0;
        n.negative = false;
    }
    return true;
}

// Whether dropping n's digits from `keep` on rounds up (half to even).
bool roundsUp(const Number& n, int keep) {
    const char first = n.digits[keep];
    bool rest = false;
    for (int i = keep + 1; i < n.ndigits; ++i)
        if (n.digits[i] != '0') rest = true;
    if (first == '5' && !rest && !n.tooLong) {
        const char last = keep > 0 ? n.digits[keep - 1] : '0';
        return ((last - '0') & 1) != 0;
    }
    return first > '5' || (first == '5' && (rest || n.tooLong));
}

// Adds one to the digits out[0..len).
void incrementDigits(char* out, int& len) {
    int i = len - 1;
    while (i >= 0 && out[i] == '9') out[i--] = '0';
    if (i >= 0) {
        ++out[i];
    } else {
        std::memmove(out + 1, out, size_t(len));
        out[0] = '1';
        ++len;
    }
}

// Rounds n to `target` digits after the point (half to even) into digits
// out[0..len). Returns false when the result needs more than maxDigits.
bool rescale(const Number& n, int target, char* out, int& len, int maxDigits) {
    len = 0;
    if (n.ndigits == 0) return true;
    const long shift = n.scale - target;  // > 0: drop digits; < 0: append zeros
    if (shift <= 0) {
        const long total = n.ndigits - shift;
        if (total > maxDigits) return false;
        std::memcpy(out, n.digits, size_t(n.ndigits));
        for (long i = n.ndigits; i < total; ++i) out[i] = '0';
        len = int(total);
        return true;
    }
    if (shift > n.ndigits) return true;  // rounds to zero (below half)
    const int keep = n.ndigits - int(shift);
    const bool up = roundsUp(n, keep);
    if (keep > maxDigits + 1) return false;
    std::memcpy(out, n.digits, size_t(keep));
    len = keep;
    if (up) incrementDigits(out, len);
    // drop leading zeros (none expected, but keep the invariant)
    int lead = 0;
    while (lead < len && out[lead] == '0') ++lead;
    if (lead) {
        std::memmove(out, out + lead, size_t(len - lead));
        len -= lead;
    }
    return len <= maxDigits;
}

// A whole number in [lo, hi], rounded half to even.
int64_t toInteger(const Number& n, int64_t lo, int64_t hi) {
    char buf[128];
    int len = 0;
    if (!rescale(n, 0, buf, len, 19)) throw jeterr::overflow();
    // 19 digits may exceed int64: compare as unsigned.
    unsigned long long mag = 0;
    for (int i = 0; i < len; ++i) {
        unsigned long long d = unsigned(buf[i] - '0');
        if (mag > (std::numeric_limits<unsigned long long>::max() - d) / 10) throw jeterr::overflow();
        mag = mag * 10 + d;
    }
    if (n.negative) {
        if (mag > static_cast<unsigned long long>(-(lo + 1)) + 1) throw jeterr::overflow();
        return mag == 0 ? 0 : -static_cast<int64_t>(mag - 1) - 1;
    }
    if (mag > static_cast<unsigned long long>(hi)) throw jeterr::overflow();
    return static_cast<int64_t>(mag);
}

// Digits with at most one point between digits, whose whole digits make
// a number below 2^53 and whose point stands at most 22 places from the
// end: the quotient of two exactly held doubles, which IEEE division
// rounds as the full conversion does. False for anything else.
bool shortDecimal(std::string_view t, double& out) {
    constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (t.empty() || t.size() > 19 || !isDigit(t.front()) || !isDigit(t.back())) return false;
    uint64_t m = 0;
    size_t point = t.size();
    for (size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        if (isDigit(c)) {
            m = m * 10 + uint64_t(c - '0');
        } else if (c == '.' && point == t.size()) {
            point = i;
        } else {
            return false;
        }
    }
    const size_t places = point == t.size() ? 0 : t.size() - point - 1;
    if (m >= (uint64_t(1) << 53) || places > 22) return false;
    out = double(m) / kPow10[places];
    return true;
}

double toDouble(std::string_view text) {
    text = trimmed(text);
    bool neg = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        neg = text[0] == '-';
        text.remove_prefix(1);
        text = trimmed(text);
    }
    double d = 0;
    if (shortDecimal(text, d)) return neg ? -d : d;
    auto r = std::from_chars(text.data(), text.data() + text.size(), d, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // Underflow reads as zero; overflow is an overflow.
        Number n;
        if (readNumber(text, n, false) && n.ndigits > 0 && n.scale > 0 && n.scale - n.ndigits > 300) return 0.0;
        throw jeterr::overflow();
    }
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) throw jeterr::typeMismatch();
    if (!std::isfinite(d)) throw jeterr::overflow();
    return neg ? -d : d;
}

// The number as plain text: "-12.5", "0", "1000".
std::string numberText(bool negative, const char* digits, long ndigits, long scale) {
    std::string out;
    if (ndigits == 0) return "0";
    if (negative) out += '-';
    const long intLen = ndigits - scale;
    if (scale > 200 || intLen > 200) {
        // Extreme exponents: the shortest double form.
        std::string t(digits, size_t(ndigits));
        t += "E" + std::to_string(-scale);
        return (negative ? "-" : "") + shortestDouble(std::strtod(t.c_str(), nullptr));
    }
    if (intLen <= 0) {
        out += "0.";
        out.append(size_t(-intLen), '0');
        out.append(digits, size_t(ndigits));
    } else if (scale <= 0) {
        out.append(digits, size_t(ndigits));
        out.append(size_t(-scale), '0');
    } else {
        out.append(digits, size_t(intLen));
        out += '.';
        out.append(digits + intLen, size_t(scale));
    }
    return out;
}

std::string numberText(const Number& n) {
    if (!n.tooLong) return numberText(n.negative, n.digits, n.ndigits, n.scale);
    // More digits than Number keeps: every digit of the text as read.
    std::string digits;
    long scale = 0, exp = 0;
    bool point = false;
    size_t i = 0;
    const std::string_view t = n.text;
    for (; i < t.size() && t[i] != 'e' && t[i] != 'E'; ++i) {
        const char c = t[i];
        if (isDigit(c)) {
            if (!digits.empty() || c != '0') digits += c;
            if (point) ++scale;
        } else if (c == '.') {
            point = true;
        }
    }
    if (i < t.size()) readExponent(t, i, exp);
    scale -= exp;
    while (!digits.empty() && digits.back() == '0' && scale > 0) digits.pop_back(), --scale;
    return numberText(n.negative, digits.data(), long(digits.size()), scale);
}

// ---- dates ----------------------------------------------------------------------

std::string dateText(const DateTime& dt) {
    // United States short date, then the time with AM/PM unless midnight.
    std::string out;
    const bool hasDate = !(dt.date == Date{});
    const bool hasTime = dt.hour || dt.minute || dt.second;
    if (hasDate || !hasTime)
        out = std::to_string(dt.date.month) + "/" + std::to_string(dt.date.day) + "/" + std::to_string(dt.date.year);
    if (hasTime) {
        if (!out.empty()) out += ' ';
        int h12 = dt.hour % 12 == 0 ? 12 : dt.hour % 12;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h12, dt.minute, dt.second, dt.hour < 12 ? "AM" : "PM");
        out += buf;
    }
    return out;
}

// Day numbers of dates from 100-01-01 00:00 to 9999-12-31 23:59:59.999: a
// day before 1899-12-30 is negative and its time a positive fraction, so the
// first day of year 100 runs from -657434 down to (not including) -657435.
constexpr double kMinOleDate = -657435.0;
constexpr double kMaxOleDate = 2958466.0;

DateTime dateFromDouble(double d) {
    if (!(d > kMinOleDate && d < kMaxOleDate)) throw jeterr::overflow();
    const DateTime dt = fromOleDate(d);
    if (dt.date.year < 100 || dt.date.year > 9999) throw jeterr::overflow();  // rounded past the end
    return dt;
}

// ---- text ------------------------------------------------------------------------

void appendUnquoted(std::string& out, const Literal& lit) {
    if (lit.joined) {
        sqllex::joinedText(lit.text, 0, &out);
        return;
    }
    if (!lit.escaped) {
        out.append(lit.text);
        return;
    }
    const std::string_view s = lit.text;
    out.reserve(out.size() + s.size());
    size_t i = 0;
    while (i < s.size()) {
        const void* hit = std::memchr(s.data() + i, lit.quote, s.size() - i);
        size_t q = hit ? size_t(static_cast<const char*>(hit) - s.data()) : s.size();
        out.append(s.data() + i, q - i);
        if (q >= s.size()) break;
        out += lit.quote;
        i = q + 2;  // a doubled quote stands for one
    }
}

// A number literal's parts, its sign applied.
bool literalNumber(const Literal& lit, Number& n) {
    if (!readNumber(lit.text, n, false)) return false;
    if (lit.negative && n.ndigits) n.negative = !n.negative;
    return true;
}

double literalDouble(const Literal& lit) {
    const double d = toDouble(lit.text);
    return lit.negative ? -d : d;
}

// The GUID text as Access shows it: upper case, in braces.
bool canonicalGuid(std::string_view s, std::string& out) {
    uint8_t bytes[16];
    if (!coding::parseGuid(trimmed(s), bytes)) return false;
    out = coding::guidText(bytes);
    return true;
}

bool boolFromText(std::string_view s, bool& out) {
    s = trimmed(s);
    if (ieq(s, "true") || ieq(s, "yes") || ieq(s, "on")) return out = true, true;
    if (ieq(s, "false") || ieq(s, "no") || ieq(s, "off")) return out = false, true;
    Number n;
    if (readNumber(s, n, true)) return out = n.ndigits != 0, true;
    return false;
}

// ---- one coercion per target type --------------------------------------------

Value textValue(const Literal& lit, const ColumnDef& col) {
    std::string s;
    // clang-format off
    switch (lit.kind) {
    case LiteralKind::String: appendUnquoted(s, lit); break;
    case LiteralKind::Number: {
        Number n;
        if (!literalNumber(lit, n)) throw jeterr::typeMismatch();
        s = numberText(n);
        break;
    }
    case LiteralKind::Bool: s = lit.boolean ? "-1" : "0"; break;
    case LiteralKind::Date: {
        DateTime dt;
        if (!parseDateText(lit.text, dt))
            throw jeterr::dateSyntax(lit.text);
        s = dateText(dt);
        break;
    }
    case LiteralKind::Binary: throw jeterr::typeMismatch();
    default: break;
    }
    // clang-format on
    if (col.type == ColType::Text) {
        const size_t limit = static_cast<size_t>(col.size > 0 ? col.size : 255);
        // Quick accept: a UTF-8 text never has more units than bytes.
        if (s.size() > limit && utf16Length(s) > limit) throw jeterr::fieldTooSmall();
    }
    return Value(std::move(s));
}

Value boolValue(const Literal& lit) {
    switch (lit.kind) {
    case LiteralKind::Bool: return Value(lit.boolean);
    case LiteralKind::Number: {
        Number n;
        if (!literalNumber(lit, n)) throw jeterr::typeMismatch();
        return Value(n.ndigits != 0);
    }
    case LiteralKind::String: {
        bool b = false;
        if (!boolFromText(unquote(lit), b)) throw jeterr::typeMismatch();
        return Value(b);
    }
    case LiteralKind::Date: {
        DateTime dt;
        if (!parseDateText(lit.text, dt)) throw jeterr::typeMismatch();
        return Value(toOleDate(dt) != 0.0);
    }
    default: break;
    }
    throw jeterr::typeMismatch();
}

// A literal read as a number for a numeric column: its parts, and the text
// they were read from (kept in scratch when made here).
std::string_view literalAsNumber(const Literal& lit, Number& n, std::string& scratch) {
    std::string_view text;
    switch (lit.kind) {
    case LiteralKind::Number:
        text = lit.text;
        if (!literalNumber(lit, n)) throw jeterr::typeMismatch();
        break;
    case LiteralKind::String:
        scratch = unquote(lit);
        text = scratch;
        if (!readNumber(text, n, true)) {
            // A text that reads as a date converts to its day number.
            DateTime dt;
            if (!parseDateText(text, dt)) throw jeterr::typeMismatch();
            scratch = shortestDouble(toOleDate(dt));
            text = scratch;
            readNumber(text, n, false);
        }
        break;
    case LiteralKind::Bool:
        text = lit.boolean ? "-1" : "0";
        readNumber(text, n, false);
        break;
    case LiteralKind::Date: {
        DateTime dt;
        if (!parseDateText(lit.text, dt)) throw jeterr::typeMismatch();
        scratch = shortestDouble(toOleDate(dt));
        text = scratch;
        readNumber(text, n, false);
        break;
    }
    default: throw jeterr::typeMismatch();
    }
    return text;
}

Value moneyValue(const Number& n) {
    char buf[128];
    int len = 0;
    if (!rescale(n, 4, buf, len, 19)) throw jeterr::overflow();
    unsigned long long mag = 0;
    for (int i = 0; i < len; ++i) {
        unsigned long long d = unsigned(buf[i] - '0');
        if (mag > (std::numeric_limits<unsigned long long>::max() - d) / 10) throw jeterr::overflow();
        mag = mag * 10 + d;
    }
    if (mag > (n.negative ? 9223372036854775808ULL : 9223372036854775807ULL)) throw jeterr::overflow();
    const int64_t units = n.negative ? (mag == 0 ? 0 : -static_cast<int64_t>(mag - 1) - 1) : static_cast<int64_t>(mag);
    return Value(Currency{units});
}

Value decimalValue(const Number& n, const ColumnDef& col) {
    char buf[128];
    int len = 0;
    const int precision = col.precision > 0 ? col.precision : 18;
    const int scale = col.scale >= 0 ? col.scale : 0;
    if (!rescale(n, scale, buf, len, precision))
        throw Error(jeterr::kDecimalPrecision,
                    "The decimal field's precision is too small to accept the numeric you attempted "
                    "to add.");
    std::string t;
    if (n.negative && len > 0) t += '-';
    if (len <= scale) {
        t += '0';
        if (scale > 0) {
            t += '.';
            t.append(size_t(scale - len), '0');
            t.append(buf, size_t(len));
        }
    } else {
        t.append(buf, size_t(len - scale));
        if (scale > 0) {
            t += '.';
            t.append(buf + (len - scale), size_t(scale));
        }
    }
    return Value(Decimal{std::move(t)});
}

Value numberValue(const Literal& lit, const ColumnDef& col) {
    Number n;
    std::string scratch;
    const std::string_view text = literalAsNumber(lit, n, scratch);
    switch (col.type) {
    case ColType::Byte: return Value(toInteger(n, 0, 255));
    case ColType::Int: return Value(toInteger(n, -32768, 32767));
    case ColType::Long: return Value(toInteger(n, INT32_MIN, INT32_MAX));
    case ColType::BigInt: return Value(toInteger(n, INT64_MIN, INT64_MAX));
    case ColType::Money: return moneyValue(n);
    case ColType::Numeric: return decimalValue(n, col);
    case ColType::Float: {
        double d = lit.kind == LiteralKind::Number ? literalDouble(lit) : toDouble(text);
        // Every number that rounds to a finite Single fits (up to halfway
        // between the largest Single and the next power of two).
        if (std::fabs(d) >= 0x1.ffffffp+127) throw jeterr::overflow();
        return Value(d);
    }
    default: return Value(lit.kind == LiteralKind::Number ? literalDouble(lit) : toDouble(text));
    }
}

Value dateValue(const Literal& lit) {
    DateTime dt;
    switch (lit.kind) {
    case LiteralKind::Date:
        if (!parseDateText(lit.text, dt)) throw jeterr::dateSyntax(lit.text);
        return Value(dt);
    case LiteralKind::String: {
        std::string s = unquote(lit);
        if (parseDateText(s, dt)) return Value(dt);
        Number n;
        if (!readNumber(s, n, true)) throw jeterr::typeMismatch();
        return Value(dateFromDouble(toDouble(s)));
    }
    case LiteralKind::Number: return Value(dateFromDouble(literalDouble(lit)));
    case LiteralKind::Bool: return Value(fromOleDate(lit.boolean ? -1.0 : 0.0));
    default: break;
    }
    throw jeterr::typeMismatch();
}

// Bytes as written (0x...); text stored in a binary column keeps its
// UTF-16LE bytes.
Value binaryValue(const Literal& lit, const ColumnDef& col) {
    std::vector<uint8_t> b;
    if (lit.kind == LiteralKind::Binary) {
        b.resize(lit.text.size() / 2);
        for (size_t i = 0; i < b.size(); ++i)
            b[i] = uint8_t(hexValue(lit.text[2 * i]) << 4 | hexValue(lit.text[2 * i + 1]));
    } else if (lit.kind == LiteralKind::String) {
        coding::putUtf16LE(b, coding::utf8ToUtf16(unquote(lit)));
    } else {
        throw jeterr::typeMismatch();
    }
    if (col.type == ColType::Binary && b.size() > size_t(col.size > 0 ? col.size : 255)) throw jeterr::fieldTooSmall();
    return Value(std::move(b));
}

Value guidValue(const Literal& lit) {
    if (lit.kind != LiteralKind::String) throw jeterr::typeMismatch();
    std::string g;
    if (!canonicalGuid(unquote(lit), g)) throw jeterr::typeMismatch();
    return Value(std::move(g));
}

// The quick coercions of the commonest literals (the second coerceLiteral);
// false when the literal needs the full one.
bool quickText(const Literal& lit, const ColumnDef& col, Value& out) {
    if (lit.kind != LiteralKind::String) return false;
    std::string& s = out.setText();
    appendUnquoted(s, lit);
    if (col.type == ColType::Text) {
        const size_t limit = static_cast<size_t>(col.size > 0 ? col.size : 255);
        if (s.size() > limit && utf16Length(s) > limit) throw jeterr::fieldTooSmall();
    }
    return true;
}

// A number literal as the parser gives it (digits or a point first, no
// blank) always has its parts: straight to its value.
bool quickDouble(const Literal& lit, Value& out) {
    if (lit.kind != LiteralKind::Number || lit.text.empty() ||
        !(isDigit(lit.text.front()) || lit.text.front() == '.') || isSpace(lit.text.back()))
        return false;
    out = Value(literalDouble(lit));
    return true;
}

bool quickLong(const Literal& lit, Value& out) {
    if (lit.kind != LiteralKind::Number || lit.text.empty() || lit.text.size() > 18) return false;
    int64_t mag = 0;
    for (char c : lit.text) {
        if (!isDigit(c)) return false;
        mag = mag * 10 + (c - '0');
    }
    if (lit.negative ? mag > -int64_t(INT32_MIN) : mag > INT32_MAX) throw jeterr::overflow();
    out = Value(lit.negative ? -mag : mag);
    return true;
}

}  // namespace

std::string unquote(const Literal& lit) {
    std::string s;
    appendUnquoted(s, lit);
    return s;
}

Value coerceLiteral(const Literal& lit, const ColumnDef& col, std::string_view table) {
    if (lit.kind == LiteralKind::Null) {
        if (col.type == ColType::Bool) return Value(false);  // Yes/No columns hold no null
        if (col.notNull && !col.autoNumber) throw jeterr::required(table, col.name);
        return Value();
    }
    switch (col.type) {
    case ColType::Text:
    case ColType::Memo: return textValue(lit, col);
    case ColType::Bool: return boolValue(lit);
    case ColType::Byte:
    case ColType::Int:
    case ColType::Long:
    case ColType::Money:
    case ColType::Numeric:
    case ColType::Float:
    case ColType::Double:
    case ColType::BigInt: return numberValue(lit, col);
    case ColType::DateTime: return dateValue(lit);
    case ColType::Binary:
    case ColType::OLE: return binaryValue(lit, col);
    case ColType::Guid: return guidValue(lit);
    default: throw jeterr::typeMismatch();
    }
}

void coerceLiteral(const Literal& lit, const ColumnDef& col, std::string_view table, Value& out) {
    switch (col.type) {
    case ColType::Text:
    case ColType::Memo:
        if (quickText(lit, col, out)) return;
        break;
    case ColType::Double:
        if (quickDouble(lit, out)) return;
        break;
    case ColType::Long:
        if (quickLong(lit, out)) return;
        break;
    default: break;
    }
    out = coerceLiteral(lit, col, table);
}

}  // namespace tp::db::jet
