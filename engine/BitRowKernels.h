#pragma once
// The vector kernels of SpreadBitRow (PlateRaster.h). Each does whole groups of pixels from
// pixel 0 on and returns the first pixel it did not do; the plain loop does the rest. Builds
// without the instruction set do nothing and return 0.
#include "engine/PlateRaster.h"

#include <cstdint>

namespace stipplor {

int64_t SpreadBitRowAvx2(const uint8_t* Bits, int64_t Width, uint8_t Value, TSpread Op,
                         uint8_t* Out);
int64_t SpreadBitRowAvx512(const uint8_t* Bits, int64_t Width, uint8_t Value, TSpread Op,
                           uint8_t* Out);

} // namespace stipplor
