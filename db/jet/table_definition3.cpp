// Access 97 (Jet 3) table definitions as the engine writes them: the
// narrower head and column descriptors, names of one byte a character in the
// code page with a one-byte length, no indexes, the long-value maps.
#include <cstring>

#include "db/jet/jet_database.h"

namespace tp::db::jet {

namespace {

// A Jet 3 column descriptor (18 bytes): text columns and the others alike
// carry the sort order and the code page, as Access 97 writes them.
void putColumn3(std::vector<uint8_t>& s, const StoredColumn& c, uint16_t lcid, unsigned codePage) {
    const ColumnLayout& L = kJet3.column;
    uint8_t d[kJet3.column.size] = {};
    d[L.type] = c.rawType;
    encodeLE16(d + L.number, uint32_t(c.number));
    encodeLE16(d + L.varIndex, uint32_t(c.varIndex));
    encodeLE16(d + L.number + 4, uint32_t(c.number));  // the column's index, as Access 97 repeats it
    encodeLE16(d + tdef::kColumn3Unknown, 1);
    encodeLE16(d + L.textSort, lcid);
    encodeLE16(d + tdef::kColumn3CodePage, codePage);
    d[L.flags] = c.flags;
    encodeLE16(d + L.fixedOffset, uint32_t(c.fixedOffset));
    encodeLE16(d + L.length, uint32_t(c.length));
    putBytes(s, d, sizeof d);
}

}  // namespace

std::vector<uint8_t> JetDatabase::buildTdef3(const std::vector<StoredColumn>& cols,
                                             const std::vector<LongValueMaps>& lv, uint32_t owned,
                                             uint32_t freeMap) const {
    const TdefLayout& T = kJet3.tdef;
    std::vector<uint8_t> s(T.indexCounts, 0);
    s[page::kType] = uint8_t(PageType::TableDef);
    s[page::kMarker] = page::kMarkerValue;
    s[T.tableType] = kUserTable;
    int varCols = 0;
    for (const auto& c : cols)
        if (!c.fixed()) ++varCols;
    encodeLE16(&s[T.maxCols], uint32_t(cols.size()));
    encodeLE16(&s[T.varCols], uint32_t(varCols));
    encodeLE16(&s[T.numCols], uint32_t(cols.size()));
    encodeLE32(&s[T.ownedMap], owned);
    encodeLE32(&s[T.freeMap], freeMap);
    for (const auto& c : cols) putColumn3(s, c, sortLcid_, codePage_);
    for (const auto& c : cols) {
        std::vector<uint8_t> name;
        if (!encodeNarrowText(c.name, codePage_, name) || name.size() > 255) throw jeterr::invalidName(c.name);
        s.push_back(uint8_t(name.size()));
        putBytes(s, name.data(), name.size());
    }
    for (const auto& m : lv) {
        putLE16(s, uint32_t(m.column));
        putLE32(s, m.owned);
        putLE32(s, m.free);
    }
    putLE16(s, lvmaps::kEnd);
    encodeLE32(&s[tdef::kLength], uint32_t(s.size()));
    return s;
}

}  // namespace tp::db::jet
