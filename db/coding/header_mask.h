// The masks of an Access file's header page (page 0).
//
// Bytes 0x18 onwards of page 0 are XORed on disk with a fixed RC4
// keystream (key C7 DA 39 6B): 126 bytes in Jet 3 files (version byte 0),
// 128 in Jet 4 and ACE files. Masking and unmasking are the same operation.
// Inside that region, a Jet 4 file's database password is XORed once more
// with the creation date: the integer part of the OLE date as a
// little-endian int32, repeated (0 when the date is not a number or out of
// the int32 range).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tp::db::coding {

inline constexpr size_t kHeaderMaskStart = 0x18;
inline constexpr size_t kHeaderMaskMax = 128;

// How many bytes from kHeaderMaskStart are masked for this version byte.
constexpr size_t headerMaskLength(uint8_t version) { return version == 0 ? 126 : 128; }

// XORs the header mask over page 0 in place (page0 holds at least
// kHeaderMaskStart + kHeaderMaskMax bytes).
void applyHeaderMask(uint8_t* page0, uint8_t version);

// The 4 bytes the password field is XORed with, from the creation date.
std::array<uint8_t, 4> passwordMask(double created);

}  // namespace tp::db::coding
