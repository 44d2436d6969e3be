#pragma once
// The built-in test chart: a press test form drawn in code. Step wedges of C, M, Y, K and grey
// from 0 to 100 % in 5 % steps, a smooth grey ramp, a hue sweep from white through the full
// colours to black, saturated and skin-tone patches, fine lines at several angles and a line
// star, with registration marks in the corners when the margin has room for them.
#include "host/Picture.h"

namespace orvalis {

inline constexpr int32_t TestChartWidth = 800;
inline constexpr int32_t TestChartHeight = 600;
inline constexpr int32_t TestChartMinSide = 64;
inline constexpr int32_t TestChartMaxSide = 10000;

// A 24-bit picture of Width x Height pixels (each from TestChartMinSide to TestChartMaxSide).
THostPicture MakeTestChart(int32_t Width = TestChartWidth, int32_t Height = TestChartHeight);

} // namespace orvalis
