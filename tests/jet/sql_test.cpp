#include "db/jet/sql/sql.h"
#include "db/jet/sql/sql_query.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>

using namespace tp::db;
using namespace tp::db::jet;

namespace {

Statement parse(std::string_view sql) {
    Statement st;
    parseStatement(sql, st);
    return st;
}

long errorNumber(std::string_view sql, std::string* text = nullptr) {
    try {
        parse(sql);
    } catch (const Error& e) {
        if (text) *text = e.description();
        return e.number();
    }
    return 0;
}

ColumnDef col(ColType t, int size = 255) {
    ColumnDef c;
    c.name = "c";
    c.type = t;
    c.size = size;
    return c;
}

// Coerces the single literal of "INSERT INTO t VALUES(<lit>)".
Value coerce(std::string_view literal, const ColumnDef& c) {
    std::string sql = "INSERT INTO t VALUES(" + std::string(literal) + ")";
    Statement st;
    parseStatement(sql, st);
    return coerceLiteral(st.values.at(0), c, "t");
}

long coerceError(std::string_view literal, const ColumnDef& c, std::string* text = nullptr) {
    try {
        coerce(literal, c);
    } catch (const Error& e) {
        if (text) *text = e.description();
        return e.number();
    }
    return 0;
}

}  // namespace

TEST(SqlCreate, GeneratedDefinitionWithAllMappedTypes) {
    auto st = parse("CREATE TABLE [orders]([id] INT,[title] TEXT,[price] DECIMAL,[w] FLOAT);");
    EXPECT_EQ(st.kind, StatementKind::CreateTable);
    EXPECT_EQ(st.table, "orders");
    ASSERT_EQ(st.definitions.size(), 4u);
    EXPECT_EQ(st.definitions[0].type, ColType::Long);
    EXPECT_EQ(st.definitions[1].type, ColType::Memo);  // TEXT without a size
    EXPECT_EQ(st.definitions[2].type, ColType::Numeric);
    EXPECT_EQ(st.definitions[2].precision, 18);
    EXPECT_EQ(st.definitions[2].scale, 0);
    EXPECT_EQ(st.definitions[3].type, ColType::Double);
}

TEST(SqlCreate, EveryDdlTypeAndModifier) {
    auto st = parse(
        "create table Plain (a text(10) not null, b varchar(20), c char(5), d memo, e longtext, f byte, "
        "g short, h smallint, i integer, j long, k counter, l autoincrement, m single, n real, o double, "
        "p currency, q money, r numeric(10,2), s decimal(7), t datetime, u date, v time, w bit, x yesno, "
        "y logical, z binary(16), aa varbinary(8), ab longbinary, ac image, ad oleobject, ae guid, "
        "af text with compression, [a b c] text(3) null)");
    const auto& d = st.definitions;
    ASSERT_EQ(d.size(), 33u);
    EXPECT_EQ(st.table, "Plain");
    EXPECT_EQ(d[0].type, ColType::Text);
    EXPECT_EQ(d[0].size, 10);
    EXPECT_TRUE(d[0].notNull);
    EXPECT_EQ(d[1].size, 20);
    EXPECT_TRUE(d[2].fixedLength);
    EXPECT_EQ(d[3].type, ColType::Memo);
    EXPECT_EQ(d[4].type, ColType::Memo);
    EXPECT_EQ(d[5].type, ColType::Byte);
    EXPECT_EQ(d[6].type, ColType::Int);
    EXPECT_EQ(d[7].type, ColType::Int);
    EXPECT_EQ(d[8].type, ColType::Long);
    EXPECT_EQ(d[9].type, ColType::Long);
    EXPECT_TRUE(d[10].autoNumber);
    EXPECT_TRUE(d[11].autoNumber);
    EXPECT_EQ(d[12].type, ColType::Float);
    EXPECT_EQ(d[13].type, ColType::Float);
    EXPECT_EQ(d[14].type, ColType::Double);
    EXPECT_EQ(d[15].type, ColType::Money);
    EXPECT_EQ(d[16].type, ColType::Money);
    EXPECT_EQ(d[17].precision, 10);
    EXPECT_EQ(d[17].scale, 2);
    EXPECT_EQ(d[18].precision, 7);
    EXPECT_EQ(d[18].scale, 0);
    for (int i = 19; i <= 21; ++i) EXPECT_EQ(d[size_t(i)].type, ColType::DateTime);
    for (int i = 22; i <= 24; ++i) EXPECT_EQ(d[size_t(i)].type, ColType::Bool);
    EXPECT_EQ(d[25].type, ColType::Binary);
    EXPECT_EQ(d[25].size, 16);
    EXPECT_EQ(d[26].size, 8);
    for (int i = 27; i <= 29; ++i) EXPECT_EQ(d[size_t(i)].type, ColType::OLE);
    EXPECT_EQ(d[30].type, ColType::Guid);
    EXPECT_EQ(d[31].type, ColType::Memo);
    EXPECT_EQ(d[32].name, "a b c");
    EXPECT_FALSE(d[32].notNull);
}

TEST(SqlCreate, ErrorsInTheEnginesWords) {
    std::string text;
    // The definition of a table none of whose fields yields a column.
    EXPECT_EQ(errorNumber("CREATE TABLE [t]);", &text), jeterr::kSyntaxCreateTable);
    EXPECT_EQ(text, "Syntax error in CREATE TABLE statement.");
    EXPECT_EQ(errorNumber("CREATE TABLE [t]([a] TEXT,)"), jeterr::kSyntaxCreateTable);
    EXPECT_EQ(errorNumber("CREATE TABLE [t]([a] TEXT) extra"), jeterr::kSyntaxCreateTable);
    EXPECT_EQ(errorNumber("CREATE TABLE [t]([a] WIDGET)", &text), jeterr::kSyntaxFieldDefinition);
    EXPECT_EQ(text, "Syntax error in field definition.");
    EXPECT_EQ(errorNumber("CREATE TABLE [t]([a])"), jeterr::kSyntaxFieldDefinition);
    EXPECT_EQ(errorNumber("CREATE TABLE [t]([a] TEXT(0))"), jeterr::kFieldSize);
    EXPECT_EQ(errorNumber("CREATE TABLE [t]([a] TEXT(256))"), jeterr::kFieldSize);
    EXPECT_EQ(errorNumber("CREATE TABLE [t]([a] TEXT(99999999999999))"), jeterr::kSyntaxFieldDefinition);
    EXPECT_EQ(errorNumber("CREATE TABLE [t]([a] DECIMAL(29))"), jeterr::kSyntaxFieldDefinition);
    EXPECT_EQ(errorNumber("CREATE TABLE [t]([a] DECIMAL(5,6))"), jeterr::kSyntaxFieldDefinition);
    EXPECT_EQ(errorNumber("CREATE TABLE [t]([a] INT,[A] TEXT)"), jeterr::kFieldTwice);
    EXPECT_EQ(errorNumber("CREATE TABLE [t]([a] INT WITH COMP)"), jeterr::kSyntaxFieldDefinition);
    // A name with a closing bracket inside is rejected, not misread.
    EXPECT_EQ(errorNumber("CREATE TABLE [a]b]([x] INT)"), jeterr::kSyntaxCreateTable);
    EXPECT_EQ(errorNumber("CREATE TABLE [a.b]([x] INT)", &text), jeterr::kInvalidName);
    EXPECT_EQ(text.rfind("'a.b' is not a valid name.", 0), 0u);
    EXPECT_EQ(errorNumber("CREATE TABLE [t]([x] INT PRIMARY KEY)"), jeterr::kNotSupported);
    std::string many = "CREATE TABLE t(";
    for (int i = 0; i < 256; ++i) many += (i ? ",c" : "c") + std::to_string(i) + " INT";
    EXPECT_EQ(errorNumber(many + ")"), jeterr::kTooManyFields);
}

TEST(SqlStatements, DropSelectAndUnknown) {
    auto d = parse("  drop table [My Table] ;  ");
    EXPECT_EQ(d.kind, StatementKind::DropTable);
    EXPECT_EQ(d.table, "My Table");
    EXPECT_EQ(errorNumber("DROP TABLE"), jeterr::kSyntaxDrop);
    EXPECT_EQ(errorNumber("DROP TABLE a b"), jeterr::kSyntaxDrop);

    auto s = parse("SELECT * FROM `orders`");
    EXPECT_EQ(s.kind, StatementKind::Select);
    EXPECT_EQ(s.table, "orders");
    EXPECT_TRUE(s.columns.empty());
    auto s2 = parse("select [a], b from t;");
    ASSERT_EQ(s2.columns.size(), 2u);
    EXPECT_EQ(s2.columns[1], "b");
    auto s3 = parse("SELECT DISTINCT TOP 5 a, b + 1 AS c FROM t WHERE a = 1 OR NOT b LIKE 'x*' ORDER BY 2 DESC");
    ASSERT_TRUE(s3.query && s3.query->where);
    EXPECT_EQ(s3.query->where->op, ExprOp::Or);
    EXPECT_EQ(s3.query->items[1].alias, "c");
    EXPECT_EQ(s3.query->orderBy[0].position, 1);
    EXPECT_TRUE(s3.query->orderBy[0].descending);
    EXPECT_EQ(errorNumber("SELECT * FROM t WHERE a = 1 2"), jeterr::kSyntaxExpression);
    EXPECT_EQ(errorNumber("SELECT * FROM"), jeterr::kSyntaxFrom);
    EXPECT_EQ(errorNumber("SELECT FROM t"), jeterr::kSyntaxSelect);
    EXPECT_EQ(errorNumber("SELECT a b FROM t"), jeterr::kSyntaxSelect);

    std::string text;
    EXPECT_EQ(parse("UPDATE t SET a = 1, [b c] = a & 'x' WHERE a IS NULL").kind, StatementKind::Update);
    EXPECT_EQ(parse("DELETE * FROM [t] WHERE a IN (1, 2)").kind, StatementKind::Delete);
    EXPECT_EQ(errorNumber("UPSERT t SET a = 1", &text), jeterr::kInvalidStatement);
    EXPECT_EQ(text, "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'.");
    EXPECT_EQ(errorNumber(""), jeterr::kInvalidStatement);
}

TEST(SqlInsert, GeneratedRowStatements) {
    auto st = parse("INSERT INTO [orders] VALUES(7,NULL, '08/30/2021', 'it''s', -1.5E3, - 2, True)");
    EXPECT_EQ(st.kind, StatementKind::Insert);
    EXPECT_EQ(st.table, "orders");
    EXPECT_FALSE(st.hasColumnList);
    ASSERT_EQ(st.values.size(), 7u);
    EXPECT_EQ(st.values[0].kind, LiteralKind::Number);
    EXPECT_EQ(st.values[1].kind, LiteralKind::Null);
    EXPECT_EQ(st.values[2].kind, LiteralKind::String);
    EXPECT_EQ(unquote(st.values[3]), "it's");
    EXPECT_TRUE(st.values[4].negative);
    EXPECT_EQ(st.values[4].text, "1.5E3");
    EXPECT_TRUE(st.values[5].negative);
    EXPECT_EQ(st.values[6].kind, LiteralKind::Bool);

    auto withList = parse("insert into t ([a], b) values (\"x\"\"y\", #8/30/2021#);");
    EXPECT_TRUE(withList.hasColumnList);
    EXPECT_EQ(withList.columnListText, "[a], b)");
    EXPECT_EQ(unquote(withList.values[0]), "x\"y");
    EXPECT_EQ(withList.values[1].kind, LiteralKind::Date);
}

TEST(SqlInsert, TextJoinedWithLineBreaksAndBytes) {
    const auto t = col(ColType::Memo, 0);
    EXPECT_EQ(coerce("'a''b' & Chr(13) & Chr(10) & 'c'", t), Value("a'b\r\nc"));
    EXPECT_EQ(coerce("Chr(10) & chrw(1078)&\"\"", t), Value("\n\xD0\xB6"));
    EXPECT_EQ(coerce("'x' & 'y'", col(ColType::Text, 2)), Value("xy"));
    EXPECT_EQ(coerceError("'x' & 'yz'", col(ColType::Text, 2)), coerceError("'xyz'", col(ColType::Text, 2)));
    for (const char* bad : {"'a' &", "'a' & Chr(128)", "'a' & Chr(x)", "'a' & Chr(13", "'a' & Space(2)",
                            "Chr(13) 'a'", "ChrW(55296)", "0x0", "0x0G", "0xAB12z"})
        EXPECT_EQ(errorNumber("INSERT INTO t VALUES(" + std::string(bad) + ")"), jeterr::kSyntaxInsert) << bad;

    const auto ole = col(ColType::OLE, 0);
    EXPECT_EQ(coerce("0x00FFa0", ole), Value(Bytes{0x00, 0xFF, 0xA0}));
    EXPECT_EQ(coerce("0x", ole), Value(Bytes{}));
    EXPECT_EQ(coerce("0X0102", col(ColType::Binary, 2)), Value(Bytes{1, 2}));
    EXPECT_NE(coerceError("0x010203", col(ColType::Binary, 2)), 0);
    for (ColType other : {ColType::Text, ColType::Long, ColType::DateTime, ColType::Bool, ColType::Guid})
        EXPECT_EQ(coerceError("0x01", col(other)), jeterr::kTypeMismatch);

    // An AutoNumber's first value; it counts by 1 only.
    EXPECT_EQ(parse("CREATE TABLE t ([id] COUNTER(101, 1))").definitions.at(0).autoNumberSeed, 101u);
    EXPECT_EQ(parse("CREATE TABLE t ([id] COUNTER)").definitions.at(0).autoNumberSeed, 0u);
    EXPECT_EQ(errorNumber("CREATE TABLE t ([id] COUNTER(5, 2))"), jeterr::kNotSupported);
}

TEST(SqlInsert, SyntaxErrors) {
    std::string text;
    EXPECT_EQ(errorNumber("INSERT INTO [t] VALUES(1, 'open", &text), jeterr::kSyntaxInsert);
    EXPECT_EQ(text, "Syntax error in INSERT INTO statement.");
    // The statement of a row none of whose fields is transferred.
    EXPECT_EQ(errorNumber("INSERT INTO [t] VALUE)"), jeterr::kSyntaxInsert);
    EXPECT_EQ(errorNumber("INSERT INTO [t] VALUES()"), jeterr::kSyntaxInsert);
    EXPECT_EQ(errorNumber("INSERT INTO [t] VALUES(1,)"), jeterr::kSyntaxInsert);
    EXPECT_EQ(errorNumber("INSERT INTO [t] VALUES(12abc)"), jeterr::kSyntaxInsert);
    EXPECT_EQ(errorNumber("INSERT INTO [t] VALUES(1) 2"), jeterr::kSyntaxInsert);
    EXPECT_EQ(errorNumber("INSERT INTO [t] VALUES(1);;", &text), jeterr::kAfterEnd);
    EXPECT_EQ(text, "Characters found after end of SQL statement.");
    EXPECT_EQ(errorNumber("INSERT INTO [t] VALUES(1); INSERT INTO [t] VALUES(2)"), jeterr::kAfterEnd);
    EXPECT_EQ(errorNumber("INSERT INTO [t] VALUES(#1/2/2000)"), jeterr::kSyntaxInsert);
    EXPECT_EQ(errorNumber("INSERT [t] VALUES(1)"), jeterr::kSyntaxInsert);
    EXPECT_EQ(errorNumber("INSERT INTO [t VALUES(1)"), jeterr::kSyntaxInsert);
    EXPECT_EQ(errorNumber("INSERT INTO [t] VALUES(1E)"), jeterr::kSyntaxInsert);
}

TEST(SqlCoerce, TextColumnsKeepTextAndCheckLength) {
    auto text = col(ColType::Text, 5);
    EXPECT_EQ(coerce("'08/30/2021'", col(ColType::Text, 10)), Value("08/30/2021"));
    EXPECT_EQ(coerce("'it''s'", text), Value("it's"));
    EXPECT_EQ(coerce("12.50", text), Value("12.5"));
    EXPECT_EQ(coerce("-007", text), Value("-7"));
    EXPECT_EQ(coerce("True", text), Value("-1"));
    EXPECT_EQ(coerce("False", text), Value("0"));
    EXPECT_EQ(coerce("#8/30/2021#", col(ColType::Text, 30)), Value("8/30/2021"));
    EXPECT_EQ(coerce("#2021-08-30 13:05:09#", col(ColType::Text, 30)), Value("8/30/2021 1:05:09 PM"));
    EXPECT_EQ(coerce("NULL", text), Value());
    std::string msg;
    EXPECT_EQ(coerceError("'abcdef'", text, &msg), jeterr::kFieldTooSmall);
    EXPECT_EQ(msg,
              "The field is too small to accept the amount of data you attempted to add. Try inserting or "
              "pasting less data.");
    // Lengths count UTF-16 units: five accented letters fit, three emoji do not.
    EXPECT_EQ(coerce("'\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9'", text).text().size(), 10u);
    EXPECT_EQ(coerceError("'\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80'", text), jeterr::kFieldTooSmall);
    // A Memo takes any length.
    std::string big(70000, 'x');
    EXPECT_EQ(coerce("'" + big + "'", col(ColType::Memo)).text().size(), 70000u);
}

TEST(SqlCoerce, NumbersIntoNumericColumns) {
    EXPECT_EQ(coerce("7", col(ColType::Long)), Value(int64_t(7)));
    EXPECT_EQ(coerce("'12'", col(ColType::Long)), Value(int64_t(12)));
    EXPECT_EQ(coerce("' 12 '", col(ColType::Int)), Value(int64_t(12)));
    EXPECT_EQ(coerce("2.5", col(ColType::Long)), Value(int64_t(2)));  // half to even
    EXPECT_EQ(coerce("3.5", col(ColType::Long)), Value(int64_t(4)));
    EXPECT_EQ(coerce("-2.51", col(ColType::Long)), Value(int64_t(-3)));
    EXPECT_EQ(coerce("1E3", col(ColType::Int)), Value(int64_t(1000)));
    EXPECT_EQ(coerce("True", col(ColType::Int)), Value(int64_t(-1)));
    EXPECT_EQ(coerce("-2147483648", col(ColType::Long)), Value(int64_t(INT32_MIN)));
    std::string msg;
    EXPECT_EQ(coerceError("2147483648", col(ColType::Long), &msg), jeterr::kOverflow);
    EXPECT_EQ(msg, "Numeric field overflow.");
    EXPECT_EQ(coerceError("256", col(ColType::Byte)), jeterr::kOverflow);
    EXPECT_EQ(coerceError("-1", col(ColType::Byte)), jeterr::kOverflow);
    EXPECT_EQ(coerceError("32768", col(ColType::Int)), jeterr::kOverflow);
    EXPECT_EQ(coerceError("1E999999999", col(ColType::Long)), jeterr::kOverflow);
    EXPECT_EQ(coerce("1E-999999999", col(ColType::Long)), Value(int64_t(0)));
    EXPECT_EQ(coerceError("'abc'", col(ColType::Long), &msg), jeterr::kTypeMismatch);
    EXPECT_EQ(msg, "Data type mismatch in criteria expression.");
    EXPECT_EQ(coerceError("''", col(ColType::Double)), jeterr::kTypeMismatch);

    EXPECT_EQ(coerce("1.5", col(ColType::Double)), Value(1.5));
    EXPECT_EQ(coerce("-1.5", col(ColType::Double)), Value(-1.5));
    EXPECT_EQ(coerce("'2.25'", col(ColType::Float)), Value(2.25));
    EXPECT_EQ(coerceError("1E39", col(ColType::Float)), jeterr::kOverflow);
    EXPECT_EQ(coerceError("1E400", col(ColType::Double)), jeterr::kOverflow);

    EXPECT_EQ(coerce("12.34565", col(ColType::Money)), Value(Currency{123456}));
    EXPECT_EQ(coerce("-0.00015", col(ColType::Money)), Value(Currency{-2}));
    EXPECT_EQ(coerce("922337203685477.5807", col(ColType::Money)), Value(Currency{INT64_MAX}));
    EXPECT_EQ(coerceError("922337203685477.5808", col(ColType::Money)), jeterr::kOverflow);
}

TEST(SqlCoerce, DecimalColumnsApplyTheirScale) {
    ColumnDef d = col(ColType::Numeric);
    d.precision = 18;
    d.scale = 0;
    EXPECT_EQ(coerce("'12.5'", d), Value(Decimal{"12"}));
    EXPECT_EQ(coerce("13.5", d), Value(Decimal{"14"}));
    EXPECT_EQ(coerce("-0.4", d), Value(Decimal{"0"}));
    ColumnDef m = col(ColType::Numeric);
    m.precision = 5;
    m.scale = 2;
    EXPECT_EQ(coerce("1.5", m), Value(Decimal{"1.50"}));
    EXPECT_EQ(coerce("-0.011", m), Value(Decimal{"-0.01"}));
    EXPECT_EQ(coerce("999.99", m), Value(Decimal{"999.99"}));
    EXPECT_EQ(coerce("0", m), Value(Decimal{"0.00"}));
    std::string msg;
    EXPECT_EQ(coerceError("1000", m, &msg), jeterr::kDecimalPrecision);
    EXPECT_EQ(msg, "The decimal field's precision is too small to accept the numeric you attempted to add.");
    EXPECT_EQ(coerceError("999.995", m), jeterr::kDecimalPrecision);  // rounds up to 1000.00
}

TEST(SqlCoerce, DatesBooleansBinaryGuid) {
    auto dt = col(ColType::DateTime);
    EXPECT_EQ(coerce("'08/30/2021'", dt), Value(DateTime{{2021, 8, 30}}));
    EXPECT_EQ(coerce("'08/30/2021 13:05:09'", dt), Value(DateTime{{2021, 8, 30}, 13, 5, 9}));
    EXPECT_EQ(coerce("#2021-08-30 1:05 PM#", dt), Value(DateTime{{2021, 8, 30}, 13, 5, 0}));
    EXPECT_EQ(coerce("'12:00:00 AM'", dt), Value(DateTime{}));
    EXPECT_EQ(coerce("'1/2/99'", dt), Value(DateTime{{1999, 1, 2}}));
    EXPECT_EQ(coerce("'1/2/29'", dt), Value(DateTime{{2029, 1, 2}}));
    EXPECT_EQ(coerce("2", dt), Value(DateTime{{1900, 1, 1}}));
    EXPECT_EQ(coerceError("'02/30/2021'", dt), jeterr::kTypeMismatch);
    EXPECT_EQ(coerceError("'13/01/2021'", dt), jeterr::kTypeMismatch);
    EXPECT_EQ(coerceError("'25:00'", dt), jeterr::kTypeMismatch);
    EXPECT_EQ(coerceError("1E9", dt), jeterr::kOverflow);
    EXPECT_EQ(coerceError("#not a date#", dt), 3075);

    auto b = col(ColType::Bool);
    EXPECT_EQ(coerce("True", b), Value(true));
    EXPECT_EQ(coerce("0", b), Value(false));
    EXPECT_EQ(coerce("-1", b), Value(true));
    EXPECT_EQ(coerce("'yes'", b), Value(true));
    EXPECT_EQ(coerce("'False'", b), Value(false));
    EXPECT_EQ(coerce("NULL", b), Value(false));  // Yes/No holds no null
    EXPECT_EQ(coerceError("'maybe'", b), jeterr::kTypeMismatch);

    auto bin = col(ColType::Binary, 4);
    EXPECT_EQ(coerce("'ab'", bin), Value(Bytes{'a', 0, 'b', 0}));
    EXPECT_EQ(coerceError("'abc'", bin), jeterr::kFieldTooSmall);
    EXPECT_EQ(coerceError("12", bin), jeterr::kTypeMismatch);

    auto g = col(ColType::Guid);
    EXPECT_EQ(coerce("'{0f8fad5b-d9cb-469f-a165-70867728950e}'", g), Value("{0F8FAD5B-D9CB-469F-A165-70867728950E}"));
    EXPECT_EQ(coerce("'0f8fad5b-d9cb-469f-a165-70867728950e'", g), Value("{0F8FAD5B-D9CB-469F-A165-70867728950E}"));
    EXPECT_EQ(coerceError("'0f8fad5b'", g), jeterr::kTypeMismatch);

    ColumnDef req = col(ColType::Long);
    req.notNull = true;
    std::string msg;
    EXPECT_EQ(coerceError("NULL", req, &msg), jeterr::kRequired);
    EXPECT_NE(msg.find("'t.c' cannot contain a Null value"), std::string::npos);
}

TEST(SqlParse, HostileInputNeverCrashes) {
    // Truncations of a valid statement at every position give errors, not crashes.
    const std::string full = "INSERT INTO [t] ([a],[b]) VALUES('x''y', -1.5E+3, #1/2/2000 3:04:05 PM#, NULL, True);";
    for (size_t n = 0; n < full.size(); ++n) {
        Statement st;
        try {
            parseStatement(full.substr(0, n), st);
        } catch (const Error&) {}
    }
    const std::string create = "CREATE TABLE [t]([a] TEXT(10) NOT NULL,[b] DECIMAL(10,2));";
    for (size_t n = 0; n + 1 < create.size(); ++n) {  // all but the optional ";"
        Statement st;
        EXPECT_THROW(parseStatement(create.substr(0, n), st), Error) << n;
    }
    Statement st;
    EXPECT_NO_THROW(parseStatement(create, st));
    EXPECT_THROW(parseStatement(std::string("INSERT INTO [t] VALUES('a\0b)", 28), st), Error);
}

TEST(SqlCoerce, IntoAReusedValueAsIntoANewOne) {
    // The insert coerces each row into the values of the last one: the
    // outcome (value or error) must not depend on what they held.
    const std::vector<std::string_view> literals = {"'abc'",
                                                    "'it''s'",
                                                    "''",
                                                    "'x'",
                                                    "NULL",
                                                    "5",
                                                    "-5",
                                                    "0",
                                                    "-0",
                                                    "2147483647",
                                                    "2147483648",
                                                    "-2147483648",
                                                    "-2147483649",
                                                    "999999999999999999",
                                                    "9999999999999999999",
                                                    "1.5",
                                                    "2.5",
                                                    "-2.5",
                                                    "1e3",
                                                    ".5",
                                                    "5.",
                                                    "1e400",
                                                    "1e-400",
                                                    "00012",
                                                    "TRUE",
                                                    "FALSE",
                                                    "#8/30/2021#",
                                                    "'8/30/2021'",
                                                    "'12'",
                                                    "' 7 '"};
    auto make = [](ColType t, int size = 255) {
        ColumnDef c;  // unnamed: the messages are not compared
        c.type = t;
        c.size = size;
        return c;
    };
    std::vector<ColumnDef> cols = {make(ColType::Text, 3), make(ColType::Text),   make(ColType::Memo),
                                   make(ColType::Long),    make(ColType::Double), make(ColType::Float),
                                   make(ColType::Int),     make(ColType::Money),  make(ColType::Bool),
                                   make(ColType::DateTime)};
    ColumnDef required = make(ColType::Long);
    required.notNull = true;
    cols.push_back(required);
    const std::vector<Value> earlier = {Value(), Value(std::string(40, 'q')), Value(int64_t(3)), Value(1.5),
                                        Value(Decimal{"1.25"})};
    for (const ColumnDef& c : cols) {
        for (std::string_view lit : literals) {
            std::string sql = "INSERT INTO t VALUES(";
            sql += lit;
            sql += ')';
            Statement st;
            parseStatement(sql, st);
            Value fresh;
            long freshError = 0;
            try {
                fresh = coerceLiteral(st.values.at(0), c, "t");
            } catch (const Error& e) {
                freshError = e.number();
            }
            for (const Value& before : earlier) {
                Value reused = before;
                long reusedError = 0;
                try {
                    coerceLiteral(st.values.at(0), c, "t", reused);
                } catch (const Error& e) {
                    reusedError = e.number();
                }
                EXPECT_EQ(reusedError, freshError) << lit << " into type " << int(c.type);
                if (!freshError) {
                    EXPECT_EQ(reused, fresh) << lit << " into type " << int(c.type);
                }
            }
        }
    }
}

TEST(SqlCoerce, ShortDecimalsReadAsTheFullConversionReadsThem) {
    // Numbers of up to 15 digits are read without the general conversion:
    // every one must give the same double, bit for bit.
    uint64_t seed = 12345;
    auto next = [&] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return seed >> 11;
    };
    ColumnDef c;
    c.type = ColType::Double;
    for (int i = 0; i < 20000; ++i) {
        const int digits = 1 + int(next() % 17);
        std::string t;
        for (int k = 0; k < digits; ++k) t += char('0' + next() % 10);
        if (next() % 4) t.insert(next() % t.size(), ".");
        if (t.front() == '.') t.insert(0, "0");
        if (t.back() == '.') t += '5';
        double want = 0;
        std::from_chars(t.data(), t.data() + t.size(), want);
        for (const bool negative : {false, true}) {
            std::string sql = "INSERT INTO t VALUES(";
            if (negative) sql += '-';
            sql += t;
            sql += ')';
            Statement st;
            parseStatement(sql, st);
            Value v;
            coerceLiteral(st.values.at(0), c, "t", v);
            ASSERT_EQ(v.kind(), Kind::Double) << t;
            EXPECT_EQ(std::bit_cast<uint64_t>(v.real()), std::bit_cast<uint64_t>(negative ? -want : want)) << t;
        }
    }
}

TEST(SqlInsert, ReusedStatementReadsAsAFreshOne) {
    // A statement object parses the row statements of a table one after
    // another; what it gives must not depend on the statements before.
    const std::vector<std::string_view> sqls = {
        "INSERT INTO [a] VALUES(1, 'x')",
        "INSERT INTO [a] VALUES('it''s', NULL)",
        "INSERT INTO [a] VALUES(1",
        "INSERT INTO [a] VALUES(1, 2); x",
        "INSERT INTO [a] VALUES()",
        "INSERT INTO [a] VALUES(-2.5e3, #8/30/2021#);",
        "INSERT INTO [ab] VALUES(1)",
        "INSERT INTO [a] VALUES(7)",
        "INSERT INTO [a] (x) VALUES(1)",
        "INSERT INTO [a] VALUES(",
        "INSERT INTO [a] VALUES(TRUE, 'a', 'b')",
        "CREATE TABLE [a]([x] INT)",
        "INSERT INTO [a] VALUES(3)",
        "INSERT INTO a VALUES(3)",
        "INSERT INTO ab VALUES(3)",
        "INSERT INTO [a] VALUES(x)",
    };
    auto outcome = [](Statement& st, std::string_view sql) {
        std::string s;
        try {
            parseStatement(sql, st);
        } catch (const Error& e) {
            return "error " + std::to_string(e.number());
        }
        s = std::to_string(int(st.kind)) + " [" + std::string(st.table) + "] " + std::to_string(st.hasColumnList);
        for (const Literal& l : st.values)
            s += " " + std::to_string(int(l.kind)) + ":" + std::string(l.text) + ":" + std::to_string(l.negative) +
                 std::to_string(l.boolean) + std::to_string(l.escaped);
        return s;
    };
    Statement reused;
    for (int round = 0; round < 2; ++round)
        for (std::string_view sql : sqls) {
            Statement fresh;
            EXPECT_EQ(outcome(reused, sql), outcome(fresh, sql)) << sql;
        }
}
