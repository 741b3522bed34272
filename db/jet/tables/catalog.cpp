// The catalog (MSysObjects): loading it, finding tables by name under the
// catalog's sort order, listing tables and columns, adding catalog rows and
// their permissions, the Required property lists.
#include <algorithm>
#include <cstring>

#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

namespace {

// An object's property list (see props in format.h): the engine writes and
// reads its columns' Required and DefaultValue.
// Access 97 lists (codePage != 0) start with their own magic and hold their
// texts in the code page.
struct PropertyWriter {
    unsigned codePage = 0;
    Bytes b = codePage ? Bytes(props::kMagic3, props::kMagic3 + sizeof props::kMagic3)
                       : Bytes(props::kMagic, props::kMagic + sizeof props::kMagic);
    size_t open(uint16_t kind) {
        const size_t at = b.size();
        putLE32(b, 0);
        putLE16(b, kind);
        return at;
    }
    Bytes text(const std::string& s) const {
        Bytes out;
        if (codePage == 0) coding::putUtf16LE(out, utf8ToUtf16(s));
        else if (!encodeNarrowText(s, codePage, out)) throw jeterr::invalidName(s);
        return out;
    }
    void name(const std::string& s) {
        const Bytes t = text(s);
        putLE16(b, uint32_t(t.size()));
        putBytes(b, t.data(), t.size());
    }
    void close(size_t at) { encodeLE32(b.data() + at + props::kBlockLength, uint32_t(b.size() - at)); }
    void entry(uint8_t flags, uint8_t type, uint16_t nameIndex, const Bytes& value) {
        putLE16(b, uint32_t(props::kEntryData + value.size()));
        b.push_back(flags);
        b.push_back(type);
        putLE16(b, nameIndex);
        putLE16(b, uint32_t(value.size()));
        putBytes(b, value.data(), value.size());
    }
};

// The property list of a new table. The Required-only list is the one
// Access writes for NOT NULL columns, byte for byte.
Bytes propertyList(const ColumnProperties& cp, unsigned codePage) {
    using namespace props;
    PropertyWriter w{codePage};
    const bool anyRequired = !cp.required.empty(), anyDefault = !cp.defaults.empty();
    const uint16_t requiredName = 0, defaultName = anyRequired ? 1 : 0;
    size_t at = w.open(kNames);
    if (anyRequired) w.name("Required");
    if (anyDefault) w.name("DefaultValue");
    w.close(at);
    // The table's own block, empty, as Access writes it first.
    at = w.open(kTable);
    putLE32(w.b, kName);
    putLE16(w.b, 0);
    w.close(at);
    for (const std::string& c : cp.columns) {
        const auto req = std::find(cp.required.begin(), cp.required.end(), c);
        const auto def =
            std::find_if(cp.defaults.begin(), cp.defaults.end(), [&](const auto& d) { return d.first == c; });
        if (req == cp.required.end() && def == cp.defaults.end()) continue;
        at = w.open(kColumn);
        putLE32(w.b, uint32_t(kName + w.text(c).size()));
        w.name(c);
        if (def != cp.defaults.end()) w.entry(kEngineFlag, kMemo, defaultName, w.text(def->second));
        if (req != cp.required.end()) w.entry(0, kYesNo, requiredName, Bytes{1});
        w.close(at);
    }
    return w.b;
}

// n bytes of text at p: UTF-16LE, or Access 97 text in the code page.
std::string textAt(const uint8_t* p, size_t n, unsigned codePage) {
    if (codePage) return decodeNarrowText(p, n, codePage);
    std::u16string u(n / 2, u'\0');
    for (size_t i = 0; i < n / 2; ++i) u[i] = char16_t(decodeLE16(p + 2 * i));
    return utf16ToUtf8(u);
}

// The names block's names, from p to end.
void readPropertyNames(const uint8_t* p, const uint8_t* end, std::vector<std::string>& names, unsigned codePage) {
    while (end - p >= 2) {
        const size_t n = decodeLE16(p);
        if (size_t(end - p - 2) < n) break;
        names.push_back(textAt(p + 2, n, codePage));
        p += 2 + n;
    }
}

// A column block (from p to end): its Required and DefaultValue into out.
void readColumnBlock(const uint8_t* p, const uint8_t* end, const std::vector<std::string>& names, unsigned codePage,
                     ColumnProperties& out) {
    using namespace props;
    if (end - p < ptrdiff_t(kName)) return;
    const size_t head = decodeLE32(p + kHeadLength);
    const size_t n = decodeLE16(p + kNameLength);
    if (head < kName + n || size_t(end - p) < head) return;
    const std::string column = textAt(p + kName, n, codePage);
    for (p += head; end - p >= ptrdiff_t(kEntryData);) {
        const size_t elen = decodeLE16(p + kEntryLength);
        if (elen < kEntryData || size_t(end - p) < elen) break;
        const size_t idx = decodeLE16(p + kEntryName), size = decodeLE16(p + kEntrySize);
        if (idx < names.size() && kEntryData + size <= elen) {
            if (p[kEntryType] == kYesNo && names[idx] == "Required" && size >= 1 && p[kEntryData] != 0)
                out.required.push_back(column);
            else if (p[kEntryType] == kMemo && names[idx] == "DefaultValue")
                out.defaults.emplace_back(column, textAt(p + kEntryData, size, codePage));
        }
        p += elen;
    }
}

void applyDefaults(StoredTable& t, const ColumnProperties& cp) {
    if (cp.defaults.empty()) return;
    t.defaults.assign(t.columns.size(), std::string());
    for (size_t i = 0; i < t.columns.size(); ++i)
        for (const auto& [column, text] : cp.defaults)
            if (foldName(column) == foldName(t.columns[i].name)) t.defaults[i] = text;
}

// `codePage`: Access 97 lists' (0: a later version's).
ColumnProperties readProperties(const Bytes& b, unsigned codePage) {
    using namespace props;
    ColumnProperties out;
    const char* magic = codePage ? props::kMagic3 : props::kMagic;
    if (b.size() < sizeof props::kMagic || std::memcmp(b.data(), magic, sizeof props::kMagic) != 0) return out;
    std::vector<std::string> names;
    size_t pos = sizeof props::kMagic;
    while (pos + kBlockHead <= b.size()) {
        const size_t len = decodeLE32(b.data() + pos + kBlockLength);
        const uint16_t kind = decodeLE16(b.data() + pos + kBlockKind);
        if (len < kBlockHead || len > b.size() - pos) break;
        const uint8_t* p = b.data() + pos + kBlockHead;
        const uint8_t* end = b.data() + pos + len;
        pos += len;
        if (kind == kNames) readPropertyNames(p, end, names, codePage);
        else if (kind == kColumn) readColumnBlock(p, end, names, codePage, out);
    }
    return out;
}

// One block of a property list: its kind and its bytes after the block head.
struct PropertyBlock {
    uint16_t kind;
    Bytes body;
};

// The blocks of a list (after its magic); false when it is not one.
bool propertyBlocks(const Bytes& b, unsigned codePage, std::vector<PropertyBlock>& out) {
    using namespace props;
    const char* magic = codePage ? props::kMagic3 : props::kMagic;
    if (b.size() < sizeof props::kMagic || std::memcmp(b.data(), magic, sizeof props::kMagic) != 0) return false;
    for (size_t pos = sizeof props::kMagic; pos + kBlockHead <= b.size();) {
        const size_t len = decodeLE32(b.data() + pos + kBlockLength);
        if (len < kBlockHead || len > b.size() - pos) return false;
        out.push_back({decodeLE16(b.data() + pos + kBlockKind),
                       Bytes(b.begin() + long(pos + kBlockHead), b.begin() + long(pos + len))});
        pos += len;
    }
    return true;
}

// The index of a property name, added to the names block when missing.
uint16_t propertyName(std::vector<PropertyBlock>& blocks, const PropertyWriter& w, const std::string& name) {
    auto names =
        std::find_if(blocks.begin(), blocks.end(), [](const PropertyBlock& b) { return b.kind == props::kNames; });
    if (names == blocks.end()) names = blocks.insert(blocks.begin(), PropertyBlock{props::kNames, {}});
    std::vector<std::string> known;
    readPropertyNames(names->body.data(), names->body.data() + names->body.size(), known, w.codePage);
    for (size_t i = 0; i < known.size(); ++i)
        if (known[i] == name) return uint16_t(i);
    const Bytes t = w.text(name);
    putLE16(names->body, uint32_t(t.size()));
    putBytes(names->body, t.data(), t.size());
    return uint16_t(known.size());
}

// The column a column block is for.
std::string blockColumn(const Bytes& body, unsigned codePage) {
    using namespace props;
    if (body.size() < kName) return {};
    const size_t n = decodeLE16(body.data() + kNameLength);
    if (body.size() < kName + n) return {};
    return textAt(body.data() + kName, n, codePage);
}

// A column block without its Required and DefaultValue entries.
Bytes withoutEngineEntries(const Bytes& body, const std::vector<std::string>& names) {
    using namespace props;
    const size_t head = std::min<size_t>(decodeLE32(body.data() + kHeadLength), body.size());
    Bytes out(body.begin(), body.begin() + long(head));
    for (size_t p = head; p + kEntryData <= body.size();) {
        const size_t elen = decodeLE16(body.data() + p + kEntryLength);
        if (elen < kEntryData || elen > body.size() - p) break;
        const size_t idx = decodeLE16(body.data() + p + kEntryName);
        const bool engine = idx < names.size() && (names[idx] == "Required" || names[idx] == "DefaultValue");
        if (!engine) out.insert(out.end(), body.begin() + long(p), body.begin() + long(p + elen));
        p += elen;
    }
    return out;
}

// The entries of Required and DefaultValue as `def` gives them, added to
// the column's block (a new one when the list has none for it).
void addEngineEntries(std::vector<PropertyBlock>& blocks, const PropertyWriter& w, const std::string& column,
                      const ColumnDef& def, uint16_t requiredName, uint16_t defaultName) {
    using namespace props;
    auto own = std::find_if(blocks.begin(), blocks.end(), [&](const PropertyBlock& b) {
        return b.kind == kColumn && foldName(blockColumn(b.body, w.codePage)) == foldName(column);
    });
    if (own == blocks.end()) {
        PropertyWriter head{w.codePage};
        head.b.clear();
        putLE32(head.b, uint32_t(kName + w.text(column).size()));
        head.name(column);
        own = blocks.insert(blocks.end(), PropertyBlock{kColumn, head.b});
    }
    PropertyWriter entries{w.codePage};
    entries.b.clear();
    if (!def.defaultValue.empty()) entries.entry(kEngineFlag, kMemo, defaultName, w.text(def.defaultValue));
    if (def.notNull) entries.entry(0, kYesNo, requiredName, Bytes{1});
    own->body.insert(own->body.end(), entries.b.begin(), entries.b.end());
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

Bytes withColumnProperties(const Bytes& list, unsigned codePage, const std::string& column, const ColumnDef* def) {
    using namespace props;
    const bool wanted = def && (def->notNull || !def->defaultValue.empty());
    std::vector<PropertyBlock> blocks;
    if (list.empty() || !propertyBlocks(list, codePage, blocks))
        return wanted ? newColumnProperties(codePage, column, *def) : list;
    PropertyWriter w{codePage};
    const uint16_t requiredName = wanted && def->notNull ? propertyName(blocks, w, "Required") : 0;
    const uint16_t defaultName = wanted && !def->defaultValue.empty() ? propertyName(blocks, w, "DefaultValue") : 0;
    std::vector<std::string> names;
    for (const PropertyBlock& b : blocks)
        if (b.kind == kNames) readPropertyNames(b.body.data(), b.body.data() + b.body.size(), names, codePage);
    std::vector<PropertyBlock> kept;
    for (PropertyBlock& b : blocks) {
        const bool mine = b.kind == kColumn && foldName(blockColumn(b.body, codePage)) == foldName(column);
        if (mine && !def) continue;
        if (mine) b.body = withoutEngineEntries(b.body, names);
        kept.push_back(std::move(b));
    }
    if (wanted) addEngineEntries(kept, w, column, *def, requiredName, defaultName);
    Bytes out = w.b;
    for (const PropertyBlock& b : kept) {
        putLE32(out, uint32_t(kBlockHead + b.body.size()));
        putLE16(out, b.kind);
        putBytes(out, b.body.data(), b.body.size());
    }
    return out;
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
