// The Access file format, described once: every structure the engine reads,
// writes or checks, for Jet 3 (Access 97) and Jet 4/ACE alike. Offsets of a
// structure that has the same shape in every version are named in a
// namespace (header, page, datapage, column, realindex, logicalindex,
// usagemap, longvalue, ...); where the versions differ, a layout struct per
// version holds them, and Layout gathers the structs of one version (like a
// constants struct per version): take layoutOf(jet3). docs/jet-format.md
// describes the same fields in prose; keep the two in step. Column type codes
// are ColType (database.h). All numbers little-endian unless marked. The
// integer and text coding itself is the coding toolkit's (db/coding).
#pragma once

#include <cstddef>
#include <cstdint>

#include "db/coding/header_mask.h"
#include "db/jet/format/coding_names.h"

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

// A row's reference: its data page and its slot there (page << 8 | row).
constexpr uint32_t rowRef(uint32_t page, uint32_t row) { return (page << 8) | row; }
constexpr uint32_t refPage(uint32_t ref) { return ref >> 8; }
constexpr uint32_t refRow(uint32_t ref) { return ref & 0xFF; }

// The first bytes of every page but the header.
namespace page {
inline constexpr size_t kType = 0;    // PageType
inline constexpr size_t kMarker = 1;  // always kMarkerValue
inline constexpr uint8_t kMarkerValue = 0x01;
inline constexpr size_t kFreeSpace = 2;  // data, TDEF and index pages: free bytes (2)
inline constexpr size_t kOwner = 4;      // data and index pages: the owning TDEF page (4)
inline constexpr size_t kNextTdef = 4;   // TDEF pages: the next page of the definition (4)
}  // namespace page

// Page 0, the header. Offsets into the page with its mask removed
// (db/coding/header_mask.h: the mask, and the password field's date mask).
namespace header {
inline constexpr size_t kFormatId = 0x04;  // 15 bytes, see kJetId / kAceId
inline constexpr size_t kFormatIdSize = 15;
inline constexpr char kJetId[] = "Standard Jet DB";
inline constexpr char kAceId[] = "Standard ACE DB";
inline constexpr char kMsisamId[] = "MSISAM Database";
inline constexpr size_t kVersion = 0x14;       // 0 Jet 3, 1 Jet 4, 2.. ACE (see FileFormat)
inline constexpr size_t kVersionExtra = 0x15;  // 0x01 in Access 2010 files
inline constexpr size_t kMaskStart = coding::kHeaderMaskStart;
inline constexpr size_t kConstantWords = 0x18;  // 24 bytes: 00 01 00 00 01 01 00 00 02 .. 05 00 00 00
inline constexpr uint8_t kConstantWordsValue[24] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,
                                                    0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
                                                    0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
inline constexpr size_t kSortOrder3 = 0x3A;  // Jet 3: sort order LCID (2)
inline constexpr size_t kCodePage = 0x3C;
inline constexpr size_t kEncodingKey = 0x3E;  // 4 bytes, 0: pages in the clear
inline constexpr size_t kPassword = 0x42;     // Jet 4: 20 UTF-16 units masked with the creation date
inline constexpr size_t kPasswordSize = 40;
inline constexpr size_t kPasswordSize3 = 20;  // Jet 3: 20 bytes in the code page
inline constexpr size_t kUnknown6A = 0x6A;    // 4 bytes, A6 11 00 00 in every file Access makes; meaning unknown
inline constexpr uint32_t kUnknown6AValue = 0x11A6;
inline constexpr size_t kSortOrder = 0x6E;  // LCID (2), then 0 (1), then the version (1)
inline constexpr size_t kSortVersion = 0x71;
inline constexpr size_t kCreated = 0x72;         // OLE date (8-byte double)
inline constexpr size_t kConstantWords2 = 0x98;  // 8 bytes, as below
inline constexpr uint8_t kConstantWords2Value[8] = {0x54, 0x06, 0x00, 0x00, 0x34, 0x2E, 0x30, 0x00};
inline constexpr size_t kProviderLength = 0x299;   // ACE: length of the encryption-provider blob (2)
inline constexpr size_t kProvider = 0x29B;         // ACE: the blob
inline constexpr size_t kProviderAreaEnd = 0xE00;  // the blob ends before this
inline constexpr size_t kWordTable = 0xE00;        // 256 words: 01 01, then 00 01 each
// Jet 3 files as Access 97 writes them: 0x38 holds 1, 0x56 the word below
// (meanings unknown), the word table lies at 0x600 (01 01, 08 01, then 00 01).
inline constexpr size_t kJet3Unknown38 = 0x38;
inline constexpr size_t kJet3Unknown56 = 0x56;
inline constexpr uint16_t kJet3Unknown56Value = 0x251E;
inline constexpr size_t kWordTable3 = 0x600;
inline constexpr size_t kMinSize = kMaskStart + coding::kHeaderMaskMax;  // a header page holds at least this
}  // namespace header

// Data pages: the header and the row offsets (the slot table). Row i's
// offset is at rowOffsets + 2i (DataPageLayout); rows are packed from the
// page's end downward, row i ending where row i - 1 starts.
namespace datapage {
inline constexpr size_t kFreeSpace = page::kFreeSpace;
inline constexpr size_t kOwner = page::kOwner;  // the TDEF page, or kLongValueMark
inline constexpr size_t kRowCount = 0x0C;       // Jet 3: 0x08
inline constexpr size_t kRowCount3 = 0x08;
inline constexpr size_t kRowOffsets = 0x0E;  // Jet 3: 0x0A
inline constexpr size_t kRowOffsets3 = 0x0A;
inline constexpr size_t kRowOffsetSize = 2;
inline constexpr uint32_t kMaxRows = 255;  // row slots a page can have (a reference names one in a byte)
inline constexpr uint16_t kRowDeleted = 0x8000;
inline constexpr uint16_t kRowOverflow = 0x4000;
inline constexpr uint16_t kRowOffsetMask = 0x1FFF;
inline constexpr char kLongValueMark[4] = {'L', 'V', 'A', 'L'};  // at kOwner of a long-value page
}  // namespace datapage
struct DataPageLayout {
    size_t rowCount, rowOffsets;
    constexpr size_t rowOffset(size_t row) const { return rowOffsets + datapage::kRowOffsetSize * row; }
};
inline constexpr DataPageLayout kDataPage4{datapage::kRowCount, datapage::kRowOffsets};
inline constexpr DataPageLayout kDataPage3{datapage::kRowCount3, datapage::kRowOffsets3};

// The table definition's fields, per version. A definition is one stream:
// its first page whole, then each continuation page from kTdefContinuation.
struct TdefLayout {
    size_t rowCount, autoNumber, tableType, maxCols, varCols, numCols, numLogical, numReal, ownedMap, freeMap;
    size_t indexCounts;      // first unique-entry count slot
    size_t indexCountSize;   // bytes per real index there
    size_t columnSize;       // bytes per column descriptor
    size_t indexCountField;  // where in its slot the unique-entry count lies (4 bytes)
    // Byte offset of real index i's unique-entry count.
    constexpr size_t uniqueCount(size_t i) const { return indexCounts + indexCountSize * i + indexCountField; }
    // Where the column descriptors start, after numReal count slots.
    constexpr size_t columns(size_t real) const { return indexCounts + indexCountSize * real; }
};
inline constexpr TdefLayout kTdef4{0x10, 0x14, 0x28, 0x29, 0x2B, 0x2D, 0x2F, 0x33, 0x37, 0x3B, 0x3F, 12, 25, 4};
inline constexpr TdefLayout kTdef3{0x0C, 0x10, 0x14, 0x15, 0x17, 0x19, 0x1B, 0x1F, 0x23, 0x27, 0x2B, 8, 18, 4};
// Jet 3: the first 4 bytes of a real index's count slot hold the rows of a
// user table (0 in system tables), as Access 97 writes them.
inline constexpr size_t kIndexSlotRows3 = 0;
inline constexpr size_t kTdefNext = page::kNextTdef;  // next TDEF page, on every TDEF page
inline constexpr size_t kTdefContinuation = 0x08;     // where a continuation page's bytes start
inline constexpr size_t kRealIndexSize = 52;
inline constexpr size_t kLogicalIndexSize = 28;
inline constexpr uint8_t kUserTable = 0x4E;
inline constexpr uint8_t kSystemTable = 0x53;
// Fields of the definition both versions share, and those only Jet 4/ACE
// writes.
namespace tdef {
inline constexpr size_t kLength = 0x08;           // length of the stream (4)
inline constexpr size_t kStamp = 0x0C;            // Jet 4: the engine's stamp (kMagic, 4)
inline constexpr size_t kAutoNumberFlag = 0x18;   // Jet 4: 0x01
inline constexpr size_t kMaxIndexes = 1000;       // more is a damaged definition
inline constexpr char kJet3Mark[2] = {'V', 'C'};  // Jet 3: at page::kFreeSpace of every TDEF page
// Jet 3 column descriptors: bytes 7-8 hold 1 in every column Access 97 writes
// (meaning unknown), the code page follows the sort order.
inline constexpr size_t kColumn3Unknown = 7;
inline constexpr size_t kColumn3CodePage = 11;
}  // namespace tdef
// The list that ends a definition: per Memo/OLE column its number and its
// two usage maps, then kEnd.
namespace lvmaps {
inline constexpr size_t kColumn = 0;  // 2
inline constexpr size_t kOwned = 2;   // 4
inline constexpr size_t kFree = 6;    // 4
inline constexpr size_t kSize = 10;
inline constexpr uint16_t kEnd = 0xFFFF;
}  // namespace lvmaps

// Column descriptors (Jet 4/ACE).
namespace column {
inline constexpr size_t kType = 0;
inline constexpr size_t kStamp = 1;  // the engine's stamp (kMagic, 4)
inline constexpr size_t kNumber = 5;
inline constexpr size_t kVarIndex = 7;
inline constexpr size_t kMisc = 11;
inline constexpr size_t kFlags = 15;
inline constexpr size_t kExtFlags = 16;
inline constexpr size_t kFixedOffset = 21;
inline constexpr size_t kLength = 23;
inline constexpr size_t kNone = size_t(-1);  // a field the version does not have
}  // namespace column
// A column descriptor's fields, per version: misc holds the text sort order
// (LCID: 2, 0, version) or a decimal's precision and scale; Jet 3 keeps a
// text column's sort order at textSort and nothing at extFlags.
struct ColumnLayout {
    size_t size, type, number, varIndex, misc, textSort, flags, extFlags, fixedOffset, length;
};
inline constexpr ColumnLayout kColumn4{25, 0, 5, 7, 11, 11, 15, 16, 21, 23};
inline constexpr ColumnLayout kColumn3{18, 0, 1, 3, 11, 9, 13, column::kNone, 14, 16};

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
inline constexpr size_t kIndexOwner = page::kOwner;
inline constexpr size_t kIndexFreeSpace = page::kFreeSpace;
// An index entry's tail: the row it points to, big-endian; node entries
// then name their child page.
namespace indexentry {
inline constexpr size_t kPageSize = 3;  // data page, big-endian
inline constexpr size_t kRowSize = 1;
inline constexpr size_t kRefSize = kPageSize + kRowSize;
inline constexpr size_t kChildSize = 4;  // node entries: the child page, big-endian
}  // namespace indexentry

// Real index flags (byte 42 of a real index; Jet 3: byte 38).
namespace indexflag {
inline constexpr uint8_t kUnique = 0x01;
inline constexpr uint8_t kIgnoreNulls = 0x02;  // rows whose indexed columns are all null have no entry
inline constexpr uint8_t kRequired = 0x08;     // no indexed column may be null
}  // namespace indexflag

// Logical index blocks (28 bytes, Jet 4/ACE): what each field holds.
namespace logicalindex {
inline constexpr size_t kStamp = 0;  // the engine's stamp (kMagic, 4)
inline constexpr size_t kNumber = 4;
inline constexpr size_t kReal = 8;
inline constexpr size_t kRelSide = 12;
inline constexpr size_t kRelIndex = 13;
inline constexpr size_t kRelTable = 17;
inline constexpr size_t kCascadeUpdate = 21;
inline constexpr size_t kCascadeDelete = 22;
inline constexpr size_t kKind = 23;
inline constexpr uint8_t kNoCascade =
    0x04;  // what Access stores in both cascade bytes of an index without a relationship
inline constexpr uint32_t kNoRelIndex = 0xFFFFFFFF;  // kRelIndex of an index without a relationship
}  // namespace logicalindex
struct LogicalIndexLayout {
    size_t size, number, real, relSide, relIndex, relTable, cascadeUpdate, cascadeDelete, kind;
};
inline constexpr LogicalIndexLayout kLogicalIndex4{kLogicalIndexSize, 4, 8, 12, 13, 17, 21, 22, 23};
inline constexpr LogicalIndexLayout kLogicalIndex3{20, 0, 4, 8, 9, 13, 17, 18, 19};
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
inline constexpr uint8_t kAccessFlag = 0x80;   // set in every index Access 2000 and later writes
inline constexpr size_t kColumnEntrySize = 3;  // column number (2), order (1)
inline constexpr size_t kColumnOrder = 2;      // within an entry: 0x01 ascending
inline constexpr uint8_t kAscending = 0x01;
inline constexpr uint16_t kNoColumn = 0xFFFF;  // an unused entry
}  // namespace realindex
// A real index block's fields, per version (Jet 4 starts with kMagic; Jet 3
// has no such field and is 39 bytes long).
struct RealIndexLayout {
    size_t size, columns, map, root, flags;
    constexpr size_t column(size_t k) const { return columns + realindex::kColumnEntrySize * k; }
};
inline constexpr RealIndexLayout kRealIndex4{kRealIndexSize, realindex::kColumns, realindex::kMap, realindex::kRoot,
                                             realindex::kFlags};
inline constexpr RealIndexLayout kRealIndex3{39, 0, 30, 34, 38};

// Usage maps: a row of a data page, named by a page << 8 | row reference.
namespace usagemap {
inline constexpr size_t kType = 0;
inline constexpr uint8_t kInline = 0x00;     // 1: first page (4), then the bitmap
inline constexpr uint8_t kReference = 0x01;  // 1: bitmap pages (4 each)
inline constexpr size_t kStart = 1;          // inline: the page bit 0 stands for (4)
inline constexpr size_t kBitmap = 5;         // inline: bit i of byte k is page start + 8k + i
inline constexpr size_t kRefs = 1;           // reference: the bitmap pages, 4 bytes each
inline constexpr size_t kRefSize = 4;
inline constexpr size_t kBitmapPageData = 4;      // a UsageBitmap page's bitmap starts here
inline constexpr size_t kRowSize = 69;            // the maps the engine makes: type, start, 64 bytes
inline constexpr uint32_t kGlobalMapPage = 1;     // its row 0: the global map (a set bit: a free page)
inline constexpr uint32_t kFirstAllocatable = 3;  // pages 0-2 are never free
// Pages one UsageBitmap page of `pageSize` bytes stands for.
constexpr uint32_t pagesPerBitmapPage(uint32_t pageSize) { return (pageSize - uint32_t(kBitmapPageData)) * 8; }
constexpr size_t ref(size_t j) { return kRefs + kRefSize * j; }
}  // namespace usagemap

// Long values: the 12-byte head a row holds (length:3, kind:1, LVAL ref:4, 0:4).
// An ACE 2010 calculated column's value is stored wrapped: a head, the
// value's length, then the value.
namespace calculated {
inline constexpr size_t kLength = 16;  // the value's length (4)
inline constexpr size_t kData = 20;    // the value
}  // namespace calculated

namespace longvalue {
inline constexpr size_t kHeadSize = 12;
inline constexpr size_t kLength = 0;  // 3 bytes
inline constexpr size_t kKind = 3;
inline constexpr size_t kRef = 4;                 // the first LVAL row (page << 8 | row)
inline constexpr size_t kInlineData = kHeadSize;  // kInline: the value follows the head
inline constexpr uint8_t kInline = 0x80;
inline constexpr uint8_t kSingle = 0x40;
inline constexpr uint8_t kChain = 0x00;
// A row of a chain: the next row's reference (0: the last), then its part.
inline constexpr size_t kNextRef = 0;
inline constexpr size_t kChainData = 4;
// As the engine writes them: inline up to kMaxInline bytes (when the row has
// room), one LVAL row up to kMaxSingle, else a chain of kMaxChainPart parts.
inline constexpr size_t kMaxInline = 64;
inline constexpr size_t kMaxSingle = 4076;
inline constexpr size_t kMaxChainPart = kMaxSingle - kChainData;
}  // namespace longvalue

// An object's property list (the LvProp column of its catalog row): the
// magic, then blocks of a 4-byte length (the block's own head included) and
// a 2-byte kind. The names block lists the property names (2-byte byte
// length + UTF-16LE each); a table or column block starts with a head (4-byte
// length, 2-byte byte length, the column's name), then one entry per
// property: 2-byte length, flags, type, 2-byte index into the names, 2-byte
// data size, the data.
namespace props {
inline constexpr char kMagic[4] = {'M', 'R', '2', '\0'};
inline constexpr char kMagic3[4] = {'K', 'K', 'D', '\0'};  // Access 97: texts in the code page
inline constexpr size_t kBlockLength = 0;                  // 4
inline constexpr size_t kBlockKind = 4;                    // 2
inline constexpr size_t kBlockHead = 6;
inline constexpr uint16_t kNames = 0x80;
inline constexpr uint16_t kTable = 0x00;
inline constexpr uint16_t kColumn = 0x01;
inline constexpr size_t kHeadLength = 0;  // 4: the head's length
inline constexpr size_t kNameLength = 4;  // 2
inline constexpr size_t kName = 6;
inline constexpr size_t kEntryLength = 0;  // 2
inline constexpr size_t kEntryType = 3;
inline constexpr size_t kEntryName = 4;  // 2
inline constexpr size_t kEntrySize = 6;  // 2
inline constexpr size_t kEntryData = 8;
inline constexpr size_t kEntryFlags = 2;
inline constexpr uint8_t kYesNo = 0x01;
inline constexpr uint8_t kText = 0x0A;
inline constexpr uint8_t kMemo = 0x0C;
// The flag of the properties the engine keeps, as Access writes them; some
// the Access window adds have 0 (ColumnWidth, ColumnOrder, ColumnHidden).
inline constexpr uint8_t kEngineFlag = 0x01;
// The properties the engine reads and writes, with the value type and flag
// Access gives them (the lists of Northwind's tables, Access 97, and of the
// Jet 4 and ACE files Access made), and the maps they belong to: a column's
// map, the table's own map.
struct Known {
    const char* name;
    uint8_t type, flags;
    bool column, table;
};
inline constexpr Known kKnown[] = {
    {"Caption", kMemo, kEngineFlag, true, false},       {"Description", kText, kEngineFlag, true, true},
    {"ValidationRule", kMemo, kEngineFlag, true, true}, {"ValidationText", kText, kEngineFlag, true, true},
    {"DefaultValue", kMemo, kEngineFlag, true, false},  {"InputMask", kText, kEngineFlag, true, false},
    {"Format", kText, kEngineFlag, true, false},        {"Required", kYesNo, kEngineFlag, true, false},
};
}  // namespace props

// MSysObjects rows.
namespace msysobjects {
inline constexpr uint32_t kDefinitionPage = 2;              // MSysObjects' own TDEF page
inline constexpr uint32_t kIdPage = 0x00FFFFFF;             // a table's Id: its TDEF page in these bits
inline constexpr int kTypeMask = 0x7F;                      // of Type
inline constexpr int kTable = 1;                            // Type: a local table
inline constexpr int kDatabase = 2;                         // Type: a database object (MSysDb, ...)
inline constexpr int kLinkedOdbc = 4;                       // Type: a table linked through ODBC
inline constexpr int kQuery = 5;                            // Type: a query
inline constexpr int kLinked = 6;                           // Type: a linked table
inline constexpr uint32_t kSystemFlag = 0x80000000u;        // Flags: the engine's own table
inline constexpr uint32_t kAccessSystemFlag = 0x00000002u;  // Flags: Access's own table
inline constexpr uint32_t kActionQueryFlags = 0xF0;         // Flags of a query: an action query
}  // namespace msysobjects

// Everything that differs between Jet 3 (Access 97, 2048-byte pages) and
// Jet 4/ACE (4096-byte pages), in one constants struct per version: readers,
// writers and the checker take the one the file needs (layoutOf).
struct Layout {
    uint32_t pageSize;
    DataPageLayout dataPage;
    TdefLayout tdef;
    ColumnLayout column;
    RealIndexLayout realIndex;
    LogicalIndexLayout logicalIndex;
    IndexPageLayout indexPage;
    size_t nameLengthSize;  // names in a definition: length (Jet 3: 1 byte) then the text
    // As the engine writes the version: the largest row, the size of a usage
    // map row it makes (type, start, bitmap), the largest long-value row.
    size_t maxRowSize, usageMapRowSize, maxLongValueRow;
    // Free bytes of an empty data page.
    constexpr size_t emptyDataPageFree() const { return pageSize - dataPage.rowOffsets; }
    // Bytes of entries an index page holds.
    constexpr size_t indexEntryBytes() const { return pageSize - indexPage.entries; }
};
inline constexpr Layout kJet4{4096,        kDataPage4, kTdef4, kColumn4,           kRealIndex4,          kLogicalIndex4,
                              kIndexPage4, 2,          4060,   usagemap::kRowSize, longvalue::kMaxSingle};
inline constexpr Layout kJet3{2048,        kDataPage3, kTdef3, kColumn3, kRealIndex3, kLogicalIndex3,
                              kIndexPage3, 1,          2012,   133,      2032};
constexpr const Layout& layoutOf(bool jet3) { return jet3 ? kJet3 : kJet4; }

}  // namespace tp::db::jet
