// Writes result sets of the command line: CSV (RFC 4180, header row, CRLF
// line ends) or JSON (one object per result, on one line:
// {"columns":[{"name":...,"type":N},...],"rows":[[...],...]}). Rows are
// written as they are read, so a large table is never held in memory; when
// reading fails halfway the object is closed with an "error" member
// ({"columns":...,"rows":[...],"error":"..."}) and the error is thrown on.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "app/cli.h"
#include "db/ado.h"

namespace tp::cli {

// The data source of `tables` and `sql`: --folder DIR, --dbc FILE, or a
// positional DB (an .mdb/.accdb file, a folder, or a .dbc) with an optional
// --password. Returns the connection string, or an empty text after a usage
// error was printed.
struct SourceArgs {
    std::string folder, dbc, db, password;
    bool havePassword = false;
    db::CodePageChoice codePage;  // --codepage N, --force-codepage
    bool forceCodePage = false;
};
// The ADO connection string of the source.
std::string sourceConnectionString(const SourceArgs& a);
// A human-readable name of the source for messages.
std::string sourceName(const SourceArgs& a);

// How takeSourceArg dealt with an argument.
enum class SourceArg { Taken, NotSource, UsageError };
// Takes args[i] when it is the source's: --folder, --dbc, --password or
// --codepage with its value (i then points at the value), --force-codepage,
// or the positional DB. A usage error
// (a missing value, a second DB) is printed; `command` names the subcommand.
SourceArg takeSourceArg(const Args& args, size_t& i, SourceArgs& src, const std::string& command);
// 0 when exactly one source was given (and --force-codepage has its
// --codepage), else the exit status of the usage error printed.
int checkOneSource(SourceArgs& src, const std::string& command);
// A connection to the source, open.
std::unique_ptr<db::Connection> openSourceConnection(const SourceArgs& src);

enum class OutputFormat { Csv, Json };

// Numbers exactly as stored (currency with four decimals, decimals as their
// digits), dates "YYYY-MM-DD", date-times "YYYY-MM-DDTHH:MM:SS[.fff]",
// Booleans true/false, binary as base64; null is an empty CSV field or JSON
// null.
void writeResult(std::ostream& out, db::Recordset& rs, OutputFormat format);

std::string csvField(const std::string& text);
void appendCsvField(std::string& out, std::string_view text);
std::string jsonString(const std::string& text);
std::string jsonValue(const db::Value& v);

}  // namespace tp::cli
