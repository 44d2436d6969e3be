#include "controls/NumberFormat.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

namespace stipplor {

namespace {

struct NumberFormat {
    std::string prefix;
    std::string suffix;
    int integerZeros = 0;
    int fractionZeros = 0;  // decimals always shown
    int fractionDigits = 0; // decimals at most
    bool thousands = false;
    bool hasDigits = false;
};

std::vector<std::string_view> SplitSections(std::string_view format) {
    std::vector<std::string_view> sections;
    std::size_t start = 0;
    char quote = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == ';' && sections.size() < 2) {
            sections.push_back(format.substr(start, i - start));
            start = i + 1;
        }
    }
    sections.push_back(format.substr(start));
    return sections;
}

NumberFormat ParseSection(std::string_view section) {
    constexpr int MaxDecimals = 64;
    NumberFormat format;
    bool afterPoint = false;
    std::string literal;
    for (std::size_t i = 0; i < section.size(); ++i) {
        const char c = section[i];
        if (c == '"' || c == '\'') {
            const std::size_t end = section.find(c, i + 1);
            const std::size_t stop = end == std::string_view::npos ? section.size() : end;
            literal.append(section.substr(i + 1, stop - i - 1));
            i = stop;
        } else if (c == '0' || c == '#') {
            if (!format.hasDigits)
                format.prefix = std::move(literal);
            literal.clear();
            format.hasDigits = true;
            if (afterPoint) {
                format.fractionDigits = std::min(format.fractionDigits + 1, MaxDecimals);
                if (c == '0')
                    format.fractionZeros = format.fractionDigits;
            } else if (c == '0') {
                format.integerZeros = std::min(format.integerZeros + 1, MaxDecimals);
            }
        } else if (c == '.' && !afterPoint && format.hasDigits) {
            afterPoint = true;
        } else if (c == '.' && !format.hasDigits && i + 1 < section.size() &&
                   (section[i + 1] == '0' || section[i + 1] == '#')) {
            format.prefix = std::move(literal);
            literal.clear();
            format.hasDigits = true;
            afterPoint = true;
        } else if (c == ',' && format.hasDigits && !afterPoint) {
            format.thousands = true;
        } else {
            literal.push_back(c);
        }
    }
    if (format.hasDigits)
        format.suffix = std::move(literal);
    else
        format.prefix = std::move(literal);
    return format;
}

std::string FixedDecimals(Extended magnitude, int decimals) {
    const int length = std::snprintf(nullptr, 0, "%.*Lf", decimals, magnitude);
    if (length <= 0)
        return "0";
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    std::snprintf(text.data(), text.size(), "%.*Lf", decimals, magnitude);
    return std::string(text.data(), static_cast<std::size_t>(length));
}

std::string GroupThousands(const std::string& digits) {
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped.push_back(',');
        grouped.push_back(digits[i]);
    }
    return grouped;
}

} // namespace

std::string FormatFloat(std::string_view format, Extended value) {
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value > 0 ? "INF" : "-INF";
    if (format.empty()) {
        std::array<char, 64> text{};
        std::snprintf(text.data(), text.size(), "%.15Lg", value);
        return text.data();
    }
    const std::vector<std::string_view> sections = SplitSections(format);
    std::string_view section = sections[0];
    bool signInSection = false;
    if (value < 0 && sections.size() > 1 && !sections[1].empty()) {
        section = sections[1];
        signInSection = true;
    } else if (value == 0 && sections.size() > 2 && !sections[2].empty()) {
        section = sections[2];
    }
    const NumberFormat parsed = ParseSection(section);
    if (!parsed.hasDigits)
        return parsed.prefix;

    std::string number = FixedDecimals(std::fabs(value), parsed.fractionDigits);
    const std::size_t point = number.find('.');
    std::string integer = number.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : number.substr(point + 1);
    while (static_cast<int>(fraction.size()) > parsed.fractionZeros && !fraction.empty() &&
           fraction.back() == '0')
        fraction.pop_back();
    const bool zero =
        std::all_of(integer.begin(), integer.end(), [](char c) { return c == '0'; }) &&
        fraction.find_first_not_of('0') == std::string::npos;
    if (integer == "0" && parsed.integerZeros == 0)
        integer.clear();
    if (static_cast<int>(integer.size()) < parsed.integerZeros)
        integer.insert(0, static_cast<std::size_t>(parsed.integerZeros) - integer.size(), '0');
    if (parsed.thousands)
        integer = GroupThousands(integer);

    std::string result;
    if (value < 0 && !signInSection && !zero)
        result.push_back('-');
    result += parsed.prefix;
    result += integer;
    if (!fraction.empty())
        result += "." + fraction;
    result += parsed.suffix;
    return result;
}

} // namespace stipplor
