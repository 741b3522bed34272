// The integrity check's walker, shared by check.cpp and check_indexes.cpp.
// Private to db/jet. The file is read as it is,
// never written: pages are streamed through the pager's bounded cache, and
// what is kept per page is a claim number and a few bits.
//
// Every page must have one owner: the header, the global map, a table
// (definition and data pages), one index of a table, the long values of a
// table's column, or the usage maps. A page the global map marks in use must
// have an owner; a page with an owner must not be marked free. Index entries
// and rows are compared as multisets through two 64-bit fingerprints per
// index; only when they differ are entries looked up one by one to say which.

#pragma once

#include <functional>
#include <set>
#include <unordered_set>

#include "db/jet/check/check.h"
#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

class Checker {
public:
    Checker(JetDatabase& db, size_t maxProblems) : db_(db), pg_(db.pager()), max_(maxProblems ? maxProblems : 1) {}

    CheckReport run(const std::string& path);
    // Every index entry's key against the key recomputed from its row.
    IndexKeyReport compareKeys();

private:
    struct Fingerprint {
        uint64_t count = 0, a = 0, b = 0;
        bool operator==(const Fingerprint& o) const { return count == o.count && a == o.a && b == o.b; }
    };
    struct IndexState {
        bool usable = false;      // columns found
        std::string unverified;   // why its keys cannot be recomputed (empty: they can)
        bool otherOrder = false;  // ... because of a sort order we cannot compute
        bool text = false;        // it has a text column
        std::vector<size_t> pos;  // column positions
        uint32_t owner = 0;
        Fingerprint rows, entries;
        bool keyed() const { return unverified.empty(); }
    };
    struct TableRun {
        std::string name;
        uint32_t owner = 0;
        StoredTable t;
        std::vector<IndexState> ix;
        std::vector<uint32_t> lvOwner;                 // by column position (0: none)
        std::vector<bool> needValue;                   // by column position: indexed
        std::unordered_map<uint32_t, uint32_t> moved;  // overflow target -> pointer slot
        std::set<size_t> undecoded;                    // columns whose values are not decoded
    };

    // Problems and warnings (see check.h).
    bool full() const { return problems_.size() >= max_; }
    void problem(std::string line) {
        if (problems_.size() < max_) problems_.push_back(std::move(line));
        else ++dropped_;
    }
    void warning(std::string line) {
        if (warnings_.size() < max_) warnings_.push_back(std::move(line));
    }
    static std::string what(const std::exception& e) {
        // The engine's "The database '...' is damaged: x." reads as "x".
        std::string s = e.what();
        const size_t at = s.find("' is damaged: ");
        if (at != std::string::npos && s.rfind("The database '", 0) == 0) {
            s = s.substr(at + 14);
            if (!s.empty() && s.back() == '.') s.pop_back();
        }
        return s;
    }
    static std::string pageText(uint32_t p) { return "page " + std::to_string(p); }
    static std::string refText(uint32_t ref) { return std::to_string(ref >> 8) + ":" + std::to_string(ref & 0xFF); }
    static std::string hex(const uint8_t* p, size_t n) {
        static const char* d = "0123456789ABCDEF";
        std::string s;
        for (size_t i = 0; i < n && i < 40; ++i) {
            if (i) s.push_back(' ');
            s.push_back(d[p[i] >> 4]);
            s.push_back(d[p[i] & 15]);
        }
        if (n > 40) s += " ...";
        return s;
    }

    // Owners and claims.
    uint32_t newOwner(std::string name) {
        owners_.push_back(std::move(name));
        return uint32_t(owners_.size() - 1);
    }
    bool claim(uint32_t page, uint32_t who) {
        if (page >= pages_) {
            problem(owners_[who] + ": " + pageText(page) + " lies beyond the end of the file");
            return false;
        }
        if (claim_[page] == who) return true;
        if (claim_[page] != 0) {
            problem(pageText(page) + ": claimed by both " + owners_[claim_[page]] + " and " + owners_[who]);
            return false;
        }
        claim_[page] = who;
        return true;
    }
    // The pages of a usage map (the page holding its row is claimed for the
    // usage maps, its bitmap pages for `who`); false when it cannot be read.
    bool mapPages(uint32_t ref, uint32_t who, const std::string& object, std::vector<uint32_t>& out) {
        out.clear();
        if (ref == 0) return true;  // no map (Access leaves some free-space maps out)
        try {
            const uint32_t page = ref >> 8;
            if (page == 0 || page >= pages_) {
                problem(object + ": its usage map " + refText(ref) + " lies outside the file");
                return false;
            }
            const uint8_t* p = pg_.read(page);
            if (!isPage(p, PageType::Data) || decodeLE32(p + page::kOwner) != 0)
                problem(object + ", " + pageText(page) + ": holds its usage map but is not a usage-map page");
            claim(page, mapsOwner_);
            std::vector<uint32_t> bitmaps;
            uint32_t pastEnd = 0;
            out = db_.mapPages(ref, &bitmaps, &pastEnd);
            if (pastEnd != 0)
                problem(object + ": its usage map marks " + pageText(pastEnd) + ", past the end of the file (" +
                        std::to_string(pages_) + " pages)");
            for (uint32_t b : bitmaps)
                if (claim(b, who)) bitmapPage_[b] = true;
            return true;
        } catch (const Error& e) {
            problem(object + ": usage map " + refText(ref) + ": " + what(e));
            return false;
        }
    }

    void checkHeader(const std::string& path);
    void loadGlobalMap();
    void loadGlobalBitmap(uint32_t page, uint64_t first);
    void checkCatalog();
    void checkTable(uint32_t page, const std::string& name);
    bool claimDataPages(TableRun& r, const std::string& object);
    void claimLongValuePages(TableRun& r, const LongValueMaps& m, std::unordered_map<uint32_t, uint32_t>& lvByMap);
    void claimIndexPages(TableRun& r, size_t i);
    // What the column definitions use, gathered column by column.
    struct ColumnTally {
        std::set<int> numbers, varIndexes;
        int varCount = 0;
        std::vector<std::pair<int, int>> fixedAreas;
    };
    void checkDefinition(TableRun& r);
    // The table's property list (check_properties.cpp): well formed, each
    // column map once and for a column of the table, its rules ones the
    // engine enforces.
    void checkProperties(const StoredTable& t);
    void checkPropertyMaps(const StoredTable& t, const PropertyList& l, const std::string& object);
    void checkColumnDefinition(const StoredTable& t, const StoredColumn& c, const std::string& object,
                               ColumnTally& tally);
    void checkDefinitionLength(const TableRun& r);
    // Index states of a loaded table: owners, column positions, whether keys
    // can be recomputed; false when the table has none usable.
    void setupIndexes(TableRun& r, bool report);
    void setupIndexColumn(TableRun& r, IndexState& s, size_t k);
    // A column's value as its index keys see it (the stored double of a date,
    // Access 97 text with its five undefined code page 1252 bytes kept).
    Value keyValue(const StoredTable& t, const StoredColumn& c, const uint8_t* p, size_t len);
    // The values of the row a leaf entry points to (through a forwarding
    // pointer), only the indexed columns read; false (said) when it has none.
    bool entryRow(TableRun& r, uint32_t ptr, const std::function<void(const std::string&)>& say, std::vector<Value>& v);
    void indexValues(TableRun& r, const uint8_t* row, size_t n, std::vector<Value>& v);
    // Calls fn for every live row with the pointer its index entries use
    // (the forwarding slot for a row moved by an update); returns the count.
    using RowFn = std::function<void(uint32_t ref, uint32_t indexRef, const uint8_t* row, size_t n)>;
    uint32_t scanRows(TableRun& r, bool report, const RowFn& fn);
    struct RowScan {
        TableRun& r;
        bool report;
        const RowFn& fn;
        std::vector<uint8_t> buf;       // the page being read
        std::vector<RowSpan> rows;      // its rows
        std::vector<uint32_t> targets;  // rows moved by an update, handed out last
        uint32_t count;
    };
    void scanPage(RowScan& scan, uint32_t page);
    void scanMovedRow(RowScan& scan, uint32_t ref);
    void checkRow(TableRun& r, uint32_t ref, uint32_t indexRef, const uint8_t* row, size_t n);
    Value checkedValue(TableRun& r, uint32_t ref, const StoredColumn& c, const uint8_t* p, size_t len);
    void checkLength(const TableRun& r, uint32_t ref, const StoredColumn& c, const uint8_t* p, size_t len,
                     const Value& v);
    void checkLongValue(TableRun& r, size_t column, uint32_t ref, const uint8_t* p, size_t n);
    // The chain of a long value stored on long-value pages.
    struct LongValueWalk {
        TableRun& r;
        size_t k;
        uint32_t ref;
        std::vector<uint32_t> chain;
    };
    bool longValueRow(LongValueWalk& w, uint32_t at, std::pair<const uint8_t*, size_t>& q);
    void longValueProblem(const TableRun& r, size_t k, uint32_t ref, uint32_t page, const std::string& what);
    bool rowKey(TableRun& r, size_t i, const std::vector<Value>& v, std::vector<uint8_t>& key, uint32_t ref);
    void checkIndex(TableRun& r, size_t i);
    using LeafFn = std::function<void(uint32_t page, const uint8_t* key, size_t keyLen, uint32_t ptr)>;
    // An index walk's state, passed to each of its steps: where the leaf
    // chain stands and the entry before the current one.
    struct IndexWalk {
        TableRun& r;
        const StoredIndex& ix;
        const std::string& object;
        uint32_t owner;
        bool diagnose;  // only hand out the leaf entries, say nothing
        const LeafFn& leaf;
        const IndexPageLayout& layout;
        std::vector<bool> visited;
        uint32_t prevLeaf = 0, expectNext = 0;
        bool anyLeaf = false;
        std::vector<uint8_t> prevEntry;
    };
    // Calls leaf for every leaf entry of index i in order, checking the tree
    // as it goes (unless diagnose).
    void walkIndex(TableRun& r, size_t i, bool diagnose, const LeafFn& leaf);
    void say(const IndexWalk& w, uint32_t page, const std::string& what);
    // Each returns false when the walk cannot go on below the page.
    bool visitIndexPage(IndexWalk& w, uint32_t page, int depth, std::vector<uint8_t>& last);
    bool enterIndexPage(IndexWalk& w, uint32_t page, int depth, std::vector<uint8_t>& buf);
    std::vector<std::pair<size_t, size_t>> entrySpans(const IndexWalk& w, const std::vector<uint8_t>& buf) const;
    bool entryAt(const IndexWalk& w, uint32_t page, const std::vector<uint8_t>& buf,
                 const std::vector<std::pair<size_t, size_t>>& spans, size_t e, size_t prefix,
                 std::vector<uint8_t>& first, std::vector<uint8_t>& entry);
    void leafEntry(IndexWalk& w, uint32_t page, const std::vector<uint8_t>& entry);
    void leafOrder(const IndexWalk& w, uint32_t page, const std::vector<uint8_t>& entry);
    bool nodeEntry(IndexWalk& w, uint32_t page, int depth, const std::vector<uint8_t>& entry,
                   std::vector<uint8_t>& last);
    void leafChain(IndexWalk& w, uint32_t page, const std::vector<uint8_t>& buf);
    bool nodeTail(IndexWalk& w, uint32_t page, int depth, const std::vector<uint8_t>& buf, bool empty,
                  std::vector<uint8_t>& last);
    void diagnoseIndex(TableRun& r, size_t i);
    // The key comparison of compareKeys, by table and by index.
    void compareTableKeys(const CatalogEntry& ce, IndexKeyReport& rep);
    void compareIndexKeys(TableRun& r, size_t i, const std::string& where, IndexKeyReport& rep);
    static std::string shownValues(const IndexState& s, const std::vector<Value>& v, bool& nonAscii);
    void checkPages();
    void checkUnownedPage(uint32_t page);
    // Logical indexes, foreign keys and relationships (check_keys.cpp).
    void checkKeys(const std::vector<std::pair<uint32_t, std::string>>& tables);
    void checkLogical(const StoredTable& t, const std::unordered_map<uint32_t, StoredTable>& all);
    void checkForeignKey(const StoredTable& t, const LogicalIndex& l,
                         const std::unordered_map<uint32_t, StoredTable>& all, const std::string& what);
    void checkReferences(const StoredTable& many, const LogicalIndex& l, const StoredTable& one,
                         const LogicalIndex& partner);
    static void add(Fingerprint& f, const uint8_t* p, size_t n);

    JetDatabase& db_;
    Pager& pg_;
    size_t max_;
    std::vector<std::string> problems_, warnings_, notes_;
    size_t dropped_ = 0;
    bool claimsKnown_ = false;  // page owners are known (a whole check)
    uint32_t pages_ = 0;
    uint32_t ps_ = kPageSize;
    std::vector<std::string> owners_;
    std::vector<uint32_t> claim_;      // by page: owner number, 0 = none
    std::vector<bool> free_;           // by page: free in the global map
    std::vector<bool> seenIndexPage_;  // by page: reached by an index walk
    std::vector<bool> bitmapPage_;     // by page: a bitmap page of a reference map
    std::vector<bool> lvRow_;          // by page * 256 + row: long-value row in use
    uint32_t mapsOwner_ = 0;
    std::unordered_set<uint32_t> indexOwners_;         // indexes whose tree was walked
    std::unordered_map<uint32_t, std::string> tdefs_;  // table definitions of the catalog
    std::vector<Value> vals_;
    std::vector<uint8_t> key_;
};

}  // namespace tp::db::jet
