#pragma once
// The row kernels of RotateBitmap. The plain loop in Rotation.cpp is the reference; each vector
// kernel does whole groups of pixels from the start of a run of columns and leaves the rest to
// it.
#include <cstdint>

namespace stipplor {

// Everything a row of the bilinear turn needs, fixed for the whole call.
struct TBilinearTurn {
    const uint8_t* Source = nullptr; // row 0; rows follow BytesPerLine apart
    int32_t SourceWidth = 0, SourceHeight = 0, BytesPerLine = 0, Channels = 1;
    // 8-bit sources only, optional, for the vector kernels: SourceHeight - 1 rows of
    // 2 * SourceWidth bytes; row k interleaves the bytes of source rows k and k + 1, so that
    // the word at byte 2j holds the four pixels a sample at (j, k) blends: (j, k), (j, k + 1),
    // (j + 1, k) and (j + 1, k + 1), and one read fetches them all instead of two.
    const uint8_t* Pairs = nullptr;
    double Cos = 0, Sin = 0;
    double SourceCentreX = 0, SourceCentreY = 0; // integer centres, as doubles
    int32_t DestCentreX = 0, DestCentreY = 0;
};

// The bytes that may be read from Turn.Source: up to the last pixel of the last row. The
// kernels read 32-bit words of a 24-bit source; one that would cross this end is read further
// back and shifted, so nothing beyond it is touched. (A word of the pair rows never crosses
// the end of its row: a sample's column is at most SourceWidth - 2.)
inline int64_t ReadableSourceBytes(const TBilinearTurn& Turn) noexcept {
    return int64_t(Turn.SourceHeight - 1) * Turn.BytesPerLine +
           int64_t(Turn.SourceWidth) * Turn.Channels;
}

// Whether the vector kernels may run: their byte offsets into the source (or into the pair
// rows) are 32-bit lanes, and a pixel is only ever sampled from a source of at least two
// columns and two rows.
inline bool FitsBilinearLanes(const TBilinearTurn& Turn) noexcept {
    constexpr int64_t Limit = int64_t(1) << 31;
    return Turn.SourceWidth >= 2 && Turn.SourceHeight >= 2 &&
           (Turn.Channels == 1 || Turn.Channels == 3) &&
           ReadableSourceBytes(Turn) + int64_t(Turn.BytesPerLine) < Limit &&
           int64_t(Turn.SourceHeight) * Turn.SourceWidth * 2 < Limit;
}

// Fill columns From..To-1 of row Row of the destination (Out is the row's start) in whole
// groups from From on and return the first column they did not do (From when the lanes do not
// fit). Available only where the processor has the instructions; on other builds they do
// nothing.
int32_t RotateBitmapRowAvx2(const TBilinearTurn& Turn, uint8_t* Out, int32_t Row, int32_t From,
                            int32_t To);
int32_t RotateBitmapRowAvx512(const TBilinearTurn& Turn, uint8_t* Out, int32_t Row, int32_t From,
                              int32_t To);

} // namespace stipplor
