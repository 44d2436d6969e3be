#pragma once
// Small text helpers shared by every layer.
#include <string>
#include <string_view>

namespace stipplor {

// Text with the letters a to z made capitals; every other byte stays as it is, whatever the
// locale, so file extensions compare the same everywhere.
inline std::string UpperCase(std::string_view Text) {
    std::string result(Text);
    for (char& c : result)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return result;
}

} // namespace stipplor
