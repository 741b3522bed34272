// The SQL people type, through the Access provider: SELECT with WHERE,
// GROUP BY, HAVING and ORDER BY; UPDATE and DELETE with every index, key and
// long value kept; Access's errors, the file left as it was. Files written
// here are checked (tallyport check) by the temp folder and read back by the
// independent readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "db/ado.h"
#include "db/jet/database.h"
#include "db/jet/sql/sql_query.h"
#include "db/jet/storage/pager.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
namespace fs = std::filesystem;

namespace {

bool haveReaders() { return test::mdbReaderAvailable() && test::mdbtoolsAvailable(); }

struct Db {
    test::TempDir dir;
    std::string path;
    Connection conn;

    // A new file of the format, or a copy of a corpus file.
    explicit Db(jet::FileFormat format, const std::string& corpus = {}) {
        path = dir.file(format == jet::FileFormat::Jet4 || format == jet::FileFormat::Jet3 ? "q.mdb" : "q.accdb");
        if (corpus.empty()) jet::Database::create(path, "", format)->close();
        else fs::copy_file(test::corpusPath(corpus), path);
        open();
    }
    void open() {
        registerBuiltinProviders();
        conn.Mode = adModeReadWrite;
        conn.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path);
    }
    long run(const std::string& sql) {
        long n = -1;
        conn.Execute(sql, &n);
        return n;
    }
    // Rows as "a|b;c|d" (Null as ~), the field names first when asked.
    std::string rows(const std::string& sql, bool names = false) {
        auto rs = conn.Execute(sql);
        std::string out;
        if (names) {
            for (const FieldInfo& f : rs->fieldInfos()) out += (out.empty() ? "" : "|") + f.name;
            out += ":";
        }
        bool first = true;
        while (!rs->atEnd()) {
            std::string row;
            for (size_t i = 0; i < rs->row().size(); ++i)
                row += (i ? "|" : "") + (rs->row()[i].isNull() ? std::string("~") : toIsoText(rs->row()[i]));
            out += (first ? "" : ";") + row;
            first = false;
            rs->MoveNext();
        }
        rs->Close();
        return out;
    }
    // The error's number and text, or 0.
    long error(const std::string& sql, std::string* text = nullptr) {
        try {
            conn.Execute(sql);
        } catch (const Error& e) {
            if (text) *text = e.description();
            return e.number();
        }
        return 0;
    }
    std::string bytes() {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

void people(Db& db) {
    db.run(
        "CREATE TABLE people (id COUNTER, name TEXT(50), city TEXT(50), born DATETIME, score DOUBLE, "
        "paid CURRENCY)");
    for (const char* v : {"'Ann', 'Paris', #1990-05-01#, 3.5, 10", "'bob', NULL, #1985-12-31#, NULL, 2.5",
                          "'Carl', 'paris', NULL, 7, NULL", "'dora', 'Berlin', #2000-01-01 10:30:00#, 2, 1",
                          "'Ed', 'Rome', #1999-07-04#, 7, 0"})
        db.run(std::string("INSERT INTO people (name, city, born, score, paid) VALUES (") + v + ")");
}

}  // namespace

TEST(SqlQuery, WhereNullLogicLikeFunctionsAndNames) {
    Db db(jet::FileFormat::Jet4);
    people(db);
    // Three-valued logic: a Null city is neither 'Paris' nor not 'Paris'.
    EXPECT_EQ(db.rows("SELECT name FROM people WHERE NOT city = 'PARIS'"), "dora;Ed");
    EXPECT_EQ(db.rows("SELECT name FROM people WHERE city <> 'paris' OR city IS NULL"), "bob;dora;Ed");
    EXPECT_EQ(db.rows("SELECT name FROM people WHERE (id > 4 OR id < 2) AND NOT (score IS NULL)"), "Ann;Ed");
    EXPECT_EQ(db.rows("SELECT name FROM people WHERE score IN (2, 7) AND city NOT IN ('Rome')"), "Carl;dora");
    EXPECT_EQ(db.rows("SELECT name FROM people WHERE born BETWEEN #1/1/1990# AND #2000-01-01 23:00#"), "Ann;dora;Ed");
    EXPECT_EQ(db.rows("SELECT name FROM people WHERE score NOT BETWEEN 3 AND 7"), "dora");
    // LIKE: * ? # [list] [!list] [a-c], without regard to case.
    EXPECT_EQ(db.rows("SELECT name FROM people WHERE name LIKE 'd*'"), "dora");
    EXPECT_EQ(db.rows("SELECT name FROM people WHERE name LIKE '?o?'"), "bob");
    EXPECT_EQ(db.rows("SELECT name FROM people WHERE name LIKE '[a-c]*' AND name NOT LIKE '[!b]?"
                      "?'"),
              "bob;Carl");
    EXPECT_EQ(db.rows("SELECT name FROM people WHERE 'x' & id LIKE 'x#'"), "Ann;bob;Carl;dora;Ed");
    EXPECT_EQ(db.rows("SELECT name FROM people WHERE name LIKE '[*]'"), "");
    // Expressions, functions, aliases and the engine's names for the rest.
    EXPECT_EQ(db.rows("SELECT TOP 2 id * 10 AS ten, UCase(Left(name, 2)) & '-' & Len(name), Mid(name, 2), "
                      "Nz(city, 'none'), IIf(score > 3, 'hi', 'lo'), Year(born), Month(born), Day(born) "
                      "FROM people WHERE id >= 2",
                      true),
              "ten|Expr1000|Expr1001|Expr1002|Expr1003|Expr1004|Expr1005|Expr1006:"
              "20|BO-3|ob|none|lo|1985|12|31;30|CA-4|arl|paris|hi|~|~|~");
    EXPECT_EQ(db.rows("SELECT Trim('  a b  ') & '|', LCase(name), paid + 1, -score / 2, 7 \\ 2, 7 MOD 3, 2 ^ 10 "
                      "FROM people WHERE id = 1"),
              "a b||ann|11.0000|-1.75|3|1|1024");
    EXPECT_EQ(db.rows("SELECT * FROM people WHERE id = 4"), "4|dora|Berlin|2000-01-01T10:30:00|2|1.0000");
    EXPECT_EQ(db.rows("SELECT DISTINCT city FROM people"), "~;Berlin;Paris;Rome");
    EXPECT_EQ(db.rows("SELECT COUNT(*) FROM people WHERE Year(Date()) >= 2024 AND Now() > #2024-01-01#"), "5");
}

TEST(SqlQuery, AggregatesGroupsAndOrder) {
    Db db(jet::FileFormat::Ace14);
    people(db);
    EXPECT_EQ(db.rows("SELECT COUNT(*), COUNT(city), SUM(score), AVG(score), MIN(name), MAX(born), SUM(paid) "
                      "FROM people"),
              "5|4|19.5|4.875|Ann|2000-01-01T10:30:00|13.5000");
    // Groups in the order of their values; text grouped without regard to case.
    EXPECT_EQ(db.rows("SELECT city, COUNT(*) AS n, SUM(score) FROM people GROUP BY city"),
              "~|1|~;Berlin|1|2;Paris|2|10.5;Rome|1|7");
    EXPECT_EQ(db.rows("SELECT city, COUNT(*) FROM people GROUP BY city HAVING COUNT(*) > 1 OR MIN(score) = 7"),
              "Paris|2;Rome|1");
    EXPECT_EQ(db.rows("SELECT score, COUNT(*) FROM people GROUP BY score ORDER BY 2 DESC, score"), "7|2;~|1;2|1;3.5|1");
    // ORDER BY: Nulls first, text without regard to case, DESC, positions.
    EXPECT_EQ(db.rows("SELECT name FROM people ORDER BY city, name DESC"), "bob;dora;Carl;Ann;Ed");
    EXPECT_EQ(db.rows("SELECT name, score FROM people ORDER BY 2 DESC, 1"), "Carl|7;Ed|7;Ann|3.5;dora|2;bob|~");
    // TOP keeps the rows tied with the last one.
    EXPECT_EQ(db.rows("SELECT TOP 1 name FROM people ORDER BY score DESC"), "Carl;Ed");
    EXPECT_EQ(db.rows("SELECT TOP 40 PERCENT name FROM people ORDER BY id DESC"), "Ed;dora");
    db.run("DELETE FROM people");
    EXPECT_EQ(db.rows("SELECT COUNT(*), SUM(score), MAX(name) FROM people"), "0|~|~");
    EXPECT_EQ(db.rows("SELECT city, COUNT(*) FROM people GROUP BY city"), "");
}

// Rows sorted past the bound on memory are sorted in runs in a temporary
// file and merged: every gathering query gives what it gives in memory, the
// ORDER BY the order the engine's rule gives (Nulls first, text by the
// file's sort order with accents and scripts, equal keys in the table's
// order, DESC the reverse), TOP keeps the rows tied with its last one, no
// temporary file is seen beside the database while the rows are read, and
// a temporary file that cannot be written fails the statement clearly.
TEST(SqlQuery, RowsSortedPastTheMemoryBoundKeepTheirOrder) {
    Db db(jet::FileFormat::Jet4);
    db.run("CREATE TABLE t (id LONG, name TEXT(50), qty LONG, note MEMO)");
    const std::vector<const char*> names = {"Ann", "ann",   "Ärger",  "arger", "Zoë",    "zoe", "Мир",
                                            "мир", "漢字", "éclair", nullptr, "Eclair", "b"};
    struct Row {
        int id;
        const char* name;
        std::optional<int> qty;
    };
    std::vector<Row> table;
    for (int i = 0; i < 3000; ++i) {
        const Row r{i, names[size_t(i * 7 % 13)], i % 11 == 3 ? std::nullopt : std::optional<int>(i * 37 % 50)};
        table.push_back(r);
        db.run("INSERT INTO t VALUES (" + std::to_string(i) + ", " +
               (r.name ? "'" + std::string(r.name) + "'" : "NULL") + ", " + (r.qty ? std::to_string(*r.qty) : "NULL") +
               ", '" + std::string(size_t(i % 40), 'n') + "')");
    }
    // The rule: qty DESC (Nulls last), then name (Nulls first, by its key).
    const jet::SortOrder order = jet::Database::open(db.path, "", true)->textOrder();
    auto nameKey = [&](const Row& r) {
        std::string k;
        if (r.name) jet::appendSortKey(k, r.name, order);
        return std::pair{r.name != nullptr, k};
    };
    std::vector<Row> sorted = table;
    std::stable_sort(sorted.begin(), sorted.end(), [&](const Row& a, const Row& b) {
        if (a.qty != b.qty) return !a.qty ? false : !b.qty ? true : *a.qty > *b.qty;
        return nameKey(a) < nameKey(b);
    });
    std::string expected, top;
    for (size_t i = 0; i < sorted.size(); ++i) {
        expected += (i ? ";" : "") + std::to_string(sorted[i].id);
        if (i < 7 || (sorted[i].qty == sorted[6].qty && nameKey(sorted[i]) == nameKey(sorted[6])))
            top += (i ? ";" : "") + std::to_string(sorted[i].id);
    }
    const std::vector<std::string> queries = {
        "SELECT id, name, qty FROM t ORDER BY qty DESC, name",
        "SELECT * FROM t ORDER BY name DESC, note",
        "SELECT TOP 7 id FROM t ORDER BY qty DESC",
        "SELECT TOP 10 PERCENT id, name FROM t ORDER BY name",
        "SELECT DISTINCT name, qty FROM t",
        "SELECT name, COUNT(*), MAX(qty) FROM t GROUP BY name ORDER BY COUNT(*) DESC, MIN(id)",
    };
    std::vector<std::string> inMemory;
    for (const std::string& q : queries) inMemory.push_back(db.rows(q));
    EXPECT_EQ(db.rows("SELECT id FROM t ORDER BY qty DESC, name"), expected);
    EXPECT_EQ(db.rows("SELECT TOP 7 id FROM t ORDER BY qty DESC, name"), top);

    struct Bound {
        explicit Bound(size_t b) { jet::setRowSortBound(b); }
        ~Bound() { jet::setRowSortBound(0); }
    } bound(4096);
    EXPECT_EQ(db.rows("SELECT id FROM t ORDER BY qty DESC, name"), expected);
    for (size_t i = 0; i < queries.size(); ++i) EXPECT_EQ(db.rows(queries[i]), inMemory[i]) << queries[i];
    {
        auto rs = db.conn.Execute("SELECT id FROM t ORDER BY note DESC, id");
        for (int i = 0; i < 10; ++i) rs->MoveNext();
        for (const auto& e : fs::directory_iterator(db.dir.path()))
            EXPECT_TRUE(e.path().extension() == ".mdb" || e.path().extension() == ".ldb") << e.path();
        EXPECT_EQ(rs->row()[0].integer(), 39 + 40 * 10);
        rs->Close();
    }
    jet::faults::failWriteNumber(1);
    std::string text;
    EXPECT_EQ(db.error("SELECT id FROM t ORDER BY name", &text), 3043);
    jet::faults::failWriteNumber(0);
    EXPECT_TRUE(contains(text, "temporary file beside '" + db.path + "'")) << text;
    EXPECT_EQ(db.rows("SELECT id FROM t ORDER BY qty DESC, name"), expected);
}

// Text compares by the file's sort order (its index keys): case does not
// count, accents do, and scripts come in the order's sequence. The .mdb is
// Access's own (General legacy); the .accdb a new General (2010) file.
TEST(SqlQuery, TextComparesByTheFilesSortOrder) {
    const std::string corpus = "access/jackcess-V2003/testUnicodeCompV2003.mdb";
    if (!fs::exists(test::corpusPath(corpus))) GTEST_SKIP() << "corpus file missing";
    Db legacy(jet::FileFormat::Jet4, corpus);
    Db general(jet::FileFormat::Ace14);
    general.run("CREATE TABLE [Table] (ID INT, [Unicode] MEMO)");
    for (const auto& [id, text] : {std::pair{1, "only ascii chars"},
                                   {2, "ääkkösiä"},
                                   {3, "Мир"},
                                   {4, "ϰαὶ τότ'' ἐγὼ Κύϰλωπα"},
                                   {5, "漢字仮名交じり文"},
                                   {6, "3L952_AB(¥!!V"},
                                   {7, "ümlaut"}})
        general.run("INSERT INTO [Table] VALUES (" + std::to_string(id) + ", '" + text + "')");
    for (Db* db : {&legacy, &general}) {
        SCOPED_TRACE(db->path);
        EXPECT_EQ(db->rows("SELECT ID FROM [Table] WHERE ID < 8 ORDER BY [Unicode]"), "6;2;1;7;4;3;5");
        EXPECT_EQ(db->rows("SELECT ID FROM [Table] WHERE ID < 8 ORDER BY [Unicode] DESC"), "5;3;4;7;1;2;6");
        EXPECT_EQ(db->rows("SELECT ID FROM [Table] WHERE [Unicode] LIKE 'ÄÄ*'"), "2");
        EXPECT_EQ(db->rows("SELECT ID FROM [Table] WHERE [Unicode] LIKE 'aa*' OR [Unicode] LIKE 'u*'"), "");
        EXPECT_EQ(db->rows("SELECT ID FROM [Table] WHERE [Unicode] = 'мИР' OR [Unicode] LIKE '*κ?ϰΛΩΠΑ'"), "3;4");
        EXPECT_EQ(db->rows("SELECT ID FROM [Table] WHERE [Unicode] > 'Z' AND [Unicode] < 'Я' AND ID < 8"), "3;4");
    }
}

// UPDATE and DELETE in a copy of Access's file with primary keys and
// enforced relationships: the rows change, the keys hold, and the readers
// read what was written.
TEST(SqlChange, UpdateAndDeleteKeepIndexesAndRelationships) {
    const std::string corpus = "access/jackcess-V2000/indexTestV2000.mdb";
    if (!fs::exists(test::corpusPath(corpus))) GTEST_SKIP() << "corpus file missing";
    Db db(jet::FileFormat::Jet4, corpus);
    const std::string before = db.rows("SELECT * FROM Table1 ORDER BY id");
    std::string text;
    // A key the many side holds cannot go; a key it needs must exist; a
    // primary key stays unique.
    EXPECT_EQ(db.error("DELETE FROM Table3 WHERE id = 11", &text), 3200);
    EXPECT_EQ(text, "The record cannot be deleted or changed because table 'Table1' includes related records.");
    EXPECT_EQ(db.error("UPDATE Table1 SET otherfk2 = 99 WHERE id = 1"), 3201);
    EXPECT_EQ(db.error("UPDATE Table1 SET id = 1 WHERE id = 2", &text), 3022);
    EXPECT_TRUE(contains(text, "would create duplicate values in the index, primary key, or relationship"));
    EXPECT_EQ(db.rows("SELECT * FROM Table1 ORDER BY id"), before);

    EXPECT_EQ(db.run("UPDATE Table1 SET data = UCase(data) & '!', otherfk2 = 12 WHERE id IN (1, 2)"), 2);
    EXPECT_EQ(db.run("UPDATE Table1 SET id = id + 100 WHERE id = 3"), 1);
    EXPECT_EQ(db.run("DELETE FROM Table1 WHERE id = 0"), 1);
    EXPECT_EQ(db.run("DELETE FROM Table3 WHERE id = 10"), 1);  // no longer referred to
    EXPECT_EQ(db.run("DELETE FROM Table1 WHERE id > 1000"), 0);
    EXPECT_EQ(db.rows("SELECT id, otherfk2, data FROM Table1 WHERE id IN (1, 2, 103) ORDER BY id"),
              "1|12|BAZ11!;2|12|BAZ11-2!;103|13|baz13");
    EXPECT_EQ(db.error("UPDATE Table1 SET id = 103 WHERE id = 1"), 3022);      // the key as changed
    EXPECT_EQ(db.run("INSERT INTO Table1 VALUES (0, 1, 13, 'again', 0)"), 1);  // the deleted key is free
    const std::string after = db.rows("SELECT * FROM Table1 ORDER BY id");
    db.conn.Close();
    EXPECT_TRUE(test::accessFileProblems(db.path).empty());
    db.open();
    EXPECT_EQ(db.rows("SELECT * FROM Table1 ORDER BY id"), after);
    EXPECT_EQ(db.rows("SELECT COUNT(*) FROM Table3"), "3");
    if (!haveReaders()) GTEST_SKIP() << "independent readers unavailable";
    db.conn.Close();
    auto r = test::mdbReaderDump(db.path);
    auto t = test::mdbtoolsDump(db.path);
    EXPECT_TRUE(contains(r.out, R"([1,1,12,"BAZ11!",0])")) << r.out;
    EXPECT_TRUE(contains(r.out, R"([103,2,13,"baz13",0])")) << r.out;
    EXPECT_FALSE(contains(r.out, "bar10")) << r.out;
    EXPECT_TRUE(contains(t.out, "2,1,12,\"BAZ11-2!\",0")) << t.out;
    EXPECT_TRUE(contains(t.out, "0,1,13,\"again\",0")) << t.out;
}

// Long values rewritten and freed, unique and required indexes kept, and
// each error in Access's words leaves the file as it was.
TEST(SqlChange, LongValuesAndErrorsLeaveTheFileAsItWas) {
    Db db(jet::FileFormat::Jet4);
    db.run("CREATE TABLE notes (id LONG NOT NULL, code TEXT(10), body MEMO, pic LONGBINARY, n DOUBLE)");
    db.run("CREATE UNIQUE INDEX code ON notes (code) WITH IGNORE NULL");
    db.run("ALTER TABLE notes ADD CONSTRAINT pk PRIMARY KEY (id)");
    const std::string big(70000, 'm');
    for (int i = 1; i <= 6; ++i)
        db.run("INSERT INTO notes VALUES (" + std::to_string(i) + ", " +
               (i % 2 ? "'c" + std::to_string(i) + "'" : "NULL") + ", '" + big.substr(0, size_t(i) * 1000) +
               "', 'ab', " + std::to_string(i) + ")");
    db.conn.Close();
    const std::string file = db.bytes();
    db.open();
    std::string text;
    const std::pair<const char*, long> errors[] = {
        {"UPDATE notes SET n = n +* 2", 3075},
        {"SELECT id FROM notes WHERE id = 1 2", 3075},
        {"UPDATE notes SET nothere = 1", 3061},
        {"SELECT nothere FROM notes", 3061},
        {"UPDATE notes SET n = 'many' WHERE id = 2", 3464},
        {"UPDATE notes SET code = 'c1' WHERE id = 3", 3022},
        {"UPDATE notes SET code = NULL, id = NULL WHERE id = 3", 3314},
        // Rows 1 to 5 change, memos freed, before row 6 fails: none stays changed.
        {"UPDATE notes SET code = 'x' & id, body = 'y' WHERE id < 6 OR id / 0 = 1", 11},
        {"DELETE FROM notes WHERE body > 1", 3464},
        {"SELECT COUNT(*) FROM notes WHERE SUM(n) > 1", 3096},
        {"SELECT id, COUNT(*) FROM notes", 3122},
        {"SELECT Foo(id) FROM notes", 3085},
        {"UPDATE notes SET", 3144},
        {"SELECT id FROM notes ORDER BY", 3138},
    };
    for (const auto& [sql, number] : errors) EXPECT_EQ(db.error(sql), number) << sql;
    EXPECT_EQ(db.error("SELECT id FROM notes WHERE id = 1 2", &text), 3075);
    EXPECT_EQ(text, "Syntax error (missing operator) in query expression 'id = 1 2'.");
    EXPECT_EQ(db.error("UPDATE notes SET n = 'many' WHERE id = 2", &text), 3464);
    EXPECT_EQ(text, "Data type mismatch in criteria expression.");
    db.conn.Close();
    EXPECT_EQ(db.bytes(), file) << "a failed statement changed the file";
    db.open();

    EXPECT_EQ(db.run("UPDATE notes SET body = Left(body, 10) & '-' & id, pic = NULL WHERE id <= 3"), 3);
    EXPECT_EQ(db.run("UPDATE notes SET body = body & body WHERE id = 6"), 1);   // a longer chain
    EXPECT_EQ(db.run("UPDATE notes SET code = 'c5', id = 7 WHERE id = 5"), 1);  // its own key again
    EXPECT_EQ(db.run("DELETE FROM notes WHERE id = 4 OR code = 'c1'"), 2);
    EXPECT_EQ(db.rows("SELECT id, code, body, Len(body), pic FROM notes WHERE id < 6 ORDER BY id"),
              "2|~|mmmmmmmmmm-2|12|~;3|c3|mmmmmmmmmm-3|12|~");
    EXPECT_EQ(db.rows("SELECT id, code, Len(body) FROM notes WHERE id >= 6 ORDER BY id"), "6|~|12000;7|c5|5000");
    db.conn.Close();
    EXPECT_TRUE(test::accessFileProblems(db.path).empty());
    if (!haveReaders()) GTEST_SKIP() << "independent readers unavailable";
    auto r = test::mdbReaderDump(db.path);
    auto t = test::mdbtoolsDump(db.path);
    EXPECT_TRUE(contains(r.out, R"([3,"c3","mmmmmmmmmm-3",null,3])")) << r.out;
    EXPECT_TRUE(contains(r.out, "[6,null,\"" + big.substr(0, 12000) + "\",\"YQBiAA==\",6]"));
    EXPECT_TRUE(contains(t.out, "==== table: notes (4 rows) ====")) << t.out;
    EXPECT_TRUE(contains(t.out, "7,\"c5\",\"" + big.substr(0, 5000) + "\"")) << t.out;
}

// Relationships that cascade, two levels deep (A -> B on one column, B -> C
// on two, one of them text, matched as the sort order compares), beside one
// that does not (B -> D): a DELETE or a key UPDATE of A takes the rows of B
// and C with it (a key column that stays is left as each row has it) and
// counts A's rows only; where a row it reaches cannot change (a unique index
// of C, D's rows) the whole statement is undone and the file is as before.
// In Access 97, 2000 and 2007 files.
TEST(SqlChange, CascadesReachEveryLevelOrUndoTheStatement) {
    for (const jet::FileFormat format : {jet::FileFormat::Jet3, jet::FileFormat::Jet4, jet::FileFormat::Ace12}) {
        SCOPED_TRACE(int(format));
        Db db(format);
        const std::string memo(3000, 'n');
        for (const std::string& sql :
             {std::string("CREATE TABLE A (id LONG, name TEXT(20))"), std::string("CREATE TABLE B (a LONG, n TEXT(5), note MEMO)"),
              std::string("CREATE TABLE C (k LONG, a LONG, n TEXT(5), tag TEXT(10))"),
              std::string("CREATE TABLE D (k LONG, a LONG, n TEXT(5))"),
              std::string("INSERT INTO A VALUES (1, 'one')"), std::string("INSERT INTO A VALUES (2, 'two')"),
              std::string("INSERT INTO A VALUES (3, 'three')"), std::string("INSERT INTO A VALUES (5, 'five')"),
              "INSERT INTO B VALUES (1, 'p', '" + memo + "')", "INSERT INTO B VALUES (2, 'p', '" + memo + "')",
              std::string("INSERT INTO B VALUES (3, 'p', 'x')"), std::string("INSERT INTO B VALUES (5, 'Q', 'y')"),
              std::string("INSERT INTO C VALUES (1, 1, 'p', 'x')"), std::string("INSERT INTO C VALUES (2, 1, 'P', 'y')"),
              std::string("INSERT INTO C VALUES (3, 2, 'p', 'x')"), std::string("INSERT INTO C VALUES (4, 5, 'q', 'x')"),
              std::string("INSERT INTO C VALUES (5, 3, 'p', 'z')"), std::string("INSERT INTO C VALUES (8, 9, NULL, 'x')"),
              std::string("INSERT INTO D VALUES (1, 3, 'p')"),
              std::string("ALTER TABLE A ADD CONSTRAINT pk PRIMARY KEY (id)"),
              std::string("ALTER TABLE B ADD CONSTRAINT pk PRIMARY KEY (a, n)"),
              std::string("ALTER TABLE C ADD CONSTRAINT pk PRIMARY KEY (k)"),
              std::string("ALTER TABLE D ADD CONSTRAINT pk PRIMARY KEY (k)"),
              std::string("CREATE UNIQUE INDEX atag ON C (a, tag)"),
              std::string("ALTER TABLE B ADD CONSTRAINT AB FOREIGN KEY (a) REFERENCES A (id) ON UPDATE CASCADE "
                          "ON DELETE CASCADE"),
              std::string("ALTER TABLE C ADD CONSTRAINT BC FOREIGN KEY (a, n) REFERENCES B (a, n) ON DELETE CASCADE "
                          "ON UPDATE CASCADE"),
              std::string("ALTER TABLE D ADD CONSTRAINT BD FOREIGN KEY (a, n) REFERENCES B (a, n)"),
              std::string("INSERT INTO C VALUES (6, 1, 'p', 'w')")})  // after the keys: their indexes pending
            db.run(sql);
        const std::string rows = db.rows("SELECT * FROM A ORDER BY id") + "/" +
                                 db.rows("SELECT a, n, Len(note) FROM B ORDER BY a, n") + "/" +
                                 db.rows("SELECT * FROM C ORDER BY k") + "/" + db.rows("SELECT * FROM D");
        db.conn.Close();
        const std::string file = db.bytes();
        db.open();
        std::string text;
        // C's (a, tag) would be (9, 'x') twice once A's 1 became 9.
        EXPECT_EQ(db.error("UPDATE A SET id = 9 WHERE id = 1", &text), 3022) << text;
        // B's (3, 1) would go, and D refers to it.
        EXPECT_EQ(db.error("DELETE FROM A WHERE id = 3", &text), 3200);
        EXPECT_EQ(text, "The record cannot be deleted or changed because table 'D' includes related records.");
        EXPECT_EQ(db.error("UPDATE A SET id = 4 WHERE id >= 3"), 3200);
        EXPECT_EQ(db.rows("SELECT * FROM A ORDER BY id") + "/" + db.rows("SELECT a, n, Len(note) FROM B ORDER BY a, n") +
                      "/" + db.rows("SELECT * FROM C ORDER BY k") + "/" + db.rows("SELECT * FROM D"),
                  rows);
        db.conn.Close();
        EXPECT_EQ(db.bytes(), file) << "a statement undone changed the file";
        db.open();

        EXPECT_EQ(db.run("DELETE FROM A WHERE id = 2"), 1);
        EXPECT_EQ(db.run("UPDATE A SET id = 10, name = 'ten' WHERE id = 1"), 1);
        EXPECT_EQ(db.run("UPDATE A SET id = 11 WHERE id = 10"), 1);  // the rows the last statement changed
        EXPECT_EQ(db.error("INSERT INTO C VALUES (7, 1, 'p', 'q')"), 3201);
        EXPECT_EQ(db.run("INSERT INTO C VALUES (7, 11, 'p', 'q')"), 1);
        EXPECT_EQ(db.run("DELETE FROM D"), 1);
        EXPECT_EQ(db.run("DELETE FROM A WHERE id = 3"), 1);
        const std::string after = "5|five;11|ten/5|Q|1;11|p|3000/1|11|p|x;2|11|P|y;4|5|q|x;6|11|p|w;7|11|p|q;8|9|~|x";
        EXPECT_EQ(db.rows("SELECT * FROM A ORDER BY id") + "/" + db.rows("SELECT a, n, Len(note) FROM B ORDER BY a, n") +
                      "/" + db.rows("SELECT * FROM C ORDER BY k"),
                  after);
        EXPECT_EQ(db.rows("SELECT k FROM C WHERE a = 11 ORDER BY k"), "1;2;6;7");
        db.conn.Close();
        EXPECT_TRUE(test::accessFileProblems(db.path).empty());
        EXPECT_EQ(test::storage::compareWithReader(db.path), "");
        db.open();
        EXPECT_EQ(db.rows("SELECT * FROM A ORDER BY id") + "/" + db.rows("SELECT a, n, Len(note) FROM B ORDER BY a, n") +
                      "/" + db.rows("SELECT * FROM C ORDER BY k"),
                  after);
        EXPECT_EQ(db.rows("SELECT k FROM C WHERE a = 11 AND tag = 'w'"), "6");
        db.conn.Close();
        if (!test::mdbtoolsAvailable()) continue;
        const auto t = test::mdbtoolsDump(db.path);
        EXPECT_TRUE(contains(t.out, "==== table: B (2 rows) ====")) << t.out;
        EXPECT_TRUE(contains(t.out, "==== table: C (6 rows) ====")) << t.out;
    }
}

namespace {

// A value as a literal of Access's SQL.
std::string literal(const Value& v) {
    if (v.kind() == Kind::Text) {
        std::string s = "'";
        for (char c : v.text()) s += c == '\'' ? std::string("''") : std::string(1, c);
        return s + "'";
    }
    std::string s = toIsoText(v);
    if (v.kind() != Kind::DateTime && v.kind() != Kind::Date) return s;
    std::replace(s.begin(), s.end(), 'T', ' ');
    return "#" + s + "#";
}

// Conditions on a column around some of its values: equality, both kinds
// of ranges from either side, BETWEEN, IN and ANDed ranges.
std::vector<std::string> conditionsOn(const std::string& col, const std::vector<Value>& values) {
    std::vector<std::string> out;
    const size_t step = std::max<size_t>(1, values.size() / 6);
    for (size_t i = 0; i < values.size(); i += step) {
        const std::string a = literal(values[i]), b = literal(values[(i * 7 + 3) % values.size()]);
        for (const std::string& c : {col + " = " + a, col + " >= " + a, col + " < " + a, a + " >= " + col,
                                     col + " BETWEEN " + a + " AND " + b, col + " IN (" + a + ", " + b + ")",
                                     col + " > " + a + " AND " + col + " <= " + b + " AND " + col + " <> " + b})
            out.push_back(c);
    }
    return out;
}

struct ColumnValues {
    std::string table, column;
    std::vector<Value> values;  // the distinct values it holds (not Null)
};

// The columns of the file's tables an index could serve, with their values.
std::vector<ColumnValues> keyableColumns(const std::string& path) {
    auto db = jet::Database::open(path, "", true);
    std::vector<ColumnValues> out;
    for (const jet::TableInfo& t : db->listTables()) {
        if (t.kind != jet::TableKind::User) continue;
        const auto cols = db->columns(t.name);
        std::vector<std::vector<Value>> seen(cols.size());
        auto cur = db->scan(t.name);
        std::vector<Value> row;
        while (cur->next(row))
            for (size_t i = 0; i < cols.size(); ++i)
                if (!row[i].isNull() && seen[i].size() < 400) seen[i].push_back(row[i]);
        for (size_t i = 0; i < cols.size(); ++i) {
            const jet::ColType ty = cols[i].type;
            if (ty != jet::ColType::Long && ty != jet::ColType::Int && ty != jet::ColType::Text &&
                ty != jet::ColType::DateTime && ty != jet::ColType::Double)
                continue;
            if (!seen[i].empty()) out.push_back({t.name, cols[i].name, seen[i]});
        }
    }
    return out;
}

}  // namespace

// WHERE on indexed columns reads through the index: in Access-made files
// (unique, ignore-nulls, descending and many-level indexes, non-ASCII text
// keys in the General 97 and legacy orders, Nulls) every condition gives
// the rows, in the order, a scan gives (the scan forced by an OR), and
// UPDATE and DELETE change the same rows.
TEST(SqlIndex, IndexedWhereGivesTheScansRows) {
    const std::vector<std::string> files = {
        "access/jackcess-V2000/indexTestV2000.mdb",          "access/jackcess-V1997/testIndexCodesV1997.mdb",
        "access/jackcess-V2010/testIndexPropertiesV2010.accdb", "access/jackcess-V2007/compIndexTestV2007.accdb",
        "access/jackcess-V2003/compIndexTestV2003.mdb",      "access/jackcess-V2010/indexTestV2010.accdb"};
    size_t compared = 0, found = 0;
    const uint64_t before = jet::indexReadCount();
    for (const std::string& corpus : files) {
        if (!fs::exists(test::corpusPath(corpus))) continue;
        SCOPED_TRACE(corpus);
        ++found;
        Db db(corpus.ends_with(".accdb") ? jet::FileFormat::Ace14 : jet::FileFormat::Jet4, corpus);
        const uint64_t reads = jet::indexReadCount();
        for (const ColumnValues& c : keyableColumns(db.path))
            for (const std::string& cond : conditionsOn("[" + c.column + "]", c.values)) {
                const std::string select = "SELECT * FROM [" + c.table + "] WHERE ";
                EXPECT_EQ(db.rows(select + cond), db.rows(select + "(" + cond + ") OR 1 = 0")) << c.table << ": " << cond;
                ++compared;
            }
        EXPECT_GT(jet::indexReadCount(), reads) << "no index was used";
    }
    if (found == 0) GTEST_SKIP() << "corpus files missing";
    EXPECT_GT(jet::indexReadCount() - before, compared / 4) << compared << " conditions";
    // Writing statements pick their rows the same way.
    const std::string file = "access/jackcess-V2003/compIndexTestV2003.mdb";
    Db by(jet::FileFormat::Jet4, file), scan(jet::FileFormat::Jet4, file);
    const uint64_t reads = jet::indexReadCount();
    for (const std::string& sql : {std::string("UPDATE Table1 SET DC_AGENTE = 'changed' WHERE CD_AGENTE >= 40"),
                                   std::string("DELETE FROM Table1 WHERE CD_AGENTE BETWEEN 10 AND 50"),
                                   std::string("DELETE FROM Table1 WHERE CD_AGENTE IN (3, 7, 3)")})
        EXPECT_EQ(by.run(sql), scan.run(sql + " OR 1 = 0")) << sql;
    EXPECT_GT(jet::indexReadCount(), reads);
    EXPECT_EQ(by.rows("SELECT * FROM Table1"), scan.rows("SELECT * FROM Table1"));
    by.conn.Close();
    EXPECT_TRUE(test::accessFileProblems(by.path).empty());
}

// Rows inserted, changed and deleted since the indexes were last written
// are found: a lookup never reads an index whose refresh is pending.
TEST(SqlIndex, PendingIndexesGiveNoStaleRows) {
    for (const char* interval : {"0", "600000"}) {
        SCOPED_TRACE(std::string("durability interval ") + interval);
        test::ScopedEnv env("TALLYPORT_SYNC_INTERVAL_MS", interval);
        Db db(jet::FileFormat::Jet4);
        db.run("CREATE TABLE t (id LONG, name TEXT(20), x DOUBLE)");
        db.run("CREATE UNIQUE INDEX id ON t (id)");
        db.run("CREATE INDEX name ON t (name DESC, x)");
        for (int i = 0; i < 400; ++i)
            db.run("INSERT INTO t VALUES (" + std::to_string(i) + ", " +
                   (i % 7 ? "'Ärger " + std::to_string(i % 50) + "'" : std::string("NULL")) + ", " +
                   std::to_string(i % 13 - 6) + ".5)");
        const uint64_t reads = jet::indexReadCount();
        const std::vector<std::string> queries = {"SELECT * FROM t WHERE id = 399",
                                                  "SELECT id FROM t WHERE id BETWEEN 100 AND 110 AND x > 0",
                                                  "SELECT id FROM t WHERE name = 'ärger 8'",
                                                  "SELECT id FROM t WHERE name < 'Ärger 2' AND id IN (3, 15, 1000, 99)"};
        auto same = [&] {
            for (const std::string& q : queries) EXPECT_EQ(db.rows(q), db.rows(q + " OR 1 = 0")) << q;
        };
        same();
        EXPECT_EQ(db.run("UPDATE t SET id = id + 1000, name = 'Ärger 8' WHERE id BETWEEN 395 AND 399"), 5);
        same();
        EXPECT_EQ(db.rows("SELECT COUNT(*) FROM t WHERE id > 1000"), "5");
        EXPECT_EQ(db.run("DELETE FROM t WHERE id < 200"), 200);
        same();
        EXPECT_EQ(db.rows("SELECT COUNT(*) FROM t WHERE id <= 1399"), "200");
        db.run("INSERT INTO t VALUES (5, 'ärger 8', 1)");
        same();
        // Every statement a durability point: the indexes are current at
        // once and serve; otherwise only once written.
        if (std::string(interval) == "0") {
            EXPECT_GT(jet::indexReadCount(), reads + 10);
        }
        db.conn.Close();
        EXPECT_TRUE(test::accessFileProblems(db.path).empty());
    }
}
