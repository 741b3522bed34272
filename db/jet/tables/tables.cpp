// Tables: scanning one (the cursor), creating and dropping one.
#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "db/busy.h"
#include "db/jet/tables/jet_database.h"
#include "db/jet/tables/row_codec.h"

namespace tp::db::jet {

class JetCursor final : public Cursor {
public:
    JetCursor(JetDatabase& db, const StoredTable& t) : db_(db), table_(t) {
        for (const auto& c : t.columns) {
            const char* what = unreadableColumn(c);
            if (what)
                throw Error(jeterr::kNotSupported, "The column '" + c.name + "' of table '" + t.name + "' in '" +
                                                       db.pager().path() + "' is " + what +
                                                       ", which this database engine cannot read.");
        }
        for (const auto& c : t.columns) fields_.push_back(fieldInfoOf(c));
        pages_ = db.mapPages(t.ownedMap);
        page_.resize(kPageSize);
    }
    const std::vector<FieldInfo>& fields() const override { return fields_; }
    bool next(std::vector<Value>& row) override {
        while (rowPos_ >= rows_.size()) {
            if (pagePos_ >= pages_.size()) return false;
            const uint32_t pgno = pages_[pagePos_++];
            db_.pager().trim();  // a long scan keeps the cache within its budget
            std::memcpy(page_.data(), db_.pager().read(pgno), kPageSize);
            rows_.clear();
            rowPos_ = 0;
            if (!db_.dataPageOf(table_, page_.data())) continue;
            db_.pageRows(pgno, page_.data(), rows_, true);
        }
        const RowSpan& r = rows_[rowPos_++];
        db_.decodeRow(table_, r.p, r.n, row);
        return true;
    }

private:
    JetDatabase& db_;
    StoredTable table_;
    std::vector<FieldInfo> fields_;
    std::vector<uint32_t> pages_;
    size_t pagePos_ = 0;
    std::vector<uint8_t> page_;
    std::vector<RowSpan> rows_;
    size_t rowPos_ = 0;
};

std::unique_ptr<Cursor> JetDatabase::scan(const std::string& table) {
    StoredTable& t = tableByName(table);
    return std::make_unique<JetCursor>(*this, t);
}

namespace {

// The rows an index found, read one by one (index_ranges.cpp).
class RowListCursor final : public Cursor {
public:
    RowListCursor(JetDatabase& db, const StoredTable& t, std::vector<uint32_t> refs, std::vector<FieldInfo> fields)
        : db_(db), table_(t), refs_(std::move(refs)), fields_(std::move(fields)) {}
    const std::vector<FieldInfo>& fields() const override { return fields_; }
    bool next(std::vector<Value>& row) override {
        if (at_ >= refs_.size()) return false;
        if ((at_ & 255) == 0) db_.pager().trim();
        const uint32_t ref = refs_[at_++];
        const uint8_t* p = db_.pager().read(refPage(ref));
        if (!db_.dataPageOf(table_, p)) db_.pager().damaged("an index names a row outside its table");
        std::vector<RowSpan> rows;
        db_.pageRows(refPage(ref), p, rows, false);
        for (const RowSpan& r : rows)
            if (r.ref == ref) {
                copy_.assign(r.p, r.p + r.n);  // reading long values may drop the page
                db_.decodeRow(table_, copy_.data(), copy_.size(), row);
                return true;
            }
        db_.pager().damaged("an index names row " + std::to_string(ref) + ", which its page does not hold");
    }

private:
    JetDatabase& db_;
    StoredTable table_;
    std::vector<uint32_t> refs_;
    size_t at_ = 0;
    std::vector<FieldInfo> fields_;
    std::vector<uint8_t> copy_;
};

}  // namespace

std::unique_ptr<Cursor> JetDatabase::scanWhere(const std::string& table, const std::vector<ValueRange>& where) {
    StoredTable& t = tableByName(table);
    std::vector<uint32_t> refs;
    if (!indexedRows(t, where, refs)) return nullptr;
    std::vector<FieldInfo> fields;
    for (const auto& c : t.columns) {
        if (unreadableColumn(c)) return nullptr;  // the scan says why
        fields.push_back(fieldInfoOf(c));
    }
    return std::make_unique<RowListCursor>(*this, t, std::move(refs), std::move(fields));
}

void JetDatabase::createTable(const std::string& name, const std::vector<ColumnDef>& defs) {
    requireWritable();
    pager_->trim();
    atomically([&] { createTableNow(name, defs); });
    afterStatement();
}

namespace {

bool badName(const std::u16string& u) {
    return u.empty() || u.size() > 64 || u.find_first_of(u".![]`") != std::u16string::npos;
}

// The stored form of column i of a new table, without its place in the row
// (lcid and version: the database's sort order, which text columns take).
StoredColumn newColumn(const ColumnDef& d, size_t i, uint16_t lcid, uint8_t version) {
    StoredColumn c;
    c.name = d.name;
    c.rawType = uint8_t(d.type);
    c.number = int(i);
    c.flags = 0x02;
    c.misc[0] = uint8_t(lcid);
    c.misc[1] = uint8_t(lcid >> 8);
    c.misc[3] = version;
    // clang-format off
    switch (d.type) {
    case ColType::Text:
        if (d.size < 1 || d.size > 255) throw jeterr::syntaxCreateTable();
        c.length = 2 * d.size;
        if (d.fixedLength) c.flags |= 0x01;   // CHAR(n): kept in the row's fixed part, padded
        break;
    case ColType::Binary:
        if (d.size < 1 || d.size > 510) throw jeterr::syntaxCreateTable();
        c.length = std::min(d.size, 255);
        break;
    case ColType::Memo: case ColType::OLE: c.length = 0; break;
    case ColType::Numeric:
        if (d.precision < 1 || d.precision > 28 || d.scale < 0 || d.scale > d.precision)
            throw jeterr::syntaxCreateTable();
        c.misc[0] = uint8_t(d.precision);
        c.misc[1] = uint8_t(d.scale);
        c.misc[2] = c.misc[3] = 0;
        c.length = 17;
        c.flags |= 0x01;
        break;
    case ColType::Complex: case ColType::BigInt: case ColType::ExtDateTime:
        throw jeterr::syntaxCreateTable();
    default:
        c.length = fixedSizeOf(d.type);
        c.flags |= 0x01;
        if (d.type == ColType::Bool) c.length = 1;
        break;
    }
    // clang-format on
    // WITH COMPRESSION: the column's Unicode-compression flag (never on
    // fixed-length text, which is stored plain).
    if (d.compressed && ((d.type == ColType::Text && !c.fixed()) || d.type == ColType::Memo)) c.extFlags = 0x01;
    if (d.autoNumber) {
        if (d.type != ColType::Long) throw jeterr::syntaxCreateTable();
        c.flags |= 0x04;
    }
    return c;
}

// An Access 97 column: text is one byte a character in the code page (its
// length counts bytes), never compressed; there is no Decimal type: a
// DECIMAL(p, s) column is Currency when Currency holds every value of it
// exactly (s <= 4 and at most 15 digits before the point), else Double.
StoredColumn newColumn3(ColumnDef d, size_t i, uint16_t lcid) {
    if (d.type == ColType::Numeric) {
        if (d.precision < 1 || d.precision > 28 || d.scale < 0 || d.scale > d.precision)
            throw jeterr::syntaxCreateTable();
        d.type = d.scale <= 4 && d.precision - d.scale <= 15 ? ColType::Money : ColType::Double;
    }
    d.compressed = false;
    StoredColumn c = newColumn(d, i, lcid, 0);
    if (d.type == ColType::Text) c.length = d.size;
    c.misc[3] = 0xFF;
    c.narrowText = true;
    return c;
}

}  // namespace

void JetDatabase::createTableNow(const std::string& name, const std::vector<ColumnDef>& defs) {
    const std::u16string uname = utf8ToUtf16(name);
    if (badName(uname) || uname.front() == u' ') throw jeterr::invalidName(name);
    if (!findTable(name).empty()) throw jeterr::tableExists(name);
    if (defs.empty()) throw jeterr::syntaxCreateTable();
    if (defs.size() > 255) throw jeterr::tooManyFields();
    const std::vector<StoredColumn> cols = newColumns(defs);
    // Pages: definition, usage maps (owned, free, then a pair per long-value
    // column).
    const uint32_t tdefPage = allocPage();
    uint32_t mapPage = 0;
    // The maps' rows: an inline map starting at page 0, whose first byte is
    // 0x01 in the maps of owned pages (page 0 is no table's: Access writes so).
    std::vector<uint8_t> ownedRow(layout().usageMapRowSize, 0), freeRow(layout().usageMapRowSize, 0);
    ownedRow[usagemap::kType] = usagemap::kReference;
    const uint32_t owned = placeUsageMap(mapPage, ownedRow);
    const uint32_t freeMap = placeUsageMap(mapPage, freeRow);
    std::vector<LongValueMaps> lv;
    for (const auto& c : cols) {
        if (!c.isLong()) continue;
        LongValueMaps m;
        m.column = c.number;
        m.owned = placeUsageMap(mapPage, ownedRow);
        // Access 97 keeps no map of long-value pages with free space.
        if (!jet3_) m.free = placeUsageMap(mapPage, freeRow);
        lv.push_back(m);
    }
    const std::vector<uint8_t> tdef = jet3_ ? buildTdef3(cols, lv, owned, freeMap)
                                            : buildTdef(name, kUserTable, cols, {}, {}, {}, lv, owned, freeMap);
    writeTdef(tdefPage, tdef);
    // The definition keeps the last AutoNumber handed out.
    for (const ColumnDef& d : defs)
        if (d.autoNumber && d.autoNumberSeed > 1)
            encodeLE32(pager_->modify(tdefPage) + layout().tdef.autoNumber, d.autoNumberSeed - 1);
    registerTable(name, tdefPage, defs);
}

// The columns of a new table, each with its place in the row.
std::vector<StoredColumn> JetDatabase::newColumns(const std::vector<ColumnDef>& defs) const {
    std::set<std::string> seen;
    std::vector<StoredColumn> cols;
    int fixedOff = 0, nextVar = 0;
    for (size_t i = 0; i < defs.size(); ++i) {
        const ColumnDef& d = defs[i];
        if (badName(utf8ToUtf16(d.name))) throw jeterr::invalidName(d.name);
        if (!seen.insert(nameKey(d.name)).second) throw jeterr::fieldTwice();
        StoredColumn c = jet3_ ? newColumn3(d, i, sortLcid_) : newColumn(d, i, sortLcid_, sortVersion_);
        if (c.fixed() && d.type != ColType::Bool) {
            c.fixedOffset = fixedOff;
            fixedOff += c.length;
        }
        cols.push_back(c);
    }
    for (auto& c : cols)
        if (!c.fixed() && !c.isLong()) c.varIndex = nextVar++;
    for (auto& c : cols)
        if (c.isLong()) c.varIndex = nextVar++;
    if (size_t(fixedOff) > layout().maxRowSize) throw jeterr::recordTooLarge();
    return cols;
}

// A usage map's row on the current map page (mapPage), or on a new one when
// it is full: one page holds 57 maps; a table with more long-value columns
// continues on further map pages.
uint32_t JetDatabase::placeUsageMap(uint32_t& mapPage, const std::vector<uint8_t>& row) {
    uint32_t ref = 0;
    if (mapPage != 0 && placeRow(mapPage, row.data(), row.size(), ref)) return ref;
    mapPage = allocPage();
    uint8_t* mp = pager_->modify(mapPage);
    mp[page::kType] = uint8_t(PageType::Data);
    mp[page::kMarker] = page::kMarkerValue;
    encodeLE16(mp + page::kFreeSpace, uint32_t(layout().emptyDataPageFree()));
    if (!placeRow(mapPage, row.data(), row.size(), ref)) throw Error("A usage map does not fit on an empty page.");
    return ref;
}

// The new table's catalog row and permissions (copied from the Tables
// container's entries), and its in-memory view.
void JetDatabase::registerTable(const std::string& name, uint32_t tdefPage, const std::vector<ColumnDef>& defs) {
    uint32_t parent = 0x0F000001;
    for (const size_t at : catalogEntriesNamed("Tables")) {
        const CatalogEntry& e = catalog_[at];
        if ((e.type & 0x7F) == 3 && e.name == "Tables" && e.parentId == kTablesParent) parent = e.id;
    }
    // NOT NULL lives in the file as Access keeps it: the column's Required
    // property in the table's property list (the column flags stay as they are).
    // So does DEFAULT: the column's DefaultValue property.
    ColumnProperties props;
    for (const ColumnDef& d : defs) {
        props.columns.push_back(d.name);
        if (d.notNull) props.required.push_back(d.name);
        if (!d.defaultValue.empty()) props.defaults.emplace_back(d.name, d.defaultValue);
    }
    addObject(name, tdefPage, parent, 1, props);
    auto t = std::make_unique<StoredTable>(loadTable(tdefPage, name));
    if (!props.defaults.empty())
        for (const ColumnDef& d : defs) t->defaults.push_back(d.defaultValue);
    t->notNull.resize(defs.size());
    for (size_t i = 0; i < defs.size(); ++i) t->notNull[i] = defs[i].notNull;
    notNullByPage_[tdefPage] = t->notNull;
    tables_[tdefPage] = std::move(t);
    last_ = nullptr;
}

namespace {

// A table of at least this many pages is big enough for its drop to be a
// durability point (4 MB of pages).
constexpr size_t kManyPages = 1024;

}  // namespace

void JetDatabase::dropTable(const std::string& name) {
    requireWritable();
    pager_->trim();
    size_t freed = 0;
    atomically([&] { freed = dropTableNow(name); });
    // What usually follows is the table made again, into the pages it gave
    // back. Free at a durability point, they are taken again as new pages;
    // free only since, each would first have its old bytes read and
    // journaled.
    if (freed >= kManyPages) makeDurableQuietly();
    else afterStatement();
}

size_t JetDatabase::dropTableNow(const std::string& name) {
    const std::string stored = findTable(name);
    auto entry = std::find_if(catalog_.begin(), catalog_.end(),
                              [&](const CatalogEntry& e) { return e.name == stored && (e.type & 0x7F) == 1; });
    if (stored.empty() || entry == catalog_.end()) throw jeterr::tableMissing(name);
    if (entry->flags & 0x80000002u) throw jeterr::readOnly();
    StoredTable& t = tableByName(stored);
    requireDroppable(t, stored);
    const std::vector<uint32_t> pages = tablePages(t);
    // Catalog: the object's row, its permissions, the index entries.
    freeCatalogLongValues(entry->rowRef);
    removeObject(entry);
    notNullByPage_.erase(t.page);
    tables_.erase(t.page);
    last_ = nullptr;
    for (uint32_t pg : pages) releasePage(pg);
    return pages.size();
}

void JetDatabase::requireDroppable(const StoredTable& t, const std::string& stored) {
    // An attachment or multi-value field keeps its values in a table of its
    // own, described in MSysComplexColumns; dropping only this table would
    // leave those behind.
    for (const StoredColumn& c : t.columns)
        if (c.is(ColType::Complex))
            throw Error(jeterr::kNotSupported, "The table '" + t.name + "' in '" + pager_->path() +
                                                   "' has an attachment or multi-value field ('" + c.name +
                                                   "'), which this database engine cannot drop.");
    // Relationships would be left dangling: refuse like the engine does.
    if (findTable("MSysRelationships").empty()) return;
    StoredTable& rel = tableByName("MSysRelationships");
    bool used = false;
    forEachRow(rel, [&](uint32_t, const std::vector<Value>& v) {
        for (size_t k = 0; k < rel.columns.size(); ++k)
            if ((rel.columns[k].name == "szObject" || rel.columns[k].name == "szReferencedObject") &&
                v[k].kind() == Kind::Text && nameKey(v[k].text()) == nameKey(stored))
                used = true;
    });
    if (used) throw jeterr::cannotDelete();
}

// Pages owned by the table, sorted. Only the first bytes of each listed page
// are looked at (type and owner), without keeping it: a big table is given
// back without being read into memory.
std::vector<uint32_t> JetDatabase::tablePages(const StoredTable& t) {
    std::vector<uint32_t> pages(t.tdefPages.begin(), t.tdefPages.end());
    std::vector<uint32_t> maps{t.ownedMap, t.freeMap};
    for (const auto& ix : t.indexes) maps.push_back(ix.mapRef);
    for (const auto& m : t.longValueMaps) {
        maps.push_back(m.owned);
        maps.push_back(m.free);
    }
    addMapPages(t, t.ownedMap, true, pages);
    addMapPages(t, t.freeMap, false, pages);
    for (const auto& ix : t.indexes) addMapPages(t, ix.mapRef, true, pages);
    for (const auto& m : t.longValueMaps) {
        addMapPages(t, m.owned, true, pages);
        addMapPages(t, m.free, false, pages);
    }
    // A usage-map page goes too when every row on it belongs to this table.
    std::map<uint32_t, std::set<uint32_t>> mapRows;
    for (uint32_t r : maps)
        if (r) mapRows[r >> 8].insert(r & 0xFF);
    for (const auto& [pg, rows] : mapRows) {
        const uint8_t* q = pager_->read(pg);
        if (isPage(q, PageType::Data) && decodeLE32(q + page::kOwner) == 0 &&
            decodeLE16(q + layout().dataPage.rowCount) == rows.size())
            pages.push_back(pg);
    }
    std::sort(pages.begin(), pages.end());
    pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    return pages;
}

// The bitmap pages of a usage map, and (contents) the pages it lists that
// are the table's.
void JetDatabase::addMapPages(const StoredTable& t, uint32_t ref, bool contents, std::vector<uint32_t>& pages) {
    if (ref == 0) return;
    auto [p, n] = findRow(ref);
    if (n >= 1 && p[0] == usagemap::kReference)
        for (size_t j = 0; j < (n - usagemap::kRefs) / usagemap::kRefSize; ++j)
            if (uint32_t bp = decodeLE32(p + usagemap::ref(j)); bp) pages.push_back(bp);
    if (!contents) return;
    uint8_t q[8];
    size_t seen = 0;
    for (uint32_t pg : mapPages(ref)) {
        if ((++seen & 255) == 0) stillBusy();
        pager_->peek(pg, q, sizeof q);
        if ((isPage(q, PageType::Data) && (decodeLE32(q + page::kOwner) == t.page ||
                                           std::memcmp(q + datapage::kOwner, datapage::kLongValueMark, 4) == 0)) ||
            ((isPage(q, PageType::IndexNode) || isPage(q, PageType::IndexLeaf)) &&
             decodeLE32(q + page::kOwner) == t.page))
            pages.push_back(pg);
    }
}

// The catalog row's long values kept outside it (a long property list) go
// with it: their rows are marked deleted.
void JetDatabase::freeCatalogLongValues(uint32_t rowRef) { freeLongValues(*tables_.at(2), rowRef); }

// The long values a row of t keeps outside it: their rows are marked
// deleted; with `reclaim` their bytes go back to their pages (the slots stay,
// empty), which join the column's long-value pages with free space.
void JetDatabase::freeLongValues(StoredTable& t, uint32_t rowRef, bool reclaim) {
    std::vector<std::pair<int, uint32_t>> lvRows;  // column, row
    auto [r, n] = findRow(rowRef);
    // The heads of the row's Memo/OLE values (column, kind, first row).
    std::vector<std::tuple<int, uint8_t, uint32_t>> heads;
    std::vector<Value> unused;
    decodeRowWith(t, r, n, unused, [&](const StoredColumn& c, const uint8_t* p, size_t len) {
        if (c.isLong() && len >= longvalue::kHeadSize)
            heads.emplace_back(c.number, p[longvalue::kKind], decodeLE32(p + longvalue::kRef));
        return Value();
    });
    for (auto [col, kind, ref] : heads) {
        if (kind == 0x40) lvRows.emplace_back(col, ref);
        for (size_t hops = 0; kind == 0x00 && ref != 0 && hops < 0x4000; ++hops) {
            lvRows.emplace_back(col, ref);
            auto [q, m] = findRow(ref);
            ref = m >= 4 ? decodeLE32(q) : 0;
        }
    }
    for (auto [col, ref] : lvRows) {
        if (reclaim && reclaimRow(ref)) {
            longValueRoomLeft(t, col, refPage(ref));
            continue;
        }
        findRow(ref);
        uint8_t* p = pager_->modify(ref >> 8);
        const size_t at = layout().dataPage.rowOffset(refRow(ref));
        encodeLE16(p + at, decodeLE16(p + at) | 0xC000);
    }
}

}  // namespace tp::db::jet
