// The conversion run: what Start Converting does. It lists the source's and
// the target's tables, and for every source table,
// last listed first, produces a DROP TABLE (when the user agrees to replace
// an existing table), a CREATE TABLE and one INSERT per row. Statements run
// at once on the target (plain mode) or go to the preview list.
//
// The same run serves the main window, the command line and the tests: it
// talks to the windows through a RunHost only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "convert/host.h"
#include "convert/regional.h"
#include "convert/selection.h"

namespace tp::db {
class Connection;
class Recordset;
class Value;
struct FieldInfo;
}  // namespace tp::db

namespace tp::convert {
struct PlannedRelation;
namespace keys {
struct Relation;
}
class RowStatementBuilder;
struct TableDefinition;

// A statement the target rejected: the table it was for, its kind (its
// first two words: "CREATE INDEX", "INSERT INTO") and the first line of the
// target's error.
struct FailedStatement {
    std::string table, kind, error;
};

// What became of one source table the run reached.
struct TableResult {
    std::string name;
    int64_t rows = 0;          // its row statements
    int failedStatements = 0;  // of its statements, those the target rejected
    std::string outcome;       // "converted", "skipped", "not converted", "in the preview"
};

// Counts of one run, for the command line's summary line and the end box.
struct RunSummary {
    int tables = 0;            // tables whose statements were produced
    int64_t rows = 0;          // row statements produced
    int statements = 0;        // statements put into the sink (all kinds)
    int failedStatements = 0;  // executed statements the target rejected
    int64_t lostValues = 0;    // source values that could not be read (written as NULL)
    int failures = 0;          // every failed step, shown or counted
    bool ran = false;          // false when the source was invalid
    // The code page each table's text was read in, where the table did not
    // name it or named one its text is not valid in: one line a table.
    std::vector<std::string> codePages;
    // The tags and relations left out of the target, with why: one line
    // each ("table, tag NAME: reason", "relation NAME (...): reason").
    std::vector<std::string> keysLeftOut;
    int defaultsLeftOut = 0;    // of those lines, field defaults ("table, field NAME: ...")
    int propertiesLeftOut = 0;  // of those lines, captions, comments, rules and the like
    int propertiesCarried = 0;  // the properties set on the target's tables and columns
    // The relations made relationships without enforced integrity, with
    // why: one line each ("relation NAME (...): reason").
    std::vector<std::string> relationsUnenforced;
    // The fields left out of the target, kept in another kind of column, or
    // some of whose values Access cannot hold, with why: one line each
    // ("table, field NAME: reason"); a table none of whose fields could be
    // kept ("table: reason").
    std::vector<std::string> fieldNotes;
    // What became of the tables, as the end of the run tells it.
    int tablesConverted = 0;     // their statements went to the target
    int tablesSkipped = 0;       // No at the overwrite question, or Skip Table
    int tablesUndone = 0;        // Execute SQL stopped by Back or Skip and taken back
    int tablesNotConverted = 0;  // built but not executed, or not reached
    std::string notConvertedWhy;
    bool stopped = false;  // the source or target could not be used: one message, no end box
    // The statements the target rejected, the first kFailedKept of them.
    static constexpr size_t kFailedKept = 1000;
    std::vector<FailedStatement> failed;
    std::vector<TableResult> tableResults;  // in the order the run took them
    // The indexes and relations created ("table, index NAME", "relation NAME").
    std::vector<std::string> keysCreated;
    // A failure that would recur for every statement (a target that cannot
    // be written, a full disk) ended the run: its first line.
    std::string endedBy;
    // The user stopped the run in this table (empty: between tables, or not
    // stopped); what the run had written of it was taken back.
    bool cancelled = false;
    std::string cancelledTable;
};

// The end box's text: "Done." and what became of the tables (and how many
// keys, indexes and relations were left out).
std::string doneText(const RunSummary& s);

// The module procedures the run calls: convert::source and convert::target of the
// program (standardModules()), or stand-ins in tests. They take the run's
// selection as values; the connections are opened by them, so that the run
// itself never makes or reads a connection string.
struct RunModules {
    std::function<bool(const SourceChoice&)> canConnectToSource;
    // Why the source cannot be converted (the reader's own message), empty
    // when it can. When set, it is asked instead of canConnectToSource and a
    // problem stops the run with one message.
    std::function<std::string(const SourceChoice&)> sourceProblem;
    std::function<void(ListBox&, const SourceChoice&)> listSourceTables;
    std::function<void(db::Connection&, const SourceChoice&)> openSource;
    std::function<void(ListBox&, const TargetChoice&)> listTargetTables;
    std::function<void(db::Connection&, const TargetChoice&)> openTarget;
    std::function<void(const std::string&, const std::string&)> createTargetDatabase;
    // Why the run could not write into the target, empty when it can. When
    // set, a problem stops the run with one message before anything is
    // written.
    std::function<std::string(const TargetChoice&)> targetProblem;
};
RunModules standardModules();

class ConversionRun {
public:
    // With the program's modules.
    explicit ConversionRun(RunHost& host);
    ConversionRun(RunHost& host, RunModules modules);
    ~ConversionRun();
    ConversionRun(const ConversionRun&) = delete;
    ConversionRun& operator=(const ConversionRun&) = delete;

    // Start Converting with the source and target chosen. Returns what
    // became of the run (the counts and the tables' outcome); returns at
    // once, without any message, when a run is already in progress (a click
    // during one of the run's yields).
    const RunSummary& start(const RunSelection& selection);
    bool isConverting() const { return converting_; }

    // The regional settings of the value texts (default: the process-wide
    // settings of convert/regional.h, read when a run starts).
    void setRegionalSettings(const RegionalSettings& settings);

    // Tables of at least this many rows are read, and their statements
    // written, on a second thread ahead of the target; the reports, yields
    // and progress are those of the plain loop. Negative: never.
    void setRowPrefetchFrom(int64_t rows) { prefetchFrom_ = rows; }

    // Counts of the last (or current) run.
    const RunSummary& summary() const { return summary_; }

private:
    // The run's phases, in order. Each failing step is shown (or counted)
    // through the run's procedure and the run goes on with the next step.
    struct State;
    bool openConnections(State& s);  // false: the run ends here
    bool checkSource(State& s);
    bool prepareTarget(State& s);  // creates a missing target, lists its tables
    bool openSource(State& s);
    bool openTarget(State& s);
    void stopForInput(State& s, const std::string& text, InputField field);
    void stopForTarget(State& s, const std::string& cause);
    // A statement the target rejected: counted, kept for the summary and
    // reported; a failure that recurs for every statement ends the run.
    void statementFailed(State& s, int step, const std::string& statement, long number, const std::string& description);
    InputField sourceField() const;
    void convertTables(State& s);
    bool convertTable(State& s, const std::string& name, int remaining);  // false: stop the run
    // A yield: true when the user asked the run to stop.
    bool yieldAndCheckStop(State& s);
    // The table's statements as one unit of the target (none in preview
    // mode): on a stop it is taken back.
    bool beginTableUnit(State& s);
    void endTableUnit(State& s, bool open, const std::string& name);
    int askOverwrite(State& s, const std::string& name, int remaining);
    void writeRows(State& s, const std::string& name, const std::vector<db::FieldInfo>& fields,
                   std::vector<bool> numeric, const std::vector<AccessColumn>& columns);
    // The definition of the table, in the run's field types; notes what it
    // leaves out or changes.
    TableDefinition defineTable(State& s, const std::string& name, const std::vector<db::FieldInfo>& fields,
                                const std::vector<AccessColumn>& columns);
    void noteField(const std::string& table, const std::string& field, const std::string& note);
    // The rows read ahead; true when the plain loop goes on from the
    // recordset's row.
    bool writePrefetchedRows(State& s, const std::string& name, RowStatementBuilder& rows, int64_t total, int64_t& r);
    void showRowProgress(State& s, const std::string& name, int64_t r, int64_t total);
    void reportReadNotices(State& s);
    // Keys, indexes and relations (convert/run_keys.cpp).
    void readKeys(State& s);
    void dropRelationsOf(State& s, const std::string& table);  // before its DROP TABLE
    void translateTags(State& s, const std::string& table, const std::vector<db::FieldInfo>& fields);
    void checkLeadingBlanks(State& s, const std::vector<db::Value>& row);
    void putTableKeys(State& s, const std::string& table);  // after its rows
    void putTableProperties(State& s, const std::string& table);
    void noteProperties(State& s, const std::string& table, const std::string& column,
                        const std::vector<std::string>& notes);
    void putRelation(State& s, const PlannedRelation& r);
    void noteRelation(State& s, const keys::Relation& r, const std::string& why, bool unenforced);
    void noteLeftOut(State& s, const std::string& table, const std::string& tag, const std::string& reason);
    // Per field of the table: the literal of its DEFAULT, empty for none.
    std::vector<std::string> tableDefaults(State& s, const std::string& table, const std::vector<db::FieldInfo>& fields,
                                           const std::vector<AccessColumn>& columns);
    void putRelations(State& s);                           // after all tables
    bool previewTable(State& s, const std::string& name);  // false: "< Back" or the close box
    void settlePreview(State& s, const std::string& why);
    void finish(State& s);

    RunHost& host_;
    RunModules modules_;
    RunSelection selection_;  // of the run in progress
    bool converting_ = false;
    bool haveRegional_ = false;
    RegionalSettings regional_;
    RunSummary summary_;
    int64_t prefetchFrom_ = 2048;
};

// Creates an empty target database of the kind the path's extension names
// (".accdb": the ACE format, otherwise Jet 4) with the given password.
// Throws db::Error on failure.
void createTargetDatabase(const std::string& path, const std::string& password);

}  // namespace tp::convert
