// The FoxPro source module: tests the selected source and lists its tables.
#pragma once

#include <string>

#include "ui/listbox.h"

namespace tp::foxpro {

// The source connection string of the current selection (tp::selection()).
std::string SourceConnectionString();
// True when the selected source opens; never shows a message for a failed open.
bool IsValidFoxProConnection();
// Clears list and fills it with the source's tables (type "TABLE" only).
void AddTablesToFoxproListbox(ListBox& list);

}  // namespace tp::foxpro
