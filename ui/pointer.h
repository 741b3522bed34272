// The mouse pointer of a window: the hand pointer loaded from "HAND-M.CUR",
// the busy hourglass of long operations, and the hover rule that switches
// between hand and default arrow without ever replacing the hourglass.
#pragma once

#include <QCursor>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <optional>
#include <set>
#include <string>

namespace tp {

// Loads a Windows cursor file (.cur, or .ico) with its hot spot. Throws
// std::runtime_error("Invalid picture") when the file cannot be read as one.
QCursor loadCursorFile(const std::string& path);

class WindowPointer : public QObject {
public:
    enum Value { Default = 0, Busy = 11, Custom = 99 };

    explicit WindowPointer(QWidget* window);

    // The window's custom image (the hand); none: the custom value shows
    // the default arrow.
    void setCustomImage(const QCursor& cursor) {
        custom_ = cursor;
        apply();
    }
    bool hasCustomImage() const { return custom_.has_value(); }

    int value() const { return value_; }
    void setValue(int v);

    // The hover rule: over a push button the custom image, over a passive
    // element the default arrow; never while busy.
    void overButton();
    void overPassive();

    // Elements whose mouse moves apply the rule.
    void watchButton(QWidget* w);
    void watchPassive(QWidget* w);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void apply();
    QPointer<QWidget> window_;
    std::optional<QCursor> custom_;
    int value_ = Default;
    std::set<QObject*> buttons_, passive_;
};

// Hand pointer loading as two numbered steps of a load sequence: the file
// test, then the load.
std::string handPointerPath();

// Window background and its option buttons, check boxes, frames and labels
// in the button-face colour; other controls keep theirs.
void applyWindowColors(QWidget* window);

// The application icon (drawn, not loaded).
QIcon appIcon();
// The application icon drawn at size x size pixels (also the installed icon).
QImage appIconImage(int size);

}  // namespace tp
