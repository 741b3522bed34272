#include "app/main_window.h"

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
#include "app/run_starter.h"
#include "app/qt_list_box.h"
#include "app/settings.h"
#include "host/app_title.h"
#include "host/error_report.h"
#include "host/message_box.h"
#include "host/program_files.h"
#include "ui/dialogs.h"
#include "ui/pointer.h"
#include "ui/window_keys.h"
#include "host/utilities.h"

namespace tp::app {

namespace {

// The names the outside sees: object names (tests and screen readers find
// the controls by them) and the error report's location.
constexpr const char* kWindowName = "Form1";
constexpr const char* kHelpName = "PushButton5";
constexpr const char* kSourceGroupName = "Frame1";
constexpr const char* kFolderLabelName = "Label1";
constexpr const char* kFolderEditName = "Text2";
constexpr const char* kBrowseFolderName = "PushButton1";
constexpr const char* kSampleSourceName = "PushButton2";
constexpr const char* kTestConnectionName = "PushButton8";
constexpr const char* kDbcOptionsName = "PushButton12";
constexpr const char* kSourceKindName = "lblSourceKind";
constexpr const char* kTargetGroupName = "Frame3";
constexpr const char* kTargetLabelName = "Label5";
constexpr const char* kTargetEditName = "Text5";
constexpr const char* kBrowseTargetName = "PushButton3";
constexpr const char* kPasswordLabelName = "lblPassword";
constexpr const char* kPasswordEditName = "Text6";
constexpr const char* kSampleTargetName = "PushButton4";
constexpr const char* kPreviewGroupName = "Frame2";
constexpr const char* kPreviewCheckName = "Check1";
constexpr const char* kPreviewAtEndName = "Option1";
constexpr const char* kPreviewPerTableName = "Option2";
constexpr const char* kStartName = "PushButton7";
constexpr const char* kProgressName = "ProgressBar1";
constexpr const char* kTargetTablesName = "List1";
constexpr const char* kSourceTablesName = "List2";
constexpr const char* kReportWindow = "Form1";
constexpr const char* kLoadProcedure = "Form_Load";

}  // namespace

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
            if (auto* edit = qobject_cast<QLineEdit*>(o)) QTimer::singleShot(0, edit, [edit] { edit->selectAll(); });
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

MainWindow::MainWindow(QWidget* parent) : QWidget(parent) { build(); }

MainWindow::~MainWindow() = default;

void MainWindow::build() {
    setObjectName(kWindowName);
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

    helpButton_ = captionButton(this, kHelpName, "Help", "Notes on using Tallyport");
    place(helpButton_, 120, 120, 7800, 405);

    sourceGroup_ = frame(kSourceGroupName, "FoxPro Login");
    place(sourceGroup_, 120, 630, 7800, 1425);
    folderLabel_ = label(sourceGroup_, kFolderLabelName, "Folder containing DBF/s:");
    place(folderLabel_, 240, 330, 2025, 225);
    fitCaption(folderLabel_);
    folderEdit_ = field(sourceGroup_, kFolderEditName, folderLabel_);
    place(folderEdit_, 2400, 270, 4455, 345);
    browseFolderButton_ = captionButton(sourceGroup_, kBrowseFolderName, "...", "Browse for the folder of free tables");
    place(browseFolderButton_, 6960, 270, 600, 345);
    sampleSourceButton_ = captionButton(sourceGroup_, kSampleSourceName, "Load Sample/Example Database",
                                        "Use the sample FoxPro tables as the source");
    place(sampleSourceButton_, 240, 750, 3600, 405);
    testConnectionButton_ =
        captionButton(sourceGroup_, kTestConnectionName, "Test Connection", "Test the FoxPro source");
    place(testConnectionButton_, 3960, 750, 2880, 405);
    dbcOptionsButton_ =
        captionButton(sourceGroup_, kDbcOptionsName, "dbc", "Advanced Options: use a FoxPro database container (.dbc)");
    place(dbcOptionsButton_, 6960, 750, 600, 405);
    // The source a run reads, on the caption's line of the group.
    sourceKindLabel_ = label(sourceGroup_, kSourceKindName, "");
    sourceKindLabel_->setAccessibleName("Source in use");
    sourceKindLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    sourceKindLabel_->setFont(captionFont(8));
    sourceKindLabel_->setFocusPolicy(Qt::NoFocus);
    place(sourceKindLabel_, 2400, 0, 5160, 255);

    targetGroup_ = frame(kTargetGroupName, "Access Database");
    place(targetGroup_, 120, 2130, 7800, 1845);
    targetLabel_ = label(targetGroup_, kTargetLabelName, "MDB or ACCDB File:");
    place(targetLabel_, 240, 345, 1935, 255);
    fitCaption(targetLabel_);
    targetEdit_ = field(targetGroup_, kTargetEditName, targetLabel_);
    place(targetEdit_, 2280, 300, 4455, 345);
    browseTargetButton_ = captionButton(targetGroup_, kBrowseTargetName, "...", "Browse for the Access database");
    place(browseTargetButton_, 6840, 300, 690, 345);
    passwordLabel_ = label(targetGroup_, kPasswordLabelName, "Password (if required):");
    place(passwordLabel_, 240, 840, 1950, 225);
    fitCaption(passwordLabel_);
    passwordEdit_ = field(targetGroup_, kPasswordEditName, passwordLabel_);
    passwordEdit_->setEchoMode(QLineEdit::Password);
    passwordEdit_->setStyleSheet("lineedit-password-character: 42;");
    place(passwordEdit_, 2280, 800, 5265, 345);
    sampleTargetButton_ = captionButton(targetGroup_, kSampleTargetName, "Load Sample/Example Database",
                                        "Use the sample Access database as the target");
    place(sampleTargetButton_, 240, 1260, 7275, 405);

    previewGroup_ = frame(kPreviewGroupName, "SQL Preview");
    place(previewGroup_, 120, 4050, 7800, 1065);
    previewCheck_ = new QCheckBox("Enable SQL Preview mode to see SQL commands or check for errors", previewGroup_);
    previewCheck_->setObjectName(kPreviewCheckName);
    previewCheck_->setAccessibleName(previewCheck_->text());
    place(previewCheck_, 240, 300, 6735, 255);
    previewAtEndOption_ = new QRadioButton("Show SQL Preview For Each File", previewGroup_);
    previewAtEndOption_->setObjectName(kPreviewAtEndName);
    previewAtEndOption_->setAccessibleName(previewAtEndOption_->text());
    place(previewAtEndOption_, 240, 630, 3135, 255);
    previewPerTableOption_ = new QRadioButton("Show SQL Preview For Each Table", previewGroup_);
    previewPerTableOption_->setObjectName(kPreviewPerTableName);
    previewPerTableOption_->setAccessibleName(previewPerTableOption_->text());
    place(previewPerTableOption_, 3600, 630, 3375, 255);
    previewOptionGroup_ = new QButtonGroup(this);
    previewOptionGroup_->setExclusive(true);
    previewOptionGroup_->addButton(previewAtEndOption_);
    previewOptionGroup_->addButton(previewPerTableOption_);
    previewAtEndOption_->setChecked(true);

    startButton_ = captionButton(this, kStartName, "Start Converting", "Convert the source into the target");
    place(startButton_, 120, 5235, 7800, 405);

    progressBar_ = new LiteralProgressBar(this);
    progressBar_->setObjectName(kProgressName);
    progressBar_->setAccessibleName("Progress Bar");
    progressBar_->setRange(0, 10000);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(true);
    progressBar_->setAlignment(Qt::AlignCenter);
    progressBar_->setFormat("Progress Bar");
    place(progressBar_, 120, 5760, 7800, 405);

    // Below the visible client area.
    targetTableList_ = new QListWidget(this);
    targetTableList_->setObjectName(kTargetTablesName);
    targetTableList_->setAccessibleName("Tables of the target");
    place(targetTableList_, 240, 8820, 3330, 1635);
    sourceTableList_ = new QListWidget(this);
    sourceTableList_->setObjectName(kSourceTablesName);
    sourceTableList_->setAccessibleName("Tables of the source");
    place(sourceTableList_, 3840, 8820, 3330, 1635);
    targetTableList_->setFocusPolicy(Qt::NoFocus);
    sourceTableList_->setFocusPolicy(Qt::NoFocus);
    targetTables_ = std::make_unique<QtListBox>(targetTableList_);
    sourceTables_ = std::make_unique<QtListBox>(sourceTableList_);

    // Tab order follows the layout.
    setTabOrder(helpButton_, folderEdit_);
    setTabOrder(folderEdit_, browseFolderButton_);
    setTabOrder(browseFolderButton_, sampleSourceButton_);
    setTabOrder(sampleSourceButton_, testConnectionButton_);
    setTabOrder(testConnectionButton_, dbcOptionsButton_);
    setTabOrder(dbcOptionsButton_, targetEdit_);
    setTabOrder(targetEdit_, browseTargetButton_);
    setTabOrder(browseTargetButton_, passwordEdit_);
    setTabOrder(passwordEdit_, sampleTargetButton_);
    setTabOrder(sampleTargetButton_, previewCheck_);
    setTabOrder(previewCheck_, previewAtEndOption_);
    setTabOrder(previewAtEndOption_, startButton_);

    pressFocusedButtonOnEnter(this);

    pointer_ = new WindowPointer(this);
    for (QWidget* b : {browseFolderButton_, sampleSourceButton_, browseTargetButton_, sampleTargetButton_, helpButton_,
                       startButton_, testConnectionButton_, dbcOptionsButton_})
        pointer_->watchButton(b);
    for (QWidget* w : {static_cast<QWidget*>(sourceGroup_), static_cast<QWidget*>(previewGroup_),
                       static_cast<QWidget*>(targetGroup_), static_cast<QWidget*>(folderEdit_),
                       static_cast<QWidget*>(targetEdit_), static_cast<QWidget*>(passwordEdit_)})
        pointer_->watchPassive(w);

    connect(browseFolderButton_, &QPushButton::clicked, this, [this] { browseFolder(); });
    connect(sampleSourceButton_, &QPushButton::clicked, this, [this] { useSampleSource(); });
    connect(browseTargetButton_, &QPushButton::clicked, this, [this] { browseTarget(); });
    connect(sampleTargetButton_, &QPushButton::clicked, this, [this] { useSampleTarget(); });
    connect(helpButton_, &QPushButton::clicked, this, [this] { showHelp(); });
    connect(startButton_, &QPushButton::clicked, this, [this] { startConversion(); });
    connect(testConnectionButton_, &QPushButton::clicked, this, [this] { testConnection(); });
    connect(dbcOptionsButton_, &QPushButton::clicked, this, [this] { showDbcOptions(); });
    // A value set by code counts as a click or change, as one set by the user.
    connect(previewCheck_, &QCheckBox::stateChanged, this, [this] { untrapped([this] { previewToggled(); }); });
    connect(previewAtEndOption_, &QRadioButton::toggled, this, [this](bool on) {
        if (on) untrapped([this] { previewOptionChosen(); });
    });
    connect(previewPerTableOption_, &QRadioButton::toggled, this, [this](bool on) {
        if (on) untrapped([this] { previewOptionChosen(); });
    });
    connect(folderEdit_, &QLineEdit::textChanged, this, [this] { untrapped([this] { folderChanged(); }); });
    connect(targetEdit_, &QLineEdit::textChanged, this, [this] { untrapped([this] { targetChanged(); }); });
    connect(passwordEdit_, &QLineEdit::textChanged, this, [this] { untrapped([this] { passwordChanged(); }); });
}

bool MainWindow::load() {
    Procedure p(kReportWindow, kLoadProcedure);
    const std::string skin = programFile("x/o.cjs");
    if (p.test(100, [&] { return fileExists(skin); })) {
        p(102, [&] { applyWindowColors(this); });
        QString sheet;
        p(104, [&] {
            QFile f(QString::fromStdString(skin));
            if (!f.open(QIODevice::ReadOnly) || f.size() > (1 << 20))
                throw std::runtime_error("File not found: " + skin);
            sheet = QString::fromUtf8(f.readAll());
        });
        p(106, [&] { setStyleSheet(sheet); });
    }
    if (p.test(110, [&] { return fileExists(handPointerPath()); }))
        p(112, [&] { pointer_->setCustomImage(loadCursorFile(handPointerPath())); });
    p(116, [&] { setWindowTitle(kProductTitle); });
    p(118, [&] { setWindowIcon(appIcon()); });
    p(120, [&] { setShortAppTitle(); });
    // A failing change rule ends the program: nothing more runs then.
    auto step = [&](int line, auto&& f) {
        if (!ended_) p(line, f);
    };
    step(122, [&] {
        const int v = checkValueFromText(settings().get(kPreviewModeKey, "1"));
        previewCheck_->setCheckState(v == 1 ? Qt::Checked : v == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
    });
    step(124, [&] {
        if (booleanFromText(settings().get(kPreviewAtEndKey, "1"))) previewAtEndOption_->setChecked(true);
    });
    step(126, [&] {
        if (booleanFromText(settings().get(kPreviewPerTableKey, "0"))) previewPerTableOption_->setChecked(true);
    });
    // A DBC chosen before is set aside when a folder is stored too: the
    // window says so.
    const bool storedDbcKind = settings().get(kSourceKindKey, "") != "2";
    step(128, [&] { folderEdit_->setText(QString::fromStdString(settings().get(kFolderKey, ""))); });
    step(130, [&] { dbcPath = settings().get(kDbcFileKey, ""); });
    step(132, [&] { useDbcSource = settings().get(kSourceKindKey, "") != "2"; });
    dbcSetAside = storedDbcKind && !useDbcSource && !dbcPath.empty();
    step(134, [&] { targetEdit_->setText(QString::fromStdString(settings().get(kTargetFileKey, ""))); });
    step(136, [&] { passwordEdit_->setText(QString::fromStdString(settings().get(kTargetPasswordKey, ""))); });
    step(138, [&] { previewToggled(); });
    if (ended_) return false;
    showSourceKind();
    if (!p.test(140, [&] { return providerInstalled(); })) {
        p(142, [&] { end(1); });
        return false;
    }
    return !ended_;
}

// ---- change and click rules -------------------------------------------------

void MainWindow::previewToggled() {
    const int v = previewState();
    previewAtEndOption_->setEnabled(v == 1);
    previewPerTableOption_->setEnabled(v == 1);
    settings().save(kPreviewModeKey, std::to_string(v));
}

void MainWindow::previewOptionChosen() {
    settings().save(kPreviewAtEndKey, previewAtEndOption_->isChecked() ? "True" : "False");
    settings().save(kPreviewPerTableKey, previewPerTableOption_->isChecked() ? "True" : "False");
}

void MainWindow::folderChanged() {
    const std::string t = text(folderEdit_);
    folderEdit_->setToolTip(folderEdit_->text());  // the whole path, however long
    settings().save(kFolderKey, t);
    if (!t.empty()) {
        settings().save(kSourceKindKey, "2");
        useDbcSource = false;
    }
    showSourceKind();
}

std::string MainWindow::sourceKindText() const {
    if (!useDbcSource) {
        if (dbcSetAside && !dbcPath.empty())
            return "Folder in use: a folder is filled in, so the DBC " + dbcPath + " is set aside (dbc to use it)";
        return "Source in use: the free tables of the folder below";
    }
    if (dbcPath.empty()) return "Source in use: a DBC, none chosen yet (dbc)";
    return "Source in use: the DBC " + dbcPath;
}

void MainWindow::showSourceKind() {
    const QString full = QString::fromStdString(sourceKindText());
    sourceKindLabel_->setToolTip(full);
    sourceKindLabel_->setAccessibleDescription(full);
    // A long DBC path loses its start, never its file name nor the words
    // around it; the whole text is the tool tip.
    const QFontMetrics fm(sourceKindLabel_->font());
    QString shown = full;
    const QString path = QString::fromStdString(dbcPath);
    const qsizetype at = path.isEmpty() ? -1 : full.indexOf(path);
    if (fm.horizontalAdvance(full) > sourceKindLabel_->width() && at >= 0) {
        const QString before = full.left(at), after = full.mid(at + path.size());
        const int room = sourceKindLabel_->width() - fm.horizontalAdvance(before + after);
        shown = before +
                fm.elidedText(path, Qt::ElideLeft, std::max(room, fm.horizontalAdvance(QStringLiteral("...x")))) +
                after;
    }
    sourceKindLabel_->setText(fm.elidedText(shown, Qt::ElideLeft, sourceKindLabel_->width()));
}

void MainWindow::targetChanged() {
    settings().save(kTargetFileKey, text(targetEdit_));
    targetEdit_->setToolTip(targetEdit_->text());  // the whole path, however long
}
void MainWindow::passwordChanged() { settings().save(kTargetPasswordKey, text(passwordEdit_)); }

void MainWindow::untrapped(const std::function<void()>& rule) {
    if (ended_) return;  // the program is ending: nothing more runs
    try {
        rule();
    } catch (...) {
        msgBox(currentErrorDescription(), mb::Critical);
        end(1);
    }
}

void MainWindow::end(int code) {
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

// Closing during a run asks first: stopping puts the table in work back as
// it was, and the window closes once the run has done so.
void MainWindow::closeEvent(QCloseEvent* e) {
    if (converting_ && !closeAfterRun_) {
        e->ignore();
        const int answer = msgBox(
            "Stop the conversion?\r\n\r\nThe table being converted is put back as it was before the run; the "
            "tables converted before it stay. The window closes when the run has stopped.",
            mb::YesNo | mb::Question, "Stop the conversion?");
        if (answer != mb::Yes || !converting_) return;
        closeAfterRun_ = true;
        requestStop();
        return;
    }
    if (converting_) {
        e->ignore();
        return;
    }
    e->accept();
    end(0);
}

void MainWindow::requestStop() {
    stopRequested_ = true;
    startButton_->setEnabled(false);
    startButton_->setText("Stopping...");
}

void MainWindow::showRunning(bool running) {
    for (QWidget* w : std::initializer_list<QWidget*>{helpButton_, browseFolderButton_, sampleSourceButton_,
                                                      testConnectionButton_, dbcOptionsButton_, browseTargetButton_,
                                                      sampleTargetButton_, folderEdit_, targetEdit_, passwordEdit_,
                                                      previewCheck_, previewAtEndOption_, previewPerTableOption_})
        w->setEnabled(!running);
    startButton_->setEnabled(true);
    startButton_->setText(running ? "Stop Converting" : "Start Converting");
    startButton_->setAccessibleName(running ? "Stop Converting" : "Start Converting");
}

void MainWindow::tableProgress(const std::string& table, int number, int count) {
    tableText_ = "Table " + std::to_string(number) + " of " + std::to_string(count) + ": " + table;
    rowsStart_ = std::chrono::steady_clock::now();
    lastRowsText_ = {};
}

namespace {

// 1234567 as "1,234,567".
std::string grouped(int64_t n) {
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// The time left, rounded as people say it.
std::string timeLeft(double seconds) {
    if (seconds < 60) return "less than a minute left";
    const auto minutes = static_cast<int64_t>(std::lround(seconds / 60));
    if (minutes < 90) return "about " + std::to_string(minutes) + (minutes == 1 ? " minute left" : " minutes left");
    return "about " + std::to_string(std::lround(seconds / 3600)) + " hours left";
}

}  // namespace

// "Table 3 of 13: Orders, 12,345 of 830,000 rows, about 2 minutes left",
// four times a second at most.
void MainWindow::rowsProgress(const std::string&, int64_t rowsDone, int64_t rowsTotal) {
    using clock = std::chrono::steady_clock;
    const clock::time_point now = clock::now();
    if (now - lastRowsText_ < std::chrono::milliseconds(250) && rowsDone != rowsTotal) return;
    lastRowsText_ = now;
    std::string text = tableText_ + ", " + grouped(rowsDone) + (rowsTotal > 0 ? " of " + grouped(rowsTotal) : "") +
                       ((rowsTotal > 0 ? rowsTotal : rowsDone) == 1 ? " row" : " rows");
    const double elapsed = std::chrono::duration<double>(now - rowsStart_).count();
    if (rowsTotal > rowsDone && rowsDone > 0 && elapsed > 2)
        text += ", " + timeLeft(elapsed * static_cast<double>(rowsTotal - rowsDone) / static_cast<double>(rowsDone));
    setProgressText(text);
}

// ---- selection ----------------------------------------------------------------

std::string MainWindow::sourceFolder() const { return text(folderEdit_); }
std::string MainWindow::targetPath() const { return text(targetEdit_); }
std::string MainWindow::targetPassword() const { return text(passwordEdit_); }

// ---- run host -----------------------------------------------------------------

int MainWindow::previewState() const {
    switch (previewCheck_->checkState()) {
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    default: return 0;
    }
}
bool MainWindow::previewOnceAtEnd() const { return previewAtEndOption_->isChecked(); }
bool MainWindow::previewPerTable() const { return previewPerTableOption_->isChecked(); }
ListBox& MainWindow::targetTables() { return *targetTables_; }
ListBox& MainWindow::sourceTables() { return *sourceTables_; }

void MainWindow::showTables(const std::vector<std::string>& target, const std::vector<std::string>& source) {
    auto fill = [](ListBox& list, const std::vector<std::string>& items) {
        list.clear();
        for (const std::string& item : items) list.addItem(item);
    };
    fill(*targetTables_, target);
    fill(*sourceTables_, source);
}

SourceChoice MainWindow::sourceChoice() const {
    return {useDbcSource, useDbcSource ? dbcPath : sourceFolder(), sourceCodePage()};
}

RunSelection MainWindow::runSelection() const {
    RunSelection s{sourceChoice(), {targetPath(), targetPassword()}};
    s.fieldTypes = storedAccessTypes() ? convert::FieldTypes::Access : convert::FieldTypes::Text;
    return s;
}

void MainWindow::setProgressValue(double percent) {
    if (!std::isfinite(percent)) percent = 0;
    percent = std::clamp(percent, 0.0, 100.0);
    progressBar_->setValue(static_cast<int>(std::lround(percent * 100)));
}

void MainWindow::setProgressText(const std::string& t) { progressBar_->setFormat(QString::fromStdString(t)); }

void MainWindow::focusField(convert::InputField field) {
    QWidget* w = folderEdit_;
    switch (field) {
    case convert::InputField::SourceFolder: w = folderEdit_; break;
    case convert::InputField::SourceDbc: w = dbcOptionsButton_; break;
    case convert::InputField::TargetFile: w = targetEdit_; break;
    case convert::InputField::TargetPassword: w = passwordEdit_; break;
    }
    // The inputs are locked while the run goes: the field takes the focus
    // when they open again.
    if (converting_) w->setEnabled(true);
    activateWindow();
    w->setFocus(Qt::OtherFocusReason);
    focusAfterRun_ = w;
}

void MainWindow::setBusyPointer(bool busy) { pointer_->setValue(busy ? WindowPointer::Busy : WindowPointer::Default); }

// ---- buttons ------------------------------------------------------------------

void MainWindow::startConversion() {
    // A click while the run yields asks it to stop.
    if (converting_) return requestStop();
    if (!runStarter_) runStarter_ = makeRunStarter(*this);
    converting_ = true;
    stopRequested_ = closeAfterRun_ = false;
    showRunning(true);
    struct Reset {
        MainWindow& w;
        ~Reset() {
            w.converting_ = false;
            w.showRunning(false);
            if (w.focusAfterRun_) w.focusAfterRun_->setFocus(Qt::OtherFocusReason);
            w.focusAfterRun_ = nullptr;
        }
    } reset{*this};
    runStarter_->start(runSelection());
    if (closeAfterRun_) QTimer::singleShot(0, this, [this] { close(); });
}

}  // namespace tp::app
