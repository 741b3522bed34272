// Writing into .accdb files (plain and encrypted): tables added, filled and
// dropped through the same code as for Jet 4; the independent reader then sees
// every earlier table unchanged and the new table with its values.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "db/error.h"
#include "db/jet/database.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
using namespace tp::db::jet;
namespace fs = std::filesystem;

namespace {

ColumnDef col(const char* n, ColType t, int size = 255) {
    ColumnDef c;
    c.name = n;
    c.type = t;
    c.size = size;
    return c;
}

std::vector<ColumnDef> someColumns() {
    std::vector<ColumnDef> cols = {col("Id", ColType::Long),     col("Name", ColType::Text, 50),
                                   col("Notes", ColType::Memo),  col("Flag", ColType::Bool),
                                   col("Price", ColType::Money), col("Born", ColType::DateTime),
                                   col("Blob", ColType::OLE),    col("Exact", ColType::Numeric)};
    cols[0].autoNumber = true;
    cols.back().scale = 2;
    return cols;
}

std::vector<Value> someRow(int i) {
    DateTime dt;
    dt.date = {1990 + i % 30, 1 + i % 12, 1 + i % 28};
    return {Value(),
            Value("näme " + std::to_string(i)),
            i % 3 == 0 ? Value() : Value(std::string(size_t(i * 97), char('a' + i % 26))),
            Value(i % 2 == 1),
            Value(Currency{int64_t(i) * 10000 + 25}),
            Value(dt),
            Value(Bytes(size_t(i * 13), uint8_t(i))),
            Value(Decimal{std::to_string(i) + ".50"})};
}

// The dump's text of each table ("{"name":... up to the next table), by name.
std::map<std::string, std::string> tableBlocks(const std::string& dump) {
    std::map<std::string, std::string> out;
    std::string text = dump;
    if (text.size() >= 3 && text.compare(text.size() - 3, 3, "]}\n") == 0) text.resize(text.size() - 3);
    std::istringstream in(text);
    std::string line, name, block;
    auto done = [&] {
        if (!name.empty()) out[name] = block;
        block.clear();
    };
    while (std::getline(in, line)) {
        const size_t at = line.rfind("{\"name\":\"", 1);
        if (at <= 1 && line.find("\"rowCount\":") != std::string::npos) {
            done();
            name = line.substr(at + 9, line.find("\",\"rowCount\"") - at - 9);
            block = line.substr(at);
        } else {
            block += line + "\n";
        }
    }
    done();
    return out;
}

struct WriteCase {
    const char* path;
    const char* password;
};

class AceWriteCorpus : public ::testing::TestWithParam<WriteCase> {};

TEST_P(AceWriteCorpus, EarlierTablesStayIntactAndNewOnesRead) {
    const auto src = test::corpusPath(GetParam().path).string();
    if (!fs::exists(src)) GTEST_SKIP() << "corpus file missing";
    if (!test::mdbReaderAvailable()) GTEST_SKIP() << "mdb-reader unavailable";
    const std::string pw = GetParam().password;
    test::TempDir dir;
    const auto file = dir.file("copy.accdb");
    fs::copy_file(src, file);
    const auto before = test::mdbReaderDump(file, pw);
    ASSERT_EQ(before.exitCode, 0) << before.err;
    {
        auto db = Database::open(file, pw, false);
        db->createTable("Added One", someColumns());
        db->createTable("Added Two", someColumns());
        for (int i = 0; i < 40; ++i) db->insertRow("Added One", someRow(i));
        db->insertRow("Added Two", someRow(1));
        db->dropTable("Added Two");
        db->close();
    }
    const auto after = test::mdbReaderDump(file, pw);
    ASSERT_EQ(after.exitCode, 0) << after.err;
    auto was = tableBlocks(before.out), now = tableBlocks(after.out);
    for (const auto& [name, block] : was) EXPECT_EQ(now[name], block) << name;
    EXPECT_EQ(now.count("Added Two"), 0u);
    ASSERT_EQ(now.count("Added One"), 1u);
    EXPECT_NE(now["Added One"].find("\"rowCount\":40"), std::string::npos);
    // The new table's values as we wrote them, compared through the reader.
    auto db = Database::open(file, pw, true);
    std::vector<Value> row;
    auto cur = db->scan("Added One");
    int n = 0;
    while (cur->next(row)) {
        auto want = someRow(n);
        EXPECT_EQ(row[1].text(), want[1].text());
        EXPECT_EQ(row[2].kind(), want[2].kind());
        ++n;
    }
    EXPECT_EQ(n, 40);
    if (pw.empty()) {
        if (test::mdbtoolsAvailable() && test::mdbtoolsDump(src).exitCode == 0) {
            const auto t = test::mdbtoolsDump(file);
            EXPECT_EQ(t.exitCode, 0) << t.err;
            EXPECT_NE(t.out.find("==== table: Added One (40 rows) ===="), std::string::npos);
        }
        try {
            EXPECT_EQ(test::storage::compareWithReader(file, pw), "");
        } catch (const db::Error& e) {
            EXPECT_EQ(e.number(), 3251) << e.what();  // a column we cannot read
        }
    } else {
        // Every page written stays encrypted: no plain text of ours in the file.
        const std::string raw = test::readFile(file);
        EXPECT_EQ(raw.find("Added One"), std::string::npos);
        EXPECT_EQ(raw.find("aaaaaaaaaaaa"), std::string::npos);
        EXPECT_EQ(test::storage::compareWithReader(file, pw), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Ace, AceWriteCorpus,
                         ::testing::Values(WriteCase{"access/jackcess-V2007/testV2007.accdb", ""},
                                           WriteCase{"access/jackcess-V2010/testV2010.accdb", ""},
                                           WriteCase{"access/jackcess-templates/empty2016.accdb", ""},
                                           WriteCase{"access/jackcess-templates/empty2019.accdb", ""},
                                           WriteCase{"access/mdb-reader/data/V2016/attachments.accdb", ""},
                                           WriteCase{"access/mdb-reader/data/V2016/bigint.accdb", ""},
                                           WriteCase{"access/jackcess-V2010/calcFieldTestV2010.accdb", ""},
                                           WriteCase{"access/mdb-reader/encryption/data/office-agile-4.2.accdb",
                                                     "password"}));

TEST(AceWrite, TablesWithFieldsWeCannotWriteAreLeftAlone) {
    test::TempDir dir;
    const auto attach = dir.file("attach.accdb"), calc = dir.file("calc.accdb");
    fs::copy_file(test::corpusPath("access/mdb-reader/data/V2016/attachments.accdb"), attach);
    fs::copy_file(test::corpusPath("access/jackcess-V2010/calcFieldTestV2010.accdb"), calc);
    const std::string before = test::readFile(attach);
    {
        auto db = Database::open(attach, "", false);
        try {
            db->insertRow("Table1", {Value(), Value("x"), Value()});
            ADD_FAILURE() << "inserted";
        } catch (const db::Error& e) {
            EXPECT_EQ(e.number(), 3251);
            EXPECT_NE(std::string(e.what()).find("'Attachments'"), std::string::npos) << e.what();
        }
        try {
            db->dropTable("Table1");
            ADD_FAILURE() << "dropped";
        } catch (const db::Error& e) {
            EXPECT_NE(std::string(e.what()).find("cannot drop"), std::string::npos) << e.what();
        }
        db->close();
    }
    EXPECT_EQ(test::readFile(attach), before);
    auto db = Database::open(calc, "", false);
    std::vector<Value> row(db->columns("Table1").size());
    try {
        db->insertRow("Table1", row);
        ADD_FAILURE() << "inserted";
    } catch (const db::Error& e) {
        EXPECT_NE(std::string(e.what()).find("is a calculated field, which this database engine cannot write"),
                  std::string::npos)
            << e.what();
    }
}

}  // namespace
