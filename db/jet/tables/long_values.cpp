// Long values (Memo, OLE): reading the 12-byte head of a row's value and
// its LVAL rows, writing a value's LVAL row.
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

Value JetDatabase::readLongValue(const StoredColumn& c, const uint8_t* p, size_t n) {
    std::vector<uint8_t> data;
    longValueBytes(c, p, n, data);
    if (c.is(ColType::Memo)) return Value(text(c, data.data(), data.size()));
    return Value(Bytes(std::move(data)));
}

void JetDatabase::longValueBytes(const StoredColumn& c, const uint8_t* p, size_t n, std::vector<uint8_t>& data) {
    using namespace longvalue;
    if (n < kHeadSize) damaged("long value of column '" + c.name + "' is too short");
    const size_t len = decodeLE24(p + kLength);
    const uint8_t kind = p[kKind];
    data.clear();
    if (kind == kInline) {
        if (len > n - kHeadSize) damaged("inline long value of column '" + c.name + "' is longer than its field");
        data.assign(p + kInlineData, p + kInlineData + len);
    } else if (kind == kSingle) {
        auto [r, rn] = findRow(decodeLE32(p + kRef));
        data.assign(r, r + std::min(rn, len));
    } else if (kind == kChain) {
        uint32_t ref = decodeLE32(p + kRef);
        std::unordered_set<uint32_t> seen;
        data.reserve(std::min<size_t>(len, 1 << 20));
        while (ref != 0) {
            if (!seen.insert(ref).second) damaged("long value chain of column '" + c.name + "' forms a cycle");
            auto [r, rn] = findRow(ref);
            if (rn < kChainData) damaged("long value chunk of column '" + c.name + "' is too short");
            if (data.size() + rn - kChainData > len) break;
            data.insert(data.end(), r + kChainData, r + rn);
            ref = decodeLE32(r + kNextRef);
        }
    } else {
        damaged("unknown long value type in column '" + c.name + "'");
    }
}

// A new long-value row goes to the column's current long-value page, else
// to a page of its free-space map with room (the room removed long values
// left), else to a new page.
uint32_t JetDatabase::putLongValueRow(StoredTable& t, int col, const uint8_t* data, size_t n) {
    uint32_t& cur = t.currentLvPage[col];
    uint32_t ref = 0;
    if (cur != 0 && placeLongValueRow(cur, data, n, ref)) return ref;
    if (placeOnLongValueRoom(t, col, data, n, ref)) {
        cur = refPage(ref);
        return ref;
    }
    cur = allocPage();
    uint8_t* p = pager_->modify(cur);
    startDataPage(p, 0, layout());
    std::memcpy(p + datapage::kOwner, datapage::kLongValueMark, sizeof datapage::kLongValueMark);
    for (const auto& m : t.longValueMaps)
        if (m.column == col) mapSet(m.owned, cur, true);
    if (auto owned = t.lvOwned.find(col); owned != t.lvOwned.end()) owned->second.insert(cur);
    if (!placeRow(cur, data, n, ref)) throw jeterr::recordTooLarge();
    return ref;
}

bool JetDatabase::placeLongValueRow(uint32_t page, const uint8_t* data, size_t n, uint32_t& ref) {
    return placeInEmptySlot(page, data, n, ref) || placeRow(page, data, n, ref);
}

// The rows of a page lie one below the other in slot order, the lowest at
// the end of the slots plus the free space. A removed row that left no
// bytes (its slot marked deleted, ending where it starts) takes the new row:
// the rows of the slots after it move down by its length.
bool JetDatabase::placeInEmptySlot(uint32_t page, const uint8_t* data, size_t n, uint32_t& ref) {
    const uint8_t* r = pager_->read(page);
    const DataPageLayout& L = layout().dataPage;
    const uint32_t count = decodeLE16(r + L.rowCount);
    const uint32_t free = decodeLE16(r + datapage::kFreeSpace);
    if (free < n || L.rowOffset(count) + free > ps_) return false;
    auto raw = [&](uint32_t s) { return uint32_t(decodeLE16(r + L.rowOffset(s))); };
    auto start = [&](uint32_t s) { return raw(s) & datapage::kRowOffsetMask; };
    uint32_t slot = count, end = ps_;
    for (uint32_t s = 0; s < count; ++s) {
        const uint32_t prev = s == 0 ? ps_ : start(s - 1);
        if (start(s) > prev) return false;
        if (slot == count && start(s) == prev && (raw(s) & datapage::kRowDeleted)) {
            slot = s;
            end = prev;
        }
    }
    const uint32_t lowest = count == 0 ? ps_ : start(count - 1);
    if (slot == count || lowest != L.rowOffset(count) + free) return false;
    uint8_t* p = pager_->modify(page);
    std::memmove(p + lowest - n, p + lowest, end - lowest);
    for (uint32_t s = slot + 1; s < count; ++s) {
        const uint32_t v = decodeLE16(p + L.rowOffset(s));
        encodeLE16(p + L.rowOffset(s), v - uint32_t(n));
    }
    std::memcpy(p + end - n, data, n);
    encodeLE16(p + L.rowOffset(slot), end - uint32_t(n));
    encodeLE16(p + datapage::kFreeSpace, free - uint32_t(n));
    ref = rowRef(page, slot);
    return true;
}

// The column's pages with room: those of its long-value free-space map (a
// file without such maps, Access 97's, knows only the room this session
// left), each read once for its room.
StoredTable::LongValueRoom& JetDatabase::longValueRoom(StoredTable& t, const LongValueMaps& maps) {
    StoredTable::LongValueRoom& room = t.lvRoom[maps.column];
    if (!room.known && maps.free != 0)
        for (uint32_t pg : mapPages(maps.free)) noteLongValueRoom(room, pg);
    room.known = true;
    return room;
}

// A long-value page's room as the page gives it (a page that is not one is
// left out).
void JetDatabase::noteLongValueRoom(StoredTable::LongValueRoom& room, uint32_t page) {
    const uint8_t* p = pager_->read(page);
    if (!isPage(p, PageType::Data) ||
        std::memcmp(p + datapage::kOwner, datapage::kLongValueMark, sizeof datapage::kLongValueMark) != 0)
        return room.drop(page);
    room.set(page, decodeLE16(p + datapage::kFreeSpace));
}

// Of the pages with room enough, the one with the least takes the row (the
// larger rooms stay for the larger rows). A page that cannot take it
// although it has the room (no slot left) leaves the list and the
// free-space map.
bool JetDatabase::placeOnLongValueRoom(StoredTable& t, int col, const uint8_t* data, size_t n, uint32_t& ref) {
    const auto maps = std::find_if(t.longValueMaps.begin(), t.longValueMaps.end(),
                                   [&](const LongValueMaps& m) { return m.column == col; });
    if (maps == t.longValueMaps.end()) return false;
    StoredTable::LongValueRoom& room = longValueRoom(t, *maps);
    const uint32_t need = uint32_t(n + datapage::kRowOffsetSize);
    while (true) {
        const auto best = room.byRoom.lower_bound({need, 0});
        if (best == room.byRoom.end()) return false;
        const uint32_t pg = best->second;
        const bool placed = placeLongValueRow(pg, data, n, ref);
        noteLongValueRoom(room, pg);
        if (placed) return true;
        // Less room than last seen (rows placed there since): kept with it.
        const auto now = room.roomOf.find(pg);
        if (now != room.roomOf.end() && now->second < need) continue;
        if (maps->free != 0) mapSet(maps->free, pg, false);
        room.drop(pg);
    }
}

// Slots at the end of the page's slots whose rows were removed and left no
// bytes go: nothing names a removed long-value row.
void JetDatabase::dropEmptyLastSlots(uint32_t page) {
    const uint8_t* r = pager_->read(page);
    const DataPageLayout& L = layout().dataPage;
    uint32_t count = decodeLE16(r + L.rowCount);
    uint32_t free = decodeLE16(r + datapage::kFreeSpace);
    auto start = [&](uint32_t s) { return uint32_t(decodeLE16(r + L.rowOffset(s))) & datapage::kRowOffsetMask; };
    const uint32_t was = count;
    while (count > 0 && (decodeLE16(r + L.rowOffset(count - 1)) & datapage::kRowDeleted) &&
           start(count - 1) == (count == 1 ? ps_ : start(count - 2)) && L.rowOffset(count) + free == start(count - 1)) {
        --count;
        free += uint32_t(datapage::kRowOffsetSize);
    }
    if (count == was) return;
    uint8_t* p = pager_->modify(page);
    std::memset(p + L.rowOffset(count), 0, (was - count) * datapage::kRowOffsetSize);
    encodeLE16(p + L.rowCount, count);
    encodeLE16(p + datapage::kFreeSpace, free);
}

void JetDatabase::longValueRoomLeft(StoredTable& t, int col, uint32_t page) {
    dropEmptyLastSlots(page);
    const auto maps = std::find_if(t.longValueMaps.begin(), t.longValueMaps.end(),
                                   [&](const LongValueMaps& m) { return m.column == col; });
    if (maps == t.longValueMaps.end()) return;
    StoredTable::LongValueRoom& room = longValueRoom(t, *maps);
    // Only a page of the column's long-value map joins its pages with room.
    if (!t.lvOwned.count(col)) {
        const std::vector<uint32_t> owned = mapPages(maps->owned);
        t.lvOwned[col] = std::unordered_set<uint32_t>(owned.begin(), owned.end());
        // Without a free-space map (Access 97) the room earlier sessions
        // left is found on the column's pages themselves, once a session
        // removes long values (a session that only adds them places them
        // as before).
        if (maps->free == 0)
            for (uint32_t pg : owned) noteLongValueRoom(room, pg);
    }
    if (!t.lvOwned[col].count(page)) return;
    if (maps->free != 0) mapSet(maps->free, page, true);
    noteLongValueRoom(room, page);
}

// Long values: inline while the row stays within its limit, else in
// long-value pages (one row, or a chain of rows). The columns holding one
// are the long columns with a value, in column order; their data waits in
// varBuf_ after the variable values, and their heads go to the variable
// values' slots. `rowSize` is the row's size so far, heads included.
void JetDatabase::placeLongValues(StoredTable& t, const std::vector<Value>& values, size_t nvar, size_t nlongs,
                                  size_t rowSize) {
    std::vector<std::vector<uint8_t>>& var = varBuf_;
    for (size_t k = 0, li = 0; li < nlongs && k < t.columns.size(); ++k) {
        const StoredColumn& c = t.columns[k];
        if (!c.isLong() || values[k].isNull()) continue;
        const std::vector<uint8_t>& data = var[nvar + li++];
        std::vector<uint8_t>& head = var[size_t(c.varIndex)];
        head.assign(longvalue::kHeadSize, 0);
        const size_t len = data.size();
        if (len <= longvalue::kMaxInline && rowSize + len <= layout().maxRowSize) {
            rowSize += len;
            encodeLE24(head.data() + longvalue::kLength, uint32_t(len));
            head[longvalue::kKind] = longvalue::kInline;
            head.insert(head.end(), data.begin(), data.end());
        } else if (len <= layout().maxLongValueRow) {
            encodeLE24(head.data() + longvalue::kLength, uint32_t(len));
            head[longvalue::kKind] = longvalue::kSingle;
            encodeLE32(head.data() + longvalue::kRef, putLongValueRow(t, c.number, data.data(), len));
        } else {
            encodeLE24(head.data() + longvalue::kLength, uint32_t(len));
            head[longvalue::kKind] = longvalue::kChain;
            encodeLE32(head.data() + longvalue::kRef, putLongValueChain(t, c.number, data));
        }
    }
}

// A value too long for one LVAL row: rows of up to kMaxChainPart bytes, each starting
// with the reference of the next; the first row's reference.
uint32_t JetDatabase::putLongValueChain(StoredTable& t, int col, const std::vector<uint8_t>& data) {
    uint32_t first = 0, prev = 0;
    std::vector<uint8_t> chunk;
    const size_t part = layout().maxLongValueRow - longvalue::kChainData;
    for (size_t pos = 0; pos < data.size(); pos += part) {
        const size_t m = std::min<size_t>(part, data.size() - pos);
        chunk.assign(longvalue::kChainData, 0);
        chunk.insert(chunk.end(), data.begin() + long(pos), data.begin() + long(pos + m));
        const uint32_t ref = putLongValueRow(t, col, chunk.data(), chunk.size());
        if (prev) encodeLE32(rowForWrite(prev).first + longvalue::kNextRef, ref);
        else first = ref;
        prev = ref;
    }
    return first;
}

}  // namespace tp::db::jet
