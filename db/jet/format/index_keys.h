// Text index keys as Access computes them: the bytes a text (or memo) value
// contributes to an index entry under the column's sort order. The one key
// function of the engine: index rebuilds, uniqueness checks, catalog name
// comparison and integrity checks all go through it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tp::db::jet {

// A text sort order as stored in the database header and in every text
// column's descriptor: a locale id and a version. Version -1 stands for the
// General order of Access 97 files, which store no version.
struct SortOrder {
    uint16_t lcid = 1033;
    int version = 0;
    bool operator==(const SortOrder&) const = default;
};

inline constexpr SortOrder kGeneral97{1033, -1};     // Access 97 (Jet 3)
inline constexpr SortOrder kGeneralLegacy{1033, 0};  // Access 2000-2007, and ACE files keeping it
inline constexpr SortOrder kGeneral2010{1033, 1};    // Access 2010 and later ("General")

// Whether keys of this order can be computed (the three General orders).
bool sortOrderSupported(SortOrder order);
// A readable name: "General", "General legacy", "General 97", or e.g.
// "Cyrillic (locale 1049, version 0)".
std::string sortOrderName(SortOrder order);

// The sort order of a text column from the four sort-order bytes of its
// descriptor (locale id, 0, version; Access 97 files: the locale id only,
// version byte 0xFF), or `database` when the column stores none (locale 0).
SortOrder columnSortOrder(const uint8_t misc[4], SortOrder database);

// Appends a text value's key bytes (what follows the segment's 0x7F / 0x80
// flag byte): the text is cut to 255 characters, trailing spaces dropped,
// each character coded under `order`, ending with the order's terminator;
// descending keys are inverted as Access inverts them. Returns false and
// appends nothing when the order is not supported.
bool appendTextKey(std::vector<uint8_t>& out, std::u16string_view text, SortOrder order, bool ascending = true);

}  // namespace tp::db::jet
