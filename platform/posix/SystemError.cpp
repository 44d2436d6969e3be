#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>

namespace stipplor {

int LastOSError() noexcept {
    return errno;
}

int OSErrorCode(TOSError Error) noexcept {
    switch (Error) {
    case TOSError::InvalidArgument:
        return EINVAL;
    case TOSError::FileExists:
        return EEXIST;
    case TOSError::FileTooLarge:
        return EFBIG;
    case TOSError::BadHandle:
        return EBADF;
    case TOSError::NotSeekable:
        return ESPIPE;
    }
    return EINVAL;
}

std::string SysErrorMessage(int code) {
    char buffer[256];
    // The GNU variant returns the text, which may or may not be in the buffer.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    return strerror_r(code, buffer, sizeof buffer);
#else
    if (strerror_r(code, buffer, sizeof buffer) != 0)
        return "Unknown error " + std::to_string(code);
    return buffer;
#endif
}

} // namespace stipplor
