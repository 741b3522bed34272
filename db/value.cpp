#include "db/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tp::db {

int Decimal::scale() const {
    auto dot = text.find('.');
    return dot == std::string::npos ? 0 : static_cast<int>(text.size() - dot - 1);
}

// Howard Hinnant's civil-date algorithms (public domain).
int64_t daysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

Date civilFromDays(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return Date{static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

static const int64_t kOleEpoch = daysFromCivil(1899, 12, 30);

double toOleDate(const DateTime& dt) {
    const double days = static_cast<double>(daysFromCivil(dt.date.year, dt.date.month, dt.date.day) - kOleEpoch);
    const double frac = (dt.hour * 3600000.0 + dt.minute * 60000.0 + dt.second * 1000.0 + dt.millisecond) / 86400000.0;
    // OLE dates before the epoch keep the time as a positive fraction of a
    // negative whole day number.
    return days >= 0 ? days + frac : days - frac;
}

DateTime fromOleDate(double v) {
    if (!std::isfinite(v)) v = 0;
    double whole = std::trunc(v);
    double frac = std::fabs(v - whole);
    int64_t ms = std::llround(frac * 86400000.0);
    if (ms >= 86400000) {
        ms -= 86400000;
        whole += v >= 0 ? 1 : -1;
    }
    DateTime dt;
    dt.date = civilFromDays(static_cast<int64_t>(whole) + kOleEpoch);
    dt.hour = static_cast<int>(ms / 3600000);
    dt.minute = static_cast<int>(ms / 60000 % 60);
    dt.second = static_cast<int>(ms / 1000 % 60);
    dt.millisecond = static_cast<int>(ms % 1000);
    return dt;
}

std::string base64(const Bytes& b) {
    static const char* tbl = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((b.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < b.size(); i += 3) {
        uint32_t n = (uint32_t(b[i]) << 16) | (uint32_t(b[i + 1]) << 8) | b[i + 2];
        out += tbl[n >> 18];
        out += tbl[(n >> 12) & 63];
        out += tbl[(n >> 6) & 63];
        out += tbl[n & 63];
    }
    if (i < b.size()) {
        uint32_t n = uint32_t(b[i]) << 16;
        if (i + 1 < b.size()) n |= uint32_t(b[i + 1]) << 8;
        out += tbl[n >> 18];
        out += tbl[(n >> 12) & 63];
        out += i + 1 < b.size() ? tbl[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string currencyText(Currency c) {
    const bool neg = c.units < 0;
    const uint64_t u = neg ? 0 - static_cast<uint64_t>(c.units) : static_cast<uint64_t>(c.units);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%s%llu.%04llu", neg ? "-" : "", static_cast<unsigned long long>(u / 10000),
                  static_cast<unsigned long long>(u % 10000));
    return buf;
}

std::string shortestDouble(double d) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

static std::string two(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

static std::string dateText(const Date& d) {
    char b[32];
    std::snprintf(b, sizeof b, "%04d-%02d-%02d", d.year, d.month, d.day);
    return b;
}

std::string toIsoText(const Value& v) {
    switch (v.kind()) {
    case Kind::Null: return {};
    case Kind::Text: return v.text();
    case Kind::Int: return std::to_string(v.integer());
    case Kind::Double: return shortestDouble(v.real());
    case Kind::Decimal: return v.decimal().text;
    case Kind::Currency: return currencyText(v.currency());
    case Kind::Bool: return v.boolean() ? "true" : "false";
    case Kind::Date: return dateText(v.date());
    case Kind::DateTime: {
        const auto& t = v.dateTime();
        std::string s = dateText(t.date) + "T" + two(t.hour) + ":" + two(t.minute) + ":" + two(t.second);
        if (t.millisecond) {
            char b[8];
            std::snprintf(b, sizeof b, ".%03d", t.millisecond);
            s += b;
        }
        return s;
    }
    case Kind::Binary: return base64(v.bytes());
    }
    return {};
}

}  // namespace tp::db
