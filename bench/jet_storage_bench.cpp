// insertRow alone: 1,000,000 rows of 10 mixed columns (incl. a Memo) into a
// new table of a new database; rows per second and peak memory.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "db/jet/database.h"

using namespace tp::db;
using namespace tp::db::jet;

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const std::string path = (std::filesystem::temp_directory_path() / "jet_storage_bench.mdb").string();
    std::filesystem::remove(path);
    auto db = Database::create(path, "");
    auto col = [](const char* n, ColType t, int size = 255) {
        ColumnDef c;
        c.name = n;
        c.type = t;
        c.size = size;
        return c;
    };
    db->createTable("Bench", {col("Id", ColType::Long), col("Name", ColType::Text, 40), col("City", ColType::Text, 30),
                              col("Notes", ColType::Memo), col("Active", ColType::Bool), col("Qty", ColType::Int),
                              col("Price", ColType::Money), col("Ratio", ColType::Double),
                              col("Created", ColType::DateTime), col("Exact", ColType::Numeric)});
    std::vector<Value> v(10);
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < rows; ++i) {
        DateTime dt;
        dt.date = {2000 + i % 25, 1 + i % 12, 1 + i % 28};
        v[0] = Value(int64_t(i));
        v[1] = Value(std::string("Customer ") + std::to_string(i));
        v[2] = Value("Springfield");
        v[3] = Value(std::string("A note about row ") + std::to_string(i) + " that is a bit longer than the rest.");
        v[4] = Value(i % 2 == 0);
        v[5] = Value(int64_t(i % 30000));
        v[6] = Value(Currency{int64_t(i) * 100});
        v[7] = Value(i / 7.0);
        v[8] = Value(dt);
        v[9] = Value(Decimal{std::to_string(i) + ".25"});
        db->insertRow("Bench", v);
    }
    const auto t1 = std::chrono::steady_clock::now();
    db->close();
    const auto t2 = std::chrono::steady_clock::now();
    const double ins = std::chrono::duration<double>(t1 - t0).count();
    const double cl = std::chrono::duration<double>(t2 - t1).count();
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("insertRow: %d rows in %.2f s = %.0f rows/s; close %.2f s; file %.1f MB; peak RSS %.1f MB\n", rows, ins,
                rows / ins, cl, double(std::filesystem::file_size(path)) / 1e6, double(ru.ru_maxrss) / 1024);
    if (std::getenv("NOSCAN")) {
        std::filesystem::remove(path);
        return 0;
    }
    // Reading it back: scan() against mdb-export of the same file.
    {
        auto rdb = Database::open(path, "", true);
        const auto s0 = std::chrono::steady_clock::now();
        auto cur = rdb->scan("Bench");
        std::vector<Value> row;
        long n = 0;
        while (cur->next(row)) ++n;
        const double sc = std::chrono::duration<double>(std::chrono::steady_clock::now() - s0).count();
        std::printf("scan: %ld rows in %.2f s = %.0f rows/s\n", n, sc, n / sc);
    }
    const auto e0 = std::chrono::steady_clock::now();
    const std::string cmd = "mdb-export '" + path + "' Bench > /dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    const double ex = std::chrono::duration<double>(std::chrono::steady_clock::now() - e0).count();
    if (rc == 0) std::printf("mdb-export: %.2f s = %.0f rows/s\n", ex, rows / ex);
    else std::printf("mdb-export: not available (exit %d)\n", rc);
    if (!std::getenv("KEEP")) std::filesystem::remove(path);
    else std::printf("kept %s\n", path.c_str());
}
