#include "db/jet/pager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "db/error.h"
#include "db/jet/crypto.h"

namespace tp::db::jet {

namespace {
constexpr size_t kCacheBudget = 8192;   // pages (32 MB)
constexpr long kErrFileNotFound = 3024;
constexpr long kErrDiskIo = 3043;
}  // namespace

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

Pager::Pager(const std::string& path, bool readOnly, uint32_t pageSize)
    : path_(path), readOnly_(readOnly), pageSize_(pageSize == 2048 ? 2048 : kPageSize) {
    fd_ = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd_ < 0 && !readOnly && (errno == EACCES || errno == EROFS)) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        readOnly_ = true;
    }
    if (fd_ < 0) throw Error(kErrFileNotFound, "Could not find file '" + path + "'.");
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw Error(kErrFileNotFound, "Could not find file '" + path + "'.");
    }
    const uint64_t size = uint64_t(st.st_size);
    if (size / pageSize_ > 0x7FFFFFFFu / pageSize_ * pageSize_) {
        ::close(fd_);
        fd_ = -1;
        throw Error("The database '" + path + "' is too large to be an Access database.");
    }
    pageCount_ = uint32_t(size / pageSize_);
}

Pager::Pager(const std::string& path, CreateTag) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        if (errno == EEXIST) throw Error(3204, "Database already exists.");
        throw Error(kErrDiskIo, "Could not create file '" + path + "': " + std::strerror(errno));
    }
}

Pager::~Pager() {
    try {
        close();
    } catch (...) {
    }
}

void Pager::damaged(const std::string& what) const {
    throw Error(3049, "The database '" + path_ + "' is damaged: " + what + ".");
}

void Pager::setCipher(std::unique_ptr<PageCipher> cipher) {
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
    wr32(k, key_ ^ page);
    rc4(k, 4, data, pageSize_);
}

Pager::Entry& Pager::load(uint32_t page) {
    auto it = cache_.find(page);
    if (it != cache_.end()) return it->second;
    if (page >= pageCount_) damaged("page " + std::to_string(page) + " is beyond the end of the file");
    Entry e;
    e.data.reset(new uint8_t[kPageSize]);
    size_t done = 0;
    while (done < pageSize_) {
        ssize_t n = ::pread(fd_, e.data.get() + done, pageSize_ - done, off_t(page) * pageSize_ + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    if (done < kPageSize) std::memset(e.data.get() + done, 0, kPageSize - done);
    code(page, e.data.get());
    return cache_.emplace(page, std::move(e)).first->second;
}

const uint8_t* Pager::read(uint32_t page) { return load(page).data.get(); }

uint8_t* Pager::modify(uint32_t page) {
    if (readOnly_) throw Error(3027, "Cannot update. Database or object is read-only.");
    Entry& e = load(page);
    if (!e.dirty) {
        e.dirty = true;
        ++dirtyCount_;
    }
    return e.data.get();
}

uint32_t Pager::append() {
    if (readOnly_) throw Error(3027, "Cannot update. Database or object is read-only.");
    if (pageCount_ >= 0x7FFFF000u / pageSize_) throw Error(3047, "The database '" + path_ + "' has reached its maximum size (2 GB).");
    const uint32_t page = pageCount_++;
    Entry e;
    e.data.reset(new uint8_t[kPageSize]);
    std::memset(e.data.get(), 0, kPageSize);
    e.dirty = true;
    ++dirtyCount_;
    cache_[page] = std::move(e);
    return page;
}

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
    size_t done = 0;
    while (done < pageSize_) {
        ssize_t n = ::pwrite(fd_, src + done, pageSize_ - done, off_t(page) * pageSize_ + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw Error(kErrDiskIo, "Disk or network error writing '" + path_ + "': " + std::strerror(errno));
        done += size_t(n);
    }
}

void Pager::flush(bool sync) {
    if (fd_ < 0 || readOnly_) return;
    if (dirtyCount_ > 0) {
        std::vector<uint32_t> pages;
        pages.reserve(dirtyCount_);
        for (auto& [n, e] : cache_)
            if (e.dirty) pages.push_back(n);
        std::sort(pages.begin(), pages.end());
        for (uint32_t n : pages) {
            Entry& e = cache_[n];
            writePage(n, e.data.get());
            e.dirty = false;
        }
        dirtyCount_ = 0;
    }
    if (sync) ::fsync(fd_);
}

void Pager::trim() {
    if (cache_.size() <= kCacheBudget) return;
    flush(false);
    cache_.clear();
}

void Pager::close() {
    if (fd_ < 0) return;
    flush(true);
    ::close(fd_);
    fd_ = -1;
    cache_.clear();
}

}  // namespace tp::db::jet
