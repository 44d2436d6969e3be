#pragma once
#include <string>

namespace stipplor {

// The user's temporary folder, with a trailing separator: $TMPDIR when set and usable, else
// /tmp/. Raises EOSError when the folder does not exist.
std::string TemporaryDirectory();

} // namespace stipplor
