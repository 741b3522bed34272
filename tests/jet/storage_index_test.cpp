// Index pages as written by the engine: every tree is walked from its root;
// leaf entries must be sorted, name live rows, and number as many as the rows.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "db/jet/database.h"
#include "db/jet/storage/index_sort.h"
#include "db/error.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
using namespace tp::db::jet;
namespace fs = std::filesystem;

namespace {

using test::storage::le16;
using test::storage::le32;

struct IndexCheck {
    size_t entries = 0;
    std::string problem;
    std::set<std::string> all;
};

// Walks the index rooted at `root`; entries are key + 3-byte page + row.
IndexCheck walkIndex(const std::string& f, uint32_t root) {
    IndexCheck out;
    std::string prev;
    std::set<uint32_t> seen;
    std::function<void(uint32_t)> walk = [&](uint32_t page) {
        if (!out.problem.empty()) return;
        if (!seen.insert(page).second || size_t(page + 1) * 4096 > f.size()) {
            out.problem = "bad page " + std::to_string(page);
            return;
        }
        const size_t base = size_t(page) * 4096;
        const uint8_t type = uint8_t(f[base]);
        if (type != 3 && type != 4) {
            out.problem = "page " + std::to_string(page) + " is not an index page";
            return;
        }
        std::vector<std::string> items;
        size_t start = 0;
        for (size_t bit = 1; bit < 3616; ++bit)
            if (uint8_t(f[base + 0x1B + bit / 8]) & (1u << (bit % 8))) {
                items.push_back(f.substr(base + 0x1E0 + start, bit - start));
                start = bit;
            }
        // Shared prefix: later entries omit the first entry's first P bytes.
        const size_t prefix = le16(f, base + 0x18);
        for (size_t i = 1; i < items.size() && prefix; ++i) items[i] = items[0].substr(0, prefix) + items[i];
        if (size_t(4096 - 0x1E0 - le16(f, base + 2)) < start)
            out.problem = "free space disagrees on page " + std::to_string(page);
        for (const auto& e : items) {
            if (type == 4) {
                if (!prev.empty() && !(prev < e)) out.problem = "entries out of order";
                prev = e;
                ++out.entries;
                out.all.insert(e);
                const uint32_t dataPage =
                    (uint8_t(e[e.size() - 4]) << 16) | (uint8_t(e[e.size() - 3]) << 8) | uint8_t(e[e.size() - 2]);
                const uint32_t row = uint8_t(e.back());
                const size_t db = size_t(dataPage) * 4096;
                if (db + 4096 > f.size() || f[db] != 1 || row >= le16(f, db + 12) ||
                    (le16(f, db + 14 + 2 * row) & 0xC000))
                    out.problem = "entry names no live row";
            } else {
                const uint32_t child = (uint8_t(e[e.size() - 4]) << 24) | (uint8_t(e[e.size() - 3]) << 16) |
                                       (uint8_t(e[e.size() - 2]) << 8) | uint8_t(e.back());
                walk(child);
            }
        }
        if (type == 3 && le32(f, base + 0x14)) walk(le32(f, base + 0x14));
    };
    walk(root);
    return out;
}

// Real-index roots and the row count of the single-page TDEF at `page`.
std::vector<uint32_t> indexRoots(const std::string& f, uint32_t page, uint32_t& rows) {
    const size_t b = size_t(page) * 4096;
    rows = le32(f, b + 0x10);
    const uint16_t ncols = le16(f, b + 0x2D);
    const uint32_t nreal = le32(f, b + 0x33);
    size_t pos = b + 0x3F + 12 * nreal + 25 * size_t(ncols);
    for (int i = 0; i < ncols; ++i) pos += 2 + le16(f, pos);
    std::vector<uint32_t> roots;
    for (uint32_t i = 0; i < nreal; ++i, pos += 52) roots.push_back(le32(f, pos + 38));
    return roots;
}

TEST(StorageIndex, CatalogTreesStayConsistentThroughSplitsAndDrops) {
    test::TempDir dir;
    const auto file = dir.file("idx.mdb");
    {
        auto db = Database::create(file, "");
        ColumnDef a{"N", ColType::Long};
        for (int i = 0; i < 400; ++i)
            db->createTable("A rather long table name so that index pages fill up quickly " + std::to_string(i), {a});
        for (int i = 0; i < 400; i += 7)
            db->dropTable("A rather long table name so that index pages fill up quickly " + std::to_string(i));
        db->close();
    }
    const std::string f = test::readFile(file);
    for (uint32_t tdef : {2u, 3u}) {
        uint32_t rows = 0;
        for (uint32_t root : indexRoots(f, tdef, rows)) {
            const IndexCheck c = walkIndex(f, root);
            EXPECT_EQ(c.problem, "") << "table page " << tdef << " root " << root;
            EXPECT_EQ(c.entries, rows) << "table page " << tdef << " root " << root;
        }
    }
    // Several levels were needed.
    uint32_t rows = 0;
    const auto roots = indexRoots(f, 2, rows);
    EXPECT_EQ(f[size_t(roots[0]) * 4096], 3);
}

// Rows added to an Access-made table with indexes: the rebuilt trees hold
// exactly Access's own entries for the old rows plus ours for the new ones.
TEST(StorageIndex, UserTableIndexesMatchAccessKeys) {
    const auto src = test::corpusPath("access/jackcess-V2003/compIndexTestV2003.mdb").string();
    if (!fs::exists(src)) GTEST_SKIP();
    test::TempDir dir;
    const auto file = dir.file("c.mdb");
    fs::copy_file(src, file);
    uint32_t page;
    {
        auto db = Database::open(file, "", true);
        page = test::storage::tableId(*db, "Table1");
    }
    ASSERT_GT(page, 2u);
    std::string f = test::readFile(file);
    uint32_t rows = 0;
    const auto roots = indexRoots(f, page, rows);
    ASSERT_FALSE(roots.empty());
    std::vector<IndexCheck> before;
    for (uint32_t r : roots) {
        before.push_back(walkIndex(f, r));
        ASSERT_EQ(before.back().problem, "");
        ASSERT_EQ(before.back().entries, rows);
    }
    {
        auto db = Database::open(file, "", false);
        for (int i = 0; i < 500; ++i)
            db->insertRow("Table1", {Value(int64_t(100000 + i)), Value("Row " + std::to_string(i)), Value("x-y'z")});
        db->close();
    }
    f = test::readFile(file);
    uint32_t rowsAfter = 0;
    indexRoots(f, page, rowsAfter);
    EXPECT_EQ(rowsAfter, rows + 500);
    for (size_t i = 0; i < roots.size(); ++i) {
        const IndexCheck c = walkIndex(f, roots[i]);
        EXPECT_EQ(c.problem, "");
        EXPECT_EQ(c.entries, rowsAfter);
        for (const auto& e : before[i].all) EXPECT_TRUE(c.all.count(e)) << "an Access entry changed";
    }
}

// A row repeating an existing primary key is refused; the file stays sound.
TEST(StorageIndex, PrimaryKeyDuplicatesAreRefused) {
    const auto src = test::corpusPath("access/jackcess-V2000/testV2000.mdb").string();
    if (!fs::exists(src)) GTEST_SKIP();
    test::TempDir dir;
    const auto file = dir.file("pk.mdb");
    fs::copy_file(src, file);
    uint32_t page;
    {
        auto db = Database::open(file, "", false);
        page = test::storage::tableId(*db, "Table1");
        std::vector<Value> first;
        ASSERT_TRUE(db->scan("Table1")->next(first));
        try {
            db->insertRow("Table1", first);
            FAIL() << "duplicate accepted";
        } catch (const db::Error& e) {
            EXPECT_EQ(e.number(), 3022);
        }
        db->close();
    }
    const std::string f = test::readFile(file);
    uint32_t rows = 0;
    for (uint32_t r : indexRoots(f, page, rows)) {
        const IndexCheck c = walkIndex(f, r);
        EXPECT_EQ(c.problem, "");
        EXPECT_EQ(c.entries, rows);
    }
    const std::string diff = test::storage::compareWithReader(file);
    EXPECT_EQ(diff, "");
}

// A value for column `c` of the n-th row written: distinct from row to row,
// within the column's size.
Value sampleValue(const ColumnDef& c, int n) {
    const std::string text = "zz" + std::to_string(n);
    // clang-format off
    switch (c.type) {
    case ColType::Bool: return Value(n % 2 == 0);
    case ColType::Byte: return Value(int64_t(200 + n % 50));
    case ColType::Int: case ColType::Long: return Value(int64_t(30000 - n));
    case ColType::Money: return Value(Currency{int64_t(n) * 10000});
    case ColType::Float: case ColType::Double: return Value(0.5 + n);
    case ColType::DateTime: return Value(DateTime{{2001, 1, 1 + n % 28}, 10, n % 60, 0, 0});
    case ColType::Text: return Value(text.substr(0, size_t(std::max(1, c.size))));
    case ColType::Memo: return Value("memo " + text);
    case ColType::Binary: case ColType::OLE: return Value(Bytes{0xAB, uint8_t(n)});
    case ColType::Numeric: return Value(Decimal{std::to_string(n)});
    case ColType::Guid: {
        char g[40];
        std::snprintf(g, sizeof g, "{%08X-0000-4000-8000-000000000000}", unsigned(n));
        return Value(std::string(g));
    }
    default: return Value();
    }
    // clang-format on
}

// Rows whose indexed columns are all null, partly null and not null, added
// to every Access-made table with indexes of every index kind the corpus
// holds (unique, ignore nulls, required, primary, descending, several
// columns; Jet 4, ACE 2007 and 2010): each row is stored with exactly the
// entries its indexes take, or refused as a duplicate or a null in a
// required index; the files stay sound and read the same in the
// independent readers.
TEST(StorageIndex, NullAndNonNullKeysInEveryKindOfIndex) {
    const std::vector<std::string> files = {
        "jackcess-V2010/testIndexPropertiesV2010.accdb", "jackcess-V2000/indexTestV2000.mdb",
        "jackcess-V2010/indexTestV2010.accdb",           "jackcess-V2003/compIndexTestV2003.mdb",
        "jackcess-V2007/compIndexTestV2007.accdb",       "jackcess-V2010/binIdxTestV2010.accdb",
        "jackcess-V2007/indexCursorTestV2007.accdb"};
    test::TempDir dir;
    int written = 0, refused = 0;
    for (const auto& name : files) {
        const auto src = test::corpusPath("access/" + name);
        if (!fs::exists(src)) continue;
        SCOPED_TRACE(name);
        const std::string file = dir.file(src.filename().string());
        fs::copy_file(src, file);
        std::map<std::string, size_t> rows;
        {
            auto db = Database::open(file, "", false);
            int n = 0;
            for (const auto& t : db->listTables()) {
                if (t.kind != TableKind::User || t.name.rfind("MSys", 0) == 0) continue;
                const auto cols = db->columns(t.name);
                for (int shape = 0; shape < 3; ++shape) {
                    // 0: all null; 1: the first half of the columns set; 2: all set.
                    std::vector<Value> v;
                    for (size_t k = 0; k < cols.size(); ++k)
                        v.push_back(shape == 2 || (shape == 1 && 2 * k < cols.size()) ? sampleValue(cols[k], ++n)
                                                                                      : Value());
                    try {
                        db->insertRow(t.name, v);
                        ++written;
                    } catch (const db::Error& e) {
                        // A duplicate key, a null in a required index or
                        // column, a text sort order whose keys we cannot
                        // write, a key with no row on the one side of an
                        // enforced relationship.
                        EXPECT_TRUE(e.number() == 3022 || e.number() == 3058 || e.number() == 3314 ||
                                    e.number() == 3251 || e.number() == 3201)
                            << t.name << " shape " << shape << ": " << e.what();
                        ++refused;
                    }
                }
                std::vector<Value> r;
                auto cur = db->scan(t.name);
                while (cur->next(r)) ++rows[t.name];
            }
            db->close();
        }
        std::string lines;
        for (const auto& p : test::accessFileProblems(file)) lines += p + "\n";
        EXPECT_EQ(lines, "");  // nor any warning but those of the original
        const std::string diff = test::storage::compareWithReader(file);
        EXPECT_EQ(diff, "");
        if (test::mdbtoolsAvailable()) {
            const auto m = test::mdbtoolsDump(file);
            EXPECT_EQ(m.exitCode, 0) << m.err;
            for (const auto& [table, count] : rows)
                EXPECT_NE(m.out.find("==== table: " + table + " (" + std::to_string(count) + " rows) ===="),
                          std::string::npos)
                    << table << " " << count;
        }
    }
    EXPECT_GT(written, 20);
    EXPECT_GT(refused, 0);
}

// An index whose entries pass the sort's bound on memory is sorted in runs
// kept in a temporary file and merged: its pages are those of the same index
// sorted in memory, a unique index over keys repeated across runs is still
// refused, and no temporary file stays behind.
TEST(StorageIndex, IndexSortedInRunsEqualsTheOneSortedInMemory) {
    test::TempDir dir;
    const std::string base = dir.file("base.mdb");
    {
        auto col = [](const char* n, ColType t, int size) {
            ColumnDef c;
            c.name = n;
            c.type = t;
            c.size = size;
            return c;
        };
        auto db = Database::create(base, "");
        db->createTable("T",
                        {col("Id", ColType::Long, 4), col("Name", ColType::Text, 50), col("Notes", ColType::Memo, 0)});
        for (int i = 0; i < 20000; ++i) {
            const int k = int(int64_t(i) * 7919 % 20000);
            db->insertRow("T", {Value(int64_t(k)), k % 37 == 5 ? Value() : Value("Náme " + std::to_string(k % 6000)),
                                Value("note " + std::to_string(i))});
        }
        db->close();
    }
    struct Bound {
        explicit Bound(size_t b) { EntrySorter::setMemoryBound(b); }
        ~Bound() { EntrySorter::setMemoryBound(0); }
    };
    auto build = [&](const std::string& name, size_t bound) {
        const std::string file = dir.file(name);
        fs::copy_file(base, file);
        Bound b(bound);
        auto db = Database::open(file, "", false);
        IndexDef ix;
        ix.table = "T";
        ix.name = "ixName";
        ix.columns = {{"Name", false}, {"Id", true}};
        db->createIndex(ix);
        ix.name = "ixUniqueName";
        ix.columns = {{"Name", true}};
        ix.unique = true;
        try {
            db->createIndex(ix);
            ADD_FAILURE() << "a unique index over repeated names was made";
        } catch (const db::Error& e) {
            EXPECT_EQ(e.number(), 3022) << e.what();
        }
        ix.name = "ixId";
        ix.columns = {{"Id", false}};
        db->createIndex(ix);
        db->close();
        return test::readFile(file);
    };
    const std::string inMemory = build("memory.mdb", 0);
    const std::string inRuns = build("runs.mdb", 16 << 10);
    ASSERT_EQ(inMemory.size(), inRuns.size());
    int indexPages = 0;
    for (size_t at = 0; at < inMemory.size(); at += 4096) {
        const uint8_t type = uint8_t(inMemory[at]);
        if (type != 2 && type != 3 && type != 4) continue;  // definitions and index pages
        indexPages += type != 2;
        EXPECT_EQ(inMemory.compare(at, 4096, inRuns, at, 4096), 0) << "page " << at / 4096;
    }
    EXPECT_GT(indexPages, 40);
    for (const auto& e : fs::directory_iterator(dir.path())) EXPECT_EQ(e.path().extension(), ".mdb") << e.path();
}

}  // namespace
