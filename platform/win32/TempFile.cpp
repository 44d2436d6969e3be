#include "platform/TempFile.h"

#include "platform/SystemError.h"
#include "platform/TempDirectory.h"
#include "platform/win32/Windows.h"

#include <string>

namespace stipplor {

TFile CreateTemporaryFile(std::string_view Prefix) {
    const std::string dir = TemporaryDirectory();
    const std::string prefix(Prefix);
    char name[MAX_PATH + 1];
    // Makes the file under a unique name; it is then opened anew as the private, self-deleting
    // file the caller gets.
    if (::GetTempFileNameA(dir.c_str(), prefix.c_str(), 0, name) == 0)
        RaiseLastOSError();
    TFile file = TFile::AdoptNativeHandle(reinterpret_cast<intptr_t>(
        ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr)));
    if (!file.IsOpen()) {
        const DWORD error = ::GetLastError();
        ::DeleteFileA(name);
        RaiseOSError(static_cast<int>(error));
    }
    return file;
}

} // namespace stipplor
