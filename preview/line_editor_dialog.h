// The line editor: rewrites one line of the preview's statement list.
#pragma once

#include <QDialog>
#include <string>

class QPlainTextEdit;
class QPushButton;

namespace tp {
class WindowPointer;
}

namespace tp::preview {

class StatementModel;

class LineEditorDialog : public QDialog {
    Q_OBJECT
public:
    // Edits the 1-based `line` of `list`; OK writes the text back there.
    LineEditorDialog(StatementModel& list, int line, QWidget* owner);

    int line() const { return line_; }

    void load();
    void setLineText(const std::string& text);
    void saveLine();  // OK
    void cancel();    // Cancel
    // The text as one line: each line break becomes a blank.
    static QString oneLine(QString text);

    QPlainTextEdit* textEdit = nullptr;
    QPushButton* cancelButton = nullptr;
    QPushButton* okButton = nullptr;
    WindowPointer* pointer() const { return pointer_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    StatementModel& list_;
    int line_;
    WindowPointer* pointer_ = nullptr;
};

}  // namespace tp::preview
