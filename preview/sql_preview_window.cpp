#include "preview/sql_preview_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <stdexcept>

#include "convert/host.h"
#include "db/ado.h"
#include "preview/find_replace_dialog.h"
#include "preview/line_editor_dialog.h"
#include "preview/line_prefetch.h"
#include "host/app_title.h"
#include "host/error_report.h"
#include "host/events.h"
#include "host/message_box.h"
#include "ui/clipboard.h"
#include "ui/pointer.h"
#include "ui/window_keys.h"
#include "host/shell.h"
#include "host/utilities.h"

namespace tp::preview {

namespace {

int executionPercent(int line, int lines) {
    return static_cast<int>(std::lround(static_cast<double>(line) / static_cast<double>(lines) * 100.0));
}

QString executionText(int line, int lines) {
    return QStringLiteral("Please wait.. Processing row: %1 of %2").arg(line).arg(lines);
}

// The names the outside sees: object names (tests and screen readers find
// the controls by them) and the error report's location and procedures.
const QString kWindowName = QStringLiteral("Form2");
const QString kListName = QStringLiteral("ListView1");
const QString kExecuteName = QStringLiteral("PushButton1");
const QString kCopySqlName = QStringLiteral("PushButton2");
const QString kFindReplaceName = QStringLiteral("PushButton3");
const QString kCopyErrorName = QStringLiteral("PushButton4");
const QString kBackName = QStringLiteral("PushButton5");
const QString kJumpName = QStringLiteral("PushButton6");
const QString kDatatypesName = QStringLiteral("PushButton7");
const QString kMailName = QStringLiteral("PushButton8");
const QString kSkipName = QStringLiteral("PushButton9");
const QString kErrorGroupName = QStringLiteral("Frame2");
const QString kErrorTextName = QStringLiteral("Text1");
const QString kProgressName = QStringLiteral("ProgressBar1");
const QString kCheckAllName = QStringLiteral("CheckAllButton");
const QString kUncheckAllName = QStringLiteral("UncheckAllButton");
const QString kTableLabelName = QStringLiteral("lblTable");
constexpr const char* kReportWindow = "Form2";
constexpr const char* kLoadProcedure = "Form_Load";
constexpr const char* kExecuteProcedure = "PushButton1_Click";
constexpr const char* kCopySqlProcedure = "PushButton2_Click";
constexpr const char* kFindReplaceProcedure = "PushButton3_Click";
constexpr const char* kCopyErrorProcedure = "PushButton4_Click";
constexpr const char* kBackProcedure = "PushButton5_Click";
constexpr const char* kJumpProcedure = "PushButton6_Click";
constexpr const char* kDatatypesProcedure = "PushButton7_Click";
constexpr const char* kMailProcedure = "PushButton8_Click";
constexpr const char* kSkipProcedure = "PushButton9_Click";

}  // namespace

namespace {

constexpr int kColumnWidthPx = 467;  // 7000 twips at 96 dots per inch
const char* const kListTip = "Click item to edit it. Move | line to right and out of window to reveal full names.";
const char* const kPasteHint = "Click a text area where you normally type and press Ctrl+V to paste the clipboard.";

bool blankText(std::string_view s) { return s.find_first_not_of(' ') == std::string_view::npos; }

QPushButton* makeButton(QWidget* parent, const QString& name, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(name);
    b->setAccessibleName(b->text());
    b->setAutoDefault(false);
    return b;
}

}  // namespace

SqlPreviewWindow::SqlPreviewWindow(std::function<db::Connection*()> connection,
                                   std::function<void(QWidget*)> showDatatypes)
    : QDialog(nullptr), connection_(std::move(connection)), showDatatypes_(std::move(showDatatypes)) {
    setObjectName(kWindowName);
    buildControls();
}

SqlPreviewWindow::~SqlPreviewWindow() = default;

void SqlPreviewWindow::buildControls() {
    statementView = new QTableView(this);
    statementView->setObjectName(kListName);
    statementView->setAccessibleName(QStringLiteral("SQL Preview"));
    statementView->setToolTip(QString::fromUtf8(kListTip));
    statementView->setModel(&model_);
    statementView->setSelectionBehavior(QAbstractItemView::SelectRows);
    statementView->setSelectionMode(QAbstractItemView::SingleSelection);
    statementView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab and Shift+Tab leave the list for the buttons; Enter or F2 opens
    // the line editor on the current line.
    statementView->setTabKeyNavigation(false);
    statementView->installEventFilter(this);
    statementView->viewport()->installEventFilter(this);
    statementView->setWordWrap(false);
    statementView->setShowGrid(false);
    statementView->setTextElideMode(Qt::ElideRight);
    statementView->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    statementView->verticalHeader()->hide();
    statementView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    statementView->verticalHeader()->setDefaultSectionSize(statementView->fontMetrics().height() + 4);
    statementView->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    statementView->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    statementView->horizontalHeader()->setStretchLastSection(false);
    statementView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(statementView, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        QAction* all = menu.addAction(QStringLiteral("Check All"));
        QAction* none = menu.addAction(QStringLiteral("Uncheck All"));
        QAction* chosen = menu.exec(statementView->viewport()->mapToGlobal(at));
        if (chosen == all) model_.setAllChecked(true);
        if (chosen == none) model_.setAllChecked(false);
    });
    // A click that ticks a line's check box is not a click to edit it.
    connect(&model_, &StatementModel::checkToggled, this, [this] { checkToggled_ = true; });
    connect(statementView, &QAbstractItemView::pressed, this, [this] { checkToggled_ = false; });
    connect(statementView, &QAbstractItemView::clicked, this, [this] {
        if (checkToggled_) {
            checkToggled_ = false;
            return;
        }
        editSelectedLine();
    });

    executeButton = makeButton(this, kExecuteName, "Execute SQL");
    copySqlButton = makeButton(this, kCopySqlName, "Copy SQL To Clipboard");
    findReplaceButton = makeButton(this, kFindReplaceName, "Find and Replace");
    copyErrorButton = makeButton(this, kCopyErrorName, "Copy Error Message To Clipboard");
    backButton = makeButton(this, kBackName, "< Back");
    jumpToErrorButton = makeButton(this, kJumpName, "Jump To Error Line");
    datatypesButton = makeButton(this, kDatatypesName, "View Datatype Conversion");
    mailErrorButton = makeButton(this, kMailName, "Email Error Message To Brindlewood");
    skipButton = makeButton(this, kSkipName, "Skip Table / Do Not Execute SQL");
    connect(executeButton, &QPushButton::clicked, this, [this] { executeSql(); });
    connect(copySqlButton, &QPushButton::clicked, this, [this] { copySql(); });
    connect(findReplaceButton, &QPushButton::clicked, this, [this] { findAndReplace(); });
    connect(copyErrorButton, &QPushButton::clicked, this, [this] { copyErrorMessage(); });
    connect(backButton, &QPushButton::clicked, this, [this] { back(); });
    connect(jumpToErrorButton, &QPushButton::clicked, this, [this] { jumpToErrorLine(); });
    connect(datatypesButton, &QPushButton::clicked, this, [this] { viewDatatypes(); });
    connect(mailErrorButton, &QPushButton::clicked, this, [this] { mailErrorMessage(); });
    connect(skipButton, &QPushButton::clicked, this, [this] { skipTable(); });

    errorGroup = new QGroupBox(QStringLiteral("Error:"), this);
    errorGroup->setObjectName(kErrorGroupName);
    errorGroup->setAccessibleName(errorGroup->title());
    errorEdit = new QPlainTextEdit(errorGroup);
    errorEdit->setObjectName(kErrorTextName);
    errorEdit->setAccessibleName(QStringLiteral("Error:"));
    errorEdit->setReadOnly(true);
    errorEdit->installEventFilter(this);
    errorEdit->setFixedHeight(errorEdit->fontMetrics().height() * 4 + 12);
    auto* frameLayout = new QVBoxLayout(errorGroup);
    frameLayout->addWidget(errorEdit);

    progressBar = new QProgressBar(this);
    progressBar->setObjectName(kProgressName);
    progressBar->setAccessibleName(QStringLiteral("Progress Bar"));
    progressBar->setRange(0, 100);
    progressBar->setTextVisible(true);
    progressBar->setAlignment(Qt::AlignCenter);
    resetProgress();

    buildLayout();

    pointer_ = new WindowPointer(this);
    for (QPushButton* b : {executeButton, copySqlButton, findReplaceButton, copyErrorButton, backButton,
                           jumpToErrorButton, datatypesButton, mailErrorButton, skipButton})
        pointer_->watchButton(b);
    pointer_->watchPassive(statementView);
    pointer_->watchPassive(statementView->viewport());
    pointer_->watchPassive(errorGroup);
    pressFocusedButtonOnEnter(this);
    ignoreInputJustAfterOpening(this);
}

void SqlPreviewWindow::buildLayout() {
    tableLabel = new QLabel(this);
    tableLabel->setObjectName(kTableLabelName);
    tableLabel->setAccessibleName(QStringLiteral("Table"));
    QFont bold = tableLabel->font();
    bold.setBold(true);
    tableLabel->setFont(bold);
    checkAllButton = makeButton(this, kCheckAllName, "Check All");
    checkAllButton->setAccessibleDescription(QStringLiteral("Tick every line for Copy SQL To Clipboard (Ctrl+A)"));
    uncheckAllButton = makeButton(this, kUncheckAllName, "Uncheck All");
    uncheckAllButton->setAccessibleDescription(QStringLiteral("Untick every line"));
    connect(checkAllButton, &QPushButton::clicked, this, [this] { checkAll(true); });
    connect(uncheckAllButton, &QPushButton::clicked, this, [this] { checkAll(false); });
    auto* ticks = new QHBoxLayout;
    ticks->addWidget(new QLabel(QStringLiteral("Copy SQL copies the ticked lines:"), this));
    ticks->addWidget(checkAllButton);
    ticks->addWidget(uncheckAllButton);
    ticks->addStretch(1);

    auto* grid = new QGridLayout(this);
    auto* buttons = new QVBoxLayout;
    const QList<QPushButton*> column = {executeButton,   findReplaceButton, datatypesButton,
                                        copySqlButton,   jumpToErrorButton, copyErrorButton,
                                        mailErrorButton, skipButton,        backButton};
    for (QPushButton* b : column) {
        b->setMinimumHeight(30);
        buttons->addWidget(b);
        if (b == datatypesButton || b == mailErrorButton) buttons->addSpacing(12);
    }
    buttons->addStretch(1);
    grid->addWidget(tableLabel, 0, 0, 1, 2);
    grid->addWidget(statementView, 1, 0);
    grid->addLayout(buttons, 1, 1);
    grid->addLayout(ticks, 2, 0, 1, 2);
    grid->addWidget(errorGroup, 3, 0, 1, 2);
    grid->addWidget(progressBar, 4, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(1, 1);
    resize(860, 600);

    // Tab order follows the layout: the list, the button column from the
    // top, the tick buttons under the list, the error box.
    QWidget* previous = statementView;
    for (QWidget* w : std::initializer_list<QWidget*>{executeButton, findReplaceButton, datatypesButton, copySqlButton,
                                                      jumpToErrorButton, copyErrorButton, mailErrorButton, skipButton,
                                                      backButton, checkAllButton, uncheckAllButton, errorEdit}) {
        setTabOrder(previous, w);
        previous = w;
    }
}

// The single column is as wide as the list (at least its 7000 twips), so
// statements use the whole window; the user may still drag it wider until
// the list's size changes.
void SqlPreviewWindow::fitColumnToView() {
    if (!loaded_) return;
    const int wanted = std::max(kColumnWidthPx, statementView->viewport()->width());
    if (statementView->columnWidth(0) != wanted) statementView->setColumnWidth(0, wanted);
}

void SqlPreviewWindow::setTableName(const std::string& name) {
    tableLabel->setText(name.empty() ? QStringLiteral("All tables of this run")
                                     : QStringLiteral("Table: ") + QString::fromStdString(name));
}

void SqlPreviewWindow::checkAll(bool checked) {
    model_.flush();
    model_.setAllChecked(checked);
}

bool SqlPreviewWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == errorEdit && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, errorEdit, &QPlainTextEdit::selectAll);
    if (watched == statementView->viewport() && event->type() == QEvent::Resize) fitColumnToView();
    if (watched == statementView && event->type() == QEvent::KeyPress) {
        const auto* keyEvent = static_cast<QKeyEvent*>(event);
        if (keyEvent->matches(QKeySequence::SelectAll)) {  // Ctrl+A ticks every line
            checkAll(true);
            return true;
        }
        const int key = keyEvent->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_F2) {
            const QModelIndex current = statementView->currentIndex();
            if (current.isValid()) {
                statementView->selectionModel()->select(
                    current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
                editSelectedLine();
            }
            return true;  // not the dialog's default button
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SqlPreviewWindow::ensureLoaded() {
    if (!loaded_) load();
}

void SqlPreviewWindow::load() {
    loaded_ = true;
    Procedure p(kReportWindow, kLoadProcedure);
    p(100, [&] { applyWindowColors(this); });
    p(104, [&] { setWindowIcon(appIcon()); });
    p(106, [&] { setWindowTitle(QStringLiteral("SQL Preview - ") + QString::fromUtf8(kProductTitle)); });
    if (p.test(108, [&] { return fileExists(handPointerPath()); }))
        p(110, [&] { pointer_->setCustomImage(loadCursorFile(handPointerPath())); });
    p(114, [&] { model_.setColumnTitle(QStringLiteral("SQL Preview")); });
    p(116, [&] { statementView->setColumnWidth(0, kColumnWidthPx); });
    fitColumnToView();
}

void SqlPreviewWindow::unload() {
    loaded_ = false;
    model_.clear();
    model_.setColumnTitle({});
    errorEdit->clear();
    resetProgress();
    pointer_->setValue(WindowPointer::Default);
#ifdef __GLIBC__
    // A preview of millions of lines freed many small blocks: hand the free
    // pages back to the system, not only to the allocator.
    ::malloc_trim(0);
#endif
}

void SqlPreviewWindow::showModal(QWidget* owner, convert::PreviewFlags* outcome) {
    outcome_ = outcome ? outcome : &ownOutcome_;
    ensureLoaded();
    model_.flush();
    setParent(owner, windowFlags() | Qt::Dialog);
    setWindowModality(Qt::WindowModal);
    // Each preview starts on its statements, whatever closed the last one.
    statementView->setFocus(Qt::OtherFocusReason);
    if (model_.rowCount() > 0 && !statementView->currentIndex().isValid())
        statementView->selectionModel()->setCurrentIndex(model_.index(0, 0), QItemSelectionModel::NoUpdate);
    exec();
    outcome_ = &ownOutcome_;
    // The window outlives its owner's children: keep it out of their tree.
    setParent(nullptr, windowFlags() | Qt::Dialog);
}

void SqlPreviewWindow::done(int result) {
    // Escape while executing: stop as "< Back" does.
    if (executing_ && !closing_) {
        requestStop(Stop::Back);
        return;
    }
    unload();
    QDialog::done(result);
}

void SqlPreviewWindow::closeEvent(QCloseEvent* event) {
    if (executing_ && !closing_) {
        requestStop(Stop::Back);
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

bool SqlPreviewWindow::refuseWhileBusy() const { return executing_; }

bool SqlPreviewWindow::isBusy() const { return pointer_->value() == WindowPointer::Busy; }

std::string SqlPreviewWindow::errorText() const { return errorEdit->toPlainText().toStdString(); }

// What the bar shows, or shows at its next paint.
int SqlPreviewWindow::progressValue() const {
    return progressLine_ ? executionPercent(progressLine_, progressLines_) : progressBar->value();
}

std::string SqlPreviewWindow::progressText() const {
    return (progressLine_ ? executionText(progressLine_, progressLines_) : progressBar->format()).toStdString();
}

void SqlPreviewWindow::resetProgress() {
    progressLine_ = 0;
    progressBar->setValue(0);
    progressBar->setFormat(QStringLiteral("Progress Bar"));
}

void SqlPreviewWindow::selectLine(int line) {
    model_.flush();
    if (line < 1 || line > model_.rowCount()) throw std::out_of_range("Index out of bounds");
    const QModelIndex at = model_.index(line - 1, 0);
    statementView->selectionModel()->setCurrentIndex(at,
                                                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// ---- Execute SQL ----------------------------------------------------------

// The lines Execute SQL has run so far: one unit on the target.
struct SqlPreviewWindow::ExecutionUnit {
    db::Connection* target = nullptr;
    bool open = false;  // BeginTrans done
    int last = 0;       // the last line run (1-based)
};

void SqlPreviewWindow::executeSql() {
    if (refuseWhileBusy()) return;
    Procedure p(kReportWindow, kExecuteProcedure);
    model_.flush();
    if (p.test(100, [&] { return model_.count() == 0; })) {
        p(102, [] { msgBox("No SQL to run."); });
        return;
    }
    executing_ = true;
    stop_ = Stop::None;
    QPointer<SqlPreviewWindow> alive(this);
    p(106, [&] { pointer_->setValue(WindowPointer::Busy); });
    // The lines are one unit on the target: a failure, or Back, Skip or the
    // close box meanwhile, undoes every line this command ran, so the
    // target is as it was before the click and a repaired list can run
    // again from line 1.
    ExecutionUnit unit;
    // The progress is set when the window may paint next, as the last line
    // left it.
    struct ProgressAtPumps {
        explicit ProgressAtPumps(QPointer<SqlPreviewWindow> w) {
            setBeforePump([w] {
                if (w) w->applyExecutionProgress();
            });
        }
        ~ProgressAtPumps() { setBeforePump(nullptr); }
    } progressAtPumps(alive);
    const int total = model_.count();
    // INSERT lines are prepared for the target ahead, on a second thread.
    LinePrefetch ahead([this](int i) { return i <= model_.count() ? model_.lineView(i - 1) : std::string_view{}; },
                       total);
    for (int n = 1; n <= total; ++n) {
        p(110, [] { pumpEvents(); });
        if (!alive) return;
        if (stop_ != Stop::None) {
            stopExecution(p, unit);
            return;
        }
        const int now = model_.count();
        if (n > now) break;
        showExecutionProgress(n, now);
        const std::string_view text = model_.lineView(n - 1);
        if (blankText(text)) continue;
        unit.last = n;
        db::PreparedStatement* prepared = ahead.take(n, text);
        if (!executeLine(unit, n, text, prepared)) return;
        if (!prepared || !prepared->ranPrepared) ahead.ranUnprepared(*unit.target, n);
    }
    if (unit.open && !commitUnit(unit)) return;
    p(120, [&] { outcome_->sqlExecuted = true; });
    p(122, [&] { pointer_->setValue(WindowPointer::Default); });
    p(124, [&] { resetProgress(); });
    executing_ = false;
    closing_ = true;
    p(126, [&] { accept(); });
    closing_ = false;
}

void SqlPreviewWindow::showExecutionProgress(int line, int lines) {
    progressLine_ = line;
    progressLines_ = lines;
}

void SqlPreviewWindow::applyExecutionProgress() {
    if (progressLine_ == 0) return;
    const int line = progressLine_, lines = progressLines_;
    progressLine_ = 0;
    Procedure p(kReportWindow, kExecuteProcedure);
    p(112, [&] { progressBar->setValue(executionPercent(line, lines)); });
    p(114, [&] { progressBar->setFormat(executionText(line, lines)); });
}

// Every failure of the target's Execute is captured, whatever its
// description says: the line is shown and the command stops.
bool SqlPreviewWindow::executeLine(ExecutionUnit& unit, int line, std::string_view text,
                                   db::PreparedStatement* prepared) {
    try {
        if (!unit.open) {
            unit.target = connection_ ? connection_() : nullptr;
            if (!unit.target)
                throw db::Error(db::Error::kObjectClosed, "Operation is not allowed when the object is closed.");
            unit.target->BeginTrans();
            unit.open = true;
        }
        unit.target->Execute(text, prepared);
        return true;
    } catch (...) {
        const std::string description = currentErrorDescription();
        if (unit.open) undoExecution(unit.target);
        captureFailure(line, description);
        return false;
    }
}

bool SqlPreviewWindow::commitUnit(ExecutionUnit& unit) {
    try {
        unit.target->CommitTrans();
        return true;
    } catch (...) {
        const std::string description = currentErrorDescription();
        undoExecution(unit.target);
        captureFailure(unit.last, description);
        return false;
    }
}

void SqlPreviewWindow::stopExecution(Procedure& p, ExecutionUnit& unit) {
    if (unit.open) {
        undoExecution(unit.target);
        outcome_->executionUndone = true;
    }
    const Stop how = stop_;
    stop_ = Stop::None;
    p(138, [&] { pointer_->setValue(WindowPointer::Default); });
    p(140, [&] { resetProgress(); });
    executing_ = false;
    if (how == Stop::Skip) skipTable();
    else back();
}

void SqlPreviewWindow::undoExecution(db::Connection* target) {
    Procedure p(kReportWindow, kExecuteProcedure);
    p(130, [&] { target->RollbackTrans(); });
}

bool SqlPreviewWindow::requestStop(Stop how) {
    if (!executing_) return false;
    if (stop_ == Stop::None) stop_ = how;
    return true;
}

void SqlPreviewWindow::captureFailure(int line, const std::string& description) {
    Procedure p(kReportWindow, kExecuteProcedure);
    errorLine_ = line;
    p(132, [&] { selectLine(line); });
    p(134, [&] { statementView->scrollTo(model_.index(line - 1, 0), QAbstractItemView::PositionAtCenter); });
    p(136, [&] { errorEdit->setPlainText(QString::fromStdString(description)); });
    p(138, [&] { pointer_->setValue(WindowPointer::Default); });
    p(140, [&] { resetProgress(); });
    executing_ = false;
    p(142, [] { msgBox("Error found."); });
}

// ---- Tools ----------------------------------------------------------------

void SqlPreviewWindow::copySql() {
    Procedure p(kReportWindow, kCopySqlProcedure);
    model_.flush();
    bool anyTicked = false;
    for (int i = 0; i < model_.count() && !anyTicked; ++i) anyTicked = model_.isChecked(i);
    if (!anyTicked) {  // nothing to copy: said so, the clipboard left alone
        p(100, [] {
            msgBox(
                "No line is ticked, so nothing was copied.\r\rTick the lines to copy in the list, or press "
                "\"Check All\" (Ctrl+A) to tick them all.");
        });
        statementView->setFocus(Qt::OtherFocusReason);
        return;
    }
    p(100, [&] { copyListViewToClipboard(model_); });
    p(102, [] { msgBox(std::string("Results have been copied to the clipboard.") + "\r\r" + kPasteHint); });
}

void SqlPreviewWindow::findAndReplace() {
    if (refuseWhileBusy()) return;
    Procedure p(kReportWindow, kFindReplaceProcedure);
    p(100, [&] {
        model_.flush();
        FindReplaceDialog window(model_, this);
        window.exec();
    });
}

void SqlPreviewWindow::copyErrorMessage() {
    Procedure p(kReportWindow, kCopyErrorProcedure);
    const std::string text = p.value(
        100, [&] { return errorText(); }, std::string());
    if (blankText(text)) return;
    p(102, [] { clearClipboard(); });
    p(104, [&] { setClipboardText(text, 0); });
    p(106, [] { msgBox(std::string("Error message have been copied to the clipboard.") + "\r\r" + kPasteHint); });
}

void SqlPreviewWindow::back() {
    if (requestStop(Stop::Back)) return;
    Procedure p(kReportWindow, kBackProcedure);
    p(100, [&] { reject(); });
}

void SqlPreviewWindow::jumpToErrorLine() {
    Procedure p(kReportWindow, kJumpProcedure);
    if (p.test(100, [&] { return model_.count() == 0 || errorLine_ <= 0; })) return;
    p(102, [&] { selectLine(errorLine_); });
    p(104, [&] { statementView->scrollTo(model_.index(errorLine_ - 1, 0), QAbstractItemView::PositionAtCenter); });
}

void SqlPreviewWindow::viewDatatypes() {
    Procedure p(kReportWindow, kDatatypesProcedure);
    p(100, [&] {
        if (showDatatypes_) showDatatypes_(this);
    });
}

std::string SqlPreviewWindow::supportMailAddress(const std::string& errorText) {
    std::string address = "mailto:";
    address += kSupportEmail;
    address += "?subject=";
    address += kProductTitle;
    address += '&';
    address += "body=Here is the error message that I get: ";
    address += '\n';
    address += errorText;
    return address;
}

std::string SqlPreviewWindow::supportMailUrl(const std::string& errorText) {
    auto encoded = [](const std::string& value) {
        return QUrl::toPercentEncoding(QString::fromStdString(value)).toStdString();
    };
    std::string address = "mailto:";
    address += kSupportEmail;
    address += "?subject=";
    address += encoded(kProductTitle);
    address += '&';
    address += "body=";
    address += encoded(std::string("Here is the error message that I get: ") + '\n' + errorText);
    return address;
}

void SqlPreviewWindow::mailErrorMessage() {
    Procedure p(kReportWindow, kMailProcedure);
    const std::string text = p.value(
        100, [&] { return errorText(); }, std::string());
    if (blankText(text)) return;
    const std::string address = supportMailUrl(text);
    bool opened = false;
    p(104, [&] { opened = openUrl(address); });
    if (opened) return;
    // No mail program: the text goes to the clipboard, and the address is
    // shown so that the user can write from wherever they mail.
    p(106, [] { clearClipboard(); });
    p(108, [&] { setClipboardText(text, 0); });
    p(110, [] {
        msgBox(std::string("No mail program could be opened.\r\rThe error message is on the clipboard: paste it into "
                           "a mail to ") +
               kSupportEmail + " (subject \"" + kProductTitle + "\").");
    });
}

void SqlPreviewWindow::skipTable() {
    if (requestStop(Stop::Skip)) return;
    Procedure p(kReportWindow, kSkipProcedure);
    p(100, [&] { outcome_->endRunAfterPreview = false; });
    p(102, [&] { reject(); });
}

void SqlPreviewWindow::editSelectedLine() {
    if (refuseWhileBusy()) return;
    const QModelIndexList rows = statementView->selectionModel()->selectedRows();
    if (rows.isEmpty()) return;  // nothing selected: nothing to edit
    editedLine_ = rows.first().row() + 1;
    LineEditorDialog editor(model_, editedLine_, this);
    editor.setLineText(model_.line(editedLine_ - 1));
    editor.exec();
}

}  // namespace tp::preview
