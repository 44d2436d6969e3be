#include "platform/SystemError.h"

#include "platform/win32/Windows.h"

namespace stipplor {

int LastOSError() noexcept {
    return static_cast<int>(::GetLastError());
}

int OSErrorCode(TOSError Error) noexcept {
    switch (Error) {
    case TOSError::InvalidArgument:
        return ERROR_INVALID_PARAMETER;
    case TOSError::FileExists:
        return ERROR_FILE_EXISTS;
    case TOSError::FileTooLarge:
        return ERROR_FILE_TOO_LARGE;
    case TOSError::BadHandle:
        return ERROR_INVALID_HANDLE;
    case TOSError::NotSeekable:
        return ERROR_SEEK_ON_DEVICE;
    }
    return ERROR_INVALID_PARAMETER;
}

std::string SysErrorMessage(int code) {
    char buffer[1024];
    DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
        nullptr, static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
    // The system's texts end in a line break (and, with the width mask, a blank), which
    // would land in the middle of the messages that quote them.
    while (length > 0 && static_cast<unsigned char>(buffer[length - 1]) <= ' ')
        --length;
    if (length == 0)
        return "Unknown error " + std::to_string(code);
    return std::string(buffer, length);
}

} // namespace stipplor
