// Internals of the Jet 4 storage engine shared by its source files and the
// storage tests: table definitions as read from TDEF pages, text helpers and
// the index check used by tests (text index keys: index_keys.h).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "db/coding/utf.h"
#include "db/jet/database.h"
#include "db/jet/format/format.h"
#include "db/jet/format/index_keys.h"
// The sorter past a bound on memory that index builds and the queries' rows
// share (the queries reach it through this header).
#include "db/jet/storage/index_sort.h"

namespace tp::db::jet {

struct StoredColumn {
    std::string name;
    uint8_t rawType = 0;
    int number = 0;
    int varIndex = 0;
    int fixedOffset = 0;
    int length = 0;
    uint8_t flags = 0;
    uint8_t extFlags = 0;
    uint8_t misc[4] = {0, 0, 0, 0};  // sort order, or precision/scale
    bool narrowText = false;         // Access 97: one byte per character in the code page
    bool fixed() const { return flags & columnflag::kFixed; }
    bool is(ColType t) const { return rawType == uint8_t(t); }
    bool isLong() const { return is(ColType::OLE) || is(ColType::Memo); }
    // ACE 2010 calculated column (the value is stored wrapped, see decodeRow).
    bool calculated() const { return (extFlags & 0xC0) == 0xC0; }
};

// Whether a row's values in an index's columns are null: any of them, all of
// them. A Yes/No value is never null.
struct IndexNulls {
    bool any = false, all = true;
    void add(const StoredColumn& c, const Value& v) {
        const bool null = v.isNull() && !c.is(ColType::Bool);
        any |= null;
        all &= null;
    }
};

struct StoredIndex {
    std::vector<int> columns;  // column numbers
    std::vector<bool> ascending;
    uint32_t mapRef = 0;  // pg:row of the index's usage map
    uint32_t root = 0;
    uint8_t flags = 0;
    size_t slotOffset = 0;     // offset of the unique-count slot in the TDEF
    uint32_t uniqueCount = 0;  // the count stored there: distinct keys of the index
    bool unique() const { return flags & indexflag::kUnique; }
    bool required() const { return flags & indexflag::kRequired; }
    // The one rule of which rows an index holds: every row, except those whose
    // indexed columns are all null when the index ignores nulls.
    bool leavesOut(const IndexNulls& n) const { return (flags & indexflag::kIgnoreNulls) && n.all; }
};

// A logical index: the named index the user sees, backed by a real index
// (several logical indexes may share one). Foreign keys name the index of the
// other side of their relationship.
struct LogicalIndex {
    std::string name;
    uint32_t number = 0;    // its number in the table
    uint32_t real = 0;      // the real index backing it
    uint8_t relSide = 0;    // foreign key: 1 the one (primary) side, 2 the many side
    int32_t relIndex = -1;  // foreign key: the other side's logical index number
    uint32_t relTable = 0;  // foreign key: the other side's table (its first definition page)
    uint8_t cascadeUpdate = 0, cascadeDelete = 0;
    uint8_t kind = 0;  // indexkind::
    bool primary() const { return kind == indexkind::kPrimary; }
    bool foreign() const { return kind == indexkind::kForeign; }
};

struct LongValueMaps {
    int column = 0;
    uint32_t owned = 0, free = 0;
};
// Ends a table definition of either version: its long-value maps, their end
// mark, and the definition's length in its head.
void finishTdef(std::vector<uint8_t>& s, const std::vector<LongValueMaps>& lv);

// A table's validation rules, parsed once (keys/validation.cpp).
struct TableRules;

struct StoredTable {
    std::string name;
    uint32_t page = 0;              // first TDEF page (= table id)
    uint32_t definitionLength = 0;  // the definition's length as its first page gives it
    size_t definitionBytes = 0;     // bytes its pages hold
    size_t definitionEnd = 0;       // where its last part ends
    uint8_t tableType = kUserTable;
    int maxCols = 0, varCols = 0, numCols = 0;
    uint32_t rowCount = 0, autoNumber = 0;
    uint32_t ownedMap = 0, freeMap = 0;
    std::vector<StoredColumn> columns;  // by column number
    std::vector<StoredIndex> indexes;   // the real indexes
    std::vector<LogicalIndex> logical;
    bool manySide = false;  // the many side of a relationship: new rows are checked
    std::vector<LongValueMaps> longValueMaps;
    // Where the parts of the definition lie: the column
    // descriptors, the real index blocks, the end of the logical index names.
    size_t columnsAt = 0, realAt = 0, indexesEnd = 0;
    std::vector<uint32_t> tdefPages;
    int fixedSize = 0;
    // Writing state.
    uint32_t currentPage = 0;  // data page new rows go to (0: unknown)
    // The pages of the free-space map not yet tried for new rows, highest
    // first (read from the map when first needed).
    std::vector<uint32_t> roomPages;
    bool roomKnown = false;
    std::unordered_map<int, uint32_t> currentLvPage;
    // By column: the pages of its long-value free-space map (read from the
    // map when first needed) and the room each has, as last seen, also by
    // room (the least room that takes a row found at once).
    struct LongValueRoom {
        bool known = false;
        std::map<uint32_t, uint32_t> roomOf;
        std::set<std::pair<uint32_t, uint32_t>> byRoom;  // (room, page)
        void set(uint32_t page, uint32_t room) {
            drop(page);
            roomOf[page] = room;
            byRoom.emplace(room, page);
        }
        void drop(uint32_t page) {
            const auto it = roomOf.find(page);
            if (it == roomOf.end()) return;
            byRoom.erase({it->second, page});
            roomOf.erase(it);
        }
    };
    std::unordered_map<int, LongValueRoom> lvRoom;
    // By column, once read: its long-value pages.
    std::unordered_map<int, std::unordered_set<uint32_t>> lvOwned;
    std::vector<bool> notNull;                                // by position, for tables made in this session
    std::vector<std::string> defaults;                        // by position: DefaultValue text, empty for none
    std::shared_ptr<const TableRules> rules;                  // nullptr: none (once rulesKnown)
    bool rulesKnown = false;                                  // rules read from the catalog entry
    bool indexesStale = false;                                // rows added since the indexes were rebuilt
    bool countStale = false;                                  // rowCount/autoNumber not yet in the definition page
    std::vector<std::unordered_set<std::string>> uniqueKeys;  // per index, once written into
};

// UTF-8 <-> UTF-16: the coding toolkit's codec (its rule for malformed
// input in db/coding/utf.h).
using coding::utf16ToUtf8;
using coding::utf8ToUtf16;
// Decodes stored Jet 4 text (UTF-16LE, or "FF FE" compressed form).
std::string decodeText(const uint8_t* p, size_t n);
void decodeText(const uint8_t* p, size_t n, std::string& out);  // into out, which keeps its room
// Text whose first character is U+FEFF: stored plainly it would begin with
// the bytes "FF FE", the mark of compressed text, so it is written in the
// compressed form (one byte a character where it can, UTF-16LE runs between
// zero bytes elsewhere). False when the text holds a character whose UTF-16
// code has a zero byte: such text cannot be stored at all.
bool encodeMarkedText(std::u16string_view text, std::vector<uint8_t>& out);
// Decodes Access 97 text (one or two bytes per character in the database's
// Windows code page, e.g. 1252 or 936) to UTF-8; bytes the code page cannot
// map become U+FFFD.
std::string decodeNarrowText(const uint8_t* p, size_t n, unsigned codePage);
void decodeNarrowText(const uint8_t* p, size_t n, unsigned codePage, std::string& out);
// UTF-8 text to the bytes of a Windows code page (Access 97 text); false
// when a character has no place in the code page.
bool encodeNarrowText(std::string_view text, unsigned codePage, std::vector<uint8_t>& out);
// Case-insensitive name comparison key (ASCII, Latin-1 and Cyrillic folding),
// for Access 97 files and sort orders whose keys are not known.
std::string foldName(std::string_view s);

// Every entry of every index of every table (system tables included): the
// stored key compared with the key computed from the row the entry names,
// leaf entries in order. Indexes under sort orders without known keys are
// counted, not compared.
struct IndexKeyReport {
    size_t entries = 0;          // leaf entries compared
    size_t textEntries = 0;      // ... of indexes with a text column
    size_t nonAsciiEntries = 0;  // ... whose text has characters beyond ASCII
    size_t unsupportedIndexes = 0;
    std::vector<SortOrder> orders;  // sort orders of the indexed text columns
    size_t problemCount = 0;
    std::vector<std::string> problems;  // the first 200
};
IndexKeyReport compareIndexKeys(Database& db);

}  // namespace tp::db::jet
