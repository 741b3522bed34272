#include "preview/windows.h"

#include "preview/sql_preview_window.h"
#include "preview/datatype_view.h"

namespace tp::preview {

class PreviewWindows::Statements : public convert::StatementList {
public:
    explicit Statements(PreviewWindows& w) : w_(w) {}
    StatementModel& model() {
        SqlPreviewWindow& f = w_.sqlPreview();
        f.ensureLoaded();
        return f.statements();
    }
    void clear() override { model().clear(); }
    void append(const std::string& statement) override { model().append(statement); }
    int count() const override { return const_cast<Statements*>(this)->model().count(); }
    std::string line(int index) const override { return const_cast<Statements*>(this)->model().line(index); }

private:
    PreviewWindows& w_;
};

class PreviewWindows::Datatypes : public convert::DatatypeList {
public:
    explicit Datatypes(PreviewWindows& w) : w_(w) {}
    void clear() override { w_.datatypeView().clearRows(); }
    void addRow(const std::string& table) override { w_.datatypeView().addRow(table); }
    void setLastField(const std::string& field) override { w_.datatypeView().setLastField(field); }
    void setLastTypes(const std::string& keyword, const std::string& accessType) override {
        w_.datatypeView().setLastTypes(keyword, accessType);
    }
    void setLastNote(const std::string& note) override { w_.datatypeView().setLastNote(note); }
    int count() const override {
        DatatypeView& f = w_.datatypeView();
        f.ensureLoaded();
        return f.rowCount();
    }
    convert::DatatypeRow row(int index) const override {
        DatatypeView& f = w_.datatypeView();
        f.ensureLoaded();
        return f.row(index);
    }

private:
    PreviewWindows& w_;
};

PreviewWindows::PreviewWindows(std::function<db::Connection*()> connection)
    : connection_(std::move(connection)),
      statements_(std::make_unique<Statements>(*this)),
      datatypes_(std::make_unique<Datatypes>(*this)) {}

PreviewWindows::~PreviewWindows() {
    delete datatypeView_.data();
    delete sqlPreview_.data();
}

SqlPreviewWindow& PreviewWindows::sqlPreview() {
    if (!sqlPreview_)
        sqlPreview_ = new SqlPreviewWindow(connection_, [this](QWidget* owner) { datatypeView().showModal(owner); });
    return *sqlPreview_;
}

DatatypeView& PreviewWindows::datatypeView() {
    if (!datatypeView_) datatypeView_ = new DatatypeView(nullptr);
    return *datatypeView_;
}

convert::StatementList& PreviewWindows::statementList() { return *statements_; }
convert::DatatypeList& PreviewWindows::datatypeList() { return *datatypes_; }

void PreviewWindows::showPreviewModal(QWidget* owner, convert::PreviewFlags* outcome) {
    sqlPreview().showModal(owner, outcome);
}

void PreviewWindows::setTableName(const std::string& name) { sqlPreview().setTableName(name); }

}  // namespace tp::preview
