#include "engine/PackedScreen.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace stipplor {

using namespace packedrows;

namespace {

// Columns of one strip: its column products (two arrays of this many doubles) stay in the
// first-level cache while every row of a band reads them.
constexpr int32_t StripColumns = 512;

// The vector kernels work in 32-bit lanes, which hold every coordinate below these sizes.
bool FitsLanes(TBitmapSize plate, TBitmapSize content, const TCellScreen& screen) {
    constexpr int32_t Limit = 1 << 28;
    return plate.Width < Limit && plate.Height < Limit && content.Width < Limit * 4 &&
           content.Height < Limit * 4 && int64_t(screen.Columns) * screen.Rows < INT32_MAX;
}

int32_t DivisionShift(int32_t N) {
    return 32 + std::bit_width(static_cast<uint32_t>(N)) - 1;
}

// Bits of a 64-bit word whose bit k is pixel k, in the file's order: byte k / 8 with pixel k
// at bit 7 - k % 8.
uint64_t FileBitOrder(uint64_t v) {
    v = ((v >> 1) & 0x5555555555555555ull) | ((v & 0x5555555555555555ull) << 1);
    v = ((v >> 2) & 0x3333333333333333ull) | ((v & 0x3333333333333333ull) << 2);
    return ((v >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((v & 0x0F0F0F0F0F0F0F0Full) << 4);
}

void StoreBytes(uint8_t* out, uint64_t v, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The columns 0..Width-1 where a condition holds that changes at most once along the row
// (the source position is monotone along a row): its ends decide which way, a bisection
// where.
template <class Holds> TSpan HoldingColumns(int64_t width, Holds&& holds) {
    const bool first = holds(0), last = holds(width - 1);
    if (first == last)
        return first ? TSpan{0, width - 1} : TSpan{};
    int64_t lo = 0, hi = width - 1; // holds(lo) != last, holds(hi) == last
    while (hi - lo > 1) {
        const int64_t mid = lo + (hi - lo) / 2;
        (holds(mid) == last ? hi : lo) = mid;
    }
    return last ? TSpan{hi, width - 1} : TSpan{0, lo};
}

// Whether dot Entry prints nothing, everything or some of its cell.
TDotKind KindOfDot(const TCellScreen& screen, int32_t entry) {
    const int32_t N = screen.CellSize;
    bool clear = true, set = true;
    for (int32_t r = 0; r < N; ++r)
        for (int32_t w = 0; w < screen.WordsPerRow; ++w) {
            const int32_t bits = std::min(32, N - 32 * w);
            const uint32_t all = bits == 32 ? ~0u : (1u << bits) - 1;
            const uint32_t word =
                screen.DotBits[(int64_t(entry) * N + r) * screen.WordsPerRow + w] & all;
            clear = clear && word == 0;
            set = set && word == all;
        }
    return clear ? TDotKind::Clear : set ? TDotKind::Set : TDotKind::Mixed;
}

TSpan Intersection(TSpan a, TSpan b) {
    return {std::max(a.From, b.From), std::min(a.To, b.To)};
}

} // namespace

TPackedScreen::TPackedScreen(const TCellScreen& Screen, double Angle, TBitmapSize Plate)
    : screen_(Screen), plate_(Plate), kernel_(ActiveKernel()) {
    backrotation::RequireValidScreen(Screen);
    if (!std::isfinite(Angle))
        throw ELinearBitmap("Invalid rotation angle");
    if (Plate.Width < 0 || Plate.Height < 0)
        throw ELinearBitmap("Invalid bitmap size");
    const int32_t N = Screen.CellSize;
    const TBitmapSize content{Screen.Columns * N, Screen.Rows * N};
    geometry_ = backrotation::MakeGeometry(Angle, content, Plate);
    // With cos 1 and sin 0 the products are d2x and 0 exactly, so every source position is
    // the plate position itself when both have one centre: the screen is copied row by row.
    unturned_ = geometry_.Cos == 1.0 && geometry_.Sin == 0.0 && content == Plate;
    const bool powerOfTwo = (N & (N - 1)) == 0;
    lookup_ = {Screen.Entries,
               Screen.DotBits,
               Screen.Columns,
               Screen.Rows,
               N,
               Screen.WordsPerRow,
               powerOfTwo ? std::countr_zero(static_cast<uint32_t>(N)) : -1,
               powerOfTwo ? 0u
                          : static_cast<uint32_t>(((uint64_t{1} << DivisionShift(N)) + N - 1) / N),
               DivisionShift(N),
               1.0 / N,
               geometry_.SourceCentreX,
               geometry_.SourceCentreY};
    if (!FitsLanes(Plate, content, Screen))
        kernel_ = TKernel::Scalar;
    for (int32_t e = 0; e < 256; ++e)
        dotKinds_[size_t(e)] = KindOfDot(Screen, e);
    if (unturned_ && N % 8 == 0 && N <= 64) {
        const int32_t bytes = N / 8;
        dotRowBytes_.resize(size_t(256) * N * bytes);
        for (int64_t row = 0; row < 256 * N; ++row)
            for (int32_t b = 0; b < bytes; ++b)
                dotRowBytes_[size_t(row * bytes + b)] = static_cast<uint8_t>(FileBitOrder(
                    Screen.DotBits[row * Screen.WordsPerRow + b / 4] >> (8 * (b % 4)) & 0xFF));
    }
}

TSpan TPackedScreen::InsideColumns(int32_t Y) const {
    const backrotation::TGeometry& g = geometry_;
    const int64_t width = plate_.Width;
    if (width == 0 || g.ContentWidth == 0 || g.ContentHeight == 0)
        return {};
    const double d2y = backrotation::Doubled(Y, g.DestCentreY);
    auto sx = [&](int64_t x) {
        return backrotation::SourceX(g, backrotation::Doubled(x, g.DestCentreX), d2y);
    };
    auto sy = [&](int64_t x) {
        return backrotation::SourceY(g, backrotation::Doubled(x, g.DestCentreX), d2y);
    };
    // The source position is monotone along the row: d2x grows with x, a product with a fixed
    // cos or sin, the sum with the row's fixed product and the rounding are monotone (IEEE
    // rounding never reverses an order), and so is the halving. So each bound alone holds on
    // one span of columns, found exactly from the very positions the pixels get; between the
    // spans' ends no pixel needs an inside test.
    TSpan inside = HoldingColumns(width, [&](int64_t x) { return sx(x) >= 0; });
    inside = Intersection(inside,
                          HoldingColumns(width, [&](int64_t x) { return sx(x) < g.ContentWidth; }));
    inside = Intersection(inside, HoldingColumns(width, [&](int64_t x) { return sy(x) >= 0; }));
    return Intersection(inside,
                        HoldingColumns(width, [&](int64_t x) { return sy(x) < g.ContentHeight; }));
}

// A tile whose source lies inside the screen and within cells that all print nothing, or all
// print everything, is that without a look at its pixels. The source position is monotone in
// the plate's row as in its column (the same argument as for the inside spans), so the four
// corners' exact positions bound every pixel's.
TDotKind TPackedScreen::TileKind(TSpan Columns, int32_t Y0, int32_t Y1) const {
    const backrotation::TGeometry& g = geometry_;
    int64_t left = INT64_MAX, right = INT64_MIN, top = INT64_MAX, bottom = INT64_MIN;
    for (const int64_t x : {Columns.From, Columns.To})
        for (const int64_t y : {int64_t{Y0}, int64_t{Y1}}) {
            const double d2x = backrotation::Doubled(x, g.DestCentreX);
            const double d2y = backrotation::Doubled(y, g.DestCentreY);
            const int64_t sx = backrotation::SourceX(g, d2x, d2y);
            const int64_t sy = backrotation::SourceY(g, d2x, d2y);
            left = std::min(left, sx);
            right = std::max(right, sx);
            top = std::min(top, sy);
            bottom = std::max(bottom, sy);
        }
    if (left < 0 || top < 0 || right >= g.ContentWidth || bottom >= g.ContentHeight)
        return TDotKind::Mixed;
    const int64_t N = screen_.CellSize;
    const TDotKind kind = dotKinds_[screen_.Entries[top / N * screen_.Columns + left / N]];
    if (kind == TDotKind::Mixed)
        return kind;
    for (int64_t cy = top / N; cy <= bottom / N; ++cy)
        for (int64_t cx = left / N; cx <= right / N; ++cx)
            if (dotKinds_[screen_.Entries[cy * screen_.Columns + cx]] != kind)
                return TDotKind::Mixed;
    return kind;
}

void TPackedScreen::FillUnturnedRow(int32_t Y, uint8_t* Row) const {
    const int32_t N = screen_.CellSize;
    const int64_t cellRow = Y / N, dotRow = Y % N;
    const uint8_t* entries = screen_.Entries + cellRow * screen_.Columns;
    if (!dotRowBytes_.empty()) {
        const size_t bytes = size_t(N) / 8;
        for (int32_t cx = 0; cx < screen_.Columns; ++cx)
            std::memcpy(Row + cx * bytes, &dotRowBytes_[(entries[cx] * size_t(N) + dotRow) * bytes],
                        bytes);
        return;
    }
    uint8_t* out = Row;
    uint64_t pending = 0; // bit k is the k-th pixel not yet stored
    int32_t count = 0;
    for (int32_t cx = 0; cx < screen_.Columns; ++cx) {
        const uint32_t* dot =
            screen_.DotBits + (int64_t(entries[cx]) * N + dotRow) * screen_.WordsPerRow;
        for (int32_t done = 0; done < N; done += 32) {
            const int32_t bits = std::min(32, N - done);
            const uint64_t word = dot[done / 32] & (~uint64_t(0) >> (64 - bits));
            pending |= word << count;
            count += bits;
            if (count >= 64) {
                StoreBytes(out, FileBitOrder(pending), 8);
                out += 8;
                count -= 64;
                pending = count == 0 ? 0 : word >> (bits - count);
            }
        }
    }
    StoreBytes(out, FileBitOrder(pending), (count + 7) / 8);
}

void TPackedScreen::FillRows(int32_t Y0, int32_t Y1, uint8_t* Rows) const {
    const int64_t rowBytes = RowBytes();
    if (unturned_) {
        for (int32_t y = Y0; y < Y1; ++y)
            FillUnturnedRow(y, Rows + (y - Y0) * rowBytes);
        return;
    }
    const backrotation::TGeometry& g = geometry_;
    std::vector<TSpan> inside(static_cast<size_t>(std::max(0, Y1 - Y0)));
    for (int32_t y = Y0; y < Y1; ++y)
        inside[size_t(y - Y0)] = InsideColumns(y);

    auto* kernel = kernel_ >= TKernel::AVX512 ? PackStripRowAvx512
                   : kernel_ >= TKernel::AVX2 ? PackStripRowAvx2
                                              : PackStripRowScalar;
    // One group of slots beyond the strip, read by kernels that take two groups at a time.
    alignas(64) std::array<double, StripColumns + GroupColumns> xCos, xSin;
    for (int64_t x0 = 0; x0 < plate_.Width; x0 += StripColumns) {
        const int32_t columns =
            static_cast<int32_t>(std::min<int64_t>(StripColumns, plate_.Width - x0));
        const int32_t groups = (columns + GroupColumns - 1) / GroupColumns;
        for (int32_t slot = 0; slot < (groups + 1) * GroupColumns; ++slot) {
            const int64_t x =
                x0 + slot - slot % GroupColumns + GroupColumns - 1 - slot % GroupColumns;
            const double d2x = backrotation::Doubled(x, g.DestCentreX);
            xCos[size_t(slot)] = d2x * g.Cos;
            xSin[size_t(slot)] = d2x * g.Sin;
        }
        const TStrip strip{xCos.data(), xSin.data(), x0, groups};
        const TSpan stripColumns{x0, x0 + columns - 1};
        const TDotKind tile = TileKind(stripColumns, Y0, Y1 - 1);
        // The bits of a set tile's last byte beyond the plate stay clear.
        const int32_t tail = static_cast<int32_t>((x0 + columns) % 8);
        const auto lastByte = static_cast<uint8_t>(tail == 0 ? 0xFF : 0xFF00 >> tail);
        for (int32_t y = Y0; y < Y1; ++y) {
            uint8_t* out = Rows + (y - Y0) * rowBytes + x0 / 8;
            if (tile == TDotKind::Set) {
                std::memset(out, 0xFF, size_t(groups));
                out[groups - 1] = lastByte;
                continue;
            }
            std::memset(out, 0, size_t(groups));
            if (tile == TDotKind::Clear)
                continue;
            const TSpan span = Intersection(inside[size_t(y - Y0)], stripColumns);
            if (span.From > span.To)
                continue;
            const double d2y = backrotation::Doubled(y, g.DestCentreY);
            kernel(lookup_, strip, {d2y * g.Sin, d2y * g.Cos, span}, out);
        }
    }
}

} // namespace stipplor
