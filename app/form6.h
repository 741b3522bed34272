// Form6, the Advanced Options window: a FoxPro database container (.dbc) as
// the source. OK with a path selects it; Cancel selects the folder of free
// tables again; the close box changes nothing.
#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tp {
class WindowPointer;
}

namespace tp::app {

class Form1;

class Form6 : public QDialog {
    Q_OBJECT
public:
    Form6(Form1& main, QWidget* owner);

    void Form_Load();
    void Text1_Change();
    void PushButton5_Click();   // "...": the file dialog
    void PushButton1_Click();   // OK
    void PushButton2_Click();   // Cancel

    tp::WindowPointer& pointer() { return *pointer_; }

private:
    Form1& main_;
    QGroupBox* Frame2;
    QLabel* Label1;
    QLineEdit* Text1;
    QPushButton *PushButton5, *PushButton1, *PushButton2;
    tp::WindowPointer* pointer_;
};

inline constexpr const char* kDbcFileFilter = "Microsoft Database (*.dbc)|*.dbc|";

}  // namespace tp::app
