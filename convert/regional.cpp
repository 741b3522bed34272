#include "convert/regional.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "db/ado.h"

namespace tp::convert {

RegionalSettings RegionalSettings::unitedStates() { return RegionalSettings{}; }

RegionalSettings RegionalSettings::german() {
    RegionalSettings s;
    s.decimalSeparator = ',';
    s.thousandsSeparator = '.';
    s.dateOrder = DateOrder::DayMonthYear;
    s.dateSeparator = '.';
    s.timeSeparator = ':';
    s.clock24 = true;
    s.shortDateLeadingZeros = true;
    return s;
}

RegionalSettings RegionalSettings::fromLocaleName(std::string_view name) {
    std::string lang, country;
    size_t i = 0;
    while (i < name.size() && std::isalpha(static_cast<unsigned char>(name[i])))
        lang += static_cast<char>(std::tolower(static_cast<unsigned char>(name[i++])));
    if (i < name.size() && (name[i] == '_' || name[i] == '-')) {
        ++i;
        while (i < name.size() && std::isalpha(static_cast<unsigned char>(name[i])))
            country += static_cast<char>(std::toupper(static_cast<unsigned char>(name[i++])));
    }
    if (lang == "de") return german();
    if (lang == "en" && country == "US") return unitedStates();
    RegionalSettings s;
    if (lang == "en" && (country == "GB" || country == "IE" || country == "AU" || country == "NZ")) {
        s.dateOrder = DateOrder::DayMonthYear;
        s.shortDateLeadingZeros = true;
        s.clock24 = true;
        return s;
    }
    if (lang == "fr" || lang == "es" || lang == "it" || lang == "pt") {
        s.decimalSeparator = ',';
        s.thousandsSeparator = lang == "fr" ? ' ' : '.';
        s.dateOrder = DateOrder::DayMonthYear;
        s.shortDateLeadingZeros = true;
        s.clock24 = true;
        return s;
    }
    if (lang == "nl") {
        s.decimalSeparator = ',';
        s.thousandsSeparator = '.';
        s.dateOrder = DateOrder::DayMonthYear;
        s.dateSeparator = '-';
        s.clock24 = true;
        return s;
    }
    if (lang == "ja" || lang == "zh" || lang == "ko" || lang == "sv") {
        s.dateOrder = DateOrder::YearMonthDay;
        s.dateSeparator = lang == "sv" ? '-' : '/';
        s.shortDateLeadingZeros = true;
        s.clock24 = true;
        if (lang == "sv") {
            s.decimalSeparator = ',';
            s.thousandsSeparator = ' ';
        }
        return s;
    }
    return unitedStates();
}

namespace {

RegionalSettings& current() {
    static RegionalSettings s;
    return s;
}

void appendSigned(std::string& out, int64_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

// Two and four digits into a buffer: the texts are built on the stack and
// appended at once (one capacity check per value rather than per character).
char* put2(char* p, int v) {
    p[0] = static_cast<char>('0' + (v / 10) % 10);
    p[1] = static_cast<char>('0' + v % 10);
    return p + 2;
}

char* put4(char* p, int v) {
    if (v < 0) v = 0;
    p = put2(p, (v / 100) % 100);
    return put2(p, v % 100);
}

void appendDecimalText(std::string& out, std::string_view text, char sep) {
    // Trailing zeros of the fraction, and a bare point, are not written.
    size_t point = text.find('.');
    if (point != std::string_view::npos) {
        size_t end = text.size();
        while (end > point + 1 && text[end - 1] == '0') --end;
        if (end == point + 1) end = point;
        std::string_view intPart = text.substr(0, point);
        if (end == point && (intPart == "-0")) intPart = "0";
        out += intPart;
        if (end > point) {
            out += sep;
            out += text.substr(point + 1, end - point - 1);
        }
        return;
    }
    out += text;
}

// Ten to the result is the estimate of the place of a's leading digit
// (1E-05 <= a < 1E15).
int leadingPlace(double a) {
    int x = 0;
    double p = 1;
    while (x < 15 && a >= p * 10) p *= 10, ++x;
    while (x > -5 && a < p) p /= 10, --x;
    return x;
}

// m / 2^shift times pow10, rounded half to even as printf rounds
// (1 <= shift < 128).
unsigned __int128 scaledRoundedHalfEven(uint64_t m, int shift, uint64_t pow10) {
    const unsigned __int128 n = static_cast<unsigned __int128>(m) * pow10;
    unsigned __int128 q = n >> shift;
    const unsigned __int128 rest = n & ((static_cast<unsigned __int128>(1) << shift) - 1);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    if (rest > half || (rest == half && (q & 1))) ++q;
    return q;
}

// Writes the significant digits q, the first of them at ten to the x, as a
// fixed-point text without trailing zeros of the fraction; returns the end.
char* putFixedText(char* o, bool negative, uint64_t q, int x, char sep) {
    char text[24];
    auto r = std::to_chars(text, text + sizeof text, q);
    int len = static_cast<int>(r.ptr - text);
    const int whole = x >= 0 ? x + 1 : 0;
    while (len > whole && text[len - 1] == '0') --len;  // trailing zeros of the fraction
    if (negative) *o++ = '-';
    if (x >= 0) {
        std::memcpy(o, text, static_cast<size_t>(whole));
        o += whole;
    } else {
        *o++ = '0';
    }
    if (len > whole) {
        *o++ = sep;
        for (int z = x + 1; z < 0; ++z) *o++ = '0';
        std::memcpy(o, text + whole, static_cast<size_t>(len - whole));
        o += len - whole;
    }
    return o;
}

// The "%.*G" text of d when that text has no exponent (its rounded value
// at least 1E-04 and below 10^digits), worked out exactly: the digits are
// the binary value times a power of ten, rounded half to even as printf
// rounds, in 128-bit integers. Writes at most 36 characters at o and
// returns their end; null leaves d to the general conversion.
char* putFixedDigits(char* o, double d, int digits, char sep) {
    static constexpr uint64_t kPow10[] = {1ull,
                                          10ull,
                                          100ull,
                                          1000ull,
                                          10000ull,
                                          100000ull,
                                          1000000ull,
                                          10000000ull,
                                          100000000ull,
                                          1000000000ull,
                                          10000000000ull,
                                          100000000000ull,
                                          1000000000000ull,
                                          10000000000000ull,
                                          100000000000000ull,
                                          1000000000000000ull,
                                          10000000000000000ull,
                                          100000000000000000ull,
                                          1000000000000000000ull,
                                          10000000000000000000ull};
    const double a = std::fabs(d);
    if (digits < 1 || digits > 15 || !(a >= 1e-5 && a < 1e15)) return nullptr;  // also NaN
    uint64_t bits;
    std::memcpy(&bits, &a, 8);
    const uint64_t m = (bits & ((uint64_t(1) << 52) - 1)) | uint64_t(1) << 52;
    const int shift = 1075 - static_cast<int>(bits >> 52);  // a = m / 2^shift, 1 <= shift < 128 here
    int x = leadingPlace(a);
    const uint64_t low = kPow10[digits - 1], high = kPow10[digits];
    for (int tries = 0; tries < 3; ++tries) {
        const int k = digits - 1 - x;
        if (k < 0 || k > 19) return nullptr;
        const unsigned __int128 q = scaledRoundedHalfEven(m, shift, kPow10[k]);
        if (q >= high) {
            ++x;
            continue;
        }
        if (q < low) {
            --x;
            continue;
        }
        if (x < -4 || x >= digits) return nullptr;
        return putFixedText(o, d < 0, static_cast<uint64_t>(q), x, sep);
    }
    return nullptr;
}

// Writes at most 48 characters at o.
char* putFloating(char* o, double d, int digits, char sep) {
    if (d == 0) {  // also -0
        *o++ = '0';
        return o;
    }
    if (char* end = putFixedDigits(o, d, digits, sep)) return end;
    // As "%.*G" writes it ("1.5", "1E+20", "1E-05"), without printf's cost.
    auto r = std::to_chars(o, o + 48, d, std::chars_format::general, digits);
    if (r.ec != std::errc()) return o;
    for (char* c = o; c != r.ptr; ++c) {
        if (*c == '.') *c = sep;
        else if (*c == 'e') *c = 'E';
    }
    return r.ptr;
}

void appendFloating(std::string& out, double d, int digits, char sep) {
    char buf[48];
    out.append(buf, putFloating(buf, d, digits, sep));
}

char* putShortDate(char* p, const db::Date& d, const RegionalSettings& s) {
    auto part = [&](int v) {
        if (s.shortDateLeadingZeros || v >= 10) p = put2(p, v);
        else *p++ = static_cast<char>('0' + v);
    };
    auto year = [&] {
        if (s.fourDigitYear) p = put4(p, d.year);
        else p = put2(p, d.year % 100);
    };
    switch (s.dateOrder) {
    case DateOrder::MonthDayYear:
        part(d.month), *p++ = s.dateSeparator, part(d.day), *p++ = s.dateSeparator, year();
        break;
    case DateOrder::DayMonthYear:
        part(d.day), *p++ = s.dateSeparator, part(d.month), *p++ = s.dateSeparator, year();
        break;
    case DateOrder::YearMonthDay:
        year(), *p++ = s.dateSeparator, part(d.month), *p++ = s.dateSeparator, part(d.day);
        break;
    }
    return p;
}

void appendShortDate(std::string& out, const db::Date& d, const RegionalSettings& s) {
    char buf[16];
    out.append(buf, putShortDate(buf, d, s));
}

void appendLongTime(std::string& out, int h, int m, int sec, const RegionalSettings& s) {
    char buf[48];
    char* p = buf;
    if (s.clock24) {
        p = put2(p, h);
    } else {
        const int h12 = h % 12 == 0 ? 12 : h % 12;
        p = std::to_chars(p, buf + 24, static_cast<uint64_t>(h12)).ptr;
    }
    *p++ = s.timeSeparator;
    p = put2(p, m);
    *p++ = s.timeSeparator;
    p = put2(p, sec);
    out.append(buf, p);
    if (!s.clock24) {
        out += ' ';
        out += h < 12 ? s.amText : s.pmText;
    }
}

const char kHex[] = "0123456789ABCDEF";

}  // namespace

const RegionalSettings& regionalSettings() { return current(); }
void setRegionalSettings(const RegionalSettings& settings) { current() = settings; }

void appendDecimalNumber(std::string& out, std::string_view text, char sep) { appendDecimalText(out, text, sep); }

char* putDoubleNumber(char* o, double value, int adoType, char sep) {
    return putFloating(o, value, adoType == db::adtype::Single ? 7 : 15, sep);
}

void appendDoubleNumber(std::string& out, double value, int adoType, char sep) {
    appendFloating(out, value, adoType == db::adtype::Single ? 7 : 15, sep);
}

char* putCurrencyNumber(char* o, db::Currency value, char sep) {
    int64_t u = value.units;
    uint64_t mag = u < 0 ? 0 - static_cast<uint64_t>(u) : static_cast<uint64_t>(u);
    if (u < 0) *o++ = '-';
    o = std::to_chars(o, o + 20, mag / 10000).ptr;
    uint64_t frac = mag % 10000;
    if (frac) {
        *o++ = sep;
        char digits[4];
        for (int i = 3; i >= 0; --i) {
            digits[i] = static_cast<char>('0' + frac % 10);
            frac /= 10;
        }
        int n = 4;
        while (n > 0 && digits[n - 1] == '0') --n;
        std::memcpy(o, digits, static_cast<size_t>(n));
        o += n;
    }
    return o;
}

void appendCurrencyNumber(std::string& out, db::Currency value, char sep) {
    char buf[32];
    out.append(buf, putCurrencyNumber(buf, value, sep));
}

void appendValueText(std::string& out, const db::Value& v, int adoType, const RegionalSettings& s) {
    using db::Kind;
    // clang-format off
    switch (v.kind()) {
    case Kind::Null: return;
    case Kind::Text: out += v.text(); return;
    case Kind::Int: appendSigned(out, v.integer()); return;
    case Kind::Double: appendDoubleNumber(out, v.real(), adoType, s.decimalSeparator); return;
    case Kind::Decimal: appendDecimalText(out, v.decimal().text, s.decimalSeparator); return;
    case Kind::Currency: appendCurrencyNumber(out, v.currency(), s.decimalSeparator); return;
    case Kind::Bool: out += v.boolean() ? "True" : "False"; return;
    case Kind::Date: appendShortDate(out, v.date(), s); return;
    case Kind::DateTime: {
        const auto& dt = v.dateTime();
        appendShortDate(out, dt.date, s);
        if (dt.hour || dt.minute || dt.second) {
            out += ' ';
            appendLongTime(out, dt.hour, dt.minute, dt.second, s);
        }
        return;
    }
    case Kind::Binary:
        for (uint8_t b : v.bytes()) {
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
        return;
    }
    // clang-format on
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trim(std::string_view t) {
    while (!t.empty() && isBlank(t.front())) t.remove_prefix(1);
    while (!t.empty() && isBlank(t.back())) t.remove_suffix(1);
    return t;
}

bool validDay(int y, int m, int d) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    int max = days[m - 1];
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) max = 29;
    return d <= max;
}

int currentYear() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm.tm_year + 1900;
}

struct Num {
    int value = 0;
    int digits = 0;
};

// Reads up to 9 digits; false when there is none.
bool readNum(std::string_view& t, Num& n) {
    n = {};
    while (!t.empty() && isDigit(t.front())) {
        if (n.digits >= 9) return false;
        n.value = n.value * 10 + (t.front() - '0');
        ++n.digits;
        t.remove_prefix(1);
    }
    return n.digits > 0;
}

int expandYear(const Num& y) {
    if (y.digits <= 2) return y.value < 30 ? 2000 + y.value : 1900 + y.value;
    return y.value;
}

bool parseTime(std::string_view t, const RegionalSettings& s, db::DateTime& out) {
    Num h, m, sec;
    auto isTimeSep = [&](char c) { return c == ':' || c == s.timeSeparator; };
    if (!readNum(t, h) || t.empty() || !isTimeSep(t.front())) return false;
    t.remove_prefix(1);
    if (!readNum(t, m)) return false;
    if (!t.empty() && isTimeSep(t.front())) {
        t.remove_prefix(1);
        if (!readNum(t, sec)) return false;
    }
    t = trim(t);
    int hour = h.value;
    if (!t.empty()) {
        bool am = equalsNoCase(t, s.amText) || equalsNoCase(t, "AM") || equalsNoCase(t, "A");
        bool pm = equalsNoCase(t, s.pmText) || equalsNoCase(t, "PM") || equalsNoCase(t, "P");
        if (!am && !pm) return false;
        if (hour < 1 || hour > 12) return false;
        if (am && hour == 12) hour = 0;
        if (pm && hour != 12) hour += 12;
    }
    if (hour > 23 || m.value > 59 || sec.value > 59) return false;
    out.hour = hour;
    out.minute = m.value;
    out.second = sec.value;
    out.millisecond = 0;
    return true;
}

bool assignDate(const Num* p, int count, const RegionalSettings& s, db::Date& out) {
    auto tryDate = [&](int y, int m, int d) {
        if (!validDay(y, m, d)) return false;
        out = {y, m, d};
        return true;
    };
    if (count == 3) {
        if (p[0].digits >= 3)  // a leading year
            return tryDate(p[0].value, p[1].value, p[2].value);
        int y = expandYear(p[2]);
        switch (s.dateOrder) {
        case DateOrder::MonthDayYear: return tryDate(y, p[0].value, p[1].value) || tryDate(y, p[1].value, p[0].value);
        case DateOrder::DayMonthYear: return tryDate(y, p[1].value, p[0].value) || tryDate(y, p[0].value, p[1].value);
        case DateOrder::YearMonthDay:
            return tryDate(expandYear(p[0]), p[1].value, p[2].value) || tryDate(y, p[0].value, p[1].value);
        }
        return false;
    }
    // Two parts: a day and a month of the current year.
    int y = currentYear();
    if (s.dateOrder == DateOrder::DayMonthYear)
        return tryDate(y, p[1].value, p[0].value) || tryDate(y, p[0].value, p[1].value);
    return tryDate(y, p[0].value, p[1].value) || tryDate(y, p[1].value, p[0].value);
}

}  // namespace

namespace {

// "&H" and up to 16 hexadecimal digits, or "&O" and up to 22 octal digits.
bool readsAsRadixNumber(std::string_view t) {
    const char k = static_cast<char>(std::toupper(static_cast<unsigned char>(t[1])));
    const std::string_view d = t.substr(2);
    if (k == 'H') {
        for (char c : d)
            if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        return d.size() <= 16;
    }
    if (k == 'O') {
        for (char c : d)
            if (c < '0' || c > '7') return false;
        return d.size() <= 22;
    }
    return false;
}

// The end of the digits, the decimal separator and the group separators (among
// the integer digits) that t starts with; `digits` says whether a digit was
// among them.
size_t mantissaEnd(std::string_view t, const RegionalSettings& s, bool& digits) {
    bool point = false;
    size_t i = 0;
    for (; i < t.size(); ++i) {
        const char c = t[i];
        if (isDigit(c)) {
            digits = true;
        } else if (c == s.decimalSeparator && !point) {
            point = true;
        } else if (c == s.thousandsSeparator && !point && c != ' ') {
            // group separators are accepted among the integer digits
        } else {
            break;
        }
    }
    return i;
}

// Whether t from i on is empty or an exponent: "E" or "D", a sign, digits.
bool exponentToEnd(std::string_view t, size_t i) {
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E' || t[i] == 'd' || t[i] == 'D')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        const size_t start = i;
        while (i < t.size() && isDigit(t[i])) ++i;
        if (i == start) return false;
    }
    return i == t.size();
}

}  // namespace

bool readsAsNumber(std::string_view t, const RegionalSettings& s) {
    t = trim(t);
    if (t.empty()) return false;
    if (t.size() > 2 && t[0] == '&') return readsAsRadixNumber(t);
    if (t.front() == '+' || t.front() == '-') {
        t.remove_prefix(1);
        t = trim(t);
    }
    bool digits = false;
    const size_t i = mantissaEnd(t, s, digits);
    return digits && exponentToEnd(t, i);
}

std::optional<db::DateTime> readDate(std::string_view text, const RegionalSettings& s) {
    std::string_view t = trim(text);
    if (t.empty() || t.size() > 64) return std::nullopt;
    db::DateTime out;  // 30 December 1899, midnight
    // A time alone?
    {
        db::DateTime only;
        if (parseTime(t, s, only)) return only;
    }
    auto isDateSep = [&](char c) { return c == '/' || c == '-' || c == s.dateSeparator; };
    Num parts[3];
    int count = 0;
    std::string_view rest = t;
    for (;;) {
        if (!readNum(rest, parts[count])) return std::nullopt;
        ++count;
        if (rest.empty() || !isDateSep(rest.front()) || count == 3) break;
        rest.remove_prefix(1);
    }
    if (count < 2) return std::nullopt;
    // A trailing separator after the year ("30.08.2021.") is not a date.
    if (!assignDate(parts, count, s, out.date)) return std::nullopt;
    if (rest.empty()) return out;
    if (!isBlank(rest.front())) return std::nullopt;
    rest = trim(rest);
    if (!parseTime(rest, s, out)) return std::nullopt;
    return out;
}

void appendMonthDayYear(std::string& out, const db::DateTime& v, bool withTime) {
    char buf[24];
    out.append(buf, putMonthDayYear(buf, v, withTime));
}

char* putMonthDayYear(char* p, const db::DateTime& v, bool withTime) {
    p = put2(p, v.date.month);
    *p++ = '/';
    p = put2(p, v.date.day);
    *p++ = '/';
    p = put4(p, v.date.year);
    if (withTime) {
        *p++ = ' ';
        p = put2(p, v.hour);
        *p++ = ':';
        p = put2(p, v.minute);
        *p++ = ':';
        p = put2(p, v.second);
    }
    return p;
}

}  // namespace tp::convert
