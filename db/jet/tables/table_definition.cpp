// Table definitions (TDEF): column descriptors and their types, reading the
// definition of Jet 4/ACE and Access 97 tables, building and writing one.
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

// Why a column's values cannot be read, or nullptr when they can.
const char* unreadableColumn(const StoredColumn& c) {
    // clang-format off
    switch (c.rawType) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x07: case 0x08:
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0F: case 0x13:
        return nullptr;
    case 0x10: return c.calculated() ? "a calculated Decimal field" : nullptr;
    case 0x12: return "an attachment or multi-value field";
    case 0x14: return "an extended Date/Time field";
    default: return "of an unknown field type";
    }
    // clang-format on
}

ColType typeOf(uint8_t raw) {
    // clang-format off
    switch (raw) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x07: case 0x08:
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0F: case 0x10: case 0x12: case 0x13:
    case 0x14:
        return ColType(raw);
    default:
        return ColType::Binary;
    }
    // clang-format on
}

int fixedSizeOf(ColType t) {
    switch (t) {
    case ColType::Bool: return 0;
    case ColType::Byte: return 1;
    case ColType::Int: return 2;
    case ColType::Long: return 4;
    case ColType::Money: return 8;
    case ColType::Float: return 4;
    case ColType::Double: return 8;
    case ColType::DateTime: return 8;
    case ColType::Guid: return 16;
    case ColType::Numeric: return 17;
    case ColType::Complex: return 4;
    case ColType::BigInt: return 8;
    case ColType::ExtDateTime: return 42;
    default: return -1;
    }
}

FieldInfo fieldInfoOf(const StoredColumn& c) {
    FieldInfo f;
    f.name = c.name;
    // clang-format off
    switch (typeOf(c.rawType)) {
    case ColType::Bool: f.type = adtype::Boolean; f.definedSize = 2; f.nullable = false; break;
    case ColType::Byte: f.type = adtype::UnsignedTinyInt; f.definedSize = 1; f.precision = 3; break;
    case ColType::Int: f.type = adtype::SmallInt; f.definedSize = 2; f.precision = 5; break;
    case ColType::Long: f.type = adtype::Integer; f.definedSize = 4; f.precision = 10; break;
    case ColType::Money: f.type = adtype::Currency; f.definedSize = 8; f.precision = 19; break;
    case ColType::Float: f.type = adtype::Single; f.definedSize = 4; f.precision = 7; break;
    case ColType::Double: f.type = adtype::Double; f.definedSize = 8; f.precision = 15; break;
    case ColType::DateTime: f.type = adtype::Date; f.definedSize = 8; break;
    case ColType::Binary: f.type = adtype::VarBinary; f.definedSize = c.length; break;
    case ColType::Text: f.type = adtype::VarWChar; f.definedSize = c.narrowText ? c.length : c.length / 2; break;
    case ColType::OLE: f.type = adtype::LongVarBinary; f.definedSize = 0; break;
    case ColType::Memo: f.type = adtype::LongVarWChar; f.definedSize = 0; break;
    case ColType::Guid: f.type = adtype::GUID; f.definedSize = 16; break;
    case ColType::Numeric:
        f.type = adtype::Numeric; f.definedSize = 19; f.precision = c.misc[0]; f.numericScale = c.misc[1];
        break;
    case ColType::BigInt: f.type = adtype::BigInt; f.definedSize = 8; break;
    default: f.type = adtype::VarBinary; break;
    }
    // clang-format on
    return f;
}

ColumnDef columnDefOf(const StoredColumn& c) {
    ColumnDef d;
    d.name = c.name;
    d.type = typeOf(c.rawType);
    // clang-format off
    switch (d.type) {
    case ColType::Text: d.size = c.narrowText ? c.length : c.length / 2; break;
    case ColType::Binary: d.size = c.length; break;
    default: d.size = 0; break;
    }
    // clang-format on
    if (d.type == ColType::Numeric) {
        d.precision = c.misc[0];
        d.scale = c.misc[1];
    }
    // Access 97 sets 0x40 in other columns too (text, for one): there it
    // marks a GUID AutoNumber in Replication ID columns only.
    d.autoNumber = (c.flags & columnflag::kAutoNumber) ||
                   ((c.flags & columnflag::kGuidAutoNumber) && (!c.narrowText || d.type == ColType::Guid));
    d.fixedLength = c.fixed() && (d.type == ColType::Text || d.type == ColType::Binary);
    d.compressed = (c.extFlags & 0x01) && (d.type == ColType::Text || d.type == ColType::Memo);
    return d;
}

namespace {

// A real index's definition from its block: ten (column number, order)
// entries, usage map, root page, flags.
StoredIndex realIndex(const uint8_t* p, const RealIndexLayout& L) {
    StoredIndex ix;
    for (size_t k = 0; k < size_t(realindex::kMaxColumns); ++k) {
        const uint16_t cn = decodeLE16(p + L.column(k));
        if (cn == realindex::kNoColumn) continue;
        ix.columns.push_back(cn);
        ix.ascending.push_back(p[L.column(k) + realindex::kColumnOrder] & realindex::kAscending);
    }
    ix.mapRef = decodeLE32(p + L.map);
    ix.root = decodeLE32(p + L.root);
    ix.flags = p[L.flags];
    return ix;
}

LogicalIndex logicalIndex(const uint8_t* p, const LogicalIndexLayout& L) {
    LogicalIndex lx;
    lx.number = decodeLE32(p + L.number);
    lx.real = decodeLE32(p + L.real);
    lx.relSide = p[L.relSide];
    lx.relIndex = int32_t(decodeLE32(p + L.relIndex));
    lx.relTable = decodeLE32(p + L.relTable);
    lx.cascadeUpdate = p[L.cascadeUpdate];
    lx.cascadeDelete = p[L.cascadeDelete];
    lx.kind = p[L.kind];
    return lx;
}

// A column descriptor. Jet 3 keeps a text column's sort order apart from
// the decimal's precision and scale, and has no extra flags.
StoredColumn storedColumn(const uint8_t* c, const ColumnLayout& L) {
    StoredColumn col;
    col.rawType = c[L.type];
    col.number = decodeLE16(c + L.number);
    col.varIndex = decodeLE16(c + L.varIndex);
    col.flags = c[L.flags];
    col.fixedOffset = decodeLE16(c + L.fixedOffset);
    col.length = decodeLE16(c + L.length);
    if (L.extFlags != column::kNone) {
        std::memcpy(col.misc, c + L.misc, 4);
        col.extFlags = c[L.extFlags];
        return col;
    }
    col.misc[0] = c[L.misc];
    col.misc[1] = c[L.misc + 1];
    if (col.is(ColType::Text) || col.is(ColType::Memo)) {
        // Text: the sort order's locale id; the version is implied.
        col.misc[0] = c[L.textSort];
        col.misc[1] = c[L.textSort + 1];
        col.misc[3] = 0xFF;
    }
    col.narrowText = true;
    return col;
}

// The list that ends a table definition: per Memo/OLE column its number and
// its two usage maps, up to lvmaps::kEnd.
void readLongValueMaps(const std::vector<uint8_t>& s, size_t pos, StoredTable& t) {
    while (pos + 2 <= s.size() && decodeLE16(&s[pos]) != lvmaps::kEnd && pos + lvmaps::kSize <= s.size()) {
        LongValueMaps m;
        m.column = decodeLE16(&s[pos + lvmaps::kColumn]);
        m.owned = decodeLE32(&s[pos + lvmaps::kOwned]);
        m.free = decodeLE32(&s[pos + lvmaps::kFree]);
        t.longValueMaps.push_back(m);
        pos += lvmaps::kSize;
    }
    t.definitionEnd = std::min(pos + 2, s.size());
}

// The columns in number order, and the fixed area they fill.
void finishColumns(StoredTable& t) {
    std::stable_sort(t.columns.begin(), t.columns.end(),
                     [](const StoredColumn& a, const StoredColumn& b) { return a.number < b.number; });
    for (const auto& c : t.columns)
        if (c.fixed() && !c.is(ColType::Bool)) t.fixedSize = std::max(t.fixedSize, c.fixedOffset + c.length);
}

// The counts and maps at the head of a definition.
void readTdefHead(const std::vector<uint8_t>& s, const TdefLayout& L, StoredTable& t) {
    t.rowCount = decodeLE32(&s[L.rowCount]);
    t.autoNumber = decodeLE32(&s[L.autoNumber]);
    t.tableType = s[L.tableType];
    t.maxCols = decodeLE16(&s[L.maxCols]);
    t.varCols = decodeLE16(&s[L.varCols]);
    t.numCols = decodeLE16(&s[L.numCols]);
    t.ownedMap = decodeLE32(&s[L.ownedMap]);
    t.freeMap = decodeLE32(&s[L.freeMap]);
}

}  // namespace

// The definition's bytes: its first page whole, then each continuation page
// from kTdefContinuation.
std::vector<uint8_t> JetDatabase::readDefinitionPages(StoredTable& t) {
    std::vector<uint8_t> s;
    std::unordered_set<uint32_t> seen;
    uint32_t page = t.page;
    while (page != 0) {
        if (page >= pager_->pageCount()) damaged("table definition page " + std::to_string(page) + " out of range");
        if (!seen.insert(page).second) damaged("table definition pages of '" + t.name + "' form a cycle");
        const uint8_t* p = pager_->read(page);
        if (!isPage(p, PageType::TableDef))
            damaged("page " + std::to_string(page) + " of table '" + t.name + "' is not a table definition");
        if (s.empty()) s.insert(s.end(), p, p + ps_);
        else s.insert(s.end(), p + kTdefContinuation, p + ps_);
        t.tdefPages.push_back(page);
        page = decodeLE32(p + kTdefNext);
    }
    return s;
}

// A name of the definition at pos (columns, logical indexes): Jet 4 a
// 2-byte length and UTF-16, Jet 3 a 1-byte length and the code page.
std::string JetDatabase::readDefinitionName(const StoredTable& t, const std::vector<uint8_t>& s, size_t& pos) {
    const size_t lengthSize = layout().nameLengthSize;
    if (pos + lengthSize > s.size()) damaged("the definition of table '" + t.name + "' is truncated");
    const size_t len = lengthSize == 2 ? decodeLE16(&s[pos]) : s[pos];
    pos += lengthSize;
    if (pos + len > s.size()) damaged("the definition of table '" + t.name + "' is truncated");
    std::string name = jet3_ ? decodeNarrowText(&s[pos], len, codePage_) : decodeText(&s[pos], len);
    pos += len;
    return name;
}

void JetDatabase::readColumnNames(StoredTable& t, const std::vector<uint8_t>& s, size_t& pos) {
    for (auto& col : t.columns) col.name = readDefinitionName(t, s, pos);
}

// The real and logical indexes from pos (after the column names), their
// names, and where each part lies.
void JetDatabase::readIndexes(StoredTable& t, const std::vector<uint8_t>& s, size_t& pos, uint32_t numReal,
                              uint32_t numLogical) {
    const Layout& L = layout();
    auto need = [&](size_t at, size_t len) {
        if (at + len > s.size()) damaged("the definition of table '" + t.name + "' is truncated");
    };
    t.realAt = pos;
    for (uint32_t i = 0; i < numReal; ++i) {
        need(pos, L.realIndex.size);
        StoredIndex ix = realIndex(&s[pos], L.realIndex);
        ix.slotOffset = L.tdef.uniqueCount(i);
        ix.uniqueCount = decodeLE32(&s[ix.slotOffset]);
        t.indexes.push_back(ix);
        pos += L.realIndex.size;
    }
    need(pos, L.logicalIndex.size * size_t(numLogical));
    for (uint32_t i = 0; i < numLogical; ++i)
        t.logical.push_back(logicalIndex(&s[pos + L.logicalIndex.size * i], L.logicalIndex));
    pos += L.logicalIndex.size * size_t(numLogical);
    for (LogicalIndex& lx : t.logical) {
        lx.name = readDefinitionName(t, s, pos);
        t.manySide |= lx.foreign() && lx.relSide == 2;
    }
    t.indexesEnd = pos;
}

// A table definition of either version (Jet 3: narrower counts and
// descriptors, one-byte name lengths, names in the code page).
StoredTable JetDatabase::loadTable(uint32_t first, const std::string& name) {
    StoredTable t;
    t.name = name;
    t.page = first;
    const std::vector<uint8_t> s = readDefinitionPages(t);
    auto need = [&](size_t pos, size_t len) {
        if (pos + len > s.size()) damaged("the definition of table '" + name + "' is truncated");
    };
    t.definitionBytes = s.size();
    if (s.size() >= tdef::kLength + 4) t.definitionLength = decodeLE32(&s[tdef::kLength]);
    const Layout& L = layout();
    need(0, L.tdef.indexCounts);
    readTdefHead(s, L.tdef, t);
    const uint32_t numLogical = decodeLE32(&s[L.tdef.numLogical]);
    const uint32_t numReal = decodeLE32(&s[L.tdef.numReal]);
    if (numReal > tdef::kMaxIndexes || numLogical > tdef::kMaxIndexes)
        damaged("table '" + name + "' has too many indexes");
    size_t pos = L.tdef.columns(numReal);
    t.columnsAt = pos;
    need(pos, L.column.size * size_t(t.numCols));
    for (int i = 0; i < t.numCols; ++i)
        t.columns.push_back(storedColumn(&s[pos + L.column.size * size_t(i)], L.column));
    pos += L.column.size * size_t(t.numCols);
    readColumnNames(t, s, pos);
    readIndexes(t, s, pos, numReal, numLogical);
    readLongValueMaps(s, pos, t);
    finishColumns(t);
    return t;
}

// A Jet 4 column descriptor.
void putColumn(std::vector<uint8_t>& s, const StoredColumn& c) {
    uint8_t d[kColumn4.size] = {};
    d[column::kType] = c.rawType;
    encodeLE32(d + column::kStamp, kMagic);
    encodeLE16(d + column::kNumber, uint32_t(c.number));
    encodeLE16(d + column::kVarIndex, uint32_t(c.varIndex));
    std::memcpy(d + column::kMisc, c.misc, 4);
    d[column::kFlags] = c.flags;
    d[column::kExtFlags] = c.extFlags;
    encodeLE16(d + column::kFixedOffset, uint32_t(c.fixedOffset));
    encodeLE16(d + column::kLength, uint32_t(c.length));
    putBytes(s, d, sizeof d);
}

namespace {

// A Jet 4 real index block.
void putRealIndex(std::vector<uint8_t>& s, const StoredIndex& ix) {
    uint8_t b[kRealIndexSize] = {};
    encodeLE32(b, realindex::kMagic);
    for (size_t k = 0; k < size_t(realindex::kMaxColumns); ++k) {
        uint8_t* e = b + kRealIndex4.column(k);
        if (k < ix.columns.size()) {
            encodeLE16(e, uint32_t(ix.columns[k]));
            e[realindex::kColumnOrder] = ix.ascending[k] ? realindex::kAscending : 0x00;
        } else {
            encodeLE16(e, realindex::kNoColumn);
        }
    }
    encodeLE32(b + realindex::kMap, ix.mapRef);
    encodeLE32(b + realindex::kRoot, ix.root);
    b[realindex::kFlags] = ix.flags;
    putBytes(s, b, sizeof b);
}

// A Jet 4 logical index block of index i, without a relationship.
void putLogicalIndex(std::vector<uint8_t>& s, size_t i, uint8_t kind) {
    using namespace logicalindex;
    uint8_t b[kLogicalIndexSize] = {};
    encodeLE32(b + kStamp, kMagic);
    encodeLE32(b + kNumber, uint32_t(i));
    encodeLE32(b + kReal, uint32_t(i));
    encodeLE32(b + kRelIndex, kNoRelIndex);
    b[kCascadeUpdate] = kNoCascade;
    b[kCascadeDelete] = kNoCascade;
    b[kKind] = kind;
    putBytes(s, b, sizeof b);
}

void putName(std::vector<uint8_t>& s, const std::string& name) {
    const std::u16string u = utf8ToUtf16(name);
    putLE16(s, uint32_t(u.size() * 2));
    coding::putUtf16LE(s, u);
}

}  // namespace

std::vector<uint8_t> JetDatabase::buildTdef([[maybe_unused]] const std::string& name, uint8_t tableType,
                                            const std::vector<StoredColumn>& cols, const std::vector<StoredIndex>& idx,
                                            const std::vector<std::string>& idxNames,
                                            const std::vector<uint8_t>& idxTypes, const std::vector<LongValueMaps>& lv,
                                            uint32_t owned, uint32_t freeMap) {
    std::vector<uint8_t> s(kTdef4.indexCounts, 0);
    s[page::kType] = uint8_t(PageType::TableDef);
    s[page::kMarker] = page::kMarkerValue;
    encodeLE32(&s[tdef::kStamp], kMagic);
    s[tdef::kAutoNumberFlag] = 0x01;
    s[kTdef4.tableType] = tableType;
    int varCols = 0;
    for (const auto& c : cols)
        if (!c.fixed()) ++varCols;
    encodeLE16(&s[kTdef4.maxCols], uint32_t(cols.size()));
    encodeLE16(&s[kTdef4.varCols], uint32_t(varCols));
    encodeLE16(&s[kTdef4.numCols], uint32_t(cols.size()));
    encodeLE32(&s[kTdef4.numLogical], uint32_t(idx.size()));
    encodeLE32(&s[kTdef4.numReal], uint32_t(idx.size()));
    encodeLE32(&s[kTdef4.ownedMap], owned);
    encodeLE32(&s[kTdef4.freeMap], freeMap);
    for (size_t i = 0; i < idx.size(); ++i) s.insert(s.end(), kTdef4.indexCountSize, 0);
    for (const auto& c : cols) putColumn(s, c);
    for (const auto& c : cols) putName(s, c.name);
    for (const auto& ix : idx) putRealIndex(s, ix);
    for (size_t i = 0; i < idx.size(); ++i) putLogicalIndex(s, i, idxTypes[i]);
    for (const auto& n : idxNames) putName(s, n);
    finishTdef(s, lv);
    return s;
}

void finishTdef(std::vector<uint8_t>& s, const std::vector<LongValueMaps>& lv) {
    for (const auto& m : lv) {
        putLE16(s, uint32_t(m.column));
        putLE32(s, m.owned);
        putLE32(s, m.free);
    }
    putLE16(s, lvmaps::kEnd);
    encodeLE32(&s[tdef::kLength], uint32_t(s.size()));
}

void JetDatabase::writeTdef(uint32_t firstPage, const std::vector<uint8_t>& tdef) {
    size_t pos = 0;
    uint32_t page = firstPage;
    bool first = true;
    while (true) {
        uint8_t* p = pager_->modify(page);
        std::memset(p, 0, ps_);
        size_t take;
        if (first) {
            take = std::min(tdef.size(), size_t(ps_));
            std::memcpy(p, tdef.data(), take);
        } else {
            take = std::min(tdef.size() - pos, size_t(ps_ - kTdefContinuation));
            std::memcpy(p + kTdefContinuation, tdef.data() + pos, take);
            p[page::kType] = uint8_t(PageType::TableDef);
            p[page::kMarker] = page::kMarkerValue;
        }
        const size_t usedBytes = first ? take : take + kTdefContinuation;
        encodeLE16(p + page::kFreeSpace,
                   uint32_t(ps_ > usedBytes + kTdefContinuation ? ps_ - usedBytes - kTdefContinuation : 0));
        // Access 97 keeps "VC" where later versions count the free bytes.
        if (jet3_) std::memcpy(p + page::kFreeSpace, tdef::kJet3Mark, 2);
        pos += take;
        first = false;
        if (pos >= tdef.size()) {
            encodeLE32(p + kTdefNext, 0);
            break;
        }
        const uint32_t next = allocPage();
        p = pager_->modify(page);
        encodeLE32(p + kTdefNext, next);
        page = next;
    }
}

}  // namespace tp::db::jet
