// Keys in Access 97 (Jet 3) files. Every indexed table of the Access 97
// corpus is copied, row by row, into a copy of its own file, and given the
// indexes, primary keys and relationships Access 97 gave the original: the
// definitions (real and logical index blocks, names, flags, relationship
// sides and cascades) and every leaf key of the new trees must be the ones
// Access 97 wrote, the file must pass the check, and mdbtools must list the
// keys. Then the statements that break a key are refused on Access 97 files
// as on later ones.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "db/ado.h"
#include "db/error.h"
#include "db/jet/database.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
using namespace tp::db::jet;
namespace fs = std::filesystem;
using test::storage::le16;
using test::storage::le32;

namespace {

constexpr size_t kPage = 2048;

// One logical index of a Jet 3 definition, with its real index.
struct Index3 {
    std::string name;
    std::vector<std::pair<std::string, bool>> columns;  // name, ascending
    uint8_t flags = 0;
    uint32_t root = 0;
    uint8_t kind = 0, relSide = 0, cascadeUpdate = 0, cascadeDelete = 0;
    std::string describe() const {
        std::string s = std::to_string(kind) + "/" + std::to_string(relSide) + "/" + std::to_string(cascadeUpdate) +
                        std::to_string(cascadeDelete) + " flags " + std::to_string(flags) + ":";
        for (const auto& [c, asc] : columns) s += " " + c + (asc ? "" : " DESC");
        return s;
    }
};

// The logical indexes of the table whose definition starts at `page`.
std::vector<Index3> indexes3(const std::string& f, uint32_t page) {
    if (page == 0 || (page + 1) * kPage > f.size() || f[page * kPage] != 0x02) {
        ADD_FAILURE() << "no table definition at page " << page;
        return {};
    }
    std::string s;
    for (uint32_t p = page; p != 0 && (p + 1) * kPage <= f.size(); p = le32(f, p * kPage + 4))
        s += s.empty() ? f.substr(p * kPage, kPage) : f.substr(p * kPage + 8, kPage - 8);
    const uint16_t numCols = le16(s, 0x19);
    const uint32_t numLogical = le32(s, 0x1B), numReal = le32(s, 0x1F);
    size_t pos = 0x2B + 8 * size_t(numReal);
    std::map<uint16_t, std::string> names;
    std::vector<uint16_t> numbers;
    for (int i = 0; i < numCols; ++i, pos += 18) numbers.push_back(le16(s, pos + 1));
    for (int i = 0; i < numCols; ++i, pos += 1 + uint8_t(s[pos]))
        names[numbers[size_t(i)]] = s.substr(pos + 1, uint8_t(s[pos]));
    std::vector<Index3> reals(numReal);
    for (uint32_t i = 0; i < numReal; ++i, pos += 39) {
        for (size_t k = 0; k < 10; ++k)
            if (const uint16_t n = le16(s, pos + 3 * k); n != 0xFFFF)
                reals[i].columns.emplace_back(names[n], s[pos + 3 * k + 2] & 1);
        reals[i].root = le32(s, pos + 34);
        reals[i].flags = uint8_t(s[pos + 38]);
    }
    std::vector<Index3> out;
    for (uint32_t i = 0; i < numLogical; ++i, pos += 20) {
        Index3 x = reals.at(le32(s, pos + 4));
        x.relSide = uint8_t(s[pos + 8]);
        x.cascadeUpdate = uint8_t(s[pos + 17]);
        x.cascadeDelete = uint8_t(s[pos + 18]);
        x.kind = uint8_t(s[pos + 19]);
        out.push_back(x);
    }
    for (Index3& x : out) {
        x.name = s.substr(pos + 1, uint8_t(s[pos]));
        pos += 1 + uint8_t(s[pos]);
    }
    return out;
}

// The keys of an index's leaves, left to right (row references left out).
std::vector<std::string> leafKeys(const std::string& f, uint32_t root) {
    auto entries = [&](uint32_t p) {
        const std::string pg = f.substr(p * kPage, kPage);
        std::vector<std::string> out;
        const size_t prefix = uint8_t(pg[0x14]);
        size_t start = 0;
        for (size_t bit = 0; bit < 226 * 8 && 0xF8 + bit <= kPage; ++bit) {
            if (!((uint8_t(pg[0x16 + bit / 8]) >> (bit % 8)) & 1)) continue;
            std::string e = pg.substr(0xF8 + start, bit - start);
            out.push_back(out.empty() ? e : out.front().substr(0, prefix) + e);
            start = bit;
        }
        return out;
    };
    uint32_t p = root;
    for (int depth = 0; f[p * kPage] == 0x03 && depth < 8; ++depth) {
        const auto e = entries(p);
        if (e.empty()) return {"empty node"};
        const std::string& first = e.front();
        p = uint32_t(uint8_t(first[first.size() - 4])) << 24 | uint32_t(uint8_t(first[first.size() - 3])) << 16 |
            uint32_t(uint8_t(first[first.size() - 2])) << 8 | uint8_t(first.back());
    }
    std::vector<std::string> keys;
    for (int n = 0; p != 0 && n < 10000; ++n, p = le32(f, p * kPage + 0x0C))
        for (const std::string& e : entries(p)) keys.push_back(e.substr(0, e.size() - 4));
    return keys;
}

// The copy of a table: its columns (no AutoNumber, so that the values are
// kept), then its rows, but those with text the engine reads as U+FFFD (a
// byte code page 1252 leaves undefined, which Access 97 keys as the C1
// control of that number); how many were left out, or -1 when a row cannot
// be stored.
int copyTable(Database& db, const std::string& from, const std::string& to) {
    auto cols = db.columns(from);
    for (ColumnDef& c : cols) c.autoNumber = false;
    db.createTable(to, cols);
    auto cur = db.scan(from);
    std::vector<Value> row;
    int left = 0;
    try {
        while (cur->next(row)) {
            if (std::any_of(row.begin(), row.end(), [](const Value& v) {
                    return v.kind() == Kind::Text && v.text().find("\xEF\xBF\xBD") != std::string::npos;
                })) {
                ++left;
                continue;
            }
            db.insertRow(to, row);
        }
    } catch (const db::Error& e) {
        std::printf("%s not copied: %s\n", from.c_str(), e.what());
        return -1;
    }
    return left;
}

// Our keys against Access 97's, where `left` rows were not copied: ours are
// theirs without as many entries.
bool keysWithout(const std::vector<std::string>& ours, const std::vector<std::string>& theirs, size_t left) {
    if (ours.size() + left != theirs.size()) return false;
    size_t k = 0;
    for (const std::string& key : theirs)
        if (k < ours.size() && ours[k] == key) ++k;
    return k == ours.size();
}

std::string copyName(const std::string& name) { return name + " k"; }

// The first definition page of a table (its catalog row of type 1: forms
// and reports may share its name).
uint32_t tablePage(Database& db, const std::string& name) {
    const auto cols = db.columns("MSysObjects");
    auto at = [&](const char* n) {
        return size_t(std::find_if(cols.begin(), cols.end(), [&](const ColumnDef& c) { return c.name == n; }) -
                      cols.begin());
    };
    const size_t id = at("Id"), type = at("Type"), named = at("Name");
    auto cur = db.scan("MSysObjects");
    std::vector<Value> row;
    while (cur->next(row))
        if (row[named] == Value(name) && row[type].integer() == 1) return uint32_t(row[id].integer());
    return 0;
}

// Whether the index has a Date/Time column.
bool datesIn(Database& db, const std::string& table, const Index3& x) {
    for (const ColumnDef& c : db.columns(table))
        for (const auto& [name, asc] : x.columns)
            if (c.name == name && c.type == ColType::DateTime) return true;
    return false;
}

// The keys of the copy against Access 97's. A date read from the original
// keeps its whole seconds only, so its double may come back one unit in the
// last place away: with dates, keys may differ by 1 in one byte.
bool sameKeys(const std::vector<std::string>& ours, const std::vector<std::string>& theirs, bool dates) {
    if (ours.size() != theirs.size()) return false;
    for (size_t i = 0; i < ours.size(); ++i) {
        if (ours[i] == theirs[i]) continue;
        if (!dates || ours[i].size() != theirs[i].size()) return false;
        size_t differ = 0;
        for (size_t k = 0; k < ours[i].size(); ++k)
            if (ours[i][k] != theirs[i][k]) {
                const int d = uint8_t(ours[i][k]) - uint8_t(theirs[i][k]);
                differ += d == 1 || d == -1 ? 1 : 2;
            }
        if (differ != 1) return false;
    }
    return true;
}

// The indexes and primary key of the original as statements on the copy
// (foreign-key indexes come with the relationships).
void copyIndexes(Database& db, const std::string& table, const std::vector<Index3>& original) {
    for (const Index3& x : original) {
        if (x.kind == 2) continue;
        IndexDef d;
        d.name = x.name;
        d.table = copyName(table);
        for (const auto& [c, asc] : x.columns) d.columns.push_back({c, !asc});
        d.primary = x.kind == 1;
        d.unique = (x.flags & 0x01) && !d.primary;
        d.disallowNull = (x.flags & 0x08) && !d.primary;
        d.ignoreNull = x.flags & 0x02;
        db.createIndex(d);
    }
}

const char* const kFiles[] = {
    "access/jackcess-V1997/testV1997.mdb",
    "access/jackcess-V1997/testIndexCodesV1997.mdb",
    "access/mdbtestdata/nwind.mdb",
};

}  // namespace

TEST(Jet3Keys, CopiedTablesGetTheIndexesAndKeysAccess97Wrote) {
    size_t compared = 0, keys = 0, relationships = 0, partial = 0;
    for (const char* source : kFiles) {
        SCOPED_TRACE(source);
        const auto src = test::corpusPath(source).string();
        if (!fs::exists(src)) GTEST_SKIP() << "corpus file missing";
        test::TempDir dir;
        const auto file = dir.file("copy.mdb");
        fs::copy_file(src, file);
        const std::string before = test::readFile(src);
        std::map<std::string, std::vector<Index3>> original;  // indexed user tables that could be copied
        std::map<std::string, int> leftOut;                   // their rows not copied
        {
            auto db = Database::open(file, "", false);
            for (const auto& t : db->listTables()) {
                if (t.kind != TableKind::User) continue;
                auto ix = indexes3(before, tablePage(*db, t.name));
                if (ix.empty()) continue;
                const int left = copyTable(*db, t.name, copyName(t.name));
                if (left < 0) continue;
                original[t.name] = ix;
                leftOut[t.name] = left;
                partial += left > 0;
            }
            for (const auto& [table, ix] : original) copyIndexes(*db, table, ix);
            for (RelationshipDef r : db->relationships()) {
                if (!original.count(r.table) || !original.count(r.referenced)) continue;
                r.name = copyName(r.name);
                r.table = copyName(r.table);
                r.referenced = copyName(r.referenced);
                db->addRelationship(r);
                ++relationships;
            }
            db->close();
        }
        const std::string after = test::readFile(file);
        auto db = Database::open(file, "", true);
        for (const auto& [table, ix] : original) {
            SCOPED_TRACE(table);
            const auto made = indexes3(after, tablePage(*db, copyName(table)));
            for (const Index3& x : ix) {
                const std::string name = x.kind == 2 && x.relSide == 2 ? copyName(x.name) : x.name;
                auto it = std::find_if(made.begin(), made.end(), [&](const Index3& m) { return m.name == name; });
                if (x.kind == 2 && x.relSide == 1) continue;  // the one side's index: its name is the file's choice
                std::string have;
                for (const Index3& m : made) have += " [" + m.name + "]";
                ASSERT_NE(it, made.end()) << name << " among" << have;
                EXPECT_EQ(it->describe(), x.describe()) << name;
                const auto theirs = leafKeys(before, x.root), ours = leafKeys(after, it->root);
                if (leftOut[table] == 0) EXPECT_TRUE(sameKeys(ours, theirs, datesIn(*db, table, x))) << name;
                else EXPECT_TRUE(keysWithout(ours, theirs, size_t(leftOut[table]))) << name;
                keys += ours.size();
                ++compared;
            }
            // As many one-side indexes as Access made.
            auto oneSides = [](const std::vector<Index3>& v) {
                return std::count_if(v.begin(), v.end(), [](const Index3& m) { return m.kind == 2 && m.relSide == 1; });
            };
            EXPECT_EQ(oneSides(made), oneSides(ix));
        }
        db->close();
        test::expectAccessFileSound(file);
        if (test::mdbtoolsAvailable()) {
            // mdbtools lists the copies' keys and relationships as those of
            // the originals.
            const auto schema = test::runCommand({"mdb-schema", "--indexes", "--relations", file, "mysql"});
            std::vector<std::string> theirs, ours;
            std::istringstream lines(schema.out);
            for (std::string line; std::getline(lines, line);) {
                if (line.rfind("ALTER TABLE `", 0) != 0) continue;
                const std::string table = line.substr(13, line.find('`', 13) - 13);
                if (original.count(table)) theirs.push_back(line);
                if (table.size() < 2 || table.substr(table.size() - 2) != " k") continue;
                for (const char* mark : {" k`", " k_"})
                    for (size_t at = line.find(mark); at != std::string::npos; at = line.find(mark, at))
                        line.erase(at, 2);
                ours.push_back(line);
            }
            std::sort(theirs.begin(), theirs.end());
            std::sort(ours.begin(), ours.end());
            EXPECT_EQ(ours, theirs);
            EXPECT_GE(ours.size(), original.size());
        }
        // (dates before 1900 in earlier tables read differently: jet3_read_test)
        std::istringstream diff(test::storage::compareWithReader(file));
        for (std::string line; std::getline(diff, line);)
            if (line.find("\"1899-") == std::string::npos) ADD_FAILURE() << line;
    }
    EXPECT_GE(compared, 60u);
    EXPECT_GE(keys, 10000u);
    EXPECT_EQ(relationships, 7u);
    EXPECT_LE(partial, 4u);
    std::printf("%zu indexes, %zu leaf keys, %zu relationships as Access 97 wrote them (%zu tables in part)\n",
                compared, keys, relationships, partial);
}

// UPDATE, DELETE and INSERT in a copy of Access 97's Northwind keep its own
// primary keys, unique indexes and enforced relationships: what would break
// them is refused with Access's number, the rest is written, and the file's
// indexes then pass the check.
TEST(Jet3Keys, ChangedRowsKeepAccess97sKeysAndRelationships) {
    const auto src = test::corpusPath("access/mdbtestdata/nwind.mdb");
    if (!fs::exists(src)) GTEST_SKIP() << "corpus file missing";
    test::TempDir dir;
    const std::string file = dir.file("nwind.mdb");
    fs::copy_file(src, file);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    registerBuiltinProviders();
    Connection c;
    c.Mode = adModeReadWrite;
    c.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file);
    auto errorOf = [&](const std::string& sql) -> long {
        try {
            c.Execute(sql);
        } catch (const db::Error& e) {
            return e.number();
        }
        return 0;
    };
    auto run = [&](const std::string& sql) {
        long n = -1;
        c.Execute(sql, &n);
        return n;
    };
    auto count = [&](const std::string& sql) {
        auto rs = c.Execute(sql);
        return rs->row().at(0).integer();
    };
    EXPECT_EQ(errorOf("DELETE FROM Categories WHERE CategoryID = 1"), 3200);
    EXPECT_EQ(errorOf("UPDATE Products SET CategoryID = 99 WHERE ProductID = 1"), 3201);
    EXPECT_EQ(errorOf("UPDATE Categories SET CategoryName = 'beverages' WHERE CategoryID = 2"), 3022);
    EXPECT_EQ(errorOf("INSERT INTO [Order Details] (OrderID, ProductID, UnitPrice, Quantity, Discount) "
                      "VALUES (10248, 11, 1, 1, 0)"),
              3022);
    const long beverages = long(count("SELECT COUNT(*) FROM Products WHERE CategoryID = 1"));
    EXPECT_GT(beverages, 0);
    EXPECT_EQ(run("UPDATE Products SET UnitPrice = UnitPrice * 2, ProductName = UCase(ProductName) & ' ä' "
                  "WHERE CategoryID = 1"),
              beverages);
    const long details = long(count("SELECT COUNT(*) FROM [Order Details] WHERE OrderID = 10248"));
    EXPECT_EQ(run("DELETE FROM [Order Details] WHERE OrderID = 10248"), details);
    EXPECT_EQ(run("INSERT INTO [Order Details] (OrderID, ProductID, UnitPrice, Quantity, Discount) "
                  "VALUES (10248, 11, 14, 12, 0)"),
              1);
    EXPECT_EQ(run("INSERT INTO Shippers (CompanyName) VALUES ('Schnell & Söhne')"), 1);
    EXPECT_EQ(run("DELETE FROM Orders WHERE OrderID = 10248 AND 1 = 0"), 0);
    c.Close();
    test::expectAccessFileSound(file);
    std::istringstream diff(test::storage::compareWithReader(file));
    for (std::string line; std::getline(diff, line);)
        if (line.find("\"1899-") == std::string::npos) ADD_FAILURE() << line;
}
