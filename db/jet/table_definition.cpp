// Table definitions (TDEF): column descriptors and their types, reading the
// definition of Jet 4/ACE and Access 97 tables, building and writing one.
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "db/jet/jet_database.h"

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
    d.autoNumber = (c.flags & 0x04) || (c.flags & 0x40);
    d.fixedLength = c.fixed() && (d.type == ColType::Text || d.type == ColType::Binary);
    d.compressed = (c.extFlags & 0x01) && (d.type == ColType::Text || d.type == ColType::Memo);
    return d;
}

namespace {

// A real index's definition from its block (Jet 4: after the block's first
// four bytes): ten (column number, flags) pairs, usage map, root page, flags.
StoredIndex realIndex(const uint8_t* p, bool jet3) {
    StoredIndex ix;
    for (int k = 0; k < 10; ++k) {
        const uint16_t cn = decodeLE16(p + 3 * k);
        if (cn == 0xFFFF) continue;
        ix.columns.push_back(cn);
        ix.ascending.push_back(p[2 + 3 * k] & 0x01);
    }
    ix.mapRef = decodeLE32(p + 30);
    ix.root = decodeLE32(p + 34);
    ix.flags = p[jet3 ? 38 : 42];
    return ix;
}

LogicalIndex logicalIndex(const uint8_t* p) {
    LogicalIndex lx;
    lx.number = decodeLE32(p + logicalindex::kNumber);
    lx.real = decodeLE32(p + logicalindex::kReal);
    lx.relSide = p[logicalindex::kRelSide];
    lx.relIndex = int32_t(decodeLE32(p + logicalindex::kRelIndex));
    lx.relTable = decodeLE32(p + logicalindex::kRelTable);
    lx.cascadeUpdate = p[logicalindex::kCascadeUpdate];
    lx.cascadeDelete = p[logicalindex::kCascadeDelete];
    lx.kind = p[logicalindex::kKind];
    return lx;
}

// The list that ends a table definition: per Memo/OLE column its number and
// its two usage maps, up to 0xFFFF.
void readLongValueMaps(const std::vector<uint8_t>& s, size_t pos, StoredTable& t) {
    while (pos + 2 <= s.size() && decodeLE16(&s[pos]) != 0xFFFF && pos + 10 <= s.size()) {
        LongValueMaps m;
        m.column = decodeLE16(&s[pos]);
        m.owned = decodeLE32(&s[pos + 2]);
        m.free = decodeLE32(&s[pos + 6]);
        t.longValueMaps.push_back(m);
        pos += 10;
    }
    t.definitionEnd = std::min(pos + 2, s.size());
}

}  // namespace

StoredTable JetDatabase::loadTable(uint32_t first, const std::string& name) {
    StoredTable t;
    t.name = name;
    t.page = first;
    std::vector<uint8_t> s;
    std::unordered_set<uint32_t> seen;
    uint32_t page = first;
    while (page != 0) {
        if (page >= pager_->pageCount()) damaged("table definition page " + std::to_string(page) + " out of range");
        if (!seen.insert(page).second) damaged("table definition pages of '" + name + "' form a cycle");
        const uint8_t* p = pager_->read(page);
        if (!isPage(p, PageType::TableDef))
            damaged("page " + std::to_string(page) + " of table '" + name + "' is not a table definition");
        if (s.empty()) s.insert(s.end(), p, p + ps_);
        else s.insert(s.end(), p + kTdefContinuation, p + ps_);
        t.tdefPages.push_back(page);
        page = decodeLE32(p + kTdefNext);
    }
    auto need = [&](size_t pos, size_t len) {
        if (pos + len > s.size()) damaged("the definition of table '" + name + "' is truncated");
    };
    t.definitionBytes = s.size();
    if (s.size() >= kTdefContinuation + 4) t.definitionLength = decodeLE32(&s[kTdefContinuation]);
    if (jet3_) return loadTable3(std::move(t), s);
    need(0, kTdef4.indexCounts);
    t.rowCount = decodeLE32(&s[kTdef4.rowCount]);
    t.autoNumber = decodeLE32(&s[kTdef4.autoNumber]);
    t.tableType = s[kTdef4.tableType];
    t.maxCols = decodeLE16(&s[kTdef4.maxCols]);
    t.varCols = decodeLE16(&s[kTdef4.varCols]);
    t.numCols = decodeLE16(&s[kTdef4.numCols]);
    const uint32_t numLogical = decodeLE32(&s[kTdef4.numLogical]);
    const uint32_t numReal = decodeLE32(&s[kTdef4.numReal]);
    t.ownedMap = decodeLE32(&s[kTdef4.ownedMap]);
    t.freeMap = decodeLE32(&s[kTdef4.freeMap]);
    if (numReal > 1000 || numLogical > 1000) damaged("table '" + name + "' has too many indexes");
    size_t pos = kTdef4.indexCounts + kTdef4.indexCountSize * size_t(numReal);
    t.columnsAt = pos;
    need(pos, kTdef4.columnSize * size_t(t.numCols));
    for (int i = 0; i < t.numCols; ++i) {
        const uint8_t* c = &s[pos + kTdef4.columnSize * size_t(i)];
        StoredColumn col;
        col.rawType = c[column::kType];
        col.number = decodeLE16(c + column::kNumber);
        col.varIndex = decodeLE16(c + column::kVarIndex);
        std::memcpy(col.misc, c + column::kMisc, 4);
        col.flags = c[column::kFlags];
        col.extFlags = c[column::kExtFlags];
        col.fixedOffset = decodeLE16(c + column::kFixedOffset);
        col.length = decodeLE16(c + column::kLength);
        t.columns.push_back(col);
    }
    pos += kTdef4.columnSize * size_t(t.numCols);
    for (auto& col : t.columns) {
        need(pos, 2);
        const size_t len = decodeLE16(&s[pos]);
        pos += 2;
        need(pos, len);
        col.name = decodeText(&s[pos], len);
        pos += len;
    }
    t.realAt = pos;
    for (uint32_t i = 0; i < numReal; ++i) {
        need(pos, kRealIndexSize);
        StoredIndex ix = realIndex(&s[pos + 4], false);
        ix.slotOffset = kTdef4.indexCounts + kTdef4.indexCountSize * size_t(i) + 4;
        ix.uniqueCount = decodeLE32(&s[ix.slotOffset]);
        t.indexes.push_back(ix);
        pos += kRealIndexSize;
    }
    need(pos, kLogicalIndexSize * size_t(numLogical));
    for (uint32_t i = 0; i < numLogical; ++i) t.logical.push_back(logicalIndex(&s[pos + kLogicalIndexSize * i]));
    pos += kLogicalIndexSize * size_t(numLogical);
    for (LogicalIndex& lx : t.logical) {
        need(pos, 2);
        const size_t len = decodeLE16(&s[pos]);
        need(pos + 2, len);
        lx.name = decodeText(&s[pos + 2], len);
        pos += 2 + len;
        t.manySide |= lx.foreign() && lx.relSide == 2;
    }
    t.indexesEnd = pos;
    readLongValueMaps(s, pos, t);
    std::stable_sort(t.columns.begin(), t.columns.end(),
                     [](const StoredColumn& a, const StoredColumn& b) { return a.number < b.number; });
    for (const auto& c : t.columns) {
        if (c.fixed() && !c.is(ColType::Bool)) t.fixedSize = std::max(t.fixedSize, c.fixedOffset + c.length);
    }
    return t;
}

// Access 97 table definition: narrower counts and descriptors, one-byte
// name lengths, names in the code page. Indexes are read for checks only
// (these files are not written).
StoredTable JetDatabase::loadTable3(StoredTable t, const std::vector<uint8_t>& s) {
    const std::string& name = t.name;
    auto need = [&](size_t pos, size_t len) {
        if (pos + len > s.size()) damaged("the definition of table '" + name + "' is truncated");
    };
    need(0, 0x2B);
    t.rowCount = decodeLE32(&s[0x0C]);
    t.autoNumber = decodeLE32(&s[0x10]);
    t.tableType = s[0x14];
    t.maxCols = decodeLE16(&s[0x15]);
    t.varCols = decodeLE16(&s[0x17]);
    t.numCols = decodeLE16(&s[0x19]);
    const uint32_t numReal = decodeLE32(&s[0x1F]);
    t.ownedMap = decodeLE32(&s[0x23]);
    t.freeMap = decodeLE32(&s[0x27]);
    if (numReal > 1000) damaged("table '" + name + "' has too many indexes");
    size_t pos = 0x2B + 8 * size_t(numReal);
    need(pos, 18 * size_t(t.numCols));
    for (int i = 0; i < t.numCols; ++i) {
        const uint8_t* c = &s[pos + 18 * size_t(i)];
        StoredColumn col;
        col.rawType = c[0];
        col.number = decodeLE16(c + 1);
        col.varIndex = decodeLE16(c + 3);
        col.misc[0] = c[11];
        col.misc[1] = c[12];
        if (col.is(ColType::Text) || col.is(ColType::Memo)) {
            // Text: the sort order's locale id; the version is implied.
            col.misc[0] = c[9];
            col.misc[1] = c[10];
            col.misc[3] = 0xFF;
        }
        col.flags = c[13];
        col.fixedOffset = decodeLE16(c + 14);
        col.length = decodeLE16(c + 16);
        col.narrowText = true;
        t.columns.push_back(col);
    }
    pos += 18 * size_t(t.numCols);
    for (auto& col : t.columns) {
        need(pos, 1);
        const size_t len = s[pos++];
        need(pos, len);
        col.name = decodeNarrowText(&s[pos], len, codePage_);
        pos += len;
    }
    for (uint32_t i = 0; i < numReal && pos + 39 <= s.size(); ++i, pos += 39) {
        StoredIndex ix = realIndex(&s[pos], true);
        ix.slotOffset = 0x2B + 8 * size_t(i);
        t.indexes.push_back(ix);
    }
    // Then the logical indexes and their names, then the long-value maps
    // (read when the definition holds them whole).
    const uint32_t numLogical = decodeLE32(&s[0x1B]);
    if (numLogical <= 1000 && pos + 20 * size_t(numLogical) <= s.size()) {
        pos += 20 * size_t(numLogical);
        bool whole = true;
        for (uint32_t i = 0; i < numLogical && whole; ++i) {
            whole = pos < s.size();
            if (whole) pos += 1 + s[pos];
        }
        if (whole) readLongValueMaps(s, pos, t);
    }
    std::stable_sort(t.columns.begin(), t.columns.end(),
                     [](const StoredColumn& a, const StoredColumn& b) { return a.number < b.number; });
    for (const auto& c : t.columns)
        if (c.fixed() && !c.is(ColType::Bool)) t.fixedSize = std::max(t.fixedSize, c.fixedOffset + c.length);
    return t;
}

std::vector<uint8_t> JetDatabase::buildTdef([[maybe_unused]] const std::string& name, uint8_t tableType,
                                            const std::vector<StoredColumn>& cols, const std::vector<StoredIndex>& idx,
                                            const std::vector<std::string>& idxNames,
                                            const std::vector<uint8_t>& idxTypes, const std::vector<LongValueMaps>& lv,
                                            uint32_t owned, uint32_t freeMap) {
    std::vector<uint8_t> s(kTdef4.indexCounts, 0);
    s[0] = uint8_t(PageType::TableDef);
    s[1] = 0x01;
    encodeLE32(&s[0x0C], kMagic);
    s[0x18] = 0x01;
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
    for (const auto& c : cols) {
        uint8_t d[kTdef4.columnSize] = {};
        d[column::kType] = c.rawType;
        encodeLE32(d + 1, kMagic);
        encodeLE16(d + column::kNumber, uint32_t(c.number));
        encodeLE16(d + column::kVarIndex, uint32_t(c.varIndex));
        std::memcpy(d + column::kMisc, c.misc, 4);
        d[column::kFlags] = c.flags;
        d[column::kExtFlags] = c.extFlags;
        encodeLE16(d + column::kFixedOffset, uint32_t(c.fixedOffset));
        encodeLE16(d + column::kLength, uint32_t(c.length));
        putBytes(s, d, kTdef4.columnSize);
    }
    for (const auto& c : cols) {
        const std::u16string u = utf8ToUtf16(c.name);
        putLE16(s, uint32_t(u.size() * 2));
        putUtf16(s, u);
    }
    for (const auto& ix : idx) {
        uint8_t b[kRealIndexSize] = {};
        encodeLE32(b, 1923);
        for (int k = 0; k < 10; ++k) {
            if (size_t(k) < ix.columns.size()) {
                encodeLE16(b + 4 + 3 * k, uint32_t(ix.columns[size_t(k)]));
                b[6 + 3 * k] = ix.ascending[size_t(k)] ? 0x01 : 0x00;
            } else {
                encodeLE16(b + 4 + 3 * k, 0xFFFF);
            }
        }
        encodeLE32(b + 34, ix.mapRef);
        encodeLE32(b + 38, ix.root);
        b[46] = ix.flags;
        putBytes(s, b, kRealIndexSize);
    }
    for (size_t i = 0; i < idx.size(); ++i) {
        uint8_t b[kLogicalIndexSize] = {};
        encodeLE32(b, kMagic);
        encodeLE32(b + 4, uint32_t(i));
        encodeLE32(b + 8, uint32_t(i));
        encodeLE32(b + 13, 0xFFFFFFFFu);
        b[21] = 0x04;
        b[22] = 0x04;
        b[23] = idxTypes[i];
        putBytes(s, b, 28);
    }
    for (const auto& n : idxNames) {
        const std::u16string u = utf8ToUtf16(n);
        putLE16(s, uint32_t(u.size() * 2));
        putUtf16(s, u);
    }
    for (const auto& m : lv) {
        putLE16(s, uint32_t(m.column));
        putLE32(s, m.owned);
        putLE32(s, m.free);
    }
    putLE16(s, 0xFFFF);
    encodeLE32(&s[0x08], uint32_t(s.size()));
    return s;
}

void JetDatabase::writeTdef(uint32_t firstPage, const std::vector<uint8_t>& tdef) {
    size_t pos = 0;
    uint32_t page = firstPage;
    bool first = true;
    while (true) {
        uint8_t* p = pager_->modify(page);
        std::memset(p, 0, kPageSize);
        size_t take;
        if (first) {
            take = std::min(tdef.size(), size_t(kPageSize));
            std::memcpy(p, tdef.data(), take);
        } else {
            take = std::min(tdef.size() - pos, size_t(kPageSize - 8));
            std::memcpy(p + 8, tdef.data() + pos, take);
            p[0] = uint8_t(PageType::TableDef);
            p[1] = 0x01;
        }
        const size_t usedBytes = first ? take : take + 8;
        encodeLE16(p + 2, uint32_t(kPageSize > usedBytes + 8 ? kPageSize - usedBytes - 8 : 0));
        pos += take;
        first = false;
        if (pos >= tdef.size()) {
            encodeLE32(p + 4, 0);
            break;
        }
        const uint32_t next = allocPage();
        p = pager_->modify(page);
        encodeLE32(p + 4, next);
        page = next;
    }
}

}  // namespace tp::db::jet
