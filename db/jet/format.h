// The Access file format's names: page types, header fields, and the offsets
// of the data page, the table definition (TDEF) and the column descriptor,
// as the engine reads and writes them. docs/jet-format.md describes the same
// fields in prose; keep the two in step. Column type codes are ColType
// (database.h). All numbers little-endian unless marked.
//
// Page 0, the header (bytes 0x18.. masked, see kMaskStart):
//   OFFSET  SIZE  DESCRIPTION
//   0x04    15    "Standard Jet DB" / "Standard ACE DB"
//   0x14     1    version: 0 Jet 3, 1 Jet 4, 2.. ACE
//   0x3A     2    Jet 3: sort order LCID
//   0x3C     2    code page
//   0x3E     4    RC4 encoding key of pages 1.. (0: not encoded)
//   0x42    40    Jet 4 password (UTF-16, masked with the creation date)
//   0x6E     4    sort order: LCID (2), 0, version
//   0x72     8    creation date (OLE date)
//
// Every page: byte 0 its type (PageType), byte 1 0x01.
// Data page (Jet 4/ACE; Jet 3 in brackets):
//   0x02     2    free space
//   0x04     4    owning TDEF page ("LVAL" on long-value pages)
//   0x0C (0x08) 2 row slots
//   0x0E (0x0A) 2 each, row offsets: low 13 bits the start, 0x4000 overflow
//                  pointer, 0x8000 deleted
//
// TDEF (Jet 4/ACE; Jet 3 in TdefLayout::jet3): every page starts
// 02 01 <free:2> <next TDEF page:4>, continuation pages add from offset 8.
//   0x10     4    row count                   0x29  2  highest column count
//   0x14     4    last AutoNumber             0x2B  2  variable columns
//   0x28     1    table type (0x4E, 0x53)     0x2D  2  columns
//   0x2F     4    logical indexes             0x33  4  real indexes
//   0x37     4    usage map of data pages     0x3B  4  usage map of free space
//   0x3F    12 x real indexes: unique-entry counts; then the column
//                  descriptors (25 bytes each, Jet 3: 18), the names, the
//                  real indexes (52 bytes), logical indexes (28 bytes), ...
//
// Column descriptor (Jet 4/ACE):
//   0  1 type          5  2 column number    7  2 variable-offset index
//   11 4 sort order or precision/scale       15 1 flags (ColumnFlag)
//   16 1 extra flags (0x01 compressed text)  21 2 fixed offset   23 2 length
#pragma once

#include <cstddef>
#include <cstdint>

namespace tp::db::jet {

// Byte 0 of every page.
enum class PageType : uint8_t {
    Header = 0x00,
    Data = 0x01,  // rows, long values, usage-map rows, the global map
    TableDef = 0x02,
    IndexNode = 0x03,
    IndexLeaf = 0x04,
    UsageBitmap = 0x05,  // a bitmap page of a reference usage map
};
constexpr bool isPage(const uint8_t* page, PageType t) { return page[0] == uint8_t(t); }

// Page 0.
namespace header {
inline constexpr size_t kVersion = 0x14;
inline constexpr size_t kSortOrder3 = 0x3A;
inline constexpr size_t kCodePage = 0x3C;
inline constexpr size_t kEncodingKey = 0x3E;
inline constexpr size_t kPassword = 0x42;
inline constexpr size_t kSortOrder = 0x6E;
inline constexpr size_t kCreated = 0x72;
}  // namespace header

// Data pages.
namespace datapage {
inline constexpr size_t kFreeSpace = 0x02;
inline constexpr size_t kOwner = 0x04;
inline constexpr size_t kRowCount = 0x0C;  // Jet 3: 0x08
inline constexpr size_t kRowCount3 = 0x08;
inline constexpr uint16_t kRowDeleted = 0x8000;
inline constexpr uint16_t kRowOverflow = 0x4000;
inline constexpr uint16_t kRowOffsetMask = 0x1FFF;
}  // namespace datapage

// The table definition's fields, per version.
struct TdefLayout {
    size_t rowCount, autoNumber, tableType, maxCols, varCols, numCols, numLogical, numReal, ownedMap, freeMap;
    size_t indexCounts;     // first unique-entry count slot
    size_t indexCountSize;  // bytes per real index there
    size_t columnSize;      // bytes per column descriptor
};
inline constexpr TdefLayout kTdef4{0x10, 0x14, 0x28, 0x29, 0x2B, 0x2D, 0x2F, 0x33, 0x37, 0x3B, 0x3F, 12, 25};
inline constexpr TdefLayout kTdef3{0x0C, 0x10, 0x14, 0x15, 0x17, 0x19, 0x1B, 0x1F, 0x23, 0x27, 0x2B, 8, 18};
inline constexpr size_t kTdefNext = 0x04;          // next TDEF page, on every TDEF page
inline constexpr size_t kTdefContinuation = 0x08;  // where a continuation page's bytes start
inline constexpr size_t kRealIndexSize = 52;
inline constexpr size_t kLogicalIndexSize = 28;
inline constexpr uint8_t kUserTable = 0x4E;
inline constexpr uint8_t kSystemTable = 0x53;

// Column descriptors (Jet 4/ACE).
namespace column {
inline constexpr size_t kType = 0;
inline constexpr size_t kNumber = 5;
inline constexpr size_t kVarIndex = 7;
inline constexpr size_t kMisc = 11;
inline constexpr size_t kFlags = 15;
inline constexpr size_t kExtFlags = 16;
inline constexpr size_t kFixedOffset = 21;
inline constexpr size_t kLength = 23;
}  // namespace column

// Column descriptor flags (byte 15).
namespace columnflag {
inline constexpr uint8_t kFixed = 0x01;
inline constexpr uint8_t kUpdatable = 0x02;
inline constexpr uint8_t kAutoNumber = 0x04;
inline constexpr uint8_t kGuidAutoNumber = 0x40;
inline constexpr uint8_t kCompressed = 0x01;  // byte 16
}  // namespace columnflag

// Index pages (node and leaf), per version: the sibling and last-child
// pointers, the length of the prefix the entries share with the first, the
// bitmap whose bit k marks an entry ending at byte k of the entries, the
// entries (key, then data page (3 bytes) and row (1 byte), big-endian; node
// entries add the child page, 4 bytes big-endian).
struct IndexPageLayout {
    size_t prev, next, tail, prefix, prefixSize, mask, entries;
};
inline constexpr IndexPageLayout kIndexPage4{0x0C, 0x10, 0x14, 0x18, 2, 0x1B, 0x1E0};
inline constexpr IndexPageLayout kIndexPage3{0x08, 0x0C, 0x10, 0x14, 1, 0x16, 0xF8};
inline constexpr size_t kIndexOwner = 0x04;
inline constexpr size_t kIndexFreeSpace = 0x02;

// Real index flags (byte 42 of a real index; Jet 3: byte 38).
namespace indexflag {
inline constexpr uint8_t kUnique = 0x01;
inline constexpr uint8_t kIgnoreNulls = 0x02;  // rows whose indexed columns are all null have no entry
inline constexpr uint8_t kRequired = 0x08;     // no indexed column may be null
}  // namespace indexflag

// Logical index blocks (28 bytes, Jet 4/ACE): what each field holds.
namespace logicalindex {
inline constexpr size_t kNumber = 4;
inline constexpr size_t kReal = 8;
inline constexpr size_t kRelSide = 12;
inline constexpr size_t kRelIndex = 13;
inline constexpr size_t kRelTable = 17;
inline constexpr size_t kCascadeUpdate = 21;
inline constexpr size_t kCascadeDelete = 22;
inline constexpr size_t kKind = 23;
inline constexpr uint8_t kNoCascade = 0x04;  // what Access stores in both cascade bytes of an index without a relationship
}  // namespace logicalindex
// Logical index kinds (byte 23).
namespace indexkind {
inline constexpr uint8_t kPlain = 0;
inline constexpr uint8_t kPrimary = 1;
inline constexpr uint8_t kForeign = 2;
}  // namespace indexkind
// Real index blocks (52 bytes, Jet 4/ACE).
namespace realindex {
inline constexpr size_t kColumns = 4;  // 10 x (column number: 2, 0x01 ascending: 1)
inline constexpr size_t kMap = 34;
inline constexpr size_t kRoot = 38;
inline constexpr size_t kFlags = 46;
inline constexpr uint32_t kMagic = 1923;
inline constexpr int kMaxColumns = 10;
inline constexpr uint8_t kAccessFlag = 0x80;  // set in every index Access 2000 and later writes
}  // namespace realindex

// Usage maps: byte 0 of a map's row.
namespace usagemap {
inline constexpr uint8_t kInline = 0x00;     // 1: first page (4), then the bitmap
inline constexpr uint8_t kReference = 0x01;  // 1: bitmap pages (4 each)
}  // namespace usagemap

// Long values: the 12-byte head a row holds (length:3, kind:1, LVAL ref:4, 0:4).
namespace longvalue {
inline constexpr size_t kHeadSize = 12;
inline constexpr uint8_t kInline = 0x80;
inline constexpr uint8_t kSingle = 0x40;
inline constexpr uint8_t kChain = 0x00;
}  // namespace longvalue

}  // namespace tp::db::jet
