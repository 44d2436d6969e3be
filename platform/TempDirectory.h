#pragma once
#include <string>

namespace stipplor {

// The user's temporary folder, with a trailing separator: on POSIX $TMPDIR when set and
// usable, else /tmp/; on Windows the system's (GetTempPathA: %TMP%, %TEMP%, ...). Raises
// EOSError when the folder does not exist.
std::string TemporaryDirectory();

} // namespace stipplor
