// The buttons that choose the source and the target, Test Connection, Help,
// and the Advanced Options window for a .dbc source.
#include <QApplication>
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

TEST_F(SelectionTest, HelpShowsThreeParagraphs) {
    form->showHelp();
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->shown[0].text,
              "This software transfers text-based and numeric fields but does not handle binary / "
              "pictures fields.\r\n\r\nUse SQL Preview if your tables contains less than 32767 rows."
              "\r\n\r\nQuestions? Please contact Team Brindlewood at https://tallyport.app/contact/");
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
    EXPECT_EQ(kind->accessibleDescription(), "Source in use: the free tables of the folder below");
}

TEST_F(SelectionTest, OkWithAnEmptyFieldChangesNothing) {
    field(form.get(), "Text2")->setText("/data/free");
    DbcOptionsDialog f6(*form, form.get());
    f6.load();
    f6.useDbc();
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
    }
    ASSERT_TRUE(form->useDbcSource);
    DbcOptionsDialog f6(*form, form.get());
    f6.load();
    EXPECT_EQ(field(&f6, "Text1")->text(), "/data/a.dbc");
    field(&f6, "Text1")->setText("/data/b.dbc");
    f6.useFolder();
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
    EXPECT_EQ(f6.size(), QSize(tp::app::twips(8040), tp::app::twips(1635)));
    EXPECT_EQ(field(&f6, "Text1")->accessibleName(), "DBC File:");
    for (const char* b : {"PushButton1", "PushButton2", "PushButton5"})
        EXPECT_NE(f6.findChild<QPushButton*>(b), nullptr) << b;
    EXPECT_EQ(f6.findChild<QPushButton*>("PushButton2")->text(), "Cancel");
    EXPECT_TRUE(f6.autoFillBackground());
}

}  // namespace
