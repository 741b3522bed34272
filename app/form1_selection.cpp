// The buttons that fill the source and target fields, test the source and
// show the help text; the Advanced Options window for a .dbc source.
#include <QLineEdit>

#include "app/form1.h"
#include "app/dbc_options_dialog.h"
#include "app/modules.h"
#include "app/settings.h"
#include "host/app_title.h"
#include "host/error_report.h"
#include "host/message_box.h"
#include "host/program_files.h"
#include "ui/dialogs.h"
#include "ui/pointer.h"
#include "host/utilities.h"

namespace tp::app {

const char* const kAccessFileFilter =
    "All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
    "Microsoft 2007 Database (*.accdb)|*.accdb|";

std::string helpText() {
    return std::string(
               "This software transfers text-based and numeric fields but does not handle "
               "binary / pictures fields.") +
           "\r\n\r\n" + "Use SQL Preview if your tables contains less than 32767 rows." + "\r\n\r\n" +
           "Questions? Please contact Team Brindlewood at " + kContactPage;
}

void Form1::PushButton1_Click() {
    Procedure p("Form1", "PushButton1_Click");
    QString folder;
    p(100, [&] { folder = BrowseForFolder(this, "Please select folder:", QString()); });
    if (p.test(102, [&] { return !folder.isEmpty(); }))
        p(104, [&] { Text2->setText(folder); });
}

void Form1::PushButton2_Click() {
    Procedure p("Form1", "PushButton2_Click");
    p(100, [&] { settings().save("FoxproOption", "2"); });
    p(102, [&] { OptionDBC1 = false; });
    p(104, [&] { Text2->setText(QString::fromStdString(sampleFolder())); });
    showSourceKind();
}

void Form1::PushButton3_Click() {
    Procedure p("Form1", "PushButton3_Click");
    QString fileName, title;
    QStringList filters;
    p(100, [&] { fileName.clear(); });
    p(102, [&] { /* read-only box, Explorer style, long names: the Qt dialog's own */ });
    p(104, [&] { title = "Select Access Database"; });
    p(106, [&] { filters = filtersFromClassic(kAccessFileFilter); });
    p(108, [&] { fileName = dialogs().chooseOpenFile(this, title, filters); });
    if (p.test(110, [&] { return !fileName.isEmpty(); }))
        p(112, [&] { Text5->setText(fileName); });
}

void Form1::PushButton4_Click() {
    Procedure p("Form1", "PushButton4_Click");
    p(100, [&] { Text5->setText(QString::fromStdString(sampleFolder() + "/sample.mdb")); });
}

void Form1::PushButton8_Click() {
    Procedure p("Form1", "PushButton8_Click");
    p(100, [&] { pointer_->setValue(WindowPointer::Busy); });
    // A test that fails outright is reported and counts as no connection.
    if (p.value(102, [&] { return foxProConnectionValid(); }, false))
        p(104, [&] { msgBox("Connection successful."); });
    else
        p(108, [&] { msgBox("Could not connect."); });
    p(112, [&] { pointer_->setValue(WindowPointer::Default); });
}

void Form1::PushButton5_Click() {
    Procedure p("Form1", "PushButton5_Click");
    p(100, [&] { msgBox(helpText()); });
}

void Form1::PushButton12_Click() {
    Procedure p("Form1", "PushButton12_Click");
    p(100, [&] {
        DbcOptionsDialog form(*this, this);
        form.load();
        form.exec();
    });
    showSourceKind();
}

}  // namespace tp::app
