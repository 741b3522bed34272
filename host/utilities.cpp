#include "host/utilities.h"

#include <sys/stat.h>

#include <filesystem>

#include "db/value.h"

namespace tp {

namespace {
std::string& folderStore() {
    static std::string f = ".";
    return f;
}
}  // namespace

bool fileExists(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string asciiLower(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool listContainsText(const ListBox& list, const std::string& text) {
    const std::string want = asciiLower(text);
    for (int i = 0; i < list.count(); ++i)
        if (asciiLower(list.item(i)) == want) return true;
    return false;
}

void removeListEntry(ListBox& list, const std::string& text) {
    for (int i = 0; i < list.count();) {
        if (list.item(i) == text) list.removeItem(i);
        else ++i;
    }
}

db::Value nullToDefault(const db::Value& value, const db::Value& fallback) { return value.isNull() ? fallback : value; }

std::string programFolder() { return folderStore(); }
void setProgramFolder(std::string folder) {
    while (folder.size() > 1 && folder.back() == std::filesystem::path::preferred_separator) folder.pop_back();
    folderStore() = std::move(folder);
}

std::string inProgramFolder(const std::string& name) {
    std::string f = programFolder();
    if (f.empty() || f.back() != std::filesystem::path::preferred_separator)
        f += std::filesystem::path::preferred_separator;
    return f + name;
}

}  // namespace tp
