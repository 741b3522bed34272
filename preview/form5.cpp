#include "preview/form5.h"

#include <QFont>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <stdexcept>

#include "host/app_title.h"
#include "host/error_report.h"
#include "ui/pointer.h"
#include "host/utilities.h"

namespace tp::preview {

namespace {
constexpr int kColumnWidthPx = 113;   // 1700 twips at 96 dots per inch
const char* const kListTip =
    "Click item to edit it. Move | line to right and out of window to reveal full names.";
// Twips to pixels at 96 dots per inch.
constexpr int px(int twips) { return (twips + 7) / 15; }
}  // namespace

Form5::Form5(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form5"));
    PushButton5 = new QPushButton(QStringLiteral("< Back"), this);
    PushButton5->setObjectName(QStringLiteral("PushButton5"));
    PushButton5->setAccessibleName(PushButton5->text());
    PushButton5->setAutoDefault(false);
    QFont buttonFont(QStringLiteral("Arial"));
    buttonFont.setPointSizeF(11.25);
    buttonFont.setBold(true);
    PushButton5->setFont(buttonFont);
    PushButton5->setGeometry(px(120), px(120), px(7800), px(405));
    connect(PushButton5, &QPushButton::clicked, this, [this] { PushButton5_Click(); });

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(QStringLiteral("Datatypes Conversion"));
    ListView1->setToolTip(QString::fromUtf8(kListTip));
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSortingEnabled(false);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setColumnCount(0);
    ListView1->header()->setStretchLastSection(false);
    QFont listFont(QStringLiteral("Arial"));
    listFont.setPointSizeF(9);
    listFont.setBold(true);
    ListView1->setFont(listFont);
    ListView1->setGeometry(px(120), px(630), px(7800), px(7605));
    setFixedSize(px(8040), px(8340));

    pointer_ = new WindowPointer(this);
    pointer_->watchButton(PushButton5);
    pointer_->watchPassive(ListView1);
    pointer_->watchPassive(ListView1->viewport());
}

void Form5::ensureLoaded() {
    if (!loaded_) Form_Load();
}

void Form5::Form_Load() {
    loaded_ = true;
    Procedure p("Form5", "Form_Load");
    p(100, [&] { SetFormColors(this); });
    p(104, [&] { setWindowIcon(appIcon()); });
    p(106, [&] {
        setWindowTitle(QStringLiteral("Datatypes Conversion - ") + QString::fromUtf8(kProductTitle));
    });
    if (p.test(108, [&] { return FileExists(handPointerPath()); }))
        p(110, [&] { pointer_->setCustomImage(loadCursorFile(handPointerPath())); });
    const char* const headers[] = {"FoxPro Table", "FoxPro Table Field", "FoxPro Field Datatype",
                                   "New MS Access Datatype"};
    for (int k = 0; k < 4; ++k) {
        p(112 + 2 * k, [&] {
            ListView1->setColumnCount(k + 1);
            ListView1->headerItem()->setText(k, QString::fromUtf8(headers[k]));
        });
    }
    for (int k = 0; k < 4; ++k)
        p(120 + 2 * k, [&] { ListView1->setColumnWidth(k, kColumnWidthPx); });
}

void Form5::unload() {
    loaded_ = false;
    ListView1->clear();
    ListView1->setColumnCount(0);
}

void Form5::showModal(QWidget* owner) {
    ensureLoaded();
    setParent(owner, windowFlags() | Qt::Dialog);
    setWindowModality(Qt::WindowModal);
    exec();
    setParent(nullptr, windowFlags() | Qt::Dialog);
}

void Form5::PushButton5_Click() {
    Procedure p("Form5", "PushButton5_Click");
    p(100, [&] { reject(); });
}

void Form5::done(int result) {
    unload();
    QDialog::done(result);
}

void Form5::clearRows() {
    ensureLoaded();
    ListView1->clear();
}

void Form5::addRow(const std::string& table) {
    ensureLoaded();
    auto* item = new QTreeWidgetItem(ListView1);
    item->setText(0, QString::fromStdString(table));
}

void Form5::setLastField(const std::string& field) {
    ensureLoaded();
    const int n = ListView1->topLevelItemCount();
    if (n == 0) throw std::out_of_range("Index out of bounds");
    ListView1->topLevelItem(n - 1)->setText(1, QString::fromStdString(field));
}

void Form5::setLastTypes(const std::string& keyword, const std::string& accessType) {
    ensureLoaded();
    const int n = ListView1->topLevelItemCount();
    if (n == 0) throw std::out_of_range("Index out of bounds");
    QTreeWidgetItem* item = ListView1->topLevelItem(n - 1);
    item->setText(2, QString::fromStdString(keyword));
    item->setText(3, QString::fromStdString(accessType));
}

int Form5::rowCount() const { return ListView1->topLevelItemCount(); }

convert::DatatypeRow Form5::row(int index) const {
    const QTreeWidgetItem* item = ListView1->topLevelItem(index);
    if (!item) throw std::out_of_range("Index out of bounds");
    return {item->text(0).toStdString(), item->text(1).toStdString(), item->text(2).toStdString(),
            item->text(3).toStdString()};
}

}  // namespace tp::preview
