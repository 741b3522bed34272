// Text index keys: every key Access stored in the corpus recomputed from its
// row, the General orders on non-ASCII text, and the unique indexes (user
// tables, the catalog) that compare text through the keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "db/error.h"
#include "db/jet/database.h"
#include "db/jet/format/index_keys.h"
#include "db/jet/tables/stored_table.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
using namespace tp::db::jet;
namespace fs = std::filesystem;

namespace {

std::string hex(const std::vector<uint8_t>& v) {
    std::string s;
    char b[4];
    for (uint8_t x : v) {
        std::snprintf(b, sizeof b, "%02X ", x);
        s += b;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

std::string key(std::u16string_view text, SortOrder order, bool ascending = true) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(appendTextKey(out, text, order, ascending));
    return hex(out);
}

std::string orderList(const std::vector<SortOrder>& orders) {
    std::string s;
    for (const SortOrder& o : orders) s += (s.empty() ? "" : ", ") + sortOrderName(o);
    return s;
}

std::string passwordOf(const fs::path& p) {
    const std::string n = p.filename().string();
    if (n == "V2000_with-password.mdb" || n == "office-agile-4.2.accdb") return "password";
    if (n == "password.mdb" && p.parent_path().filename() == "ucanaccess") return "ucanaccess";
    return "";
}

// Tables whose entries cannot be recomputed for reasons other than the key
// rules: the file name, the table, why.
struct Unrecomputable {
    const char* file;
    const char* table;
};
// Date-times are keyed from their stored doubles and Access 97 text with the
// bytes code page 1252 leaves undefined as those bytes, so only this is left.
constexpr Unrecomputable kUnrecomputable[] = {
    // A column of a type we do not know, keyed as text by Access.
    {"unsupportedFieldsTestV2007.accdb", "f_3A10F39A50E2459E86B84E69EA5F753E_UnknownComplex"},
};

bool unrecomputable(const fs::path& f, const std::string& problem) {
    for (const auto& u : kUnrecomputable)
        if (f.filename() == u.file && problem.rfind(std::string("table '") + u.table + "' ", 0) == 0) return true;
    return false;
}

// Every file of the corpus was made by Access: each entry of each index,
// system tables included, must hold exactly the key we compute from its row.
TEST(IndexKeys, AccessMadeKeysAreRecomputedExactly) {
    const fs::path root = test::corpusPath("access");
    if (!fs::exists(root)) GTEST_SKIP();
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string ext = e.path().extension().string();
        if (e.is_regular_file() && (ext == ".mdb" || ext == ".accdb")) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 50u);
    std::map<std::string, std::pair<size_t, size_t>> byOrder;  // entries, non-ASCII entries
    size_t entries = 0;
    for (const fs::path& f : files) {
        SCOPED_TRACE(f.string());
        std::unique_ptr<Database> db;
        ASSERT_NO_THROW(db = Database::open(f.string(), passwordOf(f), true));
        const IndexKeyReport r = compareIndexKeys(*db);
        size_t excused = 0;
        for (const std::string& p : r.problems) {
            if (unrecomputable(f, p)) ++excused;
            else ADD_FAILURE() << p;
        }
        EXPECT_EQ(r.problemCount, r.problems.size());
        EXPECT_EQ(r.unsupportedIndexes, 0u);
        EXPECT_GT(r.entries, 0u);  // the catalog's indexes at least
        entries += r.entries;
        for (const SortOrder& o : r.orders) {
            byOrder[sortOrderName(o)].first += r.textEntries;
            byOrder[sortOrderName(o)].second += r.nonAsciiEntries;
        }
        std::printf("%-50s %7zu entries, %6zu text, %5zu non-ASCII, %3zu not recomputable; %s\n",
                    fs::relative(f, root).string().c_str(), r.entries, r.textEntries, r.nonAsciiEntries, excused,
                    orderList(r.orders).c_str());
    }
    // All three General orders were compared, with non-ASCII text in each
    // where the corpus holds it.
    EXPECT_GT(byOrder["General 97"].second, 500u);
    EXPECT_GT(byOrder["General legacy"].first, 1000u);
    EXPECT_GT(byOrder["General legacy"].second, 0u);
    EXPECT_GT(byOrder["General"].first, 900u);
    EXPECT_GE(byOrder["General"].second, 80u);  // emoji
    EXPECT_GT(entries, 35000u);
}

// The General orders on text beyond ASCII, from the published code tables
// and the keys Access wrote into MSysObjects.
TEST(IndexKeys, GeneralOrdersKeyTextAsAccessDoes) {
    // Plain text, verified on Access data; descending inverts and frames.
    EXPECT_EQ(key(u"DataAccessPages", kGeneralLegacy), "4F 4A 6D 4A 4A 4D 4D 51 6B 6B 66 4A 55 51 6B 01 00");
    EXPECT_EQ(key(u"abc", kGeneral2010), "0E 02 0E 09 0E 0A 01 00");
    EXPECT_EQ(key(u"abc", kGeneral97), "60 61 62 00");
    EXPECT_EQ(key(u"abc", kGeneralLegacy, false), "B5 B3 B2 FE FF 00");
    EXPECT_EQ(key(u"abc", kGeneral97, false), "9F 9E 9D FF");
    // Accents: base letter inline, the accent in the extra section.
    EXPECT_EQ(key(u"café", kGeneralLegacy), "4D 4A 53 51 01 02 02 02 0E 00");
    EXPECT_EQ(key(u"café", kGeneral2010), "0E 0A 0E 02 0E 23 0E 21 01 02 02 02 0E 00");
    // ß keys as "ss"; apostrophe and hyphen are unprintable, keyed by position.
    EXPECT_EQ(key(u"ß", kGeneralLegacy), "6B 6B 01 00");
    EXPECT_EQ(key(u"O'Neil-x", kGeneralLegacy), "64 62 51 59 5E 75 01 01 01 01 80 0B 06 80 80 1B 06 82 00");
    EXPECT_EQ(key(u"O'Neil-x", kGeneral2010),
              "0E 7C 0E 70 0E 21 0E 32 0E 48 0E A6 01 01 01 01 80 0B 06 80 80 1B 06 82 00");
    // A character outside the Basic Multilingual Plane: both halves keyed.
    EXPECT_EQ(key(u"a\U0001F600b", kGeneralLegacy), "4A B0 3F B6 FC 4C 01 02 3F 3F 00");
    for (SortOrder o : {kGeneralLegacy, kGeneral2010}) {
        SCOPED_TRACE(sortOrderName(o));
        // Case never matters, in any script; accents and letters do.
        EXPECT_EQ(key(u"Привет", o), key(u"ПРИВЕТ", o));
        EXPECT_EQ(key(u"Ωmega", o), key(u"ωmega", o));
        EXPECT_EQ(key(u"Œuvre", o), key(u"œUVRE", o));
        EXPECT_EQ(key(u"ÉTÉ", o), key(u"été", o));
        EXPECT_EQ(key(u"Straße", o), key(u"STRASSE", o));
        EXPECT_NE(key(u"été", o), key(u"ete", o));
        EXPECT_NE(key(u"Привет", o), key(u"Привед", o));
        EXPECT_NE(key(u"表格数据", o), key(u"表格数", o));
        EXPECT_NE(key(u"a\U0001F600", o), key(u"a\U0001F601", o));
        // A combining accent keys like the precomposed letter.
        EXPECT_EQ(key(u"e\u0301t\u00E9", o), key(u"étÉ", o));
        // Cyrillic, Greek and CJK sort after Latin and among themselves in
        // alphabet order, case aside.
        EXPECT_LT(key(u"zebra", o), key(u"Ярмарка", o));
        EXPECT_LT(key(u"Альфа", o), key(u"борщ", o));
        EXPECT_LT(key(u"αλφα", o), key(u"Βήτα", o));
        EXPECT_LT(key(u"été", o), key(u"étés", o));
        // 255 characters are keyed; trailing spaces are not.
        const std::u16string a255(255, u'a');
        EXPECT_EQ(key(a255 + u"bcd", o), key(a255, o));
        EXPECT_NE(key(a255, o), key(a255.substr(1) + u"b", o));
        EXPECT_EQ(key(u"Таблица   ", o), key(u"таблица", o));
        const std::u16string cyr(300, u'ж');
        EXPECT_EQ(key(cyr, o), key(cyr.substr(0, 255) + u"zzz", o));
    }
    // Orders we cannot compute get no key at all.
    std::vector<uint8_t> out{0x7F};
    EXPECT_FALSE(appendTextKey(out, u"abc", SortOrder{1049, 0}));
    EXPECT_EQ(out.size(), 1u);
    EXPECT_FALSE(sortOrderSupported(SortOrder{1033, 2}));
    EXPECT_NE(sortOrderName(SortOrder{1049, 0}).find("Cyrillic"), std::string::npos);
    EXPECT_NE(sortOrderName(SortOrder{1049, 0}).find("1049"), std::string::npos);
}

std::vector<Value> table1Row(const char* a, const char* b) {
    return {Value(a), Value(b), Value(), Value(), Value(), Value(), Value(), Value(), Value(false)};
}

// Unique indexes compare text through the keys: case variants in any script
// collide, in user tables and in the catalog; a sort order whose keys we do
// not know is never written into.
TEST(IndexKeys, UniqueIndexesCompareTextThroughKeys) {
    const auto v2000 = test::corpusPath("access/jackcess-V2000/testV2000.mdb");
    if (!fs::exists(v2000)) GTEST_SKIP();
    test::TempDir dir;
    const auto file = dir.file("pk.mdb");
    fs::copy_file(v2000, file);
    {
        auto db = Database::open(file, "", false);
        db->insertRow("Table1", table1Row("Привет", "x"));
        try {
            db->insertRow("Table1", table1Row("ПРИВЕТ", "y"));
            FAIL() << "a case variant was accepted into the primary key";
        } catch (const db::Error& e) {
            EXPECT_EQ(e.number(), 3022);
        }
        db->insertRow("Table1", table1Row("Привед", "z"));
        db->close();
    }
    {
        auto db = Database::open(file, "", true);
        const IndexKeyReport r = compareIndexKeys(*db);
        EXPECT_EQ(r.problemCount, 0u) << (r.problems.empty() ? "" : r.problems[0]);
    }
    for (const char* name : {"jackcess-templates/emptyJet4.mdb", "jackcess-templates/empty2010.accdb"}) {
        SCOPED_TRACE(name);
        const auto copy = dir.file(fs::path(name).filename().string());
        fs::copy_file(test::corpusPath(std::string("access/") + name), copy);
        auto db = Database::open(copy, "", false);
        db->createTable("Ωmega", {test::storage::column("x", ColType::Long)});
        for (const char* variant : {"ωmega", "ΩMEGA", "msysobjects"}) {
            try {
                db->createTable(variant, {test::storage::column("x", ColType::Long)});
                ADD_FAILURE() << variant << " was created beside an existing name";
            } catch (const db::Error& e) {
                EXPECT_EQ(e.number(), 3010);
                EXPECT_EQ(std::string(e.what()), std::string("Table '") + variant + "' already exists.");
            }
        }
        EXPECT_EQ(db->findTable("ωMEGA"), "Ωmega");
        try {
            db->createTable("Fields", {test::storage::column("Größe", ColType::Long),
                                       test::storage::column("GRÖSSE", ColType::Long)});
            ADD_FAILURE() << "a repeated field name was accepted";
        } catch (const db::Error& e) {
            EXPECT_EQ(e.number(), 3191);
        }
        db->close();
    }
    // A text column indexed under another sort order: refused, file intact.
    const auto other = dir.file("cyrillic.mdb");
    fs::copy_file(v2000, other);
    uint32_t page;
    {
        auto db = Database::open(other, "", true);
        page = test::storage::tableId(*db, "Table1");
    }
    std::string bytes = test::readFile(other);
    const size_t tdef = size_t(page) * 4096;
    uint32_t nreal;
    std::memcpy(&nreal, bytes.data() + tdef + 0x33, 4);
    const size_t col0 = tdef + 0x3F + 12 * nreal;
    ASSERT_EQ(bytes[col0], 0x0A);   // A, the primary key's text column
    bytes[col0 + 11] = char(0x19);  // 1049
    test::writeFile(other, bytes);
    {
        auto db = Database::open(other, "", false);
        try {
            db->insertRow("Table1", table1Row("abc", "x"));
            FAIL() << "written into an index of an unknown sort order";
        } catch (const db::Error& e) {
            EXPECT_NE(std::string(e.what()).find("Cyrillic (locale 1049, version 0)"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("'A'"), std::string::npos) << e.what();
        }
        db->close();
    }
    EXPECT_EQ(test::readFile(other), bytes);
}

// Tables with non-ASCII names, several in one file: the catalog's index
// entries are the recomputed keys, in key order, and the readers agree.
TEST(IndexKeys, NonAsciiTableNamesKeyTheCatalog) {
    test::TempDir dir;
    struct Target {
        std::string file;
        SortOrder order;
    };
    std::vector<Target> targets;
    for (const char* name : {"jackcess-templates/emptyJet4.mdb", "jackcess-templates/empty2010.accdb"}) {
        const auto src = test::corpusPath(std::string("access/") + name);
        if (!fs::exists(src)) GTEST_SKIP();
        const auto copy = dir.file(fs::path(name).filename().string());
        fs::copy_file(src, copy);
        targets.push_back({copy, std::string(name).find("2010") != std::string::npos ? kGeneral2010 : kGeneralLegacy});
    }
    // New files: General legacy for .mdb and Access 2007, General for 2010 and later.
    for (auto [fmt, order] : {std::pair{FileFormat::Jet4, kGeneralLegacy}, std::pair{FileFormat::Ace12, kGeneralLegacy},
                              std::pair{FileFormat::Ace14, kGeneral2010}, std::pair{FileFormat::Ace17, kGeneral2010}}) {
        const auto f = dir.file("new" + std::to_string(int(fmt)) + (fmt == FileFormat::Jet4 ? ".mdb" : ".accdb"));
        Database::create(f, "", fmt)->close();
        targets.push_back({f, order});
    }
    const std::vector<std::string> names = {"表格数据",
                                            "Таблица заказов",
                                            "Ωmega",
                                            "Straße",
                                            "Œuvres d'art",
                                            "Café-Bar",
                                            "Émigré",
                                            "日本語のテーブル",
                                            "Ärger",
                                            "zzz",
                                            "AAA",
                                            "Ελληνικά",
                                            "emoji \xF0\x9F\x98\x80",
                                            "Zeta",
                                            "ёлка"};
    for (const Target& t : targets) {
        SCOPED_TRACE(t.file);
        {
            auto db = Database::open(t.file, "", false);
            for (const auto& n : names) db->createTable(n, {test::storage::column("x", ColType::Text, 20)});
            for (const auto& n : names) db->insertRow(n, {Value(n)});
            db->dropTable("Zeta");
            db->close();
        }
        auto db = Database::open(t.file, "", true);
        for (const auto& n : names) EXPECT_EQ(db->findTable(n), n == "Zeta" ? "" : n);
        const IndexKeyReport r = compareIndexKeys(*db);
        for (const auto& p : r.problems) ADD_FAILURE() << p;
        EXPECT_GE(r.nonAsciiEntries, 12u);  // the catalog index on (parent, name)
        EXPECT_EQ(r.orders, std::vector<SortOrder>{t.order}) << orderList(r.orders);
        db->close();
        const std::string diff = test::storage::compareWithReader(t.file);
        EXPECT_EQ(diff, "");
        if (test::mdbtoolsAvailable()) {
            auto m = test::mdbtoolsDump(t.file);
            EXPECT_EQ(m.exitCode, 0) << m.err;
            EXPECT_NE(m.out.find("Таблица заказов"), std::string::npos);
        }
    }
}

}  // namespace
