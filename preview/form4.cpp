#include "preview/form4.h"

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
#include "host/utilities.h"

namespace tp::preview {

int Form4::ListLine = 0;

QString Form4::oneLine(QString text) {
    // Line breaks (pasted ones too) become blanks: the statement stays one
    // line of the list and its words stay apart.
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    for (QChar c : {QChar('\r'), QChar('\n'), QChar(0x2028), QChar(0x2029)}) text.replace(c, QChar(' '));
    return text;
}

Form4::Form4(StatementModel& list, QWidget* owner) : QDialog(owner), list_(list) {
    setObjectName(QStringLiteral("Form4"));
    setModal(true);
    Text1 = new QPlainTextEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setAccessibleName(QStringLiteral("Edit Line"));
    Text1->setTabChangesFocus(true);
    Text1->installEventFilter(this);
    PushButton2 = new QPushButton(QStringLiteral("OK"), this);
    PushButton2->setObjectName(QStringLiteral("PushButton2"));
    PushButton2->setAccessibleName(PushButton2->text());
    PushButton1 = new QPushButton(QStringLiteral("Cancel"), this);
    PushButton1->setObjectName(QStringLiteral("PushButton1"));
    PushButton1->setAccessibleName(PushButton1->text());
    PushButton1->setAutoDefault(false);
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });

    auto* column = new QVBoxLayout(this);
    column->addWidget(Text1, 1);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(PushButton2);
    row->addWidget(PushButton1);
    column->addLayout(row);
    resize(640, 220);

    pointer_ = new WindowPointer(this);
    pointer_->watchButton(PushButton1);
    pointer_->watchButton(PushButton2);
    Form_Load();
}

void Form4::Form_Load() {
    Procedure p("Form4", "Form_Load");
    p(102, [&] { SetFormColors(this); });
    p(104, [&] { setWindowIcon(appIcon()); });
    p(106, [&] { setWindowTitle(QStringLiteral("Edit Line - ") + QString::fromUtf8(kProductTitle)); });
    if (p.test(108, [&] { return FileExists(handPointerPath()); }))
        p(110, [&] { pointer_->setCustomImage(loadCursorFile(handPointerPath())); });
}

void Form4::setLineText(const std::string& text) {
    Text1->setPlainText(QString::fromStdString(text));
    Text1->selectAll();
}

bool Form4::eventFilter(QObject* watched, QEvent* event) {
    // Typing replaces the line: the whole text is selected on focus.
    if (watched == Text1 && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, Text1, &QPlainTextEdit::selectAll);
    // A statement is one line: Enter accepts it (Escape cancels, as the
    // dialog does).
    if (watched == Text1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            PushButton2_Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void Form4::PushButton2_Click() {
    Procedure p("Form4", "PushButton2_Click");
    p(100, [&] { list_.setLine(ListLine - 1, oneLine(Text1->toPlainText()).toStdString()); });
    p(102, [&] { accept(); });
}

void Form4::PushButton1_Click() {
    Procedure p("Form4", "PushButton1_Click");
    p(100, [&] { reject(); });
}

}  // namespace tp::preview
