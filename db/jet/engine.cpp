// The Access storage engine (Jet 4 and ACE; Access 97 read-only): header,
// catalog, table definitions, rows, long values, usage maps, catalog indexes;
// reading and writing.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <deque>
#include <map>
#include <set>
#include <unordered_set>

#include "db/busy.h"
#include "db/error.h"
#include "db/jet/errors.h"
#include "db/jet/check.h"
#include "db/jet/crypto.h"
#include "db/jet/index_keys.h"
#include "db/jet/pager.h"
#include "db/jet/storage.h"

namespace tp::db::jet {

namespace {

constexpr uint8_t kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr size_t kMaskStart = 0x18, kMaskLen = 128;
constexpr uint32_t kMagic = 1625;
constexpr int kMaxRowSize = 4060;
constexpr size_t kDataPageFree = 4082;
constexpr size_t kIndexEntryBytes = 3616;
constexpr size_t kMaxLongValue = 0xFFFFFF;   // 3 length bytes are all readers take
constexpr uint32_t kTablesParent = 0x0F000000;

struct CatalogEntry {
    uint32_t id = 0;
    uint32_t parentId = 0;
    std::string name;
    std::string key;        // name's key under the catalog's sort order (empty: not yet computed)
    int type = 0;
    uint32_t flags = 0;
    uint32_t rowRef = 0;    // pg:row of the MSysObjects row
    Bytes owner;
    std::vector<std::string> required;   // columns whose "Required" property is true
};

// A row slot found while walking a data page.
struct RowSpan {
    uint32_t ref;       // pg:row of the slot
    const uint8_t* p;
    size_t n;
};

[[maybe_unused]] void putBytes(std::vector<uint8_t>& v, const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    v.insert(v.end(), b, b + n);
}
[[maybe_unused]] void put16(std::vector<uint8_t>& v, uint32_t x) { v.push_back(uint8_t(x)); v.push_back(uint8_t(x >> 8)); }
[[maybe_unused]] void put32(std::vector<uint8_t>& v, uint32_t x) { put16(v, x & 0xFFFF); put16(v, x >> 16); }

[[maybe_unused]] void putUtf16(std::vector<uint8_t>& v, std::u16string_view s) {
    for (char16_t c : s) put16(v, c);
}

[[maybe_unused]] double nowOle() {
    using namespace std::chrono;
    const auto t = system_clock::now();
    const time_t tt = system_clock::to_time_t(t);
    struct tm lt {};
    localtime_r(&tt, &lt);
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000;
    DateTime dt;
    dt.date = {lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday};
    dt.hour = lt.tm_hour;
    dt.minute = lt.tm_min;
    dt.second = lt.tm_sec;
    dt.millisecond = int(ms);
    return toOleDate(dt);
}

// Why a column's values cannot be read, or nullptr when they can.
const char* unreadableColumn(const StoredColumn& c) {
    switch (c.rawType) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x07: case 0x08:
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0F: case 0x13:
        return nullptr;
    case 0x10: return c.calculated() ? "a calculated Decimal field" : nullptr;
    case 0x12: return "an attachment or multi-value field";
    case 0x14: return "an extended Date/Time field";
    default: return "of an unknown field type";
    }
}

ColType typeOf(uint8_t raw) {
    switch (raw) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x07: case 0x08:
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0F: case 0x10: case 0x12: case 0x13:
    case 0x14:
        return ColType(raw);
    default:
        return ColType::Binary;
    }
}

int fixedSizeOf(ColType t) {
    switch (t) {
    case ColType::Bool: return 0;
    case ColType::Byte: return 1;
    case ColType::Int: return 2;
    case ColType::Long: return 4;
    case ColType::Money: return 8;
    case ColType::Float: return 4;
    case ColType::Double: return 8;
    case ColType::DateTime: return 8;
    case ColType::Guid: return 16;
    case ColType::Numeric: return 17;
    case ColType::Complex: return 4;
    case ColType::BigInt: return 8;
    case ColType::ExtDateTime: return 42;
    default: return -1;
    }
}

FieldInfo fieldInfoOf(const StoredColumn& c) {
    FieldInfo f;
    f.name = c.name;
    switch (typeOf(c.rawType)) {
    case ColType::Bool: f.type = adtype::Boolean; f.definedSize = 2; f.nullable = false; break;
    case ColType::Byte: f.type = adtype::UnsignedTinyInt; f.definedSize = 1; f.precision = 3; break;
    case ColType::Int: f.type = adtype::SmallInt; f.definedSize = 2; f.precision = 5; break;
    case ColType::Long: f.type = adtype::Integer; f.definedSize = 4; f.precision = 10; break;
    case ColType::Money: f.type = adtype::Currency; f.definedSize = 8; f.precision = 19; break;
    case ColType::Float: f.type = adtype::Single; f.definedSize = 4; f.precision = 7; break;
    case ColType::Double: f.type = adtype::Double; f.definedSize = 8; f.precision = 15; break;
    case ColType::DateTime: f.type = adtype::Date; f.definedSize = 8; break;
    case ColType::Binary: f.type = adtype::VarBinary; f.definedSize = c.length; break;
    case ColType::Text: f.type = adtype::VarWChar; f.definedSize = c.narrowText ? c.length : c.length / 2; break;
    case ColType::OLE: f.type = adtype::LongVarBinary; f.definedSize = 0; break;
    case ColType::Memo: f.type = adtype::LongVarWChar; f.definedSize = 0; break;
    case ColType::Guid: f.type = adtype::GUID; f.definedSize = 16; break;
    case ColType::Numeric:
        f.type = adtype::Numeric; f.definedSize = 19; f.precision = c.misc[0]; f.numericScale = c.misc[1];
        break;
    case ColType::BigInt: f.type = adtype::BigInt; f.definedSize = 8; break;
    default: f.type = adtype::VarBinary; break;
    }
    return f;
}

ColumnDef columnDefOf(const StoredColumn& c) {
    ColumnDef d;
    d.name = c.name;
    d.type = typeOf(c.rawType);
    switch (d.type) {
    case ColType::Text: d.size = c.narrowText ? c.length : c.length / 2; break;
    case ColType::Binary: d.size = c.length; break;
    default: d.size = 0; break;
    }
    if (d.type == ColType::Numeric) {
        d.precision = c.misc[0];
        d.scale = c.misc[1];
    }
    d.autoNumber = (c.flags & 0x04) || (c.flags & 0x40);
    d.fixedLength = c.fixed() && (d.type == ColType::Text || d.type == ColType::Binary);
    d.compressed = (c.extFlags & 0x01) && (d.type == ColType::Text || d.type == ColType::Memo);
    return d;
}

std::string guidText(const uint8_t* p) {
    static const char* hx = "0123456789ABCDEF";
    std::string s = "{";
    auto hex = [&](uint8_t b) { s.push_back(hx[b >> 4]); s.push_back(hx[b & 15]); };
    for (int i = 3; i >= 0; --i) hex(p[i]);
    s.push_back('-');
    hex(p[5]); hex(p[4]);
    s.push_back('-');
    hex(p[7]); hex(p[6]);
    s.push_back('-');
    hex(p[8]); hex(p[9]);
    s.push_back('-');
    for (int i = 10; i < 16; ++i) hex(p[i]);
    s.push_back('}');
    return s;
}

[[maybe_unused]] bool parseGuid(const std::string& text, uint8_t* out) {
    std::string h;
    for (char c : text)
        if (std::isxdigit(uint8_t(c))) h.push_back(c);
        else if (c != '{' && c != '}' && c != '-') return false;
    if (h.size() != 32) return false;
    uint8_t b[16];
    for (int i = 0; i < 16; ++i) b[i] = uint8_t(std::stoi(h.substr(size_t(2 * i), 2), nullptr, 16));
    out[0] = b[3]; out[1] = b[2]; out[2] = b[1]; out[3] = b[0];
    out[4] = b[5]; out[5] = b[4]; out[6] = b[7]; out[7] = b[6];
    std::memcpy(out + 8, b + 8, 8);
    return true;
}

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
        put32(b, 0);
        put16(b, kind);
        return at;
    };
    auto name = [&](const std::u16string& u) {
        put16(b, uint32_t(2 * u.size()));
        putUtf16(b, u);
    };
    auto close = [&](size_t at) { wr32(b.data() + at, uint32_t(b.size() - at)); };
    size_t at = block(0x80);
    name(u"Required");
    close(at);
    // The table's own block, empty, as Access writes it first.
    at = block(0x00);
    put32(b, 6);
    put16(b, 0);
    close(at);
    for (const std::string& c : columns) {
        const std::u16string u = utf8ToUtf16(c);
        at = block(0x01);
        put32(b, uint32_t(6 + 2 * u.size()));
        name(u);
        const uint8_t entry[9] = {9, 0, 0x00, 0x01, 0, 0, 1, 0, 1};   // Required: Yes/No, true
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
        const size_t len = rd32(b.data() + pos);
        const uint16_t kind = rd16(b.data() + pos + 4);
        if (len < 6 || len > b.size() - pos) break;
        const uint8_t* p = b.data() + pos + 6;
        const uint8_t* end = b.data() + pos + len;
        pos += len;
        if (kind == 0x80) {
            while (end - p >= 2) {
                const size_t n = rd16(p);
                if (size_t(end - p - 2) < n) break;
                std::u16string u(n / 2, u'\0');
                for (size_t i = 0; i < n / 2; ++i) u[i] = char16_t(rd16(p + 2 + 2 * i));
                names.push_back(std::move(u));
                p += 2 + n;
            }
        } else if (kind == 0x01 && end - p >= 6) {
            const size_t head = rd32(p);
            const size_t n = rd16(p + 4);
            if (head < 6 + n || size_t(end - p) < head) continue;
            std::u16string column(n / 2, u'\0');
            for (size_t i = 0; i < n / 2; ++i) column[i] = char16_t(rd16(p + 6 + 2 * i));
            for (p += head; end - p >= 8;) {
                const size_t elen = rd16(p);
                if (elen < 8 || size_t(end - p) < elen) break;
                const size_t idx = rd16(p + 4), size = rd16(p + 6);
                if (p[3] == 0x01 && idx < names.size() && names[idx] == u"Required" && size >= 1 &&
                    8 + size <= elen && p[8] != 0)
                    out.push_back(utf16ToUtf8(column));
                p += elen;
            }
        }
    }
    return out;
}

// 128-bit unsigned magnitude in four 32-bit words, most significant first.
std::string numericText(const uint8_t* p, int scale) {
    uint32_t w[4];
    for (int i = 0; i < 4; ++i) w[i] = rd32(p + 1 + 4 * i);
    std::string digits;
    bool zero = false;
    while (!zero) {
        uint64_t rem = 0;
        zero = true;
        for (int i = 0; i < 4; ++i) {
            uint64_t cur = (rem << 32) | w[i];
            w[i] = uint32_t(cur / 10);
            rem = cur % 10;
            if (w[i]) zero = false;
        }
        digits.push_back(char('0' + rem));
    }
    while (int(digits.size()) <= scale) digits.push_back('0');
    std::reverse(digits.begin(), digits.end());
    std::string s;
    if (p[0] & 0x80) s = "-";
    if (scale > 0) {
        s += digits.substr(0, digits.size() - size_t(scale));
        s += ".";
        s += digits.substr(digits.size() - size_t(scale));
    } else {
        s += digits;
    }
    if (s == "-0" || (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos)) s.erase(0, 1);
    return s;
}

// Decimal text -> 17 stored bytes with the given scale; false on overflow.
[[maybe_unused]] bool encodeNumeric(const std::string& text, int scale, int precision, uint8_t* out) {
    bool neg = false;
    std::string intPart, frac;
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) neg = text[i++] == '-';
    for (; i < text.size() && text[i] != '.'; ++i) {
        if (!std::isdigit(uint8_t(text[i]))) return false;
        intPart.push_back(text[i]);
    }
    if (i < text.size()) {
        for (++i; i < text.size(); ++i) {
            if (!std::isdigit(uint8_t(text[i]))) return false;
            frac.push_back(text[i]);
        }
    }
    // Round half away from zero to the column's scale.
    bool roundUp = false;
    if (int(frac.size()) > scale) {
        roundUp = frac[size_t(scale)] >= '5';
        frac.resize(size_t(scale));
    }
    while (int(frac.size()) < scale) frac.push_back('0');
    std::string all = intPart + frac;
    size_t nz = all.find_first_not_of('0');
    all = nz == std::string::npos ? "0" : all.substr(nz);
    uint32_t w[4] = {0, 0, 0, 0};
    auto mulAdd = [&](uint32_t mul, uint32_t add) {
        uint64_t carry = add;
        for (int k = 3; k >= 0; --k) {
            uint64_t cur = uint64_t(w[k]) * mul + carry;
            w[k] = uint32_t(cur);
            carry = cur >> 32;
        }
        return carry == 0;
    };
    for (char c : all)
        if (!mulAdd(10, uint32_t(c - '0'))) return false;
    if (roundUp && !mulAdd(1, 1)) return false;
    // Precision check: digits of the magnitude (rounding may add one).
    size_t digits = all == "0" ? 0 : all.size();
    if (roundUp && all.find_first_not_of('9') == std::string::npos) ++digits;
    if (int(digits) > precision) return false;
    const bool isZero = (w[0] | w[1] | w[2] | w[3]) == 0;
    out[0] = (neg && !isZero) ? 0x80 : 0x00;
    for (int k = 0; k < 4; ++k) wr32(out + 1 + 4 * k, w[k]);
    return true;
}

class JetCursor;

// How often long runs reach a durability point (TALLYPORT_SYNC_INTERVAL_MS,
// 3 seconds by default): a crash loses at most the statements of that time.
std::chrono::milliseconds durabilityInterval() {
    const char* v = std::getenv("TALLYPORT_SYNC_INTERVAL_MS");
    if (v && *v) {
        char* end = nullptr;
        const long ms = std::strtol(v, &end, 10);
        if (end && *end == 0 && ms >= 0 && ms <= 3600000) return std::chrono::milliseconds(ms);
    }
    return std::chrono::milliseconds(3000);
}

class JetDatabase final : public Database {
public:
    JetDatabase(std::unique_ptr<Pager> pager) : pager_(std::move(pager)) {}
    ~JetDatabase() override {
        try {
            close();
        } catch (...) {
        }
    }

    void openExisting(const std::string& password);
    void setFormat(FileFormat f) { format_ = f; }
    void createNew(const std::string& password);

    FileFormat format() const override { return format_; }
    std::vector<TableInfo> listTables() override;
    std::vector<ColumnDef> columns(const std::string& table) override;
    std::string findTable(const std::string& name) override;
    void createTable(const std::string& name, const std::vector<ColumnDef>& columns) override;
    void dropTable(const std::string& name) override;
    void insertRow(const std::string& table, const std::vector<Value>& values) override;
    std::unique_ptr<Cursor> scan(const std::string& table) override;
    void beginUnit() override;
    void commitUnit() override;
    void rollbackUnit() override;
    UnitUse unitUse() const override {
        if (!pager_) return {};
        const Pager::UnitUse u = pager_->unitUse();
        return {u.pages, u.inMemory, u.spilled, u.cached};
    }
    void flush() override;
    void close() override;

    // Used by the cursor.
    Pager& pager() { return *pager_; }
    void decodeRow(const StoredTable& t, const uint8_t* row, size_t n, std::vector<Value>& out);
    // decodeRow with another reader of the present values: valueOf(column,
    // bytes, length) -> Value.
    template <class ValueOf>
    void decodeRowWith(const StoredTable& t, const uint8_t* row, size_t n, std::vector<Value>& out, ValueOf valueOf);
    StoredTable& tableByName(const std::string& name);
    // The pages a usage map marks; `bitmapPages`, when given, receives the
    // bitmap pages of a reference map.
    std::vector<uint32_t> mapPages(uint32_t ref, std::vector<uint32_t>* bitmapPages = nullptr);
    bool dataPageOf(const StoredTable& t, const uint8_t* pg) const {
        return pg[0] == 0x01 && rd32(pg + 4) == t.page;
    }
    void pageRows(uint32_t page, const uint8_t* pg, std::vector<RowSpan>& out, bool liveOnly);

private:
    [[noreturn]] void damaged(const std::string& what) const { pager_->damaged(what); }
    void requireOpen() const {
        if (!pager_) throw jeterr::objectInvalid();
    }
    void requireWritable() const {
        requireOpen();
        if (jet3_)
            throw Error(jeterr::kNotSupported, "The database '" + pager_->path() +
                                              "' is in the Access 97 format; Tallyport reads it but does not write it.");
        if (pager_->readOnly()) throw jeterr::readOnly();
    }

    // Reading.
    StoredTable loadTable(uint32_t page, const std::string& name);
    StoredTable loadTable3(StoredTable t, const std::vector<uint8_t>& s);
    Value valueOf(const StoredTable& t, const StoredColumn& c, const uint8_t* p, size_t len);
    template <class ValueOf>
    void decodeRow3(const StoredTable& t, const uint8_t* row, size_t n, std::vector<Value>& out, ValueOf valueOf);
    std::string text(const StoredColumn& c, const uint8_t* p, size_t n) const {
        return c.narrowText ? decodeNarrowText(p, n, codePage_) : decodeText(p, n);
    }
    std::pair<const uint8_t*, size_t> findRow(uint32_t ref);
    Value readLongValue(const StoredColumn& c, const uint8_t* p, size_t n);
    void loadCatalog();
    void forEachRow(StoredTable& t, const std::function<void(uint32_t, const std::vector<Value>&)>& fn);
    // The database's sort order (catalog text columns use it; text columns
    // that store none inherit it).
    SortOrder sortOrder() const { return SortOrder{sortLcid_, jet3_ ? -1 : int(int8_t(sortVersion_))}; }
    // Names are equal when their keys in the catalog's Name index are: case
    // and accents as the sort order treats them. Under a sort order whose keys
    // we cannot compute, names compare without regard to case.
    std::string nameKey(std::string_view name) const;
    const std::string& nameKey(CatalogEntry& e) const {
        if (e.key.empty()) e.key = nameKey(e.name);
        return e.key;
    }

    // Writing.
    // A page for new content: the lowest free page at or after `from`, else a
    // new one at the end of the file (a table's data pages thus always
    // follow its earlier ones: rows read back in the order inserted).
    uint32_t allocPage(uint32_t from = 0);
    void releasePage(uint32_t page);
    void loadFreePages();
    void setGlobalBit(uint32_t page, bool free);
    bool growGlobalMap(uint32_t page);
    bool rewriteGlobalMapRow(const std::vector<uint8_t>& row);
    void promoteGlobalMap();
    uint32_t newGlobalBitmap(size_t range);
    void mapSet(uint32_t ref, uint32_t page, bool on);
    void flipBit(uint32_t ref, const uint8_t* row, size_t at, uint8_t mask, bool on);
    std::pair<uint8_t*, size_t> rowForWrite(uint32_t ref);
    // A data page of the table whose last data page is `after` (0: none).
    uint32_t newDataPage(uint32_t owner, uint32_t after);
    bool placeRow(uint32_t page, const uint8_t* row, size_t n, uint32_t& ref);
    uint32_t appendRow(StoredTable& t, const std::vector<uint8_t>& row);
    uint32_t putLongValueRow(StoredTable& t, int col, const uint8_t* data, size_t n);
    void encodeRow(StoredTable& t, const std::vector<Value>& values, std::vector<uint8_t>& out);
    void insertInto(StoredTable& t, const std::vector<Value>& values);
    void createTableNow(const std::string& name, const std::vector<ColumnDef>& columns);
    void dropTableNow(const std::string& name);
    // Runs one statement: when it fails, every page it changed is put back
    // and the in-memory view of the tables is read again from them.
    template <class F>
    void atomically(F&& body) {
        pager_->beginStatement();
        try {
            body();
            // With no interval every statement is a durability point of
            // its own, undone as a whole when it cannot be written.
            if (durableEvery_.count() == 0) {
                refreshIndexes();
                pager_->commit();
                lastDurable_ = std::chrono::steady_clock::now();
            }
        } catch (...) {
            if (pager_->statementChanged()) {
                if (durableEvery_.count() == 0) pager_->restoreFile();
                pager_->rollbackStatement();
                reloadAfterUndo();
            } else {
                pager_->endStatement();
            }
            throw;
        }
        pager_->endStatement();
    }
    void reloadAfterUndo();
    // A durability point when the last one is older than the interval.
    void afterStatement();
    void durable();
    void setRowCount(StoredTable& t, uint32_t count);
    void deleteRow(StoredTable& t, uint32_t ref);
    void rebuildIndexes(StoredTable& t);
    void refreshIndexes();
    void checkUnique(StoredTable& t, const std::vector<uint8_t>& row);
    void requireKeyable(const StoredTable& t) const;
public:
    IndexKeyReport compareIndexKeys();
private:
    std::vector<uint8_t> buildTdef(const std::string& name, uint8_t tableType,
                                   const std::vector<StoredColumn>& cols,
                                   const std::vector<StoredIndex>& idx,
                                   const std::vector<std::string>& idxNames,
                                   const std::vector<uint8_t>& idxTypes,
                                   const std::vector<LongValueMaps>& lv, uint32_t owned,
                                   uint32_t freeMap);
    void writeTdef(uint32_t firstPage, const std::vector<uint8_t>& tdef);
    void writeHeader(const std::string& password, double created);
    void addCatalogRow(const std::string& name, uint32_t id, uint32_t parent, int type,
                       uint32_t flags, const Bytes& owner, double when,
                       const std::vector<std::string>& required = {});
    void addAces(uint32_t objectId, const std::vector<std::pair<Bytes, std::pair<uint32_t, bool>>>& aces);

    std::unique_ptr<Pager> pager_;
    FileFormat format_ = FileFormat::Jet4;
    // Access 97 (Jet 3): 2048-byte pages, narrower page/row/definition
    // fields, text in the code page of the header. Opened read-only.
    bool jet3_ = false;
    uint32_t ps_ = kPageSize;
    uint32_t rowsAt_ = 12;             // data page: offset of the row count
    unsigned codePage_ = 1252;
    uint16_t sortLcid_ = 1033;
    uint8_t sortVersion_ = 0;
    std::vector<CatalogEntry> catalog_;
    std::unordered_map<uint32_t, std::unique_ptr<StoredTable>> tables_;   // by TDEF page
    // Pages below the end of the file that the global map marks free, read
    // from it once per session and kept in step with it.
    std::vector<uint64_t> freeBits_;
    size_t freeCount_ = 0;
    uint32_t lowestFree_ = 0;          // no free page below this one
    bool freeKnown_ = false;
    StoredTable* last_ = nullptr;      // last table written to
    std::string lastName_;
    uint64_t statementsSinceCheck_ = 0;
    std::chrono::milliseconds durableEvery_ = durabilityInterval();
    std::unordered_map<uint32_t, std::vector<bool>> notNullByPage_;   // NOT NULL of tables made here
    std::unordered_map<uint32_t, std::vector<bool>> unitNotNull_;     // the same at beginUnit()
    std::vector<std::vector<uint8_t>> varBuf_;
    std::chrono::steady_clock::time_point lastDurable_ = std::chrono::steady_clock::now();
    friend class JetCursor;
    friend class Checker;
};

// ---------------------------------------------------------------- open

void JetDatabase::openExisting(const std::string& password) {
    Pager& pg = *pager_;
    const std::string& path = pg.path();
    if (pg.pageCount() < 1) throw jeterr::unrecognizedFormat(path);
    uint8_t h[kPageSize];
    std::memcpy(h, pg.read(0), kPageSize);
    const bool jet = std::memcmp(h + 4, "Standard Jet DB", 15) == 0;
    const bool ace = std::memcmp(h + 4, "Standard ACE DB", 15) == 0;
    const bool msisam = std::memcmp(h + 4, "MSISAM Database", 15) == 0;
    if (h[0] != 0 || !(jet || ace || msisam))
        throw jeterr::unrecognizedFormat(path);
    const uint8_t version = h[0x14];
    if (version == 0x00 && jet) {
        if (pg.pageSize() != 2048)
            throw jeterr::unrecognizedFormat(path);
        format_ = FileFormat::Jet3;
        jet3_ = true;
        ps_ = 2048;
        rowsAt_ = 8;
        if (pg.pageCount() < 3) damaged("the file is too short");
        rc4(kHeaderKey, 4, h + kMaskStart, 126);
        codePage_ = rd16(h + 0x3C);
        if (codePage_ == 0) codePage_ = 1252;
        sortLcid_ = rd16(h + 0x3A);
        // Database password: 20 bytes in the code page, not masked further.
        size_t len = 0;
        while (len < 20 && h[0x42 + len] != 0) ++len;
        if (len > 0 && decodeNarrowText(h + 0x42, len, codePage_) != password)
            throw jeterr::notValidPassword();
        pg.setEncodingKey(rd32(h + 0x3E));
        const uint8_t* p2 = pg.read(2);
        if (p2[0] != 0x02) damaged("the system catalog is missing");
        loadCatalog();
        return;
    }
    if (msisam || version == 0x00 || (version == 0x01 && !jet) || (version >= 0x02 && !ace) || version == 0x04 || version > 0x06)
        throw jeterr::unrecognizedFormat(path);
    switch (version) {
    case 0x02: format_ = FileFormat::Ace12; break;
    case 0x03: format_ = FileFormat::Ace14; break;
    case 0x05: format_ = FileFormat::Ace16; break;
    case 0x06: format_ = FileFormat::Ace17; break;
    default: format_ = FileFormat::Jet4; break;
    }
    if (pg.pageCount() < 3) damaged("the file is too short");
    rc4(kHeaderKey, 4, h + kMaskStart, kMaskLen);
    const uint32_t key = rd32(h + 0x3E);
    sortLcid_ = rd16(h + 0x6E);
    sortVersion_ = h[0x71];
    if (format_ != FileFormat::Jet4) {
        // An .accdb with a password is always encrypted; the password unlocks
        // the page key (the 0x42 field holds no password in these files).
        auto cipher = PageCipher::fromHeader(std::span<const uint8_t>(h, kPageSize), password, path);
        if (cipher) pg.setCipher(std::move(cipher));
    } else {
        double created;
        std::memcpy(&created, h + 0x72, 8);
        // Database password: 20 UTF-16 characters masked with the creation date.
        uint8_t mask[4] = {0, 0, 0, 0};
        if (std::isfinite(created) && std::fabs(created) < 2147483647.0) wr32(mask, uint32_t(int32_t(created)));
        std::u16string stored;
        for (int i = 0; i < 20; ++i) {
            const uint8_t lo = h[0x42 + 2 * i] ^ mask[(2 * i) % 4];
            const uint8_t hi = h[0x42 + 2 * i + 1] ^ mask[(2 * i + 1) % 4];
            const char16_t c = char16_t(lo | (hi << 8));
            if (c == 0) break;
            stored.push_back(c);
        }
        if (!stored.empty() && stored != utf8ToUtf16(password))
            throw jeterr::notValidPassword();
        pg.setEncodingKey(key);
    }
    const uint8_t* p2 = pg.read(2);
    if (p2[0] != 0x02) damaged("the system catalog is missing");
    loadCatalog();
}

std::pair<const uint8_t*, size_t> JetDatabase::findRow(uint32_t ref) {
    const uint32_t page = ref >> 8, row = ref & 0xFF;
    if (page == 0 || page >= pager_->pageCount()) damaged("row pointer to page " + std::to_string(page) + " out of range");
    const uint8_t* p = pager_->read(page);
    if (p[0] != 0x01) damaged("row pointer to page " + std::to_string(page) + ", which is not a data page");
    const uint32_t count = rd16(p + rowsAt_);
    const uint32_t table = rowsAt_ + 2;
    if (row >= count || table + 2 * count > ps_) damaged("row " + std::to_string(row) + " of page " + std::to_string(page) + " does not exist");
    const uint32_t start = rd16(p + table + 2 * row) & 0x1FFF;
    const uint32_t end = row == 0 ? ps_ : rd16(p + table + 2 * (row - 1)) & 0x1FFF;
    if (start < table + 2 * count || end > ps_ || start > end)
        damaged("row " + std::to_string(row) + " of page " + std::to_string(page) + " has a bad offset");
    return {p + start, end - start};
}

void JetDatabase::pageRows(uint32_t page, const uint8_t* p, std::vector<RowSpan>& out, bool liveOnly) {
    out.clear();
    const uint32_t count = rd16(p + rowsAt_);
    const uint32_t table = rowsAt_ + 2;
    if (table + 2 * count > ps_) damaged("page " + std::to_string(page) + " has a bad row count");
    uint32_t prevEnd = ps_;
    for (uint32_t r = 0; r < count; ++r) {
        const uint16_t raw = rd16(p + table + 2 * r);
        const uint32_t start = raw & 0x1FFF;
        const uint32_t end = r == 0 ? ps_ : prevEnd;
        prevEnd = start;
        if (liveOnly && (raw & 0x4000)) continue;
        if (start < table + 2 * count || start > end || end > ps_)
            damaged("row " + std::to_string(r) + " of page " + std::to_string(page) + " has a bad offset");
        if (end == start) continue;
        out.push_back({(page << 8) | r, p + start, end - start});
    }
}

std::vector<uint32_t> JetDatabase::mapPages(uint32_t ref, std::vector<uint32_t>* bitmapPages) {
    std::vector<uint32_t> pages;
    auto [p, n] = findRow(ref);
    if (n < 1) damaged("empty usage map");
    const uint32_t total = pager_->pageCount();
    if (p[0] == 0x00) {
        if (n < 5) damaged("short usage map");
        const uint32_t start = rd32(p + 1);
        for (size_t i = 0; i < (n - 5) * 8; ++i)
            if (p[5 + i / 8] & (1u << (i % 8))) {
                const uint64_t pgno = uint64_t(start) + i;
                if (pgno < total) pages.push_back(uint32_t(pgno));
            }
    } else if (p[0] == 0x01) {
        std::vector<uint32_t> maps;
        for (size_t j = 0; j < (n - 1) / 4; ++j) maps.push_back(rd32(p + 1 + 4 * j));
        for (size_t j = 0; j < maps.size(); ++j) {
            if (maps[j] == 0) continue;
            if (maps[j] >= total) damaged("usage map page " + std::to_string(maps[j]) + " out of range");
            const uint64_t base = uint64_t(j) * (ps_ - 4) * 8;
            // A map page covering only pages past the end of the file marks
            // nothing that exists: not read (so that repeated references
            // cannot make each scan walk millions of bits).
            if (base >= total) break;
            const uint8_t* b = pager_->read(maps[j]);
            if (b[0] != 0x05) damaged("usage map page " + std::to_string(maps[j]) + " has the wrong type");
            if (bitmapPages) bitmapPages->push_back(maps[j]);
            const size_t bits = size_t(std::min<uint64_t>((ps_ - 4) * 8, total - base));
            for (size_t i = 0; i < bits; ++i)
                if (b[4 + i / 8] & (1u << (i % 8))) {
                    const uint64_t pgno = base + i;
                    if (pgno < total) pages.push_back(uint32_t(pgno));
                }
        }
    } else {
        damaged("unknown usage map type " + std::to_string(p[0]));
    }
    return pages;
}

// A real index's definition from its block (Jet 4: after the block's first
// four bytes): ten (column number, flags) pairs, usage map, root page, flags.
static StoredIndex realIndex(const uint8_t* p, bool jet3) {
    StoredIndex ix;
    for (int k = 0; k < 10; ++k) {
        const uint16_t cn = rd16(p + 3 * k);
        if (cn == 0xFFFF) continue;
        ix.columns.push_back(cn);
        ix.ascending.push_back(p[2 + 3 * k] & 0x01);
    }
    ix.mapRef = rd32(p + 30);
    ix.root = rd32(p + 34);
    ix.flags = p[jet3 ? 38 : 42];
    return ix;
}

// The list that ends a table definition: per Memo/OLE column its number and
// its two usage maps, up to 0xFFFF.
static void readLongValueMaps(const std::vector<uint8_t>& s, size_t pos, StoredTable& t) {
    while (pos + 2 <= s.size() && rd16(&s[pos]) != 0xFFFF && pos + 10 <= s.size()) {
        LongValueMaps m;
        m.column = rd16(&s[pos]);
        m.owned = rd32(&s[pos + 2]);
        m.free = rd32(&s[pos + 6]);
        t.longValueMaps.push_back(m);
        pos += 10;
    }
}

StoredTable JetDatabase::loadTable(uint32_t first, const std::string& name) {
    StoredTable t;
    t.name = name;
    t.page = first;
    std::vector<uint8_t> s;
    std::unordered_set<uint32_t> seen;
    uint32_t page = first;
    while (page != 0) {
        if (page >= pager_->pageCount()) damaged("table definition page " + std::to_string(page) + " out of range");
        if (!seen.insert(page).second) damaged("table definition pages of '" + name + "' form a cycle");
        const uint8_t* p = pager_->read(page);
        if (p[0] != 0x02) damaged("page " + std::to_string(page) + " of table '" + name + "' is not a table definition");
        if (s.empty()) s.insert(s.end(), p, p + ps_);
        else s.insert(s.end(), p + 8, p + ps_);
        t.tdefPages.push_back(page);
        page = rd32(p + 4);
    }
    auto need = [&](size_t pos, size_t len) {
        if (pos + len > s.size()) damaged("the definition of table '" + name + "' is truncated");
    };
    if (jet3_) return loadTable3(std::move(t), s);
    need(0, 0x3F);
    t.rowCount = rd32(&s[0x10]);
    t.autoNumber = rd32(&s[0x14]);
    t.tableType = s[0x28];
    t.maxCols = rd16(&s[0x29]);
    t.varCols = rd16(&s[0x2B]);
    t.numCols = rd16(&s[0x2D]);
    const uint32_t numLogical = rd32(&s[0x2F]);
    const uint32_t numReal = rd32(&s[0x33]);
    t.ownedMap = rd32(&s[0x37]);
    t.freeMap = rd32(&s[0x3B]);
    if (numReal > 1000 || numLogical > 1000) damaged("table '" + name + "' has too many indexes");
    size_t pos = 0x3F + 12 * size_t(numReal);
    need(pos, 25 * size_t(t.numCols));
    for (int i = 0; i < t.numCols; ++i) {
        const uint8_t* c = &s[pos + 25 * size_t(i)];
        StoredColumn col;
        col.rawType = c[0];
        col.number = rd16(c + 5);
        col.varIndex = rd16(c + 7);
        std::memcpy(col.misc, c + 11, 4);
        col.flags = c[15];
        col.extFlags = c[16];
        col.fixedOffset = rd16(c + 21);
        col.length = rd16(c + 23);
        t.columns.push_back(col);
    }
    pos += 25 * size_t(t.numCols);
    for (auto& col : t.columns) {
        need(pos, 2);
        const size_t len = rd16(&s[pos]);
        pos += 2;
        need(pos, len);
        col.name = decodeText(&s[pos], len);
        pos += len;
    }
    for (uint32_t i = 0; i < numReal; ++i) {
        need(pos, 52);
        StoredIndex ix = realIndex(&s[pos + 4], false);
        ix.slotOffset = 0x3F + 12 * size_t(i) + 4;
        t.indexes.push_back(ix);
        pos += 52;
    }
    need(pos, 28 * size_t(numLogical));
    pos += 28 * size_t(numLogical);
    for (uint32_t i = 0; i < numLogical; ++i) {
        need(pos, 2);
        pos += 2 + rd16(&s[pos]);
    }
    readLongValueMaps(s, pos, t);
    std::stable_sort(t.columns.begin(), t.columns.end(),
                     [](const StoredColumn& a, const StoredColumn& b) { return a.number < b.number; });
    for (const auto& c : t.columns) {
        if (c.fixed() && c.rawType != 0x01) t.fixedSize = std::max(t.fixedSize, c.fixedOffset + c.length);
    }
    return t;
}

// Access 97 table definition: narrower counts and descriptors, one-byte
// name lengths, names in the code page. Indexes are read for checks only
// (these files are not written).
StoredTable JetDatabase::loadTable3(StoredTable t, const std::vector<uint8_t>& s) {
    const std::string& name = t.name;
    auto need = [&](size_t pos, size_t len) {
        if (pos + len > s.size()) damaged("the definition of table '" + name + "' is truncated");
    };
    need(0, 0x2B);
    t.rowCount = rd32(&s[0x0C]);
    t.autoNumber = rd32(&s[0x10]);
    t.tableType = s[0x14];
    t.maxCols = rd16(&s[0x15]);
    t.varCols = rd16(&s[0x17]);
    t.numCols = rd16(&s[0x19]);
    const uint32_t numReal = rd32(&s[0x1F]);
    t.ownedMap = rd32(&s[0x23]);
    t.freeMap = rd32(&s[0x27]);
    if (numReal > 1000) damaged("table '" + name + "' has too many indexes");
    size_t pos = 0x2B + 8 * size_t(numReal);
    need(pos, 18 * size_t(t.numCols));
    for (int i = 0; i < t.numCols; ++i) {
        const uint8_t* c = &s[pos + 18 * size_t(i)];
        StoredColumn col;
        col.rawType = c[0];
        col.number = rd16(c + 1);
        col.varIndex = rd16(c + 3);
        col.misc[0] = c[11];
        col.misc[1] = c[12];
        if (col.rawType == 0x0A || col.rawType == 0x0C) {
            // Text: the sort order's locale id; the version is implied.
            col.misc[0] = c[9];
            col.misc[1] = c[10];
            col.misc[3] = 0xFF;
        }
        col.flags = c[13];
        col.fixedOffset = rd16(c + 14);
        col.length = rd16(c + 16);
        col.narrowText = true;
        t.columns.push_back(col);
    }
    pos += 18 * size_t(t.numCols);
    for (auto& col : t.columns) {
        need(pos, 1);
        const size_t len = s[pos++];
        need(pos, len);
        col.name = decodeNarrowText(&s[pos], len, codePage_);
        pos += len;
    }
    for (uint32_t i = 0; i < numReal && pos + 39 <= s.size(); ++i, pos += 39) {
        StoredIndex ix = realIndex(&s[pos], true);
        ix.slotOffset = 0x2B + 8 * size_t(i);
        t.indexes.push_back(ix);
    }
    // Then the logical indexes and their names, then the long-value maps
    // (read when the definition holds them whole).
    const uint32_t numLogical = rd32(&s[0x1B]);
    if (numLogical <= 1000 && pos + 20 * size_t(numLogical) <= s.size()) {
        pos += 20 * size_t(numLogical);
        bool whole = true;
        for (uint32_t i = 0; i < numLogical && whole; ++i) {
            whole = pos < s.size();
            if (whole) pos += 1 + s[pos];
        }
        if (whole) readLongValueMaps(s, pos, t);
    }
    std::stable_sort(t.columns.begin(), t.columns.end(),
                     [](const StoredColumn& a, const StoredColumn& b) { return a.number < b.number; });
    for (const auto& c : t.columns)
        if (c.fixed() && c.rawType != 0x01) t.fixedSize = std::max(t.fixedSize, c.fixedOffset + c.length);
    return t;
}

namespace {

// The column walk shared by Access 97 and later rows: Yes/No values live in
// the null mask, fixed columns at headerSize + their offset (while the row
// has them), variable columns between varOffset(i) and varOffset(i + 1).
template <class VarOffset, class Damaged, class ValueOf>
void decodeColumns(const StoredTable& t, const uint8_t* row, size_t n, const uint8_t* mask, size_t maskSize,
                   size_t headerSize, size_t rowCols, size_t rowVar, VarOffset varOffset, Damaged damaged,
                   ValueOf valueOf, std::vector<Value>& out) {
    const size_t rowFixed = rowCols >= rowVar ? rowCols - rowVar : 0;
    size_t fixedSeen = 0;
    for (size_t k = 0; k < t.columns.size(); ++k) {
        const StoredColumn& c = t.columns[k];
        const size_t bit = size_t(c.number);
        const bool present = bit / 8 < maskSize && (mask[bit / 8] & (1u << (bit % 8)));
        if (c.rawType == 0x01) {
            out[k] = Value(present);
            if (c.fixed()) ++fixedSeen;
            continue;
        }
        const uint8_t* p = nullptr;
        size_t len = 0;
        if (c.fixed() && fixedSeen < rowFixed) {
            ++fixedSeen;
            const size_t start = headerSize + size_t(c.fixedOffset);
            len = size_t(c.length);
            if (start + len > n) damaged("a fixed column of table '" + t.name + "' lies outside its row");
            p = row + start;
        } else if (!c.fixed() && size_t(c.varIndex) < rowVar) {
            const size_t a = varOffset(size_t(c.varIndex)), b = varOffset(size_t(c.varIndex) + 1);
            if (a > b || b > n) damaged("a variable column of table '" + t.name + "' has a bad offset");
            p = row + a;
            len = b - a;
        } else {
            continue;
        }
        if (!present) continue;
        out[k] = valueOf(c, p, len);
    }
}

}  // namespace

// Access 97 row: [ncols:1][fixed area][variable data][EOD:1][off(n-1):1] ...
// [off(0):1][jump table][n:1][null mask]. Offsets hold the low byte; the
// jump table lists, per 256-byte boundary, the first variable column whose
// offset lies beyond it.
template <class ValueOf>
void JetDatabase::decodeRow3(const StoredTable& t, const uint8_t* row, size_t n, std::vector<Value>& out,
                             ValueOf valueOf) {
    out.assign(t.columns.size(), Value());
    auto bad = [&](const char* what) { damaged(std::string("a row of table '") + t.name + "' " + what); };
    if (n < 1) bad("is too short");
    const size_t rowCols = row[0];
    const size_t maskSize = (rowCols + 7) / 8;
    if (n < 1 + maskSize) bad("is too short");
    const uint8_t* mask = row + n - maskSize;
    size_t rowVar = 0;
    std::vector<size_t> offs;
    if (t.varCols > 0) {
        if (n < 2 + maskSize) bad("is too short");
        rowVar = row[n - maskSize - 1];
        size_t jumps = (n - 1) / 256;
        if (n < maskSize + jumps + 2 + rowVar + 1) bad("has a bad variable column count");
        const size_t colPtr = n - maskSize - jumps - 2;   // off(0)
        // The last jump entry may be a dummy when the offsets themselves
        // cross no further boundary.
        if (double(colPtr - rowVar) / 256.0 < double(jumps)) --jumps;
        size_t used = 0;
        for (size_t i = 0; i <= rowVar; ++i) {
            while (used < jumps && i == row[n - maskSize - used - 2]) ++used;
            offs.push_back(size_t(row[colPtr - i]) + used * 256);
        }
    }
    decodeColumns(
        t, row, n, mask, maskSize, 1, rowCols, rowVar, [&](size_t i) { return offs[i]; },
        [&](const std::string& what) { damaged(what); }, valueOf, out);
}

Value JetDatabase::readLongValue(const StoredColumn& c, const uint8_t* p, size_t n) {
    if (n < 12) damaged("long value of column '" + c.name + "' is too short");
    const size_t len = rd24(p);
    const uint8_t kind = p[3];
    std::vector<uint8_t> data;
    if (kind == 0x80) {
        if (len > n - 12) damaged("inline long value of column '" + c.name + "' is longer than its field");
        data.assign(p + 12, p + 12 + len);
    } else if (kind == 0x40) {
        auto [r, rn] = findRow(rd32(p + 4));
        data.assign(r, r + std::min(rn, len));
    } else if (kind == 0x00) {
        uint32_t ref = rd32(p + 4);
        std::unordered_set<uint32_t> seen;
        data.reserve(std::min<size_t>(len, 1 << 20));
        while (ref != 0) {
            if (!seen.insert(ref).second) damaged("long value chain of column '" + c.name + "' forms a cycle");
            auto [r, rn] = findRow(ref);
            if (rn < 4) damaged("long value chunk of column '" + c.name + "' is too short");
            if (data.size() + rn - 4 > len) break;
            data.insert(data.end(), r + 4, r + rn);
            ref = rd32(r);
        }
    } else {
        damaged("unknown long value type in column '" + c.name + "'");
    }
    if (c.rawType == 0x0C) return Value(text(c, data.data(), data.size()));
    return Value(Bytes(std::move(data)));
}

Value JetDatabase::valueOf(const StoredTable& t, const StoredColumn& c, const uint8_t* p, size_t len) {
    Bytes held;
    const ColType type = typeOf(c.rawType);
    if (c.calculated()) {
        // A calculated column's value: 16 bytes, the value's length, the
        // value, padding. A long text result (a text column of length 0)
        // keeps all that in a long value.
        const bool longText = type == ColType::Text && c.length == 0;
        if (longText) {
            StoredColumn binary = c;
            binary.rawType = 0x0B;
            held = readLongValue(binary, p, len).bytes();
            p = held.data();
            len = held.size();
        }
        if (len < 20) damaged("calculated column '" + c.name + "' of table '" + t.name + "' is too short");
        const size_t inner = rd32(p + 16);
        if (inner > len - 20) damaged("calculated column '" + c.name + "' of table '" + t.name + "' is too short");
        p += 20;
        len = inner;
        if (longText) return Value(text(c, p, len));
        // A Yes/No result in a whole-number column: one byte, 0 or 0xFF,
        // read as Access shows it as a number (No 0, Yes -1).
        if (len == 1 && (type == ColType::Int || type == ColType::Long) && (p[0] == 0x00 || p[0] == 0xFF))
            return Value(int64_t(p[0] ? -1 : 0));
    }
    const int need = fixedSizeOf(type);
    if (need > 0 && len < size_t(need)) damaged("column '" + c.name + "' of table '" + t.name + "' is too short");
    switch (type) {
    case ColType::Byte: return Value(int64_t(p[0]));
    case ColType::Int: return Value(int64_t(int16_t(rd16(p))));
    case ColType::Long: case ColType::Complex: return Value(int64_t(int32_t(rd32(p))));
    case ColType::BigInt: return Value(int64_t(uint64_t(rd32(p)) | (uint64_t(rd32(p + 4)) << 32)));
    case ColType::Money: return Value(Currency{int64_t(uint64_t(rd32(p)) | (uint64_t(rd32(p + 4)) << 32))});
    case ColType::Float: { float f; std::memcpy(&f, p, 4); return Value(double(f)); }
    case ColType::Double: { double d; std::memcpy(&d, p, 8); return Value(d); }
    case ColType::DateTime: { double d; std::memcpy(&d, p, 8); return Value(fromOleDate(d)); }
    case ColType::Guid: return Value(guidText(p));
    case ColType::Numeric: return Value(Decimal{numericText(p, std::min<int>(c.misc[1], 38))});
    case ColType::Text: return Value(text(c, p, len));
    case ColType::Memo: case ColType::OLE: return readLongValue(c, p, len);
    default: return Value(Bytes(p, p + len));
    }
}

void JetDatabase::decodeRow(const StoredTable& t, const uint8_t* row, size_t n, std::vector<Value>& out) {
    decodeRowWith(t, row, n, out,
                  [&](const StoredColumn& c, const uint8_t* p, size_t len) { return valueOf(t, c, p, len); });
}

template <class ValueOf>
void JetDatabase::decodeRowWith(const StoredTable& t, const uint8_t* row, size_t n, std::vector<Value>& out,
                                ValueOf valueOf) {
    if (jet3_) return decodeRow3(t, row, n, out, valueOf);
    out.assign(t.columns.size(), Value());
    if (n < 2) damaged("a row of table '" + t.name + "' is too short");
    const size_t rowCols = rd16(row);
    const size_t maskSize = (rowCols + 7) / 8;
    if (n < 2 + maskSize) damaged("a row of table '" + t.name + "' is too short");
    const uint8_t* mask = row + n - maskSize;
    size_t rowVar = 0;
    const uint8_t* offs = nullptr;
    if (t.varCols > 0) {
        if (n < 4 + maskSize) damaged("a row of table '" + t.name + "' is too short");
        rowVar = rd16(row + n - maskSize - 2);
        if (4 + maskSize + 2 * (rowVar + 1) > n) damaged("a row of table '" + t.name + "' has a bad variable column count");
        offs = row + n - maskSize - 4;   // off(0); off(i) at offs - 2i
    }
    auto varOff = [&](size_t i) { return size_t(rd16(offs - 2 * i)); };
    decodeColumns(
        t, row, n, mask, maskSize, 2, rowCols, rowVar, varOff, [&](const std::string& what) { damaged(what); },
        valueOf, out);
}

void JetDatabase::forEachRow(StoredTable& t, const std::function<void(uint32_t, const std::vector<Value>&)>& fn) {
    std::vector<uint32_t> pages = mapPages(t.ownedMap);
    std::vector<RowSpan> rows;
    std::vector<Value> vals;
    std::vector<uint8_t> copy(kPageSize);
    size_t seen = 0;
    for (uint32_t pgno : pages) {
        if ((++seen & 255) == 0) stillBusy();
        std::memcpy(copy.data(), pager_->read(pgno), kPageSize);
        if (!dataPageOf(t, copy.data())) continue;
        pageRows(pgno, copy.data(), rows, true);
        for (const RowSpan& r : rows) {
            decodeRow(t, r.p, r.n, vals);
            fn(r.ref, vals);
        }
    }
}

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

// ---------------------------------------------------------------- listing

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
            if ((e.flags & 0xF0) != 0) continue;   // action queries are procedures, not views
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

// ---------------------------------------------------------------- scanning

class JetCursor final : public Cursor {
public:
    JetCursor(JetDatabase& db, const StoredTable& t) : db_(db), table_(t) {
        for (const auto& c : t.columns) {
            const char* what = unreadableColumn(c);
            if (what)
                throw Error(jeterr::kNotSupported, "The column '" + c.name + "' of table '" + t.name + "' in '" +
                                                  db.pager().path() + "' is " + what +
                                                  ", which this database engine cannot read.");
        }
        for (const auto& c : t.columns) fields_.push_back(fieldInfoOf(c));
        pages_ = db.mapPages(t.ownedMap);
        page_.resize(kPageSize);
    }
    const std::vector<FieldInfo>& fields() const override { return fields_; }
    bool next(std::vector<Value>& row) override {
        while (rowPos_ >= rows_.size()) {
            if (pagePos_ >= pages_.size()) return false;
            const uint32_t pgno = pages_[pagePos_++];
            db_.pager().trim();   // a long scan keeps the cache within its budget
            std::memcpy(page_.data(), db_.pager().read(pgno), kPageSize);
            rows_.clear();
            rowPos_ = 0;
            if (!db_.dataPageOf(table_, page_.data())) continue;
            db_.pageRows(pgno, page_.data(), rows_, true);
        }
        const RowSpan& r = rows_[rowPos_++];
        db_.decodeRow(table_, r.p, r.n, row);
        return true;
    }

private:
    JetDatabase& db_;
    StoredTable table_;
    std::vector<FieldInfo> fields_;
    std::vector<uint32_t> pages_;
    size_t pagePos_ = 0;
    std::vector<uint8_t> page_;
    std::vector<RowSpan> rows_;
    size_t rowPos_ = 0;
};

std::unique_ptr<Cursor> JetDatabase::scan(const std::string& table) {
    StoredTable& t = tableByName(table);
    return std::make_unique<JetCursor>(*this, t);
}

// ---------------------------------------------------------------- durability

void JetDatabase::durable() {
    // Index rebuilds are a statement of their own: a failure leaves the pages
    // as they were, to be tried again at the next durability point.
    atomically([&] { refreshIndexes(); });
    pager_->commit();
    lastDurable_ = std::chrono::steady_clock::now();
}

void JetDatabase::flush() {
    requireOpen();
    if (pager_->readOnly()) return;
    durable();
}

void JetDatabase::afterStatement() {
    if (durableEvery_.count() == 0 || (++statementsSinceCheck_ & 63) != 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDurable_ < durableEvery_) return;
    lastDurable_ = now;
    try {
        durable();
    } catch (const Error&) {
        // The changes stay in memory (and the file as it was at the last
        // durability point); the next durability point, at the latest
        // close(), tries again and reports a failure.
    }
}

// ---------------------------------------------------------------- units

void JetDatabase::beginUnit() {
    requireWritable();
    if (pager_->inUnit()) throw jeterr::tooManyTransactions();
    // Pending row counts and indexes go into the pages first, so that the
    // pages alone say what the tables were when the unit began.
    atomically([&] { refreshIndexes(); });
    pager_->beginUnit();
    unitNotNull_ = notNullByPage_;
}

void JetDatabase::commitUnit() {
    requireOpen();
    if (!pager_->inUnit())
        throw jeterr::noTransaction();
    pager_->endUnit();
    unitNotNull_.clear();
}

void JetDatabase::rollbackUnit() {
    requireOpen();
    if (!pager_->inUnit())
        throw jeterr::noTransaction();
    notNullByPage_ = std::move(unitNotNull_);
    unitNotNull_.clear();
    // Nothing pending inside the unit survives it.
    for (auto& [page, t] : tables_) t->indexesStale = t->countStale = false;
    std::exception_ptr failure;
    try {
        pager_->rollbackUnit();
    } catch (...) {
        failure = std::current_exception();
    }
    reloadAfterUndo();
    lastDurable_ = std::chrono::steady_clock::now();
    if (failure) std::rethrow_exception(failure);
}

void JetDatabase::reloadAfterUndo() {
    // What is not in the pages yet: pending index rebuilds and row counts.
    struct Pending {
        uint32_t page;
        bool indexes, count;
        uint32_t rowCount, autoNumber;
    };
    std::vector<Pending> stale;
    for (auto& [page, t] : tables_)
        if (t->indexesStale || t->countStale)
            stale.push_back({page, t->indexesStale, t->countStale, t->rowCount, t->autoNumber});
    tables_.clear();
    catalog_.clear();
    last_ = nullptr;
    lastName_.clear();
    // Pages given back or taken during the statement are in the maps as they
    // were; the free pages are read from the global map again when needed.
    freeKnown_ = false;
    loadCatalog();
    for (const Pending& s : stale)
        for (const CatalogEntry& e : catalog_)
            if ((e.type & 0x7F) == 1 && (e.id & 0x00FFFFFF) == s.page) {
                StoredTable& t = tableByName(e.name);
                t.indexesStale = s.indexes;
                if (s.count) {
                    t.countStale = true;
                    t.rowCount = s.rowCount;
                    t.autoNumber = std::max(t.autoNumber, s.autoNumber);
                }
                break;
            }
}

void JetDatabase::close() {
    if (!pager_) return;
    std::exception_ptr failure;
    // A unit left open is not finished: it is undone.
    if (pager_->inUnit()) {
        try {
            rollbackUnit();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (!pager_->readOnly() && !failure) {
        try {
            atomically([&] { refreshIndexes(); });
        } catch (...) {
            failure = std::current_exception();
        }
    }
    auto p = std::move(pager_);
    tables_.clear();
    catalog_.clear();
    last_ = nullptr;
    if (failure) {
        p->abandon();
        std::rethrow_exception(failure);
    }
    p->close();
}

}  // namespace

// Writing and creation live in the second half of this file.
namespace {
#include "db/jet/engine_write.inc"
#include "db/jet/engine_check.inc"

// Access 97 files have 2048-byte pages (and are only read).
bool jet3File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char h[0x15] = {};
    return in.read(h, sizeof h) && h[0] == 0 && std::memcmp(h + 4, "Standard Jet DB", 15) == 0 && h[0x14] == 0;
}
}  // namespace

IndexKeyReport compareIndexKeys(Database& db) {
    auto* jet = dynamic_cast<JetDatabase*>(&db);
    if (!jet) throw Error("not an Access database of this engine");
    return jet->compareIndexKeys();
}

std::unique_ptr<Database> Database::open(const std::string& path, const std::string& password, bool readOnly) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        throw jeterr::fileNotFound(path);
    const bool jet3 = jet3File(path);
    auto db = std::make_unique<JetDatabase>(
        jet3 ? std::make_unique<Pager>(path, true, 2048u) : std::make_unique<Pager>(path, readOnly));
    db->openExisting(password);
    return db;
}

namespace {

// Moves a finished file to a name that does not exist yet; false (and errno
// EEXIST) when something appeared there meanwhile.
bool publishFile(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
    // Filesystems without the exclusive rename: a hard link never replaces.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) return false;
    std::error_code ec;
    if (std::filesystem::exists(to, ec)) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

// The new file is built and synced under a passing name in the same folder
// and then renamed into place: the database's name never shows an empty or
// half-made file, and an existing file is never replaced.
std::unique_ptr<Database> Database::create(const std::string& path, const std::string& password, FileFormat format) {
    if (format == FileFormat::Jet3)
        throw Error(jeterr::kUnrecognized, "Access 97 (Jet 3) databases cannot be created.");
    if (utf8ToUtf16(password).size() > 20) throw jeterr::notValidPassword();
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) throw jeterr::databaseExists();
    const std::filesystem::path target(path);
    std::string building;
    std::unique_ptr<JetDatabase> db;
    for (int attempt = 0; !db; ++attempt) {
        building = (target.parent_path() / ("~" + target.filename().string() + "." + std::to_string(::getpid()) +
                                            "-" + std::to_string(attempt) + ".tmp"))
                       .string();
        try {
            db = std::make_unique<JetDatabase>(std::make_unique<Pager>(building, Pager::CreateTag{}));
        } catch (const Error& e) {
            if (e.number() == 3204 && attempt < 100) continue;
            if (e.number() == 3204) throw;
            std::string what = e.what();
            if (auto at = what.find(building); at != std::string::npos) what.replace(at, building.size(), path);
            throw Error(e.number(), what);
        }
    }
    db->setFormat(format);
    try {
        db->createNew(password);
        db->close();
    } catch (...) {
        db.reset();
        std::filesystem::remove(building, ec);
        throw;
    }
    db.reset();
    if (!publishFile(building, path)) {
        const int err = errno;
        std::filesystem::remove(building, ec);
        if (err == EEXIST) throw jeterr::databaseExists();
        throw jeterr::cannotCreateFile(path, std::strerror(err));
    }
    {
        const std::string dir = target.parent_path().string();
        const int d = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (d >= 0) {
            ::fsync(d);
            ::close(d);
        }
    }
    return open(path, password, false);
}

CheckReport checkDatabase(const std::string& path, const std::string& password, size_t maxProblems) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) throw jeterr::fileNotFound(path);
    // Read as it is: no lock, no journal played back.
    const bool jet3 = jet3File(path);
    JetDatabase db(std::make_unique<Pager>(path, true, jet3 ? 2048u : kPageSize, false));
    try {
        db.openExisting(password);
    } catch (const Error& e) {
        if (e.number() == jeterr::kNotValidPassword) throw;
        const std::string prefix = "The database '" + path + "' is damaged: ";
        std::string s = e.what();
        if (s.rfind(prefix, 0) == 0) s = s.substr(prefix.size());
        return {{"the database cannot be opened: " + s}, {}};
    }
    return checkOpened(db, path, maxProblems);
}

}  // namespace tp::db::jet
