#include "host/app_title.h"

namespace tp {

namespace {
std::string& titleStore() {
    static std::string t = kProductTitle;
    return t;
}
}  // namespace

const std::string& appTitle() { return titleStore(); }
void setAppTitleText(std::string title) { titleStore() = std::move(title); }

std::string shortenTitle(std::string_view title) {
    std::string t(title);
    do {
        auto pos = t.rfind(' ');
        if (pos == std::string::npos) break;
        t.erase(pos);
    } while (t.size() > 40);
    return t;
}

void setShortAppTitle() { setAppTitleText(shortenTitle(kProductTitle)); }

}  // namespace tp
