#include "convert/target.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "db/ado.h"
#include "host/app_title.h"
#include "host/error_report.h"
#include "host/events.h"
#include "host/message_box.h"
#include "host/shell.h"
#include "host/utilities.h"

namespace tp::convert::target {

namespace {

// The Access Database Engine download pages, the 2010 engine first.
const char* const kDownloadPages[] = {
    "https://www.microsoft.com/en-us/download/details.aspx?id=13255",
    "https://www.microsoft.com/en-us/download/details.aspx?id=54920",
};

bool containsNoCase(const std::string& haystack, const std::string& needle) {
    return asciiLower(haystack).find(asciiLower(needle)) != std::string::npos;
}

std::string missingProviderAdvice() {
    const std::string br = "\r\n\r\n";
    return std::string("Error #3706: Provider cannot be found. It may not be properly installed.") + br +
           "You are getting this error because:" + br + "1. Microsoft Access is not installed on your computer." + br +
           "2. A set of Microsoft components to transfer data is not installed on your computer." + br +
           "You need to download and install Microsoft Access Database Engine 2010 or 2016 to solve this "
           "problem." +
           br + "Would you like me to open the Microsoft site now so you can do this?" + br +
           "(If you have any further questions please email a screenshot of this error message to " + kSupportEmail +
           ")";
}

}  // namespace

std::string connectionString(const std::string& path, const std::string& password) {
    const std::string tail = path.size() > 5 ? path.substr(path.size() - 5) : path;
    const std::string prefix = asciiLower(tail) == "accdb" ? "Provider=Microsoft.ACE.OLEDB.12.0;Data Source="
                                                           : "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=";
    // Values holding ";", "=" or quotes are quoted, so that a path or a
    // password cannot add a key of its own; ordinary values stay as typed.
    return prefix + db::ConnectionString::quoteValue(path) +
           ";JET OLEDB:Database Password=" + db::ConnectionString::quoteValue(password);
}

std::string problem(const TargetChoice& target) {
    namespace fs = std::filesystem;
    if (target.path.empty()) return {};
    std::error_code ec;
    const fs::path file(target.path);
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, ec))
        return "The folder " + folder.string() + " does not exist, so the database cannot be made there.";
    const bool exists = fs::exists(file, ec);
    if (exists && fs::is_directory(file, ec)) return target.path + " is a folder, not an Access database.";
    if (::access(folder.c_str(), W_OK) != 0)
        return "The folder " + folder.string() + " cannot be written (" + std::strerror(errno) +
               "); the database needs it for its journal and lock file.";
    if (!exists) return {};
    const int fd = ::open(target.path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return "The file cannot be written (" + std::string(std::strerror(errno)) + ").";
    ::close(fd);
    return {};
}

std::string openProblem(const TargetChoice& target) {
    if (std::string why = problem(target); !why.empty() || !fileExists(target.path)) return why;
    try {
        auto conn = db::CreateConnection("ADODB.Connection");
        conn->Open(connectionString(target.path, target.password));
        conn->Close();
    } catch (...) {
        return currentErrorDescription();
    }
    return {};
}

void open(db::Connection& connection, const TargetChoice& target) {
    connection.Open(connectionString(target.path, target.password));
}

std::optional<std::vector<std::string>> tableNames(const std::string& path, const std::string& password) {
    auto conn = db::CreateConnection("ADODB.Connection");
    auto rs = db::CreateRecordset("ADODB.RecordSet");
    if (!fileExists(path)) return std::nullopt;
    conn->Open(connectionString(path, password));
    rs = conn->OpenSchema(db::adSchemaTables);
    std::vector<std::string> names;
    while (!rs->atEnd()) {
        const db::Value& type = rs->Fields("TABLE_TYPE").value();
        if (type.kind() == db::Kind::Text && type.text() == "TABLE") {
            const db::Value& name = rs->Fields("TABLE_NAME").value();
            if (name.kind() == db::Kind::Text) names.push_back(name.text());
        }
        rs->MoveNext();
    }
    rs->Close();
    conn->Close();
    return names;
}

void listTables(ListBox& list, const std::string& path, const std::string& password) {
    list.clear();
    auto tables = tableNames(path, password);
    if (!tables) {
        msgBox("Unable to access the database", mb::OkOnly);
        return;
    }
    for (const auto& name : *tables) {
        pumpEvents();
        list.addItem(name);
    }
}

bool providerInstalled() {
    try {
        auto conn = db::CreateConnection("ADODB.Connection");
        if (conn) return true;
    } catch (const db::Error& e) {
        if (containsNoCase(e.description(), "provider cannot be found") || e.number() == db::Error::kProviderNotFound) {
            try {
                if (msgBox(missingProviderAdvice(), mb::YesNo) == mb::Yes)
                    for (const char* page : kDownloadPages) openUrl(page);
            } catch (...) {
                // Every failure here is absorbed; the answer stays false.
            }
        }
    } catch (...) {}
    return false;
}

}  // namespace tp::convert::target
