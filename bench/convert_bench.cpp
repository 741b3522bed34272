// Conversion speed: `tallyport convert` of a generated Visual FoxPro table
// into a new .mdb, side by side with pgdbf dumping the same table to
// /dev/null.
//
//   convert_bench [TALLYPORT] [FOLDER] [ROUNDS]
//
// Generates tables of 100,000 and 1,000,000 rows with the fields C, N, D, T,
// L, I, Y, B, M and V (nullable) in FOLDER (default /tmp/tallyport-convert-
// bench), converts each with TALLYPORT (default: the tallyport beside this
// build's bench folder) into a new .mdb and a new .accdb and runs pgdbf on
// it, in ROUNDS (default 5) alternating rounds; prints the medians of wall
// and CPU time and of peak memory, and the ratios to pgdbf. Then SELECT *
// of the table as CSV beside mdb-export, alternating likewise. Then the same
// conversion again into the same file (overwrite), a DROP TABLE of the table,
// and a conversion after the drop in a new session: time, peak memory and
// the file's size. Last the time and peak memory of `tallyport check` on
// the converted database.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/child_run.h"
#include "bench/vfp_table.h"

namespace fs = std::filesystem;

namespace {

using tp::bench::FieldDef;
using tp::bench::Outcome;
using tp::bench::putBe32;
using tp::bench::putLe;
using tp::bench::runChild;

int64_t julianDay(int y, int m, int d) {
    const int a = (14 - m) / 12, yy = y + 4800 - a, mm = m + 12 * a - 3;
    return d + (153 * mm + 2) / 5 + 365L * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

// Writes DBF + FPT. plain: a VFP 3 header with the Varchar declared as
// Character (what pgdbf understands); the record bytes are the same.
void generate(const fs::path& dbf, const fs::path& fpt, uint32_t rows, bool plain) {
    const std::vector<FieldDef> fields = {{"NAME", 'C', 20, 0, 0},        {"AMOUNT", 'N', 12, 2, 0},
                                          {"DAY", 'D', 8, 0, 0},          {"STAMP", 'T', 8, 0, 0},
                                          {"FLAG", 'L', 1, 0, 0},         {"COUNT", 'I', 4, 0, 0},
                                          {"PRICE", 'Y', 8, 4, 0},        {"RATIO", 'B', 8, 2, 0},
                                          {"NOTES", 'M', 4, 0, 0},        {"CODE", plain ? 'C' : 'V', 20, 0, 0x02},
                                          {"_NullFlags", '0', 1, 0, 0x05}};
    const std::string h = tp::bench::vfpHeader(plain ? 0x30 : 0x32, rows, fields);

    std::ofstream out(dbf, std::ios::binary), memo(fpt, std::ios::binary);
    out << h;
    const uint32_t block = 64;
    uint32_t nextBlock = 512 / block;
    std::string mh;
    putBe32(mh, 0);  // next free block: written at the end
    mh.append(2, '\0');
    mh += static_cast<char>(0), mh += static_cast<char>(block);
    mh.append(512 - mh.size(), '\0');
    memo << mh;

    std::string rec, m;
    char buf[64];
    for (uint32_t r = 0; r < rows; ++r) {
        rec.assign(1, ' ');
        std::snprintf(buf, sizeof buf, "Customer %-11u", r);
        rec += buf;
        std::snprintf(buf, sizeof buf, "%12.2f", (r % 100000) * 1.25 - 5000);
        rec += buf;
        const int y = 1990 + static_cast<int>(r % 30), mo = 1 + static_cast<int>(r % 12),
                  dd = 1 + static_cast<int>(r % 28);
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, mo, dd);
        rec += buf;
        putLe(rec, static_cast<uint32_t>(julianDay(y, mo, dd)), 4);
        putLe(rec, (r % 86400) * 1000u, 4);
        rec += r % 2 ? 'T' : 'F';
        putLe(rec, r, 4);
        putLe(rec, static_cast<uint64_t>(static_cast<int64_t>(r) * 12345), 8);
        double ratio = r / 7.0;
        uint64_t bits;
        std::memcpy(&bits, &ratio, 8);
        putLe(rec, bits, 8);
        // A memo per row.
        char text[64];
        const uint32_t textLen =
            static_cast<uint32_t>(std::snprintf(text, sizeof text, "Notes of row %u, with a comma", r));
        putLe(rec, nextBlock, 4);
        m.clear();
        putBe32(m, 1);
        putBe32(m, textLen);
        m.append(text, textLen);
        const uint32_t blocks = static_cast<uint32_t>((m.size() + block - 1) / block);
        m.resize(blocks * block, '\0');
        memo << m;
        nextBlock += blocks;
        // Varchar: short values carry their length in the last byte; every
        // tenth row is null.
        uint8_t nullFlags = 0;
        std::string code(20, '\0');
        if (r % 10 == 9) {
            nullFlags |= 0x02;
        } else {
            const int len = std::snprintf(buf, sizeof buf, "K%u", r % 977);
            std::memcpy(code.data(), buf, static_cast<size_t>(len));
            code[19] = static_cast<char>(len);
            nullFlags |= 0x01;
        }
        rec += code;
        rec += static_cast<char>(nullFlags);
        out << rec;
    }
    out << '\x1a';
    memo.seekp(0);
    std::string next;
    putBe32(next, nextBlock);
    memo << next;
}

// Each round runs every command once, in turn, so that a drift of the
// machine's speed falls on all of them alike; the medians are compared.
struct Contender {
    const char* what;
    std::function<Outcome()> run;
    std::vector<Outcome> outcomes;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void alternate(std::vector<Contender>& cs, int rounds) {
    for (int r = 0; r < rounds; ++r)
        for (Contender& c : cs) c.outcomes.push_back(c.run());
    for (const Contender& c : cs) {
        std::vector<double> wall, cpu, peak;
        int failed = 0;
        for (const Outcome& o : c.outcomes) {
            wall.push_back(o.seconds);
            cpu.push_back(o.cpuSeconds);
            peak.push_back(o.maxRssKb / 1024.0);
            failed += o.status != 0;
        }
        std::printf("  %-30s %7.2f s wall (%.2f to %.2f)  CPU %.2f s  peak %6.1f MB%s\n", c.what, median(wall),
                    *std::min_element(wall.begin(), wall.end()), *std::max_element(wall.begin(), wall.end()),
                    median(cpu), median(peak), failed ? "  (a run failed)" : "");
    }
}

double medianWall(const Contender& c) {
    std::vector<double> wall;
    for (const Outcome& o : c.outcomes) wall.push_back(o.seconds);
    return median(wall);
}

}  // namespace

int main(int argc, char** argv) {
    std::string tallyport =
        argc > 1 ? argv[1] : (fs::canonical("/proc/self/exe").parent_path().parent_path() / "tallyport").string();
    const fs::path folder = argc > 2 ? argv[2] : "/tmp/tallyport-convert-bench";
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    std::printf("tallyport: %s  (%u CPUs, %d alternating rounds)\n", tallyport.c_str(),
                std::thread::hardware_concurrency(), rounds);
    for (uint32_t rows : {100000u, 1000000u}) {
        const fs::path src = folder / ("src" + std::to_string(rows)), plain = folder / ("plain" + std::to_string(rows));
        fs::remove_all(src);
        fs::remove_all(plain);
        fs::create_directories(src);
        fs::create_directories(plain);
        generate(src / "bench.dbf", src / "bench.fpt", rows, false);
        generate(plain / "bench.dbf", plain / "bench.fpt", rows, true);
        const fs::path target = folder / ("bench" + std::to_string(rows) + ".mdb");
        const fs::path ace = folder / ("bench" + std::to_string(rows) + ".accdb");
        auto convertInto = [&](const fs::path& t) {
            return [&, t] {
                fs::remove(t);
                return runChild({tallyport, "convert", "--folder", src.string(), "--target", t.string(), "--create"},
                                true);
            };
        };
        std::printf("\n%u rows (C N D T L I Y B M V): medians\n", rows);
        std::vector<Contender> conversion = {
            {"tallyport convert -> new .mdb", convertInto(target), {}},
            {"tallyport convert -> new .accdb", convertInto(ace), {}},
            {"pgdbf -> /dev/null",
             [&] {
                 return runChild({"pgdbf", "-m", (plain / "bench.fpt").string(), (plain / "bench.dbf").string()}, true);
             },
             {}}};
        alternate(conversion, rounds);
        std::printf("  ratio to pgdbf (wall): .mdb %.2f, .accdb %.2f  (%.0f MB .mdb file)\n",
                    medianWall(conversion[0]) / medianWall(conversion[2]),
                    medianWall(conversion[1]) / medianWall(conversion[2]),
                    fs::exists(target) ? fs::file_size(target) / 1048576.0 : 0.0);
        std::vector<Contender> reading = {
            {"tallyport sql SELECT * (csv)",
             [&] {
                 return runChild({tallyport, "sql", target.string(), "--format", "csv", "-e", "SELECT * FROM [bench]"},
                                 true);
             },
             {}},
            {"mdb-export",
             [&] {
                 return runChild({"mdb-export", target.string(), "bench"}, true);
             },
             {}}};
        alternate(reading, rounds);
        std::printf("  ratio to mdb-export (wall): %.2f\n", medianWall(reading[0]) / medianWall(reading[1]));
        fs::remove(ace);

        auto mb = [&] { return fs::exists(target) ? fs::file_size(target) / 1048576.0 : 0.0; };
        const Outcome again = runChild(
            {tallyport, "convert", "--folder", src.string(), "--target", target.string(), "--overwrite", "yes"}, true);
        std::printf("  convert again, overwrite:      %7.2f s (CPU %.2f s)  peak %6.1f MB  exit %d  (%.0f MB file)\n",
                    again.seconds, again.cpuSeconds, again.maxRssKb / 1024.0, again.status, mb());
        const Outcome drop = runChild({tallyport, "sql", target.string(), "-e", "DROP TABLE [bench]"}, true);
        std::printf("  DROP TABLE:                    %7.2f s (CPU %.2f s)  peak %6.1f MB  exit %d  (%.0f MB file)\n",
                    drop.seconds, drop.cpuSeconds, drop.maxRssKb / 1024.0, drop.status, mb());
        const Outcome after = runChild(
            {tallyport, "convert", "--folder", src.string(), "--target", target.string(), "--overwrite", "yes"}, true);
        std::printf("  convert after the drop:        %7.2f s (CPU %.2f s)  peak %6.1f MB  exit %d  (%.0f MB file)\n",
                    after.seconds, after.cpuSeconds, after.maxRssKb / 1024.0, after.status, mb());
        const Outcome ck = runChild({tallyport, "check", target.string()}, true);
        std::printf("  tallyport check of the .mdb:   %7.2f s (CPU %.2f s)  %9.0f rows/s  peak %6.1f MB  exit %d\n",
                    ck.seconds, ck.cpuSeconds, rows / ck.seconds, ck.maxRssKb / 1024.0, ck.status);
        fs::remove(target);
    }
    return 0;
}
