// Message boxes shown with QMessageBox, the windows' view of tp::MessageBoxes.
#pragma once

#include "host/message_box.h"

namespace tp {

class QtMessageBoxes : public MessageBoxes {
public:
    // Style: buttons in the low nibble (0 OK, 4 Yes/No), icon 16/32/48/64.
    int show(const std::string& text, int style, const std::string& title) override;
};

// Installs the Qt message boxes, the Qt event pump and the desktop URL
// opener as the process-wide services.
void installQtServices();

}  // namespace tp
