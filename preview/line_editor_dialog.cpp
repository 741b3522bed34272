#include "preview/line_editor_dialog.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include "preview/statement_model.h"
#include "host/app_title.h"
#include "host/error_report.h"
#include "ui/pointer.h"
#include "ui/window_keys.h"
#include "host/utilities.h"

namespace tp::preview {

namespace {

// The names the outside sees: object names (tests and screen readers find
// the controls by them) and the error report's location and procedures.
const QString kWindowName = QStringLiteral("Form4");
const QString kTextName = QStringLiteral("Text1");
const QString kOkName = QStringLiteral("PushButton2");
const QString kCancelName = QStringLiteral("PushButton1");
constexpr const char* kReportWindow = "Form4";
constexpr const char* kLoadProcedure = "Form_Load";
constexpr const char* kOkProcedure = "PushButton2_Click";
constexpr const char* kCancelProcedure = "PushButton1_Click";

}  // namespace

QString LineEditorDialog::oneLine(QString text) {
    // Line breaks (pasted ones too) become blanks: the statement stays one
    // line of the list and its words stay apart.
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    for (QChar c : {QChar('\r'), QChar('\n'), QChar(0x2028), QChar(0x2029)}) text.replace(c, QChar(' '));
    return text;
}

LineEditorDialog::LineEditorDialog(StatementModel& list, int line, QWidget* owner)
    : QDialog(owner), list_(list), line_(line) {
    setObjectName(kWindowName);
    setModal(true);
    textEdit = new QPlainTextEdit(this);
    textEdit->setObjectName(kTextName);
    textEdit->setAccessibleName(QStringLiteral("Edit Line"));
    textEdit->setTabChangesFocus(true);
    textEdit->installEventFilter(this);
    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(kOkName);
    okButton->setAccessibleName(okButton->text());
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(kCancelName);
    cancelButton->setAccessibleName(cancelButton->text());
    cancelButton->setAutoDefault(false);
    connect(okButton, &QPushButton::clicked, this, [this] { saveLine(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { cancel(); });

    auto* column = new QVBoxLayout(this);
    column->addWidget(textEdit, 1);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(okButton);
    row->addWidget(cancelButton);
    column->addLayout(row);
    resize(640, 220);

    pointer_ = new WindowPointer(this);
    pointer_->watchButton(cancelButton);
    pointer_->watchButton(okButton);
    pressFocusedButtonOnEnter(this);
    ignoreInputJustAfterOpening(this);
    load();
}

void LineEditorDialog::load() {
    Procedure p(kReportWindow, kLoadProcedure);
    p(102, [&] { applyWindowColors(this); });
    p(104, [&] { setWindowIcon(appIcon()); });
    p(106, [&] { setWindowTitle(QStringLiteral("Edit Line - ") + QString::fromUtf8(kProductTitle)); });
    if (p.test(108, [&] { return fileExists(handPointerPath()); }))
        p(110, [&] { pointer_->setCustomImage(loadCursorFile(handPointerPath())); });
}

void LineEditorDialog::setLineText(const std::string& text) {
    textEdit->setPlainText(QString::fromStdString(text));
    textEdit->selectAll();
}

bool LineEditorDialog::eventFilter(QObject* watched, QEvent* event) {
    // Typing replaces the line: the whole text is selected on focus.
    if (watched == textEdit && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, textEdit, &QPlainTextEdit::selectAll);
    // A statement is one line: Enter accepts it (Escape cancels, as the
    // dialog does).
    if (watched == textEdit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            saveLine();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void LineEditorDialog::saveLine() {
    Procedure p(kReportWindow, kOkProcedure);
    p(100, [&] { list_.setLine(line_ - 1, oneLine(textEdit->toPlainText()).toStdString()); });
    p(102, [&] { accept(); });
}

void LineEditorDialog::cancel() {
    Procedure p(kReportWindow, kCancelProcedure);
    p(100, [&] { reject(); });
}

}  // namespace tp::preview
