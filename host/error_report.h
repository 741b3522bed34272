// The procedure error report: every reporting procedure names its location
// once, numbers its steps, and on a failing step shows the "Application Error"
// box and goes on with the next step.
//
//   Procedure p("Form1", "Form_Load");
//   p(100, [&] { ... });
//   if (p.test(104, [&] { return fileExists(cursor); }))   // a failing test
//       p(106, [&] { loadCursor(cursor); });               // runs the branch
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "host/message_box.h"

namespace tp {

// The fixed stamp every report's location starts with. Users and support
// quote reports by it, so it never changes.
inline constexpr const char* kLocationPrefix = "Larkspan2021/08/31.";

// Description, CR LF, "in " location " at line " n, CR CR, support line.
std::string errorReportText(std::string_view description, std::string_view location, int line);

// The description of the exception in flight (for use inside catch blocks).
std::string currentErrorDescription();

class Procedure {
public:
    Procedure(std::string_view windowOrModule, std::string_view procedure);
    Procedure(std::string_view windowOrModule, std::string_view procedure, MessageBoxes& boxes);

    const std::string& location() const { return location_; }

    // Runs one numbered step. Returns true when it completed.
    template <class F>
    bool operator()(int line, F&& step) {
        try {
            step();
            return true;
        } catch (...) {
            report(line, currentErrorDescription());
            return false;
        }
    }

    // A numbered condition test: a failing test counts as true, so that the
    // guarded branch runs after the box.
    template <class F>
    bool test(int line, F&& cond) {
        try {
            return static_cast<bool>(cond());
        } catch (...) {
            report(line, currentErrorDescription());
            return true;
        }
    }

    // A numbered step that yields a value; `fallback` on failure.
    template <class T, class F>
    T value(int line, F&& step, T fallback) {
        try {
            return step();
        } catch (...) {
            report(line, currentErrorDescription());
            return fallback;
        }
    }

    // Shows the box for a failure at `line` (or counts it, see below).
    // `subject` says what failed, for hosts that tell it in their own words.
    void report(int line, const std::string& description, const std::string& subject = {});

    // When set, a failure with the same line and description as an earlier
    // one of this procedure is counted but not shown again.
    void setReportRepeatsOnce(bool once) { once_ = once; }
    int failures() const { return failures_; }
    int lastFailedLine() const { return lastLine_; }

private:
    std::string location_;
    MessageBoxes* boxes_;
    bool once_ = false;
    int failures_ = 0;
    int lastLine_ = 0;
    struct Seen;
    std::shared_ptr<Seen> seen_;
};

}  // namespace tp
