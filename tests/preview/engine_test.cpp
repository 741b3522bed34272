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

}  // namespace
}  // namespace tp::test
