// Access 97 (Jet 3) table definitions as the engine writes them: the
// narrower head and column descriptors, names of one byte a character in the
// code page with a one-byte length, the long-value maps; indexes only in the
// system tables of a new file. The header of a new Access 97 file.
#include <cstring>

#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

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

namespace {

// A Jet 3 real index block (39 bytes).
void putRealIndex3(std::vector<uint8_t>& s, const StoredIndex& ix) {
    const RealIndexLayout& L = kJet3.realIndex;
    uint8_t b[kJet3.realIndex.size] = {};
    for (size_t k = 0; k < size_t(realindex::kMaxColumns); ++k) {
        uint8_t* e = b + L.column(k);
        encodeLE16(e, k < ix.columns.size() ? uint32_t(ix.columns[k]) : realindex::kNoColumn);
        if (k < ix.columns.size()) e[realindex::kColumnOrder] = ix.ascending[k] ? realindex::kAscending : 0x00;
    }
    encodeLE32(b + L.map, ix.mapRef);
    encodeLE32(b + L.root, ix.root);
    b[L.flags] = ix.flags;
    putBytes(s, b, sizeof b);
}

// A Jet 3 logical index block (20 bytes) of index i, without a relationship.
void putLogicalIndex3(std::vector<uint8_t>& s, size_t i, uint8_t kind) {
    const LogicalIndexLayout& L = kJet3.logicalIndex;
    uint8_t b[kJet3.logicalIndex.size] = {};
    encodeLE32(b + L.number, uint32_t(i));
    encodeLE32(b + L.real, uint32_t(i));
    encodeLE32(b + L.relIndex, logicalindex::kNoRelIndex);
    b[L.cascadeUpdate] = logicalindex::kNoCascade;
    b[L.cascadeDelete] = logicalindex::kNoCascade;
    b[L.kind] = kind;
    putBytes(s, b, sizeof b);
}

}  // namespace

std::vector<uint8_t> JetDatabase::buildTdef3(const std::vector<StoredColumn>& cols,
                                             const std::vector<LongValueMaps>& lv, uint32_t owned, uint32_t freeMap,
                                             const SystemIndexes& system) const {
    const TdefLayout& T = kJet3.tdef;
    const size_t nix = system.reals.size();
    // The head and the index counts at once (growing the vector by the
    // counts trips GCC 12's bounds warning).
    std::vector<uint8_t> s(T.indexCounts + T.indexCountSize * nix, 0);
    s[page::kType] = uint8_t(PageType::TableDef);
    s[page::kMarker] = page::kMarkerValue;
    s[T.tableType] = nix ? kSystemTable : kUserTable;
    int varCols = 0;
    for (const auto& c : cols)
        if (!c.fixed()) ++varCols;
    encodeLE16(&s[T.maxCols], uint32_t(cols.size()));
    encodeLE16(&s[T.varCols], uint32_t(varCols));
    encodeLE16(&s[T.numCols], uint32_t(cols.size()));
    encodeLE32(&s[T.ownedMap], owned);
    encodeLE32(&s[T.freeMap], freeMap);
    encodeLE32(&s[T.numLogical], uint32_t(nix));
    encodeLE32(&s[T.numReal], uint32_t(nix));
    for (const auto& c : cols) putColumn3(s, c, sortLcid_, codePage_);
    for (const auto& c : cols) {
        std::vector<uint8_t> name;
        if (!encodeNarrowText(c.name, codePage_, name) || name.size() > 255) throw jeterr::invalidName(c.name);
        s.push_back(uint8_t(name.size()));
        putBytes(s, name.data(), name.size());
    }
    for (const auto& ix : system.reals) putRealIndex3(s, ix);
    for (size_t i = 0; i < nix; ++i) putLogicalIndex3(s, i, system.kinds[i]);
    for (const auto& n : system.names) {
        s.push_back(uint8_t(n.size()));
        putBytes(s, n.data(), n.size());
    }
    finishTdef(s, lv);
    return s;
}

// Page 0 of a new Access 97 file: 2048 bytes, no creation date; the
// password (up to 20 bytes in the code page) is masked with the rest.
void JetDatabase::writeHeader3(const std::string& password) {
    using namespace header;
    uint8_t* h = pager_->modify(0);
    std::memset(h, 0, ps_);
    h[page::kMarker] = page::kMarkerValue;
    std::memcpy(h + kFormatId, kJetId, kFormatIdSize);
    std::memcpy(h + kConstantWords, kConstantWordsValue, sizeof kConstantWordsValue);
    h[kJet3Unknown38] = 0x01;
    encodeLE16(h + kSortOrder3, sortLcid_);
    encodeLE16(h + kCodePage, codePage_);
    std::vector<uint8_t> pw;
    if (!encodeNarrowText(password, codePage_, pw) || pw.size() > kPasswordSize3) throw jeterr::notValidPassword();
    if (!pw.empty()) std::memcpy(h + kPassword, pw.data(), pw.size());
    encodeLE16(h + kJet3Unknown56, kJet3Unknown56Value);
    h[kWordTable3] = 0x01;
    h[kWordTable3 + 1] = 0x01;
    h[kWordTable3 + 2] = 0x08;
    h[kWordTable3 + 3] = 0x01;
    for (int i = 2; i < 256; ++i) h[kWordTable3 + 1 + 2 * i] = 0x01;
    coding::applyHeaderMask(h, 0);
}

}  // namespace tp::db::jet
