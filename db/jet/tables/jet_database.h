// The Access engine's one class, JetDatabase, and what its source files
// share: the format's limits, catalog entries, byte writers and the helpers
// more than one file uses. Private to db/jet (callers use database.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "db/coding/guid.h"
#include "db/coding/utf.h"
#include "db/error.h"
#include "db/jet/errors.h"
#include "db/jet/format/format.h"
#include "db/jet/format/index_keys.h"
#include "db/jet/storage/pager.h"
#include "db/jet/tables/stored_table.h"

namespace tp::db::jet {

// Limits of the format as the engine writes it.
inline constexpr int kMaxRowSize = 4060;
inline constexpr size_t kDataPageFree = 4082;
inline constexpr size_t kIndexEntryBytes = kPageSize - kIndexPage4.entries;  // 3616
inline constexpr size_t kMaxLongValue = 0xFFFFFF;                            // 3 length bytes are all readers take
inline constexpr uint32_t kTablesParent = 0x0F000000;
// The stamp the engine writes into a table definition, its column
// descriptors and logical indexes (tdef::kStamp, column::kStamp,
// logicalindex::kStamp).
inline constexpr uint32_t kMagic = 1625;

// The index part of a table definition: per real index its count slot and
// block (kept as stored), and the logical indexes.
struct IndexSections {
    std::vector<std::vector<uint8_t>> slots, reals;
    std::vector<LogicalIndex> logical;
    std::vector<StoredIndex> dropped;  // real indexes taken out: their pages go
};

// The properties the engine acts on in a table's property list (the
// LvProp of its catalog row): Required (NOT NULL), DefaultValue, and the
// validation rules of the columns and of the table.
struct ColumnProperties {
    std::vector<std::string> columns;                           // a new table's columns, in order
    std::vector<std::string> required;                          // columns whose Required is true
    std::vector<std::pair<std::string, std::string>> defaults;  // column, DefaultValue text
    struct Rule {
        std::string column;  // empty: the table's own rule
        std::string rule, text;
    };
    std::vector<Rule> rules;
    [[nodiscard]] bool empty() const { return required.empty() && defaults.empty() && rules.empty(); }
};

// A property list as one generic list (tables/properties.cpp): the names
// block in its order, and the maps (the table's own, one per column), each
// entry as stored. Writing it again keeps every entry, the Access window's
// too.
struct PropertyEntry {
    std::string name;
    uint8_t flags = 0, type = 0;
    Bytes value;
};
struct PropertyMap {
    uint16_t kind = props::kTable;  // props::kTable or props::kColumn
    std::string object;             // a column map's column; empty for the table's
    std::vector<PropertyEntry> entries;
    const PropertyEntry* find(std::string_view name) const;
};
struct PropertyList {
    std::vector<std::string> names;
    std::vector<PropertyMap> maps;
    PropertyMap* find(uint16_t kind, std::string_view object);
};
// Reads a list; false (with why, when given) when it is damaged, `out`
// holding what came before the damage. `codePage`: Access 97 lists'
// (0: a later version's).
bool readPropertyList(const Bytes& b, unsigned codePage, PropertyList& out, std::string* why);
Bytes writePropertyList(const PropertyList& l, unsigned codePage);
std::string propertyText(const PropertyEntry& e, unsigned codePage);
// The engine's entry for a property name (props::kKnown), or nullptr.
const props::Known* knownProperty(std::string_view name);
// Sets property `name` of a column's map (column empty: the table's own
// map) to a text (Yes/No properties: "1" or "0"), or removes it (nullopt).
// A known property takes the type and flag Access gives it.
void setProperty(PropertyList& l, const std::string& column, const std::string& name,
                 const std::optional<std::string>& value, unsigned codePage);

// One object of the catalog (a row of MSysObjects).
struct CatalogEntry {
    uint32_t id = 0;
    uint32_t parentId = 0;
    std::string name;
    std::string key;  // name's key under the catalog's sort order (empty: not yet computed)
    int type = 0;
    uint32_t flags = 0;
    uint32_t rowRef = 0;  // pg:row of the MSysObjects row
    Bytes owner;
    ColumnProperties properties;  // of a table: its columns' Required and DefaultValue
    int kind() const { return type & msysobjects::kTypeMask; }
    bool isTable() const { return kind() == msysobjects::kTable; }
    uint32_t tablePage() const { return id & msysobjects::kIdPage; }
};

struct SystemColumn;
struct SystemTable;

// A row slot found while walking a data page.
struct RowSpan {
    uint32_t ref;  // pg:row of the slot
    const uint8_t* p;
    size_t n;
};

// database.cpp
std::chrono::milliseconds durabilityInterval();
// data_pages.cpp: the header of an empty data page of `owner`
void startDataPage(uint8_t* page, uint32_t owner, const Layout& layout = kJet4);
bool jet3File(const std::string& path);  // Access 97 files have 2048-byte pages
// new_database.cpp
double nowOle();  // the local time as an OLE date
// table_definition.cpp: column descriptors
const char* unreadableColumn(const StoredColumn& c);  // why a column cannot be read, or nullptr
ColType typeOf(uint8_t raw);
int fixedSizeOf(ColType t);
FieldInfo fieldInfoOf(const StoredColumn& c);
ColumnDef columnDefOf(const StoredColumn& c);
// A column descriptor in a definition: Jet 4/ACE, and Access 97 (with the
// sort order and code page every Access 97 column carries).
void putColumn(std::vector<uint8_t>& s, const StoredColumn& c);
void putColumn3(std::vector<uint8_t>& s, const StoredColumn& c, uint16_t lcid, unsigned codePage);
// row_codec.cpp
bool encodeNumeric(const std::string& text, int scale, int precision, uint8_t* out);
// A fixed-length column's value at p (size bytes); a Long AutoNumber column's
// highest value is kept in autoNumber.
void encodeFixedValue(const StoredColumn& c, ColType type, const Value& v, uint8_t* p, size_t size,
                      uint32_t& autoNumber);
// catalog.cpp: a property list with the Required and DefaultValue of
// `column` as `def` gives them (nullptr: the column's properties removed),
// every other property kept.
Bytes withColumnProperties(const Bytes& list, unsigned codePage, const std::string& column, const ColumnDef* def);
// index_definitions.cpp: a real index's block in a table definition
std::vector<uint8_t> realIndexBlock(const StoredIndex& ix, const Layout& layout);
// row_changes.cpp: refuses rows of a system table, or of a table with
// columns the engine cannot write
void requireChangeable(const StoredTable& t, const std::string& path);
// index_pages.cpp: a value's part of an index key
void appendIndexKey(std::vector<uint8_t>& e, const StoredColumn& c, const Value& x, bool asc, SortOrder database);

class JetDatabase final : public Database {
public:
    JetDatabase(std::unique_ptr<Pager> pager) : pager_(std::move(pager)) {}
    ~JetDatabase() override {
        try {
            close();
        } catch (...) {}
    }

    void openExisting(const std::string& password);
    void openJet3(uint8_t* page0, const std::string& password);
    void openJet4(uint8_t* page0, const std::string& password);
    void setFormat(FileFormat f) { format_ = f; }
    // The offsets of the file's format version.
    const Layout& layout() const { return layoutOf(jet3_); }
    void createNew(const std::string& password);

    FileFormat format() const override { return format_; }
    std::vector<TableInfo> listTables() override;
    std::vector<ColumnDef> columns(const std::string& table) override;
    std::string findTable(const std::string& name) override;
    void createTable(const std::string& name, const std::vector<ColumnDef>& columns) override;
    void dropTable(const std::string& name) override;
    void insertRow(const std::string& table, const std::vector<Value>& values) override;
    std::unique_ptr<Cursor> scan(const std::string& table) override;
    int64_t changeRows(const std::string& table, const RowChanger& change) override {
        return changeRows(table, change, {});
    }
    int64_t changeRows(const std::string& table, const RowChanger& change,
                       const std::vector<ValueRange>& where) override;
    std::unique_ptr<Cursor> scanWhere(const std::string& table, const std::vector<ValueRange>& where) override;
    std::optional<int64_t> rowCount(const std::string& table) override { return tableByName(table).rowCount; }
    void changeColumn(const ColumnChange& change, const ValueConverter& convert) override;
    void setProperties(const PropertyChange& change) override;
    SortOrder textOrder() const override { return sortOrder(); }
    std::string tempFilesBeside() const override { return pager_->path(); }
    void createIndex(const IndexDef& d) override;
    void dropIndex(const std::string& table, const std::string& name, bool constraint) override;
    void addRelationship(const RelationshipDef& d) override;
    std::vector<RelationshipDef> relationships() override;
    void beginUnit() override;
    void commitUnit() override;
    void rollbackUnit() override;
    UnitUse unitUse() const override {
        if (!pager_) return {};
        const Pager::UnitUse u = pager_->unitUse();
        return {u.pages, u.inMemory, u.spilled, u.cached};
    }
    void flush() override;
    void close() override;

    // Used by the cursor.
    Pager& pager() { return *pager_; }
    void decodeRow(const StoredTable& t, const uint8_t* row, size_t n, std::vector<Value>& out);
    // decodeRow with another reader of the present values: valueOf(column,
    // bytes, length) -> Value.
    template <class ValueOf>
    void decodeRowWith(const StoredTable& t, const uint8_t* row, size_t n, std::vector<Value>& out, ValueOf valueOf);
    StoredTable& tableByName(const std::string& name);
    // The table whose definition starts at `page` (loaded once), or nullptr.
    StoredTable* tableAt(uint32_t page);
    // The pages a usage map marks; `bitmapPages`, when given, receives the
    // bitmap pages of a reference map, and `pastEnd` the first page past the
    // end of the file that the map marks (0: none; such pages are left out).
    std::vector<uint32_t> mapPages(uint32_t ref, std::vector<uint32_t>* bitmapPages = nullptr,
                                   uint32_t* pastEnd = nullptr);
    bool dataPageOf(const StoredTable& t, const uint8_t* pg) const {
        return isPage(pg, PageType::Data) && decodeLE32(pg + datapage::kOwner) == t.page;
    }
    void pageRows(uint32_t page, const uint8_t* pg, std::vector<RowSpan>& out, bool liveOnly);

private:
    [[noreturn]] void damaged(const std::string& what) const { pager_->damaged(what); }
    void requireOpen() const {
        if (!pager_) throw jeterr::objectInvalid();
    }
    void requireWritable() const {
        requireOpen();
        if (pager_->readOnly()) throw jeterr::readOnly();
    }
    void requireKeysWritable() const { requireWritable(); }

    // Reading.
    StoredTable loadTable(uint32_t page, const std::string& name);
    StoredTable& loadedTable(const CatalogEntry& e);
    std::vector<uint8_t> readDefinitionPages(StoredTable& t);
    std::string readDefinitionName(const StoredTable& t, const std::vector<uint8_t>& s, size_t& pos);
    void readColumnNames(StoredTable& t, const std::vector<uint8_t>& s, size_t& pos);
    void readIndexes(StoredTable& t, const std::vector<uint8_t>& s, size_t& pos, uint32_t numReal, uint32_t numLogical);
    Value valueOf(const StoredTable& t, const StoredColumn& c, const uint8_t* p, size_t len);
    template <class ValueOf>
    void decodeRow3(const StoredTable& t, const uint8_t* row, size_t n, std::vector<Value>& out, ValueOf valueOf);
    std::string text(const StoredColumn& c, const uint8_t* p, size_t n) const {
        return c.narrowText ? decodeNarrowText(p, n, codePage_) : decodeText(p, n);
    }
    std::pair<const uint8_t*, size_t> findRow(uint32_t ref);
    Value readLongValue(const StoredColumn& c, const uint8_t* p, size_t n);
    // The bytes of a long value into `data`.
    void longValueBytes(const StoredColumn& c, const uint8_t* p, size_t n, std::vector<uint8_t>& data);
    void loadCatalog();
    void forEachRow(StoredTable& t, const std::function<void(uint32_t, const std::vector<Value>&)>& fn);
    // The database's sort order (catalog text columns use it; text columns
    // that store none inherit it).
    SortOrder sortOrder() const { return SortOrder{sortLcid_, jet3_ ? -1 : int(int8_t(sortVersion_))}; }
    // Names are equal when their keys in the catalog's Name index are: case
    // and accents as the sort order treats them. Under a sort order whose keys
    // we cannot compute, names compare without regard to case.
    std::string nameKey(std::string_view name) const;
    const std::string& nameKey(CatalogEntry& e) const {
        if (e.key.empty()) e.key = nameKey(e.name);
        return e.key;
    }
    // The positions in catalog_ of the entries whose name has the key of
    // `name`: an index made on first use, kept as entries are added and made
    // anew after the catalog loses one.
    const std::vector<size_t>& catalogEntriesNamed(std::string_view name);
    void forgetCatalogIndex() {
        catalogByKey_.clear();
        catalogIndexed_ = false;
    }

    // Writing.
    // A page for new content: the lowest free page at or after `from`, else a
    // new one at the end of the file (a table's data pages thus always
    // follow its earlier ones: rows read back in the order inserted).
    uint32_t allocPage(uint32_t from = 0);
    void releasePage(uint32_t page);
    void loadFreePages();
    void loadFreePagesFromBitmaps(const uint8_t* row, size_t n, uint32_t total);
    void markFree(uint64_t page, uint32_t total);
    void referenceMapPages(const uint8_t* row, size_t n, std::vector<uint32_t>& pages,
                           std::vector<uint32_t>* bitmapPages, uint32_t* pastEnd);
    void setGlobalBit(uint32_t page, bool free);
    bool growGlobalMap(uint32_t page);
    bool rewriteGlobalMapRow(const std::vector<uint8_t>& row);
    void promoteGlobalMap();
    uint32_t newGlobalBitmap(size_t range);
    void mapSet(uint32_t ref, uint32_t page, bool on);
    void setBits(uint32_t ref, const uint8_t* row, size_t at, uint8_t mask, bool on);
    std::pair<uint8_t*, size_t> rowForWrite(uint32_t ref);
    // A data page of the table whose last data page is `after` (0: none).
    uint32_t newDataPage(uint32_t owner, uint32_t after);
    bool placeRow(uint32_t page, const uint8_t* row, size_t n, uint32_t& ref);
    uint32_t appendRow(StoredTable& t, const std::vector<uint8_t>& row);
    bool placeOnPageWithRoom(StoredTable& t, const std::vector<uint8_t>& row, uint32_t& ref);
    // A removed row's bytes given back to its page (false: the page's rows
    // are not laid out so that they can move; the row is only marked).
    bool reclaimRow(uint32_t ref);
    // A table row removed by UPDATE, DELETE or ALTER TABLE: its space goes
    // back to its page, which joins the table's pages with free space.
    void removeTableRow(StoredTable& t, uint32_t ref);
    uint32_t putLongValueRow(StoredTable& t, int col, const uint8_t* data, size_t n);
    // A long-value row on the page: in the slot of a removed one that left
    // no bytes (the rows below it move down), else in a new slot.
    bool placeLongValueRow(uint32_t page, const uint8_t* data, size_t n, uint32_t& ref);
    bool placeInEmptySlot(uint32_t page, const uint8_t* data, size_t n, uint32_t& ref);
    // A page of the column's long-value free-space map that takes the row.
    bool placeOnLongValueRoom(StoredTable& t, int col, const uint8_t* data, size_t n, uint32_t& ref);
    // The room a removed long-value row left on its page, for the column's
    // long values that follow.
    void longValueRoomLeft(StoredTable& t, int col, uint32_t page);
    StoredTable::LongValueRoom& longValueRoom(StoredTable& t, const LongValueMaps& maps);
    void noteLongValueRoom(StoredTable::LongValueRoom& room, uint32_t page);
    void dropEmptyLastSlots(uint32_t page);
    uint32_t putLongValueChain(StoredTable& t, int col, const std::vector<uint8_t>& data);
    void placeLongValues(StoredTable& t, const std::vector<Value>& values, size_t nvar, size_t nlongs, size_t rowSize);
    const Value* valueToStore(StoredTable& t, size_t k, const Value& v, Value& autoValue);
    void encodeRow(StoredTable& t, const std::vector<Value>& values, std::vector<uint8_t>& out);
    // Access 97 rows (row_codec3.cpp).
    void encodeRow3(StoredTable& t, const std::vector<Value>& values, std::vector<uint8_t>& out);
    void encodeFixed3(const StoredColumn& c, ColType type, const Value& v, std::vector<uint8_t>& out,
                      uint32_t& autoNumber) const;
    void encodeVariableSlot3(const StoredColumn& c, ColType type, const Value& v, size_t nvar, size_t& nlongs);
    void insertInto(StoredTable& t, const std::vector<Value>& values);
    void createTableNow(const std::string& name, const std::vector<ColumnDef>& columns);
    void writeGlobalMapPage();
    std::vector<StoredColumn> systemColumns(const std::vector<SystemColumn>& defs) const;
    void writeSystemTable(const SystemTable& d, uint32_t tdefPage);
    size_t dropTableNow(const std::string& name);  // the pages given back
    // The steps of creating and dropping a table (tables.cpp).
    std::vector<StoredColumn> newColumns(const std::vector<ColumnDef>& defs) const;
    uint32_t placeUsageMap(uint32_t& mapPage, const std::vector<uint8_t>& row);
    void registerTable(const std::string& name, uint32_t tdefPage, const std::vector<ColumnDef>& defs);
    void requireDroppable(const StoredTable& t, const std::string& stored);
    std::vector<uint32_t> tablePages(const StoredTable& t);
    void addMapPages(const StoredTable& t, uint32_t ref, bool contents, std::vector<uint32_t>& pages);
    void freeCatalogLongValues(uint32_t rowRef);
    // `reclaim` (UPDATE and DELETE): the rows' space goes back to their
    // pages, for the column's long values that follow.
    void freeLongValues(StoredTable& t, uint32_t rowRef, bool reclaim = false);
    // UPDATE and DELETE (row_changes.cpp).
    struct ChangeRun;
    void changeEveryRow(ChangeRun& run);
    void eachRowOnce(StoredTable& t, const std::unordered_map<uint32_t, uint32_t>& firstPlaced,
                     const std::function<void(uint32_t)>& fn);
    void changeRow(ChangeRun& run, uint32_t ref);
    void forgetKeys(StoredTable& t, const std::vector<Value>& old);
    void removeChangedRow(StoredTable& t, uint32_t ref, const std::vector<Value>& old);
    uint32_t storeChangedRow(StoredTable& t, uint32_t ref, const std::vector<Value>& old, const std::vector<Value>& now,
                             std::vector<uint8_t>& row);
    void checkChangedKeys(StoredTable& t, const std::vector<Value>& old, const std::vector<Value>& now);
    void noteChangedKeys(StoredTable& t, const std::vector<Value>& old, const std::vector<Value>& now, uint32_t from,
                         uint32_t to);
    void finishChanges();
    bool rowLive(uint32_t ref);
    void removeRow(uint32_t ref);
    // What the running UPDATE or DELETE changed in one table, so that its
    // rows are found by key through indexes written before the statement:
    // rows stored again elsewhere (earlier place -> new one) and, per index,
    // the rows the statement gave a key. Bounded: past kMaxNoted entries they
    // are dropped and the table's indexes are rebuilt before the next lookup.
    struct StatementRows {
        std::unordered_map<uint32_t, uint32_t> moved;
        std::unordered_map<std::string, std::vector<uint32_t>> rekeyed;  // index number byte + key -> rows
        // Of the data pages that took rows stored again: the first such row
        // (they are not offered to the statement again).
        std::unordered_map<uint32_t, uint32_t> firstPlaced;
        size_t noted = 0;
        bool refresh = false;
        int64_t removed = 0;
        bool changed = false;
    };
    static constexpr size_t kMaxNoted = size_t(1) << 16;
    // Rows of related tables that follow a change of the one side
    // (keys/related_rows.cpp): the rows of `table` whose index `real` holds
    // `key` are removed, or given `set` (column position -> value).
    struct Cascade {
        uint32_t table = 0;
        uint32_t real = 0;
        std::string key;
        bool remove = false;
        std::vector<std::pair<size_t, Value>> set;
    };
    void cascadeFrom(StoredTable& one, const std::vector<Value>& old, const std::vector<Value>* now,
                     std::vector<Cascade>& out);
    bool relatedCascade(StoredTable& one, const LogicalIndex& l, const std::vector<Value>& old,
                        const std::vector<Value>* now, Cascade& c);
    void runCascades(std::vector<Cascade>& pending);
    void applyCascade(const Cascade& c, std::vector<Cascade>& pending);
    // The live rows of t whose key in its real index `real` is `key`: the
    // index descended, with the running statement's changes (index_ranges.cpp
    // walks the leaves); a pending index is rebuilt first.
    void keyRows(StoredTable& t, size_t real, const std::string& key, std::vector<uint32_t>& out);
    bool keyHeld(StoredTable& t, size_t real, const std::string& key);
    uint32_t currentRef(const StatementRows* s, uint32_t ref);
    bool rowHasKey(StoredTable& t, size_t real, const std::string& key, uint32_t ref);
    void keyEntries(const StoredTable& t, const StoredIndex& ix, const std::string& key, std::vector<uint32_t>& refs);
    std::unordered_map<uint32_t, StatementRows> changing_;  // by table page, while an UPDATE or DELETE runs
    std::unordered_set<uint32_t> rebuiltInStatement_;       // pending indexes rebuilt by the running statement
    // Rows through an index (index_ranges.cpp). A span of keys: from `low`
    // (empty: the first) up to the keys that begin with, or come before,
    // `high` (none: the last).
    struct IndexSpan {
        std::vector<uint8_t> low;
        std::optional<std::vector<uint8_t>> high;
    };
    using KeySpanList = std::vector<IndexSpan>;
    bool keyableForQueries(const StoredColumn& c) const;
    bool keySpans(const StoredColumn& c, bool asc, const ValueRange& r, std::vector<KeySpanList>& out) const;
    bool indexedRows(StoredTable& t, const std::vector<ValueRange>& where, std::vector<uint32_t>& refs);
    static KeySpanList narrowest(std::vector<KeySpanList>& lists);
    void indexEntries(uint32_t page, const uint8_t* p, std::vector<std::vector<uint8_t>>& out) const;
    uint32_t firstLeaf(const StoredTable& t, const StoredIndex& ix, const IndexSpan& s,
                       std::vector<std::vector<uint8_t>>& entries);
    void spanRows(const StoredTable& t, const StoredIndex& ix, const IndexSpan& s, std::vector<uint32_t>& refs);
    template <class Fn>
    void walkSpan(const StoredTable& t, const StoredIndex& ix, const IndexSpan& s, Fn fn);
    const uint8_t* indexPage(const StoredTable& t, uint32_t page, int depth);
    uint32_t liveRowOf(const StoredTable& t, uint32_t ref);
    // ALTER TABLE on a column (keys/columns.cpp).
    struct ColumnPlan;
    void changeColumnNow(const ColumnChange& change, const ValueConverter& convert);
    ColumnPlan planColumns(const StoredTable& t, const ColumnChange& change) const;
    void planAdd(const StoredTable& t, const ColumnDef& def, ColumnPlan& plan) const;
    void planAlter(const StoredTable& t, const ColumnDef& def, size_t k, ColumnPlan& plan) const;
    void planLongValueMaps(StoredTable& t, ColumnPlan& plan);
    void rewriteRows(StoredTable& t, StoredTable& now, const ColumnPlan& plan, const ColumnChange& change,
                     const ValueConverter& convert);
    std::vector<uint8_t> alteredDefinition(const StoredTable& t, const StoredTable& now);
    void dropLongValueMaps(const std::vector<LongValueMaps>& maps);
    // Properties (keys/properties.cpp) and validation rules
    // (keys/validation.cpp): a row a rule prohibits is refused (3317).
    void setPropertiesNow(const PropertyChange& change);
    void setRequired(StoredTable& t, size_t k, bool on);
    void requirePropertyValues(StoredTable& t, int k, const PropertyChange& change);
    void actOnProperties(StoredTable& t, const CatalogEntry& entry, int k);
    void checkRules(StoredTable& t, const std::vector<Value>& row);
    void loadRules(StoredTable& t);
    // Whether another column's rule or the table's names column k.
    bool ruleNeeds(StoredTable& t, size_t k);
    CatalogEntry& tableEntry(const std::string& stored);

public:
    // Why a stored rule of the table cannot be enforced (column empty: the
    // table's own rule), or empty when it can.
    std::string ruleProblem(const StoredTable& t, const std::string& column, const std::string& rule) const;

private:
    Bytes propertiesOf(const CatalogEntry& e);
    void setProperties(CatalogEntry& e, const Bytes& list);
    // Runs one statement: when it fails, every page it changed is put back
    // and the in-memory view of the tables is read again from them.
    template <class F>
    void atomically(F&& body) {
        rebuiltInStatement_.clear();
        pager_->beginStatement();
        try {
            body();
            // With no interval every statement is a durability point of
            // its own, undone as a whole when it cannot be written.
            if (durableEvery_.count() == 0) {
                refreshIndexes();
                pager_->commit();
                lastDurable_ = std::chrono::steady_clock::now();
            }
        } catch (...) {
            if (pager_->statementChanged()) {
                if (durableEvery_.count() == 0) pager_->restoreFile();
                pager_->rollbackStatement();
                reloadAfterUndo();
            } else {
                pager_->endStatement();
            }
            throw;
        }
        pager_->endStatement();
    }
    void reloadAfterUndo();
    // A durability point when the last one is older than the interval.
    void afterStatement();
    void makeDurable();
    // A durability point now, when durability points are timed; a failure
    // is left for the next one (at the latest close()) to report.
    void makeDurableQuietly();
    void setRowCount(StoredTable& t, uint32_t count);
    void deleteRow(StoredTable& t, uint32_t ref);
    void rebuildIndexes(StoredTable& t);
    // Keys (keys.cpp): statements, and the check of a new row's relationships.
    void createIndexNow(const IndexDef& d);
    void dropIndexNow(const std::string& table, const std::string& name, bool constraint);
    void addRelationshipNow(const RelationshipDef& d);
    void dropRelationshipNow(const RelationshipDef& r);
    void checkRelated(StoredTable& t, const std::vector<uint8_t>& row);
    // The steps of adding a relationship (relationships.cpp).
    struct RelationshipKey {
        std::vector<int> manyCols, oneCols;  // column numbers, paired
        int real = -1;                       // the one side's unique index
    };
    RelationshipKey relationshipKey(const RelationshipDef& d, const StoredTable& many, const StoredTable& one,
                                    bool unique = true) const;
    void recordRelationship(const RelationshipDef& d, const RelationshipKey& k, uint32_t manyPage, uint32_t onePage);
    void requireRelatedRows(StoredTable& many, StoredTable& one, const RelationshipKey& k);
    void addForeignKeyIndexes(const RelationshipDef& d, StoredTable& many, StoredTable& one, const RelationshipKey& k);
    void addOneSideIndex(IndexSections& y, const LogicalIndex& manyIx, uint32_t manyPage, uint32_t real) const;
    bool relatedKey(const StoredTable& many, const LogicalIndex& l, const StoredTable& one, const LogicalIndex& partner,
                    const std::vector<Value>& v, std::vector<uint8_t>& e) const;
    std::vector<int> indexColumns(const StoredTable& t, const std::vector<std::string>& names) const;
    std::unordered_set<std::string>& uniqueKeysOf(StoredTable& t, size_t real);
    std::string rowKey(const StoredTable& t, const StoredIndex& ix, const std::vector<Value>& v,
                       IndexNulls& nulls) const;
    uint32_t newIndexPages(StoredTable& t, StoredIndex& ix);
    // The index part of a definition (index_definitions.cpp): read, changed,
    // and written back with the rest of the definition as it was.
    IndexSections indexSections(const StoredTable& t);
    void writeIndexSections(StoredTable& t, IndexSections x);
    void putDefinitionName(std::vector<uint8_t>& s, const std::string& name) const;
    std::string indexNameOrder(const std::string& name) const;
    std::vector<uint8_t> definitionStream(const StoredTable& t);
    void rewriteDefinition(StoredTable& t, const std::vector<uint8_t>& s);
    void removeLogical(StoredTable& t, IndexSections& x, uint32_t number);
    void renumberPartner(const StoredTable& t, uint32_t page, uint32_t from, uint32_t to);
    void refreshIndexes();
    void checkUnique(StoredTable& t, const std::vector<uint8_t>& row);
    void requireKeyable(const StoredTable& t) const;

public:
    IndexKeyReport compareIndexKeys();

private:
    std::vector<uint8_t> buildTdef(const std::string& name, uint8_t tableType, const std::vector<StoredColumn>& cols,
                                   const std::vector<StoredIndex>& idx, const std::vector<std::string>& idxNames,
                                   const std::vector<uint8_t>& idxTypes, const std::vector<LongValueMaps>& lv,
                                   uint32_t owned, uint32_t freeMap);
    // An Access 97 table definition (table_definition3.cpp).
    // System tables also have indexes (a new file's).
    struct SystemIndexes {
        std::vector<StoredIndex> reals;
        std::vector<std::string> names;
        std::vector<uint8_t> kinds;
    };
    std::vector<uint8_t> buildTdef3(const std::vector<StoredColumn>& cols, const std::vector<LongValueMaps>& lv,
                                    uint32_t owned, uint32_t freeMap, const SystemIndexes& system = {}) const;
    void writeHeader3(const std::string& password);
    void writeTdef(uint32_t firstPage, const std::vector<uint8_t>& tdef);
    void writeHeader(const std::string& password, double created);
    void addCatalogRow(const std::string& name, uint32_t id, uint32_t parent, int type, uint32_t flags,
                       const Bytes& owner, double when, const ColumnProperties& properties = {});
    // A catalog object with the permissions its container gives, and its
    // removal with its permissions.
    void addObject(const std::string& name, uint32_t id, uint32_t parent, int type,
                   const ColumnProperties& properties = {});
    void removeObject(std::vector<CatalogEntry>::iterator e);
    void removeAces(uint32_t objectId);
    void addAces(uint32_t objectId, const std::vector<std::pair<Bytes, std::pair<uint32_t, bool>>>& aces);
    std::vector<Bytes> acesOf(StoredTable& aces, uint32_t objectId);

    std::unique_ptr<Pager> pager_;
    FileFormat format_ = FileFormat::Jet4;
    // Access 97 (Jet 3): 2048-byte pages, narrower page/row/definition
    // fields, text in the code page of the header.
    bool jet3_ = false;
    uint32_t ps_ = kPageSize;
    uint32_t rowsAt_ = datapage::kRowCount;  // data page: offset of the row count (Jet 3: kRowCount3)
    unsigned codePage_ = 1252;
    uint16_t sortLcid_ = 1033;
    uint8_t sortVersion_ = 0;
    std::vector<CatalogEntry> catalog_;
    std::unordered_map<std::string, std::vector<size_t>> catalogByKey_;  // catalogEntriesNamed
    bool catalogIndexed_ = false;
    std::unordered_map<uint32_t, std::vector<Bytes>> parentSids_;        // a container's permission holders
    std::unordered_map<uint32_t, std::unique_ptr<StoredTable>> tables_;  // by TDEF page
    // Pages below the end of the file that the global map marks free, read
    // from it once per session and kept in step with it.
    std::vector<uint64_t> freeBits_;
    size_t freeCount_ = 0;
    uint32_t lowestFree_ = 0;  // no free page below this one
    bool freeKnown_ = false;
    StoredTable* last_ = nullptr;  // last table written to
    std::string lastName_;
    uint64_t statementsSinceCheck_ = 0;
    std::chrono::milliseconds durableEvery_ = durabilityInterval();
    std::unordered_map<uint32_t, std::vector<bool>> notNullByPage_;  // NOT NULL of tables made here
    std::unordered_map<uint32_t, std::vector<bool>> unitNotNull_;    // the same at beginUnit()
    std::vector<std::vector<uint8_t>> varBuf_;
    std::vector<uint8_t> longValueBuf_;  // a memo's bytes, read row after row
    std::chrono::steady_clock::time_point lastDurable_ = std::chrono::steady_clock::now();
    friend class JetCursor;
    friend class Checker;
    friend class IndexBuilder;
};

}  // namespace tp::db::jet
