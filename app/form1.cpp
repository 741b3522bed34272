#include "app/form1.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <unistd.h>

#include "app/dbc_options_dialog.h"
#include "app/modules.h"
#include "app/qt_list_box.h"
#include "app/settings.h"
#include "host/app_title.h"
#include "host/error_report.h"
#include "host/message_box.h"
#include "host/program_files.h"
#include "ui/dialogs.h"
#include "ui/pointer.h"
#include "host/utilities.h"

namespace tp::app {

int twips(int tw) {
    const QScreen* s = QGuiApplication::primaryScreen();
    const double dpi = s ? s->logicalDotsPerInchX() : 96.0;
    return static_cast<int>(std::lround(tw * dpi / 1440.0));
}

namespace {

class SelectAllFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::FocusIn) {
            // After the mouse press that gave the focus has placed the caret.
            if (auto* edit = qobject_cast<QLineEdit*>(o))
                QTimer::singleShot(0, edit, [edit] { edit->selectAll(); });
        }
        return false;
    }
};

// A progress bar that shows its text as given (no %p placeholders).
class LiteralProgressBar : public QProgressBar {
public:
    using QProgressBar::QProgressBar;
    QString text() const override { return format(); }
};

// Reads a check-box value the way the store's number text converts.
int checkValueFromText(const std::string& text) {
    const QString t = QString::fromStdString(text).trimmed();
    bool ok = false;
    const double d = t.toDouble(&ok);
    if (!ok || !std::isfinite(d)) throw std::runtime_error("Type mismatch");
    const long long v = std::llround(d);
    if (v < 0 || v > 2) throw std::runtime_error("Invalid property value");
    return static_cast<int>(v);
}

// "True"/"False" or a number, non-zero being true.
bool booleanFromText(const std::string& text) {
    const QString t = QString::fromStdString(text).trimmed();
    if (t.compare("True", Qt::CaseInsensitive) == 0) return true;
    if (t.compare("False", Qt::CaseInsensitive) == 0) return false;
    bool ok = false;
    const double d = t.toDouble(&ok);
    if (!ok || !std::isfinite(d)) throw std::runtime_error("Type mismatch");
    return d != 0;
}

std::string text(const QLineEdit* e) { return e->text().toStdString(); }

}  // namespace

QFont captionFont(double points) {
    QFont f;
    f.setFamilies({"Arial", "Liberation Sans", "Helvetica"});
    f.setPointSizeF(points);
    f.setBold(true);
    return f;
}

QPushButton* captionButton(QWidget* parent, const char* name, const char* caption, const char* what) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setFont(captionFont(11.25));
    b->setAccessibleName(caption);
    b->setAccessibleDescription(what);
    b->setAutoDefault(false);
    return b;
}

void place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

// A caption wider than its box (fonts that run wider than the layout's own)
// gets a slightly smaller size rather than losing its end.
void fitCaption(QLabel* l) {
    QFont f = l->font();
    while (f.pointSizeF() > 7 && QFontMetrics(f).horizontalAdvance(l->text()) > l->width())
        f.setPointSizeF(f.pointSizeF() - 0.25);
    l->setFont(f);
}

void selectAllOnFocus(QLineEdit* edit) { edit->installEventFilter(new SelectAllFilter(edit)); }

Form1::Form1(QWidget* parent) : QWidget(parent) {
    build();
    setSelection(this);
}

Form1::~Form1() {
    if (&selection() == this) setSelection(nullptr);
}

void Form1::build() {
    setObjectName("Form1");
    setAccessibleName("Tallyport");
    setFixedSize(twips(8040), twips(6255));
    setFont(captionFont(9));

    auto frame = [&](const char* name, const char* caption) {
        auto* f = new QGroupBox(caption, this);
        f->setObjectName(name);
        f->setAccessibleName(caption);
        // The caption is drawn in the box's own font: bold, stated here
        // rather than inherited (a style sheet on the box would reset the
        // fonts of the captions inside it).
        f->setFont(captionFont(9));
        return f;
    };
    auto label = [&](QWidget* parent, const char* name, const char* caption) {
        auto* l = new QLabel(caption, parent);
        l->setObjectName(name);
        return l;
    };
    auto field = [&](QWidget* parent, const char* name, QLabel* lbl) {
        auto* e = new QLineEdit(parent);
        e->setObjectName(name);
        e->setAccessibleName(lbl->text());
        lbl->setBuddy(e);
        selectAllOnFocus(e);
        return e;
    };

    PushButton5 = captionButton(this, "PushButton5", "Help", "Notes on using Tallyport");
    place(PushButton5, 120, 120, 7800, 405);

    Frame1 = frame("Frame1", "FoxPro Login");
    place(Frame1, 120, 630, 7800, 1425);
    Label1 = label(Frame1, "Label1", "Folder containing DBF/s:");
    place(Label1, 240, 330, 2025, 225);
    fitCaption(Label1);
    Text2 = field(Frame1, "Text2", Label1);
    place(Text2, 2400, 270, 4455, 345);
    PushButton1 = captionButton(Frame1, "PushButton1", "...", "Browse for the folder of free tables");
    place(PushButton1, 6960, 270, 600, 345);
    PushButton2 = captionButton(Frame1, "PushButton2", "Load Sample/Example Database",
                         "Use the sample FoxPro tables as the source");
    place(PushButton2, 240, 750, 3600, 405);
    PushButton8 = captionButton(Frame1, "PushButton8", "Test Connection", "Test the FoxPro source");
    place(PushButton8, 3960, 750, 2880, 405);
    PushButton12 = captionButton(Frame1, "PushButton12", "dbc",
                          "Advanced Options: use a FoxPro database container (.dbc)");
    place(PushButton12, 6960, 750, 600, 405);
    // The source a run reads, on the caption's line of the group.
    lblSourceKind = label(Frame1, "lblSourceKind", "");
    lblSourceKind->setAccessibleName("Source in use");
    lblSourceKind->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblSourceKind->setFont(captionFont(8));
    lblSourceKind->setFocusPolicy(Qt::NoFocus);
    place(lblSourceKind, 2400, 0, 5160, 255);

    Frame3 = frame("Frame3", "Access Database");
    place(Frame3, 120, 2130, 7800, 1845);
    Label5 = label(Frame3, "Label5", "MDB or ACCDB File:");
    place(Label5, 240, 345, 1935, 255);
    fitCaption(Label5);
    Text5 = field(Frame3, "Text5", Label5);
    place(Text5, 2280, 300, 4455, 345);
    PushButton3 = captionButton(Frame3, "PushButton3", "...", "Browse for the Access database");
    place(PushButton3, 6840, 300, 690, 345);
    lblPassword = label(Frame3, "lblPassword", "Password (if required):");
    place(lblPassword, 240, 840, 1950, 225);
    fitCaption(lblPassword);
    Text6 = field(Frame3, "Text6", lblPassword);
    Text6->setEchoMode(QLineEdit::Password);
    Text6->setStyleSheet("lineedit-password-character: 42;");
    place(Text6, 2280, 800, 5265, 345);
    PushButton4 = captionButton(Frame3, "PushButton4", "Load Sample/Example Database",
                         "Use the sample Access database as the target");
    place(PushButton4, 240, 1260, 7275, 405);

    Frame2 = frame("Frame2", "SQL Preview");
    place(Frame2, 120, 4050, 7800, 1065);
    Check1 = new QCheckBox("Enable SQL Preview mode to see SQL commands or check for errors", Frame2);
    Check1->setObjectName("Check1");
    Check1->setAccessibleName(Check1->text());
    place(Check1, 240, 300, 6735, 255);
    Option1 = new QRadioButton("Show SQL Preview For Each File", Frame2);
    Option1->setObjectName("Option1");
    Option1->setAccessibleName(Option1->text());
    place(Option1, 240, 630, 3135, 255);
    Option2 = new QRadioButton("Show SQL Preview For Each Table", Frame2);
    Option2->setObjectName("Option2");
    Option2->setAccessibleName(Option2->text());
    place(Option2, 3600, 630, 3375, 255);
    optionGroup_ = new QButtonGroup(this);
    optionGroup_->setExclusive(true);
    optionGroup_->addButton(Option1);
    optionGroup_->addButton(Option2);
    Option1->setChecked(true);

    PushButton7 = captionButton(this, "PushButton7", "Start Converting", "Convert the source into the target");
    place(PushButton7, 120, 5235, 7800, 405);

    ProgressBar1 = new LiteralProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setAccessibleName("Progress Bar");
    ProgressBar1->setRange(0, 10000);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(true);
    ProgressBar1->setAlignment(Qt::AlignCenter);
    ProgressBar1->setFormat("Progress Bar");
    place(ProgressBar1, 120, 5760, 7800, 405);

    // Below the visible client area.
    List1 = new QListWidget(this);
    List1->setObjectName("List1");
    List1->setAccessibleName("Tables of the target");
    place(List1, 240, 8820, 3330, 1635);
    List2 = new QListWidget(this);
    List2->setObjectName("List2");
    List2->setAccessibleName("Tables of the source");
    place(List2, 3840, 8820, 3330, 1635);
    List1->setFocusPolicy(Qt::NoFocus);
    List2->setFocusPolicy(Qt::NoFocus);
    list1_ = std::make_unique<QtListBox>(List1);
    list2_ = std::make_unique<QtListBox>(List2);

    // Tab order follows the layout.
    setTabOrder(PushButton5, Text2);
    setTabOrder(Text2, PushButton1);
    setTabOrder(PushButton1, PushButton2);
    setTabOrder(PushButton2, PushButton8);
    setTabOrder(PushButton8, PushButton12);
    setTabOrder(PushButton12, Text5);
    setTabOrder(Text5, PushButton3);
    setTabOrder(PushButton3, Text6);
    setTabOrder(Text6, PushButton4);
    setTabOrder(PushButton4, Check1);
    setTabOrder(Check1, Option1);
    setTabOrder(Option1, PushButton7);

    pointer_ = new WindowPointer(this);
    for (QWidget* b : {PushButton1, PushButton2, PushButton3, PushButton4, PushButton5, PushButton7,
                       PushButton8, PushButton12})
        pointer_->watchButton(b);
    for (QWidget* w : {static_cast<QWidget*>(Frame1), static_cast<QWidget*>(Frame2),
                       static_cast<QWidget*>(Frame3), static_cast<QWidget*>(Text2),
                       static_cast<QWidget*>(Text5), static_cast<QWidget*>(Text6)})
        pointer_->watchPassive(w);

    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
    connect(PushButton4, &QPushButton::clicked, this, [this] { PushButton4_Click(); });
    connect(PushButton5, &QPushButton::clicked, this, [this] { PushButton5_Click(); });
    connect(PushButton7, &QPushButton::clicked, this, [this] { PushButton7_Click(); });
    connect(PushButton8, &QPushButton::clicked, this, [this] { PushButton8_Click(); });
    connect(PushButton12, &QPushButton::clicked, this, [this] { PushButton12_Click(); });
    // A value set by code counts as a click or change, as one set by the user.
    connect(Check1, &QCheckBox::stateChanged, this, [this] { untrapped([this] { Check1_Click(); }); });
    connect(Option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on) untrapped([this] { Option_Click(); });
    });
    connect(Option2, &QRadioButton::toggled, this, [this](bool on) {
        if (on) untrapped([this] { Option_Click(); });
    });
    connect(Text2, &QLineEdit::textChanged, this, [this] { untrapped([this] { Text2_Change(); }); });
    connect(Text5, &QLineEdit::textChanged, this, [this] { untrapped([this] { Text5_Change(); }); });
    connect(Text6, &QLineEdit::textChanged, this, [this] { untrapped([this] { Text6_Change(); }); });
}

bool Form1::Form_Load() {
    Procedure p("Form1", "Form_Load");
    const std::string skin = programFile("x/o.cjs");
    if (p.test(100, [&] { return FileExists(skin); })) {
        p(102, [&] { SetFormColors(this); });
        QString sheet;
        p(104, [&] {
            QFile f(QString::fromStdString(skin));
            if (!f.open(QIODevice::ReadOnly) || f.size() > (1 << 20))
                throw std::runtime_error("File not found: " + skin);
            sheet = QString::fromUtf8(f.readAll());
        });
        p(106, [&] { setStyleSheet(sheet); });
    }
    if (p.test(110, [&] { return FileExists(handPointerPath()); }))
        p(112, [&] { pointer_->setCustomImage(loadCursorFile(handPointerPath())); });
    p(116, [&] { setWindowTitle(kProductTitle); });
    p(118, [&] { setWindowIcon(appIcon()); });
    p(120, [&] { SetAppTitle(); });
    // A failing change rule ends the program: nothing more runs then.
    auto step = [&](int line, auto&& f) {
        if (!ended_) p(line, f);
    };
    step(122, [&] {
        const int v = checkValueFromText(settings().get("Check1", "1"));
        Check1->setCheckState(v == 1 ? Qt::Checked : v == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
    });
    step(124, [&] {
        if (booleanFromText(settings().get("Option1", "1"))) Option1->setChecked(true);
    });
    step(126, [&] {
        if (booleanFromText(settings().get("Option2", "0"))) Option2->setChecked(true);
    });
    step(128, [&] { Text2->setText(QString::fromStdString(settings().get("FreeTableFolder", ""))); });
    step(130, [&] { DBCPath1 = settings().get("DBCFile", ""); });
    step(132, [&] { OptionDBC1 = settings().get("FoxproOption", "") != "2"; });
    step(134, [&] { Text5->setText(QString::fromStdString(settings().get("AccessMDBFile", ""))); });
    step(136, [&] { Text6->setText(QString::fromStdString(settings().get("AccessPassword", ""))); });
    step(138, [&] { Check1_Click(); });
    if (ended_) return false;
    showSourceKind();
    if (!p.test(140, [&] { return providerInstalled(); })) {
        p(142, [&] { end(1); });
        return false;
    }
    return !ended_;
}

// ---- change and click rules -------------------------------------------------

void Form1::Check1_Click() {
    const int v = check1();
    Option1->setEnabled(v == 1);
    Option2->setEnabled(v == 1);
    settings().save("Check1", std::to_string(v));
}

void Form1::Option_Click() {
    settings().save("Option1", Option1->isChecked() ? "True" : "False");
    settings().save("Option2", Option2->isChecked() ? "True" : "False");
}

void Form1::Text2_Change() {
    const std::string t = text(Text2);
    settings().save("FreeTableFolder", t);
    if (!t.empty()) {
        settings().save("FoxproOption", "2");
        OptionDBC1 = false;
    }
    showSourceKind();
}

std::string Form1::sourceKindText() const {
    if (!OptionDBC1) return "Source in use: the free tables of the folder below";
    if (DBCPath1.empty()) return "Source in use: a DBC, none chosen yet (dbc)";
    return "Source in use: the DBC " + DBCPath1;
}

void Form1::showSourceKind() {
    const QString full = QString::fromStdString(sourceKindText());
    lblSourceKind->setToolTip(full);
    lblSourceKind->setAccessibleDescription(full);
    // A long path loses its middle, never its file name.
    lblSourceKind->setText(
        QFontMetrics(lblSourceKind->font()).elidedText(full, Qt::ElideMiddle, lblSourceKind->width()));
}

void Form1::Text5_Change() { settings().save("AccessMDBFile", text(Text5)); }
void Form1::Text6_Change() { settings().save("AccessPassword", text(Text6)); }

void Form1::untrapped(const std::function<void()>& rule) {
    if (ended_) return;   // the program is ending: nothing more runs
    try {
        rule();
    } catch (...) {
        msgBox(currentErrorDescription(), mb::Critical);
        end(1);
    }
}

void Form1::end(int code) {
    if (ended_) return;
    ended_ = true;
    exitCode_ = code;
    if (endProgram) {
        endProgram(code);
        return;
    }
    QCoreApplication::exit(code);
    // A run in a yield would go on after this handler: nothing more runs.
    if (converting_) ::_exit(code);
}

void Form1::closeEvent(QCloseEvent* e) {
    e->accept();
    end(0);
}

// ---- selection ----------------------------------------------------------------

std::string Form1::folderText() const { return text(Text2); }
std::string Form1::targetPath() const { return text(Text5); }
std::string Form1::targetPassword() const { return text(Text6); }

// ---- run host -----------------------------------------------------------------

int Form1::check1() const {
    switch (Check1->checkState()) {
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    default: return 0;
    }
}
bool Form1::previewOnceAtEnd() const { return Option1->isChecked(); }
bool Form1::previewPerTable() const { return Option2->isChecked(); }
ListBox& Form1::targetTables() { return *list1_; }
ListBox& Form1::sourceTables() { return *list2_; }

void Form1::setProgressValue(double percent) {
    if (!std::isfinite(percent)) percent = 0;
    percent = std::clamp(percent, 0.0, 100.0);
    ProgressBar1->setValue(static_cast<int>(std::lround(percent * 100)));
}

void Form1::setProgressText(const std::string& t) {
    ProgressBar1->setFormat(QString::fromStdString(t));
}

void Form1::setBusyPointer(bool busy) {
    pointer_->setValue(busy ? WindowPointer::Busy : WindowPointer::Default);
}

// ---- buttons ------------------------------------------------------------------

void Form1::PushButton7_Click() {
    // The run reports its own failures (and refuses a second start while it
    // yields).
    if (!runStarter_) runStarter_ = makeRunStarter(*this);
    const bool outermost = !converting_;
    converting_ = true;
    struct Reset {
        bool& flag;
        bool outermost;
        ~Reset() {
            if (outermost) flag = false;
        }
    } reset{converting_, outermost};
    runStarter_->start();
}

}  // namespace tp::app
