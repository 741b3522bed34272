// The run wired to the program's source and target modules. Kept apart from
// the run itself so that tests with stand-in modules link without them.
#include "convert/run.h"
#include "convert/target.h"
#include "convert/source.h"
#include "db/jet/database.h"
#include "host/utilities.h"

namespace tp::convert {
namespace {

bool endsWithNoCase(const std::string& s, std::string_view tail) {
    if (s.size() < tail.size()) return false;
    return asciiLower(s.substr(s.size() - tail.size())) == tail;
}

}  // namespace

void createTargetDatabase(const std::string& path, const std::string& password) {
    const auto format = endsWithNoCase(path, ".accdb") ? db::jet::FileFormat::Ace14 : db::jet::FileFormat::Jet4;
    auto database = db::jet::Database::create(path, password, format);
    database->close();
}

RunModules standardModules() {
    RunModules m;
    m.canConnectToSource = source::canConnect;
    m.sourceProblem = source::problem;
    m.listSourceTables = source::listTables;
    m.openSource = source::open;
    m.listTargetTables = [](ListBox& list, const TargetChoice& t) { target::listTables(list, t.path, t.password); };
    m.openTarget = target::open;
    m.createTargetDatabase = createTargetDatabase;
    m.targetProblem = target::problem;
    return m;
}

ConversionRun::ConversionRun(RunHost& host) : ConversionRun(host, standardModules()) {}

}  // namespace tp::convert
