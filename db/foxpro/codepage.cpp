#include "db/foxpro/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "db/coding/utf.h"
#include "db/error.h"

namespace tp::db::foxpro {

int codePageOfDriver(uint8_t d) {
    switch (d) {
    case 0x01: return 437;
    case 0x02: return 850;
    case 0x03: return 1252;
    case 0x04: return 10000;
    case 0x08: return 865;
    case 0x09: return 437;
    case 0x0A: return 850;
    case 0x0B: return 437;
    case 0x0D: return 437;
    case 0x0E: return 850;
    case 0x0F: return 437;
    case 0x10: return 850;
    case 0x11: return 437;
    case 0x12: return 850;
    case 0x13: return 932;
    case 0x14: return 850;
    case 0x15: return 437;
    case 0x16: return 850;
    case 0x17: return 865;
    case 0x18: return 437;
    case 0x19: return 437;
    case 0x1A: return 850;
    case 0x1B: return 437;
    case 0x1C: return 863;
    case 0x1D: return 850;
    case 0x1F: return 852;
    case 0x22: return 852;
    case 0x23: return 852;
    case 0x24: return 860;
    case 0x25: return 850;
    case 0x26: return 866;
    case 0x37: return 850;
    case 0x40: return 852;
    case 0x4D: return 936;
    case 0x4E: return 949;
    case 0x4F: return 950;
    case 0x50: return 874;
    case 0x57: return 1252;
    case 0x58: return 1252;
    case 0x59: return 1252;
    case 0x64: return 852;
    case 0x65: return 866;
    case 0x66: return 865;
    case 0x67: return 861;
    case 0x68: return 895;
    case 0x69: return 620;
    case 0x6A: return 737;
    case 0x6B: return 857;
    case 0x6C: return 863;
    case 0x78: return 950;
    case 0x79: return 949;
    case 0x7A: return 936;
    case 0x7B: return 932;
    case 0x7C: return 874;
    case 0x7D: return 1255;
    case 0x7E: return 1256;
    case 0x86: return 737;
    case 0x87: return 852;
    case 0x88: return 857;
    case 0x96: return 10007;
    case 0x97: return 10029;
    case 0x98: return 10006;
    case 0xC8: return 1250;
    case 0xC9: return 1251;
    case 0xCA: return 1254;
    case 0xCB: return 1253;
    case 0xCC: return 1257;
    default: return 0;
    }
}

const std::vector<CodePageName>& knownCodePages() {
    static const std::vector<CodePageName> list = {
        {437, "US DOS"},
        {620, "Polish DOS, Mazovia"},
        {737, "Greek DOS"},
        {850, "Western European DOS"},
        {852, "Central European DOS"},
        {857, "Turkish DOS"},
        {860, "Portuguese DOS"},
        {861, "Icelandic DOS"},
        {862, "Hebrew DOS"},  // named by no mark: DOS tables that carry none
        {863, "French Canadian DOS"},
        {865, "Nordic DOS"},
        {866, "Cyrillic DOS"},
        {874, "Thai Windows"},
        {895, "Czech DOS, Kamenicky"},
        {932, "Japanese Windows"},
        {936, "Simplified Chinese Windows"},
        {949, "Korean Windows"},
        {950, "Traditional Chinese Windows"},
        {1250, "Central European Windows"},
        {1251, "Cyrillic Windows"},
        {1252, "Western Windows"},
        {1253, "Greek Windows"},
        {1254, "Turkish Windows"},
        {1255, "Hebrew Windows"},
        {1256, "Arabic Windows"},
        {1257, "Baltic Windows"},
        {10000, "Western Macintosh"},
        {10006, "Greek Macintosh"},
        {10007, "Cyrillic Macintosh"},
        {10029, "Central European Macintosh"},
    };
    return list;
}

bool isKnownCodePage(int codePage) {
    for (const CodePageName& c : knownCodePages())
        if (c.number == codePage) return true;
    return false;
}

std::string codePageLabel(int codePage) {
    for (const CodePageName& c : knownCodePages())
        if (c.number == codePage) return std::to_string(codePage) + " (" + c.name + ")";
    return std::to_string(codePage);
}

namespace {

// Whether a character of the code pages' upper halves is a letter (or a
// mark written on one) of the scripts they carry.
bool isLetter(char32_t c) {
    if (c == 0xAA || c == 0xB5 || c == 0xBA) return true;
    if (c >= 0xC0 && c <= 0x24F) return c != 0xD7 && c != 0xF7;
    if (c >= 0x386 && c <= 0x3FF) return c != 0x387;                                            // Greek
    if (c >= 0x400 && c <= 0x52F) return c < 0x482 || c > 0x489;                                // Cyrillic
    if (c >= 0x591 && c <= 0x5F2) return c != 0x5BE && c != 0x5C0 && c != 0x5C3 && c != 0x5C6;  // Hebrew
    if (c >= 0x620 && c <= 0x6D3) return c < 0x660 || c > 0x66D;                                // Arabic
    if (c >= 0xE01 && c <= 0xE4E) return c != 0xE3F;                                            // Thai
    return c >= 0x1E00 && c <= 0x1EFF;  // Latin extended additional
}

char32_t firstCodePoint(const char* p, int len) {
    size_t pos = 0;
    return coding::decodeUtf8(std::string_view(p, size_t(len)), pos);
}

const char* iconvName(int cp) {
    switch (cp) {
    case 10000: return "MACINTOSH";
    case 10007: return "MAC-CYRILLIC";
    case 10029: return "MAC-CENTRALEUROPE";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    default: return nullptr;
    }
}

bool isMultiByte(int cp) { return cp == 932 || cp == 936 || cp == 949 || cp == 950; }

// Code pages glibc's iconv does not carry: the bytes that differ from 437.
// Mazovia (620), Polish DOS.
const std::pair<uint8_t, char32_t> kMazovia[] = {
    {0x86, 0x0105}, {0x8D, 0x0107}, {0x8F, 0x0104}, {0x90, 0x0118}, {0x91, 0x0119}, {0x92, 0x0142},
    {0x95, 0x0106}, {0x98, 0x015A}, {0x9C, 0x0141}, {0x9E, 0x015B}, {0xA0, 0x0179}, {0xA1, 0x017B},
    {0xA3, 0x00D3}, {0xA4, 0x0144}, {0xA5, 0x0143}, {0xA6, 0x017A}, {0xA7, 0x017C}};
// Kamenicky (895), Czech/Slovak DOS: 0x80-0xAF.
const char32_t kKamenicky[48] = {0x010C, 0x00FC, 0x00E9, 0x010F, 0x00E4, 0x010E, 0x0164, 0x010D, 0x011B, 0x011A,
                                 0x0139, 0x00CD, 0x013E, 0x013A, 0x00C4, 0x00C1, 0x00C9, 0x017E, 0x017D, 0x00F4,
                                 0x00F6, 0x00D3, 0x016F, 0x00DA, 0x00FD, 0x00D6, 0x00DC, 0x0160, 0x013D, 0x00DD,
                                 0x0158, 0x0165, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x0148, 0x0147, 0x016E, 0x00D4,
                                 0x0161, 0x0159, 0x0155, 0x0154, 0x00BC, 0x00A7, 0x00AB, 0x00BB};

// Mac Greek (10006), which the C library lacks: 0x80-0xFF.
const char32_t kMacGreek[128] = {
    0x00C4, 0x00B9, 0x00B2, 0x00C9, 0x00B3, 0x00D6, 0x00DC, 0x0385, 0x00E0, 0x00E2, 0x00E4, 0x0384, 0x00A8,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00A3, 0x2122, 0x00EE, 0x00EF, 0x2022, 0x00BD, 0x2030, 0x00F4,
    0x00F6, 0x00A6, 0x20AC, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x0393, 0x0394, 0x0398, 0x039B, 0x039E, 0x03A0,
    0x00DF, 0x00AE, 0x00A9, 0x03A3, 0x03AA, 0x00A7, 0x2260, 0x00B0, 0x00B7, 0x0391, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x0392, 0x0395, 0x0396, 0x0397, 0x0399, 0x039A, 0x039C, 0x03A6, 0x03AB, 0x03A8, 0x03A9, 0x03AC,
    0x039D, 0x00AC, 0x039F, 0x03A1, 0x2248, 0x03A4, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x03A5, 0x03A7, 0x0386,
    0x0388, 0x0153, 0x2013, 0x2015, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x0389, 0x038A, 0x038C, 0x038E,
    0x03AD, 0x03AE, 0x03AF, 0x03CC, 0x038F, 0x03CD, 0x03B1, 0x03B2, 0x03C8, 0x03B4, 0x03B5, 0x03C6, 0x03B3,
    0x03B7, 0x03B9, 0x03BE, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BF, 0x03C0, 0x03CE, 0x03C1, 0x03C3, 0x03C4,
    0x03B8, 0x03C9, 0x03C2, 0x03C7, 0x03C5, 0x03B6, 0x03CA, 0x03CB, 0x0390, 0x03B0, 0x00AD};
// Where the C library keeps an older Apple mapping than the current one
// (Apple's tables since Mac OS 8.5 and 9).
const std::pair<uint8_t, char32_t> kMacRomanNow[] = {{0xC6, 0x2206}, {0xF0, 0xF8FF}};
const std::pair<uint8_t, char32_t> kMacCyrillicNow[] = {{0xFF, 0x20AC}};

}  // namespace

struct TextDecoder::Iconv {
    iconv_t cd = reinterpret_cast<iconv_t>(-1);
    std::mutex mutex;
    uint64_t replaced = 0;
    ~Iconv() {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
};

TextDecoder::TextDecoder(int codePage) : codePage_(codePage == 0 ? 437 : codePage) {
    auto put = [&](int b, char32_t c) { setByte(b, c); };
    if (codePage_ == 10006) {
        for (int b = 0; b < 0x80; ++b) put(b, static_cast<char32_t>(b));
        for (int i = 0; i < 128; ++i) put(0x80 + i, kMacGreek[i]);
        classifyBytes();
        return;
    }
    std::string name;
    int base = codePage_;
    if (codePage_ == 620 || codePage_ == 895) base = 437;
    if (const char* n = iconvName(base)) name = n;
    else name = "CP" + std::to_string(base);

    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw Error("The code page " + std::to_string(codePage_) + " cannot be converted on this system.");
    if (isMultiByte(base)) {
        singleByte_ = false;
        iconv_ = std::make_unique<Iconv>();
        iconv_->cd = cd;
        // Single bytes that Windows maps and the C library refuses.
        for (int b = 0; b < 256; ++b) table_[b].len = 0;
        if (base == 932) {
            put(0x80, 0x80);
            put(0xA0, 0xF8F0);
            put(0xFD, 0xF8F1);
            put(0xFE, 0xF8F2);
            put(0xFF, 0xF8F3);
        } else if (base == 936) {
            put(0x80, 0x20AC);
        }
        return;
    }
    // Each byte on its own, the converter flushed after it: a converter that
    // holds a character back until it sees the next one (CP1255 composes
    // Hebrew points) gives it up at the flush.
    for (int b = 0; b < 256; ++b) {
        char in[1] = {static_cast<char>(b)};
        char out[16];
        char* ip = in;
        char* op = out;
        size_t il = 1, ol = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const bool ok = iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1) &&
                        iconv(cd, nullptr, nullptr, &op, &ol) != static_cast<size_t>(-1);
        Entry& e = table_[b];
        if (!ok || op == out || op - out > 3) {
            // An unassigned byte keeps its Latin-1 meaning, as Windows
            // reads it.
            put(b, static_cast<char32_t>(b));
            class_[b] = kUndefined;
        } else {
            e.len = static_cast<uint8_t>(op - out);
            std::memcpy(e.bytes, out, e.len);
        }
    }
    iconv_close(cd);
    applyVariantBytes();
    classifyBytes();
}

void TextDecoder::classifyBytes() {
    for (int b = 0x80; b < 256; ++b) {
        if (class_[b] == kUndefined) {
            anyUndefined_ = true;
            continue;
        }
        const Entry& e = table_[b];
        class_[b] = isLetter(firstCodePoint(e.bytes, e.len)) ? kLetter : kNoLetter;
    }
}

uint64_t TextDecoder::replacedBytes() const {
    if (singleByte_) return 0;
    std::lock_guard lock(iconv_->mutex);
    return iconv_->replaced;
}

void TextDecoder::fit(const uint8_t* data, size_t n, Fit& fit) const {
    uint64_t high = 0;
    for (size_t i = 0; i < n; ++i) high += data[i] >> 7;
    if (high == 0) return;
    fit.high += high;
    if (singleByte_) {
        for (size_t i = 0; i < n; ++i) {
            if (data[i] < 0x80) continue;
            fit.invalid += class_[data[i]] == kUndefined;
            fit.nonLetters += class_[data[i]] == kNoLetter;
        }
        return;
    }
    const uint64_t before = replacedBytes();
    std::string scratch;
    decode(data, n, scratch);
    fit.invalid += replacedBytes() - before;
}

void TextDecoder::setByte(int b, char32_t c) {
    table_[b].len = static_cast<uint8_t>(coding::encodeUtf8(c, table_[b].bytes));
}

void TextDecoder::applyVariantBytes() {
    if (codePage_ == 620)
        for (auto [b, c] : kMazovia) setByte(b, c);
    if (codePage_ == 895)
        for (int i = 0; i < 48; ++i) setByte(0x80 + i, kKamenicky[i]);
    if (codePage_ == 10000)
        for (auto [b, c] : kMacRomanNow) setByte(b, c);
    if (codePage_ == 10007)
        for (auto [b, c] : kMacCyrillicNow) setByte(b, c);
}

TextDecoder::~TextDecoder() = default;

void TextDecoder::decode(const uint8_t* data, size_t n, std::string& out) const {
    if (singleByte_) {
        // ASCII runs are copied as they are.
        size_t i = 0;
        while (i < n) {
            size_t j = i;
            // Eight bytes at a time while none has its high bit set.
            for (uint64_t w; j + 8 <= n; j += 8) {
                std::memcpy(&w, data + j, 8);
                if (w & 0x8080808080808080ull) break;
            }
            while (j < n && data[j] < 0x80) ++j;
            out.append(reinterpret_cast<const char*>(data + i), j - i);
            if (j == n) break;
            const Entry& e = table_[data[j]];
            out.append(e.bytes, e.len);
            i = j + 1;
        }
        return;
    }
    std::lock_guard lock(iconv_->mutex);
    iconv(iconv_->cd, nullptr, nullptr, nullptr, nullptr);
    char* ip = const_cast<char*>(reinterpret_cast<const char*>(data));
    size_t il = n;
    std::vector<char> buf(n * 4 + 16);
    while (il > 0) {
        char* op = buf.data();
        size_t ol = buf.size();
        const size_t r = iconv(iconv_->cd, &ip, &il, &op, &ol);
        out.append(buf.data(), static_cast<size_t>(op - buf.data()));
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            // An invalid or incomplete sequence: the byte's own character
            // where Windows maps it alone, else U+FFFD; go on.
            const Entry& e = table_[static_cast<uint8_t>(*ip)];
            if (e.len) {
                out.append(e.bytes, e.len);
            } else {
                out += "\xEF\xBF\xBD";
                ++iconv_->replaced;
            }
            ++ip;
            --il;
            iconv(iconv_->cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
}

}  // namespace tp::db::foxpro
