// The Access target module: the target's connection string, its tables, and
// the start-up check that connection objects can be created.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "convert/selection.h"
#include "host/list_box.h"

namespace tp::db {
class Connection;
}

namespace tp::convert::target {

// The target's connection string, for the ADO-like layer: ".accdb" endings
// (any case) take the ACE form.
std::string connectionString(const std::string& path, const std::string& password);
// The target's user tables, or nothing when no file exists at path. Open and
// schema failures propagate to the caller.
std::optional<std::vector<std::string>> tableNames(const std::string& path, const std::string& password = {});
// Clears list and fills it with the target's tables; "Unable to access the
// database" when the file does not exist.
void listTables(ListBox& list, const std::string& path, const std::string& password = {});
// Opens connection on the target.
void open(db::Connection& connection, const TargetChoice& target);
// Why a run could not write into the target, in plain words, or empty when
// it can: a folder that does not exist or cannot be written (the journal and
// the lock file go beside the database), a file that cannot be written. A
// file that does not exist yet is no problem when its folder can take it.
// (The run opens the file next, which tells a wrong password.)
std::string problem(const TargetChoice& target);
// problem(), and for a file that is there whether it opens (a wrong
// password: the text names the password); Test Connection asks this.
std::string openProblem(const TargetChoice& target);
// True when a connection object can be created; explains a missing provider.
bool providerInstalled();

}  // namespace tp::convert::target
