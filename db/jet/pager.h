// Page-level file access for the Access engine: pages (4096 bytes; 2048 in
// Access 97 files) read through
// a cache, modified in memory and written back at explicit points (flush,
// close, or when the cache grows past its budget). Optional per-page RC4
// encoding for "encoded" Jet databases.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tp::db::jet {

class PageCipher;

inline constexpr uint32_t kPageSize = 4096;

class Pager {
public:
    // Opens an existing file (throws db::Error on failure).
    Pager(const std::string& path, bool readOnly, uint32_t pageSize = kPageSize);
    // Creates a new file; fails when it exists.
    struct CreateTag {};
    Pager(const std::string& path, CreateTag);
    ~Pager();
    Pager(const Pager&) = delete;
    Pager& operator=(const Pager&) = delete;

    const std::string& path() const { return path_; }
    bool readOnly() const { return readOnly_; }
    uint32_t pageCount() const { return pageCount_; }
    // Bytes per page in the file (page buffers always hold kPageSize bytes;
    // past the page size they are zero).
    uint32_t pageSize() const { return pageSize_; }

    // Pointers stay valid until the next trim(), flush() or close().
    const uint8_t* read(uint32_t page);
    uint8_t* modify(uint32_t page);
    // A new zero page at the end of the file (held in the cache).
    uint32_t append();

    // Writes dirty pages; with sync also fsyncs.
    void flush(bool sync);
    // Keeps memory bounded: writes dirty pages and drops the cache when it
    // holds more than the budget. Call only where no page pointer is held.
    void trim();
    void close();

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
    };
    Entry& load(uint32_t page);
    void writePage(uint32_t page, const uint8_t* data);
    void code(uint32_t page, uint8_t* data) const;

    std::string path_;
    int fd_ = -1;
    bool readOnly_ = false;
    uint32_t pageSize_ = kPageSize;
    uint32_t pageCount_ = 0;   // logical page count (includes appended pages)
    uint32_t key_ = 0;
    std::unique_ptr<PageCipher> cipher_;
    std::unordered_map<uint32_t, Entry> cache_;
    size_t dirtyCount_ = 0;
    std::vector<uint8_t> scratch_;
};

// Little-endian helpers.
inline uint16_t rd16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t rd24(const uint8_t* p) { return uint32_t(p[0] | (p[1] << 8) | (p[2] << 16)); }
inline uint32_t rd32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void wr16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void wr32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}

// RC4 keystream applied in place.
void rc4(const uint8_t* key, size_t keyLen, uint8_t* data, size_t len);

}  // namespace tp::db::jet
