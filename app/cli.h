// The command line: `tallyport SUBCOMMAND ...`. Each subcommand runs through
// the same code as the windows and returns the process exit status:
// 0 success, 1 when any statement failed, 2 on bad usage.
#pragma once

#include <string>
#include <vector>

namespace tp::cli {

using Args = std::vector<std::string>;

struct Subcommand {
    const char* name;
    const char* synopsis;  // one usage line per subcommand, after the name
    int (*run)(const Args& args);
};

const std::vector<Subcommand>& subcommands();

// Prints the usage text (to stdout or stderr).
void printUsage(bool toStderr);
// Bad usage: the message and the usage on stderr; returns 2.
int usageError(const std::string& message);

// The arguments `DB [--password PW]` of a subcommand: 0 when they are
// well formed, else the exit status of the usage error (2).
int databaseArgs(const Args& args, const std::string& command, std::string& path, std::string& password);

// Runs argv[1..]; returns the exit status.
int run(const Args& args);

// Subcommands (each in its own file).
int runTables(const Args& args);
int runSql(const Args& args);
int runNew(const Args& args);
int runConvert(const Args& args);
int runCheck(const Args& args);

}  // namespace tp::cli
