// The preview side of the main window's run host: the preview window's
// statement list, the datatype list and showing the preview. The preview
// windows are created on first use and execute on access_conn.
#include "app/form1.h"
#include "preview/windows.h"

namespace tp::app {

struct Form1::PreviewLists {
    explicit PreviewLists(Form1& f) : windows([&f] { return f.accessConn_.get(); }) {}
    preview::PreviewWindows windows;
};

static Form1::PreviewLists& lists(Form1& f, std::shared_ptr<Form1::PreviewLists>& p) {
    if (!p) p = std::make_shared<Form1::PreviewLists>(f);
    return *p;
}

convert::StatementList& Form1::previewList() { return lists(*this, preview_).windows.statementList(); }
convert::DatatypeList& Form1::datatypeList() { return lists(*this, preview_).windows.datatypeList(); }
void Form1::showPreview() { lists(*this, preview_).windows.showPreviewModal(this); }

}  // namespace tp::app
