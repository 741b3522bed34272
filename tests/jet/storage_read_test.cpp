// Reading Access-made Jet 4 files: every user table, column and value as the
// independent reader sees them; header checks and error texts.
#include <gtest/gtest.h>

#include <filesystem>

#include "db/error.h"
#include "db/jet/database.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db::jet;
namespace fs = std::filesystem;

namespace {

struct CorpusFile {
    const char* path;
    const char* password;
};

const CorpusFile kJet4Files[] = {
    {"access/jackcess-V2000/delColTestV2000.mdb", ""},
    {"access/jackcess-V2000/fixedTextTestV2000.mdb", ""},
    {"access/jackcess-V2000/overflowTestV2000.mdb", ""},
    {"access/jackcess-V2000/testPromotionV2000.mdb", ""},
    {"access/jackcess-V2000/testV2000.mdb", ""},
    {"access/jackcess-V2003/compIndexTestV2003.mdb", ""},
    {"access/jackcess-V2003/delTestV2003.mdb", ""},
    {"access/jackcess-V2003/fixedTextTestV2003.mdb", ""},
    {"access/jackcess-V2003/testUnicodeCompV2003.mdb", ""},
    {"access/jackcess-V2003/testV2003.mdb", ""},
    {"access/jackcess-templates/empty.mdb", ""},
    {"access/jackcess-templates/empty2003.mdb", ""},
    {"access/jackcess-templates/emptyJet4.mdb", ""},
    {"access/mdbtestdata/DateTestDatabase.mdb", ""},
    {"access/ucanaccess/password.mdb", "ucanaccess"},
    {"access/ucanaccess/reservedWordLeave.mdb", ""},
    {"access/ucanaccess/weirdObjectNames.mdb", ""},
    {"access/mdb-reader/password/data/V2000_with-password.mdb", "password"},
};

class StorageCorpus : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(StorageCorpus, ReadsLikeTheIndependentReader) {
    const auto file = test::corpusPath(GetParam().path).string();
    if (!fs::exists(file)) GTEST_SKIP() << "corpus file missing";
    const std::string diff = test::storage::compareWithReader(file, GetParam().password);
    if (!test::mdbReaderAvailable()) GTEST_SKIP() << "mdb-reader is not installed";
    EXPECT_EQ(diff, "") << file;
}

INSTANTIATE_TEST_SUITE_P(Jet4, StorageCorpus, ::testing::ValuesIn(kJet4Files));

TEST(StorageOpen, MissingFileNamesThePath) {
    try {
        Database::open("/nonexistent/dir/x.mdb", "", true);
        FAIL();
    } catch (const db::Error& e) {
        EXPECT_STREQ(e.what(), "Could not find file '/nonexistent/dir/x.mdb'.");
        EXPECT_EQ(e.number(), 3024);
    }
}

TEST(StorageOpen, WrongPasswordIsRefused) {
    const auto file = test::corpusPath("access/mdb-reader/password/data/V2000_with-password.mdb").string();
    try {
        Database::open(file, "wrong", true);
        FAIL();
    } catch (const db::Error& e) {
        EXPECT_STREQ(e.what(), "Not a valid password.");
    }
    try {
        Database::open(file, "", true);
        FAIL();
    } catch (const db::Error& e) {
        EXPECT_STREQ(e.what(), "Not a valid password.");
    }
    EXPECT_NO_THROW(Database::open(file, "password", true));
}

TEST(StorageOpen, OtherFormatsAreRecognised) {
    auto msg = [](const std::string& rel) {
        try {
            Database::open(test::corpusPath(rel).string(), "", true);
        } catch (const db::Error& e) {
            return std::string(e.what());
        }
        return std::string("opened");
    };
    EXPECT_EQ(msg("access/jackcess-V1997/testV1997.mdb"), "opened");
    EXPECT_EQ(msg("access/jackcess-V2010/testV2010.accdb"), "opened");
}

TEST(StorageOpen, NonAccessFileIsRefusedClearly) {
    test::TempDir dir;
    test::writeFile(dir.file("x.mdb"), std::string(10000, 'x'));
    test::writeFile(dir.file("empty.mdb"), "");
    for (const char* name : {"x.mdb", "empty.mdb"}) {
        try {
            Database::open(dir.file(name), "", true);
            FAIL();
        } catch (const db::Error& e) {
            EXPECT_EQ(std::string(e.what()), "Unrecognized database format '" + dir.file(name) + "'.");
        }
    }
}

TEST(StorageOpen, ListsKindsOfObjects) {
    auto db = Database::open(test::corpusPath("access/jackcess-V2000/testV2000.mdb").string(), "", true);
    int user = 0, system = 0;
    for (const auto& t : db->listTables()) {
        if (t.kind == TableKind::User) ++user;
        if (t.kind == TableKind::System) ++system;
        if (t.name == "MSysObjects") {
            EXPECT_EQ(t.kind, TableKind::System);
        }
    }
    EXPECT_GE(user, 2);
    EXPECT_GE(system, 4);
    EXPECT_EQ(db->findTable("msysobjects"), "MSysObjects");
    EXPECT_EQ(db->findTable("nope"), "");
}

}  // namespace
