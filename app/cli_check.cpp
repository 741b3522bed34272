// `tallyport check DB [--password PW]`: an integrity check of an Access
// database, read without changing it. Prints one line per problem, or "ok";
// before either, a "note:" line for each part it could not verify (such as
// the keys of an index under a sort order we cannot compute) and a
// "warning:" line for each inconsistency that Access itself leaves and
// tolerates (such as a stored row count that is not exact). Exits 0 when no
// problem was found, 1 when one was (or when the file cannot be read).
#include <iostream>

#include "app/cli.h"
#include "db/jet/check/check.h"

namespace tp::cli {

int runCheck(const Args& args) {
    std::string path, password;
    if (const int bad = databaseArgs(args, "check", path, password)) return bad;
    if (path.empty()) return usageError("check: give the database file to check");
    try {
        const auto report = db::jet::checkDatabase(path, password);
        for (const auto& n : report.notes) std::cout << "note: " << n << "\n";
        for (const auto& w : report.warnings) std::cout << "warning: " << w << "\n";
        if (report.problems.empty()) {
            std::cout << "ok\n";
            return 0;
        }
        for (const auto& p : report.problems) std::cout << p << "\n";
    } catch (const std::exception& e) {
        std::cerr << "tallyport: " << path << ": " << e.what() << "\n";
    }
    return 1;
}

}  // namespace tp::cli
