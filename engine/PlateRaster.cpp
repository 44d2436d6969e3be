#include "engine/PlateRaster.h"

#include "bitmap/FileMappedBitmap.h"
#include "engine/BitRowKernels.h"
#include "engine/MultiCoreProcessing.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <vector>

namespace stipplor {

namespace {

// Byte k of entry b (in memory: the processors this runs on are little-endian) is 0xFF where
// pixel k of the packed byte b is set (bit 7 - k).
constexpr std::array<uint64_t, 256> MakeByteMasks() {
    std::array<uint64_t, 256> masks{};
    for (int b = 0; b < 256; ++b)
        for (int k = 0; k < 8; ++k)
            if (b >> (7 - k) & 1)
                masks[size_t(b)] |= uint64_t{0xFF} << (8 * k);
    return masks;
}
constexpr std::array<uint64_t, 256> ByteMasks = MakeByteMasks();

// From pixel From (a multiple of 8) on: eight pixels a step through the masks, then pixel by
// pixel.
void SpreadBitRowScalar(const uint8_t* Bits, int64_t Width, uint8_t Value, TSpread Op, uint8_t* Out,
                        int64_t From) {
    const uint64_t value = uint64_t{Value} * 0x0101010101010101ull;
    int64_t x = From;
    for (; x + 8 <= Width; x += 8) {
        uint64_t bytes = ByteMasks[Bits[x / 8]] & value;
        if (Op == TSpread::Or) {
            uint64_t old;
            std::memcpy(&old, Out + x, 8);
            bytes |= old;
        }
        std::memcpy(Out + x, &bytes, 8);
    }
    for (; x < Width; ++x) {
        const uint8_t set = (Bits[x / 8] >> (7 - x % 8) & 1) ? Value : 0;
        Out[x] = Op == TSpread::Or ? static_cast<uint8_t>(Out[x] | set) : set;
    }
}

} // namespace

void SpreadBitRow(TKernel Kernel, const uint8_t* Bits, int64_t Width, uint8_t Value, TSpread Op,
                  uint8_t* Out) {
    int64_t done = 0;
    if (Kernel >= TKernel::AVX512)
        done = SpreadBitRowAvx512(Bits, Width, Value, Op, Out);
    else if (Kernel >= TKernel::AVX2)
        done = SpreadBitRowAvx2(Bits, Width, Value, Op, Out);
    if (done < Width)
        SpreadBitRowScalar(Bits, Width, Value, Op, Out, done);
}

void ForEachPlateBand(const TPackedScreen& Plate, int32_t Y0, int32_t Y1,
                      const std::function<void(int32_t, int32_t, const uint8_t*)>& Body) {
    if (Y1 <= Y0)
        return;
    const int32_t bands = (Y1 - Y0 + PlateBandRows - 1) / PlateBandRows;
    std::atomic<int32_t> nextBand{0};
    ParallelFor(0, std::min(bands, ThreadCountFor(1, 16)) - 1, [&](int32_t) {
        std::vector<uint8_t> rows(static_cast<size_t>(PlateBandRows * Plate.RowBytes()));
        try {
            for (int32_t band; (band = nextBand.fetch_add(1)) < bands;) {
                const int32_t y0 = Y0 + band * PlateBandRows;
                const int32_t y1 = std::min(Y1, y0 + PlateBandRows);
                Plate.FillRows(y0, y1, rows.data());
                Body(y0, y1, rows.data());
            }
        } catch (...) {
            nextBand.store(bands); // the others stop too
            throw;
        }
    });
}

void SpreadPlate(const TPackedScreen& Plate, TLinearBitmap& Target, uint8_t Value, TSpread Op) {
    const TBitmapSize size = Plate.Plate();
    if (!Target.Allocated() || Target.PixelFormat() != PixelFormat8 ||
        Target.Width() != size.Width || Target.Height() != size.Height)
        throw ELinearBitmap("Invalid bitmap size");
    const TKernel kernel = ActiveKernel();
    const int64_t rowBytes = Plate.RowBytes();
    auto spreadBand = [&](int32_t y0, int32_t y1, const uint8_t* rows) {
        for (int32_t y = y0; y < y1; ++y)
            SpreadBitRow(kernel, rows + (y - y0) * rowBytes, size.Width, Value, Op,
                         Target.DirectRowPointer(y));
    };
    auto* mapped = dynamic_cast<TFileMappedBitmap*>(&Target);
    if (!mapped || !mapped->IsWindowed()) {
        ForEachPlateBand(Plate, 0, size.Height, spreadBand);
        return;
    }
    // The threads write through one view: it holds a whole piece before the piece's bands run.
    const int32_t pieceRows = static_cast<int32_t>(
        std::max<int64_t>(1, (mapped->WindowLength() - 1) / std::max(1, Target.BytesPerLine())));
    for (int32_t y0 = 0; y0 < size.Height; y0 += pieceRows) {
        const int32_t y1 = std::min(size.Height, y0 + pieceRows);
        mapped->PrepareRowsForWriting(y0, y1 - y0);
        ForEachPlateBand(Plate, y0, y1, spreadBand);
    }
}

} // namespace stipplor
