// Long values (Memo, OLE): reading the 12-byte head of a row's value and
// its LVAL rows, writing a value's LVAL row.
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

Value JetDatabase::readLongValue(const StoredColumn& c, const uint8_t* p, size_t n) {
    using namespace longvalue;
    if (n < kHeadSize) damaged("long value of column '" + c.name + "' is too short");
    const size_t len = decodeLE24(p + kLength);
    const uint8_t kind = p[kKind];
    std::vector<uint8_t> data;
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
    if (c.is(ColType::Memo)) return Value(text(c, data.data(), data.size()));
    return Value(Bytes(std::move(data)));
}

uint32_t JetDatabase::putLongValueRow(StoredTable& t, int col, const uint8_t* data, size_t n) {
    uint32_t& cur = t.currentLvPage[col];
    uint32_t ref = 0;
    if (cur != 0 && placeRow(cur, data, n, ref)) return ref;
    cur = allocPage();
    uint8_t* p = pager_->modify(cur);
    startDataPage(p, 0, layout());
    std::memcpy(p + datapage::kOwner, datapage::kLongValueMark, sizeof datapage::kLongValueMark);
    for (const auto& m : t.longValueMaps)
        if (m.column == col) mapSet(m.owned, cur, true);
    if (!placeRow(cur, data, n, ref)) throw jeterr::recordTooLarge();
    return ref;
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
