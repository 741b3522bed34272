// End to end: statements through the Access provider into real .mdb files,
// read back by our own SELECT and by the independent readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "convert/target.h"
#include "db/ado.h"
#include "db/jet/database.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;

namespace {

bool haveReaders() { return test::mdbReaderAvailable() && test::mdbtoolsAvailable(); }

// A new database file opened as the conversion run opens its target.
struct TargetFile {
    test::TempDir dir;
    std::string path;
    std::string password;
    Connection conn;

    explicit TargetFile(std::string pw = {}, std::string name = "target.mdb")
        : path(dir.file(name)), password(std::move(pw)) {
        registerBuiltinProviders();
        jet::Database::create(path, password)->close();
        open();
    }
    void open() {
        conn.CursorLocation = adUseClient;
        conn.Mode = adModeReadWrite;
        conn.Open(convert::target::connectionString(path, password));
    }
    void run(const std::string& sql) { conn.Execute(sql); }
    std::vector<std::vector<Value>> select(const std::string& sql) { return test::storage::selectRows(conn, sql); }
    // Closes the connection and returns both readers' dumps.
    std::pair<std::string, std::string> dumps() {
        conn.Close();
        auto r = test::mdbReaderDump(path);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        auto t = test::mdbtoolsDump(path);
        EXPECT_EQ(t.exitCode, 0) << t.err;
        return {r.out, t.out};
    }
};

std::string repeat(const std::string& unit, size_t n) {
    std::string s;
    s.reserve(unit.size() * n);
    for (size_t i = 0; i < n; ++i) s += unit;
    return s;
}

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

}  // namespace

TEST(ProviderFiles, EveryTypeAndNullInEveryType) {
    TargetFile db;
    db.run(
        "CREATE TABLE [all types]([a] INT,[b] TEXT,[c] TEXT(5),[d] DECIMAL(10,2),[e] BIT,[f] DATETIME,"
        "[g] GUID,[h] CURRENCY,[i] BYTE,[j] SINGLE,[k] BINARY(4),[l] LONGBINARY,[m] SHORT,[n] FLOAT,"
        "[o] COUNTER,[p] MEMO)");
    db.run(
        "INSERT INTO [all types] VALUES(-7, 'it''s', 'abc', '12.345', True, '08/30/2021 13:05:09', "
        "'{0f8fad5b-d9cb-469f-a165-70867728950e}', 1.25, 255, 0.5, 'ab', 'cd', -32768, 1.5E+300, NULL, "
        "'memo')");
    db.run(
        "INSERT INTO [all types] VALUES(NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,"
        "NULL,NULL,NULL)");
    auto rows = db.select("SELECT [a], [d], [f], [o], [p] FROM [ALL TYPES]");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], Value(int64_t(-7)));
    EXPECT_EQ(rows[0][1], Value(Decimal{"12.34"}));  // half to even at the column's scale
    EXPECT_EQ(rows[0][2], Value(DateTime{{2021, 8, 30}, 13, 5, 9}));
    EXPECT_EQ(rows[0][3], Value(int64_t(1)));  // numbered by the engine
    EXPECT_EQ(rows[1][3], Value(int64_t(2)));
    EXPECT_TRUE(rows[1][0].isNull());
    EXPECT_TRUE(rows[1][4].isNull());
    if (!haveReaders()) GTEST_SKIP() << "independent readers unavailable";
    auto [reader, tools] = db.dumps();
    for (const char* col :
         {R"("name":"a","type":"long")", R"("name":"b","type":"memo")", R"("name":"c","type":"text","size":10)",
          R"("name":"d","type":"numeric","size":17,"precision":10,"scale":2)", R"("name":"e","type":"boolean")",
          R"("name":"f","type":"datetime")", R"("name":"g","type":"repid")", R"("name":"h","type":"currency")",
          R"("name":"i","type":"byte")", R"("name":"j","type":"float")", R"("name":"k","type":"binary","size":4)",
          R"("name":"l","type":"ole")", R"("name":"m","type":"integer")", R"("name":"n","type":"double")",
          R"("name":"o","type":"long")", R"("name":"p","type":"memo")"})
        EXPECT_TRUE(contains(reader, col)) << col;
    EXPECT_TRUE(contains(reader, R"([-7,"it's","abc","12.34",true,"2021-08-30T13:05:09.000",)"
                                 R"("0f8fad5b-d9cb-469f-a165-70867728950e","1.2500",255,0.5,"YQBiAA==","YwBkAA==",)"
                                 R"(-32768,1.5e+300,1,"memo"])"))
        << reader;
    EXPECT_TRUE(contains(reader, "[null,null,null,null,false,null,null,null,null,null,null,null,null,null,2,null]"))
        << reader;
    EXPECT_TRUE(contains(tools, "==== table: all types (2 rows) ===="));
    EXPECT_TRUE(contains(tools, "[c]\t\t\tText (5)"));
    EXPECT_TRUE(contains(tools, "-7,\"it's\",\"abc\",12.34,1,\"2021-08-30 13:05:09\""));
}

namespace {

std::string memoBody(size_t size) {
    std::string body = repeat("abcdefghij", size / 10 + 1).substr(0, size);
    if (size >= 4000) body[size / 2] = '\'';  // a quote inside, doubled in the statement
    return body;
}

void insertMemo(TargetFile& db, size_t size) {
    const std::string body = memoBody(size);
    std::string lit;
    lit.reserve(body.size() + 8);
    for (char c : body) {
        lit += c;
        if (c == '\'') lit += '\'';
    }
    db.run("INSERT INTO [memos] VALUES(" + std::to_string(size) + ", '" + lit + "')");
}

}  // namespace

TEST(ProviderFiles, MemoValuesInlineSingleAndChained) {
    TargetFile db;
    db.run("CREATE TABLE [memos]([n] INT,[body] TEXT)");
    const size_t sizes[] = {1, 4000, 70000};
    for (size_t s : sizes) insertMemo(db, s);
    auto rows = db.select("SELECT * FROM memos");
    ASSERT_EQ(rows.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(rows[i][1], Value(memoBody(sizes[i])));
    if (!haveReaders()) GTEST_SKIP() << "independent readers unavailable";
    auto [reader, tools] = db.dumps();
    for (size_t s : sizes) {
        EXPECT_TRUE(contains(reader, "[" + std::to_string(s) + ",\"" + memoBody(s) + "\"]")) << "memo of " << s;
        EXPECT_TRUE(contains(tools, std::to_string(s) + ",\"" + memoBody(s) + "\"")) << "memo of " << s;
    }
}

// mdb-reader joins the chunks of a long value one by one (quadratic), so this
// one case takes tens of seconds in the reader, not in the engine.
TEST(ProviderFiles, FiveMillionCharacterMemo) {
    TargetFile db;
    db.run("CREATE TABLE [memos]([n] INT,[body] TEXT)");
    insertMemo(db, 5000000);
    auto rows = db.select("SELECT [body] FROM memos");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0][0] == Value(memoBody(5000000)));
    if (!haveReaders()) GTEST_SKIP() << "independent readers unavailable";
    auto [reader, tools] = db.dumps();
    EXPECT_TRUE(contains(reader, "[5000000,\"" + memoBody(5000000) + "\"]"));
    // mdbtools prints at most its bind size of a memo: the start must match.
    EXPECT_TRUE(contains(tools, "5000000,\"" + memoBody(5000000).substr(0, 150000)));
}

TEST(ProviderFiles, NonAsciiText) {
    TargetFile db;
    const std::string samples[] = {
        "Crème brûlée à la façon de Zoë",              // accents (compressible)
        "Съешь же ещё этих мягких французских булок",  // Cyrillic
        "東京都渋谷区の郵便番号",                      // CJK
        "emoji 😀🎉 and more 🚀",                         // beyond the basic plane
    };
    db.run("CREATE TABLE [texts]([short] TEXT(50),[long] MEMO)");
    for (const auto& s : samples) db.run("INSERT INTO [texts] VALUES('" + s + "', '" + s + " / " + s + "')");
    auto rows = db.select("SELECT * FROM texts");
    ASSERT_EQ(rows.size(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(rows[i][0], Value(samples[i]));
    // 49 UTF-16 units fit a 50-character column; 51 do not.
    db.run("INSERT INTO [texts] ([short]) VALUES('" + repeat("😀", 24) + "x')");
    EXPECT_THROW(db.run("INSERT INTO [texts] ([short]) VALUES('" + repeat("😀", 25) + "x')"), Error);
    if (!haveReaders()) GTEST_SKIP() << "independent readers unavailable";
    auto [reader, tools] = db.dumps();
    for (const auto& s : samples) {
        EXPECT_TRUE(contains(reader, "[\"" + s + "\",\"" + s + " / " + s + "\"]")) << s;
        // mdbtools converts text as UCS-2 and shows characters beyond it as "?".
        if (s.find("\xF0") == std::string::npos) {
            EXPECT_TRUE(contains(tools, "\"" + s + "\",\"" + s + " / " + s + "\"")) << s;
        }
    }
}

TEST(ProviderFiles, DropAndRecreateCycles) {
    TargetFile db;
    db.run("CREATE TABLE [keep]([k] INT)");
    db.run("INSERT INTO [keep] VALUES(42)");
    for (int cycle = 0; cycle < 12; ++cycle) {
        if (cycle) db.run("DROP TABLE [cycled]");
        db.run("CREATE TABLE [cycled]([c" + std::to_string(cycle) + "] INT,[t] TEXT)");
        for (int r = 0; r <= cycle; ++r)
            db.run("INSERT INTO [cycled] VALUES(" + std::to_string(cycle * 100 + r) + ", '" +
                   repeat("x", size_t(100 * r)) + "')");
        EXPECT_THROW(db.run("CREATE TABLE [CYCLED]([x] INT)"), Error);
    }
    EXPECT_EQ(db.select("SELECT * FROM cycled").size(), 12u);
    EXPECT_EQ(db.select("SELECT [c11] FROM cycled").front().front(), Value(int64_t(1100)));
    // Reopened, the catalog still says the same.
    db.conn.Close();
    db.open();
    auto schema = db.conn.OpenSchema(adSchemaTables);
    std::vector<std::string> user;
    while (!schema->atEnd()) {
        if (schema->Fields("TABLE_TYPE").value().text() == "TABLE")
            user.push_back(schema->Fields("TABLE_NAME").value().text());
        schema->MoveNext();
    }
    EXPECT_EQ(user, (std::vector<std::string>{"cycled", "keep"}));
    if (!haveReaders()) GTEST_SKIP() << "independent readers unavailable";
    auto [reader, tools] = db.dumps();
    EXPECT_TRUE(contains(reader, R"("name":"c11","type":"long")"));
    EXPECT_FALSE(contains(reader, R"("name":"c10")"));
    EXPECT_TRUE(contains(reader, "[1100,null]") || contains(reader, "[1100,\"\"]"));
    EXPECT_TRUE(contains(reader, "[1111,\"" + repeat("x", 1100) + "\"]"));
    EXPECT_TRUE(contains(reader, "[42]"));
    EXPECT_TRUE(contains(tools, "==== table: cycled (12 rows) ===="));
    EXPECT_TRUE(contains(tools, "==== table: keep (1 rows) ===="));
}

TEST(ProviderFiles, PasswordProtectedTarget) {
    TargetFile db("s3cr;et'pw");
    db.run("CREATE TABLE [p]([v] TEXT(10))");
    db.run("INSERT INTO [p] VALUES('inside')");
    db.conn.Close();
    Connection wrong;
    try {
        wrong.Open(convert::target::connectionString(db.path, "nope"));
        FAIL() << "a wrong password opened the file";
    } catch (const Error& e) {
        EXPECT_STREQ(e.description(), "Not a valid password.");
    }
    db.open();
    EXPECT_EQ(db.select("SELECT * FROM p").at(0).at(0), Value("inside"));
    if (!haveReaders()) GTEST_SKIP() << "independent readers unavailable";
    auto [reader, tools] = db.dumps();
    EXPECT_TRUE(contains(reader, R"("password":"s3cr;et'pw")")) << reader.substr(0, 200);
    EXPECT_TRUE(contains(reader, R"(["inside"])"));
    EXPECT_TRUE(contains(tools, "\"inside\""));
}

TEST(ProviderFiles, ManyTablesAndRows) {
    TargetFile db;
    for (int t = 0; t < 300; ++t) {
        const std::string name = "[table " + std::to_string(t) + "]";
        db.run("CREATE TABLE " + name + "([id] INT,[name] TEXT)");
        db.run("INSERT INTO " + name + " VALUES(" + std::to_string(t) + ", 'row of " + std::to_string(t) + "')");
    }
    db.run("CREATE TABLE [rows]([id] INT,[name] TEXT(40),[amount] FLOAT,[when] DATETIME)");
    const int kRows = 20000;
    std::string stmt;
    for (int i = 0; i < kRows; ++i) {
        stmt = "INSERT INTO [rows] VALUES(" + std::to_string(i) + ", 'name " + std::to_string(i) + "', " +
               std::to_string(i) + ".5, '01/02/2003')";
        db.run(stmt);
    }
    auto ids = db.select("SELECT [id] FROM [rows]");
    ASSERT_EQ(ids.size(), size_t(kRows));
    EXPECT_EQ(ids.back()[0], Value(int64_t(kRows - 1)));
    std::optional<std::vector<std::string>> tables;
    {
        db.conn.Close();
        tables = convert::target::tableNames(db.path);
    }
    ASSERT_TRUE(tables.has_value());
    EXPECT_EQ(tables->size(), 301u);
    if (!haveReaders()) GTEST_SKIP() << "independent readers unavailable";
    auto r = test::mdbReaderDump(db.path);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, R"("name":"table 299","rowCount":1)"));
    EXPECT_TRUE(contains(r.out, R"([299,"row of 299"])"));
    EXPECT_TRUE(contains(r.out, R"("name":"rows","rowCount":20000)"));
    EXPECT_TRUE(contains(r.out, R"([19999,"name 19999",19999.5,"2003-01-02T00:00:00.000"])"));
    auto count = test::runCommand({"mdb-count", db.path, "rows"});
    EXPECT_EQ(count.out, "20000\n");
    auto list = test::runCommand({"mdb-tables", "-1", db.path});
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 301);
}
