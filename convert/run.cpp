#include "convert/run.h"

#include <filesystem>

#include "convert/statements.h"
#include "db/ado.h"
#include "db/error.h"
#include "db/selection.h"
#include "ui/errorreport.h"
#include "ui/events.h"
#include "ui/messagebox.h"
#include "ui/utilities.h"

namespace tp::convert {
namespace {

[[noreturn]] void objectNotSet() {
    throw db::Error(91, "Object variable or With block variable not set");
}

template <class T>
T& need(const std::unique_ptr<T>& p) {
    if (!p) objectNotSet();
    return *p;
}

}  // namespace

ConversionRun::ConversionRun(RunHost& host, RunModules modules)
    : host_(host), modules_(std::move(modules)) {}
ConversionRun::~ConversionRun() = default;

void ConversionRun::setRegionalSettings(const RegionalSettings& settings) {
    regional_ = settings;
    haveRegional_ = true;
}

void ConversionRun::start() {
    // [100] A click while a run yields does nothing.
    if (converting_) return;
    Procedure p("Form1", "PushButton7_Click");
    p.setReportRepeatsOnce(true);
    converting_ = true;   // [102]
    summary_ = RunSummary{};
    const RegionalSettings settings = haveRegional_ ? regional_ : regionalSettings();
    PreviewFlags& flags = previewFlags();

    std::unique_ptr<db::Connection> source;
    std::unique_ptr<db::Recordset> records;
    p(104, [&] { host_.accessConnection() = db::CreateConnection("ADODB.Connection"); });
    p(108, [&] { source = db::CreateConnection("ADODB.Connection"); });
    p(110, [&] { records = db::CreateRecordset("ADODB.RecordSet"); });

    // [116] An invalid source ends the run silently.
    if (p.test(116, [&] { return !modules_.isValidFoxProConnection(); })) {
        converting_ = false;
        return;
    }
    summary_.ran = true;

    // The statement sink: the preview list in preview mode, else executed on
    // the target at once. Check1 is read anew for every statement.
    auto sink = [&](int testLine, int appendLine, int executeLine, const std::string& statement) {
        ++summary_.statements;
        if (p.test(testLine, [&] { return host_.check1() == 1; })) {
            p(appendLine, [&] { host_.previewList().append(statement); });
        } else if (!p(executeLine, [&] { need(host_.accessConnection()).Execute(statement); })) {
            ++summary_.failedStatements;
        }
    };

    p(118, [&] { host_.setBusyPointer(true); });
    p(120, [&] { host_.list1().clear(); });
    p(122, [&] { host_.list2().clear(); });
    p(124, [&] {
        // A target that does not exist yet can be created here and now.
        const std::string target = selection().targetPath();
        if (!target.empty() && !std::filesystem::exists(target) &&
            msgBox("The database " + target + " does not exist. Would you like to create it?",
                   mb::YesNo) == mb::Yes)
            modules_.createTargetDatabase(target, selection().targetPassword());
    });
    p(124, [&] { modules_.addTablesToAccessListbox(host_.list1(), selection().targetPath()); });
    p(126, [&] { modules_.addTablesToFoxproListbox(host_.list2()); });
    p(128, [&] { need(source).CursorLocation = db::adUseServer; });
    p(130, [&] { need(source).CommandTimeout = 5000; });
    p(132, [&] { need(source).ConnectionTimeout = 5000; });
    p(134, [&] { need(source).Open(modules_.sourceConnectionString()); });
    p(140, [&] { need(host_.accessConnection()).CursorLocation = db::adUseClient; });
    p(142, [&] { need(host_.accessConnection()).Mode = db::adModeReadWrite; });
    p(144, [&] { need(host_.accessConnection()).Open(modules_.accessConnectionString()); });
    bool connectionsOpen = true;   // [146]

    const int tableCount = p.value(148, [&] { return host_.list2().count(); }, 0);
    for (int i = tableCount - 1; i >= 0; --i) {
        if (i == tableCount - 1) {
            p(150, [&] { host_.previewList().clear(); });
            p(152, [&] { host_.datatypeList().clear(); });
        }
        p(154, [] { DoEvents(); });
        std::string name;
        p(156, [&] { name = host_.list2().item(i); });

        int answer = 0;
        if (p.test(158, [&] { return ListContainsText(host_.list1(), name); }))
            answer = p.value(160, [&] {
                return msgBox("Would you like to overwrite " + name + "?", mb::YesNo, "Overwrite?");
            }, 0);
        else
            answer = 0;   // [162]

        if (answer != mb::No) {   // [164] No skips the table
            if (p.test(166, [&] { return host_.option2(); })) {
                p(168, [&] { host_.previewList().clear(); });
                p(170, [&] { host_.datatypeList().clear(); });
            }
            if (answer == mb::Yes) {   // [172]
                sink(174, 176, 178, "DROP TABLE [" + name + "]");
                p(180, [&] { RemoveListEntry(host_.list1(), asciiLower(name)); });
            }
            p(182, [&] { host_.setProgressText("Please wait.. Processing table " + name); });
            p(184, [&] { need(records).Open("SELECT * FROM `" + name + "`", need(source)); });

            // [186-334] The definition.
            const std::vector<db::FieldInfo> noFields;
            const std::vector<db::FieldInfo>* fields = &noFields;
            p(186, [&] { fields = &need(records).fieldInfos(); });
            TableDefinition def = buildTableDefinition(name, *fields, host_.datatypeList(), p);
            sink(330, 332, 334, def.statement);
            ++summary_.tables;
            std::vector<bool> numeric;
            p(336, [&] { numeric = numericPositionFlags(def.numericPositions, fields->size()); });

            // [336-444] One statement per row. A table without any column
            // has no row to write: its definition was already reported.
            bool walk = false;
            if (def.anyColumn)
                walk = !p.test(338, [&] { return need(records).EOF_() || need(records).BOF_(); });
            if (walk) {
                RowStatementBuilder rows(name, *fields, std::move(numeric), settings);
                const int64_t total = records->RecordCountHint();
                int64_t r = 0;
                for (;;) {
                    // [340] The walk ends when the end of the rows cannot be
                    // read; that failure is reported once.
                    bool atEnd = true;
                    if (!p(340, [&] { atEnd = records->EOF_(); }) || atEnd) break;
                    DoEvents();   // [342]
                    ++r;
                    p(346, [&] {
                        if (total > 0) host_.setProgressValue(100.0 * static_cast<double>(r) / static_cast<double>(total));
                        host_.rowsProgress(name, r, total);
                    });
                    const std::string& statement = rows.build(records->row(), p);   // [348-426]
                    sink(428, 430, 440, statement);
                    ++summary_.rows;
                    if (!p(442, [&] { records->MoveNext(); })) break;
                }
            }
            // [444] What the source could not read costs those values, not
            // the rows after them: the loss is reported once per table and
            // counted; warnings are shown.
            if (records && records->isOpen())
                for (const db::ReadNotice& n : records->takeNotices()) {
                    if (n.lostValues > 0) {
                        summary_.lostValues += n.lostValues;
                        p.report(444, n.text);
                    } else {
                        p(444, [&] { msgBox(n.text); });
                    }
                }
            p(446, [&] { need(records).Close(); });
            p(448, [&] {
                flags.SQLFormOK = false;
                flags.EndRunAfterPreview = true;
            });
            bool previewShown = false;
            if (p.test(450, [&] { return host_.check1() == 1 && host_.option2(); })) {
                p(452, [&] { host_.showPreview(); });
                previewShown = true;
            }
            if (previewShown &&   // [456]
                !p.test(456, [&] { return flags.SQLFormOK || !flags.EndRunAfterPreview; })) {
                break;   // "< Back" or the close box: no further tables
            }
        }
        p(458, [&] { host_.setProgressText(""); });
    }

    // The end of the run.
    if (p.test(462, [&] { return host_.check1() == 1 && host_.option1(); })) {
        p(466, [&] { flags.SQLFormOK = false; });
        p(468, [&] { host_.showPreview(); });
        p(470, [&] { need(host_.accessConnection()).Close(); });
        p(472, [&] { need(source).Close(); });
        connectionsOpen = false;   // [474]
        p(476, [&] { host_.setProgressText(""); });
    }
    if (connectionsOpen) {   // [480]
        p(482, [&] { need(host_.accessConnection()).Close(); });
        p(484, [&] { need(source).Close(); });
    }
    p(486, [&] { host_.setBusyPointer(false); });
    p(488, [&] { host_.setProgressValue(0); });
    p(490, [&] { host_.setProgressText("Progress Bar"); });
    summary_.failures = p.failures();
    p(492, [&] {
        std::string done = "Done.";
        if (summary_.failedStatements > 0)
            done += "\r\n\r\n" + std::to_string(summary_.failedStatements) +
                    " statements could not be executed.";
        msgBox(done);
    });
    converting_ = false;   // [494]
}

}  // namespace tp::convert
