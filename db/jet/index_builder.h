// Writes the tree of one index from its table's rows: collect the entries,
// sort them, write the leaves, write the node levels above them, and hand
// out the pages (the index's own pages first, the root staying where it is).
// Private to db/jet.
#pragma once

#include <cstdint>
#include <deque>
#include <unordered_map>
#include <utility>
#include <vector>

#include "db/jet/jet_database.h"

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
    // One page being written: its entries, the greatest leaf entry below it,
    // and (node pages) the last child.
    struct Node {
        uint32_t page = 0;
        std::vector<const Entry*> items;
        Entry last;
        uint32_t tail = 0;
    };

    bool positions(const StoredIndex& ix, std::vector<size_t>& pos) const;
    void enforce(const StoredIndex& ix, const std::vector<size_t>& pos, const std::vector<Entry>& sorted) const;
    std::vector<Entry> collect(const StoredIndex& ix, const std::vector<size_t>& pos);
    static std::vector<Node> packLeaves(const std::vector<Entry>& entries);
    // Gives every page of `level` a page number and writes it; returns the
    // parents' level (their entries kept in nodeEntries_).
    std::vector<Node> writeLevel(std::vector<Node>& level, uint8_t type);
    std::vector<std::vector<size_t>> groupUnderParents(const std::vector<Node>& level);
    static std::pair<uint32_t, uint32_t> siblings(const std::vector<Node>& level, const std::vector<size_t>& g,
                                                  size_t q, bool leaves);
    void writePage(uint32_t page, uint8_t type, const Node& n, uint32_t prev, uint32_t next);
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
};

}  // namespace tp::db::jet
