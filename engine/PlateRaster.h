#pragma once
// 8-bit rasters made from the packed rows of a plate: each row of bits is spread to one byte a
// pixel, band by band, so that no plate passes through a per-pixel back-rotation.
#include "bitmap/LinarBitmap.h"
#include "engine/Kernels.h"
#include "engine/PackedScreen.h"

#include <cstdint>
#include <functional>

namespace stipplor {

// What a spread does to a byte whose pixel is set: becomes the value (and 0 where the pixel is
// clear), or gets the value's bits ORed in (and stays as it is where the pixel is clear).
enum class TSpread : uint8_t { Store, Or };

// Pixels 0..Width-1 of a packed row (pixel x is bit 7 - x % 8 of Bits[x / 8], as the bilevel
// files hold them) into Out[0..Width-1] as Op says. Kernel is read by the caller on its own
// thread (ActiveKernel) before the rows go to workers.
void SpreadBitRow(TKernel Kernel, const uint8_t* Bits, int64_t Width, uint8_t Value, TSpread Op,
                  uint8_t* Out);

// Rows a thread fills at once: few enough that a band of the widest plate stays a few MiB,
// many enough that each band's fixed costs (and each write of a file band) are small.
inline constexpr int32_t PlateBandRows = 256;

// Plate rows Y0..Y1-1 in bands of at most PlateBandRows rows, each filled into a buffer of the
// thread that takes it and handed to Body(first row, end row, packed rows RowBytes() apart).
// Bands go to whichever thread is free, as their cost differs with what they cover; after a
// failure the other threads take no further band and the failure reaches the caller.
void ForEachPlateBand(const TPackedScreen& Plate, int32_t Y0, int32_t Y1,
                      const std::function<void(int32_t, int32_t, const uint8_t*)>& Body);

// Every pixel of the allocated 8-bit Target, whose size is the plate's, as Op says with Value
// where the plate has a dot. A windowed target is done in pieces of rows that fit its window,
// each brought into view before its bands run. Raises ELinearBitmap "Invalid bitmap size" for
// a target of another size or format.
void SpreadPlate(const TPackedScreen& Plate, TLinearBitmap& Target, uint8_t Value, TSpread Op);

} // namespace stipplor
