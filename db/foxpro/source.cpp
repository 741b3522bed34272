#include "db/foxpro/source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "db/error.h"

namespace tp::db::foxpro {

namespace {

class FileSource : public ByteSource {
public:
    FileSource(std::string path, int fd, uint64_t size) : path_(std::move(path)), fd_(fd), size_(size) {}
    ~FileSource() override { ::close(fd_); }
    uint64_t size() const override { return size_; }
    const std::string& name() const override { return path_; }
    size_t readAt(uint64_t off, void* buf, size_t n) const override {
        if (off >= size_) return 0;
        if (n > size_ - off) n = static_cast<size_t>(size_ - off);
        size_t done = 0;
        while (done < n) {
            const ssize_t r = ::pread(fd_, static_cast<char*>(buf) + done, n - done, static_cast<off_t>(off + done));
            if (r < 0) {
                if (errno == EINTR) continue;
                throw Error("Cannot read " + path_ + ": " + std::strerror(errno));
            }
            if (r == 0) break;
            done += static_cast<size_t>(r);
        }
        return done;
    }

private:
    std::string path_;
    int fd_;
    uint64_t size_;
};

class MemorySource : public ByteSource {
public:
    MemorySource(std::string name, std::vector<uint8_t> bytes) : name_(std::move(name)), bytes_(std::move(bytes)) {}
    uint64_t size() const override { return bytes_.size(); }
    const std::string& name() const override { return name_; }
    size_t readAt(uint64_t off, void* buf, size_t n) const override {
        if (off >= bytes_.size()) return 0;
        if (n > bytes_.size() - off) n = static_cast<size_t>(bytes_.size() - off);
        if (n) std::memcpy(buf, bytes_.data() + off, n);
        return n;
    }

private:
    std::string name_;
    std::vector<uint8_t> bytes_;
};

}  // namespace

std::unique_ptr<ByteSource> openFileSource(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Error("Cannot open " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw Error("Cannot open " + path + ": not a regular file");
    }
    return std::make_unique<FileSource>(path, fd, static_cast<uint64_t>(st.st_size));
}

std::unique_ptr<ByteSource> memorySource(std::string name, std::vector<uint8_t> bytes) {
    return std::make_unique<MemorySource>(std::move(name), std::move(bytes));
}

}  // namespace tp::db::foxpro
