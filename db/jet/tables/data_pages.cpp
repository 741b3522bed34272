// Rows on data pages: finding a row by its pg:row reference, walking a
// page's row slots, placing new rows, deleting them; inserting a table row.
#include <algorithm>
#include <cstring>
#include <functional>

#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

std::pair<const uint8_t*, size_t> JetDatabase::findRow(uint32_t ref) {
    const uint32_t page = refPage(ref), row = refRow(ref);
    if (page == 0 || page >= pager_->pageCount())
        damaged("row pointer to page " + std::to_string(page) + " out of range");
    const uint8_t* p = pager_->read(page);
    if (!isPage(p, PageType::Data))
        damaged("row pointer to page " + std::to_string(page) + ", which is not a data page");
    const DataPageLayout& L = layout().dataPage;
    const uint32_t count = decodeLE16(p + L.rowCount);
    const size_t rowsEnd = L.rowOffset(count);
    if (row >= count || rowsEnd > ps_)
        damaged("row " + std::to_string(row) + " of page " + std::to_string(page) + " does not exist");
    const uint32_t start = decodeLE16(p + L.rowOffset(row)) & datapage::kRowOffsetMask;
    const uint32_t end = row == 0 ? ps_ : decodeLE16(p + L.rowOffset(row - 1)) & datapage::kRowOffsetMask;
    if (start < rowsEnd || end > ps_ || start > end)
        damaged("row " + std::to_string(row) + " of page " + std::to_string(page) + " has a bad offset");
    return {p + start, end - start};
}

void JetDatabase::pageRows(uint32_t page, const uint8_t* p, std::vector<RowSpan>& out, bool liveOnly) {
    out.clear();
    const DataPageLayout& L = layout().dataPage;
    const uint32_t count = decodeLE16(p + L.rowCount);
    const size_t rowsEnd = L.rowOffset(count);
    if (rowsEnd > ps_) damaged("page " + std::to_string(page) + " has a bad row count");
    uint32_t prevEnd = ps_;
    for (uint32_t r = 0; r < count; ++r) {
        const uint16_t raw = decodeLE16(p + L.rowOffset(r));
        const uint32_t start = raw & datapage::kRowOffsetMask;
        const uint32_t end = r == 0 ? ps_ : prevEnd;
        prevEnd = start;
        if (liveOnly && (raw & datapage::kRowOverflow)) continue;
        if (start < rowsEnd || start > end || end > ps_)
            damaged("row " + std::to_string(r) + " of page " + std::to_string(page) + " has a bad offset");
        if (end == start) continue;
        out.push_back({rowRef(page, r), p + start, end - start});
    }
}

std::pair<uint8_t*, size_t> JetDatabase::rowForWrite(uint32_t ref) {
    auto [p, n] = findRow(ref);
    uint8_t* base = pager_->modify(refPage(ref));
    return {base + (p - pager_->read(refPage(ref))), n};
}

// The header of an empty data page of `owner` (a TDEF page, or the
// long-value mark written after it).
void startDataPage(uint8_t* p, uint32_t owner, const Layout& L) {
    p[page::kType] = uint8_t(PageType::Data);
    p[page::kMarker] = page::kMarkerValue;
    encodeLE16(p + datapage::kFreeSpace, uint32_t(L.emptyDataPageFree()));
    encodeLE32(p + datapage::kOwner, owner);
}

uint32_t JetDatabase::newDataPage(uint32_t owner, uint32_t after) {
    const uint32_t page = allocPage(after + 1);
    uint8_t* p = pager_->modify(page);
    startDataPage(p, owner, layout());
    return page;
}

bool JetDatabase::placeRow(uint32_t page, const uint8_t* row, size_t n, uint32_t& ref) {
    const uint8_t* r = pager_->read(page);
    const DataPageLayout& L = layout().dataPage;
    const uint32_t count = decodeLE16(r + L.rowCount);
    const uint32_t free = decodeLE16(r + datapage::kFreeSpace);
    if (count >= datapage::kMaxRows) return false;
    const size_t lowest = L.rowOffset(count) + free;
    if (lowest > ps_) damaged("page " + std::to_string(page) + " has a bad free-space count");
    if (free < n + datapage::kRowOffsetSize) return false;
    const size_t start = lowest - n;
    // Only the free-space and row counts, the new offset and the row's bytes
    // change.
    uint8_t* p = pager_->modifyRanges(page, {{uint16_t(datapage::kFreeSpace), 2},
                                             {uint16_t(L.rowCount), 2},
                                             {uint16_t(L.rowOffset(count)), uint16_t(datapage::kRowOffsetSize)},
                                             {uint16_t(start), uint16_t(n)}});
    std::memcpy(p + start, row, n);
    encodeLE16(p + L.rowOffset(count), uint32_t(start));
    encodeLE16(p + L.rowCount, count + 1);
    encodeLE16(p + datapage::kFreeSpace, uint32_t(free - n - datapage::kRowOffsetSize));
    ref = rowRef(page, count);
    return true;
}

uint32_t JetDatabase::appendRow(StoredTable& t, const std::vector<uint8_t>& row) {
    uint32_t ref = 0;
    if (t.currentPage == 0) {
        // The table's last data page, found once per session (a table
        // larger than the cache passes through it).
        size_t seen = 0;
        for (uint32_t pg : mapPages(t.ownedMap)) {
            if ((++seen & 255) == 0) pager_->trim(true);
            const uint8_t* p = pager_->read(pg);
            if (dataPageOf(t, p)) t.currentPage = pg;
        }
    }
    if (t.currentPage != 0 && placeRow(t.currentPage, row.data(), row.size(), ref)) return ref;
    if (placeOnPageWithRoom(t, row, ref)) return ref;
    const uint32_t old = t.currentPage;
    t.currentPage = newDataPage(t.page, t.currentPage);
    mapSet(t.ownedMap, t.currentPage, true);
    if (old) mapSet(t.freeMap, old, false);
    mapSet(t.freeMap, t.currentPage, true);
    if (!placeRow(t.currentPage, row.data(), row.size(), ref)) throw jeterr::recordTooLarge();
    return ref;
}

// A page of the table's free-space map that holds the row, before a new
// page is taken, as Access fills the room rows removed left behind. A page
// the row does not fit leaves the map; the page found takes the rows that
// follow while they fit.
bool JetDatabase::placeOnPageWithRoom(StoredTable& t, const std::vector<uint8_t>& row, uint32_t& ref) {
    if (t.freeMap == 0) return false;
    if (!t.roomKnown) {
        t.roomPages = mapPages(t.freeMap);
        std::reverse(t.roomPages.begin(), t.roomPages.end());
        t.roomKnown = true;
    }
    while (!t.roomPages.empty()) {
        const uint32_t pg = t.roomPages.back();
        t.roomPages.pop_back();
        if (pg == t.currentPage || !dataPageOf(t, pager_->read(pg))) continue;
        if (placeRow(pg, row.data(), row.size(), ref)) {
            if (t.currentPage) mapSet(t.freeMap, t.currentPage, false);
            t.currentPage = pg;
            return true;
        }
        mapSet(t.freeMap, pg, false);
    }
    return false;
}

// The rows after the removed one (lower in the page) move up by its length;
// its slot keeps its place with no bytes, marked deleted (as Access leaves
// it), and the page's free space grows by the row's length.
bool JetDatabase::reclaimRow(uint32_t ref) {
    findRow(ref);
    const uint32_t page = refPage(ref), row = refRow(ref);
    const DataPageLayout& L = layout().dataPage;
    const uint8_t* r = pager_->read(page);
    const uint32_t count = decodeLE16(r + L.rowCount);
    auto start = [&](uint32_t s) { return uint32_t(decodeLE16(r + L.rowOffset(s)) & datapage::kRowOffsetMask); };
    const uint32_t end = row == 0 ? ps_ : start(row - 1);
    uint32_t lowest = start(row);
    for (uint32_t s = row + 1; s < count; ++s) {
        if (start(s) > start(s - 1)) return false;
        lowest = start(s);
    }
    const uint32_t free = decodeLE16(r + datapage::kFreeSpace);
    if (lowest != L.rowOffset(count) + free) return false;
    const uint32_t len = end - start(row);
    uint8_t* p = pager_->modify(page);
    std::memmove(p + lowest + len, p + lowest, start(row) - lowest);
    for (uint32_t s = row + 1; s < count; ++s) {
        const uint32_t raw = decodeLE16(p + L.rowOffset(s));
        encodeLE16(p + L.rowOffset(s), raw + len);
    }
    encodeLE16(p + L.rowOffset(row), end | datapage::kRowDeleted | datapage::kRowOverflow);
    encodeLE16(p + datapage::kFreeSpace, free + len);
    return true;
}

void JetDatabase::removeTableRow(StoredTable& t, uint32_t ref) {
    if (!reclaimRow(ref)) {
        removeRow(ref);
        return;
    }
    const uint32_t page = refPage(ref);
    if (page == t.currentPage) return;  // new rows go there first anyway
    mapSet(t.freeMap, page, true);
    if (t.roomKnown && std::find(t.roomPages.begin(), t.roomPages.end(), page) == t.roomPages.end()) {
        // Kept highest first: the lowest page is tried first.
        t.roomPages.insert(std::upper_bound(t.roomPages.begin(), t.roomPages.end(), page, std::greater<>()), page);
    }
}

void JetDatabase::setRowCount(StoredTable& t, uint32_t count) {
    t.rowCount = count;
    uint8_t* p = pager_->modify(t.page);
    encodeLE32(p + layout().tdef.rowCount, count);
    encodeLE32(p + layout().tdef.autoNumber, t.autoNumber);
}

void JetDatabase::insertInto(StoredTable& t, const std::vector<Value>& values) {
    std::vector<uint8_t> row;
    encodeRow(t, values, row);
    appendRow(t, row);
    setRowCount(t, t.rowCount + 1);
}

void JetDatabase::insertRow(const std::string& table, const std::vector<Value>& values) {
    requireWritable();
    pager_->trim();
    atomically([&] {
        StoredTable& t = tableByName(table);
        if (t.tableType == kSystemTable) throw jeterr::readOnly();
        for (const StoredColumn& c : t.columns)
            if (c.calculated() || unreadableColumn(c))
                throw Error(jeterr::kNotSupported, "The column '" + c.name + "' of table '" + t.name + "' in '" +
                                                       pager_->path() + "' is " +
                                                       (c.calculated() ? "a calculated field" : unreadableColumn(c)) +
                                                       ", which this database engine cannot write.");
        if (!t.indexes.empty()) requireKeyable(t);
        checkRules(t, values);
        static thread_local std::vector<uint8_t> row;
        encodeRow(t, values, row);
        if (!t.indexes.empty()) checkUnique(t, row);
        try {
            if (t.manySide) checkRelated(t, row);
            appendRow(t, row);
        } catch (...) {
            // The row's keys, taken by the unique check, leave with it (the
            // statement may not have changed a page to undo).
            std::vector<Value> v;
            decodeRow(t, row.data(), row.size(), v);
            forgetKeys(t, v);
            throw;
        }
        // The row count and the next autonumber reach the definition page,
        // like the table's own indexes, at the next durability point (one
        // sorted rebuild instead of a tree update per row).
        ++t.rowCount;
        t.countStale = true;
        if (!t.indexes.empty()) t.indexesStale = true;
    });
    afterStatement();
}

void JetDatabase::deleteRow(StoredTable& t, uint32_t ref) {
    findRow(ref);
    uint8_t* p = pager_->modify(refPage(ref));
    const size_t at = layout().dataPage.rowOffset(refRow(ref));
    encodeLE16(p + at, decodeLE16(p + at) | datapage::kRowDeleted | datapage::kRowOverflow);
    if (t.rowCount > 0) setRowCount(t, t.rowCount - 1);
}

}  // namespace tp::db::jet
