// The one exception type of the data layer: every failure carries Access's
// own error number and wording.
#pragma once

#include <stdexcept>
#include <string>

namespace tp::db {

// A failed data-access call: a number and a description, as the callers of
// the data layer read them.
class Error : public std::runtime_error {
public:
    Error(long number, const std::string& description) : std::runtime_error(description), number_(number) {}
    explicit Error(const std::string& description) : Error(kGeneric, description) {}

    long number() const { return number_; }
    const char* description() const { return what(); }

    static constexpr long kGeneric = -2147467259;  // E_FAIL, as a signed 32-bit number
    static constexpr long kProviderNotFound = 3706;
    static constexpr long kCannotCreateObject = 429;
    static constexpr long kObjectClosed = 3704;
    static constexpr long kEofOrBof = 3021;
    static constexpr long kItemNotFound = 3265;

private:
    long number_;
};

}  // namespace tp::db
