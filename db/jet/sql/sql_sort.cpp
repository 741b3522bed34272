// The rows of a query that gathers, in the order of their sort keys: each
// row and its keys as one entry of an EntrySorter (the index builds' sorter,
// here with the query's order), held in memory up to a bound and past it
// sorted in runs kept in a temporary file beside the database and merged as
// the cursor reads them. TOP n keeps only its n rows (and those tied with
// the last of them) in memory.
//
// An entry: the length of its keys (4 bytes), the keys, the values. A key is
// a tag and its bytes, enough to compare it exactly as the engine compares
// values: Int with Int and Currency with Currency exactly, other numbers by
// their value as a double, bytes (text by its sort key) by their bytes,
// Nulls first; bytes against a number do not compare (3464).
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "db/jet/errors.h"
#include "db/jet/sql/sql_query.h"
#include "db/jet/tables/stored_table.h"

namespace tp::db::jet {

namespace {

constexpr size_t kDefaultBound = size_t(32) << 20;
constexpr int64_t kHeapRows = 10000;  // TOP n up to this keeps its rows in memory; beyond, they are sorted
std::atomic<size_t> boundSet{0};

// ---- bytes ----------------------------------------------------------------------

void putU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void putI64(std::vector<uint8_t>& out, int64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(uint8_t(uint64_t(v) >> (8 * i)));
}

void putDouble(std::vector<uint8_t>& out, double d) {
    int64_t bits = 0;
    std::memcpy(&bits, &d, 8);
    putI64(out, bits);
}

void putBytes(std::vector<uint8_t>& out, const uint8_t* p, size_t n) {
    putU32(out, uint32_t(n));
    out.insert(out.end(), p, p + n);
}

void putText(std::vector<uint8_t>& out, const std::string& s) {
    putBytes(out, reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

struct Reader {
    const uint8_t* p;
    uint32_t u32() {
        const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        p += 4;
        return v;
    }
    int64_t i64() {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v |= uint64_t(p[i]) << (8 * i);
        p += 8;
        return int64_t(v);
    }
    double real() {
        const int64_t bits = i64();
        double d = 0;
        std::memcpy(&d, &bits, 8);
        return d;
    }
    int i32() { return int(int32_t(u32())); }
    std::string text() {
        const uint32_t n = u32();
        std::string s(reinterpret_cast<const char*>(p), n);
        p += n;
        return s;
    }
};

// ---- keys -----------------------------------------------------------------------

enum KeyTag : uint8_t { kNullKey, kIntKey, kCurrencyKey, kNumberKey, kBytesKey };

void putKey(std::vector<uint8_t>& out, const Value& v) {
    switch (v.kind()) {
    case Kind::Null: out.push_back(kNullKey); break;
    case Kind::Int:
        out.push_back(kIntKey);
        putI64(out, v.integer());
        break;
    case Kind::Currency:
        out.push_back(kCurrencyKey);
        putI64(out, v.currency().units);
        break;
    case Kind::Binary:
        out.push_back(kBytesKey);
        putBytes(out, v.bytes().data(), v.bytes().size());
        break;
    case Kind::Text:
        out.push_back(kBytesKey);
        putText(out, v.text());
        break;
    default:
        out.push_back(kNumberKey);
        putDouble(out, numberValue(v));
        break;
    }
}

struct Key {
    uint8_t tag = kNullKey;
    int64_t exact = 0;  // Int, Currency
    double number = 0;  // every number
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
};

Key readKey(Reader& r) {
    Key k;
    k.tag = *r.p++;
    switch (k.tag) {
    case kIntKey:
        k.exact = r.i64();
        k.number = double(k.exact);
        break;
    case kCurrencyKey:
        k.exact = r.i64();
        k.number = double(k.exact) / 10000.0;
        break;
    case kNumberKey: k.number = r.real(); break;
    case kBytesKey:
        k.size = r.u32();
        k.bytes = r.p;
        r.p += k.size;
        break;
    default: break;
    }
    return k;
}

int compareBytes(const Key& a, const Key& b) {
    const int c = std::memcmp(a.bytes, b.bytes, std::min(a.size, b.size));
    if (c != 0) return c < 0 ? -1 : 1;
    return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
}

int compareKeys(const Key& a, const Key& b) {
    if (a.tag == kNullKey || b.tag == kNullKey) return int(b.tag == kNullKey) - int(a.tag == kNullKey);
    if (a.tag == kBytesKey && b.tag == kBytesKey) return compareBytes(a, b);
    if (a.tag == kBytesKey || b.tag == kBytesKey) throw jeterr::typeMismatch();
    if (a.tag == b.tag && a.tag != kNumberKey) return a.exact < b.exact ? -1 : (a.exact > b.exact ? 1 : 0);
    const double d = a.number - b.number;
    return d < 0 ? -1 : (d > 0 ? 1 : 0);
}

// Whether entry a's keys go before entry b's.
struct KeyOrder {
    std::vector<bool> descending;  // per key
    bool operator()(const uint8_t* a, size_t /*an*/, const uint8_t* b, size_t /*bn*/) const {
        Reader x{a + 4}, y{b + 4};
        for (const bool down : descending) {
            const int c = compareKeys(readKey(x), readKey(y));
            if (c != 0) return down ? c > 0 : c < 0;
        }
        return false;
    }
};

// ---- values ---------------------------------------------------------------------

void putValue(std::vector<uint8_t>& out, const Value& v) {
    out.push_back(uint8_t(v.kind()));
    switch (v.kind()) {
    case Kind::Null: break;
    case Kind::Text: putText(out, v.text()); break;
    case Kind::Int: putI64(out, v.integer()); break;
    case Kind::Double: putDouble(out, v.real()); break;
    case Kind::Decimal: putText(out, v.decimal().text); break;
    case Kind::Currency: putI64(out, v.currency().units); break;
    case Kind::Bool: out.push_back(v.boolean() ? 1 : 0); break;
    case Kind::Date:
    case Kind::DateTime: {
        const DateTime t = v.kind() == Kind::Date ? DateTime{v.date()} : v.dateTime();
        for (const int n : {t.date.year, t.date.month, t.date.day, t.hour, t.minute, t.second, t.millisecond})
            putU32(out, uint32_t(n));
        break;
    }
    case Kind::Binary: putBytes(out, v.bytes().data(), v.bytes().size()); break;
    }
}

Value readValue(Reader& r) {
    const auto kind = Kind(*r.p++);
    switch (kind) {
    case Kind::Null: return Value();
    case Kind::Text: return Value(r.text());
    case Kind::Int: return Value(r.i64());
    case Kind::Double: return Value(r.real());
    case Kind::Decimal: return Value(Decimal{r.text()});
    case Kind::Currency: return Value(Currency{r.i64()});
    case Kind::Bool: return Value(*r.p++ != 0);
    case Kind::Date:
    case Kind::DateTime: {
        DateTime t;
        t.date.year = r.i32();
        t.date.month = r.i32();
        t.date.day = r.i32();
        t.hour = r.i32();
        t.minute = r.i32();
        t.second = r.i32();
        t.millisecond = r.i32();
        return kind == Kind::Date ? Value(t.date) : Value(t);
    }
    case Kind::Binary: {
        const uint32_t n = r.u32();
        Bytes b(r.p, r.p + n);
        r.p += n;
        return Value(std::move(b));
    }
    }
    return Value();
}

void readValues(const uint8_t* entry, std::vector<Value>& out) {
    Reader r{entry};
    const uint32_t keys = r.u32();
    r.p += keys;
    for (Value& v : out) v = readValue(r);
}

std::vector<uint8_t> encodeRow(const std::vector<Value>& keys, const std::vector<Value>& values) {
    std::vector<uint8_t> e(4);
    for (const Value& k : keys) putKey(e, k);
    const auto n = uint32_t(e.size() - 4);
    for (int i = 0; i < 4; ++i) e[size_t(i)] = uint8_t(n >> (8 * i));
    for (const Value& v : values) putValue(e, v);
    return e;
}

// ---- the cursors ------------------------------------------------------------------

// The sorted rows as the sorter gives them back; TOP n percent: the first n
// percent of them, and with ties those equal to the last one given.
class SortedCursor final : public Cursor {
public:
    SortedCursor(std::vector<FieldInfo> fields, std::unique_ptr<EntrySorter> sorted, KeyOrder order, int64_t limit,
                 bool ties, bool distinct)
        : fields_(std::move(fields)),
          sorted_(std::move(sorted)),
          order_(std::move(order)),
          limit_(limit),
          ties_(ties),
          distinct_(distinct) {}
    const std::vector<FieldInfo>& fields() const override { return fields_; }
    bool next(std::vector<Value>& row) override {
        const uint8_t* p = nullptr;
        size_t n = 0;
        do {
            if (done_ || !sorted_->next(p, n)) return false;
        } while (distinct_ && given_ > 0 && !order_(last_.data(), last_.size(), p, n));
        if (limit_ >= 0 && given_ >= limit_) {
            if (!ties_ || given_ == 0 || order_(last_.data(), last_.size(), p, n)) {
                done_ = true;
                return false;
            }
        }
        if ((limit_ >= 0 && ties_) || distinct_) last_.assign(p, p + n);
        row.resize(fields_.size());
        readValues(p, row);
        ++given_;
        return true;
    }

private:
    std::vector<FieldInfo> fields_;
    std::unique_ptr<EntrySorter> sorted_;
    KeyOrder order_;
    int64_t limit_;  // -1: all
    bool ties_;
    bool distinct_;  // entries whose keys equal the last one's are left out
    int64_t given_ = 0;
    bool done_ = false;
    std::vector<uint8_t> last_;
};

}  // namespace

size_t rowSortBound() {
    const size_t set = boundSet.load();
    return set > 0 ? set : kDefaultBound;
}

void setRowSortBound(size_t bytes) { boundSet = bytes; }

// TOP n: the n first rows so far on a heap whose top is the last of them,
// and the rows after them whose keys equal that last one's.
struct SortedRows::Top {
    struct Kept {
        std::vector<uint8_t> entry;
        uint64_t seq;
    };
    KeyOrder order;
    size_t n;
    bool ties;
    std::vector<Kept> heap;
    std::vector<Kept> tied;
    uint64_t seq = 0;

    bool before(const Kept& a, const Kept& b) const {
        if (order(a.entry.data(), a.entry.size(), b.entry.data(), b.entry.size())) return true;
        if (order(b.entry.data(), b.entry.size(), a.entry.data(), a.entry.size())) return false;
        return a.seq < b.seq;
    }
    bool keysBefore(const Kept& a, const Kept& b) const {
        return order(a.entry.data(), a.entry.size(), b.entry.data(), b.entry.size());
    }
    void add(std::vector<uint8_t> entry) {
        Kept k{std::move(entry), seq++};
        auto cmp = [this](const Kept& a, const Kept& b) { return before(a, b); };
        if (heap.size() < n) {
            heap.push_back(std::move(k));
            std::push_heap(heap.begin(), heap.end(), cmp);
            return;
        }
        if (n == 0) return;
        if (!keysBefore(k, heap.front())) {
            // Equal keys: after the last one (it came later); tied with it.
            if (ties && !keysBefore(heap.front(), k)) tied.push_back(std::move(k));
            return;
        }
        std::pop_heap(heap.begin(), heap.end(), cmp);
        Kept out = std::move(heap.back());
        heap.back() = std::move(k);
        std::push_heap(heap.begin(), heap.end(), cmp);
        if (ties && !keysBefore(heap.front(), out)) {
            tied.push_back(std::move(out));
        } else {
            tied.clear();
        }
    }
    std::vector<std::vector<Value>> rows(size_t width) {
        for (Kept& k : tied) heap.push_back(std::move(k));
        std::sort(heap.begin(), heap.end(), [this](const Kept& a, const Kept& b) { return before(a, b); });
        std::vector<std::vector<Value>> out(heap.size(), std::vector<Value>(width));
        for (size_t i = 0; i < heap.size(); ++i) readValues(heap[i].entry.data(), out[i]);
        return out;
    }
};

SortedRows::SortedRows(const std::string& near, std::vector<bool> descending, int64_t top, bool topPercent, bool ties,
                       bool distinct)
    : descending_(std::move(descending)), top_(top), topPercent_(topPercent), ties_(ties), distinct_(distinct) {
    KeyOrder order{descending_};
    if (top >= 0 && !topPercent && top <= kHeapRows) {
        topRows_ = std::make_unique<Top>(Top{order, size_t(top), ties, {}, {}, 0});
        return;
    }
    const std::string beside = near.empty() ? (std::filesystem::temp_directory_path() / "tallyport").string() : near;
    sorted_ = std::make_unique<EntrySorter>(beside, rowSortBound(), order);
}

SortedRows::~SortedRows() = default;

void SortedRows::add(const std::vector<Value>& keys, const std::vector<Value>& values) {
    ++count_;
    if (topRows_) return topRows_->add(encodeRow(keys, values));
    const std::vector<uint8_t> e = encodeRow(keys, values);
    sorted_->add(e.data(), e.size());
}

std::unique_ptr<Cursor> SortedRows::finish(std::vector<FieldInfo> fields) {
    if (topRows_) {
        const size_t width = fields.size();
        return std::make_unique<VectorCursor>(std::move(fields), topRows_->rows(width));
    }
    sorted_->finish();
    sorted_->rewind();
    int64_t limit = top_;
    if (top_ >= 0 && topPercent_) limit = int64_t(std::ceil(double(count_) * double(top_) / 100.0));
    return std::make_unique<SortedCursor>(std::move(fields), std::move(sorted_), KeyOrder{descending_}, limit,
                                          ties_ && limit > 0, distinct_);
}

}  // namespace tp::db::jet
