// The buttons that fill the source and target fields, test the source and
// show the help text; the Advanced Options window for a .dbc source.
#include <QLineEdit>

#include "app/main_window.h"
#include "app/dbc_options_dialog.h"
#include "app/run_starter.h"
#include "app/settings.h"
#include "host/app_title.h"
#include "host/error_report.h"
#include "host/message_box.h"
#include "host/program_files.h"
#include "ui/dialogs.h"
#include "ui/pointer.h"
#include "host/utilities.h"

namespace tp::app {

namespace {

// The error report's location of these handlers, as the outside sees it.
constexpr const char* kReportWindow = "Form1";
constexpr const char* kBrowseFolderProcedure = "PushButton1_Click";
constexpr const char* kSampleSourceProcedure = "PushButton2_Click";
constexpr const char* kBrowseTargetProcedure = "PushButton3_Click";
constexpr const char* kSampleTargetProcedure = "PushButton4_Click";
constexpr const char* kTestConnectionProcedure = "PushButton8_Click";
constexpr const char* kHelpProcedure = "PushButton5_Click";
constexpr const char* kDbcOptionsProcedure = "PushButton12_Click";

}  // namespace

const char* const kAccessFileFilter =
    "All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
    "Microsoft 2007 Database (*.accdb)|*.accdb|";

std::string helpText() {
    return std::string(
               "Tallyport copies the tables of a Visual FoxPro database into a Microsoft Access database. "
               "Choose the source (the folder of free tables with \"...\", or a database container with "
               "\"dbc\"), then the Access file (.mdb or .accdb; it is made when it does not exist) and its "
               "password, if it has one. Test Connection checks both; Start Converting copies every table, and "
               "a table the Access file already has is replaced only when you say Yes.") +
           "\r\n\r\n" +
           "With SQL Preview you see every statement before it runs, and can edit, find and replace and then "
           "execute them; without it they run at once. During a run Start Converting becomes Stop Converting: "
           "the table in work is put back as it was, and the tables converted before it stay." +
           "\r\n\r\n" +
           "Every field keeps its own Access type, binary and picture fields as OLE Objects (Advanced Options: "
           "\"Access field types\"). With \"Create keys, indexes and relations\" the primary keys, indexes, "
           "relations, default values, captions, comments, validation rules, input masks and formats come "
           "too. Whatever has no Access form is listed when the run ends, with the reason. An Access database "
           "holds at most 2 GB (Access 97: 1 GB)." +
           "\r\n\r\n" + "Questions? Please contact Team Brindlewood at " + kContactPage;
}

void MainWindow::browseFolder() {
    Procedure p(kReportWindow, kBrowseFolderProcedure);
    QString folder;
    // The picker opens on the folder in the field.
    p(100, [&] { folder = browseForFolder(this, "Please select folder:", folderOfPath(folderEdit_->text())); });
    if (p.test(102, [&] { return !folder.isEmpty(); })) p(104, [&] { folderEdit_->setText(folder); });
}

void MainWindow::useSampleSource() {
    Procedure p(kReportWindow, kSampleSourceProcedure);
    p(100, [&] { settings().save(kSourceKindKey, "2"); });
    p(102, [&] { useDbcSource = false; });
    p(104, [&] { folderEdit_->setText(QString::fromStdString(sampleFolder())); });
    showSourceKind();
}

void MainWindow::browseTarget() {
    Procedure p(kReportWindow, kBrowseTargetProcedure);
    QString fileName, title;
    QStringList filters;
    p(100, [&] { fileName.clear(); });
    p(102, [&] { /* read-only box, Explorer style, long names: the Qt dialog's own */ });
    p(104, [&] { title = "Select Access Database"; });
    p(106, [&] { filters = filtersFromClassic(kAccessFileFilter); });
    p(108, [&] { fileName = dialogs().chooseOpenFile(this, title, filters, folderOfPath(targetEdit_->text())); });
    if (p.test(110, [&] { return !fileName.isEmpty(); })) p(112, [&] { targetEdit_->setText(fileName); });
}

void MainWindow::useSampleTarget() {
    Procedure p(kReportWindow, kSampleTargetProcedure);
    p(100, [&] { targetEdit_->setText(QString::fromStdString(sampleFolder() + "/sample.mdb")); });
}

void MainWindow::testConnection() {
    Procedure p(kReportWindow, kTestConnectionProcedure);
    p(100, [&] { pointer_->setValue(WindowPointer::Busy); });
    // A test that fails outright is reported and counts as no connection;
    // a source that cannot be converted is told with the reader's words,
    // and so is a target, when one is filled in, that a run could not write.
    const std::string problem = p.value(
        102, [&] { return sourceProblem(sourceChoice()); }, std::string("?"));
    std::string targetTrouble;
    if (problem.empty() && !targetPath().empty())
        targetTrouble = p.value(
            104,
            [&] {
                return targetProblem({targetPath(), targetPassword()});
            },
            std::string("?"));
    if (problem.empty() && targetTrouble.empty()) {
        p(106, [&] { msgBox("Connection successful."); });
    } else if (problem.empty()) {
        const bool password = targetTrouble.find("assword") != std::string::npos;
        p(108, [&] {
            msgBox("Could not connect to the Access database " + targetPath() + ".\r\n\r\n" + targetTrouble +
                   (password ? "\r\n\r\nCheck the password in \"Password (if required):\"."
                             : "\r\n\r\nCheck the file in \"MDB or ACCDB File:\"."));
        });
        focusField(password ? convert::InputField::TargetPassword : convert::InputField::TargetFile);
    } else {
        p(110, [&] { msgBox(problem == "?" ? "Could not connect." : "Could not connect.\r\n\r\n" + problem); });
        focusField(useDbcSource ? convert::InputField::SourceDbc : convert::InputField::SourceFolder);
    }
    p(112, [&] { pointer_->setValue(WindowPointer::Default); });
}

void MainWindow::showHelp() {
    Procedure p(kReportWindow, kHelpProcedure);
    p(100, [&] { msgBox(helpText()); });
}

void MainWindow::showDbcOptions() {
    Procedure p(kReportWindow, kDbcOptionsProcedure);
    DbcChoice choice;
    p(100, [&] {
        DbcOptionsDialog form(*this, this);
        form.load();
        form.exec();
        choice = form.choice();
    });
    applyDbcChoice(choice);
}

void MainWindow::applyDbcChoice(const DbcChoice& choice) {
    if (choice.useDbc) useDbcSource = *choice.useDbc;
    if (choice.useDbc.value_or(false)) dbcPath = choice.dbcPath;
    if (choice.answered) dbcSetAside = false;
    showSourceKind();
}

}  // namespace tp::app
