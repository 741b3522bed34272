// The main window: source and target selection, preview options, Start
// Converting and its progress bar. Every choice is written to the settings
// store the moment it changes and restored by load().
#pragma once

#include <QWidget>
#include <functional>
#include <chrono>
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
struct DbcChoice;

class MainWindow : public QWidget, public tp::convert::RunHost {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The start-up sequence. Returns false when the program must end (no
    // data-access layer).
    bool load();

    // Handlers of the buttons.
    void browseFolder();     // "..." beside the folder: folder picker
    void useSampleSource();  // Load Sample/Example Database (source)
    void browseTarget();     // "..." beside the target file: file dialog
    void useSampleTarget();  // Load Sample/Example Database (target)
    void showHelp();         // Help
    void startConversion();  // Start Converting
    void testConnection();   // Test Connection
    void showDbcOptions();   // dbc: the Advanced Options dialog
    // Takes what OK or Cancel of the Advanced Options dialog chose.
    void applyDbcChoice(const DbcChoice& choice);

    // Change and click rules: each stores the new value.
    void previewToggled();       // the SQL Preview check box
    void previewOptionChosen();  // once per file or per table
    void folderChanged();        // also selects the folder as the source
    void targetChanged();
    void passwordChanged();

    // Shows which source a run reads (the DBC chosen in Advanced Options or
    // the folder of free tables) in the line beside the source group's
    // caption; called wherever the source kind or the DBC path changes.
    void showSourceKind();
    std::string sourceKindText() const;

    // The source kind (a .dbc or the folder of free tables) and the .dbc
    // chosen in Advanced Options.
    bool useDbcSource = false;
    std::string dbcPath;
    // The stored DBC kind gave way to a stored folder at start-up.
    bool dbcSetAside = false;

    // The fields, and the selection a run or a connection test takes from
    // them when it starts.
    std::string sourceFolder() const;
    std::string targetPath() const;
    std::string targetPassword() const;
    db::CodePageChoice sourceCodePage() const;  // from the settings (Advanced Options)
    SourceChoice sourceChoice() const;
    RunSelection runSelection() const;

    // tp::convert::RunHost
    int previewState() const;  // 0, 1 (checked) or 2 (grayed)
    bool previewMode() const override { return previewState() == 1; }
    bool previewOnceAtEnd() const override;
    bool previewPerTable() const override;
    bool createKeys() const override;  // from the settings (Advanced Options)
    // The hidden lists List1 and List2, filled from the run's lists.
    void showTables(const std::vector<std::string>& target, const std::vector<std::string>& source) override;
    ListBox& targetTables();
    ListBox& sourceTables();
    void setProgressValue(double percent) override;
    void setProgressText(const std::string& text) override;
    void setBusyPointer(bool busy) override;
    bool stopRequested() override { return stopRequested_; }
    void tableProgress(const std::string& table, int number, int count) override;
    void rowsProgress(const std::string& table, int64_t rowsDone, int64_t rowsTotal) override;
    convert::StatementList& previewList() override;
    convert::DatatypeList& datatypeList() override;
    void showPreview(convert::PreviewFlags& outcome) override;
    void previewTable(const std::string& name) override;
    void focusField(convert::InputField field) override;
    std::unique_ptr<db::Connection>& accessConnection() override { return accessConn_; }

    tp::WindowPointer& pointer() { return *pointer_; }
    struct PreviewLists;  // main_window_run_host.cpp

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
    // While a run goes: the inputs locked, Start Converting offering to stop
    // it; after it, all as before.
    void showRunning(bool running);
    // Start Converting during a run: the run stops after the statement in work.
    void requestStop();

    QPushButton *helpButton_, *browseFolderButton_, *sampleSourceButton_, *testConnectionButton_, *dbcOptionsButton_,
        *browseTargetButton_, *sampleTargetButton_, *startButton_;
    QGroupBox *sourceGroup_, *previewGroup_, *targetGroup_;
    QLabel *folderLabel_, *targetLabel_, *passwordLabel_, *sourceKindLabel_;
    QLineEdit *folderEdit_, *targetEdit_, *passwordEdit_;
    QCheckBox* previewCheck_;
    QRadioButton *previewAtEndOption_, *previewPerTableOption_;
    QButtonGroup* previewOptionGroup_;
    QProgressBar* progressBar_;
    QListWidget *targetTableList_, *sourceTableList_;
    std::unique_ptr<QtListBox> targetTables_, sourceTables_;
    tp::WindowPointer* pointer_;
    std::unique_ptr<db::Connection> accessConn_;
    std::shared_ptr<PreviewLists> previewWindows_;  // main_window_run_host.cpp
    std::unique_ptr<RunStarter> runStarter_;
    bool converting_ = false;
    bool stopRequested_ = false;
    bool closeAfterRun_ = false;
    QWidget* focusAfterRun_ =
        nullptr;  // the field the run asked the user to fix  // the window was closed during the run and the user chose to stop it
    // The progress caption's parts: the table's text and when its rows began.
    std::string tableText_;
    std::chrono::steady_clock::time_point rowsStart_{}, lastRowsText_{};
    bool ended_ = false;
    int exitCode_ = 0;
};

// The maker's contact page, named in the help text.
inline constexpr const char* kContactPage = "https://tallyport.app/contact/";
// The help message: the steps of a conversion, what is carried, the limits,
// and the maker's contact page.
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
