#pragma once
// The common base of every error the system raises. Its message is part of the interface:
// dialogs show it to the user as it stands.
#include <exception>
#include <string>
#include <utility>

namespace stipplor {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }
    virtual const char* ClassName() const noexcept { return "Exception"; }

private:
    std::string message_;
};

// The silent abort: a cancellation that unwinds everything and is reported nowhere.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
    const char* ClassName() const noexcept override { return "EAbort"; }
};

} // namespace stipplor
