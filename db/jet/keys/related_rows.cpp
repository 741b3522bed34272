// Rows found by key in the running statement, and the rows of related
// tables that follow a change of a relationship's one side.
//
// A key is looked up by descending the table's index for it (its entries
// name rows as they were when the index was written) and adding what the
// running UPDATE or DELETE changed since (StatementRows: rows stored again
// elsewhere, rows given that key); every row found is read again and kept
// only when it still holds the key. An index still pending (rows added since
// it was written) is rebuilt first, inside the statement.
//
// Where the one side's key of a relationship goes (its row removed) or
// changes, the many side's rows holding it are removed (cascade delete),
// given the new key (cascade update) or Null (cascade to Null), and the
// change goes on through their own relationships; a relationship that does
// not cascade refuses the statement while such rows exist. All of it is the
// one statement: a failure anywhere undoes every row it changed.
#include <algorithm>

#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

namespace {

// The cascade bytes of a relationship's logical indexes (Access writes 0x04
// in both of an index without a relationship).
constexpr uint8_t kCascades = 0x01;
constexpr uint8_t kCascadesToNull = 0x02;

size_t positionOf(const StoredTable& t, int number) {
    size_t k = 0;
    while (k < t.columns.size() && t.columns[k].number != number) ++k;
    return k;
}

// Whether the keys we compute of an index's rows are those its entries hold
// (Access 97 keys text by its bytes, which may not read back as they were).
bool entriesKeyed(const StoredTable& t, const StoredIndex& ix) {
    for (int cn : ix.columns) {
        const size_t k = positionOf(t, cn);
        if (k < t.columns.size() && t.columns[k].narrowText) return false;
    }
    return true;
}

// Whether a column's key changed (a text changed in case only keeps its
// copies on the many side as they are).
bool columnChanged(const StoredTable& t, size_t k, const std::vector<Value>& old, const std::vector<Value>& now,
                   SortOrder order) {
    std::vector<uint8_t> a, b;
    appendIndexKey(a, t.columns[k], old[k], true, order);
    appendIndexKey(b, t.columns[k], now[k], true, order);
    return a != b;
}

}  // namespace

// The rows of the relationships whose one side is the changed row's table
// that must follow its change (`now` null: the row is removed); refuses the
// change where a relationship holding such rows does not cascade.
void JetDatabase::cascadeFrom(StoredTable& one, const std::vector<Value>& old, const std::vector<Value>* now,
                              std::vector<Cascade>& out) {
    for (const LogicalIndex& l : one.logical) {
        if (!l.foreign() || l.relSide != 1 || l.real >= one.indexes.size()) continue;
        Cascade c;
        if (relatedCascade(one, l, old, now, c)) out.push_back(std::move(c));
    }
}

// One relationship's share of cascadeFrom; false when its many side holds
// no row of the key or the key stays.
bool JetDatabase::relatedCascade(StoredTable& one, const LogicalIndex& l, const std::vector<Value>& old,
                                 const std::vector<Value>* now, Cascade& c) {
    const StoredIndex& oneKey = one.indexes[l.real];
    IndexNulls nulls;
    const std::string oldKey = rowKey(one, oneKey, old, nulls);
    if (nulls.any) return false;
    if (now && rowKey(one, oneKey, *now, nulls) == oldKey) return false;
    StoredTable* many = tableAt(l.relTable);
    if (!many) return false;
    auto mine = std::find_if(many->logical.begin(), many->logical.end(),
                             [&](const LogicalIndex& o) { return int32_t(o.number) == l.relIndex; });
    if (mine == many->logical.end() || mine->real >= many->indexes.size()) return false;
    const StoredIndex& manyKey = many->indexes[mine->real];
    // The key in the many side's index, of the one side's values; the many
    // side's columns take the new ones.
    std::vector<uint8_t> e;
    for (size_t i = 0; i < manyKey.columns.size() && i < oneKey.columns.size(); ++i) {
        const size_t from = positionOf(one, oneKey.columns[i]), to = positionOf(*many, manyKey.columns[i]);
        if (from == one.columns.size() || to == many->columns.size()) return false;
        appendIndexKey(e, many->columns[to], old[from], manyKey.ascending[i], sortOrder());
        if (!now || columnChanged(one, from, old, *now, sortOrder())) c.set.emplace_back(to, now ? (*now)[from] : Value());
    }
    c.table = l.relTable;
    c.real = mine->real;
    c.key.assign(e.begin(), e.end());
    const uint8_t flags = now ? uint8_t(l.cascadeUpdate | mine->cascadeUpdate)
                              : uint8_t(l.cascadeDelete | mine->cascadeDelete);
    const std::string manyName = many->name;
    std::vector<uint32_t> rows;
    keyRows(*many, c.real, c.key, rows);
    if (rows.empty()) return false;
    if (!now && (flags & kCascadesToNull)) return true;  // the rows keep on, their key Null
    if (!(flags & kCascades)) throw jeterr::relatedRecords(manyName);
    c.remove = !now;
    return true;
}

// The cascades of one changed row, each taking its rows' own cascades with
// it (depth first: a row's related rows are changed before the next row).
void JetDatabase::runCascades(std::vector<Cascade>& pending) {
    while (!pending.empty()) {
        Cascade c = std::move(pending.back());
        pending.pop_back();
        applyCascade(c, pending);
    }
}

void JetDatabase::applyCascade(const Cascade& c, std::vector<Cascade>& pending) {
    StoredTable* t = tableAt(c.table);
    if (!t) return;
    requireChangeable(*t, pager_->path());
    std::vector<uint32_t> rows;
    keyRows(*t, c.real, c.key, rows);
    std::vector<Value> old, now;
    std::vector<uint8_t> row;
    for (uint32_t ref : rows) {
        {
            auto [p, n] = findRow(ref);
            decodeRow(*t, p, n, old);
        }
        now = old;
        for (const auto& [k, v] : c.set) now[k] = v;
        cascadeFrom(*t, old, c.remove ? nullptr : &now, pending);
        if (c.remove) removeChangedRow(*t, ref, old);
        else storeChangedRow(*t, ref, old, now, row);
    }
}

// Whether a row of t holds the key in its real index `real` (a unique index
// whose entries we cannot look up: by the keys of its rows, gathered once).
bool JetDatabase::keyHeld(StoredTable& t, size_t real, const std::string& key) {
    if (t.indexes[real].unique() &&
        (t.uniqueKeys.size() == t.indexes.size() || !entriesKeyed(t, t.indexes[real])))
        return uniqueKeysOf(t, real).count(key) > 0;
    std::vector<uint32_t> rows;
    keyRows(t, real, key, rows);
    return !rows.empty();
}

void JetDatabase::keyRows(StoredTable& t, size_t real, const std::string& key, std::vector<uint32_t>& out) {
    out.clear();
    if (!entriesKeyed(t, t.indexes[real]) || t.indexes[real].root == 0) {
        // The rows as they are now, read through.
        forEachRow(t, [&](uint32_t ref, const std::vector<Value>& v) {
            IndexNulls nulls;
            if (rowKey(t, t.indexes[real], v, nulls) == key) out.push_back(ref);
        });
        return;
    }
    const auto found = changing_.find(t.page);
    StatementRows* s = found == changing_.end() ? nullptr : &found->second;
    if (t.indexesStale || (s && s->refresh)) {
        // Rebuilt from the rows as they are now: what the statement changed
        // so far is in it.
        rebuildIndexes(t);
        t.indexesStale = false;
        rebuiltInStatement_.insert(t.page);
        if (s) {
            s->moved = {};
            s->rekeyed = {};
            s->noted = 0;
            s->refresh = false;
        }
    }
    std::vector<uint32_t> refs;
    keyEntries(t, t.indexes[real], key, refs);
    if (s) {
        const auto given = s->rekeyed.find(std::string(1, char(real)) + key);
        if (given != s->rekeyed.end()) refs.insert(refs.end(), given->second.begin(), given->second.end());
    }
    for (uint32_t& ref : refs) ref = currentRef(s, ref);
    std::sort(refs.begin(), refs.end());
    refs.erase(std::unique(refs.begin(), refs.end()), refs.end());
    for (uint32_t ref : refs)
        if (ref != 0 && rowHasKey(t, real, key, ref)) out.push_back(ref);
}

// Where the row an index entry names is now: through a forwarding slot and
// the statement's moves; 0 when it was removed.
uint32_t JetDatabase::currentRef(const StatementRows* s, uint32_t ref) {
    for (uint32_t steps = 0; steps <= pager_->pageCount(); ++steps) {
        if (s) {
            const auto moved = s->moved.find(ref);
            if (moved != s->moved.end()) {
                ref = moved->second;
                continue;
            }
        }
        findRow(ref);
        const uint8_t* p = pager_->read(refPage(ref));
        const uint16_t flags =
            decodeLE16(p + layout().dataPage.rowOffset(refRow(ref))) & (datapage::kRowDeleted | datapage::kRowOverflow);
        if (flags == 0) return ref;
        if (flags != datapage::kRowOverflow) return 0;
        auto [q, n] = findRow(ref);
        if (n < 4) damaged("row " + std::to_string(ref) + " has a short forwarding pointer");
        ref = decodeLE32(q);
    }
    damaged("the forwarding pointers of row " + std::to_string(ref) + " run in a circle");
}

bool JetDatabase::rowHasKey(StoredTable& t, size_t real, const std::string& key, uint32_t ref) {
    std::vector<Value> v;
    {
        auto [p, n] = findRow(ref);
        decodeRow(t, p, n, v);
    }
    IndexNulls nulls;
    return rowKey(t, t.indexes[real], v, nulls) == key;
}

}  // namespace tp::db::jet
