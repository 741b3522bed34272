// The FoxPro source module: tests the selected FoxPro source and lists its
// tables.
// The source (a .dbc file or a free-table folder) is read from tp::selection()
// at each call.
#pragma once

#include <string>

#include "host/list_box.h"

namespace tp::convert::source {

// "Provider=vfpoledb.1;Data Source=" + path + ";Collating Sequence=machine;"
// for a container, "...;Collating Sequence=general;" for a folder.
std::string connectionString();

// True when a connection to the selected source opens; shows no box when it
// does not.
bool canConnect();
// Why the source cannot be converted, in the reader's own words (it cannot
// be opened, it holds no tables, a table cannot be read); empty when it can.
std::string problem();

// Clears list and fills it with the names of the source's tables (views and
// other kinds left out), in the provider's order.
void listTables(ListBox& list);

}  // namespace tp::convert::source
