// The UTF-8 / UTF-16 codec (rule for malformed input in utf.h).
#include "db/coding/utf.h"

namespace tp::db::coding {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Length of the sequence a lead byte announces (0: not a lead byte).
size_t sequenceLength(uint8_t c) {
    if (c < 0xC2 || c >= 0xF5) return 0;
    return c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
}

// The scalar value of the n-byte sequence at p, or U+FFFD when it is not
// well formed.
char32_t sequenceValue(const uint8_t* p, size_t n) {
    static constexpr uint8_t kLeadBits[5] = {0, 0, 0x1F, 0x0F, 0x07};
    static constexpr char32_t kShortest[5] = {0, 0, 0x80, 0x800, 0x10000};
    char32_t v = p[0] & kLeadBits[n];
    for (size_t k = 1; k < n; ++k) {
        if ((p[k] & 0xC0) != 0x80) return kReplacement;
        v = (v << 6) | (p[k] & 0x3Fu);
    }
    if (v < kShortest[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return kReplacement;
    return v;
}

}  // namespace

char32_t decodeUtf8(std::string_view s, size_t& pos) {
    const auto c = uint8_t(s[pos]);
    if (c < 0x80) {
        ++pos;
        return c;
    }
    const size_t n = sequenceLength(c);
    if (n == 0 || s.size() - pos < n) {
        ++pos;
        return kReplacement;
    }
    const char32_t v = sequenceValue(reinterpret_cast<const uint8_t*>(s.data()) + pos, n);
    pos += v == kReplacement ? 1 : n;
    return v;
}

int encodeUtf8(char32_t cp, char* out) {
    if (cp < 0x80) {
        out[0] = char(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = char(0xC0 | (cp >> 6));
        out[1] = char(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = char(0xE0 | (cp >> 12));
        out[1] = char(0x80 | ((cp >> 6) & 0x3F));
        out[2] = char(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (cp >> 18));
    out[1] = char(0x80 | ((cp >> 12) & 0x3F));
    out[2] = char(0x80 | ((cp >> 6) & 0x3F));
    out[3] = char(0x80 | (cp & 0x3F));
    return 4;
}

void appendUtf8(std::string& out, char32_t cp) {
    char b[4];
    out.append(b, size_t(encodeUtf8(cp, b)));
}

std::u16string utf8ToUtf16(std::string_view s) {
    std::u16string out;
    utf8ToUtf16(s, out);
    return out;
}

void utf8ToUtf16(std::string_view s, std::u16string& out) {
    out.resize(s.size());  // never more units than bytes
    char16_t* q = out.data();
    size_t i = 0;
    while (i < s.size()) {
        const auto c = uint8_t(s[i]);
        if (c < 0x80) {
            *q++ = char16_t(c);
            ++i;
        } else if (c >= 0xC2 && c <= 0xDF && i + 1 < s.size() && (uint8_t(s[i + 1]) & 0xC0) == 0x80) {
            *q++ = char16_t(((c & 0x1F) << 6) | (uint8_t(s[i + 1]) & 0x3F));  // two bytes, the common case
            i += 2;
        } else {
            const char32_t cp = decodeUtf8(s, i);
            if (cp >= 0x10000) {
                *q++ = char16_t(0xD800 + ((cp - 0x10000) >> 10));
                *q++ = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                *q++ = char16_t(cp);
            }
        }
    }
    out.resize(size_t(q - out.data()));
}

namespace {

bool pairAt(std::u16string_view s, size_t i) {
    return s[i] >= 0xD800 && s[i] <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF;
}

}  // namespace

// Measured first, then written in place: one allocation, no per-byte checks.
std::string utf16ToUtf8(std::u16string_view s) {
    std::string out;
    utf16ToUtf8(s, out);
    return out;
}

void utf16ToUtf8(std::u16string_view s, std::string& out) {
    size_t len = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const char16_t u = s[i];
        if (u < 0x80) len += 1;
        else if (u < 0x800) len += 2;
        else if (pairAt(s, i)) len += 4, ++i;
        else len += 3;  // a lone surrogate becomes U+FFFD
    }
    out.resize(len);
    char* o = out.data();
    if (len == s.size()) {
        for (size_t i = 0; i < len; ++i) o[i] = char(s[i]);
        return;
    }
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp < 0x80) {
            *o++ = char(cp);
            continue;
        }
        if (pairAt(s, i)) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        o += encodeUtf8(cp, o);
    }
}

void putUtf16LE(std::vector<uint8_t>& out, std::u16string_view s) {
    out.reserve(out.size() + 2 * s.size());
    for (char16_t u : s) {
        out.push_back(uint8_t(u));
        out.push_back(uint8_t(u >> 8));
    }
}

}  // namespace tp::db::coding
