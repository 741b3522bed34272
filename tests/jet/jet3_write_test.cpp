// Writing into Access 97 (Jet 3) files: tables with plain and accented names,
// 255 columns and long values added, filled, dropped and undone in units; the
// independent readers then see every earlier table unchanged and the new ones
// with their values, the catalog keys are those Access 97 wrote for like
// names, and what Jet 3 cannot hold fails its statement.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
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

const char* const kJet3Files[] = {
    "access/jackcess-V1997/delTestV1997.mdb",
    "access/jackcess-V1997/overflowTestV1997.mdb",
    "access/jackcess-V1997/testIndexCodesV1997.mdb",
    "access/jackcess-V1997/testV1997.mdb",
    "access/mdbtestdata/nwind.mdb",
    "access/ucanaccess/charsetGBK.mdb",
    "access/ucanaccess/size97.mdb",
};

ColumnDef col(const std::string& n, ColType t, int size = 255) {
    ColumnDef c;
    c.name = n;
    c.type = t;
    c.size = size;
    return c;
}

std::vector<ColumnDef> someColumns() {
    std::vector<ColumnDef> cols = {col("Id", ColType::Long),      col("Näme", ColType::Text, 50),
                                   col("Notes", ColType::Memo),   col("Flag", ColType::Bool),
                                   col("Price", ColType::Money),  col("Born", ColType::DateTime),
                                   col("Blob", ColType::OLE),     col("Exact", ColType::Numeric),
                                   col("Code", ColType::Text, 4), col("Ratio", ColType::Double)};
    cols[0].autoNumber = true;
    cols[7].scale = 2;
    cols[8].fixedLength = true;
    cols[1].notNull = true;
    return cols;
}

std::vector<Value> someRow(int i) {
    DateTime dt;
    dt.date = {1990 + i % 30, 1 + i % 12, 1 + i % 28};
    return {Value(),
            Value("näme € " + std::to_string(i)),
            i % 3 == 0 ? Value() : Value(std::string(size_t(i * 97), char('a' + i % 26)) + "ß"),
            Value(i % 2 == 1),
            Value(Currency{int64_t(i) * 10000 + 25}),
            Value(dt),
            Value(Bytes(size_t(i * 13), uint8_t(i))),
            Value(Decimal{std::to_string(i) + ".50"}),
            Value("é" + std::to_string(i % 10)),
            Value(i / 4.0)};
}

// 255 columns, every third a Memo.
std::vector<ColumnDef> wideColumns() {
    std::vector<ColumnDef> cols;
    for (int i = 0; i < 255; ++i)
        cols.push_back(i % 3 == 0 ? col("M" + std::to_string(i), ColType::Memo)
                                  : col("Feld" + std::to_string(i) + "ä", ColType::Text, 20));
    return cols;
}

std::vector<Value> wideRow(int r) {
    std::vector<Value> v;
    for (int i = 0; i < 255; ++i)
        v.push_back(i % 3 == 0 ? Value(std::string(size_t(i < 30 ? 2500 + r : 20), char('a' + i % 26)))
                               : Value("ü" + std::to_string((i + r) % 10)));
    return v;
}

// The dump's text of each table, by name.
std::map<std::string, std::string> tableBlocks(const std::string& dump) {
    std::map<std::string, std::string> out;
    std::istringstream in(dump);
    std::string line, name;
    while (std::getline(in, line)) {
        const size_t at = line.rfind("{\"name\":\"", 1);
        if (at <= 1 && line.find("\"rowCount\":") != std::string::npos)
            name = line.substr(at + 9, line.find("\",\"rowCount\"") - at - 9);
        if (!name.empty() && line != "]}") out[name] += line + "\n";
    }
    return out;
}

class Jet3WriteCorpus : public ::testing::TestWithParam<const char*> {};

TEST_P(Jet3WriteCorpus, EarlierTablesStayIntactAndNewOnesRead) {
    const auto src = test::corpusPath(GetParam()).string();
    if (!fs::exists(src)) GTEST_SKIP() << "corpus file missing";
    if (!test::mdbReaderAvailable()) GTEST_SKIP() << "mdb-reader unavailable";
    test::TempDir dir;
    const auto file = dir.file("copy.mdb");
    fs::copy_file(src, file);
    const auto before = test::mdbReaderDump(file);
    ASSERT_EQ(before.exitCode, 0) << before.err;
    {
        auto db = Database::open(file, "", false);
        db->createTable("Added One", someColumns());
        db->createTable("Größe Übersicht", someColumns());
        db->createTable("Wide", wideColumns());
        for (int i = 0; i < 40; ++i) db->insertRow("Added One", someRow(i));
        db->insertRow("Größe Übersicht", someRow(1));
        for (int r = 0; r < 3; ++r) db->insertRow("Wide", wideRow(r));
        db->createTable("Added Two", someColumns());
        db->insertRow("Added Two", someRow(2));
        db->dropTable("Added Two");
        // A unit undone leaves nothing; one kept keeps all.
        db->beginUnit();
        db->createTable("Undone", someColumns());
        db->insertRow("Undone", someRow(3));
        db->insertRow("Added One", someRow(3));
        db->rollbackUnit();
        db->beginUnit();
        db->createTable("Kept", {col("K", ColType::Text, 10)});
        db->insertRow("Kept", {Value("à")});
        db->commitUnit();
        // UPDATE and DELETE: rows removed, rows rewritten in place and moved.
        db->createTable("Changed", someColumns());
        for (int i = 0; i < 6; ++i) db->insertRow("Changed", someRow(i));
        EXPECT_EQ(db->changeRows("Changed",
                                 [](std::vector<Value>& row) {
                                     if (row[0].integer() % 3 == 0) return RowChange::Remove;
                                     row[2] = Value(std::string(300, 'u'));
                                     if (row[0].integer() % 2 == 0) row[1] = Value("ein viel längerer Näme");
                                     return RowChange::Replace;
                                 }),
                  6);
        db->close();
    }
    const auto after = test::mdbReaderDump(file);
    ASSERT_EQ(after.exitCode, 0) << after.err;
    auto was = tableBlocks(before.out), now = tableBlocks(after.out);
    for (const auto& [name, block] : was) EXPECT_EQ(now[name], block) << name;
    EXPECT_EQ(now.count("Added Two") + now.count("Undone"), 0u);
    ASSERT_EQ(now.count("Added One"), 1u);
    EXPECT_NE(now["Added One"].find("\"rowCount\":40"), std::string::npos);
    EXPECT_NE(now["Größe Übersicht"].find("\"rowCount\":1"), std::string::npos);
    EXPECT_NE(now["Wide"].find("\"rowCount\":3"), std::string::npos);
    EXPECT_NE(now["Kept"].find("\"à\""), std::string::npos);
    EXPECT_NE(now["Changed"].find("\"rowCount\":4"), std::string::npos);
    // Every value of the new tables as the reader sees it, against ours
    // (dates before 1900 in earlier tables read differently: jet3_read_test).
    std::istringstream diff(test::storage::compareWithReader(file));
    for (std::string line; std::getline(diff, line);)
        if (line.find("\"1899-") == std::string::npos) ADD_FAILURE() << line;
    if (test::mdbtoolsAvailable()) {
        const auto t = test::mdbtoolsDump(file);
        EXPECT_EQ(t.exitCode, 0) << t.err;
        EXPECT_NE(t.out.find("==== table: Added One (40 rows) ===="), std::string::npos);
        EXPECT_NE(t.out.find("==== table: Wide (3 rows) ===="), std::string::npos);
        EXPECT_NE(t.out.find("\"näme € 39\""), std::string::npos);
        EXPECT_NE(t.out.find(std::string(2502, 'a')), std::string::npos);
    }
    // The values as written, read back through our engine.
    auto db = Database::open(file, "", true);
    std::vector<Value> row;
    auto cur = db->scan("Added One");
    for (int n = 0; n < 40; ++n) {
        ASSERT_TRUE(cur->next(row));
        auto want = someRow(n);
        EXPECT_EQ(row[0].integer(), n + 1);
        for (size_t k = 1; k < want.size(); ++k)
            if (k < 7) {
                EXPECT_EQ(row[k], want[k]) << n << " " << k;
            }
        EXPECT_EQ(row[7].real(), n + 0.5);                // DECIMAL(18, 2): a Double in Access 97
        EXPECT_EQ(row[8], Value(want[8].text() + "  "));  // CHAR(4): padded with blanks
        EXPECT_EQ(row[9], want[9]);
    }
    EXPECT_FALSE(cur->next(row));
    EXPECT_TRUE(db->columns("Added One")[1].notNull);
}

INSTANTIATE_TEST_SUITE_P(Files, Jet3WriteCorpus, ::testing::ValuesIn(kJet3Files));

// The keys of MSysObjects' index leaves (row references left out).
std::set<std::string> catalogKeys(const std::string& file) {
    const std::string f = test::readFile(file);
    std::set<std::string> keys;
    for (size_t at = 3 * 2048; at + 2048 <= f.size(); at += 2048) {
        if (f[at] != 0x04 || test::storage::le32(f, at + 4) != 2) continue;
        const size_t prefix = uint8_t(f[at + 0x14]);
        std::string first;
        size_t start = 0;
        for (size_t bit = 0; bit < 226 * 8; ++bit) {
            if (!((uint8_t(f[at + 0x16 + bit / 8]) >> (bit % 8)) & 1)) continue;
            std::string e = f.substr(at + 0xF8 + start, bit - start);
            if (first.empty()) first = e;
            else e = first.substr(0, prefix) + e;
            if (e.size() > 4) keys.insert(e.substr(0, e.size() - 4));
            start = bit;
        }
    }
    return keys;
}

TEST(Jet3Write, CatalogKeysAreThoseAccess97WroteForLikeNames) {
    const auto src = test::corpusPath("access/jackcess-V1997/testV1997.mdb").string();
    const auto nwind = test::corpusPath("access/mdbtestdata/nwind.mdb").string();
    if (!fs::exists(src) || !fs::exists(nwind)) GTEST_SKIP() << "corpus file missing";
    test::TempDir dir;
    const auto file = dir.file("copy.mdb");
    fs::copy_file(src, file);
    const char* const names[] = {"Umsätze", "Order Details", "Categories"};
    {
        auto db = Database::open(file, "", false);
        for (const char* n : names) db->createTable(n, {col("A", ColType::Long)});
    }
    const auto old = catalogKeys(src), now = catalogKeys(file), access = catalogKeys(nwind);
    // The new tables' entries: their Id keys (ids of this file) and their
    // (ParentId, Name) keys, which must be those of nwind.mdb's like tables.
    size_t same = 0;
    for (const auto& k : now)
        if (!old.count(k) && access.count(k)) ++same;
    EXPECT_EQ(same, std::size(names));
    test::expectAccessFileSound(file);
}

// New Access 97 files, with and without a database password.
TEST(Jet3Create, NewFilesReadEverywhereAndKeepTheirPassword) {
    if (!test::mdbReaderAvailable()) GTEST_SKIP() << "mdb-reader unavailable";
    for (const std::string pw : {"", "Gehéim"}) {
        SCOPED_TRACE(pw);
        test::TempDir dir;
        const auto file = dir.file("new.mdb");
        {
            auto db = Database::create(file, pw, FileFormat::Jet3);
            EXPECT_EQ(db->format(), FileFormat::Jet3);
            db->createTable("Größe", someColumns());
            db->createTable("Wide", wideColumns());
            for (int i = 0; i < 12; ++i) db->insertRow("Größe", someRow(i));
            db->insertRow("Wide", wideRow(0));
            db->close();
        }
        EXPECT_EQ(test::storage::compareWithReader(file, pw), "");
        const auto dump = test::mdbReaderDump(file, pw);
        EXPECT_NE(dump.out.find("\"format\":\"JET3\""), std::string::npos) << dump.out.substr(0, 200);
        EXPECT_NE(tableBlocks(dump.out)["Größe"].find("\"rowCount\":12"), std::string::npos);
        if (pw.empty() && test::mdbtoolsAvailable()) {
            const auto t = test::mdbtoolsDump(file);
            EXPECT_EQ(t.exitCode, 0) << t.err;
            EXPECT_NE(t.out.find("==== table: Größe (12 rows) ===="), std::string::npos);
        }
        if (pw.empty()) continue;
        for (const std::string wrong : {"", "gehéim", "Geheim"}) {
            try {
                Database::open(file, wrong, true);
                ADD_FAILURE() << "opened with '" << wrong << "'";
            } catch (const db::Error& e) {
                EXPECT_EQ(e.number(), 3031) << e.what();
            }
        }
    }
}

// Key statements that fail on an Access 97 file (keys: jet3_keys_test.cpp)
// leave it as it was, byte for byte.
TEST(Jet3Write, FailingKeyStatementsLeaveTheFileUnchanged) {
    const auto src = test::corpusPath("access/jackcess-V1997/testV1997.mdb");
    if (!fs::exists(src)) GTEST_SKIP() << "corpus file missing";
    test::TempDir dir;
    const std::string file = dir.file("copy.mdb");
    fs::copy_file(src, file);
    const std::string before = test::readFile(file);
    {
        auto db = Database::open(file, "", false);
        auto fails = [&](long number, const std::function<void()>& f) {
            try {
                f();
                ADD_FAILURE() << "not refused";
            } catch (const db::Error& e) {
                EXPECT_EQ(e.number(), number) << e.what();
            }
        };
        IndexDef ix;
        ix.name = "ByA";
        ix.table = "Table1";
        ix.columns = {{"A", false}};
        ix.primary = true;
        fails(3283, [&] { db->createIndex(ix); });  // Table1 has its primary key
        ix.primary = false;
        ix.name = "b";
        fails(3375, [&] { db->createIndex(ix); });  // and an index named B
        ix.name = "ByZ";
        ix.columns = {{"Z", false}};
        fails(3265, [&] { db->createIndex(ix); });
        fails(3372, [&] { db->dropIndex("Table1", "ByA", false); });
        RelationshipDef r;
        r.name = "Rel";
        r.table = "Table1";
        r.columns = {"A"};
        r.referenced = "Table4";  // keyed on a Replication ID
        fails(3368, [&] { db->addRelationship(r); });
        r.columns = {"E"};
        r.referenced = "Table3";  // keyed on its Long a, and empty
        fails(3379, [&] { db->addRelationship(r); });
        db->close();
    }
    EXPECT_EQ(test::readFile(file), before);
}

// No Decimal type, no characters beyond the code page: DECIMAL columns
// become Currency (scale up to 4, at most 15 digits before the point) or
// Double; a value either keeps exactly or fails its statement, naming the
// field and the value, and nothing of the row is stored.
TEST(Jet3Write, WhatAccess97CannotHoldFailsItsStatement) {
    const auto src = test::corpusPath("access/ucanaccess/size97.mdb");
    if (!fs::exists(src)) GTEST_SKIP() << "corpus file missing";
    test::TempDir dir;
    const std::string file = dir.file("copy.mdb");
    fs::copy_file(src, file);
    auto db = Database::open(file, "", false);
    std::vector<ColumnDef> cols = {col("Money", ColType::Numeric), col("Wide", ColType::Numeric),
                                   col("Fine", ColType::Numeric), col("T", ColType::Text, 10)};
    cols[0].precision = 10, cols[0].scale = 2;
    cols[1].precision = 18, cols[1].scale = 2;
    cols[2].precision = 10, cols[2].scale = 6;
    db->createTable("Numbers", cols);
    const auto stored = db->columns("Numbers");
    EXPECT_EQ(stored[0].type, ColType::Money);
    EXPECT_EQ(stored[1].type, ColType::Double);
    EXPECT_EQ(stored[2].type, ColType::Double);
    auto fails = [&](std::vector<Value> v, const std::string& field, const std::string& value) {
        try {
            db->insertRow("Numbers", v);
            ADD_FAILURE() << "stored " << value;
        } catch (const db::Error& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("'" + field + "'"), std::string::npos) << what;
            EXPECT_NE(what.find(value), std::string::npos) << what;
        }
    };
    db->insertRow("Numbers", {Value(Decimal{"-12345678901.1234"}), Value(Decimal{"0.1"}), Value(Decimal{"1234.567891"}),
                              Value("€ Ä")});
    fails({Value(Decimal{"1.23456"}), Value(), Value(), Value()}, "Money", "1.23456");
    fails({Value(), Value(Decimal{"12345678901234567.89"}), Value(), Value()}, "Wide", "12345678901234567.89");
    fails({Value(), Value(), Value(), Value("Ωmega")}, "T", "Ωmega");
    std::vector<Value> row;
    auto cur = db->scan("Numbers");
    ASSERT_TRUE(cur->next(row));
    EXPECT_EQ(row[0], Value(Currency{-123456789011234}));
    EXPECT_EQ(row[1], Value(0.1));
    EXPECT_EQ(row[2], Value(1234.567891));
    EXPECT_EQ(row[3], Value("€ Ä"));
    EXPECT_FALSE(cur->next(row));
}

}  // namespace
