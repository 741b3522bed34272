// `tallyport new`, and the Access target module over real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "convert/target.h"
#include "db/ado.h"
#include "tests/support/support.h"

using namespace tp;

TEST(AccessCli, NewCreatesAnEmptyDatabaseOnce) {
    test::TempDir dir;
    const std::string file = dir.file("fresh.mdb");
    auto r = test::runCommand({test::tallyportExe(), "new", file});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(file));
    const auto size = std::filesystem::file_size(file);
    // Never over an existing file.
    r = test::runCommand({test::tallyportExe(), "new", file});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(file), std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(file), size);
    // Usage errors.
    EXPECT_EQ(test::runCommand({test::tallyportExe(), "new"}).exitCode, 2);
    EXPECT_EQ(test::runCommand({test::tallyportExe(), "new", file, "--password"}).exitCode, 2);
    EXPECT_EQ(test::runCommand({test::tallyportExe(), "new", file, "other.mdb"}).exitCode, 2);
    EXPECT_EQ(test::runCommand({test::tallyportExe(), "new", "--bogus", file}).exitCode, 2);
    // No user tables, and the independent readers agree.
    db::registerBuiltinProviders();
    const std::optional<std::vector<std::string>> tables = convert::target::tableNames(file);
    ASSERT_TRUE(tables.has_value());
    EXPECT_TRUE(tables->empty());
    if (!test::mdbtoolsAvailable() || !test::mdbReaderAvailable()) GTEST_SKIP() << "readers unavailable";
    auto ver = test::runCommand({"mdb-ver", file});
    EXPECT_EQ(ver.out, "JET4\n");
    auto dump = test::mdbReaderDump(file);
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_NE(dump.out.find("\"tables\":[\n]}"), std::string::npos) << dump.out;
}

TEST(AccessCli, NewWithPassword) {
    test::TempDir dir;
    const std::string file = dir.file("locked.mdb");
    auto r = test::runCommand({test::tallyportExe(), "new", file, "--password", "pa ss"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    db::registerBuiltinProviders();
    db::Connection conn;
    EXPECT_THROW(conn.Open(convert::target::connectionString(file, "")), db::Error);
    conn.Open(convert::target::connectionString(file, "pa ss"));
    conn.Close();
    // A password longer than the format holds is refused, and no file is left.
    const std::string longer = dir.file("long.mdb");
    r = test::runCommand({test::tallyportExe(), "new", longer, "--password", std::string(21, 'x')});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(longer));
    if (!test::mdbReaderAvailable()) GTEST_SKIP() << "mdb-reader unavailable";
    auto dump = test::mdbReaderDump(file);
    EXPECT_NE(dump.out.find("\"password\":\"pa ss\""), std::string::npos) << dump.out.substr(0, 200);
}

TEST(AccessProviders, AccdbGoesToTheAceProviderAndOpens) {
    const auto file = test::corpusPath("access/jackcess-V2007/testV2007.accdb").string();
    const std::string cs = convert::target::connectionString(file, "");
    EXPECT_EQ(cs.rfind("Provider=Microsoft.ACE.OLEDB.12.0;", 0), 0u);
    db::registerBuiltinProviders();
    db::Connection conn;
    EXPECT_NO_THROW(conn.Open(cs));
    conn.Close();
    // A missing file through the same path names the file.
    try {
        conn.Open(convert::target::connectionString("/nonexistent/x.mdb", ""));
        FAIL();
    } catch (const db::Error& e) {
        EXPECT_STREQ(e.description(), "Could not find file '/nonexistent/x.mdb'.");
    }
}

TEST(AccessProviders, AccessMadeFileListsItsTablesAndTakesNewOnes) {
    test::TempDir dir;
    const std::string file = dir.file("copy.mdb");
    std::filesystem::copy_file(test::corpusPath("access/jackcess-V2000/testPromotionV2000.mdb"), file);
    db::registerBuiltinProviders();
    VectorListBox list;
    test::ScopedBoxes boxes;
    convert::target::listTables(list, file);
    EXPECT_EQ(list.items, (std::vector<std::string>{"jobDB1"}));
    {
        db::Connection conn;
        conn.Mode = db::adModeReadWrite;
        conn.Open(convert::target::connectionString(file, ""));
        conn.Execute("CREATE TABLE [added]([id] INT,[name] TEXT)");
        conn.Execute("INSERT INTO [added] VALUES(1, 'one')");
        conn.Close();
    }
    convert::target::listTables(list, file);
    EXPECT_EQ(list.items, (std::vector<std::string>{"added", "jobDB1"}));
    EXPECT_TRUE(boxes.shown.empty());
}
