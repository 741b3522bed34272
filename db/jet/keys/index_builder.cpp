// The index builder (see index_builder.h).
#include "db/jet/keys/index_builder.h"

#include <algorithm>
#include <cstring>

#include "db/busy.h"
#include "db/jet/tables/row_codec.h"

namespace tp::db::jet {

namespace {

void appendBigEndian(IndexBuilder::Entry& e, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) e.push_back(uint8_t(v >> s));
}

}  // namespace

std::unordered_map<uint32_t, uint32_t> IndexBuilder::movedRows(JetDatabase& db, const StoredTable& t) {
    std::unordered_map<uint32_t, uint32_t> moved;
    size_t seen = 0;
    for (uint32_t pg : db.mapPages(t.ownedMap)) {
        if ((++seen & 255) == 0) db.pager().trim(true);  // no page pointer is held here
        const uint8_t* p = db.pager().read(pg);
        if (!db.dataPageOf(t, p)) continue;
        const DataPageLayout& L = db.layout().dataPage;
        const uint32_t ps = db.layout().pageSize;
        const uint32_t count = std::min<uint32_t>(decodeLE16(p + L.rowCount), uint32_t(ps - L.rowOffsets) / 2);
        for (uint32_t r = 0; r < count; ++r) {
            const uint16_t raw = decodeLE16(p + L.rowOffset(r));
            if ((raw & 0xC000) != datapage::kRowOverflow) continue;
            const uint32_t start = raw & datapage::kRowOffsetMask;
            if (start + 4 <= ps) moved[decodeLE32(p + start)] = (pg << 8) | r;
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

// Adds the row's entry (key, then the row's pointer) unless the index leaves
// the row out; `v` holds the row's indexed values.
void IndexBuilder::addEntry(const StoredIndex& ix, const std::vector<size_t>& pos, uint32_t ref,
                            const std::vector<Value>& v, EntrySorter& out) {
    IndexNulls nulls;
    for (size_t k : pos) nulls.add(t_.columns[k], v[k]);
    sawNull_ |= nulls.any;
    ++rows_;
    if (ix.leavesOut(nulls)) return;
    key_.clear();
    for (size_t i = 0; i < pos.size(); ++i)
        appendIndexKey(key_, t_.columns[pos[i]], v[pos[i]], ix.ascending[i], order_);
    if (auto it = moved_.find(ref); it != moved_.end()) ref = it->second;
    appendBigEndian(key_, ref);
    out.add(key_);
}

// Every row's entry; only the indexed columns are read.
void IndexBuilder::collect(const StoredIndex& ix, const std::vector<size_t>& pos, EntrySorter& out) {
    order_ = db_.sortOrder();
    std::vector<char> wanted(t_.columns.size(), 0);
    for (size_t k : pos) wanted[k] = 1;
    const StoredColumn* first = t_.columns.data();
    auto valueOf = [&](const StoredColumn& c, const uint8_t* p, size_t len) {
        return wanted[size_t(&c - first)] ? db_.valueOf(t_, c, p, len) : Value();
    };
    std::vector<RowSpan> rows;
    std::vector<Value> vals;
    const uint32_t ps = db_.layout().pageSize;
    std::vector<uint8_t> copy(ps);
    size_t seen = 0;
    for (uint32_t pgno : db_.mapPages(t_.ownedMap)) {
        if ((++seen & 255) == 0) {
            stillBusy();
            db_.pager().trim(true);  // a table larger than the cache: no page pointer is held here
        }
        std::memcpy(copy.data(), db_.pager().read(pgno), ps);
        if (!db_.dataPageOf(t_, copy.data())) continue;
        db_.pageRows(pgno, copy.data(), rows, true);
        for (const RowSpan& r : rows) {
            db_.decodeRowWith(t_, r.p, r.n, vals, valueOf);
            addEntry(ix, pos, r.ref, vals, out);
        }
    }
}

void IndexBuilder::writePage(uint32_t page, uint8_t type, const PageBody& b, uint32_t tail, uint32_t prev,
                             uint32_t next) {
    const IndexPageLayout& L = db_.layout().indexPage;
    uint8_t* p = db_.pager().modify(page);
    std::memset(p, 0, db_.layout().pageSize);
    p[page::kType] = type;
    p[page::kMarker] = page::kMarkerValue;
    encodeLE32(p + kIndexOwner, t_.page);
    encodeLE32(p + L.prev, prev);
    encodeLE32(p + L.next, next);
    encodeLE32(p + L.tail, tail);
    if (!b.bytes.empty()) std::memcpy(p + L.entries, b.bytes.data(), b.bytes.size());
    for (size_t end : b.ends) p[L.mask + end / 8] |= uint8_t(1u << (end % 8));
    encodeLE16(p + kIndexFreeSpace, uint32_t(db_.layout().indexEntryBytes() - b.bytes.size()));
}

void IndexBuilder::writeNode(const Node& n, uint32_t page, uint32_t prev, uint32_t next) {
    body_.clear();
    for (const Entry* e : n.items) body_.add(e->data(), e->size());
    writePage(page, uint8_t(PageType::IndexNode), body_, n.tail, prev, next);
}

// Writes the leaves from the sorted entries, left to right, as many entries
// to a leaf as fit; returns the leaves (page and last entry). A single leaf
// is the root. Counts the distinct keys on the way.
std::vector<IndexBuilder::Node> IndexBuilder::writeLeaves(const StoredIndex& ix, EntrySorter& sorted) {
    constexpr uint8_t kLeaf = uint8_t(PageType::IndexLeaf);
    std::vector<Node> leaves(1);
    uint32_t prevPage = 0;
    body_.clear();
    last_.clear();
    distinct_ = 0;
    sorted.rewind();
    const uint8_t* p = nullptr;
    size_t n = 0;
    while (sorted.next(p, n)) {
        if (last_.size() != n || std::memcmp(last_.data(), p, n - 4) != 0) ++distinct_;
        if (body_.bytes.size() + n > db_.layout().indexEntryBytes() && !body_.ends.empty()) {
            Node& done = leaves.back();
            if (done.page == 0) done.page = takePage();
            done.last = last_;
            const uint32_t page = done.page, next = takePage();
            writePage(page, kLeaf, body_, 0, prevPage, next);
            prevPage = page;
            body_.clear();
            leaves.emplace_back().page = next;
        }
        body_.add(p, n);
        last_.assign(p, p + n);
    }
    leaves.back().last = last_;
    if (leaves.size() == 1) writePage(ix.root, kLeaf, body_, 0, 0, 0);
    else writePage(leaves.back().page, kLeaf, body_, 0, prevPage, 0);
    return leaves;
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
        if (bytes + ne.size() > db_.layout().indexEntryBytes() && !groups.back().empty()) {
            groups.emplace_back();
            bytes = 0;
        }
        bytes += ne.size();
        nodeEntries_.push_back(std::move(ne));
        groups.back().push_back(i);
    }
    return groups;
}

// The parents of a level; the pages of a node level are numbered and written
// here (node pages are chained among the siblings under one parent), those
// of the leaves are written already.
std::vector<IndexBuilder::Node> IndexBuilder::writeLevel(std::vector<Node>& level, bool leaves) {
    if (!leaves)
        for (Node& n : level) n.page = takePage();
    const auto groups = groupUnderParents(level);
    const size_t firstEntry = nodeEntries_.size() - level.size();
    std::vector<Node> parents;
    for (const auto& g : groups) {
        Node parent;
        for (size_t q = 0; q < g.size(); ++q) {
            const size_t i = g[q];
            if (!leaves)
                writeNode(level[i], level[i].page, q > 0 ? level[g[q - 1]].page : 0,
                          q + 1 < g.size() ? level[g[q + 1]].page : 0);
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
            decodeLE32(p + kIndexOwner) == t_.page)
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
void IndexBuilder::enforce(const StoredIndex& ix, const std::vector<size_t>& pos, EntrySorter& sorted) const {
    if (ix.required() && sawNull_) throw jeterr::nullInIndex();
    if (!ix.unique()) return;
    Entry nullKey, prev;
    for (size_t i = 0; i < pos.size(); ++i) {
        if (t_.columns[pos[i]].is(ColType::Bool)) nullKey.push_back(0x01);  // never null: no key is all null
        nullKey.push_back(ix.ascending[i] ? 0x00 : 0xFF);
    }
    sorted.rewind();
    const uint8_t* p = nullptr;
    size_t n = 0;
    for (bool first = true; sorted.next(p, n); first = false, prev.assign(p, p + n)) {
        if (first || prev.size() != n || std::memcmp(prev.data(), p, n - 4) != 0) continue;
        if (n - 4 == nullKey.size() && std::memcmp(p, nullKey.data(), nullKey.size()) == 0) continue;
        throw jeterr::duplicateKey();
    }
}

void IndexBuilder::build(StoredIndex& ix, bool mustFit) {
    std::vector<size_t> pos;
    if (ix.root == 0 || !positions(ix, pos)) return;  // left as it is
    EntrySorter sorted(db_.pager().path());
    collect(ix, pos, sorted);
    sorted.finish();
    if (mustFit) enforce(ix, pos, sorted);
    poolPages(ix);
    std::vector<Node> level = writeLeaves(ix, sorted);
    if (level.size() > 1) {
        level = writeLevel(level, true);
        while (level.size() > 1) level = writeLevel(level, false);
        writeNode(level[0], ix.root, 0, 0);
    }
    settleMap(ix);
    if (ix.slotOffset + 4 <= db_.layout().pageSize) encodeLE32(db_.pager().modify(t_.page) + ix.slotOffset, distinct_);
    // Access 97 keeps a user table's rows beside the count.
    const size_t rowsAt = ix.slotOffset - db_.layout().tdef.indexCountField + kIndexSlotRows3;
    if (db_.jet3_ && t_.tableType == kUserTable && ix.slotOffset + 4 <= db_.layout().pageSize)
        encodeLE32(db_.pager().modify(t_.page) + rowsAt, rows_);
}

}  // namespace tp::db::jet
