// The user's choice of source and target, as plain values: the main window
// reads them from its fields when a run or a connection test starts, the
// command line from its arguments. The conversion run and the source and
// target modules take them as arguments; nothing reads them from a window.
#pragma once

#include <string>

#include "convert/access_types.h"
#include "db/cursor.h"

namespace tp {

// The FoxPro source: a database container (.dbc) or a folder of free tables,
// and the code page of tables that name none (0: found from their text), or
// of every table when forced.
struct SourceChoice {
    bool dbc = false;
    std::string path;  // the .dbc file or the folder
    db::CodePageChoice codePage;
};

// The Access target: the .mdb/.accdb file and its password.
struct TargetChoice {
    std::string path;
    std::string password;
};

struct RunSelection {
    SourceChoice source;
    TargetChoice target;
    // Each field in its own Access type, or non-numeric fields as text.
    convert::FieldTypes fieldTypes = convert::FieldTypes::Access;
};

}  // namespace tp
