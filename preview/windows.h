// The preview windows as the main window sees them: the SQL preview window
// and the datatype conversion view, created on first use and loaded (hidden)
// whenever the run touches their lists.
#pragma once

#include <QPointer>
#include <functional>
#include <memory>
#include <string>

#include "convert/host.h"

class QWidget;

namespace tp::db {
class Connection;
}

namespace tp::preview {

class SqlPreviewWindow;
class DatatypeView;

class PreviewWindows {
public:
    // `connection`: the target connection Execute SQL runs on (the main
    // window's access_conn), read when it is needed.
    explicit PreviewWindows(std::function<db::Connection*()> connection);
    ~PreviewWindows();
    PreviewWindows(const PreviewWindows&) = delete;
    PreviewWindows& operator=(const PreviewWindows&) = delete;

    // Touching a list loads its window, hidden.
    convert::StatementList& statementList();
    convert::DatatypeList& datatypeList();
    // Shows the preview window modally, owned by `owner`; its closing is
    // told in outcome (when given; else in the window's own, see
    // SqlPreviewWindow::outcome()).
    void showPreviewModal(QWidget* owner, convert::PreviewFlags* outcome = nullptr);
    // The table the next preview is about; empty: the whole run.
    void setTableName(const std::string& name);

    SqlPreviewWindow& sqlPreview();
    DatatypeView& datatypeView();

private:
    class Statements;
    class Datatypes;
    std::function<db::Connection*()> connection_;
    QPointer<SqlPreviewWindow> sqlPreview_;
    QPointer<DatatypeView> datatypeView_;
    std::unique_ptr<Statements> statements_;
    std::unique_ptr<Datatypes> datatypes_;
};

}  // namespace tp::preview
