// The buttons that choose the source and the target, Test Connection, Help,
// and the Advanced Options window for a .dbc source.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "app/main_window.h"
#include "app/dbc_options_dialog.h"
#include "app/settings.h"
#include "db/ado.h"
#include "tests/foxpro/dbf_builder.h"
#include "tests/gui/gui_support.h"
#include "ui/pointer.h"

using tp::app::DbcOptionsDialog;
using tp::app::MainWindow;

namespace {

class SelectionTest : public tp::test::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        tp::db::registerBuiltinProviders();
        form = std::make_unique<MainWindow>();
        form->endProgram = [](int) {};
        form->load();
        boxes->shown.clear();
    }
    void TearDown() override {
        form.reset();
        GuiTest::TearDown();
    }
    QLineEdit* field(QWidget* w, const char* name) { return w->findChild<QLineEdit*>(name); }
    QString text(const char* name) { return field(form.get(), name)->text(); }
    std::unique_ptr<MainWindow> form;
};

TEST_F(SelectionTest, CancellingThePickersChangesNothing) {
    form->browseFolder();
    form->browseTarget();
    EXPECT_EQ(text("Text2"), "");
    EXPECT_EQ(text("Text5"), "");
    EXPECT_EQ(stored("FreeTableFolder"), "<absent>");
    EXPECT_EQ(stored("AccessMDBFile"), "<absent>");
    EXPECT_EQ(stored("FoxproOption"), "<absent>");
    EXPECT_TRUE(form->useDbcSource);
    ASSERT_EQ(dialogs.calls.size(), 2u);
    EXPECT_EQ(dialogs.calls[0].kind, "folder");
    EXPECT_EQ(dialogs.calls[0].title, "Please select folder:");
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(SelectionTest, PickingAFolderSelectsFolderModeAfterADbc) {
    form->useDbcSource = true;
    form->dbcPath = "/data/main.dbc";
    dialogs.answers.push_back(QString::fromStdString(program.path().string()));
    form->browseFolder();
    EXPECT_EQ(text("Text2").toStdString(), program.path().string());
    EXPECT_FALSE(form->useDbcSource);
    EXPECT_EQ(stored("FoxproOption"), "2");
    EXPECT_EQ(stored("FreeTableFolder"), program.path().string());
}

TEST_F(SelectionTest, AFolderPickThatIsNoFolderGivesNothing) {
    dialogs.answers.push_back(QString::fromStdString(program.file("no-such-folder")));
    form->browseFolder();
    EXPECT_EQ(text("Text2"), "");
}

TEST_F(SelectionTest, SampleSourceSetsFolderModeEvenWhenTheFolderIsAlreadyThere) {
    const std::string samples = program.file("Samples");
    field(form.get(), "Text2")->setText(QString::fromStdString(samples));
    form->useDbcSource = true;
    tp::app::settings().save("FoxproOption", "1");
    form->useSampleSource();
    EXPECT_FALSE(form->useDbcSource);
    EXPECT_EQ(stored("FoxproOption"), "2");
    EXPECT_EQ(text("Text2").toStdString(), samples);
}

TEST_F(SelectionTest, TargetFileDialogOffersThreeFiltersAndTakesANewName) {
    const QString fresh = QString::fromStdString(program.file("new target.accdb"));
    dialogs.answers.push_back(fresh);
    form->browseTarget();
    ASSERT_EQ(dialogs.calls.size(), 1u);
    EXPECT_EQ(dialogs.calls[0].title, "Select Access Database");
    EXPECT_EQ(dialogs.calls[0].filters, (QStringList{"All Microsoft Databases (*.*db)", "Microsoft Database (*.mdb)",
                                                     "Microsoft 2007 Database (*.accdb)"}));
    EXPECT_EQ(text("Text5"), fresh);
    EXPECT_EQ(stored("AccessMDBFile"), fresh.toStdString());
}

TEST_F(SelectionTest, SampleTargetPointsIntoTheProgramFolder) {
    form->useSampleTarget();
    EXPECT_EQ(text("Text5").toStdString(), program.file("Samples/sample.mdb"));
    EXPECT_EQ(stored("AccessMDBFile"), program.file("Samples/sample.mdb"));
}

TEST_F(SelectionTest, TestConnectionTestsTheDbcInDbcMode) {
    const auto dbc = tp::test::corpusPath("foxpro/VFPX-Samples-Northwind/northwind.dbc");
    if (!std::filesystem::exists(dbc)) GTEST_SKIP() << "corpus not available";
    // A folder that does not exist in the field, the container selected.
    field(form.get(), "Text2")->setText(QString::fromStdString(program.file("missing")));
    form->useDbcSource = true;
    form->dbcPath = dbc.string();
    form->testConnection();
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->shown[0].text, "Connection successful.");
    EXPECT_EQ(boxes->shown[0].style, 0);
    EXPECT_EQ(boxes->shown[0].title, "");
    EXPECT_EQ(form->pointer().value(), tp::WindowPointer::Default);

    // A readable folder in the field, a container that is not there.
    field(form.get(), "Text2")->setText(QString::fromStdString(dbc.parent_path().string()));
    form->useDbcSource = true;
    form->dbcPath = program.file("missing.dbc");
    form->testConnection();
    ASSERT_EQ(boxes->shown.size(), 2u);
    // The reader's own words say why.
    EXPECT_EQ(boxes->shown[1].text, "Could not connect.\r\n\r\nInvalid path or file name: " +
                                        program.file("missing.dbc") + " does not exist.");
    EXPECT_EQ(form->pointer().value(), tp::WindowPointer::Default);
}

TEST_F(SelectionTest, TestConnectionShowsTheBusyPointerWhileTesting) {
    struct Probe : tp::test::RecordingBoxes {
        MainWindow* f;
        std::vector<int> pointers;
        int show(const std::string& t, int s, const std::string& ti) override {
            pointers.push_back(f->pointer().value());
            return RecordingBoxes::show(t, s, ti);
        }
    } probe;
    probe.f = form.get();
    tp::setMessageBoxes(&probe);
    form->testConnection();
    tp::setMessageBoxes(boxes.get());
    ASSERT_EQ(probe.shown.size(), 1u);
    EXPECT_EQ(probe.shown[0].text, "Could not connect.\r\n\r\nInvalid path or file name: the Data Source is empty.");
    EXPECT_EQ(probe.pointers, std::vector<int>{tp::WindowPointer::Busy});
    EXPECT_EQ(form->pointer().value(), tp::WindowPointer::Default);
}

// Help tells how a conversion goes and what it carries, nothing that is no
// longer so (binary fields are kept; the preview takes any number of rows),
// and ends with the maker's contact page.
TEST_F(SelectionTest, HelpTellsTheStepsWhatIsCarriedAndTheContactPage) {
    form->showHelp();
    ASSERT_EQ(boxes->shown.size(), 1u);
    const std::string& text = boxes->shown[0].text;
    for (const char* said : {"Test Connection checks both", "Stop Converting", "Create keys, indexes and relations",
                             "validation rules", "2 GB"})
        EXPECT_NE(text.find(said), std::string::npos) << said;
    EXPECT_EQ(text.find("32767"), std::string::npos);
    EXPECT_EQ(text.find("does not handle binary"), std::string::npos);
    const std::string contact = "\r\n\r\nQuestions? Please contact Team Brindlewood at https://tallyport.app/contact/";
    EXPECT_EQ(text.substr(text.size() - contact.size()), contact);
    EXPECT_EQ(boxes->shown[0].style, 0);
}

// ---- Advanced Options -------------------------------------------------------------

TEST_F(SelectionTest, OkWithAPathSelectsTheDbc) {
    DbcOptionsDialog f6(*form, form.get());
    f6.load();
    dialogs.answers.push_back("/data/db/books.dbc");
    f6.browse();
    ASSERT_EQ(dialogs.calls.size(), 1u);
    EXPECT_EQ(dialogs.calls[0].title, "Select Foxpro Database");
    EXPECT_EQ(dialogs.calls[0].filters, QStringList{"Microsoft Database (*.dbc)"});
    EXPECT_EQ(stored("DBCFile"), "/data/db/books.dbc");
    field(form.get(), "Text2")->setText("/data/free");  // folder mode first
    ASSERT_FALSE(form->useDbcSource);
    // The main window says which source a run reads; the folder field and
    // the controls around it stay where they were.
    auto* kind = form->findChild<QLabel*>("lblSourceKind");
    ASSERT_NE(kind, nullptr);
    EXPECT_EQ(kind->accessibleName(), "Source in use");
    EXPECT_EQ(kind->accessibleDescription(), "Source in use: the free tables of the folder below");
    const QRect folderAt = field(form.get(), "Text2")->geometry();
    f6.useDbc();
    form->applyDbcChoice(f6.choice());
    EXPECT_TRUE(form->useDbcSource);
    EXPECT_EQ(form->dbcPath, "/data/db/books.dbc");
    EXPECT_EQ(stored("FoxproOption"), "1");
    EXPECT_EQ(f6.result(), QDialog::Accepted);
    EXPECT_TRUE(boxes->shown.empty());
    EXPECT_EQ(kind->accessibleDescription(), "Source in use: the DBC /data/db/books.dbc");
    EXPECT_EQ(kind->toolTip(), kind->accessibleDescription());
    EXPECT_TRUE(kind->text().endsWith("books.dbc")) << kind->text().toStdString();
    EXPECT_EQ(field(form.get(), "Text2")->geometry(), folderAt);
    EXPECT_FALSE(kind->geometry().intersects(folderAt));
    for (auto* b : form->findChild<QGroupBox*>("Frame1")->findChildren<QPushButton*>())
        EXPECT_FALSE(kind->geometry().intersects(b->geometry())) << b->objectName().toStdString();
    // Cancel: the folder again.
    DbcOptionsDialog again(*form, form.get());
    again.load();
    again.useFolder();
    form->applyDbcChoice(again.choice());
    EXPECT_EQ(kind->accessibleDescription(), "Source in use: the free tables of the folder below");
}

TEST_F(SelectionTest, OkWithAnEmptyFieldChangesNothing) {
    field(form.get(), "Text2")->setText("/data/free");
    DbcOptionsDialog f6(*form, form.get());
    f6.load();
    f6.useDbc();
    form->applyDbcChoice(f6.choice());
    EXPECT_FALSE(form->useDbcSource);
    EXPECT_EQ(form->dbcPath, "");
    EXPECT_EQ(stored("FoxproOption"), "2");
}

TEST_F(SelectionTest, CancelAfterADbcSelectsTheFolderAndKeepsThePath) {
    {
        DbcOptionsDialog f6(*form, form.get());
        f6.load();
        field(&f6, "Text1")->setText("/data/a.dbc");
        f6.useDbc();
        form->applyDbcChoice(f6.choice());
    }
    ASSERT_TRUE(form->useDbcSource);
    DbcOptionsDialog f6(*form, form.get());
    f6.load();
    EXPECT_EQ(field(&f6, "Text1")->text(), "/data/a.dbc");
    field(&f6, "Text1")->setText("/data/b.dbc");
    f6.useFolder();
    form->applyDbcChoice(f6.choice());
    EXPECT_FALSE(form->useDbcSource);
    EXPECT_EQ(stored("FoxproOption"), "2");
    EXPECT_EQ(stored("DBCFile"), "/data/b.dbc");
    EXPECT_EQ(form->dbcPath, "/data/a.dbc");
    DbcOptionsDialog again(*form, form.get());
    again.load();
    EXPECT_EQ(field(&again, "Text1")->text(), "/data/b.dbc");
}

TEST_F(SelectionTest, DbcButtonOpensTheWindowModallyAndTheCloseBoxChangesNothing) {
    form->show();
    form->useDbcSource = false;
    tp::app::settings().save("FoxproOption", "2");
    bool sawModal = false;
    QTimer::singleShot(0, [&] {
        auto* w = qobject_cast<DbcOptionsDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(w, nullptr);
        sawModal = w->isModal() && w->parentWidget() == form.get() && w->windowTitle() == "Advanced Options";
        w->findChild<QLineEdit*>("Text1")->setText("/data/c.dbc");
        w->close();
    });
    form->showDbcOptions();
    EXPECT_TRUE(sawModal);
    EXPECT_FALSE(form->useDbcSource);
    EXPECT_EQ(stored("FoxproOption"), "2");
    EXPECT_EQ(stored("DBCFile"), "/data/c.dbc");
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(SelectionTest, AdvancedOptionsLoadReportsABadPointerFileAndGoesOn) {
    tp::app::settings().save("DBCFile", "/data/kept.dbc");
    tp::test::writeFile(program.file("HAND-M.CUR"), "garbage");
    DbcOptionsDialog f6(*form, form.get());
    f6.load();
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_NE(boxes->shown[0].text.find("\r\nin Larkspan2021/08/31.Form6.Form_Load at line 106\r\r"),
              std::string::npos);
    EXPECT_EQ(field(&f6, "Text1")->text(), "/data/kept.dbc");
}

TEST_F(SelectionTest, AdvancedOptionsLayoutAndNames) {
    DbcOptionsDialog f6(*form, form.get());
    f6.load();
    // The window is taller than the classic 1635 twips by the group of the
    // tables' code page and the check boxes of keys and field types below
    // the buttons; the classic controls keep their places.
    EXPECT_EQ(f6.size(), QSize(tp::app::twips(8040), tp::app::twips(3885)));
    EXPECT_EQ(field(&f6, "Text1")->accessibleName(), "DBC File:");
    for (const char* b : {"PushButton1", "PushButton2", "PushButton5"})
        EXPECT_NE(f6.findChild<QPushButton*>(b), nullptr) << b;
    EXPECT_EQ(f6.findChild<QPushButton*>("PushButton2")->geometry(),
              QRect(tp::app::twips(4080), tp::app::twips(1130), tp::app::twips(3840), tp::app::twips(405)));
    EXPECT_EQ(f6.findChild<QPushButton*>("PushButton2")->text(), "Cancel");
    EXPECT_TRUE(f6.autoFillBackground());
}

// "Create keys, indexes and relations": on until the user turns it off,
// kept at once and across starts, read by the run.
TEST_F(SelectionTest, TheKeysChoiceIsOnByDefaultAndKept) {
    EXPECT_TRUE(form->createKeys());
    {
        DbcOptionsDialog f6(*form, form.get());
        f6.load();
        auto* keys = f6.findChild<QCheckBox*>("CheckKeys");
        ASSERT_NE(keys, nullptr);
        EXPECT_EQ(keys->accessibleName(), "Create keys, indexes and relations");
        EXPECT_EQ(keys->text(), "Create keys, indexes and relations");
        EXPECT_TRUE(keys->isChecked());
        EXPECT_EQ(stored("CreateKeys"), "<absent>");  // loading writes nothing
        keys->setChecked(false);
        f6.reject();  // the close box: the choice is kept all the same
    }
    EXPECT_EQ(stored("CreateKeys"), "0");
    EXPECT_FALSE(form->createKeys());
    tp::app::reopenSettings();
    {
        DbcOptionsDialog f6(*form, form.get());
        f6.load();
        EXPECT_FALSE(f6.findChild<QCheckBox*>("CheckKeys")->isChecked());
        f6.findChild<QCheckBox*>("CheckKeys")->setChecked(true);
    }
    EXPECT_EQ(stored("CreateKeys"), "1");
    EXPECT_TRUE(form->createKeys());
}

// The code page of tables that name none: chosen in Advanced Options, kept
// across starts, read by the next run, and told when the run ends.
TEST_F(SelectionTest, TheCodePageChoiceIsKeptAndReadsTheTables) {
    if (!tp::test::mdbReaderAvailable()) GTEST_SKIP() << "mdb-reader is not installed";
    // A folder with a Visual FoxPro table without a mark whose text is
    // Russian in code page 866.
    tp::test::TempDir data;
    const std::string russian =
        "\x8F\xE0\xA8\xA2\xA5\xE2, \xAC\xA8\xE0! \x8F\xAE\xE1\xE2\xA0\xA2\xE9\xA8\xAA "
        "\xA4\xAE\xE1\xE2\xA0\xA2\xA8\xAB \xE2\xAE\xA2\xA0\xE0.";
    const std::string utf8 = "Привет, мир! Поставщик доставил товар.";
    tp::test::DbfBuilder b;
    b.codePage = 0;
    b.fields = {{"TEXT", 'C', static_cast<uint8_t>(russian.size())}};
    b.records = {" " + russian, " " + russian};
    tp::test::writeFile(data.file("clients.dbf"), b.build());
    field(form.get(), "Text2")->setText(QString::fromStdString(data.path().string()));
    field(form.get(), "Text5")->setText(QString::fromStdString(data.file("t.mdb")));
    form->findChild<QCheckBox*>("Check1")->setChecked(false);  // plain mode
    auto convert = [&] {
        boxes->shown.clear();
        boxes->answers = {tp::mb::Yes, tp::mb::Yes};  // create the target, replace the table
        form->startConversion();
        return tp::test::mdbReaderDump(data.file("t.mdb"));
    };

    {
        DbcOptionsDialog f6(*form, form.get());
        f6.load();
        auto* list = f6.findChild<QComboBox*>("Combo1");
        auto* force = f6.findChild<QCheckBox*>("Check2");
        ASSERT_NE(list, nullptr);
        ASSERT_NE(force, nullptr);
        EXPECT_EQ(list->accessibleName(), "Code page for tables that do not name one");
        EXPECT_EQ(force->accessibleName(), "Use this code page for every table");
        EXPECT_EQ(f6.findChild<QLabel*>("Label2")->text(), "Code page for tables that do not name one:");
        EXPECT_EQ(list->currentIndex(), 0);
        EXPECT_TRUE(list->currentText().startsWith("Automatic"));
        EXPECT_GE(list->findText("866 - Cyrillic DOS"), 1);
        EXPECT_GE(list->findText("1252 - Western Windows"), 1);
        EXPECT_FALSE(force->isEnabled());
        EXPECT_EQ(stored("CodePage"), "<absent>");
    }
    // Automatic: the text says 866.
    auto dump = convert();
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_NE(dump.out.find(utf8), std::string::npos) << dump.out.substr(0, 400);
    ASSERT_FALSE(boxes->shown.empty());
    EXPECT_NE(boxes->shown.back().text.find("clients: no code page mark; read as 866 (Cyrillic DOS), detected"),
              std::string::npos)
        << boxes->shown.back().text;
    EXPECT_NE(boxes->shown.back().text.find("Advanced Options"), std::string::npos);

    // 1251 chosen for every table, kept across a restart of the program.
    {
        DbcOptionsDialog f6(*form, form.get());
        f6.load();
        auto* list = f6.findChild<QComboBox*>("Combo1");
        list->setCurrentIndex(list->findData(1251));
        f6.findChild<QCheckBox*>("Check2")->setChecked(true);
        f6.useFolder();
    }
    EXPECT_EQ(stored("CodePage"), "1251");
    EXPECT_EQ(stored("ForceCodePage"), "1");
    form.reset();
    tp::app::reopenSettings();
    form = std::make_unique<MainWindow>();
    form->endProgram = [](int) {};
    form->load();
    {
        DbcOptionsDialog f6(*form, form.get());
        f6.load();
        EXPECT_EQ(f6.findChild<QComboBox*>("Combo1")->currentData().toInt(), 1251);
        EXPECT_TRUE(f6.findChild<QCheckBox*>("Check2")->isChecked());
        EXPECT_TRUE(f6.findChild<QCheckBox*>("Check2")->isEnabled());
    }
    EXPECT_EQ(form->sourceCodePage(), (tp::db::CodePageChoice{1251, true}));
    form->findChild<QCheckBox*>("Check1")->setChecked(false);
    dump = convert();
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_EQ(dump.out.find(utf8), std::string::npos) << "866 text read as 1251";
    EXPECT_NE(boxes->shown.back().text.find("clients: no code page mark; read as 1251 (Cyrillic Windows), as chosen "
                                            "for every table"),
              std::string::npos)
        << boxes->shown.back().text;
}

}  // namespace
