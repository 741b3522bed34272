// The Advanced Options dialog: a FoxPro database container (.dbc) as the
// source. OK with a path selects it; Cancel selects the folder of free
// tables again; the close box changes nothing. The choice is returned
// (choice()); the main window takes it when the window closes. Below, the code page of
// tables that name none and whether the run creates keys, indexes and
// relations, kept at once whatever closes the window.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tp {
class WindowPointer;
}

namespace tp::app {

class MainWindow;

// What the window's buttons chose, for the main window to take when it
// closes: nothing after the close box.
struct DbcChoice {
    bool answered = false;       // OK or Cancel was clicked
    std::optional<bool> useDbc;  // the source kind: a .dbc (OK with a path) or the folder (Cancel)
    std::string dbcPath;         // with OK: the .dbc chosen
};

class DbcOptionsDialog : public QDialog {
    Q_OBJECT
public:
    DbcOptionsDialog(MainWindow& main, QWidget* owner);

    void load();
    void dbcPathChanged();  // kept in the settings at once
    void browse();          // "...": the file dialog
    void useDbc();          // OK
    void useFolder();       // Cancel
    // The code page of tables that name none, and whether it holds for
    // every table: kept in the settings at once.
    void codePageChanged();
    // "Create keys, indexes and relations": kept in the settings at once.
    void createKeysChanged();
    void accessTypesChanged();

    // The choice of OK or Cancel (see DbcChoice).
    const DbcChoice& choice() const { return choice_; }

    tp::WindowPointer& pointer() { return *pointer_; }

private:
    MainWindow& main_;
    QGroupBox* previewOptionGroup_;
    QLabel* dbcLabel_;
    QLineEdit* dbcPathEdit_;
    QPushButton *browseButton_, *okButton_, *cancelButton_;
    QGroupBox* textGroup_;
    QLabel* codePageLabel_;
    QComboBox* codePageList_;
    QCheckBox* forceCodePageCheck_;
    QCheckBox* createKeysCheck_;
    QCheckBox* accessTypesCheck_;
    bool restoring_ = false;
    DbcChoice choice_;
    tp::WindowPointer* pointer_;
};

inline constexpr const char* kDbcFileFilter = "Microsoft Database (*.dbc)|*.dbc|";

}  // namespace tp::app
