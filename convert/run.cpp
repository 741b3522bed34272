#include "convert/run.h"

#include <filesystem>

#include "convert/row_prefetch.h"
#include "convert/run_state.h"
#include "convert/datatype.h"
#include "convert/run_steps.h"
#include "convert/statements.h"
#include "db/ado.h"
#include "db/error.h"
#include "host/error_report.h"
#include "host/events.h"
#include "host/message_box.h"
#include "host/utilities.h"

namespace tp::convert {

namespace {

std::string counted(int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool endsWithNoCase(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && asciiLower(s.substr(s.size() - tail.size())) == tail;
}

bool mentionsPassword(const std::string& text) { return asciiLower(text).find("password") != std::string::npos; }

const char* const kTargetField = "\"MDB or ACCDB File:\"";
const char* const kBinaryLeftOut =
    "binary field (picture, OLE object or blob) left out with text field types; with Access field types it is "
    "kept as an OLE Object";

std::string firstLine(const std::string& text) { return text.substr(0, text.find_first_of("\r\n")); }

// The kind of a statement: its first two words ("CREATE INDEX", "INSERT INTO").
std::string statementKind(const std::string& statement) {
    const size_t first = statement.find(' ');
    const size_t second = first == std::string::npos ? first : statement.find_first_of(" [(", first + 1);
    std::string kind = statement.substr(0, second);
    for (char& c : kind)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return kind;
}

// Failures that every later statement would meet again: a target that
// cannot be written (Access's 3027 and the engine's read-only text), a disk
// that is full or fails.
constexpr long kReadOnlyNumber = 3027;
constexpr long kDiskNumber = 3043;
bool recursForEveryStatement(long number, const std::string& description) {
    const std::string text = asciiLower(description);
    return number == kReadOnlyNumber || number == kDiskNumber || text.find("read-only") != std::string::npos ||
           text.find("no space left") != std::string::npos;
}

std::string sourceFixHint(bool dbc) {
    return dbc ? "Choose the database container (.dbc) with the \"dbc\" button."
               : "Choose the folder of the FoxPro tables in \"Folder containing DBF/s:\".";
}

// The failed statements, one line each, a run of the same failure as one
// line with its count; at most ten lines.
std::string failedLines(const RunSummary& s) {
    constexpr size_t kListed = 10;
    std::string text;
    size_t lines = 0, told = 0;
    for (size_t i = 0; i < s.failed.size() && lines < kListed; ++lines) {
        const FailedStatement& f = s.failed[i];
        size_t same = 1;
        while (i + same < s.failed.size() && s.failed[i + same].table == f.table && s.failed[i + same].kind == f.kind &&
               s.failed[i + same].error == f.error)
            ++same;
        text += "\r\n" + (f.table.empty() ? std::string() : "table " + f.table + ": ") + f.kind + ": " + f.error;
        if (same > 1) text += " (" + std::to_string(same) + " times)";
        i += same;
        told += same;
    }
    if (static_cast<size_t>(s.failedStatements) > told)
        text += "\r\n... and " + std::to_string(static_cast<size_t>(s.failedStatements) - told) + " more";
    return text;
}

}  // namespace

std::string doneText(const RunSummary& s) {
    std::string text = "Done.\r\n\r\n";
    if (s.tablesConverted > 0) text += counted(s.tablesConverted, "table", "tables") + " converted.";
    else text += "No table was converted.";
    if (s.tablesSkipped > 0) text += "\r\n" + counted(s.tablesSkipped, "table", "tables") + " skipped.";
    if (s.tablesUndone > 0)
        text += "\r\n" + counted(s.tablesUndone, "table", "tables") +
                " undone: what Execute SQL had written was taken back.";
    if (s.tablesNotConverted > 0) {
        text += "\r\n" + counted(s.tablesNotConverted, "table", "tables") + " not converted";
        text += s.notConvertedWhy.empty() ? "." : ": " + s.notConvertedWhy + ".";
    }
    if (s.cancelled)
        text += s.cancelledTable.empty()
                    ? "\r\n\r\nYou stopped the run."
                    : "\r\n\r\nYou stopped the run in the table " + s.cancelledTable +
                          ": what the run had written of it was taken back, so it is as it was before.";
    if (!s.endedBy.empty())
        text +=
            "\r\n\r\nThe run was stopped: every further statement would have failed the same way (" + s.endedBy + ").";
    if (s.failedStatements > 0)
        text += "\r\n" + counted(s.failedStatements, "statement", "statements") +
                " could not be executed:" + failedLines(s);
    const auto keysLeftOut = static_cast<int64_t>(s.keysLeftOut.size()) - s.defaultsLeftOut - s.propertiesLeftOut;
    if (keysLeftOut > 0)
        text +=
            "\r\n" + counted(keysLeftOut, "index or relation", "indexes or relations") + " left out; the list follows.";
    if (s.defaultsLeftOut > 0)
        text += "\r\n" + counted(s.defaultsLeftOut, "default value", "default values") + " left out; the list follows.";
    if (s.propertiesCarried > 0)
        text += "\r\n" +
                counted(s.propertiesCarried, "caption, comment, rule or other property",
                        "captions, comments, rules and other properties") +
                " carried.";
    if (s.propertiesLeftOut > 0)
        text += "\r\n" + counted(s.propertiesLeftOut, "property", "properties") + " left out; the list follows.";
    if (!s.relationsUnenforced.empty())
        text += "\r\n" + counted(static_cast<int64_t>(s.relationsUnenforced.size()), "relation", "relations") +
                " made without enforced integrity; the list follows.";
    if (!s.fieldNotes.empty())
        text += "\r\n" + counted(static_cast<int64_t>(s.fieldNotes.size()), "field", "fields") +
                " left out or kept in another kind; the list follows.";
    return text;
}

ConversionRun::ConversionRun(RunHost& host, RunModules modules) : host_(host), modules_(std::move(modules)) {}
ConversionRun::~ConversionRun() = default;

void ConversionRun::setRegionalSettings(const RegionalSettings& settings) {
    regional_ = settings;
    haveRegional_ = true;
}

const RunSummary& ConversionRun::start(const RunSelection& selection) {
    // A click while a run yields does nothing.
    if (converting_) return summary_;
    selection_ = selection;
    State s;
    s.p.setReportRepeatsOnce(true);
    converting_ = true;
    summary_ = RunSummary{};
    s.settings = haveRegional_ ? regional_ : regionalSettings();

    if (!openConnections(s)) {  // the source or target cannot be used: told once, or silently
        converting_ = false;
        return summary_;
    }
    convertTables(s);
    putRelations(s);
    finish(s);
    converting_ = false;
    return summary_;
}

bool ConversionRun::openConnections(State& s) {
    Procedure& p = s.p;
    p(step::CreateTargetConnection, [&] { host_.accessConnection() = db::CreateConnection("ADODB.Connection"); });
    p(step::CreateSourceConnection, [&] { s.source = db::CreateConnection("ADODB.Connection"); });
    p(step::CreateRecordset, [&] { s.records = db::CreateRecordset("ADODB.RecordSet"); });
    if (!checkSource(s)) return false;
    summary_.ran = true;

    p(step::ShowBusyPointer, [&] { host_.setBusyPointer(true); });
    p(step::ClearTargetTables, [&] {
        s.targetTables.clear();
        s.targetNames.clear();
    });
    p(step::ClearSourceTables, [&] { s.sourceTables.clear(); });
    s.showTables(host_);
    // The source's tables first: a source without any stops the run before
    // a target is created.
    p(step::ListSourceTables, [&] { modules_.listSourceTables(s.sourceTables, selection_.source); });
    s.showTables(host_);
    if (p.value(
            step::CountSourceTables, [&] { return s.sourceTables.count(); }, 0) == 0) {
        stopForInput(s, "The FoxPro source holds no tables: there is nothing to convert.", sourceField());
        return false;
    }
    if (!prepareTarget(s)) return false;
    if (!openSource(s) || !openTarget(s)) return false;
    s.connectionsOpen = true;
    return true;
}

InputField ConversionRun::sourceField() const {
    return selection_.source.dbc ? InputField::SourceDbc : InputField::SourceFolder;
}

// The source is tested before anything is cleared or opened. A source that
// cannot be converted is told once, with the reader's own words.
bool ConversionRun::checkSource(State& s) {
    Procedure& p = s.p;
    if (!modules_.sourceProblem) {
        // Without the reasons (stand-in modules): an invalid source ends the run silently.
        return !p.test(step::TestSource, [&] { return !modules_.canConnectToSource(selection_.source); });
    }
    const std::string problem = p.value(
        step::TestSource, [&] { return modules_.sourceProblem(selection_.source); }, std::string());
    if (problem.empty()) return true;
    stopForInput(
        s,
        "The FoxPro source cannot be converted.\r\n\r\n" + problem + "\r\n\r\n" + sourceFixHint(selection_.source.dbc),
        sourceField());
    return false;
}

// A missing target is created when the user agrees; a target that cannot be
// created or read stops the run with one message.
bool ConversionRun::prepareTarget(State& s) {
    const std::string target = selection_.target.path;
    if (target.empty()) {
        stopForInput(s, std::string("Choose the Access database to convert into in ") + kTargetField + ".",
                     InputField::TargetFile);
        return false;
    }
    const std::string problem = modules_.targetProblem ? modules_.targetProblem(selection_.target) : std::string();
    if (!problem.empty()) {
        stopForTarget(s, problem);
        return false;
    }
    if (!std::filesystem::exists(target)) {
        // (Both questions start with "The database ": the command line's
        // --create answers them.)
        if (!endsWithNoCase(target, ".mdb") && !endsWithNoCase(target, ".accdb") &&
            msgBox("The database name " + target + " ends in neither .mdb nor .accdb.\r\n\r\n" +
                       "Create an Access database under this name all the same?",
                   mb::YesNo) != mb::Yes) {
            stopForInput(s, {}, InputField::TargetFile);
            return false;
        }
        if (msgBox("The database " + target + " does not exist. Would you like to create it?", mb::YesNo) != mb::Yes) {
            stopForInput(s, {}, InputField::TargetFile);
            return false;
        }
        try {
            modules_.createTargetDatabase(target, selection_.target.password);
        } catch (...) {
            stopForInput(s,
                         "The Access database " + target + " could not be created.\r\n\r\n" +
                             currentErrorDescription() + "\r\n\r\nChoose another file or folder in " + kTargetField +
                             ".",
                         InputField::TargetFile);
            return false;
        }
    }
    try {
        modules_.listTargetTables(s.targetTables, selection_.target);
        s.indexTargetTables();
        s.showTables(host_);
    } catch (...) {
        s.showTables(host_);
        stopForTarget(s, currentErrorDescription());
        return false;
    }
    return true;
}

void ConversionRun::stopForTarget(State& s, const std::string& cause) {
    const std::string& target = selection_.target.path;
    const bool password = mentionsPassword(cause);
    stopForInput(s,
                 "The Access database " + target + " cannot be used.\r\n\r\n" + cause + "\r\n\r\n" +
                     (password ? "Check the password in \"Password (if required):\"."
                               : std::string("Check the file in ") + kTargetField + "."),
                 password ? InputField::TargetPassword : InputField::TargetFile);
}

bool ConversionRun::openSource(State& s) {
    Procedure& p = s.p;
    p(step::SourceCursorLocation, [&] { need(s.source).CursorLocation = db::adUseServer; });
    p(step::SourceCommandTimeout, [&] { need(s.source).CommandTimeout = 5000; });
    p(step::SourceConnectionTimeout, [&] { need(s.source).ConnectionTimeout = 5000; });
    try {
        modules_.openSource(need(s.source), selection_.source);
    } catch (...) {
        stopForInput(s,
                     "The FoxPro source cannot be opened.\r\n\r\n" + currentErrorDescription() + "\r\n\r\n" +
                         sourceFixHint(selection_.source.dbc),
                     sourceField());
        return false;
    }
    return true;
}

bool ConversionRun::openTarget(State& s) {
    Procedure& p = s.p;
    p(step::TargetCursorLocation, [&] { need(host_.accessConnection()).CursorLocation = db::adUseClient; });
    p(step::TargetMode, [&] { need(host_.accessConnection()).Mode = db::adModeReadWrite; });
    try {
        modules_.openTarget(need(host_.accessConnection()), selection_.target);
    } catch (...) {
        stopForTarget(s, currentErrorDescription());
        return false;
    }
    return true;
}

// The one message of a run that cannot go on (none when the user has just
// answered No), the focus on the field to fix, and the window as it was
// before the run: no end box.
void ConversionRun::stopForInput(State& s, const std::string& text, InputField field) {
    Procedure& p = s.p;
    summary_.stopped = true;
    ++summary_.failures;
    auto closeIfOpen = [](db::Connection* c) {
        try {
            if (c && c->isOpen()) c->Close();
        } catch (...) {}  // a connection that cannot close has nothing to lose
    };
    closeIfOpen(s.source.get());
    closeIfOpen(host_.accessConnection().get());
    p(step::HideBusyPointer, [&] { host_.setBusyPointer(false); });
    p(step::ResetProgressValue, [&] { host_.setProgressValue(0); });
    p(step::ResetProgressText, [&] { host_.setProgressText("Progress Bar"); });
    if (!text.empty()) msgBox(text);
    host_.focusField(field);
}

void ConversionRun::statementFailed(State& s, int step, const std::string& statement, long number,
                                    const std::string& description) {
    ++summary_.failedStatements;
    if (!summary_.tableResults.empty() && summary_.tableResults.back().name == s.table)
        ++summary_.tableResults.back().failedStatements;
    const std::string kind = statementKind(statement);
    if (summary_.failed.size() < RunSummary::kFailedKept)
        summary_.failed.push_back({s.table, kind, firstLine(description)});
    s.p.report(step, description, (s.table.empty() ? std::string() : "table " + s.table + ": ") + kind);
    if (!recursForEveryStatement(number, description)) return;
    s.ended = true;
    s.keys.stoppedEarly = true;
    summary_.endedBy = firstLine(description);
}

bool ConversionRun::yieldAndCheckStop(State& s) {
    pumpEvents();
    if (!s.cancelled && host_.stopRequested()) s.cancelled = summary_.cancelled = true;
    return s.cancelled;
}

bool ConversionRun::beginTableUnit(State&) {
    if (host_.previewMode()) return false;
    try {
        auto& target = host_.accessConnection();
        if (!target || !target->isOpen()) return false;
        target->BeginTrans();
        return true;
    } catch (...) {
        return false;  // a target without units: its statements take effect one by one
    }
}

void ConversionRun::endTableUnit(State& s, bool open, const std::string& name) {
    if (!open) return;
    auto& target = host_.accessConnection();
    try {
        if (!s.cancelled) {
            target->CommitTrans();
            return;
        }
        target->RollbackTrans();
        summary_.cancelledTable = name;
    } catch (...) {
        s.p.report(s.cancelled ? step::UndoStoppedTable : step::CommitTable, currentErrorDescription());
    }
}

void ConversionRun::convertTables(State& s) {
    Procedure& p = s.p;
    const int tableCount = s.sourceTables.count();
    readKeys(s);
    try {
        if (selection_.fieldTypes == FieldTypes::Access && host_.accessConnection())
            s.engineType = host_.accessConnection()->EngineType();
    } catch (...) {
        s.engineType = 0;  // a closed target: its statements fail in their turn
    }
    for (int i = tableCount - 1; i >= 0; --i) {
        if (i == tableCount - 1) {
            p(step::ClearPreviewList, [&] { host_.previewList().clear(); });
            p(step::ClearDatatypeList, [&] { host_.datatypeList().clear(); });
        }
        p(step::YieldBeforeTable, [&] { yieldAndCheckStop(s); });
        std::string name;
        p(step::TableName, [&] { name = s.sourceTables.item(i); });
        if (s.halted()) {  // the target takes no more statements
            summary_.tablesNotConverted += i + 1;
            summary_.notConvertedWhy = s.cancelled ? "the run was stopped by the user" : "the run was stopped";
            s.keys.stoppedEarly = true;
            break;
        }
        s.table = name;
        host_.tableProgress(name, tableCount - i, tableCount);
        if (!convertTable(s, name, i + 1)) {
            // "< Back": the tables after this one are not reached.
            summary_.tablesNotConverted += i;
            if (summary_.notConvertedWhy.empty()) summary_.notConvertedWhy = "the preview was closed with \"< Back\"";
            s.keys.stoppedEarly = true;
            break;  // the table's progress text stays
        }
        p(step::ClearTableProgress, [&] { host_.setProgressText(""); });
    }
}

// The overwrite question; with more tables to come it also offers an answer
// for all of them.
int ConversionRun::askOverwrite(State& s, const std::string& name, int remaining) {
    if (s.overwriteAll != 0) return s.overwriteAll;
    const int style = remaining > 1 ? mb::YesNo | mb::ToAll : mb::YesNo;
    const int answer = s.p.value(
        step::AskOverwrite, [&] { return msgBox("Would you like to overwrite " + name + "?", style, "Overwrite?"); },
        0);
    if (answer == mb::YesToAll) return s.overwriteAll = mb::Yes;
    if (answer == mb::NoToAll) return s.overwriteAll = mb::No;
    return answer;
}

bool ConversionRun::convertTable(State& s, const std::string& name, int remaining) {
    Procedure& p = s.p;
    int answer = 0;
    if (p.test(step::TargetHasTable, [&] { return s.targetHas(name); })) answer = askOverwrite(s, name, remaining);
    summary_.tableResults.push_back({name, 0, 0, "skipped"});
    if (answer == mb::No) {  // the table is skipped
        ++summary_.tablesSkipped;
        return true;
    }
    summary_.tableResults.back().outcome = "not converted";

    if (p.test(step::PreviewPerTable, [&] { return host_.previewPerTable(); })) {
        p(step::ClearPreviewListForTable, [&] { host_.previewList().clear(); });
        p(step::ClearDatatypeListForTable, [&] { host_.datatypeList().clear(); });
    }
    s.tableExecuted = s.tableToPreview = false;
    const bool unit = beginTableUnit(s);
    struct EndUnit {
        ConversionRun& run;
        State& s;
        bool open;
        const std::string& name;
        ~EndUnit() { run.endTableUnit(s, open, name); }
    } endUnit{*this, s, unit, name};
    if (answer == mb::Yes) {
        dropRelationsOf(s, name);
        s.put(*this, step::DropPreviewMode, step::DropToPreview, step::DropExecute, "DROP TABLE [" + name + "]");
        p(step::ForgetTargetTable, [&] { s.forgetTargetTable(name); });
        s.showTables(host_);
    }
    p(step::ShowTableProgress, [&] { host_.setProgressText("Please wait.. Processing table " + name); });
    // A table that cannot be read costs that table: its definition and rows
    // would only fail in their turn.
    if (!p(step::OpenTableRows, [&] { need(s.records).Open("SELECT * FROM `" + name + "`", need(s.source)); })) {
        ++summary_.tablesNotConverted;
        return true;
    }

    // The definition.
    const int64_t rowsBefore = summary_.rows;
    const std::vector<db::FieldInfo> noFields;
    const std::vector<db::FieldInfo>* fields = &noFields;
    p(step::ReadFields, [&] { fields = &need(s.records).fieldInfos(); });
    std::vector<AccessColumn> columns;
    if (selection_.fieldTypes == FieldTypes::Access) columns = accessColumns(*fields, s.engineType);
    TableDefinition def = defineTable(s, name, *fields, columns);
    if (!def.anyColumn) {  // nothing to create: told, and the table is not converted
        summary_.fieldNotes.push_back(name + ": every field is left out, so the table is not created");
        p(step::CloseTableRows, [&] { need(s.records).Close(); });
        ++summary_.tablesNotConverted;
        return true;
    }
    s.put(*this, step::CreatePreviewMode, step::CreateToPreview, step::CreateExecute, def.statement);
    translateTags(s, name, *fields);
    ++summary_.tables;
    std::vector<bool> numeric;
    p(step::NumericPositions, [&] { numeric = def.numeric; });

    // The rows. A table without any column has no row to write: its
    // definition was already reported.
    const bool walk = !p.test(step::AnyRow, [&] { return need(s.records).atEnd() || need(s.records).beforeStart(); });
    if (walk) writeRows(s, name, *fields, std::move(numeric), columns);
    reportReadNotices(s);
    putTableKeys(s, name);
    p(step::CloseTableRows, [&] { need(s.records).Close(); });
    TableResult& result = summary_.tableResults.back();
    result.rows = summary_.rows - rowsBefore;
    if (s.cancelled) result.outcome = "stopped", ++summary_.tablesNotConverted;
    else if (s.tableExecuted && !s.ended) ++summary_.tablesConverted, result.outcome = "converted";
    else if (s.ended) ++summary_.tablesNotConverted, summary_.notConvertedWhy = "the run was stopped";
    if (s.tableToPreview) ++s.tablesInPreview, result.outcome = "in the preview";
    const bool goOn = previewTable(s, name);
    if (s.tableSkippedInPreview) s.keys.convertedTables.erase(asciiLower(name));  // no relation can reach it
    return goOn;
}

TableDefinition ConversionRun::defineTable(State& s, const std::string& name, const std::vector<db::FieldInfo>& fields,
                                           const std::vector<AccessColumn>& columns) {
    const std::vector<std::string> defaults = tableDefaults(s, name, fields, columns);
    const std::vector<std::string>* given = defaults.empty() ? nullptr : &defaults;
    if (!columns.empty()) {
        for (size_t j = 0; j < fields.size() && j < columns.size(); ++j)
            if (columns[j].told) noteField(name, fields[j].name, columns[j].note);
        return buildAccessDefinition(name, fields, columns, host_.datatypeList(), s.p, given);
    }
    for (const db::FieldInfo& f : fields)
        if (isLeftOut(lowerDataTypeName(static_cast<int16_t>(static_cast<uint16_t>(f.type)))))
            noteField(name, f.name, kBinaryLeftOut);
    return buildTableDefinition(name, fields, host_.datatypeList(), s.p, given);
}

void ConversionRun::noteField(const std::string& table, const std::string& field, const std::string& note) {
    summary_.fieldNotes.push_back(table + ", field " + field + ": " + note);
}

void ConversionRun::writeRows(State& s, const std::string& name, const std::vector<db::FieldInfo>& fields,
                              std::vector<bool> numeric, const std::vector<AccessColumn>& columns) {
    Procedure& p = s.p;
    db::Recordset& records = *s.records;
    RowStatementBuilder rows = columns.empty() ? RowStatementBuilder(name, fields, std::move(numeric), s.settings)
                                               : RowStatementBuilder(name, fields, columns);
    struct NoteNulled {
        ConversionRun& run;
        const std::string& table;
        const std::vector<db::FieldInfo>& fields;
        const RowStatementBuilder& rows;
        ~NoteNulled() {
            const std::pair<const std::vector<int64_t>*, const char*> counts[] = {
                {&rows.nulledValues(),
                 " Access cannot hold written as NULL (a date before the year 100 or a number that is not finite)"},
                {&rows.cutValues(),
                 " with a fraction of a second written to the second (Access's date literal holds whole seconds)"}};
            for (const auto& [n, what] : counts)
                for (size_t c = 0; c < n->size() && c < fields.size(); ++c)
                    if ((*n)[c] > 0) run.noteField(table, fields[c].name, counted((*n)[c], "value", "values") + what);
        }
    } noteNulled{*this, name, fields, rows};
    const int64_t total = records.RecordCountHint();
    int64_t r = 0;
    // A leading-blank check reads the row itself: such tables are read here.
    if (prefetchFrom_ >= 0 && total >= prefetchFrom_ && s.keys.blankChecks.empty() &&
        !writePrefetchedRows(s, name, rows, total, r))
        return;
    for (;;) {
        // The walk ends when the end of the rows cannot be read; that
        // failure is reported once.
        bool atEnd = true;
        if (s.halted() || !p(step::AtEndOfRows, [&] { atEnd = records.atEnd(); }) || atEnd) break;
        if (yieldAndCheckStop(s)) break;
        ++r;
        showRowProgress(s, name, r, total);
        const std::string& statement = rows.build(records.row(), p);
        s.put(*this, step::InsertPreviewMode, step::InsertToPreview, step::InsertExecute, statement);
        if (!s.keys.blankChecks.empty()) checkLeadingBlanks(s, records.row());
        ++summary_.rows;
        if (!p(step::NextRow, [&] { records.MoveNext(); })) break;
    }
}

namespace {

// Statements that will run at once are also prepared for the target on the
// reading thread; none are in preview mode or when the target cannot make a
// preparer (they run from their text, failures included).
std::unique_ptr<db::StatementPreparer> targetPreparer(RunHost& host, const std::string& table) {
    if (host.previewMode()) return nullptr;
    try {
        auto& target = host.accessConnection();
        return target && target->isOpen() ? target->statementPreparer(table) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

bool ConversionRun::writePrefetchedRows(State& s, const std::string& name, RowStatementBuilder& rows, int64_t total,
                                        int64_t& r) {
    const auto preparer = targetPreparer(host_, name);
    RowPrefetch ahead(*s.records, rows, preparer.get());
    while (const std::string* statement = s.halted() ? nullptr : ahead.next()) {
        if (yieldAndCheckStop(s)) break;
        ++r;
        showRowProgress(s, name, r, total);
        s.put(*this, step::InsertPreviewMode, step::InsertToPreview, step::InsertExecute, *statement, ahead.prepared());
        ++summary_.rows;
    }
    if (s.halted()) return false;
    switch (ahead.end()) {
    case RowPrefetch::End::AtEndFailed: s.p.report(step::AtEndOfRows, ahead.failure()); return false;
    case RowPrefetch::End::NextFailed: s.p.report(step::NextRow, ahead.failure()); return false;
    case RowPrefetch::End::PlainLoopNow: return true;
    case RowPrefetch::End::AtEnd: break;
    }
    return false;
}

void ConversionRun::showRowProgress(State& s, const std::string& name, int64_t r, int64_t total) {
    s.p(step::ShowRowProgress, [&] {
        if (total > 0) host_.setProgressValue(100.0 * static_cast<double>(r) / static_cast<double>(total));
        host_.rowsProgress(name, r, total);
    });
}

// What the source could not read costs those values, not the rows after
// them: the loss is reported once per table and counted; warnings are shown.
void ConversionRun::reportReadNotices(State& s) {
    if (!s.records || !s.records->isOpen()) return;
    for (const db::ReadNotice& n : s.records->takeNotices()) {
        if (n.codePage) {
            summary_.codePages.push_back(n.text);  // the host tells them when the run ends
        } else if (n.lostValues > 0) {
            summary_.lostValues += n.lostValues;
            s.p.report(step::ReadNotices, n.text);
        } else {
            s.p(step::ReadNotices, [&] { msgBox(n.text); });
        }
    }
}

bool ConversionRun::previewTable(State& s, const std::string& name) {
    Procedure& p = s.p;
    p(step::ResetPreviewFlags, [&] {
        s.flags.sqlExecuted = false;
        s.flags.endRunAfterPreview = true;
        s.flags.executionUndone = false;
    });
    s.tableSkippedInPreview = false;
    if (!p.test(step::PreviewThisTable, [&] { return host_.previewMode() && host_.previewPerTable(); })) return true;
    host_.previewTable(name);
    p(step::ShowTablePreview, [&] { host_.showPreview(s.flags); });
    s.tableSkippedInPreview = !s.flags.sqlExecuted && !s.flags.endRunAfterPreview;
    settlePreview(s, "the preview was closed with \"< Back\"");
    return p.test(step::PreviewLetRunGoOn, [&] { return s.flags.sqlExecuted || !s.flags.endRunAfterPreview; });
}

// What became of the tables of the preview list once the window closed.
void ConversionRun::settlePreview(State& s, const std::string& why) {
    const int n = s.tablesInPreview;
    s.tablesInPreview = 0;
    // What the fields of tables that never reach Access would have become
    // is not told.
    if (n > 0 && !s.flags.sqlExecuted && s.fieldNotesSettled < summary_.fieldNotes.size())
        summary_.fieldNotes.resize(s.fieldNotesSettled);
    s.fieldNotesSettled = summary_.fieldNotes.size();
    if (n == 0) return;
    if (s.flags.sqlExecuted) {
        summary_.tablesConverted += n;
    } else if (s.flags.executionUndone) {
        summary_.tablesUndone += n;
    } else if (!s.flags.endRunAfterPreview) {
        summary_.tablesSkipped += n;
    } else {
        summary_.tablesNotConverted += n;
        summary_.notConvertedWhy = why;
    }
}

void ConversionRun::finish(State& s) {
    Procedure& p = s.p;
    if (p.test(step::PreviewAtEnd, [&] { return host_.previewMode() && host_.previewOnceAtEnd(); })) {
        p(step::ResetPreviewFlagAtEnd, [&] {
            s.flags.sqlExecuted = false;
            s.flags.executionUndone = false;
        });
        host_.previewTable({});
        p(step::ShowFinalPreview, [&] { host_.showPreview(s.flags); });
        settlePreview(s, "the preview was closed without Execute SQL");
        p(step::CloseTargetAfterPreview, [&] { need(host_.accessConnection()).Close(); });
        p(step::CloseSourceAfterPreview, [&] { need(s.source).Close(); });
        s.connectionsOpen = false;
        p(step::ClearProgressAfterPreview, [&] { host_.setProgressText(""); });
    }
    if (s.tablesInPreview > 0) {  // preview mode without a preview: nothing ran
        summary_.tablesNotConverted += s.tablesInPreview;
        summary_.notConvertedWhy = "no preview was chosen, so no statement was executed";
        s.tablesInPreview = 0;
    }
    if (s.connectionsOpen) {
        p(step::CloseTarget, [&] { need(host_.accessConnection()).Close(); });
        p(step::CloseSource, [&] { need(s.source).Close(); });
    }
    p(step::HideBusyPointer, [&] { host_.setBusyPointer(false); });
    p(step::ResetProgressValue, [&] { host_.setProgressValue(0); });
    p(step::ResetProgressText, [&] { host_.setProgressText("Progress Bar"); });
    summary_.failures = p.failures();
    p(step::ShowDone, [&] { msgBox(doneText(summary_)); });
}

}  // namespace tp::convert
