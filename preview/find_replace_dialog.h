// The Find and Replace dialog: replaces the first occurrence of a text, found
// without regard to case, in every line of the preview's statement list.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tp {
class WindowPointer;
}

namespace tp::preview {

class StatementModel;

class FindReplaceDialog : public QDialog {
    Q_OBJECT
public:
    FindReplaceDialog(StatementModel& list, QWidget* owner);

    void load();
    void replaceAll();  // Replace
    void cancel();      // Cancel
    bool isReplacing() const { return replacing_; }

    // One line's new text: the first occurrence of `find` (any case)
    // replaced by `replacement` as typed; the line itself when none.
    static QString replaceFirst(const QString& line, const QString& find, const QString& replacement);

    QLabel* findLabel = nullptr;
    QLabel* replaceLabel = nullptr;
    QLineEdit* findEdit = nullptr;
    QLineEdit* replaceEdit = nullptr;
    QPushButton* cancelButton = nullptr;
    QPushButton* replaceButton = nullptr;
    WindowPointer* pointer() const { return pointer_; }

public slots:
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    StatementModel& list_;
    WindowPointer* pointer_ = nullptr;
    bool replacing_ = false;
    bool closing_ = false;
};

}  // namespace tp::preview
