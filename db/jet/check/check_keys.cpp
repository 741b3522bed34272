// The check of keys: each table's logical indexes (their real indexes, names,
// one primary key), each foreign-key index with its other side, the rows of
// the many side against the keys of the one side, and MSysRelationships
// against the foreign-key indexes.
#include <algorithm>

#include "db/jet/check/checker.h"

namespace tp::db::jet {

void Checker::checkKeys(const std::vector<std::pair<uint32_t, std::string>>& tables) {
    std::unordered_map<uint32_t, StoredTable> all;
    for (const auto& [page, name] : tables) {
        if (page >= pages_) continue;
        try {
            all.emplace(page, db_.loadTable(page, name));
        } catch (const Error&) {}  // reported with the table
    }
    for (const auto& [page, t] : all) {
        if (full()) return;
        checkLogical(t, all);
    }
    // Every enforced relationship has its index on the many side, and every
    // such index its relationship.
    std::set<std::string> named;
    for (const RelationshipDef& r : db_.relationships()) {
        named.insert(db_.nameKey(r.name));
        if (!r.enforced) continue;
        auto t = std::find_if(all.begin(), all.end(),
                              [&](const auto& e) { return db_.nameKey(e.second.name) == db_.nameKey(r.table); });
        if (t == all.end()) {
            problem("relationship '" + r.name + "': its table '" + r.table + "' does not exist");
            continue;
        }
        const auto& lx = t->second.logical;
        if (std::none_of(lx.begin(), lx.end(), [&](const LogicalIndex& l) {
                return l.foreign() && l.relSide == 2 && db_.nameKey(l.name) == db_.nameKey(r.name);
            }))
            warning("relationship '" + r.name + "': enforced, but table '" + r.table + "' has no index for it");
    }
    for (const auto& [page, t] : all)
        for (const LogicalIndex& l : t.logical)
            if (l.foreign() && l.relSide == 2 && !named.count(db_.nameKey(l.name)))
                problem("table '" + t.name + "': its foreign-key index '" + l.name +
                        "' belongs to no relationship in MSysRelationships");
}

void Checker::checkLogical(const StoredTable& t, const std::unordered_map<uint32_t, StoredTable>& all) {
    const std::string object = "table '" + t.name + "'";
    std::set<std::string> names;
    std::set<uint32_t> numbers;
    size_t primaries = 0;
    std::vector<bool> used(t.indexes.size());
    for (const LogicalIndex& l : t.logical) {
        const std::string what = object + ", index '" + l.name + "'";
        if (!names.insert(db_.nameKey(l.name)).second) problem(what + ": a second index of that name");
        if (!numbers.insert(l.number).second) problem(what + ": a second index numbered " + std::to_string(l.number));
        if (l.real >= t.indexes.size()) {
            problem(what + ": names real index " + std::to_string(l.real) + ", but the table has " +
                    std::to_string(t.indexes.size()));
            continue;
        }
        used[l.real] = true;
        if (l.primary()) {
            ++primaries;
            // (Access's own system tables have primary keys without these flags.)
            if (t.tableType == kUserTable && (!t.indexes[l.real].unique() || !t.indexes[l.real].required()))
                problem(what + ": a primary key whose index is not unique and required");
        }
        if (l.foreign()) checkForeignKey(t, l, all, what);
    }
    if (primaries > 1) problem(object + ": " + std::to_string(primaries) + " primary keys");
    for (size_t i = 0; i < used.size(); ++i)
        if (!used[i] && !t.logical.empty())
            warning(object + ": real index " + std::to_string(i) + " has no logical index");
}

// A foreign-key index and its other side, which must name it back; the rows
// of the many side against the one side.
void Checker::checkForeignKey(const StoredTable& t, const LogicalIndex& l,
                              const std::unordered_map<uint32_t, StoredTable>& all, const std::string& what) {
    auto other = all.find(l.relTable);
    const LogicalIndex* partner = nullptr;
    if (other != all.end())
        for (const LogicalIndex& o : other->second.logical)
            if (int32_t(o.number) == l.relIndex) partner = &o;
    if (!partner || !partner->foreign() || partner->relTable != t.page || partner->relIndex != int32_t(l.number) ||
        partner->relSide + l.relSide != 3) {
        problem(what + ": a foreign-key index whose other side (" + pageText(l.relTable) + ", index " +
                std::to_string(l.relIndex) + ") does not name it back");
        return;
    }
    if (l.relSide == 2) checkReferences(t, l, other->second, *partner);
}

// Each row of the many side whose key columns are all set has its row on the
// one side.
void Checker::checkReferences(const StoredTable& many, const LogicalIndex& l, const StoredTable& one,
                              const LogicalIndex& partner) {
    const std::string what = "table '" + many.name + "', relationship '" + l.name + "'";
    if (partner.real >= one.indexes.size()) return;  // reported with the one side
    const StoredIndex& key = one.indexes[partner.real];
    const StoredIndex& mine = many.indexes[l.real];
    if (!key.unique() || key.columns.size() != mine.columns.size()) {
        problem(what + ": the index it refers to in table '" + one.name + "' is not a unique index of as many columns");
        return;
    }
    auto position = [](const StoredTable& t, int number) {
        for (size_t k = 0; k < t.columns.size(); ++k)
            if (t.columns[k].number == number) return int(k);
        return -1;
    };
    std::vector<std::pair<int, int>> pairs;  // many position, one position
    for (size_t i = 0; i < key.columns.size(); ++i) {
        pairs.emplace_back(position(many, mine.columns[i]), position(one, key.columns[i]));
        if (pairs.back().first < 0 || pairs.back().second < 0) return;  // reported with the index
    }
    std::unordered_set<std::string> keys;
    StoredTable oneCopy = one, manyCopy = many;
    db_.forEachRow(oneCopy, [&](uint32_t, const std::vector<Value>& v) {
        IndexNulls nulls;
        std::string k = db_.rowKey(one, key, v, nulls);
        if (!nulls.all) keys.insert(std::move(k));
    });
    size_t missing = 0;
    std::vector<Value> shaped(one.columns.size());
    db_.forEachRow(manyCopy, [&](uint32_t ref, const std::vector<Value>& v) {
        for (const auto& [m, o] : pairs) {
            if (v[size_t(m)].isNull()) return;
            shaped[size_t(o)] = v[size_t(m)];
        }
        IndexNulls nulls;
        if (keys.count(db_.rowKey(one, key, shaped, nulls))) return;
        if (++missing <= 3) problem(what + ": row " + refText(ref) + " has no related row in table '" + one.name + "'");
    });
    if (missing > 3) problem(what + ": " + std::to_string(missing) + " rows in all have no related row");
}

}  // namespace tp::db::jet
