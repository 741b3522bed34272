// Sorted entries (byte strings) past a bound on memory: entries go into one
// arena (no allocation per entry); past the bound each sorted run is
// appended to a temporary file beside the database (made as the pager makes
// its own, already removed from the directory), and the runs are merged as
// the entries are read back. Index builds sort their keys in byte order; a
// query's rows sort by an order of their own, stable. Private to db/jet.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tp::db::jet {

class EntrySorter {
public:
    // Whether entry a goes before entry b (a strict weak order). Entries it
    // holds equal come back in the order they were added.
    using Less = std::function<bool(const uint8_t* a, size_t an, const uint8_t* b, size_t bn)>;

    // `near`: the database, beside which the temporary file goes. Byte
    // order, bound memoryBound().
    explicit EntrySorter(std::string near);
    // `bound`: bytes of entries held in memory before a run is written.
    EntrySorter(std::string near, size_t bound, Less less);
    ~EntrySorter();
    EntrySorter(const EntrySorter&) = delete;
    EntrySorter& operator=(const EntrySorter&) = delete;

    void add(const uint8_t* entry, size_t n);
    void add(const std::vector<uint8_t>& entry) { add(entry.data(), entry.size()); }
    // Ends the adding; the entries can then be read, in order, as often as
    // wanted, each reading started by rewind().
    void finish();
    void rewind();
    // The next entry (valid until the next call), or false at the end.
    bool next(const uint8_t*& p, size_t& n);
    // Runs written to the temporary file so far (0: all in memory).
    size_t runs() const { return runs_.size(); }

    // The bound on the memory of the entries held (bytes): the environment's
    // TALLYPORT_INDEX_SORT_BYTES, read once, else 64 MB; setMemoryBound()
    // changes it for the sorters made after (0: back to that).
    static size_t memoryBound();
    static void setMemoryBound(size_t bytes);

private:
    // An entry in the arena; while sorting in byte order, its eight bytes
    // from the depth reached (big-endian, zeros past its end).
    struct Ref {
        uint64_t digit;
        uint32_t off;
        uint32_t len;
    };
    // A sorted run in the temporary file: [pos, end), read through a buffer.
    struct Run {
        uint64_t begin = 0, pos = 0, end = 0;
        std::vector<uint8_t> buf;
        size_t at = 0;
        std::vector<uint8_t> cur;  // its current entry
    };
    void sortRun();
    void sortFrom(size_t lo, size_t hi, size_t depth);
    void spill();
    void write(const uint8_t* p, size_t n);
    bool read(Run& r);
    bool take(Run& r, uint8_t* dst, size_t n);
    bool runLess(size_t a, size_t b) const;
    [[noreturn]] void failed(const char* what) const;

    std::string near_;
    size_t bound_;
    Less less_;  // empty: byte order
    std::vector<uint8_t> arena_;
    std::vector<Ref> refs_;
    size_t at_ = 0;  // reading from memory: the next ref
    int fd_ = -1;    // the temporary file, once there is one
    uint64_t size_ = 0;
    std::vector<uint8_t> out_;  // writing a run: bytes not yet written
    std::vector<Run> runs_;
    std::vector<size_t> heap_;  // merging: runs by their current entry
};

}  // namespace tp::db::jet
