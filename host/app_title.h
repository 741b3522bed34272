// The product's name and support address, and the title message boxes
// show when they have none of their own.
#pragma once

#include <string>
#include <string_view>

namespace tp {

inline constexpr const char* kProductTitle = "Tallyport";
// The maker's support address, shown in the error box and the mail link.
inline constexpr const char* kSupportEmail = "support@tallyport.app";

// The application title used by message boxes without a title of their own.
const std::string& appTitle();
void setAppTitleText(std::string title);

// Cuts the product title before its last blank, again while it is longer
// than 40 characters, and makes the result the application title.
std::string shortenTitle(std::string_view title);
void setShortAppTitle();

}  // namespace tp
