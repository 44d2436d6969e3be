#pragma once
// The kernels behind TPackedScreen, one per instruction set, all computing one row of one strip
// of plate columns with the very IEEE operations of the plain per-pixel form
// (backrotation::PlateBit): the column products d2x * cos and d2x * sin come precomputed per
// strip (a product does not depend on the row, so computing it once gives the same double),
// each row adds its own products and rounds half to even.
#include "engine/Rotation.h"

#include <cstdint>

namespace stipplor::packedrows {

// Columns From..To; empty when From > To.
struct TSpan {
    int64_t From = 0, To = -1;
};

// The screen in the form the kernels read it.
struct TLookup {
    const uint8_t* Entries; // readable three bytes beyond the last cell
    const uint32_t* DotBits;
    int32_t Columns, Rows, CellSize, WordsPerRow;
    int32_t Shift; // log2 N when N is a power of 2, otherwise -1
    // For other N: n / N = (n * Multiplier) >> DivisionShift for 0 <= n < 2^31, with
    // DivisionShift = 32 + floor(log2 N) and Multiplier = ceil(2^DivisionShift / N) < 2^32:
    // the product exceeds n * 2^DivisionShift / N by n * e / N with e < N <= 2^(shift - 31),
    // less than 2^DivisionShift / N, too little to reach the next multiple.
    uint32_t Multiplier;
    int32_t DivisionShift;
    double Reciprocal;        // 1 / N, for the AVX2 lanes
    int64_t CentreX, CentreY; // of the source
};

// Pixels come in groups of eight columns, one output byte each. Within a group the slots run
// from the rightmost column to the leftmost, so that lane i of a vector holds the pixel of bit
// i of the file's byte (whose top bit is the leftmost pixel).
inline constexpr int32_t GroupColumns = 8;

// One strip of columns, shared by all rows of a band.
struct TStrip {
    const double* XCos; // d2x * cos of each slot
    const double* XSin; // d2x * sin of each slot
    int64_t X0;         // first column, a multiple of 8
    int32_t Groups;
};

// One row of a strip: its own products and the columns whose source lies inside the screen
// (within the strip, not empty). The kernel sets the bits of those columns in Out, byte g for
// group g, and leaves the bytes of groups outside them untouched (the caller cleared them).
struct TRow {
    double YSin, YCos; // d2y * sin and d2y * cos
    TSpan Inside;
};

void PackStripRowScalar(const TLookup& Lookup, const TStrip& Strip, const TRow& Row, uint8_t* Out);
void PackStripRowAvx2(const TLookup& Lookup, const TStrip& Strip, const TRow& Row, uint8_t* Out);
// Reads the slots of two groups at a time: the strip's arrays hold the slots of one group
// beyond its last.
void PackStripRowAvx512(const TLookup& Lookup, const TStrip& Strip, const TRow& Row, uint8_t* Out);

} // namespace stipplor::packedrows
