// The main window's source and target selection, read by the data layer and
// the conversion run at the moment they need it. The main window implements
// it; the command line and the tests use PlainSelection.
#pragma once

#include <string>

#include "db/ado.h"

namespace tp {

class Selection {
public:
    virtual ~Selection() = default;
    virtual bool sourceIsDbc() const = 0;          // true: the source is a .dbc
    virtual std::string dbcFile() const = 0;       // the .dbc file
    virtual std::string sourceFolder() const = 0;  // the free-table folder field
    virtual std::string targetPath() const = 0;    // the .mdb/.accdb field
    virtual std::string targetPassword() const = 0;
    // The code page of tables that name none (0: found from their text), or
    // of every table when forced.
    virtual db::CodePageChoice sourceCodePage() const { return {}; }
};

struct PlainSelection : Selection {
    bool dbc = false;
    std::string dbcPath, folder, target, password;
    db::CodePageChoice codePage;
    bool sourceIsDbc() const override { return dbc; }
    std::string dbcFile() const override { return dbcPath; }
    std::string sourceFolder() const override { return folder; }
    std::string targetPath() const override { return target; }
    std::string targetPassword() const override { return password; }
    db::CodePageChoice sourceCodePage() const override { return codePage; }
};

// The process-wide selection (a PlainSelection until the main window installs
// itself).
Selection& selection();
void setSelection(Selection* s);

}  // namespace tp
