// Find and replace, the datatype view and the clipboard operations.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTreeWidget>

#include "convert/host.h"
#include "preview/sql_preview_window.h"
#include "preview/find_replace_dialog.h"
#include "preview/datatype_view.h"
#include "preview/statement_model.h"
#include "preview/windows.h"
#include "tests/preview/fixtures.h"
#include "tests/support/support.h"
#include "host/events.h"
#include "ui/clipboard.h"

namespace tp::test {
namespace {

using preview::FindReplaceDialog;
using preview::StatementModel;

std::vector<std::string> linesOf(const StatementModel& m) {
    std::vector<std::string> out;
    for (int i = 0; i < m.count(); ++i) out.push_back(m.line(i));
    return out;
}

// Runs Replace with the given texts over the lines; returns the new lines.
std::vector<std::string> replaceIn(const std::vector<std::string>& lines, const std::string& find,
                                   const std::string& replacement, ScopedBoxes& boxes) {
    StatementModel model;
    for (const auto& l : lines) model.append(l);
    FindReplaceDialog window(model, nullptr);
    window.findEdit->setText(QString::fromStdString(find));
    window.replaceEdit->setText(QString::fromStdString(replacement));
    window.replaceButton->click();
    EXPECT_EQ(boxes.shown.back().text, "Done.");
    EXPECT_EQ(window.result(), QDialog::Accepted);
    return linesOf(model);
}

TEST(FindAndReplace, ReplacesTheFirstOccurrenceOfEachLineIgnoringCase) {
    ScopedBoxes boxes;
    EXPECT_EQ(replaceIn({"Drop Table [x]"}, "drop table", "DROP TABLE", boxes),
              std::vector<std::string>{"DROP TABLE [x]"});
    EXPECT_EQ(replaceIn({"INSERT INTO [a] VALUES('a', 'a')"}, "'a'", "'b'", boxes),
              std::vector<std::string>{"INSERT INTO [a] VALUES('b', 'a')"});
    EXPECT_EQ(replaceIn({"CREATE TABLE [Customers]("}, "Customers", "Clients", boxes),
              std::vector<std::string>{"CREATE TABLE [Clients]("});
    EXPECT_EQ(replaceIn({"a", "ba", "bab"}, "a", "aa", boxes), (std::vector<std::string>{"aa", "baa", "baab"}));
    EXPECT_EQ(replaceIn({"DROP TABLE [x]", "x y x"}, "x", "", boxes),
              (std::vector<std::string>{"DROP TABLE []", " y x"}));
    EXPECT_EQ(replaceIn({"no match", "none"}, "zzz", "q", boxes), (std::vector<std::string>{"no match", "none"}));
    // Non-ASCII text survives the round trip.
    EXPECT_EQ(replaceIn({"INSERT INTO [Küche] VALUES('Straße')"}, "KÜCHE", "Kitchen", boxes),
              std::vector<std::string>{"INSERT INTO [Kitchen] VALUES('Straße')"});
}

TEST(FindAndReplace, AStatementOfAPicturesBytesIsReplacedWholeAndShownInPart) {
    ScopedBoxes boxes;
    const std::string bytes(2'000'000, 'A');
    const std::string insert = "INSERT INTO [pics] VALUES('Zoë', 0x" + bytes + ")";
    const auto replaced = replaceIn({insert}, "[pics]", "[pictures]", boxes);
    EXPECT_EQ(replaced, std::vector<std::string>{"INSERT INTO [pictures] VALUES('Zoë', 0x" + bytes + ")"});
    // The row shows its head (a whole character at its end), the editor the
    // whole text.
    StatementModel model;
    model.append(std::string(4095, 'x') + "ë" + bytes);
    model.flush();
    const QString shown = model.data(model.index(0, 0), Qt::DisplayRole).toString();
    EXPECT_EQ(shown, QString(4095, 'x') + QChar(0x2026));
    EXPECT_EQ(model.data(model.index(0, 0), Qt::EditRole).toString().size(), 4096 + 2'000'000);
    EXPECT_LT(model.data(model.index(0, 0), Qt::ToolTipRole).toString().size(), 8192);
}

TEST(FindAndReplace, AnEmptyFindTextChangesNothingAndEndsWithDone) {
    ScopedBoxes boxes;
    EXPECT_EQ(replaceIn({"INSERT 1", "INSERT 2"}, "", "X", boxes), (std::vector<std::string>{"INSERT 1", "INSERT 2"}));
}

TEST(FindAndReplace, AnEmptyListAnswersNoSqlToRunAndStaysOpen) {
    ScopedBoxes boxes;
    StatementModel model;
    FindReplaceDialog window(model, nullptr);
    window.show();
    window.findEdit->setText("a");
    window.replaceButton->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "No SQL to run.");
    EXPECT_TRUE(window.isVisible());
    window.cancelButton->click();  // Cancel
    EXPECT_FALSE(window.isVisible());
}

TEST(FindAndReplace, CancelReplaceAndTheCloseBoxAreRefusedWhileReplaceRuns) {
    ScopedBoxes boxes;
    StatementModel model;
    for (int i = 0; i < 50; ++i) model.append("INSERT INTO [old] VALUES(" + std::to_string(i) + ")");
    FindReplaceDialog window(model, nullptr);
    window.show();
    window.findEdit->setText("[old]");
    window.replaceEdit->setText("[new]");
    int yields = 0;
    setEventThrottleMs(0);
    setEventPump([&] {
        if (++yields != 10) return;
        window.cancel();      // Cancel
        window.close();       // close box
        window.replaceAll();  // a second Replace
        EXPECT_TRUE(window.isVisible());
        EXPECT_TRUE(window.isReplacing());
    });
    window.replaceAll();
    setEventPump([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
    setEventThrottleMs(15);
    EXPECT_GE(yields, 50);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(model.line(i), "INSERT INTO [new] VALUES(" + std::to_string(i) + ")");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Done.");
    EXPECT_FALSE(window.isVisible());
}

TEST(FindAndReplace, WindowHasItsCaptionLabelsAndEmptyFields) {
    ScopedBoxes boxes;
    StatementModel model;
    FindReplaceDialog window(model, nullptr);
    EXPECT_EQ(window.windowTitle(), "Find and Replace - Tallyport");
    EXPECT_EQ(window.findLabel->text(), "Find what:");
    EXPECT_EQ(window.replaceLabel->text(), "Replace with:");
    EXPECT_EQ(window.findEdit->accessibleName(), "Find what:");
    EXPECT_TRUE(window.findEdit->text().isEmpty());
    EXPECT_TRUE(window.replaceEdit->text().isEmpty());
    EXPECT_EQ(window.replaceButton->text(), "Replace");
    EXPECT_EQ(window.cancelButton->text(), "Cancel");
}

TEST(FindAndReplace, OpensFromThePreviewOwnedByIt) {
    ScopedBoxes boxes;
    auto conn = openFakeTarget();
    preview::PreviewWindows windows([&] { return conn.get(); });
    windows.statementList().append("Drop Table [x]");
    QWidget* owner = nullptr;
    whenModal("Form2", [&] {
        auto& f = windows.sqlPreview();
        whenModal("Form3", [&] {
            auto* w = qobject_cast<FindReplaceDialog*>(QApplication::activeModalWidget());
            owner = w->parentWidget();
            w->findEdit->setText("drop table");
            w->replaceEdit->setText("DROP TABLE");
            w->replaceButton->click();
        });
        f.findReplaceButton->click();
        f.backButton->click();
    });
    std::vector<std::string> lines;
    QObject::connect(&windows.sqlPreview(), &QDialog::finished,
                     [&] { lines = linesOf(windows.sqlPreview().statements()); });
    windows.showPreviewModal(nullptr);
    EXPECT_EQ(owner, &windows.sqlPreview());
    EXPECT_EQ(lines, std::vector<std::string>{});  // discarded on close
    EXPECT_EQ(boxes.shown.back().text, "Done.");
}

// ---- Datatype view ------------------------------------------------------------

TEST(DatatypeView, ShowsTheRunsRowsWithEmptyTypeCellsForALongBinaryField) {
    ScopedBoxes boxes;
    auto conn = openFakeTarget();
    preview::PreviewWindows windows([&] { return conn.get(); });
    convert::DatatypeList& list = windows.datatypeList();
    list.clear();
    list.addRow("customer");
    list.setLastField("name");
    list.setLastTypes("char", "TEXT");
    list.addRow("customer");
    list.setLastField("photo");  // adLongVarBinary: no type cells
    EXPECT_TRUE(windows.datatypeView().isLoaded());
    EXPECT_FALSE(windows.datatypeView().isVisible());
    windows.statementList().append("CREATE TABLE [customer]([name] TEXT)");

    std::vector<convert::DatatypeRow> firstShowing;
    QStringList headers;
    int secondShowingRows = -1, secondShowingColumns = -1;
    QWidget* owner = nullptr;
    whenModal("Form2", [&] {
        auto& f = windows.sqlPreview();
        whenModal("Form5", [&] {
            auto& v = windows.datatypeView();
            owner = v.parentWidget();
            for (int i = 0; i < v.rowCount(); ++i) firstShowing.push_back(v.row(i));
            for (int k = 0; k < v.list->columnCount(); ++k) {
                headers << v.list->headerItem()->text(k);
                // 1700 twips, or the header's width where that is more; the
                // note four times that.
                EXPECT_EQ(v.list->columnWidth(k),
                          k == 4 ? 4 * 113 : std::max(113, v.list->header()->sectionSizeHint(k)));
                EXPECT_GE(v.list->columnWidth(k), v.list->header()->fontMetrics().horizontalAdvance(headers.back()));
            }
            EXPECT_EQ(v.windowTitle(), "Datatypes Conversion - Tallyport");
            v.backButton->click();
        });
        f.datatypesButton->click();
        whenModal("Form5", [&] {
            auto& v = windows.datatypeView();
            secondShowingRows = v.rowCount();
            secondShowingColumns = v.list->columnCount();
            v.close();
        });
        f.datatypesButton->click();
        f.backButton->click();
    });
    windows.showPreviewModal(nullptr);
    EXPECT_EQ(owner, &windows.sqlPreview());
    ASSERT_EQ(firstShowing.size(), 2u);
    EXPECT_EQ(firstShowing[0].table, "customer");
    EXPECT_EQ(firstShowing[0].keyword, "char");
    EXPECT_EQ(firstShowing[0].accessType, "TEXT");
    EXPECT_EQ(firstShowing[1].field, "photo");
    EXPECT_EQ(firstShowing[1].keyword, "");
    EXPECT_EQ(firstShowing[1].accessType, "");
    EXPECT_EQ(headers, (QStringList{"FoxPro Table", "FoxPro Table Field", "FoxPro Field Datatype",
                                    "New MS Access Datatype", "Note"}));
    EXPECT_EQ(secondShowingRows, 0);
    EXPECT_EQ(secondShowingColumns, 5);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(DatatypeView, GeometryFollowsTheTwipMeasures) {
    ScopedBoxes boxes;
    preview::DatatypeView v;
    v.ensureLoaded();
    EXPECT_EQ(v.size(), QSize(536, 556));
    EXPECT_EQ(v.backButton->geometry(), QRect(8, 8, 520, 27));
    EXPECT_EQ(v.list->geometry(), QRect(8, 42, 520, 507));
    EXPECT_TRUE(v.list->font().bold());
    EXPECT_EQ(v.backButton->text(), "< Back");
}

// ---- Clipboard ------------------------------------------------------------------

class FlakyClipboard : public ClipboardBackend {
public:
    explicit FlakyClipboard(int failures) : failures_(failures) {}
    bool clear() override { return ++clearTries > failures_; }
    bool setText(const QString& t, int format) override {
        lastFormat = format;
        if (++setTries <= failures_) return false;
        text = t.toStdString();
        return true;
    }
    int clearTries = 0, setTries = 0, lastFormat = -1;
    std::string text = "(untouched)";

private:
    int failures_;
};

QStandardItemModel* table(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& checked) {
    auto* m = new QStandardItemModel;
    for (size_t r = 0; r < rows.size(); ++r) {
        QList<QStandardItem*> items;
        for (const auto& cell : rows[r]) items << new QStandardItem(QString::fromStdString(cell));
        items[0]->setCheckable(true);
        items[0]->setCheckState(checked[r] ? Qt::Checked : Qt::Unchecked);
        m->appendRow(items);
    }
    return m;
}

TEST(Clipboard, CheckedRowsArePaddedToTheWidestCellOfTheirColumn) {
    FlakyClipboard clip(0);
    setClipboardBackend(&clip);
    std::unique_ptr<QStandardItemModel> m(table({{"abc", "x"}, {"a", "bb"}}, {false, true}));
    copyListViewToClipboard(*m);
    EXPECT_EQ(clip.text, "a  \tbb\r\n");
    EXPECT_EQ(clip.lastFormat, 0);
    // Only the blanks at the very end of a line go: padding before a tab stays.
    std::unique_ptr<QStandardItemModel> m2(table({{"a", "b  ", "c"}, {"abcd", "", ""}}, {true, true}));
    EXPECT_EQ(listViewClipboardText(*m2), "a   \tb  \tc\r\nabcd\t   \t\r\n");
    setClipboardBackend(nullptr);
}

TEST(Clipboard, NoRowsLeavesTheClipboardAloneAndNoCheckedRowPutsEmptyText) {
    FlakyClipboard clip(0);
    setClipboardBackend(&clip);
    QStandardItemModel empty;
    copyListViewToClipboard(empty);
    EXPECT_EQ(clip.text, "(untouched)");
    EXPECT_EQ(clip.clearTries, 0);
    std::unique_ptr<QStandardItemModel> m(table({{"a"}, {"b"}}, {false, false}));
    copyListViewToClipboard(*m);
    EXPECT_EQ(clip.text, "");
    setClipboardBackend(nullptr);
}

TEST(Clipboard, BusyClipboardIsRetriedUpToAThousandTimes) {
    FlakyClipboard late(999);
    setClipboardBackend(&late);
    clearClipboard();
    EXPECT_EQ(late.clearTries, 1000);
    EXPECT_TRUE(setClipboardText("x"));
    EXPECT_EQ(late.setTries, 1000);
    EXPECT_EQ(late.text, "x");

    FlakyClipboard never(1'000'000);
    setClipboardBackend(&never);
    clearClipboard();
    EXPECT_EQ(never.clearTries, 1000);
    EXPECT_FALSE(setClipboardText("x"));
    EXPECT_EQ(never.setTries, 1000);
    setClipboardBackend(nullptr);
}

TEST(Clipboard, QtClipboardCarriesTheText) {
    clearClipboard();
    EXPECT_TRUE(setClipboardText("Syntax error\r\nline two"));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "Syntax error\r\nline two");
}

// ---- Statement store ----------------------------------------------------------

TEST(StatementStore, EditsKeepEveryOtherLineAndBulkAppendsReachTheViewOnce) {
    StatementModel m;
    int inserts = 0;
    QObject::connect(&m, &QAbstractItemModel::rowsInserted, [&] { ++inserts; });
    for (int i = 0; i < 10000; ++i) m.append("INSERT " + std::to_string(i));
    EXPECT_EQ(m.count(), 10000);
    EXPECT_EQ(m.rowCount(), 0);  // not yet told
    QCoreApplication::processEvents();
    EXPECT_EQ(m.rowCount(), 10000);
    EXPECT_EQ(inserts, 1);
    // Grow and shrink lines many times: the store compacts, lines stay.
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 10000; ++i) m.setLine(i, round % 2 ? "x" : std::string(300, 'y') + std::to_string(i));
    EXPECT_EQ(m.line(1234), std::string(300, 'y') + "1234");
    EXPECT_LT(m.storeBytes(), 10000u * 330u * 2u);
    EXPECT_THROW(m.line(10000), std::out_of_range);
    m.clear();
    EXPECT_EQ(m.count(), 0);
    EXPECT_EQ(m.rowCount(), 0);
}

}  // namespace
}  // namespace tp::test
