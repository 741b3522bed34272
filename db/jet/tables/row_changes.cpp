// UPDATE and DELETE in the engine: each row of a table offered to the
// statement's decision, removed or replaced as one statement. A replaced row
// of the same size stays in its slot; otherwise it is removed and stored
// again as an INSERT stores it; a removed row's space goes back to its
// page for the rows stored after it. A changed unique key is looked up in
// its index (with what the statement changed before it), the new row's
// relationships are checked as an INSERT's are, and a removed or changed key
// of a relationship's one side takes the related rows with it where the
// relationship cascades (keys/related_rows.cpp), else it must have none.
#include <algorithm>
#include <cstring>

#include "db/busy.h"
#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

struct JetDatabase::ChangeRun {
    ChangeRun(StoredTable& table, const RowChanger& decide) : t(table), change(decide) {}
    StoredTable& t;
    const RowChanger& change;
    int64_t changed = 0;
    std::vector<Value> old, now;
    std::vector<uint8_t> row;
    std::vector<Cascade> pending;
};

namespace {

// Whether rows of t are looked up by their key in its real index i: a unique
// index, or the many side's index of a relationship.
bool lookedUp(const StoredTable& t, size_t i) {
    if (t.indexes[i].unique()) return true;
    return std::any_of(t.logical.begin(), t.logical.end(),
                       [&](const LogicalIndex& l) { return l.foreign() && l.relSide == 2 && l.real == i; });
}

}  // namespace

void requireChangeable(const StoredTable& t, const std::string& path) {
    if (t.tableType == kSystemTable) throw jeterr::readOnly();
    for (const StoredColumn& c : t.columns)
        if (c.calculated() || unreadableColumn(c))
            throw Error(jeterr::kNotSupported, "The column '" + c.name + "' of table '" + t.name + "' in '" + path +
                                                   "' is " +
                                                   (c.calculated() ? "a calculated field" : unreadableColumn(c)) +
                                                   ", which this database engine cannot write.");
}

int64_t JetDatabase::changeRows(const std::string& table, const RowChanger& change,
                               const std::vector<ValueRange>& where) {
    requireWritable();
    pager_->trim();
    int64_t changed = 0;
    changing_.clear();
    try {
        atomically([&] {
            StoredTable& t = tableByName(table);
            requireChangeable(t, pager_->path());
            if (!t.indexes.empty()) requireKeyable(t);
            ChangeRun run(t, change);
            std::vector<uint32_t> refs;
            if (indexedRows(t, where, refs)) {
                for (size_t i = 0; i < refs.size(); ++i) {
                    if ((i & 255) == 255) pager_->trim(true);
                    changeRow(run, refs[i]);
                }
            } else {
                changeEveryRow(run);
            }
            finishChanges();
            changed = run.changed;
        });
    } catch (...) {
        changing_.clear();
        // The unique keys kept in memory may hold what was undone (or what
        // was not, when no page had changed): gathered again when needed.
        for (auto& [page, t] : tables_) t->uniqueKeys.clear();
        throw;
    }
    changing_.clear();
    afterStatement();
    return changed;
}

// The row counts and the indexes of the tables changed reach the file at
// the next durability point, as after INSERTs.
void JetDatabase::finishChanges() {
    for (auto& [page, s] : changing_) {
        if (!s.changed) continue;
        StoredTable* t = tableAt(page);
        if (!t) continue;
        t->rowCount -= uint32_t(s.removed);
        t->countStale = true;
        if (!t->indexes.empty()) t->indexesStale = true;
        last_ = nullptr;
    }
}

// Every live row of the table, a data page at a time (the pages listed
// before any row changes); the rows a page took from the walk itself
// (`firstPlaced`: page -> its first such row, kept by `fn`) are not offered.
void JetDatabase::eachRowOnce(StoredTable& t, const std::unordered_map<uint32_t, uint32_t>& firstPlaced,
                              const std::function<void(uint32_t)>& fn) {
    std::vector<RowSpan> rows;
    std::vector<uint32_t> refs;
    size_t seen = 0;
    for (uint32_t pgno : mapPages(t.ownedMap)) {
        if ((++seen & 63) == 0) {
            stillBusy();
            pager_->trim(true);  // no page pointer held here
        }
        const uint8_t* p = pager_->read(pgno);
        if (!dataPageOf(t, p)) continue;
        pageRows(pgno, p, rows, true);
        const auto placed = firstPlaced.find(pgno);
        const uint32_t end = placed == firstPlaced.end() ? UINT32_MAX : placed->second;
        refs.clear();
        for (const RowSpan& r : rows)
            if (refRow(r.ref) < end) refs.push_back(r.ref);
        for (uint32_t ref : refs) fn(ref);
    }
}

void JetDatabase::changeEveryRow(ChangeRun& run) {
    eachRowOnce(run.t, changing_[run.t.page].firstPlaced, [&](uint32_t ref) { changeRow(run, ref); });
}

void JetDatabase::changeRow(ChangeRun& run, uint32_t ref) {
    StoredTable& t = run.t;
    if (!rowLive(ref)) return;  // removed by a cascade of this statement
    {
        auto [p, n] = findRow(ref);
        decodeRow(t, p, n, run.old);
    }
    run.now = run.old;
    const RowChange c = run.change(run.now);
    if (c == RowChange::Keep) return;
    const std::vector<Value>* now = c == RowChange::Replace ? &run.now : nullptr;
    if (now) checkRules(t, run.now);
    run.pending.clear();
    cascadeFrom(t, run.old, now, run.pending);
    ++run.changed;
    if (c == RowChange::Remove) {
        removeChangedRow(t, ref, run.old);
    } else {
        storeChangedRow(t, ref, run.old, run.now, run.row);
    }
    runCascades(run.pending);
}

// A row removed by the statement: its unique keys, long values and slot go.
void JetDatabase::removeChangedRow(StoredTable& t, uint32_t ref, const std::vector<Value>& old) {
    forgetKeys(t, old);
    freeLongValues(t, ref, true);
    removeTableRow(t, ref);
    StatementRows& s = changing_[t.page];
    s.changed = true;
    ++s.removed;
}

namespace {

// Whether an index of the table keys a Memo or OLE column.
bool keysLongValue(const StoredTable& t) {
    for (const StoredIndex& ix : t.indexes)
        for (int number : ix.columns)
            for (const StoredColumn& c : t.columns)
                if (c.number == number && c.isLong()) return true;
    return false;
}

}  // namespace

// A row given new values: stored in its slot when the size allows, else
// elsewhere; returns where it is.
uint32_t JetDatabase::storeChangedRow(StoredTable& t, uint32_t ref, const std::vector<Value>& old,
                                      const std::vector<Value>& now, std::vector<uint8_t>& row) {
    forgetKeys(t, old);
    // The row's earlier long values go first, so that its new ones can take
    // their room; unless an index keys a long value, whose lookups below
    // may still read the row as it was.
    const bool longKeys = keysLongValue(t);
    if (!longKeys) freeLongValues(t, ref, true);
    encodeRow(t, now, row);
    std::vector<Value> stored;
    bool keyed = false;
    for (size_t i = 0; i < t.indexes.size() && !keyed; ++i)
        keyed = t.indexes[i].required() || lookedUp(t, i);
    if (keyed) {
        decodeRow(t, row.data(), row.size(), stored);  // the values as the row keeps them
        checkChangedKeys(t, old, stored);
    }
    if (t.manySide) checkRelated(t, row);
    if (longKeys) freeLongValues(t, ref, true);
    changing_[t.page].changed = true;
    uint32_t at = ref;
    auto [q, m] = rowForWrite(ref);
    if (m == row.size()) {
        std::memcpy(q, row.data(), m);
    } else {
        removeTableRow(t, ref);
        at = appendRow(t, row);
        changing_[t.page].firstPlaced.try_emplace(refPage(at), refRow(at));
    }
    if (keyed) noteChangedKeys(t, old, stored, ref, at);
    return at;
}

// A changed row's unique and required indexes: a key the row did not hold
// must not be another row's (the keys kept in memory, else the index).
void JetDatabase::checkChangedKeys(StoredTable& t, const std::vector<Value>& old, const std::vector<Value>& now) {
    const bool inMemory = t.uniqueKeys.size() == t.indexes.size();
    std::vector<std::pair<size_t, std::string>> keys;
    for (size_t i = 0; i < t.indexes.size(); ++i) {
        const StoredIndex& ix = t.indexes[i];
        if (!ix.unique() && !ix.required()) continue;
        IndexNulls nulls;
        std::string key = rowKey(t, ix, now, nulls);
        if (ix.required() && nulls.any) throw jeterr::nullInIndex();
        if (!ix.unique() || nulls.all) continue;
        if (inMemory) {
            if (t.uniqueKeys[i].count(key)) throw jeterr::duplicateKey();
            keys.emplace_back(i, std::move(key));
            continue;
        }
        IndexNulls was;
        if (rowKey(t, ix, old, was) != key && keyHeld(t, i, key)) throw jeterr::duplicateKey();
        keys.emplace_back(i, std::move(key));
    }
    if (t.uniqueKeys.size() != t.indexes.size()) return;
    // Keys gathered from the rows by a lookup just now hold this row as it was.
    if (!inMemory) forgetKeys(t, old);
    for (auto& [i, key] : keys) t.uniqueKeys[i].insert(std::move(key));
}

// What the indexes written before the statement no longer say of a row:
// that it moved, and the keys it was given.
void JetDatabase::noteChangedKeys(StoredTable& t, const std::vector<Value>& old, const std::vector<Value>& now,
                                  uint32_t from, uint32_t to) {
    StatementRows& s = changing_[t.page];
    if (s.refresh) return;
    if (from != to) {
        s.moved[from] = to;
        ++s.noted;
    }
    for (size_t i = 0; i < t.indexes.size() && i < 256; ++i) {
        if (!lookedUp(t, i)) continue;
        IndexNulls a, b;
        std::string key = rowKey(t, t.indexes[i], now, b);
        if (b.all || rowKey(t, t.indexes[i], old, a) == key) continue;
        s.rekeyed[std::string(1, char(i)) + key].push_back(to);
        ++s.noted;
    }
    if (s.noted > kMaxNoted) {
        s.moved = {};
        s.rekeyed = {};
        s.noted = 0;
        s.refresh = true;
    }
}

// A row's keys leave the unique indexes' key sets.
void JetDatabase::forgetKeys(StoredTable& t, const std::vector<Value>& old) {
    if (t.uniqueKeys.size() != t.indexes.size()) return;
    for (size_t i = 0; i < t.indexes.size(); ++i) {
        if (!t.indexes[i].unique()) continue;
        IndexNulls nulls;
        const std::string key = rowKey(t, t.indexes[i], old, nulls);
        if (!nulls.all) t.uniqueKeys[i].erase(key);
    }
}

// Whether a row slot holds a row (not removed, not a forwarding slot).
bool JetDatabase::rowLive(uint32_t ref) {
    findRow(ref);
    const uint8_t* p = pager_->read(refPage(ref));
    return !(decodeLE16(p + layout().dataPage.rowOffset(refRow(ref))) &
             (datapage::kRowDeleted | datapage::kRowOverflow));
}

// The row's slot marked deleted (the row count is set once, at the end).
void JetDatabase::removeRow(uint32_t ref) {
    findRow(ref);
    uint8_t* p = pager_->modify(refPage(ref));
    const size_t at = layout().dataPage.rowOffset(refRow(ref));
    encodeLE16(p + at, decodeLE16(p + at) | datapage::kRowDeleted | datapage::kRowOverflow);
}

}  // namespace tp::db::jet
