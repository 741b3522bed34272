// The pager's rollback journal and lock file: taking and releasing the lock,
// playing back a journal left by a writer that stopped, writing and syncing
// the journal of a durability point, and removing it.
#include "db/jet/storage/pager.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "db/busy.h"
#include "db/error.h"
#include "db/jet/errors.h"
#include "db/coding/endian.h"
#include "db/jet/storage/pager_io.h"

namespace tp::db::jet {

using namespace pagerio;

namespace {

uint32_t headerCheck(const uint8_t* h, uint64_t salt, bool v2) {
    uint32_t c = check32(salt, 0, h, journal::kCheck);
    if (v2) c ^= check32(salt, 1, h + journal::kSamples, kJournalHeader - journal::kSamples);
    return c;
}

// Renames a journal that belongs to another file aside, and says so.
[[noreturn]] void refuseJournal(const std::string& jpath, const std::string& dbPath) {
    std::string aside = jpath + "-unmatched";
    for (int i = 1; i < 1000 && ::access(aside.c_str(), F_OK) == 0; ++i)
        aside = jpath + "-unmatched-" + std::to_string(i);
    const bool moved = ::rename(jpath.c_str(), aside.c_str()) == 0;
    if (moved) syncDirectoryOf(jpath);
    throw Error(jeterr::kUnfinished,
                "The rollback journal '" + jpath + "' does not belong to the database '" + dbPath +
                    "' as it is now (the file was replaced or changed after a program stopped while writing it). "
                    "The journal was not applied" +
                    (moved ? " and was renamed to '" + aside + "'; the database is opened as it is the next time."
                           : "; remove it to open the database as it is."));
}

}  // namespace

namespace pagerio {

// Plays back a journal: committed page images go back into the file, which is
// cut to its committed length, synced, and the journal removed. Entries end at
// the first one that is incomplete or does not check (it was never relied on:
// the journal is synced before any page it covers is overwritten). A journal
// whose file is shorter than at its durability point, or whose sample pages
// the file holds otherwise (and the journal does not cover), was left by
// another file or another state of this one: it is renamed aside, not applied.
namespace {

// A journal's header, as far as it checks.
struct JournalHead {
    bool valid = false, v2 = false;
    uint32_t pageSize = 0, basePages = 0;
    uint64_t salt = 0;
};

JournalHead readJournalHead(int jfd, uint64_t size, uint8_t* h) {
    JournalHead j;
    const bool whole = size >= kJournalHeader && readAll(jfd, h, kJournalHeader, 0);
    const bool v1 = whole && std::memcmp(h + journal::kMagic, kJournalMagicV1, 8) == 0;
    j.v2 = whole && std::memcmp(h + journal::kMagic, kJournalMagic, 8) == 0;
    j.valid =
        (v1 || j.v2) && decodeLE32(h + journal::kCheck) == headerCheck(h, coding::decodeLE64(h + journal::kSalt), j.v2);
    if (!j.valid) return j;
    j.pageSize = decodeLE32(h + journal::kPageSize);
    j.basePages = decodeLE32(h + journal::kBasePages);
    j.salt = coding::decodeLE64(h + journal::kSalt);
    return j;
}

// The pages of the entries that check, up to the first that does not.
std::vector<uint32_t> checkedEntries(int jfd, uint64_t size, const JournalHead& j, std::vector<uint8_t>& e) {
    std::vector<uint32_t> pages;
    for (uint64_t off = kJournalHeader; off + e.size() <= size; off += e.size()) {
        if (!readAll(jfd, e.data(), e.size(), off)) break;
        const uint32_t page = decodeLE32(e.data() + journal::kEntryPage);
        if (decodeLE32(e.data() + journal::kEntryCheck) !=
                check32(j.salt, page, e.data() + journal::kEntryImage, j.pageSize) ||
            page >= j.basePages)
            break;
        pages.push_back(page);
    }
    return pages;
}

// Whether the sample pages the journal does not cover are as the file holds
// them (version 2 journals).
bool samplesMatch(const uint8_t* h, int dbfd, const JournalHead& j, const std::vector<uint32_t>& pages,
                  std::vector<uint8_t>& e) {
    const uint32_t samples = std::min(decodeLE32(h + journal::kSamples), kMaxSamples);
    for (uint32_t i = 0; i < samples; ++i) {
        const uint8_t* sample = h + journal::kSample + journal::kSampleSize * i;
        const uint32_t page = decodeLE32(sample);
        if (page >= j.basePages || std::find(pages.begin(), pages.end(), page) != pages.end()) continue;
        uint8_t* img = e.data() + journal::kEntryImage;
        if (!readAll(dbfd, img, j.pageSize, uint64_t(page) * j.pageSize) ||
            check32(j.salt, page, img, j.pageSize) != decodeLE32(sample + journal::kSampleCheck))
            return false;
    }
    return true;
}

// Writes the journal's page images back, cuts the file to its committed
// length and syncs it.
void restorePages(const std::string& jpath, int jfd, int dbfd, const std::string& dbPath, const JournalHead& j,
                  const std::vector<uint32_t>& pages, std::vector<uint8_t>& e, uint64_t dbSize) {
    for (size_t i = 0; i < pages.size(); ++i) {
        const uint64_t off = kJournalHeader + uint64_t(i) * e.size();
        if (!readAll(jfd, e.data(), e.size(), off) || decodeLE32(e.data() + journal::kEntryPage) != pages[i])
            throw Error(jeterr::kDiskIo, ioError("reading", jpath));
        if (!writeAll(dbfd, e.data() + journal::kEntryImage, j.pageSize, uint64_t(pages[i]) * j.pageSize))
            throw Error(jeterr::kDiskIo, ioError("repairing", dbPath));
    }
    const uint64_t committed = uint64_t(j.basePages) * j.pageSize;
    if (dbSize > committed && !truncateFd(dbfd, committed)) throw Error(jeterr::kDiskIo, ioError("repairing", dbPath));
    if (!syncFd(dbfd)) throw Error(jeterr::kDiskIo, ioError("repairing", dbPath));
}

}  // namespace

void playBack(const std::string& jpath, int jfd, int dbfd, const std::string& dbPath) {
    uint8_t h[kJournalHeader] = {};
    struct stat st {};
    if (::fstat(jfd, &st) != 0) throw Error(jeterr::kDiskIo, ioError("reading", jpath));
    const uint64_t size = uint64_t(st.st_size);
    const JournalHead j = readJournalHead(jfd, size, h);
    if (j.valid) {
        if (j.pageSize != 2048 && j.pageSize != 4096)
            throw Error(jeterr::kUnfinished,
                        "The journal '" + jpath + "' of the database '" + dbPath + "' is damaged.");
        std::vector<uint8_t> e(journal::kEntryImage + j.pageSize);
        const std::vector<uint32_t> pages = checkedEntries(jfd, size, j, e);
        struct stat ds {};
        if (::fstat(dbfd, &ds) != 0) throw Error(jeterr::kDiskIo, ioError("reading", dbPath));
        if (uint64_t(ds.st_size) < uint64_t(j.basePages) * j.pageSize) refuseJournal(jpath, dbPath);
        if (j.v2 && !samplesMatch(h, dbfd, j, pages, e)) refuseJournal(jpath, dbPath);
        restorePages(jpath, jfd, dbfd, dbPath, j, pages, e, uint64_t(ds.st_size));
    }
    if (::unlink(jpath.c_str()) != 0 && errno != ENOENT) throw Error(jeterr::kDiskIo, ioError("removing", jpath));
    syncDirectoryOf(jpath);
}

}  // namespace pagerio

// ---------------------------------------------------------------- lock file

// The lock file holds one 64-byte record per user (machine name, user name),
// as Access writes it; the open file carries an exclusive lock while a
// Tallyport has the database open for writing. A lock file nobody holds is
// left over from a program that stopped; when its records name another
// machine, that machine may still have the database open (its locks are not
// visible here), so the database is not written.
namespace {

// A lock file record: the machine's name, then the user's, zero-padded.
constexpr size_t kLockRecord = 64;
constexpr size_t kLockMachine = 0, kLockMachineSize = 32;
constexpr size_t kLockUser = 32;
constexpr size_t kLockRecordsRead = 255;

// Whether a record of the lock file (of `size` bytes) names another machine.
bool lockedElsewhere(int fd, off_t size, const std::string& me) {
    std::vector<uint8_t> old(size_t(std::min<off_t>(size, off_t(kLockRecord * kLockRecordsRead))));
    if (old.empty() || !readAll(fd, old.data(), old.size(), 0)) return false;
    for (size_t r = 0; r + kLockRecord <= old.size(); r += kLockRecord) {
        std::string machine(reinterpret_cast<const char*>(old.data() + r + kLockMachine), kLockMachineSize);
        machine = machine.substr(0, machine.find('\0'));
        while (!machine.empty() && machine.back() == ' ') machine.pop_back();
        if (!machine.empty() && machine != me.substr(0, kLockMachineSize)) return true;
    }
    return false;
}

// Whether fd is still the file at lpath (its previous holder may have
// removed it between our open and our lock).
bool sameFile(int fd, const std::string& lpath, struct stat& a) {
    struct stat b {};
    return ::fstat(fd, &a) == 0 && ::stat(lpath.c_str(), &b) == 0 && a.st_ino == b.st_ino && a.st_dev == b.st_dev;
}

}  // namespace

namespace {

// Makes our record the lock file's only one; false (errno set) on failure.
bool writeLockRecord(int fd, const std::string& me) {
    uint8_t rec[kLockRecord] = {};
    std::memcpy(rec + kLockMachine, me.data(), std::min<size_t>(me.size(), kLockMachineSize - 1));
    std::memcpy(rec + kLockUser, "Admin", 5);
    return ::ftruncate(fd, 0) == 0 && ::pwrite(fd, rec, sizeof rec, 0) == ssize_t(sizeof rec);
}

}  // namespace

// The lock file, opened (and a new one when a holder removed it meanwhile);
// -1 when none can be made beside the database.
int Pager::lockedLockFile(const std::string& lpath) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = ::open(lpath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EACCES || errno == EROFS || errno == EPERM) return -1;
            throw Error(jeterr::kDiskIo, ioError("creating", lpath));
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            throw jeterr::inUse(path_);
        }
        struct stat a {};
        if (sameFile(fd, lpath, a)) {
            if (lockedElsewhere(fd, a.st_size, hostName())) {
                ::close(fd);
                throw jeterr::inUse(path_);
            }
            return fd;
        }
        ::close(fd);
    }
    throw jeterr::inUse(path_);
}

void Pager::takeLock() {
    const std::string lpath = lockFilePath(path_);
    const int fd = lockedLockFile(lpath);
    if (fd < 0) {
        // No lock file can be made beside the database (nor a journal): it
        // is opened for reading only.
        readOnly_ = true;
        return;
    }
    if (!writeLockRecord(fd, hostName())) {
        const int e = errno;
        ::unlink(lpath.c_str());
        ::close(fd);
        errno = e;
        throw Error(jeterr::kDiskIo, ioError("writing", lpath));
    }
    lockFd_ = fd;
}

void Pager::releaseLock() {
    if (lockFd_ < 0) return;
    ::unlink(lockFilePath(path_).c_str());
    ::close(lockFd_);
    lockFd_ = -1;
}

// ---------------------------------------------------------------- journal

void Pager::recoverIfNeeded() {
    const std::string jpath = journalPath(path_);
    const int jfd = ::open(jpath.c_str(), O_RDONLY | O_CLOEXEC);
    if (jfd < 0) return;
    const FdCloser jc{jfd};
    if (lockFd_ >= 0) {
        playBack(jpath, jfd, fd_, path_);
        return;
    }
    // Opened for reading: a journal is only left over when no writer holds
    // the lock; then the repair needs write access for a moment.
    const int lfd = ::open(lockFilePath(path_).c_str(), O_RDONLY | O_CLOEXEC);
    if (lfd >= 0) {
        const bool held = ::flock(lfd, LOCK_SH | LOCK_NB) != 0;
        ::close(lfd);
        if (held) return;  // a writer is at work; its journal is not left over
    }
    const int wfd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (wfd < 0)
        throw Error(jeterr::kUnfinished, "The database '" + path_ +
                                             "' was left unfinished by a program that stopped while writing it; "
                                             "open it once with write access to repair it.");
    const FdCloser wc{wfd};
    playBack(jpath, jfd, wfd, path_);
}

void Pager::openJournal() {
    if (journalFd_ >= 0) return;
    const std::string jpath = journalPath(path_);
    journalFd_ = ::open(jpath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (journalFd_ < 0) throw Error(jeterr::kDiskIo, ioError("creating", jpath));
    std::random_device rd;
    salt_ = (uint64_t(rd()) << 32) ^ rd() ^ uint64_t(::getpid());
    uint8_t h[kJournalHeader] = {};
    std::memcpy(h + journal::kMagic, kJournalMagic, 8);
    encodeLE32(h + journal::kPageSize, pageSize_);
    encodeLE32(h + journal::kBasePages, basePages_);
    coding::encodeLE64(h + journal::kSalt, salt_);
    // The first pages as the file holds them now (at the durability point:
    // no committed page is overwritten before the journal exists).
    uint32_t samples = 0;
    std::vector<uint8_t> img(pageSize_);
    for (uint32_t page = 0; page < kMaxSamples && page < basePages_; ++page) {
        if (!readAll(fd_, img.data(), pageSize_, uint64_t(page) * pageSize_)) break;
        uint8_t* sample = h + journal::kSample + journal::kSampleSize * samples;
        encodeLE32(sample, page);
        encodeLE32(sample + journal::kSampleCheck, check32(salt_, page, img.data(), pageSize_));
        ++samples;
    }
    encodeLE32(h + journal::kSamples, samples);
    encodeLE32(h + journal::kCheck, headerCheck(h, salt_, true));
    if (!writeAll(journalFd_, h, sizeof h, 0)) {
        const int e = errno;
        ::close(journalFd_);
        journalFd_ = -1;
        ::unlink(jpath.c_str());
        errno = e;
        throw Error(jeterr::kDiskIo, ioError("writing", jpath));
    }
    journalEnd_ = kJournalHeader;
    journalSynced_ = false;
    syncDirectoryOf(jpath);
}

void Pager::journalPages(const std::vector<DirtyPage>& pages) {
    openJournal();
    std::vector<uint8_t> e(journal::kEntryImage + pageSize_);
    uint8_t* img = e.data() + journal::kEntryImage;
    size_t done = 0;
    for (const DirtyPage& d : pages) {
        const uint32_t page = d.page;
        if (page >= basePages_ || journaled_.count(page)) continue;
        if ((++done & 255) == 0) stillBusy();
        // The committed image is what the file holds now: this page has not
        // been written since the last durability point.
        if (!readAll(fd_, img, pageSize_, uint64_t(page) * pageSize_)) std::memset(img, 0, pageSize_);
        encodeLE32(e.data() + journal::kEntryPage, page);
        encodeLE32(e.data() + journal::kEntryCheck, check32(salt_, page, img, pageSize_));
        if (!writeAll(journalFd_, e.data(), e.size(), journalEnd_))
            throw Error(jeterr::kDiskIo, ioError("writing", journalPath(path_)));
        journalEnd_ += e.size();
        journaled_.insert(page);
        journalSynced_ = false;
    }
}

void Pager::syncJournal() {
    if (journalFd_ < 0 || journalSynced_) return;
    if (!syncFd(journalFd_)) throw Error(jeterr::kDiskIo, ioError("writing", journalPath(path_)));
    journalSynced_ = true;
}

void Pager::removeJournal() {
    if (journalFd_ < 0) return;
    ::close(journalFd_);
    journalFd_ = -1;
    const std::string jpath = journalPath(path_);
    if (::unlink(jpath.c_str()) != 0 && errno != ENOENT) throw Error(jeterr::kDiskIo, ioError("removing", jpath));
    syncDirectoryOf(jpath);
}

void Pager::checkStillThere() const {
    struct stat a {
    }, b{};
    if (::fstat(fd_, &a) != 0 || ::stat(path_.c_str(), &b) != 0 || a.st_ino != b.st_ino || a.st_dev != b.st_dev)
        throw Error(jeterr::kDiskIo, "The database '" + path_ +
                                         "' was moved or deleted while it was open; its changes could not be saved.");
}

}  // namespace tp::db::jet
