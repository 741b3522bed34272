#include "preview/line_prefetch.h"

#include <algorithm>

#include "db/ado.h"
#include "host/worker_thread.h"

namespace tp::preview {

namespace {

constexpr int kBatchLines = 256;
constexpr int kAhead = 4 * kBatchLines;  // lines handed over ahead of the one in work

}  // namespace

LinePrefetch::LinePrefetch(std::function<std::string_view(int)> line, int lines)
    : line_(std::move(line)), lines_(lines) {}

LinePrefetch::~LinePrefetch() { stop(); }

void LinePrefetch::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (reader_.joinable()) reader_.join();
    for (auto& b : batches_) spare_.push_back(std::move(b));
    batches_.clear();
    next_ = 0;
    stopping_ = false;
    preparer_.reset();
}

void LinePrefetch::start(std::unique_ptr<db::StatementPreparer> preparer, int from) {
    stop();
    preparer_ = std::move(preparer);
    fed_ = from - 1;
    running_.store(from, std::memory_order_relaxed);
    reader_ = startWorkerThread([this] { prepareAll(); });
}

void LinePrefetch::ranUnprepared(db::Connection& target, int n) {
    // A new preparer at most once a batch of lines while there is one.
    if (behind_ || (preparer_ && n - lastStart_ < kBatchLines)) return;
    lastStart_ = n;
    std::unique_ptr<db::StatementPreparer> p;
    try {
        p = target.statementPreparer({});
    } catch (...) {
        // The lines run from their text.
    }
    if (p) start(std::move(p), n + 1);
    else stop();
}

db::PreparedStatement* LinePrefetch::take(int n, std::string_view text) {
    behind_ = false;
    if (!reader_.joinable()) return nullptr;
    running_.store(n, std::memory_order_relaxed);
    // Batches behind the line in work go back once the reader is done with them.
    while (!batches_.empty() && batches_.front()->done.load(std::memory_order_acquire) &&
           batches_.front()->first + int(batches_.front()->texts.size()) <= n) {
        std::lock_guard<std::mutex> lock(mutex_);
        spare_.push_back(std::move(batches_.front()));
        batches_.pop_front();
        --next_;
    }
    feed(std::min(lines_, n + kAhead));
    for (const auto& b : batches_) {
        if (n < b->first || n >= b->first + int(b->texts.size())) continue;
        const size_t i = size_t(n - b->first);
        behind_ = !b->done.load(std::memory_order_acquire) || !b->prepared[i];
        if (behind_) return nullptr;
        return b->texts[i] == text ? b->prepared[i].get() : nullptr;
    }
    return nullptr;
}

void LinePrefetch::feed(int upTo) {
    while (fed_ < upTo) {
        std::unique_ptr<Batch> b;
        if (spare_.empty()) {
            b = std::make_unique<Batch>();
        } else {
            b = std::move(spare_.back());
            spare_.pop_back();
        }
        const int count = std::min(kBatchLines, lines_ - fed_);
        b->first = fed_ + 1;
        b->texts.resize(size_t(count));
        b->prepared.resize(size_t(count));
        for (int i = 0; i < count; ++i) b->texts[size_t(i)].assign(line_(b->first + i));
        b->done.store(false, std::memory_order_relaxed);
        fed_ += count;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            batches_.push_back(std::move(b));
        }
        changed_.notify_all();
    }
}

void LinePrefetch::prepareAll() {
    for (;;) {
        Batch* b = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || next_ < batches_.size(); });
            if (stopping_) return;
            b = batches_[next_++].get();
        }
        for (size_t i = 0; i < b->texts.size(); ++i) {
            // A line the window is past ran from its text: this thread
            // catches up instead of preparing it.
            if (b->first + int(i) <= running_.load(std::memory_order_relaxed)) b->prepared[i].reset();
            else preparer_->prepare(b->texts[i], b->prepared[i]);
        }
        b->done.store(true, std::memory_order_release);
    }
}

}  // namespace tp::preview
