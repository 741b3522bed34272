// The preview side of the main window's run host: the preview window's
// statement list, the datatype list and showing the preview. Until the
// preview windows are part of the program these are in-memory lists and the
// preview shows nothing (the run then sees a preview closed without
// executing).
#include "app/form1.h"

namespace tp::app {

struct Form1::PreviewLists {
    convert::VectorStatementList statements;
    convert::VectorDatatypeList datatypes;
};

static Form1::PreviewLists& lists(std::shared_ptr<Form1::PreviewLists>& p) {
    if (!p) p = std::make_shared<Form1::PreviewLists>();
    return *p;
}

convert::StatementList& Form1::previewList() { return lists(preview_).statements; }
convert::DatatypeList& Form1::datatypeList() { return lists(preview_).datatypes; }
void Form1::showPreview() {}

}  // namespace tp::app
