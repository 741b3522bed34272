#include "app/cli.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "app/build_info.h"
#include "db/ado.h"
#include "db/foxpro/codepage.h"

namespace tp::cli {

const std::vector<Subcommand>& subcommands() {
    static const std::vector<Subcommand> list = {
        // Subcommands are added here as they are built.
        {"convert",
         "(--folder DIR | --dbc FILE) --target DB [--password PW] [--overwrite ask|yes|no] [--create] [--script FILE]"
         " [--codepage N [--force-codepage]] [--keys yes|no] [--types access|text] [--report FILE] [--quiet]",
         runConvert},
        {"new", "DB [--password PW] [--format 97]", runNew},
        {"tables", "(--folder DIR | --dbc FILE | DB [--password PW]) [--all] [--codepage N [--force-codepage]]",
         runTables},
        {"sql",
         "(--folder DIR | --dbc FILE | DB [--password PW]) [-e STMT]... [-f FILE] [--format csv|json] [--transaction]"
         " [--codepage N [--force-codepage]]",
         runSql},
        {"check", "DB [--password PW]", runCheck},
    };
    return list;
}

namespace {

// The help of each subcommand: what it does, its options, an example.
struct SubcommandHelp {
    const char* name;
    const char* text;
};

constexpr const char* kSourceOptions =
    "  --folder DIR         the FoxPro source: a folder of free tables (.dbf)\n"
    "  --dbc FILE           the FoxPro source: a database container (.dbc)\n"
    "  DB                   or an Access database (.mdb, .accdb), a folder or a .dbc\n"
    "  --password PW        the Access database's password (or TALLYPORT_PASSWORD)\n"
    "  --codepage N         read tables that name no code page in code page N\n"
    "  --force-codepage     with --codepage: read every table in N\n";

const SubcommandHelp kHelp[] = {
    {"convert",
     "Copies every table of the FoxPro source into the Access database, as the main window's\n"
     "Start Converting does: DROP TABLE (when you agree to replace a table), CREATE TABLE, one\n"
     "INSERT per row, then the tables' properties and indexes and the container's relations.\n"
     "\n"
     "Options:\n"
     "  --folder DIR         the source: a folder of free tables (.dbf)\n"
     "  --dbc FILE           the source: a database container (.dbc)\n"
     "  --target DB          the Access database to write (.mdb or .accdb)\n"
     "  --password PW        the target's password (or TALLYPORT_PASSWORD)\n"
     "  --overwrite ask|yes|no\n"
     "                       a table the target has already: ask on the terminal (default;\n"
     "                       No without one), replace it, or leave it\n"
     "  --create             create the target when it does not exist\n"
     "  --script FILE        write the statements to FILE instead of executing them\n"
     "  --codepage N         read tables that name no code page in code page N\n"
     "  --force-codepage     with --codepage: read every table in N\n"
     "  --keys yes|no        create the primary keys, indexes and relations, and carry the fields'\n"
     "                       defaults, captions, comments, validation rules, masks and formats\n"
     "                       (default yes)\n"
     "  --types access|text  each field in its own Access type (default), or every field that is\n"
     "                       not a number as text\n"
     "  --report FILE        write a JSON summary of the run to FILE: the tables with their\n"
     "                       rows, the failed statements with their errors, the indexes and\n"
     "                       relations created and those left out with why\n"
     "  --quiet              no progress line (shown on stderr only when it is a terminal)\n"
     "\n"
     "Messages go to stderr, one line each; the last line on stdout counts the tables, rows and\n"
     "failed statements. Exit status: 0 success, 1 when anything failed, 2 bad usage.\n"
     "\n"
     "Example:\n"
     "  tallyport convert --dbc data/northwind.dbc --target northwind.accdb --create --report run.json\n"},
    {"new",
     "Creates a new, empty Access database: an .mdb (Access 2000-2003, Jet 4) or an .accdb\n"
     "(Access 2010). An existing file is never overwritten.\n"
     "\n"
     "Options:\n"
     "  DB                   the file to create (.mdb or .accdb)\n"
     "  --password PW        a database password (an .accdb is encrypted with it)\n"
     "  --format 97          an Access 97 .mdb (Jet 3)\n"
     "\n"
     "Example:\n"
     "  tallyport new orders.accdb --password secret\n"},
    {
        "tables",
        "Lists the tables of a FoxPro source or of an Access database, one name a line, in the\n"
        "source's own order.\n"
        "\n"
        "Options:\n"
        "  --all                every kind (tables, views, system tables) as TYPE<TAB>NAME\n",
    },
    {
        "sql",
        "Runs SQL statements on a FoxPro source or an Access database, each on its own; statements\n"
        "that return rows print them. A failing statement is told on stderr with its place and the\n"
        "next one runs; the exit status is 1 when any failed.\n"
        "\n"
        "Options:\n"
        "  -e STATEMENT         a statement to run (may be given more than once)\n"
        "  -f FILE              the statements of FILE, one per line\n"
        "  --format csv|json    how rows are printed (default csv)\n"
        "  --transaction        all or none: the first failure undoes every statement\n",
    },
    {"check",
     "Checks the integrity of an Access database without changing it: prints \"ok\", or one line\n"
     "per problem (object, page, what is wrong). \"note:\" lines name what could not be verified,\n"
     "\"warning:\" lines what Access itself leaves and tolerates. Exit status 1 on a problem.\n"
     "\n"
     "Options:\n"
     "  DB                   the Access database (.mdb or .accdb)\n"
     "  --password PW        its password (or TALLYPORT_PASSWORD)\n"
     "\n"
     "Example:\n"
     "  tallyport check northwind.accdb\n"},
};

bool wantsHelp(const Args& args) {
    return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; });
}

}  // namespace

bool printSubcommandHelp(const std::string& name) {
    for (const auto& s : subcommands()) {
        if (name != s.name) continue;
        std::cout << "Usage: tallyport " << s.name << " " << s.synopsis << "\n\n";
        for (const SubcommandHelp& h : kHelp) {
            if (name != h.name) continue;
            std::cout << h.text;
            if (name == "tables" || name == "sql") {
                std::cout << kSourceOptions << "\nExample:\n";
                std::cout << (name == "tables" ? "  tallyport tables --dbc data/northwind.dbc\n"
                                               : "  tallyport sql northwind.accdb -e \"SELECT COUNT(*) FROM "
                                                 "Orders\" --format json\n");
            }
        }
        return true;
    }
    return false;
}

void printUsage(bool toStderr) {
    std::ostream& os = toStderr ? std::cerr : std::cout;
    os << "Usage: tallyport                 open the main window\n"
          "       tallyport --help          show this text\n"
          "       tallyport --version       show the version\n";
    for (const auto& s : subcommands()) os << "       tallyport " << s.name << " " << s.synopsis << "\n";
    os << "'tallyport SUBCOMMAND --help' tells what a subcommand does, its options and an example.\n";
}

int usageError(const std::string& message) {
    if (!message.empty()) std::cerr << "tallyport: " << message << "\n";
    printUsage(true);
    return 2;
}

int databaseArgs(const Args& args, const std::string& command, std::string& path, std::string& password) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--password") {
            if (i + 1 >= args.size()) return usageError("--password needs a value");
            password = args[++i];
        } else if (!a.empty() && a[0] == '-') {
            return usageError(command + ": unknown option '" + a + "'");
        } else if (path.empty()) {
            path = a;
        } else {
            return usageError(command + ": more than one database given");
        }
    }
    return 0;
}

int takeCodePageArg(const Args& args, size_t& i, db::CodePageChoice& choice, bool& force) {
    if (args[i] == "--force-codepage") {
        force = true;
        return 1;
    }
    if (args[i] != "--codepage") return 0;
    const std::string v = i + 1 < args.size() ? args[++i] : std::string();
    int n = 0;
    try {
        size_t used = 0;
        n = std::stoi(v, &used);
        if (used != v.size()) n = 0;
    } catch (const std::exception&) {
        n = 0;
    }
    if (!db::foxpro::isKnownCodePage(n)) {
        std::string known;
        for (const auto& c : db::foxpro::knownCodePages())
            known += (known.empty() ? "" : ", ") + std::to_string(c.number);
        usageError("--codepage needs a code page FoxPro knows (" + known + "), not '" + v + "'");
        return -1;
    }
    choice.codePage = n;
    return 1;
}

int takeFieldTypes(const Args& args, size_t& i, convert::FieldTypes& types, const std::string& command) {
    const std::string v = i + 1 < args.size() ? args[++i] : std::string();
    if (v == "access") types = convert::FieldTypes::Access;
    else if (v == "text") types = convert::FieldTypes::Text;
    else return usageError(command + ": --types takes access or text");
    return 0;
}

int checkCodePageArgs(db::CodePageChoice& choice, bool force, const std::string& command) {
    if (force && choice.codePage == 0) return usageError(command + ": --force-codepage needs --codepage N");
    choice.force = force;
    return 0;
}

void printCodePageNotes(const std::vector<std::string>& notes, const std::string& where) {
    for (const std::string& n : notes) std::cerr << "tallyport: " << where << n << "\n";
    if (!notes.empty())
        std::cerr << "tallyport: --codepage N reads tables that name no code page in N; with --force-codepage, every "
                     "table\n";
}

int run(const Args& args) {
    if (args.empty()) return usageError("");
    const std::string& first = args[0];
    if (first == "--help" || first == "-h") {
        printUsage(false);
        return 0;
    }
    if (first == "--version") {
        // The version, and the commit of the build where it is known.
        std::cout << "tallyport " << TP_VERSION;
        if (*kBuildCommit)
            std::cout << " (commit " << kBuildCommit << (kBuildModified ? " with local changes" : "") << ")";
        std::cout << "\n";
        return 0;
    }
    for (const auto& s : subcommands())
        if (first == s.name) {
            if (wantsHelp(args)) return printSubcommandHelp(first) ? 0 : 2;
            db::registerBuiltinProviders();
            Args rest(args.begin() + 1, args.end());
            // A password can come from the environment instead of the command
            // line, where every user of the machine could read it.
            const char* env = std::getenv("TALLYPORT_PASSWORD");
            if (env && std::find(rest.begin(), rest.end(), "--password") == rest.end()) {
                rest.push_back("--password");
                rest.push_back(env);
            }
            return s.run(rest);
        }
    return usageError("unknown command '" + first + "'");
}

}  // namespace tp::cli
