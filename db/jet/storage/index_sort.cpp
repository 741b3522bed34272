// Sorted entries past a bound on memory (see index_sort.h).
#include "db/jet/storage/index_sort.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "db/error.h"
#include "db/jet/errors.h"
#include "db/jet/storage/pager_io.h"

namespace tp::db::jet {

namespace {

constexpr size_t kDefaultBound = size_t(64) << 20;
constexpr size_t kMaxBuffer = size_t(64) << 10;
constexpr size_t kMinBuffer = size_t(4) << 10;
constexpr size_t kLength = 4;  // an entry's length before it in a run
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

}  // namespace

EntrySorter::EntrySorter(std::string near) : EntrySorter(std::move(near), memoryBound(), {}) {}

EntrySorter::EntrySorter(std::string near, size_t bound, Less less)
    : near_(std::move(near)), bound_(bound), less_(std::move(less)) {}

EntrySorter::~EntrySorter() {
    if (fd_ >= 0) ::close(fd_);
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

void EntrySorter::failed(const char* what) const {
    throw Error(jeterr::kDiskIo, pagerio::ioError(std::string(what) + " a temporary file beside", near_));
}

void EntrySorter::add(const uint8_t* e, size_t n) {
    if (n > UINT32_MAX - kLength) throw Error(jeterr::kDiskIo, "An entry too large to sort beside '" + near_ + "'.");
    // The arena's room for a run taken at once (touched only as it fills):
    // no copy of a half-full arena into one twice its size.
    if (arena_.capacity() == 0) arena_.reserve(std::min<size_t>(bound_, UINT32_MAX));
    const size_t held = arena_.size() + refs_.size() * sizeof(Ref);
    if (!refs_.empty() && (held + n + sizeof(Ref) > bound_ || arena_.size() + n > UINT32_MAX)) spill();
    refs_.push_back(Ref{0, uint32_t(arena_.size()), uint32_t(n)});
    arena_.insert(arena_.end(), e, e + n);
}

// Sorts refs_[lo, hi), equal in their first `depth` bytes, by the eight
// bytes that follow, then each group still equal by the next eight: integer
// comparisons, and the arena read once per entry and depth. An entry's
// bytes from the depth reached: at most eight.
void EntrySorter::sortFrom(size_t lo, size_t hi, size_t depth) {
    auto has = [depth](const Ref& r) { return std::min<size_t>(r.len > depth ? r.len - depth : 0, 8); };
    for (size_t i = lo; i < hi; ++i) {
        Ref& r = refs_[i];
        r.digit = digitOf(arena_.data() + r.off + depth, has(r));
    }
    auto same = [&](const Ref& a, const Ref& b) { return a.digit == b.digit && has(a) == has(b); };
    std::sort(refs_.begin() + long(lo), refs_.begin() + long(hi),
              [&](const Ref& a, const Ref& b) { return a.digit != b.digit ? a.digit < b.digit : has(a) < has(b); });
    for (size_t i = lo; i < hi;) {
        size_t j = i + 1;
        while (j < hi && same(refs_[i], refs_[j])) ++j;
        if (j - i > 1 && has(refs_[i]) == 8) sortFrom(i, j, depth + 8);
        i = j;
    }
}

void EntrySorter::sortRun() {
    if (!less_) return sortFrom(0, refs_.size(), 0);
    const uint8_t* a = arena_.data();
    std::stable_sort(refs_.begin(), refs_.end(),
                     [&](const Ref& x, const Ref& y) { return less_(a + x.off, x.len, a + y.off, y.len); });
}

// Appends bytes to the run being written, through a buffer.
void EntrySorter::write(const uint8_t* p, size_t n) {
    if (out_.size() + n > kMaxBuffer && !out_.empty()) {
        if (!pagerio::writeAll(fd_, out_.data(), out_.size(), size_)) failed("writing");
        size_ += out_.size();
        out_.clear();
    }
    if (n > kMaxBuffer) {
        if (!pagerio::writeAll(fd_, p, n, size_)) failed("writing");
        size_ += n;
        return;
    }
    out_.insert(out_.end(), p, p + n);
}

// Appends the entries held, sorted, to the temporary file as a run:
// [length, 4 bytes][entry] ...
void EntrySorter::spill() {
    sortRun();
    if (fd_ < 0) fd_ = pagerio::tempFileBeside(near_, "-sort-");
    Run run;
    run.begin = size_;
    for (const Ref& r : refs_) {
        const uint8_t len[kLength] = {uint8_t(r.len), uint8_t(r.len >> 8), uint8_t(r.len >> 16), uint8_t(r.len >> 24)};
        write(len, kLength);
        write(arena_.data() + r.off, r.len);
    }
    if (!out_.empty() && !pagerio::writeAll(fd_, out_.data(), out_.size(), size_)) failed("writing");
    size_ += out_.size();
    out_.clear();
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
    std::vector<uint8_t>().swap(out_);
    const size_t buffer = std::clamp(bound_ / runs_.size(), kMinBuffer, kMaxBuffer);
    for (Run& r : runs_) r.buf.reserve(buffer);
}

// Copies the run's next n bytes, refilling its buffer from the file.
bool EntrySorter::take(Run& r, uint8_t* dst, size_t n) {
    while (n > 0) {
        if (r.at == r.buf.size()) {
            if (r.pos == r.end) return false;
            r.buf.resize(size_t(std::min<uint64_t>(r.buf.capacity(), r.end - r.pos)));
            if (!pagerio::readAll(fd_, r.buf.data(), r.buf.size(), r.pos)) failed("reading");
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
    uint8_t len[kLength];
    if (!take(r, len, kLength)) return false;
    r.cur.resize(size_t(len[0]) | size_t(len[1]) << 8 | size_t(len[2]) << 16 | size_t(len[3]) << 24);
    if (!take(r, r.cur.data(), r.cur.size())) failed("reading");
    return true;
}

// Entries equal in order come from the earlier run first (runs hold the
// entries in the order they were added).
bool EntrySorter::runLess(size_t a, size_t b) const {
    const auto& x = runs_[a].cur;
    const auto& y = runs_[b].cur;
    if (!less_) {
        const int c = compareBytes(x.data(), x.size(), y.data(), y.size());
        return c != 0 ? c < 0 : a < b;
    }
    if (less_(x.data(), x.size(), y.data(), y.size())) return true;
    if (less_(y.data(), y.size(), x.data(), x.size())) return false;
    return a < b;
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
