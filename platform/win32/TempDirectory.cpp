#include "platform/TempDirectory.h"

#include "platform/SystemError.h"
#include "platform/win32/Windows.h"

namespace stipplor {

std::string TemporaryDirectory() {
    char buffer[MAX_PATH + 1];
    const DWORD length = ::GetTempPathA(sizeof buffer, buffer);
    if (length == 0)
        RaiseLastOSError();
    if (length >= sizeof buffer)
        RaiseOSError(ERROR_BUFFER_OVERFLOW);
    std::string dir(buffer, length);
    const DWORD attributes = ::GetFileAttributesA(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        RaiseLastOSError();
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        RaiseOSError(ERROR_DIRECTORY);
    if (dir.back() != '\\' && dir.back() != '/')
        dir += '\\';
    return dir;
}

} // namespace stipplor
