// The windows' message boxes: title, icon and buttons from the style number,
// the application title when the caller gives none, the answer returned.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "tests/gui/gui_support.h"
#include "host/app_title.h"
#include "ui/message_boxes.h"

namespace {

struct Seen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QMessageBox::StandardButton> buttons;
};

// Shows a box, looks at it once it is up, and presses `press`.
int showAndPress(const std::string& text, int style, const std::string& title, QMessageBox::StandardButton press,
                 Seen& seen) {
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton* b : box->buttons()) seen.buttons << box->standardButton(b);
        box->button(press)->click();
    });
    tp::QtMessageBoxes boxes;
    return boxes.show(text, style, title);
}

TEST(QtMessageBoxes, ApplicationErrorBoxIsAWarningWithOk) {
    Seen seen;
    const int r =
        showAndPress("Bad thing\r\nin X at line 100\r\rPlease email", 48, "Application Error", QMessageBox::Ok, seen);
    EXPECT_EQ(r, tp::mb::Ok);
    EXPECT_EQ(seen.title, "Application Error");
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
    EXPECT_EQ(seen.text, "Bad thing\nin X at line 100\n\nPlease email");
}

TEST(QtMessageBoxes, QuestionsAnswerYesOrNoUnderTheApplicationTitle) {
    tp::setShortAppTitle();
    Seen seen;
    EXPECT_EQ(showAndPress("Replace?", tp::mb::YesNo | tp::mb::Question, "", QMessageBox::No, seen), tp::mb::No);
    EXPECT_EQ(seen.title, QString::fromStdString(tp::appTitle()));
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons.size(), 2);
    EXPECT_EQ(showAndPress("Replace?", tp::mb::YesNo, "T", QMessageBox::Yes, seen), tp::mb::Yes);
}

TEST(QtMessageBoxes, IconsFollowTheStyle) {
    Seen seen;
    showAndPress("x", tp::mb::Critical, "t", QMessageBox::Ok, seen);
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    showAndPress("x", tp::mb::Information, "t", QMessageBox::Ok, seen);
    EXPECT_EQ(seen.icon, QMessageBox::Information);
    showAndPress("<b>not markup</b>", 0, "t", QMessageBox::Ok, seen);
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.text, "<b>not markup</b>");
}

}  // namespace
