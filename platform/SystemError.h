#pragma once
// The operating system's errors, with the system's own text for them.
#include "core/Exception.h"

#include <cstdint>
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

// The last error of the calling thread (errno on POSIX, GetLastError on Windows).
int LastOSError() noexcept;

// Failures that code above the platform detects itself and reports as the system would: each
// stands for the system's own code for it, so that its text is the system's.
enum class TOSError : uint8_t {
    InvalidArgument,
    FileExists,
    FileTooLarge,
    BadHandle,
    NotSeekable, // a pipe or a device: no file position
};

// The system's code for Error.
int OSErrorCode(TOSError Error) noexcept;

// The system's text for an error code ("No such file or directory").
std::string SysErrorMessage(int code);

// Raises EOSError for `code`, by default the last error.
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseOSError(int code);
[[noreturn]] void RaiseOSError(TOSError Error);

} // namespace stipplor
