// Shared pieces of the preview tests: the Qt application, a scripted target
// database provider and helpers to act inside modal windows.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/ado.h"

namespace tp::test {

// What the fake target ("Provider=PreviewFake") was asked to do. A
// statement containing "FAIL" is rejected with `failureText`. Transactions:
// a rollback takes back the statements executed since BeginTrans.
struct FakeTarget {
    std::vector<std::string> executed;
    size_t unitStart = 0;
    bool inUnit = false;
    int begun = 0, committed = 0, rolledBack = 0;
    std::string failureText = "Syntax error in INSERT INTO statement.";
    std::vector<std::string> tables;  // its tables schema
    // Called before each accepted statement is recorded.
    std::function<void(const std::string&)> onExecute;
    static FakeTarget& instance();
    void reset() { *this = FakeTarget{}; }
};

// Registers the fake provider; opens a connection on it.
std::unique_ptr<db::Connection> openFakeTarget();

// Runs `action` from the event loop once the modal window named
// `objectName` is up (and on top).
void whenModal(const char* objectName, std::function<void()> action);

}  // namespace tp::test
