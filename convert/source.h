// The FoxPro source module: tests the chosen FoxPro source, lists its
// tables and opens it. The source (a .dbc file or a free-table folder) is
// given by the caller.
#pragma once

#include <string>

#include "convert/selection.h"
#include "host/list_box.h"

namespace tp::db {
class Connection;
}

namespace tp::convert::source {

// The one place the source's connection string is made, for the ADO-like
// layer: "Provider=vfpoledb.1;Data Source=" + path +
// ";Collating Sequence=machine;" for a container, "...;Collating
// Sequence=general;" for a folder.
std::string connectionString(const SourceChoice& source);
std::string connectionString(const std::string& path, bool dbc);

// Opens connection on the source, with its code page choice.
void open(db::Connection& connection, const SourceChoice& source);

// True when a connection to the source opens; shows no box when it does
// not.
bool canConnect(const SourceChoice& source);
// Why the source cannot be converted, in the reader's own words (it cannot
// be opened, it holds no tables, a table cannot be read); empty when it can.
std::string problem(const SourceChoice& source);

// Clears list and fills it with the names of the source's tables (views and
// other kinds left out), in the provider's order.
void listTables(ListBox& list, const SourceChoice& source);

}  // namespace tp::convert::source
