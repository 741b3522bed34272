// The bytes of a Visual FoxPro table header, shared by the benches that
// generate FoxPro tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tp::bench {

inline void putLe(std::string& s, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void putBe32(std::string& s, uint32_t v) {
    for (int i = 3; i >= 0; --i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

struct FieldDef {
    const char* name;
    char type;
    uint8_t length, decimals, flags = 0;
};

inline uint32_t recordLength(const std::vector<FieldDef>& fields) {
    uint32_t n = 1;  // the deletion mark
    for (const auto& f : fields) n += f.length;
    return n;
}

// The header of a table of `rows` records with a memo file, in code page
// 1252: version byte, counts, field descriptors, terminator and the 263
// bytes of the backlink.
inline std::string vfpHeader(uint8_t version, uint32_t rows, const std::vector<FieldDef>& fields) {
    const uint32_t hdrLen = 32 + 32 * static_cast<uint32_t>(fields.size()) + 1 + 263;
    std::string h;
    h += static_cast<char>(version);
    h += static_cast<char>(126), h += static_cast<char>(12), h += static_cast<char>(7);
    putLe(h, rows, 4);
    putLe(h, hdrLen, 2);
    putLe(h, recordLength(fields), 2);
    h.append(16, '\0');
    h += static_cast<char>(0x02);  // has a memo file
    h += static_cast<char>(0x03);  // code page 1252
    h.append(2, '\0');
    uint32_t off = 1;
    for (const auto& f : fields) {
        std::string d(32, '\0');
        for (size_t i = 0; f.name[i] && i < 10; ++i) d[i] = f.name[i];
        d[11] = f.type;
        for (int i = 0; i < 4; ++i) d[12 + i] = static_cast<char>((off >> (8 * i)) & 0xFF);
        d[16] = static_cast<char>(f.length);
        d[17] = static_cast<char>(f.decimals);
        d[18] = static_cast<char>(f.flags);
        h += d;
        off += f.length;
    }
    h += '\r';
    h.append(263, '\0');
    return h;
}

}  // namespace tp::bench
