// Form4, the line editor: rewrites one line of the preview's statement list.
#pragma once

#include <QDialog>
#include <string>

class QPlainTextEdit;
class QPushButton;

namespace tp { class WindowPointer; }

namespace tp::preview {

class StatementModel;

class Form4 : public QDialog {
    Q_OBJECT
public:
    // The 1-based line being edited; set by the preview window before it
    // shows the editor, kept after the editor closes.
    static int ListLine;

    Form4(StatementModel& list, QWidget* owner);

    void Form_Load();
    void setLineText(const std::string& text);
    void PushButton2_Click();   // OK
    void PushButton1_Click();   // Cancel
    // The text as one line: each line break becomes a blank.
    static QString oneLine(QString text);

    QPlainTextEdit* Text1 = nullptr;
    QPushButton* PushButton1 = nullptr;
    QPushButton* PushButton2 = nullptr;
    WindowPointer* pointer() const { return pointer_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    StatementModel& list_;
    WindowPointer* pointer_ = nullptr;
};

}  // namespace tp::preview
