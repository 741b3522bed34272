// What the phases of one conversion run share: the run's own files only.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "convert/keys.h"
#include "convert/properties.h"
#include "convert/run.h"
#include "db/ado.h"
#include "db/error.h"
#include "host/error_report.h"
#include "host/utilities.h"

namespace tp::convert {

[[noreturn]] inline void objectNotSet() { throw db::Error(91, "Object variable or With block variable not set"); }

template <class T>
T& need(const std::unique_ptr<T>& p) {
    if (!p) objectNotSet();
    return *p;
}

// Where a failing step of the run is reported from.
inline constexpr const char* kReportWindow = "Form1";
inline constexpr const char* kReportProcedure = "PushButton7_Click";

// Keys, indexes and relations of one run (when the run creates them).
struct RunKeys {
    bool on = false;
    std::vector<keys::Tag> tags;                        // of every source table
    std::vector<keys::Relation> relations;              // of the source
    std::vector<keys::TargetRelation> targetRelations;  // of the target when the run began
    std::vector<keys::FieldDefault> defaults;           // of every source field that has one
    std::vector<keys::SourceProperties> properties;     // of every source field and table that has one
    std::vector<bool> dropped;                          // per target relation: its DROP was put
    // Positions in tags, defaults and properties by table ("table" lowercased).
    std::unordered_map<std::string, std::vector<size_t>> tagsOf, defaultsOf, propertiesOf;
    // The table in work: its fields, and the defaults its columns get as a
    // DefaultValue property (an expression), with the field's name.
    std::vector<db::FieldInfo> fields;
    std::vector<std::pair<std::string, keys::PropertySetting>> defaultSettings;
    // The tags of the table in work, translated, and the values that can
    // still undo a translation (a leading blank under LTRIM or ALLTRIM).
    struct Pending {
        const keys::Tag* tag;
        keys::Translation translation;
    };
    struct BlankCheck {
        size_t field, pending;
        std::string column, function;
    };
    std::vector<Pending> pending;
    std::vector<BlankCheck> blankChecks;
    // The converted tables ("table" lowercased) and their tags' columns
    // ("table\ntag" lowercased; none when the tag was left out).
    std::set<std::string> convertedTables;
    std::map<std::string, std::vector<keys::KeyColumn>> tagColumns;
    bool stoppedEarly = false;  // "< Back": the relations are not reached
};

// A statement the target refused: Access's number and its words.
struct Refusal {
    long number = 0;
    std::string description;
    bool any() const { return number != 0 || !description.empty(); }
};

// What the phases of one run share.
struct ConversionRun::State {
    Procedure p{kReportWindow, kReportProcedure};
    RegionalSettings settings;
    PreviewFlags flags;  // of the last preview
    std::unique_ptr<db::Connection> source;
    std::unique_ptr<db::Recordset> records;
    bool connectionsOpen = false;
    int overwriteAll = 0;                // the answer "to all" of the overwrite question, 0 before one
    bool tableExecuted = false;          // a statement of the table in work ran on the target
    bool tableToPreview = false;         // a statement of the table in work went to the preview list
    int tablesInPreview = 0;             // tables in the preview list, not executed yet
    size_t fieldNotesSettled = 0;        // the field notes of tables no preview can take back
    bool tableSkippedInPreview = false;  // the last per-table preview closed with Skip Table
    RunKeys keys;
    int engineType = 0;      // the target's (Connection::EngineType), read once the target is open
    std::string table;       // the table in work, for the report of a failed statement
    bool ended = false;      // a failure that recurs for every statement: no more statements
    bool cancelled = false;  // the user stopped the run: no more statements
    bool halted() const { return ended || cancelled; }
    // The run's table lists: the target's tables (an entry goes when its
    // table is dropped) and the source's, in the provider's order.
    VectorListBox targetTables, sourceTables;
    // The target's table names lowercased, with the number of entries of
    // targetTables that have each, so that each table's question is one
    // look-up (indexTargetTables after the list is filled).
    std::unordered_map<std::string, int> targetNames;
    void indexTargetTables() {
        targetNames.clear();
        for (const std::string& t : targetTables.items) ++targetNames[asciiLower(t)];
    }
    bool targetHas(const std::string& name) const {
        const auto it = targetNames.find(asciiLower(name));
        return it != targetNames.end() && it->second > 0;
    }
    // The entries that are the name lowercased leave the list.
    void forgetTargetTable(const std::string& name) {
        const std::string lower = asciiLower(name);
        const size_t before = targetTables.items.size();
        removeListEntry(targetTables, lower);
        if (const auto it = targetNames.find(lower); it != targetNames.end())
            it->second -= static_cast<int>(before - targetTables.items.size());
    }
    void showTables(RunHost& host) const { host.showTables(targetTables.items, sourceTables.items); }

    // The statement sink: the preview list in preview mode, else executed on
    // the target at once. The preview choice is read anew for every
    // statement; the three steps are numbered by the caller.
    // A statement prepared ahead for the target runs as prepared. With
    // `refused`, a rejection is the caller's to tell (a key the data or
    // Access refuses): its number and description go there, and it is no
    // failure. True when the statement went where it was meant to.
    bool put(ConversionRun& run, int modeStep, int previewStep, int executeStep, const std::string& statement,
             db::PreparedStatement* prepared = nullptr, Refusal* refused = nullptr) {
        ++run.summary_.statements;
        RunHost& host = run.host_;
        if (p.test(modeStep, [&] { return host.previewMode(); })) {
            const bool listed = p(previewStep, [&] { host.previewList().append(statement); });
            tableToPreview = true;
            return listed;
        }
        if (halted()) return false;
        try {
            need(host.accessConnection()).Execute(statement, prepared);
            tableExecuted = true;
            return true;
        } catch (const db::Error& e) {
            if (refused) *refused = {e.number(), e.description()};
            else run.statementFailed(*this, executeStep, statement, e.number(), e.description());
        } catch (...) {
            if (refused) *refused = {0, currentErrorDescription()};
            else run.statementFailed(*this, executeStep, statement, 0, currentErrorDescription());
        }
        return false;
    }
};

}  // namespace tp::convert
