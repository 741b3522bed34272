// UPDATE and DELETE in the engine: each row of a table offered to the
// statement's decision, removed or replaced as one statement. A replaced row
// of the same size stays in its slot; otherwise it is removed and stored
// again as an INSERT stores it; a removed row's space goes back to its
// page for the rows stored after it. Unique and required indexes are checked row
// by row against the keys the table holds, the new row's relationships as
// an INSERT's are, and a removed or changed key must have no related rows.
#include <algorithm>
#include <cstring>

#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

struct JetDatabase::ChangeRun {
    ChangeRun(StoredTable& table, const RowChanger& decide) : t(table), change(decide) {}
    StoredTable& t;
    const RowChanger& change;
    int64_t changed = 0, removed = 0;
    std::vector<Value> old, now;
    std::vector<uint8_t> row;
    // Of each relationship whose one side is t (by its logical index): the
    // keys the many side's rows hold, gathered when first needed.
    std::unordered_map<uint32_t, std::unordered_set<std::string>> related;
    // Rows stored again elsewhere by this statement (not offered again).
    std::unordered_set<uint32_t> placed;
};

namespace {

bool hasUnique(const StoredTable& t) {
    return std::any_of(t.indexes.begin(), t.indexes.end(), [](const StoredIndex& ix) { return ix.unique(); });
}

void requireChangeable(const StoredTable& t, const std::string& path) {
    if (t.tableType == kSystemTable) throw jeterr::readOnly();
    for (const StoredColumn& c : t.columns)
        if (c.calculated() || unreadableColumn(c))
            throw Error(jeterr::kNotSupported, "The column '" + c.name + "' of table '" + t.name + "' in '" + path +
                                                   "' is " +
                                                   (c.calculated() ? "a calculated field" : unreadableColumn(c)) +
                                                   ", which this database engine cannot write.");
}

}  // namespace

int64_t JetDatabase::changeRows(const std::string& table, const RowChanger& change,
                               const std::vector<ValueRange>& where) {
    requireWritable();
    pager_->trim();
    int64_t changed = 0;
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
        if (run.changed == 0) return;
        // The row count and the indexes reach the file at the next
        // durability point, as after INSERTs.
        t.rowCount -= uint32_t(run.removed);
        t.countStale = true;
        if (!t.indexes.empty()) t.indexesStale = true;
        last_ = nullptr;
        changed = run.changed;
    });
    afterStatement();
    return changed;
}

// Every live row of the table, a data page at a time (the pages listed
// before any row changes; a row stored again is not offered twice).
void JetDatabase::changeEveryRow(ChangeRun& run) {
    std::vector<RowSpan> rows;
    std::vector<uint32_t> refs;
    size_t seen = 0;
    for (uint32_t pgno : mapPages(run.t.ownedMap)) {
        if ((++seen & 63) == 0) pager_->trim(true);  // no page pointer held here
        const uint8_t* p = pager_->read(pgno);
        if (!dataPageOf(run.t, p)) continue;
        pageRows(pgno, p, rows, true);
        refs.clear();
        for (const RowSpan& r : rows)
            if (!run.placed.count(r.ref)) refs.push_back(r.ref);
        for (uint32_t ref : refs) changeRow(run, ref);
    }
}

void JetDatabase::changeRow(ChangeRun& run, uint32_t ref) {
    StoredTable& t = run.t;
    {
        auto [p, n] = findRow(ref);
        decodeRow(t, p, n, run.old);
    }
    run.now = run.old;
    const RowChange c = run.change(run.now);
    if (c == RowChange::Keep) return;
    requireUnrelated(run, run.old, c == RowChange::Replace ? &run.now : nullptr);
    // The unique keys the rows hold, gathered before this row's go.
    if (c == RowChange::Replace && hasUnique(t)) uniqueKeysOf(t, 0);
    forgetKeys(t, run.old);
    freeLongValues(t, ref, true);
    ++run.changed;
    if (c == RowChange::Remove) {
        removeTableRow(t, ref);
        ++run.removed;
        return;
    }
    encodeRow(t, run.now, run.row);
    if (!t.indexes.empty()) checkUnique(t, run.row);
    if (t.manySide) checkRelated(t, run.row);
    auto [q, m] = rowForWrite(ref);
    if (m == run.row.size()) {
        std::memcpy(q, run.row.data(), m);
        return;
    }
    removeTableRow(t, ref);
    run.placed.insert(appendRow(t, run.row));
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

// A key of the one side that goes (its row removed, or changed to another
// key) must not be held by rows of the many side.
void JetDatabase::requireUnrelated(ChangeRun& run, const std::vector<Value>& old, const std::vector<Value>* now) {
    StoredTable& t = run.t;
    for (const LogicalIndex& l : t.logical) {
        if (!l.foreign() || l.relSide != 1 || l.real >= t.indexes.size()) continue;
        IndexNulls nulls;
        const std::string key = rowKey(t, t.indexes[l.real], old, nulls);
        if (nulls.any) continue;
        if (now && rowKey(t, t.indexes[l.real], *now, nulls) == key) continue;
        StoredTable* many = tableAt(l.relTable);
        if (!many) continue;
        auto mine = std::find_if(many->logical.begin(), many->logical.end(),
                                 [&](const LogicalIndex& o) { return int32_t(o.number) == l.relIndex; });
        if (mine == many->logical.end() || mine->real >= many->indexes.size()) continue;
        if (!relatedKeys(run, l, *many, *mine).count(key)) continue;
        const bool cascades = now ? (l.cascadeUpdate || mine->cascadeUpdate) : (l.cascadeDelete || mine->cascadeDelete);
        if (cascades)
            throw Error(jeterr::kNotSupported, "The relationship with table '" + many->name +
                                                   "' cascades; this database engine does not cascade changes.");
        throw jeterr::relatedRecords(many->name);
    }
}

// The keys the many side's rows hold in the relationship whose one side's
// index is l (gathered once a statement).
const std::unordered_set<std::string>& JetDatabase::relatedKeys(ChangeRun& run, const LogicalIndex& l,
                                                                StoredTable& many, const LogicalIndex& mine) {
    const auto found = run.related.try_emplace(l.number);
    std::unordered_set<std::string>& keys = found.first->second;
    if (found.second)
        forEachRow(many, [&](uint32_t, const std::vector<Value>& v) {
            std::vector<uint8_t> e;
            if (relatedKey(many, mine, run.t, l, v, e)) keys.emplace(e.begin(), e.end());
        });
    return keys;
}

// The row's slot marked deleted (the row count is set once, at the end).
void JetDatabase::removeRow(uint32_t ref) {
    findRow(ref);
    uint8_t* p = pager_->modify(refPage(ref));
    const size_t at = layout().dataPage.rowOffset(refRow(ref));
    encodeLE16(p + at, decodeLE16(p + at) | datapage::kRowDeleted | datapage::kRowOverflow);
}

}  // namespace tp::db::jet
