// Pages given back by DROP TABLE are taken again so that every table's rows
// read back in the order they were inserted (in our engine, mdb-reader and
// mdbtools: all read a table in the page order of its usage map), in the
// same session and in later ones, and a file converted again and again keeps
// its size.
#include <gtest/gtest.h>

#include <cstdlib>
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

const char* kAccessMade = "access/jackcess-V2003/testV2003.mdb";

std::vector<ColumnDef> columns(bool memo) {
    std::vector<ColumnDef> cols = {test::storage::column("Id", ColType::Long),
                                   test::storage::column("Name", ColType::Text, 255)};
    if (memo) cols.push_back(test::storage::column("Notes", ColType::Memo));
    return cols;
}

std::vector<Value> row(int id, bool memo, int width) {
    std::vector<Value> v = {Value(int64_t(id)), Value("row " + std::to_string(id) + std::string(size_t(width), 'x'))};
    if (memo) v.push_back(Value(std::string(size_t(100 + (id % 7) * 250), char('a' + id % 26))));
    return v;
}

// The Id column of every row in storage order must be 0, 1, 2, ...
void expectInOrder(Database& db, const std::string& table, int rows) {
    SCOPED_TRACE(table);
    auto cur = db.scan(table);
    std::vector<Value> v;
    int next = 0, wrong = 0;
    while (cur->next(v)) {
        if (v[0].integer() != next && wrong++ < 3) ADD_FAILURE() << "row " << next << " holds Id " << v[0].integer();
        ++next;
    }
    EXPECT_EQ(next, rows);
}

struct TablePlan {
    std::string name;
    int rows;
    bool memo;
    int width;
};

// One conversion: each table dropped when there and made again; the last
// two are filled in turns, as two writers of one session would.
void convertOnce(Database& db, const std::vector<TablePlan>& plans) {
    for (size_t i = 0; i + 2 < plans.size(); ++i) {
        const TablePlan& s = plans[i];
        if (!db.findTable(s.name).empty()) db.dropTable(s.name);
        db.createTable(s.name, columns(s.memo));
        for (int r = 0; r < s.rows; ++r) db.insertRow(s.name, row(r, s.memo, s.width));
    }
    const TablePlan& a = plans[plans.size() - 2];
    const TablePlan& b = plans.back();
    for (const TablePlan* s : {&a, &b}) {
        if (!db.findTable(s->name).empty()) db.dropTable(s->name);
        db.createTable(s->name, columns(s->memo));
    }
    for (int r = 0; r < std::max(a.rows, b.rows); ++r) {
        if (r < a.rows) db.insertRow(a.name, row(r, a.memo, a.width));
        if (r < b.rows) db.insertRow(b.name, row(r, b.memo, b.width));
    }
}

}  // namespace

// Twenty runs of one conversion into an Access-made file, each its own
// session; every few runs a big table is dropped at the end of one session
// and made again in the next. Rows come back in insertion order every time,
// the readers agree, and the file does not grow after the first runs.
TEST(PageReuse, ConversionRunAgainKeepsRowOrderAndFileSize) {
    if (!fs::exists(test::corpusPath(kAccessMade))) GTEST_SKIP();
    test::TempDir dir;
    const std::string file = dir.file("again.mdb");
    fs::copy_file(test::corpusPath(kAccessMade), file);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    const std::vector<TablePlan> plans = {{"Small", 40, false, 10},  {"Big", 2500, true, 40},
                                          {"Wide", 900, false, 200}, {"Tiny", 1, false, 0},
                                          {"TurnA", 700, true, 30},  {"TurnB", 1100, false, 120}};
    std::vector<uintmax_t> sizes;
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        {
            auto db = Database::open(file, "", false);
            convertOnce(*db, plans);
            // Given back at the end of a session, made again in the next one.
            if (run % 4 == 1) db->dropTable("Big");
            db->close();
        }
        sizes.push_back(fs::file_size(file));
        if (run % 4 == 1) {
            auto db = Database::open(file, "", false);
            db->createTable("Big", columns(true));
            for (int r = 0; r < 2500; ++r) db->insertRow("Big", row(r, true, 40));
            db->close();
        }
        auto db = Database::open(file, "", true);
        for (const TablePlan& s : plans) expectInOrder(*db, s.name, s.rows);
        if (HasFailure()) break;
    }
    ASSERT_EQ(sizes.size(), 20u);
    std::printf("file size after runs 1, 3 and 20: %ju, %ju, %ju bytes\n", sizes[0], sizes[2], sizes.back());
    // After the first runs the pages given back are enough for the next run.
    EXPECT_LE(sizes.back(), sizes[2] + sizes[2] / 20) << "first " << sizes[0] << ", third " << sizes[2];
    const std::string diff = test::storage::compareWithReader(file);
    EXPECT_EQ(diff, "");
    if (test::mdbtoolsAvailable()) {
        const auto tools = test::mdbtoolsDump(file);
        ASSERT_EQ(tools.exitCode, 0) << tools.err;
        for (const TablePlan& s : plans) {
            // The first field of each exported line after the header row.
            const std::string head = "==== table: " + s.name + " (";
            size_t at = tools.out.find(head);
            ASSERT_NE(at, std::string::npos) << s.name;
            at = tools.out.find('\n', tools.out.find('\n', at) + 1) + 1;
            const size_t end = tools.out.find("==== end table: " + s.name, at);
            int next = 0;
            for (size_t line = at; line < end; line = tools.out.find('\n', line) + 1, ++next)
                if (std::atoi(tools.out.c_str() + line) != next) {
                    ADD_FAILURE() << s.name << ": mdbtools gives row " << next << " as " << tools.out.substr(line, 20);
                    break;
                }
            EXPECT_EQ(next, s.rows) << s.name;
        }
    }
}

// A table dropped and made again in one session, with a statement failing
// between: the rows that made it are in order and nothing else is there.
TEST(PageReuse, FailedInsertAfterDropLeavesNoTrace) {
    test::TempDir dir;
    const std::string file = dir.file("fail.mdb");
    {
        auto db = Database::create(file, "");
        db->createTable("T", columns(true));
        for (int r = 0; r < 600; ++r) db->insertRow("T", row(r, true, 20));
        db->close();
    }
    auto db = Database::open(file, "", false);
    db->dropTable("T");
    db->createTable("T", columns(true));
    for (int r = 0; r < 300; ++r) db->insertRow("T", row(r, true, 20));
    std::vector<Value> tooLong = row(300, true, 20);
    tooLong[1] = Value(std::string(256, 'z'));
    EXPECT_THROW(db->insertRow("T", tooLong), Error);
    for (int r = 300; r < 500; ++r) db->insertRow("T", row(r, true, 20));
    expectInOrder(*db, "T", 500);
    db->close();
    auto again = Database::open(file, "", true);
    expectInOrder(*again, "T", 500);
    const std::string diff = test::storage::compareWithReader(file);
    EXPECT_EQ(diff, "");
}
