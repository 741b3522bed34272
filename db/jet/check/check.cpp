// The integrity check: header, global map, catalog, table definitions, rows,
// long values and page owners (index walks: check_indexes.cpp).
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <unordered_set>

#include "db/jet/check/check.h"
#include "db/jet/check/checker.h"
#include "db/jet/tables/row_codec.h"

namespace tp::db::jet {

void Checker::add(Fingerprint& f, const uint8_t* p, size_t n) {
    auto hash = [&](uint64_t h) {
        size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            uint64_t w;
            std::memcpy(&w, p + i, 8);
            h = (h ^ w) * 0x9E3779B97F4A7C15ull;
            h ^= h >> 31;
        }
        uint64_t w = 0;
        std::memcpy(&w, p + i, n - i);
        h = (h ^ w ^ (uint64_t(n) << 56)) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 27;
        h *= 0x94D049BB133111EBull;
        return h ^ (h >> 31);
    };
    ++f.count;
    f.a += hash(0x243F6A8885A308D3ull);
    f.b += hash(0x13198A2E03707344ull);
}

CheckReport Checker::run(const std::string& path) {
    claimsKnown_ = true;
    pages_ = pg_.pageCount();
    ps_ = db_.ps_;
    owners_.push_back("");
    claim_.assign(pages_, 0);
    free_.assign(pages_, false);
    seenIndexPage_.assign(pages_, false);
    bitmapPage_.assign(pages_, false);
    const uint32_t header = newOwner("the database header");
    const uint32_t global = newOwner("the global page map");
    mapsOwner_ = newOwner("the usage maps");
    checkHeader(path);
    if (pages_ > 0) claim(0, header);
    if (pages_ > 1) claim(1, global);
    loadGlobalMap();
    checkCatalog();
    // Tables: every catalog row of a table (MSysObjects at page 2 always).
    std::vector<std::pair<uint32_t, std::string>> tables;
    tables.emplace_back(2, "MSysObjects");
    for (const CatalogEntry& e : db_.catalog_)
        if ((e.type & 0x7F) == 1 && (e.id & 0x00FFFFFF) != 2) tables.emplace_back(e.id & 0x00FFFFFF, e.name);
    for (const auto& [page, name] : tables) {
        if (full()) break;
        try {
            checkTable(page, name);
        } catch (const Error& e) {
            problem("table '" + name + "': cannot be checked further: " + what(e));
        }
    }
    try {
        if (!full()) checkKeys(tables);
    } catch (const Error& e) {
        problem("the keys and relationships: cannot be checked further: " + what(e));
    }
    try {
        if (!full()) checkPages();
    } catch (const Error& e) {
        problem("the pages: cannot be checked further: " + what(e));
    }
    if (dropped_ > 0) problems_.push_back("... and " + std::to_string(dropped_) + " more problems");
    return {std::move(problems_), std::move(warnings_), std::move(notes_)};
}

void Checker::checkHeader(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size % ps_ != 0)
        problem("the file: its length " + std::to_string(size) + " is not a whole number of " + std::to_string(ps_) +
                "-byte pages");
    const std::string journal = journalPath(path);
    if (std::filesystem::exists(journal, ec))
        problem("the file: a rollback journal '" + journal +
                "' lies beside it (a writer is at work, or stopped before finishing; opening the database once "
                "with write access puts it back as last committed)");
    if (pages_ < 3) problem("the file: too short to hold a database (" + std::to_string(pages_) + " pages)");
}

// The global page map (row 0 of page 1): an inline bitmap from a start page,
// or, in files past about 128 MB, a reference map whose bitmap pages (type
// 0x05) cover (page size - 4) * 8 pages each. A set bit marks a free page;
// pages the map does not cover count as in use (as for the writer).
void Checker::loadGlobalMap() {
    if (pages_ < 2) return;
    try {
        const uint8_t* p = pg_.read(1);
        if (!isPage(p, PageType::Data) || decodeLE32(p + page::kOwner) != 1)
            problem(pageText(1) + ": the global page map's page has a wrong header");
        auto [row, n] = db_.findRow(1u << 8);
        if (n >= usagemap::kBitmap && row[0] == usagemap::kInline) {
            const uint32_t start = decodeLE32(row + usagemap::kStart);
            for (uint64_t bit = 0; bit < uint64_t(n - usagemap::kBitmap) * 8 && start + bit < pages_; ++bit)
                if (row[usagemap::kBitmap + bit / 8] & (1u << (bit % 8))) free_[start + bit] = true;
            return;
        }
        if (n < 1 || row[0] != usagemap::kReference) {
            problem(pageText(1) + ": the global page map is of an unknown kind");
            return;
        }
        std::vector<uint32_t> refs;
        for (size_t j = 0; usagemap::ref(j + 1) <= n; ++j) refs.push_back(decodeLE32(row + usagemap::ref(j)));
        const uint64_t perPage = usagemap::pagesPerBitmapPage(ps_);
        for (size_t j = 0; j < refs.size() && j * perPage < pages_; ++j) loadGlobalBitmap(refs[j], j * perPage);
    } catch (const Error& e) {
        problem(pageText(1) + ": the global page map cannot be read: " + what(e));
    }
}

// One bitmap page of a reference global map, covering the pages from first.
void Checker::loadGlobalBitmap(uint32_t bp, uint64_t first) {
    if (bp == 0) return;
    if (bp >= pages_) {
        problem(pageText(1) + ": the global page map names " + pageText(bp) + ", outside the file");
        return;
    }
    if (!claim(bp, claim_[1])) return;
    bitmapPage_[bp] = true;
    const uint8_t* b = pg_.read(bp);
    if (!isPage(b, PageType::UsageBitmap)) {
        problem(pageText(bp) + ": a page of the global page map, but not a usage-map page (type " +
                std::to_string(b[0]) + ")");
        return;
    }
    const uint64_t perPage = usagemap::pagesPerBitmapPage(ps_);
    for (uint64_t i = 0; i < perPage && first + i < pages_; ++i)
        if (b[usagemap::kBitmapPageData + i / 8] & (1u << (i % 8))) free_[first + i] = true;
}

void Checker::checkCatalog() {
    std::unordered_set<uint32_t> ids;
    for (const CatalogEntry& e : db_.catalog_) ids.insert(e.id);
    for (const CatalogEntry& e : db_.catalog_) {
        const std::string object = "catalog row '" + e.name + "' (" + refText(e.rowRef) + ")";
        if (e.parentId != kTablesParent && !ids.count(e.parentId))
            problem(object + ": its parent " + std::to_string(e.parentId) + " is not in the catalog");
        if ((e.type & 0x7F) != 1) continue;
        const uint32_t page = e.id & 0x00FFFFFF;
        if (page < 2 || page >= pages_) {
            problem(object + ": names table definition page " + std::to_string(page) + ", outside the file");
            continue;
        }
        auto [it, fresh] = tdefs_.emplace(page, e.name);
        if (!fresh) problem(object + ": names the table definition of '" + it->second + "' (" + pageText(page) + ")");
        const uint8_t* p = pg_.read(page);
        if (!isPage(p, PageType::TableDef)) {
            problem(object + ": names " + pageText(page) + ", which is not a table definition");
            continue;
        }
        const uint8_t type = p[db_.layout().tdef.tableType];
        if (type != kUserTable && type != kSystemTable)
            problem(object + ", " + pageText(page) + ": unknown table type " + std::to_string(type));
        else if (type == kSystemTable && !(e.flags & 0x80000002u))
            problem(object + ", " + pageText(page) + ": a system table definition for a catalog row that is not one");
    }
}

void Checker::checkTable(uint32_t page, const std::string& name) {
    TableRun r;
    r.name = name;
    const std::string object = "table '" + name + "'";
    r.owner = newOwner(object);
    if (page >= pages_) return;  // reported with the catalog
    try {
        r.t = db_.loadTable(page, name);
    } catch (const Error& e) {
        claim(page, r.owner);
        problem(object + ", " + pageText(page) + ": its definition cannot be read: " + what(e));
        return;
    }
    for (uint32_t p : r.t.tdefPages) claim(p, r.owner);
    checkDefinition(r);
    checkProperties(r.t);
    if (full()) return;
    const bool ownedOk = claimDataPages(r, object);
    // Long-value pages of each Memo/OLE column.
    r.lvOwner.assign(r.t.columns.size(), 0);
    std::unordered_map<uint32_t, uint32_t> lvByMap;
    for (const LongValueMaps& m : r.t.longValueMaps) claimLongValuePages(r, m, lvByMap);
    // Indexes: their pages first (so that rows can be told from them).
    setupIndexes(r, true);
    for (size_t i = 0; i < r.t.indexes.size(); ++i) claimIndexPages(r, i);
    if (full()) return;
    // Rows: every live row decodes, long values, keys.
    const uint32_t found = scanRows(r, true, [&](uint32_t ref, uint32_t indexRef, const uint8_t* row, size_t n) {
        checkRow(r, ref, indexRef, row, n);
    });
    if (ownedOk && found != r.t.rowCount)
        warning(object + ", " + pageText(page) + ": its definition counts " + std::to_string(r.t.rowCount) +
                " rows, but it holds " + std::to_string(found));
    for (size_t i = 0; i < r.ix.size() && !full(); ++i)
        if (r.ix[i].usable) checkIndex(r, i);
}

// The data pages of a table's owned-pages map, and its free-space map
// against them; false when the owned-pages map cannot be read.
bool Checker::claimDataPages(TableRun& r, const std::string& object) {
    std::vector<uint32_t> owned, freeList;
    if (!mapPages(r.t.ownedMap, r.owner, object + " (owned pages)", owned)) return false;
    for (uint32_t p : owned) claim(p, r.owner);  // their type is seen when the rows are read
    if (mapPages(r.t.freeMap, r.owner, object + " (free-space map)", freeList))
        for (uint32_t p : freeList)
            if (!std::binary_search(owned.begin(), owned.end(), p))
                problem(object + ", " + pageText(p) + ": in its free-space map but not in its owned-pages map");
    return true;
}

// The long-value pages of one Memo/OLE column (columns sharing maps share
// their owner).
void Checker::claimLongValuePages(TableRun& r, const LongValueMaps& m,
                                  std::unordered_map<uint32_t, uint32_t>& lvByMap) {
    const std::string object = "table '" + r.name + "'";
    size_t k = 0;
    while (k < r.t.columns.size() && r.t.columns[k].number != m.column) ++k;
    if (k == r.t.columns.size() || !(r.t.columns[k].isLong() || r.t.columns[k].calculated())) {
        problem(object + ", " + pageText(r.t.page) + ": long-value usage maps for column number " +
                std::to_string(m.column) + ", which is not a Memo or OLE column");
        return;
    }
    const std::string colObject = object + " column '" + r.t.columns[k].name + "'";
    auto known = lvByMap.find(m.owned);
    if (known != lvByMap.end()) {
        r.lvOwner[k] = known->second;
        return;
    }
    const uint32_t who = newOwner("the long values of " + colObject);
    lvByMap[m.owned] = who;
    r.lvOwner[k] = who;
    std::vector<uint32_t> lv, lvFree;
    if (!mapPages(m.owned, who, colObject + " (long-value pages)", lv)) return;
    for (uint32_t p : lv) {
        if (!claim(p, who)) continue;
        uint8_t d[8];
        pg_.peek(p, d, sizeof d);
        if (!isPage(d, PageType::Data) || std::memcmp(d + datapage::kOwner, datapage::kLongValueMark, 4) != 0)
            problem(colObject + ", " + pageText(p) + ": in its long-value map, but not a long-value page");
    }
    if (mapPages(m.free, who, colObject + " (long-value free space)", lvFree))
        for (uint32_t p : lvFree)
            if (!std::binary_search(lv.begin(), lv.end(), p))
                problem(colObject + ", " + pageText(p) +
                        ": in its long-value free-space map but not in its long-value map");
}

// The pages of index i's usage map (an index whose map cannot be read is
// not walked).
void Checker::claimIndexPages(TableRun& r, size_t i) {
    const StoredIndex& ix = r.t.indexes[i];
    IndexState& s = r.ix[i];
    std::vector<uint32_t> ixPages;
    if (!mapPages(ix.mapRef, s.owner, owners_[s.owner] + " (its pages)", ixPages)) {
        s.usable = false;
        return;
    }
    for (uint32_t p : ixPages) {
        if (!claim(p, s.owner)) continue;
        uint8_t d[8];
        pg_.peek(p, d, sizeof d);
        if ((!isPage(d, PageType::IndexNode) && !isPage(d, PageType::IndexLeaf)) || decodeLE32(d + page::kOwner) != r.t.page)
            problem(owners_[s.owner] + ", " + pageText(p) + ": in its usage map, but not one of its pages (type " +
                    std::to_string(d[0]) + ")");
    }
}

void Checker::setupIndexes(TableRun& r, bool report) {
    const std::string object = "table '" + r.name + "'";
    r.needValue.assign(r.t.columns.size(), false);
    r.ix.resize(r.t.indexes.size());
    for (size_t i = 0; i < r.t.indexes.size(); ++i) {
        const StoredIndex& ix = r.t.indexes[i];
        IndexState& s = r.ix[i];
        s.owner = newOwner("index " + std::to_string(i) + " of " + object);
        s.usable = !ix.columns.empty();
        for (int cn : ix.columns) {
            size_t k = 0;
            while (k < r.t.columns.size() && r.t.columns[k].number != cn) ++k;
            if (k == r.t.columns.size()) {
                if (report)
                    problem(owners_[s.owner] + ", " + pageText(r.t.page) + ": indexes column number " +
                            std::to_string(cn) + ", which the table does not have");
                s.usable = false;
                break;
            }
            setupIndexColumn(r, s, k);
        }
        if (report && s.usable && !s.keyed())
            notes_.push_back(owners_[s.owner] + ": keys not verified (" + s.unverified +
                             "); its entries were matched with the rows one to one");
    }
}

// Column k of an index: its value is needed, and whether its keys can be
// recomputed.
void Checker::setupIndexColumn(TableRun& r, IndexState& s, size_t k) {
    s.pos.push_back(k);
    r.needValue[k] = true;
    const StoredColumn& c = r.t.columns[k];
    const ColType type = typeOf(c.rawType);
    if (type == ColType::Text || type == ColType::Memo) {
        s.text = true;
        const SortOrder order = columnSortOrder(c.misc, db_.sortOrder());
        if (!sortOrderSupported(order) && s.unverified.empty()) {
            s.otherOrder = true;
            s.unverified =
                "column '" + c.name + "' sorts by " + sortOrderName(order) + ", whose keys this check cannot compute";
        }
    } else if (s.unverified.empty() &&
               (c.calculated() || type == ColType::OLE || (type == ColType::Binary && !c.is(ColType::Binary)))) {
        s.unverified = "column '" + c.name + "' is " +
                       (c.calculated() ? std::string("calculated") : "of a type whose keys this check cannot compute");
    }
}

// The length the definition's first page gives against the bytes its pages
// hold: the definition must fit them, and its last page must be needed.
void Checker::checkDefinitionLength(const TableRun& r) {
    const StoredTable& t = r.t;
    const std::string object = "table '" + r.name + "', " + pageText(t.page);
    const size_t lastPage = t.tdefPages.size() > 1 ? ps_ - kTdefContinuation : 0;
    if (t.definitionLength > t.definitionBytes)
        problem(object + ": its definition is " + std::to_string(t.definitionLength) +
                " bytes long, but its pages hold " + std::to_string(t.definitionBytes));
    else if (t.definitionLength + lastPage <= t.definitionBytes && lastPage != 0)
        problem(object + ": its definition is " + std::to_string(t.definitionLength) + " bytes long, but it has " +
                std::to_string(t.tdefPages.size()) + " pages");
    else if (t.definitionEnd > t.definitionLength && t.definitionEnd != 0)
        problem(object + ": its definition is " + std::to_string(t.definitionLength) +
                " bytes long, but its parts take " + std::to_string(t.definitionEnd));
}

void Checker::checkDefinition(TableRun& r) {
    const StoredTable& t = r.t;
    const std::string object = "table '" + r.name + "', " + pageText(t.page);
    if (int(t.columns.size()) != t.numCols || t.numCols > t.maxCols)
        problem(object + ": " + std::to_string(t.numCols) + " columns, but at most " + std::to_string(t.maxCols));
    ColumnTally tally;
    checkDefinitionLength(r);
    for (const StoredColumn& c : t.columns) checkColumnDefinition(t, c, object, tally);
    // More variable columns than the count: rows are read wrong. Fewer:
    // Access leaves the count of a deleted column behind.
    if (tally.varCount > t.varCols)
        problem(object + ": counts " + std::to_string(t.varCols) + " variable columns, but has " +
                std::to_string(tally.varCount));
    else if (tally.varCount < t.varCols)
        warning(object + ": counts " + std::to_string(t.varCols) + " variable columns, but has " +
                std::to_string(tally.varCount));
    auto& fixedAreas = tally.fixedAreas;
    std::sort(fixedAreas.begin(), fixedAreas.end());
    for (size_t i = 1; i < fixedAreas.size(); ++i)
        if (fixedAreas[i].first < fixedAreas[i - 1].second) {
            problem(object + ": fixed columns overlap at offset " + std::to_string(fixedAreas[i].first));
            break;
        }
    for (const StoredColumn& c : t.columns) {
        if (!c.isLong()) continue;
        bool listed = false;
        for (const LongValueMaps& m : t.longValueMaps) listed |= m.column == c.number;
        if (!listed) problem(object + ": column '" + c.name + "' has no long-value usage maps");
    }
}

void Checker::checkColumnDefinition(const StoredTable& t, const StoredColumn& c, const std::string& object,
                                    ColumnTally& tally) {
    const std::string col = object + ": column '" + c.name + "'";
    if (!tally.numbers.insert(c.number).second)
        problem(col + ": its number " + std::to_string(c.number) + " is used twice");
    if (c.number >= t.maxCols)
        problem(col + ": its number " + std::to_string(c.number) + " is not below the column count " +
                std::to_string(t.maxCols));
    // A type of fixed size has that length, stored in the fixed part of
    // the row or (as Access does for some system columns) in the variable
    // part: a reader takes the type's size from the length.
    // (Decimal columns keep a length of their own: 9 in some Access
    // files, 17 in others.)
    const int need = fixedSizeOf(typeOf(c.rawType));
    const bool sized = need > 0 && !c.calculated() && !c.is(ColType::Numeric);
    if (sized && c.length != need)
        problem(col + ": " + std::to_string(c.length) + " bytes for a type of " + std::to_string(need));
    if (c.fixed()) {
        if (!c.is(ColType::Bool)) tally.fixedAreas.emplace_back(c.fixedOffset, c.fixedOffset + c.length);
        return;
    }
    ++tally.varCount;
    if (!tally.varIndexes.insert(c.varIndex).second || c.varIndex >= t.varCols)
        problem(col + ": its variable-column index " + std::to_string(c.varIndex) + " is used twice or too large");
    if ((c.is(ColType::Text) && c.length > (db_.jet3_ ? 255 : 510)) || (c.is(ColType::Binary) && c.length > 510))
        problem(col + ": length " + std::to_string(c.length) + " is too large");
}

// A page nothing owns whose content still claims a table: a data page with
// live rows that its table's map does not list, an index page outside every
// index map. Access itself leaves both behind (a warning), and also
// long-value pages of removed values, data pages whose rows are all deleted,
// table definitions of removed tables, released pages (types 8 and 9) and
// zero pages outside every map, in use or not; they hold nothing a reader
// could reach.
void Checker::checkPages() {
    for (uint32_t p = 0; p < pages_ && !full(); ++p) {
        if (claim_[p] != 0) {
            if (free_[p])
                problem(pageText(p) + ": belongs to " + owners_[claim_[p]] + ", but the global page map marks it free");
            else if (indexOwners_.count(claim_[p]) && !seenIndexPage_[p] && !bitmapPage_[p])
                problem(pageText(p) + ": in the usage map of " + owners_[claim_[p]] + ", but not in its tree");
            continue;
        }
        if (free_[p]) continue;
        if ((p & 1023) == 0) pg_.trim();
        checkUnownedPage(p);
    }
}

// A page in use that no map claims.
void Checker::checkUnownedPage(uint32_t p) {
    const uint8_t* d = pg_.read(p);
    const uint32_t owner = decodeLE32(d + page::kOwner);
    auto table = tdefs_.find(owner);
    const std::string of = table != tdefs_.end() ? "table '" + table->second + "'" : "";
    if (of.empty()) return;
    if (isPage(d, PageType::Data)) {
        const uint32_t count = decodeLE16(d + db_.rowsAt_);
        bool live = false;
        for (uint32_t r = 0; r < count && db_.rowsAt_ + 4 + 2 * r <= ps_ && !live; ++r)
            live = (decodeLE16(d + db_.rowsAt_ + 2 + 2 * r) & 0xC000) != 0xC000;
        // Access leaves such pages behind (rows of its navigation pane's
        // tables); no reader that follows the map sees their rows.
        if (live) warning(pageText(p) + ": a data page of " + of + " with rows that its owned-pages map does not list");
    } else if (isPage(d, PageType::IndexNode) || isPage(d, PageType::IndexLeaf)) {
        // Reached by no index tree (a page in a tree but outside its
        // index's map is a problem of that index): left allocated.
        warning(pageText(p) + ": an index page of " + of + " outside the usage maps of its indexes");
    }
}

namespace {

// The check of an open database (see check.h).
CheckReport checkOpened(JetDatabase& db, const std::string& path, size_t maxProblems) {
    Checker c(db, maxProblems);
    return c.run(path);
}

}  // namespace

CheckReport checkDatabase(const std::string& path, const std::string& password, size_t maxProblems) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) throw jeterr::fileNotFound(path);
    // Read as it is: no lock, no journal played back.
    const bool jet3 = jet3File(path);
    JetDatabase db(std::make_unique<Pager>(path, true, jet3 ? 2048u : kPageSize, false));
    try {
        db.openExisting(password);
    } catch (const Error& e) {
        if (e.number() == jeterr::kNotValidPassword) throw;
        const std::string prefix = "The database '" + path + "' is damaged: ";
        std::string s = e.what();
        if (s.rfind(prefix, 0) == 0) s = s.substr(prefix.size());
        return {{"the database cannot be opened: " + s}, {}, {}};
    }
    return checkOpened(db, path, maxProblems);
}

}  // namespace tp::db::jet
