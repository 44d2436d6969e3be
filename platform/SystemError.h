#pragma once
// The operating system's errors, with the system's own text for them.
#include "core/Exception.h"

#include <string>

namespace stipplor {

// A failed system call: its message is the system's text for the error code.
class EOSError : public Exception {
public:
    EOSError(int code, std::string message) : Exception(std::move(message)), code_(code) {}
    const char* ClassName() const noexcept override { return "EOSError"; }
    int Code() const noexcept { return code_; }

private:
    int code_;
};

// The last error of the calling thread (errno).
int LastOSError() noexcept;

// The system's text for an error code ("No such file or directory").
std::string SysErrorMessage(int code);

// Raises EOSError for `code`, by default the last error.
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseOSError(int code);

} // namespace stipplor
