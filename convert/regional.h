// The user's regional conventions as plain data: how values are written as
// text, which texts read as numbers or dates, and the month-day-year
// patterns of the row statements. The windows fill it from the user's
// locale; the command line and the tests use the fixed sets below.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "db/value.h"

namespace tp::convert {

enum class DateOrder { MonthDayYear, DayMonthYear, YearMonthDay };

struct RegionalSettings {
    char decimalSeparator = '.';
    char thousandsSeparator = ',';
    DateOrder dateOrder = DateOrder::MonthDayYear;
    char dateSeparator = '/';
    char timeSeparator = ':';
    bool clock24 = false;                // false: "h:mm:ss AM"
    bool shortDateLeadingZeros = false;  // "08/30/2021" rather than "8/30/2021"
    bool fourDigitYear = true;
    std::string amText = "AM", pmText = "PM";

    static RegionalSettings unitedStates();
    static RegionalSettings german();
    // "en_US", "de_DE", "de-DE.UTF-8", ...; unknown names give United States.
    static RegionalSettings fromLocaleName(std::string_view name);
};

// Appends the value as the platform's standard conversion writes it under
// the settings: numbers with the regional decimal separator (doubles with up
// to 15 significant digits, singles with 7), Booleans "True"/"False", dates
// as the short date, date-times as the short date and the long time (the
// time left out at midnight). Null and empty text append nothing.
// adoType is the field's ADO data type (it tells singles from doubles).
void appendValueText(std::string& out, const db::Value& value, int adoType, const RegionalSettings& settings);

// Parts of appendValueText with the decimal separator given: a decimal's
// text (trailing fraction zeros left out), a double or single (adoType as
// above) and a currency amount.
void appendDecimalNumber(std::string& out, std::string_view decimalText, char decimalSeparator);
void appendDoubleNumber(std::string& out, double value, int adoType, char decimalSeparator);
void appendCurrencyNumber(std::string& out, db::Currency value, char decimalSeparator);
// The same written at p (room for 48 and 32 characters), returning the end.
char* putDoubleNumber(char* p, double value, int adoType, char decimalSeparator);
char* putCurrencyNumber(char* p, db::Currency value, char decimalSeparator);

// Does the text read as a number under the settings (signs, digits with
// group separators, one decimal separator, an exponent, "&H"/"&O" forms,
// blanks around)?
bool readsAsNumber(std::string_view text, const RegionalSettings& settings);

// Reads the text as a date, a time of day, or both, under the settings'
// date order and separators ("/" and "-" are always accepted between date
// parts). A date without year takes the current year; a time alone stands on
// 30 December 1899. Nothing when the text is no date.
std::optional<db::DateTime> readDate(std::string_view text, const RegionalSettings& settings);
inline bool readsAsDate(std::string_view text, const RegionalSettings& settings) {
    return readDate(text, settings).has_value();
}

// "mm/dd/yyyy" and "mm/dd/yyyy hh:nn:ss" (24-hour clock), with "/" and ":"
// written as such whatever the regional separators.
void appendMonthDayYear(std::string& out, const db::DateTime& value, bool withTime);
// The same written at p (room for 19 characters), returning the end.
char* putMonthDayYear(char* p, const db::DateTime& value, bool withTime);

// The process-wide settings (United States until the program installs the
// user's).
const RegionalSettings& regionalSettings();
void setRegionalSettings(const RegionalSettings& settings);

// ASCII letters compared without regard to case.
bool equalsNoCase(std::string_view a, std::string_view b);

}  // namespace tp::convert
