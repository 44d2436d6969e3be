#pragma once
// Row loops of the engine: rows go to the parallel-for unless a bitmap involved is windowed,
// because a windowed bitmap's RowPointer moves its one view and belongs to one thread.
#include "bitmap/LinarBitmap.h"
#include "engine/MultiCoreProcessing.h"

#include <cstdint>
#include <functional>

namespace stipplor {

inline void ForEachRow(int32_t Rows, bool Parallel, const std::function<void(int32_t)>& Body) {
    if (Rows <= 0)
        return;
    if (Parallel) {
        ParallelFor(0, Rows - 1, Body);
        return;
    }
    for (int32_t y = 0; y < Rows; ++y)
        Body(y);
}

inline bool RowsMayRunInParallel(const TLinearBitmap& A, const TLinearBitmap& B) {
    return !A.IsWindowed() && !B.IsWindowed();
}

} // namespace stipplor
