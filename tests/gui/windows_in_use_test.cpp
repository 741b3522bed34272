// The windows as people use them, through the real windows, run and engine:
// a mistake in a field ends the run with one message and the focus on that
// field; the end of the run tells what became of every table; a double click
// does not reach the window that opens in place of another; Enter presses the
// focused button; Tab follows the layout; Copy SQL says when nothing is
// ticked; mailing without a mail program leaves the text on the clipboard.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <unistd.h>

#include <cstdlib>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>

#include "app/main_window.h"
#include "convert/run.h"
#include "db/ado.h"
#include "host/app_title.h"
#include "host/events.h"
#include "host/shell.h"
#include "preview/sql_preview_window.h"
#include "preview/windows.h"
#include "tests/gui/gui_support.h"

namespace fs = std::filesystem;
using tp::preview::SqlPreviewWindow;

namespace {

using tp::test::builtSamples;
using tp::test::whenModal;

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

// The object names met when Tab is pressed from `first`, `count` times.
std::vector<std::string> tabOrder(QWidget* first, int count) {
    QApplication::setActiveWindow(first->window());
    first->setFocus(Qt::TabFocusReason);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        QWidget* w = first->window()->focusWidget();
        if (!w) break;
        names.push_back(w->objectName().toStdString());
        QTest::keyClick(w, Qt::Key_Tab);
    }
    return names;
}

// Past the time in which a window that has just opened ignores the user.
void waitPastOpening() { QTest::qWait(QApplication::doubleClickInterval() + 60); }

class WindowsInUse : public tp::test::SampleRunTest {
protected:
    void SetUp() override {
        SampleRunTest::SetUp();
        if (IsSkipped()) return;
        form->show();
        QApplication::setActiveWindow(form.get());
    }

    template <class T>
    T* child(const char* name) {
        T* w = form->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void setField(const char* name, const std::string& text) {
        child<QLineEdit>(name)->setText(QString::fromStdString(text));
    }
    std::string focused() const {
        const QWidget* w = form->focusWidget();
        return w ? w->objectName().toStdString() : "<none>";
    }
    // The boxes shown, questions left out.
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        for (const auto& b : boxes->shown)
            if ((b.style & 0xF) != tp::mb::YesNo) out.push_back(b.text);
        return out;
    }
    void expectProgressReset() {
        auto* bar = child<QProgressBar>("ProgressBar1");
        EXPECT_EQ(bar->value(), 0);
        EXPECT_EQ(bar->format(), "Progress Bar");
    }
};

// Each mistake: one message naming the cause and the field to fix, the focus
// in that field, no "Application Error", no end box, no target made, the
// progress bar as before the run.
TEST_F(WindowsInUse, AMistakeEndsTheRunWithOneMessageAndTheFocusOnTheFieldToFix) {
    child<QCheckBox>("Check1")->setChecked(false);  // plain mode: statements would run at once
    tp::test::TempDir work;
    const std::string samples = program.file("Samples");
    struct Case {
        std::string what, folder, target, password;
        std::deque<int> answers;
        std::vector<std::string> says;  // pieces of the one message
        std::string field;
    };
    fs::create_directories(work.path() / "empty");
    fs::copy(samples, work.path() / "damaged", fs::copy_options::recursive);
    tp::test::writeFile(work.file("damaged/orders.dbf"), "this is not a table");
    const std::string locked = work.file("locked.mdb");
    tp::convert::createTargetDatabase(locked, "secret");
    std::vector<Case> cases = {
        {"missing folder",
         work.file("no-such-folder"),
         work.file("a.mdb"),
         "",
         {},
         {"The FoxPro source cannot be converted.", "no-such-folder does not exist", "Folder containing DBF/s:"},
         "Text2"},
        {"folder without tables",
         work.file("empty"),
         work.file("a.mdb"),
         "",
         {},
         {"holds no FoxPro tables", "Folder containing DBF/s:"},
         "Text2"},
        {"damaged table",
         work.file("damaged"),
         work.file("a.mdb"),
         "",
         {},
         {"The table orders cannot be read", "Folder containing DBF/s:"},
         "Text2"},
        {"target in a missing folder",
         samples,
         work.file("no-such-folder/a.mdb"),
         "",
         {},
         {"no-such-folder does not exist", "MDB or ACCDB File:"},
         "Text5"},
        {"wrong password", samples, locked, "wrong", {}, {"Not a valid password.", "Password (if required):"}, "Text6"},
    };
    // A target that cannot be written (immutable, which stops root too).
    const std::string readOnly = work.file("read-only.mdb");
    tp::convert::createTargetDatabase(readOnly, "");
    const std::string before = tp::test::readFile(readOnly);
    const bool immutable = std::system(("chattr +i '" + readOnly + "' 2>/dev/null").c_str()) == 0;
    struct Unlock {
        std::string path;
        ~Unlock() {
            if (!path.empty()) (void)std::system(("chattr -i '" + path + "'").c_str());
        }
    } unlock{immutable ? readOnly : std::string()};
    if (immutable)
        cases.push_back({"read-only target",
                         samples,
                         readOnly,
                         "",
                         {},
                         {"The file cannot be written (Operation not permitted)", "MDB or ACCDB File:"},
                         "Text5"});
    if (geteuid() != 0) {  // a read-only folder stops only those who are not root
        fs::create_directories(work.path() / "read-only");
        fs::permissions(work.path() / "read-only", fs::perms::owner_read | fs::perms::owner_exec);
        cases.push_back({"read-only folder",
                         samples,
                         work.file("read-only/a.mdb"),
                         "",
                         {tp::mb::Yes},
                         {"could not be created", "MDB or ACCDB File:"},
                         "Text5"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setField("Text2", c.folder);
        setField("Text5", c.target);
        setField("Text6", c.password);
        child<QPushButton>("PushButton7")->setFocus();
        boxes->shown.clear();
        boxes->answers = c.answers;
        child<QPushButton>("PushButton7")->click();
        const auto said = messages();
        ASSERT_EQ(said.size(), 1u) << (said.empty() ? "" : said.back());
        for (const auto& piece : c.says) EXPECT_TRUE(contains(said[0], piece)) << said[0];
        for (const auto& b : boxes->shown) EXPECT_NE(b.title, "Application Error");
        EXPECT_EQ(focused(), c.field);
        expectProgressReset();
        if (c.target != locked && c.target != readOnly) {
            EXPECT_FALSE(fs::exists(c.target));
        }
    }
    if (immutable) {
        EXPECT_EQ(tp::test::readFile(readOnly), before);
    }

    // Test Connection tests the target too when one is filled in: one box
    // each, naming the field to fix.
    struct TargetCase {
        std::string target, password, says, field;
    };
    std::vector<TargetCase> targetCases = {
        {locked, "wrong", "Not a valid password.", "Text6"},
        {work.file("no-such-folder/a.mdb"), "", "no-such-folder does not exist", "Text5"},
    };
    if (immutable) targetCases.push_back({readOnly, "", "The file cannot be written", "Text5"});
    setField("Text2", samples);
    for (const TargetCase& c : targetCases) {
        SCOPED_TRACE(c.target);
        setField("Text5", c.target);
        setField("Text6", c.password);
        boxes->shown.clear();
        child<QPushButton>("PushButton8")->click();
        ASSERT_EQ(boxes->shown.size(), 1u);
        EXPECT_EQ(boxes->shown[0].text.rfind("Could not connect to the Access database " + c.target, 0), 0u)
            << boxes->shown[0].text;
        EXPECT_TRUE(contains(boxes->shown[0].text, c.says)) << boxes->shown[0].text;
        EXPECT_EQ(focused(), c.field);
    }
    setField("Text6", "");

    // Test Connection names the damaged table with the reader's words.
    setField("Text2", work.file("damaged"));
    boxes->shown.clear();
    child<QPushButton>("PushButton8")->click();
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->shown[0].text.rfind("Could not connect.\r\n\r\nThe table orders cannot be read: ", 0), 0u)
        << boxes->shown[0].text;

    // A name that is not .mdb or .accdb is asked about before any file is
    // made; No stops there, with the focus on the name.
    setField("Text2", samples);
    setField("Text5", work.file("new.txt"));
    boxes->shown.clear();
    boxes->answers = {tp::mb::No};
    child<QPushButton>("PushButton7")->click();
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_TRUE(contains(boxes->shown[0].text, "ends in neither .mdb nor .accdb")) << boxes->shown[0].text;
    EXPECT_FALSE(fs::exists(work.file("new.txt")));
    EXPECT_EQ(focused(), "Text5");
    fs::remove(locked);  // its password is not the checks'
}

// Per table: Execute, Skip while Execute SQL runs (undone), Skip, Back. The
// end box tells each; every preview names its table and opens on its list.
// Then per file, after a Back: one table kept at the overwrite question.
TEST_F(WindowsInUse, TheEndOfTheRunTellsWhatBecameOfEveryTable) {
    child<QCheckBox>("Check1")->setChecked(true);
    child<QRadioButton>("Option2")->setChecked(true);
    std::vector<std::string> named;
    std::vector<bool> onTheList;
    auto look = [&](SqlPreviewWindow& f) {
        named.push_back(f.tableLabel->text().toStdString());
        onTheList.push_back(f.focusWidget() == f.statementView);
    };
    startConverting({[&](SqlPreviewWindow& f) {
                         look(f);
                         f.executeButton->click();
                     },
                     [&](SqlPreviewWindow& f) {
                         look(f);
                         // Every line yields, so the press comes at 40% however
                         // fast the lines run.
                         tp::setEventThrottleMs(0);
                         auto* press = new QTimer(&f);
                         press->setInterval(0);
                         QObject::connect(press, &QTimer::timeout, [&f, press] {
                             if (!f.isExecuting() || f.progressValue() < 40) return;
                             press->stop();
                             tp::setEventThrottleMs(15);
                             f.skipButton->click();
                         });
                         press->start();
                         f.executeButton->click();
                     },
                     [&](SqlPreviewWindow& f) {
                         look(f);
                         f.skipButton->click();
                     },
                     [&](SqlPreviewWindow& f) {
                         look(f);
                         f.backButton->click();
                     }});
    tp::setEventThrottleMs(15);
    EXPECT_EQ(named, (std::vector<std::string>{"Table: products", "Table: orders", "Table: empty_values",
                                               "Table: customers"}));
    EXPECT_EQ(onTheList, std::vector<bool>(4, true));
    ASSERT_FALSE(boxes->shown.empty());
    EXPECT_EQ(boxes->shown.back().text,
              "Done.\r\n\r\n1 table converted.\r\n1 table skipped.\r\n1 table undone: what Execute SQL had written was "
              "taken back.\r\n1 table not converted: the preview was closed with \"< Back\".");
    expectProgressReset();
    EXPECT_EQ(targetTables(), (std::map<std::string, int>{{"products", 16}}));
    // The hidden List2 shows the run's list of the source's tables.
    auto* sourceList = child<QListWidget>("List2");
    QStringList shown;
    for (int i = 0; i < sourceList->count(); ++i) shown << sourceList->item(i)->text();
    EXPECT_EQ(shown, (QStringList{"customers", "empty_values", "orders", "products"}));

    // Per file: products exists; No keeps it. The preview closed with Back
    // executes nothing, and the end box says so.
    child<QRadioButton>("Option1")->setChecked(true);
    boxes->shown.clear();
    boxes->answers = {tp::mb::No};
    named.clear();
    onTheList.clear();
    startConverting({[&](SqlPreviewWindow& f) {
        look(f);
        f.backButton->click();
    }});
    ASSERT_EQ(boxes->shown.size(), 2u);
    EXPECT_EQ(boxes->shown[0].title, "Overwrite?");
    EXPECT_EQ(boxes->shown[0].style, tp::mb::YesNo | tp::mb::ToAll);  // more tables to come
    EXPECT_EQ(named, std::vector<std::string>{"All tables of this run"});
    EXPECT_EQ(onTheList, std::vector<bool>{true});  // not on "< Back", which closed the last one
    EXPECT_EQ(boxes->shown[1].text,
              "Done.\r\n\r\nNo table was converted.\r\n1 table skipped.\r\n3 tables not "
              "converted: the preview was closed without Execute SQL.");
    EXPECT_EQ(targetTables(), (std::map<std::string, int>{{"products", 16}}));
}

// The second click of a double click on Execute SQL lands in the next
// table's preview, which has just opened: it is ignored, and so is a key.
// Past the double-click interval the window answers, Enter on the focused
// button included.
TEST_F(WindowsInUse, ADoubleClickDoesNotReachTheNextPreviewAndEnterPressesTheFocusedButton) {
    child<QCheckBox>("Check1")->setChecked(true);
    child<QRadioButton>("Option2")->setChecked(true);
    bool stillOpen = false, executed = true;
    startConverting({[&](SqlPreviewWindow& f) {
                         waitPastOpening();
                         QTest::mouseClick(f.executeButton, Qt::LeftButton);  // the first click
                     },
                     [&](SqlPreviewWindow& f) {
                         QTest::mouseClick(f.executeButton, Qt::LeftButton);  // the second, at once
                         f.executeButton->setFocus();
                         QTest::keyClick(f.executeButton, Qt::Key_Return);
                         stillOpen = f.isVisible();
                         executed = f.isExecuting() || f.outcome().sqlExecuted;
                         waitPastOpening();
                         f.skipButton->setFocus();
                         QTest::keyClick(f.skipButton, Qt::Key_Return);
                     },
                     [&](SqlPreviewWindow& f) {
                         waitPastOpening();
                         f.backButton->setFocus();
                         QTest::keyClick(f.backButton, Qt::Key_Enter, Qt::KeypadModifier);
                     }});
    EXPECT_TRUE(stillOpen);
    EXPECT_FALSE(executed);
    EXPECT_EQ(boxes->shown.back().text,
              "Done.\r\n\r\n1 table converted.\r\n1 table skipped.\r\n2 tables not "
              "converted: the preview was closed with \"< Back\".");
    EXPECT_EQ(targetTables(), (std::map<std::string, int>{{"products", 16}}));

    // The main window: Enter on Help shows the help.
    boxes->shown.clear();
    auto* help = child<QPushButton>("PushButton5");
    help->setFocus();
    QTest::keyClick(help, Qt::Key_Return);
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->shown[0].text, tp::app::helpText());
}

// Tab follows the layout in every window; in Advanced Options Enter in the
// field is OK.
TEST_F(WindowsInUse, TabFollowsTheLayoutInEveryWindow) {
    EXPECT_EQ(tabOrder(child<QPushButton>("PushButton5"), 14),
              (std::vector<std::string>{"PushButton5", "Text2", "PushButton1", "PushButton2", "PushButton8",
                                        "PushButton12", "Text5", "PushButton3", "Text6", "PushButton4", "Check1",
                                        "Option1", "PushButton7", "PushButton5"}));

    std::vector<std::string> options;
    whenModal("Form6", [&] {
        waitPastOpening();
        QWidget* w = QApplication::activeModalWidget();
        auto* path = w->findChild<QLineEdit*>("Text1");
        options = tabOrder(path, 8);  // the code page's Check2 is off while the choice is automatic
        path->setFocus();
        path->setText("/data/main.dbc");
        QTest::keyClick(path, Qt::Key_Return);
    });
    child<QPushButton>("PushButton12")->click();
    EXPECT_EQ(options, (std::vector<std::string>{"Text1", "PushButton5", "PushButton1", "PushButton2", "Combo1",
                                                 "CheckKeys", "CheckTypes", "Text1"}));
    EXPECT_TRUE(form->useDbcSource);
    EXPECT_EQ(form->dbcPath, "/data/main.dbc");

    // The preview and the windows it opens.
    tp::preview::PreviewWindows windows([] { return nullptr; });
    windows.statementList().append("CREATE TABLE [t]([a] TEXT)");
    windows.statementList().append("INSERT INTO [t] VALUES('x')");
    windows.datatypeList().addRow("t");
    std::vector<std::string> preview, replace, editor, datatypes;
    whenModal("Form2", [&] {
        waitPastOpening();
        SqlPreviewWindow& f = windows.sqlPreview();
        preview = tabOrder(f.statementView, 14);
        whenModal("Form3", [&] {
            waitPastOpening();
            QWidget* w = QApplication::activeModalWidget();
            replace = tabOrder(w->findChild<QLineEdit*>("Text1"), 5);
            QTest::keyClick(w, Qt::Key_Escape);
        });
        f.findReplaceButton->click();
        whenModal("Form4", [&] {
            waitPastOpening();
            QWidget* w = QApplication::activeModalWidget();
            editor = tabOrder(w->findChild<QPlainTextEdit*>("Text1"), 4);
            QTest::keyClick(w, Qt::Key_Escape);
        });
        f.statementView->selectRow(0);
        f.editSelectedLine();
        whenModal("Form5", [&] {
            waitPastOpening();
            QWidget* w = QApplication::activeModalWidget();
            datatypes = tabOrder(w->findChild<QPushButton*>("PushButton5"), 3);
            QTest::keyClick(w, Qt::Key_Escape);
        });
        f.datatypesButton->click();
        f.back();
    });
    windows.showPreviewModal(form.get());
    EXPECT_EQ(preview,
              (std::vector<std::string>{"ListView1", "PushButton1", "PushButton3", "PushButton7", "PushButton2",
                                        "PushButton6", "PushButton4", "PushButton8", "PushButton9", "PushButton5",
                                        "CheckAllButton", "UncheckAllButton", "Text1", "ListView1"}));
    EXPECT_EQ(replace, (std::vector<std::string>{"Text1", "Text2", "PushButton2", "PushButton1", "Text1"}));
    EXPECT_EQ(editor, (std::vector<std::string>{"Text1", "PushButton2", "PushButton1", "Text1"}));
    EXPECT_EQ(datatypes, (std::vector<std::string>{"PushButton5", "ListView1", "PushButton5"}));
}

// Copy SQL with nothing ticked says so and leaves the clipboard alone; Ctrl+A
// and the buttons under the list tick and untick every line. Mailing the
// error without a mail program shows the address and leaves the text on the
// clipboard.
TEST_F(WindowsInUse, CopySqlWithNothingTickedAndMailWithoutAMailProgramSaySo) {
    tp::preview::PreviewWindows windows([] { return nullptr; });
    windows.statementList().append("CREATE TABLE [t]([a] TEXT)");
    windows.statementList().append("INSERT INTO [t] VALUES('x')");
    tp::setUrlOpener([](const std::string&) { return false; });
    QGuiApplication::clipboard()->setText("before");
    std::string afterNothing, afterAll;
    int tickedByCtrlA = -1, tickedAfterUncheck = -1;
    whenModal("Form2", [&] {
        waitPastOpening();
        SqlPreviewWindow& f = windows.sqlPreview();
        f.copySqlButton->click();
        afterNothing = QGuiApplication::clipboard()->text().toStdString();
        f.statementView->setFocus();
        QTest::keyClick(f.statementView, Qt::Key_A, Qt::ControlModifier);
        tickedByCtrlA = f.statements().isChecked(0) + f.statements().isChecked(1);
        f.uncheckAllButton->click();
        tickedAfterUncheck = f.statements().isChecked(0) + f.statements().isChecked(1);
        f.checkAllButton->click();
        f.copySqlButton->click();
        afterAll = QGuiApplication::clipboard()->text().toStdString();
        f.errorEdit->setPlainText("Syntax error in INSERT INTO statement.");
        f.mailErrorButton->click();
        f.back();
    });
    windows.showPreviewModal(form.get());
    EXPECT_EQ(afterNothing, "before");
    EXPECT_EQ(tickedByCtrlA, 2);
    EXPECT_EQ(tickedAfterUncheck, 0);
    EXPECT_EQ(afterAll, "CREATE TABLE [t]([a] TEXT)\r\nINSERT INTO [t] VALUES('x')\r\n");
    ASSERT_EQ(boxes->shown.size(), 3u);
    EXPECT_EQ(boxes->shown[0].text.rfind("No line is ticked, so nothing was copied.", 0), 0u) << boxes->shown[0].text;
    EXPECT_EQ(boxes->shown[1].text.rfind("Results have been copied to the clipboard.", 0), 0u);
    EXPECT_TRUE(contains(boxes->shown[2].text, tp::kSupportEmail)) << boxes->shown[2].text;
    EXPECT_TRUE(contains(boxes->shown[2].text, "on the clipboard"));
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "Syntax error in INSERT INTO statement.");
}

}  // namespace

// Stop Converting, and closing the window, in the middle of a table that
// replaces one: the old table comes back whole, the tables converted before
// it stay, the ones after it are not touched, and the file checks clean.
TEST_F(WindowsInUse, StoppingOrClosingMidTableTakesTheTableBack) {
    auto* start = child<QPushButton>("PushButton7");
    auto* bar = child<QProgressBar>("ProgressBar1");
    child<QCheckBox>("Check1")->setChecked(false);
    boxes->answers = {tp::mb::YesToAll};
    start->click();  // every table once, so that the next run replaces them
    ASSERT_EQ(targetTables(),
              (std::map<std::string, int>{{"customers", 7}, {"empty_values", 3}, {"orders", 2999}, {"products", 16}}));
    const std::string file = program.file("Samples/sample.mdb");
    auto keepOnly = [&](const char* where) {
        auto c = tp::db::CreateConnection();
        c->Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file);
        c->Execute(std::string("DELETE FROM [orders] WHERE ") + where);
        c->Close();
    };
    keepOnly("[orderid] > 100");
    const std::map<std::string, int> before = targetTables();

    // In orders, once its rows go: the click, or the close and Yes.
    for (const bool closing : {false, true}) {
        SCOPED_TRACE(closing ? "closing" : "Stop Converting");
        boxes->shown.clear();
        boxes->answers = closing ? std::deque<int>{tp::mb::YesToAll, tp::mb::Yes} : std::deque<int>{tp::mb::YesToAll};
        tp::setEventThrottleMs(0);
        std::string shownWhileRunning;
        auto* stop = new QTimer(form.get());
        stop->setInterval(0);
        QObject::connect(stop, &QTimer::timeout, [&, stop] {
            const std::string text = bar->format().toStdString();
            if (!contains(text, ": orders, ") || !contains(text, " rows")) return;
            stop->stop();
            shownWhileRunning = text + " | " + start->text().toStdString() + " | " +
                                (child<QLineEdit>("Text2")->isEnabled() ? "open" : "locked");
            if (closing) form->close();
            else start->click();
        });
        stop->start();
        start->click();
        tp::setEventThrottleMs(15);
        EXPECT_EQ(shownWhileRunning.rfind("Table 2 of 4: orders, ", 0), 0u) << shownWhileRunning;
        EXPECT_TRUE(contains(shownWhileRunning, " of 3,000 rows | Stop Converting | locked")) << shownWhileRunning;
        ASSERT_FALSE(boxes->shown.empty());
        EXPECT_TRUE(contains(boxes->shown.back().text,
                             "You stopped the run in the table orders: what the run had written of it was taken "
                             "back, so it is as it was before."))
            << boxes->shown.back().text;
        if (closing) {
            EXPECT_EQ(boxes->shown.at(1).title, "Stop the conversion?");
        }
        QTest::qWait(20);
        EXPECT_EQ(form->isVisible(), !closing);
        EXPECT_EQ(start->text(), "Start Converting");
        EXPECT_TRUE(child<QLineEdit>("Text2")->isEnabled());
        EXPECT_EQ(targetTables(), before);
        const auto check = tp::test::runCommand({tp::test::tallyportExe(), "check", file});
        EXPECT_EQ(check.out, "ok\n") << check.err;
    }
}
