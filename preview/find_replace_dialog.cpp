#include "preview/find_replace_dialog.h"

#include <QEvent>
#include <QGridLayout>
#include <QTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "preview/statement_model.h"
#include "host/app_title.h"
#include "host/error_report.h"
#include "host/events.h"
#include "host/message_box.h"
#include "ui/pointer.h"
#include "ui/window_keys.h"
#include "host/utilities.h"

namespace tp::preview {
namespace {

// The names the outside sees: object names (tests and screen readers find
// the controls by them) and the error report's location.
const QString kWindowName = QStringLiteral("Form3");
constexpr const char* kReportWindow = "Form3";
const QString kFindLabelName = QStringLiteral("Label2");
const QString kReplaceLabelName = QStringLiteral("Label6");
const QString kFindName = QStringLiteral("Text1");
const QString kReplaceName = QStringLiteral("Text2");
const QString kReplaceButtonName = QStringLiteral("PushButton2");
const QString kCancelButtonName = QStringLiteral("PushButton1");

}  // namespace

FindReplaceDialog::FindReplaceDialog(StatementModel& list, QWidget* owner) : QDialog(owner), list_(list) {
    setObjectName(kWindowName);
    setModal(true);
    findLabel = new QLabel(QStringLiteral("Find what:"), this);
    findLabel->setObjectName(kFindLabelName);
    findLabel->setAccessibleName(findLabel->text());
    replaceLabel = new QLabel(QStringLiteral("Replace with:"), this);
    replaceLabel->setObjectName(kReplaceLabelName);
    replaceLabel->setAccessibleName(replaceLabel->text());
    findEdit = new QLineEdit(this);
    findEdit->setObjectName(kFindName);
    findEdit->setAccessibleName(QStringLiteral("Find what:"));
    findLabel->setBuddy(findEdit);
    replaceEdit = new QLineEdit(this);
    replaceEdit->setObjectName(kReplaceName);
    replaceEdit->setAccessibleName(QStringLiteral("Replace with:"));
    replaceLabel->setBuddy(replaceEdit);
    replaceButton = new QPushButton(QStringLiteral("Replace"), this);
    replaceButton->setObjectName(kReplaceButtonName);
    replaceButton->setAccessibleName(replaceButton->text());
    replaceButton->setDefault(true);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(kCancelButtonName);
    cancelButton->setAccessibleName(cancelButton->text());
    cancelButton->setAutoDefault(false);
    connect(replaceButton, &QPushButton::clicked, this, [this] { replaceAll(); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { cancel(); });

    auto* grid = new QGridLayout(this);
    grid->addWidget(findLabel, 0, 0);
    grid->addWidget(findEdit, 0, 1);
    grid->addWidget(replaceLabel, 1, 0);
    grid->addWidget(replaceEdit, 1, 1);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(replaceButton);
    row->addWidget(cancelButton);
    grid->addLayout(row, 2, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    resize(460, 130);

    findEdit->installEventFilter(this);
    replaceEdit->installEventFilter(this);
    pointer_ = new WindowPointer(this);
    pointer_->watchButton(cancelButton);
    pointer_->watchButton(replaceButton);
    pressFocusedButtonOnEnter(this);
    ignoreInputJustAfterOpening(this);
    load();
}

void FindReplaceDialog::load() {
    Procedure p(kReportWindow, "Form_Load");
    p(102, [&] { applyWindowColors(this); });
    p(104, [&] { setWindowIcon(appIcon()); });
    p(106, [&] { setWindowTitle(QStringLiteral("Find and Replace - ") + QString::fromUtf8(kProductTitle)); });
    if (p.test(108, [&] { return fileExists(handPointerPath()); }))
        p(110, [&] { pointer_->setCustomImage(loadCursorFile(handPointerPath())); });
}

QString FindReplaceDialog::replaceFirst(const QString& line, const QString& find, const QString& replacement) {
    if (find.isEmpty()) return line;
    const qsizetype at = line.indexOf(find, 0, Qt::CaseInsensitive);
    if (at < 0) return line;
    return line.left(at) + replacement + line.mid(at + find.size());
}

void FindReplaceDialog::replaceAll() {
    if (replacing_) return;  // a second Replace during the yields
    Procedure p(kReportWindow, "PushButton2_Click");
    if (p.test(100, [&] { return list_.count() == 0; })) {
        p(102, [] { msgBox("No SQL to run."); });
        return;
    }
    const QString find = findEdit->text();
    const QString replacement = replaceEdit->text();
    replacing_ = true;
    QPointer<FindReplaceDialog> alive(this);
    p(106, [&] { pointer_->setValue(WindowPointer::Busy); });
    // An empty find text would match at the start of every line: change
    // nothing instead.
    const int total = find.isEmpty() ? 0 : list_.count();
    for (int n = 1; n <= total; ++n) {
        p(110, [] { pumpEvents(); });
        if (!alive) return;
        if (n > list_.count()) break;
        p(112, [&] {
            const std::string_view v = list_.lineView(n - 1);
            const QString line = QString::fromUtf8(v.data(), static_cast<qsizetype>(v.size()));
            const qsizetype at = line.indexOf(find, 0, Qt::CaseInsensitive);
            if (at < 0) return;
            const QString changed = line.left(at) + replacement + line.mid(at + find.size());
            list_.setLine(n - 1, changed.toStdString());
        });
    }
    p(116, [&] { pointer_->setValue(WindowPointer::Default); });
    replacing_ = false;
    p(118, [] { msgBox("Done."); });
    p(120, [&] { accept(); });
}

void FindReplaceDialog::cancel() {
    if (replacing_) return;
    Procedure p(kReportWindow, "PushButton1_Click");
    p(100, [&] { reject(); });
}

bool FindReplaceDialog::eventFilter(QObject* watched, QEvent* event) {
    // A field that receives the focus selects its whole text (after the
    // click that gave it the focus has placed the cursor).
    if (event->type() == QEvent::FocusIn)
        if (auto* edit = qobject_cast<QLineEdit*>(watched)) QTimer::singleShot(0, edit, &QLineEdit::selectAll);
    return QDialog::eventFilter(watched, event);
}

void FindReplaceDialog::done(int result) {
    if (replacing_) return;  // the close box while Replace runs
    QDialog::done(result);
}

}  // namespace tp::preview
