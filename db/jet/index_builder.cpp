// The index builder (see index_builder.h).
#include "db/jet/index_builder.h"

#include <algorithm>
#include <cstring>

namespace tp::db::jet {

namespace {

constexpr const IndexPageLayout& kLayout = kIndexPage4;

bool entryLess(const IndexBuilder::Entry& a, const IndexBuilder::Entry& b) {
    const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    return c != 0 ? c < 0 : a.size() < b.size();
}

// Distinct keys among sorted entries (the last four bytes of each name its row).
uint32_t distinctKeys(const std::vector<IndexBuilder::Entry>& entries) {
    uint32_t distinct = 0;
    for (size_t i = 0; i < entries.size(); ++i)
        if (i == 0 || entries[i].size() != entries[i - 1].size() ||
            std::memcmp(entries[i].data(), entries[i - 1].data(), entries[i].size() - 4) != 0)
            ++distinct;
    return distinct;
}

void appendBigEndian(IndexBuilder::Entry& e, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) e.push_back(uint8_t(v >> s));
}

}  // namespace

std::unordered_map<uint32_t, uint32_t> IndexBuilder::movedRows(JetDatabase& db, const StoredTable& t) {
    std::unordered_map<uint32_t, uint32_t> moved;
    for (uint32_t pg : db.mapPages(t.ownedMap)) {
        const uint8_t* p = db.pager().read(pg);
        if (!db.dataPageOf(t, p)) continue;
        const uint32_t count = std::min<uint32_t>(rd16(p + datapage::kRowCount), (kPageSize - 14) / 2);
        for (uint32_t r = 0; r < count; ++r) {
            const uint16_t raw = rd16(p + datapage::kRowCount + 2 + 2 * r);
            if ((raw & 0xC000) != datapage::kRowOverflow) continue;
            const uint32_t start = raw & datapage::kRowOffsetMask;
            if (start + 4 <= kPageSize) moved[rd32(p + start)] = (pg << 8) | r;
        }
    }
    return moved;
}

// The positions of the index's columns; false when the table lacks one.
bool IndexBuilder::positions(const StoredIndex& ix, std::vector<size_t>& pos) const {
    for (int cn : ix.columns) {
        size_t k = 0;
        while (k < t_.columns.size() && t_.columns[k].number != cn) ++k;
        if (k == t_.columns.size()) return false;
        pos.push_back(k);
    }
    return true;
}

// Every row's entry (key, then the row's pointer), except the rows the index
// leaves out.
std::vector<IndexBuilder::Entry> IndexBuilder::collect(const StoredIndex& ix, const std::vector<size_t>& pos) {
    std::vector<Entry> entries;
    const SortOrder order = db_.sortOrder();
    db_.forEachRow(t_, [&](uint32_t ref, const std::vector<Value>& v) {
        IndexNulls nulls;
        for (size_t k : pos) nulls.add(t_.columns[k], v[k]);
        sawNull_ |= nulls.any;
        if (ix.leavesOut(nulls)) return;
        Entry e;
        for (size_t i = 0; i < pos.size(); ++i)
            appendIndexKey(e, t_.columns[pos[i]], v[pos[i]], ix.ascending[i], order);
        if (auto it = moved_.find(ref); it != moved_.end()) ref = it->second;
        appendBigEndian(e, ref);
        entries.push_back(std::move(e));
    });
    return entries;
}

std::vector<IndexBuilder::Node> IndexBuilder::packLeaves(const std::vector<Entry>& entries) {
    std::vector<Node> level;
    Node cur;
    size_t bytes = 0;
    for (const auto& e : entries) {
        if (bytes + e.size() > kIndexEntryBytes && !cur.items.empty()) {
            level.push_back(std::move(cur));
            cur = Node();
            bytes = 0;
        }
        cur.items.push_back(&e);
        cur.last = e;
        bytes += e.size();
    }
    level.push_back(std::move(cur));
    return level;
}

void IndexBuilder::writePage(uint32_t page, uint8_t type, const Node& n, uint32_t prev, uint32_t next) {
    uint8_t* p = db_.pager().modify(page);
    std::memset(p, 0, kPageSize);
    p[0] = type;
    p[1] = 0x01;
    wr32(p + kIndexOwner, t_.page);
    wr32(p + kLayout.prev, prev);
    wr32(p + kLayout.next, next);
    wr32(p + kLayout.tail, n.tail);
    size_t off = 0;
    for (const Entry* e : n.items) {
        std::memcpy(p + kLayout.entries + off, e->data(), e->size());
        off += e->size();
        p[kLayout.mask + off / 8] |= uint8_t(1u << (off % 8));
    }
    wr16(p + kIndexFreeSpace, uint32_t(kPageSize - kLayout.entries - off));
}

// The parents' entries of a level whose pages have their numbers: each
// child's last entry and page (kept in nodeEntries_), as many to a parent as
// fit; returns the children of each parent.
std::vector<std::vector<size_t>> IndexBuilder::groupUnderParents(const std::vector<Node>& level) {
    std::vector<std::vector<size_t>> groups(1);
    size_t bytes = 0;
    for (size_t i = 0; i < level.size(); ++i) {
        Entry ne = level[i].last;
        appendBigEndian(ne, level[i].page);
        if (bytes + ne.size() > kIndexEntryBytes && !groups.back().empty()) {
            groups.emplace_back();
            bytes = 0;
        }
        bytes += ne.size();
        nodeEntries_.push_back(std::move(ne));
        groups.back().push_back(i);
    }
    return groups;
}

// Leaves are chained left to right across the level; node pages among the
// siblings under one parent (`g`, the q-th of them).
std::pair<uint32_t, uint32_t> IndexBuilder::siblings(const std::vector<Node>& level, const std::vector<size_t>& g,
                                                     size_t q, bool leaves) {
    const size_t i = g[q];
    if (leaves) return {i > 0 ? level[i - 1].page : 0, i + 1 < level.size() ? level[i + 1].page : 0};
    return {q > 0 ? level[g[q - 1]].page : 0, q + 1 < g.size() ? level[g[q + 1]].page : 0};
}

std::vector<IndexBuilder::Node> IndexBuilder::writeLevel(std::vector<Node>& level, uint8_t type) {
    for (Node& n : level) n.page = takePage();
    const auto groups = groupUnderParents(level);
    const size_t firstEntry = nodeEntries_.size() - level.size();
    std::vector<Node> parents;
    for (const auto& g : groups) {
        Node parent;
        for (size_t q = 0; q < g.size(); ++q) {
            const size_t i = g[q];
            const auto [prev, next] = siblings(level, g, q, type == uint8_t(PageType::IndexLeaf));
            writePage(level[i].page, type, level[i], prev, next);
            if (q + 1 < g.size() || g.size() == 1) parent.items.push_back(&nodeEntries_[firstEntry + i]);
            else parent.tail = level[i].page;
            parent.last = level[i].last;
        }
        parents.push_back(std::move(parent));
    }
    return parents;
}

// The index's current pages but the root, to be used again lowest first.
void IndexBuilder::poolPages(const StoredIndex& ix) {
    old_ = db_.mapPages(ix.mapRef);
    for (uint32_t pg : old_) {
        const uint8_t* p = db_.pager().read(pg);
        if (pg != ix.root && (isPage(p, PageType::IndexNode) || isPage(p, PageType::IndexLeaf)) &&
            rd32(p + kIndexOwner) == t_.page)
            pool_.push_back(pg);
    }
    std::reverse(pool_.begin(), pool_.end());
    used_ = {ix.root};
}

uint32_t IndexBuilder::takePage() {
    uint32_t pg;
    if (!pool_.empty()) {
        pg = pool_.back();
        pool_.pop_back();
    } else {
        pg = db_.allocPage();
    }
    used_.push_back(pg);
    return pg;
}

// The usage map lists the new tree's pages; the old ones left over are free.
void IndexBuilder::settleMap(const StoredIndex& ix) {
    std::sort(used_.begin(), used_.end());
    for (uint32_t pg : old_)
        if (!std::binary_search(used_.begin(), used_.end(), pg)) {
            db_.mapSet(ix.mapRef, pg, false);
            if (pg != ix.root) db_.releasePage(pg);
        }
    for (uint32_t pg : used_) db_.mapSet(ix.mapRef, pg, true);
}

// Refuses a null in a required index and two rows with one key in a unique
// index (rows whose indexed values are all null may share theirs).
void IndexBuilder::enforce(const StoredIndex& ix, const std::vector<size_t>& pos,
                           const std::vector<Entry>& sorted) const {
    if (ix.required() && sawNull_) throw jeterr::nullInIndex();
    if (!ix.unique()) return;
    Entry nullKey;
    for (size_t i = 0; i < pos.size(); ++i) {
        if (t_.columns[pos[i]].is(ColType::Bool)) nullKey.push_back(0x01);  // never null: no key is all null
        nullKey.push_back(ix.ascending[i] ? 0x00 : 0xFF);
    }
    for (size_t i = 1; i < sorted.size(); ++i) {
        const Entry& a = sorted[i - 1];
        const Entry& b = sorted[i];
        if (a.size() != b.size() || std::memcmp(a.data(), b.data(), a.size() - 4) != 0) continue;
        if (a.size() - 4 == nullKey.size() && std::memcmp(a.data(), nullKey.data(), nullKey.size()) == 0) continue;
        throw jeterr::duplicateKey();
    }
}

void IndexBuilder::build(StoredIndex& ix, bool mustFit) {
    std::vector<size_t> pos;
    if (ix.root == 0 || !positions(ix, pos)) return;  // left as it is
    std::vector<Entry> entries = collect(ix, pos);
    std::sort(entries.begin(), entries.end(), entryLess);
    if (mustFit) enforce(ix, pos, entries);
    poolPages(ix);
    std::vector<Node> level = packLeaves(entries);
    uint8_t type = uint8_t(PageType::IndexLeaf);
    while (level.size() > 1) {
        level = writeLevel(level, type);
        type = uint8_t(PageType::IndexNode);
    }
    writePage(ix.root, type, level[0], 0, 0);
    settleMap(ix);
    if (ix.slotOffset + 4 <= kPageSize) wr32(db_.pager().modify(t_.page) + ix.slotOffset, distinctKeys(entries));
}

}  // namespace tp::db::jet
