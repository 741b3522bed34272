// ALTER TABLE on a column: ADD [COLUMN], ALTER [COLUMN] and DROP [COLUMN].
//
// ADD describes the new column after the others (its number the highest the
// table ever had) and leaves the stored rows as they are, as Access does:
// their column count and null mask end before the new column, so every
// reader takes it as Null there. The rows are stored again only where an
// untouched row would not read so: a Yes/No column (its value is a bit of
// the null mask, which some readers take past the row's own), an
// AutoNumber column (which numbers the rows), the first variable-length
// column of a table that had none (rows then need a variable part), and a
// table whose column numbers have gaps left by dropped columns.
//
// DROP of a fixed-length column, as Access does it, takes the column's
// descriptor out and leaves the rows and their column count as they are (the
// rows keep the dropped value's bytes, which no descriptor names any more).
// A dropped variable-length column's rows are stored again with one
// variable column fewer (Access leaves its count behind, which the check
// warns of); a dropped Memo or OLE column's long values are freed.
//
// ALTER lays the row out again (fixed columns one after another, variable
// ones numbered as in a new table) and stores every row again, converting
// the column's values as an UPDATE's SET would; a value that does not fit
// fails the statement, which then leaves the file as it was.
//
// The column's Required and DefaultValue follow in the table's property
// list; every other property is kept.
#include <algorithm>
#include <cstring>

#include "db/busy.h"
#include "db/jet/tables/jet_database.h"
#include "db/jet/sql/sql.h"

namespace tp::db::jet {

struct JetDatabase::ColumnPlan {
    std::vector<StoredColumn> columns;  // by number
    std::vector<bool> notNull;          // by position in columns
    std::vector<std::string> defaults;  // by position in columns
    int changed = -1;                   // the added or altered column's position
    bool rewrite = false;               // every row is stored again
    std::vector<LongValueMaps> maps, droppedMaps;
};

namespace {

bool contains(const std::vector<int>& v, int x) { return std::find(v.begin(), v.end(), x) != v.end(); }

bool indexed(const StoredTable& t, int number) {
    return std::any_of(t.indexes.begin(), t.indexes.end(),
                       [&](const StoredIndex& ix) { return contains(ix.columns, number); });
}

bool related(const StoredTable& t, int number) {
    return std::any_of(t.logical.begin(), t.logical.end(), [&](const LogicalIndex& l) {
        return l.foreign() && l.real < t.indexes.size() && contains(t.indexes[l.real].columns, number);
    });
}

bool autoNumbered(const StoredColumn& c) { return c.flags & (columnflag::kAutoNumber | 0x40); }

// Places in the row as a new table's columns get them: fixed columns one
// after another in number order, variable ones numbered, long values last.
void layOut(std::vector<StoredColumn>& cols, size_t maxRow) {
    std::stable_sort(cols.begin(), cols.end(),
                     [](const StoredColumn& a, const StoredColumn& b) { return a.number < b.number; });
    int fixedOff = 0, nextVar = 0;
    for (StoredColumn& c : cols) {
        c.fixedOffset = 0;
        if (!c.fixed() || c.is(ColType::Bool)) continue;
        c.fixedOffset = fixedOff;
        fixedOff += c.length;
    }
    for (StoredColumn& c : cols)
        if (!c.fixed() && !c.isLong()) c.varIndex = nextVar++;
    for (StoredColumn& c : cols)
        if (c.isLong()) c.varIndex = nextVar++;
    if (size_t(fixedOff) > maxRow) throw jeterr::recordTooLarge();
}

// The table as the plan defines it (counts, fixed area), with the state of
// this session's writing. Rows left as they were keep the table's count of
// variable columns and its fixed area.
void defineAs(StoredTable& now, const std::vector<StoredColumn>& cols, bool rewrite) {
    now.columns = cols;
    now.numCols = int(cols.size());
    if (rewrite) now.varCols = now.fixedSize = 0;
    for (const StoredColumn& c : cols) {
        if (!c.fixed()) now.varCols = std::max(now.varCols, rewrite ? now.varCols + 1 : c.varIndex + 1);
        else if (!c.is(ColType::Bool)) now.fixedSize = std::max(now.fixedSize, c.fixedOffset + c.length);
        now.maxCols = std::max(now.maxCols, c.number + 1);
    }
}

void requireAlterable(const StoredTable& t, const std::string& path) {
    if (t.tableType == kSystemTable) throw jeterr::readOnly();
    for (const StoredColumn& c : t.columns)
        if (c.calculated() || unreadableColumn(c))
            throw Error(jeterr::kNotSupported, "The column '" + c.name + "' of table '" + t.name + "' in '" + path +
                                                   "' is " +
                                                   (c.calculated() ? "a calculated field" : unreadableColumn(c)) +
                                                   ", which this database engine cannot write.");
    if (t.indexesEnd < t.realAt || t.realAt < t.columnsAt)
        throw Error(jeterr::kNotSupported,
                    "The definition of table '" + t.name + "' cannot be changed by this database engine.");
}

}  // namespace

void JetDatabase::changeColumn(const ColumnChange& change, const ValueConverter& convert) {
    requireWritable();
    pager_->trim();
    atomically([&] { changeColumnNow(change, convert); });
    afterStatement();
}

// The columns after the change, and whether the rows are stored again.
JetDatabase::ColumnPlan JetDatabase::planColumns(const StoredTable& t, const ColumnChange& change) const {
    ColumnPlan plan;
    plan.columns = t.columns;
    plan.notNull = t.notNull;
    plan.notNull.resize(t.columns.size());
    plan.defaults = t.defaults;
    plan.defaults.resize(t.columns.size());
    const int k = columnIndex(t, change.column.name);
    if (change.kind == ColumnChangeKind::Add) {
        if (k >= 0) throw jeterr::fieldExists(change.column.name, t.name);
        planAdd(t, change.column, plan);
        return plan;
    }
    if (k < 0) throw jeterr::itemNotFound();
    const StoredColumn& was = t.columns[size_t(k)];
    if (change.kind == ColumnChangeKind::Alter) {
        planAlter(t, change.column, size_t(k), plan);
        return plan;
    }
    if (indexed(t, was.number) || t.columns.size() == 1) throw jeterr::fieldInIndex();
    plan.columns.erase(plan.columns.begin() + k);
    plan.notNull.erase(plan.notNull.begin() + k);
    plan.defaults.erase(plan.defaults.begin() + k);
    // Without a variable column the rows' count of them would be one too
    // many: they are stored again with the count they then need.
    plan.rewrite = !was.fixed();
    if (plan.rewrite) layOut(plan.columns, layout().maxRowSize);
    return plan;
}

// ADD: the new column after the others, with the next column number.
void JetDatabase::planAdd(const StoredTable& t, const ColumnDef& def, ColumnPlan& plan) const {
    const int number = std::max(t.maxCols, t.numCols);
    if (t.columns.size() >= 255 || number >= 255) throw jeterr::tooManyFields();
    StoredColumn c = newColumns({def}).front();
    c.number = number;
    const bool counter = autoNumbered(c);
    if (counter && std::any_of(t.columns.begin(), t.columns.end(), autoNumbered))
        throw Error(jeterr::kNotSupported, "Table '" + t.name + "' already has an AutoNumber field.");
    plan.rewrite = c.is(ColType::Bool) || counter || (!c.fixed() && t.varCols == 0) || t.maxCols != t.numCols;
    if (!plan.rewrite) {
        c.fixedOffset = c.fixed() && !c.is(ColType::Bool) ? t.fixedSize : 0;
        c.varIndex = c.fixed() ? 0 : t.varCols;
        if (size_t(t.fixedSize + (c.fixed() ? c.length : 0)) > layout().maxRowSize) throw jeterr::recordTooLarge();
    }
    plan.columns.push_back(c);
    plan.notNull.push_back(def.notNull);
    plan.defaults.push_back(def.defaultValue);
    plan.changed = int(plan.columns.size() - 1);
    if (plan.rewrite) layOut(plan.columns, layout().maxRowSize);
}

// ALTER: the column at position k with its new type, its number and name
// kept.
void JetDatabase::planAlter(const StoredTable& t, const ColumnDef& def, size_t k, ColumnPlan& plan) const {
    const StoredColumn& was = t.columns[k];
    StoredColumn c = newColumns({def}).front();
    if (related(t, was.number) && (c.rawType != was.rawType || c.length != was.length))
        throw jeterr::relationshipFields();
    if (autoNumbered(c) && !autoNumbered(was) && t.rowCount > 0)
        throw Error(jeterr::kNotSupported,
                    "Field '" + was.name + "' cannot become an AutoNumber field once the table holds rows.");
    c.number = was.number;
    c.name = was.name;
    plan.columns[k] = c;
    plan.notNull[k] = def.notNull;
    plan.defaults[k] = def.defaultValue;
    plan.changed = int(k);
    plan.rewrite = true;
    layOut(plan.columns, layout().maxRowSize);
}

// The long-value maps of the long columns after the change: kept for a
// column that held long values before, new for the others; those of
// columns that no longer hold any go.
void JetDatabase::planLongValueMaps(StoredTable& t, ColumnPlan& plan) {
    std::vector<uint8_t> ownedRow(layout().usageMapRowSize, 0), freeRow(layout().usageMapRowSize, 0);
    ownedRow[0] = 0x01;
    uint32_t mapPage = t.ownedMap >> 8;
    for (const StoredColumn& c : plan.columns) {
        if (!c.isLong()) continue;
        auto kept = std::find_if(t.longValueMaps.begin(), t.longValueMaps.end(), [&](const LongValueMaps& m) {
            const int k = m.column;
            return k == c.number && std::any_of(t.columns.begin(), t.columns.end(), [&](const StoredColumn& o) {
                       return o.number == k && o.isLong();
                   });
        });
        if (kept != t.longValueMaps.end()) {
            plan.maps.push_back(*kept);
            continue;
        }
        LongValueMaps m;
        m.column = c.number;
        m.owned = placeUsageMap(mapPage, ownedRow);
        if (!jet3_) m.free = placeUsageMap(mapPage, freeRow);
        plan.maps.push_back(m);
    }
    for (const LongValueMaps& m : t.longValueMaps)
        if (std::none_of(plan.maps.begin(), plan.maps.end(), [&](const LongValueMaps& n) { return n.owned == m.owned; }))
            plan.droppedMaps.push_back(m);
}

// Every row stored again as `now` defines the table: values by column
// number, the altered column's converted, long values written anew.
void JetDatabase::rewriteRows(StoredTable& t, StoredTable& now, const ColumnPlan& plan, const ColumnChange& change,
                              const ValueConverter& convert) {
    std::vector<int> from(now.columns.size(), -1);
    for (size_t j = 0; j < now.columns.size(); ++j)
        for (size_t k = 0; k < t.columns.size(); ++k)
            if (t.columns[k].number == now.columns[j].number) from[j] = int(k);
    const bool converts = change.kind == ColumnChangeKind::Alter;
    const ColumnDef target = plan.changed >= 0 ? columnDefOf(now.columns[size_t(plan.changed)]) : ColumnDef{};
    // Stored values are kept as they are: Required applies to later changes.
    now.notNull.assign(now.columns.size(), false);
    // Only a converted column's values can break a unique or required index
    // (the keys of that check are gathered as the rows are stored again).
    const bool keysChange =
        converts && plan.changed >= 0 && std::any_of(now.indexes.begin(), now.indexes.end(), [&](const StoredIndex& ix) {
            return std::find(ix.columns.begin(), ix.columns.end(), now.columns[size_t(plan.changed)].number) !=
                   ix.columns.end();
        });
    if (keysChange) now.uniqueKeys.assign(now.indexes.size(), {});
    std::vector<Value> old, values;
    std::vector<uint8_t> row;
    // Of the pages that took rows stored again, the first such row (not
    // offered again).
    std::unordered_map<uint32_t, uint32_t> firstPlaced;
    eachRowOnce(t, firstPlaced, [&](uint32_t ref) {
        {
            auto [q, n] = findRow(ref);
            decodeRow(t, q, n, old);
        }
        values.assign(now.columns.size(), Value());
        for (size_t j = 0; j < values.size(); ++j)
            if (from[j] >= 0) values[j] = old[size_t(from[j])];
        if (converts && !values[size_t(plan.changed)].isNull())
            values[size_t(plan.changed)] = convert(values[size_t(plan.changed)], target);
        freeLongValues(t, ref);
        encodeRow(now, values, row);
        if (keysChange) checkUnique(now, row);
        auto [q, m] = rowForWrite(ref);
        if (m == row.size()) {
            std::memcpy(q, row.data(), m);
            return;
        }
        removeTableRow(now, ref);
        const uint32_t at = appendRow(now, row);
        firstPlaced.try_emplace(refPage(at), refRow(at));
    });
    now.uniqueKeys.clear();
}

// The definition with the new columns: its head (counts, row count, last
// AutoNumber), the index count slots, the column descriptors and names,
// the index part as it was, the long-value maps.
std::vector<uint8_t> JetDatabase::alteredDefinition(const StoredTable& t, const StoredTable& now) {
    const std::vector<uint8_t> old = definitionStream(t);
    if (t.indexesEnd > old.size()) damaged("the definition of table '" + t.name + "' is truncated");
    const TdefLayout& T = layout().tdef;
    std::vector<uint8_t> s(old.begin(), old.begin() + long(t.columnsAt));
    for (const StoredColumn& c : now.columns) {
        if (jet3_) putColumn3(s, c, sortLcid_, codePage_);
        else putColumn(s, c);
    }
    for (const StoredColumn& c : now.columns) {
        if (!jet3_) {
            const std::u16string u = utf8ToUtf16(c.name);
            putLE16(s, uint32_t(u.size() * 2));
            coding::putUtf16LE(s, u);
            continue;
        }
        std::vector<uint8_t> name;
        if (!encodeNarrowText(c.name, codePage_, name) || name.size() > 255) throw jeterr::invalidName(c.name);
        s.push_back(uint8_t(name.size()));
        putBytes(s, name.data(), name.size());
    }
    s.insert(s.end(), old.begin() + long(t.realAt), old.begin() + long(t.indexesEnd));
    finishTdef(s, now.longValueMaps);
    encodeLE16(&s[T.maxCols], uint32_t(now.maxCols));
    encodeLE16(&s[T.varCols], uint32_t(now.varCols));
    encodeLE16(&s[T.numCols], uint32_t(now.numCols));
    encodeLE32(&s[T.rowCount], now.rowCount);
    encodeLE32(&s[T.autoNumber], now.autoNumber);
    return s;
}

// The long-value pages of columns that no longer hold long values (their
// rows were stored again, which freed them) go back once no row on them is
// left, and so do the columns' map rows.
void JetDatabase::dropLongValueMaps(const std::vector<LongValueMaps>& maps) {
    std::vector<RowSpan> rows;
    for (const LongValueMaps& m : maps) {
        for (uint32_t pg : mapPages(m.owned)) {
            const uint8_t* p = pager_->read(pg);
            if (!isPage(p, PageType::Data) || std::memcmp(p + datapage::kOwner, datapage::kLongValueMark, 4) != 0)
                continue;
            pageRows(pg, p, rows, true);
            if (rows.empty()) releasePage(pg);
        }
        for (uint32_t ref : {m.owned, m.free})
            if (ref != 0) removeRow(ref);
    }
}

void JetDatabase::changeColumnNow(const ColumnChange& change, const ValueConverter& convert) {
    const std::string stored = findTable(change.table);
    auto entry = std::find_if(catalog_.begin(), catalog_.end(),
                              [&](const CatalogEntry& e) { return e.isTable() && e.name == stored; });
    if (stored.empty() || entry == catalog_.end()) throw jeterr::tableMissing(change.table);
    if (entry->flags & (msysobjects::kSystemFlag | msysobjects::kAccessSystemFlag)) throw jeterr::readOnly();
    StoredTable& t = tableByName(stored);
    requireAlterable(t, pager_->path());
    if (!t.indexes.empty()) requireKeyable(t);
    if (t.indexesStale) {  // rows inserted since the last rebuild
        rebuildIndexes(t);
        t.indexesStale = false;
    }
    // A column a rule names stays while the rule does.
    if (const int k = columnIndex(t, change.column.name); change.kind == ColumnChangeKind::Drop && k >= 0)
        if (ruleNeeds(t, size_t(k))) throw jeterr::fieldInIndex();
    ColumnPlan plan = planColumns(t, change);
    const std::string name = plan.changed >= 0 ? plan.columns[size_t(plan.changed)].name
                                               : t.columns[size_t(columnIndex(t, change.column.name))].name;
    StoredTable now = t;
    defineAs(now, plan.columns, plan.rewrite);
    planLongValueMaps(t, plan);
    now.longValueMaps = plan.maps;
    if (plan.rewrite) rewriteRows(t, now, plan, change, convert);
    rewriteDefinition(t, alteredDefinition(t, now));
    dropLongValueMaps(plan.droppedMaps);
    const Bytes list = propertiesOf(*entry);
    const ColumnDef* def = change.kind == ColumnChangeKind::Drop ? nullptr : &change.column;
    const Bytes changed = withColumnProperties(list, jet3_ ? codePage_ : 0, name, def);
    if (changed != list) setProperties(*entry, changed);
    // The table as now defined, with the state of this session's writing.
    StoredTable fresh = loadTable(t.page, t.name);
    fresh.currentPage = now.currentPage;
    fresh.currentLvPage = std::move(now.currentLvPage);
    fresh.rowCount = now.rowCount;
    fresh.autoNumber = now.autoNumber;
    fresh.countStale = t.countStale;
    fresh.indexesStale = plan.rewrite && !fresh.indexes.empty();
    fresh.notNull = plan.notNull;
    if (std::any_of(plan.defaults.begin(), plan.defaults.end(), [](const std::string& d) { return !d.empty(); }))
        fresh.defaults = plan.defaults;
    if (auto nn = notNullByPage_.find(t.page); nn != notNullByPage_.end()) nn->second = plan.notNull;
    t = std::move(fresh);
    last_ = nullptr;
}

}  // namespace tp::db::jet
