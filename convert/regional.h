// The user's regional conventions as plain data: how values are written as
// text, which texts read as numbers or dates, and the month-day-year
// patterns of the row statements. The windows fill it from the user's
// locale; the command line and the tests use the fixed sets below.
#pragma once

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
    bool clock24 = false;            // false: "h:mm:ss AM"
    bool shortDateLeadingZeros = false;   // "08/30/2021" rather than "8/30/2021"
    bool fourDigitYear = true;
    std::string amText = "AM", pmText = "PM";

    static RegionalSettings unitedStates();
    static RegionalSettings german();
    // "en_US", "de_DE", "de-DE.UTF-8", ...; unknown names give United States.
    static RegionalSettings fromLocaleName(std::string_view name);
};

// The process-wide settings (United States until the program installs the
// user's).
const RegionalSettings& regionalSettings();
void setRegionalSettings(const RegionalSettings& settings);

}  // namespace tp::convert
