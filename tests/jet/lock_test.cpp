// One writer at a time: the lock file beside an open database, a second
// writer refused (in this process or another), lock files left over by a
// stopped program, and files the user may not write.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "db/error.h"
#include "db/jet/database.h"
#include "db/jet/storage/pager.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
using namespace tp::db::jet;
namespace fs = std::filesystem;

namespace {

const char* kAccessMade = "access/jackcess-V2003/testV2003.mdb";

std::string hostName() {
    char buf[256] = {};
    ::gethostname(buf, sizeof buf - 1);
    return buf;
}

std::string lockRecord(const std::string& machine) {
    std::string r(64, '\0');
    r.replace(0, machine.size(), machine);
    r.replace(32, 5, "Admin");
    return r;
}

TEST(LockFile, NamedAfterTheDatabase) {
    EXPECT_EQ(lockFilePath("/d/Sales.mdb"), "/d/Sales.ldb");
    EXPECT_EQ(lockFilePath("/d/Sales.ACCDB"), "/d/Sales.laccdb");
    EXPECT_EQ(lockFilePath("/d/data.v1"), "/d/data.ldb");
    EXPECT_EQ(journalPath("/d/Sales.mdb"), "/d/Sales.mdb-journal");
}

TEST(LockFile, PresentWhileOpenForWritingAndRemovedOnClose) {
    test::TempDir dir;
    for (auto [name, format] : {std::pair{"new.mdb", FileFormat::Jet4}, std::pair{"new.accdb", FileFormat::Ace12}}) {
        const auto file = dir.file(name);
        auto db = Database::create(file, "", format);
        const auto lock = lockFilePath(file);
        ASSERT_TRUE(fs::exists(lock)) << lock;
        EXPECT_EQ(test::readFile(lock), lockRecord(hostName().substr(0, 31)));
        db->close();
        EXPECT_FALSE(fs::exists(lock));
        // Readers leave no lock file.
        auto reader = Database::open(file, "", true);
        EXPECT_FALSE(fs::exists(lock));
        reader->close();
    }
}

TEST(LockFile, SecondWriterIsRefusedAndReadersStillRead) {
    if (!fs::exists(test::corpusPath(kAccessMade))) GTEST_SKIP();
    test::TempDir dir;
    const auto file = dir.file("shared.mdb");
    fs::copy_file(test::corpusPath(kAccessMade), file);
    auto first = Database::open(file, "", false);
    first->createTable("Mine", {ColumnDef{"A", ColType::Long}});
    try {
        Database::open(file, "", false);
        FAIL() << "second writer was let in";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 3045);
        EXPECT_EQ(std::string(e.what()), "Could not use '" + file + "'; file already in use.");
    }
    auto reader = Database::open(file, "", true);
    EXPECT_FALSE(reader->findTable("Table1").empty());
    reader->close();
    // Another program: the command line's writer reports it and exits 1.
    const auto other = test::runCommand({test::tallyportExe(), "sql", file, "-e", "CREATE TABLE Theirs (B LONG)"});
    EXPECT_EQ(other.exitCode, 1);
    EXPECT_NE((other.out + other.err).find("file already in use"), std::string::npos) << other.out << other.err;
    first->close();
    auto after = Database::open(file, "", true);
    EXPECT_FALSE(after->findTable("Mine").empty());
    EXPECT_TRUE(after->findTable("Theirs").empty());
}

TEST(LockFile, LeftOverLockFiles) {
    if (!fs::exists(test::corpusPath(kAccessMade))) GTEST_SKIP();
    test::TempDir dir;
    const auto file = dir.file("left.mdb");
    fs::copy_file(test::corpusPath(kAccessMade), file);
    // From a program on this machine that stopped: nobody holds it, taken over.
    test::writeFile(lockFilePath(file), lockRecord(hostName()));
    auto db = Database::open(file, "", false);
    db->close();
    EXPECT_FALSE(fs::exists(lockFilePath(file)));
    // Naming another machine, whose locks cannot be seen from here: not written.
    test::writeFile(lockFilePath(file), lockRecord("OFFICE-PC-7"));
    try {
        Database::open(file, "", false);
        FAIL() << "opened a database another machine has open";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 3045);
    }
    EXPECT_TRUE(fs::exists(lockFilePath(file)));
    auto reader = Database::open(file, "", true);
    EXPECT_FALSE(reader->findTable("Table1").empty());
}

// A file the user may not write opens for reading; changes are refused with
// a clear error and the file stays as it was. Run as an unprivileged user (the
// tests may run as root, who may write anything).
TEST(LockFile, FileTheUserMayNotWrite) {
    if (!fs::exists(test::corpusPath(kAccessMade))) GTEST_SKIP();
    test::TempDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    const auto file = dir.file("readonly.mdb");
    fs::copy_file(test::corpusPath(kAccessMade), file);
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const auto before = test::readFile(file);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        int rc = 0;
        try {
            auto db = Database::open(file, "", false);
            try {
                db->createTable("Nope", {ColumnDef{"A", ColType::Long}});
                rc = 4;
            } catch (const Error& e) {
                if (e.number() != 3027) rc = 5;
            }
            db->close();
        } catch (...) {
            rc = 6;
        }
        ::_exit(rc);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(test::readFile(file), before);
    EXPECT_FALSE(fs::exists(lockFilePath(file)));
}

}  // namespace
