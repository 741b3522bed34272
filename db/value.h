// A field value as the data layer hands it over: null or one of the kinds a
// FoxPro or Access field can hold.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tp::db {

struct Date {
    int year = 1899, month = 12, day = 30;
    friend bool operator==(const Date&, const Date&) = default;
};

struct DateTime {
    Date date;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

// Currency: a 64-bit count of ten-thousandths.
struct Currency {
    int64_t units = 0;
    friend bool operator==(const Currency&, const Currency&) = default;
};

// An exact decimal number in canonical text form: optional "-", digits,
// optionally "." and digits (no exponent, no "+", at least one digit before
// the point). Scale is the number of digits after the point.
struct Decimal {
    std::string text = "0";
    friend bool operator==(const Decimal&, const Decimal&) = default;
    int scale() const;
};

using Bytes = std::vector<uint8_t>;

enum class Kind { Null, Text, Int, Double, Decimal, Currency, Bool, Date, DateTime, Binary };

class Value {
public:
    Value() = default;  // null
    Value(std::string s) : v_(std::move(s)) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(int i) : v_(int64_t(i)) {}
    Value(int64_t i) : v_(i) {}
    Value(double d) : v_(d) {}
    Value(bool b) : v_(b) {}
    Value(Decimal d) : v_(std::move(d)) {}
    Value(Currency c) : v_(c) {}
    Value(Date d) : v_(d) {}
    Value(DateTime d) : v_(d) {}
    Value(Bytes b) : v_(std::move(b)) {}

    static Value null() { return Value(); }

    // Rewriting in place, for rows read again and again into the same
    // values: the value becomes null, or an empty text or decimal whose
    // string keeps the room it had when the value held that kind before.
    void setNull() { v_.emplace<std::monostate>(); }
    std::string& setText() {
        if (auto* s = std::get_if<std::string>(&v_)) {
            s->clear();
            return *s;
        }
        return v_.emplace<std::string>();
    }
    std::string& setDecimalText() {
        if (auto* d = std::get_if<Decimal>(&v_)) {
            d->text.clear();
            return d->text;
        }
        return v_.emplace<Decimal>().text;
    }

    // Exchanges the two values; strings trade their room.
    void swap(Value& other) noexcept { v_.swap(other.v_); }

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool isNull() const { return v_.index() == 0; }

    const std::string& text() const { return std::get<std::string>(v_); }
    int64_t integer() const { return std::get<int64_t>(v_); }
    double real() const { return std::get<double>(v_); }
    const Decimal& decimal() const { return std::get<Decimal>(v_); }
    Currency currency() const { return std::get<Currency>(v_); }
    bool boolean() const { return std::get<bool>(v_); }
    const Date& date() const { return std::get<Date>(v_); }
    const DateTime& dateTime() const { return std::get<DateTime>(v_); }
    const Bytes& bytes() const { return std::get<Bytes>(v_); }

    friend bool operator==(const Value&, const Value&) = default;

private:
    std::variant<std::monostate, std::string, int64_t, double, Decimal, Currency, bool, Date, DateTime, Bytes> v_;
};

// Days since 1899-12-30 (the Access/OLE epoch) and back; fractional days
// carry the time of day.
double toOleDate(const DateTime& dt);
DateTime fromOleDate(double days);
// Proleptic Gregorian day number helpers.
int64_t daysFromCivil(int y, int m, int d);
Date civilFromDays(int64_t days);

// Plain, locale-free renderings used by the command line and the tests:
// dates "YYYY-MM-DD", date-times "YYYY-MM-DDTHH:MM:SS[.fff]", currency with
// four decimals, decimals as their text, doubles with the shortest round-trip
// form, Booleans "true"/"false", binary as base64.
std::string toIsoText(const Value& v);
std::string base64(const Bytes& b);
std::string currencyText(Currency c);
std::string shortestDouble(double d);

}  // namespace tp::db
