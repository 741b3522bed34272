// Conversion of a folder of many small tables: `tallyport convert` of
// folders of 500, 2,000 and 10,000 one-row Visual FoxPro tables (each with
// its memo file) into a new .mdb and a new .accdb, with the time per table,
// which should stay flat as the count grows.
//
//   many_tables_bench [TALLYPORT] [FOLDER] [COUNTS...]
//   many_tables_bench --generate FOLDER COUNT
//
// TALLYPORT defaults to the tallyport beside this build's bench folder,
// FOLDER to /tmp/tallyport-many-tables-bench, the counts to 500 2000 10000.
// --generate only writes the folder of COUNT tables (for timing the
// conversion from outside).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
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

// One Visual FoxPro table of one row (Character, Numeric, Integer, Memo) and
// its memo file: the bytes of table n differ only in its values.
std::pair<std::string, std::string> oneRowTable(uint32_t n) {
    const std::vector<FieldDef> fields = {
        {"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 12, 2}, {"COUNT", 'I', 4, 0}, {"NOTES", 'M', 4, 0}};
    const std::string h = tp::bench::vfpHeader(0x30, 1, fields);

    char buf[64];
    std::string rec(1, ' ');
    std::snprintf(buf, sizeof buf, "Customer %-11u", n);
    rec += buf;
    std::snprintf(buf, sizeof buf, "%12.2f", n * 1.25);
    rec += buf;
    putLe(rec, n, 4);
    const uint32_t block = 64;
    putLe(rec, 512 / block, 4);
    std::string dbf = h + rec + '\x1a';

    std::string memo;
    putBe32(memo, 512 / block + 1);
    memo.append(2, '\0');
    memo += static_cast<char>(0), memo += static_cast<char>(block);
    memo.resize(512, '\0');
    const int textLen = std::snprintf(buf, sizeof buf, "Notes of table %u", n);
    putBe32(memo, 1);
    putBe32(memo, static_cast<uint32_t>(textLen));
    memo.append(buf, static_cast<size_t>(textLen));
    memo.resize(512 + block, '\0');
    return {dbf, memo};
}

void generate(const fs::path& folder, uint32_t count) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    char name[32];
    for (uint32_t n = 0; n < count; ++n) {
        const auto [dbf, memo] = oneRowTable(n);
        std::snprintf(name, sizeof name, "t%05u", n);
        std::ofstream(folder / (std::string(name) + ".dbf"), std::ios::binary) << dbf;
        std::ofstream(folder / (std::string(name) + ".fpt"), std::ios::binary) << memo;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--generate") == 0) {
        generate(argv[2], static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)));
        return 0;
    }
    const std::string tallyport =
        argc > 1 ? argv[1] : (fs::canonical("/proc/self/exe").parent_path().parent_path() / "tallyport").string();
    const fs::path root = argc > 2 ? argv[2] : "/tmp/tallyport-many-tables-bench";
    std::vector<uint32_t> counts;
    for (int i = 3; i < argc; ++i) counts.push_back(static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 10)));
    if (counts.empty()) counts = {500, 2000, 10000};
    std::printf("tallyport: %s\n", tallyport.c_str());
    for (const uint32_t count : counts) {
        const fs::path src = root / ("tables-" + std::to_string(count));
        generate(src, count);
        for (const char* ext : {".mdb", ".accdb"}) {
            const fs::path target = root / ("target-" + std::to_string(count) + ext);
            fs::remove(target);
            const Outcome o =
                runChild({tallyport, "convert", "--folder", src.string(), "--target", target.string(), "--create"});
            std::printf("%6u tables -> new %-6s %8.2f s (CPU %.2f s)  %7.3f ms per table  peak %6.1f MB  exit %d\n",
                        count, ext, o.seconds, o.cpuSeconds, 1000.0 * o.seconds / count, o.maxRssKb / 1024.0, o.status);
            fs::remove(target);
        }
        fs::remove_all(src);
    }
    return 0;
}
