#include "convert/row_prefetch.h"

#include "convert/statements.h"
#include "db/ado.h"
#include "host/error_report.h"
#include "host/worker_thread.h"

namespace tp::convert {

namespace {

constexpr size_t kBatchRows = 256;
constexpr size_t kBatches = 32;  // at most this many built ahead

// Takes the boxes of a step that failed on the reading thread: the row is
// then built again by the plain loop, which shows them.
class SilentBoxes : public MessageBoxes {
public:
    int show(const std::string&, int, const std::string&) override { return mb::Ok; }
};

}  // namespace

RowPrefetch::RowPrefetch(db::Recordset& records, RowStatementBuilder& builder, db::StatementPreparer* preparer)
    : records_(records), builder_(builder), preparer_(preparer) {
    for (size_t i = 0; i < kBatches; ++i) free_.push_back(std::make_unique<Batch>());
    builder_.setYields(false);
    reader_ = startWorkerThread([this] { read(); });
}

RowPrefetch::~RowPrefetch() { stop(); }

void RowPrefetch::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (reader_.joinable()) reader_.join();
    builder_.setYields(true);
}

void RowPrefetch::read() {
    for (;;) {
        std::unique_ptr<Batch> b;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || !free_.empty(); });
            if (stopping_) return;
            b = std::move(free_.front());
            free_.pop_front();
        }
        const bool more = fill(*b);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            full_.push_back(std::move(b));
        }
        changed_.notify_all();
        if (!more) return;
    }
}

// One batch of rows, as the plain loop takes them: the end test, the
// statement, the move to the next row. False when the batch is the last.
bool RowPrefetch::fill(Batch& b) {
    b.count = 0;
    b.failure.clear();
    auto last = [&b](End end) {
        b.end = end;
        b.last = true;
        if (end == End::AtEndFailed || end == End::NextFailed) b.failure = currentErrorDescription();
        return false;
    };
    SilentBoxes boxes;
    Procedure quiet("", "", boxes);
    while (b.count < kBatchRows) {
        try {
            if (records_.atEnd()) return last(End::AtEnd);
        } catch (...) {
            return last(End::AtEndFailed);
        }
        try {
            builder_.build(records_.row(), quiet);
            if (quiet.failures() > 0) return last(End::PlainLoopNow);
            if (b.count == b.statements.size()) {
                b.statements.emplace_back();
                b.prepared.emplace_back();
            }
            builder_.takeStatement(b.statements[b.count]);
            if (preparer_) preparer_->prepare(b.statements[b.count], b.prepared[b.count]);
        } catch (...) {
            return last(End::PlainLoopNow);
        }
        ++b.count;
        try {
            records_.MoveNext();
        } catch (...) {
            return last(End::NextFailed);
        }
    }
    b.last = false;
    return true;
}

db::PreparedStatement* RowPrefetch::prepared() const {
    return current_ && at_ > 0 ? current_->prepared[at_ - 1].get() : nullptr;
}

const std::string* RowPrefetch::next() {
    for (;;) {
        if (current_ && at_ < current_->count) return &current_->statements[at_++];
        if (done_) return nullptr;
        if (current_ && current_->last) {
            end_ = current_->end;
            failure_ = current_->failure;
            done_ = true;
            stop();
            return nullptr;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        if (current_) free_.push_back(std::move(current_));
        changed_.notify_all();
        changed_.wait(lock, [this] { return !full_.empty(); });
        current_ = std::move(full_.front());
        full_.pop_front();
        at_ = 0;
    }
}

}  // namespace tp::convert
