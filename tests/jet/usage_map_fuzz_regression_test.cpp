// Found while fuzzing the storage reader (by reading the map code the fuzzer
// ran, then confirmed with this crafted file): a table's usage map of the second
// kind ("reference map") holds up to 1019 map-page numbers, each covering
// 32736 pages. Every reference was read and all its bits walked even when
// the pages it covers lie past the end of the file, so a small file whose
// maps repeat one reference made every scan cost ~33 million steps (a hang
// once many tables share such a map). References that cover no page of the
// file are now not followed.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "db/error.h"
#include "db/jet/database.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
using namespace tp::db::jet;

namespace {

constexpr size_t kPage = 4096;

void putLE16(std::string& s, size_t at, uint32_t v) {
    s[at] = char(v & 0xFF);
    s[at + 1] = char((v >> 8) & 0xFF);
}
void putLE32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + size_t(i)] = char((v >> (8 * i)) & 0xFF);
}

// A new database whose catalog's own usage map is replaced by a reference
// map: the first reference names a map page marking every page of the file,
// the other `repeats` name `laterTarget` (a page that is no map page).
std::string craft(const test::TempDir& dir, int repeats, uint32_t laterTarget) {
    const auto path = dir.file("refmap.mdb");
    {
        auto db = Database::create(path, "");
        db->createTable("One", {ColumnDef{"N", ColType::Long}});
        db->insertRow("One", {Value(int64_t(7))});
        db->close();
    }
    std::ifstream in(path, std::ios::binary);
    std::string s((std::istreambuf_iterator<char>(in)), {});
    in.close();
    const uint32_t pages = uint32_t(s.size() / kPage);
    // Page `pages`: a data page with one row, the reference map.
    std::string data(kPage, '\0');
    data[0] = 0x01;
    data[1] = 0x01;
    putLE16(data, 12, 1);
    putLE16(data, 14, 16);
    data[16] = 0x01;
    putLE32(data, 17, pages + 1);
    for (int j = 1; j <= repeats; ++j) putLE32(data, 17 + 4 * size_t(j), laterTarget);
    // Page `pages + 1`: the map page, every page of the file marked.
    std::string map(kPage, '\0');
    map[0] = 0x05;
    map[1] = 0x01;
    for (uint32_t i = 0; i < pages + 2; ++i) map[4 + i / 8] = char(map[4 + i / 8] | (1 << (i % 8)));
    s += data + map;
    putLE32(s, 2 * kPage + 0x37, pages << 8);  // the catalog's owned-pages map
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(s.data(), std::streamsize(s.size()));
    return path;
}

}  // namespace

TEST(FuzzRegressionUsageMap, ReferencesPastTheFileAreNotFollowed) {
    test::TempDir dir;
    dir.leaveUnchecked();  // crafted damage
    // Page 2 (the catalog definition) is no map page; were the 1018 later
    // references followed, the file would be refused or walk 33 million bits.
    const auto path = craft(dir, 1018, 2);
    auto db = Database::open(path, "", true);
    bool found = false;
    for (const auto& t : db->listTables()) found = found || t.name == "One";
    ASSERT_TRUE(found);
    for (int i = 0; i < 50; ++i) {  // each scan of the catalog-mapped tables stays cheap
        auto cur = db->scan("MSysObjects");
        std::vector<Value> row;
        int rows = 0;
        while (cur->next(row)) ++rows;
        EXPECT_GT(rows, 0);
    }
    auto cur = db->scan("One");
    std::vector<Value> row;
    ASSERT_TRUE(cur->next(row));
    EXPECT_EQ(row.at(0).integer(), 7);
}

TEST(FuzzRegressionUsageMap, AReferenceOutsideTheFileIsDamage) {
    test::TempDir dir;
    dir.leaveUnchecked();  // crafted damage
    const auto path = craft(dir, 0, 0);
    {
        // The first reference pointing past the end of the file.
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekg(0, std::ios::end);
        const auto size = size_t(f.tellg());
        const size_t at = size - 2 * kPage + 17;
        f.seekp(std::streamoff(at));
        const char bad[4] = {char(0xFF), char(0xFF), 0, 0};
        f.write(bad, 4);
    }
    try {
        Database::open(path, "", true);
        FAIL() << "opened";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
}
