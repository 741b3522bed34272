// Form1, the main window: source and target selection, preview options,
// Start Converting and its progress bar. Every choice is written to the
// settings store the moment it changes and restored by Form_Load.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "convert/host.h"
#include "convert/selection.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace tp {
class WindowPointer;
}

namespace tp::app {

class QtListBox;
class RunStarter;

class Form1 : public QWidget, public tp::Selection, public tp::convert::RunHost {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // The start-up sequence. Returns false when the program must end (no
    // data-access layer).
    bool Form_Load();

    // Handlers of the buttons.
    void PushButton1_Click();   // "..." beside Text2: folder picker
    void PushButton2_Click();   // sample source
    void PushButton3_Click();   // "..." beside Text5: file dialog
    void PushButton4_Click();   // sample target
    void PushButton5_Click();   // Help
    void PushButton7_Click();   // Start Converting
    void PushButton8_Click();   // Test Connection
    void PushButton12_Click();  // Advanced Options (dbc)

    // Change and click rules.
    void Check1_Click();
    void Option_Click();
    void Text2_Change();
    void Text5_Change();
    void Text6_Change();

    // Shows which source a run reads (the DBC chosen in Advanced Options or
    // the folder of free tables) in the line beside the source group's
    // caption; called wherever the source kind or the DBC path changes.
    void showSourceKind();
    std::string sourceKindText() const;

    // Public state.
    bool OptionDBC1 = false;
    std::string DBCPath1;

    // tp::Selection
    bool optionDBC1() const override { return OptionDBC1; }
    std::string dbcPath1() const override { return DBCPath1; }
    std::string folderText() const override;
    std::string targetPath() const override;
    std::string targetPassword() const override;

    // tp::convert::RunHost
    int check1() const;   // 0, 1 (checked) or 2 (grayed)
    bool previewMode() const override { return check1() == 1; }
    bool previewOnceAtEnd() const override;
    bool previewPerTable() const override;
    ListBox& targetTables() override;
    ListBox& sourceTables() override;
    void setProgressValue(double percent) override;
    void setProgressText(const std::string& text) override;
    void setBusyPointer(bool busy) override;
    convert::StatementList& previewList() override;
    convert::DatatypeList& datatypeList() override;
    void showPreview() override;
    std::unique_ptr<db::Connection>& accessConnection() override { return accessConn_; }

    tp::WindowPointer& pointer() { return *pointer_; }
    struct PreviewLists;  // form1_runhost.cpp

    // What ends the program: a failure in an untrapped rule, a missing
    // data-access layer, closing the window. Tests replace it.
    std::function<void(int exitCode)> endProgram;
    bool ended() const { return ended_; }
    int exitCode() const { return exitCode_; }

    // Runs a change or click rule: these have no trap of their own, so a
    // failure shows a plain message and ends the program.
    void untrapped(const std::function<void()>& rule);

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void build();
    void end(int code);

    QPushButton *PushButton5, *PushButton1, *PushButton2, *PushButton8, *PushButton12,
        *PushButton3, *PushButton4, *PushButton7;
    QGroupBox *Frame1, *Frame2, *Frame3;
    QLabel *Label1, *Label5, *lblPassword, *lblSourceKind;
    QLineEdit *Text2, *Text5, *Text6;
    QCheckBox* Check1;
    QRadioButton *Option1, *Option2;
    QButtonGroup* optionGroup_;
    QProgressBar* ProgressBar1;
    QListWidget *List1, *List2;
    std::unique_ptr<QtListBox> list1_, list2_;
    tp::WindowPointer* pointer_;
    std::unique_ptr<db::Connection> accessConn_;
    std::shared_ptr<PreviewLists> preview_;  // form1_runhost.cpp
    std::unique_ptr<RunStarter> runStarter_;
    bool converting_ = false;
    bool ended_ = false;
    int exitCode_ = 0;
};

// The maker's contact page, named in the help text.
inline constexpr const char* kContactPage = "https://tallyport.app/contact/";
// The help message (three paragraphs).
std::string helpText();
// The file dialog's filter for the target file, in the classic form.
extern const char* const kAccessFileFilter;

// The size of a length in twips on this screen (15 twips per pixel at 96 dpi).
int twips(int tw);

// The windows' bold Arial-like caption font.
QFont captionFont(double points);
// A push button of the windows: object name, caption in the 11.25-point
// caption font, the caption as accessible name and `what` as its
// description; never the default button.
QPushButton* captionButton(QWidget* parent, const char* name, const char* caption, const char* what);
// Places a control by its position and size in twips.
void place(QWidget* w, int left, int top, int width, int height);
// Shrinks a label's font a little when its caption would not fit.
void fitCaption(QLabel* label);

// Selects a line edit's whole text when it receives focus.
void selectAllOnFocus(QLineEdit* edit);

}  // namespace tp::app
