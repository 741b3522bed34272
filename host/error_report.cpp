#include "host/error_report.h"

#include <set>
#include <utility>

#include "host/app_title.h"

namespace tp {

struct Procedure::Seen {
    std::set<std::pair<int, std::string>> failures;
};

std::string errorReportText(std::string_view description, std::string_view location, int line) {
    std::string s;
    s.reserve(description.size() + location.size() + 96);
    s += description;
    s += "\r\n";
    s += "in ";
    s += location;
    s += " ";
    s += "at line ";
    s += std::to_string(line);
    s += "\r\r";
    s += "Please email screenshot of this message to ";
    s += kSupportEmail;
    return s;
}

std::string currentErrorDescription() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

Procedure::Procedure(std::string_view windowOrModule, std::string_view procedure)
    : Procedure(windowOrModule, procedure, messageBoxes()) {}

Procedure::Procedure(std::string_view windowOrModule, std::string_view procedure, MessageBoxes& boxes)
    : location_(std::string(kLocationPrefix) + std::string(windowOrModule) + "." + std::string(procedure)),
      boxes_(&boxes) {}

void Procedure::report(int line, const std::string& description, const std::string& subject) {
    ++failures_;
    lastLine_ = line;
    if (once_) {
        if (!seen_) seen_ = std::make_shared<Seen>();
        if (!seen_->failures.emplace(line, description).second) return;
    }
    if (boxes_->tellFailure(subject, description)) return;
    boxes_->show(errorReportText(description, location_, line), mb::Exclamation, "Application Error");
}

}  // namespace tp
