// Damaged and hostile files: every failure is a db::Error naming the file,
// never a crash, a hang or a huge allocation.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "db/error.h"
#include "db/jet/check/check.h"
#include "db/jet/database.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
using namespace tp::db::jet;
namespace fs = std::filesystem;

namespace {

// Opens the file and reads every table; returns the error text, or "" when
// everything read.
std::string readAll(const std::string& file) {
    try {
        auto db = Database::open(file, "", false);
        for (const auto& t : db->listTables()) {
            db->columns(t.name);
            auto cur = db->scan(t.name);
            std::vector<Value> row;
            while (cur->next(row)) {}
        }
        return "";
    } catch (const db::Error& e) {
        return e.what();
    }
}

std::string makeSample(const test::TempDir& dir) {
    const auto file = dir.file("sample.mdb");
    auto db = Database::create(file, "");
    ColumnDef a{"N", ColType::Long}, b{"T", ColType::Memo}, c{"S", ColType::Text}, d{"B", ColType::OLE};
    c.size = 20;
    db->createTable("One", {a, b, c, d});
    for (int i = 0; i < 40; ++i)
        db->insertRow("One", {Value(int64_t(i)), Value(std::string(size_t(i * 300), 'x')), Value("short"),
                              Value(Bytes(size_t(i * 50), 1))});
    db->close();
    return file;
}

TEST(StorageDamage, RandomByteDamageGivesErrorsOnly) {
    test::TempDir dir;
    dir.leaveUnchecked();  // damaged on purpose
    std::vector<std::string> sources = {makeSample(dir),
                                        test::corpusPath("access/jackcess-V2000/testV2000.mdb").string()};
    std::mt19937 rng(12345);
    int errors = 0;
    for (const auto& src : sources) {
        if (!fs::exists(src)) continue;
        const std::string original = test::readFile(src);
        const size_t pages = original.size() / 4096;
        for (int round = 0; round < 150; ++round) {
            std::string bytes = original;
            const int hits = 1 + int(rng() % 8);
            for (int h = 0; h < hits; ++h) {
                // Aim mostly at structure: page headers, TDEFs and row offsets.
                const size_t page = rng() % pages;
                size_t off = (rng() % 4) == 0 ? rng() % 4096 : rng() % 96;
                if (rng() % 3 == 0) off = 4096 - 1 - rng() % 64;
                bytes[page * 4096 + off] = char(rng() % 2 ? 0xFF : rng());
            }
            const auto file = dir.file("damaged.mdb");
            test::writeFile(file, bytes);
            const std::string err = readAll(file);
            if (!err.empty()) {
                ++errors;
                EXPECT_TRUE(err.find(file) != std::string::npos || err == "Not a valid password.") << err;
            }
            // The integrity check turns any damage into problem lines.
            try {
                (void)db::jet::checkDatabase(file, "", 50);
            } catch (const db::Error& e) {
                EXPECT_EQ(e.number(), 3031) << e.what();
            }
        }
    }
    EXPECT_GT(errors, 0);
}

TEST(StorageDamage, TruncatedFileAndCyclicPointers) {
    test::TempDir dir;
    dir.leaveUnchecked();  // damaged on purpose
    const auto src = makeSample(dir);
    std::string bytes = test::readFile(src);
    const auto file = dir.file("cut.mdb");
    test::writeFile(file, bytes.substr(0, 4096 * 3));
    EXPECT_NE(readAll(file), "");
    test::writeFile(file, bytes.substr(0, 4096));
    EXPECT_NE(readAll(file), "");
    // A table definition that continues on itself.
    std::string cyc = bytes;
    cyc[2 * 4096 + 4] = 2;
    test::writeFile(file, cyc);
    EXPECT_NE(readAll(file).find("cycle"), std::string::npos);
}

}  // namespace
