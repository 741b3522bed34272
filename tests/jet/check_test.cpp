// tallyport check: the Access-made corpus passes (with the faults Access left
// in it named exactly), and each kind of damage is reported with what is
// wrong.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "db/jet/check/check.h"
#include "db/jet/database.h"
#include "db/jet/storage/pager.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp::db;
using namespace tp::db::jet;
using tp::test::storage::column;
namespace fs = std::filesystem;

namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\n";
    return s;
}

bool has(const std::vector<std::string>& lines, const std::string& part) {
    for (const auto& l : lines)
        if (l.find(part) != std::string::npos) return true;
    return false;
}

// A database file as bytes, with the few structures the damage needs.
struct Image {
    std::string bytes;
    uint8_t* page(uint32_t n) { return reinterpret_cast<uint8_t*>(bytes.data()) + size_t(n) * kPageSize; }
    // The row a pg:row pointer names.
    uint8_t* row(uint32_t ref) {
        uint8_t* p = page(ref >> 8);
        return p + (decodeLE16(p + 14 + 2 * (ref & 0xFF)) & 0x1FFF);
    }
    // The first table definition whose column names hold `name`.
    uint32_t tdefWith(const std::string& name) {
        std::string utf16;
        for (char c : name) utf16 += std::string{c, '\0'};
        for (uint32_t n = 3; n < bytes.size() / kPageSize; ++n)
            if (page(n)[0] == 0x02 && bytes.find(utf16, size_t(n) * kPageSize) < size_t(n + 1) * kPageSize) return n;
        return 0;
    }
    // Where a real index of a one-page table definition starts, and its root.
    size_t indexOffset(uint32_t tdef, int index) {
        const uint8_t* s = page(tdef);
        size_t pos = 0x3F + 12 * size_t(decodeLE32(s + 0x33)) + 25 * size_t(decodeLE16(s + 0x2D));
        for (int c = 0; c < decodeLE16(s + 0x2D); ++c) pos += 2 + decodeLE16(s + pos);
        return pos + 52 * size_t(index) + 4;
    }
    uint32_t indexRoot(uint32_t tdef, int index) { return decodeLE32(page(tdef) + indexOffset(tdef, index) + 34); }
    // The owned-pages map of the n-th long-value column of a one-page
    // definition without indexes.
    uint32_t longValueMap(uint32_t tdef, int n) {
        const uint8_t* s = page(tdef);
        size_t pos = 0x3F + 25 * size_t(decodeLE16(s + 0x2D));
        for (int c = 0; c < decodeLE16(s + 0x2D); ++c) pos += 2 + decodeLE16(s + pos);
        return decodeLE32(s + pos + 10 * size_t(n) + 2);
    }
    // Pages marked by a usage map, and marking one more.
    std::vector<uint32_t> mapped(uint32_t ref) {
        std::vector<uint32_t> out;
        const uint8_t* r = row(ref);
        for (uint32_t p = 0; p < bytes.size() / kPageSize; ++p)
            if (marked(r, p)) out.push_back(p);
        return out;
    }
    bool marked(const uint8_t* r, uint32_t p) {
        if (r[0] == 0x00) {
            const uint32_t start = decodeLE32(r + 1);
            return p >= start && p - start < 64 * 8 && (r[5 + (p - start) / 8] >> ((p - start) % 8) & 1);
        }
        const uint32_t bitmap = decodeLE32(r + 1 + 4 * (p / ((kPageSize - 4) * 8)));
        const uint32_t bit = p % ((kPageSize - 4) * 8);
        return bitmap != 0 && (page(bitmap)[4 + bit / 8] >> (bit % 8) & 1);
    }
    void mark(uint32_t ref, uint32_t p) {
        uint8_t* r = row(ref);
        if (r[0] == 0x00) {
            const uint32_t bit = p - decodeLE32(r + 1);
            ASSERT_LT(bit, 64u * 8);
            r[5 + bit / 8] |= uint8_t(1u << (bit % 8));
        } else {
            const uint32_t bitmap = decodeLE32(r + 1 + 4 * (p / ((kPageSize - 4) * 8)));
            ASSERT_NE(bitmap, 0u);
            const uint32_t bit = p % ((kPageSize - 4) * 8);
            page(bitmap)[4 + bit / 8] |= uint8_t(1u << (bit % 8));
        }
    }
};

// Entries of a leaf index page: (offset from 0x1E0, length).
std::vector<std::pair<size_t, size_t>> leafEntries(const uint8_t* p) {
    std::vector<std::pair<size_t, size_t>> out;
    size_t start = 0;
    for (size_t k = 0; k < 453 * 8; ++k)
        if (p[0x1B + k / 8] >> (k % 8) & 1) {
            out.emplace_back(start, k - start);
            start = k;
        }
    return out;
}

}  // namespace

// Every untouched Access-made file is sound: what Access itself leaves
// inexact and reads past (stored row counts, counts of distinct keys, the
// count of variable columns after a column was deleted) is a warning, never a
// problem; the rows of calculated Yes/No and long text columns decode.
TEST(Check, AccessMadeCorpusFilesAreSoundButForTheirKnownFaults) {
    const fs::path root = tp::test::corpusPath("access");
    if (!fs::exists(root)) GTEST_SKIP() << "no corpus";
    const std::map<std::string, std::string> password = {{"V2000_with-password.mdb", "password"},
                                                         {"office-agile-4.2.accdb", "password"},
                                                         {"password.mdb", "ucanaccess"}};
    // Row counts Access left wrong, exactly.
    const std::map<std::string, std::vector<std::string>> known = {
        {"testV2000.mdb", {"table 'MSysACEs', page 3: its definition counts 61 rows, but it holds 64"}},
        {"testV2003.mdb", {"table 'MSysACEs', page 3: its definition counts 78 rows, but it holds 81"}},
        {"calcFieldTestV2010.accdb", {"table 'Table1', page 86: its definition counts 3 rows, but it holds 4"}},
    };
    auto tolerated = [](const std::string& w) {
        return w.find(" distinct keys, but the index holds ") != std::string::npos ||
               w.find(" variable columns, but has ") != std::string::npos;
    };
    // What cannot be verified is said, and is no problem.
    const std::map<std::string, std::vector<std::string>> knownNotes = {
        {"unsupportedFieldsTestV2007.accdb",
         {"index 2 of table 'f_3A10F39A50E2459E86B84E69EA5F753E_UnknownComplex': keys not verified (column 'Value' is "
          "of a type whose keys this check cannot compute); its entries were matched with the rows one to one"}},
        {"calcFieldTestV2010.accdb",
         {"table 'Table1' column 'DecimalTest': values not decoded (a calculated Decimal field)",
          "table 'Table1' column 'FloatTest': values not decoded (a calculated Decimal field)",
          "table 'Table1' column 'BigNumTest': values not decoded (a calculated Decimal field)"}},
    };
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string name = e.path().filename().string();
        const std::string ext = e.path().extension().string();
        if (ext != ".mdb" && ext != ".accdb") continue;
        ++files;
        const auto pw = password.count(name) ? password.at(name) : std::string();
        const auto got = checkDatabase(e.path().string(), pw, 100000);
        EXPECT_EQ(joined(got.problems), "") << e.path();
        std::vector<std::string> counts;
        for (const auto& w : got.warnings)
            if (!tolerated(w)) counts.push_back(w);
        const auto want = known.count(name) ? known.at(name) : std::vector<std::string>{};
        EXPECT_EQ(joined(counts), joined(want)) << e.path();
        const auto wantNotes = knownNotes.count(name) ? knownNotes.at(name) : std::vector<std::string>{};
        EXPECT_EQ(joined(got.notes), joined(wantNotes)) << e.path();
    }
    EXPECT_GE(files, 50);
    // The command line: "ok" and 0, warnings before "ok" and 0, bad usage 2.
    const auto ok = tp::test::runCommand(
        {tp::test::tallyportExe(), "check", tp::test::corpusPath("access/jackcess-templates/empty.mdb").string()});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_EQ(ok.out, "ok\n");
    const auto warned = tp::test::runCommand(
        {tp::test::tallyportExe(), "check", tp::test::corpusPath("access/jackcess-V2000/testV2000.mdb").string()});
    EXPECT_EQ(warned.exitCode, 0);
    EXPECT_NE(warned.out.find("warning: " + known.at("testV2000.mdb")[0] + "\n"), std::string::npos) << warned.out;
    EXPECT_EQ(warned.out.substr(warned.out.size() - 3), "ok\n");
    const auto noted =
        tp::test::runCommand({tp::test::tallyportExe(), "check",
                              tp::test::corpusPath("access/jackcess-V2007/unsupportedFieldsTestV2007.accdb").string()});
    EXPECT_EQ(noted.exitCode, 0) << noted.err;
    EXPECT_EQ(noted.out.rfind("note: " + knownNotes.at("unsupportedFieldsTestV2007.accdb")[0] + "\n", 0), 0u);
    EXPECT_EQ(noted.out.substr(noted.out.size() - 3), "ok\n");
    EXPECT_EQ(tp::test::runCommand({tp::test::tallyportExe(), "check"}).exitCode, 2);
    const auto wrong = tp::test::runCommand(
        {tp::test::tallyportExe(), "check",
         tp::test::corpusPath("access/mdb-reader/password/data/V2000_with-password.mdb").string(), "--password", "x"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("Not a valid password."), std::string::npos) << wrong.err;
}

// Damage to a file of our own, one kind per copy: each is found and said.
TEST(Check, DamageIsReportedWithWhatIsWrong) {
    tp::test::TempDir dir;
    dir.leaveUnchecked();  // the copies are damaged on purpose
    const std::string file = dir.file("sound.mdb");
    {
        auto db = Database::create(file, "");
        db->createTable("Alpha", {column("AlphaKey", ColType::Long), column("Note", ColType::Text, 20),
                                  column("Body", ColType::Memo)});
        db->createTable("Beta", {column("BetaKey", ColType::Long)});
        for (int i = 0; i < 3; ++i)
            db->insertRow("Alpha", {Value(int64_t(i)), Value("n" + std::to_string(i)), Value(std::string(5000, 'm'))});
        db->insertRow("Beta", {Value(int64_t(7))});
        db->close();
    }
    ASSERT_EQ(joined(checkDatabase(file, "").problems), "");
    const std::string sound = tp::test::readFile(file);
    auto damaged = [&](const std::string& name, const std::function<void(Image&)>& damage) {
        Image img{sound};
        damage(img);
        const std::string copy = dir.file(name + ".mdb");
        tp::test::writeFile(copy, img.bytes);
        return checkDatabase(copy, "").problems;
    };
    Image img{sound};
    const uint32_t alpha = img.tdefWith("AlphaKey"), beta = img.tdefWith("BetaKey");
    ASSERT_NE(alpha, 0u);
    ASSERT_NE(beta, 0u);
    // The catalog's Id index (real index 1 of MSysObjects): one leaf.
    const uint32_t root = img.indexRoot(2, 1);
    ASSERT_EQ(img.page(root)[0], 0x04);
    const auto entries = leafEntries(img.page(root));
    ASSERT_GE(entries.size(), 8u);
    const std::string index = "index 1 of table 'MSysObjects', page " + std::to_string(root) + ": ";
    auto ptrOf = [&](Image& m, size_t e) {
        const uint8_t* p = m.page(root) + 0x1E0 + entries[e].first + entries[e].second - 4;
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    };
    const uint32_t second = ptrOf(img, 1), third = ptrOf(img, 2);
    const auto refText = [](uint32_t ref) { return std::to_string(ref >> 8) + ":" + std::to_string(ref & 0xFF); };

    // A changed key byte.
    auto lines = damaged("key", [&](Image& m) { m.page(root)[0x1E0 + entries[1].first + 4] ^= 0x01; });
    EXPECT_TRUE(has(lines, index + "the entry for row " + refText(second) + ": its key ")) << joined(lines);
    EXPECT_TRUE(has(lines, "differs from the key of the row")) << joined(lines);

    // A removed entry: the mark that ends the last entry is cleared.
    lines = damaged("removed", [&](Image& m) {
        const auto& last = entries.back();
        const size_t end = last.first + last.second;
        m.page(root)[0x1B + end / 8] &= uint8_t(~(1u << (end % 8)));
    });
    EXPECT_TRUE(has(lines, "row " + refText(ptrOf(img, entries.size() - 1)) + " has no entry in the index"))
        << joined(lines);

    // An entry that points at the wrong row.
    lines = damaged("wrongrow", [&](Image& m) {
        uint8_t* p = m.page(root) + 0x1E0 + entries[1].first + entries[1].second - 1;
        *p = uint8_t(third & 0xFF);
        p[-1] = uint8_t(third >> 8);
        p[-2] = uint8_t(third >> 16);
        p[-3] = uint8_t(third >> 24);
    });
    EXPECT_TRUE(has(lines, index + "the entry for row " + refText(third) + ": its key ")) << joined(lines);
    EXPECT_TRUE(has(lines, "row " + refText(second) + " has no entry in the index")) << joined(lines);

    // A page claimed by two owners: Alpha's data page also in Beta's map.
    const auto alphaPages = img.mapped(decodeLE32(img.page(alpha) + 0x37));
    ASSERT_FALSE(alphaPages.empty());
    lines = damaged("twice", [&](Image& m) { m.mark(decodeLE32(m.page(beta) + 0x37), alphaPages.front()); });
    EXPECT_TRUE(
        has(lines, "page " + std::to_string(alphaPages.front()) + ": claimed by both table 'Alpha' and table 'Beta'"))
        << joined(lines);

    // A page past the end of the file in each kind of usage map: a table's
    // owned pages and free space, an index's pages, a column's long values.
    const uint32_t pages = uint32_t(sound.size() / kPageSize), past = pages + 3;
    const std::string pastText = "page " + std::to_string(past) + ", past the end of the file";
    for (const auto& [what, ref] : std::vector<std::pair<std::string, uint32_t>>{
             {"table 'Alpha' (owned pages)", decodeLE32(img.page(alpha) + 0x37)},
             {"table 'Alpha' (free-space map)", decodeLE32(img.page(alpha) + 0x3B)},
             {"index 1 of table 'MSysObjects' (its pages)", decodeLE32(img.page(2) + img.indexOffset(2, 1) + 30)},
             {"table 'Alpha' column 'Body' (long-value pages)", img.longValueMap(alpha, 0)}}) {
        lines = damaged("past", [&](Image& m) { m.mark(ref, past); });
        EXPECT_TRUE(has(lines, what + ": its usage map marks " + pastText)) << what << "\n" << joined(lines);
    }

    // Definitions that make readers decode wrong values: a Text column's type
    // byte made Long (4), a text length below the values', a stream length
    // that its pages do not hold, a wrong count of variable columns.
    const size_t note = 0x3F + 25 * 1;  // Alpha's columns: AlphaKey, Note, Body
    lines = damaged("type", [&](Image& m) { m.page(alpha)[note] = 0x04; });
    EXPECT_TRUE(has(lines, "column 'Note': 40 bytes for a type of 4")) << joined(lines);
    lines = damaged("length", [&](Image& m) { encodeLE16(m.page(alpha) + note + 23, 2); });
    EXPECT_TRUE(has(lines, "its value of column 'Note' takes 4 bytes, more than the column's 2")) << joined(lines);
    lines = damaged("stream", [&](Image& m) { encodeLE32(m.page(alpha) + 8, kPageSize + 100); });
    EXPECT_TRUE(
        has(lines, "its definition is " + std::to_string(kPageSize + 100) + " bytes long, but its pages hold 4096"))
        << joined(lines);
    lines = damaged("varcols", [&](Image& m) { encodeLE16(m.page(alpha) + 0x2B, 1); });
    EXPECT_TRUE(has(lines, "counts 1 variable columns, but has 2")) << joined(lines);

    // What Access itself leaves and tolerates is a warning, not a problem: a
    // wrong row count, a wrong count of distinct keys.
    auto warnings = [&](const std::string& name, const std::function<void(Image&)>& damage) {
        Image m{sound};
        damage(m);
        const std::string copy = dir.file(name + ".mdb");
        tp::test::writeFile(copy, m.bytes);
        const auto report = checkDatabase(copy, "");
        EXPECT_EQ(joined(report.problems), "") << name;
        return joined(report.warnings);
    };
    EXPECT_EQ(warnings("count", [&](Image& m) { encodeLE32(m.page(alpha) + 0x10, 4); }),
              "table 'Alpha', page " + std::to_string(alpha) + ": its definition counts 4 rows, but it holds 3\n");
    EXPECT_EQ(warnings("distinct", [&](Image& m) { encodeLE32(m.page(2) + 0x3F + 12 * 1 + 4, 1); }),
              "index 1 of table 'MSysObjects', page 2: its definition counts 1 distinct keys, but the index holds " +
                  std::to_string(decodeLE32(img.page(2) + 0x3F + 12 * 1 + 4)) + "\n");

    // A file cut short.
    lines = damaged("short", [&](Image& m) { m.bytes.resize(m.bytes.size() - 100); });
    EXPECT_TRUE(has(lines, "is not a whole number of 4096-byte pages")) << joined(lines);
}

// Past about 128 MB the global page map becomes a reference map with bitmap
// pages of its own (type 0x05): the check reads it, gives its pages to the
// map, and finds a page of a table that the map marks free (one the writer
// would take again).
TEST(Check, GlobalReferenceMapOfABigFile) {
    tp::test::TempDir dir;
    dir.leaveUnchecked();  // damaged below
    const std::string file = dir.file("big.mdb");
    {
        auto db = Database::create(file, "");
        db->createTable("Big", {column("Id", ColType::Long), column("Body", ColType::Memo)});
        for (int i = 0; i < 140; ++i)
            db->insertRow("Big", {Value(int64_t(i)), Value(std::string(1000000, char('a' + i % 26)))});
        db->close();
    }
    ASSERT_EQ(joined(checkDatabase(file, "").problems), "");
    // Page 1, row 0: a reference map; a long-value page marked free in it.
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    auto readAt = [&](uint64_t at, size_t n) {
        std::string s(n, '\0');
        f.seekg(std::streamoff(at));
        f.read(s.data(), std::streamsize(n));
        return s;
    };
    const std::string map = readAt(kPageSize, kPageSize);
    const auto* m = reinterpret_cast<const uint8_t*>(map.data());
    const uint8_t* row = m + (decodeLE16(m + 14) & 0x1FFF);
    ASSERT_EQ(row[0], 0x01);
    const uint32_t bitmap = decodeLE32(row + 1);
    ASSERT_EQ(uint8_t(readAt(uint64_t(bitmap) * kPageSize, 1)[0]), 0x05);
    uint32_t victim = 0;
    for (uint32_t p = 3; victim == 0 && p < 1000; ++p)
        if (readAt(uint64_t(p) * kPageSize + 4, 4) == "LVAL") victim = p;
    ASSERT_NE(victim, 0u);
    const uint64_t at = uint64_t(bitmap) * kPageSize + 4 + victim / 8;
    const char marked = char(readAt(at, 1)[0] | char(1 << (victim % 8)));
    f.seekp(std::streamoff(at));
    f.write(&marked, 1);
    f.close();
    EXPECT_EQ(joined(checkDatabase(file, "").problems),
              "page " + std::to_string(victim) +
                  ": belongs to the long values of table 'Big' column 'Body', but the global page map marks it free\n");
}
