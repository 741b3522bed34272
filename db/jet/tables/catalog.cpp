// The catalog (MSysObjects): loading it, finding tables by name under the
// catalog's sort order, listing tables and columns, adding catalog rows and
// their permissions, the Required property lists.
#include <algorithm>
#include <cstring>

#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

namespace {

// The property list of a new table: its columns' Required and DefaultValue,
// the names block first, then the table's own map, empty, as Access writes
// them.
Bytes propertyList(const ColumnProperties& cp, unsigned codePage) {
    PropertyList l;
    if (!cp.required.empty()) l.names.emplace_back("Required");
    if (!cp.defaults.empty()) l.names.emplace_back("DefaultValue");
    l.maps.push_back({props::kTable, {}, {}});
    for (const std::string& c : cp.columns) {
        const auto def =
            std::find_if(cp.defaults.begin(), cp.defaults.end(), [&](const auto& d) { return d.first == c; });
        if (def != cp.defaults.end()) setProperty(l, c, "DefaultValue", def->second, codePage);
        if (std::find(cp.required.begin(), cp.required.end(), c) != cp.required.end())
            setProperty(l, c, "Required", "1", codePage);
    }
    return writePropertyList(l, codePage);
}

// What the engine keeps of one map: Required, DefaultValue and the
// validation rule with its text.
void readMap(const PropertyMap& m, unsigned codePage, ColumnProperties& out) {
    const bool column = m.kind == props::kColumn;
    ColumnProperties::Rule rule{column ? m.object : std::string(), {}, {}};
    for (const PropertyEntry& e : m.entries) {
        const bool text = e.type == props::kMemo || e.type == props::kText;
        if (column && e.type == props::kYesNo && e.name == "Required" && !e.value.empty() && e.value[0] != 0)
            out.required.push_back(m.object);
        else if (column && text && e.name == "DefaultValue")
            out.defaults.emplace_back(m.object, propertyText(e, codePage));
        else if (text && e.name == "ValidationRule") rule.rule = propertyText(e, codePage);
        else if (text && e.name == "ValidationText") rule.text = propertyText(e, codePage);
    }
    if (!rule.rule.empty()) out.rules.push_back(std::move(rule));
}

void applyDefaults(StoredTable& t, const ColumnProperties& cp) {
    if (cp.defaults.empty()) return;
    t.defaults.assign(t.columns.size(), std::string());
    for (size_t i = 0; i < t.columns.size(); ++i)
        for (const auto& [column, text] : cp.defaults)
            if (foldName(column) == foldName(t.columns[i].name)) t.defaults[i] = text;
}

// A list of its own for a column, when the table has none.
Bytes newColumnProperties(unsigned codePage, const std::string& column, const ColumnDef& def) {
    ColumnProperties cp;
    cp.columns.push_back(column);
    if (def.notNull) cp.required.push_back(column);
    if (!def.defaultValue.empty()) cp.defaults.emplace_back(column, def.defaultValue);
    return propertyList(cp, codePage);
}

}  // namespace

// `codePage`: Access 97 lists' (0: a later version's). What a damaged list
// still gives is kept.
ColumnProperties readProperties(const Bytes& b, unsigned codePage) {
    ColumnProperties out;
    PropertyList l;
    readPropertyList(b, codePage, l, nullptr);
    for (const PropertyMap& m : l.maps) readMap(m, codePage, out);
    return out;
}

Bytes withColumnProperties(const Bytes& list, unsigned codePage, const std::string& column, const ColumnDef* def) {
    const bool wanted = def && (def->notNull || !def->defaultValue.empty());
    PropertyList l;
    if (list.empty() || !readPropertyList(list, codePage, l, nullptr))
        return wanted ? newColumnProperties(codePage, column, *def) : list;
    if (!def) {
        l.maps.erase(std::remove_if(l.maps.begin(), l.maps.end(),
                                    [&](const PropertyMap& m) {
                                        return m.kind == props::kColumn && foldName(m.object) == foldName(column);
                                    }),
                     l.maps.end());
        return writePropertyList(l, codePage);
    }
    setProperty(l, column, "DefaultValue", std::nullopt, codePage);
    setProperty(l, column, "Required", std::nullopt, codePage);
    if (!def->defaultValue.empty()) setProperty(l, column, "DefaultValue", def->defaultValue, codePage);
    if (def->notNull) setProperty(l, column, "Required", "1", codePage);
    return writePropertyList(l, codePage);
}

// A catalog row's property list as stored (empty when it has none).
Bytes JetDatabase::propertiesOf(const CatalogEntry& e) {
    StoredTable& sys = *tables_.at(msysobjects::kDefinitionPage);
    std::vector<Value> v;
    auto [p, n] = findRow(e.rowRef);
    decodeRow(sys, p, n, v);
    for (size_t k = 0; k < sys.columns.size(); ++k)
        if (sys.columns[k].name == "LvProp" && v[k].kind() == Kind::Binary) return v[k].bytes();
    return {};
}

// A table's property list replaced in its catalog row (stored again
// elsewhere when its size changes).
void JetDatabase::setProperties(CatalogEntry& e, const Bytes& list) {
    StoredTable& sys = *tables_.at(msysobjects::kDefinitionPage);
    std::vector<Value> v;
    {
        auto [p, n] = findRow(e.rowRef);
        decodeRow(sys, p, n, v);
    }
    for (size_t k = 0; k < sys.columns.size(); ++k)
        if (sys.columns[k].name == "LvProp") v[k] = list.empty() ? Value() : Value(list);
    freeCatalogLongValues(e.rowRef);
    std::vector<uint8_t> row;
    encodeRow(sys, v, row);
    auto [q, m] = rowForWrite(e.rowRef);
    if (m == row.size()) {
        std::memcpy(q, row.data(), m);
    } else {
        removeTableRow(sys, e.rowRef);
        e.rowRef = appendRow(sys, row);
        rebuildIndexes(sys);
    }
    e.properties = readProperties(list, jet3_ ? codePage_ : 0);
}

void JetDatabase::loadCatalog() {
    auto sys = std::make_unique<StoredTable>(loadTable(msysobjects::kDefinitionPage, "MSysObjects"));
    StoredTable& t = *sys;
    auto col = [&](const char* n) {
        for (size_t i = 0; i < t.columns.size(); ++i)
            if (t.columns[i].name == n) return int(i);
        damaged(std::string("the system catalog has no column ") + n);
    };
    const int cId = col("Id"), cParent = col("ParentId"), cName = col("Name"), cType = col("Type"),
              cFlags = col("Flags"), cOwner = col("Owner");
    int cProps = -1;
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (t.columns[i].name == "LvProp") cProps = int(i);
    catalog_.clear();
    forgetCatalogIndex();
    parentSids_.clear();
    const unsigned propsCodePage = jet3_ ? codePage_ : 0;  // Access 97 lists: texts in the code page
    forEachRow(t, [&](uint32_t ref, const std::vector<Value>& v) {
        CatalogEntry e;
        e.rowRef = ref;
        if (v[size_t(cId)].kind() == Kind::Int) e.id = uint32_t(v[size_t(cId)].integer());
        if (v[size_t(cParent)].kind() == Kind::Int) e.parentId = uint32_t(v[size_t(cParent)].integer());
        if (v[size_t(cName)].kind() == Kind::Text) e.name = v[size_t(cName)].text();
        if (v[size_t(cType)].kind() == Kind::Int) e.type = int(v[size_t(cType)].integer());
        if (v[size_t(cFlags)].kind() == Kind::Int) e.flags = uint32_t(v[size_t(cFlags)].integer());
        if (v[size_t(cOwner)].kind() == Kind::Binary) e.owner = v[size_t(cOwner)].bytes();
        if (cProps >= 0 && e.isTable() && v[size_t(cProps)].kind() == Kind::Binary)
            e.properties = readProperties(v[size_t(cProps)].bytes(), propsCodePage);
        catalog_.push_back(std::move(e));
    });
    tables_[msysobjects::kDefinitionPage] = std::move(sys);
}

// The table of a catalog entry, loaded on first use with its NOT NULL
// columns: those of this session, else the columns' Required property.
StoredTable& JetDatabase::loadedTable(const CatalogEntry& e) {
    const uint32_t page = e.tablePage();
    auto it = tables_.find(page);
    if (it != tables_.end()) return *it->second;
    it = tables_.emplace(page, std::make_unique<StoredTable>(loadTable(page, e.name))).first;
    StoredTable& t = *it->second;
    if (auto nn = notNullByPage_.find(page); nn != notNullByPage_.end()) {
        t.notNull = nn->second;
    } else if (!e.properties.required.empty()) {
        // NOT NULL as the file keeps it: the columns' Required property.
        t.notNull.assign(t.columns.size(), false);
        for (size_t i = 0; i < t.columns.size(); ++i)
            for (const std::string& r : e.properties.required)
                if (foldName(r) == foldName(t.columns[i].name)) t.notNull[i] = true;
    }
    applyDefaults(t, e.properties);
    return t;
}

const std::vector<size_t>& JetDatabase::catalogEntriesNamed(std::string_view name) {
    if (!catalogIndexed_) {
        catalogByKey_.clear();
        for (size_t i = 0; i < catalog_.size(); ++i) catalogByKey_[nameKey(catalog_[i])].push_back(i);
        catalogIndexed_ = true;
    }
    static const std::vector<size_t> none;
    const auto it = catalogByKey_.find(nameKey(name));
    return it == catalogByKey_.end() ? none : it->second;
}

StoredTable& JetDatabase::tableByName(const std::string& name) {
    requireOpen();
    if (last_ && lastName_ == name) return *last_;
    for (const size_t at : catalogEntriesNamed(name)) {
        CatalogEntry& e = catalog_[at];
        if (!e.isTable()) continue;
        StoredTable& t = loadedTable(e);
        t.name = e.name;
        last_ = &t;
        lastName_ = name;
        return *last_;
    }
    throw jeterr::inputTableMissing(name);
}

std::vector<TableInfo> JetDatabase::listTables() {
    requireOpen();
    std::vector<TableInfo> out;
    for (const CatalogEntry& e : catalog_) {
        using namespace msysobjects;
        const int type = e.kind();
        TableInfo info;
        info.name = e.name;
        if (type == kTable) {
            if (e.flags & kSystemFlag) info.kind = TableKind::System;
            else if (e.flags & kAccessSystemFlag) info.kind = TableKind::AccessSystem;
            else info.kind = TableKind::User;
        } else if (type == kQuery) {
            if ((e.flags & kActionQueryFlags) != 0) continue;  // action queries are procedures, not views
            info.kind = TableKind::Query;
        } else if (type == kLinkedOdbc || type == kLinked) {
            info.kind = TableKind::Linked;
        } else {
            continue;
        }
        out.push_back(std::move(info));
    }
    return out;
}

std::vector<ColumnDef> JetDatabase::columns(const std::string& table) {
    StoredTable& t = tableByName(table);
    std::vector<ColumnDef> out;
    for (size_t i = 0; i < t.columns.size(); ++i) {
        out.push_back(columnDefOf(t.columns[i]));
        if (i < t.notNull.size()) out.back().notNull = t.notNull[i];
        if (i < t.defaults.size()) out.back().defaultValue = t.defaults[i];
    }
    return out;
}

std::string JetDatabase::findTable(const std::string& name) {
    requireOpen();
    for (const size_t at : catalogEntriesNamed(name)) {
        using namespace msysobjects;
        const int type = catalog_[at].kind();
        if (type == kTable || type == kLinkedOdbc || type == kQuery || type == kLinked) return catalog_[at].name;
    }
    return {};
}

std::string JetDatabase::nameKey(std::string_view name) const {
    std::vector<uint8_t> k{0x7F};
    if (jet3_ || !appendTextKey(k, utf8ToUtf16(name), sortOrder())) return "\x01" + foldName(name);
    return std::string(k.begin(), k.end());
}

void JetDatabase::addCatalogRow(const std::string& name, uint32_t id, uint32_t parent, int type, uint32_t flags,
                                const Bytes& owner, double when, const ColumnProperties& properties) {
    StoredTable& sys = *tables_.at(msysobjects::kDefinitionPage);
    std::vector<Value> v(sys.columns.size());
    for (size_t k = 0; k < sys.columns.size(); ++k) {
        const std::string& n = sys.columns[k].name;
        if (n == "Id") v[k] = Value(int64_t(int32_t(id)));
        else if (n == "ParentId") v[k] = Value(int64_t(int32_t(parent)));
        else if (n == "Name") v[k] = Value(name);
        else if (n == "Type") v[k] = Value(int64_t(type));
        else if (n == "DateCreate" || n == "DateUpdate") v[k] = Value(when);
        else if (n == "Flags") v[k] = Value(int64_t(int32_t(flags)));
        else if (n == "Owner" && !owner.empty()) v[k] = Value(owner);
        else if (n == "LvProp" && !properties.empty()) v[k] = Value(propertyList(properties, jet3_ ? codePage_ : 0));
    }
    std::vector<uint8_t> row;
    encodeRow(sys, v, row);
    CatalogEntry e;
    e.rowRef = appendRow(sys, row);
    setRowCount(sys, sys.rowCount + 1);
    e.id = id;
    e.parentId = parent;
    e.name = name;
    e.type = type;
    e.flags = flags;
    e.owner = owner;
    e.properties = properties;
    catalog_.push_back(std::move(e));
    if (catalogIndexed_) catalogByKey_[nameKey(catalog_.back())].push_back(catalog_.size() - 1);
}

void JetDatabase::addAces(uint32_t objectId, const std::vector<std::pair<Bytes, std::pair<uint32_t, bool>>>& aces) {
    StoredTable& t = tableByName("MSysACEs");
    for (const auto& [sid, acm] : aces) {
        std::vector<Value> v(t.columns.size());
        for (size_t k = 0; k < t.columns.size(); ++k) {
            const std::string& n = t.columns[k].name;
            if (n == "ObjectId") v[k] = Value(int64_t(int32_t(objectId)));
            else if (n == "SID") v[k] = Value(sid);
            else if (n == "ACM") v[k] = Value(int64_t(int32_t(acm.first)));
            else if (n == "FInheritable") v[k] = Value(acm.second);
        }
        insertInto(t, v);
    }
}

StoredTable* JetDatabase::tableAt(uint32_t page) {
    if (auto it = tables_.find(page); it != tables_.end()) return it->second.get();
    for (const CatalogEntry& e : catalog_)
        if (e.isTable() && e.tablePage() == page) return &tableByName(e.name);
    return nullptr;
}

void JetDatabase::addObject(const std::string& name, uint32_t id, uint32_t parent, int type,
                            const ColumnProperties& properties) {
    Bytes owner;
    for (const size_t at : catalogEntriesNamed("MSysDb"))
        if (catalog_[at].kind() == msysobjects::kDatabase && catalog_[at].name == "MSysDb") owner = catalog_[at].owner;
    if (owner.empty()) owner = Bytes{0xA6, 0x33};
    addCatalogRow(name, id, parent, type, 0, owner, nowOle(), properties);
    // The catalog's and the permissions' indexes are made again at the next
    // durability point, once for every object added since (until then a
    // WHERE on them reads the rows).
    StoredTable& sys = *tables_.at(msysobjects::kDefinitionPage);
    if (!sys.indexes.empty()) sys.indexesStale = true;
    StoredTable& aces = tableByName("MSysACEs");
    std::vector<Bytes>& sids = parentSids_[parent];
    if (sids.empty()) sids = acesOf(aces, parent);
    if (sids.empty()) sids.push_back(owner);
    std::vector<std::pair<Bytes, std::pair<uint32_t, bool>>> rows;
    for (const auto& s : sids) rows.push_back({s, {0xFFFFFu, false}});
    addAces(id, rows);
    if (!aces.indexes.empty()) aces.indexesStale = true;
}

// The users and groups that hold permissions on an object (a new object
// takes those of its container), each once.
std::vector<Bytes> JetDatabase::acesOf(StoredTable& aces, uint32_t objectId) {
    std::vector<Bytes> sids;
    int cObj = -1, cSid = -1;
    for (size_t k = 0; k < aces.columns.size(); ++k) {
        if (aces.columns[k].name == "ObjectId") cObj = int(k);
        if (aces.columns[k].name == "SID") cSid = int(k);
    }
    if (cObj >= 0 && cSid >= 0)
        forEachRow(aces, [&](uint32_t, const std::vector<Value>& v) {
            if (v[size_t(cObj)].kind() == Kind::Int && uint32_t(v[size_t(cObj)].integer()) == objectId &&
                v[size_t(cSid)].kind() == Kind::Binary &&
                std::find(sids.begin(), sids.end(), v[size_t(cSid)].bytes()) == sids.end())
                sids.push_back(v[size_t(cSid)].bytes());
        });
    return sids;
}

void JetDatabase::removeObject(std::vector<CatalogEntry>::iterator e) {
    const uint32_t id = e->id;
    StoredTable& sys = *tables_.at(msysobjects::kDefinitionPage);
    deleteRow(sys, e->rowRef);
    catalog_.erase(e);
    forgetCatalogIndex();
    rebuildIndexes(sys);
    removeAces(id);
}

void JetDatabase::removeAces(uint32_t objectId) {
    StoredTable& aces = tableByName("MSysACEs");
    int cObj = -1;
    for (size_t k = 0; k < aces.columns.size(); ++k)
        if (aces.columns[k].name == "ObjectId") cObj = int(k);
    std::vector<uint32_t> refs;
    if (cObj >= 0)
        forEachRow(aces, [&](uint32_t ref, const std::vector<Value>& v) {
            if (v[size_t(cObj)].kind() == Kind::Int && uint32_t(v[size_t(cObj)].integer()) == objectId)
                refs.push_back(ref);
        });
    for (uint32_t r : refs) deleteRow(aces, r);
    rebuildIndexes(aces);
}

}  // namespace tp::db::jet
