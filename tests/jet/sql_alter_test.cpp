// ALTER TABLE on columns through the Access provider: ADD, ALTER and DROP
// COLUMN in new Access 97, 2000 and 2010 files and in copies of Access's own,
// with Access's errors; every failed statement leaves the file byte for byte
// as it was, and after each writing one the check finds nothing and the
// independent readers read the table's new columns and values.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "db/ado.h"
#include "db/jet/database.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
namespace fs = std::filesystem;

namespace {

bool haveReaders() { return test::mdbReaderAvailable() && test::mdbtoolsAvailable(); }

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

struct Db {
    test::TempDir dir;
    std::string path;
    Connection conn;

    // A new file of the format, or a copy of a corpus file.
    explicit Db(jet::FileFormat format, const std::string& corpus = {}) {
        path = dir.file(format == jet::FileFormat::Ace14 ? "a.accdb" : "a.mdb");
        if (corpus.empty()) jet::Database::create(path, "", format)->close();
        else fs::copy_file(test::corpusPath(corpus), path);
        open();
    }
    void open() {
        registerBuiltinProviders();
        conn.Mode = adModeReadWrite;
        conn.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path);
    }
    void run(const std::string& sql) { conn.Execute(sql); }
    // Rows as "a|b;c|d" (Null as ~).
    std::string rows(const std::string& sql) {
        auto rs = conn.Execute(sql);
        std::string out;
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
    std::string names(const std::string& table) {
        auto rs = conn.Execute("SELECT * FROM [" + table + "]");
        std::string out;
        for (const FieldInfo& f : rs->fieldInfos()) out += (out.empty() ? "" : "|") + f.name;
        rs->Close();
        return out;
    }
    std::string bytes() {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The statement's error number and text (0 when it ran); the file must
    // be as it was before it.
    long error(const std::string& sql, std::string* text = nullptr) {
        conn.Close();
        const std::string before = bytes();
        open();
        long number = 0;
        try {
            conn.Execute(sql);
        } catch (const Error& e) {
            if (text) *text = e.description();
            number = e.number();
        }
        conn.Close();
        EXPECT_EQ(bytes() == before, number != 0) << sql;
        open();
        return number;
    }
    // A writing statement, then the check on the file.
    void write(const std::string& sql) {
        run(sql);
        conn.Close();
        const auto problems = test::accessFileProblems(path);
        EXPECT_TRUE(problems.empty()) << sql << ": " << (problems.empty() ? "" : problems.front());
        open();
    }
    // Both independent readers' dumps.
    std::pair<std::string, std::string> readers() {
        conn.Close();
        auto r = test::mdbReaderDump(path);
        auto t = test::mdbtoolsDump(path);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(t.exitCode, 0) << t.err;
        open();
        return {r.out, t.out};
    }
};

}  // namespace

// Each change on a table with rows, in the three formats: ADD leaves the
// rows (they read Null in the new column), a Yes/No or AutoNumber column
// is filled in, ALTER converts every value or none, DROP takes the column
// and its long values away.
TEST(SqlAlter, AddAlterAndDropColumnsInEveryFormat) {
    for (jet::FileFormat format : {jet::FileFormat::Jet3, jet::FileFormat::Jet4, jet::FileFormat::Ace14}) {
        Db db(format);
        SCOPED_TRACE(db.path);
        db.run("CREATE TABLE t (id LONG, name TEXT(20), n DOUBLE, note MEMO)");
        db.run("INSERT INTO t VALUES (1, 'Ann', 1.5, 'first')");
        db.run("INSERT INTO t VALUES (2, 'Bob', NULL, NULL)");
        db.run("INSERT INTO t VALUES (3, 'Carla', -2, '" + std::string(3000, 'c') + "')");

        db.write("ALTER TABLE t ADD COLUMN city TEXT(30)");
        db.write("INSERT INTO t (id, city) VALUES (4, 'Oslo')");
        EXPECT_EQ(db.rows("SELECT id, name, n, Len(note), city FROM t ORDER BY id"),
                  "1|Ann|1.5|5|~;2|Bob|~|~|~;3|Carla|-2|3000|~;4|~|~|~|Oslo");
        // Read as stored, each row into the values of the one before.
        EXPECT_EQ(db.rows("SELECT name, note, city FROM t"),
                  "Ann|first|~;Bob|~|~;Carla|" + std::string(3000, 'c') + "|~;~|~|Oslo");
        if (haveReaders()) {
            const auto [r, t] = db.readers();
            EXPECT_TRUE(contains(r, R"([1,"Ann",1.5,"first",null])")) << r;
            EXPECT_TRUE(contains(r, R"([4,null,null,null,"Oslo"])")) << r;
            EXPECT_TRUE(contains(t, "2,\"Bob\",,,\n")) << t;
            EXPECT_TRUE(contains(t, "4,,,,\"Oslo\"")) << t;
        }
        db.write("ALTER TABLE t ADD paid BIT");
        db.write("ALTER TABLE [t] ADD COLUMN [qty] SHORT NOT NULL DEFAULT 7");
        db.write("INSERT INTO t (id) VALUES (5)");
        EXPECT_EQ(db.error("INSERT INTO t (id, qty) VALUES (6, NULL)"), 3314);
        EXPECT_EQ(db.rows("SELECT id, paid, qty FROM t ORDER BY id"), "1|false|~;2|false|~;3|false|~;4|false|~;5|false|7");

        std::string text;
        EXPECT_EQ(db.error("ALTER TABLE t ALTER COLUMN name TEXT(3)", &text), 3163);
        EXPECT_EQ(db.error("ALTER TABLE t ALTER COLUMN n BYTE"), 3349);
        EXPECT_EQ(db.error("ALTER TABLE t ADD COLUMN NAME LONG", &text), 3380);
        EXPECT_EQ(text, "Field 'NAME' already exists in table 't'.");
        EXPECT_EQ(db.error("ALTER TABLE t DROP COLUMN nothere", &text), 3265);
        EXPECT_EQ(db.error("ALTER TABLE t ADD COLUMN x WHATEVER"), 3292);
        EXPECT_EQ(db.error("ALTER TABLE t ALTER COLUMN"), 3293);
        EXPECT_EQ(db.error("ALTER TABLE nothere ADD COLUMN x LONG"), 3376);

        EXPECT_EQ(db.error("ALTER TABLE t ALTER COLUMN note TEXT(10)"), 3163);  // 3000 characters
        db.write("ALTER TABLE t ALTER COLUMN n TEXT(10)");
        EXPECT_EQ(db.rows("SELECT id, n, Len(note) FROM t WHERE id < 4 ORDER BY id"), "1|1.5|5;2|~|~;3|-2|3000");
        db.write("ALTER TABLE t DROP COLUMN city");
        db.write("ALTER TABLE t DROP qty");
        db.write("ALTER TABLE t ADD COLUMN seq COUNTER");
        db.write("ALTER TABLE t DROP COLUMN note");
        db.write("INSERT INTO t (name) VALUES ('Dan')");
        EXPECT_EQ(db.names("t"), "id|name|n|paid|seq");
        // The AutoNumber column numbered the rows there were, in their order
        // in the file; the next row takes the next number.
        const std::string all = db.rows("SELECT id, name, n, paid FROM t ORDER BY id");
        EXPECT_EQ(all, "~|Dan|~|false;1|Ann|1.5|false;2|Bob|~|false;3|Carla|-2|false;4|~|~|false;5|~|~|false");
        EXPECT_EQ(db.rows("SELECT COUNT(*), SUM(seq), MIN(seq), MAX(seq) FROM t WHERE id > 0"), "5|15|1|5");
        EXPECT_EQ(db.rows("SELECT seq FROM t WHERE name = 'Dan'"), "6");
        db.conn.Close();
        db.open();
        EXPECT_EQ(db.rows("SELECT id, name, n, paid FROM t ORDER BY id"), all);
        if (!haveReaders()) continue;
        const auto [r, t] = db.readers();
        EXPECT_TRUE(contains(r, R"([3,"Carla","-2",false,)")) << r;
        EXPECT_TRUE(contains(r, R"([null,"Dan",null,false,6])")) << r;
        EXPECT_TRUE(contains(t, "id,name,n,paid,seq\n")) << t;
        EXPECT_TRUE(contains(t, ",\"Dan\",,0,6")) << t;
    }
}

// Copies of Access's own files: columns that an index or a relationship
// uses are refused as Access refuses them; the others change with the
// properties Access keeps beside them, in a Jet 4 file, one whose rows still
// hold columns Access dropped, and an Access 97 file.
TEST(SqlAlter, AccessFilesKeepTheirKeysAndProperties) {
    const std::string keys = "access/jackcess-V2000/indexTestV2000.mdb";
    const std::string dropped = "access/jackcess-V2000/delColTestV2000.mdb";
    const std::string v97 = "access/jackcess-V1997/testV1997.mdb";
    for (const auto& f : {keys, dropped, v97})
        if (!fs::exists(test::corpusPath(f))) GTEST_SKIP() << "corpus file missing";
    {
        Db db(jet::FileFormat::Jet4, keys);
        std::string text;
        EXPECT_EQ(db.error("ALTER TABLE Table1 DROP COLUMN otherfk1", &text), 3280);
        EXPECT_EQ(text, "Cannot delete a field that is part of an index or is needed by the system.");
        EXPECT_EQ(db.error("ALTER TABLE Table1 DROP COLUMN id"), 3280);
        EXPECT_EQ(db.error("ALTER TABLE Table1 ALTER COLUMN otherfk2 TEXT(5)"), 3368);
        EXPECT_EQ(db.error("ALTER TABLE MSysObjects ADD COLUMN x LONG"), 3251);
        db.write("ALTER TABLE Table1 ADD COLUMN note TEXT(10) NOT NULL DEFAULT 'n/a'");
        db.write("INSERT INTO Table1 (id, otherfk1, otherfk2, otherfk3) VALUES (7, 1, 11, 0)");
        EXPECT_EQ(db.error("UPDATE Table1 SET note = NULL WHERE id = 7"), 3314);
        db.write("ALTER TABLE Table1 ALTER COLUMN data MEMO");
        // A row whose new Required column is still Null takes a value when it
        // changes, as in Access.
        EXPECT_EQ(db.error("UPDATE Table1 SET data = data & '!' WHERE id < 2"), 3314);
        db.write("UPDATE Table1 SET data = data & '!', note = 'u' WHERE id < 2");
        db.write("ALTER TABLE Table1 DROP COLUMN otherfk3");
        EXPECT_EQ(db.error("UPDATE Table1 SET id = 1 WHERE id = 7"), 3022);  // the primary key still holds
        const std::string all = db.rows("SELECT * FROM Table1 ORDER BY id");
        EXPECT_EQ(all, "0|0|10|baz0!|u;1|1|11|baz11!|u;2|1|11|baz11-2|~;3|2|13|baz13|~;7|1|11|~|n/a");
        db.conn.Close();
        db.open();
        EXPECT_EQ(db.rows("SELECT * FROM Table1 ORDER BY id"), all);
        EXPECT_EQ(db.error("INSERT INTO Table1 (id, otherfk1, otherfk2, note) VALUES (8, 1, 11, NULL)"), 3314);
        if (haveReaders()) {
            const auto [r, t] = db.readers();
            EXPECT_TRUE(contains(r, R"([7,1,11,null,"n/a"])")) << r;
            EXPECT_TRUE(contains(r, R"([1,1,11,"baz11!","u"])")) << r;
            EXPECT_TRUE(contains(t, "7,1,11,,\"n/a\"")) << t;
        }
    }
    {
        // Access dropped two of this table's columns and left their bytes in
        // the rows; a column added after them is read right by every reader.
        Db db(jet::FileFormat::Jet4, dropped);
        db.write("ALTER TABLE Table1 ADD COLUMN extra LONG");
        db.write("INSERT INTO Table1 (id, data, extra) VALUES (9, 'new', 99)");
        EXPECT_EQ(db.rows("SELECT * FROM Table1 ORDER BY id"), "0|2|foo|foo2|~;3|5|bar|bar2|~;9|0|new|~|99");
        if (haveReaders()) {
            const auto [r, t] = db.readers();
            EXPECT_TRUE(contains(r, R"([3,5,"bar","bar2",null])")) << r;
            EXPECT_TRUE(contains(t, "9,0,\"new\",,99")) << t;
        }
    }
    {
        Db db(jet::FileFormat::Jet3, v97);
        db.write("ALTER TABLE Table1 ADD COLUMN J TEXT(10) DEFAULT 'j'");
        db.write("ALTER TABLE Table1 ALTER COLUMN F TEXT(20)");
        EXPECT_EQ(db.error("ALTER TABLE Table1 DROP COLUMN B"), 3280);  // indexed
        db.write("ALTER TABLE Table1 DROP COLUMN G");
        db.write("INSERT INTO Table1 (A, F) VALUES ('x', 'y')");
        EXPECT_EQ(db.rows("SELECT A, F, I, J FROM Table1 ORDER BY A"), "a|0|false|~;abcdefg|444.555|true|~;x|y|false|j");
        if (haveReaders()) {
            const auto [r, t] = db.readers();
            EXPECT_TRUE(contains(r, R"(["abcdefg","hijklmnop",2,222,333333333,"444.555",)")) << r;
            EXPECT_TRUE(contains(t, "\"x\",,0,0,0,\"y\",0.0000,0,\"j\"")) << t;
        }
    }
}

// Room that removed rows leave on their pages takes the rows stored after
// them, before the table takes a new page: deleting half a table and
// inserting as many rows again leaves the file as large as it was.
TEST(SqlAlter, RemovedRowsLeaveRoomForNewOnes) {
    for (jet::FileFormat format : {jet::FileFormat::Jet3, jet::FileFormat::Jet4, jet::FileFormat::Ace14}) {
        Db db(format);
        SCOPED_TRACE(db.path);
        db.run("CREATE TABLE r (id LONG, body TEXT(200))");
        const std::string body(80, 'b');
        for (int i = 0; i < 400; ++i) db.run("INSERT INTO r VALUES (" + std::to_string(i) + ", '" + body + "')");
        db.conn.Close();
        const auto size = fs::file_size(db.path);
        db.open();
        db.write("DELETE FROM r WHERE id MOD 2 = 1");
        db.write("UPDATE r SET body = body & body WHERE id < 20");  // rows that grow move to pages with room
        for (int i = 400; i < 590; ++i) db.run("INSERT INTO r VALUES (" + std::to_string(i) + ", 'n')");
        db.write("INSERT INTO r VALUES (1000, 'last')");
        db.conn.Close();
        EXPECT_EQ(fs::file_size(db.path), size);
        db.open();
        EXPECT_EQ(db.rows("SELECT COUNT(*), SUM(id), SUM(Len(body)) FROM r"),
                  std::to_string(391) + "|" + std::to_string(39800 + 93955 + 1000) + "|" +
                      std::to_string(200 * 80 + 10 * 80 + 190 + 4));
        if (haveReaders()) {
            const auto [r, t] = db.readers();
            EXPECT_TRUE(contains(r, "[589,\"n\"]")) << r;
            EXPECT_TRUE(contains(t, "==== table: r (391 rows) ====")) << t;
        }
    }
}

// Room that removed long values leave (Memos rewritten by UPDATE, rows
// with Memos deleted) takes the long values stored after them, before a
// column takes a new long-value page: rewriting every Memo, one value in a
// row, a full one and a chain, round after round in sessions of their own,
// keeps the file's size, and the engine and both readers read the last
// values.
TEST(SqlAlter, RemovedLongValuesLeaveRoomForNewOnes) {
    for (jet::FileFormat format : {jet::FileFormat::Jet3, jet::FileFormat::Jet4, jet::FileFormat::Ace14}) {
        Db db(format);
        SCOPED_TRACE(db.path);
        const size_t lengths[] = {300, 2500, 9000, 40};
        auto text = [&](int id, int round, int which) {
            std::string s = std::string(1, char('a' + round)) + std::to_string(id) + ":";
            s.resize(lengths[size_t(id + round + which) % 4], char('a' + (id + round + which) % 26));
            return s;
        };
        auto values = [&](int id, int round) {
            return std::to_string(id) + ", '" + text(id, round, 0) + "', '" + text(id, round, 1) + "'";
        };
        db.run("CREATE TABLE m (id LONG, body MEMO, note MEMO)");
        for (int i = 0; i < 24; ++i) db.run("INSERT INTO m VALUES (" + values(i, 0) + ")");
        std::vector<uintmax_t> sizes;
        int round = 1;
        for (; round <= 5; ++round) {
            for (int i = 0; i < 24; ++i)
                db.run("UPDATE m SET body = '" + text(i, round, 0) + "', note = '" + text(i, round, 1) +
                       "' WHERE id = " + std::to_string(i));
            db.run("DELETE FROM m WHERE id MOD 5 = " + std::to_string(round % 5));
            for (int i = round % 5; i < 24; i += 5) db.run("INSERT INTO m VALUES (" + values(i, round) + ")");
            db.conn.Close();
            sizes.push_back(fs::file_size(db.path));
            db.open();
        }
        // Access 97 files keep no free-space maps of long values; the room
        // is found on the column's pages, a little less tightly.
        const uintmax_t slack = format == jet::FileFormat::Jet3 ? sizes.front() / 20 : 0;
        EXPECT_LE(sizes.back(), sizes.front() + slack) << sizes.front() << " .. " << sizes.back();
        std::string expected;
        for (int i = 0; i < 24; ++i)
            expected += (i ? ";" : "") + std::to_string(i) + "|" + text(i, round - 1, 0) + "|" + text(i, round - 1, 1);
        EXPECT_EQ(db.rows("SELECT id, body, note FROM m ORDER BY id"), expected);
        db.conn.Close();
        const auto problems = test::accessFileProblems(db.path);
        EXPECT_TRUE(problems.empty()) << problems.front();
        db.open();
        if (!haveReaders()) continue;
        const auto [r, t] = db.readers();
        for (int i = 0; i < 24; ++i) {
            const std::string a = text(i, round - 1, 0), b = text(i, round - 1, 1);
            EXPECT_TRUE(contains(r, "[" + std::to_string(i) + ",\"" + a + "\",\"" + b + "\"]")) << i;
            EXPECT_TRUE(contains(t, std::to_string(i) + ",\"" + a + "\",\"" + b + "\"")) << i;
        }
    }
}

// Column changes inside a unit (the preview's Execute SQL) are taken back
// with it: the file is as it was before the unit.
TEST(SqlAlter, UnitTakesColumnChangesBack) {
    Db db(jet::FileFormat::Jet4);
    db.run("CREATE TABLE u (id LONG, name TEXT(10), note MEMO)");
    db.run("INSERT INTO u VALUES (1, 'a', 'x')");
    db.conn.Close();
    const std::string before = db.bytes();
    db.open();
    db.conn.BeginTrans();
    db.run("ALTER TABLE u ADD COLUMN flag BIT NOT NULL");
    db.run("ALTER TABLE u ALTER COLUMN id TEXT(5)");
    db.run("ALTER TABLE u DROP COLUMN note");
    db.run("INSERT INTO u VALUES ('2', 'b', True)");
    EXPECT_EQ(db.rows("SELECT * FROM u ORDER BY id"), "1|a|false;2|b|true");
    db.conn.RollbackTrans();
    EXPECT_EQ(db.names("u"), "id|name|note");
    EXPECT_EQ(db.rows("SELECT * FROM u"), "1|a|x");
    db.conn.Close();
    EXPECT_EQ(db.bytes(), before);
    db.open();
}
