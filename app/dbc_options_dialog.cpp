#include "app/dbc_options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/main_window.h"
#include "app/settings.h"
#include "db/foxpro/codepage.h"
#include "host/error_report.h"
#include "host/message_box.h"
#include "ui/dialogs.h"
#include "ui/pointer.h"
#include "ui/window_keys.h"
#include "host/utilities.h"

namespace tp::app {
namespace {

// The names the outside sees: object names (tests and screen readers find
// the controls by them) and the error report's location.
constexpr const char* kWindowName = "Form6";
constexpr const char* kGroupName = "Frame2";
constexpr const char* kLabelName = "Label1";
constexpr const char* kPathName = "Text1";
constexpr const char* kBrowseName = "PushButton5";
constexpr const char* kOkName = "PushButton1";
constexpr const char* kCancelName = "PushButton2";
constexpr const char* kTextGroupName = "Frame3";
constexpr const char* kCodePageLabelName = "Label2";
constexpr const char* kCodePageListName = "Combo1";
constexpr const char* kForceCodePageName = "Check2";  // not Check1: the main window, its owner, has one
constexpr const char* kCreateKeysName = "CheckKeys";
constexpr const char* kCreateKeysCaption = "Create keys, indexes and relations";
constexpr const char* kAccessTypesName = "CheckTypes";
constexpr const char* kAccessTypesCaption = "Access field types";
constexpr const char* kCodePageCaption = "Code page for tables that do not name one:";

}  // namespace

DbcOptionsDialog::DbcOptionsDialog(MainWindow& main, QWidget* owner) : QDialog(owner), main_(main) {
    setObjectName(kWindowName);
    setWindowTitle("Advanced Options");
    setAccessibleName("Advanced Options");
    setModal(true);
    setFixedSize(twips(8040), twips(3885));
    setFont(captionFont(9));
    previewOptionGroup_ = new QGroupBox("Advanced Option", this);
    previewOptionGroup_->setObjectName(kGroupName);
    previewOptionGroup_->setAccessibleName("Advanced Option");
    place(previewOptionGroup_, 120, 120, 7800, 885);
    dbcLabel_ = new QLabel("DBC File:", previewOptionGroup_);
    dbcLabel_->setObjectName(kLabelName);
    place(dbcLabel_, 240, 360, 735, 225);
    fitCaption(dbcLabel_);
    dbcPathEdit_ = new QLineEdit(previewOptionGroup_);
    dbcPathEdit_->setObjectName(kPathName);
    dbcPathEdit_->setAccessibleName("DBC File:");
    dbcLabel_->setBuddy(dbcPathEdit_);
    selectAllOnFocus(dbcPathEdit_);
    place(dbcPathEdit_, 1080, 330, 5775, 345);
    browseButton_ = captionButton(previewOptionGroup_, kBrowseName, "...", "Browse for the FoxPro database (.dbc)");
    place(browseButton_, 6960, 330, 600, 345);
    okButton_ = captionButton(this, kOkName, "OK", "Use the FoxPro database as the source");
    place(okButton_, 120, 1130, 3840, 405);
    cancelButton_ = captionButton(this, kCancelName, "Cancel", "Use the folder of free tables as the source");
    place(cancelButton_, 4080, 1130, 3840, 405);

    // Below the buttons: the code page of tables that name none.
    textGroup_ = new QGroupBox("Text of the Tables", this);
    textGroup_->setObjectName(kTextGroupName);
    textGroup_->setAccessibleName("Text of the Tables");
    place(textGroup_, 120, 1650, 7800, 1395);
    codePageLabel_ = new QLabel(kCodePageCaption, textGroup_);
    codePageLabel_->setObjectName(kCodePageLabelName);
    place(codePageLabel_, 240, 300, 7320, 255);
    fitCaption(codePageLabel_);
    codePageList_ = new QComboBox(textGroup_);
    codePageList_->setObjectName(kCodePageListName);
    codePageList_->setAccessibleName("Code page for tables that do not name one");
    codePageList_->setAccessibleDescription(
        "Automatic finds it in the tables' text, else reads 1252; tables that name a code page their text fits "
        "keep it");
    codePageList_->addItem("Automatic: found from the text of each table", 0);
    for (const auto& c : db::foxpro::knownCodePages())
        codePageList_->addItem(QString::number(c.number) + " - " + c.name, c.number);
    codePageLabel_->setBuddy(codePageList_);
    place(codePageList_, 240, 600, 7320, 345);
    forceCodePageCheck_ = new QCheckBox("Use this code page for every table, whatever the table names", textGroup_);
    forceCodePageCheck_->setObjectName(kForceCodePageName);
    forceCodePageCheck_->setAccessibleName("Use this code page for every table");
    place(forceCodePageCheck_, 240, 1035, 7320, 255);
    // Under the text group: what the run carries over besides the rows.
    createKeysCheck_ = new QCheckBox(kCreateKeysCaption, this);
    createKeysCheck_->setObjectName(kCreateKeysName);
    createKeysCheck_->setAccessibleName(kCreateKeysCaption);
    createKeysCheck_->setAccessibleDescription(
        "The FoxPro tables' primary keys and indexes, the fields' defaults, captions, comments, validation rules, "
        "input masks and formats, and the database's relations, created in Access after the rows; the ones without "
        "a faithful Access form are listed when the run ends");
    place(createKeysCheck_, 360, 3165, 7440, 255);
    accessTypesCheck_ = new QCheckBox(kAccessTypesCaption, this);
    accessTypesCheck_->setObjectName(kAccessTypesName);
    accessTypesCheck_->setAccessibleName(kAccessTypesCaption);
    accessTypesCheck_->setAccessibleDescription(
        "Each field in its own Access type: Text(n), Memo, Number, Currency, Date/Time, Yes/No, OLE Object, "
        "AutoNumber; off, every field that is not a number becomes text and binary fields are left out");
    place(accessTypesCheck_, 360, 3465, 7440, 255);

    pointer_ = new WindowPointer(this);
    for (QWidget* b : {okButton_, cancelButton_, browseButton_}) pointer_->watchButton(b);
    pointer_->watchPassive(previewOptionGroup_);
    pointer_->watchPassive(dbcPathEdit_);
    pointer_->watchPassive(textGroup_);
    pressFocusedButtonOnEnter(this);
    ignoreInputJustAfterOpening(this);
    // Enter in the field is OK.
    okButton_->setDefault(true);

    connect(dbcPathEdit_, &QLineEdit::textChanged, this, [this] {
        main_.untrapped([this] { dbcPathChanged(); });
        if (main_.ended()) reject();
    });
    connect(browseButton_, &QPushButton::clicked, this, [this] { browse(); });
    connect(okButton_, &QPushButton::clicked, this, [this] { useDbc(); });
    connect(cancelButton_, &QPushButton::clicked, this, [this] { useFolder(); });
    auto changed = [this] {
        if (restoring_) return;
        main_.untrapped([this] { codePageChanged(); });
        if (main_.ended()) reject();
    };
    connect(codePageList_, &QComboBox::currentIndexChanged, this, changed);
    connect(forceCodePageCheck_, &QCheckBox::toggled, this, changed);
    connect(createKeysCheck_, &QCheckBox::toggled, this, [this] {
        if (restoring_) return;
        main_.untrapped([this] { createKeysChanged(); });
        if (main_.ended()) reject();
    });
    connect(accessTypesCheck_, &QCheckBox::toggled, this, [this] {
        if (restoring_) return;
        main_.untrapped([this] { accessTypesChanged(); });
        if (main_.ended()) reject();
    });
}

void DbcOptionsDialog::load() {
    Procedure p(kWindowName, "Form_Load");
    p(100, [&] { applyWindowColors(this); });
    p(102, [&] { setWindowIcon(appIcon()); });
    if (p.test(104, [&] { return fileExists(handPointerPath()); }))
        p(106, [&] { pointer_->setCustomImage(loadCursorFile(handPointerPath())); });
    p(110, [&] { dbcPathEdit_->setText(QString::fromStdString(settings().get(kDbcFileKey, ""))); });
    // The code page choice, shown as stored (nothing written back).
    restoring_ = true;
    p(112, [&] {
        const db::CodePageChoice c = storedCodePage();
        codePageList_->setCurrentIndex(std::max(0, codePageList_->findData(c.codePage)));
        forceCodePageCheck_->setChecked(c.force);
        forceCodePageCheck_->setEnabled(c.codePage != 0);
    });
    p(114, [&] { createKeysCheck_->setChecked(storedCreateKeys()); });
    p(116, [&] { accessTypesCheck_->setChecked(storedAccessTypes()); });
    restoring_ = false;
}

void DbcOptionsDialog::codePageChanged() {
    db::CodePageChoice c;
    c.codePage = codePageList_->currentData().toInt();
    c.force = c.codePage != 0 && forceCodePageCheck_->isChecked();
    forceCodePageCheck_->setEnabled(c.codePage != 0);
    storeCodePage(c);
}

void DbcOptionsDialog::createKeysChanged() { storeCreateKeys(createKeysCheck_->isChecked()); }

void DbcOptionsDialog::accessTypesChanged() { storeAccessTypes(accessTypesCheck_->isChecked()); }

void DbcOptionsDialog::dbcPathChanged() { settings().save(kDbcFileKey, dbcPathEdit_->text().toStdString()); }

void DbcOptionsDialog::browse() {
    Procedure p(kWindowName, "PushButton5_Click");
    QString fileName, title;
    QStringList filters;
    p(100, [&] { fileName.clear(); });
    p(102, [&] { /* read-only box, Explorer style, long names: the Qt dialog's own */ });
    p(104, [&] { title = "Select Foxpro Database"; });
    p(106, [&] { filters = filtersFromClassic(kDbcFileFilter); });
    p(108, [&] { fileName = dialogs().chooseOpenFile(this, title, filters, folderOfPath(dbcPathEdit_->text())); });
    if (p.test(110, [&] { return !fileName.isEmpty(); })) p(112, [&] { dbcPathEdit_->setText(fileName); });
}

void DbcOptionsDialog::useDbc() {
    Procedure p(kWindowName, "PushButton1_Click");
    if (p.test(100, [&] { return !dbcPathEdit_->text().isEmpty(); })) {
        p(102, [&] { choice_.useDbc = true; });
        p(104, [&] { choice_.dbcPath = dbcPathEdit_->text().toStdString(); });
        p(106, [&] { settings().save(kSourceKindKey, "1"); });
    }
    choice_.answered = true;
    p(110, [&] { accept(); });
}

void DbcOptionsDialog::useFolder() {
    Procedure p(kWindowName, "PushButton2_Click");
    p(100, [&] { settings().save(kSourceKindKey, "2"); });
    p(102, [&] { choice_.useDbc = false; });
    choice_.answered = true;
    p(104, [&] { reject(); });
}

}  // namespace tp::app
