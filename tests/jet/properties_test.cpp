// Properties set with ALTER TABLE ... SET as Access keeps them (mdbtools
// reads them back, the Access window's own stay), validation rules refusing
// rows with Access's words, relationships kept without enforcing them, and
// the check of damaged property lists.
#include <gtest/gtest.h>

#include <filesystem>

#include "db/ado.h"
#include "db/error.h"
#include "db/jet/database.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
namespace fs = std::filesystem;

namespace {

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

struct File {
    std::string path;
    Connection c;
    File(const std::string& p, jet::FileFormat format, bool create = true) : path(p) {
        if (create) jet::Database::create(path, "", format)->close();
        open();
    }
    void open() {
        registerBuiltinProviders();
        c.Mode = adModeReadWrite;
        c.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path);
    }
    void reopen() {
        c.Close();
        open();
    }
    void run(const std::string& sql) { c.Execute(sql); }
    long error(const std::string& sql, std::string* text = nullptr) {
        try {
            c.Execute(sql);
        } catch (const Error& e) {
            if (text) *text = e.description();
            return e.number();
        }
        return 0;
    }
    std::vector<std::string> rows(const std::string& sql) {
        std::vector<std::string> out;
        for (const auto& row : test::storage::selectRows(c, sql)) {
            std::string line;
            for (const Value& v : row) line += (v.isNull() ? std::string("NULL") : toIsoText(v)) + "|";
            out.push_back(line);
        }
        return out;
    }
};

const char* const kSetColumn =
    "ALTER TABLE [Bestellung] ALTER COLUMN [Menge] SET Caption = 'Größe', Description = 'How many of ''it''', "
    "InputMask = '999', Format = 'General Number', ValidationRule = '>0', ValidationText = 'More than none', "
    "DefaultValue = '1'";
const char* const kSetTable =
    "ALTER TABLE [Bestellung] SET Description = 'Orders', ValidationRule = '[Von]<=[Bis]', "
    "ValidationText = 'Von comes first'";

// The logical and real indexes a table's definition counts.
std::pair<uint32_t, uint32_t> indexCounts(const std::string& file, const std::string& table, bool jet3) {
    uint32_t page;
    {
        auto db = jet::Database::open(file, "", true);
        page = test::storage::tableId(*db, table);
    }
    const std::string f = test::readFile(file);
    const size_t at = size_t(page) * (jet3 ? 2048 : 4096);
    return {test::storage::le32(f, at + (jet3 ? 0x1B : 0x2F)), test::storage::le32(f, at + (jet3 ? 0x1F : 0x33))};
}

}  // namespace

// Every property the engine sets, in each version's list (Access 97's texts
// in the code page): mdbtools reads each name and value, a new session acts
// on them, the rows read everywhere, and a list Access wrote keeps what its
// window added.
TEST(Properties, SetInEveryFormatAndReadBack) {
    struct Case {
        jet::FileFormat format;
        const char* name;
    };
    test::TempDir dir;
    for (const Case& k : {Case{jet::FileFormat::Jet3, "a97.mdb"}, Case{jet::FileFormat::Jet4, "a2000.mdb"},
                          Case{jet::FileFormat::Ace12, "a2007.accdb"}}) {
        SCOPED_TRACE(k.name);
        File f(dir.file(k.name), k.format);
        f.run("CREATE TABLE [Bestellung] ([Nr] LONG, [Menge] LONG, [Von] DATETIME, [Bis] DATETIME)");
        f.run(kSetColumn);
        f.run(kSetTable);
        f.run("ALTER TABLE [Bestellung] ALTER COLUMN [Nr] SET Caption = 'Number', Caption = NULL, Description = 'N'");
        f.reopen();
        f.run("INSERT INTO [Bestellung] ([Nr]) VALUES (1)");  // Menge takes its DefaultValue
        EXPECT_EQ(f.error("INSERT INTO [Bestellung] ([Nr], [Menge]) VALUES (2, 0)"), 3317);
        EXPECT_EQ(f.rows("SELECT [Nr], [Menge] FROM [Bestellung]"), std::vector<std::string>{"1|1|"});
        f.c.Close();
        test::expectAccessFileSound(f.path);
        if (!test::mdbtoolsAvailable()) continue;
        const std::string props = test::runCommand({"mdb-prop", f.path, "Bestellung"}).out;
        for (const char* line :
             {"Caption: Größe", "Description: How many of 'it'", "InputMask: 999", "Format: General Number",
              "ValidationRule: >0", "ValidationText: More than none", "DefaultValue: 1", "Description: Orders",
              "ValidationRule: [Von]<=[Bis]", "ValidationText: Von comes first", "Description: N"})
            EXPECT_TRUE(contains(props, line)) << line << "\n" << props;
        EXPECT_FALSE(contains(props, "Caption: Number")) << props;
        const std::string rows = test::runCommand({"mdb-export", f.path, "Bestellung"}).out;
        EXPECT_TRUE(contains(rows, "\n1,1,,")) << rows;
    }
    // Northwind's Order Details (Access 97): a rule Access set is enforced,
    // and setting a property keeps the ones the Access window added.
    const std::string nwind = test::corpusPath("access/mdbtestdata/nwind.mdb").string();
    if (!fs::exists(nwind)) return;
    fs::copy_file(nwind, dir.file("nwind.mdb"));
    File n(dir.file("nwind.mdb"), jet::FileFormat::Jet3, false);
    std::string why;
    EXPECT_EQ(n.error("UPDATE [Order Details] SET [Quantity] = 0 WHERE [OrderID] = 10248", &why), 3317);
    EXPECT_EQ(why, "Quantity must be greater than 0");
    n.run("ALTER TABLE [Order Details] ALTER COLUMN [Quantity] SET Caption = 'Qty', ValidationText = NULL");
    EXPECT_EQ(n.error("UPDATE [Order Details] SET [Quantity] = 0 WHERE [OrderID] = 10248", &why), 3317);
    EXPECT_EQ(why,
              "One or more values are prohibited by the validation rule '>0' set for 'Order Details.Quantity'. Enter a "
              "value that the expression for this field can accept.");
    n.c.Close();
    test::expectAccessFileSound(n.path);
    if (!test::mdbtoolsAvailable()) return;
    const std::string props = test::runCommand({"mdb-prop", n.path, "Order Details"}).out;
    for (const char* line : {"Caption: Qty", "ColumnWidth: 945", "DisplayControl: 109", "ValidationRule: >0",
                             "Description: Details on products", "Caption: Unit Price"})
        EXPECT_TRUE(contains(props, line)) << line << "\n" << props;
    EXPECT_FALSE(contains(props, "Quantity must be greater than 0")) << props;
}

// Column and table rules refuse an INSERT and an UPDATE (the whole UPDATE),
// with the ValidationText or Access's message; Null passes; the typed
// insert path is held to them too; a rule the engine cannot read is refused
// when set, rows already stored are not checked; DefaultValue expressions
// are evaluated or ignored, never an error; a column a rule needs stays.
TEST(Properties, ValidationRulesRefuseRowsAsAccessDoes) {
    test::TempDir dir;
    File f(dir.file("rules.mdb"), jet::FileFormat::Jet4);
    f.run("CREATE TABLE [Bestellung] ([Nr] LONG, [Menge] LONG, [Name] TEXT(20), [Von] DATETIME, [Bis] DATETIME)");
    for (int i = 1; i <= 5; ++i)
        f.run("INSERT INTO [Bestellung] ([Nr], [Menge]) VALUES (" + std::to_string(i) + ", " +
              std::to_string(i == 5 ? 1 : 11 - i) + ")");
    f.run(
        "ALTER TABLE [Bestellung] ALTER COLUMN [Menge] SET ValidationRule = 'Between 1 And 100', "
        "ValidationText = 'From 1 to 100'");
    f.run("ALTER TABLE [Bestellung] ALTER COLUMN [Name] SET ValidationRule = 'Len([Name])>1 Or [Name] Like ''X*'''");
    f.run("ALTER TABLE [Bestellung] SET ValidationRule = '[Von]<=[Bis]'");
    const std::string tableMessage =
        "One or more values are prohibited by the validation rule '[Von]<=[Bis]' set for 'Bestellung'. Enter a value "
        "that the expression for this field can accept.";
    const auto before = f.rows("SELECT * FROM [Bestellung]");
    for (int session = 0; session < 2; ++session) {
        SCOPED_TRACE(session);
        std::string why;
        EXPECT_EQ(f.error("INSERT INTO [Bestellung] ([Nr], [Menge]) VALUES (9, 101)", &why), 3317);
        EXPECT_EQ(why, "From 1 to 100");
        EXPECT_EQ(f.error("INSERT INTO [Bestellung] ([Nr], [Name]) VALUES (9, 'a')", &why), 3317);
        EXPECT_EQ(why,
                  "One or more values are prohibited by the validation rule 'Len([Name])>1 Or [Name] Like 'X*'' set "
                  "for 'Bestellung.Name'. Enter a value that the expression for this field can accept.");
        EXPECT_EQ(f.error("INSERT INTO [Bestellung] ([Nr], [Von], [Bis]) VALUES (9, #2001-01-02#, #2001-01-01#)", &why),
                  3317);
        EXPECT_EQ(why, tableMessage);
        // The fifth row breaks the rule: no row changes.
        EXPECT_EQ(f.error("UPDATE [Bestellung] SET [Menge] = [Menge] - 1", &why), 3317);
        EXPECT_EQ(f.error("UPDATE [Bestellung] SET [Von] = #2001-01-02#, [Bis] = #2001-01-01# WHERE [Nr] = 3"), 3317);
        EXPECT_EQ(f.rows("SELECT * FROM [Bestellung]"), before);
        f.reopen();
    }
    // Null passes every rule; a rule that holds lets the row in.
    EXPECT_EQ(f.error("INSERT INTO [Bestellung] VALUES (6, NULL, NULL, NULL, #2001-01-01#)"), 0);
    EXPECT_EQ(f.error("INSERT INTO [Bestellung] VALUES (7, 100, 'X', #2001-01-01#, #2001-01-01#)"), 0);
    // A rule is parsed when set, not checked against the stored rows.
    EXPECT_EQ(f.error("ALTER TABLE [Bestellung] ALTER COLUMN [Nr] SET ValidationRule = '>>1'"), 3320);
    EXPECT_EQ(f.error("ALTER TABLE [Bestellung] SET ValidationRule = '[Nirgends]>1'"), 3320);
    EXPECT_EQ(f.error("ALTER TABLE [Bestellung] ALTER COLUMN [Nr] SET ColumnWidth = '5'"), 3251);
    EXPECT_EQ(f.error("ALTER TABLE [Bestellung] SET Caption = 'x'"), 3251);
    EXPECT_EQ(f.error("ALTER TABLE [Bestellung] ALTER COLUMN [Nr] SET ValidationRule = '>6'"), 0);
    // DefaultValue: Date() is evaluated, an expression the engine cannot
    // evaluate leaves the column empty, a literal must fit its column.
    f.run("ALTER TABLE [Bestellung] ALTER COLUMN [Von] SET DefaultValue = 'Date()'");
    f.run("ALTER TABLE [Bestellung] ALTER COLUMN [Name] SET DefaultValue = 'DLookUp(\"x\")'");
    EXPECT_EQ(f.error("ALTER TABLE [Bestellung] ALTER COLUMN [Menge] SET DefaultValue = '''abc'''"), 3464);
    f.reopen();
    f.run("INSERT INTO [Bestellung] ([Nr], [Bis]) VALUES (8, #2999-01-01#)");
    const auto added = f.rows("SELECT [Name], Year([Von]) FROM [Bestellung] WHERE [Nr] = 8");
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].substr(0, 5), "NULL|");
    EXPECT_GE(std::stoi(added[0].substr(5)), 2024);
    f.c.Close();
    // The typed path of the engine's door is held to the same rules.
    auto db = jet::Database::open(f.path, "", false);
    try {
        db->insertRow("Bestellung", {Value(int64_t(9)), Value(int64_t(0)), Value(), Value(), Value()});
        ADD_FAILURE() << "a row the rule prohibits was stored";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 3317);
    }
    db->close();
    // A column the table's rule names cannot go; one whose rule is its own
    // takes the rule with it.
    f.open();
    EXPECT_EQ(f.error("ALTER TABLE [Bestellung] DROP COLUMN [Bis]"), 3280);
    f.run("ALTER TABLE [Bestellung] DROP COLUMN [Menge]");
    f.run("INSERT INTO [Bestellung] ([Nr]) VALUES (101)");
    f.c.Close();
    test::expectAccessFileSound(f.path);
}

// A relationship kept without enforcing it: no index on either side, rows
// that break it come and go freely, mdbtools tells it does not enforce
// integrity, the check is content, and it drops like any other.
TEST(Properties, RelationshipsNotEnforced) {
    test::TempDir dir;
    for (const auto& [format, name] : {std::pair{jet::FileFormat::Jet3, "r97.mdb"}, {jet::FileFormat::Jet4, "r.mdb"}}) {
        SCOPED_TRACE(name);
        const bool jet3 = format == jet::FileFormat::Jet3;
        File f(dir.file(name), format);
        f.run("CREATE TABLE [Kunde] ([Nr] LONG, [Name] TEXT(20))");
        f.run("ALTER TABLE [Kunde] ADD CONSTRAINT [pk] PRIMARY KEY ([Nr])");
        f.run("CREATE TABLE [Auftrag] ([Nr] LONG, [Kunde] LONG)");
        f.run("INSERT INTO [Kunde] VALUES (1, 'a')");
        f.run("INSERT INTO [Auftrag] VALUES (1, 7)");  // no such Kunde
        f.c.Close();
        const auto kunde = indexCounts(f.path, "Kunde", jet3), auftrag = indexCounts(f.path, "Auftrag", jet3);
        f.open();
        EXPECT_EQ(f.error("ALTER TABLE [Auftrag] ADD CONSTRAINT [lose] FOREIGN KEY ([Kunde]) REFERENCES [Kunde] ([Nr]) "
                          "ON DELETE CASCADE NOT ENFORCED"),
                  3289);
        f.run(
            "ALTER TABLE [Auftrag] ADD CONSTRAINT [lose] FOREIGN KEY ([Kunde]) REFERENCES [Kunde] ([Nr]) NOT ENFORCED");
        f.run("INSERT INTO [Auftrag] VALUES (2, 8)");
        f.run("DELETE FROM [Kunde]");
        f.run("INSERT INTO [Kunde] VALUES (1, 'b')");
        f.c.Close();
        EXPECT_EQ(indexCounts(f.path, "Kunde", jet3), kunde);
        EXPECT_EQ(indexCounts(f.path, "Auftrag", jet3), auftrag);
        {
            auto db = jet::Database::open(f.path, "", true);
            const auto rels = db->relationships();
            ASSERT_EQ(rels.size(), 1u);
            EXPECT_FALSE(rels[0].enforced);
            EXPECT_EQ(rels[0].columns, std::vector<std::string>{"Kunde"});
        }
        test::expectAccessFileSound(f.path);
        if (test::mdbtoolsAvailable()) {
            const std::string schema = test::runCommand({"mdb-schema", f.path, "mysql"}).out;
            EXPECT_TRUE(contains(schema,
                                 "Relationship from `Auftrag` (`Kunde`) to `Kunde`(`Nr`) does not enforce "
                                 "integrity."))
                << schema;
        }
        f.open();
        f.run("ALTER TABLE [Auftrag] DROP CONSTRAINT [lose]");
        f.run("DROP TABLE [Kunde]");
        f.c.Close();
        test::expectAccessFileSound(f.path);
    }
}

// Damaged property lists are problems of their table: an entry naming a
// property past the names block, a map for a field the table lacks.
TEST(Properties, CheckFindsDamagedLists) {
    test::TempDir dir;
    File f(dir.file("made.mdb"), jet::FileFormat::Jet4);
    f.run("CREATE TABLE [Zeile] ([Qqzx] LONG)");
    f.run("ALTER TABLE [Zeile] ALTER COLUMN [Qqzx] SET Caption = 'c'");
    f.c.Close();
    const std::string bytes = test::readFile(f.path);
    // The column map's head: its length, the name's, the name.
    const std::string head = std::string("\x0e\0\0\0\x08\0", 6) + std::string("Q\0q\0z\0x\0", 8);
    const size_t at = bytes.find(head);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(bytes.find(head, at + 1), std::string::npos);
    test::TempDir damaged;
    damaged.leaveUnchecked();
    struct Damage {
        size_t offset;
        std::string with, problem;
    };
    for (const Damage& d :
         {Damage{at + head.size() + 4, std::string("\x40\x00", 2), "names property 64"},
          Damage{at + 6, std::string("W", 1), "the map of field 'Wqzx': the table has no such field"}}) {
        std::string copy = bytes;
        copy.replace(d.offset, d.with.size(), d.with);
        const std::string file = damaged.file("damaged.mdb");
        test::writeFile(file, copy);
        std::string lines;
        for (const std::string& p : test::accessFileProblems(file)) lines += p + "\n";
        EXPECT_TRUE(contains(lines, "table 'Zeile', its property list")) << lines;
        EXPECT_TRUE(contains(lines, d.problem)) << lines;
    }
}
