// The preview side of the main window's run host: the preview window's
// statement list, the datatype list and showing the preview. The preview
// windows are created on first use and execute on access_conn.
#include "app/main_window.h"
#include "app/settings.h"
#include "preview/windows.h"

namespace tp::app {

struct MainWindow::PreviewLists {
    explicit PreviewLists(MainWindow& f) : windows([&f] { return f.accessConn_.get(); }) {}
    preview::PreviewWindows windows;
};

static MainWindow::PreviewLists& lists(MainWindow& f, std::shared_ptr<MainWindow::PreviewLists>& p) {
    if (!p) p = std::make_shared<MainWindow::PreviewLists>(f);
    return *p;
}

convert::StatementList& MainWindow::previewList() { return lists(*this, previewWindows_).windows.statementList(); }
convert::DatatypeList& MainWindow::datatypeList() { return lists(*this, previewWindows_).windows.datatypeList(); }
void MainWindow::showPreview(convert::PreviewFlags& outcome) {
    lists(*this, previewWindows_).windows.showPreviewModal(this, &outcome);
}
void MainWindow::previewTable(const std::string& name) { lists(*this, previewWindows_).windows.setTableName(name); }

db::CodePageChoice MainWindow::sourceCodePage() const { return storedCodePage(); }
bool MainWindow::createKeys() const { return storedCreateKeys(); }

}  // namespace tp::app
