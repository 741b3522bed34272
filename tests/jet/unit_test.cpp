// Units of many statements: everything a unit did is undone at once, also
// what reached the file at durability points inside it, and what the unit
// keeps for that stays bounded in memory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "db/busy.h"
#include "db/error.h"
#include "db/jet/database.h"
#include "db/jet/storage/pager.h"
#include "db/jet_provider.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
using namespace tp::db::jet;
namespace fs = std::filesystem;

namespace {

const char* kAccessMade = "access/jackcess-V2003/testV2003.mdb";

// The sync interval for the lifetime of the object; the faults and the busy
// hook are cleared at its end.
class ScopedInterval {
public:
    explicit ScopedInterval(const char* ms) : env_("TALLYPORT_SYNC_INTERVAL_MS", ms) {}
    ~ScopedInterval() {
        faults::failWriteNumber(0);
        faults::limitUnitMemory(0);
        faults::limitCache(0);
        db::setBusyHook(nullptr);
    }

private:
    test::ScopedEnv env_;
};

std::vector<ColumnDef> columns() {
    auto col = [](const char* n, ColType t, int size = 255) { return test::storage::column(n, t, size); };
    std::vector<ColumnDef> cols = {col("Id", ColType::Long), col("Name", ColType::Text, 40),
                                   col("Notes", ColType::Memo), col("Price", ColType::Money)};
    cols[0].autoNumber = true;
    return cols;
}

std::vector<Value> row(int i) {
    return {Value(), Value("row " + std::to_string(i)),
            Value(std::string(size_t(200 + (i % 7) * 1500), char('a' + i % 26))), Value(Currency{int64_t(i) * 10000})};
}

// A unit touching every kind of change: a table of the file dropped, tables
// made, filled (long values on pages of their own), one of them dropped
// again and its pages used anew.
void unitSteps(Database& db) {
    db.dropTable("Table1");
    db.createTable("Alpha", columns());
    for (int i = 0; i < 40; ++i) db.insertRow("Alpha", row(i));
    db.createTable("Beta", columns());
    for (int i = 0; i < 15; ++i) db.insertRow("Beta", row(i + 100));
    db.dropTable("Alpha");
    db.createTable("Gamma", columns());
    for (int i = 0; i < 25; ++i) db.insertRow("Gamma", row(i + 7));
}

std::string copyOfCorpus(const test::TempDir& dir, const std::string& name) {
    const auto file = dir.file(name);
    fs::copy_file(test::corpusPath(kAccessMade), file, fs::copy_options::overwrite_existing);
    return file;
}

// "" when the file holds exactly `original`, else which pages differ (a
// comparison of the whole strings would print megabytes).
std::string differingPages(const std::string& file, const std::string& original) {
    const std::string now = test::readFile(file);
    if (now == original) return "";
    std::string out = "size " + std::to_string(now.size()) + " (was " + std::to_string(original.size()) + "), pages";
    int shown = 0;
    for (size_t at = 0; at < std::min(now.size(), original.size()) && shown < 20; at += 4096)
        if (now.compare(at, 4096, original, at, 4096) != 0) out += " " + std::to_string(at / 4096), ++shown;
    return out;
}

std::string dumpOf(const std::string& file) {
    auto db = Database::open(file, "", true);
    return test::storage::engineDump(*db);
}

// Every statement a durability point (so the unit spans dozens of them), and
// the same with the unit's memory cut to a few pages (the rest spills to its
// temporary file): a rollback gives back the very bytes of the file, a
// commit gives what the statements give without a unit, and a unit left open
// at close is undone.
TEST(Units, RollbackAcrossDurabilityPointsGivesBackTheFileByteForByte) {
    if (!fs::exists(test::corpusPath(kAccessMade))) GTEST_SKIP();
    ScopedInterval every("0");
    test::TempDir dir;
    const auto reference = copyOfCorpus(dir, "reference.mdb");
    {
        auto db = Database::open(reference, "", false);
        unitSteps(*db);
        db->close();
    }
    const std::string committed = dumpOf(reference);
    for (size_t bound : {size_t(0), size_t(3)}) {
        SCOPED_TRACE("unit memory bound " + std::to_string(bound));
        faults::limitUnitMemory(bound);
        const auto file = copyOfCorpus(dir, "unit.mdb");
        const std::string original = test::readFile(file);
        {
            auto db = Database::open(file, "", false);
            db->beginUnit();
            EXPECT_THROW(db->beginUnit(), Error);
            unitSteps(*db);
            const auto use = db->unitUse();
            EXPECT_GT(use.pages, 3u);
            if (bound) {
                EXPECT_EQ(use.inMemory, bound);
                EXPECT_EQ(use.spilled, uint64_t(use.pages - bound) * 4096);
            }
            // What the unit did is in the file already.
            EXPECT_NE(test::readFile(file), original);
            db->rollbackUnit();
            EXPECT_THROW(db->rollbackUnit(), Error);
            EXPECT_EQ(differingPages(file, original), "");
            EXPECT_FALSE(fs::exists(journalPath(file)));
            // The engine's own view follows the pages: the dropped table is
            // back and the made ones are gone.
            EXPECT_FALSE(db->findTable("Table1").empty());
            EXPECT_TRUE(db->findTable("Beta").empty());
            // The same again, kept.
            db->beginUnit();
            unitSteps(*db);
            db->commitUnit();
            db->close();
        }
        EXPECT_EQ(dumpOf(file), committed);
        // Left open at close: undone.
        {
            auto db = Database::open(file, "", false);
            db->beginUnit();
            db->dropTable("Beta");
            db->insertRow("Gamma", row(1));
            db->close();
        }
        EXPECT_EQ(dumpOf(file), committed);
        const auto diff = test::storage::compareWithReader(file);
        EXPECT_EQ(diff, "");
    }
    // Through the data layer: BeginTrans, RollbackTrans, CommitTrans.
    const auto file = copyOfCorpus(dir, "ado.mdb");
    const std::string original = test::readFile(file);
    auto conn = db::CreateConnection();
    conn->Open(std::string("Provider=") + kJetProviderName + ";Data Source=" + file);
    EXPECT_THROW(conn->CommitTrans(), Error);
    EXPECT_EQ(conn->BeginTrans(), 1);
    conn->Execute("DROP TABLE [Table1]");
    conn->Execute("CREATE TABLE [T] ([A] LONG)");
    conn->Execute("INSERT INTO [T] VALUES (1)");
    conn->RollbackTrans();
    // The INSERT remembered its table: it must not outlive the rollback.
    EXPECT_THROW(conn->Execute("INSERT INTO [T] VALUES (2)"), Error);
    conn->Close();
    EXPECT_EQ(differingPages(file, original), "");
}

// A write that fails anywhere in a unit (statement writes, durability points,
// the temporary file) fails at most one statement; rolling the unit back then
// gives back the file as it was. A failure inside the rollback itself leaves
// the file as at a durability point, and the next close completes it.
TEST(Units, WriteFailureAnywhereInAUnitStillRollsBackToTheFileBefore) {
    if (!fs::exists(test::corpusPath(kAccessMade))) GTEST_SKIP();
    ScopedInterval every("0");
    faults::limitUnitMemory(2);
    test::TempDir dir;
    const std::string original = test::readFile(copyOfCorpus(dir, "orig.mdb"));
    const std::string originalDump = dumpOf(dir.file("orig.mdb"));
    long total = 0;
    {
        const auto file = copyOfCorpus(dir, "count.mdb");
        faults::failWriteNumber(0);
        auto db = Database::open(file, "", false);
        db->beginUnit();
        unitSteps(*db);
        db->rollbackUnit();
        db->close();
        total = faults::writesSoFar();
    }
    ASSERT_GT(total, 50);
    int failedSteps = 0, failedRollbacks = 0;
    for (long k = 1; k <= total; k += (k < 30 || k > total - 30) ? 1 : 13) {
        SCOPED_TRACE("failing write " + std::to_string(k));
        const auto file = copyOfCorpus(dir, "faulty.mdb");
        faults::failWriteNumber(k);
        bool rollbackFailed = false;
        {
            auto db = Database::open(file, "", false);
            db->beginUnit();
            try {
                unitSteps(*db);
            } catch (const Error& e) {
                ++failedSteps;
                EXPECT_NE(std::string(e.what()).find("error"), std::string::npos) << e.what();
            }
            try {
                db->rollbackUnit();
            } catch (const Error&) {
                rollbackFailed = true;
                ++failedRollbacks;
            }
            db->close();
        }
        faults::failWriteNumber(0);
        EXPECT_FALSE(fs::exists(journalPath(file)));
        EXPECT_FALSE(fs::exists(lockFilePath(file)));
        EXPECT_EQ(dumpOf(file), originalDump);
        if (!rollbackFailed) {
            EXPECT_EQ(differingPages(file, original), "");
        }
        if (HasFailure()) break;
    }
    EXPECT_GT(failedSteps, 10);
    EXPECT_GT(failedRollbacks, 0);
}

// A unit that reuses more pages than the cache holds: its rollback writes
// what it put back on the way, so memory stays bounded, lets the host
// repaint meanwhile, and gives back the file byte for byte. A write failing
// anywhere in such a rollback leaves the file as at a durability point, and
// close completes the undo.
TEST(Units, RollbackBiggerThanTheCacheStaysBoundedAndLetsTheHostRepaint) {
    if (!fs::exists(test::corpusPath(kAccessMade))) GTEST_SKIP();
    ScopedInterval seldom("3600000");
    faults::limitCache(64);
    faults::limitUnitMemory(16);
    test::TempDir dir;
    const auto prepared = copyOfCorpus(dir, "prepared.mdb");
    constexpr int kRows = 1000;
    {
        auto db = Database::open(prepared, "", false);
        db->createTable("Big", columns());
        for (int i = 0; i < kRows; ++i) db->insertRow("Big", row(i));
        db->close();
    }
    const std::string original = test::readFile(prepared);
    const std::string originalDump = dumpOf(prepared);
    auto replaceBig = [](Database& db) {
        db.dropTable("Big");
        db.createTable("Big", columns());
        for (int i = 0; i < kRows; ++i) db.insertRow("Big", row(i + 3));
    };
    const auto file = dir.file("unit.mdb");
    fs::copy_file(prepared, file);
    size_t yields = 0, mostCached = 0, images = 0;
    long rollbackWrites = 0;
    {
        auto db = Database::open(file, "", false);
        db->beginUnit();
        replaceBig(*db);
        images = db->unitUse().pages;
        db::setBusyHook([&] {
            ++yields;
            mostCached = std::max(mostCached, db->unitUse().cached);
        });
        faults::failWriteNumber(0);
        db->rollbackUnit();
        rollbackWrites = faults::writesSoFar();
        db::setBusyHook(nullptr);
        db->close();
    }
    EXPECT_GT(images, 1000u);
    EXPECT_GT(yields, 2u);
    EXPECT_LT(mostCached, 400u) << "the rollback holds every page it puts back";
    EXPECT_EQ(differingPages(file, original), "");
    ASSERT_GT(rollbackWrites, 20);
    for (long k = 1; k <= rollbackWrites; k += std::max(1L, rollbackWrites / 10)) {
        SCOPED_TRACE("failing write " + std::to_string(k) + " of the rollback");
        const auto faulty = dir.file("faulty.mdb");
        fs::copy_file(prepared, faulty, fs::copy_options::overwrite_existing);
        bool rollbackFailed = false;
        {
            auto db = Database::open(faulty, "", false);
            db->beginUnit();
            replaceBig(*db);
            faults::failWriteNumber(k);
            try {
                db->rollbackUnit();
            } catch (const Error&) {
                rollbackFailed = true;
            }
            faults::failWriteNumber(0);
            db->close();
        }
        EXPECT_TRUE(rollbackFailed);
        EXPECT_FALSE(fs::exists(journalPath(faulty)));
        EXPECT_EQ(dumpOf(faulty), originalDump);
        if (HasFailure()) break;
    }
}

// A unit of 1,000,000 INSERTs keeps images only of the pages it found (the
// pages it adds need none), so what it holds does not grow with its rows;
// rolling it back gives back the file.
TEST(Units, MillionInsertsKeepTheUnitBounded) {
    if (!fs::exists(test::corpusPath(kAccessMade))) GTEST_SKIP();
    ScopedInterval often("200");
    test::TempDir dir;
    const auto file = copyOfCorpus(dir, "big.mdb");
    const std::string original = test::readFile(file);
    auto db = Database::open(file, "", false);
    db->beginUnit();
    db->dropTable("Table1");
    std::vector<ColumnDef> cols = {test::storage::column("Id", ColType::Long),
                                   test::storage::column("Name", ColType::Text, 20)};
    db->createTable("Many", cols);
    std::vector<Value> v(2);
    size_t mostPages = 0;
    for (int i = 0; i < 1000000; ++i) {
        v[0] = Value(int64_t(i));
        v[1] = Value("n" + std::to_string(i % 1000));
        db->insertRow("Many", v);
        if (i % 100000 == 0) {
            const auto use = db->unitUse();
            mostPages = std::max(mostPages, use.pages);
            EXPECT_LE(use.inMemory, 2048u);
        }
    }
    db->flush();
    EXPECT_GT(fs::file_size(file), uint64_t(8) << 20);
    const auto use = db->unitUse();
    EXPECT_LT(std::max(mostPages, use.pages), 64u) << "unit images grow with the rows";
    EXPECT_EQ(use.spilled, 0u);
    db->rollbackUnit();
    EXPECT_TRUE(db->findTable("Many").empty());
    db->close();
    EXPECT_EQ(differingPages(file, original), "");
}

}  // namespace
