#include "db/jet/storage/pager.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "db/busy.h"
#include "db/error.h"
#include "db/jet/errors.h"
#include "db/jet/storage/crypto.h"
#include "db/jet/storage/pager_io.h"

namespace tp::db::jet {

using namespace pagerio;

namespace {
constexpr size_t kCacheBudget = 8192;   // pages (32 MB)
constexpr size_t kPinnedBudget = 4096;  // changed committed pages kept in memory
constexpr size_t kWriteBehind = 2048;  // pages of new content (8 MB) written out together
constexpr size_t kUnitMemory = 2048;    // unit page images kept in memory (8 MB)
constexpr uint32_t kSpilled = 0xFFFFFFFFu;

std::atomic<long> gWrites{0};
std::atomic<long> gFailAt{0};
std::atomic<uint32_t> gPageLimit{0};
std::atomic<size_t> gUnitMemory{0};
std::atomic<size_t> gCachePages{0};

// Pages the cache holds before trim() writes and drops (tests may lower it),
// and of them, changed committed pages it may keep.
size_t cacheBudget() { return gCachePages ? gCachePages.load() : kCacheBudget; }
size_t pinnedBudget() { return gCachePages ? gCachePages.load() / 2 : kPinnedBudget; }

}  // namespace

namespace pagerio {

// Every write, sync and truncation goes through here so that tests can make
// any one of them fail.
bool injectedFault() {
    const long n = ++gWrites;
    const long at = gFailAt.load();
    if (at > 0 && n == at) {
        errno = EIO;
        return true;
    }
    return false;
}

bool writeAll(int fd, const uint8_t* p, size_t n, uint64_t off) {
    if (injectedFault()) return false;
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::pwrite(fd, p + done, n - done, off_t(off + done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = ENOSPC;
            return false;
        }
        done += size_t(w);
    }
    return true;
}

bool readAll(int fd, uint8_t* p, size_t n, uint64_t off) {
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd, p + done, n - done, off_t(off + done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += size_t(r);
    }
    return true;
}

bool syncFd(int fd) {
    if (injectedFault()) return false;
    return ::fsync(fd) == 0;
}

bool truncateFd(int fd, uint64_t size) {
    if (injectedFault()) return false;
    return ::ftruncate(fd, off_t(size)) == 0;
}

void syncDirectoryOf(const std::string& path) {
    const std::string dir = std::filesystem::path(path).parent_path().string();
    const int d = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d < 0) return;
    ::fsync(d);
    ::close(d);
}

uint32_t check32(uint64_t salt, uint32_t page, const uint8_t* data, size_t n) {
    uint64_t h = 1469598103934665603ull ^ salt;
    auto mix = [&](uint8_t b) {
        h ^= b;
        h *= 1099511628211ull;
    };
    for (int i = 0; i < 4; ++i) mix(uint8_t(page >> (8 * i)));
    for (size_t i = 0; i < n; ++i) mix(data[i]);
    return uint32_t(h ^ (h >> 32));
}

std::string hostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == 0) return "localhost";
    return buf;
}

// A temporary file beside the database, removed from the directory at once
// (nothing is left behind by a crash, an error or an exception).
int tempFileBeside(const std::string& path, const char* tag) {
    const std::string dir = std::filesystem::path(path).parent_path().string();
    const std::string where = dir.empty() ? "." : dir;
    int fd = -1;
#ifdef O_TMPFILE
    fd = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    if (fd < 0) {
        std::string name = path + tag + "XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) ::unlink(name.c_str());
    }
    if (fd < 0) throw Error(jeterr::kDiskIo, ioError("creating a temporary file beside", path));
    return fd;
}

std::string ioError(const std::string& what, const std::string& path) {
    return "Disk or network error " + what + " '" + path + "': " + std::strerror(errno);
}

}  // namespace pagerio

namespace {}  // namespace

namespace faults {
void failWriteNumber(long n) {
    gWrites = 0;
    gFailAt = n;
}
long writesSoFar() { return gWrites.load(); }
void limitPages(uint32_t pages) { gPageLimit = pages; }
void limitUnitMemory(size_t pages) { gUnitMemory = pages; }
void limitCache(size_t pages) { gCachePages = pages; }
}  // namespace faults

std::string lockFilePath(const std::string& databasePath) {
    std::filesystem::path p(databasePath);
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    p.replace_extension(ext == ".accdb" ? ".laccdb" : ".ldb");
    return p.string();
}

std::string journalPath(const std::string& databasePath) { return databasePath + "-journal"; }

void rc4(const uint8_t* key, size_t keyLen, uint8_t* data, size_t len) {
    uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
    uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = uint8_t(j + s[i] + key[i % keyLen]);
        std::swap(s[i], s[j]);
    }
    uint8_t a = 0, b = 0;
    for (size_t k = 0; k < len; ++k) {
        a = uint8_t(a + 1);
        b = uint8_t(b + s[a]);
        std::swap(s[a], s[b]);
        data[k] ^= s[uint8_t(s[a] + s[b])];
    }
}

Pager::Pager(const std::string& path, bool readOnly, uint32_t pageSize, bool recover)
    : path_(path), readOnly_(readOnly), pageSize_(pageSize == 2048 ? 2048 : kPageSize) {
    fd_ = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd_ < 0 && !readOnly && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        readOnly_ = true;
    }
    if (fd_ < 0) throw jeterr::fileNotFound(path);
    try {
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) throw jeterr::fileNotFound(path);
        if (!readOnly_) takeLock();
        if (recover || !readOnly_) recoverIfNeeded();
        const uint64_t size = fileSize();
        if (size / pageSize_ > 0x7FFFFFFFu / pageSize_ * pageSize_)
            throw Error("The database '" + path + "' is too large to be an Access database.");
        pageCount_ = uint32_t(size / pageSize_);
        basePages_ = pageCount_;
    } catch (...) {
        releaseLock();
        ::close(fd_);
        fd_ = -1;
        throw;
    }
}

Pager::Pager(const std::string& path, CreateTag, uint32_t pageSize)
    : path_(path), pageSize_(pageSize == 2048 ? 2048 : kPageSize) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        if (errno == EEXIST) throw jeterr::databaseExists();
        throw jeterr::cannotCreateFile(path, std::strerror(errno));
    }
    try {
        takeLock();
        if (readOnly_) throw Error(jeterr::kDiskIo, "Could not create the lock file '" + lockFilePath(path) + "'.");
    } catch (...) {
        ::close(fd_);
        fd_ = -1;
        ::unlink(path.c_str());
        throw;
    }
}

Pager::~Pager() {
    try {
        close();
    } catch (...) {}
}

void Pager::damaged(const std::string& what) const { throw jeterr::damaged(path_, what); }

uint64_t Pager::fileSize() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return 0;
    return uint64_t(st.st_size);
}

// ---------------------------------------------------------------- pages

void Pager::setCipher(std::unique_ptr<PageCipher> cipher) {
    lastEntry_ = nullptr;
    cipher_ = std::move(cipher);
    key_ = 0;
    for (auto it = cache_.begin(); it != cache_.end();) {
        if (it->first != 0 && !it->second.dirty) it = cache_.erase(it);
        else ++it;
    }
}

void Pager::code(uint32_t page, uint8_t* data) const {
    if (page == 0) return;
    if (cipher_) {
        cipher_->decryptPage(page, data, pageSize_);
        return;
    }
    if (key_ == 0) return;
    uint8_t k[4];
    encodeLE32(k, key_ ^ page);
    rc4(k, 4, data, pageSize_);
}

Pager::Entry& Pager::load(uint32_t page) {
    if (lastEntry_ && lastPage_ == page) return *lastEntry_;
    auto it = cache_.find(page);
    if (it != cache_.end()) {
        lastPage_ = page;
        lastEntry_ = &it->second;
        return it->second;
    }
    if (page >= pageCount_) damaged("page " + std::to_string(page) + " is beyond the end of the file");
    Entry& e = newEntry(page);
    uint8_t* data = e.data.get();
    size_t done = 0;
    while (done < pageSize_) {
        ssize_t n = ::pread(fd_, data + done, pageSize_ - done, off_t(page) * pageSize_ + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    if (done < kPageSize) std::memset(data + done, 0, kPageSize - done);
    try {
        code(page, data);
    } catch (...) {
        cache_.erase(page);
        throw;
    }
    return e;
}

// A clean entry for a page not in the cache (its bytes are the caller's to
// fill), from the spare entries when there is one.
Pager::Entry& Pager::newEntry(uint32_t page) {
    if (spareEntries_.empty()) {
        Entry e;
        e.data.reset(new uint8_t[kPageSize]);
        return cache_.emplace(page, std::move(e)).first->second;
    }
    Cache::node_type node = std::move(spareEntries_.back());
    spareEntries_.pop_back();
    node.key() = page;
    node.mapped().dirty = false;
    node.mapped().savedIn = 0;
    return cache_.insert(std::move(node)).position->second;
}

// Trims the pages not changed since they were written from the cache; their
// entries are kept for the next pages, up to the cache's budget.
void Pager::dropClean() {
    lastEntry_ = nullptr;
    for (auto it = cache_.begin(); it != cache_.end();) it = it->second.dirty ? std::next(it) : spare(it);
}

// Takes a clean entry out of the cache; the entry after it.
Pager::Cache::iterator Pager::spare(Cache::iterator clean) {
    auto next = std::next(clean);
    if (spareEntries_.size() < cacheBudget()) spareEntries_.push_back(cache_.extract(clean));
    else cache_.erase(clean);
    return next;
}

const uint8_t* Pager::read(uint32_t page) { return load(page).data.get(); }

void Pager::markDirty(Entry& e) {
    if (!e.dirty) {
        e.dirty = true;
        ++dirtyCount_;
    }
}

void Pager::requireHealthy() const {
    if (broken_)
        throw Error(jeterr::kDiskIo, "Disk or network error: the database '" + path_ +
                                         "' could not be put back after a failed write; close it and open it again.");
}

// The page's entry when it may be changed, and whether this statement has
// yet to keep its earlier bytes.
Pager::Entry& Pager::writable(uint32_t page, bool& keep) {
    if (readOnly_) throw jeterr::readOnly();
    requireHealthy();
    Entry& e = load(page);
    if (unit_.active && page < unit_.pages && !unit_.has(page)) keepForUnit(page, e.data.get());
    keep = inStatement_ && e.savedIn != statementSeq_ && page < statementPages_;
    return e;
}

uint8_t* Pager::modify(uint32_t page) {
    bool keep;
    Entry& e = writable(page, keep);
    if (keep && statementImages_ >= (gUnitMemory ? gUnitMemory.load() : kUnitMemory)) {
        // Past the bound the image goes to the statement's temporary file.
        if (statementFd_ < 0) statementFd_ = tempFile();
        if (!writeAll(statementFd_, e.data.get(), pageSize_, statementSpillEnd_))
            throw Error(jeterr::kDiskIo, ioError("writing a temporary file beside", path_));
        undo_.push_back(Undo{page, e.dirty, nullptr, 0, 0, false, statementSpillEnd_});
        statementSpillEnd_ += pageSize_;
        e.savedIn = statementSeq_;
    } else if (keep) {
        // First change of this page in the statement: keep its image.
        ++statementImages_;
        std::unique_ptr<uint8_t[]> img;
        if (!spare_.empty()) {
            img = std::move(spare_.back());
            spare_.pop_back();
        } else {
            img.reset(new uint8_t[kPageSize]);
        }
        std::memcpy(img.get(), e.data.get(), kPageSize);
        undo_.push_back(Undo{page, e.dirty, std::move(img)});
        e.savedIn = statementSeq_;
    }
    markDirty(e);
    return e.data.get();
}

uint8_t* Pager::modifyRanges(uint32_t page, std::initializer_list<Range> ranges) {
    bool keep;
    Entry& e = writable(page, keep);
    if (keep) {
        size_t total = 0;
        for (const Range& r : ranges) {
            if (size_t(r.offset) + r.length > kPageSize)
                damaged("a change past the end of page " + std::to_string(page));
            total += kRangeHead + r.length;
        }
        const size_t at = partialUsed_;
        if (at + total > partialCap_) {
            const size_t cap = std::max(partialCap_ * 2, at + total + 4096);
            std::unique_ptr<uint8_t[]> bigger(new uint8_t[cap]);
            if (at) std::memcpy(bigger.get(), partial_.get(), at);
            partial_ = std::move(bigger);
            partialCap_ = cap;
        }
        partialUsed_ = at + total;
        uint8_t* out = partial_.get() + at;
        for (const Range& r : ranges) {
            encodeLE16(out + kRangeOffset, r.offset);
            encodeLE16(out + kRangeLength, r.length);
            const uint8_t* from = e.data.get() + r.offset;
            if (r.length <= 8) {
                for (uint16_t i = 0; i < r.length; ++i) out[kRangeHead + i] = from[i];  // counters and map bytes
            } else {
                std::memcpy(out + kRangeHead, from, r.length);
            }
            out += kRangeHead + r.length;
        }
        undo_.push_back(Undo{page, e.dirty, nullptr, at, at + total});
    }
    markDirty(e);
    return e.data.get();
}

uint32_t Pager::append() {
    if (readOnly_) throw jeterr::readOnly();
    requireHealthy();
    const uint32_t limit = gPageLimit ? gPageLimit.load() : 0x7FFFF000u / pageSize_;
    if (pageCount_ >= limit)
        throw Error(jeterr::kFull, "The database '" + path_ + "' has reached its maximum size (2 GB).");
    const uint32_t page = pageCount_++;
    if (auto stale = cache_.find(page); stale != cache_.end()) {
        if (stale->second.dirty) --dirtyCount_;
        cache_.erase(stale);
        lastEntry_ = nullptr;
    }
    Entry& e = newEntry(page);
    std::memset(e.data.get(), 0, kPageSize);
    e.dirty = true;
    ++dirtyCount_;
    ++newSinceTrim_;
    return page;
}

void Pager::released(uint32_t page) {
    if (page >= pageCount_) return;
    if (releasedSince_.size() <= page) releasedSince_.resize(size_t(pageCount_) + 1024);
    releasedSince_[page] = true;
}

uint8_t* Pager::reuse(uint32_t page) {
    if (page >= pageCount_) damaged("page " + std::to_string(page) + " is beyond the end of the file");
    const bool freeAtDurable = page < basePages_ && !(page < releasedSince_.size() && releasedSince_[page]);
    if (freeAtDurable) {
        if (unjournaled_.size() <= page) unjournaled_.resize(size_t(basePages_));
        unjournaled_[page] = true;
    }
    // Inside a unit, a page the unit has no image of yet is taken through
    // modify(), which keeps one: being free at the last durability point
    // says nothing of what it held when the unit began (a table the unit
    // dropped before that point may have had it), and a rollback gives back
    // the very bytes of the file.
    const bool unitImage = unit_.active && page < unit_.pages && !unit_.has(page);
    if (!freeAtDurable || unitImage || cache_.count(page)) {
        uint8_t* p = modify(page);
        std::memset(p, 0, kPageSize);
        ++newSinceTrim_;
        return p;
    }
    // Not in the cache and its bytes do not matter: a zero page, without
    // reading the old one; an undo forgets it again.
    if (readOnly_) throw jeterr::readOnly();
    requireHealthy();
    lastEntry_ = nullptr;
    Entry& e = newEntry(page);
    std::memset(e.data.get(), 0, kPageSize);
    e.dirty = true;
    ++dirtyCount_;
    ++newSinceTrim_;
    if (inStatement_ && page < statementPages_) {
        e.savedIn = statementSeq_;
        Undo u{page, false, nullptr};
        u.forget = true;
        undo_.push_back(std::move(u));
    }
    return e.data.get();
}

void Pager::peek(uint32_t page, uint8_t* out, size_t n) {
    n = std::min<size_t>(n, pageSize_);
    if (auto it = cache_.find(page); it != cache_.end()) {
        std::memcpy(out, it->second.data.get(), n);
        return;
    }
    if (page >= pageCount_) damaged("page " + std::to_string(page) + " is beyond the end of the file");
    if (cipher_ && page != 0) {
        std::vector<uint8_t> whole(kPageSize, 0);
        if (!readAll(fd_, whole.data(), pageSize_, uint64_t(page) * pageSize_)) std::memset(whole.data(), 0, kPageSize);
        code(page, whole.data());
        std::memcpy(out, whole.data(), n);
        return;
    }
    if (!readAll(fd_, out, n, uint64_t(page) * pageSize_)) std::memset(out, 0, n);
    if (key_ != 0 && page != 0) {
        uint8_t k[4];
        encodeLE32(k, key_ ^ page);
        rc4(k, 4, out, n);  // the key stream of the page's first n bytes
    }
}

// ---------------------------------------------------------------- statements

void Pager::beginStatement() {
    inStatement_ = true;
    ++statementSeq_;
    statementPages_ = pageCount_;
}

void Pager::endStatement() {
    inStatement_ = false;
    statementWrote_ = false;
    statementImages_ = 0;
    if (statementSpillEnd_ > 0) {
        if (::ftruncate(statementFd_, 0) != 0) {
            ::close(statementFd_);
            statementFd_ = -1;
        }
        statementSpillEnd_ = 0;
    }
    for (Undo& u : undo_)
        if (u.image) spare_.push_back(std::move(u.image));
    undo_.clear();
    partialUsed_ = 0;
    if (spare_.size() > 64) spare_.resize(64);
}

bool Pager::statementChanged() const { return inStatement_ && (!undo_.empty() || pageCount_ != statementPages_); }

// Puts one page back as the statement found it.
void Pager::undoChange(const Undo& u) {
    if (u.forget) {
        if (auto f = cache_.find(u.page); f != cache_.end()) {
            if (f->second.dirty) --dirtyCount_;
            cache_.erase(f);
        }
        return;
    }
    Entry& e = cache_[u.page];
    if (!e.data) e.data.reset(new uint8_t[kPageSize]);
    if (u.spilledAt != kNotSpilled) {
        // Unreadable: the pager refuses further writes, the file keeps its
        // last durability point.
        if (!readAll(statementFd_, e.data.get(), pageSize_, u.spilledAt)) broken_ = true;
    } else if (u.image) {
        std::memcpy(e.data.get(), u.image.get(), kPageSize);
    } else {
        for (size_t at = u.at; at + kRangeHead <= u.end;) {
            const uint8_t* q = partial_.get() + at;
            const uint16_t off = decodeLE16(q + kRangeOffset), len = decodeLE16(q + kRangeLength);
            std::memcpy(e.data.get() + off, q + kRangeHead, len);
            at += kRangeHead + len;
        }
    }
    // Pages the statement wrote early differ from the file's now.
    const bool dirty = u.wasDirty || statementWrote_;
    if (e.dirty && !dirty) --dirtyCount_;
    if (!e.dirty && dirty) ++dirtyCount_;
    e.dirty = dirty;
    e.savedIn = 0;
}

void Pager::rollbackStatement() {
    if (!inStatement_) return;
    lastEntry_ = nullptr;
    for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
        if (((it - undo_.rbegin()) & 255) == 255) stillBusy();
        undoChange(*it);
    }
    for (uint32_t p = statementPages_; p < pageCount_; ++p) {
        auto it = cache_.find(p);
        if (it == cache_.end()) continue;
        if (it->second.dirty) --dirtyCount_;
        cache_.erase(it);
    }
    pageCount_ = statementPages_;
    endStatement();
}

// ---------------------------------------------------------------- units

void Pager::beginUnit() {
    if (readOnly_) throw jeterr::readOnly();
    requireHealthy();
    dropUnit();
    unit_.active = true;
    unit_.pages = pageCount_;
    unit_.saved.assign((size_t(pageCount_) + 63) / 64, 0);
}

void Pager::endUnit() { dropUnit(); }

Pager::UnitUse Pager::unitUse() const {
    UnitUse u;
    u.pages = unit_.images.size();
    u.inMemory = unit_.memory.size();
    u.spilled = unit_.spillEnd;
    u.cached = cache_.size();
    return u;
}

void Pager::dropUnit() {
    if (unit_.spillFd >= 0) ::close(unit_.spillFd);
    unit_ = Unit{};
}

int Pager::tempFile() const { return pagerio::tempFileBeside(path_, "-unit-"); }

// The page's image as it was when the unit began (this is the unit's first
// change of it): in memory while the bound allows, else at the end of the
// unit's temporary file, which is made beside the database and removed from
// the directory at once (nothing is left behind by a crash).
void Pager::keepForUnit(uint32_t page, const uint8_t* data) {
    const size_t bound = gUnitMemory ? gUnitMemory.load() : kUnitMemory;
    if (unit_.memory.size() < bound) {
        std::unique_ptr<uint8_t[]> img(new uint8_t[kPageSize]);
        std::memcpy(img.get(), data, kPageSize);
        unit_.memory.push_back(std::move(img));
        unit_.images.push_back({page, uint32_t(unit_.memory.size() - 1), 0});
    } else {
        if (unit_.spillFd < 0) unit_.spillFd = tempFile();
        if (!writeAll(unit_.spillFd, data, pageSize_, unit_.spillEnd))
            throw Error(jeterr::kDiskIo, ioError("writing a temporary file beside", path_));
        unit_.images.push_back({page, kSpilled, unit_.spillEnd});
        unit_.spillEnd += pageSize_;
    }
    unit_.saved[page >> 6] |= uint64_t(1) << (page & 63);
}

void Pager::rollbackUnit() {
    if (!unit_.active) return;
    requireHealthy();
    if (inStatement_) rollbackStatement();
    lastEntry_ = nullptr;
    // Pages the unit added go; those it found come back as they were.
    for (auto it = cache_.begin(); it != cache_.end();) {
        if (it->first >= unit_.pages) {
            if (it->second.dirty) --dirtyCount_;
            it = cache_.erase(it);
        } else {
            ++it;
        }
    }
    std::vector<uint8_t> buf(kPageSize, 0);
    size_t restored = 0;
    for (const Unit::Image& im : unit_.images) {
        // A big unit gives back more pages than the cache holds: those put
        // back go to the file on the way (their committed images to the
        // journal first), so memory stays bounded.
        if ((++restored & 255) == 0) {
            stillBusy();
            lastEntry_ = nullptr;
            trim();
        }
        const uint8_t* src = nullptr;
        if (im.slot != kSpilled) {
            src = unit_.memory[im.slot].get();
        } else {
            if (!readAll(unit_.spillFd, buf.data(), pageSize_, im.offset)) {
                broken_ = true;
                throw Error(jeterr::kDiskIo, ioError("reading a temporary file beside", path_));
            }
            src = buf.data();
        }
        Entry& e = cache_[im.page];
        if (!e.data) e.data.reset(new uint8_t[kPageSize]);
        std::memcpy(e.data.get(), src, kPageSize);
        e.savedIn = 0;
        markDirty(e);
    }
    const uint32_t pages = unit_.pages;
    dropUnit();
    // Pages written at durability points inside the unit stay in the file
    // until the restored pages no longer refer to them: a crash before the
    // cut below leaves a longer file that is whole.
    pageCount_ = std::max(pages, basePages_);
    commit();
    if (pageCount_ > pages) {
        if (!truncateFd(fd_, uint64_t(pages) * pageSize_) || !syncFd(fd_))
            throw Error(jeterr::kDiskIo, ioError("writing", path_));
        pageCount_ = basePages_ = pages;
    }
}

// ---------------------------------------------------------------- writing

void Pager::writePage(uint32_t page, const uint8_t* data) {
    const uint8_t* src = data;
    if (page != 0 && cipher_) {
        scratch_.assign(data, data + kPageSize);
        cipher_->encryptPage(page, scratch_.data(), pageSize_);
        src = scratch_.data();
    } else if (key_ != 0 && page != 0) {
        scratch_.assign(data, data + kPageSize);
        code(page, scratch_.data());
        src = scratch_.data();
    }
    if (!writeAll(fd_, src, pageSize_, uint64_t(page) * pageSize_))
        throw Error(jeterr::kDiskIo, ioError("writing", path_));
}

// Pages in ascending order; runs of neighbouring plain pages go out in one
// call each.
void Pager::writePages(const std::vector<DirtyPage>& pages) {
    constexpr size_t kRun = 64;
    iovec iov[kRun];
    size_t i = 0;
    while (i < pages.size()) {
        if ((i & 255) < kRun) stillBusy();
        const uint32_t first = pages[i].page;
        if (encrypted() && first != 0) {
            writePage(first, pages[i].at->second.data.get());
            ++i;
            continue;
        }
        size_t n = 0;
        while (i + n < pages.size() && n < kRun && pages[i + n].page == first + n &&
               !(encrypted() && pages[i + n].page != 0)) {
            iov[n].iov_base = pages[i + n].at->second.data.get();
            iov[n].iov_len = pageSize_;
            ++n;
        }
        if (n == 1) {
            writePage(first, static_cast<const uint8_t*>(iov[0].iov_base));
        } else {
            if (injectedFault()) throw Error(jeterr::kDiskIo, ioError("writing", path_));
            ssize_t w;
            do {
                w = ::pwritev(fd_, iov, int(n), off_t(uint64_t(first) * pageSize_));
            } while (w < 0 && errno == EINTR);
            if (w < 0) throw Error(jeterr::kDiskIo, ioError("writing", path_));
            // A short write: the rest page by page (which reports the error).
            for (size_t k = size_t(w) / pageSize_; k < n; ++k)
                writePage(first + uint32_t(k), static_cast<const uint8_t*>(iov[k].iov_base));
        }
        i += n;
    }
}

// The changed pages in ascending order: those past the committed end of the
// file, and those that hold committed data.
void Pager::dirtyPages(std::vector<DirtyPage>& fresh, std::vector<DirtyPage>& committed, bool spareClean) {
    for (auto it = cache_.begin(); it != cache_.end();) {
        const uint32_t n = it->first;
        if (!it->second.dirty) {
            it = spareClean ? spare(it) : std::next(it);
            continue;
        }
        (n >= basePages_ || unjournaled(n) ? fresh : committed).push_back(DirtyPage{n, it});
        ++it;
    }
    auto byPage = [](const DirtyPage& a, const DirtyPage& b) { return a.page < b.page; };
    std::sort(fresh.begin(), fresh.end(), byPage);
    std::sort(committed.begin(), committed.end(), byPage);
}

void Pager::markWritten(const std::vector<DirtyPage>& pages) {
    for (const DirtyPage& d : pages) {
        d.at->second.dirty = false;
        --dirtyCount_;
    }
}

void Pager::commit() {
    if (fd_ < 0 || readOnly_) return;
    if (dirtyCount_ == 0 && journalFd_ < 0) return;
    requireHealthy();
    checkStillThere();
    std::vector<DirtyPage> fresh, committed;
    dirtyPages(fresh, committed);
    // 1. Committed images of the pages about to be overwritten, synced.
    journalPages(committed);
    syncJournal();
    // 2. New pages first (nothing refers to them yet), then the changed ones.
    writePages(fresh);
    writePages(committed);
    // The file never holds more whole pages than the database.
    if (fileSize() >= uint64_t(pageCount_ + 1) * pageSize_ && !truncateFd(fd_, uint64_t(pageCount_) * pageSize_))
        throw Error(jeterr::kDiskIo, ioError("writing", path_));
    if (!syncFd(fd_)) throw Error(jeterr::kDiskIo, ioError("writing", path_));
    // 3. The file is complete: the journal goes.
    removeJournal();
    markWritten(fresh);
    markWritten(committed);
    dirtyCount_ = 0;
    basePages_ = pageCount_;
    journaled_.clear();
    releasedSince_.clear();
    unjournaled_.clear();
}

void Pager::trim(bool inStatementToo) {
    // New pages go out a few megabytes at a time even when the cache has
    // room: each write is short, and the thread that hands the rows over
    // never waits long for this one.
    const bool manyNew = newSinceTrim_ >= kWriteBehind;
    if ((inStatement_ && !inStatementToo) || (cache_.size() <= cacheBudget() && !manyNew) || fd_ < 0 || broken_)
        return;
    newSinceTrim_ = 0;
    lastEntry_ = nullptr;
    if (inStatement_ && dirtyCount_ > 0) statementWrote_ = true;
    if (readOnly_) {
        dropClean();
        return;
    }
    std::vector<DirtyPage> fresh, committed;
    dirtyPages(fresh, committed, true);
    if (committed.size() > pinnedBudget()) {
        // Too many changed pages to keep: their committed images go to the
        // journal first, then they are written too.
        journalPages(committed);
        syncJournal();
    } else {
        committed.clear();
    }
    if (!fresh.empty()) openJournal();  // a crash now must cut the file back
    for (const auto* list : {&fresh, &committed}) {
        writePages(*list);
        markWritten(*list);
    }
#ifdef __linux__
    // Let the disk start on what was just written, so that the sync of the
    // next durability point has less to wait for (no waiting here).
    if (!fresh.empty())
        ::sync_file_range(fd_, off_t(uint64_t(fresh.front().page) * pageSize_),
                          off_t(uint64_t(fresh.back().page - fresh.front().page + 1) * pageSize_),
                          SYNC_FILE_RANGE_WRITE);
#endif
    for (const auto* list : {&fresh, &committed})
        for (const DirtyPage& d : *list) spare(d.at);
}

void Pager::close() {
    if (fd_ < 0) return;
    try {
        commit();
    } catch (...) {
        abandon();
        throw;
    }
    abandon();
}

void Pager::restoreFile() {
    if (fd_ < 0 || journalFd_ < 0) return;
    try {
        playBack(journalPath(path_), journalFd_, fd_, path_);
    } catch (...) {
        broken_ = true;
    }
    ::close(journalFd_);
    journalFd_ = -1;
    journaled_.clear();
}

void Pager::abandon() {
    if (fd_ < 0) return;
    // Put the file back as it was at the last durability point; if even that
    // fails, the journal stays and the next open repairs the file.
    restoreFile();
    ::close(fd_);
    fd_ = -1;
    lastEntry_ = nullptr;
    cache_.clear();
    spareEntries_.clear();
    undo_.clear();
    dropUnit();
    if (statementFd_ >= 0) ::close(statementFd_);
    statementFd_ = -1;
    dirtyCount_ = 0;
    releaseLock();
}

}  // namespace tp::db::jet
