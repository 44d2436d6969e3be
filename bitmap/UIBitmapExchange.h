#pragma once
// The exchange between TLinearBitmap and the toolkit's bitmaps, graphics and pictures: the
// toolkit cases of Assign and AssignTo, and their palette helpers. They live in a library of
// their own, so that the bitmaps and everything built on them need no toolkit.
#include "bitmap/LinarBitmap.h"
#include "toolkit/Graphics.h"

#include <cstdint>

namespace stipplor {

// A toolkit palette of the first Count (1..256) entries of a blue-green-red palette, each
// entry with flags 1. The caller owns the handle (toolkit::DeletePalette); 0 on bad arguments.
toolkit::HPALETTE PaletteToHandle(const uint8_t* Palette, int Count);

// Fills the 768-byte blue-green-red palette Dest: from GrayPalette when Handle is 0,
// otherwise from up to Count entries of the toolkit palette; entries it does not have are
// black.
void PaletteFromHandle(toolkit::HPALETTE Handle, int Count, uint8_t* Dest);

// Copies Source's pixels into Dest, which must already have Source's size and either the same
// pixel format, 24 bits for an 8-bit Source (indexes become colours) or 8 bits for a 16-bit
// Source (samples become their high byte). Raises ELinearBitmap "Unsupported pixel format"
// for other pairings and "Invalid bitmap size" when the sizes differ.
void CopyPixelsTo(const TLinearBitmap& Source, toolkit::TBitmap& Dest);

// Dest becomes a copy of a toolkit bitmap of 8, 24 or 32 bits, or of any other graphic or
// persistent object through a temporary toolkit bitmap (24 bits where the object's own format
// is none of those). A graphic that a bitmap cannot take over is drawn onto one. An empty
// toolkit bitmap releases Dest.
void AssignFromUI(TLinearBitmap& Dest, toolkit::TPersistent& Source);

// A toolkit bitmap, or the bitmap a picture is made to hold, becomes a copy of Source (16-bit
// grey becomes 8 bits with the grey palette); an empty Source leaves it unchanged. Other
// objects are refused with "Cannot assign ...".
void AssignToUI(const TLinearBitmap& Source, toolkit::TPersistent& Dest);

} // namespace stipplor
