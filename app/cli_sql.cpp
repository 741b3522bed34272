// `tallyport sql (--folder DIR | --dbc FILE | DB [--password PW])
//   [-e STMT]... [-f FILE] [--format csv|json] [--transaction]`: runs each
// statement on its own; row-returning statements print their rows. A failing
// statement is reported with its line number and the run goes on; the exit
// status is 1 when any failed. With --transaction the statements are one
// unit: the first failure undoes every one of them and ends the run.
#include <fstream>
#include <iostream>

#include "app/cli.h"
#include "app/cli_output.h"
#include "db/ado.h"

namespace tp::cli {

namespace {

struct Statement {
    std::string text;
    std::string where;   // "-e 2" or "FILE:7"
};

}  // namespace

int runSql(const Args& args) {
    SourceArgs src;
    OutputFormat format = OutputFormat::Csv;
    std::vector<Statement> statements;
    int eCount = 0;
    bool given = false;   // -e or -f (a script file may hold no statement)
    bool transaction = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) return false;
            into = args[++i];
            return true;
        };
        std::string v;
        if (a == "--folder") { if (!value(src.folder)) return usageError("--folder needs a folder"); }
        else if (a == "--dbc") { if (!value(src.dbc)) return usageError("--dbc needs a file"); }
        else if (a == "--password") {
            if (!value(src.password)) return usageError("--password needs a value");
            src.havePassword = true;
        } else if (a == "-e") {
            if (!value(v)) return usageError("-e needs a statement");
            statements.push_back({v, "line " + std::to_string(++eCount) + " (-e)"});
            given = true;
        } else if (a == "-f") {
            if (!value(v)) return usageError("-f needs a file");
            std::ifstream in(v, std::ios::binary);
            if (!in) return usageError("cannot read " + v);
            std::string line;
            int n = 0;
            given = true;
            while (std::getline(in, line)) {
                ++n;
                if (n == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);   // UTF-8 byte-order mark
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (line.find_first_not_of(" \t") == std::string::npos) continue;
                statements.push_back({line, v + ": line " + std::to_string(n)});
            }
        } else if (a == "--transaction") {
            transaction = true;
        } else if (a == "--format") {
            if (!value(v)) return usageError("--format needs csv or json");
            if (v == "csv") format = OutputFormat::Csv;
            else if (v == "json") format = OutputFormat::Json;
            else return usageError("--format must be csv or json");
        } else if (!a.empty() && a[0] == '-') return usageError("sql: unknown option '" + a + "'");
        else if (src.db.empty()) src.db = a;
        else return usageError("sql: more than one database given");
    }
    const int kinds = !src.folder.empty() + !src.dbc.empty() + !src.db.empty();
    if (kinds != 1) return usageError("sql: give exactly one of --folder DIR, --dbc FILE or DB");
    if (!given) return usageError("sql: give statements with -e or -f");

    std::unique_ptr<db::Connection> conn;
    try {
        conn = db::CreateConnection("ADODB.Connection");
        conn->Open(sourceConnectionString(src));
    } catch (const std::exception& e) {
        std::cerr << "tallyport: " << sourceName(src) << ": " << e.what() << "\n";
        return 1;
    }
    bool failed = false;
    if (transaction) {
        try {
            conn->BeginTrans();
        } catch (const db::Error& e) {
            std::cerr << "tallyport: " << sourceName(src) << ": error " << e.number() << ": " << e.description() << "\n";
            return 1;
        }
    }
    for (const auto& st : statements) {
        if (failed && transaction) break;
        try {
            auto rs = conn->Execute(st.text);
            if (rs) {
                writeResult(std::cout, *rs, format);
                for (const db::ReadNotice& n : rs->takeNotices()) {
                    std::cout.flush();
                    std::cerr << "tallyport: " << st.where << ": " << n.text << "\n";
                    if (n.lostValues > 0) failed = true;
                }
                rs->Close();
            }
        } catch (const db::Error& e) {
            std::cout.flush();
            std::cerr << "tallyport: " << st.where << ": error " << e.number() << ": " << e.description() << "\n";
            failed = true;
        } catch (const std::exception& e) {
            std::cout.flush();
            std::cerr << "tallyport: " << st.where << ": " << e.what() << "\n";
            failed = true;
        }
    }
    std::cout.flush();
    if (transaction) {
        try {
            if (failed) {
                conn->RollbackTrans();
                std::cerr << "tallyport: every statement was undone\n";
            } else {
                conn->CommitTrans();
            }
        } catch (const db::Error& e) {
            std::cerr << "tallyport: " << (failed ? "undoing" : "keeping") << " the statements: error " << e.number()
                      << ": " << e.description() << "\n";
            failed = true;
        }
    }
    // Closing writes what is still pending: its failure means those
    // statements did not reach the file.
    try {
        conn->Close();
    } catch (const db::Error& e) {
        std::cerr << "tallyport: closing the database: error " << e.number() << ": " << e.description() << "\n";
        failed = true;
    } catch (const std::exception& e) {
        std::cerr << "tallyport: closing the database: " << e.what() << "\n";
        failed = true;
    }
    return failed ? 1 : 0;
}

}  // namespace tp::cli
