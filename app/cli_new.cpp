// `tallyport new DB [--password PW]`: creates a new, empty Access database
// (an .mdb; a database password when given). An existing file is never
// overwritten.
#include <iostream>

#include "app/cli.h"
#include "db/jet/database.h"
#include "host/utilities.h"

namespace tp::cli {

int runNew(const Args& args) {
    std::string path, password;
    if (const int bad = databaseArgs(args, "new", path, password)) return bad;
    if (path.empty()) return usageError("new: give the database file to create");
    const std::string tail = path.size() > 6 ? asciiLower(path.substr(path.size() - 6)) : asciiLower(path);
    const auto format = tail == ".accdb" ? db::jet::FileFormat::Ace14 : db::jet::FileFormat::Jet4;
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
