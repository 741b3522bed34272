// Building an index over a filled table: CREATE INDEX on a Long, CREATE
// UNIQUE INDEX on the same Long, and CREATE INDEX on a Text(50), over a
// table of 1,000,000 rows (a Long, a Text(50), a Date and a Memo).
//
//   index_build_bench make FILE [ROWS]   writes the table into a new FILE
//   index_build_bench run FILE KIND      KIND: none, long, unique or text;
//                                        builds it in a copy of FILE
//
// `run` prints the statement's time and the growth of the peak resident
// memory across it; `none` opens and closes the copy alone (the cost the
// other kinds share).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "db/ado.h"
#include "db/jet/database.h"
#include "db/jet_provider.h"

using namespace tp::db;
using Clock = std::chrono::steady_clock;

namespace {

long peakKb() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

int make(const std::string& path, long rows) {
    std::filesystem::remove(path);
    auto db = jet::Database::create(path, "");
    auto col = [](const char* n, jet::ColType t, int size = 255) {
        jet::ColumnDef c;
        c.name = n;
        c.type = t;
        c.size = size;
        return c;
    };
    db->createTable("Bench", {col("Id", jet::ColType::Long), col("Name", jet::ColType::Text, 50),
                              col("Created", jet::ColType::DateTime), col("Notes", jet::ColType::Memo)});
    std::vector<Value> v(4);
    for (long i = 0; i < rows; ++i) {
        const long k = long(int64_t(i) * 48271 % rows);  // every number once, out of order
        DateTime dt;
        dt.date = {int(1990 + k % 30), int(1 + k % 12), int(1 + k % 28)};
        v[0] = Value(int64_t(k));
        v[1] = i % 50 == 3 ? Value() : Value("Customer " + std::to_string(k % (rows / 2 + 1)));
        v[2] = Value(dt);
        v[3] = Value("A note about row " + std::to_string(i) + " that is a bit longer than the rest.");
        db->insertRow("Bench", v);
    }
    db->close();
    std::printf("%s: %ld rows, %.1f MB\n", path.c_str(), rows, double(std::filesystem::file_size(path)) / 1e6);
    return 0;
}

int run(const std::string& path, const std::string& kind) {
    const std::string copy = path + "." + kind + ".work";
    std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
    registerBuiltinProviders();
    const std::string sql = kind == "long"     ? "CREATE INDEX [ixId] ON [Bench] ([Id])"
                            : kind == "unique" ? "CREATE UNIQUE INDEX [ixId] ON [Bench] ([Id])"
                            : kind == "text"   ? "CREATE INDEX [ixName] ON [Bench] ([Name])"
                                               : "";
    double sec = 0;
    long before = 0, after = 0;
    try {
        Connection conn;
        conn.Mode = adModeReadWrite;
        conn.Open("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=" + ConnectionString::quoteValue(copy) +
                  ";JET OLEDB:Database Password=");
        before = peakKb();
        const auto t0 = Clock::now();
        if (!sql.empty()) conn.Execute(sql);
        sec = std::chrono::duration<double>(Clock::now() - t0).count();
        after = peakKb();
        conn.Close();
    } catch (const Error& e) {
        std::printf("%s: %s\n", kind.c_str(), e.description());
        std::filesystem::remove(copy);
        return 1;
    }
    std::printf("%-6s: %.3f s; peak resident memory %ld MB before, %ld MB after (+%ld MB)\n", kind.c_str(), sec,
                before / 1024, after / 1024, (after - before) / 1024);
    std::filesystem::remove(copy);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make" && argc > 2) return make(argv[2], argc > 3 ? std::atol(argv[3]) : 1000000);
    if (mode == "run" && argc > 3) return run(argv[2], argv[3]);
    std::fprintf(stderr, "usage: index_build_bench make FILE [ROWS] | run FILE none|long|unique|text\n");
    return 2;
}
