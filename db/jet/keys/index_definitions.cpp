// The index part of a table definition: the count slots and blocks of the
// real indexes, the logical indexes and their names. A change reads them,
// edits them and writes the definition back with everything else in it as it
// was (column descriptors, names, the long-value maps, bytes we do not
// interpret), over the definition's own pages.
#include <algorithm>
#include <cstring>

#include "db/jet/tables/jet_database.h"

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
    const Layout& L = layout();
    IndexSections x;
    for (size_t i = 0; i < t.indexes.size(); ++i) {
        const size_t slot = L.tdef.indexCounts + L.tdef.indexCountSize * i;
        x.slots.emplace_back(s.begin() + long(slot), s.begin() + long(slot + L.tdef.indexCountSize));
        const size_t block = t.realAt + L.realIndex.size * i;
        x.reals.emplace_back(s.begin() + long(block), s.begin() + long(block + L.realIndex.size));
    }
    x.logical = t.logical;
    return x;
}

namespace {

// A logical index block: Jet 4/ACE's starts with the engine's stamp.
void putLogical(std::vector<uint8_t>& s, const LogicalIndex& lx, const LogicalIndexLayout& L) {
    uint8_t b[kLogicalIndexSize] = {};
    if (L.size == kLogicalIndexSize) encodeLE32(b, kMagic);
    encodeLE32(b + L.number, lx.number);
    encodeLE32(b + L.real, lx.real);
    b[L.relSide] = lx.relSide;
    encodeLE32(b + L.relIndex, uint32_t(lx.relIndex));
    encodeLE32(b + L.relTable, lx.relTable);
    b[L.cascadeUpdate] = lx.cascadeUpdate;
    b[L.cascadeDelete] = lx.cascadeDelete;
    b[L.kind] = lx.kind;
    putBytes(s, b, L.size);
}

}  // namespace

// A real index block; Jet 4/ACE's starts with realindex::kMagic.
std::vector<uint8_t> realIndexBlock(const StoredIndex& ix, const Layout& layout) {
    const RealIndexLayout& L = layout.realIndex;
    std::vector<uint8_t> b(L.size, 0);
    if (L.size == kRealIndexSize) encodeLE32(b.data(), realindex::kMagic);
    for (size_t k = 0; k < size_t(realindex::kMaxColumns); ++k) {
        uint8_t* c = b.data() + L.column(k);
        const bool used = k < ix.columns.size();
        encodeLE16(c, used ? uint32_t(ix.columns[k]) : realindex::kNoColumn);
        c[realindex::kColumnOrder] = used && ix.ascending[k] ? realindex::kAscending : 0x00;
    }
    encodeLE32(b.data() + L.map, ix.mapRef);
    encodeLE32(b.data() + L.root, ix.root);
    b[L.flags] = ix.flags;
    return b;
}

// Where a logical index's name puts it among the others: Access 97 orders
// them by their General 97 keys.
std::string JetDatabase::indexNameOrder(const std::string& name) const {
    if (!jet3_) return nameKey(name);
    std::vector<uint8_t> k;
    appendTextKey(k, utf8ToUtf16(name), kGeneral97);
    return std::string(k.begin(), k.end());
}

// A name of an index as the definition holds it.
void JetDatabase::putDefinitionName(std::vector<uint8_t>& s, const std::string& name) const {
    if (!jet3_) {
        const std::u16string u = utf8ToUtf16(name);
        putLE16(s, uint32_t(u.size() * 2));
        coding::putUtf16LE(s, u);
        return;
    }
    std::vector<uint8_t> b;
    if (!encodeNarrowText(name, codePage_, b) || b.size() > 255) throw jeterr::invalidName(name);
    s.push_back(uint8_t(b.size()));
    putBytes(s, b.data(), b.size());
}

// Logical indexes are stored in the order of their names, as Access stores
// them; their numbers stay what they are.
void JetDatabase::writeIndexSections(StoredTable& t, IndexSections x) {
    const Layout& L = layout();
    const std::vector<uint8_t> old = definitionStream(t);
    std::stable_sort(x.logical.begin(), x.logical.end(), [&](const LogicalIndex& a, const LogicalIndex& b) {
        return indexNameOrder(a.name) < indexNameOrder(b.name);
    });
    std::vector<uint8_t> s(old.begin(), old.begin() + long(L.tdef.indexCounts));
    for (const auto& slot : x.slots) s.insert(s.end(), slot.begin(), slot.end());
    s.insert(s.end(), old.begin() + long(t.columnsAt), old.begin() + long(t.realAt));
    for (const auto& block : x.reals) s.insert(s.end(), block.begin(), block.end());
    for (const LogicalIndex& lx : x.logical) putLogical(s, lx, L.logicalIndex);
    for (const LogicalIndex& lx : x.logical) putDefinitionName(s, lx.name);
    s.insert(s.end(), old.begin() + long(t.indexesEnd), old.end());
    encodeLE32(&s[L.tdef.numLogical], uint32_t(x.logical.size()));
    encodeLE32(&s[L.tdef.numReal], uint32_t(x.reals.size()));
    encodeLE32(&s[tdef::kLength], uint32_t(s.size()));
    rewriteDefinition(t, s);
    for (const StoredIndex& ix : x.dropped) {
        for (uint32_t pg : mapPages(ix.mapRef)) {
            const uint8_t* p = pager_->read(pg);
            if ((isPage(p, PageType::IndexNode) || isPage(p, PageType::IndexLeaf)) && decodeLE32(p + kIndexOwner) == t.page)
                releasePage(pg);
        }
        // The map's row goes; its page stays with the table's other maps.
        findRow(ix.mapRef);
        uint8_t* p = pager_->modify(ix.mapRef >> 8);
        const size_t at = L.dataPage.rowOffset(ix.mapRef & 0xFF);
        encodeLE16(p + at, decodeLE16(p + at) | datapage::kRowDeleted | datapage::kRowOverflow);
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
        p[page::kType] = uint8_t(PageType::TableDef);
        p[page::kMarker] = page::kMarkerValue;
        const size_t used = head + take;
        encodeLE16(p + datapage::kFreeSpace, uint32_t(ps_ > used + 8 ? ps_ - used - 8 : 0));
        // Access 97 keeps "VC" where later versions count the free bytes.
        if (jet3_) std::memcpy(p + page::kFreeSpace, tdef::kJet3Mark, 2);
        encodeLE32(p + kTdefNext, i + 1 < need ? pages[i + 1] : 0);
        pos += take;
    }
    for (size_t i = need; i < pages.size(); ++i) releasePage(pages[i]);
}

}  // namespace tp::db::jet
