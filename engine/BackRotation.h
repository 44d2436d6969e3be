#pragma once
// The geometry of turning a one-bit screen back onto the plate, shared by the 8-bit plates of
// RotateCellScreen and the packed rows of the bilevel files: where each plate pixel finds its
// source pixel, and the plain per-pixel form of the screen's bits that every kernel matches.
#include "core/Rounding.h"
#include "engine/Rotation.h"

#include <cmath>
#include <cstdint>

namespace stipplor::backrotation {

struct TGeometry {
    double Cos, Sin;
    int64_t SourceCentreX, SourceCentreY;
    int64_t DestCentreX, DestCentreY;
    int32_t ContentWidth, ContentHeight;
};

inline TGeometry MakeGeometry(double Angle, TBitmapSize Content, TBitmapSize Dest) {
    TGeometry g;
    g.Cos = std::cos(Angle);
    g.Sin = std::sin(Angle);
    g.ContentWidth = Content.Width;
    g.ContentHeight = Content.Height;
    g.SourceCentreX = Content.Width / 2;
    g.SourceCentreY = Content.Height / 2;
    g.DestCentreX = Dest.Width / 2;
    g.DestCentreY = Dest.Height / 2;
    return g;
}

// Doubled coordinate of a pixel centre relative to a centre: rounding on doubled coordinates
// maps pixel centres to pixel centres.
inline double Doubled(int64_t v, int64_t centre) {
    return static_cast<double>(2 * (v - centre) + 1);
}

// Source position from the rounded doubled one; the division truncates toward zero.
inline int64_t FromDoubled(int64_t rounded, int64_t centre) {
    return (rounded - 1) / 2 + centre;
}

inline int64_t SourceX(const TGeometry& g, double d2x, double d2y) {
    return FromDoubled(RoundToInt64(d2x * g.Cos - d2y * g.Sin), g.SourceCentreX);
}
inline int64_t SourceY(const TGeometry& g, double d2x, double d2y) {
    return FromDoubled(RoundToInt64(d2x * g.Sin + d2y * g.Cos), g.SourceCentreY);
}

// The bit of a screen of cells at a source pixel inside it: the pixel (sx % N, sy % N) of the
// dot chosen for the cell (sx / N, sy / N).
inline bool CellBit(const TCellScreen& s, int64_t sx, int64_t sy) {
    const int64_t N = s.CellSize, cx = sx / N, cy = sy / N, ix = sx - cx * N, iy = sy - cy * N;
    const int64_t entry = s.Entries[cy * s.Columns + cx];
    return (s.DotBits[(entry * N + iy) * s.WordsPerRow + (ix >> 5)] >> (ix & 31)) & 1;
}

// The plain definition of one plate pixel: set where its source pixel lies inside the screen
// and is set there.
inline bool PlateBit(const TGeometry& g, const TCellScreen& s, int64_t x, int64_t y) {
    const double d2x = Doubled(x, g.DestCentreX), d2y = Doubled(y, g.DestCentreY);
    const int64_t sx = SourceX(g, d2x, d2y), sy = SourceY(g, d2x, d2y);
    return sx >= 0 && sx < g.ContentWidth && sy >= 0 && sy < g.ContentHeight && CellBit(s, sx, sy);
}

// Throws ELinearBitmap "Invalid bitmap size" for a screen whose description does not hold.
void RequireValidScreen(const TCellScreen& Screen);

} // namespace stipplor::backrotation
