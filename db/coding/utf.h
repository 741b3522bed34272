// UTF-8 and UTF-16, one codec for the whole data layer.
//
// Malformed input, one rule: a UTF-8 byte that does not begin a well-formed
// sequence (the shortest form of a scalar value up to U+10FFFF that is not a
// surrogate) becomes U+FFFD, and decoding goes on at the next byte; so
// "\xC0\x80" gives two U+FFFD. In UTF-16 a surrogate without its partner
// becomes U+FFFD. Well-formed text round-trips unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tp::db::coding {

// The code point that starts at s[pos], pos moved past it (U+FFFD and one
// byte for a malformed start). pos must be < s.size().
char32_t decodeUtf8(std::string_view s, size_t& pos);
// Writes the UTF-8 form of cp (at most U+10FFFF) to out; returns its length (1-4).
int encodeUtf8(char32_t cp, char* out);
void appendUtf8(std::string& out, char32_t cp);

std::u16string utf8ToUtf16(std::string_view s);
// The same into out, which keeps its room from call to call.
void utf8ToUtf16(std::string_view s, std::u16string& out);
std::string utf16ToUtf8(std::u16string_view s);
// The same into `out`, which keeps its room.
void utf16ToUtf8(std::u16string_view s, std::string& out);
// Appends the UTF-16 units little-endian, two bytes each.
void putUtf16LE(std::vector<uint8_t>& out, std::u16string_view s);

}  // namespace tp::db::coding
