// Reading .accdb files of every ACE version: every table, column and value as
// the independent readers see them; columns the engine cannot read are listed
// and refused by name, never shown with wrong values.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "db/error.h"
#include "db/jet/database.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db::jet;
namespace fs = std::filesystem;

namespace {

struct AceFile {
    const char* path;
    const char* password;
    FileFormat format;
};

const AceFile kReadable[] = {
    {"access/jackcess-V2007/fixedTextTestV2007.accdb", "", FileFormat::Ace12},
    {"access/jackcess-V2007/oldDatesV2007.accdb", "", FileFormat::Ace12},
    {"access/jackcess-V2007/testV2007.accdb", "", FileFormat::Ace12},
    {"access/jackcess-V2010/binIdxTestV2010.accdb", "", FileFormat::Ace14},
    {"access/jackcess-V2010/testEmoticonsV2010.accdb", "", FileFormat::Ace14},
    {"access/jackcess-V2010/testV2010.accdb", "", FileFormat::Ace14},
    {"access/jackcess-templates/empty2007.accdb", "", FileFormat::Ace12},
    {"access/jackcess-templates/empty2010.accdb", "", FileFormat::Ace14},
    {"access/jackcess-templates/empty2016.accdb", "", FileFormat::Ace16},
    {"access/jackcess-templates/empty2019.accdb", "", FileFormat::Ace17},
    {"access/mdb-reader/data/V2016/bigint.accdb", "", FileFormat::Ace16},
    {"access/mdb-reader/data/V2016/currency.accdb", "", FileFormat::Ace12},
    {"access/mdb-reader/data/V2016/longtext.accdb", "", FileFormat::Ace12},
    {"access/mdb-reader/encryption/data/office-agile-4.2.accdb", "password", FileFormat::Ace14},
};

class AceCorpus : public ::testing::TestWithParam<AceFile> {};

// Table names and row counts from mdbtools' dump ("==== table: NAME (N rows) ====").
std::map<std::string, int> mdbtoolsTables(const std::string& dump) {
    std::map<std::string, int> out;
    std::istringstream in(dump);
    std::string line;
    const std::string head = "==== table: ";
    while (std::getline(in, line)) {
        if (line.rfind(head, 0) != 0) continue;
        const size_t open = line.rfind(" (");
        if (open == std::string::npos || open < head.size()) continue;
        out[line.substr(head.size(), open - head.size())] = std::atoi(line.c_str() + open + 2);
    }
    return out;
}

TEST_P(AceCorpus, ReadsLikeTheIndependentReaders) {
    const auto file = test::corpusPath(GetParam().path).string();
    if (!fs::exists(file)) GTEST_SKIP() << "corpus file missing";
    auto db = Database::open(file, GetParam().password, true);
    EXPECT_EQ(db->format(), GetParam().format);
    const std::string diff = test::storage::compareWithReader(file, GetParam().password);
    if (!test::mdbReaderAvailable()) GTEST_SKIP() << "mdb-reader is not installed";
    EXPECT_EQ(diff, "") << file;
    if (*GetParam().password || !test::mdbtoolsAvailable()) return;
    const auto dump = test::mdbtoolsDump(file);
    if (dump.exitCode != 0) return;  // mdbtools cannot read every file
    std::map<std::string, int> ours;
    for (const auto& t : db->listTables()) {
        if (t.kind != TableKind::User) continue;
        auto cur = db->scan(t.name);
        std::vector<db::Value> row;
        int n = 0;
        while (cur->next(row)) ++n;
        ours[t.name] = n;
    }
    EXPECT_EQ(ours, mdbtoolsTables(dump.out)) << file;
}

INSTANTIATE_TEST_SUITE_P(Ace, AceCorpus, ::testing::ValuesIn(kReadable));

std::string scanError(Database& db, const std::string& table) {
    try {
        auto cur = db.scan(table);
        std::vector<db::Value> row;
        while (cur->next(row)) {}
    } catch (const db::Error& e) {
        return std::to_string(e.number()) + " " + e.what();
    }
    return "";
}

TEST(AceUnsupportedColumns, AttachmentsListButAreRefusedOnRead) {
    const auto file = test::corpusPath("access/mdb-reader/data/V2016/attachments.accdb").string();
    if (!fs::exists(file)) GTEST_SKIP() << "corpus file missing";
    auto db = Database::open(file, "", true);
    auto cols = db->columns("Table1");
    ASSERT_EQ(cols.size(), 3u);
    EXPECT_EQ(cols[2].name, "Attachments");
    EXPECT_EQ(cols[2].type, ColType::Complex);
    EXPECT_EQ(scanError(*db, "Table1"),
              "3251 The column 'Attachments' of table 'Table1' in '" + file +
                  "' is an attachment or multi-value field, which this database engine cannot read.");
}

TEST(AceUnsupportedColumns, UnknownTypesAndMultiValueAreRefusedByName) {
    const auto file = test::corpusPath("access/jackcess-V2007/unsupportedFieldsTestV2007.accdb").string();
    if (!fs::exists(file)) GTEST_SKIP() << "corpus file missing";
    auto db = Database::open(file, "", true);
    std::set<std::string> names;
    for (const auto& c : db->columns("Test")) names.insert(c.name);
    EXPECT_EQ(names, (std::set<std::string>{"ID", "UnknownVar", "UnknownFix", "UnknownComplex"}));
    const std::string err = scanError(*db, "Test");
    EXPECT_NE(err.find("3251 The column 'UnknownVar' of table 'Test' in '" + file + "' is of an unknown field type"),
              std::string::npos)
        << err;
    for (const char* f :
         {"access/jackcess-V2007/complexDataTestV2007.accdb", "access/jackcess-V2010/complexDataTestV2010.accdb"}) {
        auto other = Database::open(test::corpusPath(f).string(), "", true);
        int refused = 0;
        for (const auto& t : other->listTables())
            if (t.kind == TableKind::User && !scanError(*other, t.name).empty()) ++refused;
        EXPECT_GT(refused, 0) << f;
    }
}

TEST(AceCalculatedColumns, ValuesAreUnwrapped) {
    const auto file = test::corpusPath("access/jackcess-V2010/calcFieldTestV2010.accdb").string();
    if (!fs::exists(file)) GTEST_SKIP() << "corpus file missing";
    auto db = Database::open(file, "", true);
    EXPECT_EQ(db->format(), FileFormat::Ace14);
    // Decimal results use a layout of their own: refused, not guessed.
    EXPECT_NE(scanError(*db, "Table1")
                  .find("'DecimalTest' of table 'Table1' in '" + file + "' is a calculated Decimal field"),
              std::string::npos);
}

TEST(AceOpen, WrongPasswordIsRefused) {
    const auto file = test::corpusPath("access/mdb-reader/encryption/data/office-agile-4.2.accdb").string();
    if (!fs::exists(file)) GTEST_SKIP() << "corpus file missing";
    for (const char* pw : {"", "Password", "wrong"}) {
        try {
            Database::open(file, pw, true);
            ADD_FAILURE() << pw;
        } catch (const db::Error& e) {
            EXPECT_STREQ(e.what(), "Not a valid password.");
            EXPECT_EQ(e.number(), 3031);
        }
    }
}

}  // namespace
