// The row codec: stored rows to values (Jet 3 and Jet 4/ACE layouts) and
// values to Jet 4/ACE rows (null mask, fixed part, variable part, long values;
// Access 97 rows: row_codec3.cpp).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "db/busy.h"
#include "db/jet/tables/jet_database.h"
#include "db/jet/tables/row_codec.h"

namespace tp::db::jet {

namespace {

// 128-bit unsigned magnitude in four 32-bit words, most significant first.
std::string numericText(const uint8_t* p, int scale) {
    uint32_t w[4];
    for (int i = 0; i < 4; ++i) w[i] = decodeLE32(p + 1 + 4 * i);
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

}  // namespace

namespace {

// A decimal text's sign and digits before and after the point; false when it
// holds anything else.
bool splitDecimal(const std::string& text, bool& neg, std::string& intPart, std::string& frac) {
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
    return true;
}

// w = w * mul + add over four 32-bit words, most significant first; false on
// overflow.
bool mulAdd(uint32_t (&w)[4], uint32_t mul, uint32_t add) {
    uint64_t carry = add;
    for (int k = 3; k >= 0; --k) {
        uint64_t cur = uint64_t(w[k]) * mul + carry;
        w[k] = uint32_t(cur);
        carry = cur >> 32;
    }
    return carry == 0;
}

}  // namespace

// Decimal text -> 17 stored bytes with the given scale; false on overflow.
bool encodeNumeric(const std::string& text, int scale, int precision, uint8_t* out) {
    bool neg = false;
    std::string intPart, frac;
    if (!splitDecimal(text, neg, intPart, frac)) return false;
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
    for (char c : all)
        if (!mulAdd(w, 10, uint32_t(c - '0'))) return false;
    if (roundUp && !mulAdd(w, 1, 1)) return false;
    // Precision check: digits of the magnitude (rounding may add one).
    size_t digits = all == "0" ? 0 : all.size();
    if (roundUp && all.find_first_not_of('9') == std::string::npos) ++digits;
    if (int(digits) > precision) return false;
    const bool isZero = (w[0] | w[1] | w[2] | w[3]) == 0;
    out[0] = (neg && !isZero) ? 0x80 : 0x00;
    for (int k = 0; k < 4; ++k) encodeLE32(out + 1 + 4 * k, w[k]);
    return true;
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
        if (len < calculated::kData) damaged("calculated column '" + c.name + "' of table '" + t.name + "' is too short");
        const size_t inner = decodeLE32(p + calculated::kLength);
        if (inner > len - calculated::kData)
            damaged("calculated column '" + c.name + "' of table '" + t.name + "' is too short");
        p += calculated::kData;
        len = inner;
        if (longText) return Value(text(c, p, len));
        // An expression whose result is null stores no value bytes.
        if (len == 0 && fixedSizeOf(type) > 0) return Value();
        // A Yes/No result in a whole-number column: one byte, 0 or 0xFF,
        // read as Access shows it as a number (No 0, Yes -1).
        if (len == 1 && (type == ColType::Int || type == ColType::Long) && (p[0] == 0x00 || p[0] == 0xFF))
            return Value(int64_t(p[0] ? -1 : 0));
    }
    const int need = fixedSizeOf(type);
    if (need > 0 && len < size_t(need)) damaged("column '" + c.name + "' of table '" + t.name + "' is too short");
    // clang-format off
    switch (type) {
    case ColType::Byte: return Value(int64_t(p[0]));
    case ColType::Int: return Value(int64_t(int16_t(decodeLE16(p))));
    case ColType::Long: case ColType::Complex: return Value(int64_t(int32_t(decodeLE32(p))));
    case ColType::BigInt: return Value(int64_t(decodeLE64(p)));
    case ColType::Money: return Value(Currency{int64_t(decodeLE64(p))});
    case ColType::Float: { float f; std::memcpy(&f, p, 4); return Value(double(f)); }
    case ColType::Double: { double d; std::memcpy(&d, p, 8); return Value(d); }
    case ColType::DateTime: { double d; std::memcpy(&d, p, 8); return Value(fromOleDate(d)); }
    case ColType::Guid: return Value(coding::guidText(p));
    case ColType::Numeric: return Value(Decimal{numericText(p, std::min<int>(c.misc[1], 38))});
    case ColType::Text: return Value(text(c, p, len));
    case ColType::Memo: case ColType::OLE: return readLongValue(c, p, len);
    default: return Value(Bytes(p, p + len));
    }
    // clang-format on
}

void JetDatabase::decodeRow(const StoredTable& t, const uint8_t* row, size_t n, std::vector<Value>& out) {
    decodeRowWith(t, row, n, out, [&](const StoredColumn& c, const uint8_t* p, size_t len, Value& into) {
        const bool memo = c.is(ColType::Memo);
        if ((c.is(ColType::Text) || memo) && !c.calculated()) {
            if (memo) {
                longValueBytes(c, p, len, longValueBuf_);
                p = longValueBuf_.data();
                len = longValueBuf_.size();
            }
            std::string& s = into.setText();
            if (c.narrowText) decodeNarrowText(p, len, codePage_, s);
            else decodeText(p, len, s);
        } else {
            into = valueOf(t, c, p, len);
        }
    });
}

void JetDatabase::forEachRow(StoredTable& t, const std::function<void(uint32_t, const std::vector<Value>&)>& fn) {
    std::vector<uint32_t> pages = mapPages(t.ownedMap);
    std::vector<RowSpan> rows;
    std::vector<Value> vals;
    std::vector<uint8_t> copy(kPageSize);
    size_t seen = 0;
    for (uint32_t pgno : pages) {
        if ((++seen & 255) == 0) {
            stillBusy();
            pager_->trim(true);  // a table larger than the cache: no page pointer is held here
        }
        std::memcpy(copy.data(), pager_->read(pgno), kPageSize);
        if (!dataPageOf(t, copy.data())) continue;
        pageRows(pgno, copy.data(), rows, true);
        for (const RowSpan& r : rows) {
            decodeRow(t, r.p, r.n, vals);
            fn(r.ref, vals);
        }
    }
}

// ---- values to a row --------------------------------------------------------

namespace {

[[noreturn]] void cannotWrite(const StoredColumn& c) { throw Error("Column '" + c.name + "' cannot be written."); }
[[noreturn]] void overflow() { throw jeterr::overflow(); }
[[noreturn]] void tooSmall() { throw jeterr::fieldTooSmall(); }
// A long value's length has three bytes in every reader (Access itself takes
// 30 bits, but other readers then fail on the whole table).
[[noreturn]] void tooLong(const StoredColumn& c) {
    throw Error(jeterr::kFieldTooSmall,
                "The value for field '" + c.name + "' is too long: " +
                    (c.is(ColType::Memo) ? "a Memo field holds at most 8,388,607 characters"
                                         : "an OLE Object field holds at most 16,777,215 bytes") +
                    " in a file that every reader can open.");
}

// The null mask: one bit per column number, on the stack for every table
// Jet 4 allows (255 columns).
class NullMask {
public:
    explicit NullMask(size_t columns) : columns_(columns), size_((columns + 7) / 8) {
        if (size_ > sizeof small_) large_.assign(size_, 0);
        bits_ = size_ > sizeof small_ ? large_.data() : small_;
    }
    void set(const StoredColumn& c) {
        if (size_t(c.number) >= columns_) cannotWrite(c);
        bits_[size_t(c.number) / 8] |= uint8_t(1u << (c.number % 8));
    }
    size_t size() const { return size_; }
    void appendTo(std::vector<uint8_t>& out) const { out.insert(out.end(), bits_, bits_ + size_); }

private:
    size_t columns_, size_;
    uint8_t small_[64] = {};
    std::vector<uint8_t> large_;
    uint8_t* bits_;
};

int64_t wantInt(const Value& v, int64_t lo, int64_t hi) {
    if (v.kind() != Kind::Int) throw jeterr::typeMismatch();
    const int64_t x = v.integer();
    if (x < lo || x > hi) overflow();
    return x;
}

void encodeReal(ColType type, const Value& v, uint8_t* p) {
    double d;
    if (v.kind() == Kind::Double) d = v.real();
    else if (v.kind() == Kind::Int) d = double(v.integer());
    else throw jeterr::typeMismatch();
    if (type == ColType::Float) {
        // Whatever rounds to a finite Single (the largest is
        // 3.4028234663852886e38) fits.
        if (std::isfinite(d) && std::fabs(d) >= 0x1.ffffffp+127) overflow();
        const float f = float(d);
        std::memcpy(p, &f, 4);
    } else {
        std::memcpy(p, &d, 8);
    }
}

void encodeDateTime(const Value& v, uint8_t* p) {
    double d;
    if (v.kind() == Kind::DateTime) d = toOleDate(v.dateTime());
    else if (v.kind() == Kind::Date) d = toOleDate(DateTime{v.date()});
    else if (v.kind() == Kind::Double) d = v.real();
    else throw jeterr::typeMismatch();
    // Years 100 to 9999 (before 1899-12-30 the time is a positive fraction
    // of a negative day number).
    if (!(d > -657435.0 && d < 2958466.0)) overflow();
    std::memcpy(p, &d, 8);
}

// Fixed-length text: UTF-16LE, padded with blanks to the column's length,
// never compressed.
void encodeFixedText(const StoredColumn& c, const Value& v, uint8_t* p, size_t size) {
    if (v.kind() != Kind::Text) throw jeterr::typeMismatch();
    const std::u16string u = utf8ToUtf16(v.text());
    if (u.size() * 2 > size) tooSmall();
    if (!u.empty() && u.front() == 0xFEFF)
        throw Error(jeterr::kNotSupported, "The value for field '" + c.name +
                                               "' starts with U+FEFF (a byte-order mark), which a "
                                               "fixed-length text field cannot store (its first bytes "
                                               "would read as compressed text). Remove the leading U+FEFF.");
    for (size_t i = 0; i < size / 2; ++i) {
        const char16_t ch = i < u.size() ? u[i] : u' ';
        p[2 * i] = uint8_t(ch);
        p[2 * i + 1] = uint8_t(ch >> 8);
    }
}

void encodeNumericValue(const StoredColumn& c, const Value& v, uint8_t* p) {
    std::string text;
    if (v.kind() == Kind::Decimal) text = v.decimal().text;
    else if (v.kind() == Kind::Int) text = std::to_string(v.integer());
    else throw jeterr::typeMismatch();
    if (!encodeNumeric(text, c.misc[1], std::max<int>(1, c.misc[0]), p)) overflow();
}

// One value of a fixed-length column at p (size bytes); a Long AutoNumber
// column's highest value is kept in autoNumber.
void encodeFixed(const StoredColumn& c, ColType type, const Value& v, uint8_t* p, size_t size, uint32_t& autoNumber) {
    // clang-format off
    switch (type) {
    case ColType::Byte: p[0] = uint8_t(wantInt(v, 0, 255)); break;
    case ColType::Int: encodeLE16(p, uint32_t(wantInt(v, -32768, 32767))); break;
    case ColType::Long: {
        const int64_t x = wantInt(v, INT32_MIN, INT32_MAX);
        encodeLE32(p, uint32_t(x));
        if ((c.flags & columnflag::kAutoNumber) && x > 0 && uint32_t(x) > autoNumber) autoNumber = uint32_t(x);
        break;
    }
    case ColType::Money: {
        if (v.kind() != Kind::Currency) throw jeterr::typeMismatch();
        const uint64_t u = uint64_t(v.currency().units);
        coding::encodeLE64(p, u);
        break;
    }
    case ColType::Float: case ColType::Double: encodeReal(type, v, p); break;
    case ColType::DateTime: encodeDateTime(v, p); break;
    case ColType::Text: encodeFixedText(c, v, p, size); break;
    case ColType::Guid:
        if (v.kind() != Kind::Text || !coding::parseGuid(v.text(), p)) throw jeterr::typeMismatch();
        break;
    case ColType::Numeric: encodeNumericValue(c, v, p); break;
    default: cannotWrite(c);
    }
    // clang-format on
}

// Eight bytes at a time: whether the text is all ASCII, and whether it holds
// a zero byte.
void scanAscii(const std::string& tx, bool& ascii, bool& zero) {
    ascii = true;
    zero = false;
    const char* q = tx.data();
    size_t left = tx.size();
    constexpr uint64_t kHigh = 0x8080808080808080ull, kOnes = 0x0101010101010101ull;
    for (; left >= 8 && ascii; q += 8, left -= 8) {
        uint64_t w;
        std::memcpy(&w, q, 8);
        if (w & kHigh) ascii = false;
        else zero |= ((w - kOnes) & ~w & kHigh) != 0;
    }
    for (; left > 0 && ascii; ++q, --left) {
        if (uint8_t(*q) >= 0x80) ascii = false;
        zero |= *q == 0;
    }
}

// The byte length of a text of `units` UTF-16 units against the column's limit.
void checkTextLength(const StoredColumn& c, ColType type, size_t units) {
    if (type == ColType::Text && units * 2 > size_t(c.length)) tooSmall();
    if (type == ColType::Memo && units * 2 > kMaxLongValue) tooLong(c);
}

// Text that is not all ASCII.
void encodeWideText(const StoredColumn& c, ColType type, const std::string& tx, std::vector<uint8_t>& data) {
    thread_local std::u16string u;  // keeps its room from value to value
    coding::utf8ToUtf16(tx, u);
    checkTextLength(c, type, u.size());
    bool compress = (c.extFlags & columnflag::kCompressed) && u.size() <= 1024 && u.size() >= 3;
    if (compress) compress = std::none_of(u.begin(), u.end(), [](char16_t ch) { return ch == 0 || ch > 0xFF; });
    if (compress) {
        data.resize(u.size() + 2);
        uint8_t* q = data.data();
        *q++ = 0xFF;
        *q++ = 0xFE;
        for (char16_t ch : u) *q++ = uint8_t(ch);
    } else if (u.front() == 0xFEFF) {
        // Plain UTF-16 would start with the compression mark.
        if (!encodeMarkedText(u, data))
            throw Error(jeterr::kNotSupported,
                        "The value for field '" + c.name +
                            "' starts with U+FEFF (a byte-order mark) and holds a character whose "
                            "UTF-16 code has a zero byte (such as U+0100 or U+4E00); an Access "
                            "file cannot store that combination. Remove the leading U+FEFF.");
        if (type == ColType::Memo && data.size() > kMaxLongValue) tooLong(c);
    } else {
        data.resize(u.size() * 2);
        uint8_t* q = data.data();
        for (char16_t ch : u) {
            *q++ = uint8_t(ch);
            *q++ = uint8_t(ch >> 8);
        }
    }
}

// Stored as UTF-16LE, or compressed ("FF FE", then one byte a character)
// when the column allows it, the text has 3 to 1024 characters and each is
// a non-zero Latin-1 character. ASCII text is one UTF-16 unit a byte, so it
// is written from its bytes.
void encodeText(const StoredColumn& c, ColType type, const Value& v, std::vector<uint8_t>& data) {
    if (v.kind() != Kind::Text) throw jeterr::typeMismatch();
    const std::string& tx = v.text();
    bool ascii = true, zero = false;
    scanAscii(tx, ascii, zero);
    if (!ascii) return encodeWideText(c, type, tx, data);
    const size_t n = tx.size();
    checkTextLength(c, type, n);
    if ((c.extFlags & columnflag::kCompressed) && n <= 1024 && n >= 3 && !zero) {
        data.resize(n + 2);
        data[0] = 0xFF;
        data[1] = 0xFE;
        std::memcpy(data.data() + 2, tx.data(), n);
    } else {
        data.resize(n * 2);
        uint8_t* q = data.data();
        for (char ch : tx) {
            *q++ = uint8_t(ch);
            *q++ = 0;
        }
    }
}

// One value of a variable-length column (Text, Memo, Binary, OLE).
void encodeVariable(const StoredColumn& c, ColType type, const Value& v, std::vector<uint8_t>& data) {
    if (type == ColType::Text || type == ColType::Memo) return encodeText(c, type, v, data);
    if (type != ColType::Binary && type != ColType::OLE) cannotWrite(c);
    if (v.kind() != Kind::Binary) throw jeterr::typeMismatch();
    data.assign(v.bytes().begin(), v.bytes().end());
    if (type == ColType::Binary && data.size() > size_t(c.length)) tooSmall();
    if (type == ColType::OLE && data.size() > kMaxLongValue) tooLong(c);
}

// The variable part: the values, then their offsets (last first) and count.
void appendVariablePart(std::vector<uint8_t>& out, const std::vector<std::vector<uint8_t>>& var, size_t nvar,
                        size_t maskSize) {
    size_t at = out.size();
    for (size_t i = 0; i < nvar; ++i) at += var[i].size();
    out.reserve(at + 2 * (nvar + 1) + 2 + maskSize);
    size_t w = out.size();
    uint16_t offs = uint16_t(w);
    out.resize(at + 2 * (nvar + 1));
    for (size_t i = 0; i < nvar; ++i) {
        encodeLE16(out.data() + at + 2 * (nvar - i), offs);
        if (!var[i].empty()) std::memcpy(out.data() + w, var[i].data(), var[i].size());
        w += var[i].size();
        offs = uint16_t(w);
    }
    encodeLE16(out.data() + at, offs);
    putLE16(out, uint32_t(nvar));
}

bool isTrue(const Value& v) {
    return v.kind() == Kind::Bool ? v.boolean() : (v.kind() == Kind::Int && v.integer() != 0);
}

// A fixed-length column's value at its place in the row's fixed part.
void encodeFixedColumn(const StoredColumn& c, ColType type, const Value& v, std::vector<uint8_t>& out,
                       uint32_t& autoNumber) {
    const size_t off = 2 + size_t(c.fixedOffset);
    const int sz = type == ColType::Text ? c.length : fixedSizeOf(type);
    if (sz < 0 || off + size_t(sz) > out.size()) cannotWrite(c);
    encodeFixed(c, type, v, out.data() + off, size_t(sz), autoNumber);
}

// Where a variable-length column's value goes: its variable slot, or for a
// long value the next place after the slots (see encodeRow).
std::vector<uint8_t>& variableSlot(std::vector<std::vector<uint8_t>>& var, const StoredColumn& c, size_t nvar,
                                   size_t nlongs) {
    if (size_t(c.varIndex) >= nvar) cannotWrite(c);
    if (!c.isLong()) return var[size_t(c.varIndex)];
    if (var.size() <= nvar + nlongs) var.emplace_back();
    return var[nvar + nlongs];
}

}  // namespace

// The value to store for column k: an AutoNumber column without a value
// gets the next number; nullptr for a null (a Required column takes none).
const Value* JetDatabase::valueToStore(StoredTable& t, size_t k, const Value& v, Value& autoValue) {
    const StoredColumn& c = t.columns[k];
    if (v.isNull() && (c.flags & columnflag::kAutoNumber) && c.is(ColType::Long)) {
        if (t.autoNumber >= 0x7FFFFFFFu) overflow();
        autoValue = Value(int64_t(++t.autoNumber));
        return &autoValue;
    }
    if (!v.isNull()) return &v;
    if (k < t.notNull.size() && t.notNull[k]) throw jeterr::required(t.name, c.name);
    return nullptr;
}

void encodeFixedValue(const StoredColumn& c, ColType type, const Value& v, uint8_t* p, size_t size,
                      uint32_t& autoNumber) {
    encodeFixed(c, type, v, p, size, autoNumber);
}

// A Jet 4/ACE row: [columns:2][fixed part][variable part][null mask].
void JetDatabase::encodeRow(StoredTable& t, const std::vector<Value>& values, std::vector<uint8_t>& out) {
    if (jet3_) return encodeRow3(t, values, out);
    if (values.size() != t.columns.size()) throw jeterr::valueCount();
    const size_t ncols = size_t(std::max(t.maxCols, t.numCols));
    NullMask mask(ncols);
    out.assign(2 + size_t(t.fixedSize), 0);
    encodeLE16(out.data(), uint32_t(ncols));
    // Reused from row to row: the variable values by var index, then the data
    // of the long values in column order (their 12-byte heads, with inline
    // data, go to the var index slots once the row's size is known).
    std::vector<std::vector<uint8_t>>& var = varBuf_;
    const size_t nvar = size_t(t.varCols);
    if (var.size() < nvar) var.resize(nvar);
    for (size_t i = 0; i < nvar; ++i) var[i].clear();
    size_t nlongs = 0;
    for (size_t k = 0; k < t.columns.size(); ++k) {
        const StoredColumn& c = t.columns[k];
        const ColType type = typeOf(c.rawType);
        if (type == ColType::Bool) {
            if (isTrue(values[k])) mask.set(c);
            continue;
        }
        Value autoValue;
        const Value* val = valueToStore(t, k, values[k], autoValue);
        if (!val) continue;
        if (c.fixed()) {
            encodeFixedColumn(c, type, *val, out, t.autoNumber);
        } else {
            encodeVariable(c, type, *val, variableSlot(var, c, nvar, nlongs));
            if (c.isLong()) ++nlongs;
        }
        mask.set(c);
    }
    size_t base = out.size() + mask.size() + 4 + 2 * nvar;
    for (size_t i = 0; i < nvar; ++i) base += var[i].size();
    placeLongValues(t, values, nvar, nlongs, base + longvalue::kHeadSize * nlongs);
    if (t.varCols > 0) appendVariablePart(out, var, nvar, mask.size());
    mask.appendTo(out);
    if (out.size() > size_t(kMaxRowSize)) throw jeterr::recordTooLarge();
}

}  // namespace tp::db::jet
