// `tallyport tables` and `tallyport sql` on FoxPro sources and Access files.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sstream>

#include "app/cli_output.h"
#include "db/ado.h"
#include "tests/foxpro/dbf_builder.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::test;
using nlohmann::json;

namespace {

CommandResult tallyport(std::vector<std::string> args) {
    args.insert(args.begin(), tallyportExe());
    return runCommand(args);
}

std::string corpus(const std::string& rel) { return corpusPath("foxpro/" + rel).string(); }

}  // namespace

TEST(CliTables, ListsFolderAndContainerTablesInListingOrder) {
    auto r = tallyport({"tables", "--folder", corpus("php-xbase")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "91\ncurrency\nFoxpro2\npr90\nvfp\nvisual_fox_pro6\n");

    r = tallyport({"tables", "--dbc", corpus("VFPX-Samples-TestData/testdata.dbc")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "customer\nproducts\norditems\norders\nemployee\n");

    r = tallyport({"tables", "--dbc", corpus("VFPX-Samples-TestData/testdata.dbc"), "--all"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("TABLE\tcustomer\n"), std::string::npos);
    EXPECT_NE(r.out.find("VIEW\t"), std::string::npos);
}

TEST(CliTables, BadUsageAndMissingSources) {
    EXPECT_EQ(tallyport({"tables"}).exitCode, 2);
    EXPECT_EQ(tallyport({"tables", "--folder", "a", "--dbc", "b"}).exitCode, 2);
    EXPECT_EQ(tallyport({"sql", "--folder", corpus("php-xbase")}).exitCode, 2) << "no statement";
    EXPECT_EQ(tallyport({"sql", "--folder", corpus("php-xbase"), "-e", "x", "--format", "xml"}).exitCode, 2);
    auto r = tallyport({"tables", "--folder", "/no/such/folder"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("/no/such/folder"), std::string::npos) << r.err;
}

TEST(CliSql, JsonWritesExactNumbersDatesAndBase64) {
    auto r = tallyport({"sql", "--folder", corpus("php-xbase"), "-e", "SELECT * FROM `currency`", "-e",
                        "SELECT * FROM `vfp`", "--format", "json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto nl = r.out.find('\n');
    ASSERT_NE(nl, std::string::npos);
    EXPECT_EQ(r.out.substr(0, nl), R"({"columns":[{"name":"amount","type":6}],"rows":[[10412.1241]]})");
    const json vfp = json::parse(r.out.substr(nl + 1));
    std::map<std::string, size_t> col;
    for (size_t i = 0; i < vfp["columns"].size(); ++i) col[vfp["columns"][i]["name"]] = i;
    EXPECT_EQ(vfp["columns"][col["DATETIME"]]["type"], 135);
    EXPECT_EQ(vfp["columns"][col["VARBINARY"]]["type"], 204);
    const auto& row = vfp["rows"][0];
    EXPECT_EQ(row[col["BIRTHDAY"]], "1960-11-01");
    EXPECT_TRUE(row[col["DATETIME"]].get<std::string>().size() >= 19);
    // The exact digits of the numeric field, as written (no binary rounding).
    EXPECT_NE(r.out.find(",12.1235,"), std::string::npos);
}

TEST(CliSql, CsvIsRfc4180AndFailuresAreNumberedAndDoNotStopTheRun) {
    TempDir dir;
    writeFile(dir.file("stmts.sql"), "SELECT * FROM `country`\r\n\r\nSELECT * FROM `nope`\n");
    auto r = tallyport({"sql", "--folder", corpus("VFPX-Samples-TestData"), "-e", "DROP TABLE `country`", "-f",
                        dir.file("stmts.sql"), "--format", "csv"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("line 1 (-e)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("stmts.sql: line 3"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("\r\n")), "COUNTRY");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 24) << "header and 23 rows";

    EXPECT_EQ(cli::csvField("a,b"), "\"a,b\"");
    EXPECT_EQ(cli::csvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(cli::csvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(cli::jsonString("\x01\"\\\xC3\xA9\xFF"), "\"\\u0001\\\"\\\\\xC3\xA9\xEF\xBF\xBD\"");
}

TEST(CliSql, AccessDatabasesWithAQuotedPassword) {
    TempDir dir;
    const std::string db = dir.file("t.mdb"), pw = "p;w\"x'";
    auto r = tallyport({"new", db, "--password", pw});
    if (r.exitCode != 0) GTEST_SKIP() << "the Access engine cannot create files here: " << r.err;
    r = tallyport({"sql", db, "--password", pw, "-e", "CREATE TABLE [t] ([a] INT, [b] TEXT)", "-e", "bogus", "-e",
                   "INSERT INTO [t] VALUES (1, 'x,y')", "-e", "SELECT * FROM [t]"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("line 2 (-e)"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "a,b\r\n1,\"x,y\"\r\n");
    r = tallyport({"tables", db, "--password", pw});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "t\n");
    EXPECT_EQ(tallyport({"tables", db, "--password", "wrong"}).exitCode, 1);
}

// The queries a user checks and fixes data with: counts, and how many rows
// an UPDATE or DELETE changed; an error names its line with Access's words.
TEST(CliSql, QueriesCountAndChangesSayHowManyRows) {
    TempDir dir;
    const std::string db = dir.file("t.mdb");
    auto r = tallyport({"new", db});
    if (r.exitCode != 0) GTEST_SKIP() << "the Access engine cannot create files here: " << r.err;
    r = tallyport({"sql", db,
                   "-e",  "CREATE TABLE [orders] ([id] INT, [country] TEXT(20), [shipped] DATETIME)",
                   "-e",  "INSERT INTO [orders] VALUES (1, 'W-Germany', NULL)",
                   "-e",  "INSERT INTO [orders] VALUES (2, 'w-germany', #2001-02-03#)",
                   "-e",  "INSERT INTO [orders] VALUES (3, 'France', NULL)",
                   "-e",  "SELECT COUNT(*) FROM [orders]",
                   "-e",  "UPDATE [customers] SET [country] = 'Germany'",
                   "-e",  "UPDATE [orders] SET [country] = 'Germany' WHERE [country] = 'W-Germany'",
                   "-e",  "DELETE FROM [orders] WHERE [shipped] IS NULL AND [id] > 2",
                   "-e",  "SELECT [id], [country] FROM [orders] WHERE [id] > 10 OR [id] < 3 ORDER BY [id] DESC",
                   "-e",  "SELECT * FROM [orders] WHERE [id] = 1 2"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "Expr1000\r\n3\r\n2 rows affected\r\n1 row affected\r\nid,country\r\n2,Germany\r\n1,Germany\r\n");
    EXPECT_NE(r.err.find("line 6 (-e): error 3078: The database engine cannot find the input table or query "
                         "'customers'."),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("line 10 (-e): error 3075: Syntax error (missing operator) in query expression "
                         "'[id] = 1 2'."),
              std::string::npos)
        << r.err;
    r = tallyport({"sql", db, "--format", "json", "-e", "DELETE FROM [orders]"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "{\"rowsAffected\":2}\n");
    EXPECT_EQ(tallyport({"check", db}).out, "ok\n");
}

TEST(CliSql, ReadingThatFailsHalfwayStillGivesValidJsonAndLostValuesFailTheRun) {
    // A cursor that fails after one row.
    class FailingCursor : public db::Cursor {
    public:
        const std::vector<db::FieldInfo>& fields() const override { return fields_; }
        bool next(std::vector<db::Value>& row) override {
            if (n_++ == 0) {
                row = {db::Value(int64_t{1}), db::Value("a")};
                return true;
            }
            throw db::Error("The disk went away.");
        }

    private:
        std::vector<db::FieldInfo> fields_ = {{"a", db::adtype::Integer}, {"b", db::adtype::VarChar}};
        int n_ = 0;
    };
    db::Recordset rs(std::make_unique<FailingCursor>());
    std::ostringstream out;
    EXPECT_THROW(cli::writeResult(out, rs, cli::OutputFormat::Json), db::Error);
    const json j = json::parse(out.str());
    EXPECT_EQ(j["rows"], json::parse(R"([[1,"a"]])"));
    EXPECT_EQ(j["error"], "The disk went away.");

    // A FoxPro value that cannot be read costs that value: the other rows
    // come, the loss is told on stderr and the exit status is 1.
    TempDir dir;
    DbfBuilder b;
    b.version = 0x03;
    b.fields = {{"N", 'N', 3}};
    b.records = {"   1", "  x2", "   3"};
    writeFile(dir.file("bad.dbf"), b.build());
    auto r = tallyport({"sql", "--folder", dir.path().string(), "-e", "SELECT * FROM `bad`", "--format", "json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(json::parse(r.out)["rows"], json::parse("[[1],[null],[3]]"));
    EXPECT_NE(r.err.find("field N of record 2"), std::string::npos) << r.err;
}
