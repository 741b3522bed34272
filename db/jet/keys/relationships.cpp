// Relationships: ALTER TABLE ... ADD CONSTRAINT ... FOREIGN KEY, dropping
// one, reading them from MSysRelationships, and the check of a new row of a
// table on the many side. Access keeps an enforced relationship in four
// places, all written here in one statement: a foreign-key index on the many
// side (named after the relationship, on its own real index), one on the one
// side (".rC", sharing the real index of the key it refers to), a row per
// column pair in MSysRelationships, and an object in the catalog. One it
// keeps without enforcing (NOT ENFORCED) has only the last two, grbit 0x2.
#include <algorithm>
#include <map>

#include "db/jet/keys/index_builder.h"
#include "db/jet/tables/jet_database.h"
#include "db/jet/sql/sql.h"

namespace tp::db::jet {

namespace {

constexpr uint32_t kRelationshipsParent = 0x0F000003;  // the catalog's Relationships container
constexpr uint32_t kPagelessObject = 0x80000000;       // ids of objects without pages
constexpr int kRelationshipType = 8;
// MSysRelationships' grbit.
constexpr int64_t kCascadeUpdates = 0x100;
constexpr int64_t kCascadeDeletes = 0x1000;
constexpr int64_t kNotEnforced = 0x2;
// The first byte of the count slot of a real index made for the many side.
constexpr uint8_t kForeignSlot = 0x04;
constexpr const char* kOneSideName = ".rC";

struct RelColumns {
    int name = -1, grbit = -1, count = -1, position = -1, object = -1, column = -1, refObject = -1, refColumn = -1;
    explicit RelColumns(const StoredTable& rel) {
        const std::pair<const char*, int*> names[] = {{"szRelationship", &name},
                                                      {"grbit", &grbit},
                                                      {"ccolumn", &count},
                                                      {"icolumn", &position},
                                                      {"szObject", &object},
                                                      {"szColumn", &column},
                                                      {"szReferencedObject", &refObject},
                                                      {"szReferencedColumn", &refColumn}};
        for (size_t k = 0; k < rel.columns.size(); ++k)
            for (const auto& [n, at] : names)
                if (rel.columns[k].name == n) *at = int(k);
    }
    bool complete() const {
        return name >= 0 && grbit >= 0 && count >= 0 && position >= 0 && object >= 0 && column >= 0 && refObject >= 0 &&
               refColumn >= 0;
    }
};

std::string textOf(const Value& v) { return v.kind() == Kind::Text ? v.text() : std::string(); }
int64_t intOf(const Value& v) { return v.kind() == Kind::Int ? v.integer() : 0; }

}  // namespace

std::vector<RelationshipDef> JetDatabase::relationships() {
    requireOpen();
    std::vector<RelationshipDef> out;
    if (findTable("MSysRelationships").empty()) return out;
    StoredTable& rel = tableByName("MSysRelationships");
    const RelColumns c(rel);
    if (!c.complete()) return out;
    std::map<std::string, std::map<int64_t, std::vector<Value>>> rows;  // name key -> position -> row
    std::map<std::string, std::string> names;
    forEachRow(rel, [&](uint32_t, const std::vector<Value>& v) {
        const std::string name = textOf(v[size_t(c.name)]);
        names[nameKey(name)] = name;
        rows[nameKey(name)][intOf(v[size_t(c.position)])] = v;
    });
    for (const auto& [key, byPosition] : rows) {
        RelationshipDef r;
        r.name = names[key];
        for (const auto& [position, v] : byPosition) {
            r.table = textOf(v[size_t(c.object)]);
            r.referenced = textOf(v[size_t(c.refObject)]);
            r.columns.push_back(textOf(v[size_t(c.column)]));
            r.referencedColumns.push_back(textOf(v[size_t(c.refColumn)]));
            const int64_t grbit = intOf(v[size_t(c.grbit)]);
            r.cascadeUpdate = grbit & kCascadeUpdates;
            r.cascadeDelete = grbit & kCascadeDeletes;
            r.enforced = !(grbit & kNotEnforced);
        }
        out.push_back(std::move(r));
    }
    return out;
}

void JetDatabase::addRelationship(const RelationshipDef& d) {
    requireKeysWritable();
    pager_->trim();
    atomically([&] { addRelationshipNow(d); });
    afterStatement();
}

namespace {

// The unique index of the one side on exactly the referenced columns, and the
// column pairs put in that index's order; -1 when there is none.
int referencedIndex(const StoredTable& one, std::vector<int>& oneCols, std::vector<int>& manyCols) {
    for (size_t r = 0; r < one.indexes.size(); ++r) {
        const StoredIndex& ix = one.indexes[r];
        if (!ix.unique() || ix.columns.size() != oneCols.size()) continue;
        std::vector<int> order;
        for (int cn : ix.columns) {
            auto at = std::find(oneCols.begin(), oneCols.end(), cn);
            if (at == oneCols.end()) break;
            order.push_back(int(at - oneCols.begin()));
        }
        if (order.size() != oneCols.size()) continue;
        std::vector<int> many;
        for (int k : order) many.push_back(manyCols[size_t(k)]);
        oneCols = ix.columns;
        manyCols = many;
        return int(r);
    }
    return -1;
}

const StoredColumn& columnNumbered(const StoredTable& t, int number) {
    for (const StoredColumn& c : t.columns)
        if (c.number == number) return c;
    return t.columns.front();
}

}  // namespace

void JetDatabase::addRelationshipNow(const RelationshipDef& d) {
    const std::string manyName = findTable(d.table), oneName = findTable(d.referenced);
    if (manyName.empty()) throw jeterr::tableMissing(d.table);
    if (oneName.empty()) throw jeterr::tableMissing(d.referenced);
    if (findTable("MSysRelationships").empty()) throw jeterr::notSupportedForObject();
    checkName(d.name);
    for (CatalogEntry& e : catalog_)
        if ((e.type & 0x7F) == kRelationshipType && nameKey(e) == nameKey(d.name))
            throw jeterr::relationshipExists(d.name);
    StoredTable* many = &tableByName(manyName);
    StoredTable* one = &tableByName(oneName);
    if (many->tableType == kSystemTable || one->tableType == kSystemTable) throw jeterr::readOnly();
    if (!d.enforced) {
        // Kept, not enforced: no index on either side, no row checked.
        recordRelationship(d, relationshipKey(d, *many, *one, false), many->page, one->page);
        return;
    }
    RelationshipKey k = relationshipKey(d, *many, *one);
    requireKeyable(*many);
    requireKeyable(*one);
    for (StoredTable* t : {many, one})
        if (t->indexesStale) {
            rebuildIndexes(*t);
            t->indexesStale = false;
        }
    requireRelatedRows(*many, *one, k);
    const uint32_t manyPage = many->page, onePage = one->page;
    addForeignKeyIndexes(d, *many, *one, k);
    recordRelationship(d, k, manyPage, onePage);
}

// A relationship's rows in MSysRelationships, one per column pair, and its
// object in the catalog under the Relationships container.
void JetDatabase::recordRelationship(const RelationshipDef& d, const RelationshipKey& k, uint32_t manyPage,
                                     uint32_t onePage) {
    StoredTable& rel = tableByName("MSysRelationships");
    const RelColumns c(rel);
    if (!c.complete()) damaged("MSysRelationships lacks a column");
    const int64_t grbit = (d.cascadeUpdate ? kCascadeUpdates : 0) | (d.cascadeDelete ? kCascadeDeletes : 0) |
                          (d.enforced ? 0 : kNotEnforced);
    for (size_t i = 0; i < k.manyCols.size(); ++i) {
        std::vector<Value> v(rel.columns.size());
        v[size_t(c.name)] = Value(d.name);
        v[size_t(c.grbit)] = Value(grbit);
        v[size_t(c.count)] = Value(int64_t(k.manyCols.size()));
        v[size_t(c.position)] = Value(int64_t(i));
        v[size_t(c.object)] = Value(tables_.at(manyPage)->name);
        v[size_t(c.column)] = Value(columnNumbered(*tables_.at(manyPage), k.manyCols[i]).name);
        v[size_t(c.refObject)] = Value(tables_.at(onePage)->name);
        v[size_t(c.refColumn)] = Value(columnNumbered(*tables_.at(onePage), k.oneCols[i]).name);
        insertInto(rel, v);
    }
    rebuildIndexes(rel);
    uint32_t parent = kRelationshipsParent, last = 0;
    for (const CatalogEntry& e : catalog_) {
        if ((e.type & 0x7F) == 3 && e.name == "Relationships" && e.parentId == kTablesParent) parent = e.id;
        if (e.id & kPagelessObject) last = std::max(last, e.id & ~kPagelessObject);
    }
    addObject(d.name, kPagelessObject | (last + 1), parent, kRelationshipType);
}

// The columns a relationship pairs (in the order of the one side's unique
// index) and that index; `unique` false: in the order given, no index.
JetDatabase::RelationshipKey JetDatabase::relationshipKey(const RelationshipDef& d, const StoredTable& many,
                                                          const StoredTable& one, bool unique) const {
    std::vector<std::string> refNames = d.referencedColumns;
    if (refNames.empty())
        for (const LogicalIndex& l : one.logical)
            if (l.primary())
                for (int cn : one.indexes[l.real].columns) refNames.push_back(columnNumbered(one, cn).name);
    if (refNames.empty()) throw jeterr::notUniquelyIndexed(one.name);
    if (d.columns.size() != refNames.size()) throw jeterr::relationshipFields();
    RelationshipKey k;
    k.manyCols = indexColumns(many, d.columns);
    k.oneCols = indexColumns(one, refNames);
    for (size_t i = 0; i < k.manyCols.size(); ++i)
        if (columnNumbered(many, k.manyCols[i]).rawType != columnNumbered(one, k.oneCols[i]).rawType)
            throw jeterr::relationshipFields();
    if (!unique) return k;  // a relationship not enforced needs no unique index
    k.real = referencedIndex(one, k.oneCols, k.manyCols);
    if (k.real < 0) throw jeterr::notUniquelyIndexed(one.name);
    return k;
}

// Every row of the many side must have its row on the one side.
void JetDatabase::requireRelatedRows(StoredTable& many, StoredTable& one, const RelationshipKey& k) {
    const StoredIndex& key = one.indexes[size_t(k.real)];
    const auto& keys = uniqueKeysOf(one, size_t(k.real));
    std::vector<size_t> pos;
    for (int cn : k.manyCols)
        for (size_t c = 0; c < many.columns.size(); ++c)
            if (many.columns[c].number == cn) pos.push_back(c);
    forEachRow(many, [&](uint32_t, const std::vector<Value>& v) {
        std::vector<uint8_t> e;
        for (size_t i = 0; i < pos.size(); ++i) {
            if (v[pos[i]].isNull()) return;
            appendIndexKey(e, columnNumbered(one, key.columns[i]), v[pos[i]], key.ascending[i], sortOrder());
        }
        if (!keys.count(std::string(e.begin(), e.end()))) throw jeterr::integrityViolated(many.name, one.name);
    });
}

// The many side gets a real index of its own and the relationship's index;
// the one side an index sharing the real index of its key.
void JetDatabase::addForeignKeyIndexes(const RelationshipDef& d, StoredTable& many, StoredTable& one,
                                       const RelationshipKey& k) {
    StoredIndex ix;
    ix.columns = k.manyCols;
    ix.ascending.assign(k.manyCols.size(), true);
    ix.flags = jet3_ ? 0 : realindex::kAccessFlag;
    newIndexPages(many, ix);
    IndexSections x = indexSections(many);
    x.slots.emplace_back(layout().tdef.indexCountSize, 0);
    if (!jet3_) x.slots.back()[0] = kForeignSlot;
    x.reals.push_back(realIndexBlock(ix, layout()));
    const bool self = &many == &one;
    LogicalIndex manyIx;
    manyIx.name = d.name;
    manyIx.number = uint32_t(x.logical.size());
    manyIx.real = uint32_t(x.reals.size() - 1);
    manyIx.relSide = 2;
    manyIx.relTable = one.page;
    manyIx.relIndex = int32_t(self ? manyIx.number + 1 : one.logical.size());
    manyIx.cascadeUpdate = d.cascadeUpdate ? 1 : 0;
    manyIx.cascadeDelete = d.cascadeDelete ? 1 : 0;
    manyIx.kind = indexkind::kForeign;
    x.logical.push_back(manyIx);
    if (self) addOneSideIndex(x, manyIx, many.page, uint32_t(k.real));
    const uint32_t onePage = one.page;
    writeIndexSections(many, std::move(x));
    IndexBuilder(*this, many, IndexBuilder::movedRows(*this, many)).build(many.indexes.back(), false);
    if (!self) {
        StoredTable& oneNow = *tables_.at(onePage);
        IndexSections y = indexSections(oneNow);
        addOneSideIndex(y, manyIx, many.page, uint32_t(k.real));
        writeIndexSections(oneNow, std::move(y));
    }
}

// The one side's index of a relationship, under the first free name.
void JetDatabase::addOneSideIndex(IndexSections& y, const LogicalIndex& manyIx, uint32_t manyPage,
                                  uint32_t real) const {
    LogicalIndex l;
    std::string name = kOneSideName;
    for (int n = 1; std::any_of(y.logical.begin(), y.logical.end(),
                                [&](const LogicalIndex& o) { return nameKey(o.name) == nameKey(name); });
         ++n)
        name = std::string(kOneSideName) + std::to_string(n);
    l.name = name;
    l.number = uint32_t(y.logical.size());
    l.real = real;
    l.relSide = 1;
    l.relTable = manyPage;
    l.relIndex = int32_t(manyIx.number);
    l.cascadeUpdate = manyIx.cascadeUpdate;
    l.cascadeDelete = manyIx.cascadeDelete;
    l.kind = indexkind::kForeign;
    y.logical.push_back(l);
}

void JetDatabase::dropRelationshipNow(const RelationshipDef& r) {
    // The foreign-key indexes of both sides.
    const uint32_t manyPage = tableByName(findTable(r.table)).page;
    {
        StoredTable& many = *tables_.at(manyPage);
        auto l = std::find_if(many.logical.begin(), many.logical.end(), [&](const LogicalIndex& o) {
            return o.foreign() && o.relSide == 2 && nameKey(o.name) == nameKey(r.name);
        });
        if (l != many.logical.end()) {
            const uint32_t onePage = l->relTable, oneNumber = uint32_t(l->relIndex), manyNumber = l->number;
            if (StoredTable* one = tableAt(onePage)) {
                IndexSections y = indexSections(*one);
                if (std::any_of(y.logical.begin(), y.logical.end(),
                                [&](const LogicalIndex& o) { return o.number == oneNumber; }) &&
                    (onePage != manyPage || oneNumber != manyNumber)) {
                    removeLogical(*one, y, oneNumber);
                    writeIndexSections(*one, std::move(y));
                }
            }
            StoredTable& m = *tables_.at(manyPage);
            auto again = std::find_if(m.logical.begin(), m.logical.end(), [&](const LogicalIndex& o) {
                return o.foreign() && o.relSide == 2 && nameKey(o.name) == nameKey(r.name);
            });
            if (again != m.logical.end()) {
                IndexSections x = indexSections(m);
                removeLogical(m, x, again->number);
                writeIndexSections(m, std::move(x));
            }
        }
    }
    // Its rows in MSysRelationships and its object in the catalog.
    StoredTable& rel = tableByName("MSysRelationships");
    const RelColumns c(rel);
    std::vector<uint32_t> refs;
    forEachRow(rel, [&](uint32_t ref, const std::vector<Value>& v) {
        if (nameKey(textOf(v[size_t(c.name)])) == nameKey(r.name)) refs.push_back(ref);
    });
    for (uint32_t ref : refs) deleteRow(rel, ref);
    rebuildIndexes(rel);
    for (auto e = catalog_.begin(); e != catalog_.end(); ++e)
        if ((e->type & 0x7F) == kRelationshipType && nameKey(*e) == nameKey(r.name)) {
            removeObject(e);
            break;
        }
}

// A new row of a table on the many side of relationships: each key it holds
// (all its columns not null) must be a key of the one side (its keys kept in
// memory, else its index).
void JetDatabase::checkRelated(StoredTable& many, const std::vector<uint8_t>& row) {
    std::vector<Value> v;
    bool decoded = false;
    for (const LogicalIndex& l : many.logical) {
        if (!l.foreign() || l.relSide != 2) continue;
        StoredTable* one = tableAt(l.relTable);
        if (!one) continue;
        auto partner = std::find_if(one->logical.begin(), one->logical.end(),
                                    [&](const LogicalIndex& o) { return int32_t(o.number) == l.relIndex; });
        if (partner == one->logical.end() || partner->real >= one->indexes.size()) continue;
        if (!decoded) {
            decodeRow(many, row.data(), row.size(), v);
            decoded = true;
        }
        std::vector<uint8_t> e;
        if (relatedKey(many, l, *one, *partner, v, e) && !keyHeld(*one, partner->real, std::string(e.begin(), e.end())))
            throw jeterr::relatedRecordRequired(one->name);
    }
}

// The key in the one side's index of a many-side row's values; false when
// one of them is null (the row refers to nothing).
bool JetDatabase::relatedKey(const StoredTable& many, const LogicalIndex& l, const StoredTable& one,
                             const LogicalIndex& partner, const std::vector<Value>& v, std::vector<uint8_t>& e) const {
    const StoredIndex& mine = many.indexes[l.real];
    const StoredIndex& key = one.indexes[partner.real];
    bool null = false;
    for (size_t i = 0; i < mine.columns.size() && i < key.columns.size() && !null; ++i)
        for (size_t k = 0; k < many.columns.size(); ++k)
            if (many.columns[k].number == mine.columns[i]) {
                null = v[k].isNull();
                if (!null) appendIndexKey(e, columnNumbered(one, key.columns[i]), v[k], key.ascending[i], sortOrder());
            }
    return !null;
}

}  // namespace tp::db::jet
