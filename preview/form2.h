// Form2, the SQL preview window: the statement list of a preview, Execute
// SQL with progress and error capture, and the tools around it (line
// editor, find and replace, copy, jump to the failing line, mail, datatype
// view, skip, back).
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "preview/statement_model.h"

class QGroupBox;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace tp {
class WindowPointer;
namespace db { class Connection; }
}  // namespace tp

namespace tp::preview {

class Form2 : public QDialog {
    Q_OBJECT
public:
    // `connection` gives the target connection (the main window's
    // access_conn) at the moment Execute SQL needs it; `showDatatypes` opens
    // the datatype view modally, owned by the given window.
    Form2(std::function<db::Connection*()> connection,
          std::function<void(QWidget*)> showDatatypes);
    ~Form2() override;

    // Loads the window (its opening steps) unless it is loaded already.
    void ensureLoaded();
    bool isLoaded() const { return loaded_; }

    // Shows the window modally, owned by `owner`; returns when it closed.
    void showModal(QWidget* owner);

    StatementModel& statements() { return model_; }
    // The line of the last captured failure (1-based), 0 before any.
    int ErrorLine() const { return errorLine_; }
    bool isExecuting() const { return executing_; }
    bool isBusy() const;
    std::string errorText() const;
    int progressValue() const;
    std::string progressText() const;

    // The handlers.
    void Form_Load();
    void PushButton1_Click();   // Execute SQL
    void PushButton2_Click();   // Copy SQL To Clipboard
    void PushButton3_Click();   // Find and Replace
    void PushButton4_Click();   // Copy Error Message To Clipboard
    void PushButton5_Click();   // < Back
    void PushButton6_Click();   // Jump To Error Line
    void PushButton7_Click();   // View Datatype Conversion
    void PushButton8_Click();   // Email Error Message
    void PushButton9_Click();   // Skip Table / Do Not Execute SQL
    void ListView1_Click();

    // The support mail address for an error text, parts in their order.
    static std::string supportMailAddress(const std::string& errorText);
    // The same parts as the mail handler receives them: subject and body
    // percent-encoded, so that an error text holding "&", "#" or "%" (dates
    // in Access SQL are written #...#) reaches the mail whole.
    static std::string supportMailUrl(const std::string& errorText);

    QTableView* ListView1 = nullptr;
    QPushButton* PushButton1 = nullptr;
    QPushButton* PushButton2 = nullptr;
    QPushButton* PushButton3 = nullptr;
    QPushButton* PushButton4 = nullptr;
    QPushButton* PushButton5 = nullptr;
    QPushButton* PushButton6 = nullptr;
    QPushButton* PushButton7 = nullptr;
    QPushButton* PushButton8 = nullptr;
    QPushButton* PushButton9 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QPlainTextEdit* Text1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    WindowPointer* pointer() const { return pointer_; }

public slots:
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
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

    std::function<db::Connection*()> connection_;
    std::function<void(QWidget*)> showDatatypes_;
    StatementModel model_;
    WindowPointer* pointer_ = nullptr;
    int errorLine_ = 0;
    bool loaded_ = false;
    bool executing_ = false;
    bool closing_ = false;
    bool checkToggled_ = false;
    Stop stop_ = Stop::None;
};

}  // namespace tp::preview
