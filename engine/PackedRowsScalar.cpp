// The plain kernel of the packed plate rows: one pixel at a time, in 64-bit integers, for
// processors without vector units and for plates too large for 32-bit lanes.
#include "core/Rounding.h"
#include "engine/BackRotation.h"
#include "engine/PackedRowKernels.h"

namespace stipplor::packedrows {

namespace {

inline int64_t DivideByCell(const TLookup& L, int64_t n) {
    if (L.Shift >= 0)
        return n >> L.Shift;
    return static_cast<int64_t>((static_cast<uint64_t>(n) * L.Multiplier) >> L.DivisionShift);
}

inline uint32_t Bit(const TLookup& L, int64_t sx, int64_t sy) {
    const int64_t N = L.CellSize, cx = DivideByCell(L, sx), cy = DivideByCell(L, sy);
    const int64_t ix = sx - cx * N, iy = sy - cy * N;
    const int64_t entry = L.Entries[cy * L.Columns + cx];
    return (L.DotBits[(entry * N + iy) * L.WordsPerRow + (ix >> 5)] >> (ix & 31)) & 1;
}

} // namespace

void PackStripRowScalar(const TLookup& L, const TStrip& S, const TRow& R, uint8_t* Out) {
    const int64_t firstGroup = (R.Inside.From - S.X0) / GroupColumns;
    const int64_t lastGroup = (R.Inside.To - S.X0) / GroupColumns;
    for (int64_t g = firstGroup; g <= lastGroup; ++g) {
        uint32_t byte = 0;
        for (int32_t lane = 0; lane < GroupColumns; ++lane) {
            const int64_t x = S.X0 + g * GroupColumns + GroupColumns - 1 - lane;
            if (x < R.Inside.From || x > R.Inside.To)
                continue;
            const int64_t slot = g * GroupColumns + lane;
            const int64_t sx =
                backrotation::FromDoubled(RoundToInt64(S.XCos[slot] - R.YSin), L.CentreX);
            const int64_t sy =
                backrotation::FromDoubled(RoundToInt64(S.XSin[slot] + R.YCos), L.CentreY);
            byte |= Bit(L, sx, sy) << lane;
        }
        Out[g] = static_cast<uint8_t>(byte);
    }
}

} // namespace stipplor::packedrows
