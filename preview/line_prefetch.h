// Execute SQL's lines prepared for the target on a second thread, a few
// hundred lines ahead of the one that runs them (db::StatementPreparer).
//
// The window's thread hands copies of the lines over; the reading thread
// never touches the list. A line is run with its preparation only when that
// was made from the very text the window runs and is finished; otherwise
// (the thread fell behind, the line is no INSERT into the preparer's table)
// it runs from its text, so nothing the user sees depends on the thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tp::db {
class Connection;
class PreparedStatement;
class StatementPreparer;
}  // namespace tp::db

namespace tp::preview {

class LinePrefetch {
public:
    // line(i): the text of line i (1-based), read on the window's thread.
    LinePrefetch(std::function<std::string_view(int)> line, int lines);
    ~LinePrefetch();
    LinePrefetch(const LinePrefetch&) = delete;
    LinePrefetch& operator=(const LinePrefetch&) = delete;

    // The preparation of line n when it is ready and made from `text`;
    // null otherwise. Never waits for the reading thread.
    db::PreparedStatement* take(int n, std::string_view text);
    // After line n ran from its text: unless only this thread was behind,
    // when the target now offers a preparer (for the table that line wrote
    // into), the lines after n are prepared with it.
    void ranUnprepared(db::Connection& target, int n);

private:
    struct Batch {
        int first = 0;  // its first line
        std::vector<std::string> texts;
        std::vector<std::unique_ptr<db::PreparedStatement>> prepared;
        std::atomic<bool> done{false};
    };
    void start(std::unique_ptr<db::StatementPreparer> preparer, int from);
    void stop();
    void feed(int upTo);  // hands lines up to upTo over
    void prepareAll();    // the reading thread

    std::function<std::string_view(int)> line_;
    int lines_;
    int lastStart_ = 0;  // the line a preparer was last asked for after
    int fed_ = 0;        // the last line handed over
    bool behind_ = false;  // the last take() found its line not prepared yet
    std::unique_ptr<db::StatementPreparer> preparer_;
    std::deque<std::unique_ptr<Batch>> batches_;  // handed over, in order
    std::vector<std::unique_ptr<Batch>> spare_;    // taken back, their room kept
    std::atomic<int> running_{0};                  // the line in work: those before need nothing
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t next_ = 0;  // of batches_, the next the reading thread takes
    bool stopping_ = false;
    std::thread reader_;
};

}  // namespace tp::preview
