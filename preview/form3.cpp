#include "preview/form3.h"

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
#include "host/utilities.h"

namespace tp::preview {

Form3::Form3(StatementModel& list, QWidget* owner) : QDialog(owner), list_(list) {
    setObjectName(QStringLiteral("Form3"));
    setModal(true);
    Label2 = new QLabel(QStringLiteral("Find what:"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setAccessibleName(Label2->text());
    Label6 = new QLabel(QStringLiteral("Replace with:"), this);
    Label6->setObjectName(QStringLiteral("Label6"));
    Label6->setAccessibleName(Label6->text());
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setAccessibleName(QStringLiteral("Find what:"));
    Label2->setBuddy(Text1);
    Text2 = new QLineEdit(this);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setAccessibleName(QStringLiteral("Replace with:"));
    Label6->setBuddy(Text2);
    PushButton2 = new QPushButton(QStringLiteral("Replace"), this);
    PushButton2->setObjectName(QStringLiteral("PushButton2"));
    PushButton2->setAccessibleName(PushButton2->text());
    PushButton2->setDefault(true);
    PushButton1 = new QPushButton(QStringLiteral("Cancel"), this);
    PushButton1->setObjectName(QStringLiteral("PushButton1"));
    PushButton1->setAccessibleName(PushButton1->text());
    PushButton1->setAutoDefault(false);
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label2, 0, 0);
    grid->addWidget(Text1, 0, 1);
    grid->addWidget(Label6, 1, 0);
    grid->addWidget(Text2, 1, 1);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(PushButton2);
    row->addWidget(PushButton1);
    grid->addLayout(row, 2, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    resize(460, 130);

    Text1->installEventFilter(this);
    Text2->installEventFilter(this);
    pointer_ = new WindowPointer(this);
    pointer_->watchButton(PushButton1);
    pointer_->watchButton(PushButton2);
    Form_Load();
}

void Form3::Form_Load() {
    Procedure p("Form3", "Form_Load");
    p(102, [&] { SetFormColors(this); });
    p(104, [&] { setWindowIcon(appIcon()); });
    p(106, [&] { setWindowTitle(QStringLiteral("Find and Replace - ") + QString::fromUtf8(kProductTitle)); });
    if (p.test(108, [&] { return FileExists(handPointerPath()); }))
        p(110, [&] { pointer_->setCustomImage(loadCursorFile(handPointerPath())); });
}

QString Form3::replaceFirst(const QString& line, const QString& find, const QString& replacement) {
    if (find.isEmpty()) return line;
    const qsizetype at = line.indexOf(find, 0, Qt::CaseInsensitive);
    if (at < 0) return line;
    return line.left(at) + replacement + line.mid(at + find.size());
}

void Form3::PushButton2_Click() {
    if (replacing_) return;   // a second Replace during the yields
    Procedure p("Form3", "PushButton2_Click");
    if (p.test(100, [&] { return list_.count() == 0; })) {
        p(102, [] { msgBox("No SQL to run."); });
        return;
    }
    const QString find = Text1->text();
    const QString replacement = Text2->text();
    replacing_ = true;
    QPointer<Form3> alive(this);
    p(106, [&] { pointer_->setValue(WindowPointer::Busy); });
    // An empty find text would match at the start of every line: change
    // nothing instead.
    const int total = find.isEmpty() ? 0 : list_.count();
    for (int n = 1; n <= total; ++n) {
        p(110, [] { DoEvents(); });
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

void Form3::PushButton1_Click() {
    if (replacing_) return;
    Procedure p("Form3", "PushButton1_Click");
    p(100, [&] { reject(); });
}

bool Form3::eventFilter(QObject* watched, QEvent* event) {
    // A field that receives the focus selects its whole text (after the
    // click that gave it the focus has placed the cursor).
    if (event->type() == QEvent::FocusIn)
        if (auto* edit = qobject_cast<QLineEdit*>(watched))
            QTimer::singleShot(0, edit, &QLineEdit::selectAll);
    return QDialog::eventFilter(watched, event);
}

void Form3::done(int result) {
    if (replacing_) return;   // the close box while Replace runs
    QDialog::done(result);
}

}  // namespace tp::preview
