// The pager's rollback journal and lock file: taking and releasing the lock,
// playing back a journal left by a writer that stopped, writing and syncing
// the journal of a durability point, and removing it.
#include "db/jet/pager.h"

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
#include "db/jet/pager_io.h"

namespace tp::db::jet {

using namespace pagerio;

namespace {

uint32_t headerCheck(const uint8_t* h, uint64_t salt, bool v2) {
    uint32_t c = check32(salt, 0, h, 28);
    if (v2) c ^= check32(salt, 1, h + 32, kJournalHeader - 32);
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
void playBack(const std::string& jpath, int jfd, int dbfd, const std::string& dbPath) {
    uint8_t h[kJournalHeader] = {};
    struct stat st {};
    if (::fstat(jfd, &st) != 0) throw Error(jeterr::kDiskIo, ioError("reading", jpath));
    const uint64_t size = uint64_t(st.st_size);
    const bool whole = size >= kJournalHeader && readAll(jfd, h, kJournalHeader, 0);
    const bool v1 = whole && std::memcmp(h, kJournalMagicV1, 8) == 0;
    const bool v2 = whole && std::memcmp(h, kJournalMagic, 8) == 0;
    const bool valid = (v1 || v2) && decodeLE32(h + 28) == headerCheck(h, get64(h + 16), v2);
    if (valid) {
        const uint32_t pageSize = decodeLE32(h + 8);
        const uint32_t basePages = decodeLE32(h + 12);
        const uint64_t salt = get64(h + 16);
        if (pageSize != 2048 && pageSize != 4096)
            throw Error(jeterr::kUnfinished,
                        "The journal '" + jpath + "' of the database '" + dbPath + "' is damaged.");
        std::vector<uint8_t> e(8 + pageSize);
        // The entries that check.
        std::vector<uint32_t> pages;
        for (uint64_t off = kJournalHeader; off + e.size() <= size; off += e.size()) {
            if (!readAll(jfd, e.data(), e.size(), off)) break;
            const uint32_t page = decodeLE32(e.data());
            if (decodeLE32(e.data() + 4) != check32(salt, page, e.data() + 8, pageSize) || page >= basePages) break;
            pages.push_back(page);
        }
        struct stat ds {};
        if (::fstat(dbfd, &ds) != 0) throw Error(jeterr::kDiskIo, ioError("reading", dbPath));
        if (uint64_t(ds.st_size) < uint64_t(basePages) * pageSize) refuseJournal(jpath, dbPath);
        if (v2) {
            const uint32_t samples = std::min(decodeLE32(h + 32), kMaxSamples);
            for (uint32_t i = 0; i < samples; ++i) {
                const uint32_t page = decodeLE32(h + 36 + 8 * i);
                if (page >= basePages || std::find(pages.begin(), pages.end(), page) != pages.end()) continue;
                if (!readAll(dbfd, e.data() + 8, pageSize, uint64_t(page) * pageSize) ||
                    check32(salt, page, e.data() + 8, pageSize) != decodeLE32(h + 40 + 8 * i))
                    refuseJournal(jpath, dbPath);
            }
        }
        for (size_t i = 0; i < pages.size(); ++i) {
            const uint64_t off = kJournalHeader + uint64_t(i) * e.size();
            if (!readAll(jfd, e.data(), e.size(), off) || decodeLE32(e.data()) != pages[i])
                throw Error(jeterr::kDiskIo, ioError("reading", jpath));
            if (!writeAll(dbfd, e.data() + 8, pageSize, uint64_t(pages[i]) * pageSize))
                throw Error(jeterr::kDiskIo, ioError("repairing", dbPath));
        }
        if (uint64_t(ds.st_size) > uint64_t(basePages) * pageSize && !truncateFd(dbfd, uint64_t(basePages) * pageSize))
            throw Error(jeterr::kDiskIo, ioError("repairing", dbPath));
        if (!syncFd(dbfd)) throw Error(jeterr::kDiskIo, ioError("repairing", dbPath));
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
void Pager::takeLock() {
    const std::string lpath = lockFilePath(path_);
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd = ::open(lpath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EACCES || errno == EROFS || errno == EPERM) {
                // No lock file can be made beside the database (nor a journal):
                // it is opened for reading only.
                readOnly_ = true;
                return;
            }
            throw Error(jeterr::kDiskIo, ioError("creating", lpath));
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            throw jeterr::inUse(path_);
        }
        // The file may have been removed by its previous holder between our
        // open and our lock: then lock the new one.
        struct stat a {
        }, b{};
        if (::fstat(fd, &a) != 0 || ::stat(lpath.c_str(), &b) != 0 || a.st_ino != b.st_ino || a.st_dev != b.st_dev) {
            ::close(fd);
            continue;
        }
        const std::string me = hostName();
        std::vector<uint8_t> old(size_t(std::min<off_t>(a.st_size, 64 * 255)));
        if (!old.empty() && readAll(fd, old.data(), old.size(), 0)) {
            for (size_t r = 0; r + 64 <= old.size(); r += 64) {
                std::string machine(reinterpret_cast<const char*>(old.data() + r), 32);
                machine = machine.substr(0, machine.find('\0'));
                while (!machine.empty() && machine.back() == ' ') machine.pop_back();
                if (!machine.empty() && machine != me.substr(0, 32)) {
                    ::close(fd);
                    throw jeterr::inUse(path_);
                }
            }
        }
        uint8_t rec[64] = {};
        std::memcpy(rec, me.data(), std::min<size_t>(me.size(), 31));
        std::memcpy(rec + 32, "Admin", 5);
        if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, rec, sizeof rec, 0) != ssize_t(sizeof rec)) {
            const int e = errno;
            ::unlink(lpath.c_str());
            ::close(fd);
            errno = e;
            throw Error(jeterr::kDiskIo, ioError("writing", lpath));
        }
        lockFd_ = fd;
        return;
    }
    throw jeterr::inUse(path_);
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
    std::memcpy(h, kJournalMagic, 8);
    encodeLE32(h + 8, pageSize_);
    encodeLE32(h + 12, basePages_);
    put64(h + 16, salt_);
    // The first pages as the file holds them now (at the durability point:
    // no committed page is overwritten before the journal exists).
    uint32_t samples = 0;
    std::vector<uint8_t> img(pageSize_);
    for (uint32_t page = 0; page < kMaxSamples && page < basePages_; ++page) {
        if (!readAll(fd_, img.data(), pageSize_, uint64_t(page) * pageSize_)) break;
        encodeLE32(h + 36 + 8 * samples, page);
        encodeLE32(h + 40 + 8 * samples, check32(salt_, page, img.data(), pageSize_));
        ++samples;
    }
    encodeLE32(h + 32, samples);
    encodeLE32(h + 28, headerCheck(h, salt_, true));
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

void Pager::journalPages(const std::vector<uint32_t>& pages) {
    openJournal();
    std::vector<uint8_t> e(8 + pageSize_);
    size_t done = 0;
    for (uint32_t page : pages) {
        if (page >= basePages_ || journaled_.count(page)) continue;
        if ((++done & 255) == 0) stillBusy();
        // The committed image is what the file holds now: this page has not
        // been written since the last durability point.
        if (!readAll(fd_, e.data() + 8, pageSize_, uint64_t(page) * pageSize_)) std::memset(e.data() + 8, 0, pageSize_);
        encodeLE32(e.data(), page);
        encodeLE32(e.data() + 4, check32(salt_, page, e.data() + 8, pageSize_));
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
