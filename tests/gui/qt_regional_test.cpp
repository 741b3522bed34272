#include <gtest/gtest.h>

#include "app/qt_regional.h"

using tp::convert::DateOrder;

TEST(QtRegional, UnitedStatesAndGermany) {
    const auto us = tp::app::regionalSettingsFrom(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(us.decimalSeparator, '.');
    EXPECT_EQ(us.dateOrder, DateOrder::MonthDayYear);
    EXPECT_EQ(us.dateSeparator, '/');
    EXPECT_FALSE(us.clock24);
    const auto de = tp::app::regionalSettingsFrom(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(de.decimalSeparator, ',');
    EXPECT_EQ(de.thousandsSeparator, '.');
    EXPECT_EQ(de.dateOrder, DateOrder::DayMonthYear);
    EXPECT_EQ(de.dateSeparator, '.');
    EXPECT_TRUE(de.clock24);
    const auto jp = tp::app::regionalSettingsFrom(QLocale(QLocale::Japanese, QLocale::Japan));
    EXPECT_EQ(jp.dateOrder, DateOrder::YearMonthDay);
}
