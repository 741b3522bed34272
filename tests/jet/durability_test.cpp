// What the engine promises when things go wrong: a statement that fails
// leaves no trace, a failed write leaves the file as it was before the
// statement, the file limit is a clean error, and a database moved away while
// open is not written into the void.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "db/error.h"
#include "db/jet/database.h"
#include "db/jet/storage/pager.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
using namespace tp::db::jet;
namespace fs = std::filesystem;

namespace {

const char* kAccessMade = "access/jackcess-V2003/testV2003.mdb";

struct NoFaults {
    ~NoFaults() {
        faults::failWriteNumber(0);
        faults::limitPages(0);
    }
};

std::vector<ColumnDef> columns() {
    auto col = [](const char* n, ColType t, int size = 255) { return test::storage::column(n, t, size); };
    std::vector<ColumnDef> cols = {col("Id", ColType::Long), col("Name", ColType::Text, 40),
                                   col("Notes", ColType::Memo), col("Price", ColType::Money),
                                   col("Blob", ColType::OLE)};
    cols[0].autoNumber = true;
    return cols;
}

std::vector<Value> row(int i) {
    return {Value(), Value("row " + std::to_string(i)), Value(std::string(size_t(500 + i * 3000), char('a' + i % 26))),
            Value(Currency{int64_t(i) * 10000}), Value(Bytes(size_t(i * 700), uint8_t(i)))};
}

using Step = std::function<void(Database&)>;

// A short script touching every kind of change: new tables, rows with long
// values on pages of their own, rows changed and deleted, a primary key, a
// dropped table, an earlier table dropped, a relationship.
std::vector<Step> script() {
    std::vector<Step> s;
    s.push_back([](Database& db) { db.createTable("Alpha", columns()); });
    for (int i = 0; i < 3; ++i) s.push_back([i](Database& db) { db.insertRow("Alpha", row(i)); });
    // An UPDATE that rewrites long values and moves rows, and a DELETE.
    s.push_back([](Database& db) {
        db.changeRows("Alpha", [](std::vector<Value>& v) {
            if (v[1].text() == "row 0") return RowChange::Keep;
            v[1] = Value(v[1].text() + " changed");
            v[2] = Value(std::string(9000, 'u'));
            v[4] = Value();
            return RowChange::Replace;
        });
    });
    s.push_back([](Database& db) {
        db.changeRows("Alpha", [](std::vector<Value>& v) {
            return v[1].text() == "row 1 changed" ? RowChange::Remove : RowChange::Keep;
        });
    });
    s.push_back([](Database& db) { db.createTable("Beta", columns()); });
    s.push_back([](Database& db) { db.insertRow("Beta", row(5)); });
    s.push_back([](Database& db) {
        IndexDef key;
        key.name = "PrimaryKey";
        key.table = "Beta";
        key.columns = {{"Id", false}};
        key.primary = true;
        db.createIndex(key);
    });
    s.push_back([](Database& db) { db.dropTable("Alpha"); });
    s.push_back([](Database& db) { db.insertRow("Beta", row(1)); });
    s.push_back([](Database& db) { db.dropTable("Table1"); });
    s.push_back([](Database& db) { db.createTable("Alpha", columns()); });
    s.push_back([](Database& db) { db.insertRow("Alpha", row(2)); });
    s.push_back([](Database& db) {
        RelationshipDef r;
        r.name = "BetaAlpha";
        r.table = "Alpha";
        r.columns = {"Id"};
        r.referenced = "Beta";
        r.cascadeDelete = true;
        db.addRelationship(r);
    });
    return s;
}

std::string dumpOf(const std::string& file) {
    auto db = Database::open(file, "", true);
    return test::storage::engineDump(*db);
}

std::string copyOfCorpus(const test::TempDir& dir, const std::string& name, const char* source = kAccessMade) {
    const auto file = dir.file(name);
    fs::copy_file(test::corpusPath(source), file, fs::copy_options::overwrite_existing);
    return file;
}

// Every statement is a durability point of its own here; a write failure at
// any write of the script fails exactly one statement (or none), and the file
// then holds exactly the statements before it.
class DurabilityFormats : public ::testing::TestWithParam<const char*> {};

TEST_P(DurabilityFormats, WriteFailureAtEveryWriteLeavesTheStatementsBefore) {
    const char* source = GetParam();
    const std::string ext = fs::path(source).extension().string();
    if (!fs::exists(test::corpusPath(source))) GTEST_SKIP();
    test::ScopedEnv env("TALLYPORT_SYNC_INTERVAL_MS", "0");
    NoFaults reset;
    test::TempDir dir;
    const auto steps = script();
    // The file after each prefix of the script, without faults.
    std::vector<std::string> expected;
    long totalWrites = 0;
    {
        const auto file = copyOfCorpus(dir, "clean" + ext, source);
        expected.push_back(dumpOf(file));
        faults::failWriteNumber(0);
        auto db = Database::open(file, "", false);
        for (const auto& step : steps) {
            step(*db);
            db->flush();
            expected.push_back(test::storage::engineDump(*db));
        }
        db->close();
        totalWrites = faults::writesSoFar();
    }
    ASSERT_GT(totalWrites, long(steps.size()));
    int failures = 0;
    for (long k = 1; k <= totalWrites; ++k) {
        SCOPED_TRACE("failing write " + std::to_string(k));
        const auto file = copyOfCorpus(dir, "faulty" + ext, source);
        faults::failWriteNumber(k);
        size_t failedAt = steps.size();
        std::string message;
        {
            auto db = Database::open(file, "", false);
            for (size_t i = 0; i < steps.size() && failedAt == steps.size(); ++i) {
                try {
                    steps[i](*db);
                } catch (const Error& e) {
                    failedAt = i;
                    message = e.what();
                }
            }
            db->close();
        }
        faults::failWriteNumber(0);
        if (failedAt < steps.size()) {
            ++failures;
            EXPECT_NE(message.find("Disk or network error"), std::string::npos) << message;
        }
        EXPECT_EQ(dumpOf(file), expected[failedAt]);
        EXPECT_FALSE(fs::exists(journalPath(file)));
        EXPECT_FALSE(fs::exists(lockFilePath(file)));
        test::expectAccessFileSound(file);
        if (k % 7 == 1 || k == totalWrites) {
            const auto diff = test::storage::compareWithReader(file);
            EXPECT_EQ(diff, "");
        }
    }
    EXPECT_GT(failures, int(steps.size()) / 2);
}

INSTANTIATE_TEST_SUITE_P(AccessMade, DurabilityFormats,
                         ::testing::Values("access/jackcess-V2003/testV2003.mdb",
                                           "access/jackcess-V2007/testV2007.accdb",
                                           "access/jackcess-V1997/testV1997.mdb"));

// With the default interval the writes happen at close: a failure there is
// reported by close() and the file stays as it was before the run.
TEST(Durability, FailedCloseLeavesTheFileAsBefore) {
    if (!fs::exists(test::corpusPath(kAccessMade))) GTEST_SKIP();
    NoFaults reset;
    test::TempDir dir;
    const auto steps = script();
    const auto original = dumpOf(copyOfCorpus(dir, "orig.mdb"));
    for (long k = 1;; ++k) {
        SCOPED_TRACE("failing write " + std::to_string(k));
        const auto file = copyOfCorpus(dir, "faulty.mdb");
        auto db = Database::open(file, "", false);
        for (const auto& step : steps) step(*db);
        faults::failWriteNumber(k);
        bool failed = false;
        try {
            db->close();
        } catch (const Error& e) {
            failed = true;
            EXPECT_NE(std::string(e.what()).find("Disk or network error"), std::string::npos);
        }
        const long writes = faults::writesSoFar();
        faults::failWriteNumber(0);
        EXPECT_FALSE(fs::exists(journalPath(file)));
        EXPECT_FALSE(fs::exists(lockFilePath(file)));
        test::expectAccessFileSound(file);
        if (!failed) {
            EXPECT_NE(dumpOf(file), original);
            break;
        }
        EXPECT_EQ(dumpOf(file), original);
        ASSERT_LT(k, 200) << "close never succeeds (" << writes << " writes)";
    }
}

// An UPDATE and a DELETE over more pages than the cache holds (it writes
// pages early, and the statement's page images go to a temporary file past
// their bound): a write failure at any of their writes leaves the file as
// before the statement, sound.
TEST(Durability, LargeChangeFailingAtAnyWriteLeavesTheFileAsBefore) {
    if (!fs::exists(test::corpusPath(kAccessMade))) GTEST_SKIP();
    test::ScopedEnv env("TALLYPORT_SYNC_INTERVAL_MS", "0");
    NoFaults reset;
    struct Bounds {
        Bounds() {
            faults::limitCache(48);
            faults::limitUnitMemory(8);
        }
        ~Bounds() {
            faults::limitCache(0);
            faults::limitUnitMemory(0);
        }
    } bounds;
    test::TempDir dir;
    const auto base = copyOfCorpus(dir, "base.mdb");
    {
        auto db = Database::open(base, "", false);
        db->createTable("Many", {test::storage::column("Id", ColType::Long), test::storage::column("Name", ColType::Text, 40),
                                 test::storage::column("Notes", ColType::Memo)});
        for (int i = 0; i < 1500; ++i)
            db->insertRow("Many", {Value(int64_t(i)), Value("row " + std::to_string(i)),
                                   Value(std::string(size_t(100 + i % 400), char('a' + i % 26)))});
        IndexDef key;
        key.name = "ById";
        key.table = "Many";
        key.columns = {{"Id", false}};
        db->createIndex(key);
        db->close();
    }
    const std::string before = dumpOf(base);
    const std::vector<Step> changes = {
        [](Database& db) {
            db.changeRows("Many", [](std::vector<Value>& v) {
                v[1] = Value(v[1].text() + " and more");
                v[2] = Value(v[2].text() + v[2].text());
                return RowChange::Replace;
            });
        },
        [](Database& db) {
            db.changeRows("Many", [](std::vector<Value>& v) {
                return v[0].integer() % 3 == 0 ? RowChange::Remove : RowChange::Keep;
            });
        }};
    for (size_t c = 0; c < changes.size(); ++c) {
        SCOPED_TRACE("change " + std::to_string(c));
        const auto file = dir.file("faulty.mdb");
        fs::copy_file(base, file, fs::copy_options::overwrite_existing);
        faults::failWriteNumber(0);
        {
            auto db = Database::open(file, "", false);
            changes[c](*db);
            db->close();
        }
        const std::string after = dumpOf(file);
        const long writes = faults::writesSoFar();
        ASSERT_GT(writes, 20);
        for (long k = 1; k <= writes; k += 1 + writes / 25) {
            SCOPED_TRACE("failing write " + std::to_string(k));
            fs::copy_file(base, file, fs::copy_options::overwrite_existing);
            faults::failWriteNumber(k);
            bool failed = false;
            {
                auto db = Database::open(file, "", false);
                try {
                    changes[c](*db);
                } catch (const Error& e) {
                    failed = true;
                    EXPECT_NE(std::string(e.what()).find("Disk or network error"), std::string::npos) << e.what();
                }
                try {
                    db->close();
                } catch (const Error&) {
                    failed = true;
                }
            }
            faults::failWriteNumber(0);
            EXPECT_EQ(dumpOf(file), failed ? before : after);
            EXPECT_FALSE(fs::exists(journalPath(file)));
            test::expectAccessFileSound(file);
        }
    }
}

// Reaching the file's size limit in the middle of a statement that needs many
// pages undoes that statement; the rows before it stay, and writing goes on.
TEST(Durability, SizeLimitUndoesTheStatement) {
    if (!fs::exists(test::corpusPath(kAccessMade))) GTEST_SKIP();
    NoFaults reset;
    test::TempDir dir;
    const auto file = copyOfCorpus(dir, "limit.mdb");
    const auto pages = uint32_t(fs::file_size(file) / 4096);
    int stored = 0;
    bool another = false;
    {
        auto db = Database::open(file, "", false);
        db->createTable("Big", columns());
        faults::limitPages(pages + 40);
        bool full = false;
        for (int i = 0; i < 200 && !full; ++i) {
            try {
                db->insertRow("Big", row(20 + i % 5));
                ++stored;
            } catch (const Error& e) {
                full = true;
                EXPECT_EQ(e.number(), 3047);
                EXPECT_NE(std::string(e.what()).find("maximum size"), std::string::npos);
            }
        }
        ASSERT_TRUE(full);
        ASSERT_GT(stored, 0);
        // A small statement fits only where the file marks pages free (an
        // Access-made file has some); either way it is whole or not there.
        try {
            db->createTable("Another", columns());
            another = true;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), 3047);
        }
        db->close();
    }
    faults::limitPages(0);
    auto db = Database::open(file, "", true);
    auto cur = db->scan("Big");
    std::vector<Value> v;
    int n = 0;
    while (cur->next(v)) {
        EXPECT_EQ(v[1].text(), "row " + std::to_string(20 + n % 5));
        EXPECT_EQ(v[2].text().size(), size_t(500 + (20 + n % 5) * 3000));
        ++n;
    }
    EXPECT_EQ(n, stored);
    EXPECT_EQ(db->findTable("Another").empty(), !another);
    db->close();
    const auto diff = test::storage::compareWithReader(file);
    EXPECT_EQ(diff, "");
}

// A rejected row changes nothing, whatever it had already stored (its long
// value went to a page of its own before the next value was refused).
TEST(Durability, RejectedRowLeavesNoLongValueBehind) {
    if (!fs::exists(test::corpusPath(kAccessMade))) GTEST_SKIP();
    test::TempDir dir;
    const auto file = copyOfCorpus(dir, "reject.mdb");
    auto db = Database::open(file, "", false);
    db->createTable("T", columns());
    db->insertRow("T", row(1));
    db->flush();
    const auto before = test::storage::engineDump(*db);
    const auto size = fs::file_size(file);
    auto bad = row(9);
    bad[1] = Value(std::string(300, 'x'));  // longer than the column
    EXPECT_THROW(db->insertRow("T", bad), Error);
    bad = row(9);
    bad[3] = Value(int64_t(1) << 62);  // out of range for currency
    EXPECT_THROW(db->insertRow("T", bad), Error);
    db->flush();
    EXPECT_EQ(test::storage::engineDump(*db), before);
    EXPECT_EQ(fs::file_size(file), size);
    db->insertRow("T", row(2));
    db->close();
    auto again = Database::open(file, "", true);
    auto cur = again->scan("T");
    std::vector<Value> v;
    int n = 0;
    while (cur->next(v)) ++n;
    EXPECT_EQ(n, 2);
    test::expectAccessFileSound(file);
}

TEST(Durability, DatabaseMovedAwayWhileOpenIsReported) {
    if (!fs::exists(test::corpusPath(kAccessMade))) GTEST_SKIP();
    test::TempDir dir;
    const auto file = copyOfCorpus(dir, "moved.mdb");
    auto db = Database::open(file, "", false);
    db->createTable("T", columns());
    fs::rename(file, dir.file("elsewhere.mdb"));
    try {
        db->close();
        FAIL() << "close succeeded";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("was moved or deleted while it was open"), std::string::npos) << e.what();
    }
    // The moved file is as it was.
    EXPECT_EQ(dumpOf(dir.file("elsewhere.mdb")), dumpOf(copyOfCorpus(dir, "orig.mdb")));
}

}  // namespace

namespace {

// A journal beside the database that is not one of ours (or was cut short
// before its header was complete) is removed without touching the file.
TEST(Durability, ForeignOrTornJournalIsIgnored) {
    if (!fs::exists(test::corpusPath(kAccessMade))) GTEST_SKIP();
    test::TempDir dir;
    const auto file = copyOfCorpus(dir, "j.mdb");
    const auto original = test::readFile(file);
    for (const std::string& junk : {std::string(), std::string("TPJRNL01"), std::string(600, '\xAB'),
                                    std::string("TPJRNL01") + std::string(504, '\0') + std::string(4104, 'x')}) {
        test::writeFile(journalPath(file), junk);
        auto db = Database::open(file, "", true);
        EXPECT_FALSE(db->findTable("Table1").empty());
        db->close();
        EXPECT_FALSE(fs::exists(journalPath(file)));
        EXPECT_EQ(test::readFile(file), original);
    }
}

}  // namespace

namespace {

// In a child process: a durability point, more rows, then a program that
// stops in the middle of the next durability point (write `failAt` of it
// fails and the process ends at once), leaving its journal beside the file.
void stopInsideDurabilityPoint(const std::string& file, long failAt) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        try {
            auto db = Database::open(file, "", false);
            db->createTable("Stopped", columns());
            for (int i = 0; i < 12; ++i) db->insertRow("Stopped", row(i));
            db->flush();
            for (int i = 12; i < 20; ++i) db->insertRow("Stopped", row(i));
            faults::failWriteNumber(failAt);
            db->flush();
        } catch (...) {}
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
}

}  // namespace

// The scenario of a user who, after a program stopped while writing, puts a
// backup back in place: the journal left beside it belongs to another state
// of the file and is never played into it (a bigger file, and one of the
// same size whose pages were reused). The open says so once and puts the
// journal aside; the file is left exactly as the backup was. Without the
// backup, the same journal repairs the file.
TEST(Durability, JournalIsPlayedOnlyIntoItsOwnFile) {
    if (!fs::exists(test::corpusPath(kAccessMade))) GTEST_SKIP();
    test::TempDir dir;
    for (bool sameSize : {false, true}) {
        for (long failAt : {4L, 7L, 12L}) {
            SCOPED_TRACE(std::string(sameSize ? "same size" : "grown") + ", write " + std::to_string(failAt));
            const auto file = copyOfCorpus(dir, "live.mdb");
            if (sameSize) {
                // Room given back before the backup, so that the run reuses it.
                auto db = Database::open(file, "", false);
                db->createTable("Room", columns());
                for (int i = 0; i < 20; ++i) db->insertRow("Room", row(i));
                db->dropTable("Room");
                db->close();
            }
            const auto backup = test::readFile(file);
            const auto before = dumpOf(file);
            stopInsideDurabilityPoint(file, failAt);
            if (!fs::exists(journalPath(file))) continue;
            // The journal is that of this file: played back.
            {
                auto db = Database::open(file, "", true);
                EXPECT_FALSE(db->findTable("Stopped").empty());
            }
            EXPECT_FALSE(fs::exists(journalPath(file)));
            // Once more, now with the backup put back after the stop.
            test::writeFile(file, backup);
            stopInsideDurabilityPoint(file, failAt);
            ASSERT_TRUE(fs::exists(journalPath(file)));
            test::writeFile(file, backup);
            try {
                Database::open(file, "", false);
                ADD_FAILURE() << "the open did not report the journal";
            } catch (const Error& e) {
                EXPECT_NE(std::string(e.what()).find("does not belong to the database"), std::string::npos) << e.what();
            }
            EXPECT_EQ(test::readFile(file), backup);
            EXPECT_FALSE(fs::exists(journalPath(file)));
            EXPECT_TRUE(fs::exists(journalPath(file) + "-unmatched"));
            EXPECT_EQ(dumpOf(file), before);
            EXPECT_EQ(test::readFile(file), backup);
            fs::remove(journalPath(file) + "-unmatched");
        }
    }
}
