// Edge values and constraints through the statements a user types: each must
// be stored as Access stores it and read back the same by our engine,
// mdb-reader and mdbtools, or be refused with the engine's error.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "convert/target.h"
#include "db/ado.h"
#include "db/error.h"
#include "db/jet/database.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
namespace fs = std::filesystem;

namespace {

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

// A database file and a connection to it, as the SQL window opens it.
struct Target {
    test::TempDir dir;
    std::string path;
    Connection conn;

    explicit Target(jet::FileFormat format = jet::FileFormat::Jet4, const std::string& copyOf = {})
        : path(dir.file(format == jet::FileFormat::Jet4 ? "target.mdb" : "target.accdb")) {
        registerBuiltinProviders();
        if (copyOf.empty()) jet::Database::create(path, "", format)->close();
        else fs::copy_file(copyOf, path);
        open();
    }
    void open() {
        conn.CursorLocation = adUseClient;
        conn.Mode = adModeReadWrite;
        conn.Open(convert::target::connectionString(path, ""));
    }
    // A new session: everything the engine knows comes from the file again.
    void reopen() {
        conn.Close();
        open();
    }
    void run(const std::string& sql) { conn.Execute(sql); }
    long error(const std::string& sql, std::string* text = nullptr) {
        try {
            conn.Execute(sql);
        } catch (const Error& e) {
            if (text) *text = e.description();
            return e.number();
        }
        return 0;
    }
    std::vector<std::vector<Value>> select(const std::string& sql) { return test::storage::selectRows(conn, sql); }
    // Closes the connection; our engine and mdb-reader must agree on every
    // table; returns mdbtools' dump ("" when it is not installed).
    std::string closeAndCompare() {
        conn.Close();
        const std::string diff = test::storage::compareWithReader(path);
        EXPECT_EQ(diff, "");
        if (!test::mdbtoolsAvailable()) return "";
        auto t = test::mdbtoolsDump(path);
        EXPECT_EQ(t.exitCode, 0) << t.err;
        return t.out;
    }
};

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

const std::string kBom = "\xEF\xBB\xBF";  // U+FEFF in UTF-8

}  // namespace

// Text that starts with U+FEFF would begin with the bytes of the compression
// mark if stored as plain UTF-16; it must read back exactly, in Text and Memo,
// with and without WITH COMPRESSION, in every reader.
TEST(StoredValues, TextStartingWithByteOrderMarkReadsBackExactly) {
    Target db;
    db.run("CREATE TABLE b (n INT, t TEXT(40), tc TEXT(40) WITH COMPRESSION, m MEMO, mc MEMO WITH COMP)");
    const std::vector<std::string> texts = {
        kBom + "Привет",           // the reported case
        kBom + "Hello",            // Latin-1 only: read as "Hello" before
        kBom,                      // the mark alone
        kBom + "a" + kBom + "Ωb",  // runs of both kinds
        kBom + kBom + "z",
        "x" + kBom,  // not first: stored as before
    };
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string& t = texts[i];
        db.run("INSERT INTO b VALUES (" + std::to_string(i) + ", '" + t + "', '" + t + "', '" + t + "', '" + t + "')");
    }
    // A long memo (stored in long-value pages) with the mark.
    const std::string longMemo = kBom + std::string(5000, 'q') + "Ж";
    db.run("INSERT INTO b (n, m, mc) VALUES (99, '" + longMemo + "', '" + longMemo + "')");
    // A character with a zero byte in its code cannot follow the mark in
    // either stored form: refused, nothing half-written.
    std::string why;
    EXPECT_EQ(db.error("INSERT INTO b (n, t) VALUES (7, '" + kBom + "一')", &why), 3251);
    EXPECT_TRUE(contains(why, "U+FEFF")) << why;

    auto check = [&] {
        auto rows = db.select("SELECT * FROM b");
        ASSERT_EQ(rows.size(), texts.size() + 1);
        for (size_t i = 0; i < texts.size(); ++i)
            for (size_t k = 1; k <= 4; ++k) EXPECT_EQ(rows[i][k], Value(texts[i])) << i << "/" << k;
        EXPECT_EQ(rows.back()[3], Value(longMemo));
        EXPECT_EQ(rows.back()[4], Value(longMemo));
    };
    check();
    db.reopen();
    check();
    const std::string tools = db.closeAndCompare();
    if (!tools.empty()) {
        EXPECT_TRUE(contains(tools, "0," + quoted(texts[0]) + "," + quoted(texts[0]))) << tools;
        EXPECT_TRUE(contains(tools, "1," + quoted(texts[1]) + "," + quoted(texts[1])));
        EXPECT_TRUE(contains(tools, "3," + quoted(texts[3]) + "," + quoted(texts[3])));
    }
}

// NOT NULL is kept in the file as Access keeps it (the Required property of
// the table's property list), so a later session, Access-made Required
// columns, mdbtools' schema and its property list all see it.
TEST(StoredValues, NotNullIsKeptInTheFile) {
    {
        Target db;
        db.run("CREATE TABLE a (n INT NOT NULL, t TEXT(10) NOT NULL, free LONG, [Ünïcode näme] MEMO NOT NULL)");
        db.run("INSERT INTO a VALUES (1, 'x', NULL, 'm')");
        db.reopen();
        std::string why;
        EXPECT_EQ(db.error("INSERT INTO a VALUES (NULL, 'x', 1, 'm')", &why), 3314);
        EXPECT_TRUE(contains(why, "'a.n'")) << why;
        EXPECT_EQ(db.error("INSERT INTO a (n, t, free) VALUES (2, 'y', 3)"), 3314);  // the memo
        EXPECT_EQ(db.error("INSERT INTO a VALUES (2, 'y', NULL, 'm')"), 0);
        const std::string tools = db.closeAndCompare();
        if (!tools.empty()) {
            EXPECT_TRUE(contains(tools, "[n]\t\t\tLong Integer NOT NULL")) << tools;
            EXPECT_TRUE(contains(tools, "[t]\t\t\tText (10) NOT NULL"));
            EXPECT_TRUE(contains(tools, "[free]\t\t\tLong Integer,"));
            EXPECT_TRUE(contains(tools, "[Ünïcode näme]\t\t\tMemo/Hyperlink (255) NOT NULL")) << tools;
            auto prop = test::runCommand({"mdb-prop", db.path, "a"});
            EXPECT_TRUE(contains(prop.out, "name: n\n\tRequired: yes")) << prop.out;
            EXPECT_FALSE(contains(prop.out, "name: free"));
        }
    }
    // An Access-made table whose columns are all Required.
    Target copy(jet::FileFormat::Jet4, test::corpusPath("access/jackcess-V2000/fixedTextTestV2000.mdb").string());
    EXPECT_EQ(copy.error("INSERT INTO users VALUES (NULL, 'l', 'p', 's', 'n', 1, 2, 3, 'N', #2020-01-01#)"), 3314);
    EXPECT_EQ(copy.error("INSERT INTO users VALUES (9, 'l', 'p', 's', 'n', 1, 2, 3, 'N', #2020-01-01#)"), 0);
    copy.closeAndCompare();
}

// Number literals of any length are read exactly or refused with Jet's
// overflow; the limits of Single and of dates are the format's own, on every
// route to them.
TEST(StoredValues, LongLiteralsAndTheLimitsOfEachType) {
    Target db;
    db.run("CREATE TABLE n (l LONG, d DECIMAL(18,2), t TEXT(255), c CURRENCY, s SINGLE, w DATETIME)");
    const std::string zeros96(96, '0'), zeros100(100, '0');
    db.run("INSERT INTO n (l, d, c) VALUES (1." + zeros96 + ", 1." + zeros96 + ", 1." + zeros100 + ")");
    db.run("INSERT INTO n (t) VALUES (1" + std::string(99, '0') + ")");
    const std::string digits =
        "123456789012345678901234567890123456789012345678901234567890"
        "123456789012345678901234567890123456789012345678901234567890";
    db.run("INSERT INTO n (t, l) VALUES (" + digits + "." + digits + ", 2.5" + zeros100 + "1)");
    db.run("INSERT INTO n (l, d) VALUES (0." + zeros100 + "5, 0.0049" + zeros100 + "9)");
    EXPECT_EQ(db.error("INSERT INTO n (l) VALUES (1" + zeros100 + ")"), 3349);
    EXPECT_EQ(db.error("INSERT INTO n (c) VALUES (-" + digits + ")"), 3349);
    // Single: its largest value as our SELECT prints it, and anything that
    // rounds to it, fit; halfway to the next power of two does not.
    db.run("INSERT INTO n (s) VALUES (3.4028234663852886e38)");
    db.run("INSERT INTO n (s) VALUES (-3.40282356779733e38)");
    EXPECT_EQ(db.error("INSERT INTO n (s) VALUES (3.4028235677973366e38)"), 3349);
    EXPECT_EQ(db.error("INSERT INTO n (s) VALUES ('-1e39')"), 3349);
    db.run("INSERT INTO n (s) VALUES (" + shortestDouble(3.4028234663852886e38) + ")");  // as SELECT prints it

    auto rows = db.select("SELECT * FROM n");
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0][0], Value(int64_t(1)));
    EXPECT_EQ(rows[0][1], Value(Decimal{"1.00"}));
    EXPECT_EQ(rows[0][3], Value(Currency{10000}));
    EXPECT_EQ(rows[1][2], Value("1" + std::string(99, '0')));
    EXPECT_EQ(rows[2][2], Value(digits + "." + digits.substr(0, 119)));  // no trailing zero
    EXPECT_EQ(rows[2][0], Value(int64_t(3)));                            // 2.5000...01 is above half
    EXPECT_EQ(rows[3][0], Value(int64_t(0)));                            // 0.000...05 rounds to nothing
    EXPECT_EQ(rows[3][1], Value(Decimal{"0.00"}));
    const double singleMax = 3.4028234663852886e38;
    EXPECT_EQ(rows[4][4], Value(singleMax));
    EXPECT_EQ(rows[5][4], Value(-singleMax));
    EXPECT_EQ(rows[6][4], Value(singleMax));
    const std::string tools = db.closeAndCompare();
    if (!tools.empty()) {
        EXPECT_TRUE(contains(tools, "\"1" + std::string(99, '0') + "\"")) << tools.substr(0, 2000);
        EXPECT_TRUE(contains(tools, ",3.4028235e+38,")) << tools.substr(0, 2000);
    }

    // Dates: the whole first day of year 100, as a number, a date and a
    // text, and the last moments of 9999. (mdbtools shows no date before
    // 1899-12-30 or after about 4637, and mdb-reader reads the time of a day
    // before 1899-12-30 as if counted back from the next day, so only our
    // engine is asked for these; mdb-reader reads the midnight ones.)
    Target dates;
    dates.run("CREATE TABLE w (w DATETIME)");
    dates.run("INSERT INTO w VALUES (-657434.5)");
    dates.run("INSERT INTO w VALUES (#100-01-01#)");
    dates.run("INSERT INTO w VALUES ('1/2/100 6:00:00')");
    dates.run("INSERT INTO w VALUES (#0100-01-01 12:00:00#)");
    dates.run("INSERT INTO w VALUES (2958465.99998)");
    EXPECT_EQ(dates.error("INSERT INTO w VALUES (-657435)"), 3349);
    EXPECT_EQ(dates.error("INSERT INTO w VALUES (2958466)"), 3349);
    EXPECT_EQ(dates.error("INSERT INTO w VALUES (#12/31/99#)"), 0);  // two digits: 1999
    rows = dates.select("SELECT w FROM w");
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0][0], Value(DateTime{{100, 1, 1}, 12, 0, 0}));
    EXPECT_EQ(rows[1][0], Value(DateTime{{100, 1, 1}, 0, 0, 0}));
    EXPECT_EQ(rows[2][0], Value(DateTime{{100, 1, 2}, 6, 0, 0}));
    EXPECT_EQ(rows[3][0], rows[0][0]);
    EXPECT_EQ(rows[4][0].dateTime().date, (Date{9999, 12, 31}));
    EXPECT_EQ(rows[5][0], Value(DateTime{{1999, 12, 31}, 0, 0, 0}));
    dates.conn.Close();
    auto reader = test::mdbReaderDump(dates.path);
    if (reader.exitCode == 0) {
        EXPECT_TRUE(contains(reader.out, R"(["0100-01-01T00:00:00.000"])")) << reader.out;
        EXPECT_TRUE(contains(reader.out, R"(["1999-12-31T00:00:00.000"])")) << reader.out;
    }
}

// Text numbers longer than the literal's kept digits keep every digit.
TEST(StoredValues, NumberLiteralIntoTextKeepsEveryDigit) {
    Target db;
    db.run("CREATE TABLE x (m MEMO)");
    const std::string digits(300, '7');
    db.run("INSERT INTO x VALUES (" + digits.substr(0, 150) + "." + digits.substr(0, 40) + "000)");
    db.run("INSERT INTO x VALUES (-0.000" + digits.substr(0, 120) + ")");
    auto rows = db.select("SELECT m FROM x");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], Value(digits.substr(0, 150) + "." + digits.substr(0, 40)));
    EXPECT_EQ(rows[1][0], Value("-0.000" + digits.substr(0, 120)));
    db.closeAndCompare();
}

// A Memo holds as much as every reader can read (its length has three bytes
// in mdb-reader and mdbtools): 8,388,607 characters; one more is refused with
// a message that names the limit.
TEST(StoredValues, MemoLimitIsStatedAndKept) {
    test::TempDir dir;
    const std::string file = dir.file("memo.mdb");
    {
        auto db = jet::Database::create(file, "");
        db->createTable("m", {test::storage::column("v", jet::ColType::Memo)});
        db->insertRow("m", {Value(std::string(8388607, 'm'))});
        try {
            db->insertRow("m", {Value(std::string(8388608, 'm'))});
            ADD_FAILURE() << "a Memo of 8,388,608 characters was accepted";
        } catch (const Error& e) {
            EXPECT_TRUE(contains(e.description(), "8,388,607 characters")) << e.description();
        }
        db->close();
    }
    auto db = jet::Database::open(file, "", true);
    auto cur = db->scan("m");
    std::vector<Value> row;
    ASSERT_TRUE(cur->next(row));
    EXPECT_EQ(row[0].text().size(), 8388607u);
    EXPECT_FALSE(cur->next(row));
    db->close();
}

// CHAR(n) and NCHAR(n) are fixed-length text as Access makes it: the fixed
// flag, the value padded with blanks to n characters.
TEST(StoredValues, FixedLengthTextIsStoredAsAccessStoresIt) {
    Target db;
    db.run("CREATE TABLE f (c CHAR(5), n NCHAR(3), v VARCHAR(5), k INT)");
    db.run("INSERT INTO f VALUES ('ab', 'xyz', 'ab', 1)");
    db.run("INSERT INTO f VALUES ('Жé', NULL, 'c', 2)");
    EXPECT_EQ(db.error("INSERT INTO f VALUES ('abcdef', 'x', 'x', 3)"), 3163);
    auto rows = db.select("SELECT * FROM f");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], Value(std::string("ab   ")));
    EXPECT_EQ(rows[0][1], Value(std::string("xyz")));
    EXPECT_EQ(rows[0][2], Value(std::string("ab")));
    EXPECT_EQ(rows[1][0], Value(std::string("Жé   ")));
    EXPECT_TRUE(rows[1][1].isNull());
    db.conn.Close();
    {
        auto raw = jet::Database::open(db.path, "", true);
        const auto cols = raw->columns("f");
        EXPECT_TRUE(cols[0].fixedLength);
        EXPECT_TRUE(cols[1].fixedLength);
        EXPECT_FALSE(cols[2].fixedLength);
        raw->close();
    }
    db.open();
    const std::string tools = db.closeAndCompare();
    if (!tools.empty()) {
        EXPECT_TRUE(contains(tools, "\"ab   \",\"xyz\",\"ab\",1")) << tools;
    }
    auto reader = test::mdbReaderDump(db.path);
    if (reader.exitCode == 0) {
        EXPECT_TRUE(contains(reader.out, R"("name":"c","type":"text","size":10,)")) << reader.out;
    }
    if (reader.exitCode == 0) {
        EXPECT_TRUE(contains(reader.out, R"("fixedLength":true)"));
    }
}

// The command line: a script file with a UTF-8 byte-order mark, an empty
// script file, and a text or binary column of size 0.
TEST(StoredValues, ScriptFilesAndFieldSizesOnTheCommandLine) {
    test::TempDir dir;
    const std::string file = dir.file("cli.mdb");
    jet::Database::create(file, "")->close();
    const std::string script = dir.file("bom.sql"), empty = dir.file("empty.sql"), blank = dir.file("blank.sql");
    test::writeFile(script, kBom + "CREATE TABLE s (a INT)\r\nINSERT INTO s VALUES (5)\r\n");
    test::writeFile(empty, "");
    test::writeFile(blank, kBom + "\n  \n");
    auto r = test::runCommand({test::tallyportExe(), "sql", file, "-f", script});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    for (const auto& f : {empty, blank}) {
        r = test::runCommand({test::tallyportExe(), "sql", file, "-f", f});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
    }
    r = test::runCommand({test::tallyportExe(), "sql", file, "-e", "SELECT a FROM s"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "5")) << r.out;
    for (const char* type : {"TEXT(0)", "BINARY(0)", "VARCHAR(0)"}) {
        r = test::runCommand({test::tallyportExe(), "sql", file, "-e", std::string("CREATE TABLE z (q ") + type + ")"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(contains(r.err, "Size of field 'q' must be from 1 through 255.")) << type << ": " << r.err;
    }
    r = test::runCommand({test::tallyportExe(), "sql", file});
    EXPECT_EQ(r.exitCode, 2);  // no statements at all is still bad usage
}

// A table of 255 columns of every type, more than 27 of them Memo or OLE:
// every long-value column gets usage maps of its own (they take more than one
// map page), in every version we write; the table is filled, read back by
// every reader, and dropped with all its pages.
TEST(WideTables, TwoHundredFiftyFiveColumnsOfEveryTypeInEveryVersion) {
    using jet::ColType;
    const ColType cycle[] = {ColType::Long,   ColType::Text,  ColType::Memo,  ColType::Bool,    ColType::Byte,
                             ColType::Int,    ColType::Money, ColType::Float, ColType::Double,  ColType::DateTime,
                             ColType::Binary, ColType::OLE,   ColType::Guid,  ColType::Numeric, ColType::Memo};
    for (auto format : {jet::FileFormat::Jet4, jet::FileFormat::Ace12, jet::FileFormat::Ace14, jet::FileFormat::Ace16,
                        jet::FileFormat::Ace17}) {
        SCOPED_TRACE(int(format));
        test::TempDir dir;
        const std::string file = dir.file(format == jet::FileFormat::Jet4 ? "wide.mdb" : "wide.accdb");
        std::vector<jet::ColumnDef> cols;
        for (int i = 0; i < 255; ++i) {
            auto c = test::storage::column(("c" + std::to_string(i)).c_str(), cycle[i % 15], 12);
            c.notNull = i % 3 == 0;  // a long property list in the catalog
            cols.push_back(c);
        }
        size_t longs = 0;
        for (const auto& c : cols) longs += c.type == ColType::Memo || c.type == ColType::OLE;
        ASSERT_GT(longs, 27u);
        auto row = [&](int r) {
            std::vector<Value> v;
            for (int i = 0; i < 255; ++i) {
                // clang-format off
                switch (cols[size_t(i)].type) {
                case ColType::Long: case ColType::Byte: case ColType::Int: v.emplace_back(int64_t(i + r)); break;
                case ColType::Text: v.emplace_back("t" + std::to_string(i * 100 + r)); break;
                case ColType::Memo:
                    v.emplace_back(std::string(size_t(i * 40 + r), char('a' + i % 26)) + std::to_string(r));
                    break;
                case ColType::Bool: v.emplace_back((i + r) % 2 == 0); break;
                case ColType::Money: v.emplace_back(Currency{int64_t(i) * 10000 + r}); break;
                case ColType::Float: case ColType::Double: v.emplace_back(i + r + 0.5); break;
                case ColType::DateTime: v.emplace_back(DateTime{{2000 + i % 50, 1 + r % 12, 1 + i % 28}, 1, 2, 3}); break;
                case ColType::Binary: v.emplace_back(Bytes{uint8_t(i), uint8_t(r)}); break;
                case ColType::OLE: v.emplace_back(Bytes(size_t(i * 30 + r), uint8_t(i))); break;
                case ColType::Guid: v.emplace_back(std::string("{6F9619FF-8B86-D011-B42D-00C04FC964FF}")); break;
                case ColType::Numeric: v.emplace_back(Decimal{std::to_string(i * 7 + r)}); break;
                default: v.emplace_back(); break;
                }
                // clang-format on
            }
            return v;
        };
        {
            auto db = jet::Database::create(file, "", format);
            db->createTable("Other", {test::storage::column("x", ColType::Memo)});
            db->insertRow("Other", {Value(std::string(5000, 'o'))});
            db->createTable("Wide", cols);
            for (int r = 0; r < 4; ++r) db->insertRow("Wide", row(r));
            db->close();
        }
        {
            auto db = jet::Database::open(file, "", false);
            EXPECT_EQ(db->columns("Wide")[3].notNull, true);
            auto cur = db->scan("Wide");
            std::vector<Value> got;
            for (int r = 0; r < 4; ++r) {
                ASSERT_TRUE(cur->next(got));
                const auto want = row(r);
                for (size_t i = 0; i < 255; ++i)
                    if (cols[i].type != ColType::Float) {
                        EXPECT_EQ(got[i], want[i]) << "row " << r << " column " << i;
                    }
            }
            db->close();
        }
        const std::string diff = test::storage::compareWithReader(file);
        EXPECT_EQ(diff, "");
        if (test::mdbtoolsAvailable()) {
            auto t = test::mdbtoolsDump(file);
            EXPECT_EQ(t.exitCode, 0) << t.err;
            EXPECT_TRUE(contains(t.out, "==== table: Wide (4 rows) ===="));
            EXPECT_FALSE(contains(t.err, "usage map")) << t.err;
        }
        // Every long-value column's maps point at a real map row.
        {
            const std::string raw = test::readFile(file);
            auto rd16 = [&](size_t at) { return size_t(uint8_t(raw[at])) | size_t(uint8_t(raw[at + 1])) << 8; };
            auto rd32 = [&](size_t at) { return rd16(at) | rd16(at + 2) << 16; };
            size_t found = 0;
            for (size_t pg = 1; pg < raw.size() / 4096; ++pg) {
                const size_t p = pg * 4096;
                if (raw[p] != 0x02 || rd16(p + 0x2D) != 255) continue;
                // The definition spans pages: join them, then walk to the list.
                std::string def = raw.substr(p, 4096);
                for (size_t next = rd32(p + 4); next; next = rd32(next * 4096 + 4))
                    def += raw.substr(next * 4096 + 8, 4088);
                auto d16 = [&](size_t at) { return size_t(uint8_t(def[at])) | size_t(uint8_t(def[at + 1])) << 8; };
                size_t at = 0x3F + 25 * 255;
                for (int i = 0; i < 255; ++i) at += 2 + d16(at);
                for (; d16(at) != 0xFFFF; at += 10, ++found) {
                    const size_t owned = d16(at + 2) | d16(at + 4) << 16, freeMap = d16(at + 6) | d16(at + 8) << 16;
                    EXPECT_NE(owned >> 8, 0u) << "column " << d16(at);
                    EXPECT_NE(freeMap >> 8, 0u) << "column " << d16(at);
                }
            }
            EXPECT_EQ(found, longs);
        }
        {
            auto db = jet::Database::open(file, "", false);
            db->dropTable("Wide");
            db->createTable("Again", cols);
            db->insertRow("Again", row(7));
            db->dropTable("Again");
            db->close();
        }
        const std::string after = test::storage::compareWithReader(file);
        EXPECT_EQ(after, "");
        auto db = jet::Database::open(file, "", true);
        ASSERT_EQ(db->listTables().size() >= 1, true);
        EXPECT_EQ(db->findTable("Wide"), "");
        db->close();
    }
}
