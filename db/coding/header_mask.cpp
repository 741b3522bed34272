// The header page's masks (see header_mask.h).
#include "db/coding/header_mask.h"

#include <cmath>

#include "db/coding/endian.h"

namespace tp::db::coding {

namespace {

// The RC4 keystream of the header key; it never changes, so it is worked out
// at compile time.
constexpr std::array<uint8_t, kHeaderMaskMax> headerKeystream() {
    constexpr uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    std::array<uint8_t, 256> s{};
    for (int i = 0; i < 256; ++i) s[size_t(i)] = uint8_t(i);
    uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = uint8_t(j + s[size_t(i)] + key[i % 4]);
        const uint8_t t = s[size_t(i)];
        s[size_t(i)] = s[j];
        s[j] = t;
    }
    std::array<uint8_t, kHeaderMaskMax> out{};
    uint8_t a = 0, b = 0;
    for (auto& o : out) {
        a = uint8_t(a + 1);
        b = uint8_t(b + s[a]);
        const uint8_t t = s[a];
        s[a] = s[b];
        s[b] = t;
        o = s[uint8_t(s[a] + s[b])];
    }
    return out;
}

constexpr auto kKeystream = headerKeystream();

}  // namespace

void applyHeaderMask(uint8_t* page0, uint8_t version) {
    const size_t n = headerMaskLength(version);
    for (size_t k = 0; k < n; ++k) page0[kHeaderMaskStart + k] ^= kKeystream[k];
}

std::array<uint8_t, 4> passwordMask(double created) {
    std::array<uint8_t, 4> m{};
    if (std::isfinite(created) && std::fabs(created) < 2147483647.0) encodeLE32(m.data(), uint32_t(int32_t(created)));
    return m;
}

}  // namespace tp::db::coding
