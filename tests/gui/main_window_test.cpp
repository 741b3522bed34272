// The main window: controls, start-up sequence, persisted settings, the
// change and click rules, the error box of the start-up sequence, pointers.
#include <sys/stat.h>

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include "app/main_window.h"
#include "app/settings.h"
#include "tests/gui/gui_support.h"
#include "host/app_title.h"
#include "host/error_report.h"
#include "ui/pointer.h"

using tp::WindowPointer;
using tp::app::MainWindow;

namespace {

class MainWindowTest : public tp::test::GuiTest {
protected:
    std::unique_ptr<MainWindow> load() {
        auto f = std::make_unique<MainWindow>();
        f->endProgram = [this](int code) { endCodes.push_back(code); };
        f->load();
        return f;
    }
    template <class T>
    static T* child(MainWindow& f, const char* name) {
        T* w = f.findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    static void type(QLineEdit* e, const QString& text) {
        for (QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(e, &press);
        }
    }
    static void backspace(QLineEdit* e) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        QApplication::sendEvent(e, &press);
    }
    // A valid cursor file: an icon image whose directory says "cursor" and
    // holds a hot spot.
    static void writeCursor(const std::string& path, int hx, int hy) {
        QImage img(32, 32, QImage::Format_ARGB32);
        img.fill(Qt::red);
        QByteArray data;
        QBuffer buf(&data);
        buf.open(QIODevice::WriteOnly);
        ASSERT_TRUE(img.save(&buf, "ico"));
        data[2] = 2;
        data[10] = static_cast<char>(hx);
        data[11] = 0;
        data[12] = static_cast<char>(hy);
        data[13] = 0;
        tp::test::writeFile(path, data.toStdString());
    }
    std::vector<int> endCodes;
};

TEST_F(MainWindowTest, FirstStartWithAnEmptyStore) {
    auto f = load();
    EXPECT_EQ(child<QCheckBox>(*f, "Check1")->checkState(), Qt::Checked);
    EXPECT_TRUE(child<QRadioButton>(*f, "Option1")->isChecked());
    EXPECT_FALSE(child<QRadioButton>(*f, "Option2")->isChecked());
    EXPECT_TRUE(child<QRadioButton>(*f, "Option1")->isEnabled());
    EXPECT_TRUE(child<QRadioButton>(*f, "Option2")->isEnabled());
    for (const char* t : {"Text2", "Text5", "Text6"}) EXPECT_EQ(child<QLineEdit>(*f, t)->text(), "") << t;
    EXPECT_TRUE(f->useDbcSource);
    EXPECT_EQ(f->dbcPath, "");
    EXPECT_EQ(stored("Check1"), "1");
    EXPECT_EQ(stored("FoxproOption"), "<absent>");
    EXPECT_EQ(f->windowTitle(), "Tallyport");
    EXPECT_FALSE(f->windowIcon().isNull());
    EXPECT_EQ(tp::appTitle(), "Tallyport");
    EXPECT_TRUE(boxes->shown.empty());
    EXPECT_TRUE(endCodes.empty());
    // A run takes the fields as they are when it starts.
    child<QLineEdit>(*f, "Text5")->setText("/t/x.mdb");
    const tp::RunSelection sel = f->runSelection();
    EXPECT_TRUE(sel.source.dbc);
    EXPECT_EQ(sel.target.path, "/t/x.mdb");
}

TEST_F(MainWindowTest, StoredDbcKindWithAStoredFolderComesUpInFolderMode) {
    store("FoxproOption", "1");
    store("FreeTableFolder", "/data/free tables");
    store("DBCFile", "/data/db/main.dbc");
    auto f = load();
    EXPECT_FALSE(f->useDbcSource);
    EXPECT_EQ(stored("FoxproOption"), "2");
    EXPECT_EQ(child<QLineEdit>(*f, "Text2")->text(), "/data/free tables");
    EXPECT_EQ(f->dbcPath, "/data/db/main.dbc");
}

TEST_F(MainWindowTest, StoredDbcKindWithoutAFolderStaysDbc) {
    store("FoxproOption", "1");
    store("DBCFile", "/data/db/main.dbc");
    auto f = load();
    EXPECT_TRUE(f->useDbcSource);
    EXPECT_EQ(f->dbcPath, "/data/db/main.dbc");
    EXPECT_EQ(f->sourceFolder(), "");
    EXPECT_EQ(stored("FoxproOption"), "1");
}

TEST_F(MainWindowTest, EveryStoredValueIsRestored) {
    store("Check1", "0");
    store("Option1", "False");
    store("Option2", "True");
    store("FoxproOption", "2");
    store("AccessMDBFile", "/t/target.accdb");
    store("AccessPassword", "s3cr'et");
    auto f = load();
    EXPECT_EQ(f->previewState(), 0);
    EXPECT_FALSE(child<QRadioButton>(*f, "Option1")->isEnabled());
    EXPECT_FALSE(child<QRadioButton>(*f, "Option2")->isEnabled());
    EXPECT_FALSE(f->previewOnceAtEnd());
    EXPECT_TRUE(f->previewPerTable());
    EXPECT_FALSE(f->useDbcSource);
    EXPECT_EQ(f->targetPath(), "/t/target.accdb");
    EXPECT_EQ(f->targetPassword(), "s3cr'et");
    EXPECT_EQ(stored("Option1"), "False");
    EXPECT_EQ(stored("Option2"), "True");
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(MainWindowTest, NumericOptionTextsReadAsBooleans) {
    store("Option1", "0");
    store("Option2", "-1");
    auto f = load();
    EXPECT_TRUE(f->previewPerTable());
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(MainWindowTest, PreviewCheckClicksEnableTheOptionsAndAreStored) {
    auto f = load();
    auto* check = child<QCheckBox>(*f, "Check1");
    check->click();
    EXPECT_FALSE(child<QRadioButton>(*f, "Option1")->isEnabled());
    EXPECT_FALSE(child<QRadioButton>(*f, "Option2")->isEnabled());
    EXPECT_EQ(stored("Check1"), "0");
    check->click();
    EXPECT_TRUE(child<QRadioButton>(*f, "Option1")->isEnabled());
    EXPECT_TRUE(child<QRadioButton>(*f, "Option2")->isEnabled());
    EXPECT_EQ(stored("Check1"), "1");
}

TEST_F(MainWindowTest, OptionClicksStoreBothKeys) {
    auto f = load();
    child<QRadioButton>(*f, "Option2")->click();
    EXPECT_EQ(stored("Option1"), "False");
    EXPECT_EQ(stored("Option2"), "True");
    child<QRadioButton>(*f, "Option1")->click();
    EXPECT_EQ(stored("Option1"), "True");
    EXPECT_EQ(stored("Option2"), "False");
    EXPECT_TRUE(f->previewOnceAtEnd() != f->previewPerTable());
}

TEST_F(MainWindowTest, EveryIntermediatePasswordIsStored) {
    auto f = load();
    auto* pw = child<QLineEdit>(*f, "Text6");
    std::vector<std::string> seen;
    QObject::connect(pw, &QLineEdit::textChanged, [&] { seen.push_back(stored("AccessPassword")); });
    type(pw, "pw1");
    backspace(pw);
    EXPECT_EQ(seen, (std::vector<std::string>{"p", "pw", "pw1", "pw"}));
    EXPECT_EQ(pw->echoMode(), QLineEdit::Password);
}

TEST_F(MainWindowTest, ClearingTheFolderStoresItAndKeepsTheSourceKind) {
    store("FoxproOption", "1");
    auto f = load();
    auto* t2 = child<QLineEdit>(*f, "Text2");
    t2->setText("/data/a");
    EXPECT_FALSE(f->useDbcSource);
    EXPECT_EQ(stored("FreeTableFolder"), "/data/a");
    EXPECT_EQ(stored("FoxproOption"), "2");
    // Back to the DBC kind as the Advanced Options window does it.
    f->useDbcSource = true;
    tp::app::settings().save("FoxproOption", "1");
    t2->clear();
    EXPECT_EQ(stored("FreeTableFolder"), "");
    EXPECT_TRUE(f->useDbcSource);
    EXPECT_EQ(stored("FoxproOption"), "1");
}

TEST_F(MainWindowTest, TargetFileChangesAreStored) {
    auto f = load();
    child<QLineEdit>(*f, "Text5")->setText("/x/y.mdb");
    EXPECT_EQ(stored("AccessMDBFile"), "/x/y.mdb");
}

TEST_F(MainWindowTest, SettingsFileIsPrivate) {
    auto f = load();
    struct stat st {};
    ASSERT_EQ(::stat(settingsFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(MainWindowTest, AnOpenSettingsFileIsMadePrivate) {
    store("AccessPassword", "old");
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0644), 0);
    auto f = load();
    child<QLineEdit>(*f, "Text6")->setText("new");
    struct stat st {};
    ASSERT_EQ(::stat(settingsFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(stored("AccessPassword"), "new");
}

TEST_F(MainWindowTest, NonNumericCheck1IsReportedAndStartUpGoesOn) {
    store("Check1", "yes");
    store("AccessMDBFile", "/t/a.mdb");
    auto f = load();
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->shown[0].title, "Application Error");
    EXPECT_EQ(boxes->shown[0].style, 48);
    EXPECT_EQ(boxes->shown[0].text,
              "Type mismatch\r\nin Larkspan2021/08/31.Form1.Form_Load at line 122\r\r"
              "Please email screenshot of this message to " +
                  std::string(tp::kSupportEmail));
    EXPECT_EQ(f->targetPath(), "/t/a.mdb");
    EXPECT_TRUE(endCodes.empty());
}

TEST_F(MainWindowTest, UnreadableHandPointerIsReportedAndStartUpGoesOn) {
    tp::test::writeFile(program.file("HAND-M.CUR"), "not a cursor at all");
    store("Option1", "maybe");
    auto f = load();
    ASSERT_EQ(boxes->shown.size(), 2u);
    EXPECT_NE(boxes->shown[0].text.find("Invalid picture\r\nin Larkspan2021/08/31.Form1.Form_Load at line 112\r\r"),
              std::string::npos);
    EXPECT_NE(boxes->shown[1].text.find("at line 124\r\r"), std::string::npos);
    EXPECT_FALSE(f->pointer().hasCustomImage());
    EXPECT_EQ(f->windowTitle(), "Tallyport");
}

TEST_F(MainWindowTest, SkinFileIsAppliedAsStyleSheet) {
    QDir().mkpath(QString::fromStdString(program.file("x")));
    const std::string sheet = "QPushButton { color: rgb(10, 20, 30); }";
    tp::test::writeFile(program.file("x/o.cjs"), sheet);
    auto f = load();
    EXPECT_EQ(f->styleSheet().toStdString(), sheet);
    EXPECT_TRUE(f->autoFillBackground());
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(MainWindowTest, AnUnwritableStoreEndsTheProgramWithAPlainMessage) {
    // A folder where the settings file should be: nothing can be written.
    QDir().mkpath(QString::fromStdString(settingsFile()));
    auto f = load();
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_NE(boxes->shown[0].title, "Application Error");
    EXPECT_NE(boxes->shown[0].text.find("could not be saved"), std::string::npos);
    EXPECT_EQ(endCodes, std::vector<int>{1});
}

TEST_F(MainWindowTest, ClosingTheWindowEndsTheProgram) {
    auto f = load();
    f->show();
    f->close();
    EXPECT_EQ(endCodes, std::vector<int>{0});
}

TEST_F(MainWindowTest, ControlsCarryTheirNamesCaptionsAndLayout) {
    auto f = load();
    const int h = f->height();
    EXPECT_EQ(f->width(), tp::app::twips(8040));
    EXPECT_EQ(h, tp::app::twips(6255));
    for (const char* b : {"PushButton1", "PushButton2", "PushButton3", "PushButton4", "PushButton5", "PushButton7",
                          "PushButton8", "PushButton12"}) {
        auto* w = child<QPushButton>(*f, b);
        EXPECT_EQ(w->accessibleName(), w->text()) << b;
        EXPECT_TRUE(w->font().bold());
        EXPECT_DOUBLE_EQ(w->font().pointSizeF(), 11.25);
    }
    EXPECT_EQ(child<QPushButton>(*f, "PushButton7")->text(), "Start Converting");
    EXPECT_EQ(child<QLineEdit>(*f, "Text2")->accessibleName(), "Folder containing DBF/s:");
    EXPECT_EQ(child<QLineEdit>(*f, "Text5")->accessibleName(), "MDB or ACCDB File:");
    EXPECT_EQ(child<QLineEdit>(*f, "Text6")->accessibleName(), "Password (if required):");
    EXPECT_EQ(child<QGroupBox>(*f, "Frame1")->accessibleName(), "FoxPro Login");
    EXPECT_EQ(child<QGroupBox>(*f, "Frame2")->accessibleName(), "SQL Preview");
    EXPECT_EQ(child<QGroupBox>(*f, "Frame3")->accessibleName(), "Access Database");
    EXPECT_EQ(child<QProgressBar>(*f, "ProgressBar1")->text(), "Progress Bar");
    EXPECT_EQ(child<QPushButton>(*f, "PushButton8")->geometry(),
              QRect(tp::app::twips(3960), tp::app::twips(750), tp::app::twips(2880), tp::app::twips(405)));
    for (const char* l : {"List1", "List2"}) EXPECT_GE(child<QListWidget>(*f, l)->y(), h) << l;
    EXPECT_TRUE(child<QLabel>(*f, "Label1")->font().bold());
    for (const char* g : {"Frame1", "Frame2", "Frame3"}) EXPECT_TRUE(child<QGroupBox>(*f, g)->font().bold()) << g;
}

TEST_F(MainWindowTest, ProgressTextIsShownLiterally) {
    auto f = load();
    f->setProgressText("Table 2 of 3: 50% done");
    f->setProgressValue(50);
    EXPECT_EQ(child<QProgressBar>(*f, "ProgressBar1")->text(), "Table 2 of 3: 50% done");
    f->setProgressValue(std::nan(""));
    EXPECT_EQ(child<QProgressBar>(*f, "ProgressBar1")->value(), 0);
}

TEST_F(MainWindowTest, HiddenListsServeAsListBoxes) {
    auto f = load();
    f->sourceTables().addItem("orders");
    f->sourceTables().addItem("Customers");
    EXPECT_EQ(child<QListWidget>(*f, "List2")->count(), 2);
    f->sourceTables().removeItem(0);
    EXPECT_EQ(f->sourceTables().item(0), "Customers");
}

// ---- pointers -------------------------------------------------------------------

void hover(QWidget* w) {
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), QPointF(2, 2), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &move);
}

TEST_F(MainWindowTest, HoverRuleNeverReplacesTheBusyPointer) {
    auto f = load();
    f->show();
    auto& ptr = f->pointer();
    hover(child<QPushButton>(*f, "PushButton7"));
    EXPECT_EQ(ptr.value(), WindowPointer::Custom);
    // No hand image: the custom value shows the default arrow.
    EXPECT_EQ(f->cursor().shape(), Qt::ArrowCursor);
    hover(child<QGroupBox>(*f, "Frame1"));
    EXPECT_EQ(ptr.value(), WindowPointer::Default);
    f->setBusyPointer(true);
    hover(child<QPushButton>(*f, "PushButton1"));
    EXPECT_EQ(ptr.value(), WindowPointer::Busy);
    hover(f.get());
    hover(child<QLineEdit>(*f, "Text5"));
    EXPECT_EQ(ptr.value(), WindowPointer::Busy);
    EXPECT_EQ(f->cursor().shape(), Qt::WaitCursor);
    f->setBusyPointer(false);
    hover(child<QPushButton>(*f, "PushButton1"));
    EXPECT_EQ(ptr.value(), WindowPointer::Custom);
    // Check boxes and labels are not among the elements of the rule.
    hover(child<QCheckBox>(*f, "Check1"));
    EXPECT_EQ(ptr.value(), WindowPointer::Custom);
}

TEST_F(MainWindowTest, HandPointerIsLoadedWithItsHotSpot) {
    writeCursor(program.file("HAND-M.CUR"), 5, 3);
    auto f = load();
    EXPECT_TRUE(boxes->shown.empty());
    ASSERT_TRUE(f->pointer().hasCustomImage());
    f->show();
    hover(child<QPushButton>(*f, "PushButton5"));
    EXPECT_EQ(f->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(f->cursor().hotSpot(), QPoint(5, 3));
}

TEST(CursorFile, RejectsWhatIsNoCursor) {
    tp::test::TempDir dir;
    EXPECT_THROW(tp::loadCursorFile(dir.file("missing.cur")), std::runtime_error);
    tp::test::writeFile(dir.file("short.cur"), std::string("\0\0\2\0", 4));
    EXPECT_THROW(tp::loadCursorFile(dir.file("short.cur")), std::runtime_error);
    // A directory that promises an image far beyond the file.
    std::string hostile(22, '\0');
    hostile[2] = 2;
    hostile[4] = 1;
    hostile[14] = '\xff';
    hostile[15] = '\xff';
    hostile[16] = '\xff';
    hostile[17] = '\x7f';
    tp::test::writeFile(dir.file("hostile.cur"), hostile);
    EXPECT_THROW(tp::loadCursorFile(dir.file("hostile.cur")), std::runtime_error);
}

}  // namespace
