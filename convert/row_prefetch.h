// Reads a table's rows and writes their INSERT statements on a second
// thread, a few hundred rows ahead of the thread that executes them, so that
// the source and the statement text cost no time of the target's.
//
// The reading thread stops short of anything that would be reported: a
// source failure at the end test or at the move to the next row is handed
// over with its description, for the executing thread to report at the very
// place the plain loop reports it; a row whose statement would report a
// failed step is not built at all, and the rest of the table goes back to
// the plain loop from that row on. Every report, every yield and the
// progress stay on the executing thread, in the plain loop's order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tp::db {
class Recordset;
class PreparedStatement;
class StatementPreparer;
}  // namespace tp::db

namespace tp::convert {

class RowStatementBuilder;

class RowPrefetch {
public:
    // Why the rows stopped coming.
    enum class End : uint8_t {
        AtEnd,         // the last row was read
        AtEndFailed,   // the end test failed (description in failure())
        NextFailed,    // the move past the last given row failed
        PlainLoopNow,  // the next row must be built by the plain loop
    };

    // Starts reading at the recordset's current row. Neither the recordset
    // nor the builder may be used elsewhere until next() returned null or
    // the object is gone. With a preparer (used on the reading thread only)
    // each statement is also prepared for the target.
    RowPrefetch(db::Recordset& records, RowStatementBuilder& builder, db::StatementPreparer* preparer = nullptr);
    ~RowPrefetch();
    RowPrefetch(const RowPrefetch&) = delete;
    RowPrefetch& operator=(const RowPrefetch&) = delete;

    // The next row's statement (valid until the next call), or null when
    // the rows stopped; then end() says why and the reading thread is gone.
    const std::string* next();
    // The last statement next() gave, as the preparer prepared it (null
    // without a preparer).
    db::PreparedStatement* prepared() const;
    End end() const { return end_; }
    const std::string& failure() const { return failure_; }

private:
    struct Batch {
        std::vector<std::string> statements;  // keep their room from batch to batch
        std::vector<std::unique_ptr<db::PreparedStatement>> prepared;  // likewise
        size_t count = 0;
        bool last = false;
        End end = End::AtEnd;
        std::string failure;
    };
    void read();
    bool fill(Batch& b);  // false: the batch is the last
    void stop();

    db::Recordset& records_;
    RowStatementBuilder& builder_;
    db::StatementPreparer* preparer_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Batch>> full_, free_;
    bool stopping_ = false;
    std::unique_ptr<Batch> current_;
    size_t at_ = 0;
    End end_ = End::AtEnd;
    std::string failure_;
    bool done_ = false;
    std::thread reader_;
};

}  // namespace tp::convert
