// The SQL people type, over the 1,000,000-row table of jet_insert_bench:
// COUNT(*), WHERE over an indexed and an unindexed column, ORDER BY (of some
// columns, of all, TOP 10), DISTINCT, GROUP BY, and UPDATE and DELETE of 10%
// of the rows; each statement's time and the peak resident memory of the
// process that ran it, beside mdb-sql and mdb-export where they can do the
// same.
//
//   sql_bench make FILE [ROWS] [unique]
//                                writes the table (rows as jet_insert_bench
//                                writes them) and an index on [id] (unique
//                                when asked: UPDATE and DELETE then keep it
//                                unique)
//   sql_bench run FILE [WHAT]    runs each statement (those whose name
//                                holds WHAT) in a process of its own
//                                (writing ones in a copy of FILE)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_rows.h"
#include "db/ado.h"
#include "db/jet/database.h"
#include "db/jet_provider.h"

using namespace tp::db;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

long statusKb(const char* field) {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
    return 0;
}

using tp::bench::kCreate;
using tp::bench::rowStatement;

std::string connectionString(const std::string& file) {
    return "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=" + ConnectionString::quoteValue(file) +
           ";JET OLEDB:Database Password=";
}

int make(const std::string& file, long rows, bool unique) {
    std::filesystem::remove(file);
    jet::Database::create(file, "")->close();
    registerBuiltinProviders();
    Connection conn;
    conn.Mode = adModeReadWrite;
    conn.Open(connectionString(file));
    conn.Execute(kCreate);
    std::string stmt;
    const auto t0 = Clock::now();
    for (long i = 0; i < rows; ++i) {
        rowStatement(stmt, i);
        conn.Execute(stmt);
    }
    const auto t1 = Clock::now();
    conn.Execute(unique ? "CREATE UNIQUE INDEX [id] ON [bench] ([id])" : "CREATE INDEX [id] ON [bench] ([id])");
    conn.Close();
    std::printf("%ld rows in %.1f s, index on [id] in %.1f s; %s is %.0f MB\n", rows, seconds(t0, t1),
                seconds(t1, Clock::now()), file.c_str(), double(std::filesystem::file_size(file)) / 1e6);
    return 0;
}

struct Statement {
    const char* what;
    std::string sql;
    bool writes;
    std::string mdb;  // the same through mdbtools ("" none)
};

// Runs the statement in this (child) process and prints one line.
void runOne(const std::string& file, const Statement& s) {
    registerBuiltinProviders();
    Connection conn;
    if (s.writes) conn.Mode = adModeReadWrite;
    conn.Open(connectionString(file));
    const long openKb = statusKb("VmHWM:");
    const uint64_t lookups = jet::indexReadCount();
    const auto t0 = Clock::now();
    long n = 0;
    if (s.writes) {
        conn.Execute(s.sql, &n);
    } else {
        auto rs = conn.Execute(s.sql);
        for (; !rs->atEnd(); rs->MoveNext()) ++n;
        rs->Close();
    }
    const double statement = seconds(t0, Clock::now());
    const long statementKb = statusKb("VmHWM:");
    const auto c0 = Clock::now();
    conn.Close();  // writing statements: the durability point (rows, then the index rebuilt)
    std::printf("%-32s %8.3f s %7ld rows %s  peak RSS %4ld MB (after open %ld MB); close %5.2f s, peak %4ld MB\n",
                s.what, statement, n, jet::indexReadCount() > lookups ? "index" : "scan ", statementKb / 1024,
                openKb / 1024, seconds(c0, Clock::now()), statusKb("VmHWM:") / 1024);
}

// mdbtools' time and peak memory for the same work.
void runMdb(const Statement& s) {
    if (s.mdb.empty()) return;
    const std::string out = "/tmp/sql_bench_mdb_" + std::to_string(getpid());
    const std::string cmd = "/usr/bin/time -f '%e %M' -o " + out + " sh -c \"" + s.mdb + "\" > /dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    std::ifstream f(out);
    double sec = 0;
    long kb = 0;
    f >> sec >> kb;
    std::filesystem::remove(out);
    std::printf("  %-32s %9.3f s, peak RSS %ld MB%s\n", "mdbtools, the same:", sec, kb / 1024,
                rc == 0 ? "" : " (failed)");
}

int run(const std::string& file, const std::string& only) {
    const std::string q = "'" + file + "'";
    const std::vector<Statement> statements = {
        {"SELECT COUNT(*)", "SELECT COUNT(*) FROM [bench]", false, "echo 'SELECT COUNT(*) FROM bench' | mdb-sql -H -F -P " + q},
        {"WHERE indexed id = 777777", "SELECT * FROM [bench] WHERE [id] = 777777", false,
         "echo 'SELECT * FROM bench WHERE id = 777777' | mdb-sql -H -F -P " + q},
        {"WHERE indexed id BETWEEN (1000 rows)", "SELECT * FROM [bench] WHERE [id] BETWEEN 500000 AND 500999", false,
         "echo 'SELECT * FROM bench WHERE id >= 500000 AND id <= 500999' | mdb-sql -H -F -P " + q},
        {"WHERE unindexed code = (10 rows)", "SELECT * FROM [bench] WHERE [code] = 'C77777'", false,
         "echo \\\"SELECT * FROM bench WHERE code = 'C77777'\\\" | mdb-sql -H -F -P " + q},
        {"ORDER BY (all rows)", "SELECT [id], [name], [qty] FROM [bench] ORDER BY [qty] DESC, [name]", false,
         "mdb-export " + q + " bench | sort -t, -k3,3nr"},
        {"ORDER BY SELECT * (all rows)", "SELECT * FROM [bench] ORDER BY [qty] DESC, [name]", false, ""},
        {"TOP 10 ORDER BY", "SELECT TOP 10 * FROM [bench] ORDER BY [qty] DESC, [name]", false, ""},
        {"DISTINCT name (all rows)", "SELECT DISTINCT [name] FROM [bench]", false, ""},
        {"GROUP BY qty % 100", "SELECT [qty] MOD 100, COUNT(*), SUM([price]) FROM [bench] GROUP BY [qty] MOD 100",
         false, ""},
        {"UPDATE 10% (unindexed WHERE)", "UPDATE [bench] SET [qty] = [qty] + 1 WHERE [id] MOD 10 = 5", true, ""},
        {"UPDATE 10% (indexed range)", "UPDATE [bench] SET [qty] = [qty] + 1 WHERE [id] < 100000", true, ""},
        {"DELETE 10% (unindexed WHERE)", "DELETE FROM [bench] WHERE [id] MOD 10 = 5", true, ""},
        {"DELETE 10% (indexed range)", "DELETE FROM [bench] WHERE [id] >= 900000", true, ""},
        {"mdb-export of the table", "", false, "mdb-export " + q + " bench"},
    };
    std::printf("%s: %.0f MB\n", file.c_str(), double(std::filesystem::file_size(file)) / 1e6);
    for (const Statement& s : statements) {
        if (std::string(s.what).find(only) == std::string::npos) continue;
        if (s.sql.empty()) {
            std::printf("%s\n", s.what);
            runMdb(s);
            continue;
        }
        const std::string copy = file + ".run";
        if (s.writes) std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
        std::fflush(stdout);
        const pid_t pid = fork();
        if (pid == 0) {
            try {
                runOne(s.writes ? copy : file, s);
            } catch (const Error& e) {
                std::printf("%-34s failed: %s\n", s.what, e.description());
            }
            std::fflush(stdout);
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        runMdb(s);
        if (s.writes) std::filesystem::remove(copy);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "make")
        return make(argv[2], argc > 3 ? std::atol(argv[3]) : 1000000, argc > 4 && std::string(argv[4]) == "unique");
    if (argc >= 3 && std::string(argv[1]) == "run") return run(argv[2], argc > 3 ? argv[3] : "");
    std::fprintf(stderr, "usage: sql_bench make FILE [ROWS] [unique] | sql_bench run FILE\n");
    return 2;
}
