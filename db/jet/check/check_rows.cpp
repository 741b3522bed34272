// The integrity check of rows: every live row of a table decodes, its long
// values' chains, the lengths of its values, and its index keys.
#include <algorithm>
#include <cstring>
#include <functional>

#include "db/jet/check/check.h"
#include "db/jet/check/checker.h"
#include "db/jet/tables/row_codec.h"

namespace tp::db::jet {

uint32_t Checker::scanRows(TableRun& r, bool report, const RowFn& fn) {
    std::vector<uint32_t> pages;
    try {
        pages = db_.mapPages(r.t.ownedMap);
    } catch (const Error&) {
        return 0;  // reported with the maps
    }
    r.moved.clear();
    RowScan scan{r, report, fn, std::vector<uint8_t>(kPageSize), {}, {}, 0};
    for (uint32_t p : pages) {
        if (full()) break;
        if (p >= pages_) continue;  // reported with the map
        scanPage(scan, p);
    }
    for (uint32_t ref : scan.targets) scanMovedRow(scan, ref);
    return scan.count;
}

// The live rows of one data page; rows moved here by an update wait for
// their forwarding pointers (scanMovedRow).
void Checker::scanPage(RowScan& scan, uint32_t p) {
    TableRun& r = scan.r;
    const std::string object = "table '" + r.name + "'";
    std::vector<uint8_t>& buf = scan.buf;
    pg_.trim();
    std::memcpy(buf.data(), pg_.read(p), kPageSize);
    if (!db_.dataPageOf(r.t, buf.data())) {
        if (scan.report)
            problem(object + ", " + pageText(p) + ": in its owned-pages map, but not one of its data pages (type " +
                    std::to_string(buf[0]) + ", owner " + std::to_string(decodeLE32(buf.data() + 4)) + ")");
        return;
    }
    try {
        db_.pageRows(p, buf.data(), scan.rows, false);
    } catch (const Error& e) {
        if (scan.report) problem(object + ", " + pageText(p) + ": " + what(e));
        return;
    }
    const uint32_t slots = db_.rowsAt_ + 2;
    for (const RowSpan& row : scan.rows) {
        const uint16_t raw = decodeLE16(buf.data() + slots + 2 * (row.ref & 0xFF));
        if ((raw & 0xC000) == 0xC000) continue;  // deleted
        if (raw & 0x4000) {
            if (row.n >= 4) r.moved[decodeLE32(row.p)] = row.ref;
            else if (scan.report)
                problem(object + ", " + pageText(p) + ": row " + refText(row.ref) + " is a short forwarding pointer");
            continue;
        }
        ++scan.count;
        if (raw & 0x8000) scan.targets.push_back(row.ref);
        else scan.fn(row.ref, row.ref, row.p, row.n);
    }
}

// A row moved by an update, handed out with its forwarding pointer's place.
void Checker::scanMovedRow(RowScan& scan, uint32_t ref) {
    const std::string object = "table '" + scan.r.name + "'";
    auto it = scan.r.moved.find(ref);
    if (it == scan.r.moved.end()) {
        if (scan.report)
            problem(object + ", " + pageText(ref >> 8) + ": row " + refText(ref) +
                    " is marked as moved here, but no row points to it");
        return;
    }
    try {
        auto [row, n] = db_.findRow(ref);
        std::vector<uint8_t> copy(row, row + n);
        scan.fn(ref, it->second, copy.data(), copy.size());
    } catch (const Error& e) {
        if (scan.report) problem(object + ", " + pageText(ref >> 8) + ": row " + refText(ref) + ": " + what(e));
    }
}

void Checker::checkRow(TableRun& r, uint32_t ref, uint32_t indexRef, const uint8_t* row, size_t n) {
    auto object = [&] { return "table '" + r.name + "', " + pageText(ref >> 8) + ": row " + refText(ref); };
    const StoredTable& t = r.t;
    try {
        if (!db_.jet3_ && n >= 2 && decodeLE16(row) > t.maxCols)
            problem(object() + ": holds " + std::to_string(decodeLE16(row)) + " columns, its table at most " +
                    std::to_string(t.maxCols));
        db_.decodeRowWith(t, row, n, vals_, [&](const StoredColumn& c, const uint8_t* p, size_t len) {
            return checkedValue(r, ref, c, p, len);
        });
    } catch (const Error& e) {
        problem(object() + ": cannot be read: " + what(e));
        return;
    }
    for (size_t i = 0; i < r.ix.size(); ++i) {
        if (!r.ix[i].usable || !rowKey(r, i, vals_, key_, ref)) continue;
        for (int s = 24; s >= 0; s -= 8) key_.push_back(uint8_t(indexRef >> s));
        add(r.ix[i].rows, key_.data(), key_.size());
    }
}

// One value of a row as the check reads it: long values followed, only the
// values the indexes need decoded in full.
Value Checker::checkedValue(TableRun& r, uint32_t ref, const StoredColumn& c, const uint8_t* p, size_t len) {
    const StoredTable& t = r.t;
    const size_t k = size_t(&c - t.columns.data());
    if (c.calculated() ? c.is(ColType::Text) && c.length == 0 : c.isLong()) {
        checkLongValue(r, k, ref, p, len);
        if (!r.needValue[k] && !c.calculated()) return Value();
    }
    if (c.calculated() && c.is(ColType::Numeric) && !r.needValue[k]) {
        // A calculated Decimal has a layout of its own that the
        // engine does not read: its wrapper only.
        if (len < calculated::kData || decodeLE32(p + calculated::kLength) > len - calculated::kData)
            throw Error(jeterr::kUnfinished, "the calculated column '" + c.name + "' is too short");
        if (r.undecoded.insert(k).second)
            notes_.push_back("table '" + r.name + "' column '" + c.name +
                             "': values not decoded (a calculated Decimal field)");
        return Value();
    }
    Value v = r.needValue[k] ? keyValue(t, c, p, len) : db_.valueOf(t, c, p, len);
    checkLength(r, ref, c, p, len, v);
    return v;
}

// The bytes a text or binary value takes against its column's length (a
// value longer than its column is cut or misread by readers). Text: two bytes a
// character (Access 97: one byte of the code page), compressed or not.
void Checker::checkLength(const TableRun& r, uint32_t ref, const StoredColumn& c, const uint8_t* p, size_t len,
                          const Value& v) {
    if (c.calculated() || !(c.is(ColType::Text) || c.is(ColType::Binary))) return;
    size_t stored = len;
    if (c.is(ColType::Text) && !c.narrowText && len >= 2 && p[0] == 0xFF && p[1] == 0xFE && v.kind() == Kind::Text)
        stored = 2 * utf8ToUtf16(v.text()).size();
    if (stored > size_t(c.length))
        problem("table '" + r.name + "', " + pageText(ref >> 8) + ": row " + refText(ref) + ": its value of column '" +
                c.name + "' takes " + std::to_string(stored) + " bytes, more than the column's " +
                std::to_string(c.length));
}

void Checker::longValueProblem(const TableRun& r, size_t k, uint32_t ref, uint32_t page, const std::string& what) {
    problem("table '" + r.name + "' column '" + r.t.columns[k].name + "', " + pageText(page) +
            ": the long value of row " + refText(ref) + " " + what);
}

void Checker::checkLongValue(TableRun& r, size_t k, uint32_t ref, const uint8_t* p, size_t n) {
    auto bad = [&](uint32_t page, const std::string& what) { longValueProblem(r, k, ref, page, what); };
    if (n < 12) return bad(ref >> 8, "is shorter than its 12-byte header");
    const size_t len = decodeLE24(p);
    const uint8_t kind = p[longvalue::kKind];
    if (kind == longvalue::kInline) {
        if (n - longvalue::kHeadSize != len)
            bad(ref >> 8, "is stored inline with length " + std::to_string(len) + " in " +
                              std::to_string(n - longvalue::kHeadSize) + " bytes");
        return;
    }
    if (kind != longvalue::kSingle && kind != longvalue::kChain)
        return bad(ref >> 8, "has an unknown kind " + hex(p + longvalue::kKind, 1));
    if (lvRow_.empty()) lvRow_.assign(uint64_t(pages_) * 256, false);
    LongValueWalk w{r, k, ref, {}};
    uint32_t at = decodeLE32(p + longvalue::kRef);
    size_t total = 0;
    while (true) {
        std::pair<const uint8_t*, size_t> q;
        if (!longValueRow(w, at, q)) return;
        const uint32_t page = at >> 8;
        if (kind == 0x40) {
            if (q.second != len)
                bad(page, "has length " + std::to_string(len) + " in a row of " + std::to_string(q.second) + " bytes");
            return;
        }
        if (q.second < 4) return bad(page, "has a chunk shorter than its pointer at row " + refText(at));
        total += q.second - 4;
        if (total > len) return bad(page, "holds more than its length " + std::to_string(len));
        at = decodeLE32(q.first);
        if (at == 0) break;
    }
    if (total != len)
        bad(ref >> 8, "holds " + std::to_string(total) + " bytes, its length says " + std::to_string(len));
}

// The row at of a long value's chain, marked as used; false (said) when it
// cannot be one.
bool Checker::longValueRow(LongValueWalk& w, uint32_t at, std::pair<const uint8_t*, size_t>& q) {
    auto bad = [&](uint32_t page, const std::string& what) { longValueProblem(w.r, w.k, w.ref, page, what); };
    const uint32_t page = at >> 8;
    if (page == 0 || page >= pages_)
        return bad(w.ref >> 8, "points to " + pageText(page) + ", outside the file"), false;
    const uint8_t* d = pg_.read(page);
    if (!isPage(d, PageType::Data) || std::memcmp(d + datapage::kOwner, datapage::kLongValueMark, 4) != 0)
        return bad(page, "points to row " + refText(at) + ", which is not on a long-value page"), false;
    if (w.r.lvOwner[w.k] != 0 && claim_[page] != w.r.lvOwner[w.k])
        bad(page, "lies on a page outside the column's long-value map");
    const uint64_t bit = uint64_t(page) * 256 + (at & 0xFF);
    if (lvRow_[bit])
        return bad(page, std::find(w.chain.begin(), w.chain.end(), at) != w.chain.end()
                             ? "forms a cycle at row " + refText(at)
                             : "uses row " + refText(at) + ", which another long value uses too"),
               false;
    lvRow_[bit] = true;
    w.chain.push_back(at);
    const uint32_t slot = decodeLE16(d + db_.rowsAt_ + 2 + 2 * (at & 0xFF));
    try {
        q = db_.findRow(at);
    } catch (const Error& e) {
        return bad(page, "points to row " + refText(at) + ": " + what(e)), false;
    }
    if ((slot & 0xC000) != 0) return bad(page, "points to row " + refText(at) + ", which is deleted or moved"), false;
    return true;
}

}  // namespace tp::db::jet
