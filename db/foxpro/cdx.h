// The tag definitions of a compound index file (.cdx), as FoxPro keeps a
// table's structural index beside it: the tag directory (a B-tree of tag
// names, each pointing at its tag's header) and each tag's header (key
// expression, FOR expression, options, order). The keys themselves are not
// read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "db/foxpro/source.h"

namespace tp::db::foxpro {

// Option bits of an index header (byte 14).
inline constexpr uint8_t kCdxUnique = 0x01;     // later duplicates left out of the index (INDEX ... UNIQUE)
inline constexpr uint8_t kCdxNullable = 0x02;   // keys carry a null marker byte (a tag on a field that allows NULL)
inline constexpr uint8_t kCdxCandidate = 0x04;  // an enforced unique key: a candidate or the primary key
inline constexpr uint8_t kCdxHasFor = 0x08;     // the tag has a FOR expression
inline constexpr uint8_t kCdxCompact = 0x20;
inline constexpr uint8_t kCdxCompound = 0x40;

struct CdxTag {
    std::string name;        // as the directory stores it (upper case in FoxPro's files)
    uint32_t header = 0;     // offset of the tag's header
    std::string expression;  // the key expression, bytes as stored
    std::string filter;      // the FOR expression; empty when none
    uint8_t options = 0;
    bool descending = false;
    uint32_t root = 0;  // offset of the root node of the tag's keys
    uint16_t keyLength = 0;
    // Why the tag's header could not be read; the fields above the name are
    // then unknown.
    std::string problem;
};

// The tags of the compound index in src, in directory order. A tag whose
// header is damaged comes with its problem set. Throws Error (without the
// file's name: the caller names it) when the directory cannot be read: a
// file too short, a header that is not a compact compound index's, a node
// outside the file, a node reached twice (a cycle), an entry that does not
// fit its node.
std::vector<CdxTag> readCdxTags(const ByteSource& src);

// Calls visit with each key (trailing bytes as blanks) and record number of
// the B-tree whose root node is at `root`, in key order. Throws Error (no
// file name) at a node outside the file, a node reached twice or nested too
// deep, or an entry that does not fit its node. The directory is such a
// tree; a tag's keys are another.
using CdxVisit = std::function<void(const std::string& key, uint32_t record)>;
void walkCdxTree(const ByteSource& src, uint32_t root, uint16_t keyLength, const CdxVisit& visit);

// The structural index of the table at dbfPath: the file of the same base
// name with the extension .cdx (found without regard to case); empty when
// there is none (looked for in the folder's listing, when given).
struct FolderListing;
std::string structuralCdxPath(const std::string& dbfPath, const FolderListing* listing = nullptr);

}  // namespace tp::db::foxpro
