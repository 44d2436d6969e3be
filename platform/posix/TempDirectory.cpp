#include "platform/TempDirectory.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace stipplor {

std::string TemporaryDirectory() {
    std::string dir = "/tmp";
    if (const char* env = std::getenv("TMPDIR"); env != nullptr && *env != '\0')
        dir = env;
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0)
        RaiseLastOSError();
    if (!S_ISDIR(info.st_mode))
        RaiseOSError(ENOTDIR);
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

} // namespace stipplor
