// The Foxpro module: tests the selected FoxPro source and lists its tables.
// The source (a .dbc file or a free-table folder) is read from tp::selection()
// at each call.
#pragma once

#include <string>

#include "host/list_box.h"

namespace tp::Foxpro {

// "Provider=vfpoledb.1;Data Source=" + path + ";Collating Sequence=machine;"
// for a container, "...;Collating Sequence=general;" for a folder.
std::string SourceConnectionString();

// True when a connection to the selected source opens; shows no box when it
// does not.
bool IsValidFoxProConnection();

// Clears list and fills it with the names of the source's tables (views and
// other kinds left out), in the provider's order.
void AddTablesToFoxproListbox(ListBox& list);

}  // namespace tp::Foxpro

namespace tp {
namespace foxpro = Foxpro;   // the lower-case spelling of the module's name
}
