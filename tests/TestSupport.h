#pragma once
// Small helpers shared by the test suites.
#include "core/Exception.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace stipplor::testsupport {

// The message of the Exception that f raises, or "(no exception)".
template <class F> std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no exception)";
}

// A file name in the temporary folder that belongs to this process: test cases run as
// concurrent processes (and several builds may test at once), so a fixed name would be shared.
inline std::string ProcessTempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("stipplor_" + std::to_string(::getpid()) + "_" + name))
        .string();
}

// A whole file as bytes in a string; empty when it cannot be read.
inline std::string FileContents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace stipplor::testsupport
