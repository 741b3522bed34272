// INSERT throughput of the Access engine through the data layer, and a full
// read of the table through our layer beside `mdb-export` of the same file.
//
//   jet_insert_bench [ROWS] [FILE]      (default 1000000 rows, a file in /tmp)
//
// Prints statements per second for the SQL layer alone (parse and coercion
// over a storage layer that discards rows) and for the whole stack, the read
// times, and the resident memory as the rows go in (it should stay flat).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "bench/bench_rows.h"
#include "db/ado.h"
#include "db/jet/database.h"
#include "db/jet_provider.h"

using namespace tp::db;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

long rssKb() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

long peakKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

using tp::bench::kCreate;
using tp::bench::rowStatement;

// A storage layer that keeps the catalog and throws rows away: the cost of
// the SQL layer alone.
class DiscardingDatabase : public jet::Database {
public:
    jet::FileFormat format() const override { return jet::FileFormat::Jet4; }
    std::vector<jet::TableInfo> listTables() override { return {}; }
    std::vector<jet::ColumnDef> columns(const std::string&) override { return cols_; }
    std::string findTable(const std::string& n) override { return jet::sameName(n, name_) ? name_ : ""; }
    void createTable(const std::string& n, const std::vector<jet::ColumnDef>& c) override {
        name_ = n;
        cols_ = c;
    }
    void dropTable(const std::string&) override { name_.clear(); }
    void insertRow(const std::string&, const std::vector<Value>& v) override { sink_ += v.size(); }
    std::unique_ptr<Cursor> scan(const std::string&) override { return nullptr; }
    void flush() override {}
    void close() override {}
    size_t sink_ = 0;

private:
    std::string name_;
    std::vector<jet::ColumnDef> cols_;
};

}  // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const std::string file = argc > 2 ? argv[2] : "/tmp/jet_insert_bench_" + std::to_string(getpid()) + ".mdb";
    std::string stmt;
    stmt.reserve(4096);

    // Statement text alone (the generator's share, subtracted below).
    auto t0 = Clock::now();
    size_t bytes = 0;
    for (long i = 0; i < rows; ++i) {
        rowStatement(stmt, i);
        bytes += stmt.size();
    }
    const double genSec = seconds(t0, Clock::now());

    // SQL layer alone.
    {
        jet::JetConnection conn(std::make_unique<DiscardingDatabase>());
        conn.execute(kCreate, nullptr);
        t0 = Clock::now();
        for (long i = 0; i < rows; ++i) {
            rowStatement(stmt, i);
            conn.execute(stmt, nullptr);
        }
        const double s = seconds(t0, Clock::now()) - genSec;
        std::printf("SQL layer (parse + coerce):  %ld statements in %.2f s = %.0f statements/s (%.0f MB of SQL)\n",
                    rows, s, rows / s, bytes / 1e6);
    }

    // The whole stack into a new file.
    std::filesystem::remove(file);
    try {
        jet::Database::create(file, "")->close();
    } catch (const Error& e) {
        std::printf("cannot create %s: %s\n", file.c_str(), e.description());
        return 1;
    }
    registerBuiltinProviders();
    long failures = 0;
    {
        Connection conn;
        conn.CursorLocation = adUseClient;
        conn.Mode = adModeReadWrite;
        conn.Open("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=" + ConnectionString::quoteValue(file) +
                  ";JET OLEDB:Database Password=");
        conn.Execute(kCreate);
        t0 = Clock::now();
        for (long i = 0; i < rows; ++i) {
            rowStatement(stmt, i);
            try {
                conn.Execute(stmt);
            } catch (const Error& e) {
                if (failures++ < 3) std::printf("row %ld: %s\n", i, e.description());
            }
            if ((i + 1) % (rows / 4 > 0 ? rows / 4 : 1) == 0)
                std::printf("  %9ld rows: RSS %ld MB\n", i + 1, rssKb() / 1024);
        }
        const double s = seconds(t0, Clock::now()) - genSec;
        auto c0 = Clock::now();
        conn.Close();
        std::printf(
            "Whole stack (Execute):       %ld statements in %.2f s = %.0f statements/s, close %.2f s, %ld failed\n",
            rows, s, rows / s, seconds(c0, Clock::now()), failures);
    }
    std::printf("File: %s, %.1f MB; peak resident memory so far %ld MB\n", file.c_str(),
                std::filesystem::file_size(file) / 1e6, peakKb() / 1024);

    // Reading it back: our layer, then mdb-export, one after the other.
    {
        Connection conn;
        conn.Open("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=" + ConnectionString::quoteValue(file) +
                  ";JET OLEDB:Database Password=");
        t0 = Clock::now();
        auto rs = conn.Execute("SELECT * FROM [bench]");
        long n = 0;
        size_t cells = 0;
        while (!rs->atEnd()) {
            cells += rs->row().size();
            ++n;
            rs->MoveNext();
        }
        const double ours = seconds(t0, Clock::now());
        const long readRss = rssKb();
        rs->Close();
        conn.Close();
        t0 = Clock::now();
        const std::string cmd = "mdb-export '" + file + "' bench > /dev/null";
        const int rc = std::system(cmd.c_str());
        const double theirs = seconds(t0, Clock::now());
        std::printf("SELECT * through our layer:  %ld rows in %.2f s (%.0f rows/s), RSS at the end %ld MB\n", n, ours,
                    n / ours, readRss / 1024);
        if (rc == 0) std::printf("mdb-export of the same file: %.2f s (%.1fx our time)\n", theirs, theirs / ours);
        else std::printf("mdb-export failed or is missing (status %d)\n", rc);
        (void)cells;
    }
    std::printf("Peak resident memory: %ld MB\n", peakKb() / 1024);
    if (argc <= 2) std::filesystem::remove(file);
    return 0;
}
