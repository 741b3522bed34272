// How every window meets the keyboard and a hurried double click.
#pragma once

class QWidget;

namespace tp {

// Enter (and the keypad's Enter) presses the focused push button of the
// window, as on the desktops our users come from; Escape keeps its meaning.
// Covers the push buttons the window holds when it is called.
void pressFocusedButtonOnEnter(QWidget* window);

// A window that opens in the place of another ignores the clicks and key
// presses the user makes within the double-click interval of its opening:
// the second click of a double click meant for the window before.
void ignoreInputJustAfterOpening(QWidget* window);

}  // namespace tp
