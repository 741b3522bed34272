// What the conversion run does after each way of closing the preview window,
// per table and once per run, with the real windows and a scripted target.
#include <gtest/gtest.h>

#include <QPushButton>
#include <deque>

#include "convert/run.h"
#include "convert/selection.h"
#include "preview/sql_preview_window.h"
#include "preview/windows.h"
#include "tests/preview/fixtures.h"
#include "tests/support/support.h"

namespace tp::test {
namespace {

using preview::SqlPreviewWindow;

class FakeSourceConnection : public db::ProviderConnection {
public:
    std::unique_ptr<db::Cursor> execute(std::string_view sql, long*) override {
        if (sql.rfind("SELECT * FROM `", 0) != 0) throw db::Error("unexpected source statement");
        std::vector<std::vector<db::Value>> rows;
        for (int i = 1; i <= 3; ++i) rows.push_back({db::Value(i)});
        return std::make_unique<db::VectorCursor>(
            std::vector<db::FieldInfo>{{"id", db::adtype::Integer, 4, 10, 0, true}}, std::move(rows));
    }
    std::unique_ptr<db::Cursor> openSchema(int) override { throw db::Error("no schema"); }
    void close() override {}
};

enum class Close { Execute, Skip, Back, CloseBox };

class RunHostForTest : public convert::RunHost {
public:
    RunHostForTest() : windows([this] { return conn.get(); }) {}
    bool previewMode() const override { return true; }
    bool previewOnceAtEnd() const override { return perFile; }
    bool previewPerTable() const override { return !perFile; }
    void setProgressValue(double) override {}
    void setProgressText(const std::string&) override {}
    void setBusyPointer(bool) override {}
    convert::StatementList& previewList() override { return windows.statementList(); }
    convert::DatatypeList& datatypeList() override { return windows.datatypeList(); }
    std::unique_ptr<db::Connection>& accessConnection() override { return conn; }
    void showPreview(convert::PreviewFlags& outcome) override {
        const Close how = script.empty() ? Close::Back : script.front();
        if (!script.empty()) script.pop_front();
        SqlPreviewWindow& f = windows.sqlPreview();
        shownLines.push_back(f.statements().count());
        shownDatatypeRows.push_back(windows.datatypeList().count());
        whenModal("Form2", [&f, how] {
            // clang-format off
            switch (how) {
            case Close::Execute: f.executeButton->click(); break;
            case Close::Skip: f.skipButton->click(); break;
            case Close::Back: f.backButton->click(); break;
            case Close::CloseBox: f.close(); break;
            }
            // clang-format on
        });
        windows.showPreviewModal(nullptr, &outcome);
        targetOpenAfterShow.push_back(conn && conn->isOpen());
    }

    bool perFile = false;
    std::unique_ptr<db::Connection> conn;
    preview::PreviewWindows windows;
    std::deque<Close> script;
    std::vector<int> shownLines, shownDatatypeRows;
    std::vector<bool> targetOpenAfterShow;
};

class RunOutcomeTest : public ::testing::Test {
protected:
    void SetUp() override {
        selection.target.path = dir.file("target.fake");
        writeFile(selection.target.path, "");  // the target exists
        FakeTarget::instance().reset();
        db::ProviderRegistry::instance().add("PreviewFakeSource",
                                             [](const db::ConnectionString&, const db::ConnectionOptions&) {
                                                 return std::make_unique<FakeSourceConnection>();
                                             });
    }
    void run(RunHostForTest& host) {
        convert::RunModules m;
        m.canConnectToSource = [](const SourceChoice&) { return true; };
        m.listSourceTables = [](ListBox& l, const SourceChoice&) {
            l.addItem("t1");
            l.addItem("t2");
        };
        m.openSource = [](db::Connection& c, const SourceChoice&) { c.Open("Provider=PreviewFakeSource"); };
        m.listTargetTables = [](ListBox&, const TargetChoice&) {};
        m.openTarget = [](db::Connection& c, const TargetChoice&) { c.Open("Provider=PreviewFake"); };
        m.createTargetDatabase = [](const std::string&, const std::string&) {};
        convert::ConversionRun r(host, m);
        r.start(selection);
    }
    // The statements the target received, first words of each.
    static std::vector<std::string> executedTables() {
        std::vector<std::string> out;
        for (const auto& s : FakeTarget::instance().executed)
            if (s.rfind("CREATE TABLE [", 0) == 0) out.push_back(s.substr(14, 2));
        return out;
    }
    TempDir dir;
    RunSelection selection;
    ScopedBoxes boxes;
};

const std::string kBackText =
    "Done.\r\n\r\nNo table was converted.\r\n2 tables not converted: the preview was closed with \"< Back\".";

TEST_F(RunOutcomeTest, PerTableBackOnTheFirstTableEndsTheRunWithoutTouchingTheTarget) {
    RunHostForTest host;
    host.script = {Close::Back};
    run(host);
    EXPECT_EQ(host.shownLines, std::vector<int>{4});  // CREATE + 3 rows of t2
    EXPECT_EQ(host.shownDatatypeRows, std::vector<int>{1});
    EXPECT_TRUE(FakeTarget::instance().executed.empty());
    ASSERT_FALSE(boxes.shown.empty());
    EXPECT_EQ(boxes.shown.back().text, kBackText);  // t2 not executed, t1 not reached
    EXPECT_FALSE(host.conn && host.conn->isOpen());
}

TEST_F(RunOutcomeTest, PerTableCloseBoxActsAsBack) {
    RunHostForTest host;
    host.script = {Close::CloseBox};
    run(host);
    EXPECT_EQ(host.shownLines.size(), 1u);
    EXPECT_TRUE(FakeTarget::instance().executed.empty());
    EXPECT_EQ(boxes.shown.back().text, kBackText);
}

TEST_F(RunOutcomeTest, PerTableSkipGoesOnWithTheNextTable) {
    RunHostForTest host;
    host.script = {Close::Skip, Close::Execute};
    run(host);
    EXPECT_EQ(host.shownLines, (std::vector<int>{4, 4}));
    EXPECT_EQ(executedTables(), std::vector<std::string>{"t1"});
    EXPECT_EQ(FakeTarget::instance().executed.size(), 4u);
    EXPECT_EQ(host.targetOpenAfterShow, (std::vector<bool>{true, true}));
}

TEST_F(RunOutcomeTest, PerTableExecuteGoesOnWithTheNextTable) {
    RunHostForTest host;
    host.script = {Close::Execute, Close::Execute};
    run(host);
    EXPECT_EQ(executedTables(), (std::vector<std::string>{"t2", "t1"}));
    EXPECT_EQ(boxes.shown.back().text, "Done.\r\n\r\n2 tables converted.");
}

TEST_F(RunOutcomeTest, PerFileExecuteRunsEveryTablesStatementsOnce) {
    RunHostForTest host;
    host.perFile = true;
    host.script = {Close::Execute};
    run(host);
    EXPECT_EQ(host.shownLines, std::vector<int>{8});
    EXPECT_EQ(host.shownDatatypeRows, std::vector<int>{2});
    EXPECT_EQ(executedTables(), (std::vector<std::string>{"t2", "t1"}));
    EXPECT_FALSE(host.conn->isOpen());
}

TEST_F(RunOutcomeTest, PerFileSkipBackAndCloseBoxExecuteNothingAndCloseTheTarget) {
    for (Close how : {Close::Skip, Close::Back, Close::CloseBox}) {
        FakeTarget::instance().reset();
        RunHostForTest host;
        host.perFile = true;
        host.script = {how};
        run(host);
        EXPECT_EQ(host.shownLines, std::vector<int>{8});
        EXPECT_TRUE(FakeTarget::instance().executed.empty());
        EXPECT_FALSE(host.conn->isOpen());
        EXPECT_EQ(boxes.shown.back().text,
                  how == Close::Skip ? std::string("Done.\r\n\r\nNo table was converted.\r\n2 tables skipped.")
                                     : "Done.\r\n\r\nNo table was converted.\r\n2 tables not converted: the preview "
                                       "was closed without Execute SQL.");
    }
}

}  // namespace
}  // namespace tp::test
