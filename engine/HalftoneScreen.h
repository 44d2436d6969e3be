#pragma once
// Amplitude-modulated halftone screens: every plane pixel becomes an N x N cell holding a dot
// whose area follows the pixel's tone, optionally with the whole screen turned by an angle.
#include "bitmap/LinarBitmap.h"
#include "engine/Rotation.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace stipplor {

inline constexpr uint8_t DotShapeCircle = 0;
inline constexpr uint8_t DotShapeDiamond = 1;
inline constexpr int32_t MinCellSize = 2;
inline constexpr int32_t MaxCellSize = 256;

// Entry i is the dot printed for tone i: an N x N 8-bit image of 0/255 pixels with the grey
// palette, and its level, the share of 255-pixels scaled to 255 and rounded.
struct TDotPattern {
    std::unique_ptr<TLinearBitmap> Image;
    int32_t Level = 0;
};
using TDotPatternTable = std::array<TDotPattern, 256>;

// Fill entries 0..128 with dots growing from the cell's centre, nearest pixels first (ties in
// reading order); they differ only in the distance (Euclidean or city-block).
void BuildCircleDots(TDotPatternTable& Table, int32_t CellSize);
void BuildDiamondDots(TDotPatternTable& Table, int32_t CellSize);
// Fill entries 129..255: entry k is the negative of entry 255 - k moved by half a cell, so that
// beyond half coverage the gaps shrink toward the cell corners.
void MirrorDots(TDotPatternTable& Table, int32_t CellSize);
// The whole table for a dot shape: its growing dots, then their mirrors.
void BuildDotPatternTable(TDotPatternTable& Table, int32_t CellSize, uint8_t DotShape);

// ORs the nonzero pixels of Dot as set bits into a packed bitmap (bit 0 of a byte is its
// leftmost pixel), with the dot's top-left pixel at bit column X of row Y. Raises
// ELinearBitmap "Invalid bitmap size" when the dot does not lie inside Target.
void PackDotBits(const TLinearBitmap& Dot, TLinearBitmap& Target, int32_t X, int32_t Y);

// The screen angle actually used: NormalizeAngle, with right angles folded to 0.
double ScreenAngle(double Angle);

// Where the time of one MakeRasterPattern call went, for benchmarks (seconds, and the pixels
// each stage produced). Screening is the dot choice of every cell, and for an unturned screen
// the filling of its bytes; the dot table is built before it.
struct TRasterStageTimes {
    double RotateForward = 0, DotTable = 0, Screening = 0, RotateBack = 0;
    int64_t RotatedPixels = 0, ScreenedPixels = 0, OutputPixels = 0;
};

// A plane screened into cells, before any pixel of its raster exists: the dot chosen for each
// cell of the plane (turned the other way first when the screen is turned), the dots, and
// what the raster becomes: its size, the angle its screen is turned back by, its palette.
class TScreenedCells {
public:
    TCellScreen Cells() const noexcept;
    double Angle() const noexcept { return angle_; }
    TBitmapSize RasterSize() const noexcept { return rasterSize_; }
    const TPalette& Palette() const noexcept { return palette_; }

private:
    friend TScreenedCells ScreenCells(TLinearBitmap&, int32_t, uint8_t, double, TRasterStageTimes*);
    std::vector<uint8_t> entries_; // three spare bytes at the end for word reads
    std::vector<uint32_t> dotBits_;
    int32_t columns_ = 0, rows_ = 0, cellSize_ = 0, wordsPerRow_ = 0;
    double angle_ = 0;
    TBitmapSize rasterSize_;
    TPalette palette_{};
};

// The cells of the screened plane MakeRasterPattern makes, with its checks and messages. A
// turned screen takes over Source's pixels as MakeRasterPattern does.
TScreenedCells ScreenCells(TLinearBitmap& Source, int32_t CellSize, uint8_t DotShape, double Angle,
                           TRasterStageTimes* Times = nullptr);

// Dest becomes the raster of Cells, exactly as MakeRasterPattern makes it; large rasters go to
// windowed temporary files when Dest is a TFileMappedBitmap.
void MakeRasterFromCells(const TScreenedCells& Cells, TLinearBitmap& Dest);
// The same raster into Dest as it stands: allocated 8-bit at the raster's size, in whatever
// storage it has. Raises ELinearBitmap "Invalid bitmap size" for another size or format.
void FillRasterFromCells(const TScreenedCells& Cells, TLinearBitmap& Dest);

// Dest becomes the screened plane: (W*N) x (H*N) 8-bit pixels of 0 and 255 with Source's
// palette. Dest may be Source. When a working copy is needed (Dest is Source, or the screen
// is turned) and Source is exactly a TLinearBitmap, the copy takes over Source's pixels and
// Source is left empty. Large targets go to windowed temporary files when Dest is a
// TFileMappedBitmap. Raises ELinearBitmap for a dot shape other than 0/1 ("Unsupported dot
// shape"), a cell size outside 2..256 ("Unsupported cell size") or a source that is not 8-bit.
void MakeRasterPattern(TLinearBitmap& Source, TLinearBitmap& Dest, int32_t CellSize,
                       uint8_t DotShape, double Angle, TRasterStageTimes* Times = nullptr);

} // namespace stipplor
