// Keys, indexes and relationships made with Access's SQL: the definitions
// are Access's own (compared with the files Access wrote), and what breaks a
// key or a relationship is refused with Access's error, leaving a sound file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "db/ado.h"
#include "db/error.h"
#include "db/jet/database.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
namespace fs = std::filesystem;

namespace {

using test::storage::le16;
using test::storage::le32;

// A table's index definitions as Access keeps them, with what differs from
// file to file (page numbers, map references, counts) left out: per real
// index its columns and flags, per logical index its block without the
// related table's page, and its name.
std::vector<std::string> indexDefinitions(const std::string& file, const std::string& table) {
    uint32_t page;
    {
        auto db = jet::Database::open(file, "", true);
        page = test::storage::tableId(*db, table);
    }
    const std::string f = test::readFile(file);
    std::string s;
    for (uint32_t p = page; p != 0; p = le32(f, size_t(p) * 4096 + 4))
        s += s.empty() ? f.substr(size_t(p) * 4096, 4096) : f.substr(size_t(p) * 4096 + 8, 4096 - 8);
    const uint16_t numCols = le16(s, 0x2D);
    const uint32_t numLogical = le32(s, 0x2F), numReal = le32(s, 0x33);
    size_t pos = 0x3F + 12 * size_t(numReal);
    std::vector<uint16_t> numbers;
    for (int i = 0; i < numCols; ++i, pos += 25) numbers.push_back(le16(s, pos + 5));
    std::map<uint16_t, std::string> names;
    for (int i = 0; i < numCols; ++i) {
        names[numbers[size_t(i)]] = s.substr(pos + 2, le16(s, pos));
        pos += 2 + le16(s, pos);
    }
    std::vector<std::string> out;
    for (uint32_t i = 0; i < numReal; ++i, pos += 52) {
        std::string real = "real";
        for (size_t k = 0; k < 10; ++k)
            if (const uint16_t n = le16(s, pos + 4 + 3 * k); n != 0xFFFF)
                real += " " + names[n] + (s[pos + 6 + 3 * k] & 1 ? "" : " DESC");
        out.push_back(real + " flags " + std::to_string(uint8_t(s[pos + 46])));
    }
    std::vector<std::string> blocks;
    for (uint32_t i = 0; i < numLogical; ++i, pos += 28) blocks.push_back(s.substr(pos, 17) + s.substr(pos + 21, 7));
    for (uint32_t i = 0; i < numLogical; ++i) {
        const uint16_t len = le16(s, pos);
        out.push_back("logical " + blocks[i] + s.substr(pos + 2, len));
        pos += 2 + len;
    }
    return out;
}

void open(Connection& c, const std::string& file) {
    registerBuiltinProviders();
    c.Mode = adModeReadWrite;
    c.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + file);
}

void run(Connection& c, const std::string& sql) { c.Execute(sql); }

long errorOf(Connection& c, const std::string& sql) {
    try {
        c.Execute(sql);
    } catch (const Error& e) {
        return e.number();
    }
    return 0;
}

}  // namespace

// The design of the corpus's relationship files (primary keys, a plain index
// beside each, two enforced relationships with cascades), made with SQL in a
// new file of the same version: every definition byte that is not a page
// number or a count is the one Access wrote, and so are the relationships.
TEST(Keys, DefinitionsAreThoseAccessWrites) {
    struct Case {
        const char* source;
        jet::FileFormat format;
        const char* ext;
    };
    for (const Case& k : {Case{"access/jackcess-V2000/indexTestV2000.mdb", jet::FileFormat::Jet4, ".mdb"},
                          Case{"access/jackcess-V2010/indexTestV2010.accdb", jet::FileFormat::Ace14, ".accdb"}}) {
        SCOPED_TRACE(k.source);
        const std::string original = test::corpusPath(k.source).string();
        if (!fs::exists(original)) GTEST_SKIP();
        test::TempDir dir;
        const std::string file = dir.file(std::string("made") + k.ext);
        jet::Database::create(file, "", k.format)->close();
        {
            Connection c;
            open(c, file);
            for (const char* sql :
                 {"CREATE TABLE Table1 (id LONG, otherfk1 LONG, otherfk2 LONG, data TEXT(50), otherfk3 LONG)",
                  "CREATE TABLE Table2 (id LONG, data TEXT(50))", "CREATE TABLE Table3 (id LONG, data TEXT(50))",
                  "INSERT INTO Table2 VALUES (1, 'one')", "INSERT INTO Table3 VALUES (7, 'seven')",
                  "INSERT INTO Table1 VALUES (1, 1, 7, 'a', NULL)", "INSERT INTO Table1 VALUES (2, NULL, 7, 'b', 5)"})
                run(c, sql);
            for (const char* t : {"Table1", "Table2", "Table3"}) {
                run(c, std::string("CREATE INDEX id ON ") + t + " (id)");
                run(c, std::string("ALTER TABLE ") + t + " ADD CONSTRAINT PrimaryKey PRIMARY KEY (id)");
            }
            run(c,
                "ALTER TABLE Table1 ADD CONSTRAINT Table2Table1 FOREIGN KEY (otherfk1) REFERENCES Table2 (id) "
                "ON DELETE CASCADE");
            run(c,
                "ALTER TABLE Table1 ADD CONSTRAINT Table3Table1 FOREIGN KEY (otherfk2) REFERENCES Table3 ON UPDATE "
                "CASCADE");
            run(c, "INSERT INTO Table1 VALUES (3, 1, NULL, 'c', NULL)");
            c.Close();
        }
        for (const char* t : {"Table1", "Table2", "Table3"}) {
            SCOPED_TRACE(t);
            EXPECT_EQ(indexDefinitions(file, t), indexDefinitions(original, t));
        }
        auto made = jet::Database::open(file, "", true);
        auto theirs = jet::Database::open(original, "", true);
        std::vector<std::string> ours, access;
        for (const auto& r : made->relationships())
            ours.push_back(r.name + " " + r.table + "." + r.columns[0] + " -> " + r.referenced + "." +
                           r.referencedColumns[0] + (r.cascadeUpdate ? " U" : "") + (r.cascadeDelete ? " D" : ""));
        for (const auto& r : theirs->relationships())
            if (r.name.rfind("MSys", 0) != 0)
                access.push_back(r.name + " " + r.table + "." + r.columns[0] + " -> " + r.referenced + "." +
                                 r.referencedColumns[0] + (r.cascadeUpdate ? " U" : "") +
                                 (r.cascadeDelete ? " D" : ""));
        EXPECT_EQ(ours, access);
        test::expectAccessFileSound(file);
        const auto diff = test::storage::compareWithReader(file);
        EXPECT_TRUE(diff.empty()) << diff;
    }
}

// Every way of breaking a key or a relationship is refused with Access's
// number, the statement leaves nothing behind, and the keys then go again;
// in Access 97 files as in later ones.
class KeysFormats : public ::testing::TestWithParam<jet::FileFormat> {};

TEST_P(KeysFormats, WhatBreaksAKeyIsRefusedAndTheFileStaysSound) {
    test::TempDir dir;
    const std::string file = dir.file(GetParam() == jet::FileFormat::Jet3 ? "keys.mdb" : "keys.accdb");
    jet::Database::create(file, "", GetParam())->close();
    Connection c;
    open(c, file);
    for (const char* sql :
         {"CREATE TABLE [Kunden] ([Nr] LONG, [Name] TEXT(30))", "CREATE TABLE [Aufträge] ([Nr] LONG, [Kunde] LONG)",
          "INSERT INTO [Kunden] VALUES (1, 'Müller')", "INSERT INTO [Kunden] VALUES (2, 'muller')",
          "INSERT INTO [Kunden] VALUES (3, NULL)", "INSERT INTO [Aufträge] VALUES (10, 1)",
          "INSERT INTO [Aufträge] VALUES (11, NULL)", "INSERT INTO [Aufträge] VALUES (12, 9)"})
        run(c, sql);
    EXPECT_EQ(errorOf(c, "ALTER TABLE [Kunden] ADD CONSTRAINT [PrimaryKey] PRIMARY KEY ([Name])"), 3058);
    EXPECT_EQ(errorOf(c, "CREATE UNIQUE INDEX [n] ON [Kunden] ([Name]) WITH IGNORE NULL"), 0);  // Müller, muller differ
    run(c, "ALTER TABLE [Kunden] ADD CONSTRAINT [PrimaryKey] PRIMARY KEY ([Nr])");
    EXPECT_EQ(errorOf(c, "INSERT INTO [Kunden] VALUES (2, 'x')"), 3022);
    EXPECT_EQ(errorOf(c, "INSERT INTO [Kunden] VALUES (NULL, 'x')"), 3058);
    EXPECT_EQ(errorOf(c, "ALTER TABLE [Kunden] ADD CONSTRAINT [pk] PRIMARY KEY ([Name])"), 3283);
    EXPECT_EQ(errorOf(c, "CREATE INDEX [primarykey] ON [Kunden] ([Name])"), 3375);
    EXPECT_EQ(errorOf(c, "CREATE UNIQUE INDEX [k] ON [Aufträge] ([Kunde], [Kunde])"), 3191);
    EXPECT_EQ(errorOf(c, "CREATE INDEX [k] ON [Aufträge] ([Kundin])"), 3265);
    EXPECT_EQ(errorOf(c, "ALTER TABLE [Aufträge] ADD CONSTRAINT [KA] FOREIGN KEY ([Kunde]) REFERENCES [Kunden]"), 3379);
    EXPECT_EQ(
        errorOf(c, "ALTER TABLE [Aufträge] ADD CONSTRAINT [KA] FOREIGN KEY ([Kunde]) REFERENCES [Kunden] ([Name])"),
        3368);
    run(c, "INSERT INTO [Kunden] VALUES (9, 'Neun')");
    run(c, "ALTER TABLE [Aufträge] ADD CONSTRAINT [KA] FOREIGN KEY ([Kunde]) REFERENCES [Kunden]");
    EXPECT_EQ(errorOf(c, "INSERT INTO [Aufträge] VALUES (13, 4)"), 3201);
    run(c, "INSERT INTO [Aufträge] VALUES (13, 2)");
    EXPECT_EQ(errorOf(c, "ALTER TABLE [Aufträge] ADD CONSTRAINT [ka] FOREIGN KEY ([Nr]) REFERENCES [Kunden]"), 3378);
    EXPECT_EQ(errorOf(c, "DROP TABLE [Kunden]"), 3303);
    EXPECT_EQ(errorOf(c, "DROP INDEX [PrimaryKey] ON [Kunden]"), 3303);
    EXPECT_EQ(errorOf(c, "DROP INDEX [KA] ON [Aufträge]"), 3303);
    EXPECT_EQ(errorOf(c, "DROP INDEX [gone] ON [Kunden]"), 3372);
    c.Close();
    test::expectAccessFileSound(file);
    {
        const auto schema = test::runCommand({"mdb-schema", "--indexes", "--relations", file, "postgres"});
        if (test::mdbtoolsAvailable()) {
            EXPECT_NE(schema.out.find("PRIMARY KEY (\"nr\")"), std::string::npos) << schema.out;
            EXPECT_NE(schema.out.find("FOREIGN KEY (\"kunde\") REFERENCES \"Kunden\"(\"nr\")"), std::string::npos)
                << schema.out;
        }
    }
    // Taken apart again, in the order Access needs.
    open(c, file);
    run(c, "ALTER TABLE [Aufträge] DROP CONSTRAINT [KA]");
    run(c, "DROP INDEX [n] ON [Kunden]");
    run(c, "ALTER TABLE [Kunden] DROP CONSTRAINT [PrimaryKey]");
    run(c, "INSERT INTO [Aufträge] VALUES (14, 4)");
    c.Close();
    test::expectAccessFileSound(file);
    open(c, file);
    run(c, "DROP TABLE [Kunden]");
    run(c, "DROP TABLE [Aufträge]");
    c.Close();
    test::expectAccessFileSound(file);
}

INSTANTIATE_TEST_SUITE_P(Formats, KeysFormats, ::testing::Values(jet::FileFormat::Ace12, jet::FileFormat::Jet3));

// Field defaults: DEFAULT keeps the literal as the column's DefaultValue
// property, where Access keeps it, and a column an INSERT leaves out takes
// it; so does a default Access itself wrote. A literal the column cannot
// hold is refused before anything is written.
TEST(Keys, DefaultsAreKeptWhereAccessKeepsThem) {
    test::TempDir dir;
    const std::string made = dir.file("made.mdb");
    fs::copy_file(test::corpusPath("access/jackcess-V2000/delColTestV2000.mdb"), made);  // id, id2: default 0
    const std::string file = dir.file("defaults.accdb");
    jet::Database::create(file, "", jet::FileFormat::Ace12)->close();
    Connection c;
    auto rows = [&](const std::string& sql) {
        std::vector<std::string> out;
        for (auto rs = c.Execute(sql); !rs->atEnd(); rs->MoveNext()) {
            std::string row;
            for (const Value& v : rs->row()) row += (v.isNull() ? std::string("NULL") : toIsoText(v)) + "|";
            out.push_back(row);
        }
        return out;
    };
    using Rows = std::vector<std::string>;
    open(c, made);
    run(c, "INSERT INTO [Table1] ([data]) VALUES ('x')");
    EXPECT_EQ(rows("SELECT [id], [id2], [data], [data2] FROM [Table1]").back(), "0|0|x|NULL|");
    c.Close();
    open(c, file);
    run(c,
        "CREATE TABLE [t] ([Nr] LONG NOT NULL DEFAULT 7, [Name] TEXT(10) DEFAULT 'O''Neil', [Preis] CURRENCY "
        "DEFAULT -1.5, [Am] DATETIME DEFAULT #2001-02-03#, [Ja] YESNO DEFAULT True, [Notiz] MEMO DEFAULT NULL)");
    run(c, "INSERT INTO [t] ([Notiz]) VALUES ('a')");
    run(c, "INSERT INTO [t] ([Nr], [Name], [Preis]) VALUES (8, NULL, 2)");
    EXPECT_EQ(rows("SELECT * FROM [t]"),
              (Rows{"7|O'Neil|-1.5000|2001-02-03T00:00:00|true|a|", "8|NULL|2.0000|2001-02-03T00:00:00|true|NULL|"}));
    for (const auto& [sql, error] :
         std::vector<std::pair<const char*, long>>{{"CREATE TABLE [u] ([a] LONG DEFAULT 'abc')", 3464},
                                                   {"CREATE TABLE [u] ([a] TEXT(3) DEFAULT 'abcd')", 3163},
                                                   {"CREATE TABLE [u] ([a] COUNTER DEFAULT 1)", 3292},
                                                   {"CREATE TABLE [u] ([a] LONG DEFAULT Now())", 3292}})
        EXPECT_EQ(errorOf(c, sql), error) << sql;
    c.Close();
    test::expectAccessFileSound(file);
    test::expectAccessFileSound(made);
    if (test::mdbtoolsAvailable()) {
        const auto props = test::runCommand({"mdb-prop", file, "t"});
        for (const char* line : {"Required: yes", "DefaultValue: 7", "DefaultValue: 'O''Neil'", "DefaultValue: -1.5",
                                 "DefaultValue: #2001-02-03#", "DefaultValue: True"})
            EXPECT_NE(props.out.find(line), std::string::npos) << line << "\n" << props.out;
        EXPECT_EQ(test::runCommand({"mdb-prop", file, "u"}).out.find("DefaultValue"), std::string::npos);
    }
    open(c, file);
    run(c, "DROP TABLE [t]");
    c.Close();
    test::expectAccessFileSound(file);
}
