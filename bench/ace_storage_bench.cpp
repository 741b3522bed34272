// The storage insert benchmark on the three kinds of target: a Jet 4 .mdb, an
// .accdb (Access 2010 format) and an Agile-encrypted .accdb. insertRow alone,
// then close (which writes and, for the encrypted file, encrypts every page),
// then a full scan; rows per second for each.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "db/jet/database.h"

using namespace tp::db;
using namespace tp::db::jet;

namespace {

void run(const char* label, const std::string& path, FileFormat format, const std::string& password, int rows) {
    std::filesystem::remove(path);
    const auto c0 = std::chrono::steady_clock::now();
    auto db = Database::create(path, password, format);
    const double created = std::chrono::duration<double>(std::chrono::steady_clock::now() - c0).count();
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
    const double mb = double(std::filesystem::file_size(path)) / 1e6;
    const auto o0 = std::chrono::steady_clock::now();
    auto rdb = Database::open(path, password, true);
    const double opened = std::chrono::duration<double>(std::chrono::steady_clock::now() - o0).count();
    const auto s0 = std::chrono::steady_clock::now();
    auto cur = rdb->scan("Bench");
    std::vector<Value> row;
    long n = 0;
    while (cur->next(row)) ++n;
    const double sc = std::chrono::duration<double>(std::chrono::steady_clock::now() - s0).count();
    rdb->close();
    std::printf(
        "%-16s create %.2f s; insertRow %d rows %.2f s = %.0f rows/s; close %.2f s (%.0f rows/s overall); "
        "file %.1f MB; open %.2f s; scan %ld rows %.2f s = %.0f rows/s\n",
        label, created, rows, ins, rows / ins, cl, rows / (ins + cl), mb, opened, n, sc, n / sc);
    std::fflush(stdout);
    if (!std::getenv("KEEP")) std::filesystem::remove(path);
}

}  // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const auto dir = std::filesystem::temp_directory_path();
    run("Jet 4 .mdb", (dir / "ace_bench.mdb").string(), FileFormat::Jet4, "", rows);
    run(".accdb", (dir / "ace_bench.accdb").string(), FileFormat::Ace14, "", rows);
    run(".accdb (Agile)", (dir / "ace_bench_enc.accdb").string(), FileFormat::Ace14, "bench password", rows);
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("peak RSS %.1f MB\n", double(ru.ru_maxrss) / 1024);
}
