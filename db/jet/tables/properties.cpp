// Property lists (the LvProp of a catalog row, props in format.h) as one
// generic list: the names block and the maps, each entry's name, type, flag
// and value bytes kept as stored, so that a list rewritten keeps what the
// Access window added to it.
#include <algorithm>
#include <cstring>

#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

namespace {

// n bytes of text at p: UTF-16LE, or Access 97 text in the code page.
std::string textAt(const uint8_t* p, size_t n, unsigned codePage) {
    if (codePage) return decodeNarrowText(p, n, codePage);
    std::u16string u(n / 2, u'\0');
    for (size_t i = 0; i < n / 2; ++i) u[i] = char16_t(decodeLE16(p + 2 * i));
    return utf16ToUtf8(u);
}

// The names block's names, from p to end; false when a name runs past it.
bool readNames(const uint8_t* p, const uint8_t* end, unsigned codePage, std::vector<std::string>& names) {
    while (end - p >= 2) {
        const size_t n = decodeLE16(p);
        if (size_t(end - p - 2) < n) return false;
        names.push_back(textAt(p + 2, n, codePage));
        p += 2 + n;
    }
    return p == end;
}

struct ListReader {
    unsigned codePage;
    PropertyList& out;
    std::string why;

    bool fail(const std::string& w) {
        if (why.empty()) why = w;
        return false;
    }
    // One entry at p (its length already known to lie inside the map).
    bool entry(const uint8_t* p, size_t elen, PropertyMap& m) {
        using namespace props;
        const size_t idx = decodeLE16(p + kEntryName), size = decodeLE16(p + kEntrySize);
        if (kEntryData + size > elen) return fail("an entry's value runs past the entry");
        if (idx >= out.names.size())
            return fail("an entry names property " + std::to_string(idx) + ", but the names block holds " +
                        std::to_string(out.names.size()));
        m.entries.push_back(
            {out.names[idx], p[kEntryFlags], p[kEntryType], Bytes(p + kEntryData, p + kEntryData + size)});
        return true;
    }
    // A value map (the table's own or a column's), from p to end.
    bool map(uint16_t kind, const uint8_t* p, const uint8_t* end) {
        using namespace props;
        if (end - p < ptrdiff_t(kName)) return fail("a map is shorter than its head");
        const size_t head = decodeLE32(p + kHeadLength), n = decodeLE16(p + kNameLength);
        if (head < kName + n || size_t(end - p) < head) return fail("a map's head runs past the map");
        PropertyMap m{kind, textAt(p + kName, n, codePage), {}};
        bool ok = true;
        for (p += head; ok && p < end;) {
            const size_t elen = size_t(end - p) >= kEntryData ? decodeLE16(p + kEntryLength) : 0;
            if (elen < kEntryData || size_t(end - p) < elen) {
                ok = fail("an entry of map '" + m.object + "' runs past the map");
                break;
            }
            ok = entry(p, elen, m);
            p += elen;
        }
        out.maps.push_back(std::move(m));
        return ok;
    }
    bool block(uint16_t kind, const uint8_t* p, const uint8_t* end) {
        if (kind == props::kNames) {
            if (!out.maps.empty()) return fail("a names block after a map");
            return readNames(p, end, codePage, out.names) || fail("a name runs past the names block");
        }
        if (kind == props::kTable || kind == props::kColumn) return map(kind, p, end);
        return fail("a block of unknown kind " + std::to_string(kind));
    }
};

void putText(Bytes& b, const std::string& s, unsigned codePage) {
    if (codePage == 0) coding::putUtf16LE(b, utf8ToUtf16(s));
    else if (!encodeNarrowText(s, codePage, b)) throw jeterr::invalidName(s);
}

Bytes textBytes(const std::string& s, unsigned codePage) {
    Bytes b;
    putText(b, s, codePage);
    return b;
}

}  // namespace

PropertyMap* PropertyList::find(uint16_t kind, std::string_view object) {
    for (PropertyMap& m : maps)
        if (m.kind == kind && (kind == props::kTable || foldName(m.object) == foldName(object))) return &m;
    return nullptr;
}

const PropertyEntry* PropertyMap::find(std::string_view name) const {
    for (const PropertyEntry& e : entries)
        if (foldName(e.name) == foldName(name)) return &e;
    return nullptr;
}

bool readPropertyList(const Bytes& b, unsigned codePage, PropertyList& out, std::string* why) {
    using namespace props;
    ListReader r{codePage, out, {}};
    const char* magic = codePage ? props::kMagic3 : props::kMagic;
    bool ok = b.size() >= sizeof props::kMagic && std::memcmp(b.data(), magic, sizeof props::kMagic) == 0;
    if (!ok) r.fail(std::string("it does not start with '") + magic + "'");
    for (size_t pos = sizeof props::kMagic; ok && pos < b.size();) {
        const size_t len = b.size() - pos >= kBlockHead ? decodeLE32(b.data() + pos + kBlockLength) : 0;
        if (len < kBlockHead || len > b.size() - pos) {
            ok = r.fail("a block's length runs past the list");
            break;
        }
        ok = r.block(decodeLE16(b.data() + pos + kBlockKind), b.data() + pos + kBlockHead, b.data() + pos + len);
        pos += len;
    }
    if (why) *why = r.why;
    return ok;
}

Bytes writePropertyList(const PropertyList& l, unsigned codePage) {
    using namespace props;
    std::vector<std::string> names = l.names;
    auto nameIndex = [&](const std::string& n) {
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == n) return uint16_t(i);
        names.push_back(n);
        return uint16_t(names.size() - 1);
    };
    Bytes maps;
    for (const PropertyMap& m : l.maps) {
        const size_t at = maps.size();
        putLE32(maps, 0);
        putLE16(maps, m.kind);
        const Bytes name = textBytes(m.object, codePage);
        putLE32(maps, uint32_t(kName + name.size()));
        putLE16(maps, uint32_t(name.size()));
        putBytes(maps, name.data(), name.size());
        for (const PropertyEntry& e : m.entries) {
            putLE16(maps, uint32_t(kEntryData + e.value.size()));
            maps.push_back(e.flags);
            maps.push_back(e.type);
            putLE16(maps, nameIndex(e.name));
            putLE16(maps, uint32_t(e.value.size()));
            putBytes(maps, e.value.data(), e.value.size());
        }
        encodeLE32(maps.data() + at + kBlockLength, uint32_t(maps.size() - at));
    }
    Bytes out = codePage ? Bytes(props::kMagic3, props::kMagic3 + sizeof props::kMagic3)
                         : Bytes(props::kMagic, props::kMagic + sizeof props::kMagic);
    Bytes pool;
    for (const std::string& n : names) {
        const Bytes t = textBytes(n, codePage);
        putLE16(pool, uint32_t(t.size()));
        putBytes(pool, t.data(), t.size());
    }
    putLE32(out, uint32_t(kBlockHead + pool.size()));
    putLE16(out, kNames);
    putBytes(out, pool.data(), pool.size());
    putBytes(out, maps.data(), maps.size());
    return out;
}

std::string propertyText(const PropertyEntry& e, unsigned codePage) {
    return textAt(e.value.data(), e.value.size(), codePage);
}

const props::Known* knownProperty(std::string_view name) {
    for (const props::Known& k : props::kKnown)
        if (foldName(k.name) == foldName(name)) return &k;
    return nullptr;
}

void setProperty(PropertyList& l, const std::string& column, const std::string& name,
                 const std::optional<std::string>& value, unsigned codePage) {
    const uint16_t kind = column.empty() ? props::kTable : props::kColumn;
    PropertyMap* m = l.find(kind, column);
    if (!m && !value) return;
    if (!m) {
        // The table's own map comes first, as Access writes it.
        auto at = kind == props::kTable ? l.maps.begin() : l.maps.end();
        m = &*l.maps.insert(at, PropertyMap{kind, column, {}});
    }
    const props::Known* k = knownProperty(name);
    const std::string stored = k ? k->name : name;
    auto e = std::find_if(m->entries.begin(), m->entries.end(),
                          [&](const PropertyEntry& x) { return foldName(x.name) == foldName(stored); });
    if (!value) {
        if (e != m->entries.end()) m->entries.erase(e);
        return;
    }
    PropertyEntry now{stored, k ? k->flags : props::kEngineFlag, k ? k->type : props::kMemo, {}};
    if (now.type == props::kYesNo) now.value = Bytes{uint8_t(*value == "1" ? 1 : 0)};
    else now.value = textBytes(*value, codePage);
    if (e == m->entries.end()) m->entries.push_back(std::move(now));
    else *e = std::move(now);
}

}  // namespace tp::db::jet
