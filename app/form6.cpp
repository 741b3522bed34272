#include "app/form6.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/form1.h"
#include "app/settings.h"
#include "host/error_report.h"
#include "host/message_box.h"
#include "ui/dialogs.h"
#include "ui/pointer.h"
#include "host/utilities.h"

namespace tp::app {


Form6::Form6(Form1& main, QWidget* owner) : QDialog(owner), main_(main) {
    setObjectName("Form6");
    setWindowTitle("Advanced Options");
    setAccessibleName("Advanced Options");
    setModal(true);
    setFixedSize(twips(8040), twips(1635));
    setFont(captionFont(9));
    const QFont buttonFont = captionFont(11.25);
    auto button = [&](QWidget* parent, const char* name, const char* caption, const char* what) {
        auto* b = new QPushButton(caption, parent);
        b->setObjectName(name);
        b->setFont(buttonFont);
        b->setAccessibleName(caption);
        b->setAccessibleDescription(what);
        b->setAutoDefault(false);
        return b;
    };
    Frame2 = new QGroupBox("Advanced Option", this);
    Frame2->setObjectName("Frame2");
    Frame2->setAccessibleName("Advanced Option");
    place(Frame2, 120, 120, 7800, 885);
    Label1 = new QLabel("DBC File:", Frame2);
    Label1->setObjectName("Label1");
    place(Label1, 240, 360, 735, 225);
    fitCaption(Label1);
    Text1 = new QLineEdit(Frame2);
    Text1->setObjectName("Text1");
    Text1->setAccessibleName("DBC File:");
    Label1->setBuddy(Text1);
    selectAllOnFocus(Text1);
    place(Text1, 1080, 330, 5775, 345);
    PushButton5 = button(Frame2, "PushButton5", "...", "Browse for the FoxPro database (.dbc)");
    place(PushButton5, 6960, 330, 600, 345);
    PushButton1 = button(this, "PushButton1", "OK", "Use the FoxPro database as the source");
    place(PushButton1, 120, 1130, 3840, 405);
    PushButton2 = button(this, "PushButton2", "Cancel", "Use the folder of free tables as the source");
    place(PushButton2, 4080, 1130, 3840, 405);

    pointer_ = new WindowPointer(this);
    for (QWidget* b : {PushButton1, PushButton2, PushButton5}) pointer_->watchButton(b);
    pointer_->watchPassive(Frame2);
    pointer_->watchPassive(Text1);

    connect(Text1, &QLineEdit::textChanged, this, [this] {
        main_.untrapped([this] { Text1_Change(); });
        if (main_.ended()) reject();
    });
    connect(PushButton5, &QPushButton::clicked, this, [this] { PushButton5_Click(); });
    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
}

void Form6::Form_Load() {
    Procedure p("Form6", "Form_Load");
    p(100, [&] { SetFormColors(this); });
    p(102, [&] { setWindowIcon(appIcon()); });
    if (p.test(104, [&] { return FileExists(handPointerPath()); }))
        p(106, [&] { pointer_->setCustomImage(loadCursorFile(handPointerPath())); });
    p(110, [&] { Text1->setText(QString::fromStdString(settings().get("DBCFile", ""))); });
}

void Form6::Text1_Change() { settings().save("DBCFile", Text1->text().toStdString()); }

void Form6::PushButton5_Click() {
    Procedure p("Form6", "PushButton5_Click");
    QString fileName, title;
    QStringList filters;
    p(100, [&] { fileName.clear(); });
    p(102, [&] { /* read-only box, Explorer style, long names: the Qt dialog's own */ });
    p(104, [&] { title = "Select Foxpro Database"; });
    p(106, [&] { filters = filtersFromClassic(kDbcFileFilter); });
    p(108, [&] { fileName = dialogs().chooseOpenFile(this, title, filters); });
    if (p.test(110, [&] { return !fileName.isEmpty(); }))
        p(112, [&] { Text1->setText(fileName); });
}

void Form6::PushButton1_Click() {
    Procedure p("Form6", "PushButton1_Click");
    if (p.test(100, [&] { return !Text1->text().isEmpty(); })) {
        p(102, [&] { main_.OptionDBC1 = true; });
        p(104, [&] { main_.DBCPath1 = Text1->text().toStdString(); });
        p(106, [&] { settings().save("FoxproOption", "1"); });
    }
    p(110, [&] { accept(); });
}

void Form6::PushButton2_Click() {
    Procedure p("Form6", "PushButton2_Click");
    p(100, [&] { settings().save("FoxproOption", "2"); });
    p(102, [&] { main_.OptionDBC1 = false; });
    p(104, [&] { reject(); });
}

}  // namespace tp::app
