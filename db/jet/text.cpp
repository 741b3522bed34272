// Text helpers of the storage engine: UTF conversions, stored-text decoding
// and the General sort order's text index keys.
#include <cerrno>
#include <cstring>
#include <string>

#include <iconv.h>

#include "db/jet/storage.h"

namespace tp::db::jet {

std::u16string utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const uint8_t c = uint8_t(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < n && (uint8_t(s[i + 1]) & 0xC0) == 0x80) {
            cp = ((c & 0x1Fu) << 6) | (uint8_t(s[i + 1]) & 0x3Fu);
            len = 2;
            if (cp < 0x80) cp = 0xFFFD;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < n && (uint8_t(s[i + 1]) & 0xC0) == 0x80 &&
                   (uint8_t(s[i + 2]) & 0xC0) == 0x80) {
            cp = ((c & 0x0Fu) << 12) | ((uint8_t(s[i + 1]) & 0x3Fu) << 6) | (uint8_t(s[i + 2]) & 0x3Fu);
            len = 3;
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        } else if ((c & 0xF8) == 0xF0 && i + 3 < n && (uint8_t(s[i + 1]) & 0xC0) == 0x80 &&
                   (uint8_t(s[i + 2]) & 0xC0) == 0x80 && (uint8_t(s[i + 3]) & 0xC0) == 0x80) {
            cp = ((c & 0x07u) << 18) | ((uint8_t(s[i + 1]) & 0x3Fu) << 12) |
                 ((uint8_t(s[i + 2]) & 0x3Fu) << 6) | (uint8_t(s[i + 3]) & 0x3Fu);
            len = 4;
            if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | (cp >> 6)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(char(0xE0 | (cp >> 12)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (cp >> 18)));
            out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::string decodeNarrowText(const uint8_t* p, size_t n, unsigned codePage) {
    std::string out;
    if (n == 0) return out;
    const std::string from = "CP" + std::to_string(codePage == 0 ? 1252u : codePage);
    iconv_t cd = iconv_open("UTF-8", from.c_str());
    if (cd == iconv_t(-1)) cd = iconv_open("UTF-8", "CP1252");
    if (cd == iconv_t(-1)) {
        for (size_t i = 0; i < n; ++i) out += p[i] < 0x80 ? std::string(1, char(p[i])) : std::string("\xEF\xBF\xBD");
        return out;
    }
    std::string buf(4 * n + 16, '\0');
    char* in = const_cast<char*>(reinterpret_cast<const char*>(p));
    size_t inLeft = n;
    while (inLeft > 0) {
        char* o = buf.data();
        size_t oLeft = buf.size();
        const size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buf.data(), buf.size() - oLeft);
        if (r != size_t(-1)) break;
        if (errno == E2BIG) continue;
        // An unmappable or cut-off byte: replaced, decoding goes on after it.
        out += "\xEF\xBF\xBD";
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

std::string decodeText(const uint8_t* p, size_t n) {
    std::u16string u;
    if (n > 2 && p[0] == 0xFF && p[1] == 0xFE) {
        u.reserve(n);
        bool compressed = true;
        size_t i = 2;
        while (i < n) {
            if (p[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                u.push_back(char16_t(p[i++]));
            } else if (n - i >= 2) {
                u.push_back(char16_t(p[i] | (p[i + 1] << 8)));
                i += 2;
            } else {
                break;
            }
        }
    } else {
        u.resize(n / 2);
        for (size_t i = 0; i < n / 2; ++i) u[i] = char16_t(p[2 * i] | (p[2 * i + 1] << 8));
    }
    return utf16ToUtf8(u);
}

std::string foldName(std::string_view s) {
    std::u16string u = utf8ToUtf16(s);
    for (auto& c : u) {
        if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
        else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) c = char16_t(c - 32);
        else if (c >= 0x430 && c <= 0x44F) c = char16_t(c - 32);
    }
    return utf16ToUtf8(u);
}

namespace {

// General (legacy) sort order inline codes for printable ASCII 0x20..0x7E;
// 0 marks an unprintable character (code in kUnprintable), a second byte
// follows for the 0x2B group.
struct Code {
    uint8_t a, b;
};
constexpr Code kAscii[95] = {
    {0x07, 0}, {0x09, 0}, {0x0A, 0}, {0x0C, 0}, {0x0E, 0}, {0x10, 0}, {0x12, 0}, {0, 0x80},     // sp ! " # $ % & '
    {0x14, 0}, {0x16, 0}, {0x18, 0}, {0x2C, 0}, {0x1A, 0}, {0, 0x82}, {0x1C, 0}, {0x1E, 0},     // ( ) * + , - . /
    {0x36, 0}, {0x38, 0}, {0x3A, 0}, {0x3C, 0}, {0x3E, 0}, {0x40, 0}, {0x42, 0}, {0x44, 0},     // 0-7
    {0x46, 0}, {0x48, 0}, {0x20, 0}, {0x22, 0}, {0x2E, 0}, {0x30, 0}, {0x32, 0}, {0x24, 0},     // 8 9 : ; < = > ?
    {0x26, 0},                                                                                  // @
    {0x4A, 0}, {0x4C, 0}, {0x4D, 0}, {0x4F, 0}, {0x51, 0}, {0x53, 0}, {0x55, 0}, {0x57, 0},     // A-H
    {0x59, 0}, {0x5B, 0}, {0x5C, 0}, {0x5E, 0}, {0x60, 0}, {0x62, 0}, {0x64, 0}, {0x66, 0},     // I-P
    {0x68, 0}, {0x69, 0}, {0x6B, 0}, {0x6D, 0}, {0x6F, 0}, {0x71, 0}, {0x73, 0}, {0x75, 0},     // Q-X
    {0x76, 0}, {0x78, 0},                                                                       // Y Z
    {0x27, 0}, {0x29, 0}, {0x2A, 0}, {0x2B, 0x02}, {0x2B, 0x03}, {0x2B, 0x07},                  // [ \ ] ^ _ `
    {0x4A, 0}, {0x4C, 0}, {0x4D, 0}, {0x4F, 0}, {0x51, 0}, {0x53, 0}, {0x55, 0}, {0x57, 0},     // a-h
    {0x59, 0}, {0x5B, 0}, {0x5C, 0}, {0x5E, 0}, {0x60, 0}, {0x62, 0}, {0x64, 0}, {0x66, 0},     // i-p
    {0x68, 0}, {0x69, 0}, {0x6B, 0}, {0x6D, 0}, {0x6F, 0}, {0x71, 0}, {0x73, 0}, {0x75, 0},     // q-x
    {0x76, 0}, {0x78, 0},                                                                       // y z
    {0x2B, 0x09}, {0x2B, 0x0B}, {0x2B, 0x0D}, {0x2B, 0x0F},                                     // { | } ~
};

// Latin-1 letters with accents sort as their base letter (the accent goes
// into the key's extra section).
char16_t baseLetter(char16_t c, uint8_t& extra) {
    struct M {
        char16_t from, to;
        char16_t base;
        uint8_t extra;
    };
    static constexpr M kMap[] = {
        {0xC0, 0xC0, u'A', 0x0F}, {0xC1, 0xC1, u'A', 0x0E}, {0xC2, 0xC2, u'A', 0x12}, {0xC3, 0xC3, u'A', 0x19},
        {0xC4, 0xC4, u'A', 0x13}, {0xC5, 0xC5, u'A', 0x1A}, {0xC7, 0xC7, u'C', 0x1C}, {0xC8, 0xC8, u'E', 0x0F},
        {0xC9, 0xC9, u'E', 0x0E}, {0xCA, 0xCA, u'E', 0x12}, {0xCB, 0xCB, u'E', 0x13}, {0xCC, 0xCC, u'I', 0x0F},
        {0xCD, 0xCD, u'I', 0x0E}, {0xCE, 0xCE, u'I', 0x12}, {0xCF, 0xCF, u'I', 0x13}, {0xD1, 0xD1, u'N', 0x19},
        {0xD2, 0xD2, u'O', 0x0F}, {0xD3, 0xD3, u'O', 0x0E}, {0xD4, 0xD4, u'O', 0x12}, {0xD5, 0xD5, u'O', 0x19},
        {0xD6, 0xD6, u'O', 0x13}, {0xD9, 0xD9, u'U', 0x0F}, {0xDA, 0xDA, u'U', 0x0E}, {0xDB, 0xDB, u'U', 0x12},
        {0xDC, 0xDC, u'U', 0x13}, {0xDD, 0xDD, u'Y', 0x0E},
    };
    char16_t up = c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) up = char16_t(c - 32);
    for (const M& m : kMap)
        if (up >= m.from && up <= m.to) {
            extra = m.extra;
            return m.base;
        }
    return 0;
}

}  // namespace

void appendTextKey(std::vector<uint8_t>& out, std::u16string_view textIn) {
    std::u16string_view text = textIn.substr(0, 255);
    while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
    std::vector<uint8_t> extras;            // one byte per inline character
    std::vector<uint8_t> unprintable;
    bool anyExtra = false;
    int charOffset = 0;
    for (char16_t c : text) {
        uint8_t extra = 0;
        if (c == 0) continue;
        if (c >= 0x80) {
            char16_t b = baseLetter(c, extra);
            if (b) c = b;
        }
        if (c >= 0x20 && c <= 0x7E) {
            const Code& k = kAscii[c - 0x20];
            if (k.a == 0) {
                const int off = (7 + 4 * charOffset) | 0x8000;
                unprintable.push_back(uint8_t(off >> 8));
                unprintable.push_back(uint8_t(off));
                unprintable.push_back(0x06);
                unprintable.push_back(k.b);
                continue;
            }
            out.push_back(k.a);
            if (k.b) out.push_back(k.b);
        } else if (c >= 0x09 && c <= 0x0D) {
            out.push_back(0x08);
            out.push_back(uint8_t(0x03 + (c - 0x09)));
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            continue;   // unprintable control characters are not keyed
        } else {
            // Characters outside the tables above: keyed by their code unit
            // after all ASCII codes, so that they still sort consistently.
            out.push_back(0x7A);
            out.push_back(uint8_t(c >> 8 | 0x01));
            out.push_back(uint8_t(c & 0xFF) | 0x01);
        }
        extras.push_back(extra ? extra : 0x02);
        if (extra) anyExtra = true;
        ++charOffset;
    }
    out.push_back(0x01);
    if (anyExtra) {
        while (!extras.empty() && extras.back() == 0x02) extras.pop_back();
        out.insert(out.end(), extras.begin(), extras.end());
    }
    if (!unprintable.empty()) {
        out.push_back(0x01);
        out.push_back(0x01);
        out.push_back(0x01);
        out.insert(out.end(), unprintable.begin(), unprintable.end());
    }
    out.push_back(0x00);
}

}  // namespace tp::db::jet
