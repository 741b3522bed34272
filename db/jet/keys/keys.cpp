// Indexes, primary keys and relationships as Access's SQL makes them: CREATE
// INDEX, ALTER TABLE ... ADD CONSTRAINT, DROP INDEX, ALTER TABLE ... DROP
// CONSTRAINT, and the check of each new row against the relationships of
// its table. A new index gets its definition, an empty root page and a usage
// map, then its tree from the table's rows (index_builder.cpp); a
// relationship gets a foreign-key index on each side, its rows in
// MSysRelationships and its object in the catalog.
#include <algorithm>
#include <cstring>

#include "db/jet/keys/index_builder.h"
#include "db/jet/tables/jet_database.h"
#include "db/jet/sql/sql.h"

namespace tp::db::jet {

namespace {

constexpr size_t kMaxIndexes = 32;

}  // namespace

// Column numbers of the named columns; refuses unknown ones and long values.
std::vector<int> JetDatabase::indexColumns(const StoredTable& t, const std::vector<std::string>& names) const {
    if (names.empty()) throw jeterr::itemNotFound();
    if (names.size() > size_t(realindex::kMaxColumns)) throw jeterr::tooManyIndexFields();
    std::vector<int> out;
    for (const std::string& n : names) {
        const int k = columnIndex(t, n);
        if (k < 0) throw jeterr::itemNotFound();
        const StoredColumn& c = t.columns[size_t(k)];
        // Memo keys hold the first 255 characters, as Access's do.
        if (c.is(ColType::OLE) || c.is(ColType::Complex) || unreadableColumn(c))
            throw Error(jeterr::kNotSupported, "The field '" + c.name + "' of table '" + t.name +
                                                   "' cannot be indexed by this database engine.");
        if (std::find(out.begin(), out.end(), c.number) != out.end()) throw jeterr::fieldTwice();
        out.push_back(c.number);
    }
    return out;
}

// An empty root page and a usage map for a new index (its map beside the
// table's own maps when there is room).
uint32_t JetDatabase::newIndexPages(StoredTable& t, StoredIndex& ix) {
    const Layout& L = layout();
    std::vector<uint8_t> emptyMap(L.usageMapRowSize, 0);
    emptyMap[usagemap::kType] = usagemap::kInline;
    if (!placeRow(t.ownedMap >> 8, emptyMap.data(), emptyMap.size(), ix.mapRef)) {
        const uint32_t mapPage = allocPage();
        uint8_t* mp = pager_->modify(mapPage);
        std::memset(mp, 0, ps_);
        mp[page::kType] = uint8_t(PageType::Data);
        mp[page::kMarker] = page::kMarkerValue;
        encodeLE16(mp + datapage::kFreeSpace, uint32_t(L.emptyDataPageFree()));
        if (!placeRow(mapPage, emptyMap.data(), emptyMap.size(), ix.mapRef))
            throw Error("A usage map does not fit on an empty page.");
    }
    ix.root = allocPage();
    uint8_t* rp = pager_->modify(ix.root);
    std::memset(rp, 0, ps_);
    rp[page::kType] = uint8_t(PageType::IndexLeaf);
    rp[page::kMarker] = page::kMarkerValue;
    encodeLE16(rp + kIndexFreeSpace, uint32_t(L.indexEntryBytes()));
    encodeLE32(rp + kIndexOwner, t.page);
    mapSet(ix.mapRef, ix.root, true);
    return ix.root;
}

void JetDatabase::createIndex(const IndexDef& d) {
    requireKeysWritable();
    pager_->trim();
    atomically([&] { createIndexNow(d); });
    afterStatement();
}

void JetDatabase::createIndexNow(const IndexDef& d) {
    const std::string stored = findTable(d.table);
    if (stored.empty()) throw jeterr::tableMissing(d.table);
    StoredTable& t = tableByName(stored);
    if (t.tableType == kSystemTable) throw jeterr::readOnly();
    checkName(d.name);
    std::vector<std::string> names;
    std::vector<bool> asc;
    for (const auto& c : d.columns) {
        names.push_back(c.name);
        asc.push_back(!c.descending);
    }
    StoredIndex ix;
    ix.columns = indexColumns(t, names);
    ix.ascending = asc;
    for (const LogicalIndex& lx : t.logical) {
        if (nameKey(lx.name) == nameKey(d.name)) throw jeterr::indexExists(t.name, d.name);
        if (d.primary && lx.primary()) throw jeterr::primaryKeyExists();
    }
    if (t.logical.size() >= kMaxIndexes) throw jeterr::tooManyIndexes(t.name);
    ix.flags = jet3_ ? 0 : realindex::kAccessFlag;  // Access 97 sets no such flag
    if (d.unique || d.primary) ix.flags |= indexflag::kUnique;
    if (d.primary || d.disallowNull) ix.flags |= indexflag::kRequired;
    if (d.ignoreNull) ix.flags |= indexflag::kIgnoreNulls;
    requireKeyable(t);
    if (t.indexesStale) {  // rows inserted since the last rebuild
        rebuildIndexes(t);
        t.indexesStale = false;
    }
    newIndexPages(t, ix);
    IndexSections x = indexSections(t);
    x.slots.emplace_back(layout().tdef.indexCountSize, 0);
    x.reals.push_back(realIndexBlock(ix, layout()));
    LogicalIndex lx;
    lx.name = d.name;
    lx.number = uint32_t(x.logical.size());
    lx.real = uint32_t(x.reals.size() - 1);
    lx.cascadeUpdate = lx.cascadeDelete = logicalindex::kNoCascade;
    lx.kind = d.primary ? indexkind::kPrimary : indexkind::kPlain;
    x.logical.push_back(lx);
    writeIndexSections(t, std::move(x));
    IndexBuilder(*this, t, IndexBuilder::movedRows(*this, t)).build(t.indexes.back(), true);
}

void JetDatabase::dropIndex(const std::string& table, const std::string& name, bool constraint) {
    requireKeysWritable();
    pager_->trim();
    atomically([&] { dropIndexNow(table, name, constraint); });
    afterStatement();
}

// Takes out logical index `number`; the others keep their order and are
// numbered again without the gap (their relationships' other sides follow),
// and a real index no logical index uses any more goes with its pages.
void JetDatabase::removeLogical(StoredTable& t, IndexSections& x, uint32_t number) {
    auto it =
        std::find_if(x.logical.begin(), x.logical.end(), [&](const LogicalIndex& l) { return l.number == number; });
    const uint32_t real = it->real;
    x.logical.erase(it);
    std::vector<std::pair<uint32_t, std::pair<uint32_t, uint32_t>>> partners;  // table, (old, new) number
    for (LogicalIndex& l : x.logical)
        if (l.number > number) {
            if (l.foreign() && l.relTable != t.page) partners.push_back({l.relTable, {l.number, l.number - 1}});
            --l.number;
        }
    for (LogicalIndex& l : x.logical)
        if (l.foreign() && l.relTable == t.page && l.relIndex > int32_t(number)) --l.relIndex;
    const bool used =
        std::any_of(x.logical.begin(), x.logical.end(), [&](const LogicalIndex& l) { return l.real == real; });
    if (!used) {
        x.dropped.push_back(t.indexes[real]);
        x.slots.erase(x.slots.begin() + long(real));
        x.reals.erase(x.reals.begin() + long(real));
        for (LogicalIndex& l : x.logical)
            if (l.real > real) --l.real;
    }
    for (const auto& [page, numbers] : partners) renumberPartner(t, page, numbers.first, numbers.second);
}

// The other side of a relationship of t follows its index numbered again.
void JetDatabase::renumberPartner(const StoredTable& t, uint32_t page, uint32_t from, uint32_t to) {
    StoredTable* other = tableAt(page);
    if (!other) return;
    IndexSections y = indexSections(*other);
    for (LogicalIndex& l : y.logical)
        if (l.foreign() && l.relTable == t.page && l.relIndex == int32_t(from)) l.relIndex = int32_t(to);
    writeIndexSections(*other, std::move(y));
}

void JetDatabase::dropIndexNow(const std::string& table, const std::string& name, bool constraint) {
    const std::string stored = findTable(table);
    if (stored.empty()) throw constraint ? jeterr::constraintMissing() : jeterr::tableMissing(table);
    if (constraint)
        for (const RelationshipDef& r : relationships())
            if (nameKey(r.name) == nameKey(name) &&
                (nameKey(r.table) == nameKey(stored) || nameKey(r.referenced) == nameKey(stored))) {
                dropRelationshipNow(r);
                return;
            }
    StoredTable& t = tableByName(stored);
    if (t.tableType == kSystemTable) throw jeterr::readOnly();
    auto it = std::find_if(t.logical.begin(), t.logical.end(),
                           [&](const LogicalIndex& l) { return nameKey(l.name) == nameKey(name); });
    if (it == t.logical.end()) throw constraint ? jeterr::constraintMissing() : jeterr::indexMissing(t.name, name);
    if (it->foreign()) throw jeterr::cannotDelete();
    for (const LogicalIndex& l : t.logical)
        if (l.foreign() && l.real == it->real) throw jeterr::cannotDelete();
    IndexSections x = indexSections(t);
    removeLogical(t, x, it->number);
    writeIndexSections(t, std::move(x));
}

}  // namespace tp::db::jet
