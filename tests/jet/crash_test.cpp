// Writers killed at random moments, in an Access 2003 file and in an Access
// 97 file: after each kill the database opens in our engine and in the
// independent readers and passes the check, the tables it had before are
// unchanged, and the table being written holds a prefix of its rows. Half of
// the writers run their script as one unit, and half of those undo it at the
// end (its last statement fails), so kills also land inside units that span
// durability points and inside their rollback.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

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
constexpr int kRowsPerRound = 3000;

// Every row of a table, one text line per row.
std::string tableText(Database& db, const std::string& table) {
    auto cur = db.scan(table);
    std::vector<Value> v;
    std::string out;
    while (cur->next(v)) {
        for (const Value& x : v) out += toIsoText(x) + "|";
        out += "\n";
    }
    return out;
}

std::string memoOf(int round, int row) { return std::string(size_t((row % 9) * 150), char('a' + (round + row) % 26)); }

std::string scriptFor(int round, const std::string& dropFirst, bool failAtEnd = false) {
    std::string s;
    if (!dropFirst.empty()) s += "DROP TABLE " + dropFirst + ";\n";
    s += "CREATE TABLE K" + std::to_string(round) + " (Id LONG, Name TEXT(40), Notes MEMO, Price CURRENCY);\n";
    for (int j = 0; j < kRowsPerRound; ++j)
        s += "INSERT INTO K" + std::to_string(round) + " VALUES (" + std::to_string(j) + ", 'row " + std::to_string(j) +
             "', '" + memoOf(round, j) + "', " + std::to_string(j) + ".25);\n";
    // Keys built over the rows, so that kills also land in index builds and
    // definition changes.
    s += "CREATE INDEX ByName ON K" + std::to_string(round) + " (Name DESC, Price);\n";
    s += "ALTER TABLE K" + std::to_string(round) + " ADD CONSTRAINT PrimaryKey PRIMARY KEY (Id);\n";
    if (failAtEnd) s += "INSERT INTO NoSuchTable VALUES (1);\n";
    return s;
}

pid_t startWriter(const std::string& file, const std::string& script, bool unit = false) {
    const std::string exe = test::tallyportExe();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::setenv("TALLYPORT_SYNC_INTERVAL_MS", "10", 1);
        if (unit)
            ::execl(exe.c_str(), exe.c_str(), "sql", file.c_str(), "-f", script.c_str(), "--transaction",
                    static_cast<char*>(nullptr));
        else ::execl(exe.c_str(), exe.c_str(), "sql", file.c_str(), "-f", script.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

// A copy of an Access 2003 file, and of an Access 97 file (fewer rounds).
struct Victim {
    const char* source;
    int rounds;
};

void PrintTo(const Victim& v, std::ostream* os) { *os << v.source; }

class CrashSafetyFormats : public ::testing::TestWithParam<Victim> {};

TEST_P(CrashSafetyFormats, KilledWritersLeaveADatabaseEveryReaderOpens) {
    const char* source = GetParam().source;
    if (!fs::exists(test::corpusPath(source)) || !fs::exists(test::tallyportExe())) GTEST_SKIP();
    test::TempDir dir;
    const auto file = dir.file("victim.mdb");
    fs::copy_file(test::corpusPath(source), file);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    const auto scriptFile = dir.file("round.sql");

    std::map<std::string, std::string> original;
    {
        auto db = Database::open(file, "", true);
        for (const auto& t : db->listTables())
            if (t.kind == TableKind::User) original[t.name] = tableText(*db, t.name);
    }
    ASSERT_FALSE(original.empty());

    // How long one whole round takes, to kill at random moments within it.
    test::writeFile(scriptFile, scriptFor(1000, ""));
    auto t0 = std::chrono::steady_clock::now();
    {
        const pid_t pid = startWriter(file, scriptFile);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    std::map<std::string, std::string> written;  // our tables that survived, as they are
    {
        auto db = Database::open(file, "", true);
        written["K1000"] = tableText(*db, "K1000");
    }

    std::mt19937 rng(20261207);
    int kills = 0, partial = 0, hot = 0, undone = 0;
    // The window kills land in: a round's length as first measured, shorter
    // each time a writer finishes before its kill (a machine that was busy
    // while it was measured would otherwise let most writers finish).
    int64_t window = whole.count();
    const int rounds = GetParam().rounds;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // Rounds start by dropping a table of an earlier round (which keeps
        // the file small and puts page reuse and catalog changes in the way
        // of the kills).
        std::string drop;
        if (written.size() >= 2) drop = written.begin()->first;
        const bool unit = round % 2 == 1, undo = round % 4 == 3;
        test::writeFile(scriptFile, scriptFor(round, drop, undo));
        const pid_t pid = startWriter(file, scriptFile, unit);
        // Past the program's start-up, up to a little after its usual end.
        const auto from = window / 4;
        std::this_thread::sleep_for(std::chrono::microseconds(from + int64_t(rng() % uint64_t(window - from / 2 + 1))));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (WIFSIGNALED(status)) ++kills;
        else window = window * 4 / 5;
        if (fs::exists(journalPath(file))) ++hot;

        // Our engine first: it plays back what the killed writer left.
        const std::string name = "K" + std::to_string(round);
        auto db = Database::open(file, "", false);
        if (undo && WIFEXITED(status)) {
            // The unit was undone whole: the dropped table is back, the new
            // one is gone.
            ++undone;
            EXPECT_EQ(WEXITSTATUS(status), 1);
            EXPECT_TRUE(db->findTable(name).empty());
            if (!drop.empty()) {
                EXPECT_FALSE(db->findTable(drop).empty());
            }
        }
        for (const auto& [t, text] : original) EXPECT_EQ(tableText(*db, t), text) << t;
        if (!drop.empty()) {
            if (db->findTable(drop).empty()) written.erase(drop);
        }
        for (const auto& [t, text] : written) EXPECT_EQ(tableText(*db, t), text) << t;
        if (!db->findTable(name).empty()) {
            // Rows come back in the order inserted, also where pages freed
            // by a drop are used again: the ids must be 0..n-1 in storage
            // order, each row whole.
            auto cur = db->scan(name);
            std::vector<Value> v;
            std::vector<int64_t> ids;
            while (cur->next(v)) {
                const int64_t id = v[0].integer();
                ids.push_back(id);
                EXPECT_EQ(v[1].text(), "row " + std::to_string(id));
                EXPECT_EQ(v[2].kind() == Kind::Null ? std::string() : v[2].text(), memoOf(round, int(id)));
            }
            const int n = int(ids.size());
            for (int k = 0; k < n; ++k) ASSERT_EQ(ids[size_t(k)], k);
            if (n > 0 && n < kRowsPerRound) ++partial;
            written[name] = tableText(*db, name);
        }
        db->close();
        EXPECT_FALSE(fs::exists(journalPath(file)));
        EXPECT_FALSE(fs::exists(lockFilePath(file)));
        // Then the independent readers.
        const auto diff = test::storage::compareWithReader(file);
        EXPECT_EQ(diff, "");
        if (test::mdbtoolsAvailable() && round % 5 == 0) {
            const auto r = test::mdbtoolsDump(file);
            EXPECT_EQ(r.exitCode, 0) << r.err;
        }
        if (HasFailure()) break;
    }
    EXPECT_GE(kills, rounds * 3 / 5);
    // Some kills must have landed in the middle of the table's rows, or the
    // test proves little.
    EXPECT_GT(partial, 0);
    std::printf(
        "kills: %d of %d rounds, %d with a partly written table, %d with a journal to play back, %d units "
        "undone whole\n",
        kills, rounds, partial, hot, undone);
}

INSTANTIATE_TEST_SUITE_P(Files, CrashSafetyFormats,
                         ::testing::Values(Victim{kAccessMade, 50}, Victim{"access/jackcess-V1997/testV1997.mdb", 30}));

// `tallyport new` killed at random moments: the database's name shows
// either nothing or a whole database, never an empty or half-made file.
TEST(CrashSafety, KilledCreationLeavesNoHalfMadeFile) {
    if (!fs::exists(test::tallyportExe())) GTEST_SKIP();
    test::TempDir dir;
    const std::string exe = test::tallyportExe();
    auto start = [&](const std::string& file) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execl(exe.c_str(), exe.c_str(), "new", file.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    };
    auto t0 = std::chrono::steady_clock::now();
    {
        int status = 0;
        ::waitpid(start(dir.file("timing.accdb")), &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    std::mt19937 rng(20261208);
    int made = 0, none = 0;
    for (int round = 0; round < 30; ++round) {
        const std::string file = dir.file("new" + std::to_string(round) + (round % 2 ? ".mdb" : ".accdb"));
        SCOPED_TRACE(file);
        const pid_t pid = start(file);
        std::this_thread::sleep_for(std::chrono::microseconds(int64_t(rng() % uint64_t(whole.count() + 1))));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!fs::exists(file)) {
            ++none;
            continue;
        }
        ++made;
        auto db = Database::open(file, "", true);
        bool catalog = false;
        for (const auto& t : db->listTables()) catalog = catalog || t.name == "MSysObjects";
        EXPECT_TRUE(catalog);
        db->close();
        // Once more the same name: an existing file is never replaced.
        const auto again = test::runCommand({exe, "new", file});
        EXPECT_EQ(again.exitCode, 1);
        EXPECT_NE(again.err.find("Database already exists."), std::string::npos) << again.err;
    }
    std::printf("creations killed: %d left nothing, %d left a whole database\n", none, made);
}

// One UPDATE or DELETE over thousands of rows (rows moved, long values
// rewritten and freed, an index range), its writer killed at random
// moments: the table is afterwards as before the statement or as after it,
// the other tables as they were, and the file sound to every reader.
TEST(CrashSafety, KilledUpdateOrDeleteLeavesTheTableBeforeOrAfter) {
    if (!fs::exists(test::corpusPath(kAccessMade)) || !fs::exists(test::tallyportExe())) GTEST_SKIP();
    test::TempDir dir;
    const auto base = dir.file("base.mdb");
    fs::copy_file(test::corpusPath(kAccessMade), base);
    std::map<std::string, std::string> original;
    {
        auto db = Database::open(base, "", false);
        for (const auto& t : db->listTables())
            if (t.kind == TableKind::User) original[t.name] = tableText(*db, t.name);
        db->createTable("Big", {test::storage::column("Id", ColType::Long), test::storage::column("Name", ColType::Text, 40),
                                test::storage::column("Notes", ColType::Memo), test::storage::column("Price", ColType::Money)});
        for (int j = 0; j < 6000; ++j)
            db->insertRow("Big", {Value(int64_t(j)), Value("row " + std::to_string(j)), Value(memoOf(7, j)),
                                  Value(Currency{int64_t(j) * 100})});
        IndexDef key;
        key.name = "PrimaryKey";
        key.table = "Big";
        key.columns = {{"Id", false}};
        key.primary = true;
        db->createIndex(key);
        db->close();
    }
    std::string before;
    {
        auto db = Database::open(base, "", true);
        before = tableText(*db, "Big");
    }
    const std::vector<std::string> statements = {
        "UPDATE Big SET Name = 'changed ' & Id, Notes = Notes & 'more', Price = Price + 1 WHERE Id MOD 3 <> 1;",
        "DELETE FROM Big WHERE Id MOD 2 = 0 OR Notes IS NULL;",
        "UPDATE Big SET Price = Price * 2, Id = Id + 100000 WHERE Id >= 1000;"};
    const auto scriptFile = dir.file("change.sql");
    const auto file = dir.file("victim.mdb");
    std::mt19937 rng(20261209);
    int kills = 0, wasBefore = 0, wasAfter = 0;
    for (size_t k = 0; k < statements.size(); ++k) {
        SCOPED_TRACE(statements[k]);
        test::writeFile(scriptFile, statements[k] + "\n");
        // The table after the statement, and how long the writer takes.
        fs::copy_file(base, file, fs::copy_options::overwrite_existing);
        const auto t0 = std::chrono::steady_clock::now();
        {
            int status = 0;
            ::waitpid(startWriter(file, scriptFile), &status, 0);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        const int64_t window =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count();
        std::string after;
        {
            auto db = Database::open(file, "", true);
            after = tableText(*db, "Big");
        }
        ASSERT_NE(after, before);
        for (int round = 0; round < 7; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            fs::copy_file(base, file, fs::copy_options::overwrite_existing);
            const pid_t pid = startWriter(file, scriptFile, round % 3 == 2);
            // Inside the measured time, so that a run slower than usual is not
            // all the kills arriving after the statement.
            std::this_thread::sleep_for(
                std::chrono::microseconds(window / 8 + int64_t(rng() % uint64_t(window * 3 / 4 + 1))));
            ::kill(pid, SIGKILL);
            int status = 0;
            ::waitpid(pid, &status, 0);
            if (WIFSIGNALED(status)) ++kills;
            {
                auto db = Database::open(file, "", false);
                const std::string now = tableText(*db, "Big");
                EXPECT_TRUE(now == before || now == after);
                wasBefore += now == before;
                wasAfter += now == after;
                for (const auto& [t, text] : original) EXPECT_EQ(tableText(*db, t), text) << t;
                db->close();
            }
            EXPECT_FALSE(fs::exists(journalPath(file)));
            EXPECT_TRUE(test::accessFileProblems(file).empty());
            if (round % 4 == 0) {
                EXPECT_EQ(test::storage::compareWithReader(file), "");
            }
            if (HasFailure()) return;
        }
    }
    EXPECT_GE(kills, 10);
    EXPECT_GT(wasBefore, 0);
    std::printf("change statements killed: %d of 21, %d left the table as before, %d as after\n", kills, wasBefore,
                wasAfter);
}

}  // namespace
