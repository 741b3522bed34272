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
         " [--codepage N [--force-codepage]] [--keys yes|no] [--types access|text]",
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

void printUsage(bool toStderr) {
    std::ostream& os = toStderr ? std::cerr : std::cout;
    os << "Usage: tallyport                 open the main window\n"
          "       tallyport --help          show this text\n"
          "       tallyport --version       show the version\n";
    for (const auto& s : subcommands()) os << "       tallyport " << s.name << " " << s.synopsis << "\n";
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
