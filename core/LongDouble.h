#pragma once
// Reading long double from text at its full precision (header-only, std only).
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>

namespace stipplor {

// std::from_chars for long double, in the general format. mingw-w64's standard library reads
// long double through double there: digits beyond double's are lost and values beyond its
// range refused. Its strtold reads at full precision, so it serves instead, held to
// from_chars's rules: no leading blank or '+', no hexadecimal form.
inline std::from_chars_result LongDoubleFromChars(const char* First, const char* Last,
                                                  long double& Value) {
#if defined(__MINGW32__)
    // Only the characters of a decimal number, "inf" or "nan": strtold goes no further.
    const std::string_view allowed = "0123456789.eE+-infatyINFATY";
    const std::string_view whole(First, static_cast<size_t>(Last - First));
    const std::string text(
        whole.substr(0, std::min(whole.find_first_not_of(allowed), whole.size())));
    if (text.empty() || text.front() == '+')
        return {First, std::errc::invalid_argument};
    char* end = nullptr;
    errno = 0;
    const long double parsed = std::strtold(text.c_str(), &end);
    if (end == text.c_str())
        return {First, std::errc::invalid_argument};
    const char* const stop = First + (end - text.c_str());
    if (errno == ERANGE)
        return {stop, std::errc::result_out_of_range};
    Value = parsed;
    return {stop, std::errc()};
#else
    return std::from_chars(First, Last, Value);
#endif
}

} // namespace stipplor
