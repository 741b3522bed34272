// The integrity check's index walks: entries against rows, keys recomputed
// from the rows, and the entry-by-entry key comparison of the tests.
#include <algorithm>
#include <cstring>
#include <functional>

#include "db/jet/check/check.h"
#include "db/jet/check/checker.h"
#include "db/jet/tables/row_codec.h"

namespace tp::db::jet {

IndexKeyReport compareIndexKeys(Database& db) {
    auto* jet = dynamic_cast<JetDatabase*>(&db);
    if (!jet) throw Error("not an Access database of this engine");
    return jet->compareIndexKeys();
}

Value Checker::keyValue(const StoredTable& t, const StoredColumn& c, const uint8_t* p, size_t len) {
    if (!c.calculated() && c.is(ColType::DateTime) && len >= 8) {
        double d;
        std::memcpy(&d, p, 8);
        return Value(d);  // keyed from the stored double, not the decoded date
    }
    if (c.narrowText && c.is(ColType::Text) && db_.codePage_ == 1252) {
        // Bytes code page 1252 leaves undefined read as U+FFFD; Access 97
        // keys them as the C1 controls of the same number.
        std::string s;
        size_t from = 0;
        for (size_t i = 0; i < len; ++i)
            if (p[i] == 0x81 || p[i] == 0x8D || p[i] == 0x8F || p[i] == 0x90 || p[i] == 0x9D) {
                s += decodeNarrowText(p + from, i - from, 1252);
                s += char(0xC2);
                s += char(p[i]);
                from = i + 1;
            }
        if (from > 0) return Value(s + decodeNarrowText(p + from, len - from, 1252));
    }
    return db_.valueOf(t, c, p, len);
}

void Checker::indexValues(TableRun& r, const uint8_t* row, size_t n, std::vector<Value>& v) {
    db_.decodeRowWith(r.t, row, n, v, [&](const StoredColumn& c, const uint8_t* p, size_t len) {
        return r.needValue[size_t(&c - r.t.columns.data())] ? keyValue(r.t, c, p, len) : Value();
    });
}

bool Checker::entryRow(TableRun& r, uint32_t ptr, const std::function<void(const std::string&)>& say,
                       std::vector<Value>& v) {
    const uint32_t rp = ptr >> 8;
    if (rp == 0 || rp >= pages_ || (claimsKnown_ && claim_[rp] != r.owner))
        return say(" points outside the table's data pages"), false;
    const uint8_t* d = pg_.read(rp);
    if (!db_.dataPageOf(r.t, d)) return say(" points outside the table's data pages"), false;
    const uint32_t row = ptr & 0xFF;
    if (row >= decodeLE16(d + db_.rowsAt_)) return say(" points to a row that does not exist"), false;
    const uint16_t raw = decodeLE16(d + db_.rowsAt_ + 2 + 2 * row);
    if ((raw & 0xC000) == 0xC000) return say(" points to a deleted row"), false;
    uint32_t target = ptr;
    try {
        if (raw & 0x4000) {
            auto [q, qn] = db_.findRow(ptr);
            if (qn < 4) return say(" points to a short forwarding pointer"), false;
            target = decodeLE32(q);
        } else if (raw & 0x8000) {
            return say(" points to a moved row instead of its forwarding pointer"), false;
        }
        auto [row, n] = db_.findRow(target);
        std::vector<uint8_t> copy(row, row + n);
        indexValues(r, copy.data(), copy.size(), v);
    } catch (const Error& e) {
        return say(": its row cannot be read: " + what(e)), false;
    }
    return true;
}

bool Checker::rowKey(TableRun& r, size_t i, const std::vector<Value>& v, std::vector<uint8_t>& key, uint32_t ref) {
    const StoredIndex& ix = r.t.indexes[i];
    const IndexState& s = r.ix[i];
    key.clear();
    IndexNulls nulls;
    for (size_t q = 0; q < s.pos.size(); ++q) {
        const StoredColumn& c = r.t.columns[s.pos[q]];
        const Value& x = v[s.pos[q]];
        nulls.add(c, x);
        if (s.keyed()) appendIndexKey(key, c, x, ix.ascending[q], db_.sortOrder());
    }
    if (ix.leavesOut(nulls)) return false;
    if (ix.required() && nulls.any && ref != 0)
        problem(owners_[s.owner] + ", " + pageText(ref >> 8) + ": row " + refText(ref) +
                " has a null in a column of this required index");
    return true;
}

// One walk of an index tree (see checker.h): pages are visited depth first,
// so the leaves come in their chain's order.
void Checker::walkIndex(TableRun& r, size_t i, bool diagnose, const LeafFn& leaf) {
    IndexWalk w{r,
                r.t.indexes[i],
                owners_[r.ix[i].owner],
                r.ix[i].owner,
                diagnose,
                leaf,
                db_.jet3_ ? kIndexPage3 : kIndexPage4,
                std::vector<bool>(pages_, false),
                0,
                0,
                false,
                {}};
    std::vector<uint8_t> last;
    if (visitIndexPage(w, w.ix.root, 0, last) && w.anyLeaf && w.expectNext != 0)
        say(w, w.prevLeaf, "the last leaf's next-page pointer is not 0");
}

void Checker::say(const IndexWalk& w, uint32_t page, const std::string& what) {
    if (!w.diagnose) problem(w.object + ", " + pageText(page) + ": " + what);
}

bool Checker::visitIndexPage(IndexWalk& w, uint32_t page, int depth, std::vector<uint8_t>& last) {
    std::vector<uint8_t> buf;
    if (!enterIndexPage(w, page, depth, buf)) return false;
    const bool isLeaf = isPage(buf.data(), PageType::IndexLeaf);
    const auto spans = entrySpans(w, buf);
    const size_t prefix = w.layout.prefixSize == 1 ? buf[w.layout.prefix] : decodeLE16(&buf[w.layout.prefix]);
    std::vector<uint8_t> first, entry;
    for (size_t e = 0; e < spans.size(); ++e) {
        if (!entryAt(w, page, buf, spans, e, prefix, first, entry)) return false;
        if (isLeaf) leafEntry(w, page, entry);
        else if (!nodeEntry(w, page, depth, entry, last)) return false;
    }
    if (isLeaf) {
        leafChain(w, page, buf);
        if (!spans.empty()) last = entry;
    } else if (!nodeTail(w, page, depth, buf, spans.empty(), last)) {
        return false;
    }
    pg_.trim();
    return true;
}

bool Checker::enterIndexPage(IndexWalk& w, uint32_t page, int depth, std::vector<uint8_t>& buf) {
    if (page == 0 || page >= pages_) return say(w, page, "an index pointer leads outside the file"), false;
    if (depth > 32) return say(w, page, "the index tree is too deep"), false;
    if (w.visited[page]) return say(w, page, "the page is reached twice"), false;
    w.visited[page] = true;
    if (!w.diagnose && claimsKnown_) seenIndexPage_[page] = true;
    buf.assign(pg_.read(page), pg_.read(page) + ps_);
    if ((!isPage(buf.data(), PageType::IndexNode) && !isPage(buf.data(), PageType::IndexLeaf)) ||
        decodeLE32(&buf[kIndexOwner]) != w.r.t.page)
        return say(w, page, "not an index page of this table (type " + std::to_string(buf[0]) + ")"), false;
    if (claimsKnown_ && claim_[page] != w.owner) say(w, page, "an index page outside the index's usage map");
    return true;
}

// The entries of a page: a mask bit marks where each one ends.
std::vector<std::pair<size_t, size_t>> Checker::entrySpans(const IndexWalk& w, const std::vector<uint8_t>& buf) const {
    const size_t maskAt = w.layout.mask, entriesAt = w.layout.entries;
    std::vector<std::pair<size_t, size_t>> spans;
    size_t start = 0;
    for (size_t k = 0; k < (entriesAt - maskAt) * 8 && entriesAt + k <= ps_; ++k)
        if (buf[maskAt + k / 8] & (1u << (k % 8))) {
            spans.emplace_back(start, k);
            start = k;
        }
    return spans;
}

// Entry e of a page, its shared prefix put back; false (said) when malformed.
bool Checker::entryAt(const IndexWalk& w, uint32_t page, const std::vector<uint8_t>& buf,
                      const std::vector<std::pair<size_t, size_t>>& spans, size_t e, size_t prefix,
                      std::vector<uint8_t>& first, std::vector<uint8_t>& entry) {
    const size_t entriesAt = w.layout.entries;
    const auto [a, b] = spans[e];
    if (b <= a && e > 0) return say(w, page, "an empty index entry"), false;
    if (e == 0) {
        first.assign(buf.begin() + long(entriesAt + a), buf.begin() + long(entriesAt + b));
        if (prefix > first.size()) return say(w, page, "the shared prefix is longer than the first entry"), false;
        entry = first;
    } else {
        entry.assign(first.begin(), first.begin() + long(prefix));
        entry.insert(entry.end(), buf.begin() + long(entriesAt + a), buf.begin() + long(entriesAt + b));
    }
    if (entry.size() < 4 + (isPage(buf.data(), PageType::IndexNode) ? 4u : 0u))
        return say(w, page, "an index entry is too short"), false;
    return true;
}

static uint32_t entryPointer(const std::vector<uint8_t>& entry) {
    uint32_t ptr = 0;
    for (size_t q = entry.size() - 4; q < entry.size(); ++q) ptr = (ptr << 8) | entry[q];
    return ptr;
}

void Checker::leafEntry(IndexWalk& w, uint32_t page, const std::vector<uint8_t>& entry) {
    if (!w.prevEntry.empty() && !w.diagnose) leafOrder(w, page, entry);
    w.leaf(page, entry.data(), entry.size() - 4, entryPointer(entry));
    w.prevEntry = entry;
}

// A leaf entry against the one before it: ascending, and unique keys once.
void Checker::leafOrder(const IndexWalk& w, uint32_t page, const std::vector<uint8_t>& entry) {
    const std::vector<uint8_t>& prev = w.prevEntry;
    const int c = std::memcmp(prev.data(), entry.data(), std::min(prev.size(), entry.size()));
    if (c > 0 || (c == 0 && prev.size() >= entry.size()))
        say(w, page,
            prev == entry ? "an entry appears twice (row " + refText(decodeLE32(&entry[entry.size() - 4])) + ")"
                          : "entries out of order at the entry for row " + refText(decodeLE32(&entry[entry.size() - 4])));
    const size_t keyLen = entry.size() - 4;
    if (!w.ix.unique() || prev.size() != entry.size() || std::memcmp(prev.data(), entry.data(), keyLen) != 0) return;
    bool allNull = keyLen == w.ix.columns.size();
    for (size_t q = 0; allNull && q < keyLen; ++q) allNull = entry[q] == (w.ix.ascending[q] ? 0x00 : 0xFF);
    if (!allNull)
        say(w, page,
            "rows " + refText(decodeLE32(&prev[keyLen])) + " and " + refText(decodeLE32(&entry[keyLen])) +
                " have the same key in a unique index");
}

bool Checker::nodeEntry(IndexWalk& w, uint32_t page, int depth, const std::vector<uint8_t>& entry,
                        std::vector<uint8_t>& last) {
    const uint32_t child = entryPointer(entry);
    std::vector<uint8_t> childLast;
    if (!visitIndexPage(w, child, depth + 1, childLast)) return false;
    if (childLast.size() != entry.size() - 4 || !std::equal(childLast.begin(), childLast.end(), entry.begin()))
        say(w, page, "the node entry for child " + pageText(child) + " is not its last entry");
    last = childLast;
    return true;
}

// A leaf's place in the chain of leaves.
void Checker::leafChain(IndexWalk& w, uint32_t page, const std::vector<uint8_t>& buf) {
    if (w.anyLeaf) {
        if (decodeLE32(&buf[w.layout.prev]) != w.prevLeaf)
            say(w, page, "its previous-page pointer is not " + pageText(w.prevLeaf));
        if (w.expectNext != page) say(w, w.prevLeaf, "its next-page pointer is not " + pageText(page));
    } else if (decodeLE32(&buf[w.layout.prev]) != 0) {
        say(w, page, "the first leaf has a previous page");
    }
    w.anyLeaf = true;
    w.prevLeaf = page;
    w.expectNext = decodeLE32(&buf[w.layout.next]);
}

// A node's tail page (the child after its last entry).
bool Checker::nodeTail(IndexWalk& w, uint32_t page, int depth, const std::vector<uint8_t>& buf, bool empty,
                       std::vector<uint8_t>& last) {
    const uint32_t tail = decodeLE32(&buf[w.layout.tail]);
    if (tail != 0) {
        std::vector<uint8_t> childLast;
        if (!visitIndexPage(w, tail, depth + 1, childLast)) return false;
        last = childLast;
    } else if (empty) {
        say(w, page, "an empty node page");
    }
    return true;
}

void Checker::checkIndex(TableRun& r, size_t i) {
    IndexState& s = r.ix[i];
    indexOwners_.insert(s.owner);
    std::vector<uint8_t> e, prevKey;
    uint32_t distinct = 0;
    const size_t before = problems_.size() + dropped_;
    walkIndex(r, i, false, [&](uint32_t, const uint8_t* key, size_t keyLen, uint32_t ptr) {
        if (distinct == 0 || prevKey.size() != keyLen || !std::equal(key, key + keyLen, prevKey.begin())) ++distinct;
        prevKey.assign(key, key + keyLen);
        e.assign(key, key + (s.keyed() ? keyLen : 0));
        for (int q = 24; q >= 0; q -= 8) e.push_back(uint8_t(ptr >> q));
        add(s.entries, e.data(), e.size());
    });
    if (!(s.rows == s.entries)) diagnoseIndex(r, i);
    // The count of distinct keys the definition keeps (Access 97: of user
    // tables; its system tables' counts lag), when the tree could be read
    // whole.
    const StoredIndex& ix = r.t.indexes[i];
    if ((!db_.jet3_ || r.t.tableType == kUserTable) && problems_.size() + dropped_ == before &&
        distinct != ix.uniqueCount)
        warning(owners_[s.owner] + ", " + pageText(r.t.page) + ": its definition counts " +
                std::to_string(ix.uniqueCount) + " distinct keys, but the index holds " + std::to_string(distinct));
}

void Checker::diagnoseIndex(TableRun& r, size_t i) {
    IndexState& s = r.ix[i];
    const std::string& object = owners_[s.owner];
    size_t lines = 0;
    constexpr size_t kMaxLines = 10;
    auto say = [&](const std::string& line) {
        if (lines++ < kMaxLines) problem(line);
    };
    std::vector<bool> seen(uint64_t(pages_) * 256, false);
    std::vector<Value> v;
    std::vector<uint8_t> key;
    walkIndex(r, i, true, [&](uint32_t page, const uint8_t* stored, size_t keyLen, uint32_t ptr) {
        const std::string where = object + ", " + pageText(page) + ": the entry for row " + refText(ptr);
        if ((ptr >> 8) < pages_) {
            const uint64_t bit = uint64_t(ptr >> 8) * 256 + (ptr & 0xFF);
            if (seen[bit]) return say(where + " is a second entry for that row");
            seen[bit] = true;
        }
        if (!entryRow(
                r, ptr, [&](const std::string& what) { say(where + what); }, v))
            return;
        if (!rowKey(r, i, v, key, 0)) return say(where + " is for a row this index leaves out (all its columns null)");
        if (s.keyed() && (key.size() != keyLen || !std::equal(key.begin(), key.end(), stored)))
            say(where + ": its key " + hex(stored, keyLen) + " differs from the key of the row, " +
                hex(key.data(), key.size()));
    });
    scanRows(r, false, [&](uint32_t ref, uint32_t indexRef, const uint8_t* row, size_t n) {
        if (seen[uint64_t(indexRef >> 8) * 256 + (indexRef & 0xFF)]) return;
        try {
            indexValues(r, row, n, v);
        } catch (const Error&) {
            return;  // reported with the rows
        }
        if (rowKey(r, i, v, key, 0))
            say(object + ", " + pageText(ref >> 8) + ": row " + refText(ref) + " has no entry in the index");
    });
    if (lines == 0) say(object + ": its entries do not match its rows");
    if (lines > kMaxLines) problem(object + ": ... and " + std::to_string(lines - kMaxLines) + " more problems");
}

static void keyProblem(IndexKeyReport& rep, std::string what) {
    if (rep.problems.size() < 200) rep.problems.push_back(std::move(what));
    ++rep.problemCount;
}

IndexKeyReport Checker::compareKeys() {
    pages_ = pg_.pageCount();
    ps_ = db_.ps_;
    owners_.push_back("");
    IndexKeyReport rep;
    for (const CatalogEntry& ce : std::vector<CatalogEntry>(db_.catalog_))
        if ((ce.type & 0x7F) == 1) compareTableKeys(ce, rep);
    return rep;
}

void Checker::compareTableKeys(const CatalogEntry& ce, IndexKeyReport& rep) {
    TableRun r;
    r.name = ce.name;
    r.owner = newOwner("table '" + ce.name + "'");
    try {
        r.t = db_.loadTable(ce.id & 0x00FFFFFF, ce.name);
    } catch (const Error& e) {
        keyProblem(rep, "table '" + ce.name + "': " + e.what());
        return;
    }
    setupIndexes(r, false);
    for (size_t i = 0; i < r.ix.size(); ++i) {
        const IndexState& s = r.ix[i];
        const std::string where = "table '" + r.name + "' index " + std::to_string(i);
        for (size_t k : s.pos)
            if (r.t.columns[k].is(ColType::Text) || r.t.columns[k].is(ColType::Memo)) {
                const SortOrder o = columnSortOrder(r.t.columns[k].misc, db_.sortOrder());
                if (std::find(rep.orders.begin(), rep.orders.end(), o) == rep.orders.end()) rep.orders.push_back(o);
            }
        if (!s.usable) {
            keyProblem(rep, where + ": bad definition");
        } else if (s.otherOrder) {
            ++rep.unsupportedIndexes;
        } else if (!s.keyed()) {
            keyProblem(rep, where + ": keys not verified (" + s.unverified + ")");
        } else {
            compareIndexKeys(r, i, where, rep);
        }
    }
}

void Checker::compareIndexKeys(TableRun& r, size_t i, const std::string& where, IndexKeyReport& rep) {
    const IndexState& s = r.ix[i];
    std::vector<Value> v;
    std::vector<uint8_t> key;
    walkIndex(r, i, false, [&](uint32_t, const uint8_t* stored, size_t keyLen, uint32_t ptr) {
        ++rep.entries;
        if (s.text) ++rep.textEntries;
        const std::string row = where + ": row " + refText(ptr);
        if (!entryRow(
                r, ptr, [&](const std::string& what) { keyProblem(rep, row + what); }, v))
            return;
        if (!rowKey(r, i, v, key, 0)) return keyProblem(rep, row + " is left out by this index (all its columns null)");
        bool nonAscii = false;
        const std::string shown = shownValues(s, v, nonAscii);
        if (nonAscii) ++rep.nonAsciiEntries;
        if (key.size() != keyLen || !std::equal(key.begin(), key.end(), stored))
            keyProblem(rep, row + " (" + shown + "): stored " + hex(stored, keyLen) + ", computed " +
                                hex(key.data(), key.size()));
    });
    for (auto& p : problems_) keyProblem(rep, std::move(p));
    problems_.clear();
}

// The indexed values of a row as the comparison shows them.
std::string Checker::shownValues(const IndexState& s, const std::vector<Value>& v, bool& nonAscii) {
    std::string shown;
    for (size_t k : s.pos) {
        const Value& x = v[k];
        if (x.kind() == Kind::Text)
            for (char ch : x.text()) nonAscii |= uint8_t(ch) >= 0x80;
        shown += (shown.empty() ? "" : ", ") + (x.kind() == Kind::Text ? "'" + x.text() + "'" : toIsoText(x));
    }
    return shown;
}

IndexKeyReport JetDatabase::compareIndexKeys() {
    requireOpen();
    Checker c(*this, 200);
    return c.compareKeys();
}

}  // namespace tp::db::jet
