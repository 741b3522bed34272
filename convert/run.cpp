#include "convert/run.h"

#include <filesystem>

#include "convert/run_steps.h"
#include "convert/selection.h"
#include "convert/statements.h"
#include "db/ado.h"
#include "db/error.h"
#include "host/error_report.h"
#include "host/events.h"
#include "host/message_box.h"
#include "host/utilities.h"

namespace tp::convert {
namespace {

[[noreturn]] void objectNotSet() { throw db::Error(91, "Object variable or With block variable not set"); }

template <class T>
T& need(const std::unique_ptr<T>& p) {
    if (!p) objectNotSet();
    return *p;
}

// Where a failing step of the run is reported from.
constexpr const char* kReportWindow = "Form1";
constexpr const char* kReportProcedure = "PushButton7_Click";

}  // namespace

// What the phases of one run share.
struct ConversionRun::State {
    Procedure p{kReportWindow, kReportProcedure};
    RegionalSettings settings;
    PreviewFlags& flags = previewFlags();
    std::unique_ptr<db::Connection> source;
    std::unique_ptr<db::Recordset> records;
    bool connectionsOpen = false;

    // The statement sink: the preview list in preview mode, else executed on
    // the target at once. The preview choice is read anew for every
    // statement; the three steps are numbered by the caller.
    void put(ConversionRun& run, int modeStep, int previewStep, int executeStep, const std::string& statement) {
        ++run.summary_.statements;
        RunHost& host = run.host_;
        if (p.test(modeStep, [&] { return host.previewMode(); })) {
            p(previewStep, [&] { host.previewList().append(statement); });
        } else if (!p(executeStep, [&] { need(host.accessConnection()).Execute(statement); })) {
            ++run.summary_.failedStatements;
        }
    }
};

ConversionRun::ConversionRun(RunHost& host, RunModules modules) : host_(host), modules_(std::move(modules)) {}
ConversionRun::~ConversionRun() = default;

void ConversionRun::setRegionalSettings(const RegionalSettings& settings) {
    regional_ = settings;
    haveRegional_ = true;
}

void ConversionRun::start() {
    // A click while a run yields does nothing.
    if (converting_) return;
    State s;
    s.p.setReportRepeatsOnce(true);
    converting_ = true;
    summary_ = RunSummary{};
    s.settings = haveRegional_ ? regional_ : regionalSettings();

    if (!openConnections(s)) {  // an invalid source ends the run silently
        converting_ = false;
        return;
    }
    convertTables(s);
    finish(s);
    converting_ = false;
}

bool ConversionRun::openConnections(State& s) {
    Procedure& p = s.p;
    p(step::CreateTargetConnection, [&] { host_.accessConnection() = db::CreateConnection("ADODB.Connection"); });
    p(step::CreateSourceConnection, [&] { s.source = db::CreateConnection("ADODB.Connection"); });
    p(step::CreateRecordset, [&] { s.records = db::CreateRecordset("ADODB.RecordSet"); });
    if (p.test(step::TestSource, [&] { return !modules_.canConnectToSource(); })) return false;
    summary_.ran = true;

    p(step::ShowBusyPointer, [&] { host_.setBusyPointer(true); });
    p(step::ClearTargetTables, [&] { host_.targetTables().clear(); });
    p(step::ClearSourceTables, [&] { host_.sourceTables().clear(); });
    p(step::ListTargetTables, [&] {
        // A target that does not exist yet can be created here and now.
        const std::string target = selection().targetPath();
        if (!target.empty() && !std::filesystem::exists(target) &&
            msgBox("The database " + target + " does not exist. Would you like to create it?", mb::YesNo) == mb::Yes)
            modules_.createTargetDatabase(target, selection().targetPassword());
    });
    p(step::ListTargetTables, [&] { modules_.listTargetTables(host_.targetTables(), selection().targetPath()); });
    p(step::ListSourceTables, [&] { modules_.listSourceTables(host_.sourceTables()); });
    p(step::SourceCursorLocation, [&] { need(s.source).CursorLocation = db::adUseServer; });
    p(step::SourceCommandTimeout, [&] { need(s.source).CommandTimeout = 5000; });
    p(step::SourceConnectionTimeout, [&] { need(s.source).ConnectionTimeout = 5000; });
    p(step::OpenSource, [&] {
        need(s.source).CodePage = selection().sourceCodePage();
        s.source->Open(modules_.sourceConnectionString());
    });
    p(step::TargetCursorLocation, [&] { need(host_.accessConnection()).CursorLocation = db::adUseClient; });
    p(step::TargetMode, [&] { need(host_.accessConnection()).Mode = db::adModeReadWrite; });
    p(step::OpenTarget, [&] { need(host_.accessConnection()).Open(modules_.targetConnectionString()); });
    s.connectionsOpen = true;
    return true;
}

void ConversionRun::convertTables(State& s) {
    Procedure& p = s.p;
    const int tableCount = p.value(
        step::CountSourceTables, [&] { return host_.sourceTables().count(); }, 0);
    for (int i = tableCount - 1; i >= 0; --i) {
        if (i == tableCount - 1) {
            p(step::ClearPreviewList, [&] { host_.previewList().clear(); });
            p(step::ClearDatatypeList, [&] { host_.datatypeList().clear(); });
        }
        p(step::YieldBeforeTable, [] { pumpEvents(); });
        std::string name;
        p(step::TableName, [&] { name = host_.sourceTables().item(i); });
        if (!convertTable(s, name)) break;  // the table's progress text stays
        p(step::ClearTableProgress, [&] { host_.setProgressText(""); });
    }
}

bool ConversionRun::convertTable(State& s, const std::string& name) {
    Procedure& p = s.p;
    int answer = 0;
    if (p.test(step::TargetHasTable, [&] { return listContainsText(host_.targetTables(), name); }))
        answer = p.value(
            step::AskOverwrite,
            [&] { return msgBox("Would you like to overwrite " + name + "?", mb::YesNo, "Overwrite?"); }, 0);
    if (answer == mb::No) return true;  // the table is skipped

    if (p.test(step::PreviewPerTable, [&] { return host_.previewPerTable(); })) {
        p(step::ClearPreviewListForTable, [&] { host_.previewList().clear(); });
        p(step::ClearDatatypeListForTable, [&] { host_.datatypeList().clear(); });
    }
    if (answer == mb::Yes) {
        s.put(*this, step::DropPreviewMode, step::DropToPreview, step::DropExecute, "DROP TABLE [" + name + "]");
        p(step::ForgetTargetTable, [&] { removeListEntry(host_.targetTables(), asciiLower(name)); });
    }
    p(step::ShowTableProgress, [&] { host_.setProgressText("Please wait.. Processing table " + name); });
    p(step::OpenTableRows, [&] { need(s.records).Open("SELECT * FROM `" + name + "`", need(s.source)); });

    // The definition.
    const std::vector<db::FieldInfo> noFields;
    const std::vector<db::FieldInfo>* fields = &noFields;
    p(step::ReadFields, [&] { fields = &need(s.records).fieldInfos(); });
    TableDefinition def = buildTableDefinition(name, *fields, host_.datatypeList(), p);
    s.put(*this, step::CreatePreviewMode, step::CreateToPreview, step::CreateExecute, def.statement);
    ++summary_.tables;
    std::vector<bool> numeric;
    p(step::NumericPositions, [&] { numeric = def.numeric; });

    // The rows. A table without any column has no row to write: its
    // definition was already reported.
    bool walk = false;
    if (def.anyColumn)
        walk = !p.test(step::AnyRow, [&] { return need(s.records).atEnd() || need(s.records).beforeStart(); });
    if (walk) writeRows(s, name, *fields, std::move(numeric));
    reportReadNotices(s);
    p(step::CloseTableRows, [&] { need(s.records).Close(); });
    return previewTable(s);
}

void ConversionRun::writeRows(State& s, const std::string& name, const std::vector<db::FieldInfo>& fields,
                              std::vector<bool> numeric) {
    Procedure& p = s.p;
    db::Recordset& records = *s.records;
    RowStatementBuilder rows(name, fields, std::move(numeric), s.settings);
    const int64_t total = records.RecordCountHint();
    int64_t r = 0;
    for (;;) {
        // The walk ends when the end of the rows cannot be read; that
        // failure is reported once.
        bool atEnd = true;
        if (!p(step::AtEndOfRows, [&] { atEnd = records.atEnd(); }) || atEnd) break;
        pumpEvents();
        ++r;
        p(step::ShowRowProgress, [&] {
            if (total > 0) host_.setProgressValue(100.0 * static_cast<double>(r) / static_cast<double>(total));
            host_.rowsProgress(name, r, total);
        });
        const std::string& statement = rows.build(records.row(), p);
        s.put(*this, step::InsertPreviewMode, step::InsertToPreview, step::InsertExecute, statement);
        ++summary_.rows;
        if (!p(step::NextRow, [&] { records.MoveNext(); })) break;
    }
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

bool ConversionRun::previewTable(State& s) {
    Procedure& p = s.p;
    p(step::ResetPreviewFlags, [&] {
        s.flags.sqlExecuted = false;
        s.flags.endRunAfterPreview = true;
    });
    if (!p.test(step::PreviewThisTable, [&] { return host_.previewMode() && host_.previewPerTable(); })) return true;
    p(step::ShowTablePreview, [&] { host_.showPreview(); });
    return p.test(step::PreviewLetRunGoOn, [&] { return s.flags.sqlExecuted || !s.flags.endRunAfterPreview; });
}

void ConversionRun::finish(State& s) {
    Procedure& p = s.p;
    if (p.test(step::PreviewAtEnd, [&] { return host_.previewMode() && host_.previewOnceAtEnd(); })) {
        p(step::ResetPreviewFlagAtEnd, [&] { s.flags.sqlExecuted = false; });
        p(step::ShowFinalPreview, [&] { host_.showPreview(); });
        p(step::CloseTargetAfterPreview, [&] { need(host_.accessConnection()).Close(); });
        p(step::CloseSourceAfterPreview, [&] { need(s.source).Close(); });
        s.connectionsOpen = false;
        p(step::ClearProgressAfterPreview, [&] { host_.setProgressText(""); });
    }
    if (s.connectionsOpen) {
        p(step::CloseTarget, [&] { need(host_.accessConnection()).Close(); });
        p(step::CloseSource, [&] { need(s.source).Close(); });
    }
    p(step::HideBusyPointer, [&] { host_.setBusyPointer(false); });
    p(step::ResetProgressValue, [&] { host_.setProgressValue(0); });
    p(step::ResetProgressText, [&] { host_.setProgressText("Progress Bar"); });
    summary_.failures = p.failures();
    p(step::ShowDone, [&] {
        std::string done = "Done.";
        if (summary_.failedStatements > 0)
            done += "\r\n\r\n" + std::to_string(summary_.failedStatements) + " statements could not be executed.";
        msgBox(done);
    });
}

}  // namespace tp::convert
