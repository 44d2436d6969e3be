#pragma once
// The bridge between the host's pictures and TLinearBitmap: the host's picture seen as a
// bitmap without a copy, bitmaps handed to the host as new images, and progress reports with
// the host's "stop".
#include "bitmap/LinarBitmap.h"
#include "plugin/OrvalisPlugins.h"

#include <cstdint>
#include <string>

namespace stipplor {

// A bitmap over the host's picture. The host's pixel block is borrowed and only read: every
// operation that would change the pixels first moves them to a private copy (Detach). The
// palette of an 8-bit picture is copied at once (768 bytes), so that nothing that fills or
// replaces a palette can reach the host's. The host's memory is never freed.
class TPluginLinearBitmap final : public TLinearBitmap {
public:
    // Raises ELinearBitmap "Invalid bitmap size" for a width or height below 1, an empty Map
    // or rows shorter than their pixels, "Unsupported pixel format" for a PixelType other than
    // 1, 3 or 4, and "Out of memory" for a picture larger than a bitmap may be.
    explicit TPluginLinearBitmap(const TPluginImage& Image);

    const char* ClassName() const noexcept override { return "TPluginLinearBitmap"; }

    // Drops the current content (never freeing the host's) and borrows Image instead; checks
    // Image before anything changes.
    void Attach(const TPluginImage& Image);
    // Moves borrowed pixels into a private block with tight rows (the bytes after each row's
    // pixels are dropped). Nothing happens when the pixels are private already.
    void Detach();

    // The host's block and palette as received; empty once the bitmap works on a copy.
    const uint8_t* HostMap() const noexcept { return hostMap_; }
    const uint8_t* HostPalette() const noexcept { return hostPalette_; }
    // True while the pixels are the host's.
    bool Borrowed() const noexcept {
        return allocated_ && hostMap_ != nullptr && pixels_ == hostMap_;
    }

    // Works on a private copy, even when Format is the current one.
    void ConvertTo(TPixelFormat Format) override;
    // Forgets the host's block and palette, then frees what is owned.
    void Release() override;
    // Tight rows in a new private block; borrowed tight rows stay borrowed.
    void PackRows() override;
    // These would write into the pixels in place: they start from a fresh or private block.
    void Allocate(int32_t Width, int32_t Height, TPixelFormat Format,
                  int32_t BytesPerLine = 0) override;
    void Fill(uint8_t Value) override;
    void PasteImage(const TLinearBitmap& Source, int32_t X, int32_t Y,
                    int32_t MaxWidth = WholeImage, int32_t MaxHeight = WholeImage) override;

private:
    const uint8_t* hostMap_ = nullptr;
    const uint8_t* hostPalette_ = nullptr;
};

// The record of a bitmap for the host: PixelType 1, 3 or 4 by the bitmap's format (any other
// raises ELinearBitmap "Unsupported pixel format"), its size, stride, pixels and palette. All
// zero for no bitmap. The bitmap keeps its memory.
TPluginImage ImageRecordFromBitmap(const TLinearBitmap* Bitmap);

// Request 2: hands Bitmap to the host as a new image titled Title and returns the host's
// answer. The host copies it before returning. The pixels must form one block: a windowed
// bitmap is refused (ELinearBitmap), as the host would read past its window.
int32_t SendImageToHost(const TLinearBitmap& Bitmap, const std::string& Title);

class TProgressUpdate {
public:
    // Request 5 with Percent; the host's 0 ("stop") raises the silent abort EAbort.
    static void ReportProgress(int32_t Percent);
};

} // namespace stipplor
