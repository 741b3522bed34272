// The database as a whole: opening an existing file (header, sort order,
// catalog), durability points, units of many statements, closing.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "db/coding/header_mask.h"
#include "db/jet/storage/crypto.h"
#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

// How often long runs reach a durability point (TALLYPORT_SYNC_INTERVAL_MS,
// 3 seconds by default): a crash loses at most the statements of that time.
std::chrono::milliseconds durabilityInterval() {
    const char* v = std::getenv("TALLYPORT_SYNC_INTERVAL_MS");
    if (v && *v) {
        char* end = nullptr;
        const long ms = std::strtol(v, &end, 10);
        if (end && *end == 0 && ms >= 0 && ms <= 3600000) return std::chrono::milliseconds(ms);
    }
    return std::chrono::milliseconds(3000);
}

namespace {

bool formatIdIs(const uint8_t* h, const char* id) {
    return std::memcmp(h + header::kFormatId, id, header::kFormatIdSize) == 0;
}

// The format a Jet 4/ACE header's version byte names, or nothing for a
// header no reader opens.
std::optional<FileFormat> newerFormat(uint8_t version, bool jet, bool ace) {
    // clang-format off
    switch (version) {
    case 0x01: if (jet) return FileFormat::Jet4; break;
    case 0x02: if (ace) return FileFormat::Ace12; break;
    case 0x03: if (ace) return FileFormat::Ace14; break;
    case 0x05: if (ace) return FileFormat::Ace16; break;
    case 0x06: if (ace) return FileFormat::Ace17; break;
    default: break;
    }
    // clang-format on
    return std::nullopt;
}

// The Jet 4 password field (20 UTF-16 units masked with the creation date),
// up to its first zero unit.
std::u16string storedPassword(const uint8_t* h) {
    double created;
    std::memcpy(&created, h + header::kCreated, 8);
    const auto mask = coding::passwordMask(created);
    std::u16string stored;
    for (size_t i = 0; i < header::kPasswordSize / 2; ++i) {
        const uint8_t lo = h[header::kPassword + 2 * i] ^ mask[(2 * i) % 4];
        const uint8_t hi = h[header::kPassword + 2 * i + 1] ^ mask[(2 * i + 1) % 4];
        const char16_t c = char16_t(lo | (hi << 8));
        if (c == 0) break;
        stored.push_back(c);
    }
    return stored;
}

}  // namespace

void JetDatabase::openExisting(const std::string& password) {
    Pager& pg = *pager_;
    const std::string& path = pg.path();
    if (pg.pageCount() < 1) throw jeterr::unrecognizedFormat(path);
    uint8_t h[kPageSize];
    std::memcpy(h, pg.read(0), kPageSize);
    const bool jet = formatIdIs(h, header::kJetId);
    const bool ace = formatIdIs(h, header::kAceId);
    const bool msisam = formatIdIs(h, header::kMsisamId);
    if (h[page::kType] != uint8_t(PageType::Header) || !(jet || ace || msisam)) throw jeterr::unrecognizedFormat(path);
    const uint8_t version = h[header::kVersion];
    if (version == 0x00 && jet) {
        openJet3(h, password);
    } else {
        const auto format = msisam ? std::nullopt : newerFormat(version, jet, ace);
        if (!format) throw jeterr::unrecognizedFormat(path);
        format_ = *format;
        openJet4(h, password);
    }
    const uint8_t* p2 = pg.read(2);
    if (!isPage(p2, PageType::TableDef)) damaged("the system catalog is missing");
    loadCatalog();
}

// An Access 97 header (h: page 0 as stored, unmasked here).
void JetDatabase::openJet3(uint8_t* h, const std::string& password) {
    Pager& pg = *pager_;
    if (pg.pageSize() != kJet3.pageSize) throw jeterr::unrecognizedFormat(pg.path());
    format_ = FileFormat::Jet3;
    jet3_ = true;
    ps_ = kJet3.pageSize;
    rowsAt_ = kJet3.dataPage.rowCount;
    if (pg.pageCount() < 3) damaged("the file is too short");
    coding::applyHeaderMask(h, h[header::kVersion]);
    codePage_ = decodeLE16(h + header::kCodePage);
    if (codePage_ == 0) codePage_ = 1252;
    sortLcid_ = decodeLE16(h + header::kSortOrder3);
    // Database password: 20 bytes in the code page, not masked further.
    size_t len = 0;
    while (len < header::kPasswordSize3 && h[header::kPassword + len] != 0) ++len;
    if (len > 0 && decodeNarrowText(h + header::kPassword, len, codePage_) != password)
        throw jeterr::notValidPassword();
    pg.setEncodingKey(decodeLE32(h + header::kEncodingKey));
}

// A Jet 4 or ACE header (h: page 0 as stored, unmasked here).
void JetDatabase::openJet4(uint8_t* h, const std::string& password) {
    Pager& pg = *pager_;
    if (pg.pageCount() < 3) damaged("the file is too short");
    coding::applyHeaderMask(h, h[header::kVersion]);
    const uint32_t key = decodeLE32(h + header::kEncodingKey);
    sortLcid_ = decodeLE16(h + header::kSortOrder);
    sortVersion_ = h[header::kSortVersion];
    if (format_ != FileFormat::Jet4) {
        // An .accdb with a password is always encrypted; the password unlocks
        // the page key (the 0x42 field holds no password in these files).
        auto cipher = PageCipher::fromHeader(std::span<const uint8_t>(h, kPageSize), password, pg.path());
        if (cipher) pg.setCipher(std::move(cipher));
        return;
    }
    // Database password: 20 UTF-16 characters masked with the creation date.
    const std::u16string stored = storedPassword(h);
    if (!stored.empty() && stored != utf8ToUtf16(password)) throw jeterr::notValidPassword();
    pg.setEncodingKey(key);
}

void JetDatabase::makeDurable() {
    // Index rebuilds are a statement of their own: a failure leaves the pages
    // as they were, to be tried again at the next durability point.
    atomically([&] { refreshIndexes(); });
    pager_->commit();
    lastDurable_ = std::chrono::steady_clock::now();
}

void JetDatabase::flush() {
    requireOpen();
    if (pager_->readOnly()) return;
    makeDurable();
}

void JetDatabase::afterStatement() {
    if (durableEvery_.count() == 0 || (++statementsSinceCheck_ & 63) != 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDurable_ < durableEvery_) return;
    makeDurableQuietly();
}

void JetDatabase::makeDurableQuietly() {
    if (durableEvery_.count() == 0) return;  // every statement was one
    lastDurable_ = std::chrono::steady_clock::now();
    try {
        makeDurable();
    } catch (const Error&) {
        // The changes stay in memory (and the file as it was at the last
        // durability point); the next durability point, at the latest
        // close(), tries again and reports a failure.
    }
}

void JetDatabase::beginUnit() {
    requireWritable();
    if (pager_->inUnit()) throw jeterr::tooManyTransactions();
    // Pending row counts and indexes go into the pages first, so that the
    // pages alone say what the tables were when the unit began.
    atomically([&] { refreshIndexes(); });
    pager_->beginUnit();
    unitNotNull_ = notNullByPage_;
}

void JetDatabase::commitUnit() {
    requireOpen();
    if (!pager_->inUnit()) throw jeterr::noTransaction();
    pager_->endUnit();
    unitNotNull_.clear();
}

void JetDatabase::rollbackUnit() {
    requireOpen();
    if (!pager_->inUnit()) throw jeterr::noTransaction();
    notNullByPage_ = std::move(unitNotNull_);
    unitNotNull_.clear();
    // Nothing pending inside the unit survives it.
    for (auto& [page, t] : tables_) t->indexesStale = t->countStale = false;
    rebuiltInStatement_.clear();
    std::exception_ptr failure;
    try {
        pager_->rollbackUnit();
    } catch (...) {
        failure = std::current_exception();
    }
    reloadAfterUndo();
    lastDurable_ = std::chrono::steady_clock::now();
    if (failure) std::rethrow_exception(failure);
}

void JetDatabase::reloadAfterUndo() {
    // What is not in the pages yet: pending index rebuilds and row counts.
    struct Pending {
        uint32_t page;
        bool indexes, count;
        uint32_t rowCount, autoNumber;
    };
    std::vector<Pending> stale;
    // (An index a statement rebuilt is pending again once its pages are
    // undone.)
    for (auto& [page, t] : tables_) {
        const bool indexes = t->indexesStale || rebuiltInStatement_.count(page);
        if (indexes || t->countStale) stale.push_back({page, indexes, t->countStale, t->rowCount, t->autoNumber});
    }
    rebuiltInStatement_.clear();
    tables_.clear();
    catalog_.clear();
    forgetCatalogIndex();
    last_ = nullptr;
    lastName_.clear();
    // Pages given back or taken during the statement are in the maps as they
    // were; the free pages are read from the global map again when needed.
    freeKnown_ = false;
    loadCatalog();
    for (const Pending& s : stale)
        for (const CatalogEntry& e : catalog_)
            if (e.isTable() && e.tablePage() == s.page) {
                StoredTable& t = tableByName(e.name);
                t.indexesStale = s.indexes;
                if (s.count) {
                    t.countStale = true;
                    t.rowCount = s.rowCount;
                    t.autoNumber = std::max(t.autoNumber, s.autoNumber);
                }
                break;
            }
}

void JetDatabase::close() {
    if (!pager_) return;
    std::exception_ptr failure;
    // A unit left open is not finished: it is undone.
    if (pager_->inUnit()) {
        try {
            rollbackUnit();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (!pager_->readOnly() && !failure) {
        try {
            atomically([&] { refreshIndexes(); });
        } catch (...) {
            failure = std::current_exception();
        }
    }
    auto p = std::move(pager_);
    tables_.clear();
    catalog_.clear();
    forgetCatalogIndex();
    last_ = nullptr;
    if (failure) {
        p->abandon();
        std::rethrow_exception(failure);
    }
    p->close();
}

// Access 97 files have 2048-byte pages.
bool jet3File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char h[header::kVersion + 1] = {};
    return in.read(h, sizeof h) && h[page::kType] == uint8_t(PageType::Header) &&
           std::memcmp(h + header::kFormatId, header::kJetId, header::kFormatIdSize) == 0 && h[header::kVersion] == 0;
}

std::unique_ptr<Database> Database::open(const std::string& path, const std::string& password, bool readOnly) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) throw jeterr::fileNotFound(path);
    const bool jet3 = jet3File(path);
    auto db = std::make_unique<JetDatabase>(jet3 ? std::make_unique<Pager>(path, readOnly, kJet3.pageSize)
                                                 : std::make_unique<Pager>(path, readOnly));
    db->openExisting(password);
    return db;
}

}  // namespace tp::db::jet
