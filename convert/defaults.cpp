#include "convert/defaults.h"
#include "convert/regional.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <limits>

namespace tp::convert::keys {
namespace {

namespace adtype = db::adtype;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A FoxPro number literal: sign, digits, optionally "." and digits (".5"
// too). Its canonical decimal text, or nothing.
std::optional<std::string> numberText(std::string_view s) {
    std::string out;
    size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
        if (s[i] == '-') out += '-';
        ++i;
    }
    const size_t intStart = i;
    while (i < s.size() && isDigit(s[i])) ++i;
    std::string_view whole = s.substr(intStart, i - intStart), fraction;
    if (i < s.size() && s[i] == '.') {
        const size_t f = ++i;
        while (i < s.size() && isDigit(s[i])) ++i;
        fraction = s.substr(f, i - f);
    }
    if (i != s.size() || (whole.empty() && fraction.empty())) return std::nullopt;
    while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
    out += whole.empty() ? std::string_view("0") : whole;
    if (!fraction.empty()) out += "." + std::string(fraction);
    if (out == "-0" || out.rfind("-0.", 0) == 0) {  // minus zero is zero
        const bool allZero = out.find_first_not_of("-0.") == std::string::npos;
        if (allZero) out.erase(0, 1);
    }
    return out;
}

std::optional<db::Value> numberValue(const std::string& text, int type, std::string& reason) {
    switch (type) {
    case adtype::Numeric: return std::optional<db::Value>(std::in_place, db::Decimal{text});
    case adtype::Double: return std::optional<db::Value>(std::in_place, std::strtod(text.c_str(), nullptr));
    case adtype::Integer: {
        int64_t v = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (ec != std::errc() || end != text.data() + text.size() || v < std::numeric_limits<int32_t>::min() ||
            v > std::numeric_limits<int32_t>::max())
            break;
        return std::optional<db::Value>(std::in_place, v);
    }
    case adtype::Currency: {
        const size_t point = text.find('.');
        const std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
        if (fraction.size() > 4 || text.size() > 19) break;
        const bool negative = text[0] == '-';
        const std::string digits =
            text.substr(negative ? 1 : 0, point == std::string::npos ? std::string::npos : point - (negative ? 1 : 0)) +
            fraction + std::string(4 - fraction.size(), '0');
        int64_t units = 0;
        if (std::from_chars(digits.data(), digits.data() + digits.size(), units).ec != std::errc()) break;
        return std::optional<db::Value>(std::in_place, db::Currency{negative ? -units : units});
    }
    default: reason = "a number is no value of the field"; return std::nullopt;
    }
    reason = "the number does not fit the field";
    return std::nullopt;
}

// The numbers of a date literal's body ("2001-02-03 1:04:05 PM"), at most
// six; what follows them into rest.
int dateParts(std::string_view s, int (&part)[6], std::string_view& rest) {
    size_t i = 0;
    int n = 0;
    for (; n < 6; ++n) {
        while (i < s.size() && s[i] == ' ') ++i;
        const size_t b = i;
        while (i < s.size() && isDigit(s[i])) ++i;
        if (b == i || i - b > 4) break;
        std::from_chars(s.data() + b, s.data() + i, part[n]);
        if (i < s.size() && (s[i] == '-' || s[i] == '/' || s[i] == ':' || s[i] == ' ' || s[i] == ',')) ++i;
    }
    while (i < s.size() && s[i] == ' ') ++i;
    rest = s.substr(i);
    return n;
}

// Hours of a 12-hour clock: false when rest is neither empty, AM nor PM.
bool applyMeridiem(std::string_view rest, int& hour) {
    if (equalsNoCase(rest, "PM")) {
        if (hour < 12) hour += 12;
    } else if (equalsNoCase(rest, "AM")) {
        if (hour == 12) hour = 0;
    } else if (!rest.empty()) {
        return false;
    }
    return true;
}

// {^yyyy-mm-dd[ hh:mm[:ss]]}, "/" or "-" between the date's parts; hours
// may carry AM or PM.
std::optional<db::DateTime> dateLiteral(std::string_view s, bool& withTime) {
    if (s.size() < 4 || s.front() != '{' || s.back() != '}' || s[1] != '^') return std::nullopt;
    int part[6] = {0, 0, 0, 0, 0, 0};
    std::string_view rest;
    const int n = dateParts(s.substr(2, s.size() - 3), part, rest);
    if (n < 3 || n == 4 || !applyMeridiem(rest, part[3])) return std::nullopt;
    const db::Date d{part[0], part[1], part[2]};
    const bool validDate = d.year >= 100 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
                           db::civilFromDays(db::daysFromCivil(d.year, d.month, d.day)) == d;
    if (!validDate || part[3] > 23 || part[4] > 59 || part[5] > 59) return std::nullopt;
    withTime = n > 3;
    return db::DateTime{d, part[3], part[4], part[5], 0};
}

bool isText(int type) {
    return type == adtype::Char || type == adtype::VarChar || type == adtype::LongVarChar || type == adtype::WChar ||
           type == adtype::VarWChar || type == adtype::LongVarWChar;
}

DefaultTranslation misfit(const char* what) { return {std::nullopt, std::string(what) + " is no value of the field"}; }

// "abc", 'abc' or [abc]; false when e is none of those.
bool stringDefault(std::string_view e, const db::FieldInfo& field, DefaultTranslation& t) {
    const char open = e.front();
    const char close = open == '[' ? ']' : open;
    if ((open != '"' && open != '\'' && open != '[') || e.size() < 2 || e.back() != close ||
        e.substr(1, e.size() - 2).find(close) != std::string_view::npos)
        return false;
    if (!isText(field.type)) {
        t = misfit("a string");
        return true;
    }
    const std::string_view body = e.substr(1, e.size() - 2);
    const size_t limit = field.definedSize > 0 ? static_cast<size_t>(field.definedSize) : 255;
    if (body.size() > limit || body.size() > 255) t.reason = "the string is longer than the field";
    else if (!body.empty()) t.value = db::Value(std::string(body));  // an empty string is stored as null
    return true;
}

DefaultTranslation dateDefault(std::string_view e, int type) {
    DefaultTranslation t;
    if (e.find_first_not_of("{}/-:. ") == std::string_view::npos) return t;  // the empty date
    bool withTime = false;
    const std::optional<db::DateTime> dt = dateLiteral(e, withTime);
    if (!dt) t.reason = "it is not a plain literal";
    else if (type == adtype::DBDate && !withTime) t.value = db::Value(dt->date);
    else if (type == adtype::DBTimeStamp) t.value = db::Value(*dt);
    else t = misfit("a date");
    return t;
}

}  // namespace

DefaultTranslation translateDefault(std::string_view e, const db::FieldInfo& field) {
    DefaultTranslation t;
    while (!e.empty() && e.front() == ' ') e.remove_prefix(1);
    while (!e.empty() && e.back() == ' ') e.remove_suffix(1);
    if (e.empty() || equalsNoCase(e, ".NULL.")) return t;
    if (equalsNoCase(e, ".T.") || equalsNoCase(e, ".Y.") || equalsNoCase(e, ".F.") || equalsNoCase(e, ".N.")) {
        if (field.type != adtype::Boolean) return misfit("a logical value");
        t.value = db::Value(equalsNoCase(e, ".T.") || equalsNoCase(e, ".Y."));
        return t;
    }
    if (stringDefault(e, field, t)) return t;
    if (e.front() == '{') return dateDefault(e, field.type);
    if (const std::optional<std::string> number = numberText(e)) {
        t.value = numberValue(*number, field.type, t.reason);
        return t;
    }
    t.reason = "it is not a plain literal";
    return t;
}

std::string defaultNote(const FieldDefault& d, const std::string& reason) {
    return d.table + ", field " + d.column + ": the default value " + d.expression + " was left out, as " + reason;
}

}  // namespace tp::convert::keys
