#include <gtest/gtest.h>

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
    std::string row(const std::string& table, const std::vector<FieldInfo>& fields,
                    const std::vector<Value>& values,
                    const RegionalSettings& s = RegionalSettings::unitedStates()) {
        auto d = def(table, fields);
        RowStatementBuilder b(table, fields, numericPositionFlags(d.numericPositions, fields.size()), s);
        return b.build(values, p);
    }
};

FieldInfo f(std::string name, int type) { return FieldInfo{std::move(name), type}; }

const std::vector<FieldInfo> orders = {f("id", ad::Integer), f("title", ad::VarChar),
                                       f("shipped", ad::DBDate)};

}  // namespace

TEST(TableDefinition, ExampleOfOrders) {
    Build b;
    auto d = b.def("orders", {f("id", ad::Integer), f("title", ad::VarChar), f("shipped", ad::DBDate),
                              f("photo", ad::LongVarBinary)});
    EXPECT_EQ(d.statement, "CREATE TABLE [orders]([id] INT,[title] TEXT,[shipped] TEXT);");
    EXPECT_EQ(d.numericPositions, "0, ");
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
    EXPECT_EQ(d.numericPositions, "0, 2, ");
    EXPECT_EQ(numericPositionFlags(d.numericPositions, 3), (std::vector<bool>{true, false, true}));
}

TEST(TableDefinition, MappingOfEveryNamedType) {
    struct Expect {
        const char* column;
        bool numeric;
        const char* keyword;
    };
    auto expect = [](int t) -> Expect {
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
    };
    for (int t = -5; t < 300; ++t) {
        if (t == 205) continue;
        Build b;
        auto d = b.def("t", {f("x", t)});
        const Expect e = expect(t);
        EXPECT_EQ(d.statement, std::string("CREATE TABLE [t]([x] ") + e.column + ");") << t;
        EXPECT_EQ(d.numericPositions, e.numeric ? "0, " : "") << t;
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

TEST(NumericPositions, Pieces) {
    EXPECT_EQ(numericPositionFlags("", 2), (std::vector<bool>{false, false}));
    EXPECT_EQ(numericPositionFlags("1, ", 2), (std::vector<bool>{false, true}));
    EXPECT_EQ(numericPositionFlags("0, 9, x, -1, ", 2), (std::vector<bool>{true, false}));
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
    EXPECT_EQ(b.row("t", fields, {Value(1), Value(tp::db::DateTime{d, 0, 0, 0, 0}), Value(false),
                                  Value(tp::db::Bytes{1, 2})}),
              "INSERT INTO [t] VALUES(1, '08/30/2021', 'False')");
    EXPECT_EQ(b.row("t", fields, {Value(1), Value(tp::db::DateTime{d, 14, 5, 9, 0}), Value(true), Value()},
                    RegionalSettings::german()),
              "INSERT INTO [t] VALUES(1, '08/30/2021 14:05:09', 'True')");
}

TEST(RowStatement, DecimalCommaOfNumericFields) {
    Build b;
    std::vector<FieldInfo> fields = {f("amount", ad::Numeric), f("rate", ad::Double), f("note", ad::VarChar)};
    EXPECT_EQ(b.row("t", fields, {Value(tp::db::Decimal{"1234.50"}), Value(0.25), Value("1,5")},
                    RegionalSettings::german()),
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
