// The catalog (MSysObjects): loading it, finding tables by name under the
// catalog's sort order, listing tables and columns, adding catalog rows and
// their permissions, the Required property lists.
#include <algorithm>
#include <cstring>

#include "db/jet/jet_database.h"

namespace tp::db::jet {

namespace {

// An object's property list (the LvProp of its catalog row): "MR2\0", then
// blocks of uint32 length (the block's own 6 bytes included) and uint16 kind.
// Kind 0x80 lists the property names (uint16 byte length + UTF-16LE each);
// kinds 0x00 (the table) and 0x01 (a column) start with uint32 length +
// uint16 byte length + the column's name, then one entry per property:
// uint16 length, uint8 flags, uint8 type (0x01 Yes/No), uint16 index into
// the names, uint16 data size, the data.
constexpr char kPropertyMagic[] = "MR2";

Bytes requiredProperties(const std::vector<std::string>& columns) {
    Bytes b(kPropertyMagic, kPropertyMagic + 4);
    auto block = [&](uint16_t kind) {
        const size_t at = b.size();
        putLE32(b, 0);
        putLE16(b, kind);
        return at;
    };
    auto name = [&](const std::u16string& u) {
        putLE16(b, uint32_t(2 * u.size()));
        putUtf16(b, u);
    };
    auto close = [&](size_t at) { encodeLE32(b.data() + at, uint32_t(b.size() - at)); };
    size_t at = block(0x80);
    name(u"Required");
    close(at);
    // The table's own block, empty, as Access writes it first.
    at = block(0x00);
    putLE32(b, 6);
    putLE16(b, 0);
    close(at);
    for (const std::string& c : columns) {
        const std::u16string u = utf8ToUtf16(c);
        at = block(0x01);
        putLE32(b, uint32_t(6 + 2 * u.size()));
        name(u);
        const uint8_t entry[9] = {9, 0, 0x00, 0x01, 0, 0, 1, 0, 1};  // Required: Yes/No, true
        putBytes(b, entry, 9);
        close(at);
    }
    return b;
}

std::vector<std::string> requiredColumns(const Bytes& b) {
    std::vector<std::string> out;
    if (b.size() < 4 || std::memcmp(b.data(), kPropertyMagic, 4) != 0) return out;
    std::vector<std::u16string> names;
    size_t pos = 4;
    while (pos + 6 <= b.size()) {
        const size_t len = decodeLE32(b.data() + pos);
        const uint16_t kind = decodeLE16(b.data() + pos + 4);
        if (len < 6 || len > b.size() - pos) break;
        const uint8_t* p = b.data() + pos + 6;
        const uint8_t* end = b.data() + pos + len;
        pos += len;
        if (kind == 0x80) {
            while (end - p >= 2) {
                const size_t n = decodeLE16(p);
                if (size_t(end - p - 2) < n) break;
                std::u16string u(n / 2, u'\0');
                for (size_t i = 0; i < n / 2; ++i) u[i] = char16_t(decodeLE16(p + 2 + 2 * i));
                names.push_back(std::move(u));
                p += 2 + n;
            }
        } else if (kind == 0x01 && end - p >= 6) {
            const size_t head = decodeLE32(p);
            const size_t n = decodeLE16(p + 4);
            if (head < 6 + n || size_t(end - p) < head) continue;
            std::u16string column(n / 2, u'\0');
            for (size_t i = 0; i < n / 2; ++i) column[i] = char16_t(decodeLE16(p + 6 + 2 * i));
            for (p += head; end - p >= 8;) {
                const size_t elen = decodeLE16(p);
                if (elen < 8 || size_t(end - p) < elen) break;
                const size_t idx = decodeLE16(p + 4), size = decodeLE16(p + 6);
                if (p[3] == 0x01 && idx < names.size() && names[idx] == u"Required" && size >= 1 && 8 + size <= elen &&
                    p[8] != 0)
                    out.push_back(utf16ToUtf8(column));
                p += elen;
            }
        }
    }
    return out;
}

}  // namespace

void JetDatabase::loadCatalog() {
    auto sys = std::make_unique<StoredTable>(loadTable(2, "MSysObjects"));
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
    forEachRow(t, [&](uint32_t ref, const std::vector<Value>& v) {
        CatalogEntry e;
        e.rowRef = ref;
        if (v[size_t(cId)].kind() == Kind::Int) e.id = uint32_t(v[size_t(cId)].integer());
        if (v[size_t(cParent)].kind() == Kind::Int) e.parentId = uint32_t(v[size_t(cParent)].integer());
        if (v[size_t(cName)].kind() == Kind::Text) e.name = v[size_t(cName)].text();
        if (v[size_t(cType)].kind() == Kind::Int) e.type = int(v[size_t(cType)].integer());
        if (v[size_t(cFlags)].kind() == Kind::Int) e.flags = uint32_t(v[size_t(cFlags)].integer());
        if (v[size_t(cOwner)].kind() == Kind::Binary) e.owner = v[size_t(cOwner)].bytes();
        if (cProps >= 0 && (e.type & 0x7F) == 1 && v[size_t(cProps)].kind() == Kind::Binary)
            e.required = requiredColumns(v[size_t(cProps)].bytes());
        catalog_.push_back(std::move(e));
    });
    tables_[2] = std::move(sys);
}

StoredTable& JetDatabase::tableByName(const std::string& name) {
    requireOpen();
    if (last_ && lastName_ == name) return *last_;
    const std::string key = nameKey(name);
    for (CatalogEntry& e : catalog_) {
        if ((e.type & 0x7F) != 1 || nameKey(e) != key) continue;
        const uint32_t page = e.id & 0x00FFFFFF;
        auto it = tables_.find(page);
        if (it == tables_.end()) {
            it = tables_.emplace(page, std::make_unique<StoredTable>(loadTable(page, e.name))).first;
            StoredTable& t = *it->second;
            if (auto nn = notNullByPage_.find(page); nn != notNullByPage_.end()) {
                t.notNull = nn->second;
            } else if (!e.required.empty()) {
                // NOT NULL as the file keeps it: the columns' Required property.
                t.notNull.assign(t.columns.size(), false);
                for (size_t i = 0; i < t.columns.size(); ++i)
                    for (const std::string& r : e.required)
                        if (foldName(r) == foldName(t.columns[i].name)) t.notNull[i] = true;
            }
        }
        it->second->name = e.name;
        last_ = it->second.get();
        lastName_ = name;
        return *last_;
    }
    throw jeterr::inputTableMissing(name);
}

std::vector<TableInfo> JetDatabase::listTables() {
    requireOpen();
    std::vector<TableInfo> out;
    for (const CatalogEntry& e : catalog_) {
        const int type = e.type & 0x7F;
        TableInfo info;
        info.name = e.name;
        if (type == 1) {
            if (e.flags & 0x80000000u) info.kind = TableKind::System;
            else if (e.flags & 0x00000002u) info.kind = TableKind::AccessSystem;
            else info.kind = TableKind::User;
        } else if (type == 5) {
            if ((e.flags & 0xF0) != 0) continue;  // action queries are procedures, not views
            info.kind = TableKind::Query;
        } else if (type == 4 || type == 6) {
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
    }
    return out;
}

std::string JetDatabase::findTable(const std::string& name) {
    requireOpen();
    const std::string key = nameKey(name);
    for (CatalogEntry& e : catalog_) {
        const int type = e.type & 0x7F;
        if ((type == 1 || type == 4 || type == 5 || type == 6) && nameKey(e) == key) return e.name;
    }
    return {};
}

std::string JetDatabase::nameKey(std::string_view name) const {
    std::vector<uint8_t> k{0x7F};
    if (jet3_ || !appendTextKey(k, utf8ToUtf16(name), sortOrder())) return "\x01" + foldName(name);
    return std::string(k.begin(), k.end());
}

void JetDatabase::addCatalogRow(const std::string& name, uint32_t id, uint32_t parent, int type, uint32_t flags,
                                const Bytes& owner, double when, const std::vector<std::string>& required) {
    StoredTable& sys = *tables_.at(2);
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
        else if (n == "LvProp" && !required.empty()) v[k] = Value(requiredProperties(required));
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
    e.required = required;
    catalog_.push_back(std::move(e));
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
        if ((e.type & 0x7F) == 1 && (e.id & 0x00FFFFFF) == page) return &tableByName(e.name);
    return nullptr;
}

void JetDatabase::addObject(const std::string& name, uint32_t id, uint32_t parent, int type,
                            const std::vector<std::string>& required) {
    Bytes owner;
    for (const auto& e : catalog_)
        if ((e.type & 0x7F) == 2 && e.name == "MSysDb") owner = e.owner;
    if (owner.empty()) owner = Bytes{0xA6, 0x33};
    addCatalogRow(name, id, parent, type, 0, owner, nowOle(), required);
    rebuildIndexes(*tables_.at(2));
    std::vector<Bytes> sids;
    StoredTable& aces = tableByName("MSysACEs");
    int cObj = -1, cSid = -1;
    for (size_t k = 0; k < aces.columns.size(); ++k) {
        if (aces.columns[k].name == "ObjectId") cObj = int(k);
        if (aces.columns[k].name == "SID") cSid = int(k);
    }
    if (cObj >= 0 && cSid >= 0)
        forEachRow(aces, [&](uint32_t, const std::vector<Value>& v) {
            if (v[size_t(cObj)].kind() == Kind::Int && uint32_t(v[size_t(cObj)].integer()) == parent &&
                v[size_t(cSid)].kind() == Kind::Binary &&
                std::find(sids.begin(), sids.end(), v[size_t(cSid)].bytes()) == sids.end())
                sids.push_back(v[size_t(cSid)].bytes());
        });
    if (sids.empty()) sids.push_back(owner);
    std::vector<std::pair<Bytes, std::pair<uint32_t, bool>>> rows;
    for (const auto& s : sids) rows.push_back({s, {0xFFFFFu, false}});
    addAces(id, rows);
    rebuildIndexes(aces);
}

void JetDatabase::removeObject(std::vector<CatalogEntry>::iterator e) {
    const uint32_t id = e->id;
    StoredTable& sys = *tables_.at(2);
    deleteRow(sys, e->rowRef);
    catalog_.erase(e);
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
