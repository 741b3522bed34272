// What settling a table's code page costs, against its conversion.
//
//   codepage_bench TALLYPORT [FOLDER]
//
// FOLDER (default /tmp/tallyport-bench) holds bench.dbf/.fpt, the
// 1,000,000-row table foxpro_read_bench writes (code page 1252). A copy
// without a mark (byte 29 = 0) is made beside it. Prints the time to open
// each (the marked one checks a sample of its text against 1252; the
// unmarked one gives the sample to uchardet), then converts each with
// TALLYPORT into a new .mdb in pairs, marked and unmarked one after the
// other, and prints the wall times and the detection's share of a
// conversion.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "db/foxpro/dbf.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

double openSeconds(const fs::path& dbf, int& codePage) {
    const auto t0 = Clock::now();
    auto t = tp::db::foxpro::DbfTable::open(dbf.string());
    const auto t1 = Clock::now();
    codePage = t->codePageUse().used;
    return seconds(t0, t1);
}

double convertSeconds(const std::string& exe, const fs::path& folder, const fs::path& target) {
    fs::remove(target);
    std::fflush(stdout);
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execl(exe.c_str(), exe.c_str(), "convert", "--folder", folder.c_str(), "--target", target.c_str(), "--create",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const auto t1 = Clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "convert failed (%d)\n", status);
    fs::remove(target);
    return seconds(t0, t1);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: codepage_bench TALLYPORT [FOLDER]\n");
        return 2;
    }
    const std::string exe = argv[1];
    const fs::path folder = argc > 2 ? argv[2] : "/tmp/tallyport-bench";
    const fs::path marked = folder / "cp-marked", unmarked = folder / "cp-unmarked";
    for (const fs::path& d : {marked, unmarked}) {
        fs::create_directories(d);
        for (const char* f : {"bench.dbf", "bench.fpt"})
            fs::copy_file(folder / f, d / f, fs::copy_options::overwrite_existing);
    }
    {
        std::fstream f(unmarked / "bench.dbf", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(29);
        f.put('\0');
    }
    std::vector<double> openMarked, openUnmarked, convMarked, convUnmarked;
    int cpMarked = 0, cpUnmarked = 0;
    for (int i = 0; i < 5; ++i) {
        openMarked.push_back(openSeconds(marked / "bench.dbf", cpMarked));
        openUnmarked.push_back(openSeconds(unmarked / "bench.dbf", cpUnmarked));
    }
    std::printf("open, marked 1252 (sample checked):   %8.4f s  (read as %d)\n", median(openMarked), cpMarked);
    std::printf("open, no mark (sample to uchardet):  %8.4f s  (read as %d)\n", median(openUnmarked), cpUnmarked);
    for (int i = 0; i < 2; ++i) {
        convMarked.push_back(convertSeconds(exe, marked, folder / "cp.mdb"));
        convUnmarked.push_back(convertSeconds(exe, unmarked, folder / "cp.mdb"));
        std::printf("pair %d: convert marked %7.2f s, no mark %7.2f s\n", i + 1, convMarked.back(),
                    convUnmarked.back());
    }
    const double conv = median(convMarked);
    std::printf("detection's share of a conversion: %.3f%% (open, no mark, against the marked conversion)\n",
                100.0 * median(openUnmarked) / conv);
    return 0;
}
