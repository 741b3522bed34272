#include "preview/form2.h"

#include <QAction>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <stdexcept>

#include "convert/host.h"
#include "db/ado.h"
#include "preview/find_replace_dialog.h"
#include "preview/form4.h"
#include "host/app_title.h"
#include "host/error_report.h"
#include "host/events.h"
#include "host/message_box.h"
#include "ui/clipboard.h"
#include "ui/pointer.h"
#include "host/shell.h"
#include "host/utilities.h"

namespace tp::preview {

namespace {

constexpr int kColumnWidthPx = 467;   // 7000 twips at 96 dots per inch
const char* const kListTip =
    "Click item to edit it. Move | line to right and out of window to reveal full names.";
const char* const kPasteHint =
    "Click a text area where you normally type and press Ctrl+V to paste the clipboard.";

bool blankText(std::string_view s) {
    return s.find_first_not_of(' ') == std::string_view::npos;
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAccessibleName(b->text());
    b->setAutoDefault(false);
    return b;
}

}  // namespace

Form2::Form2(std::function<db::Connection*()> connection,
             std::function<void(QWidget*)> showDatatypes)
    : QDialog(nullptr), connection_(std::move(connection)),
      showDatatypes_(std::move(showDatatypes)) {
    setObjectName(QStringLiteral("Form2"));
    buildControls();
}

Form2::~Form2() = default;

void Form2::buildControls() {
    ListView1 = new QTableView(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(QStringLiteral("SQL Preview"));
    ListView1->setToolTip(QString::fromUtf8(kListTip));
    ListView1->setModel(&model_);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab and Shift+Tab leave the list for the buttons; Enter or F2 opens
    // the line editor on the current line.
    ListView1->setTabKeyNavigation(false);
    ListView1->installEventFilter(this);
    ListView1->setWordWrap(false);
    ListView1->setShowGrid(false);
    ListView1->setTextElideMode(Qt::ElideRight);
    ListView1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ListView1->verticalHeader()->setDefaultSectionSize(ListView1->fontMetrics().height() + 4);
    ListView1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ListView1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    ListView1->horizontalHeader()->setStretchLastSection(false);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu menu(this);
        QAction* all = menu.addAction(QStringLiteral("Check All"));
        QAction* none = menu.addAction(QStringLiteral("Uncheck All"));
        QAction* chosen = menu.exec(ListView1->viewport()->mapToGlobal(at));
        if (chosen == all) model_.setAllChecked(true);
        if (chosen == none) model_.setAllChecked(false);
    });
    // A click that ticks a line's check box is not a click to edit it.
    connect(&model_, &StatementModel::checkToggled, this, [this] { checkToggled_ = true; });
    connect(ListView1, &QAbstractItemView::pressed, this, [this] { checkToggled_ = false; });
    connect(ListView1, &QAbstractItemView::clicked, this, [this] {
        if (checkToggled_) {
            checkToggled_ = false;
            return;
        }
        ListView1_Click();
    });

    PushButton1 = makeButton(this, "PushButton1", "Execute SQL");
    PushButton2 = makeButton(this, "PushButton2", "Copy SQL To Clipboard");
    PushButton3 = makeButton(this, "PushButton3", "Find and Replace");
    PushButton4 = makeButton(this, "PushButton4", "Copy Error Message To Clipboard");
    PushButton5 = makeButton(this, "PushButton5", "< Back");
    PushButton6 = makeButton(this, "PushButton6", "Jump To Error Line");
    PushButton7 = makeButton(this, "PushButton7", "View Datatype Conversion");
    PushButton8 = makeButton(this, "PushButton8", "Email Error Message To Brindlewood");
    PushButton9 = makeButton(this, "PushButton9", "Skip Table / Do Not Execute SQL");
    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
    connect(PushButton4, &QPushButton::clicked, this, [this] { PushButton4_Click(); });
    connect(PushButton5, &QPushButton::clicked, this, [this] { PushButton5_Click(); });
    connect(PushButton6, &QPushButton::clicked, this, [this] { PushButton6_Click(); });
    connect(PushButton7, &QPushButton::clicked, this, [this] { PushButton7_Click(); });
    connect(PushButton8, &QPushButton::clicked, this, [this] { PushButton8_Click(); });
    connect(PushButton9, &QPushButton::clicked, this, [this] { PushButton9_Click(); });

    Frame2 = new QGroupBox(QStringLiteral("Error:"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame2->setAccessibleName(Frame2->title());
    Text1 = new QPlainTextEdit(Frame2);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setAccessibleName(QStringLiteral("Error:"));
    Text1->setReadOnly(true);
    Text1->installEventFilter(this);
    Text1->setFixedHeight(Text1->fontMetrics().height() * 4 + 12);
    auto* frameLayout = new QVBoxLayout(Frame2);
    frameLayout->addWidget(Text1);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setAccessibleName(QStringLiteral("Progress Bar"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setTextVisible(true);
    ProgressBar1->setAlignment(Qt::AlignCenter);
    resetProgress();

    auto* grid = new QGridLayout(this);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {PushButton1, PushButton3, PushButton7, PushButton2, PushButton6,
                           PushButton4, PushButton8, PushButton9, PushButton5}) {
        b->setMinimumHeight(30);
        buttons->addWidget(b);
        if (b == PushButton7 || b == PushButton8) buttons->addSpacing(12);
    }
    buttons->addStretch(1);
    grid->addWidget(ListView1, 0, 0);
    grid->addLayout(buttons, 0, 1);
    grid->addWidget(Frame2, 1, 0, 1, 2);
    grid->addWidget(ProgressBar1, 2, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setRowStretch(0, 1);
    resize(860, 600);

    pointer_ = new WindowPointer(this);
    for (QPushButton* b : {PushButton1, PushButton2, PushButton3, PushButton4, PushButton5,
                           PushButton6, PushButton7, PushButton8, PushButton9})
        pointer_->watchButton(b);
    pointer_->watchPassive(ListView1);
    pointer_->watchPassive(ListView1->viewport());
    pointer_->watchPassive(Frame2);
}

bool Form2::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Text1 && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, Text1, &QPlainTextEdit::selectAll);
    if (watched == ListView1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_F2) {
            const QModelIndex current = ListView1->currentIndex();
            if (current.isValid()) {
                ListView1->selectionModel()->select(
                    current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
                ListView1_Click();
            }
            return true;   // not the dialog's default button
        }
    }
    return QDialog::eventFilter(watched, event);
}

void Form2::ensureLoaded() {
    if (!loaded_) Form_Load();
}

void Form2::Form_Load() {
    loaded_ = true;
    Procedure p("Form2", "Form_Load");
    p(100, [&] { SetFormColors(this); });
    p(104, [&] { setWindowIcon(appIcon()); });
    p(106, [&] { setWindowTitle(QStringLiteral("SQL Preview - ") + QString::fromUtf8(kProductTitle)); });
    if (p.test(108, [&] { return FileExists(handPointerPath()); }))
        p(110, [&] { pointer_->setCustomImage(loadCursorFile(handPointerPath())); });
    p(114, [&] { model_.setColumnTitle(QStringLiteral("SQL Preview")); });
    p(116, [&] { ListView1->setColumnWidth(0, kColumnWidthPx); });
}

void Form2::unload() {
    loaded_ = false;
    model_.clear();
    model_.setColumnTitle({});
    Text1->clear();
    resetProgress();
    pointer_->setValue(WindowPointer::Default);
#ifdef __GLIBC__
    // A preview of millions of lines freed many small blocks: hand the free
    // pages back to the system, not only to the allocator.
    ::malloc_trim(0);
#endif
}

void Form2::showModal(QWidget* owner) {
    ensureLoaded();
    model_.flush();
    setParent(owner, windowFlags() | Qt::Dialog);
    setWindowModality(Qt::WindowModal);
    exec();
    // The window outlives its owner's children: keep it out of their tree.
    setParent(nullptr, windowFlags() | Qt::Dialog);
}

void Form2::done(int result) {
    // Escape while executing: stop as "< Back" does.
    if (executing_ && !closing_) {
        requestStop(Stop::Back);
        return;
    }
    unload();
    QDialog::done(result);
}

void Form2::closeEvent(QCloseEvent* event) {
    if (executing_ && !closing_) {
        requestStop(Stop::Back);
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

bool Form2::refuseWhileBusy() const { return executing_; }

bool Form2::isBusy() const { return pointer_->value() == WindowPointer::Busy; }

std::string Form2::errorText() const { return Text1->toPlainText().toStdString(); }

int Form2::progressValue() const { return ProgressBar1->value(); }

std::string Form2::progressText() const { return ProgressBar1->format().toStdString(); }

void Form2::resetProgress() {
    ProgressBar1->setValue(0);
    ProgressBar1->setFormat(QStringLiteral("Progress Bar"));
}

void Form2::selectLine(int line) {
    model_.flush();
    if (line < 1 || line > model_.rowCount()) throw std::out_of_range("Index out of bounds");
    const QModelIndex at = model_.index(line - 1, 0);
    ListView1->selectionModel()->setCurrentIndex(
        at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// ---- Execute SQL ----------------------------------------------------------

void Form2::PushButton1_Click() {
    if (refuseWhileBusy()) return;
    Procedure p("Form2", "PushButton1_Click");
    model_.flush();
    if (p.test(100, [&] { return model_.count() == 0; })) {
        p(102, [] { msgBox("No SQL to run."); });
        return;
    }
    executing_ = true;
    stop_ = Stop::None;
    QPointer<Form2> alive(this);
    p(106, [&] { pointer_->setValue(WindowPointer::Busy); });
    // The lines are one unit on the target: a failure, or Back, Skip or the
    // close box meanwhile, undoes every line this command ran, so the
    // target is as it was before the click and a repaired list can run
    // again from line 1.
    db::Connection* target = nullptr;
    bool inUnit = false;
    const int total = model_.count();
    int last = 0;
    for (int n = 1; n <= total; ++n) {
        p(110, [] { DoEvents(); });
        if (!alive) return;
        if (stop_ != Stop::None) {
            if (inUnit) undoExecution(target);
            const Stop how = stop_;
            stop_ = Stop::None;
            p(138, [&] { pointer_->setValue(WindowPointer::Default); });
            p(140, [&] { resetProgress(); });
            executing_ = false;
            if (how == Stop::Skip) PushButton9_Click();
            else PushButton5_Click();
            return;
        }
        const int now = model_.count();
        if (n > now) break;
        p(112, [&] {
            ProgressBar1->setValue(static_cast<int>(
                std::lround(static_cast<double>(n) / static_cast<double>(now) * 100.0)));
        });
        p(114, [&] {
            ProgressBar1->setFormat(QStringLiteral("Please wait.. Processing row: %1 of %2")
                                        .arg(n)
                                        .arg(now));
        });
        const std::string_view text = model_.lineView(n - 1);
        if (blankText(text)) continue;
        last = n;
        // Every failure of the target's Execute is captured, whatever its
        // description says: the line is shown and the command stops.
        try {
            if (!inUnit) {
                target = connection_ ? connection_() : nullptr;
                if (!target)
                    throw db::Error(db::Error::kObjectClosed,
                                    "Operation is not allowed when the object is closed.");
                target->BeginTrans();
                inUnit = true;
            }
            target->Execute(text);
        } catch (...) {
            const std::string description = currentErrorDescription();
            if (inUnit) undoExecution(target);
            captureFailure(n, description);
            return;
        }
    }
    if (inUnit) {
        try {
            target->CommitTrans();
        } catch (...) {
            const std::string description = currentErrorDescription();
            undoExecution(target);
            captureFailure(last, description);
            return;
        }
    }
    p(120, [] { convert::previewFlags().SQLFormOK = true; });
    p(122, [&] { pointer_->setValue(WindowPointer::Default); });
    p(124, [&] { resetProgress(); });
    executing_ = false;
    closing_ = true;
    p(126, [&] { accept(); });
    closing_ = false;
}

void Form2::undoExecution(db::Connection* target) {
    Procedure p("Form2", "PushButton1_Click");
    p(130, [&] { target->RollbackTrans(); });
}

bool Form2::requestStop(Stop how) {
    if (!executing_) return false;
    if (stop_ == Stop::None) stop_ = how;
    return true;
}

void Form2::captureFailure(int line, const std::string& description) {
    Procedure p("Form2", "PushButton1_Click");
    errorLine_ = line;
    p(132, [&] { selectLine(line); });
    p(134, [&] { ListView1->scrollTo(model_.index(line - 1, 0), QAbstractItemView::PositionAtCenter); });
    p(136, [&] { Text1->setPlainText(QString::fromStdString(description)); });
    p(138, [&] { pointer_->setValue(WindowPointer::Default); });
    p(140, [&] { resetProgress(); });
    executing_ = false;
    p(142, [] { msgBox("Error found."); });
}

// ---- Tools ----------------------------------------------------------------

void Form2::PushButton2_Click() {
    Procedure p("Form2", "PushButton2_Click");
    p(100, [&] {
        model_.flush();
        CopyListViewToClipboard(model_);
    });
    p(102, [] {
        msgBox(std::string("Results have been copied to the clipboard.") + "\r\r" + kPasteHint);
    });
}

void Form2::PushButton3_Click() {
    if (refuseWhileBusy()) return;
    Procedure p("Form2", "PushButton3_Click");
    p(100, [&] {
        model_.flush();
        FindReplaceDialog window(model_, this);
        window.exec();
    });
}

void Form2::PushButton4_Click() {
    Procedure p("Form2", "PushButton4_Click");
    const std::string text = p.value(100, [&] { return errorText(); }, std::string());
    if (blankText(text)) return;
    p(102, [] { ClearClipboard(); });
    p(104, [&] { SetClipboardText(text, 0); });
    p(106, [] {
        msgBox(std::string("Error message have been copied to the clipboard.") + "\r\r" + kPasteHint);
    });
}

void Form2::PushButton5_Click() {
    if (requestStop(Stop::Back)) return;
    Procedure p("Form2", "PushButton5_Click");
    p(100, [&] { reject(); });
}

void Form2::PushButton6_Click() {
    Procedure p("Form2", "PushButton6_Click");
    if (p.test(100, [&] { return model_.count() == 0 || errorLine_ <= 0; })) return;
    p(102, [&] { selectLine(errorLine_); });
    p(104, [&] {
        ListView1->scrollTo(model_.index(errorLine_ - 1, 0), QAbstractItemView::PositionAtCenter);
    });
}

void Form2::PushButton7_Click() {
    Procedure p("Form2", "PushButton7_Click");
    p(100, [&] {
        if (showDatatypes_) showDatatypes_(this);
    });
}

std::string Form2::supportMailAddress(const std::string& errorText) {
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

std::string Form2::supportMailUrl(const std::string& errorText) {
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

void Form2::PushButton8_Click() {
    Procedure p("Form2", "PushButton8_Click");
    const std::string text = p.value(100, [&] { return errorText(); }, std::string());
    if (blankText(text)) return;
    const std::string address = supportMailUrl(text);
    p(104, [&] { openUrl(address); });
}

void Form2::PushButton9_Click() {
    if (requestStop(Stop::Skip)) return;
    Procedure p("Form2", "PushButton9_Click");
    p(100, [] { convert::previewFlags().EndRunAfterPreview = false; });
    p(102, [&] { reject(); });
}

void Form2::ListView1_Click() {
    if (refuseWhileBusy()) return;
    const QModelIndexList rows = ListView1->selectionModel()->selectedRows();
    if (rows.isEmpty()) return;   // nothing selected: nothing to edit
    Form4::ListLine = rows.first().row() + 1;
    Form4 editor(model_, this);
    editor.setLineText(model_.line(Form4::ListLine - 1));
    editor.exec();
}

}  // namespace tp::preview
