// The datatype conversion view: one row per source field with the
// type rule it matched and the Access column type it was given. The run
// fills the list while the window is hidden; the preview window shows it.
#pragma once

#include <QDialog>
#include <string>

#include "convert/host.h"

class QPushButton;
class QTreeWidget;

namespace tp {
class WindowPointer;
}

namespace tp::preview {

class DatatypeView : public QDialog {
    Q_OBJECT
public:
    explicit DatatypeView(QWidget* parent = nullptr);

    void ensureLoaded();
    bool isLoaded() const { return loaded_; }
    void load();
    void back();  // < Back
    // Shows the view modally, owned by `owner`; returns when it closed.
    void showModal(QWidget* owner);

    // The list operations of the run.
    void clearRows();
    void addRow(const std::string& table);
    void setLastField(const std::string& field);
    void setLastTypes(const std::string& keyword, const std::string& accessType);
    void setLastNote(const std::string& note);
    int rowCount() const;
    convert::DatatypeRow row(int index) const;

    QPushButton* backButton = nullptr;
    QTreeWidget* list = nullptr;
    WindowPointer* pointer() const { return pointer_; }

public slots:
    void done(int result) override;

private:
    void unload();
    WindowPointer* pointer_ = nullptr;
    bool loaded_ = false;
};

}  // namespace tp::preview
