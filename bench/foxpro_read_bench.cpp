// Reading speed of the FoxPro reader through the Recordset, side by side
// with pgdbf converting the same table (its output to /dev/null).
//
//   foxpro_read_bench [ROWS] [FOLDER]
//
// Generates a Visual FoxPro 9 table bench.dbf/.fpt of ROWS rows (default
// 1,000,000) with fields C, N, D, T, L, I, Y, B, M and V (nullable) in FOLDER
// (default /tmp/tallyport-bench), then reads it in a child process (rows per
// second, peak resident memory) and runs pgdbf on it. A 100,000-row table is
// read too, to show that memory does not grow with the row count.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/vfp_table.h"

#include "db/ado.h"

namespace {

void put32le(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
}
void put32be(std::string& s, uint32_t v) {
    for (int i = 3; i >= 0; --i) s += static_cast<char>(v >> (8 * i));
}

using tp::bench::FieldDef;

// Writes the table with a memo of its own for every row.
// forPgdbf: the same bytes under a VFP 3 header with the Varchar declared as
// Character, because pgdbf knows neither the VFP 9 header nor type V.
void generate(const std::string& dbfPath, const std::string& fptPath, uint32_t rows, bool forPgdbf = false) {
    std::vector<FieldDef> fields = {{"NAME", 'C', 20, 0, 0},    {"AMOUNT", 'N', 12, 2, 0},      {"DAY", 'D', 8, 0, 0},
                                    {"STAMP", 'T', 8, 0, 0},    {"FLAG", 'L', 1, 0, 0},         {"COUNT", 'I', 4, 0, 0},
                                    {"PRICE", 'Y', 8, 0, 0},    {"RATIO", 'B', 8, 2, 0},        {"NOTES", 'M', 4, 0, 0},
                                    {"CODE", 'V', 20, 0, 0x02}, {"_NullFlags", '0', 1, 0, 0x05}};
    if (forPgdbf)
        for (FieldDef& f : fields)
            if (f.type == 'V') f.type = 'C';
    const std::string h = tp::bench::vfpHeader(forPgdbf ? 0x30 : 0x32, rows, fields);

    std::ofstream dbf(dbfPath, std::ios::binary), fpt(fptPath, std::ios::binary);
    dbf << h;
    const uint32_t blockSize = 64;
    std::string fh(512, '\0');
    fh[6] = 0;
    fh[7] = static_cast<char>(blockSize);
    fpt << fh;
    uint32_t nextBlock = 512 / blockSize;
    std::string rec, memo, buf;
    char tmp[64];
    for (uint32_t r = 0; r < rows; ++r) {
        rec.assign(1, ' ');
        std::snprintf(tmp, sizeof tmp, "Customer %-11u", r);
        rec.append(tmp, 20);
        std::snprintf(tmp, sizeof tmp, "%12.2f", (r % 100000) * 1.25 - 5000.0);
        rec.append(tmp, 12);
        std::snprintf(tmp, sizeof tmp, "%04u%02u%02u", 1990 + r % 30, 1 + r % 12, 1 + r % 28);
        rec.append(tmp, 8);
        put32le(rec, 2440588 + r % 20000);
        put32le(rec, (r * 1237) % 86400000);
        rec += (r % 3 == 0) ? 'T' : (r % 3 == 1) ? 'F' : ' ';
        put32le(rec, r);
        const int64_t cur = static_cast<int64_t>(r) * 12345 - 99999;
        for (int i = 0; i < 8; ++i) rec += static_cast<char>(static_cast<uint64_t>(cur) >> (8 * i));
        const double d = r / 7.0;
        char db[8];
        std::memcpy(db, &d, 8);
        rec.append(db, 8);
        // The memo.
        std::snprintf(tmp, sizeof tmp, "Notes for row %u: caf\xE9 and more text.", r);
        memo = tmp;
        put32le(rec, nextBlock);
        buf.clear();
        put32be(buf, 1);
        put32be(buf, static_cast<uint32_t>(memo.size()));
        buf += memo;
        const uint32_t blocks = static_cast<uint32_t>((buf.size() + blockSize - 1) / blockSize);
        buf.resize(size_t(blocks) * blockSize, '\0');
        fpt << buf;
        nextBlock += blocks;
        // The Varchar: null every tenth row, shorter than the field otherwise.
        uint8_t nullFlags = 0;
        std::snprintf(tmp, sizeof tmp, "C%u", r);
        std::string v = tmp;
        if (r % 10 == 9) {
            nullFlags |= 2;  // bit 1: null
            v.clear();
        }
        std::string vf(20, '\0');
        std::memcpy(vf.data(), v.data(), v.size());
        if (v.size() < 20) {
            vf[19] = static_cast<char>(v.size());
            nullFlags |= 1;  // bit 0: the length is in the last byte
        }
        rec += vf;
        rec += static_cast<char>(nullFlags);
        dbf << rec;
    }
    dbf << '\x1A';
    // Next free block in the FPT header.
    fpt.seekp(0);
    std::string nb;
    put32be(nb, nextBlock);
    fpt << nb;
}

double seconds(std::chrono::steady_clock::time_point a) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

// Reads every row and touches every value; returns the row count.
long readAll(const std::string& folder) {
    tp::db::registerBuiltinProviders();
    auto conn = tp::db::CreateConnection("ADODB.Connection");
    conn->Open("Provider=vfpoledb.1;Data Source=" + folder + ";Collating Sequence=general;");
    auto rs = tp::db::CreateRecordset("ADODB.RecordSet");
    rs->Open("SELECT * FROM `bench`", *conn);  // the VFP 9 table
    long rows = 0;
    size_t sink = 0;
    const int n = rs->fieldCount();
    while (!rs->atEnd()) {
        for (int i = 0; i < n; ++i) sink += static_cast<size_t>(rs->Fields(i).value().kind());
        ++rows;
        rs->MoveNext();
    }
    rs->Close();
    conn->Close();
    return sink == 0 ? -1 : rows;
}

struct ChildResult {
    double seconds = 0;
    double cpuSeconds = 0;
    long maxRssKb = 0;
    int status = -1;
};

// Runs fn in a child process: wall time and the child's peak memory.
template <class F>
ChildResult inChild(F&& fn) {
    std::fflush(stdout);
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) _exit(fn());
    int status = 0;
    struct rusage ru {};
    wait4(pid, &status, 0, &ru);
    const double cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
    return {seconds(t0), cpu, ru.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t rows = argc > 1 ? static_cast<uint32_t>(std::stoul(argv[1])) : 1000000u;
    const std::string base = argc > 2 ? argv[2] : "/tmp/tallyport-bench";
    std::printf("FoxPro read benchmark: %u rows, fields C N D T L I Y B M V\n", rows);
    for (uint32_t n : {rows / 10, rows}) {
        const std::string folder = base + "/rows" + std::to_string(n);
        std::filesystem::create_directories(folder);
        const std::string dbf = folder + "/bench.dbf", fpt = folder + "/bench.fpt";
        auto t0 = std::chrono::steady_clock::now();
        generate(dbf, fpt, n);
        const std::string pgDbf = folder + "/pgdbf_copy.dbf", pgFpt = folder + "/pgdbf_copy.fpt";
        generate(pgDbf, pgFpt, n, true);
        std::printf("\n%u rows: generated %.1f MB table + %.1f MB memo in %.2f s\n", n,
                    std::filesystem::file_size(dbf) / 1e6, std::filesystem::file_size(fpt) / 1e6, seconds(t0));
        long got = 0;
        int pipefd[2];
        if (pipe(pipefd) != 0) return 1;
        auto ours = inChild([&] {
            long r = readAll(folder);
            if (write(pipefd[1], &r, sizeof r) != sizeof r) return 1;
            return 0;
        });
        if (read(pipefd[0], &got, sizeof got) != sizeof got) got = -1;
        close(pipefd[0]);
        close(pipefd[1]);
        std::printf("  tallyport Recordset: %ld rows in %.2f s (CPU %.2f s) = %.0f rows/s, peak RSS %.1f MB\n", got,
                    ours.seconds, ours.cpuSeconds, got / ours.seconds, ours.maxRssKb / 1024.0);
        auto pg = inChild([&] {
            FILE* devnull = std::freopen("/dev/null", "w", stdout);
            (void)devnull;
            execlp("pgdbf", "pgdbf", "-m", pgFpt.c_str(), pgDbf.c_str(), static_cast<char*>(nullptr));
            return 127;
        });
        if (pg.status == 0)
            std::printf("  pgdbf to /dev/null:  %u rows in %.2f s (CPU %.2f s) = %.0f rows/s, peak RSS %.1f MB\n", n,
                        pg.seconds, pg.cpuSeconds, n / pg.seconds, pg.maxRssKb / 1024.0);
        else std::printf("  pgdbf: not run or failed (exit %d)\n", pg.status);
    }
    return 0;
}
