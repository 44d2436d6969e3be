#pragma once
// Numbers shown after a number format, as the value fields display them.
#include "controls/ExpressionEval.h"

#include <string>
#include <string_view>

namespace stipplor {

// Renders value after a number format such as "0.##": '0' is a digit always shown, '#' a
// digit shown when significant, the first '.' the decimal point, ',' in the integer part asks
// for thousands separators, text in quotes and other characters before or after the digits
// are copied; "positive;negative;zero" sections as usual. Rounds to the decimals shown.
std::string FormatFloat(std::string_view format, Extended value);

} // namespace stipplor
