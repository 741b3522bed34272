// Index keys: the key of a row's values, rebuilding a table's indexes after
// rows were added (the pages: index_builder.cpp), unique-key checks.
#include <algorithm>
#include <cstring>

#include "db/jet/keys/index_builder.h"
#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

namespace {

std::string unkeyableText(const StoredColumn& c, SortOrder database) {
    return "The text column '" + c.name + "' is indexed under the sort order " +
           sortOrderName(columnSortOrder(c.misc, database)) +
           ", whose index keys this database engine cannot compute; its index cannot be written.";
}

// The segments of appendIndexKey, one per kind of column, each after the
// flag byte; `from` is where the segment starts.
void putBigEndian(std::vector<uint8_t>& e, uint64_t u, int bytes) {
    for (int s = 8 * (bytes - 1); s >= 0; s -= 8) e.push_back(uint8_t(u >> s));
}

void invertFrom(std::vector<uint8_t>& e, size_t at) {
    for (size_t i = at; i < e.size(); ++i) e[i] = uint8_t(~e[i]);
}

// Integers: big-endian with the sign bit flipped.
void integerKey(std::vector<uint8_t>& e, ColType type, const Value& x, bool asc, size_t from) {
    if (type == ColType::Byte) {
        e.push_back(uint8_t(x.kind() == Kind::Int ? x.integer() : 0));
    } else {
        const int bytes = type == ColType::Int ? 2 : (type == ColType::Long || type == ColType::Complex) ? 4 : 8;
        uint64_t u = x.kind() == Kind::Int        ? uint64_t(x.integer())
                     : x.kind() == Kind::Currency ? uint64_t(x.currency().units)
                                                  : 0;
        u ^= uint64_t(1) << (8 * bytes - 1);
        putBigEndian(e, u, bytes);
    }
    if (!asc) invertFrom(e, from);
}

// Floating point and dates: positives with the sign bit flipped, negatives
// inverted.
void floatKey(std::vector<uint8_t>& e, ColType type, const Value& x, bool asc) {
    double d = x.kind() == Kind::Double ? x.real() : x.kind() == Kind::DateTime ? toOleDate(x.dateTime()) : 0;
    uint64_t u;
    int bytes = 8;
    if (type == ColType::Float) {
        const float f = float(d);
        uint32_t v;
        std::memcpy(&v, &f, 4);
        u = v;
        bytes = 4;
    } else {
        std::memcpy(&u, &d, 8);
    }
    const uint64_t top = uint64_t(1) << (8 * bytes - 1);
    const bool negative = u & top;
    if (!negative) u = asc ? (u ^ top) : ~(u ^ top);
    else if (asc) u = ~u;  // descending negatives keep their bytes
    putBigEndian(e, u, bytes);
}

void numericKey(std::vector<uint8_t>& e, const StoredColumn& c, const Value& x, bool asc, size_t from) {
    uint8_t raw[17] = {};
    std::string text = x.kind() == Kind::Decimal ? x.decimal().text : "0";
    encodeNumeric(text, c.misc[1], 38, raw);
    const bool negative = raw[0] & 0x80;
    e.push_back(raw[0]);
    for (int w = 0; w < 4; ++w)
        for (int b = 3; b >= 0; --b) e.push_back(raw[1 + 4 * w + b]);
    if (negative == asc) invertFrom(e, from);
    e[from] = negative ? 0x00 : 0xFF;
}

// GUIDs and binary values: groups of eight bytes, each followed by its
// length (9: more follow).
void binaryKey(std::vector<uint8_t>& e, ColType type, const Value& x, bool asc, size_t from) {
    Bytes b;
    if (type == ColType::Guid) {
        // Keyed in the order of its text, not of its stored bytes.
        uint8_t s[16];
        if (x.kind() != Kind::Text || !coding::parseGuid(x.text(), s)) std::memset(s, 0, 16);
        b = {s[3], s[2], s[1], s[0], s[5], s[4], s[7], s[6]};
        b.insert(b.end(), s + 8, s + 16);
    } else if (x.kind() == Kind::Binary) {
        b = x.bytes();
        if (b.empty()) return;  // an empty value is the flag byte alone
    }
    size_t i = 0;
    std::vector<size_t> lengthBytes;
    do {
        const size_t m = std::min<size_t>(8, b.size() - i);
        for (size_t q = 0; q < 8; ++q) e.push_back(q < m ? b[i + q] : 0);
        i += m;
        e.push_back(i < b.size() ? 9 : uint8_t(m));
        lengthBytes.push_back(e.size() - 1);
    } while (i < b.size());
    if (asc) return;
    for (size_t k = from; k < e.size(); ++k)
        if (std::find(lengthBytes.begin(), lengthBytes.end(), k) == lengthBytes.end() || k + 1 == e.size())
            e[k] = uint8_t(~e[k]);
}

}  // namespace

// One column's segment of an index key; text under the column's sort order
// (`database`: the order of columns that store none).
void appendIndexKey(std::vector<uint8_t>& e, const StoredColumn& c, const Value& x, bool asc, SortOrder database) {
    const ColType type = typeOf(c.rawType);
    if (type == ColType::Bool) {
        const bool b = x.kind() == Kind::Bool && x.boolean();
        e.push_back(asc ? 0x7F : 0x80);
        e.push_back(uint8_t((b == asc) ? 0x00 : 0xFF));
        return;
    }
    if (x.isNull()) {
        e.push_back(asc ? 0x00 : 0xFF);
        return;
    }
    e.push_back(asc ? 0x7F : 0x80);
    const size_t from = e.size();
    switch (type) {
    case ColType::Byte:
    case ColType::Int:
    case ColType::Long:
    case ColType::Money:
    case ColType::BigInt:
    case ColType::Complex: return integerKey(e, type, x, asc, from);
    case ColType::Float:
    case ColType::Double:
    case ColType::DateTime: return floatKey(e, type, x, asc);
    case ColType::Numeric: return numericKey(e, c, x, asc, from);
    case ColType::Text:
    case ColType::Memo:
        if (!appendTextKey(e, utf8ToUtf16(x.kind() == Kind::Text ? x.text() : std::string()),
                           columnSortOrder(c.misc, database), asc))
            throw Error(jeterr::kNotSupported, unkeyableText(c, database));
        return;
    default: return binaryKey(e, type, x, asc, from);
    }
}

// Refuses to write into a table whose indexes hold text under a sort order
// whose keys we cannot compute (a wrong key is a corrupt index to Access).
void JetDatabase::requireKeyable(const StoredTable& t) const {
    for (const StoredIndex& ix : t.indexes)
        for (int cn : ix.columns)
            for (const StoredColumn& c : t.columns)
                if (c.number == cn && (c.is(ColType::Text) || c.is(ColType::Memo)) &&
                    !sortOrderSupported(columnSortOrder(c.misc, sortOrder())))
                    throw Error(jeterr::kNotSupported,
                                "Cannot write into table '" + t.name + "'. " + unkeyableText(c, sortOrder()));
}

// Rebuilds every index of a table from its rows (index_builder.cpp).
void JetDatabase::rebuildIndexes(StoredTable& t) {
    if (t.indexes.empty()) return;
    requireKeyable(t);
    const auto moved = IndexBuilder::movedRows(*this, t);
    for (StoredIndex& ix : t.indexes) IndexBuilder(*this, t, moved).rebuild(ix);
}

void JetDatabase::refreshIndexes() {
    if (!pager_ || pager_->readOnly()) return;
    for (auto& [page, t] : tables_)
        if (t->countStale) {
            setRowCount(*t, t->rowCount);
            t->countStale = false;
        }
    for (auto& [page, t] : tables_)
        if (t->indexesStale) {
            rebuildIndexes(*t);
            t->indexesStale = false;
        }
}

// A row's key in an index, and whether its indexed values are null.
std::string JetDatabase::rowKey(const StoredTable& t, const StoredIndex& ix, const std::vector<Value>& v,
                                IndexNulls& nulls) const {
    std::vector<uint8_t> e;
    nulls = {};
    for (size_t i = 0; i < ix.columns.size(); ++i) {
        size_t k = 0;
        while (k < t.columns.size() && t.columns[k].number != ix.columns[i]) ++k;
        if (k == t.columns.size()) continue;
        nulls.add(t.columns[k], v[k]);
        appendIndexKey(e, t.columns[k], v[k], ix.ascending[i], sortOrder());
    }
    return std::string(e.begin(), e.end());
}

// The keys of a table's unique indexes (those whose indexed values are not
// all null), gathered from its rows once and kept as rows are added.
std::unordered_set<std::string>& JetDatabase::uniqueKeysOf(StoredTable& t, size_t real) {
    if (t.uniqueKeys.size() != t.indexes.size()) {
        t.uniqueKeys.assign(t.indexes.size(), {});
        forEachRow(t, [&](uint32_t, const std::vector<Value>& v) {
            for (size_t i = 0; i < t.indexes.size(); ++i) {
                if (!t.indexes[i].unique()) continue;
                IndexNulls nulls;
                std::string key = rowKey(t, t.indexes[i], v, nulls);
                if (!nulls.all) t.uniqueKeys[i].insert(std::move(key));
            }
        });
    }
    return t.uniqueKeys[real];
}

// Unique and required indexes of a table written into: the keys of its rows
// are gathered once, then each new row is checked before it is stored.
void JetDatabase::checkUnique(StoredTable& t, const std::vector<uint8_t>& row) {
    std::vector<size_t> checked;
    for (size_t i = 0; i < t.indexes.size(); ++i)
        if (t.indexes[i].unique() || t.indexes[i].required()) checked.push_back(i);
    if (checked.empty()) return;
    auto keyOf = [&](const StoredIndex& ix, const std::vector<Value>& v, IndexNulls& nulls) {
        return rowKey(t, ix, v, nulls);
    };
    if (!checked.empty()) uniqueKeysOf(t, checked.front());
    std::vector<Value> v;
    decodeRow(t, row.data(), row.size(), v);
    std::vector<std::string> keys(t.indexes.size());
    for (size_t i : checked) {
        IndexNulls nulls;
        keys[i] = keyOf(t.indexes[i], v, nulls);
        if (t.indexes[i].required() && nulls.any) throw jeterr::nullInIndex();
        if (t.indexes[i].unique() && !nulls.all && t.uniqueKeys[i].count(keys[i])) throw jeterr::duplicateKey();
        if (!t.indexes[i].unique() || nulls.all) keys[i].clear();
    }
    for (size_t i : checked)
        if (!keys[i].empty()) t.uniqueKeys[i].insert(std::move(keys[i]));
}

}  // namespace tp::db::jet
