#pragma once
// Temporary files that nobody else can open and that vanish when closed, also when the
// process is killed: POSIX removes the name right after creation, Windows deletes the file
// when its handle closes.
#include "platform/File.h"

#include <string_view>

namespace stipplor {

// The name prefix of the files that hold large bitmaps.
inline constexpr std::string_view TempFilePrefix = "Zivuvo";

// Creates a new empty file in TemporaryDirectory() whose name starts with Prefix (Windows
// takes its first three characters), readable and writable by the owner only and opened for
// reading and writing; on POSIX already nameless.
// Raises EOSError when the file cannot be created.
TFile CreateTemporaryFile(std::string_view Prefix = TempFilePrefix);

} // namespace stipplor
