#pragma once
// Small helpers shared by the test suites.
#include "core/Exception.h"

#include <fstream>
#include <iterator>
#include <string>

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

// A whole file as bytes in a string; empty when it cannot be read.
inline std::string FileContents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace stipplor::testsupport
