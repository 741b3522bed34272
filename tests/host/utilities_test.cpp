#include "host/utilities.h"

#include <gtest/gtest.h>

#include "db/value.h"
#include "tests/support/support.h"
#include "host/app_title.h"

TEST(Utilities, fileExists) {
    tp::test::TempDir dir;
    EXPECT_FALSE(tp::fileExists(""));
    EXPECT_FALSE(tp::fileExists(dir.file("missing.cur")));
    EXPECT_FALSE(tp::fileExists(dir.file("no/such\\path/x")));
    tp::test::writeFile(dir.file("HAND-M.CUR"), "not a cursor");
    EXPECT_TRUE(tp::fileExists(dir.file("HAND-M.CUR")));
    EXPECT_TRUE(tp::fileExists(dir.path().string()));
}

TEST(Utilities, ListContainsTextIgnoresCase) {
    tp::VectorListBox list;
    EXPECT_FALSE(tp::listContainsText(list, "customers"));
    list.items = {"Orders", "Customers"};
    EXPECT_TRUE(tp::listContainsText(list, "customers"));
    EXPECT_FALSE(tp::listContainsText(list, "custom"));
}

TEST(Utilities, RemoveListEntryIsCaseSensitiveAndRemovesNeighbours) {
    tp::VectorListBox list;
    list.items = {"a", "orders", "orders", "Orders", "b"};
    tp::removeListEntry(list, "orders");
    EXPECT_EQ(list.items, (std::vector<std::string>{"a", "Orders", "b"}));
    tp::removeListEntry(list, "zzz");
    EXPECT_EQ(list.items.size(), 3u);
}

TEST(Utilities, nullToDefault) {
    using tp::db::Value;
    EXPECT_EQ(tp::nullToDefault(Value(), Value("")), Value(""));
    EXPECT_EQ(tp::nullToDefault(Value(""), Value("x")), Value(""));
    EXPECT_EQ(tp::nullToDefault(Value(7), Value("")), Value(7));
}

TEST(Utilities, SetAppTitleCutsBeforeTheLastBlank) {
    const std::string t45 = "Abcdefghij Abcdefghij Abcdefghij Abcde Abcdefg";  // 46 chars, last blank at 38
    EXPECT_EQ(tp::shortenTitle(t45), "Abcdefghij Abcdefghij Abcdefghij Abcde");
    EXPECT_EQ(tp::shortenTitle("Tallyport"), "Tallyport");
    EXPECT_EQ(tp::shortenTitle("Two words"), "Two");
    tp::setShortAppTitle();
    EXPECT_EQ(tp::appTitle(), "Tallyport");
}

TEST(Values, OleDatesRoundTrip) {
    using namespace tp::db;
    DateTime dt{{2021, 8, 30}, 13, 45, 7, 250};
    EXPECT_EQ(fromOleDate(toOleDate(dt)), dt);
    EXPECT_DOUBLE_EQ(toOleDate(DateTime{{1899, 12, 30}}), 0.0);
    EXPECT_DOUBLE_EQ(toOleDate(DateTime{{1900, 1, 1}, 12}), 2.5);
    DateTime before{{1899, 12, 29}, 6};
    EXPECT_DOUBLE_EQ(toOleDate(before), -1.25);
    EXPECT_EQ(fromOleDate(-1.25), before);
    EXPECT_EQ(toIsoText(Value(dt)), "2021-08-30T13:45:07.250");
    EXPECT_EQ(toIsoText(Value(Currency{-12345})), "-1.2345");
    EXPECT_EQ(base64({'a', 'b', 'c', 'd'}), "YWJjZA==");
}
