// The "vfpoledb.1" provider of the ADO-like layer: a free-table folder or a
// database container as Data Source, read through the FoxPro reader's
// DbfTable.
#pragma once

#include <memory>

#include "db/ado.h"
#include "db/foxpro/dbf.h"

namespace tp::db::foxpro {

inline constexpr const char* kProviderName = "vfpoledb.1";

std::unique_ptr<ProviderConnection> openFoxproProvider(const ConnectionString& cs, const ConnectionOptions& options);

// A cursor over one table file (long names replace header names when given);
// its code page notice names the table `name` (default: the file).
std::unique_ptr<Cursor> openTableCursor(const std::string& file, const std::vector<std::string>& longNames = {},
                                        const ReadOptions& options = {}, const std::string& name = {});

}  // namespace tp::db::foxpro
