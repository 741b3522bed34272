// Creating databases, tables and rows, and dropping tables: what we write must
// read back the same through our engine and the independent readers.
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

std::vector<ColumnDef> mixedColumns() {
    auto col = [](const char* n, ColType t, int size = 255) { return test::storage::column(n, t, size); };
    std::vector<ColumnDef> cols = {
        col("Id", ColType::Long),       col("Name", ColType::Text, 50),  col("Notes", ColType::Memo),
        col("Flag", ColType::Bool),     col("Small", ColType::Byte),     col("Short", ColType::Int),
        col("Price", ColType::Money),   col("Ratio", ColType::Float),    col("Amount", ColType::Double),
        col("Born", ColType::DateTime), col("Raw", ColType::Binary, 16), col("Blob", ColType::OLE),
        col("Key", ColType::Guid),      col("Exact", ColType::Numeric)};
    cols[0].autoNumber = true;
    cols.back().precision = 18;
    cols.back().scale = 4;
    return cols;
}

std::vector<Value> mixedRow(int i, const std::string& memo) {
    DateTime dt;
    dt.date = {2001 + i % 20, 1 + i % 12, 1 + i % 28};
    dt.hour = i % 24;
    dt.minute = 30;
    return {Value(),
            Value(std::string("name ") + std::to_string(i)),
            memo.empty() ? Value() : Value(memo),
            Value(i % 2 == 0),
            Value(int64_t(i % 256)),
            Value(int64_t(i % 30000 - 15000)),
            Value(Currency{int64_t(i) * 12345}),
            Value(0.5 + i),
            Value(1.0 / (i + 1)),
            Value(dt),
            Value(Bytes{uint8_t(i), 1, 2, 3}),
            Value(Bytes(size_t(i % 100), uint8_t(7))),
            Value(std::string("{6F9619FF-8B86-D011-B42D-00C04FC964FF}")),
            Value(Decimal{std::to_string(i) + ".1250"})};
}

std::string mdbtoolsOk(const std::string& file) {
    if (!test::mdbtoolsAvailable()) return "";
    auto r = test::mdbtoolsDump(file);
    if (r.exitCode != 0) return "mdbtools failed: " + r.err + r.out;
    return "";
}

TEST(StorageCreate, NewDatabaseOpensEverywhere) {
    test::TempDir dir;
    const auto file = dir.file("new.mdb");
    Database::create(file, "")->close();
    EXPECT_EQ(fs::file_size(file) % 4096, 0u);
    auto db = Database::open(file, "", false);
    int system = 0;
    for (const auto& t : db->listTables()) {
        EXPECT_EQ(t.kind, TableKind::System) << t.name;
        ++system;
    }
    EXPECT_EQ(system, 4);
    db->close();
    const std::string diff = test::storage::compareWithReader(file);
    EXPECT_EQ(diff, "");
    auto r = test::mdbReaderDump(file);
    if (test::mdbReaderAvailable()) {
        EXPECT_EQ(r.exitCode, 0) << r.err;
    }
    EXPECT_EQ(mdbtoolsOk(file), "");
    if (test::mdbtoolsAvailable()) {
        auto v = test::runCommand({"mdb-ver", file});
        EXPECT_EQ(v.out, "JET4\n");
    }
}

TEST(StorageCreate, PasswordIsRequiredAfterwards) {
    test::TempDir dir;
    const auto file = dir.file("pw.mdb");
    Database::create(file, "s3cret")->close();
    EXPECT_THROW(Database::open(file, "", true), db::Error);
    EXPECT_THROW(Database::open(file, "S3CRET", true), db::Error);
    EXPECT_NO_THROW(Database::open(file, "s3cret", true));
    if (test::mdbReaderAvailable()) {
        auto r = test::mdbReaderDump(file);
        EXPECT_NE(r.out.find("\"password\":\"s3cret\""), std::string::npos) << r.out.substr(0, 200);
    }
    EXPECT_THROW(Database::create(file, ""), db::Error);  // exists
}

TEST(StorageWrite, EveryTypeRoundTripsThroughTheReaders) {
    test::TempDir dir;
    const auto file = dir.file("types.mdb");
    {
        auto db = Database::create(file, "");
        db->createTable("Mixed", mixedColumns());
        for (int i = 0; i < 300; ++i) db->insertRow("Mixed", mixedRow(i, i % 3 ? std::string(size_t(i * 7), 'm') : ""));
        std::vector<Value> nulls(14);
        db->insertRow("Mixed", nulls);
        db->close();
    }
    auto db = Database::open(file, "", true);
    auto cur = db->scan("Mixed");
    std::vector<Value> row;
    int n = 0;
    while (cur->next(row)) {
        if (n < 300) {
            auto want = mixedRow(n, n % 3 ? std::string(size_t(n * 7), 'm') : "");
            want[0] = Value(int64_t(n + 1));
            for (size_t k = 0; k < row.size(); ++k) EXPECT_EQ(row[k], want[k]) << "row " << n << " col " << k;
        } else {
            EXPECT_EQ(row[0], Value(int64_t(301)));
            EXPECT_EQ(row[3], Value(false));
            for (size_t k = 1; k < row.size(); ++k)
                if (k != 3) {
                    EXPECT_TRUE(row[k].isNull()) << k;
                }
        }
        ++n;
    }
    EXPECT_EQ(n, 301);
    db->close();
    const std::string diff = test::storage::compareWithReader(file);
    EXPECT_EQ(diff, "");
    EXPECT_EQ(mdbtoolsOk(file), "");
}

TEST(StorageWrite, LongTextOfEverySize) {
    test::TempDir dir;
    const auto file = dir.file("memo.mdb");
    const std::vector<std::string> texts = {
        "x", std::string(4000, 'a'), std::string(70000, 'b'), std::string(5000000, 'c'),
        "Caf\xC3\xA9 \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80"};
    {
        auto db = Database::create(file, "");
        ColumnDef a{"N", ColType::Long}, b{"T", ColType::Memo}, c{"S", ColType::Text};
        c.size = 40;
        db->createTable("Memos", {a, b, c});
        for (size_t i = 0; i < texts.size(); ++i)
            db->insertRow("Memos", {Value(int64_t(i)), Value(texts[i]), Value(texts.back())});
        db->close();
    }
    auto db = Database::open(file, "", true);
    auto cur = db->scan("Memos");
    std::vector<Value> row;
    size_t i = 0;
    while (cur->next(row)) {
        ASSERT_LT(i, texts.size());
        EXPECT_EQ(row[1].text().size(), texts[i].size());
        EXPECT_TRUE(row[1].text() == texts[i]) << i;
        EXPECT_EQ(row[2].text(), texts.back());
        ++i;
    }
    EXPECT_EQ(i, texts.size());
    db->close();
    const std::string diff = test::storage::compareWithReader(file);
    EXPECT_EQ(diff, "");
    EXPECT_EQ(mdbtoolsOk(file), "");
}

TEST(StorageWrite, TextTooLongIsRefused) {
    test::TempDir dir;
    auto db = Database::create(dir.file("t.mdb"), "");
    ColumnDef c{"S", ColType::Text};
    c.size = 3;
    db->createTable("T", {c});
    EXPECT_NO_THROW(db->insertRow("T", {Value("abc")}));
    try {
        db->insertRow("T", {Value("abcd")});
        FAIL();
    } catch (const db::Error& e) {
        EXPECT_EQ(e.number(), 3163);
    }
    EXPECT_THROW(db->insertRow("T", {Value("a"), Value("b")}), db::Error);
    EXPECT_THROW(db->createTable("t", {c}), db::Error);
}

TEST(StorageWrite, ManyTablesDropAndRecreate) {
    test::TempDir dir;
    const auto file = dir.file("many.mdb");
    {
        auto db = Database::create(file, "");
        ColumnDef a{"N", ColType::Long}, b{"T", ColType::Memo};
        for (int i = 0; i < 300; ++i) {
            const std::string name = "Table number " + std::to_string(i);
            db->createTable(name, {a, b});
            db->insertRow(name, {Value(int64_t(i)), Value(std::string(size_t(i * 20), 'z'))});
        }
        for (int i = 0; i < 300; i += 3) db->dropTable("table number " + std::to_string(i));
        for (int cycle = 0; cycle < 5; ++cycle) {
            db->createTable("Again", {a});
            db->insertRow("Again", {Value(int64_t(cycle))});
            db->dropTable("Again");
        }
        EXPECT_THROW(db->dropTable("Again"), db::Error);
        db->close();
    }
    auto db = Database::open(file, "", true);
    int user = 0;
    for (const auto& t : db->listTables())
        if (t.kind == TableKind::User) ++user;
    EXPECT_EQ(user, 200);
    db->close();
    const std::string diff = test::storage::compareWithReader(file);
    EXPECT_EQ(diff, "");
    EXPECT_EQ(mdbtoolsOk(file), "");
}

class StorageWriteCorpus : public ::testing::TestWithParam<const char*> {};

TEST_P(StorageWriteCorpus, EarlierTablesStayIntact) {
    const auto src = test::corpusPath(GetParam()).string();
    if (!fs::exists(src)) GTEST_SKIP();
    if (!test::mdbReaderAvailable()) GTEST_SKIP();
    test::TempDir dir;
    const auto file = dir.file("copy.mdb");
    fs::copy_file(src, file);
    const auto before = test::mdbReaderDump(file);
    ASSERT_EQ(before.exitCode, 0);
    {
        auto db = Database::open(file, "", false);
        db->createTable("Added One", mixedColumns());
        db->createTable("Added Two", mixedColumns());
        for (int i = 0; i < 50; ++i) db->insertRow("Added One", mixedRow(i, std::string(size_t(i * 100), 'q')));
        db->dropTable("Added Two");
        db->close();
    }
    const auto after = test::mdbReaderDump(file);
    ASSERT_EQ(after.exitCode, 0) << after.err;
    // Every earlier table reads as before.
    auto db = Database::open(file, "", true);
    const std::string diff = test::storage::compareWithReader(file);
    EXPECT_EQ(diff, "");
    EXPECT_NE(after.out.find(before.out.substr(before.out.find("\"tables\":[") + 10, 200)), std::string::npos);
    EXPECT_EQ(mdbtoolsOk(file), "");
}

INSTANTIATE_TEST_SUITE_P(Jet4, StorageWriteCorpus,
                         ::testing::Values("access/jackcess-V2000/testV2000.mdb", "access/jackcess-V2003/testV2003.mdb",
                                           "access/jackcess-templates/empty.mdb",
                                           "access/jackcess-templates/emptyJet4.mdb",
                                           "access/mdbtestdata/DateTestDatabase.mdb",
                                           "access/jackcess-V2003/testUnicodeCompV2003.mdb"));

}  // namespace

namespace {

// The global page map grows with the file, as the engine's own files do: every
// page of the file is marked in use, the rest of the window free.
TEST(StorageWrite, GlobalMapCoversAGrowingFile) {
    test::TempDir dir;
    const auto file = dir.file("big.mdb");
    {
        auto db = Database::create(file, "");
        ColumnDef a{"N", ColType::Long}, b{"T", ColType::Memo};
        db->createTable("Big", {a, b});
        for (int i = 0; i < 1500; ++i) db->insertRow("Big", {Value(int64_t(i)), Value(std::string(2000, 'g'))});
        db->close();
    }
    const std::string f = test::readFile(file);
    const size_t pages = f.size() / 4096;
    ASSERT_GT(pages, 1500u);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(f.data()) + 4096;
    const size_t start = p[14] | (p[15] << 8);
    const size_t len = 4096 - start;
    const uint8_t* row = p + start;
    ASSERT_EQ(row[0], 0);
    ASSERT_GE((len - 5) * 8, pages);
    size_t inUse = 0;
    for (size_t pg = 0; pg < (len - 5) * 8; ++pg) {
        const bool free = row[5 + pg / 8] & (1u << (pg % 8));
        if (pg < pages) {
            inUse += !free;
        } else {
            EXPECT_TRUE(free) << pg;
        }
    }
    EXPECT_EQ(inUse, pages);
    const std::string diff = test::storage::compareWithReader(file);
    EXPECT_EQ(diff, "");
}

}  // namespace
