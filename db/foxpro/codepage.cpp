#include "db/foxpro/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

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

namespace {

const char* iconvName(int cp) {
    switch (cp) {
    case 10000: return "MACINTOSH";
    case 10006: return "MAC-GREEK";
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
    {0x86, 0x0105}, {0x8D, 0x0107}, {0x8F, 0x0104}, {0x90, 0x0118}, {0x91, 0x0119},
    {0x92, 0x0142}, {0x95, 0x0106}, {0x98, 0x015A}, {0x9C, 0x0141}, {0x9E, 0x015B},
    {0xA0, 0x0179}, {0xA1, 0x017B}, {0xA3, 0x00D3}, {0xA4, 0x0144}, {0xA5, 0x0143},
    {0xA6, 0x017A}, {0xA7, 0x017C}};
// Kamenicky (895), Czech/Slovak DOS: 0x80-0xAF.
const char32_t kKamenicky[48] = {
    0x010C, 0x00FC, 0x00E9, 0x010F, 0x00E4, 0x010E, 0x0164, 0x010D, 0x011B, 0x011A, 0x0139, 0x00CD,
    0x013E, 0x013A, 0x00C4, 0x00C1, 0x00C9, 0x017E, 0x017D, 0x00F4, 0x00F6, 0x00D3, 0x016F, 0x00DA,
    0x00FD, 0x00D6, 0x00DC, 0x0160, 0x013D, 0x00DD, 0x0158, 0x0165, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x0148, 0x0147, 0x016E, 0x00D4, 0x0161, 0x0159, 0x0155, 0x0154, 0x00BC, 0x00A7, 0x00AB, 0x00BB};

int utf8Encode(char32_t c, char* out) {
    if (c < 0x80) { out[0] = static_cast<char>(c); return 1; }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
}

}  // namespace

struct TextDecoder::Iconv {
    iconv_t cd = reinterpret_cast<iconv_t>(-1);
    std::mutex mutex;
    ~Iconv() {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
};

TextDecoder::TextDecoder(int codePage) : codePage_(codePage == 0 ? 437 : codePage) {
    std::string name;
    int base = codePage_;
    if (codePage_ == 620 || codePage_ == 895) base = 437;
    if (const char* n = iconvName(base)) name = n;
    else name = "CP" + std::to_string(base);

    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // An unknown code page: fall back to the DOS default rather than
        // refusing the table.
        codePage_ = 437;
        cd = iconv_open("UTF-8", "CP437");
        if (cd == reinterpret_cast<iconv_t>(-1)) throw Error("The code page conversion is not available.");
    }
    if (isMultiByte(base)) {
        singleByte_ = false;
        iconv_ = std::make_unique<Iconv>();
        iconv_->cd = cd;
        return;
    }
    for (int b = 0; b < 256; ++b) {
        char in[1] = {static_cast<char>(b)};
        char out[8];
        char* ip = in;
        char* op = out;
        size_t il = 1, ol = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        Entry& e = table_[b];
        if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || op == out) {
            // An unassigned byte keeps its Latin-1 meaning.
            e.len = static_cast<uint8_t>(utf8Encode(static_cast<char32_t>(b), e.bytes));
        } else {
            e.len = static_cast<uint8_t>(op - out);
            std::memcpy(e.bytes, out, e.len);
        }
    }
    iconv_close(cd);
    if (codePage_ == 620)
        for (auto [b, c] : kMazovia) table_[b].len = static_cast<uint8_t>(utf8Encode(c, table_[b].bytes));
    if (codePage_ == 895)
        for (int i = 0; i < 48; ++i)
            table_[0x80 + i].len = static_cast<uint8_t>(utf8Encode(kKamenicky[i], table_[0x80 + i].bytes));
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
            // An invalid or incomplete sequence: U+FFFD for the byte, go on.
            out += "\xEF\xBF\xBD";
            ++ip;
            --il;
            iconv(iconv_->cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
}

}  // namespace tp::db::foxpro
