#pragma once
// Turning bitmaps for angled halftone screens: a tone plane is turned one way with bilinear
// sampling, screened axis-aligned, and the packed one-bit screen is turned back.
//
// Both rotations define every destination pixel: a pixel whose source position falls outside
// the source becomes 0, exactly as if the destination had been cleared first.
#include "bitmap/LinarBitmap.h"

#include <cstdint>

namespace stipplor {

struct TBitmapSize {
    int32_t Width = 0;
    int32_t Height = 0;
    friend bool operator==(const TBitmapSize&, const TBitmapSize&) = default;
};

// Folds an angle in radians into [0, 2*pi). Non-finite angles give 0.
double NormalizeAngle(double Angle);

// A screen angle from the dialog's degrees, which the fields hold in extended precision: the
// product is taken in extended precision and only then rounded to a double, which decides the
// last bit of the turned screen.
inline double DegreesToRadians(long double Degrees) {
    return static_cast<double>(Degrees * 0.017453292519943295769L);
}

// Size of Bitmap turned by Angle and scaled by Scale: twice the largest half-extent of the
// turned rectangle along each axis. Raises ELinearBitmap "Invalid bitmap size" when a side
// does not fit 32 bits.
TBitmapSize RotatedSize(const TLinearBitmap& Bitmap, double Angle, double Scale);

// Fills the allocated Dest with Source turned by Angle about both integer centres, sampling
// bilinearly in 8-bit fixed point. Both 8-bit or both 24-bit; Source must not be windowed.
void RotateBitmap(const TLinearBitmap& Source, TLinearBitmap& Dest, double Angle);

// Fills the allocated 8-bit Dest with 0/255 pixels from a packed source (one bit a pixel,
// bit 0 leftmost) whose content is Content pixels, turned by Angle. Source may be a windowed
// TFileMappedBitmap (read in 2048 x 2048 tiles), Dest a windowed one (2048-row bands); the
// rows of a piece run on the parallel-for.
void RotatePackedBits(const TLinearBitmap& Source, TLinearBitmap& Dest, TBitmapSize Content,
                      double Angle);

// A one-bit screen described by its cells instead of its pixels: Entries[row * Columns +
// column] chooses the dot of each N x N cell, and bit x of row r of dot e is bit x & 31 of
// DotBits[(e * N + r) * WordsPerRow + x / 32]. Entries must stay readable three bytes beyond
// the last cell (the vector kernel reads whole words).
struct TCellScreen {
    const uint8_t* Entries = nullptr;
    int32_t Columns = 0, Rows = 0, CellSize = 0;
    const uint32_t* DotBits = nullptr;
    int32_t WordsPerRow = 0;
};

// Fills Dest exactly as RotatePackedBits would from the screen packed at one bit per pixel
// (content Columns*N x Rows*N), without ever making the packed bitmap: the bits are looked up
// in the cells and dots, which stay in cache however large the plate is.
void RotateCellScreen(const TCellScreen& Screen, TLinearBitmap& Dest, double Angle);

} // namespace stipplor
