#include "platform/TempFile.h"

#include "platform/SystemError.h"
#include "platform/TempDirectory.h"

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <vector>

namespace stipplor {

namespace {

int MakeUniqueFile(char* pattern) {
#if defined(__GLIBC__) || defined(__APPLE__) || defined(__FreeBSD__)
    return ::mkostemp(pattern, O_CLOEXEC);
#else
    const int fd = ::mkstemp(pattern);
    if (fd >= 0)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
#endif
}

} // namespace

TFile CreateTemporaryFile(std::string_view Prefix) {
    std::string path = TemporaryDirectory();
    path.append(Prefix).append("XXXXXX");
    std::vector<char> pattern(path.begin(), path.end());
    pattern.push_back('\0');

    // mkstemp creates the file with mode 0600 and O_EXCL, so no other user can have it open.
    TFile file = TFile::AdoptNativeHandle(MakeUniqueFile(pattern.data()));
    if (!file.IsOpen())
        RaiseLastOSError();
    RemoveFile(pattern.data()); // on failure the file closes; a name we could not remove stays
    return file;
}

} // namespace stipplor
