// New .accdb files made from scratch (Access 2010 format), plain and
// Agile-encrypted: the independent readers open them, the password is required.
#include <gtest/gtest.h>

#include <filesystem>

#include "db/error.h"
#include "db/jet/database.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
using namespace tp::db::jet;
namespace fs = std::filesystem;

namespace {

std::vector<ColumnDef> twoColumns() {
    ColumnDef id;
    id.name = "Id";
    id.type = ColType::Long;
    id.autoNumber = true;
    ColumnDef name;
    name.name = "Name";
    name.type = ColType::Text;
    name.size = 40;
    return {id, name};
}

void fill(Database& db) {
    db.createTable("People", twoColumns());
    for (int i = 0; i < 25; ++i) db.insertRow("People", {Value(), Value("person " + std::to_string(i))});
    db.createTable("Gone", twoColumns());
    db.dropTable("Gone");
}

TEST(AceCreate, NewAccdbOpensInEveryReader) {
    test::TempDir dir;
    const auto file = dir.file("new.accdb");
    {
        auto db = Database::create(file, "", FileFormat::Ace14);
        EXPECT_EQ(db->format(), FileFormat::Ace14);
        fill(*db);
        db->close();
    }
    const std::string raw = test::readFile(file);
    ASSERT_GE(raw.size(), 4096u);
    EXPECT_EQ(raw.substr(4, 15), "Standard ACE DB");
    EXPECT_EQ(raw[0x14], 0x03);
    auto db = Database::open(file, "", true);
    EXPECT_EQ(db->format(), FileFormat::Ace14);
    db->close();
    const std::string diff = test::storage::compareWithReader(file);
    if (!test::mdbReaderAvailable()) GTEST_SKIP() << "mdb-reader is not installed";
    EXPECT_EQ(diff, "");
    auto dump = test::mdbReaderDump(file);
    EXPECT_NE(dump.out.find("\"format\":\"ACE14\""), std::string::npos);
    EXPECT_NE(dump.out.find("\"person 24\""), std::string::npos);
    if (test::mdbtoolsAvailable()) {
        auto t = test::mdbtoolsDump(file);
        EXPECT_EQ(t.exitCode, 0) << t.err;
        EXPECT_NE(t.out.find("==== table: People (25 rows) ===="), std::string::npos) << t.out.substr(0, 300);
    }
}

TEST(AceCreate, EncryptedAccdbNeedsItsPassword) {
    test::TempDir dir;
    const auto file = dir.file("secret.accdb");
    {
        auto db = Database::create(file, "Pa55 wörd", FileFormat::Ace14);
        fill(*db);
        db->close();
    }
    // Every page after the header is encrypted: none of our text is visible.
    const std::string raw = test::readFile(file);
    EXPECT_EQ(raw.find("People"), std::string::npos);
    EXPECT_EQ(raw.find("MSysObjects"), std::string::npos);
    EXPECT_EQ(raw.find("person"), std::string::npos);
    for (const char* wrong : {"", "pa55 wörd", "Pa55 word"}) {
        try {
            Database::open(file, wrong, true);
            ADD_FAILURE() << "opened with '" << wrong << "'";
        } catch (const db::Error& e) {
            EXPECT_STREQ(e.what(), "Not a valid password.");
        }
    }
    {
        // Written again after reopening: still encrypted, still readable.
        auto db = Database::open(file, "Pa55 wörd", false);
        db->insertRow("People", {Value(), Value("person late")});
        db->close();
    }
    EXPECT_EQ(test::readFile(file).find("person"), std::string::npos);
    if (!test::mdbReaderAvailable()) GTEST_SKIP() << "mdb-reader unavailable";
    auto good = test::mdbReaderDump(file, "Pa55 wörd");
    ASSERT_EQ(good.exitCode, 0) << good.err;
    EXPECT_NE(good.out.find("\"person late\""), std::string::npos);
    EXPECT_EQ(test::storage::compareWithReader(file, "Pa55 wörd"), "");
    auto bad = test::mdbReaderDump(file, "wrong");
    EXPECT_NE(bad.exitCode, 0);
}

TEST(AceCreate, CommandLineNewMakesAnEncryptedAccdb) {
    test::TempDir dir;
    const auto file = dir.file("cli.accdb");
    auto r = test::runCommand({test::tallyportExe(), "new", file, "--password", "PW"});
    if (r.exitCode == 127) GTEST_SKIP() << "tallyport not built";
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_THROW(Database::open(file, "pw", true), db::Error);
    auto db = Database::open(file, "PW", true);
    EXPECT_EQ(db->format(), FileFormat::Ace14);
    if (!test::mdbReaderAvailable()) return;
    EXPECT_EQ(test::mdbReaderDump(file, "PW").exitCode, 0);
    EXPECT_NE(test::mdbReaderDump(file, "pw").exitCode, 0);
}

}  // namespace
