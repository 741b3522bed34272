// Opening addresses (web pages, mailto:) through the desktop. The windows
// install Qt's handler; elsewhere the address is only recorded.
#pragma once

#include <functional>
#include <string>

namespace tp {

void setUrlOpener(std::function<bool(const std::string&)> opener);
bool openUrl(const std::string& url);

}  // namespace tp
