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

// Text without its leading and trailing control characters and blanks (codes 0 to 32).
inline std::string_view Trim(std::string_view Text) {
    const auto isSpace = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!Text.empty() && isSpace(Text.front()))
        Text.remove_prefix(1);
    while (!Text.empty() && isSpace(Text.back()))
        Text.remove_suffix(1);
    return Text;
}

} // namespace stipplor
