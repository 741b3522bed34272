#include "host/program_files.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "host/utilities.h"

namespace fs = std::filesystem;

namespace tp {

namespace {

std::string& sharedStore() {
    static std::string f;
    return f;
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

// Copies the files of `from` that `to` lacks; each file appears whole or not
// at all (written under a temporary name first).
void copyMissing(const fs::path& from, const fs::path& to) {
    fs::create_directories(to);
    for (const auto& entry : fs::recursive_directory_iterator(from)) {
        const fs::path dest = to / entry.path().lexically_relative(from);
        if (entry.is_directory()) {
            fs::create_directories(dest);
            continue;
        }
        if (!entry.is_regular_file() || fs::exists(fs::symlink_status(dest))) continue;
        fs::path part = dest;
        part += ".part";
        fs::copy_file(entry.path(), part, fs::copy_options::overwrite_existing);
        fs::permissions(part, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
        fs::rename(part, dest);
    }
}

}  // namespace

std::string sharedDataFolder() { return sharedStore(); }

void setSharedDataFolder(std::string folder) {
    if (!folder.empty()) folder = fs::path(folder).lexically_normal().string();
    while (folder.size() > 1 && folder.back() == fs::path::preferred_separator) folder.pop_back();
    sharedStore() = std::move(folder);
}

std::string userDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const fs::path base =
        xdg && *xdg && fs::path(xdg).is_absolute() ? fs::path(xdg) : fs::path(homeFolder()) / ".local" / "share";
    return (base / "tallyport").string();
}

std::string programFile(const std::string& name) {
    const std::string beside = inProgramFolder(name);
    if (fileExists(beside) || sharedDataFolder().empty()) return beside;
    const std::string shared = (fs::path(sharedDataFolder()) / name).string();
    return fileExists(shared) ? shared : beside;
}

std::string sampleFolder() {
    const std::string beside = inProgramFolder("Samples");
    if (fileExists(beside) || sharedDataFolder().empty()) return beside;
    const fs::path shared = fs::path(sharedDataFolder()) / "Samples";
    if (!fileExists(shared.string())) return beside;
    const fs::path copy = fs::path(userDataFolder()) / "Samples";
    try {
        copyMissing(shared, copy);
    } catch (const fs::filesystem_error& e) {
        throw std::runtime_error("The samples could not be copied to " + copy.string() + ": " + e.code().message());
    }
    return copy.string();
}

}  // namespace tp
