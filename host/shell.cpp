#include "host/shell.h"

namespace tp {

namespace {
std::function<bool(const std::string&)> g_opener;
}

void setUrlOpener(std::function<bool(const std::string&)> opener) { g_opener = std::move(opener); }

bool openUrl(const std::string& url) { return g_opener ? g_opener(url) : false; }

}  // namespace tp
