// Values to Access 97 (Jet 3) rows: [columns:1][fixed part][variable part]
// [end:1][offset n-1:1] ... [offset 0:1][jump table][n:1][null mask]; text
// in the database's code page; decimals into the Currency or Double columns
// that stand for them, only when the value keeps exactly.
#include <charconv>
#include <cstring>

#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

namespace {

std::string shown(const std::string& text) { return text.size() > 60 ? text.substr(0, 57) + "..." : text; }

[[noreturn]] void notExact(const StoredColumn& c, const std::string& text) {
    throw Error(jeterr::kOverflow,
                "The value " + shown(text) + " for field '" + c.name + "' cannot be stored exactly in an Access 97 " +
                    (c.is(ColType::Money) ? "Currency" : "Double") + " field (Access 97 has no Decimal type).");
}

// A decimal's canonical text without the zeros that do not count.
std::string trimmedDecimal(std::string s) {
    const bool negative = !s.empty() && s[0] == '-';
    if (negative) s.erase(0, 1);
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    const size_t lead = s.find_first_not_of('0');
    s = lead == std::string::npos ? "0" : s.substr(lead);
    if (s.empty() || s[0] == '.') s.insert(0, "0");
    return negative && s != "0" ? "-" + s : s;
}

// Currency: ten-thousandths in 64 bits.
bool currencyOf(const std::string& text, int64_t& units) {
    const bool negative = !text.empty() && text[0] == '-';
    const size_t dot = text.find('.');
    const std::string whole =
        text.substr(negative ? 1 : 0, dot == std::string::npos ? std::string::npos : dot - (negative ? 1 : 0));
    std::string frac = dot == std::string::npos ? "" : text.substr(dot + 1);
    while (frac.size() > 4 && frac.back() == '0') frac.pop_back();
    if (frac.size() > 4) return false;
    frac.resize(4, '0');
    __int128 u = 0;
    for (char ch : whole + frac) {
        u = u * 10 + (ch - '0');
        if (u > (__int128(1) << 63)) return false;
    }
    if (negative) u = -u;
    if (u > INT64_MAX || u < INT64_MIN) return false;
    units = int64_t(u);
    return true;
}

// A Double holds the decimal when the shortest text of the nearest double
// is the decimal itself.
bool doubleOf(const std::string& text, double& d) {
    const char* end = text.data() + text.size();
    if (std::from_chars(text.data(), end, d).ptr != end) return false;
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed);
    return r.ec == std::errc() && trimmedDecimal(std::string(buf, r.ptr)) == trimmedDecimal(text);
}

// The value as the column's type stores it: a decimal into the Currency or
// Double column a DECIMAL column became, only when it keeps exactly.
const Value& storable(const StoredColumn& c, const Value& v, Value& tmp) {
    if (v.kind() != Kind::Decimal || !(c.is(ColType::Money) || c.is(ColType::Double))) return v;
    const std::string& text = v.decimal().text;
    if (c.is(ColType::Money)) {
        int64_t units = 0;
        if (!currencyOf(text, units)) notExact(c, text);
        tmp = Value(Currency{units});
    } else {
        double d = 0;
        if (!doubleOf(text, d)) notExact(c, text);
        tmp = Value(d);
    }
    return tmp;
}

// Text (and Memo) in the code page.
void encodeText3(const StoredColumn& c, ColType type, const Value& v, unsigned codePage, std::vector<uint8_t>& out) {
    if (v.kind() != Kind::Text) throw jeterr::typeMismatch();
    if (!encodeNarrowText(v.text(), codePage, out))
        throw Error(jeterr::kNotSupported, "The value '" + shown(v.text()) + "' for field '" + c.name +
                                               "' holds a character that the database's code page " +
                                               std::to_string(codePage) + " cannot store.");
    if (type == ColType::Text && out.size() > size_t(c.length)) throw jeterr::fieldTooSmall();
    if (out.size() > kMaxLongValue)
        throw Error(jeterr::kFieldTooSmall, "The value for field '" + c.name + "' is too long.");
}

void encodeVariable3(const StoredColumn& c, ColType type, const Value& v, unsigned codePage,
                     std::vector<uint8_t>& out) {
    if (type == ColType::Text || type == ColType::Memo) return encodeText3(c, type, v, codePage, out);
    if (type != ColType::Binary && type != ColType::OLE) throw Error("Column '" + c.name + "' cannot be written.");
    if (v.kind() != Kind::Binary) throw jeterr::typeMismatch();
    out.assign(v.bytes().begin(), v.bytes().end());
    if (type == ColType::Binary && out.size() > size_t(c.length)) throw jeterr::fieldTooSmall();
    if (out.size() > kMaxLongValue)
        throw Error(jeterr::kFieldTooSmall, "The value for field '" + c.name + "' is too long.");
}

// The bytes after the variable values: the end and the offsets (low bytes,
// last first), the jump table (per 256-byte boundary the first offset at or
// past it; a last entry no offset reaches is a dummy), the count.
void appendOffsets3(std::vector<uint8_t>& out, const std::vector<size_t>& offs, size_t jumps) {
    const size_t nvar = offs.size() - 1;
    for (size_t i = nvar + 1; i-- > 0;) out.push_back(uint8_t(offs[i]));
    std::vector<uint8_t> table(jumps, 0xFF);
    for (size_t j = 0; j < jumps; ++j)
        for (size_t i = 0; i <= nvar; ++i)
            if (offs[i] >= 256 * (j + 1)) {
                table[j] = uint8_t(i);
                break;
            }
    for (size_t j = jumps; j-- > 0;) out.push_back(table[j]);
    out.push_back(uint8_t(nvar));
}

// The variable part of a row whose fixed part is `out`: readers take the
// offsets' boundaries from the row's length, so the values start late
// enough (after filler bytes no reader looks at) that the offsets cross all
// but at most the last boundary the row's length implies.
void appendVariablePart3(std::vector<uint8_t>& out, const std::vector<std::vector<uint8_t>>& var, size_t nvar,
                         size_t maskSize) {
    size_t data = 0;
    for (size_t i = 0; i < nvar; ++i) data += var[i].size();
    size_t pad = 0, jumps = 0;
    for (int round = 0; round < 8; ++round) {
        const size_t end = out.size() + pad + data;           // the end offset's place and value
        const size_t length = end + nvar + 1 + 1 + maskSize;  // without the jump table
        jumps = 0;
        while ((length + jumps - 1) / 256 > jumps) ++jumps;
        if (jumps == 0 || end / 256 + 1 >= jumps) break;
        pad += (jumps - 1) * 256 - end;
    }
    out.resize(out.size() + pad, 0);
    std::vector<size_t> offs;
    for (size_t i = 0; i < nvar; ++i) {
        offs.push_back(out.size());
        out.insert(out.end(), var[i].begin(), var[i].end());
    }
    offs.push_back(out.size());
    appendOffsets3(out, offs, jumps);
}

}  // namespace

void JetDatabase::encodeRow3(StoredTable& t, const std::vector<Value>& values, std::vector<uint8_t>& out) {
    if (values.size() != t.columns.size()) throw jeterr::valueCount();
    const size_t ncols = size_t(std::max(t.maxCols, t.numCols));
    std::vector<uint8_t> mask((ncols + 7) / 8, 0);
    out.assign(1 + size_t(t.fixedSize), 0);
    out[0] = uint8_t(ncols);
    std::vector<std::vector<uint8_t>>& var = varBuf_;
    const size_t nvar = size_t(t.varCols);
    if (var.size() < nvar) var.resize(nvar);
    for (size_t i = 0; i < nvar; ++i) var[i].clear();
    size_t nlongs = 0;
    for (size_t k = 0; k < t.columns.size(); ++k) {
        const StoredColumn& c = t.columns[k];
        const ColType type = typeOf(c.rawType);
        if (size_t(c.number) >= ncols) throw Error("Column '" + c.name + "' cannot be written.");
        const uint8_t bit = uint8_t(1u << (c.number % 8));
        if (type == ColType::Bool) {
            const Value& b = values[k];
            if ((b.kind() == Kind::Bool && b.boolean()) || (b.kind() == Kind::Int && b.integer() != 0))
                mask[size_t(c.number) / 8] |= bit;
            continue;
        }
        Value autoValue, tmp;
        const Value* val = valueToStore(t, k, values[k], autoValue);
        if (!val) continue;
        const Value& v = storable(c, *val, tmp);
        if (c.fixed()) encodeFixed3(c, type, v, out, t.autoNumber);
        else encodeVariableSlot3(c, type, v, nvar, nlongs);
        mask[size_t(c.number) / 8] |= bit;
    }
    // The row's size without inline long values: its parts, the jump table
    // and, when the bytes after the values are long enough to cross two
    // boundaries, the filler that may take (see appendVariablePart3).
    const size_t trailer = mask.size() + 2 + nvar + 1;
    size_t base = out.size() + trailer + longvalue::kHeadSize * nlongs;
    for (size_t i = 0; i < nvar; ++i) base += var[i].size();
    base += base / 256 + 1 + (trailer > 200 ? 256 : 0);
    placeLongValues(t, values, nvar, nlongs, base);
    if (t.varCols > 0) appendVariablePart3(out, var, nvar, mask.size());
    out.insert(out.end(), mask.begin(), mask.end());
    if (out.size() > layout().maxRowSize) throw jeterr::recordTooLarge();
}

// A fixed value at its place after the column count; fixed-length text in
// the code page, padded with blanks.
void JetDatabase::encodeFixed3(const StoredColumn& c, ColType type, const Value& v, std::vector<uint8_t>& out,
                               uint32_t& autoNumber) const {
    const size_t off = 1 + size_t(c.fixedOffset);
    const int sz = type == ColType::Text ? c.length : fixedSizeOf(type);
    if (sz < 0 || off + size_t(sz) > out.size()) throw Error("Column '" + c.name + "' cannot be written.");
    if (type != ColType::Text) return encodeFixedValue(c, type, v, out.data() + off, size_t(sz), autoNumber);
    std::vector<uint8_t> bytes;
    encodeText3(c, type, v, codePage_, bytes);
    std::memset(out.data() + off, ' ', size_t(sz));
    std::memcpy(out.data() + off, bytes.data(), bytes.size());
}

// A variable value into its slot; a long value's data after the slots (its
// head is made by placeLongValues).
void JetDatabase::encodeVariableSlot3(const StoredColumn& c, ColType type, const Value& v, size_t nvar,
                                      size_t& nlongs) {
    std::vector<std::vector<uint8_t>>& var = varBuf_;
    if (size_t(c.varIndex) >= nvar) throw Error("Column '" + c.name + "' cannot be written.");
    if (!c.isLong()) return encodeVariable3(c, type, v, codePage_, var[size_t(c.varIndex)]);
    if (var.size() <= nvar + nlongs) var.emplace_back();
    encodeVariable3(c, type, v, codePage_, var[nvar + nlongs]);
    ++nlongs;
}

}  // namespace tp::db::jet
