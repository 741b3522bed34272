// Fixed-width integers in byte buffers, one name per operation:
//   decodeLE16(p)           reads the value stored at p;
//   encodeLE16(p, v)        writes v at p (the buffer is already there);
//   putLE16(out, v)         appends v to the end of out.
// LE is little-endian, the order of the Access and FoxPro formats; BE is
// big-endian, the order of index keys and FoxPro memo and index headers.
// Values are truncated to the width (encodeLE16 keeps the low 16 bits).
#pragma once

#include <cstdint>
#include <vector>

namespace tp::db::coding {

constexpr uint16_t decodeLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
constexpr uint32_t decodeLE24(const uint8_t* p) { return uint32_t(p[0] | (p[1] << 8) | (p[2] << 16)); }
constexpr uint32_t decodeLE32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
constexpr uint64_t decodeLE64(const uint8_t* p) {
    return uint64_t(decodeLE32(p)) | (uint64_t(decodeLE32(p + 4)) << 32);
}

constexpr uint16_t decodeBE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
constexpr uint32_t decodeBE24(const uint8_t* p) { return uint32_t((p[0] << 16) | (p[1] << 8) | p[2]); }
constexpr uint32_t decodeBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

constexpr void encodeLE16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
constexpr void encodeLE24(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
}
constexpr void encodeLE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
constexpr void encodeLE64(uint8_t* p, uint64_t v) {
    encodeLE32(p, uint32_t(v));
    encodeLE32(p + 4, uint32_t(v >> 32));
}

constexpr void encodeBE16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
constexpr void encodeBE24(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 16);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v);
}
constexpr void encodeBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

inline void putBytes(std::vector<uint8_t>& out, const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + n);
}
inline void putLE16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
inline void putLE32(std::vector<uint8_t>& out, uint32_t v) {
    putLE16(out, v & 0xFFFF);
    putLE16(out, v >> 16);
}
inline void putBE24(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}
inline void putBE32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v >> 24));
    putBE24(out, v);
}

}  // namespace tp::db::coding
