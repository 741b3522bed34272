#include "preview/datatype_view.h"

#include <QFont>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <stdexcept>

#include "host/app_title.h"
#include "host/error_report.h"
#include "ui/pointer.h"
#include "ui/window_keys.h"
#include "host/utilities.h"

namespace tp::preview {

// The names the outside sees: object names (tests and screen readers find
// the controls by them) and the error report's location.
namespace {
const QString kWindowName = QStringLiteral("Form5");
constexpr const char* kReportWindow = "Form5";
const QString kBackName = QStringLiteral("PushButton5");
const QString kListName = QStringLiteral("ListView1");
}  // namespace

namespace {
constexpr int kColumnWidthPx = 113;  // 1700 twips at 96 dots per inch
const char* const kListTip = "Click item to edit it. Move | line to right and out of window to reveal full names.";
// Twips to pixels at 96 dots per inch.
constexpr int px(int twips) { return (twips + 7) / 15; }
}  // namespace

DatatypeView::DatatypeView(QWidget* parent) : QDialog(parent) {
    setObjectName(kWindowName);
    backButton = new QPushButton(QStringLiteral("< Back"), this);
    backButton->setObjectName(kBackName);
    backButton->setAccessibleName(backButton->text());
    backButton->setAutoDefault(false);
    QFont buttonFont(QStringLiteral("Arial"));
    buttonFont.setPointSizeF(11.25);
    buttonFont.setBold(true);
    backButton->setFont(buttonFont);
    backButton->setGeometry(px(120), px(120), px(7800), px(405));
    connect(backButton, &QPushButton::clicked, this, [this] { back(); });

    list = new QTreeWidget(this);
    list->setObjectName(kListName);
    list->setAccessibleName(QStringLiteral("Datatypes Conversion"));
    list->setToolTip(QString::fromUtf8(kListTip));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSortingEnabled(false);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setColumnCount(0);
    list->header()->setStretchLastSection(false);
    QFont listFont(QStringLiteral("Arial"));
    listFont.setPointSizeF(9);
    listFont.setBold(true);
    list->setFont(listFont);
    list->setGeometry(px(120), px(630), px(7800), px(7605));
    setFixedSize(px(8040), px(8340));

    pointer_ = new WindowPointer(this);
    pointer_->watchButton(backButton);
    pointer_->watchPassive(list);
    pointer_->watchPassive(list->viewport());
    pressFocusedButtonOnEnter(this);
    ignoreInputJustAfterOpening(this);
}

void DatatypeView::ensureLoaded() {
    if (!loaded_) load();
}

void DatatypeView::load() {
    loaded_ = true;
    Procedure p(kReportWindow, "Form_Load");
    p(100, [&] { applyWindowColors(this); });
    p(104, [&] { setWindowIcon(appIcon()); });
    p(106, [&] { setWindowTitle(QStringLiteral("Datatypes Conversion - ") + QString::fromUtf8(kProductTitle)); });
    if (p.test(108, [&] { return fileExists(handPointerPath()); }))
        p(110, [&] { pointer_->setCustomImage(loadCursorFile(handPointerPath())); });
    const char* const headers[] = {"FoxPro Table", "FoxPro Table Field", "FoxPro Field Datatype",
                                   "New MS Access Datatype"};
    for (int k = 0; k < 4; ++k) {
        p(112 + 2 * k, [&] {
            list->setColumnCount(k + 1);
            list->headerItem()->setText(k, QString::fromUtf8(headers[k]));
        });
    }
    // 1700 twips each, or the header's own width where that is more: no
    // header is cut.
    for (int k = 0; k < 4; ++k)
        p(120 + 2 * k, [&] { list->setColumnWidth(k, std::max(kColumnWidthPx, list->header()->sectionSizeHint(k))); });
    // What a column does not keep of its field, or why it is another kind
    // (the list scrolls to it; each note is its cell's tool tip too).
    p(128, [&] {
        list->setColumnCount(5);
        list->headerItem()->setText(4, QStringLiteral("Note"));
    });
    p(130, [&] { list->setColumnWidth(4, 4 * kColumnWidthPx); });
}

void DatatypeView::unload() {
    loaded_ = false;
    list->clear();
    list->setColumnCount(0);
}

void DatatypeView::showModal(QWidget* owner) {
    ensureLoaded();
    setParent(owner, windowFlags() | Qt::Dialog);
    setWindowModality(Qt::WindowModal);
    exec();
    setParent(nullptr, windowFlags() | Qt::Dialog);
}

void DatatypeView::back() {
    Procedure p(kReportWindow, "PushButton5_Click");
    p(100, [&] { reject(); });
}

void DatatypeView::done(int result) {
    unload();
    QDialog::done(result);
}

void DatatypeView::clearRows() {
    ensureLoaded();
    list->clear();
}

void DatatypeView::addRow(const std::string& table) {
    ensureLoaded();
    auto* item = new QTreeWidgetItem(list);
    item->setText(0, QString::fromStdString(table));
}

void DatatypeView::setLastField(const std::string& field) {
    ensureLoaded();
    const int n = list->topLevelItemCount();
    if (n == 0) throw std::out_of_range("Index out of bounds");
    list->topLevelItem(n - 1)->setText(1, QString::fromStdString(field));
}

void DatatypeView::setLastTypes(const std::string& keyword, const std::string& accessType) {
    ensureLoaded();
    const int n = list->topLevelItemCount();
    if (n == 0) throw std::out_of_range("Index out of bounds");
    QTreeWidgetItem* item = list->topLevelItem(n - 1);
    item->setText(2, QString::fromStdString(keyword));
    item->setText(3, QString::fromStdString(accessType));
}

void DatatypeView::setLastNote(const std::string& note) {
    ensureLoaded();
    const int n = list->topLevelItemCount();
    if (n == 0) throw std::out_of_range("Index out of bounds");
    QTreeWidgetItem* item = list->topLevelItem(n - 1);
    // The note's column lies past the window's width: every cell of the
    // row shows it on hovering.
    const QString text = QString::fromStdString(note);
    item->setText(4, text);
    for (int k = 0; k < list->columnCount(); ++k) item->setToolTip(k, text);
}

int DatatypeView::rowCount() const { return list->topLevelItemCount(); }

convert::DatatypeRow DatatypeView::row(int index) const {
    const QTreeWidgetItem* item = list->topLevelItem(index);
    if (!item) throw std::out_of_range("Index out of bounds");
    return {item->text(0).toStdString(), item->text(1).toStdString(), item->text(2).toStdString(),
            item->text(3).toStdString(), item->text(4).toStdString()};
}

}  // namespace tp::preview
