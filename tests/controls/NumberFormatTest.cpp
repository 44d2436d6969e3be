#include "controls/NumberFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

namespace stipplor {
namespace {

TEST(NumberFormat, DigitsSectionsAndLiterals) {
    constexpr Extended Infinity = std::numeric_limits<Extended>::infinity();
    const std::pair<Extended, const char*> twoPlaces[] = {
        {2.5L, "2.5"},  {100, "100"},      {22.1L, "22.1"},   {1.0L / 3, "0.33"},
        {-0.001L, "0"}, {-2.25L, "-2.25"}, {Infinity, "INF"}, {std::nan(""), "NAN"}};
    for (const auto& [value, text] : twoPlaces)
        EXPECT_EQ(FormatFloat("0.##", value), text);
    EXPECT_EQ(FormatFloat("0.00", 1), "1.00");
    EXPECT_EQ(FormatFloat("000", 7), "007");
    EXPECT_EQ(FormatFloat("#.##", 0.5L), ".5");
    EXPECT_EQ(FormatFloat("#,##0.0", 1234567.26L), "1,234,567.3");
    EXPECT_EQ(FormatFloat("0.##;(0.##)", -2), "(2)");
    EXPECT_EQ(FormatFloat("0.#;-0.#;zero", 0), "zero");
    EXPECT_EQ(FormatFloat("0 'mm'", 12), "12 mm");
}

} // namespace
} // namespace stipplor
