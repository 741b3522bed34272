// Index keys and index pages: the key of a row's values, rebuilding a
// table's indexes after rows were added, unique-key checks.
#include <algorithm>
#include <cstring>
#include <deque>

#include "db/jet/jet_database.h"

namespace tp::db::jet {

namespace {

std::string unkeyableText(const StoredColumn& c, SortOrder database) {
    return "The text column '" + c.name + "' is indexed under the sort order " +
           sortOrderName(columnSortOrder(c.misc, database)) +
           ", whose index keys this database engine cannot compute; its index cannot be written.";
}

}  // namespace

// One column's segment of an index key; text under the column's sort order
// (`database`: the order of columns that store none).
void appendIndexKey(std::vector<uint8_t>& e, const StoredColumn& c, const Value& x, bool asc, SortOrder database) {
    const ColType type = typeOf(c.rawType);
    if (type == ColType::Bool) {
        const bool b = x.kind() == Kind::Bool && x.boolean();
        e.push_back(asc ? 0x7F : 0x80);
        e.push_back(uint8_t((b == asc) ? 0x00 : 0xFF));
        return;
    }
    if (x.isNull()) {
        e.push_back(asc ? 0x00 : 0xFF);
        return;
    }
    e.push_back(asc ? 0x7F : 0x80);
    const size_t from = e.size();
    auto putBE = [&](uint64_t u, int bytes) {
        for (int s = 8 * (bytes - 1); s >= 0; s -= 8) e.push_back(uint8_t(u >> s));
    };
    auto invertFrom = [&](size_t at) {
        for (size_t i = at; i < e.size(); ++i) e[i] = uint8_t(~e[i]);
    };
    // clang-format off
    switch (type) {
    case ColType::Byte:
        e.push_back(uint8_t(x.kind() == Kind::Int ? x.integer() : 0));
        if (!asc) invertFrom(from);
        return;
    case ColType::Int: case ColType::Long: case ColType::Money: case ColType::BigInt: case ColType::Complex: {
        const int bytes = type == ColType::Int ? 2 : (type == ColType::Long || type == ColType::Complex) ? 4 : 8;
        uint64_t u = x.kind() == Kind::Int ? uint64_t(x.integer())
                     : x.kind() == Kind::Currency ? uint64_t(x.currency().units) : 0;
        u ^= uint64_t(1) << (8 * bytes - 1);
        putBE(u, bytes);
        if (!asc) invertFrom(from);
        return;
    }
    case ColType::Float: case ColType::Double: case ColType::DateTime: {
        double d = x.kind() == Kind::Double ? x.real() : x.kind() == Kind::DateTime ? toOleDate(x.dateTime()) : 0;
        uint64_t u;
        int bytes = 8;
        if (type == ColType::Float) {
            const float f = float(d);
            uint32_t v;
            std::memcpy(&v, &f, 4);
            u = v;
            bytes = 4;
        } else {
            std::memcpy(&u, &d, 8);
        }
        const uint64_t top = uint64_t(1) << (8 * bytes - 1);
        const bool negative = u & top;
        if (!negative) u = asc ? (u ^ top) : ~(u ^ top);
        else if (asc) u = ~u;   // descending negatives keep their bytes
        putBE(u, bytes);
        return;
    }
    case ColType::Numeric: {
        uint8_t raw[17] = {};
        std::string text = x.kind() == Kind::Decimal ? x.decimal().text : "0";
        encodeNumeric(text, c.misc[1], 38, raw);
        const bool negative = raw[0] & 0x80;
        e.push_back(raw[0]);
        for (int w = 0; w < 4; ++w)
            for (int b = 3; b >= 0; --b) e.push_back(raw[1 + 4 * w + b]);
        if (negative == asc) invertFrom(from);
        e[from] = negative ? 0x00 : 0xFF;
        return;
    }
    case ColType::Text: case ColType::Memo:
        if (!appendTextKey(e, utf8ToUtf16(x.kind() == Kind::Text ? x.text() : std::string()),
                           columnSortOrder(c.misc, database), asc))
            throw Error(jeterr::kNotSupported, unkeyableText(c, database));
        return;
    default: {
        Bytes b;
        if (type == ColType::Guid) {
            // Keyed in the order of its text, not of its stored bytes.
            uint8_t s[16];
            if (x.kind() != Kind::Text || !parseGuid(x.text(), s)) std::memset(s, 0, 16);
            b = {s[3], s[2], s[1], s[0], s[5], s[4], s[7], s[6]};
            b.insert(b.end(), s + 8, s + 16);
        } else if (x.kind() == Kind::Binary) {
            b = x.bytes();
            if (b.empty()) return;   // an empty value is the flag byte alone
        }
        size_t i = 0;
        std::vector<size_t> lengthBytes;
        do {
            const size_t m = std::min<size_t>(8, b.size() - i);
            for (size_t q = 0; q < 8; ++q) e.push_back(q < m ? b[i + q] : 0);
            i += m;
            e.push_back(i < b.size() ? 9 : uint8_t(m));
            lengthBytes.push_back(e.size() - 1);
        } while (i < b.size());
        if (!asc) {
            for (size_t k = from; k < e.size(); ++k)
                if (std::find(lengthBytes.begin(), lengthBytes.end(), k) == lengthBytes.end() || k + 1 == e.size())
                    e[k] = uint8_t(~e[k]);
        }
        return;
    }
    }
    // clang-format on
}

// Refuses to write into a table whose indexes hold text under a sort order
// whose keys we cannot compute (a wrong key is a corrupt index to Access).
void JetDatabase::requireKeyable(const StoredTable& t) const {
    for (const StoredIndex& ix : t.indexes)
        for (int cn : ix.columns)
            for (const StoredColumn& c : t.columns)
                if (c.number == cn && (c.is(ColType::Text) || c.is(ColType::Memo)) &&
                    !sortOrderSupported(columnSortOrder(c.misc, sortOrder())))
                    throw Error(jeterr::kNotSupported,
                                "Cannot write into table '" + t.name + "'. " + unkeyableText(c, sortOrder()));
}

// Rebuilds every index of a system table from its rows: sorted entries packed
// into leaf pages, node levels above them, the root staying on its page.
void JetDatabase::rebuildIndexes(StoredTable& t) {
    if (t.indexes.empty()) return;
    requireKeyable(t);
    // Rows moved by an update live elsewhere; their index entries name the
    // slot holding the forwarding pointer.
    std::unordered_map<uint32_t, uint32_t> moved;
    for (uint32_t pg : mapPages(t.ownedMap)) {
        const uint8_t* p = pager_->read(pg);
        if (!dataPageOf(t, p)) continue;
        const uint32_t count = std::min<uint32_t>(rd16(p + 12), (kPageSize - 14) / 2);
        for (uint32_t r = 0; r < count; ++r) {
            const uint16_t raw = rd16(p + 14 + 2 * r);
            if ((raw & 0xC000) != 0x4000) continue;
            const uint32_t start = raw & 0x1FFF;
            if (start + 4 <= kPageSize) moved[rd32(p + start)] = (pg << 8) | r;
        }
    }
    for (StoredIndex& ix : t.indexes) {
        std::vector<size_t> pos;
        bool ok = true;
        for (int cn : ix.columns) {
            size_t k = 0;
            while (k < t.columns.size() && t.columns[k].number != cn) ++k;
            if (k == t.columns.size()) ok = false;
            else pos.push_back(k);
        }
        if (!ok || ix.root == 0) continue;
        std::vector<std::vector<uint8_t>> entries;
        forEachRow(t, [&](uint32_t ref, const std::vector<Value>& v) {
            IndexNulls nulls;
            for (size_t k : pos) nulls.add(t.columns[k], v[k]);
            if (ix.leavesOut(nulls)) return;
            std::vector<uint8_t> e;
            for (size_t i = 0; i < pos.size(); ++i)
                appendIndexKey(e, t.columns[pos[i]], v[pos[i]], ix.ascending[i], sortOrder());
            if (auto it = moved.find(ref); it != moved.end()) ref = it->second;
            e.push_back(uint8_t(ref >> 24));
            e.push_back(uint8_t(ref >> 16));
            e.push_back(uint8_t(ref >> 8));
            e.push_back(uint8_t(ref));
            entries.push_back(std::move(e));
        });
        std::sort(entries.begin(), entries.end(), [](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
            const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
            return c != 0 ? c < 0 : a.size() < b.size();
        });
        // Pages available: the index's current pages except the root.
        std::vector<uint32_t> old = mapPages(ix.mapRef);
        std::vector<uint32_t> pool;
        for (uint32_t pg : old) {
            const uint8_t* p = pager_->read(pg);
            if (pg != ix.root && (isPage(p, PageType::IndexNode) || isPage(p, PageType::IndexLeaf)) &&
                rd32(p + 4) == t.page)
                pool.push_back(pg);
        }
        std::reverse(pool.begin(), pool.end());
        std::vector<uint32_t> used{ix.root};
        auto takePage = [&] {
            uint32_t pg;
            if (!pool.empty()) {
                pg = pool.back();
                pool.pop_back();
            } else {
                pg = allocPage();
            }
            used.push_back(pg);
            return pg;
        };
        struct Node {
            uint32_t page = 0;
            std::vector<const std::vector<uint8_t>*> items;  // stored entries
            std::vector<uint8_t> last;                       // greatest leaf entry below
            uint32_t tail = 0;
        };
        auto writePage = [&](uint32_t pg, uint8_t type, const std::vector<const std::vector<uint8_t>*>& items,
                             uint32_t prev, uint32_t next, uint32_t tail) {
            uint8_t* p = pager_->modify(pg);
            std::memset(p, 0, kPageSize);
            p[0] = type;
            p[1] = 0x01;
            wr32(p + 4, t.page);
            wr32(p + 0x0C, prev);
            wr32(p + 0x10, next);
            wr32(p + 0x14, tail);
            size_t off = 0;
            for (const auto* e : items) {
                std::memcpy(p + 0x1E0 + off, e->data(), e->size());
                off += e->size();
                p[0x1B + off / 8] |= uint8_t(1u << (off % 8));
            }
            wr16(p + 2, uint32_t(kPageSize - 0x1E0 - off));
        };
        // Leaves.
        std::vector<Node> level;
        {
            Node cur;
            size_t bytes = 0;
            for (const auto& e : entries) {
                if (bytes + e.size() > kIndexEntryBytes && !cur.items.empty()) {
                    level.push_back(std::move(cur));
                    cur = Node();
                    bytes = 0;
                }
                cur.items.push_back(&e);
                cur.last = e;
                bytes += e.size();
            }
            level.push_back(std::move(cur));
        }
        std::deque<std::vector<uint8_t>> nodeEntries;  // storage for node entries (stable addresses)
        uint8_t levelType = 0x04;
        while (true) {
            if (level.size() == 1) {
                Node& n = level[0];
                writePage(ix.root, levelType, n.items, 0, 0, n.tail);
                break;
            }
            for (Node& n : level) n.page = takePage();
            std::vector<Node> parents;
            Node cur;
            size_t bytes = 0;
            std::vector<std::vector<size_t>> groups(1);
            for (size_t i = 0; i < level.size(); ++i) {
                std::vector<uint8_t> ne = level[i].last;
                for (int s = 24; s >= 0; s -= 8) ne.push_back(uint8_t(level[i].page >> s));
                if (bytes + ne.size() > kIndexEntryBytes && !groups.back().empty()) {
                    groups.emplace_back();
                    bytes = 0;
                }
                bytes += ne.size();
                nodeEntries.push_back(std::move(ne));
                groups.back().push_back(i);
            }
            // Write this level: leaves chained left to right; node pages
            // chained among siblings of one parent.
            size_t idx = 0;
            for (const auto& g : groups) {
                Node parent;
                for (size_t q = 0; q < g.size(); ++q) {
                    const size_t i = g[q];
                    uint32_t prev = 0, next = 0;
                    if (levelType == 0x04) {
                        prev = i > 0 ? level[i - 1].page : 0;
                        next = i + 1 < level.size() ? level[i + 1].page : 0;
                    } else {
                        prev = q > 0 ? level[g[q - 1]].page : 0;
                        next = q + 1 < g.size() ? level[g[q + 1]].page : 0;
                    }
                    writePage(level[i].page, levelType, level[i].items, prev, next, level[i].tail);
                    if (q + 1 < g.size() || g.size() == 1)
                        parent.items.push_back(&nodeEntries[nodeEntries.size() - level.size() + i]);
                    else parent.tail = level[i].page;
                    parent.last = level[i].last;
                    ++idx;
                }
                parents.push_back(std::move(parent));
            }
            level = std::move(parents);
            levelType = 0x03;
        }
        // Usage map and unused pages.
        std::sort(used.begin(), used.end());
        for (uint32_t pg : old)
            if (!std::binary_search(used.begin(), used.end(), pg)) {
                mapSet(ix.mapRef, pg, false);
                if (pg != ix.root) releasePage(pg);
            }
        for (uint32_t pg : used) mapSet(ix.mapRef, pg, true);
        // Unique-entry statistic: distinct keys.
        uint32_t distinct = 0;
        for (size_t i = 0; i < entries.size(); ++i)
            if (i == 0 || entries[i].size() != entries[i - 1].size() ||
                std::memcmp(entries[i].data(), entries[i - 1].data(), entries[i].size() - 4) != 0)
                ++distinct;
        if (ix.slotOffset + 4 <= kPageSize) wr32(pager_->modify(t.page) + ix.slotOffset, distinct);
    }
}

void JetDatabase::refreshIndexes() {
    if (!pager_ || pager_->readOnly()) return;
    for (auto& [page, t] : tables_)
        if (t->countStale) {
            setRowCount(*t, t->rowCount);
            t->countStale = false;
        }
    for (auto& [page, t] : tables_)
        if (t->indexesStale) {
            rebuildIndexes(*t);
            t->indexesStale = false;
        }
}

// Unique and required indexes of a table written into: the keys of its rows
// are gathered once, then each new row is checked before it is stored.
void JetDatabase::checkUnique(StoredTable& t, const std::vector<uint8_t>& row) {
    std::vector<size_t> checked;
    for (size_t i = 0; i < t.indexes.size(); ++i)
        if (t.indexes[i].unique() || t.indexes[i].required()) checked.push_back(i);
    if (checked.empty()) return;
    auto keyOf = [&](const StoredIndex& ix, const std::vector<Value>& v, IndexNulls& nulls) {
        std::vector<uint8_t> e;
        nulls = {};
        for (size_t i = 0; i < ix.columns.size(); ++i) {
            size_t k = 0;
            while (k < t.columns.size() && t.columns[k].number != ix.columns[i]) ++k;
            if (k == t.columns.size()) continue;
            nulls.add(t.columns[k], v[k]);
            appendIndexKey(e, t.columns[k], v[k], ix.ascending[i], sortOrder());
        }
        return std::string(e.begin(), e.end());
    };
    if (t.uniqueKeys.size() != t.indexes.size()) {
        t.uniqueKeys.assign(t.indexes.size(), {});
        forEachRow(t, [&](uint32_t, const std::vector<Value>& v) {
            for (size_t i : checked) {
                IndexNulls nulls;
                std::string key = keyOf(t.indexes[i], v, nulls);
                if (t.indexes[i].unique() && !nulls.all) t.uniqueKeys[i].insert(std::move(key));
            }
        });
    }
    std::vector<Value> v;
    decodeRow(t, row.data(), row.size(), v);
    std::vector<std::string> keys(t.indexes.size());
    for (size_t i : checked) {
        IndexNulls nulls;
        keys[i] = keyOf(t.indexes[i], v, nulls);
        if (t.indexes[i].required() && nulls.any) throw jeterr::nullInIndex();
        if (t.indexes[i].unique() && !nulls.all && t.uniqueKeys[i].count(keys[i])) throw jeterr::duplicateKey();
        if (!t.indexes[i].unique() || nulls.all) keys[i].clear();
    }
    for (size_t i : checked)
        if (!keys[i].empty()) t.uniqueKeys[i].insert(std::move(keys[i]));
}

}  // namespace tp::db::jet
