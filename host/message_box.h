// Message boxes as a service: the windows show them with Qt, the command line
// writes them to stderr, tests record them and answer from a script.
#pragma once

#include <string>

namespace tp {

// Style numbers and answers follow the classic message-box convention, so
// that callers and tests can speak of "style 48" or "answer 6".
namespace mb {
inline constexpr int OkOnly = 0;
inline constexpr int YesNo = 4;
inline constexpr int Critical = 16;
inline constexpr int Question = 32;
inline constexpr int Exclamation = 48;
inline constexpr int Information = 64;
// Added to YesNo: the question also offers "Yes to All" and "No to All"
// (hosts that cannot show them answer Yes or No).
inline constexpr int ToAll = 0x10000;
inline constexpr int Ok = 1;
inline constexpr int Yes = 6;
inline constexpr int No = 7;
inline constexpr int YesToAll = 16;
inline constexpr int NoToAll = 17;
}  // namespace mb

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows text with the given style; an empty title means the application
    // title. Returns the answer (mb::Ok, mb::Yes, mb::No).
    virtual int show(const std::string& text, int style, const std::string& title) = 0;
    // A failed step of a reporting procedure: what failed ("table orders:
    // CREATE INDEX", empty when the procedure does not say) and the failure's
    // description. A host that tells failures in its own words (the command
    // line: one line each) does so and returns true; otherwise the
    // procedure shows its "Application Error" box.
    virtual bool tellFailure(const std::string& subject, const std::string& description) {
        (void)subject, (void)description;
        return false;
    }
};

// The process-wide service. Until one is installed, boxes go to stderr and
// questions are answered No.
MessageBoxes& messageBoxes();
void setMessageBoxes(MessageBoxes* boxes);

// Box texts use CR LF and lone CR as line ends; terminals and labels want LF.
std::string withPlainLineEnds(const std::string& text);

// Shorthand: a plain box with the application title.
int msgBox(const std::string& text, int style = mb::OkOnly, const std::string& title = {});

// Writes boxes to a stream (the command line's view of them).
class StreamMessageBoxes : public MessageBoxes {
public:
    explicit StreamMessageBoxes(int defaultAnswerForQuestions = mb::No);
    int show(const std::string& text, int style, const std::string& title) override;
    void setDefaultAnswer(int answer) { answer_ = answer; }

private:
    int answer_;
};

}  // namespace tp
