// `tallyport new DB [--password PW] [--format 97]`: creates a new, empty
// Access database (an .mdb, Jet 4 or with --format 97 Access 97; an .accdb;
// a database password when given). An existing file is never overwritten.
#include <iostream>

#include "app/cli.h"
#include "db/jet/database.h"
#include "host/utilities.h"

namespace tp::cli {

int runNew(const Args& args) {
    std::string path, password;
    Args rest;
    bool access97 = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--format") {
            rest.push_back(args[i]);
            continue;
        }
        if (i + 1 >= args.size() || args[i + 1] != "97") return usageError("new: --format takes 97 (Access 97)");
        access97 = true;
        ++i;
    }
    if (const int bad = databaseArgs(rest, "new", path, password)) return bad;
    if (path.empty()) return usageError("new: give the database file to create");
    const std::string tail = path.size() > 6 ? asciiLower(path.substr(path.size() - 6)) : asciiLower(path);
    if (access97 && tail == ".accdb") return usageError("new: an Access 97 database is an .mdb file");
    const auto format = access97           ? db::jet::FileFormat::Jet3
                        : tail == ".accdb" ? db::jet::FileFormat::Ace14
                                           : db::jet::FileFormat::Jet4;
    try {
        auto db = db::jet::Database::create(path, password, format);
        db->close();
    } catch (const std::exception& e) {
        std::cerr << "tallyport: " << path << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace tp::cli
