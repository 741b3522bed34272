// The Access target module: the target's connection string, its tables, and
// the start-up check that connection objects can be created.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/list_box.h"

namespace tp::convert::target {

// With an empty path, path and password come from the main window's target
// fields (tp::selection()). ".accdb" endings (any case) take the ACE form.
std::string connectionString(const std::string& path, const std::string& password);
// The target's user tables, or nothing when no file exists at path. Open and
// schema failures propagate to the caller.
std::optional<std::vector<std::string>> tableNames(const std::string& path);
// Clears list and fills it with the target's tables; "Unable to access the
// database" when the file does not exist.
void listTables(ListBox& list, const std::string& path);
// True when a connection object can be created; explains a missing provider.
bool providerInstalled();

}  // namespace tp::convert::target
