// Pictures of the preview windows for the documentation: runs only when
// TP_PREVIEW_SCREENSHOTS names a folder (under Xvfb, for example).
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTableView>
#include <cstdlib>

#include "preview/sql_preview_window.h"
#include "preview/find_replace_dialog.h"
#include "preview/line_editor_dialog.h"
#include "preview/datatype_view.h"
#include "preview/windows.h"
#include "tests/preview/fixtures.h"
#include "tests/support/support.h"

namespace tp::test {
namespace {

void save(QWidget& w, const QString& folder, const char* name) {
    w.show();
    w.raise();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    ASSERT_TRUE(w.grab().save(folder + "/" + name));
}

TEST(Screenshots, PreviewWindows) {
    const char* folder = std::getenv("TP_PREVIEW_SCREENSHOTS");
    if (!folder) GTEST_SKIP() << "TP_PREVIEW_SCREENSHOTS not set";
    const QString out = QString::fromLocal8Bit(folder);
    ScopedBoxes boxes;
    FakeTarget::instance().reset();
    FakeTarget::instance().failureText = "Syntax error (missing operator) in query expression ''Bl'ue')'.";
    auto conn = openFakeTarget();
    preview::PreviewWindows windows([&] { return conn.get(); });
    auto& list = windows.statementList();
    list.append("DROP TABLE [customer]");
    list.append("CREATE TABLE [customer]([cust_id] TEXT, [company] TEXT, [maxordamt] DECIMAL, [photo] TEXT)");
    for (int i = 1; i <= 60; ++i)
        list.append("INSERT INTO [customer]([cust_id],[company],[maxordamt]) VALUES('C" + std::to_string(1000 + i) +
                    "', 'Company " + std::to_string(i) + "', " + std::to_string(i * 25) + ".50)" +
                    (i == 12 ? " FAIL" : ""));
    auto& types = windows.datatypeList();
    const char* fields[][3] = {{"cust_id", "char", "TEXT"},
                               {"company", "char", "TEXT"},
                               {"maxordamt", "dec", "DECIMAL"},
                               {"orders", "int", "INT"},
                               {"photo", "", ""}};
    for (auto& f : fields) {
        types.addRow("customer");
        types.setLastField(f[0]);
        if (*f[1]) types.setLastTypes(f[1], f[2]);
    }
    types.setLastNote("General field: the OLE object's bytes are kept as FoxPro stores them");

    windows.setTableName("customer");
    preview::SqlPreviewWindow& form = windows.sqlPreview();
    form.ensureLoaded();
    form.statements().flush();
    form.statements().setChecked(0, true);
    form.statements().setChecked(1, true);
    form.show();
    form.executeSql();  // stops at line 15 with the failure shown
    save(form, out, "sql-preview.png");

    preview::LineEditorDialog editor(form.statements(), 15, &form);
    editor.setLineText(form.statements().line(14));
    save(editor, out, "line-editor.png");

    preview::FindReplaceDialog replace(form.statements(), &form);
    replace.findEdit->setText("customer");
    replace.replaceEdit->setText("clients");
    save(replace, out, "find-and-replace.png");

    preview::DatatypeView& view = windows.datatypeView();
    view.setParent(&form, view.windowFlags() | Qt::Dialog);
    save(view, out, "datatypes-conversion.png");
    view.hide();
    editor.hide();
    replace.hide();
    form.hide();
}

}  // namespace
}  // namespace tp::test
