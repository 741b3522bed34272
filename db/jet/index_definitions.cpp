// The index part of a table definition: the count slots and blocks of the
// real indexes, the logical indexes and their names. A change reads them,
// edits them and writes the definition back with everything else in it as it
// was (column descriptors, names, the long-value maps, bytes we do not
// interpret), over the definition's own pages.
#include <algorithm>
#include <cstring>

#include "db/jet/jet_database.h"

namespace tp::db::jet {

std::vector<uint8_t> JetDatabase::definitionStream(const StoredTable& t) {
    if (t.tdefPages.empty()) return {};
    std::vector<uint8_t> s(ps_ + (t.tdefPages.size() - 1) * (ps_ - kTdefContinuation));
    size_t at = 0;
    for (size_t i = 0; i < t.tdefPages.size(); ++i) {
        const size_t from = i == 0 ? 0 : kTdefContinuation;
        std::memcpy(s.data() + at, pager_->read(t.tdefPages[i]) + from, ps_ - from);
        at += ps_ - from;
    }
    // Its stored length, unless the definition's own parts run further.
    size_t end = t.definitionEnd;
    if (t.definitionLength >= end && t.definitionLength <= s.size()) end = t.definitionLength;
    s.resize(std::min(s.size(), end));
    return s;
}

IndexSections JetDatabase::indexSections(const StoredTable& t) {
    const std::vector<uint8_t> s = definitionStream(t);
    IndexSections x;
    for (size_t i = 0; i < t.indexes.size(); ++i) {
        const size_t slot = kTdef4.indexCounts + kTdef4.indexCountSize * i;
        x.slots.emplace_back(s.begin() + long(slot), s.begin() + long(slot + kTdef4.indexCountSize));
        const size_t block = t.realAt + kRealIndexSize * i;
        x.reals.emplace_back(s.begin() + long(block), s.begin() + long(block + kRealIndexSize));
    }
    x.logical = t.logical;
    return x;
}

namespace {

void putLogical(std::vector<uint8_t>& s, const LogicalIndex& lx) {
    uint8_t b[kLogicalIndexSize] = {};
    wr32(b, kMagic);
    wr32(b + logicalindex::kNumber, lx.number);
    wr32(b + logicalindex::kReal, lx.real);
    b[logicalindex::kRelSide] = lx.relSide;
    wr32(b + logicalindex::kRelIndex, uint32_t(lx.relIndex));
    wr32(b + logicalindex::kRelTable, lx.relTable);
    b[logicalindex::kCascadeUpdate] = lx.cascadeUpdate;
    b[logicalindex::kCascadeDelete] = lx.cascadeDelete;
    b[logicalindex::kKind] = lx.kind;
    putBytes(s, b, kLogicalIndexSize);
}

}  // namespace

std::vector<uint8_t> realIndexBlock(const StoredIndex& ix) {
    std::vector<uint8_t> b(kRealIndexSize, 0);
    wr32(b.data(), realindex::kMagic);
    for (int k = 0; k < realindex::kMaxColumns; ++k) {
        uint8_t* c = b.data() + realindex::kColumns + 3 * k;
        const bool used = size_t(k) < ix.columns.size();
        wr16(c, used ? uint32_t(ix.columns[size_t(k)]) : 0xFFFF);
        c[2] = used && ix.ascending[size_t(k)] ? 0x01 : 0x00;
    }
    wr32(b.data() + realindex::kMap, ix.mapRef);
    wr32(b.data() + realindex::kRoot, ix.root);
    b[realindex::kFlags] = ix.flags;
    return b;
}

// Logical indexes are stored in the order of their names, as Access stores
// them; their numbers stay what they are.
void JetDatabase::writeIndexSections(StoredTable& t, IndexSections x) {
    const std::vector<uint8_t> old = definitionStream(t);
    std::stable_sort(x.logical.begin(), x.logical.end(),
                     [&](const LogicalIndex& a, const LogicalIndex& b) { return nameKey(a.name) < nameKey(b.name); });
    std::vector<uint8_t> s(old.begin(), old.begin() + long(kTdef4.indexCounts));
    for (const auto& slot : x.slots) s.insert(s.end(), slot.begin(), slot.end());
    s.insert(s.end(), old.begin() + long(t.columnsAt), old.begin() + long(t.realAt));
    for (const auto& block : x.reals) s.insert(s.end(), block.begin(), block.end());
    for (const LogicalIndex& lx : x.logical) putLogical(s, lx);
    for (const LogicalIndex& lx : x.logical) {
        const std::u16string u = utf8ToUtf16(lx.name);
        put16(s, uint32_t(u.size() * 2));
        putUtf16(s, u);
    }
    s.insert(s.end(), old.begin() + long(t.indexesEnd), old.end());
    wr32(&s[kTdef4.numLogical], uint32_t(x.logical.size()));
    wr32(&s[kTdef4.numReal], uint32_t(x.reals.size()));
    wr32(&s[kTdefContinuation], uint32_t(s.size()));
    rewriteDefinition(t, s);
    for (const StoredIndex& ix : x.dropped) {
        for (uint32_t pg : mapPages(ix.mapRef)) {
            const uint8_t* p = pager_->read(pg);
            if ((isPage(p, PageType::IndexNode) || isPage(p, PageType::IndexLeaf)) && rd32(p + kIndexOwner) == t.page)
                releasePage(pg);
        }
        // The map's row goes; its page stays with the table's other maps.
        findRow(ix.mapRef);
        uint8_t* p = pager_->modify(ix.mapRef >> 8);
        const size_t at = datapage::kRowCount + 2 + 2 * (ix.mapRef & 0xFF);
        wr16(p + at, rd16(p + at) | datapage::kRowDeleted | datapage::kRowOverflow);
    }
    // The table as now defined, with the state of this session's writing.
    StoredTable fresh = loadTable(t.page, t.name);
    fresh.currentPage = t.currentPage;
    fresh.currentLvPage = std::move(t.currentLvPage);
    fresh.notNull = std::move(t.notNull);
    fresh.indexesStale = t.indexesStale;
    fresh.countStale = t.countStale;
    fresh.rowCount = t.rowCount;
    fresh.autoNumber = t.autoNumber;
    t = std::move(fresh);
}

// Writes a definition over the table's pages, taking pages when it grew and
// giving back those it no longer needs.
void JetDatabase::rewriteDefinition(StoredTable& t, const std::vector<uint8_t>& s) {
    std::vector<uint32_t> pages = t.tdefPages;
    const size_t perPage = ps_ - kTdefContinuation;
    const size_t need = s.size() <= ps_ ? 1 : 1 + (s.size() - ps_ + perPage - 1) / perPage;
    while (pages.size() < need) pages.push_back(allocPage());
    size_t pos = 0;
    for (size_t i = 0; i < need; ++i) {
        uint8_t* p = pager_->modify(pages[i]);
        std::memset(p, 0, ps_);
        const size_t head = i == 0 ? 0 : kTdefContinuation;
        const size_t take = std::min(s.size() - pos, size_t(ps_) - head);
        std::memcpy(p + head, s.data() + pos, take);
        p[0] = uint8_t(PageType::TableDef);
        p[1] = 0x01;
        const size_t used = head + take;
        wr16(p + datapage::kFreeSpace, uint32_t(ps_ > used + 8 ? ps_ - used - 8 : 0));
        // Access 97 keeps "VC" where later versions count the free bytes.
        if (jet3_) std::memcpy(p + page::kFreeSpace, tdef::kJet3Mark, 2);
        wr32(p + kTdefNext, i + 1 < need ? pages[i + 1] : 0);
        pos += take;
    }
    for (size_t i = need; i < pages.size(); ++i) releasePage(pages[i]);
}

}  // namespace tp::db::jet
