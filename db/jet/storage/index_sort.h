// The sorted entries of one index being built: entries go into one arena
// (no allocation per entry); past a bound on memory each sorted run is
// appended to a temporary file beside the database, and the runs are merged
// as the entries are read back. The file is removed with the sorter. Private to db/jet.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tp::db::jet {

class EntrySorter {
public:
    // `near`: a file beside which the temporary files go.
    explicit EntrySorter(std::string near);
    ~EntrySorter();
    EntrySorter(const EntrySorter&) = delete;
    EntrySorter& operator=(const EntrySorter&) = delete;

    void add(const std::vector<uint8_t>& entry);
    // Ends the adding; the entries can then be read, in order, as often as
    // wanted, each reading started by rewind().
    void finish();
    void rewind();
    // The next entry (valid until the next call), or false at the end.
    bool next(const uint8_t*& p, size_t& n);

    // The bound on the memory of the entries held (bytes): the environment's
    // TALLYPORT_INDEX_SORT_BYTES, read once, else 64 MB; setMemoryBound()
    // changes it for the sorters made after (0: back to that).
    static size_t memoryBound();
    static void setMemoryBound(size_t bytes);

private:
    // An entry in the arena; while sorting, its eight bytes from the depth
    // reached (big-endian, zeros past its end) and how many of them it has.
    struct Ref {
        uint64_t digit;
        uint32_t off;
        uint16_t len;
        uint8_t has;
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
    void openFile();
    bool read(Run& r);
    bool take(Run& r, uint8_t* dst, size_t n);
    bool runLess(size_t a, size_t b) const;

    std::string near_;
    std::vector<uint8_t> arena_;
    std::vector<Ref> refs_;
    size_t bound_;
    size_t at_ = 0;     // reading from memory: the next ref
    std::string path_;  // the temporary file, once there is one
    std::FILE* file_ = nullptr;
    uint64_t size_ = 0;
    std::vector<Run> runs_;
    std::vector<size_t> heap_;  // merging: runs by their current entry
};

}  // namespace tp::db::jet
