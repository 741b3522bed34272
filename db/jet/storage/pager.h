// Page-level file access for the Access engine: pages (4096 bytes; 2048 in
// Access 97 files) read through a cache, modified in memory and written back
// at durability points. Optional per-page RC4 encoding for "encoded" Jet
// databases, or a page cipher for encrypted ACE files.
//
// Safety:
// - Statements: changes made between beginStatement() and endStatement() can
//   be undone in memory with rollbackStatement().
// - Durability points (commit(), also done by close()): before a page that
//   holds committed data is overwritten, its committed image goes to a
//   rollback journal beside the database (<file>-journal), which is synced
//   first. The journal is removed once the file is complete and synced; a
//   journal left behind by a crash is played back on the next open, so the
//   file is always as it was at one durability point.
// - Between durability points only pages past the committed end of the file
//   may be written early (when the cache outgrows its budget); they mean
//   nothing until the durability point refers to them.
// - Units (savepoints around many statements): between beginUnit() and
//   endUnit() the first image of every page that existed at beginUnit() and
//   that the unit changes is kept, in memory up to a bound and beyond it in
//   a temporary file beside the database. rollbackUnit() puts them back,
//   also over pages written at durability points inside the unit, and makes
//   that a durability point of its own (through the journal, so a crash at
//   any moment leaves the file as at some durability point).
// - While the file is open for writing, an Access-style lock file (.ldb /
//   .laccdb) beside it holds an exclusive lock; a second writer is refused.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "db/jet/format/coding_names.h"

namespace tp::db::jet {

class PageCipher;

inline constexpr uint32_t kPageSize = 4096;

// The lock file beside a database: "x.mdb" -> "x.ldb", "x.accdb" -> "x.laccdb".
std::string lockFilePath(const std::string& databasePath);
// The rollback journal beside a database.
std::string journalPath(const std::string& databasePath);

class Pager {
public:
    // Opens an existing file (throws db::Error on failure). Opening for
    // writing takes the lock file and plays back a journal left by a crash;
    // so does opening for reading when no writer holds the file, unless
    // `recover` is false (the file is then read exactly as it is).
    Pager(const std::string& path, bool readOnly, uint32_t pageSize = kPageSize, bool recover = true);
    // Creates a new file; fails when it exists.
    struct CreateTag {};
    Pager(const std::string& path, CreateTag, uint32_t pageSize = kPageSize);
    ~Pager();
    Pager(const Pager&) = delete;
    Pager& operator=(const Pager&) = delete;

    const std::string& path() const { return path_; }
    bool readOnly() const { return readOnly_; }
    uint32_t pageCount() const { return pageCount_; }
    // Bytes per page in the file (page buffers always hold kPageSize bytes;
    // past the page size they are zero).
    uint32_t pageSize() const { return pageSize_; }

    // Pointers stay valid until the next trim(), commit(), close() or
    // rollbackStatement().
    const uint8_t* read(uint32_t page);
    uint8_t* modify(uint32_t page);
    // Like modify(), for a caller that changes only the given byte ranges
    // (offset, length) of the page: only those are kept for an undo.
    struct Range {
        uint16_t offset, length;
    };
    uint8_t* modifyRanges(uint32_t page, std::initializer_list<Range> ranges);
    // A new zero page at the end of the file (held in the cache).
    uint32_t append();
    // Pages the database gives back and takes again. released(): the page is
    // free from now on, but what it held at the last durability point still
    // counts until the next one. reuse(): a free page taken again, returned
    // zeroed; when it was already free at the last durability point, its old
    // bytes are neither read nor journaled (it is written like a new page;
    // inside a unit they are read once, for the unit's image).
    void released(uint32_t page);
    uint8_t* reuse(uint32_t page);
    // The first n bytes of a page as it stands, without keeping it in the cache.
    void peek(uint32_t page, uint8_t* out, size_t n);

    void beginStatement();
    void endStatement();
    // Puts every page back as it was at beginStatement().
    void rollbackStatement();
    bool statementChanged() const;

    // A unit of many statements (one at a time). endUnit() keeps its
    // changes; rollbackUnit() puts every page back as it was at beginUnit(),
    // cuts the pages the unit added and makes that a durability point (a
    // statement still open is undone first).
    void beginUnit();
    void endUnit();
    void rollbackUnit();
    bool inUnit() const { return unit_.active; }
    // What the open unit keeps: pages, of them in memory, bytes spilled to
    // its temporary file; and the pages the cache holds now.
    struct UnitUse {
        size_t pages = 0, inMemory = 0;
        uint64_t spilled = 0;
        size_t cached = 0;
    };
    UnitUse unitUse() const;

    // A durability point: journal, write, sync, remove the journal. On
    // failure the journal stays, the cache keeps every change, and a later
    // commit() tries again.
    void commit();
    // Keeps memory bounded: when the cache holds more than its budget, new
    // pages are written early and clean pages dropped. Does nothing inside a
    // statement unless asked (a statement that reads or changes more pages
    // than the cache holds); call only where no page pointer is held.
    void trim(bool inStatementToo = false);
    // Commits and closes. When the last commit fails, the file is put back
    // as it was at the previous durability point and the error is thrown.
    void close();
    // After a failed commit(): puts the file back as it was at the last
    // durability point (the cache is left alone). When even that fails, the
    // pager refuses further writes and the next open repairs the file.
    void restoreFile();
    // Closes without a durability point: the file stays as it was at the
    // last one.
    void abandon();

    // Pages > 0 are RC4-encoded with (key XOR page number) when key != 0.
    void setEncodingKey(uint32_t key) { key_ = key; }
    // Pages > 0 are decrypted on load and written encrypted (from a scratch
    // copy; the cached page stays plain). Replaces the encoding key. Pages
    // already cached are dropped so they are read again through the cipher.
    void setCipher(std::unique_ptr<PageCipher> cipher);
    bool encrypted() const { return key_ != 0 || cipher_ != nullptr; }

    [[noreturn]] void damaged(const std::string& what) const;

private:
    struct Entry {
        std::unique_ptr<uint8_t[]> data;
        bool dirty = false;
        uint64_t savedIn = 0;  // statement whose undo image holds this page
    };
    using Cache = std::unordered_map<uint32_t, Entry>;
    struct Undo {
        uint32_t page;
        bool wasDirty;
        std::unique_ptr<uint8_t[]> image;  // the whole page, or null: ranges
        size_t at = 0, end = 0;            // kept in partial_ as (offset, length, bytes)
        bool forget = false;               // a reused page not cached before: dropped again
        uint64_t spilledAt = kNotSpilled;  // the whole page, in the statement's temporary file
    };
    static constexpr uint64_t kNotSpilled = ~uint64_t(0);
    // A range kept in partial_: offset (2), length (2), the bytes.
    static constexpr size_t kRangeOffset = 0, kRangeLength = 2, kRangeHead = 4;
    void undoChange(const Undo& u);
    Entry& load(uint32_t page);
    Entry& newEntry(uint32_t page);
    Cache::iterator spare(Cache::iterator clean);
    void dropClean();
    Entry& writable(uint32_t page, bool& keep);
    struct DirtyPage {
        uint32_t page;
        Cache::iterator at;
    };
    // In one walk of the cache; `spareClean` also trims the clean pages.
    void dirtyPages(std::vector<DirtyPage>& fresh, std::vector<DirtyPage>& committed, bool spareClean = false);
    bool unjournaled(uint32_t page) const { return page < unjournaled_.size() && unjournaled_[page]; }
    void markDirty(Entry& e);
    void writePage(uint32_t page, const uint8_t* data);
    void writePages(const std::vector<DirtyPage>& pages);
    void markWritten(const std::vector<DirtyPage>& pages);
    void code(uint32_t page, uint8_t* data) const;
    void takeLock();
    int lockedLockFile(const std::string& lpath);
    void releaseLock();
    void recoverIfNeeded();
    void openJournal();
    void journalPages(const std::vector<DirtyPage>& pages);
    void syncJournal();
    void removeJournal();
    void checkStillThere() const;
    void requireHealthy() const;
    uint64_t fileSize() const;
    void keepForUnit(uint32_t page, const uint8_t* data);
    int tempFile() const;
    void dropUnit();

    std::string path_;
    int fd_ = -1;
    int lockFd_ = -1;
    int journalFd_ = -1;
    bool journalSynced_ = false;
    uint64_t journalEnd_ = 0;
    uint64_t salt_ = 0;
    bool readOnly_ = false;
    uint32_t pageSize_ = kPageSize;
    uint32_t pageCount_ = 0;  // logical page count (includes appended pages)
    uint32_t basePages_ = 0;  // page count at the last durability point
    size_t newSinceTrim_ = 0;  // pages added or taken again since the last trim
    uint32_t key_ = 0;
    std::unique_ptr<PageCipher> cipher_;
    Cache cache_;
    // Entries trimmed from the cache, with their page buffers: the next pages
    // read or added take them instead of two allocations each.
    std::vector<Cache::node_type> spareEntries_;
    // The entry found last (pages are read and then changed in turn); reset
    // whenever an entry may leave the cache.
    uint32_t lastPage_ = 0;
    Entry* lastEntry_ = nullptr;
    size_t dirtyCount_ = 0;
    std::unordered_set<uint32_t> journaled_;
    // Since the last durability point: pages given back, and pages taken
    // again whose committed bytes do not matter (written without a journal).
    std::vector<bool> releasedSince_, unjournaled_;
    std::vector<uint8_t> scratch_;
    // Statement state.
    bool broken_ = false;
    bool inStatement_ = false;
    uint64_t statementSeq_ = 0;
    uint32_t statementPages_ = 0;
    std::vector<Undo> undo_;
    // Whole-page images beyond the unit bound (faults::limitUnitMemory) go to
    // a temporary file; pages written early by trim(true) are written back
    // when the statement is undone.
    size_t statementImages_ = 0;
    int statementFd_ = -1;
    uint64_t statementSpillEnd_ = 0;
    bool statementWrote_ = false;
    std::unique_ptr<uint8_t[]> partial_;  // partialUsed_ of partialCap_ bytes
    size_t partialUsed_ = 0, partialCap_ = 0;
    std::vector<std::unique_ptr<uint8_t[]>> spare_;
    // Unit state: a bit per page that existed at beginUnit() (set once its
    // image is kept) and where each image is.
    struct Unit {
        bool active = false;
        uint32_t pages = 0;
        std::vector<uint64_t> saved;
        struct Image {
            uint32_t page;
            uint32_t slot;    // index into memory, or kSpilled
            uint64_t offset;  // in the temporary file
        };
        std::vector<Image> images;
        std::vector<std::unique_ptr<uint8_t[]>> memory;
        int spillFd = -1;
        uint64_t spillEnd = 0;
        bool has(uint32_t page) const { return (saved[page >> 6] >> (page & 63)) & 1; }
    };
    Unit unit_;
};

// Fault injection for tests: counts the writes, syncs and truncations the
// pagers of this process make to databases and journals; the write with the
// given number (1-based) fails as an I/O error would. 0 turns it off.
namespace faults {
void failWriteNumber(long n);
long writesSoFar();
// Files may not grow past this many pages instead of the format's 2 GB (0:
// the format's limit).
void limitPages(uint32_t pages);
// Page images a unit, and a statement, keep in memory before they spill to
// a temporary file (0: the normal bound).
void limitUnitMemory(size_t pages);
// Pages the cache holds before it writes and drops some (0: the normal 32 MB).
void limitCache(size_t pages);
}  // namespace faults

// RC4 keystream applied in place.
void rc4(const uint8_t* key, size_t keyLen, uint8_t* data, size_t len);

}  // namespace tp::db::jet
