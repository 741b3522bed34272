// `tallyport sql (--folder DIR | --dbc FILE | DB [--password PW])
//   [-e STMT]... [-f FILE] [--format csv|json] [--transaction]
//   [--codepage N [--force-codepage]]`: runs each
// statement on its own; row-returning statements print their rows. A failing
// statement is reported with its line number and the run goes on; the exit
// status is 1 when any failed. With --transaction the statements are one
// unit: the first failure undoes every one of them and ends the run.
#include <cctype>
#include <fstream>
#include <iostream>
#include <set>

#include "app/cli.h"
#include "app/cli_output.h"
#include "db/ado.h"

namespace tp::cli {

namespace {

struct Statement {
    std::string text;
    std::string where;  // "-e 2" or "FILE:7"
};

struct SqlOptions {
    SourceArgs src;
    OutputFormat format = OutputFormat::Csv;
    std::vector<Statement> statements;
    int eCount = 0;
    bool given = false;  // -e or -f (a script file may hold no statement)
    bool transaction = false;
};

// Adds the statements of a script file, one a line (blank lines left out);
// false when the file cannot be read.
bool readScript(const std::string& path, std::vector<Statement>& statements) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        ++n;
        if (n == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);  // UTF-8 byte-order mark
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        statements.push_back({line, path + ": line " + std::to_string(n)});
    }
    return true;
}

// Takes sql's own option at args[i] (and its value): 0, or the exit status
// of the usage error printed.
int takeSqlOption(const Args& args, size_t& i, SqlOptions& o) {
    const std::string& a = args[i];
    std::string v;
    auto value = [&] {
        if (i + 1 >= args.size()) return false;
        v = args[++i];
        return true;
    };
    if (a == "-e") {
        if (!value()) return usageError("-e needs a statement");
        o.statements.push_back({v, "line " + std::to_string(++o.eCount) + " (-e)"});
        o.given = true;
    } else if (a == "-f") {
        if (!value()) return usageError("-f needs a file");
        if (!readScript(v, o.statements)) return usageError("cannot read " + v);
        o.given = true;
    } else if (a == "--transaction") {
        o.transaction = true;
    } else if (a == "--format") {
        if (!value()) return usageError("--format needs csv or json");
        if (v == "csv") o.format = OutputFormat::Csv;
        else if (v == "json") o.format = OutputFormat::Json;
        else return usageError("--format must be csv or json");
    } else {
        return usageError("sql: unknown option '" + a + "'");
    }
    return 0;
}

// The options of sql: 0, or the exit status of the usage error printed.
int readSqlOptions(const Args& args, SqlOptions& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const SourceArg taken = takeSourceArg(args, i, o.src, "sql");
        if (taken == SourceArg::UsageError) return 2;
        if (taken == SourceArg::NotSource)
            if (const int status = takeSqlOption(args, i, o)) return status;
    }
    if (const int status = checkOneSource(o.src, "sql")) return status;
    if (!o.given) return usageError("sql: give statements with -e or -f");
    return 0;
}

// The source's connection, open; null after the failure was reported.
std::unique_ptr<db::Connection> openSource(const SourceArgs& src) {
    try {
        return openSourceConnection(src);
    } catch (const std::exception& e) {
        std::cerr << "tallyport: " << sourceName(src) << ": " << e.what() << "\n";
        return nullptr;
    }
}

// UPDATE and DELETE: statements whose rows affected are told.
bool changesRows(std::string_view sql) {
    size_t b = 0;
    while (b < sql.size() && std::isspace(static_cast<unsigned char>(sql[b]))) ++b;
    std::string word;
    for (size_t i = b; i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])); ++i)
        word += char(std::toupper(static_cast<unsigned char>(sql[i])));
    return word == "UPDATE" || word == "DELETE";
}

void writeAffected(std::ostream& out, long n, OutputFormat format) {
    if (format == OutputFormat::Json) out << "{\"rowsAffected\":" << n << "}\n";
    else out << n << (n == 1 ? " row" : " rows") << " affected\r\n";  // the line ends of the csv output
}

// Runs one statement and writes its rows (UPDATE and DELETE: how many they
// changed); false when it failed or a value
// could not be read (the failure is reported).
// A table's code page notice is told once a run, however many statements
// read it.
bool runStatement(db::Connection& conn, const Statement& st, OutputFormat format, std::set<std::string>& told) {
    bool ok = true;
    try {
        long affected = 0;
        auto rs = conn.Execute(st.text, &affected);
        if (!rs && changesRows(st.text)) writeAffected(std::cout, affected, format);
        if (rs) {
            writeResult(std::cout, *rs, format);
            std::cout.flush();
            std::vector<std::string> codePages;
            for (db::ReadNotice& n : rs->takeNotices()) {
                if (n.codePage && told.insert(n.text).second) codePages.push_back(std::move(n.text));
                else if (n.codePage) continue;
                else std::cerr << "tallyport: " << st.where << ": " << n.text << "\n";
                if (n.lostValues > 0) ok = false;
            }
            printCodePageNotes(codePages, st.where + ": ");
            rs->Close();
        }
    } catch (const db::Error& e) {
        std::cout.flush();
        std::cerr << "tallyport: " << st.where << ": error " << e.number() << ": " << e.description() << "\n";
        ok = false;
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << "tallyport: " << st.where << ": " << e.what() << "\n";
        ok = false;
    }
    return ok;
}

// Ends the unit of --transaction: undone when a statement failed, kept
// otherwise; false when that failed (reported).
bool endUnit(db::Connection& conn, bool failed) {
    try {
        if (failed) {
            conn.RollbackTrans();
            std::cerr << "tallyport: every statement was undone\n";
        } else {
            conn.CommitTrans();
        }
        return true;
    } catch (const db::Error& e) {
        std::cerr << "tallyport: " << (failed ? "undoing" : "keeping") << " the statements: error " << e.number()
                  << ": " << e.description() << "\n";
        return false;
    }
}

// Closing writes what is still pending: its failure means those statements
// did not reach the file. False when it failed (reported).
bool closeDatabase(db::Connection& conn) {
    try {
        conn.Close();
        return true;
    } catch (const db::Error& e) {
        std::cerr << "tallyport: closing the database: error " << e.number() << ": " << e.description() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "tallyport: closing the database: " << e.what() << "\n";
    }
    return false;
}

}  // namespace

int runSql(const Args& args) {
    SqlOptions o;
    if (const int status = readSqlOptions(args, o)) return status;
    std::unique_ptr<db::Connection> conn = openSource(o.src);
    if (!conn) return 1;
    if (o.transaction) {
        try {
            conn->BeginTrans();
        } catch (const db::Error& e) {
            std::cerr << "tallyport: " << sourceName(o.src) << ": error " << e.number() << ": " << e.description()
                      << "\n";
            return 1;
        }
    }
    bool failed = false;
    std::set<std::string> told;
    for (const auto& st : o.statements) {
        if (failed && o.transaction) break;
        if (!runStatement(*conn, st, o.format, told)) failed = true;
    }
    std::cout.flush();
    if (o.transaction && !endUnit(*conn, failed)) failed = true;
    if (!closeDatabase(*conn)) failed = true;
    return failed ? 1 : 0;
}

}  // namespace tp::cli
