// Helpers shared by the fuzz targets whose readers take a path: the input is
// written to a private file in /dev/shm (or $TMPDIR when /dev/shm is missing)
// that lives as long as the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace tp::fuzz {

inline std::string scratchDir() {
    static const std::string dir = [] {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string d = base + "/tp-fuzz-" + std::to_string(getpid());
        (void)mkdir(d.c_str(), 0700);
        return d;
    }();
    return dir;
}

// Writes bytes to scratchDir()/name and returns the path.
inline std::string writeScratch(const std::string& name, const uint8_t* data, size_t size) {
    const std::string path = scratchDir() + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    return path;
}

}  // namespace tp::fuzz
