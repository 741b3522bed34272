// `tallyport check DB [--password PW]`: an integrity check of an Access
// database, read without changing it. Prints "ok", or one line per problem;
// exits 0 when the file is sound, 1 when not (or when it cannot be read).
#include <iostream>

#include "app/cli.h"
#include "db/jet/check.h"

namespace tp::cli {

int runCheck(const Args& args) {
    std::string path, password;
    if (const int bad = databaseArgs(args, "check", path, password)) return bad;
    if (path.empty()) return usageError("check: give the database file to check");
    try {
        const auto problems = db::jet::checkDatabase(path, password);
        if (problems.empty()) {
            std::cout << "ok\n";
            return 0;
        }
        for (const auto& p : problems) std::cout << p << "\n";
    } catch (const std::exception& e) {
        std::cerr << "tallyport: " << path << ": " << e.what() << "\n";
    }
    return 1;
}

}  // namespace tp::cli
