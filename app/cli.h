// The command line: `tallyport SUBCOMMAND ...`. Each subcommand runs through
// the same code as the windows and returns the process exit status:
// 0 success, 1 when any statement failed, 2 on bad usage.
#pragma once

#include <string>
#include <vector>

#include "convert/access_types.h"
#include "db/ado.h"

namespace tp::cli {

using Args = std::vector<std::string>;

struct Subcommand {
    const char* name;
    const char* synopsis;  // one usage line per subcommand, after the name
    int (*run)(const Args& args);
};

// `tallyport SUBCOMMAND --help`: what the subcommand does, every option and
// an example, on stdout. False when there is no such subcommand.
bool printSubcommandHelp(const std::string& name);

const std::vector<Subcommand>& subcommands();

// Prints the usage text (to stdout or stderr).
void printUsage(bool toStderr);
// Bad usage: the message and the usage on stderr; returns 2.
int usageError(const std::string& message);

// The arguments `DB [--password PW]` of a subcommand: 0 when they are
// well formed, else the exit status of the usage error (2).
int databaseArgs(const Args& args, const std::string& command, std::string& path, std::string& password);

// Takes --codepage N or --force-codepage at args[i] (i then points at the
// value): 1 when taken, 0 when args[i] is neither, -1 after a usage error
// was printed (N not a code page FoxPro knows).
int takeCodePageArg(const Args& args, size_t& i, db::CodePageChoice& choice, bool& force);
// --types access|text at args[i] (i then points at the value): 0, or the
// exit status of the usage error printed.
int takeFieldTypes(const Args& args, size_t& i, convert::FieldTypes& types, const std::string& command);
// After all arguments: 0, or the exit status of the usage error printed
// (--force-codepage without --codepage).
int checkCodePageArgs(db::CodePageChoice& choice, bool force, const std::string& command);
// The code page notices of a run or a statement on stderr, with how to
// choose another code page.
void printCodePageNotes(const std::vector<std::string>& notes, const std::string& where);

// Runs argv[1..]; returns the exit status.
int run(const Args& args);

// Subcommands (each in its own file).
int runTables(const Args& args);
int runSql(const Args& args);
int runNew(const Args& args);
int runConvert(const Args& args);
int runCheck(const Args& args);

}  // namespace tp::cli
