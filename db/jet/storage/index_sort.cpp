// The sorted entries of an index being built (see index_sort.h).
#include "db/jet/storage/index_sort.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "db/error.h"

namespace tp::db::jet {

namespace {

constexpr size_t kDefaultBound = size_t(64) << 20;
constexpr size_t kMaxBuffer = size_t(64) << 10;
constexpr size_t kMinBuffer = size_t(4) << 10;
std::atomic<size_t> boundSet{0};

uint64_t digitOf(const uint8_t* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < 8; ++i) v = (v << 8) | (i < n ? p[i] : 0);
    return v;
}

int compareBytes(const uint8_t* a, size_t an, const uint8_t* b, size_t bn) {
    const int c = std::memcmp(a, b, std::min(an, bn));
    return c != 0 ? c : (an < bn ? -1 : an > bn ? 1 : 0);
}

[[noreturn]] void cannotSort(const std::string& path, const char* what) {
    throw Error("Cannot " + std::string(what) + " the temporary file '" + path +
                "' of an index being built: " + std::strerror(errno));
}

}  // namespace

EntrySorter::EntrySorter(std::string near) : near_(std::move(near)), bound_(memoryBound()) {}

EntrySorter::~EntrySorter() {
    if (!file_) return;
    std::fclose(file_);
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

size_t EntrySorter::memoryBound() {
    static const size_t fromEnvironment = [] {
        const char* s = std::getenv("TALLYPORT_INDEX_SORT_BYTES");
        const unsigned long long v = s ? std::strtoull(s, nullptr, 10) : 0;
        return v > 0 ? size_t(v) : kDefaultBound;
    }();
    const size_t set = boundSet.load();
    return set > 0 ? set : fromEnvironment;
}

void EntrySorter::setMemoryBound(size_t bytes) { boundSet = bytes; }

void EntrySorter::add(const std::vector<uint8_t>& e) {
    const size_t held = arena_.size() + refs_.size() * sizeof(Ref);
    if (!refs_.empty() && (held + e.size() + sizeof(Ref) > bound_ || arena_.size() + e.size() > UINT32_MAX)) spill();
    refs_.push_back(Ref{0, uint32_t(arena_.size()), uint16_t(e.size()), 0});
    arena_.insert(arena_.end(), e.begin(), e.end());
}

// Sorts refs_[lo, hi), equal in their first `depth` bytes, by the eight
// bytes that follow, then each group still equal by the next eight: integer
// comparisons, and the arena read once per entry and depth.
void EntrySorter::sortFrom(size_t lo, size_t hi, size_t depth) {
    for (size_t i = lo; i < hi; ++i) {
        Ref& r = refs_[i];
        const size_t left = r.len > depth ? r.len - depth : 0;
        r.digit = digitOf(arena_.data() + r.off + depth, left);
        r.has = uint8_t(std::min<size_t>(left, 8));
    }
    auto same = [](const Ref& a, const Ref& b) { return a.digit == b.digit && a.has == b.has; };
    std::sort(refs_.begin() + long(lo), refs_.begin() + long(hi),
              [](const Ref& a, const Ref& b) { return a.digit != b.digit ? a.digit < b.digit : a.has < b.has; });
    for (size_t i = lo; i < hi;) {
        size_t j = i + 1;
        while (j < hi && same(refs_[i], refs_[j])) ++j;
        if (j - i > 1 && refs_[i].has == 8) sortFrom(i, j, depth + 8);
        i = j;
    }
}

void EntrySorter::sortRun() { sortFrom(0, refs_.size(), 0); }

// A new temporary file beside the database, never one that exists.
void EntrySorter::openFile() {
    for (int n = 0; !file_ && n < 1000; ++n) {
        path_ = near_ + ".sort" + std::to_string(n) + ".tmp";
        file_ = std::fopen(path_.c_str(), "w+bx");
        if (!file_ && errno != EEXIST) cannotSort(path_, "create");
    }
    if (!file_) cannotSort(path_, "create");
}

// Appends the entries held, sorted, to the temporary file as a run:
// [length, 2 bytes][entry] ...
void EntrySorter::spill() {
    sortRun();
    if (!file_) openFile();
    if (std::fseek(file_, 0, SEEK_END) != 0) cannotSort(path_, "write");
    Run run;
    run.begin = size_;
    for (const Ref& r : refs_) {
        const uint8_t len[2] = {uint8_t(r.len), uint8_t(r.len >> 8)};
        if (std::fwrite(len, 1, 2, file_) != 2 || std::fwrite(arena_.data() + r.off, 1, r.len, file_) != r.len)
            cannotSort(path_, "write");
        size_ += 2 + r.len;
    }
    if (std::fflush(file_) != 0) cannotSort(path_, "write");
    run.end = size_;
    runs_.push_back(std::move(run));
    arena_.clear();
    refs_.clear();
}

void EntrySorter::finish() {
    if (runs_.empty()) {
        sortRun();
        return;
    }
    if (!refs_.empty()) spill();
    std::vector<uint8_t>().swap(arena_);
    std::vector<Ref>().swap(refs_);
    const size_t buffer = std::clamp(bound_ / runs_.size(), kMinBuffer, kMaxBuffer);
    for (Run& r : runs_) r.buf.reserve(buffer);
}

// Copies the run's next n bytes, refilling its buffer from the file.
bool EntrySorter::take(Run& r, uint8_t* dst, size_t n) {
    while (n > 0) {
        if (r.at == r.buf.size()) {
            if (r.pos == r.end) return false;
            r.buf.resize(size_t(std::min<uint64_t>(r.buf.capacity(), r.end - r.pos)));
            if (std::fseek(file_, long(r.pos), SEEK_SET) != 0 ||
                std::fread(r.buf.data(), 1, r.buf.size(), file_) != r.buf.size())
                cannotSort(path_, "read");
            r.pos += r.buf.size();
            r.at = 0;
        }
        const size_t k = std::min(n, r.buf.size() - r.at);
        std::memcpy(dst, r.buf.data() + r.at, k);
        r.at += k;
        dst += k;
        n -= k;
    }
    return true;
}

bool EntrySorter::read(Run& r) {
    uint8_t len[2];
    if (!take(r, len, 2)) return false;
    r.cur.resize(size_t(len[0]) | size_t(len[1]) << 8);
    if (!take(r, r.cur.data(), r.cur.size())) cannotSort(path_, "read");
    return true;
}

bool EntrySorter::runLess(size_t a, size_t b) const {
    const auto& x = runs_[a].cur;
    const auto& y = runs_[b].cur;
    return compareBytes(x.data(), x.size(), y.data(), y.size()) < 0;
}

void EntrySorter::rewind() {
    at_ = 0;
    heap_.clear();
    for (size_t i = 0; i < runs_.size(); ++i) {
        Run& r = runs_[i];
        r.pos = r.begin;
        r.buf.clear();
        r.at = 0;
        if (read(r)) heap_.push_back(i);
    }
    // A min-heap: the run with the least current entry on top.
    auto greater = [this](size_t a, size_t b) { return runLess(b, a); };
    std::make_heap(heap_.begin(), heap_.end(), greater);
    if (!runs_.empty()) at_ = SIZE_MAX;  // the top's entry not yet handed out
}

bool EntrySorter::next(const uint8_t*& p, size_t& n) {
    if (runs_.empty()) {
        if (at_ >= refs_.size()) return false;
        const Ref& r = refs_[at_++];
        p = arena_.data() + r.off;
        n = r.len;
        return true;
    }
    auto greater = [this](size_t a, size_t b) { return runLess(b, a); };
    if (at_ != SIZE_MAX && !heap_.empty()) {  // past the entry handed out last
        std::pop_heap(heap_.begin(), heap_.end(), greater);
        if (read(runs_[heap_.back()])) std::push_heap(heap_.begin(), heap_.end(), greater);
        else heap_.pop_back();
    }
    at_ = 0;
    if (heap_.empty()) return false;
    const auto& cur = runs_[heap_.front()].cur;
    p = cur.data();
    n = cur.size();
    return true;
}

}  // namespace tp::db::jet
