// Builds small DBF/FPT files byte by byte for the reader's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tp::test {

struct FieldSpec {
    std::string name;
    char type;
    uint8_t length;
    uint8_t decimals = 0;
    uint8_t flags = 0;
    uint32_t autoNext = 0;  // an autoincrement's next value and step
    uint8_t autoStep = 0;
};

struct DbfBuilder {
    uint8_t version = 0x30;
    uint8_t codePage = 0x03;
    std::vector<FieldSpec> fields;
    std::vector<std::string> records;  // each: deletion byte + field bytes
    int64_t recordCountOverride = -1;

    std::string build() const {
        uint16_t recLen = 1;
        for (const auto& f : fields) recLen = static_cast<uint16_t>(recLen + f.length);
        const bool vfp = version == 0x30 || version == 0x31 || version == 0x32;
        const uint16_t hdrLen = static_cast<uint16_t>(32 + 32 * fields.size() + 1 + (vfp ? 263 : 0));
        std::string h(32, '\0');
        h[0] = static_cast<char>(version);
        h[1] = 124;
        h[2] = 1;
        h[3] = 1;
        const uint32_t n = recordCountOverride >= 0 ? static_cast<uint32_t>(recordCountOverride)
                                                    : static_cast<uint32_t>(records.size());
        for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<char>(n >> (8 * i));
        h[8] = static_cast<char>(hdrLen & 0xFF);
        h[9] = static_cast<char>(hdrLen >> 8);
        h[10] = static_cast<char>(recLen & 0xFF);
        h[11] = static_cast<char>(recLen >> 8);
        h[29] = static_cast<char>(codePage);
        uint32_t off = 1;
        for (const auto& f : fields) {
            std::string d(32, '\0');
            d.replace(0, std::min<size_t>(f.name.size(), 10), f.name.substr(0, 10));
            d[11] = f.type;
            for (int i = 0; i < 4; ++i) d[12 + i] = static_cast<char>(off >> (8 * i));
            d[16] = static_cast<char>(f.length);
            d[17] = static_cast<char>(f.decimals);
            d[18] = static_cast<char>(f.flags);
            for (int i = 0; i < 4; ++i) d[19 + i] = static_cast<char>(f.autoNext >> (8 * i));
            d[23] = static_cast<char>(f.autoStep);
            h += d;
            off += f.length;
        }
        h += '\x0D';
        if (vfp) h += std::string(263, '\0');
        for (const auto& r : records) h += r;
        h += '\x1A';
        return h;
    }
};

// An FPT memo file with the given block size; add() returns the block number.
struct FptBuilder {
    uint16_t blockSize = 64;
    std::string data;
    FptBuilder() { data.assign(512, '\0'); }
    uint32_t add(const std::string& bytes, uint32_t type = 1) {
        while (data.size() % blockSize) data += '\0';
        const uint32_t block = static_cast<uint32_t>(data.size() / blockSize);
        auto be = [&](uint32_t v) {
            for (int i = 3; i >= 0; --i) data += static_cast<char>(v >> (8 * i));
        };
        be(type);
        be(static_cast<uint32_t>(bytes.size()));
        data += bytes;
        return block;
    }
    std::string build() {
        std::string out = data;
        while (out.size() % blockSize) out += '\0';
        const uint32_t next = static_cast<uint32_t>(out.size() / blockSize);
        for (int i = 0; i < 4; ++i) out[static_cast<size_t>(i)] = static_cast<char>(next >> (8 * (3 - i)));
        out[6] = static_cast<char>(blockSize >> 8);
        out[7] = static_cast<char>(blockSize & 0xFF);
        return out;
    }
};

inline std::string le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}

}  // namespace tp::test
