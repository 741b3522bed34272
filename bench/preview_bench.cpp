// The preview window with a million statement lines: time to fill the list
// and show it, memory per line, jumping to the last line, and Execute SQL
// lines per second on an in-memory target and on the Access engine, with the
// longest time the window went without handling its events.
//
//   preview_bench [lines] [engine-lines]
#include <QApplication>
#include <QTableView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "convert/host.h"
#include "convert/run.h"
#include "convert/target.h"
#include "db/ado.h"
#include "preview/sql_preview_window.h"
#include "preview/windows.h"
#include "host/events.h"
#include "host/message_box.h"
#include "ui/clipboard.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4096;
}

class NullTarget : public tp::db::ProviderConnection {
public:
    std::unique_ptr<tp::db::Cursor> execute(std::string_view sql, long*) override {
        bytes += sql.size();
        return nullptr;
    }
    std::unique_ptr<tp::db::Cursor> openSchema(int) override { return nullptr; }
    void close() override {}
    // Execute SQL runs its lines as one transaction.
    void beginTrans() override {}
    void commitTrans() override {}
    void rollbackTrans() override {}
    static inline size_t bytes = 0;
};

class QuietBoxes : public tp::MessageBoxes {
public:
    int show(const std::string& text, int, const std::string&) override {
        last = text;
        return tp::mb::Ok;
    }
    std::string last;
};

std::string statement(long i) {
    return "INSERT INTO [bench]([id],[name],[amount],[stamp]) VALUES(" + std::to_string(i) + ", 'Customer number " +
           std::to_string(i) + "', " + std::to_string(i % 1000) + ".25, #03/14/2021 10:" + std::to_string(10 + i % 50) +
           ":00#)";
}

// The longest time between two turns of the event loop while it is watched.
struct PumpWatch {
    bool watching = false;
    Clock::time_point last;
    double longest = 0;
    void start() {
        watching = true;
        longest = 0;
        last = Clock::now();
    }
    void pumped() {
        if (!watching) return;
        const auto now = Clock::now();
        longest = std::max(longest, std::chrono::duration<double>(now - last).count());
        last = now;
    }
    double stop() {
        pumped();
        watching = false;
        return longest;
    }
};
PumpWatch g_watch;

// Fills the preview, shows it, jumps to the last line and executes it. The
// lines of `prefix` come first (a DROP TABLE of what the last run wrote).
void benchOnce(tp::preview::PreviewWindows& windows, long lines, const char* label,
               const std::vector<std::string>& prefix = {}, const std::string& lastLine = {}) {
    tp::preview::SqlPreviewWindow& form = windows.sqlPreview();
    const long before = residentBytes();
    size_t textBytes = 0;
    auto t0 = Clock::now();
    tp::convert::StatementList& list = windows.statementList();
    list.clear();
    for (const std::string& s : prefix) list.append(s);
    for (long i = 1; i <= lines; ++i) {
        const std::string s = statement(i);
        textBytes += s.size();
        list.append(s);
        tp::pumpEvents();
    }
    if (!lastLine.empty()) list.append(lastLine);
    const double fill = seconds(t0);
    t0 = Clock::now();
    form.statements().flush();
    form.show();
    QCoreApplication::processEvents();
    const double show = seconds(t0);
    const long after = residentBytes();
    const size_t store = form.statements().storeBytes();

    t0 = Clock::now();
    form.statementView->selectRow(static_cast<int>(lines - 1));
    form.statementView->scrollToBottom();
    QCoreApplication::processEvents();
    form.statementView->scrollToTop();
    QCoreApplication::processEvents();
    const double jump = seconds(t0);

    t0 = Clock::now();
    form.statements().setAllChecked(true);
    form.copySql();  // Copy SQL, every line checked
    const double copy = seconds(t0);
    tp::clearClipboard();

    t0 = Clock::now();
    g_watch.start();
    form.executeSql();
    const double longest = g_watch.stop();
    const double exec = seconds(t0);

    std::printf("%s: %ld lines (%.1f bytes of text per line)\n", label, lines,
                static_cast<double>(textBytes) / static_cast<double>(lines));
    std::printf("  fill the list        %8.3f s  (%.0f lines/s)\n", fill, lines / fill);
    std::printf("  show the window      %8.3f s\n", show);
    std::printf("  store per line       %8.1f bytes (text + index)\n",
                static_cast<double>(store) / static_cast<double>(lines));
    std::printf("  resident per line    %8.1f bytes (process growth)\n",
                static_cast<double>(after - before) / static_cast<double>(lines));
    std::printf("  select+scroll ends   %8.3f s\n", jump);
    std::printf("  Check All + Copy SQL %8.3f s\n", copy);
    std::printf("  Execute SQL          %8.3f s  (%.0f lines/s), SQL executed %s\n", exec, lines / exec,
                form.outcome().sqlExecuted ? "true" : "false");
    std::printf("  longest without events %6.3f s (during Execute SQL)\n", longest);
    // Closing the window gives the lines' memory back.
    form.done(0);
    QCoreApplication::processEvents();
    std::printf("  resident after close %8.1f MB above the start (%.1f MB before closing)\n",
                static_cast<double>(residentBytes() - before) / 1e6, static_cast<double>(after - before) / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const long lines = argc > 1 ? std::atol(argv[1]) : 1'000'000;
    const long engineLines = argc > 2 ? std::atol(argv[2]) : 100'000;
    QApplication app(argc, argv);
    QuietBoxes boxes;
    tp::setMessageBoxes(&boxes);
    tp::setEventPump([] {
        g_watch.pumped();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    });
    tp::setBusyPump([] {
        g_watch.pumped();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    tp::db::registerBuiltinProviders();
    tp::db::ProviderRegistry::instance().add("BenchNull",
                                             [](const tp::db::ConnectionString&, const tp::db::ConnectionOptions&) {
                                                 return std::make_unique<NullTarget>();
                                             });

    {
        auto conn = tp::db::CreateConnection();
        conn->Open("Provider=BenchNull");
        tp::preview::PreviewWindows windows([&] { return conn.get(); });
        benchOnce(windows, lines, "in-memory target");
    }

    // The Access engine, when it can create and open a database here.
    const auto dir = std::filesystem::temp_directory_path() / "tallyport-preview-bench";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "bench.mdb").string();
    std::filesystem::remove(path);
    try {
        tp::convert::createTargetDatabase(path, "");
        auto conn = tp::db::CreateConnection();
        conn->Open(tp::convert::target::connectionString(path, ""));
        conn->Execute("CREATE TABLE [bench]([id] INT, [name] TEXT, [amount] DECIMAL, [stamp] DATETIME)");
        tp::preview::PreviewWindows windows([&] { return conn.get(); });
        benchOnce(windows, engineLines, "Access engine target");
        // Again over the table the first pass filled: the unit drops it first.
        benchOnce(
            windows, engineLines, "Access engine target, replacing the table",
            {"DROP TABLE [bench]", "CREATE TABLE [bench]([id] INT, [name] TEXT, [amount] DECIMAL, [stamp] DATETIME)"});
        // And once more with a last line that fails: everything is undone.
        benchOnce(
            windows, engineLines, "Access engine target, replacing the table, last line failing",
            {"DROP TABLE [bench]", "CREATE TABLE [bench]([id] INT, [name] TEXT, [amount] DECIMAL, [stamp] DATETIME)"},
            "INSERT INTO [no such table] VALUES (1)");
        if (!boxes.last.empty()) std::printf("  last message: %s\n", boxes.last.c_str());
        conn->Close();
        std::printf("  database file        %8.1f MB\n", static_cast<double>(std::filesystem::file_size(path)) / 1e6);
    } catch (const std::exception& e) {
        std::printf("Access engine target: not available (%s)\n", e.what());
    }
    std::filesystem::remove_all(dir);
    tp::setMessageBoxes(nullptr);
    tp::setEventPump(nullptr);
    tp::setBusyPump(nullptr);
    return 0;
}
