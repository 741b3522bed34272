// `tallyport tables (--folder DIR | --dbc FILE | DB [--password PW]) [--all]
//  [--codepage N [--force-codepage]]`: one table name per line in the
// source's listing order; --all lists every kind as TYPE<TAB>NAME. The code
// page a container's names were read in goes to stderr when it is not the
// container's own.
#include <iostream>

#include "app/cli.h"
#include "app/cli_output.h"
#include "db/ado.h"

namespace tp::cli {

namespace {

// One table name a line, or TYPE<TAB>NAME of every kind with `all`.
void printTables(const SourceArgs& src, bool all) {
    auto conn = openSourceConnection(src);
    auto rs = conn->OpenSchema(db::adSchemaTables);
    while (!rs->atEnd()) {
        const db::Value& type = rs->Fields("TABLE_TYPE").value();
        const db::Value& name = rs->Fields("TABLE_NAME").value();
        const std::string t = db::toIsoText(type), n = db::toIsoText(name);
        if (all) std::cout << t << '\t' << n << '\n';
        else if (t == "TABLE") std::cout << n << '\n';
        rs->MoveNext();
    }
    std::vector<std::string> notes;
    for (db::ReadNotice& n : rs->takeNotices()) notes.push_back(std::move(n.text));
    std::cout.flush();
    printCodePageNotes(notes, "");
    rs->Close();
    conn->Close();
}

}  // namespace

int runTables(const Args& args) {
    SourceArgs src;
    bool all = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const SourceArg taken = takeSourceArg(args, i, src, "tables");
        if (taken == SourceArg::UsageError) return 2;
        if (taken == SourceArg::Taken) continue;
        if (args[i] == "--all") all = true;
        else return usageError("tables: unknown option '" + args[i] + "'");
    }
    if (const int status = checkOneSource(src, "tables")) return status;
    try {
        printTables(src, all);
    } catch (const db::Error& e) {
        std::cout.flush();
        std::cerr << "tallyport: " << sourceName(src) << ": " << e.description() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << "tallyport: " << sourceName(src) << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace tp::cli
