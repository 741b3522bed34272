// Execute SQL on the program's own Access engine: a rejected line undoes every
// line before it, and the repaired list then runs once from line 1.
#include <gtest/gtest.h>

#include <QTableView>

#include "convert/host.h"
#include "convert/run.h"
#include "convert/target.h"
#include "db/ado.h"
#include "preview/sql_preview_window.h"
#include "preview/windows.h"
#include "tests/preview/fixtures.h"
#include "tests/support/support.h"

namespace tp::test {
namespace {

std::vector<int64_t> ids(db::Connection& c) {
    std::vector<int64_t> out;
    auto rs = c.Execute("SELECT [id] FROM [t]");
    if (!rs) return out;
    for (; !rs->atEnd(); rs->MoveNext()) out.push_back(rs->Fields(0).value().integer());
    return out;
}

TEST(PreviewOnAccessEngine, FailureAtLineSevenOfTenLeavesTheTargetAsBeforeAndTheRepairRunsOnce) {
    db::registerBuiltinProviders();
    TempDir dir;
    const std::string path = dir.file("target.mdb");
    try {
        convert::createTargetDatabase(path, "");
    } catch (const std::exception& e) {
        GTEST_SKIP() << "the engine cannot create a database here: " << e.what();
    }
    auto conn = db::CreateConnection();
    conn->Open(convert::target::connectionString(path, ""));
    ScopedBoxes boxes;
    preview::PreviewWindows windows([&] { return conn.get(); });
    auto& list = windows.statementList();
    list.append("CREATE TABLE [t]([id] INT, [name] TEXT)");
    for (int i = 1; i <= 9; ++i)
        list.append(i == 6 ? "INSERT INTO [t] VALUES(6, 'six'"  // line 7: no closing parenthesis
                           : "INSERT INTO [t] VALUES(" + std::to_string(i) + ", 'row')");
    convert::PreviewFlags outcome;

    int errorLine = 0, selected = -1, secondErrorLine = 0;
    std::string error;
    std::vector<int64_t> afterFailure = {-1};
    preview::SqlPreviewWindow& form = windows.sqlPreview();
    whenModal("Form2", [&] {
        form.executeSql();
        errorLine = form.errorLine();
        const auto rows = form.statementView->selectionModel()->selectedRows();
        selected = rows.size() == 1 ? rows.first().row() : -1;
        error = form.errorText();
        // The table the failed run made is gone again.
        try {
            afterFailure = ids(*conn);
        } catch (const db::Error&) {
            afterFailure.clear();
        }
        // Executing again starts at line 1 and goes through.
        form.statements().setLine(6, "INSERT INTO [t] VALUES(6, 'six')");
        form.executeSql();
        secondErrorLine = form.errorLine();
    });
    windows.showPreviewModal(nullptr, &outcome);

    EXPECT_EQ(errorLine, 7);
    EXPECT_EQ(selected, 6);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(afterFailure.empty());
    EXPECT_EQ(secondErrorLine, 7);
    EXPECT_TRUE(outcome.sqlExecuted);
    EXPECT_EQ(ids(*conn), (std::vector<int64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Error found.");
    conn->Close();
}

// A long list, whose INSERT lines are prepared ahead on a second thread:
// a line that fails in the middle (a value the column cannot take, a key
// already there) is the line shown, nothing of the run stays, and the
// repaired list stores every row as written.
TEST(PreviewOnAccessEngine, LongListFailingInTheMiddleIsUndoneAndTheRepairStoresEveryRow) {
    db::registerBuiltinProviders();
    for (const std::string bad : {"INSERT INTO [t] VALUES(2500, 'soon')", "INSERT INTO [t] VALUES(17, 'dup')"}) {
        TempDir dir;
        const std::string path = dir.file("target.mdb");
        convert::createTargetDatabase(path, "");
        auto conn = db::CreateConnection();
        conn->Open(convert::target::connectionString(path, ""));
        ScopedBoxes boxes;
        preview::PreviewWindows windows([&] { return conn.get(); });
        auto& list = windows.statementList();
        list.append("CREATE TABLE [t]([id] INT, [name] DATETIME)");
        list.append("CREATE UNIQUE INDEX [k] ON [t]([id])");
        const auto line = [](int i) { return "INSERT INTO [t] VALUES(" + std::to_string(i) + ", #1/" +
                                             std::to_string(i % 28 + 1) + "/2003#)"; };
        for (int i = 1; i <= 3000; ++i) list.append(i == 2500 ? bad : line(i));
        convert::PreviewFlags outcome;
        int errorLine = 0, secondErrorLine = -1;
        std::vector<int64_t> afterFailure = {-1};
        preview::SqlPreviewWindow& form = windows.sqlPreview();
        whenModal("Form2", [&] {
            form.executeSql();
            errorLine = form.errorLine();
            try {
                afterFailure = ids(*conn);
            } catch (const db::Error&) {
                afterFailure.clear();
            }
            form.statements().setLine(2501, line(2500));
            form.executeSql();
            secondErrorLine = form.errorLine();
        });
        windows.showPreviewModal(nullptr, &outcome);
        EXPECT_EQ(errorLine, 2502) << bad;
        EXPECT_TRUE(afterFailure.empty()) << bad;
        EXPECT_EQ(secondErrorLine, 2502);
        EXPECT_TRUE(outcome.sqlExecuted);
        auto rs = conn->Execute("SELECT [id], Day([name]) FROM [t]");
        int64_t n = 0;
        for (; !rs->atEnd(); rs->MoveNext()) {
            ++n;
            EXPECT_EQ(rs->Fields(0).value().integer(), n);
            EXPECT_EQ(rs->Fields(1).value().integer(), n % 28 + 1);
        }
        EXPECT_EQ(n, 3000);
        rs.reset();
        conn->Close();
    }
}

}  // namespace
}  // namespace tp::test
