#include <gtest/gtest.h>

#include <limits>

#include "convert/datatype.h"
#include "convert/host.h"
#include "convert/statements.h"
#include "tests/support/support.h"

using namespace tp::convert;
using tp::db::FieldInfo;
using tp::db::Value;
namespace ad = tp::db::adtype;

namespace {

struct Build {
    tp::test::RecordingBoxes boxes;
    tp::Procedure p{"Form1", "PushButton7_Click", boxes};
    VectorDatatypeList datatypes;
    TableDefinition def(const std::string& table, const std::vector<FieldInfo>& fields) {
        return buildTableDefinition(table, fields, datatypes, p);
    }
    std::string row(const std::string& table, const std::vector<FieldInfo>& fields, const std::vector<Value>& values,
                    const RegionalSettings& s = RegionalSettings::unitedStates()) {
        auto d = def(table, fields);
        RowStatementBuilder b(table, fields, d.numeric, s);
        return b.build(values, p);
    }
};

FieldInfo f(std::string name, int type) { return FieldInfo{std::move(name), type}; }

const std::vector<FieldInfo> orders = {f("id", ad::Integer), f("title", ad::VarChar), f("shipped", ad::DBDate)};

}  // namespace

TEST(TableDefinition, ExampleOfOrders) {
    Build b;
    auto d = b.def("orders", {f("id", ad::Integer), f("title", ad::VarChar), f("shipped", ad::DBDate),
                              f("photo", ad::LongVarBinary)});
    EXPECT_EQ(d.statement, "CREATE TABLE [orders]([id] INT,[title] TEXT,[shipped] TEXT);");
    EXPECT_EQ(d.numeric, (std::vector<bool>{true, false, false, false}));
    ASSERT_EQ(b.datatypes.rows.size(), 4u);
    EXPECT_EQ(b.datatypes.rows[0].keyword, "int");
    EXPECT_EQ(b.datatypes.rows[0].accessType, "INT");
    EXPECT_EQ(b.datatypes.rows[2].keyword, "date");
    EXPECT_EQ(b.datatypes.rows[3].table, "orders");
    EXPECT_EQ(b.datatypes.rows[3].field, "photo");
    EXPECT_EQ(b.datatypes.rows[3].keyword, "");
    EXPECT_EQ(b.datatypes.rows[3].accessType, "");
    EXPECT_TRUE(b.boxes.shown.empty());
}

TEST(TableDefinition, LeftOutFieldKeepsItsPosition) {
    Build b;
    auto d = b.def("t", {f("a", ad::Integer), f("b", ad::LongVarBinary), f("c", ad::Double)});
    EXPECT_EQ(d.statement, "CREATE TABLE [t]([a] INT,[c] FLOAT);");
    EXPECT_EQ(d.numeric, (std::vector<bool>{true, false, true}));
}

TEST(TableDefinition, MappingOfEveryNamedType) {
    struct Expect {
        const char* column;
        bool numeric;
        const char* keyword;
    };
    auto expect = [](int t) -> Expect {
        // clang-format off
        switch (t) {
        case 129: case 130: case 200: case 201: case 202: case 203: return {"TEXT", false, "char"};
        case 14: return {"DECIMAL", true, "dec"};
        case 2: case 3: case 16: case 17: case 18: case 19: case 20: case 21: return {"INT", true, "int"};
        case 131: case 139: return {"FLOAT", true, "numeric"};
        case 7: case 133: return {"TEXT", false, "date"};
        case 135: return {"TEXT", false, "timestamp"};
        case 5: return {"FLOAT", true, "double"};
        default: return {"TEXT", false, "OTHER TYPES"};
        }
        // clang-format on
    };
    for (int t = -5; t < 300; ++t) {
        if (t == 205) continue;
        Build b;
        auto d = b.def("t", {f("x", t)});
        const Expect e = expect(t);
        EXPECT_EQ(d.statement, std::string("CREATE TABLE [t]([x] ") + e.column + ");") << t;
        EXPECT_EQ(d.numeric, std::vector<bool>{e.numeric}) << t;
        EXPECT_EQ(b.datatypes.rows.at(0).keyword, e.keyword) << t;
        EXPECT_EQ(b.datatypes.rows.at(0).accessType, e.column) << t;
    }
}

TEST(TableDefinition, NamesAreWrittenVerbatim) {
    Build b;
    auto d = b.def("a]b", {f("x]y", ad::VarChar), f("n", ad::SmallInt)});
    EXPECT_EQ(d.statement, "CREATE TABLE [a]b]([x]y] TEXT,[n] INT);");
}

TEST(TableDefinition, NoColumnAtAll) {
    Build b;
    auto d = b.def("pics", {f("p", ad::LongVarBinary)});
    EXPECT_FALSE(d.anyColumn);
    EXPECT_EQ(d.statement, "CREATE TABLE [pics]);");
}

TEST(RowStatement, ExamplesUnderUnitedStatesSettings) {
    Build b;
    const tp::db::Date shipped{2021, 8, 30};
    EXPECT_EQ(b.row("orders", orders, {Value(7), Value("it's"), Value(shipped)}),
              "INSERT INTO [orders] VALUES(7, 'it''s', '08/30/2021')");
    EXPECT_EQ(b.row("orders", orders, {Value(7), Value(), Value(shipped)}),
              "INSERT INTO [orders] VALUES(7,NULL, '08/30/2021')");
    EXPECT_EQ(b.row("orders", orders, {Value(), Value(""), Value(shipped)}),
              "INSERT INTO [orders] VALUES(NULL,NULL, '08/30/2021')");
    EXPECT_TRUE(b.boxes.shown.empty());
}

TEST(RowStatement, DateTimesAndBooleans) {
    Build b;
    std::vector<FieldInfo> fields = {f("n", ad::Integer), f("at", ad::DBTimeStamp), f("ok", ad::Boolean),
                                     f("pic", ad::LongVarBinary)};
    const tp::db::Date d{2021, 8, 30};
    EXPECT_EQ(b.row("t", fields, {Value(1), Value(tp::db::DateTime{d, 14, 5, 9, 0}), Value(true), Value()}),
              "INSERT INTO [t] VALUES(1, '08/30/2021 14:05:09', 'True')");
    EXPECT_EQ(b.row("t", fields,
                    {Value(1), Value(tp::db::DateTime{d, 0, 0, 0, 0}), Value(false), Value(tp::db::Bytes{1, 2})}),
              "INSERT INTO [t] VALUES(1, '08/30/2021', 'False')");
    EXPECT_EQ(b.row("t", fields, {Value(1), Value(tp::db::DateTime{d, 14, 5, 9, 0}), Value(true), Value()},
                    RegionalSettings::german()),
              "INSERT INTO [t] VALUES(1, '08/30/2021 14:05:09', 'True')");
}

TEST(RowStatement, DatesTakeTheMonthDayYearPatternUnderEverySetting) {
    // Date and date-time values always get the pattern, whatever the short
    // date looks like (German "30.08.2021" also reads as a number) and
    // whatever the year; a text that reads as a number stays a number.
    const std::vector<FieldInfo> fields = {f("n", ad::Integer), f("d", ad::DBDate), f("t", ad::DBTimeStamp),
                                           f("txt", ad::Currency)};
    struct Case {
        tp::db::Date date;
        const char* pattern;
    };
    const Case cases[] = {{{1996, 7, 4}, "07/04/1996"}, {{2021, 8, 30}, "08/30/2021"},  {{1, 1, 1}, "01/01/0001"},
                          {{99, 12, 31}, "12/31/0099"}, {{1899, 12, 30}, "12/30/1899"}, {{9999, 12, 31}, "12/31/9999"}};
    Build b;
    for (const char* locale : {"de_DE.UTF-8", "fr_FR", "sv_SE", "en_US", "en_GB", "nl_NL"}) {
        const RegionalSettings s = RegionalSettings::fromLocaleName(locale);
        for (bool general : {false, true}) {
            auto d = b.def("t", fields);
            RowStatementBuilder rows("t", fields, d.numeric, s);
            rows.setGeneralPathOnly(general);
            for (const Case& c : cases) {
                SCOPED_TRACE(std::string(locale) + " " + c.pattern + (general ? " general" : ""));
                const std::string p = c.pattern;
                EXPECT_EQ(
                    rows.build({Value(1), Value(c.date), Value(tp::db::DateTime{c.date, 12, 0, 0, 0}),
                                Value(tp::db::Currency{125000})},
                               b.p),
                    "INSERT INTO [t] VALUES(1, '" + p + "', '" + p + " 12:00:00', '12" + s.decimalSeparator + "5')");
                EXPECT_EQ(rows.build({Value(1), Value(tp::db::DateTime{c.date, 0, 0, 0, 0}),
                                      Value(tp::db::DateTime{c.date, 23, 59, 1, 0}), Value()},
                                     b.p),
                          "INSERT INTO [t] VALUES(1, '" + p + "', '" + p + " 23:59:01',NULL)");
            }
        }
    }
    EXPECT_TRUE(b.boxes.shown.empty());
}

TEST(RowStatement, DecimalCommaOfNumericFields) {
    Build b;
    std::vector<FieldInfo> fields = {f("amount", ad::Numeric), f("rate", ad::Double), f("note", ad::VarChar)};
    EXPECT_EQ(
        b.row("t", fields, {Value(tp::db::Decimal{"1234.50"}), Value(0.25), Value("1,5")}, RegionalSettings::german()),
        "INSERT INTO [t] VALUES(1234.5, 0.25, '1,5')");
}

TEST(RowStatement, TextKeepsWhatItHolds) {
    // Character and memo values are never rewritten as dates, nor their
    // commas changed, whether the table has numeric fields or not.
    Build b;
    std::vector<FieldInfo> textOnly = {f("a", ad::Char), f("b", ad::LongVarChar), f("c", ad::VarWChar)};
    EXPECT_EQ(b.row("t", textOnly, {Value("1/2"), Value("1,5"), Value("12:30")}),
              "INSERT INTO [t] VALUES('1/2', '1,5', '12:30')");
    std::vector<FieldInfo> mixed = {f("a", ad::Char), f("n", ad::Integer)};
    EXPECT_EQ(b.row("t", mixed, {Value("8/30/2021"), Value(1)}), "INSERT INTO [t] VALUES('8/30/2021', 1)");
}

TEST(RowStatement, LineBreaksAndQuotes) {
    Build b;
    std::vector<FieldInfo> fields = {f("memo", ad::LongVarChar)};
    EXPECT_EQ(b.row("t", fields, {Value("a\r\nb\nc\rd''e")}), "INSERT INTO [t] VALUES('abcd''''e')");
    EXPECT_EQ(b.row("t", fields, {Value("\r\n")}), "INSERT INTO [t] VALUES('')");
}

TEST(RowStatement, OtherTypesInATableWithoutNumericFields) {
    Build b;
    // Currency and single values are quoted texts; without numeric fields their
    // decimal commas become points, with numeric fields they stay.
    std::vector<FieldInfo> noNumeric = {f("price", ad::Currency), f("w", ad::Single)};
    EXPECT_EQ(b.row("t", noNumeric, {Value(tp::db::Currency{125000}), Value(2.5)}, RegionalSettings::german()),
              "INSERT INTO [t] VALUES('12.5', '2.5')");
    std::vector<FieldInfo> withNumeric = {f("price", ad::Currency), f("n", ad::Integer)};
    EXPECT_EQ(b.row("t", withNumeric, {Value(tp::db::Currency{125000}), Value(3)}, RegionalSettings::german()),
              "INSERT INTO [t] VALUES('12,5', 3)");
}

TEST(RowStatement, ShortRowIsReported) {
    Build b;
    b.p.setReportRepeatsOnce(true);
    EXPECT_EQ(b.row("orders", orders, {Value(7)}), "INSERT INTO [orders] VALUES(7)");
    ASSERT_EQ(b.boxes.shown.size(), 1u);
    EXPECT_NE(b.boxes.shown[0].text.find("at line 358"), std::string::npos);
}

namespace {

// Settings of every kind the windows may install, and odd ones where the
// short forms of typed values read differently.
std::vector<RegionalSettings> settingsToCompare() {
    std::vector<RegionalSettings> all = {RegionalSettings::unitedStates(), RegionalSettings::german()};
    for (const char* name : {"en_GB", "fr_FR", "es_ES", "nl_NL", "ja_JP", "sv_SE"})
        all.push_back(RegionalSettings::fromLocaleName(name));
    RegionalSettings s;
    s.fourDigitYear = false;
    all.push_back(s);
    s = {};
    s.timeSeparator = '.';
    all.push_back(s);
    s = {};
    s.dateSeparator = ',';  // the group separator
    all.push_back(s);
    s = {};
    s.amText = "vorm.";
    s.pmText = "nachm.";
    all.push_back(s);
    s = {};
    s.amText = s.pmText = "";
    all.push_back(s);
    s = RegionalSettings::german();
    s.thousandsSeparator = ' ';
    s.dateSeparator = '-';
    s.clock24 = false;
    all.push_back(s);
    s = {};
    s.decimalSeparator = '/';
    all.push_back(s);
    return all;
}

std::vector<Value> valuesToCompare() {
    using tp::db::Currency;
    using tp::db::Date;
    using tp::db::DateTime;
    using tp::db::Decimal;
    std::vector<Value> v = {Value(),
                            Value(true),
                            Value(false),
                            Value(0),
                            Value(-7),
                            Value(int64_t(1) << 40),
                            Value(int64_t(-9007199254740993LL))};
    for (double d : {0.0, -0.0, 1.0, -2.5, 0.1, 1.0 / 3, 1e20, 1e-5, 123456789012345678.0, 1.5e-300,
                     std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN(), 12.5, 1234567.125})
        v.emplace_back(d);
    for (int64_t c : {int64_t(0), int64_t(125000), int64_t(-125000), int64_t(1), int64_t(-10000), INT64_MAX, INT64_MIN,
                      int64_t(123456789)})
        v.emplace_back(Currency{c});
    for (const char* t :
         {"0", "-0", "-0.50", "7.", "12.3400", "1234.50", "-5000.00", "0.000", "1e5", "", "1,5", ".5", "-", "12.3.4"})
        v.emplace_back(Decimal{t});
    for (Date d : {Date{2021, 8, 30}, Date{1990, 1, 1}, Date{1, 1, 1}, Date{99, 12, 31}, Date{100, 3, 1},
                   Date{999, 12, 31}, Date{1000, 1, 1}, Date{9999, 12, 31}, Date{2020, 2, 29}, Date{2021, 2, 29},
                   Date{2021, 13, 1}, Date{12345, 1, 1}, Date{2021, 12, 12}, Date{2010, 1, 12}})
        v.emplace_back(d);
    for (DateTime t : {DateTime{{2021, 8, 30}, 0, 0, 0, 0}, DateTime{{2021, 8, 30}, 0, 0, 0, 500},
                       DateTime{{2021, 8, 30}, 0, 0, 1, 0}, DateTime{{2021, 8, 30}, 12, 0, 0, 0},
                       DateTime{{2021, 8, 30}, 23, 59, 59, 999}, DateTime{{2021, 8, 30}, 11, 5, 9, 0},
                       DateTime{{2021, 8, 30}, 13, 5, 9, 0}, DateTime{{1899, 12, 30}, 14, 5, 9, 0},
                       DateTime{{50, 1, 1}, 1, 2, 3, 0}, DateTime{{2021, 8, 30}, 24, 0, 0, 0},
                       DateTime{{2021, 8, 30}, 7, 60, 0, 0}, DateTime{{9999, 12, 31}, 23, 59, 59, 0}})
        v.emplace_back(t);
    v.emplace_back("it's");
    v.emplace_back("8/30/2021");
    v.emplace_back(tp::db::Bytes{0x12, 0xAB});
    return v;
}

}  // namespace

TEST(RowStatement, TypedValuesWrittenAsTheGeneralPathWritesThem) {
    // The shortcuts for numbers, dates, times and Booleans must give the
    // very bytes of the general conversion, under any settings, in numeric
    // and other fields, with and without numeric fields in the table.
    const std::vector<int> types = {ad::Integer, ad::Numeric, ad::Double,      ad::Single,  ad::Currency,
                                    ad::DBDate,  ad::Date,    ad::DBTimeStamp, ad::Boolean, ad::BigInt,
                                    ad::Decimal, ad::VarChar, ad::BSTR};
    const std::vector<Value> values = valuesToCompare();
    Build b;
    int compared = 0;
    for (const RegionalSettings& s : settingsToCompare()) {
        for (int type : types) {
            for (bool withNumeric : {false, true}) {
                std::vector<FieldInfo> fields = {f("x", type)};
                if (withNumeric) fields.push_back(f("n", ad::Integer));
                auto d = b.def("t", fields);
                const auto flags = d.numeric;
                RowStatementBuilder fast("t", fields, flags, s), general("t", fields, flags, s);
                general.setGeneralPathOnly(true);
                for (const Value& v : values) {
                    std::vector<Value> row = {v};
                    if (withNumeric) row.emplace_back(1);
                    const std::string want = general.build(row, b.p);
                    EXPECT_EQ(fast.build(row, b.p), want)
                        << "type " << type << ", value " << tp::db::toIsoText(v) << ", decimal " << s.decimalSeparator
                        << ", date " << s.dateSeparator;
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 10000);
    EXPECT_TRUE(b.boxes.shown.empty());
}

TEST(RowStatement, QuotesAndLineBreaksAnywhereInLongTexts) {
    // Texts are scanned eight bytes at a time: a special character at any
    // place, or several, is still doubled or removed.
    Build b;
    std::vector<FieldInfo> fields = {f("memo", ad::LongVarChar)};
    for (size_t len : {1u, 7u, 8u, 9u, 16u, 23u, 40u}) {
        for (size_t at = 0; at < len; ++at) {
            for (char special : {'\'', '\r', '\n'}) {
                std::string text(len, 'a');
                for (size_t k = 0; k < len; ++k) text[k] = static_cast<char>('a' + k % 26);
                text[at] = special;
                if (at + 3 < len) text[at + 3] = '\'';
                std::string cleaned;
                for (char c : text) {
                    if (c == '\'') cleaned += "''";
                    else if (c != '\r' && c != '\n') cleaned += c;
                }
                EXPECT_EQ(b.row("t", fields, {Value(text)}), "INSERT INTO [t] VALUES('" + cleaned + "')")
                    << len << " " << at;
            }
        }
    }
}
