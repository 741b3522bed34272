// The conversion run with stand-in source and target providers, a recording
// host and scripted message boxes.
#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <functional>
#include <map>

#include "convert/run.h"
#include "db/ado.h"
#include "db/error.h"
#include "convert/selection.h"
#include "tests/support/support.h"
#include "host/events.h"

using namespace tp::convert;
using tp::db::FieldInfo;
using tp::db::Value;
namespace ad = tp::db::adtype;
namespace mb = tp::mb;

namespace {

struct SourceTable {
    std::string name;
    std::vector<FieldInfo> fields;
    std::vector<std::vector<Value>> rows;
    bool unreadable = false;
    int failAfter = -1;  // the move past this many rows fails
};

struct FakeSource {
    bool valid = true;
    std::vector<SourceTable> tables;
    // The indexes (12) and foreign keys (27) schema rowsets, when offered.
    std::vector<FieldInfo> indexFields, relationFields;
    std::vector<std::vector<Value>> indexRows, relationRows;
};

struct FakeTarget {
    bool exists = true;
    std::vector<std::string> tables;
    std::vector<std::string> executed;
    std::function<bool(const std::string&)> reject;
    int opens = 0, closes = 0;
    int preparedRuns = 0;                              // statements that came prepared
    std::vector<std::vector<Value>> relationshipRows;  // FK_NAME, PK_TABLE_NAME, FK_TABLE_NAME
};

FakeSource* g_source = nullptr;
FakeTarget* g_target = nullptr;

// A cursor that knows its row count, as the FoxPro tables do.
class CountedCursor : public tp::db::VectorCursor {
public:
    CountedCursor(std::vector<FieldInfo> f, std::vector<std::vector<Value>> rows, int failAfter = -1)
        : VectorCursor(std::move(f), rows), count_(static_cast<int64_t>(rows.size())), failAfter_(failAfter) {}
    int64_t sizeHint() const override { return count_; }
    bool next(std::vector<Value>& row) override {
        if (given_++ == failAfter_) throw tp::db::Error("Record is out of range.");
        return VectorCursor::next(row);
    }

private:
    int64_t count_;
    int failAfter_, given_ = 0;
};

class SourceConnection : public tp::db::ProviderConnection {
public:
    std::unique_ptr<tp::db::Cursor> execute(std::string_view sql, long*) override {
        for (const auto& t : g_source->tables)
            if (sql == "SELECT * FROM `" + t.name + "`") {
                if (t.unreadable) throw tp::db::Error("File '" + t.name + ".dbf' is not a table.");
                return std::make_unique<CountedCursor>(t.fields, t.rows, t.failAfter);
            }
        throw tp::db::Error("Command contains unrecognized phrase/keyword.");
    }
    std::unique_ptr<tp::db::Cursor> openSchema(int schema) override {
        if (schema == tp::db::adSchemaIndexes && !g_source->indexFields.empty())
            return std::make_unique<tp::db::VectorCursor>(g_source->indexFields, g_source->indexRows);
        if (schema == tp::db::adSchemaForeignKeys && !g_source->relationFields.empty())
            return std::make_unique<tp::db::VectorCursor>(g_source->relationFields, g_source->relationRows);
        if (schema != tp::db::adSchemaTables) notCapable();
        std::vector<std::vector<Value>> rows;
        for (const auto& t : g_source->tables) rows.push_back(tp::db::tablesSchemaRow(t.name, "TABLE"));
        return std::make_unique<tp::db::VectorCursor>(tp::db::tablesSchemaFields(), rows);
    }
    void close() override {}
};

// A preparer that keeps the text it was given: the statement executed with
// it must be that very text.
struct KeptText : tp::db::PreparedStatement {
    std::string text;
};
class KeepingPreparer : public tp::db::StatementPreparer {
public:
    void prepare(std::string_view sql, std::unique_ptr<tp::db::PreparedStatement>& into) override {
        if (!into) into = std::make_unique<KeptText>();
        static_cast<KeptText&>(*into).text.assign(sql);
    }
};

class TargetConnection : public tp::db::ProviderConnection {
public:
    TargetConnection() { ++g_target->opens; }
    std::unique_ptr<tp::db::StatementPreparer> preparer(std::string_view) override {
        return std::make_unique<KeepingPreparer>();
    }
    std::unique_ptr<tp::db::Cursor> executePrepared(std::string_view sql, tp::db::PreparedStatement* prepared,
                                                    long* affected) override {
        if (prepared) {
            if (static_cast<KeptText*>(prepared)->text != sql) throw tp::db::Error("prepared for another statement");
            ++g_target->preparedRuns;
        }
        return execute(sql, affected);
    }
    std::unique_ptr<tp::db::Cursor> execute(std::string_view sql, long*) override {
        std::string s(sql);
        if (g_target->reject && g_target->reject(s))
            throw tp::db::Error(-2147217900, "Syntax error in " + s.substr(0, 6) + " statement.");
        g_target->executed.push_back(s);
        return nullptr;
    }
    std::unique_ptr<tp::db::Cursor> openSchema(int schema) override {
        if (schema != tp::db::adSchemaForeignKeys || g_target->relationshipRows.empty())
            throw tp::db::Error("no schema");
        return std::make_unique<tp::db::VectorCursor>(
            std::vector<FieldInfo>{
                {"FK_NAME", ad::VarWChar}, {"PK_TABLE_NAME", ad::VarWChar}, {"FK_TABLE_NAME", ad::VarWChar}},
            g_target->relationshipRows);
    }
    void close() override { ++g_target->closes; }
};

struct Providers {
    Providers() {
        auto& r = tp::db::ProviderRegistry::instance();
        r.add("fakefox", [](const tp::db::ConnectionString&, const tp::db::ConnectionOptions&) {
            return std::make_unique<SourceConnection>();
        });
        r.add("faketarget",
              [](const tp::db::ConnectionString&,
                 const tp::db::ConnectionOptions&) -> std::unique_ptr<tp::db::ProviderConnection> {
                  if (!g_target->exists) throw tp::db::Error(-2147467259, "Could not find file 'target.mdb'.");
                  return std::make_unique<TargetConnection>();
              });
    }
};

class TestHost : public RunHost {
public:
    bool previewModeValue = false;
    bool onceAtEndValue = false, perTableValue = false;
    tp::VectorListBox l1, l2;
    VectorStatementList preview;
    VectorDatatypeList datatypes;
    std::vector<std::string> progressTexts;
    double progressValue = -1;
    int busyCalls = 0;
    std::unique_ptr<tp::db::Connection> conn;
    // Each preview shows: its lines at that moment, then the window's outcome.
    std::vector<std::vector<std::string>> previews;
    std::function<void(PreviewFlags&)> closePreview = [](PreviewFlags&) {};

    bool keys = true;
    bool createKeys() const override { return keys; }
    bool previewMode() const override { return previewModeValue; }
    bool previewOnceAtEnd() const override { return onceAtEndValue; }
    bool previewPerTable() const override { return perTableValue; }
    // The lists as the run last showed them.
    void showTables(const std::vector<std::string>& target, const std::vector<std::string>& source) override {
        l1.items = target;
        l2.items = source;
    }
    void setProgressValue(double p) override {
        progressValue = p;
        progressValues.push_back(p);
    }
    std::vector<double> progressValues;
    void setProgressText(const std::string& t) override { progressTexts.push_back(t); }
    void setBusyPointer(bool) override { ++busyCalls; }
    StatementList& previewList() override { return preview; }
    DatatypeList& datatypeList() override { return datatypes; }
    void showPreview(PreviewFlags& outcome) override {
        previews.push_back(preview.lines);
        closePreview(outcome);
    }
    std::unique_ptr<tp::db::Connection>& accessConnection() override { return conn; }
    std::vector<InputField> focused;
    void focusField(InputField f) override { focused.push_back(f); }
};

class RunTest : public ::testing::Test {
protected:
    void SetUp() override {
        static Providers providers;
        g_source = &source;
        g_target = &target;
        selection.target.path = dir.file("target.mdb");
        tp::test::writeFile(selection.target.path, "");        // exists
        selection.fieldTypes = tp::convert::FieldTypes::Text;  // the statements as text columns take them
    }
    void TearDown() override {
        tp::setEventPump(nullptr);
        g_source = nullptr;
        g_target = nullptr;
    }

    RunModules modules() {
        RunModules m;
        m.canConnectToSource = [this](const tp::SourceChoice&) { return source.valid; };
        m.listSourceTables = [this](tp::ListBox& l, const tp::SourceChoice&) {
            l.clear();
            for (const auto& t : source.tables) l.addItem(t.name);
        };
        m.openSource = [](tp::db::Connection& c, const tp::SourceChoice&) {
            c.Open("Provider=fakefox;Data Source=/x");
        };
        m.listTargetTables = [this](tp::ListBox& l, const tp::TargetChoice& t) {
            l.clear();
            if (!std::filesystem::exists(t.path)) {
                tp::msgBox("Unable to access the database");
                target.exists = false;
                return;
            }
            for (const auto& t : target.tables) l.addItem(t);
        };
        m.openTarget = [](tp::db::Connection& c, const tp::TargetChoice&) { c.Open("Provider=faketarget"); };
        m.createTargetDatabase = [this](const std::string& path, const std::string& password) {
            tp::test::writeFile(path, "");
            createdWith = password;
            target.exists = true;
        };
        return m;
    }

    void run() {
        ConversionRun r(host, modules());
        r.setRegionalSettings(RegionalSettings::unitedStates());
        r.setRowPrefetchFrom(prefetchFrom);
        summary = r.start(selection);
        EXPECT_FALSE(r.isConverting());
    }

    std::vector<std::string> boxTexts() const {
        std::vector<std::string> t;
        for (const auto& s : boxes.shown) t.push_back(s.text);
        return t;
    }

    static SourceTable table(std::string name, int rows = 1) {
        SourceTable t{std::move(name), {{"id", ad::Integer}, {"title", ad::VarChar}}, {}};
        for (int i = 1; i <= rows; ++i) t.rows.push_back({Value(i), Value("r" + std::to_string(i))});
        return t;
    }

    tp::test::TempDir dir;
    tp::RunSelection selection;
    tp::test::ScopedBoxes boxes{mb::Yes};
    FakeSource source;
    FakeTarget target;
    TestHost host;
    RunSummary summary;
    std::string createdWith;
    int64_t prefetchFrom = -1;
};

bool startsWith(const std::string& s, const std::string& head) { return s.rfind(head, 0) == 0; }

}  // namespace

TEST_F(RunTest, PlainModeWritesEveryTableLastListedFirst) {
    source.tables = {table("a", 2), table("b", 0), table("c", 1)};
    run();
    EXPECT_EQ(target.executed, (std::vector<std::string>{
                                   "CREATE TABLE [c]([id] INT,[title] TEXT);",
                                   "INSERT INTO [c] VALUES(1, 'r1')",
                                   "CREATE TABLE [b]([id] INT,[title] TEXT);",
                                   "CREATE TABLE [a]([id] INT,[title] TEXT);",
                                   "INSERT INTO [a] VALUES(1, 'r1')",
                                   "INSERT INTO [a] VALUES(2, 'r2')",
                               }));
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Done.\r\n\r\n3 tables converted."});
    EXPECT_EQ(summary.tables, 3);
    EXPECT_EQ(summary.rows, 3);
    EXPECT_EQ(summary.failedStatements, 0);
    EXPECT_EQ(target.opens, 1);
    EXPECT_EQ(target.closes, 1);
    EXPECT_EQ(host.progressTexts.front(), "Please wait.. Processing table c");
    EXPECT_EQ(host.progressTexts.back(), "Progress Bar");
    EXPECT_EQ(host.progressValue, 0);
    // Per row, the share of the table done: c (1 row), then a (2 rows).
    EXPECT_EQ(host.progressValues, (std::vector<double>{100, 50, 100, 0}));
    EXPECT_EQ(host.datatypes.rows.size(), 6u);  // every table's fields, in order of processing
    EXPECT_EQ(host.datatypes.rows.front().table, "c");
    EXPECT_TRUE(host.preview.lines.empty());
}

TEST_F(RunTest, ExampleStatementsByteForByte) {
    source.tables = {
        {"orders",
         {{"id", ad::Integer}, {"title", ad::VarChar}, {"shipped", ad::DBDate}, {"photo", ad::LongVarBinary}},
         {{Value(7), Value("it's"), Value(tp::db::Date{2021, 8, 30}), Value(tp::db::Bytes{1})},
          {Value(7), Value(), Value(tp::db::Date{2021, 8, 30}), Value()}}}};
    run();
    EXPECT_EQ(target.executed, (std::vector<std::string>{
                                   "CREATE TABLE [orders]([id] INT,[title] TEXT,[shipped] TEXT);",
                                   "INSERT INTO [orders] VALUES(7, 'it''s', '08/30/2021')",
                                   "INSERT INTO [orders] VALUES(7,NULL, '08/30/2021')",
                               }));
}

TEST_F(RunTest, OverwriteQuestionIgnoresCaseAndYesDropsFirst) {
    source.tables = {table("customers")};
    target.tables = {"Customers"};
    boxes.answers = {mb::Yes};
    run();
    ASSERT_GE(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Would you like to overwrite customers?");
    EXPECT_EQ(boxes.shown[0].title, "Overwrite?");
    EXPECT_EQ(boxes.shown[0].style, mb::YesNo);
    ASSERT_EQ(target.executed.size(), 3u);
    EXPECT_EQ(target.executed[0], "DROP TABLE [customers]");
    EXPECT_TRUE(startsWith(target.executed[1], "CREATE TABLE [customers]("));
}

TEST_F(RunTest, NoSkipsTheTableCompletely) {
    source.tables = {table("keep"), table("skip")};
    target.tables = {"SKIP"};
    host.previewModeValue = true;
    host.perTableValue = true;
    host.closePreview = [](PreviewFlags& f) { f.sqlExecuted = true; };
    boxes.answers = {mb::No};
    run();
    EXPECT_TRUE(target.executed.empty());  // preview mode: nothing runs here
    ASSERT_EQ(host.previews.size(), 1u);   // only for "keep"
    EXPECT_TRUE(startsWith(host.previews[0].at(0), "CREATE TABLE [keep]("));
    EXPECT_EQ(host.progressTexts.at(0), "");  // the skipped table's caption cleared
    EXPECT_EQ(boxTexts().back(), "Done.\r\n\r\n1 table converted.\r\n1 table skipped.");
}

TEST_F(RunTest, PreviewPerTableHasDropAtItsHead) {
    source.tables = {table("one", 2), table("two", 1)};
    target.tables = {"two"};
    host.previewModeValue = true;
    host.perTableValue = true;
    host.closePreview = [](PreviewFlags& f) { f.sqlExecuted = true; };
    boxes.answers = {mb::Yes};
    run();
    ASSERT_EQ(host.previews.size(), 2u);
    EXPECT_EQ(host.previews[0],
              (std::vector<std::string>{"DROP TABLE [two]", "CREATE TABLE [two]([id] INT,[title] TEXT);",
                                        "INSERT INTO [two] VALUES(1, 'r1')"}));
    EXPECT_EQ(host.previews[1].size(), 3u);  // only the second table's statements
    EXPECT_TRUE(startsWith(host.previews[1][0], "CREATE TABLE [one]("));
    EXPECT_TRUE(target.executed.empty());
    EXPECT_EQ(target.closes, 1);
}

TEST_F(RunTest, BackInPerTablePreviewLeavesTheOtherTablesAlone) {
    source.tables = {table("a"), table("b"), table("c")};
    host.previewModeValue = true;
    host.perTableValue = true;  // the window closes with neither flag changed
    run();
    EXPECT_EQ(host.previews.size(), 1u);
    EXPECT_EQ(summary.tables, 1);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Done.\r\n\r\nNo table was converted.\r\n3 tables not "
                                                   "converted: the preview was closed with \"< Back\"."});
    EXPECT_EQ(target.closes, 1);
}

TEST_F(RunTest, SkipTableInPerTablePreviewGoesOn) {
    source.tables = {table("a"), table("b")};
    host.previewModeValue = true;
    host.perTableValue = true;
    host.closePreview = [](PreviewFlags& f) { f.endRunAfterPreview = false; };
    run();
    EXPECT_EQ(host.previews.size(), 2u);
}

TEST_F(RunTest, OnePreviewForAllTables) {
    source.tables = {table("a"), table("b")};
    host.previewModeValue = true;
    host.onceAtEndValue = true;
    run();
    ASSERT_EQ(host.previews.size(), 1u);
    EXPECT_EQ(host.previews[0].size(), 4u);
    EXPECT_TRUE(startsWith(host.previews[0][0], "CREATE TABLE [b]("));
    EXPECT_EQ(target.closes, 1);
}

TEST_F(RunTest, PreviewModeWithoutOptionsExecutesNothing) {
    source.tables = {table("a", 3)};
    host.previewModeValue = true;
    run();
    EXPECT_TRUE(host.previews.empty());
    EXPECT_TRUE(target.executed.empty());
    EXPECT_EQ(host.preview.lines.size(), 4u);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Done.\r\n\r\nNo table was converted.\r\n1 table not converted: "
                                                   "no preview was chosen, so no statement was executed."});
}

TEST_F(RunTest, SecondClickDuringAYieldDoesNothing) {
    source.tables = {table("a", 5), table("b", 5)};
    ConversionRun r(host, modules());
    int nested = 0;
    tp::setEventThrottleMs(0);
    tp::setEventPump([&] {
        EXPECT_TRUE(r.isConverting());
        ++nested;
        r.start(selection);
    });
    r.start(selection);
    tp::setEventPump(nullptr);
    tp::setEventThrottleMs(15);
    EXPECT_GT(nested, 10);
    EXPECT_EQ(target.executed.size(), 12u);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"Done.\r\n\r\n2 tables converted."});
    EXPECT_FALSE(r.isConverting());
}

TEST_F(RunTest, InvalidSourceLeavesEverythingUntouched) {
    source.valid = false;
    source.tables = {table("a")};
    host.l1.items = {"old1"};
    host.l2.items = {"old2"};
    host.preview.lines = {"kept"};
    run();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(host.l1.items, std::vector<std::string>{"old1"});
    EXPECT_EQ(host.l2.items, std::vector<std::string>{"old2"});
    EXPECT_EQ(host.preview.lines, std::vector<std::string>{"kept"});
    EXPECT_EQ(host.busyCalls, 0);
    EXPECT_TRUE(host.progressTexts.empty());
    EXPECT_EQ(target.opens, 0);
    EXPECT_FALSE(summary.ran);
}

// Nothing to convert: said once, before a target is created or opened.
TEST_F(RunTest, SourceWithoutTablesStopsBeforeTheTarget) {
    selection.target.path = dir.file("new.mdb");
    run();
    EXPECT_EQ(target.opens, 0);
    EXPECT_FALSE(std::filesystem::exists(selection.target.path));
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"The FoxPro source holds no tables: there is nothing to convert."});
    EXPECT_EQ(host.focused, std::vector<InputField>{InputField::SourceFolder});
    EXPECT_EQ(host.progressTexts.back(), "Progress Bar");
    EXPECT_TRUE(summary.stopped);
}

TEST_F(RunTest, RejectedDefinitionStillTransfersTheRows) {
    source.tables = {table("a", 2)};
    target.reject = [](const std::string& s) { return startsWith(s, "CREATE"); };
    run();
    EXPECT_EQ(target.executed.size(), 2u);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].title, "Application Error");
    EXPECT_NE(boxes.shown[0].text.find("in Larkspan2021/08/31.Form1.PushButton7_Click at line 334"), std::string::npos);
    EXPECT_EQ(boxes.shown[1].text,
              "Done.\r\n\r\n1 table converted.\r\n1 statement could not be executed:\r\ntable a: CREATE TABLE: "
              "Syntax error in CREATE statement.");
    EXPECT_EQ(summary.failedStatements, 1);
}

TEST_F(RunTest, RepeatedFailuresAreShownOnceAndCounted) {
    source.tables = {table("a", 3)};
    target.reject = [](const std::string& s) { return startsWith(s, "INSERT"); };
    run();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_NE(boxes.shown[0].text.find("at line 440"), std::string::npos);
    EXPECT_EQ(boxes.shown[1].text,
              "Done.\r\n\r\n1 table converted.\r\n3 statements could not be executed:\r\ntable a: INSERT INTO: "
              "Syntax error in INSERT statement. (3 times)");
    EXPECT_EQ(summary.failedStatements, 3);
}

TEST_F(RunTest, UnreadableTableIsReportedAndTheRunGoesOn) {
    source.tables = {table("good"), SourceTable{"bad", {}, {}, true}};
    run();
    ASSERT_GE(boxes.shown.size(), 2u);
    EXPECT_NE(boxes.shown[0].text.find("is not a table.\r\nin Larkspan2021/08/31.Form1.PushButton7_Click at line 184"),
              std::string::npos);
    EXPECT_TRUE(startsWith(target.executed.back(), "INSERT INTO [good]"));
    EXPECT_TRUE(startsWith(boxes.shown.back().text, "Done."));
}

// Rows read ahead on a second thread, and prepared there for the target,
// change nothing the user sees: the statements, the boxes with their
// statement numbers, the counts and the progress are the plain loop's, when
// the target refuses rows in the middle of a table, when a row lacks a
// value (the rest of that table is read the plain way) and when the source
// fails in the middle of a table.
TEST_F(RunTest, RowsReadAheadChangeNothingTheUserSees) {
    auto outcome = [this](int64_t from) {
        SourceTable refused = table("refused", 3000), lacking = table("lacking", 3000),
                    failing = table("failing", 3000);
        lacking.rows[1700].pop_back();
        failing.failAfter = 1234;
        source.tables = {refused, lacking, failing};
        target.executed.clear();
        target.reject = [](const std::string& s) { return s.find("'r777'") != s.npos || s.find("'r2999'") != s.npos; };
        boxes.shown.clear();
        host.progressValues.clear();
        prefetchFrom = from;
        run();
        std::vector<std::string> seen = boxTexts();
        seen.insert(seen.end(), target.executed.begin(), target.executed.end());
        for (int64_t n : {summary.rows, int64_t(summary.failures), int64_t(summary.failedStatements)})
            seen.push_back(std::to_string(n));
        for (double v : host.progressValues) seen.push_back(std::to_string(v));
        return seen;
    };
    const std::vector<std::string> plain = outcome(-1);
    for (const char* line : {"at line 358", "at line 440", "at line 442"})
        EXPECT_TRUE(std::any_of(plain.begin(), plain.end(), [&](const std::string& s) {
            return s.find(line) != s.npos;
        })) << line;
    EXPECT_EQ(target.preparedRuns, 0);
    EXPECT_EQ(outcome(0), plain);
    EXPECT_GT(target.preparedRuns, 3000);
}

TEST_F(RunTest, MissingTargetIsCreatedOnYes) {
    source.tables = {table("a")};
    selection.target.path = dir.file("new.mdb");
    selection.target.password = "pw";
    boxes.answers = {mb::Yes};
    run();
    ASSERT_GE(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text,
              "The database " + selection.target.path + " does not exist. Would you like to create it?");
    EXPECT_EQ(boxes.shown[0].style, mb::YesNo);
    EXPECT_EQ(boxes.shown[0].title, "");
    EXPECT_EQ(createdWith, "pw");
    EXPECT_EQ(target.executed.size(), 2u);
    EXPECT_EQ(boxTexts().back(), "Done.\r\n\r\n1 table converted.");
}

// No to the creation question: the run stops there, with nothing more to
// say and the focus on the target's field.
TEST_F(RunTest, MissingTargetOnNoStopsTheRunAtTheTargetField) {
    source.tables = {table("a")};
    selection.target.path = dir.file("new.mdb");
    boxes.answers = {mb::No};
    run();
    EXPECT_FALSE(std::filesystem::exists(selection.target.path));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text,
              "The database " + selection.target.path + " does not exist. Would you like to create it?");
    EXPECT_EQ(host.focused, std::vector<InputField>{InputField::TargetFile});
    EXPECT_TRUE(target.executed.empty());
    EXPECT_EQ(target.opens, 0);
}

// One answer for all: "Yes to All" replaces every remaining existing table
// after a single question; "No to All" keeps them all.
TEST_F(RunTest, OverwriteAnswerForAllRemainingTables) {
    source.tables = {table("a"), table("b"), table("c")};
    target.tables = {"a", "b", "c"};
    boxes.answers = {tp::mb::YesToAll};
    run();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].text, "Would you like to overwrite c?");
    EXPECT_EQ(boxes.shown[0].style, mb::YesNo | mb::ToAll);
    EXPECT_EQ(target.executed.front(), "DROP TABLE [c]");
    EXPECT_EQ(std::count_if(target.executed.begin(), target.executed.end(),
                            [](const std::string& st) { return startsWith(st, "DROP TABLE"); }),
              3);
    EXPECT_EQ(boxes.shown[1].text, "Done.\r\n\r\n3 tables converted.");

    target.executed.clear();
    boxes.shown.clear();
    boxes.answers = {tp::mb::No, tp::mb::NoToAll};
    run();
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.shown[1].text, "Would you like to overwrite b?");
    EXPECT_TRUE(target.executed.empty());
    EXPECT_EQ(boxes.shown[2].text, "Done.\r\n\r\nNo table was converted.\r\n3 tables skipped.");
}

namespace {

// customers (listed first, so converted last) and orders, with the tags and
// the relation of a small database container.
void keyedSource(FakeSource& source, const std::string& companyExpression, const std::string& company) {
    source.tables = {
        {"customers", {{"customerid", ad::Char}, {"companyname", ad::Char}}, {{Value("ALFKI"), Value(company)}}},
        {"orders", {{"orderid", ad::Integer}, {"customerid", ad::Char}}, {{Value(1), Value("ALFKI")}}}};
    source.indexFields = {{"TABLE_NAME", ad::VarWChar},  {"INDEX_NAME", ad::VarWChar},
                          {"PRIMARY_KEY", ad::Boolean},  {"UNIQUE", ad::Boolean},
                          {"COLUMN_NAME", ad::VarWChar}, {"ORDINAL_POSITION", ad::Integer},
                          {"COLLATION", ad::Integer},    {"FILTER_CONDITION", ad::VarWChar},
                          {"INDEX_KIND", ad::VarWChar},  {"PROBLEM", ad::VarWChar}};
    auto tag = [](const char* table, const char* name, const char* kind, const char* expr, const char* filter = "") {
        const std::string k = kind;
        return std::vector<Value>{Value(table),
                                  Value(name),
                                  Value(k == "PRIMARY"),
                                  Value(k == "PRIMARY" || k == "CANDIDATE"),
                                  Value(expr),
                                  Value(1),
                                  Value(1),
                                  Value(filter),
                                  Value(kind),
                                  Value("")};
    };
    source.indexRows = {tag("customers", "CUSTOMERID", "PRIMARY", "customerid"),
                        tag("customers", "COMPANYNAM", "REGULAR", companyExpression.c_str()),
                        tag("customers", "CITY", "REGULAR", "customerid", "!DELETED()"),
                        tag("orders", "ORDERID", "PRIMARY", "orderid"),
                        tag("orders", "CUSTOMERID", "REGULAR", "UPPER(customerid)")};
    source.relationFields = {{"FK_NAME", ad::VarWChar},       {"PK_TABLE_NAME", ad::VarWChar},
                             {"PK_INDEX_NAME", ad::VarWChar}, {"FK_TABLE_NAME", ad::VarWChar},
                             {"FK_INDEX_NAME", ad::VarWChar}, {"UPDATE_RULE", ad::VarWChar},
                             {"DELETE_RULE", ad::VarWChar},   {"PROBLEM", ad::VarWChar}};
    source.relationRows = {{Value("Relation 1"), Value("customers"), Value("CUSTOMERID"), Value("orders"),
                            Value("CUSTOMERID"), Value("CASCADE"), Value("RESTRICT"), Value("")},
                           {Value("Relation 2"), Value("customers"), Value("CITY"), Value("orders"),
                            Value("CUSTOMERID"), Value("IGNORE"), Value("IGNORE"), Value("")}};
}

const char* const kCityLeftOut =
    "customers, tag CITY: it has a FOR filter (!DELETED()), and an Access index covers every row";

}  // namespace

// A table's primary key and indexes follow its rows; the relations follow
// all tables; without the setting the statements are those of before; a
// key the target refuses is reported like any statement, at its own line.
TEST_F(RunTest, KeysFollowTheRowsAndRelationsFollowAllTables) {
    keyedSource(source, "UPPER(companyname)", "Alfreds");
    run();
    const std::vector<std::string> withKeys = {
        "CREATE TABLE [orders]([orderid] INT,[customerid] TEXT);",
        "INSERT INTO [orders] VALUES(1, 'ALFKI')",
        "ALTER TABLE [orders] ADD CONSTRAINT [ORDERID] PRIMARY KEY ([orderid])",
        "CREATE INDEX [CUSTOMERID] ON [orders] ([customerid])",
        "CREATE TABLE [customers]([customerid] TEXT,[companyname] TEXT);",
        "INSERT INTO [customers] VALUES('ALFKI', 'Alfreds')",
        "ALTER TABLE [customers] ADD CONSTRAINT [CUSTOMERID] PRIMARY KEY ([customerid])",
        "CREATE INDEX [COMPANYNAM] ON [customers] ([companyname])",
        "ALTER TABLE [orders] ADD CONSTRAINT [customersorders] FOREIGN KEY ([customerid]) REFERENCES [customers] "
        "([customerid]) ON UPDATE CASCADE",
    };
    EXPECT_EQ(target.executed, withKeys);
    EXPECT_EQ(summary.keysLeftOut,
              (std::vector<std::string>{kCityLeftOut,
                                        "relation Relation 2 (customers.CITY to orders.CUSTOMERID): "
                                        "the tag CITY of customers was left out"}));
    EXPECT_EQ(boxTexts().back(),
              "Done.\r\n\r\n2 tables converted.\r\n2 indexes or relations left out; the list follows.");
    ASSERT_EQ(host.datatypes.rows.size(), 6u);  // 4 fields, the tag and the relation
    EXPECT_EQ(host.datatypes.rows[4].field, "tag CITY");
    EXPECT_EQ(host.datatypes.rows[4].keyword, "left out");
    EXPECT_EQ(host.datatypes.rows[5].field, "relation Relation 2");

    target.executed.clear();
    boxes.shown.clear();
    host.keys = false;
    run();
    std::vector<std::string> without;
    for (const auto& st : withKeys)
        if (startsWith(st, "CREATE TABLE") || startsWith(st, "INSERT")) without.push_back(st);
    EXPECT_EQ(target.executed, without);
    EXPECT_TRUE(summary.keysLeftOut.empty());
    EXPECT_EQ(host.datatypes.rows.size(), 4u);
    EXPECT_EQ(boxTexts().back(), "Done.\r\n\r\n2 tables converted.");

    target.executed.clear();
    boxes.shown.clear();
    host.keys = true;
    // A key Access refuses is a notice, not a failure; the relation on it
    // cannot follow.
    target.reject = [](const std::string& st) { return startsWith(st, "ALTER TABLE [customers] ADD CONSTRAINT"); };
    run();
    EXPECT_EQ(target.executed.size(), withKeys.size() - 2);
    EXPECT_EQ(summary.failedStatements, 0);
    ASSERT_EQ(summary.keysLeftOut.size(), 4u) << ::testing::PrintToString(summary.keysLeftOut);
    EXPECT_EQ(summary.keysLeftOut[0].rfind("customers, tag CUSTOMERID: Access refused it: ", 0), 0u)
        << summary.keysLeftOut[0];
    EXPECT_EQ(boxTexts().size(), 1u);
}

// An overwrite drops the target's relationships of the replaced tables
// first; in per-table preview the relations come in one more preview; a
// leading blank under ALLTRIM() leaves that tag out.
TEST_F(RunTest, OverwriteDropsRelationshipsFirstAndRelationsHaveTheirOwnPreview) {
    keyedSource(source, "ALLTRIM(UPPER(companyname))", " Alfreds");
    target.tables = {"orders", "customers"};
    target.relationshipRows = {{Value("customersorders"), Value("customers"), Value("orders")},
                               {Value("customersorders"), Value("customers"), Value("orders")}};
    host.previewModeValue = true;
    host.perTableValue = true;
    host.closePreview = [](PreviewFlags& f) { f.sqlExecuted = true; };
    boxes.answers = {mb::YesToAll};
    run();
    ASSERT_EQ(host.previews.size(), 3u);
    EXPECT_EQ(host.previews[0], (std::vector<std::string>{
                                    "ALTER TABLE [orders] DROP CONSTRAINT [customersorders]",
                                    "DROP TABLE [orders]",
                                    "CREATE TABLE [orders]([orderid] INT,[customerid] TEXT);",
                                    "INSERT INTO [orders] VALUES(1, 'ALFKI')",
                                    "ALTER TABLE [orders] ADD CONSTRAINT [ORDERID] PRIMARY KEY ([orderid])",
                                    "CREATE INDEX [CUSTOMERID] ON [orders] ([customerid])",
                                }));
    EXPECT_EQ(host.previews[1].front(), "DROP TABLE [customers]");  // its relationship is gone already
    EXPECT_EQ(host.previews[1].back(),
              "ALTER TABLE [customers] ADD CONSTRAINT [CUSTOMERID] PRIMARY KEY ([customerid])");
    EXPECT_EQ(host.previews[2], (std::vector<std::string>{
                                    "ALTER TABLE [orders] ADD CONSTRAINT [customersorders] FOREIGN KEY ([customerid]) "
                                    "REFERENCES [customers] ([customerid]) ON UPDATE CASCADE"}));
    ASSERT_EQ(summary.keysLeftOut.size(), 3u);
    EXPECT_EQ(summary.keysLeftOut[0],
              "customers, tag COMPANYNAM: ALLTRIM() leaves out the leading blanks that values of \"companyname\" "
              "have, and an Access index would keep them");
    EXPECT_EQ(summary.keysLeftOut[1], kCityLeftOut);
    EXPECT_EQ(boxTexts().back(),
              "Done.\r\n\r\n2 tables converted.\r\n3 indexes or relations left out; the list follows.");
}
