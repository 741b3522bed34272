#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "convert/regional.h"
#include "db/ado.h"

using namespace tp::convert;
using tp::db::Value;

namespace {

const RegionalSettings us = RegionalSettings::unitedStates();
const RegionalSettings de = RegionalSettings::german();

std::string text(const Value& v, const RegionalSettings& s, int type = tp::db::adtype::Double) {
    std::string out;
    appendValueText(out, v, type, s);
    return out;
}

std::string mdy(std::string_view t, const RegionalSettings& s) {
    auto d = readDate(t, s);
    if (!d) return "(none)";
    std::string out;
    appendMonthDayYear(out, *d, t.find(':') != std::string_view::npos);
    return out;
}

}  // namespace

TEST(ValueText, NumbersFollowTheDecimalSeparator) {
    EXPECT_EQ(text(Value(1.5), us), "1.5");
    EXPECT_EQ(text(Value(1.5), de), "1,5");
    EXPECT_EQ(text(Value(-0.25), de), "-0,25");
    EXPECT_EQ(text(Value(1e20), us), "1E+20");
    EXPECT_EQ(text(Value(0.00001), us), "1E-05");
    EXPECT_EQ(text(Value(0.1 + 0.2), us), "0.3");  // 15 significant digits
    EXPECT_EQ(text(Value(1.1f), us, tp::db::adtype::Single), "1.1");
    EXPECT_EQ(text(Value(0.0), us), "0");
    EXPECT_EQ(text(Value(int64_t{-9007199254740993}), us), "-9007199254740993");
    EXPECT_EQ(text(Value(tp::db::Decimal{"12.50"}), de), "12,5");
    EXPECT_EQ(text(Value(tp::db::Decimal{"-3.000"}), us), "-3");
    EXPECT_EQ(text(Value(tp::db::Decimal{"-0.00"}), us), "0");
    EXPECT_EQ(text(Value(tp::db::Currency{125000}), us), "12.5");
    EXPECT_EQ(text(Value(tp::db::Currency{-1}), de), "-0,0001");
    EXPECT_EQ(text(Value(tp::db::Currency{INT64_MIN}), us), "-922337203685477.5808");
}

TEST(ValueText, BooleansDatesAndNulls) {
    EXPECT_EQ(text(Value(true), de), "True");
    EXPECT_EQ(text(Value(false), us), "False");
    EXPECT_EQ(text(Value(), us), "");
    EXPECT_EQ(text(Value(std::string()), us), "");
    const tp::db::Date d{2021, 8, 30};
    EXPECT_EQ(text(Value(d), us), "8/30/2021");
    EXPECT_EQ(text(Value(d), de), "30.08.2021");
    EXPECT_EQ(text(Value(tp::db::DateTime{d, 0, 0, 0, 0}), us), "8/30/2021");
    EXPECT_EQ(text(Value(tp::db::DateTime{d, 14, 5, 9, 0}), us), "8/30/2021 2:05:09 PM");
    EXPECT_EQ(text(Value(tp::db::DateTime{d, 0, 5, 0, 0}), us), "8/30/2021 12:05:00 AM");
    EXPECT_EQ(text(Value(tp::db::DateTime{d, 14, 5, 9, 0}), de), "30.08.2021 14:05:09");
}

TEST(ReadsAsNumber, RegionalSeparators) {
    for (const char* t : {"7", "-7", "+1.5", " 12 ", "1,234.5", "1E+20", "1e-5", ".5", "&HFF"})
        EXPECT_TRUE(readsAsNumber(t, us)) << t;
    for (const char* t : {"", "-", "1.2.3", "abc", "1/2", "12:00", "1E", "1.5x", "&HG"})
        EXPECT_FALSE(readsAsNumber(t, us)) << t;
    EXPECT_TRUE(readsAsNumber("1,5", de));
    EXPECT_TRUE(readsAsNumber("1.234,5", de));
    EXPECT_FALSE(readsAsNumber("1,2,3", de));
}

TEST(ReadsAsDate, OwnTextsReadBack) {
    EXPECT_EQ(mdy("8/30/2021", us), "08/30/2021");
    EXPECT_EQ(mdy("8/30/2021 2:05:09 PM", us), "08/30/2021 14:05:09");
    EXPECT_EQ(mdy("8/30/2021 12:05:00 AM", us), "08/30/2021 00:05:00");
    EXPECT_EQ(mdy("30.08.2021", de), "08/30/2021");
    EXPECT_EQ(mdy("30.08.2021 14:05:09", de), "08/30/2021 14:05:09");
    EXPECT_EQ(mdy("2021-08-30", us), "08/30/2021");
    EXPECT_EQ(mdy("14:05", us), "12/30/1899 14:05:00");
    EXPECT_EQ(mdy("30/8/2021", us), "08/30/2021");  // day first when month-first cannot be
}

TEST(ReadsAsDate, NumbersAndTextAreNoDates) {
    for (const char* t :
         {"1.5", "12.5", "-5", "7", "abc", "2/30/2021", "13/13/2021", "25:00", "1/2/3/4", "8/30/2021 x", "0.5"})
        EXPECT_FALSE(readsAsDate(t, us)) << t;
    EXPECT_FALSE(readsAsDate("1,5", de));
    EXPECT_TRUE(readsAsDate("1/2", us));  // this year's 2nd of January
}

TEST(RegionalSettings, FromLocaleNames) {
    EXPECT_EQ(RegionalSettings::fromLocaleName("de_DE.UTF-8").decimalSeparator, ',');
    EXPECT_EQ(RegionalSettings::fromLocaleName("de-AT").dateOrder, DateOrder::DayMonthYear);
    EXPECT_EQ(RegionalSettings::fromLocaleName("en_US").decimalSeparator, '.');
    EXPECT_FALSE(RegionalSettings::fromLocaleName("en_US").clock24);
    EXPECT_EQ(RegionalSettings::fromLocaleName("C").dateOrder, DateOrder::MonthDayYear);
    EXPECT_EQ(RegionalSettings::fromLocaleName("en_GB").dateOrder, DateOrder::DayMonthYear);
}

TEST(ValueText, DoublesAsFifteenSignificantDigits) {
    // The same text as the C library's "%.15G" (and "%.7G" for singles).
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 20000; ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        double d;
        if (i % 2) {
            std::memcpy(&d, &x, sizeof d);
            if (!std::isfinite(d)) continue;
        } else {
            d = static_cast<double>(static_cast<int64_t>(x % 2000000001) - 1000000000) /
                std::pow(10.0, static_cast<double>(x % 12));
        }
        for (int digits : {15, 7}) {
            char want[64];
            std::snprintf(want, sizeof want, "%.*G", digits, d);
            if (d == 0) std::strcpy(want, "0");
            EXPECT_EQ(text(Value(d), us, digits == 7 ? tp::db::adtype::Single : tp::db::adtype::Double), want);
        }
    }
}

namespace {

// "%.*G" as the C library writes it, with the separator and "E" of the
// value texts.
std::string printfDouble(double d, int digits, char sep) {
    if (d == 0) return "0";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, digits);
    std::string s(buf, r.ptr);
    for (char& c : s) {
        if (c == '.') c = sep;
        if (c == 'e') c = 'E';
    }
    return s;
}

}  // namespace

TEST(RegionalSettings, DoublesAndSinglesWrittenAsPrintfWritesThem) {
    // Doubles without exponent are rounded in integers of their own: every
    // digit, the half-to-even ties and the places next to powers of ten
    // must match the C library.
    std::vector<double> values = {0.1,
                                  0.5,
                                  1.5,
                                  2.5,
                                  12.5,
                                  1234567.5,
                                  1234568.5,
                                  0.142857142857143,
                                  1.0 / 3,
                                  2.0 / 3,
                                  1e-4,
                                  1e-5,
                                  9.99995e-5,
                                  0.0001,
                                  99999.95,
                                  1e14,
                                  1e15,
                                  999999999999999.0,
                                  999999999999999.5,
                                  99999999999999.95,
                                  9999999.5,
                                  1234567890123455.0,
                                  123456789012345.5,
                                  4503599627370497.0,
                                  1e20,
                                  std::nextafter(1e-4, 0.0),
                                  std::nextafter(1e15, 0.0),
                                  std::nextafter(1e7, 0.0),
                                  std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN(),
                                  std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::max()};
    for (int r = 0; r < 200000; r += 7) values.push_back(r / 7.0), values.push_back(r * 1.25 - 5000);
    uint64_t seed = 99;
    auto next = [&] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return seed;
    };
    for (int i = 0; i < 50000; ++i) {
        // Random bits over the whole range, and random values of the range
        // written without exponent.
        values.push_back(std::bit_cast<double>(next()));
        const int e = static_cast<int>(next() % 21) - 5;
        values.push_back(static_cast<double>(next() >> 11) / 9007199254740992.0 * std::pow(10.0, e));
        // Ties at the last digit kept: integers ending in 5 one place past it.
        values.push_back(static_cast<double>((next() % 900000000000000ull + 100000000000000ull) * 10 + 5));
        values.push_back(static_cast<double>((next() % 9000000 + 1000000) * 10 + 5) / (next() % 2 ? 1 : 1024));
    }
    int compared = 0;
    for (double v : values) {
        for (double d : {v, -v}) {
            for (int type : {tp::db::adtype::Double, tp::db::adtype::Single}) {
                for (char sep : {'.', ','}) {
                    std::string got;
                    appendDoubleNumber(got, d, type, sep);
                    const int digits = type == tp::db::adtype::Single ? 7 : 15;
                    ASSERT_EQ(got, printfDouble(d, digits, sep)) << std::hexfloat << d << " " << digits;
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 1500000);
}
