// Reading rows through an index: a WHERE's conditions on a column that leads
// a current index become ranges of keys; the tree is descended from the root
// to the first leaf entry of each range and the leaves are followed until
// the range ends. The rows found are given in storage order, so a query
// reads them as a scan would, only fewer.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

namespace {

std::atomic<uint64_t> indexReads{0};

using Key = std::vector<uint8_t>;

uint32_t lastChild(const std::vector<Key>& entries) {
    return entries.empty() ? 0 : coding::decodeBE32(entries.back().data() + entries.back().size() - 4);
}

bool before(const uint8_t* a, size_t an, const Key& b) {
    return std::lexicographical_compare(a, a + an, b.begin(), b.end());
}

// Past the span's end: the key's first bytes come after `high`.
bool pastHigh(const uint8_t* key, size_t n, const std::optional<Key>& high) {
    if (!high) return false;
    const size_t m = std::min(n, high->size());
    const int c = m ? std::memcmp(key, high->data(), m) : 0;
    return c > 0;
}

std::optional<double> numberOf(const Value& v) {
    switch (v.kind()) {
    case Kind::Int: return double(v.integer());
    case Kind::Double: return std::isnan(v.real()) ? std::nullopt : std::optional<double>(v.real());
    case Kind::Currency: return double(v.currency().units) / 10000.0;
    case Kind::Decimal: return std::strtod(v.decimal().text.c_str(), nullptr);
    default: return std::nullopt;
    }
}

std::optional<double> dateNumberOf(const Value& v) {
    if (v.kind() == Kind::Date) return toOleDate(DateTime{v.date()});
    if (v.kind() == Kind::DateTime) return toOleDate(v.dateTime());
    return numberOf(v);
}

// The values an integer column holds.
std::pair<double, double> integerRange(const StoredColumn& c) {
    if (c.is(ColType::Byte)) return {0, 255};
    if (c.is(ColType::Int)) return {-32768, 32767};
    return {-2147483648.0, 2147483647.0};
}

// An integer column's bound: rounded outward, within the column's range.
std::optional<Value> integerBound(const StoredColumn& c, const Value& v, bool upper, bool& empty) {
    const std::optional<double> d = numberOf(v);
    if (!d) return std::nullopt;
    const auto [lo, hi] = integerRange(c);
    const double r = upper ? std::ceil(*d) : std::floor(*d);
    if ((upper && r < lo) || (!upper && r > hi)) empty = true;
    return Value(int64_t(std::clamp(r, lo, hi)));
}

// A bound of a span as a value the column's key is made of, moved outward
// (a lower bound down, an upper one up) so that no row the comparison keeps
// falls outside; nullopt when the value does not key this column. `empty`
// is set when no value of the column can lie beyond the bound.
std::optional<Value> boundValue(const StoredColumn& c, const Value& v, bool upper, bool& empty) {
    const double out = upper ? std::numeric_limits<double>::infinity() : -std::numeric_limits<double>::infinity();
    if (c.is(ColType::Text) || c.is(ColType::Memo)) {
        if (v.kind() == Kind::Text) return v;
        return std::nullopt;
    }
    if (c.is(ColType::Byte) || c.is(ColType::Int) || c.is(ColType::Long)) return integerBound(c, v, upper, empty);
    if (c.is(ColType::Double)) {
        const std::optional<double> d = numberOf(v);
        if (!d || !std::isfinite(*d)) return std::nullopt;
        return Value(std::nextafter(*d, out));  // one step beyond: -0 and +0 alike, rounding in the literal
    }
    if (c.is(ColType::DateTime)) {
        const std::optional<double> d = dateNumberOf(v);
        if (!d || !std::isfinite(*d)) return std::nullopt;
        // Rows compare by their date as read back, a fraction of a second
        // from the stored number the key is made of.
        return Value(*d + (upper ? 1.0 : -1.0) / 86400.0);
    }
    return std::nullopt;
}

}  // namespace

uint64_t indexReadCount() { return indexReads.load(); }

// Whether keys of the column's values order as the engine compares them.
bool JetDatabase::keyableForQueries(const StoredColumn& c) const {
    if (c.is(ColType::Text) || c.is(ColType::Memo)) {
        // Access 97 keys bytes its code page leaves undefined by their own
        // numbers; read back, they compare as U+FFFD, elsewhere than keyed.
        if (c.narrowText) return false;
        const SortOrder o = columnSortOrder(c.misc, sortOrder());
        return o == sortOrder() && sortOrderSupported(o);
    }
    return c.is(ColType::Byte) || c.is(ColType::Int) || c.is(ColType::Long) || c.is(ColType::Double) ||
           c.is(ColType::DateTime);
}

// The key spans of one condition on the index's first column (ascending or
// not); false when a bound does not key the column.
bool JetDatabase::keySpans(const StoredColumn& c, bool asc, const ValueRange& r, std::vector<KeySpanList>& out) const {
    KeySpanList spans;
    for (const auto& [lo, hi] : r.spans) {
        bool empty = false;
        std::optional<Value> a, b;
        if (!lo.isNull() && !(a = boundValue(c, lo, false, empty))) return false;
        if (!hi.isNull() && !(b = boundValue(c, hi, true, empty))) return false;
        if (empty) continue;
        if (!asc) std::swap(a, b);  // descending keys run from the highest value
        IndexSpan s;
        if (a) appendIndexKey(s.low, c, *a, asc, sortOrder());
        if (b) appendIndexKey(s.high.emplace(), c, *b, asc, sortOrder());
        spans.push_back(std::move(s));
    }
    out.push_back(std::move(spans));
    return true;
}

// The rows the conditions leave, by a current index whose first column
// they constrain (all of them are ANDed: one is enough to narrow the rows).
// False when no index serves.
bool JetDatabase::indexedRows(StoredTable& t, const std::vector<ValueRange>& where, std::vector<uint32_t>& refs) {
    if (t.indexesStale || where.empty()) return false;
    for (const StoredIndex& ix : t.indexes) {
        if (ix.root == 0 || ix.columns.empty()) continue;
        size_t k = 0;
        while (k < t.columns.size() && t.columns[k].number != ix.columns[0]) ++k;
        if (k == t.columns.size() || !keyableForQueries(t.columns[k])) continue;
        std::vector<KeySpanList> lists;
        for (const ValueRange& r : where)
            if (r.column == int(k)) keySpans(t.columns[k], ix.ascending[0], r, lists);  // a bound that does not key the column adds none
        if (lists.empty()) continue;
        // Rows whose indexed values are all null may be missing from the
        // index; such a row's first column is null, and no condition here
        // holds for a null.
        const KeySpanList spans = narrowest(lists);
        refs.clear();
        for (const IndexSpan& s : spans) spanRows(t, ix, s, refs);
        std::sort(refs.begin(), refs.end());
        refs.erase(std::unique(refs.begin(), refs.end()), refs.end());
        ++indexReads;
        return true;
    }
    return false;
}

// Of conditions ANDed, the spans of the first narrowed by the single spans
// of the others.
JetDatabase::KeySpanList JetDatabase::narrowest(std::vector<KeySpanList>& lists) {
    KeySpanList spans = std::move(lists.front());
    for (size_t i = 1; i < lists.size(); ++i) {
        if (lists[i].size() != 1) continue;
        const IndexSpan& o = lists[i].front();
        for (IndexSpan& s : spans) {
            if (s.low < o.low) s.low = o.low;
            if (o.high && (!s.high || *o.high < *s.high)) s.high = o.high;
        }
    }
    return spans;
}

// The entries of an index page, each whole (the shared prefix put back).
void JetDatabase::indexEntries(uint32_t page, const uint8_t* p, std::vector<Key>& out) const {
    const IndexPageLayout& L = layout().indexPage;
    const size_t ps = layout().pageSize;
    const size_t prefix = L.prefixSize == 1 ? p[L.prefix] : decodeLE16(p + L.prefix);
    out.clear();
    size_t start = 0;
    for (size_t k = 0; k < (L.entries - L.mask) * 8 && L.entries + k <= ps; ++k) {
        if (!(p[L.mask + k / 8] & (1u << (k % 8)))) continue;
        Key e;
        if (!out.empty()) e.assign(out.front().begin(), out.front().begin() + long(std::min(prefix, out.front().size())));
        e.insert(e.end(), p + L.entries + start, p + L.entries + k);
        if (e.size() < indexentry::kRefSize) damaged("index page " + std::to_string(page) + " has a short entry");
        out.push_back(std::move(e));
        start = k;
    }
}

// The leaf where the span's first entry is: down from the root, at each
// node to the first child whose last entry reaches the span (else the last
// child); its entries are left in `entries`. 0: the index is empty there.
uint32_t JetDatabase::firstLeaf(const StoredTable& t, const StoredIndex& ix, const IndexSpan& s,
                                std::vector<std::vector<uint8_t>>& entries) {
    const IndexPageLayout& L = layout().indexPage;
    uint32_t page = ix.root;
    for (int depth = 0;; ++depth) {
        const uint8_t* p = indexPage(t, page, depth);
        indexEntries(page, p, entries);
        if (isPage(p, PageType::IndexLeaf)) return page;
        const uint32_t tail = decodeLE32(p + L.tail);
        uint32_t child = 0;
        for (const Key& e : entries) {
            if (e.size() < indexentry::kRefSize + indexentry::kChildSize)
                damaged("index page " + std::to_string(page) + " has a short entry");
            if (!before(e.data(), e.size() - indexentry::kRefSize - indexentry::kChildSize, s.low)) {
                child = coding::decodeBE32(e.data() + e.size() - indexentry::kChildSize);
                break;
            }
        }
        if (child == 0) child = tail ? tail : lastChild(entries);
        if (child == 0) return 0;
        page = child;
    }
}

// Calls fn(entry key, its length, its row) for each entry in the span, in
// order, following the leaves from the first one it reaches.
template <class Fn>
void JetDatabase::walkSpan(const StoredTable& t, const StoredIndex& ix, const IndexSpan& s, Fn fn) {
    std::vector<Key> entries;
    uint32_t page = firstLeaf(t, ix, s, entries);
    for (uint32_t leaves = 0; page != 0; ++leaves) {
        for (const Key& e : entries) {
            const size_t n = e.size() - indexentry::kRefSize;
            if (before(e.data(), n, s.low)) continue;
            if (pastHigh(e.data(), n, s.high)) return;
            fn(e.data(), n, coding::decodeBE32(e.data() + n));
        }
        if (leaves > pager_->pageCount()) damaged("the leaves of an index of '" + t.name + "' run in a circle");
        page = decodeLE32(indexPage(t, page, 0) + layout().indexPage.next);
        if (page != 0) indexEntries(page, indexPage(t, page, 0), entries);
    }
}

// Appends the rows of the entries in the span.
void JetDatabase::spanRows(const StoredTable& t, const StoredIndex& ix, const IndexSpan& s,
                           std::vector<uint32_t>& refs) {
    walkSpan(t, ix, s, [&](const uint8_t*, size_t, uint32_t ref) { refs.push_back(liveRowOf(t, ref)); });
}

// The rows the index's entries of exactly `key` name, as the entries give
// them (a row the running statement removed or moved among them).
void JetDatabase::keyEntries(const StoredTable& t, const StoredIndex& ix, const std::string& key,
                             std::vector<uint32_t>& refs) {
    const IndexSpan s{Key(key.begin(), key.end()), Key(key.begin(), key.end())};
    walkSpan(t, ix, s, [&](const uint8_t* k, size_t n, uint32_t ref) {
        if (n == key.size() && std::memcmp(k, key.data(), n) == 0) refs.push_back(ref);
    });
}

const uint8_t* JetDatabase::indexPage(const StoredTable& t, uint32_t page, int depth) {
    if (page == 0 || page >= pager_->pageCount() || depth > 32)
        damaged("an index of table '" + t.name + "' leads to page " + std::to_string(page));
    const uint8_t* p = pager_->read(page);
    if ((!isPage(p, PageType::IndexNode) && !isPage(p, PageType::IndexLeaf)) || decodeLE32(p + kIndexOwner) != t.page)
        damaged("page " + std::to_string(page) + " is not an index page of table '" + t.name + "'");
    return p;
}

// Where the row an entry names lies: its slot, or the place a forwarding
// slot points to.
uint32_t JetDatabase::liveRowOf(const StoredTable& t, uint32_t ref) {
    const uint8_t* p = pager_->read(refPage(ref));
    if (!dataPageOf(t, p) || refRow(ref) >= decodeLE16(p + layout().dataPage.rowCount))
        damaged("an index of table '" + t.name + "' names row " + std::to_string(ref) + ", which it does not hold");
    const uint16_t raw = decodeLE16(p + layout().dataPage.rowOffset(refRow(ref)));
    const uint16_t flags = raw & (datapage::kRowDeleted | datapage::kRowOverflow);
    if (flags == (datapage::kRowDeleted | datapage::kRowOverflow))
        damaged("an index of table '" + t.name + "' names row " + std::to_string(ref) + ", which is deleted");
    if (flags != datapage::kRowOverflow) return ref;
    auto [q, n] = findRow(ref);
    if (n < 4) damaged("row " + std::to_string(ref) + " of table '" + t.name + "' has a short forwarding pointer");
    return decodeLE32(q);
}

}  // namespace tp::db::jet
