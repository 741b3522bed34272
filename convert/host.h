// What the conversion run needs from the windows around it. The main window,
// the command line and the tests each provide a RunHost; the run itself never
// sees a widget.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/ado.h"
#include "host/list_box.h"

namespace tp::convert {

// The preview window's statement list: one statement per line.
class StatementList {
public:
    virtual ~StatementList() = default;
    virtual void clear() = 0;
    virtual void append(const std::string& statement) = 0;
    virtual int count() const = 0;
    virtual std::string line(int index) const = 0;  // 0-based
};

// One row of the datatype conversion list.
struct DatatypeRow {
    std::string table, field, keyword, accessType;
    std::string note;  // what the column does not keep of the field, or why it is another kind
};

// The datatype conversion window's list.
class DatatypeList {
public:
    virtual ~DatatypeList() = default;
    virtual void clear() = 0;
    virtual void addRow(const std::string& table) = 0;        // item text only
    virtual void setLastField(const std::string& field) = 0;  // first sub-item
    virtual void setLastTypes(const std::string& keyword, const std::string& accessType) = 0;
    virtual void setLastNote(const std::string& note) = 0;
    virtual int count() const = 0;
    virtual DatatypeRow row(int index) const = 0;
};

// What a preview window's closing told the run: the run sets them before
// it shows the window, the window changes them, the run reads them after.
struct PreviewFlags {
    bool sqlExecuted = false;
    bool endRunAfterPreview = false;
    // Set by the preview window when Back, Skip or the close box stopped a
    // running Execute SQL and what it had written was taken back.
    bool executionUndone = false;
};

// The fields of the main window a user fixes when the run cannot open the
// source or the target.
enum class InputField { SourceFolder, SourceDbc, TargetFile, TargetPassword };

class RunHost {
public:
    virtual ~RunHost() = default;

    // The preview choices, read when the run reaches them.
    virtual bool previewMode() const = 0;       // statements go to the preview
    virtual bool previewOnceAtEnd() const = 0;  // one preview after all tables
    virtual bool previewPerTable() const = 0;   // one preview per table
    // "Create keys, indexes and relations": read when a run starts.
    virtual bool createKeys() const { return true; }

    // The run's table lists, each time the run changes them: the target's
    // tables and the source's (the main window shows them in its hidden
    // lists). The run keeps its own lists; it never reads them back.
    virtual void showTables(const std::vector<std::string>& target, const std::vector<std::string>& source) {
        (void)target, (void)source;
    }

    virtual void setProgressValue(double percent) = 0;
    virtual void setProgressText(const std::string& text) = 0;
    virtual void setBusyPointer(bool busy) = 0;
    // Called once per row written: the table, the rows done so far and the
    // table's expected row count (-1 when unknown). The command line shows
    // it; the windows follow setProgressValue instead.
    virtual void rowsProgress(const std::string& table, int64_t rowsDone, int64_t rowsTotal) {
        (void)table, (void)rowsDone, (void)rowsTotal;
    }

    // Asked whenever the run yields: true once the user asked it to stop.
    // The table in work is then put back as it was before the run.
    virtual bool stopRequested() { return false; }

    // Called when the run takes up a table: its name, its number in the run
    // (1 for the first) and the number of tables of the source.
    virtual void tableProgress(const std::string& table, int number, int count) {
        (void)table, (void)number, (void)count;
    }

    // The preview window's statement list and the datatype list (loaded on
    // first touch, hidden).
    virtual StatementList& previewList() = 0;
    virtual DatatypeList& datatypeList() = 0;
    // Shows the preview window modally, owned by the main window; returns
    // when it closes, having told in outcome how. The window executes on
    // accessConnection().
    virtual void showPreview(PreviewFlags& outcome) = 0;

    // The run stopped because of the user's input: its one message has been
    // shown; the focus goes to the field to fix.
    virtual void focusField(InputField field) { (void)field; }
    // The table a per-table preview is about to show; empty for the preview
    // of the whole run.
    virtual void previewTable(const std::string& name) { (void)name; }

    // The main window's access_conn: replaced by every run.
    virtual std::unique_ptr<db::Connection>& accessConnection() = 0;
};

// In-memory lists for the command line and tests.
class VectorStatementList : public StatementList {
public:
    void clear() override { lines.clear(); }
    void append(const std::string& s) override { lines.push_back(s); }
    int count() const override { return static_cast<int>(lines.size()); }
    std::string line(int i) const override { return lines.at(static_cast<size_t>(i)); }
    std::vector<std::string> lines;
};

class VectorDatatypeList : public DatatypeList {
public:
    void clear() override { rows.clear(); }
    void addRow(const std::string& table) override { rows.push_back({table, {}, {}, {}, {}}); }
    void setLastField(const std::string& f) override { rows.back().field = f; }
    void setLastTypes(const std::string& k, const std::string& t) override {
        rows.back().keyword = k;
        rows.back().accessType = t;
    }
    void setLastNote(const std::string& n) override { rows.back().note = n; }
    int count() const override { return static_cast<int>(rows.size()); }
    DatatypeRow row(int i) const override { return rows.at(static_cast<size_t>(i)); }
    std::vector<DatatypeRow> rows;
};

}  // namespace tp::convert
