// The row walk shared by the reader and the check (templates: the check
// reads values its own way). Private to db/jet.
#pragma once

#include <type_traits>

#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

// The column walk shared by Access 97 and later rows: Yes/No values live in
// the null mask, fixed columns at headerSize + their offset (while the row
// has them), variable columns between varOffset(i) and varOffset(i + 1).
template <class VarOffset, class Damaged, class ValueOf>
void decodeColumns(const StoredTable& t, const uint8_t* row, size_t n, const uint8_t* mask, size_t maskSize,
                   size_t headerSize, size_t rowCols, size_t rowVar, VarOffset varOffset, Damaged damaged,
                   ValueOf valueOf, std::vector<Value>& out) {
    const size_t rowFixed = rowCols >= rowVar ? rowCols - rowVar : 0;
    size_t fixedSeen = 0;
    for (size_t k = 0; k < t.columns.size(); ++k) {
        const StoredColumn& c = t.columns[k];
        const size_t bit = size_t(c.number);
        const bool present = bit / 8 < maskSize && (mask[bit / 8] & (1u << (bit % 8)));
        if (c.is(ColType::Bool)) {
            out[k] = Value(present);
            if (c.fixed()) ++fixedSeen;
            continue;
        }
        const uint8_t* p = nullptr;
        size_t len = 0;
        if (c.fixed() && fixedSeen < rowFixed) {
            ++fixedSeen;
            const size_t start = headerSize + size_t(c.fixedOffset);
            len = size_t(c.length);
            if (start + len > n) damaged("a fixed column of table '" + t.name + "' lies outside its row");
            p = row + start;
        } else if (!c.fixed() && size_t(c.varIndex) < rowVar) {
            const size_t a = varOffset(size_t(c.varIndex)), b = varOffset(size_t(c.varIndex) + 1);
            if (a > b || b > n) damaged("a variable column of table '" + t.name + "' has a bad offset");
            p = row + a;
            len = b - a;
        } else {
            out[k].setNull();
            continue;
        }
        if (!present) {
            out[k].setNull();
        } else if constexpr (std::is_invocable_v<ValueOf, const StoredColumn&, const uint8_t*, size_t, Value&>) {
            valueOf(c, p, len, out[k]);  // in place: a text keeps its room from row to row
        } else {
            out[k] = valueOf(c, p, len);
        }
    }
}

// Access 97 row: [ncols:1][fixed area][variable data][EOD:1][off(n-1):1] ...
// [off(0):1][jump table][n:1][null mask]. Offsets hold the low byte; the
// jump table lists, per 256-byte boundary, the first variable column whose
// offset lies beyond it.
template <class ValueOf>
void JetDatabase::decodeRow3(const StoredTable& t, const uint8_t* row, size_t n, std::vector<Value>& out,
                             ValueOf valueOf) {
    out.resize(t.columns.size());
    auto bad = [&](const char* what) { damaged(std::string("a row of table '") + t.name + "' " + what); };
    if (n < 1) bad("is too short");
    const size_t rowCols = row[0];
    const size_t maskSize = (rowCols + 7) / 8;
    if (n < 1 + maskSize) bad("is too short");
    const uint8_t* mask = row + n - maskSize;
    size_t rowVar = 0;
    std::vector<size_t> offs;
    if (t.varCols > 0) {
        if (n < 2 + maskSize) bad("is too short");
        rowVar = row[n - maskSize - 1];
        size_t jumps = (n - 1) / 256;
        if (n < maskSize + jumps + 2 + rowVar + 1) bad("has a bad variable column count");
        const size_t colPtr = n - maskSize - jumps - 2;  // off(0)
        // The last jump entry may be a dummy when the offsets themselves
        // cross no further boundary.
        if (double(colPtr - rowVar) / 256.0 < double(jumps)) --jumps;
        size_t used = 0;
        for (size_t i = 0; i <= rowVar; ++i) {
            while (used < jumps && i == row[n - maskSize - used - 2]) ++used;
            offs.push_back(size_t(row[colPtr - i]) + used * 256);
        }
    }
    decodeColumns(
        t, row, n, mask, maskSize, 1, rowCols, rowVar, [&](size_t i) { return offs[i]; },
        [&](const std::string& what) { damaged(what); }, valueOf, out);
}

template <class ValueOf>
void JetDatabase::decodeRowWith(const StoredTable& t, const uint8_t* row, size_t n, std::vector<Value>& out,
                                ValueOf valueOf) {
    if (jet3_) return decodeRow3(t, row, n, out, valueOf);
    out.resize(t.columns.size());
    if (n < 2) damaged("a row of table '" + t.name + "' is too short");
    const size_t rowCols = decodeLE16(row);
    const size_t maskSize = (rowCols + 7) / 8;
    if (n < 2 + maskSize) damaged("a row of table '" + t.name + "' is too short");
    const uint8_t* mask = row + n - maskSize;
    size_t rowVar = 0;
    const uint8_t* offs = nullptr;
    if (t.varCols > 0) {
        if (n < 4 + maskSize) damaged("a row of table '" + t.name + "' is too short");
        rowVar = decodeLE16(row + n - maskSize - 2);
        if (4 + maskSize + 2 * (rowVar + 1) > n)
            damaged("a row of table '" + t.name + "' has a bad variable column count");
        offs = row + n - maskSize - 4;  // off(0); off(i) at offs - 2i
    }
    auto varOff = [&](size_t i) { return size_t(decodeLE16(offs - 2 * i)); };
    decodeColumns(
        t, row, n, mask, maskSize, 2, rowCols, rowVar, varOff, [&](const std::string& what) { damaged(what); }, valueOf,
        out);
}

}  // namespace tp::db::jet
