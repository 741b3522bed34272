// The SQL preview window: the statement list of a preview, Execute
// SQL with progress and error capture, and the tools around it (line
// editor, find and replace, copy, jump to the failing line, mail, datatype
// view, skip, back).
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <string_view>

#include "convert/host.h"
#include "preview/statement_model.h"

class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace tp {
class Procedure;
class WindowPointer;
namespace db {
class Connection;
class PreparedStatement;
}
}  // namespace tp

namespace tp::preview {

class SqlPreviewWindow : public QDialog {
    Q_OBJECT
public:
    // `connection` gives the target connection (the main window's
    // access_conn) at the moment Execute SQL needs it; `showDatatypes` opens
    // the datatype view modally, owned by the given window.
    SqlPreviewWindow(std::function<db::Connection*()> connection, std::function<void(QWidget*)> showDatatypes);
    ~SqlPreviewWindow() override;

    // Loads the window (its opening steps) unless it is loaded already.
    void ensureLoaded();
    bool isLoaded() const { return loaded_; }

    // Shows the window modally, owned by `owner`, with the focus on the
    // statement list; returns when it closed. How it closed (Execute SQL
    // went through, Skip Table, an execution taken back) is told in outcome,
    // or when none is given in the window's own.
    void showModal(QWidget* owner, convert::PreviewFlags* outcome = nullptr);
    const convert::PreviewFlags& outcome() const { return *outcome_; }
    convert::PreviewFlags& ownOutcome() { return ownOutcome_; }
    // The table the next showing is about (its own line above the list);
    // empty: the statements of the whole run.
    void setTableName(const std::string& name);

    StatementModel& statements() { return model_; }
    // The line of the last captured failure (1-based), 0 before any.
    int errorLine() const { return errorLine_; }
    // The line last opened in the line editor (1-based), 0 before any; kept
    // after the editor closes.
    int editedLine() const { return editedLine_; }
    bool isExecuting() const { return executing_; }
    bool isBusy() const;
    std::string errorText() const;
    int progressValue() const;
    std::string progressText() const;

    // The handlers, by the buttons' captions.
    void load();                  // the window's opening steps
    void executeSql();            // Execute SQL
    void copySql();               // Copy SQL To Clipboard
    void findAndReplace();        // Find and Replace
    void copyErrorMessage();      // Copy Error Message To Clipboard
    void back();                  // < Back
    void jumpToErrorLine();       // Jump To Error Line
    void viewDatatypes();         // View Datatype Conversion
    void mailErrorMessage();      // Email Error Message
    void skipTable();             // Skip Table / Do Not Execute SQL
    void editSelectedLine();      // a click on a line: the line editor
    void checkAll(bool checked);  // Check All, Uncheck All, Ctrl+A

    // The support mail address for an error text, parts in their order.
    static std::string supportMailAddress(const std::string& errorText);
    // The same parts as the mail handler receives them: subject and body
    // percent-encoded, so that an error text holding "&", "#" or "%" (dates
    // in Access SQL are written #...#) reaches the mail whole.
    static std::string supportMailUrl(const std::string& errorText);

    QTableView* statementView = nullptr;
    QPushButton* executeButton = nullptr;
    QPushButton* copySqlButton = nullptr;
    QPushButton* findReplaceButton = nullptr;
    QPushButton* copyErrorButton = nullptr;
    QPushButton* backButton = nullptr;
    QPushButton* jumpToErrorButton = nullptr;
    QPushButton* datatypesButton = nullptr;
    QPushButton* mailErrorButton = nullptr;
    QPushButton* skipButton = nullptr;
    QPushButton* checkAllButton = nullptr;
    QPushButton* uncheckAllButton = nullptr;
    QLabel* tableLabel = nullptr;
    QGroupBox* errorGroup = nullptr;
    QPlainTextEdit* errorEdit = nullptr;
    QProgressBar* progressBar = nullptr;
    WindowPointer* pointer() const { return pointer_; }

public slots:
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    convert::PreviewFlags ownOutcome_;
    convert::PreviewFlags* outcome_ = &ownOutcome_;
    void buildControls();
    void buildLayout();
    void fitColumnToView();
    void unload();
    void resetProgress();
    void selectLine(int line);
    void captureFailure(int line, const std::string& description);
    // Commands that would disturb a running Execute SQL or Replace.
    bool refuseWhileBusy() const;
    // Back, Skip or the close box while Execute SQL runs: it stops after the
    // current line, undoes what it did, then the window closes that way.
    enum class Stop { None, Back, Skip };
    bool requestStop(Stop how);
    void undoExecution(db::Connection* target);
    // The parts of Execute SQL.
    struct ExecutionUnit;
    // Execute SQL's progress: the line in work, shown by
    // applyExecutionProgress() before the next pump of events.
    void showExecutionProgress(int line, int lines);
    void applyExecutionProgress();
    int progressLine_ = 0, progressLines_ = 0;
    bool executeLine(ExecutionUnit& unit, int line, std::string_view text,
                     db::PreparedStatement* prepared);  // false: failed, captured
    bool commitUnit(ExecutionUnit& unit);                                    // false: failed, captured
    void stopExecution(Procedure& p, ExecutionUnit& unit);                   // Back, Skip or the close box

    std::function<db::Connection*()> connection_;
    std::function<void(QWidget*)> showDatatypes_;
    StatementModel model_;
    WindowPointer* pointer_ = nullptr;
    int errorLine_ = 0;
    int editedLine_ = 0;
    bool loaded_ = false;
    bool executing_ = false;
    bool closing_ = false;
    bool checkToggled_ = false;
    Stop stop_ = Stop::None;
};

}  // namespace tp::preview
