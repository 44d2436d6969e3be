#pragma once
// Round means to the nearest integer with halves going to the even neighbour, everywhere.
// std::nearbyint does exactly that in the default floating-point environment, which every
// thread of the system keeps.
#include <cmath>
#include <cstdint>

namespace stipplor {

inline double RoundHalfEven(double x) noexcept {
    return std::nearbyint(x);
}

inline int64_t RoundToInt64(double x) noexcept {
    return static_cast<int64_t>(std::nearbyint(x));
}

inline int32_t RoundToInt32(double x) noexcept {
    return static_cast<int32_t>(std::nearbyint(x));
}

// Clamps to 0..255 after rounding; NaN gives 0.
inline uint8_t RoundToByte(double x) noexcept {
    double r = std::nearbyint(x);
    if (!(r > 0.0))
        return 0;
    if (r > 255.0)
        return 255;
    return static_cast<uint8_t>(r);
}

} // namespace stipplor
