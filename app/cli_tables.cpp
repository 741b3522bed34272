// `tallyport tables (--folder DIR | --dbc FILE | DB [--password PW]) [--all]`:
// one table name per line in the source's listing order; --all lists every
// kind as TYPE<TAB>NAME.
#include <iostream>

#include "app/cli.h"
#include "app/cli_output.h"
#include "db/ado.h"

namespace tp::cli {

int runTables(const Args& args) {
    SourceArgs src;
    bool all = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) return false;
            into = args[++i];
            return true;
        };
        if (a == "--folder") { if (!value(src.folder)) return usageError("--folder needs a folder"); }
        else if (a == "--dbc") { if (!value(src.dbc)) return usageError("--dbc needs a file"); }
        else if (a == "--password") {
            if (!value(src.password)) return usageError("--password needs a value");
            src.havePassword = true;
        } else if (a == "--all") all = true;
        else if (!a.empty() && a[0] == '-') return usageError("tables: unknown option '" + a + "'");
        else if (src.db.empty()) src.db = a;
        else return usageError("tables: more than one database given");
    }
    const int kinds = !src.folder.empty() + !src.dbc.empty() + !src.db.empty();
    if (kinds != 1) return usageError("tables: give exactly one of --folder DIR, --dbc FILE or DB");
    try {
        auto conn = db::CreateConnection("ADODB.Connection");
        conn->Open(sourceConnectionString(src));
        auto rs = conn->OpenSchema(db::adSchemaTables);
        while (!rs->atEnd()) {
            const db::Value& type = rs->Fields("TABLE_TYPE").value();
            const db::Value& name = rs->Fields("TABLE_NAME").value();
            const std::string t = db::toIsoText(type), n = db::toIsoText(name);
            if (all) std::cout << t << '\t' << n << '\n';
            else if (t == "TABLE") std::cout << n << '\n';
            rs->MoveNext();
        }
        rs->Close();
        conn->Close();
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
