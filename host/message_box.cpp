#include "host/message_box.h"

#include <iostream>

#include "host/app_title.h"

namespace tp {

namespace {
MessageBoxes* g_boxes = nullptr;
}

StreamMessageBoxes::StreamMessageBoxes(int answer) : answer_(answer) {}

std::string withPlainLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') continue;
            out += '\n';
        } else {
            out += text[i];
        }
    }
    return out;
}

int StreamMessageBoxes::show(const std::string& text, int style, const std::string& title) {
    std::cerr << (title.empty() ? appTitle() : title) << ": " << withPlainLineEnds(text) << std::endl;
    const bool question = (style & 0xF) == mb::YesNo;
    return question ? answer_ : mb::Ok;
}

MessageBoxes& messageBoxes() {
    static StreamMessageBoxes fallback;
    return g_boxes ? *g_boxes : fallback;
}

void setMessageBoxes(MessageBoxes* boxes) { g_boxes = boxes; }

int msgBox(const std::string& text, int style, const std::string& title) {
    return messageBoxes().show(text, style, title);
}

}  // namespace tp
