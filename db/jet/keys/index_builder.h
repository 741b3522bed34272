// Writes the tree of one index from its table's rows: collect the entries,
// sort them (in memory, or in runs merged from temporary files), write the
// leaves as the sorted entries stream past, write the node levels above
// them, and hand out the pages (the index's own pages first, the root staying where it is).
// Private to db/jet.
#pragma once

#include <cstdint>
#include <deque>
#include <unordered_map>
#include <utility>
#include <vector>

#include "db/jet/storage/index_sort.h"
#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

class IndexBuilder {
public:
    using Entry = std::vector<uint8_t>;
    // `moved`: rows moved by an update (their new place -> the slot that
    // points to it; entries name the slot).
    IndexBuilder(JetDatabase& db, StoredTable& t, const std::unordered_map<uint32_t, uint32_t>& moved)
        : db_(db), t_(t), moved_(moved) {}

    // Rewrites the index's pages, usage map and count of distinct keys.
    void rebuild(StoredIndex& ix) { build(ix, false); }
    // The same for a new index; `enforce`: the rows must fit it (no two
    // keys alike in a unique index, no null in a required one), else the
    // engine's error is thrown before a page is written.
    void build(StoredIndex& ix, bool enforce);

    // The rows moved by an update in table `t` (see the constructor).
    static std::unordered_map<uint32_t, uint32_t> movedRows(JetDatabase& db, const StoredTable& t);

private:
    // A node page being made: its entries, the greatest leaf entry below it,
    // and the last child; of a leaf, its page and greatest entry only.
    struct Node {
        uint32_t page = 0;
        std::vector<const Entry*> items;
        Entry last;
        uint32_t tail = 0;
    };
    // A page's entries, one after the other, and where each ends.
    struct PageBody {
        std::vector<uint8_t> bytes;
        std::vector<uint16_t> ends;
        void clear() {
            bytes.clear();
            ends.clear();
        }
        void add(const uint8_t* p, size_t n) {
            bytes.insert(bytes.end(), p, p + n);
            ends.push_back(uint16_t(bytes.size()));
        }
    };

    bool positions(const StoredIndex& ix, std::vector<size_t>& pos) const;
    void enforce(const StoredIndex& ix, const std::vector<size_t>& pos, EntrySorter& sorted) const;
    void collect(const StoredIndex& ix, const std::vector<size_t>& pos, EntrySorter& out);
    void addEntry(const StoredIndex& ix, const std::vector<size_t>& pos, uint32_t ref, const std::vector<Value>& v,
                  EntrySorter& out);
    std::vector<Node> writeLeaves(const StoredIndex& ix, EntrySorter& sorted);
    // Returns the parents of `level` (their entries kept in nodeEntries_);
    // a node level's pages are given their numbers and written.
    std::vector<Node> writeLevel(std::vector<Node>& level, bool leaves);
    std::vector<std::vector<size_t>> groupUnderParents(const std::vector<Node>& level);
    void writePage(uint32_t page, uint8_t type, const PageBody& b, uint32_t tail, uint32_t prev, uint32_t next);
    void writeNode(const Node& n, uint32_t page, uint32_t prev, uint32_t next);
    void poolPages(const StoredIndex& ix);
    uint32_t takePage();
    void settleMap(const StoredIndex& ix);

    JetDatabase& db_;
    StoredTable& t_;
    const std::unordered_map<uint32_t, uint32_t>& moved_;
    std::vector<uint32_t> old_;   // the index's pages before
    std::vector<uint32_t> pool_;  // of those, the ones to use again (last first)
    std::vector<uint32_t> used_;  // pages of the new tree
    std::deque<Entry> nodeEntries_;
    bool sawNull_ = false;  // a row with a null indexed value
    SortOrder order_{};
    Entry key_;   // the entry being made
    Entry last_;  // the last entry written
    PageBody body_;
    uint32_t distinct_ = 0;
    uint32_t rows_ = 0;  // rows of the table (Access 97 keeps their count with the index)
};

}  // namespace tp::db::jet
