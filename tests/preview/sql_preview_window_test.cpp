// The SQL preview window on real widgets: how it closes, Execute SQL with
// its progress and error capture, the line editor, jump, copy and mail.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QTextDocumentFragment>
#include <QTreeWidget>
#include <QGroupBox>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QUrl>
#include <QUrlQuery>
#include <tuple>

#include "convert/host.h"
#include "preview/sql_preview_window.h"
#include "preview/line_editor_dialog.h"
#include "preview/windows.h"
#include "tests/preview/fixtures.h"
#include "tests/support/support.h"
#include "preview/datatype_view.h"
#include "ui/clipboard.h"
#include "ui/pointer.h"
#include "host/utilities.h"
#include "host/shell.h"

namespace tp::test {
namespace {

using preview::LineEditorDialog;
using preview::SqlPreviewWindow;

class PreviewWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeTarget::instance().reset();
        conn = openFakeTarget();
        windows = std::make_unique<preview::PreviewWindows>([this] { return conn.get(); });
        outcome.sqlExecuted = false;
        outcome.endRunAfterPreview = true;
    }
    void TearDown() override {
        FakeTarget::instance().reset();
        setUrlOpener(nullptr);
    }
    void fill(const std::vector<std::string>& lines) {
        for (const auto& l : lines) windows->statementList().append(l);
    }
    static std::vector<std::string> numbered(int n, int failing = 0) {
        std::vector<std::string> out;
        for (int i = 1; i <= n; ++i)
            out.push_back("INSERT INTO [t] VALUES(" + std::to_string(i) + (i == failing ? ", FAIL)" : ")"));
        return out;
    }
    // Shows the preview; `inside` runs once it is up.
    void show(std::function<void(SqlPreviewWindow&)> inside) {
        SqlPreviewWindow& f = windows->sqlPreview();
        whenModal("Form2", [&f, inside] { inside(f); });
        windows->showPreviewModal(nullptr, &outcome);
    }
    static bool rowVisible(SqlPreviewWindow& f, int row) {
        const QRect r = f.statementView->visualRect(f.statements().index(row, 0));
        return r.isValid() && f.statementView->viewport()->rect().intersects(r);
    }
    static int selectedRow(SqlPreviewWindow& f) {
        const auto rows = f.statementView->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.first().row() : -1;
    }

    ScopedBoxes boxes;
    std::unique_ptr<db::Connection> conn;
    std::unique_ptr<preview::PreviewWindows> windows;
    convert::PreviewFlags outcome;  // how the last showing closed
};

// ---- Opening and closing ----------------------------------------------------

TEST_F(PreviewWindowTest, OpensLoadedWithItsCaptionColumnAndControls) {
    fill({"CREATE TABLE [t]([a] TEXT)"});
    SqlPreviewWindow& f = windows->sqlPreview();
    EXPECT_TRUE(f.isLoaded());
    EXPECT_FALSE(f.isVisible());  // loaded by the touch, still hidden
    show([](SqlPreviewWindow& f) {
        EXPECT_EQ(f.windowTitle(), "SQL Preview - Tallyport");
        EXPECT_EQ(f.statements().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "SQL Preview");
        // 7000 twips, or the list's width where that is more.
        EXPECT_EQ(f.statementView->columnWidth(0), std::max(467, f.statementView->viewport()->width()));
        EXPECT_EQ(f.statementView->toolTip(),
                  "Click item to edit it. Move | line to right and out of window to reveal full names.");
        EXPECT_EQ(f.mailErrorButton->text(), "Email Error Message To Brindlewood");
        EXPECT_EQ(f.skipButton->accessibleName(), "Skip Table / Do Not Execute SQL");
        EXPECT_EQ(f.errorGroup->objectName(), "Frame2");
        EXPECT_EQ(f.progressText(), "Progress Bar");
        EXPECT_EQ(f.statements().rowCount(), 1);
        EXPECT_FALSE(f.statements().isChecked(0));
        f.backButton->click();
    });
    EXPECT_FALSE(windows->sqlPreview().isLoaded());
}

TEST_F(PreviewWindowTest, ExecuteSqlThroughEveryLineSetsSQLFormOKAndCloses) {
    fill({"DROP TABLE [t]", "CREATE TABLE [t]([a] INT)", "INSERT INTO [t] VALUES(1)"});
    show([](SqlPreviewWindow& f) { f.executeButton->click(); });
    EXPECT_TRUE(outcome.sqlExecuted);
    EXPECT_TRUE(outcome.endRunAfterPreview);
    EXPECT_EQ(FakeTarget::instance().executed,
              (std::vector<std::string>{"DROP TABLE [t]", "CREATE TABLE [t]([a] INT)", "INSERT INTO [t] VALUES(1)"}));
    EXPECT_FALSE(windows->sqlPreview().isVisible());
    // Closing discarded the list: the next touch loads an empty one.
    EXPECT_EQ(windows->statementList().count(), 0);
}

TEST_F(PreviewWindowTest, SkipTableClearsEndRunAfterPreviewAndExecutesNothing) {
    fill({"CREATE TABLE [t]([a] INT)"});
    show([](SqlPreviewWindow& f) { f.skipButton->click(); });
    EXPECT_FALSE(outcome.sqlExecuted);
    EXPECT_FALSE(outcome.endRunAfterPreview);
    EXPECT_TRUE(FakeTarget::instance().executed.empty());
}

TEST_F(PreviewWindowTest, BackAndTheCloseBoxChangeNoFlag) {
    fill({"CREATE TABLE [t]([a] INT)"});
    show([](SqlPreviewWindow& f) { f.backButton->click(); });
    EXPECT_FALSE(outcome.sqlExecuted);
    EXPECT_TRUE(outcome.endRunAfterPreview);
    fill({"CREATE TABLE [t]([a] INT)"});
    show([](SqlPreviewWindow& f) { f.close(); });
    EXPECT_FALSE(outcome.sqlExecuted);
    EXPECT_TRUE(outcome.endRunAfterPreview);
    EXPECT_TRUE(FakeTarget::instance().executed.empty());
}

TEST_F(PreviewWindowTest, EmptyPreviewAnswersNoSqlToRunAndStaysOpen) {
    bool stillOpen = false;
    show([&](SqlPreviewWindow& f) {
        f.executeButton->click();
        stillOpen = f.isVisible();
        f.backButton->click();
    });
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "No SQL to run.");
    EXPECT_EQ(boxes.shown[0].style, mb::OkOnly);
    EXPECT_FALSE(outcome.sqlExecuted);
}

// ---- Execute SQL ------------------------------------------------------------

TEST_F(PreviewWindowTest, FourLinesShowQuarterStepsBusyPointerAndReset) {
    fill({"L1", "L2", "L3", "L4"});
    std::vector<std::pair<int, std::string>> seen;
    std::vector<bool> busy;
    SqlPreviewWindow& form = windows->sqlPreview();
    FakeTarget::instance().onExecute = [&](const std::string&) {
        seen.emplace_back(form.progressValue(), form.progressText());
        busy.push_back(form.isBusy());
    };
    show([](SqlPreviewWindow& f) { f.executeSql(); });
    EXPECT_EQ(seen, (std::vector<std::pair<int, std::string>>{{25, "Please wait.. Processing row: 1 of 4"},
                                                              {50, "Please wait.. Processing row: 2 of 4"},
                                                              {75, "Please wait.. Processing row: 3 of 4"},
                                                              {100, "Please wait.. Processing row: 4 of 4"}}));
    EXPECT_EQ(busy, (std::vector<bool>{true, true, true, true}));
    EXPECT_FALSE(form.isBusy());
    EXPECT_EQ(form.progressValue(), 0);
    EXPECT_EQ(form.progressText(), "Progress Bar");
}

TEST_F(PreviewWindowTest, BlankLinesAreSkippedButCountedAndLinesGoUntrimmed) {
    fill({"  INSERT A  ", "   ", "INSERT B", ""});
    std::vector<std::string> progress;
    SqlPreviewWindow& form = windows->sqlPreview();
    FakeTarget::instance().onExecute = [&](const std::string&) { progress.push_back(form.progressText()); };
    show([](SqlPreviewWindow& f) { f.executeSql(); });
    EXPECT_EQ(FakeTarget::instance().executed, (std::vector<std::string>{"  INSERT A  ", "INSERT B"}));
    EXPECT_EQ(progress, (std::vector<std::string>{"Please wait.. Processing row: 1 of 4",
                                                  "Please wait.. Processing row: 3 of 4"}));
    EXPECT_TRUE(outcome.sqlExecuted);
}

TEST_F(PreviewWindowTest, OnlyBlankLinesCompleteWithoutSendingAnything) {
    fill({" ", "", "    "});
    show([](SqlPreviewWindow& f) { f.executeSql(); });
    EXPECT_TRUE(outcome.sqlExecuted);
    EXPECT_TRUE(FakeTarget::instance().executed.empty());
    EXPECT_FALSE(windows->sqlPreview().isVisible());
}

// The lines are one unit: a failure at line 7 undoes lines 1 to 6, and the
// repaired list then runs from line 1, each line taking effect once.
TEST_F(PreviewWindowTest, FailureAtLineSevenOfTenUndoesTheLinesBeforeAndARepairedListRunsOnce) {
    fill(numbered(10, 7));
    struct Seen {
        int errorLine = 0, selected = -1, value = -1;
        bool visible = false, open = false, busy = true;
        std::string error, text;
        size_t executed = 0;
    } s;
    show([&](SqlPreviewWindow& f) {
        f.executeSql();
        s = {f.errorLine(),    selectedRow(f),   f.progressValue(),
             rowVisible(f, 6), f.isVisible(),    f.isBusy(),
             f.errorText(),    f.progressText(), FakeTarget::instance().executed.size()};
        // Fix line 7 and go again: every line is sent again from line 1.
        f.statements().setLine(6, "INSERT INTO [t] VALUES(7)");
        f.executeSql();
    });
    EXPECT_EQ(s.errorLine, 7);
    EXPECT_EQ(s.selected, 6);
    EXPECT_TRUE(s.visible);
    EXPECT_TRUE(s.open);
    EXPECT_FALSE(s.busy);
    EXPECT_EQ(s.error, "Syntax error in INSERT INTO statement.");
    EXPECT_EQ(s.value, 0);
    EXPECT_EQ(s.text, "Progress Bar");
    EXPECT_EQ(s.executed, 0u);  // lines 1-6 were undone, 8-10 never ran
    ASSERT_FALSE(boxes.shown.empty());
    EXPECT_EQ(boxes.shown[0].text, "Error found.");
    EXPECT_EQ(boxes.shown.size(), 1u);  // no Application Error box
    const FakeTarget& t = FakeTarget::instance();
    ASSERT_EQ(t.executed.size(), 10u);
    EXPECT_EQ(t.executed[0], "INSERT INTO [t] VALUES(1)");
    EXPECT_EQ(t.executed[6], "INSERT INTO [t] VALUES(7)");
    EXPECT_EQ(std::make_tuple(t.begun, t.rolledBack, t.committed, t.inUnit), std::make_tuple(2, 1, 1, false));
    EXPECT_TRUE(outcome.sqlExecuted);
}

TEST_F(PreviewWindowTest, EveryExecuteFailureIsCapturedWhateverItsDescription) {
    for (const char* description :
         {"Invalid SQL statement; expected 'DELETE', 'INSERT'.", "java.sql.sqlexception: lower case", ""}) {
        FakeTarget::instance().failureText = description;
        boxes.shown.clear();
        fill({"INSERT 1", "INSERT FAIL", "INSERT 3"});
        int errorLine = 0;
        std::string error;
        show([&](SqlPreviewWindow& f) {
            f.executeSql();
            errorLine = f.errorLine();
            error = f.errorText();
            f.back();
        });
        EXPECT_EQ(errorLine, 2) << description;
        EXPECT_EQ(error, description);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, "Error found.");
        EXPECT_FALSE(outcome.sqlExecuted);
    }
}

TEST_F(PreviewWindowTest, ATargetThatIsNotOpenIsCapturedAtTheFirstLine) {
    conn.reset();
    fill({"INSERT 1", "INSERT 2"});
    int errorLine = 0;
    show([&](SqlPreviewWindow& f) {
        f.executeSql();
        errorLine = f.errorLine();
        f.back();
    });
    EXPECT_EQ(errorLine, 1);
    EXPECT_FALSE(outcome.sqlExecuted);
}

TEST_F(PreviewWindowTest, CommandsThatWouldDisturbExecutionAreRefusedMeanwhile) {
    fill(numbered(5));
    SqlPreviewWindow& form = windows->sqlPreview();
    int calls = 0;
    FakeTarget::instance().onExecute = [&](const std::string&) {
        if (++calls != 2) return;
        form.executeSql();      // a second Execute SQL
        form.findAndReplace();  // Find and Replace (would block if it opened)
        form.statementView->selectRow(0);
        form.editSelectedLine();  // the line editor (would block if it opened)
    };
    show([](SqlPreviewWindow& f) { f.executeSql(); });
    EXPECT_EQ(FakeTarget::instance().executed.size(), 5u);
    EXPECT_TRUE(outcome.sqlExecuted);
    EXPECT_TRUE(outcome.endRunAfterPreview);
}

// Back, Skip, the close box or Escape while Execute SQL runs: the line being
// executed finishes, then everything the command ran is undone and the
// window closes as that command closes it.
TEST_F(PreviewWindowTest, BackSkipOrTheCloseBoxDuringExecutionStopAfterTheLineAndUndoIt) {
    enum How { Back, Skip, CloseBox, Escape };
    for (How how : {Back, Skip, CloseBox, Escape}) {
        SCOPED_TRACE(how);
        FakeTarget::instance().reset();
        outcome = {false, true};
        fill(numbered(6));
        SqlPreviewWindow& form = windows->sqlPreview();
        int calls = 0;
        FakeTarget::instance().onExecute = [&](const std::string&) {
            if (++calls != 3) return;
            // clang-format off
            switch (how) {
            case Back: form.backButton->click(); break;
            case Skip: form.skipButton->click(); break;
            case CloseBox: form.close(); break;
            case Escape: form.reject(); break;
            }
            // clang-format on
        };
        show([](SqlPreviewWindow& f) { f.executeSql(); });
        const FakeTarget& t = FakeTarget::instance();
        EXPECT_EQ(calls, 3);
        EXPECT_TRUE(t.executed.empty());
        EXPECT_EQ(std::make_tuple(t.begun, t.rolledBack, t.committed), std::make_tuple(1, 1, 0));
        EXPECT_FALSE(form.isVisible());
        EXPECT_FALSE(form.isExecuting());
        EXPECT_FALSE(form.isBusy());
        EXPECT_FALSE(outcome.sqlExecuted);
        EXPECT_EQ(outcome.endRunAfterPreview, how != Skip);
        EXPECT_TRUE(boxes.shown.empty());
    }
}

// ---- Line editor --------------------------------------------------------------

TEST_F(PreviewWindowTest, LineEditorWritesBackExactlyAsTyped) {
    fill({"INSERT 1", "INSERT 2", "INSERT 3"});
    std::vector<std::string> after;
    std::string shownText, caption;
    show([&](SqlPreviewWindow& f) {
        auto edit = [&](int row, std::function<void(LineEditorDialog&)> act) {
            whenModal("Form4", [&, act] {
                auto* e = qobject_cast<LineEditorDialog*>(QApplication::activeModalWidget());
                shownText = e->textEdit->toPlainText().toStdString();
                caption = e->windowTitle().toStdString();
                act(*e);
            });
            f.statementView->selectRow(row);
            emit f.statementView->clicked(f.statements().index(row, 0));
        };
        edit(1, [](LineEditorDialog& e) {
            e.textEdit->setPlainText("  INSERT two  ");
            e.okButton->click();
        });
        EXPECT_EQ(shownText, "INSERT 2");
        EXPECT_EQ(f.editedLine(), 2);
        edit(2, [](LineEditorDialog& e) {
            e.textEdit->clear();
            e.okButton->click();
        });
        edit(0, [](LineEditorDialog& e) {
            e.textEdit->setPlainText("changed");
            e.cancelButton->click();  // Cancel
        });
        EXPECT_EQ(f.editedLine(), 1);
        for (int i = 0; i < f.statements().count(); ++i) after.push_back(f.statements().line(i));
        f.executeSql();
    });
    EXPECT_EQ(caption, "Edit Line - Tallyport");
    EXPECT_EQ(after, (std::vector<std::string>{"INSERT 1", "  INSERT two  ", ""}));
    // The empty line is skipped, the blanks go to the target untouched.
    EXPECT_EQ(FakeTarget::instance().executed, (std::vector<std::string>{"INSERT 1", "  INSERT two  "}));
}

// The keyboard alone: Tab and Shift+Tab leave the list, Enter and F2 open the
// line editor on the current line, whose Enter accepts the line (its line
// breaks become blanks) and Escape cancels; each line's tool tip is its text.
TEST_F(PreviewWindowTest, KeyboardLeavesTheListAndEditsLinesWithEnterF2AndEscape) {
    const std::string longLine = "INSERT INTO [t] VALUES('" + std::string(600, 'x') + " & <y>')";
    fill({"INSERT 1", "INSERT 2", longLine});
    auto key = [](QWidget* to, int k, Qt::KeyboardModifiers m = Qt::NoModifier) {
        QKeyEvent press(QEvent::KeyPress, k, m);
        QApplication::sendEvent(to, &press);
    };
    QWidget *afterTab = nullptr, *afterBacktab = nullptr;
    std::vector<std::string> after;
    QString tip;
    show([&](SqlPreviewWindow& f) {
        f.activateWindow();
        f.statementView->setFocus();
        f.statementView->setCurrentIndex(f.statements().index(0, 0));
        key(f.statementView, Qt::Key_Tab);
        afterTab = f.focusWidget();
        f.statementView->setFocus();
        key(f.statementView, Qt::Key_Backtab, Qt::ShiftModifier);
        afterBacktab = f.focusWidget();
        // Enter on line 2: a typed line break is no line break; Enter accepts.
        whenModal("Form4", [&] {
            auto* e = qobject_cast<LineEditorDialog*>(QApplication::activeModalWidget());
            e->textEdit->setPlainText("INSERT\ntwo\nlines");
            key(e->textEdit, Qt::Key_Return);
        });
        f.statementView->setCurrentIndex(f.statements().index(1, 0));
        key(f.statementView, Qt::Key_Return);
        // F2 on line 1, then Escape: nothing changes.
        whenModal("Form4", [&] {
            auto* e = qobject_cast<LineEditorDialog*>(QApplication::activeModalWidget());
            e->textEdit->setPlainText("changed");
            key(e, Qt::Key_Escape);
        });
        f.statementView->setCurrentIndex(f.statements().index(0, 0));
        key(f.statementView, Qt::Key_F2);
        for (int i = 0; i < f.statements().count(); ++i) after.push_back(f.statements().line(i));
        tip = f.statements().data(f.statements().index(2, 0), Qt::ToolTipRole).toString();
        f.back();
    });
    ASSERT_NE(afterTab, nullptr);
    EXPECT_NE(afterTab, windows->sqlPreview().statementView);
    EXPECT_TRUE(qobject_cast<QPushButton*>(afterTab) != nullptr) << afterTab->objectName().toStdString();
    ASSERT_NE(afterBacktab, nullptr);
    EXPECT_NE(afterBacktab, windows->sqlPreview().statementView);
    EXPECT_EQ(after, (std::vector<std::string>{"INSERT 1", "INSERT two lines", longLine}));
    // The whole line, broken into lines of the tool tip at blanks.
    EXPECT_EQ(QTextDocumentFragment::fromHtml(tip).toPlainText().replace(QChar('\n'), QChar(' ')).toStdString(),
              longLine);
}

TEST_F(PreviewWindowTest, AClickWithoutASelectedLineOrOnACheckBoxOpensNoEditor) {
    fill({"INSERT 1"});
    int editedBefore = -1, editedAfter = -1;
    show([&](SqlPreviewWindow& f) {
        editedBefore = f.editedLine();
        f.statementView->clearSelection();
        f.editSelectedLine();  // would block in the editor if it opened one
        // Ticking a line's box is not a click to edit it.
        f.statementView->selectRow(0);
        emit f.statementView->pressed(f.statements().index(0, 0));
        f.statements().setData(f.statements().index(0, 0), Qt::Checked, Qt::CheckStateRole);
        emit f.statementView->clicked(f.statements().index(0, 0));
        editedAfter = f.editedLine();
        f.back();
    });
    EXPECT_EQ(editedAfter, editedBefore);
}

// ---- Jump, copy, mail ------------------------------------------------------

TEST_F(PreviewWindowTest, JumpToErrorLineSelectsAndShowsTheLineAlsoAfterReopening) {
    EXPECT_EQ(windows->sqlPreview().errorLine(), 0);
    fill(numbered(500, 400));
    bool visibleAfterJump = false;
    int selected = -1;
    show([&](SqlPreviewWindow& f) {
        f.jumpToErrorLine();  // no failure captured yet: nothing happens
        EXPECT_EQ(selectedRow(f), -1);
        f.executeSql();
        f.statementView->scrollToTop();
        f.statementView->clearSelection();
        EXPECT_FALSE(rowVisible(f, 399));
        f.jumpToErrorLine();
        selected = selectedRow(f);
        visibleAfterJump = rowVisible(f, 399);
        f.back();
    });
    EXPECT_EQ(selected, 399);
    EXPECT_TRUE(visibleAfterJump);

    // Reopened: the error box is empty, errorLine still holds.
    fill(numbered(450));
    std::string error = "x";
    show([&](SqlPreviewWindow& f) {
        error = f.errorText();
        f.jumpToErrorLine();
        selected = selectedRow(f);
        visibleAfterJump = rowVisible(f, 399);
        f.back();
    });
    EXPECT_EQ(error, "");
    EXPECT_EQ(selected, 399);
    EXPECT_TRUE(visibleAfterJump);

    // A list shorter than errorLine: the procedure error report.
    boxes.shown.clear();
    fill(numbered(3));
    show([&](SqlPreviewWindow& f) {
        f.jumpToErrorLine();
        f.back();
    });
    ASSERT_GE(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Application Error");
    EXPECT_NE(boxes.shown[0].text.find("in Larkspan2021/08/31.Form2.PushButton6_Click at line 102"), std::string::npos);
}

class RecordingClipboard : public ClipboardBackend {
public:
    bool clear() override {
        ++clears;
        text.clear();
        return true;
    }
    bool setText(const QString& t, int) override {
        text = t.toStdString();
        return true;
    }
    int clears = 0;
    std::string text = "(untouched)";
};

TEST_F(PreviewWindowTest, CopySqlTakesCheckedLinesAndCopyErrorTakesTheErrorBox) {
    RecordingClipboard clip;
    setClipboardBackend(&clip);
    fill({"INSERT 1  ", "INSERT FAIL", "INSERT 3"});
    show([&](SqlPreviewWindow& f) {
        f.copySql();  // nothing checked: said so, the clipboard left alone
        EXPECT_EQ(clip.text, "(untouched)");
        f.statements().setAllChecked(true);
        f.statements().setChecked(2, false);
        f.copySql();
        EXPECT_EQ(clip.text, "INSERT 1\r\nINSERT FAIL\r\n");
        clip.text = "(untouched)";
        f.copyErrorMessage();  // empty error box: nothing, no message
        EXPECT_EQ(clip.text, "(untouched)");
        f.executeSql();
        f.copyErrorMessage();
        f.back();
    });
    setClipboardBackend(nullptr);
    EXPECT_EQ(clip.text, "Syntax error in INSERT INTO statement.");
    ASSERT_EQ(boxes.shown.size(), 4u);
    EXPECT_EQ(boxes.shown[0].text.rfind("No line is ticked, so nothing was copied.", 0), 0u);
    EXPECT_EQ(boxes.shown[1].text,
              "Results have been copied to the clipboard.\r\rClick a text area where you normally "
              "type and press Ctrl+V to paste the clipboard.");
    EXPECT_EQ(boxes.shown[2].text, "Error found.");
    EXPECT_EQ(boxes.shown[3].text.rfind("Error message have been copied to the clipboard.\r\r", 0), 0u);
}

TEST_F(PreviewWindowTest, MailAddressHoldsItsPartsInOrder) {
    EXPECT_EQ(SqlPreviewWindow::supportMailAddress("Syntax error"),
              "mailto:support@tallyport.app?subject=Tallyport&body=Here is the error message that "
              "I get: \nSyntax error");
    std::vector<std::string> opened;
    setUrlOpener([&](const std::string& url) {
        opened.push_back(url);
        return true;
    });
    FakeTarget::instance().failureText = "Syntax error";
    fill({"INSERT FAIL"});
    show([&](SqlPreviewWindow& f) {
        f.mailErrorMessage();  // empty error box: nothing
        f.executeSql();
        f.mailErrorMessage();
        f.errorEdit->setPlainText("   ");
        f.mailErrorMessage();  // only blanks: nothing
        f.back();
    });
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0],
              "mailto:support@tallyport.app?subject=Tallyport&body=Here%20is%20the%20error%20message"
              "%20that%20I%20get%3A%20%0ASyntax%20error");
}

TEST_F(PreviewWindowTest, MailBodyKeepsAnErrorTextWithAmpersandsAndHashes) {
    const std::string error = "Syntax error in date in query expression '#13/45/2021# & 50%'.";
    const QUrl url(QString::fromStdString(SqlPreviewWindow::supportMailUrl(error)));
    ASSERT_TRUE(url.isValid());
    EXPECT_EQ(url.scheme(), "mailto");
    EXPECT_EQ(url.path(), "support@tallyport.app");
    EXPECT_TRUE(url.fragment().isEmpty());
    const QUrlQuery query(url);
    EXPECT_EQ(query.queryItems().size(), 2);
    EXPECT_EQ(query.queryItemValue("subject", QUrl::FullyDecoded), "Tallyport");
    EXPECT_EQ(query.queryItemValue("body", QUrl::FullyDecoded).toStdString(),
              "Here is the error message that I get: \n" + error);
}

}  // namespace
}  // namespace tp::test

namespace tp::test {
namespace {

// ---- Pointer and load sequence ------------------------------------------------

class PointerTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved = programFolder();
        setProgramFolder(dir.path().string());
    }
    void TearDown() override { setProgramFolder(saved); }
    static void hover(QWidget* w) {
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(w, &enter);
    }
    TempDir dir;
    std::string saved;
};

TEST_F(PointerTest, ButtonsSetTheCustomValueSurfacesTheDefaultNeverOverTheHourglass) {
    ScopedBoxes boxes;
    preview::PreviewWindows windows([] { return nullptr; });
    SqlPreviewWindow& f = windows.sqlPreview();
    f.ensureLoaded();
    EXPECT_FALSE(f.pointer()->hasCustomImage());  // no HAND-M.CUR: the arrow shows
    hover(f.findReplaceButton);
    EXPECT_EQ(f.pointer()->value(), WindowPointer::Custom);
    EXPECT_EQ(f.cursor().shape(), Qt::ArrowCursor);
    hover(f.statementView);
    EXPECT_EQ(f.pointer()->value(), WindowPointer::Default);
    f.pointer()->setValue(WindowPointer::Busy);
    hover(f.findReplaceButton);
    hover(f.errorGroup);
    EXPECT_EQ(f.pointer()->value(), WindowPointer::Busy);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(PointerTest, HandCursorFileIsLoadedAndABrokenOneIsReportedWhileLoadingGoesOn) {
    QImage hand(32, 32, QImage::Format_ARGB32);
    hand.fill(Qt::black);
    ASSERT_TRUE(hand.save(QString::fromStdString(dir.file("HAND-M.CUR")), "ico"));
    {
        ScopedBoxes boxes;
        preview::PreviewWindows windows([] { return nullptr; });
        SqlPreviewWindow& f = windows.sqlPreview();
        f.ensureLoaded();
        EXPECT_TRUE(f.pointer()->hasCustomImage());
        hover(f.executeButton);
        EXPECT_NE(f.cursor().shape(), Qt::ArrowCursor);
        EXPECT_TRUE(boxes.shown.empty());
    }
    writeFile(dir.file("HAND-M.CUR"), "not a cursor");
    ScopedBoxes boxes;
    preview::PreviewWindows windows([] { return nullptr; });
    windows.datatypeList().addRow("t");  // loads the datatype view, hidden
    SqlPreviewWindow& f = windows.sqlPreview();
    f.ensureLoaded();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_NE(boxes.shown[0].text.find("in Larkspan2021/08/31.Form5.Form_Load at line 110"), std::string::npos);
    EXPECT_NE(boxes.shown[1].text.find("in Larkspan2021/08/31.Form2.Form_Load at line 110"), std::string::npos);
    EXPECT_EQ(boxes.shown[1].title, "Application Error");
    // The steps after the failing one still ran.
    EXPECT_EQ(f.statements().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "SQL Preview");
    EXPECT_EQ(windows.datatypeView().list->columnCount(), 5);
    EXPECT_EQ(windows.datatypeList().count(), 1);
}

}  // namespace
}  // namespace tp::test
