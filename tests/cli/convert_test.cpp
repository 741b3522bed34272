// `tallyport convert` as a user runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "tests/foxpro/dbf_builder.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using namespace tp::test;

namespace {

class CliConvert : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(tallyportExe())) GTEST_SKIP() << "tallyport is not built";
        folder = corpusPath("foxpro/javadbf/foxpro-xsource").string();
        if (!fs::exists(folder)) GTEST_SKIP() << folder << " is missing";
    }
    CommandResult convert(std::vector<std::string> args) {
        args.insert(args.begin(), {tallyportExe(), "convert"});
        return runCommand(args);
    }
    int lines(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

    TempDir dir;
    std::string folder;
};

}  // namespace

TEST_F(CliConvert, BadUsageExitsWithTwo) {
    const std::string t = dir.file("t.mdb");
    EXPECT_EQ(convert({}).exitCode, 2);
    EXPECT_EQ(convert({"--folder", folder}).exitCode, 2);  // no target
    EXPECT_EQ(convert({"--target", t}).exitCode, 2);       // no source
    EXPECT_EQ(convert({"--folder", folder, "--dbc", "x.dbc", "--target", t}).exitCode, 2);
    EXPECT_EQ(convert({"--folder", folder, "--target", t, "--overwrite", "maybe"}).exitCode, 2);
    EXPECT_EQ(convert({"--folder", folder, "--target", t, "--bogus"}).exitCode, 2);
    EXPECT_EQ(convert({"--folder", folder, "--target", t, "--keys", "maybe"}).exitCode, 2);
    EXPECT_EQ(convert({"--folder", folder, "--target"}).exitCode, 2);
    EXPECT_FALSE(fs::exists(t));
}

TEST_F(CliConvert, CreatesTheTargetAndSummarises) {
    const std::string t = dir.file("new.mdb");
    auto r = convert({"--folder", folder, "--target", t, "--create"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "3 tables, 89 rows, 0 failed statements\n");
    EXPECT_NE(r.err.find("The database " + t + " does not exist. Would you like to create it? Yes"), std::string::npos);
    EXPECT_NE(r.err.find("Done."), std::string::npos);
    EXPECT_EQ(r.err.find("rows/s"), std::string::npos);  // no progress off a terminal
    EXPECT_TRUE(fs::exists(t));

    // Again: the tables exist now. Without a terminal the answer is No.
    r = convert({"--folder", folder, "--target", t});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "0 tables, 0 rows, 0 failed statements\n");
    EXPECT_NE(r.err.find("Overwrite?: Would you like to overwrite "), std::string::npos);
    r = convert({"--folder", folder, "--target", t, "--overwrite", "yes"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "3 tables, 89 rows, 0 failed statements\n");
}

TEST_F(CliConvert, MissingTargetWithoutCreateFails) {
    const std::string t = dir.file("none.mdb");
    auto r = convert({"--folder", folder, "--target", t});
    EXPECT_EQ(r.exitCode, 1);
    // The run stops at the answer: no cascade of failures after it.
    EXPECT_NE(r.err.find("does not exist. Would you like to create it? No"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Application Error"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(t));
}

TEST_F(CliConvert, InvalidSourceIsNamed) {
    const std::string missing = dir.file("no-such-folder");
    auto r = convert({"--folder", missing, "--target", dir.file("t.mdb"), "--create"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.file("t.mdb")));
}

TEST_F(CliConvert, ScriptWritesTheStatementsAndExecutesNothing) {
    const std::string t = dir.file("s.mdb");
    ASSERT_EQ(runCommand({tallyportExe(), "new", t}).exitCode, 0);
    const std::string script = dir.file("out.sql");
    auto r = convert({"--folder", folder, "--target", t, "--script", script, "--keys", "no"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string text = readFile(script);
    EXPECT_EQ(lines(text), 3 + 89);
    EXPECT_EQ(text.rfind("CREATE TABLE [", 0), 0u);
    auto tables = runCommand({tallyportExe(), "tables", t});
    EXPECT_EQ(tables.exitCode, 0);
    EXPECT_EQ(tables.out, "");  // nothing was executed

    // With the keys (the default), the same statements and the keys' only.
    r = convert({"--folder", folder, "--target", t, "--script", script});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::istringstream withKeys(readFile(script));
    std::string rest, line;
    while (std::getline(withKeys, line))
        if (line.rfind("ALTER TABLE [", 0) != 0 && line.rfind("CREATE INDEX [", 0) != 0 &&
            line.rfind("CREATE UNIQUE INDEX [", 0) != 0)
            rest += line + "\n";
    EXPECT_EQ(rest, text);
}

TEST_F(CliConvert, AValueThatCannotBeReadCostsOnlyThatValueAndIsCounted) {
    // Record 2 holds a number that is none; FoxPro's asterisks in record 3
    // are a warning only. Under German settings the dates stay month first.
    DbfBuilder b;
    b.version = 0x03;
    b.fields = {{"N", 'N', 3}, {"D", 'D', 8}};
    b.records = {std::string(" ") + "  1" + "19960704", std::string(" ") + " x2" + "20210830",
                 std::string(" ") + "***" + "20210830", std::string(" ") + "  4" + "        "};
    fs::create_directory(dir.path() / "src");
    writeFile(dir.file("src/bad.dbf"), b.build());
    const std::string t = dir.file("t.mdb");
    auto r = runCommand({"/usr/bin/env", "LC_ALL=de_DE.UTF-8", tallyportExe(), "convert", "--folder", dir.file("src"),
                         "--target", t, "--create", "--script", dir.file("s.sql"), "--types", "text"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.out, "1 table, 4 rows, 0 failed statements, 1 value not read\n");
    EXPECT_NE(r.err.find("field N of record 2"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("did not fit their field in FoxPro itself"), std::string::npos) << r.err;
    const std::string script = readFile(dir.file("s.sql"));
    EXPECT_NE(script.find("VALUES(1, '07/04/1996')"), std::string::npos) << script;
    EXPECT_NE(script.find("VALUES(NULL, '08/30/2021')"), std::string::npos) << script;
    EXPECT_NE(script.find("VALUES(4,NULL)"), std::string::npos) << script;
    EXPECT_EQ(lines(script), 5);
}
