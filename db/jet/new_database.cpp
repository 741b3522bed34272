// A new database: the header page, the system tables and their indexes,
// built under a passing name and renamed into place.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "db/jet/storage/crypto.h"
#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

double nowOle() {
    using namespace std::chrono;
    const auto t = system_clock::now();
    const time_t tt = system_clock::to_time_t(t);
    struct tm lt {};
    localtime_r(&tt, &lt);
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000;
    DateTime dt;
    dt.date = {lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday};
    dt.hour = lt.tm_hour;
    dt.minute = lt.tm_min;
    dt.second = lt.tm_sec;
    dt.millisecond = int(ms);
    return toOleDate(dt);
}

namespace {

// Moves a finished file to a name that does not exist yet; false (and errno
// EEXIST) when something appeared there meanwhile.
bool publishFile(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
    // Filesystems without the exclusive rename: a hard link never replaces.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) return false;
    std::error_code ec;
    if (std::filesystem::exists(to, ec)) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

// The new file is built and synced under a passing name in the same folder
// and then renamed into place: the database's name never shows an empty or
// half-made file, and an existing file is never replaced.
std::unique_ptr<Database> Database::create(const std::string& path, const std::string& password, FileFormat format) {
    if (utf8ToUtf16(password).size() > 20) throw jeterr::notValidPassword();
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) throw jeterr::databaseExists();
    const std::filesystem::path target(path);
    std::string building;
    std::unique_ptr<JetDatabase> db;
    for (int attempt = 0; !db; ++attempt) {
        building = (target.parent_path() / ("~" + target.filename().string() + "." + std::to_string(::getpid()) + "-" +
                                            std::to_string(attempt) + ".tmp"))
                       .string();
        try {
            db = std::make_unique<JetDatabase>(
                std::make_unique<Pager>(building, Pager::CreateTag{}, layoutOf(format == FileFormat::Jet3).pageSize));
        } catch (const Error& e) {
            if (e.number() == 3204 && attempt < 100) continue;
            if (e.number() == 3204) throw;
            std::string what = e.what();
            if (auto at = what.find(building); at != std::string::npos) what.replace(at, building.size(), path);
            throw Error(e.number(), what);
        }
    }
    db->setFormat(format);
    try {
        db->createNew(password);
        db->close();
    } catch (...) {
        db.reset();
        std::filesystem::remove(building, ec);
        throw;
    }
    db.reset();
    if (!publishFile(building, path)) {
        const int err = errno;
        std::filesystem::remove(building, ec);
        if (err == EEXIST) throw jeterr::databaseExists();
        throw jeterr::cannotCreateFile(path, std::strerror(err));
    }
    {
        const std::string dir = target.parent_path().string();
        const int d = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (d >= 0) {
            ::fsync(d);
            ::close(d);
        }
    }
    return open(path, password, false);
}

namespace {

uint8_t versionByte(FileFormat format) {
    switch (format) {
    case FileFormat::Ace12: return 0x02;
    case FileFormat::Ace14: return 0x03;
    case FileFormat::Ace16: return 0x05;
    case FileFormat::Ace17: return 0x06;
    default: return 0x01;
    }
}

// The Jet 4 password field: the password's UTF-16 units (none in an .accdb)
// masked with the creation date.
void writePasswordField(uint8_t* h, std::u16string_view pw, double created) {
    const auto mask = coding::passwordMask(created);
    for (size_t i = 0; i < header::kPasswordSize; ++i) {
        uint8_t b = 0;
        if (i / 2 < pw.size()) b = uint8_t(i % 2 ? pw[i / 2] >> 8 : pw[i / 2]);
        h[header::kPassword + i] = b ^ mask[i % 4];
    }
}

}  // namespace

void JetDatabase::writeHeader(const std::string& password, double created) {
    using namespace header;
    if (jet3_) return writeHeader3(password);
    uint8_t* h = pager_->modify(0);
    std::memset(h, 0, kPageSize);
    h[page::kMarker] = page::kMarkerValue;
    const bool ace = format_ != FileFormat::Jet4;
    std::memcpy(h + kFormatId, ace ? kAceId : kJetId, kFormatIdSize);
    h[kVersion] = versionByte(format_);
    if (format_ == FileFormat::Ace14) h[kVersionExtra] = 0x01;
    std::memcpy(h + kConstantWords, kConstantWordsValue, sizeof kConstantWordsValue);
    encodeLE16(h + kCodePage, 1252);
    // An .accdb keeps no password here: with one, its pages are encrypted.
    writePasswordField(h, ace ? std::u16string() : utf8ToUtf16(password), created);
    encodeLE32(h + kUnknown6A, kUnknown6AValue);
    encodeLE16(h + kSortOrder, sortLcid_);
    h[kSortVersion] = sortVersion_;
    std::memcpy(h + kCreated, &created, 8);
    std::memcpy(h + kConstantWords2, kConstantWords2Value, sizeof kConstantWords2Value);
    h[kWordTable] = 0x01;
    h[kWordTable + 1] = 0x01;
    for (int i = 1; i < 256; ++i) {
        h[kWordTable + 2 * i] = 0x00;
        h[kWordTable + 1 + 2 * i] = 0x01;
    }
    std::unique_ptr<PageCipher> cipher;
    if (ace && !password.empty()) {
        // As Access 2010 and later encrypt: Agile (AES-256, SHA-512).
        NewEncryption enc = PageCipher::createAgile(password);
        enc.writeHeader(std::span<uint8_t>(h, kPageSize));
        cipher = std::move(enc.cipher);
    }
    coding::applyHeaderMask(h, h[kVersion]);
    if (cipher) pager_->setCipher(std::move(cipher));
}

// A system table of a new file: its columns and indexes.
struct SystemColumn {
    const char* name;
    ColType type;
    int number;
    uint8_t flags;
};
struct SystemTable {
    const char* name;
    std::vector<SystemColumn> cols;
    std::vector<std::pair<std::vector<int>, uint8_t>> idx;  // columns, flags
    std::vector<std::string> idxNames;
    std::vector<uint8_t> idxTypes;
};

namespace {

// The system tables of a new file, as the engine lays them out.
const std::vector<SystemTable>& systemTables() {
    static const std::vector<SystemTable> defs = {
        {"MSysObjects",
         {{"Id", ColType::Long, 0, 0x13},
          {"ParentId", ColType::Long, 1, 0x13},
          {"Name", ColType::Text, 2, 0x12},
          {"Type", ColType::Int, 3, 0x13},
          {"DateCreate", ColType::DateTime, 4, 0x13},
          {"DateUpdate", ColType::DateTime, 5, 0x13},
          {"Owner", ColType::Binary, 6, 0x32},
          {"Flags", ColType::Long, 7, 0x13},
          {"Database", ColType::Memo, 8, 0x12},
          {"Connect", ColType::Memo, 9, 0x12},
          {"ForeignName", ColType::Text, 10, 0x12},
          {"RmtInfoShort", ColType::Binary, 11, 0x12},
          {"RmtInfoLong", ColType::OLE, 12, 0x12},
          {"Lv", ColType::OLE, 13, 0x12},
          {"LvProp", ColType::OLE, 14, 0x12},
          {"LvModule", ColType::OLE, 15, 0x12},
          {"LvExtra", ColType::OLE, 16, 0x12}},
         {{{1, 2}, 0x81}, {{0}, 0x81}},
         {"ParentIdName", "Id"},
         {0, 1}},
        {"MSysACEs",
         {{"ObjectId", ColType::Long, 0, 0x13},
          {"SID", ColType::Binary, 1, 0x32},
          {"ACM", ColType::Long, 2, 0x13},
          {"FInheritable", ColType::Bool, 3, 0x13}},
         {{{0}, 0x88}},
         {"ObjectId"},
         {0}},
        {"MSysQueries",
         {{"ObjectId", ColType::Long, 0, 0x13},
          {"Attribute", ColType::Byte, 1, 0x13},
          {"Order", ColType::Binary, 2, 0x12},
          {"Name1", ColType::Text, 3, 0x12},
          {"Name2", ColType::Text, 4, 0x12},
          {"Expression", ColType::Memo, 5, 0x12},
          {"Flag", ColType::Int, 6, 0x13},
          {"LvExtra", ColType::Long, 7, 0x13}},
         {{{0, 1, 2}, 0x81}},
         {"ObjectIdAttribute"},
         {1}},
        {"MSysRelationships",
         {{"szRelationship", ColType::Text, 0, 0x12},
          {"grbit", ColType::Long, 1, 0x13},
          {"ccolumn", ColType::Long, 2, 0x13},
          {"icolumn", ColType::Long, 3, 0x13},
          {"szObject", ColType::Text, 4, 0x12},
          {"szColumn", ColType::Text, 5, 0x12},
          {"szReferencedObject", ColType::Text, 6, 0x12},
          {"szReferencedColumn", ColType::Text, 7, 0x12}},
         {{{0}, 0x82}, {{4}, 0x82}, {{6}, 0x82}},
         {"szRelationship", "szObject", "szReferencedObject"},
         {0, 0, 0}},
    };
    return defs;
}

// Access 97's: the same but for MSysQueries, which has no LvExtra column.
const std::vector<SystemTable>& systemTables3() {
    static const std::vector<SystemTable> defs = [] {
        std::vector<SystemTable> d = systemTables();
        d[2].cols.pop_back();
        return d;
    }();
    return defs;
}

}  // namespace

// Page 1: the global map (everything free until allocated) and a second,
// empty map row.
void JetDatabase::writeGlobalMapPage() {
    uint8_t* p = pager_->modify(usagemap::kGlobalMapPage);
    startDataPage(p, 1, layout());
    std::vector<uint8_t> row(layout().usageMapRowSize, 0xFF);
    std::fill_n(row.begin(), usagemap::kBitmap, 0);
    uint32_t ref;
    placeRow(usagemap::kGlobalMapPage, row.data(), row.size(), ref);
    std::fill(row.begin(), row.end(), 0);
    placeRow(usagemap::kGlobalMapPage, row.data(), row.size(), ref);
    setGlobalBit(0, false);
    setGlobalBit(1, false);
}

// A system table's column descriptors, in the database's sort order.
std::vector<StoredColumn> JetDatabase::systemColumns(const std::vector<SystemColumn>& defs) const {
    std::vector<StoredColumn> cols;
    int fixedOff = 0, var = 0;
    for (const SystemColumn& c : defs) {
        StoredColumn s;
        s.name = c.name;
        s.rawType = uint8_t(c.type);
        s.number = c.number;
        s.flags = c.flags;
        s.misc[0] = uint8_t(sortLcid_);
        s.misc[1] = uint8_t(sortLcid_ >> 8);
        s.misc[3] = jet3_ ? 0xFF : sortVersion_;
        s.narrowText = jet3_;
        const int sz = fixedSizeOf(c.type);
        if (c.type == ColType::Text || c.type == ColType::Binary) s.length = jet3_ ? 255 : 510;
        else if (c.type == ColType::Bool) s.length = 1;
        else s.length = std::max(sz, 0);
        if (s.fixed() && c.type != ColType::Bool) {
            s.fixedOffset = fixedOff;
            fixedOff += sz;
        }
        cols.push_back(s);
    }
    // The engine numbers its own tables' variable columns in column order.
    for (auto& s : cols)
        if (!s.fixed()) s.varIndex = var++;
    return cols;
}

// A system table on its TDEF page: its usage-map page (the data and free
// maps, a map per long column and per index), its index roots, its definition.
void JetDatabase::writeSystemTable(const SystemTable& d, uint32_t tdefPage) {
    const std::vector<StoredColumn> cols = systemColumns(d.cols);
    uint32_t mapPage = allocPage();
    startDataPage(pager_->modify(mapPage), 0, layout());
    // Its maps on one page (an Access 97 catalog's on two: its maps are wider).
    const std::vector<uint8_t> zero(layout().usageMapRowSize, 0);
    const uint32_t owned = placeUsageMap(mapPage, zero), freeMap = placeUsageMap(mapPage, zero);
    std::vector<LongValueMaps> lv;
    for (const auto& s : cols) {
        if (!s.isLong()) continue;
        LongValueMaps m;
        m.column = s.number;
        m.owned = placeUsageMap(mapPage, zero);
        m.free = placeUsageMap(mapPage, zero);
        lv.push_back(m);
    }
    std::vector<StoredIndex> idx;
    for (const auto& [icols, flags] : d.idx) {
        StoredIndex ix;
        ix.columns = icols;
        ix.ascending.assign(icols.size(), true);
        // Access 97 has no 0x80 flag in its indexes.
        ix.flags = jet3_ ? uint8_t(flags & ~realindex::kAccessFlag) : flags;
        ix.mapRef = placeUsageMap(mapPage, zero);
        idx.push_back(ix);
    }
    for (auto& ix : idx) {
        ix.root = allocPage();
        uint8_t* rp = pager_->modify(ix.root);
        rp[page::kType] = uint8_t(PageType::IndexLeaf);
        rp[page::kMarker] = page::kMarkerValue;
        encodeLE16(rp + kIndexFreeSpace, uint32_t(layout().indexEntryBytes()));
        encodeLE32(rp + kIndexOwner, tdefPage);
        mapSet(ix.mapRef, ix.root, true);
    }
    if (jet3_) writeTdef(tdefPage, buildTdef3(cols, lv, owned, freeMap, {idx, d.idxNames, d.idxTypes}));
    else writeTdef(tdefPage, buildTdef(d.name, kSystemTable, cols, idx, d.idxNames, d.idxTypes, lv, owned, freeMap));
}

void JetDatabase::createNew(const std::string& password) {
    const double created = nowOle();
    if (format_ == FileFormat::Jet3) {
        jet3_ = true;
        ps_ = kJet3.pageSize;
        rowsAt_ = kJet3.dataPage.rowCount;
        codePage_ = 1252;
    }
    // General, as Access 2010 and later make their files; Access 2000-2007
    // formats keep the legacy rules of their time (Access 97: General 97).
    sortLcid_ = 1033;
    sortVersion_ = (format_ == FileFormat::Jet4 || format_ == FileFormat::Ace12) ? 0 : 1;
    // Page 0 header, page 1 global map; system tables as the engine lays them out.
    for (int i = 0; i < 2; ++i) pager_->append();
    writeHeader(password, created);
    writeGlobalMapPage();
    const auto& defs = jet3_ ? systemTables3() : systemTables();
    // TDEF pages 2-5 first, then per table: its usage-map page and index roots.
    uint32_t tdefPages[4];
    for (int i = 0; i < 4; ++i) tdefPages[i] = allocPage();
    for (int ti = 0; ti < 4; ++ti) writeSystemTable(defs[size_t(ti)], tdefPages[ti]);
    // Catalog.
    for (int ti = 0; ti < 2; ++ti)  // MSysObjects, MSysACEs
        tables_[tdefPages[ti]] = std::make_unique<StoredTable>(loadTable(tdefPages[ti], defs[size_t(ti)].name));
    // Owner and permission identities (two-byte SIDs as the engine writes
    // them in a new file): the engine, the admin user, the creator and users.
    const Bytes engine{0x06, 0xEA}, admin{0x07, 0xE8}, creator{0x06, 0xED}, users{0x06, 0xE8};
    const uint32_t sys = 0x80000000u;
    addCatalogRow("Tables", 0x0F000001, kTablesParent, 3, sys, engine, created);
    addCatalogRow("Databases", 0x0F000002, kTablesParent, 3, sys, engine, created);
    addCatalogRow("Relationships", 0x0F000003, kTablesParent, 3, sys, engine, created);
    addCatalogRow("MSysDb", 0x10000000, 0x0F000002, 2, sys, admin, created);
    for (int ti = 0; ti < 4; ++ti)
        addCatalogRow(defs[size_t(ti)].name, tdefPages[ti], 0x0F000001, msysobjects::kTable, sys, engine, created);
    using Ace = std::pair<Bytes, std::pair<uint32_t, bool>>;
    addAces(tdefPages[0], {Ace{admin, {393216, false}}});
    addAces(tdefPages[1], {Ace{admin, {393216, false}}});
    addAces(tdefPages[2], {Ace{admin, {393216, false}}});
    addAces(tdefPages[3], {Ace{admin, {917504, false}}});
    addAces(0x0F000001, {Ace{creator, {983294, true}}, Ace{admin, {393217, false}}});
    addAces(0x0F000003, {Ace{creator, {983294, true}}, Ace{admin, {393217, false}}});
    addAces(0x0F000002, {Ace{admin, {393216, false}}});
    addAces(0x10000000, {Ace{admin, {393230, false}}, Ace{users, {14, false}}});
    addAces(tdefPages[2], {Ace{users, {20, false}}});
    addAces(tdefPages[3], {Ace{users, {20, false}}});
    addAces(tdefPages[0], {Ace{users, {20, false}}});
    addAces(0x0F000001, {Ace{users, {1048319, true}}});
    addAces(0x0F000003, {Ace{users, {1048575, true}}});
    rebuildIndexes(*tables_.at(tdefPages[0]));
    rebuildIndexes(*tables_.at(tdefPages[1]));
    pager_->commit();
}

}  // namespace tp::db::jet
