#pragma once
// Plates made straight from a screen of cells: rows of packed bits as a bilevel file holds them,
// with no 8-bit plate in between. Bit for bit the plain per-pixel plate (backrotation::
// PlateBit): bit 7 - x % 8 of byte x / 8 is pixel x, set where the plate has a dot; the bits
// beyond the width are 0. RotateCellScreen spreads these rows to 8-bit plates.
#include "engine/BackRotation.h"
#include "engine/Kernels.h"
#include "engine/PackedRowKernels.h"
#include "engine/Rotation.h"

#include <array>
#include <cstdint>
#include <vector>

namespace stipplor {

// What a dot, or a tile of the plate, prints: nothing, everything, or some of it.
enum class TDotKind : uint8_t { Mixed, Clear, Set };

class TPackedScreen {
public:
    // Screen (whose entries stay readable three bytes beyond the last cell) must stay alive
    // and unchanged while rows are filled. Raises ELinearBitmap for a screen or angle that
    // RotateCellScreen refuses. Reads ActiveKernel, so make it on the calling thread before
    // its rows go to workers.
    TPackedScreen(const TCellScreen& Screen, double Angle, TBitmapSize Plate);

    TBitmapSize Plate() const noexcept { return plate_; }
    int64_t RowBytes() const noexcept { return (int64_t{plate_.Width} + 7) / 8; }

    // Fills plate rows Y0..Y1-1 into Rows, RowBytes() apart. Several threads may fill
    // different rows at once.
    void FillRows(int32_t Y0, int32_t Y1, uint8_t* Rows) const;

private:
    void FillUnturnedRow(int32_t Y, uint8_t* Row) const;
    packedrows::TSpan InsideColumns(int32_t Y) const;
    TDotKind TileKind(packedrows::TSpan Columns, int32_t Y0, int32_t Y1) const;

    TCellScreen screen_;
    TBitmapSize plate_;
    backrotation::TGeometry geometry_;
    packedrows::TLookup lookup_;
    TKernel kernel_;
    bool unturned_;
    // Unturned cells of whole bytes: each dot row as the file's bytes, copied cell by cell.
    std::vector<uint8_t> dotRowBytes_;
    std::array<TDotKind, 256> dotKinds_{};
};

} // namespace stipplor
