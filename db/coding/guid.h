// The text form of a GUID: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper
// case, as Access shows it. Stored, the first three groups are little-endian
// (4, 2 and 2 bytes) and the last eight bytes are in text order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tp::db::coding {

// The text form of the 16 stored bytes at p.
std::string guidText(const uint8_t* p);
// The 16 stored bytes of a GUID text, into out: 32 hex digits (either case)
// grouped 8-4-4-4-12 by hyphens, in braces or without. Anything else
// (spaces included) is refused, and out is left as it was.
bool parseGuid(std::string_view text, uint8_t* out);

}  // namespace tp::db::coding
