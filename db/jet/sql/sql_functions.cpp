// The functions of the engine's expressions (Len, Left, Mid, UCase, Nz,
// Year, Now and their kin) and LIKE with Access's wildcards.
#include <cmath>
#include <ctime>
#include <map>

#include "db/coding/utf.h"
#include "db/jet/sql/sql.h"
#include "db/jet/sql/sql_query.h"

namespace tp::db::jet {

namespace {

using coding::utf16ToUtf8;
using coding::utf8ToUtf16;

std::string asText(const Value& v) {
    if (v.kind() == Kind::Text) return v.text();
    if (v.kind() == Kind::Double) return shortestDouble(v.real());
    if (v.kind() == Kind::Bool) return v.boolean() ? "True" : "False";
    return toIsoText(v);
}

int64_t asCount(const Value& v) {
    if (v.kind() == Kind::Int) return v.integer();
    if (v.kind() == Kind::Double) return int64_t(std::nearbyint(v.real()));
    if (v.kind() == Kind::Text) {
        char* end = nullptr;
        const double d = std::strtod(v.text().c_str(), &end);
        if (end == v.text().c_str()) throw jeterr::typeMismatch();
        return int64_t(std::nearbyint(d));
    }
    if (v.kind() == Kind::Currency) return v.currency().units / 10000;
    if (v.kind() == Kind::Bool) return v.boolean() ? -1 : 0;
    throw jeterr::typeMismatch();
}

// Left, Right, Mid: counted in UTF-16 units as the engine counts them.
Value substring(Fn fn, std::vector<Value>& a) {
    if (a[0].isNull()) return Value();
    if (a[1].isNull() || (a.size() > 2 && a[2].isNull())) throw jeterr::invalidUseOfNull();
    const std::u16string s = utf8ToUtf16(asText(a[0]));
    const int64_t n = asCount(a[1]);
    if (n < 0 || (fn == Fn::Mid && n < 1)) throw Error(5, "Invalid procedure call or argument");
    const size_t len = s.size(), count = size_t(std::min<int64_t>(n, int64_t(len) + 1));
    if (fn == Fn::Left) return Value(utf16ToUtf8(s.substr(0, std::min(count, len))));
    if (fn == Fn::Right) return Value(utf16ToUtf8(s.substr(len - std::min(count, len))));
    const size_t from = size_t(std::min<int64_t>(n - 1, int64_t(len)));
    size_t take = len - from;
    if (a.size() > 2) {
        const int64_t m = asCount(a[2]);
        if (m < 0) throw Error(5, "Invalid procedure call or argument");
        take = std::min(take, size_t(m));
    }
    return Value(utf16ToUtf8(s.substr(from, take)));
}

Value caseOf(const Value& v, bool upper) {
    if (v.isNull()) return Value();
    std::u16string s = utf8ToUtf16(asText(v));
    for (char16_t& c : s) {
        // ASCII and Latin-1 letters (the engine folds the rest by its keys).
        if (upper && ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))) c = char16_t(c - 32);
        else if (!upper && ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))) c = char16_t(c + 32);
    }
    return Value(utf16ToUtf8(s));
}

Value trim(Fn fn, const Value& v) {
    if (v.isNull()) return Value();
    std::string s = asText(v);
    if (fn != Fn::RTrim)
        s.erase(0, s.find_first_not_of(' ') == std::string::npos ? s.size() : s.find_first_not_of(' '));
    if (fn != Fn::LTrim) s.erase(s.find_last_not_of(' ') + 1);
    return Value(std::move(s));
}

DateTime dateOf(const Value& v) {
    switch (v.kind()) {
    case Kind::DateTime: return v.dateTime();
    case Kind::Date: return DateTime{v.date()};
    case Kind::Text: {
        DateTime dt;
        if (!parseDateText(v.text(), dt)) throw jeterr::typeMismatch();
        return dt;
    }
    case Kind::Int: return fromOleDate(double(v.integer()));
    case Kind::Double: return fromOleDate(v.real());
    default: throw jeterr::typeMismatch();
    }
}

Value datePart(Fn fn, const Value& v) {
    if (v.isNull()) return Value();
    const DateTime d = dateOf(v);
    switch (fn) {
    case Fn::Year: return Value(int64_t(d.date.year));
    case Fn::Month: return Value(int64_t(d.date.month));
    case Fn::Day: return Value(int64_t(d.date.day));
    case Fn::Hour: return Value(int64_t(d.hour));
    case Fn::Minute: return Value(int64_t(d.minute));
    default: return Value(int64_t(d.second));
    }
}

Value now(bool dateOnly) {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    DateTime d;
    d.date = Date{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
    if (!dateOnly) {
        d.hour = tm.tm_hour;
        d.minute = tm.tm_min;
        d.second = tm.tm_sec;
    }
    return Value(d);
}

Value numberFunction(Fn fn, const Value& v) {
    if (v.isNull()) return Value();
    switch (v.kind()) {
    case Kind::Int: return Value(int64_t(fn == Fn::Abs ? std::llabs(v.integer()) : v.integer()));
    case Kind::Currency:
        return fn == Fn::Abs ? Value(Currency{int64_t(std::llabs(v.currency().units))})
                             : Value(Currency{int64_t(std::floor(double(v.currency().units) / 10000.0)) * 10000});
    case Kind::Bool: return Value(int64_t(v.boolean() ? (fn == Fn::Abs ? 1 : -1) : 0));
    default: break;
    }
    double d = 0;
    if (v.kind() == Kind::Double) d = v.real();
    else if (v.kind() == Kind::Decimal) d = std::strtod(v.decimal().text.c_str(), nullptr);
    else if (v.kind() == Kind::Text) d = std::strtod(v.text().c_str(), nullptr);
    else throw jeterr::typeMismatch();
    return Value(fn == Fn::Abs ? std::fabs(d) : std::floor(d));
}

// ---- LIKE -------------------------------------------------------------------

// One character's key under the sort order, remembered.
class CharKeys {
public:
    explicit CharKeys(SortOrder order) : order_(order) {}
    const std::string& of(char16_t c) {
        auto it = keys_.find(c);
        if (it != keys_.end()) return it->second;
        std::string k;
        appendSortKey(k, utf16ToUtf8(std::u16string(1, c)), order_);
        return keys_.emplace(c, std::move(k)).first->second;
    }
    // Printable ASCII letters key alike exactly when they are the same
    // letter in either case, other printable ASCII characters only with
    // themselves (in the three General orders; control characters key alike).
    bool same(char16_t a, char16_t b) {
        if (a == b) return true;
        if (a >= 0x20 && a < 0x7F && b >= 0x20 && b < 0x7F)
            return (a | 0x20) == (b | 0x20) && (a | 0x20) >= u'a' && (a | 0x20) <= u'z';
        return of(a) == of(b);
    }

private:
    SortOrder order_;
    std::map<char16_t, std::string> keys_;
};

// [list] at p[i] (after "["): whether c is in it; i moves past "]". False
// with i unchanged when there is no closing bracket (then "[" is itself).
bool inBrackets(const std::u16string& p, size_t& i, char16_t c, CharKeys& keys, bool& matched) {
    size_t j = i;
    const bool negate = j < p.size() && p[j] == u'!';
    if (negate) ++j;
    bool hit = false;
    const size_t first = j;
    for (; j < p.size() && (p[j] != u']' || j == first); ++j) {
        if (p[j] == u']' && j == first) {
            hit |= c == u']';
            continue;
        }
        if (j + 2 < p.size() && p[j + 1] == u'-' && p[j + 2] != u']') {
            hit |= keys.of(p[j]) <= keys.of(c) && keys.of(c) <= keys.of(p[j + 2]);
            j += 2;
        } else {
            hit |= keys.same(p[j], c);
        }
    }
    if (j >= p.size()) return false;
    i = j + 1;
    matched = hit != negate;
    return true;
}

// Whether the pattern's element at p[pi] (a character, ?, # or a [list])
// matches c; pi moves past the element.
bool matchOne(const std::u16string& p, size_t& pi, char16_t c, CharKeys& keys) {
    const char16_t e = p[pi];
    if (e == u'[') {
        size_t next = pi + 1;
        bool matched = false;
        if (inBrackets(p, next, c, keys, matched)) {
            pi = next;
            return matched;
        }
    }
    ++pi;
    if (e == u'?') return true;
    if (e == u'#') return c >= u'0' && c <= u'9';
    return keys.same(e, c);
}

}  // namespace

// Every element but * takes one character, so the last * is the only place
// to go back to: the match takes time in proportion to text times pattern.
bool likeMatch(const std::string& text, const std::string& pattern, SortOrder order) {
    CharKeys keys(order);
    const std::u16string s = utf8ToUtf16(text), p = utf8ToUtf16(pattern);
    size_t si = 0, pi = 0, starP = std::u16string::npos, starS = 0;
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == u'*') {
            starP = ++pi;
            starS = si;
            continue;
        }
        size_t next = pi;
        if (pi < p.size() && matchOne(p, next, s[si], keys)) {
            pi = next;
            ++si;
            continue;
        }
        if (starP == std::u16string::npos) return false;
        pi = starP;
        si = ++starS;
    }
    while (pi < p.size() && p[pi] == u'*') ++pi;
    return pi == p.size();
}

Value callFunction(Fn fn, const std::string& name, std::vector<Value>& a) {
    (void)name;
    switch (fn) {
    case Fn::Len: return a[0].isNull() ? Value() : Value(int64_t(utf8ToUtf16(asText(a[0])).size()));
    case Fn::Left:
    case Fn::Right:
    case Fn::Mid: return substring(fn, a);
    case Fn::UCase:
    case Fn::LCase: return caseOf(a[0], fn == Fn::UCase);
    case Fn::Trim:
    case Fn::LTrim:
    case Fn::RTrim: return trim(fn, a[0]);
    case Fn::Nz:
        if (!a[0].isNull()) return a[0];
        // Without a second value, a query's Nz gives a zero-length text.
        return a.size() > 1 ? a[1] : Value(std::string());
    case Fn::Date:
    case Fn::Now: return now(fn == Fn::Date);
    case Fn::Abs:
    case Fn::Int: return numberFunction(fn, a[0]);
    default: return datePart(fn, a[0]);
    }
}

}  // namespace tp::db::jet
