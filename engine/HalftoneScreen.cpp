#include "engine/HalftoneScreen.h"

#include "bitmap/FileMappedBitmap.h"
#include "core/Rounding.h"
#include "engine/Rotation.h"
#include "engine/RowLoop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>
#include <numeric>
#include <typeinfo>
#include <vector>

namespace stipplor {

namespace {

constexpr double Pi = std::numbers::pi;
constexpr double RightAngleTolerance = 0.0001;
// Targets above these sizes (bytes) go to windowed temporary files.
constexpr int64_t ScreenTargetFileThreshold = 524288000;
constexpr int64_t RotatedTargetFileThreshold = 104857600;
// Rows of a windowed target brought into view at once by the unturned screen.
constexpr int64_t ScreenBandBytes = 32 << 20;

class TStopwatch {
public:
    double Lap() {
        const auto now = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(now - last_).count();
        last_ = now;
        return seconds;
    }

private:
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

void RequireCellSize(int32_t N) {
    if (N < MinCellSize || N > MaxCellSize)
        throw ELinearBitmap("Unsupported cell size");
}

std::unique_ptr<TLinearBitmap> NewCell(int32_t N) {
    auto cell = std::make_unique<TLinearBitmap>();
    cell->Allocate(N, N, PixelFormat8, 0);
    cell->SetPalette(GrayPalette.data());
    cell->Fill(0);
    return cell;
}

std::unique_ptr<TLinearBitmap> CopyOf(const TLinearBitmap& Bitmap) {
    auto copy = std::make_unique<TLinearBitmap>();
    copy->Assign(Bitmap);
    return copy;
}

int32_t CoverageLevel(int64_t setPixels, int32_t N) {
    return RoundToInt32(static_cast<double>(setPixels) / static_cast<double>(N * N) * 255);
}

template <class Distance>
void BuildGrowingDots(TDotPatternTable& Table, int32_t N, Distance distance) {
    RequireCellSize(N);
    auto dot = NewCell(N);
    const double c = (N - 1) / 2.0;
    const int32_t cellPixels = N * N;
    const int32_t count = RoundToInt32(cellPixels / 2.0);

    // Taking pixels in order of (distance, reading order) is the repeated search for the
    // nearest pixel still clear, where an equal distance never replaces an earlier pixel.
    std::vector<double> dist(cellPixels);
    for (int32_t p = 0; p < cellPixels; ++p)
        dist[p] = distance(p % N - c, p / N - c);
    std::vector<int32_t> order(cellPixels);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int32_t a, int32_t b) { return dist[a] < dist[b]; });

    Table[0] = {CopyOf(*dot), 0};
    int32_t i = 0;
    for (int32_t j = 1; j <= count; ++j) {
        const int32_t p = order[j - 1];
        dot->RowPointer(p / N)[p % N] = 255;
        const int32_t upTo = RoundToInt32(static_cast<double>(j) / count * 128);
        while (i < upTo) {
            ++i;
            Table[i] = {CopyOf(*dot), CoverageLevel(j, N)};
        }
    }
}

void InvertPixels(TLinearBitmap& Bitmap) {
    for (int32_t y = 0; y < Bitmap.Height(); ++y) {
        uint8_t* row = Bitmap.RowPointer(y);
        for (int32_t x = 0; x < Bitmap.BytesPerLine(); ++x)
            row[x] = static_cast<uint8_t>(~row[x]);
    }
}

int64_t NonzeroPixels(const TLinearBitmap& Bitmap) {
    int64_t n = 0;
    for (int32_t y = 0; y < Bitmap.Height(); ++y) {
        const uint8_t* row = Bitmap.RowPointer(y);
        n += Bitmap.Width() - std::count(row, row + Bitmap.Width(), uint8_t{0});
    }
    return n;
}

// The first byte of row[0..width) that is not 0, or width; the last one, or -1.
int32_t FirstNonzero(const uint8_t* row, int32_t width) {
    int32_t x = 0;
    for (uint64_t word = 0; x + 8 <= width; x += 8) {
        std::memcpy(&word, row + x, 8);
        if (word)
            break;
    }
    while (x < width && row[x] == 0)
        ++x;
    return x;
}

int32_t LastNonzero(const uint8_t* row, int32_t width) {
    int32_t x = width;
    for (uint64_t word = 0; x >= 8; x -= 8) {
        std::memcpy(&word, row + x - 8, 8);
        if (word)
            break;
    }
    while (x > 0 && row[x - 1] == 0)
        --x;
    return x - 1;
}

// The dot table in the forms the screening loop uses: rows of bytes for 8-bit targets and
// rows of bits in 32-bit words (bit 0 leftmost) for turned screens.
class TDotRows {
public:
    TDotRows(const TDotPatternTable& Table, int32_t N)
        : n_(N), wordsPerRow_((N + 31) / 32), bytes_(size_t(256) * N * N),
          words_(size_t(256) * N * wordsPerRow_, 0) {
        for (int e = 0; e < 256; ++e) {
            const TLinearBitmap& image = *Table[e].Image;
            levels_[e] = Table[e].Level;
            for (int32_t r = 0; r < N; ++r) {
                const uint8_t* src = image.RowPointer(r);
                std::memcpy(&bytes_[(size_t(e) * n_ + r) * n_], src, N);
                uint32_t* bits = &words_[(size_t(e) * N + r) * wordsPerRow_];
                for (int32_t x = 0; x < N; ++x)
                    if (src[x])
                        bits[x >> 5] |= uint32_t(1) << (x & 31);
            }
        }
        MakeChoiceTables();
    }

    int32_t CellSize() const noexcept { return n_; }
    const uint8_t* ByteRow(int e, int32_t r) const noexcept {
        return &bytes_[(size_t(e) * n_ + r) * n_];
    }
    const uint32_t* Words() const noexcept { return words_.data(); }
    int32_t WordsPerRow() const noexcept { return wordsPerRow_; }

    // The dot of every pixel of Rows plane rows: the tone plus the carry, clamped to 0..255,
    // chooses the entry, and the carry passes on what that dot prints too much or too little,
    // from one pixel to the next; it restarts on every row and never crosses to another row,
    // so four rows run side by side and the processor overlaps their chains.
    void ChooseEntries(const uint8_t* const* tones, uint8_t* const* entries, int32_t rows,
                       int32_t width) const {
        int32_t y = 0;
        for (; y + 4 <= rows; y += 4)
            ChooseRows<4>(tones + y, entries + y, width);
        for (; y < rows; ++y)
            ChooseRows<1>(tones + y, entries + y, width);
    }

private:
    // The carry lies in -255..255 and so the tone plus the carry in -255..510. For every such
    // sum (biased by 255) the tables hold the entry it chooses and the next carry (biased the
    // same way): the exact rule, evaluated once per sum, leaves one addition and two loads
    // per pixel.
    static constexpr int32_t Bias = 255;
    static constexpr int32_t Sums = 3 * 255 + 1;

    void MakeChoiceTables() {
        for (int32_t i = 0; i < Sums; ++i) {
            const int32_t a = std::clamp(i - Bias, 0, 255);
            entryOfSum_[i] = static_cast<uint8_t>(a);
            biasedCarryOfSum_[i] = static_cast<int16_t>(a - levels_[a] + Bias);
        }
    }

    template <int Rows>
    void ChooseRows(const uint8_t* const* tones, uint8_t* const* entries, int32_t width) const {
        // Local copies: the byte stores could otherwise alias the row pointers.
        const uint8_t* in[Rows];
        uint8_t* out[Rows];
        int32_t carry[Rows]; // biased
        // A turned plane is 0 around the picture. Where a tone of 0 meets no carry, the entry
        // is 0 and, the level of entry 0 being 0, the carry stays 0: before the first nonzero
        // tone of the rows, and after the last once a row's carry has run out, the entries
        // are filled without running the chain.
        int32_t first = 0, last = width - 1;
        if (levels_[0] == 0) {
            first = width;
            last = -1;
            for (int r = 0; r < Rows; ++r) {
                first = std::min(first, FirstNonzero(tones[r], width));
                last = std::max(last, LastNonzero(tones[r], width));
            }
        }
        for (int r = 0; r < Rows; ++r) {
            in[r] = tones[r];
            out[r] = entries[r];
            carry[r] = Bias;
            std::memset(out[r], 0, size_t(std::min(first, width)));
        }
        for (int32_t x = first; x <= last; ++x)
            for (int r = 0; r < Rows; ++r) {
                const int32_t sum = in[r][x] + carry[r];
                out[r][x] = entryOfSum_[sum];
                carry[r] = biasedCarryOfSum_[sum];
            }
        for (int r = 0; r < Rows; ++r) {
            int32_t x = std::max(first, last + 1);
            for (; x < width && (in[r][x] != 0 || carry[r] != Bias); ++x) {
                const int32_t sum = in[r][x] + carry[r];
                out[r][x] = entryOfSum_[sum];
                carry[r] = biasedCarryOfSum_[sum];
            }
            std::memset(out[r] + x, 0, size_t(width - x));
        }
    }

    int32_t n_;
    int32_t wordsPerRow_;
    std::array<int32_t, 256> levels_{};
    std::array<uint8_t, Sums> entryOfSum_{};
    std::array<int16_t, Sums> biasedCarryOfSum_{};
    std::vector<uint8_t> bytes_;
    std::vector<uint32_t> words_;
};

void AllocateTarget(TLinearBitmap& Target, int32_t Width, int32_t Height, int64_t Threshold) {
    auto* mapped = dynamic_cast<TFileMappedBitmap*>(&Target);
    if (mapped && static_cast<int64_t>(Width) * Height > Threshold)
        mapped->AllocateIn(Width, Height, PixelFormat8, bsTempFile, false);
    else
        Target.Allocate(Width, Height, PixelFormat8, 0);
}

int32_t ScaledSide(int64_t side, int32_t N) {
    const int64_t scaled = side * N;
    if (scaled > INT32_MAX)
        throw ELinearBitmap("Invalid bitmap size");
    return static_cast<int32_t>(scaled);
}

// Row r of the dots chosen for a row of cells, side by side in out.
template <int32_t N>
void PlaceDotRowsOf(const TDotRows& dots, const uint8_t* entries, int32_t width, int32_t r,
                    uint8_t* out) {
    for (int32_t x = 0; x < width; ++x)
        std::memcpy(out + size_t(x) * N, dots.ByteRow(entries[x], r), size_t(N));
}

void PlaceDotRows(const TDotRows& dots, const uint8_t* entries, int32_t width, int32_t r,
                  uint8_t* out) {
    // The common cell sizes copy with a size the compiler knows: a few vector moves per cell
    // instead of a call.
    switch (dots.CellSize()) {
    case 4:
        return PlaceDotRowsOf<4>(dots, entries, width, r, out);
    case 8:
        return PlaceDotRowsOf<8>(dots, entries, width, r, out);
    case 16:
        return PlaceDotRowsOf<16>(dots, entries, width, r, out);
    case 32:
        return PlaceDotRowsOf<32>(dots, entries, width, r, out);
    case 64:
        return PlaceDotRowsOf<64>(dots, entries, width, r, out);
    }
    const size_t N = size_t(dots.CellSize());
    for (int32_t x = 0; x < width; ++x)
        std::memcpy(out + x * N, dots.ByteRow(entries[x], r), N);
}

// One row of cells: each of its N output rows is the byte rows of the chosen dots side by side.
void ScreenRowOfCells(const TLinearBitmap& Plane, int32_t y, const TDotRows& dots,
                      const std::function<uint8_t*(int32_t)>& targetRow) {
    const int32_t N = dots.CellSize(), width = Plane.Width();
    std::vector<uint8_t> entries(width);
    const uint8_t* tones = Plane.RowPointer(y);
    uint8_t* chosen = entries.data();
    dots.ChooseEntries(&tones, &chosen, 1, width);
    for (int32_t r = 0; r < N; ++r)
        PlaceDotRows(dots, entries.data(), width, r, targetRow(y * N + r));
}

// Unturned screen: each output row is the byte rows of the chosen dots side by side. A
// windowed target is filled in bands that are brought into view first, so that the rows of
// a band can still be written in parallel.
void ScreenIntoBytes(const TLinearBitmap& Plane, TLinearBitmap& Target, const TDotRows& dots) {
    const int32_t N = dots.CellSize();
    auto* windowed = dynamic_cast<TFileMappedBitmap*>(&Target);
    if (Plane.IsWindowed() || !windowed || !windowed->IsWindowed()) {
        ForEachRow(Plane.Height(), RowsMayRunInParallel(Plane, Target), [&](int32_t y) {
            ScreenRowOfCells(Plane, y, dots, [&](int32_t row) { return Target.RowPointer(row); });
        });
        return;
    }
    const int64_t cellRowBytes = int64_t(N) * Target.BytesPerLine();
    const int32_t band = static_cast<int32_t>(std::max<int64_t>(1, ScreenBandBytes / cellRowBytes));
    for (int32_t y0 = 0; y0 < Plane.Height(); y0 += band) {
        const int32_t y1 = std::min(Plane.Height() - 1, y0 + band - 1);
        windowed->PrepareRowsForWriting(y0 * N, (y1 - y0 + 1) * N);
        ParallelFor(y0, y1, [&](int32_t y) {
            ScreenRowOfCells(Plane, y, dots,
                             [&](int32_t row) { return Target.DirectRowPointer(row); });
        });
    }
}

// Turned screen: the dot chosen for every cell, three spare bytes at the end for word reads.
// Rows go four at a time; a windowed plane keeps only one row in view, so it goes row by row.
std::vector<uint8_t> ChooseAllEntries(const TLinearBitmap& Plane, const TDotRows& dots) {
    const int32_t width = Plane.Width(), height = Plane.Height();
    std::vector<uint8_t> entries(size_t(width) * height + 3, 0);
    const int32_t group = Plane.IsWindowed() ? 1 : 4;
    ForEachRow((height + group - 1) / group, !Plane.IsWindowed(), [&](int32_t g) {
        const int32_t y0 = g * group, rows = std::min(group, height - y0);
        const uint8_t* tones[4];
        uint8_t* chosen[4];
        for (int32_t r = 0; r < rows; ++r) {
            tones[r] = Plane.RowPointer(y0 + r);
            chosen[r] = &entries[size_t(y0 + r) * width];
        }
        dots.ChooseEntries(tones, chosen, rows, width);
    });
    return entries;
}

} // namespace

void BuildCircleDots(TDotPatternTable& Table, int32_t CellSize) {
    BuildGrowingDots(Table, CellSize, [](double dx, double dy) { return dx * dx + dy * dy; });
}

void BuildDiamondDots(TDotPatternTable& Table, int32_t CellSize) {
    BuildGrowingDots(Table, CellSize,
                     [](double dx, double dy) { return std::fabs(dx) + std::fabs(dy); });
}

void BuildDotPatternTable(TDotPatternTable& Table, int32_t CellSize, uint8_t DotShape) {
    if (DotShape == DotShapeCircle)
        BuildCircleDots(Table, CellSize);
    else
        BuildDiamondDots(Table, CellSize);
    MirrorDots(Table, CellSize);
}

void MirrorDots(TDotPatternTable& Table, int32_t CellSize) {
    const int32_t N = CellSize;
    RequireCellSize(N);
    const int32_t h = N / 2;
    for (int k = 129; k <= 255; ++k) {
        const TLinearBitmap& partner = *Table[255 - k].Image;
        auto cell = NewCell(N);
        cell->PasteImage(partner, -h, -h);
        cell->PasteImage(partner, N - h, -h);
        cell->PasteImage(partner, -h, N - h);
        cell->PasteImage(partner, N - h, N - h);
        InvertPixels(*cell);
        Table[k] = {std::move(cell), 0};
        Table[k].Level = CoverageLevel(NonzeroPixels(*Table[k].Image), N);
    }
}

void PackDotBits(const TLinearBitmap& Dot, TLinearBitmap& Target, int32_t X, int32_t Y) {
    const int64_t targetBits = static_cast<int64_t>(Target.BytesPerLine()) * 8;
    if (!Dot.Allocated() || Dot.PixelFormat() != PixelFormat8 || !Target.Allocated() || X < 0 ||
        Y < 0 || X + int64_t(Dot.Width()) > targetBits ||
        Y + int64_t(Dot.Height()) > Target.Height())
        throw ELinearBitmap("Invalid bitmap size");
    for (int32_t r = 0; r < Dot.Height(); ++r) {
        const uint8_t* src = Dot.DirectRowPointer(r);
        uint8_t* out = Target.RowPointer(Y + r);
        for (int32_t i = 0; i < Dot.Width(); ++i) {
            const int64_t at = int64_t(X) + i;
            if (src[i])
                out[at >> 3] |= uint8_t(1u << (at & 7));
        }
    }
}

double ScreenAngle(double Angle) {
    const double theta = NormalizeAngle(Angle);
    for (double right : {Pi, 3 * Pi / 2, Pi / 2})
        if (std::fabs(theta - right) < RightAngleTolerance)
            return 0.0;
    return theta;
}

namespace {

void RequireScreenable(const TLinearBitmap& Source, int32_t CellSize, uint8_t DotShape) {
    if (DotShape != DotShapeCircle && DotShape != DotShapeDiamond)
        throw ELinearBitmap("Unsupported dot shape");
    RequireCellSize(CellSize);
    if (!Source.Allocated() || Source.PixelFormat() != PixelFormat8)
        RaiseUnsupportedPixelFormat();
}

TPalette PaletteOf(const TLinearBitmap& Source) {
    TPalette palette = GrayPalette;
    if (Source.Palette())
        std::memcpy(palette.data(), Source.Palette(), PaletteBytes);
    return palette;
}

std::unique_ptr<TDotRows> MakeDotRows(int32_t N, uint8_t DotShape) {
    TDotPatternTable table;
    BuildDotPatternTable(table, N, DotShape);
    return std::make_unique<TDotRows>(table, N);
}

// A working copy of Source: its pixels taken over when it is exactly a TLinearBitmap.
std::unique_ptr<TLinearBitmap> WorkingCopy(TLinearBitmap& Source) {
    auto copy = std::make_unique<TLinearBitmap>();
    if (typeid(Source) == typeid(TLinearBitmap))
        copy->TakeOver(Source);
    else
        copy->Assign(Source);
    return copy;
}

} // namespace

TCellScreen TScreenedCells::Cells() const noexcept {
    return {entries_.data(), columns_, rows_, cellSize_, dotBits_.data(), wordsPerRow_};
}

TScreenedCells ScreenCells(TLinearBitmap& Source, int32_t CellSize, uint8_t DotShape, double Angle,
                           TRasterStageTimes* Times) {
    TRasterStageTimes ignored;
    TRasterStageTimes& times = Times ? *Times : ignored;
    times = {};
    RequireScreenable(Source, CellSize, DotShape);
    const int32_t N = CellSize;
    TScreenedCells cells;
    cells.angle_ = ScreenAngle(Angle);
    cells.palette_ = PaletteOf(Source);
    cells.cellSize_ = N;
    cells.rasterSize_ = {ScaledSide(Source.Width(), N), ScaledSide(Source.Height(), N)};

    TStopwatch watch;
    const std::unique_ptr<TDotRows> dots = MakeDotRows(N, DotShape);
    cells.wordsPerRow_ = dots->WordsPerRow();
    cells.dotBits_.assign(dots->Words(), dots->Words() + size_t(256) * N * dots->WordsPerRow());
    times.DotTable = watch.Lap();

    // A turned screen is screened axis-aligned on the plane turned the other way.
    const TLinearBitmap* plane = &Source;
    std::unique_ptr<TLinearBitmap> rotated;
    if (cells.angle_ > 0) {
        std::unique_ptr<TLinearBitmap> copy = WorkingCopy(Source);
        const TBitmapSize turned = RotatedSize(*copy, -cells.angle_, 1.0);
        rotated = std::make_unique<TLinearBitmap>();
        rotated->Allocate(turned.Width, turned.Height, PixelFormat8, 0);
        RotateBitmap(*copy, *rotated, -cells.angle_);
        plane = rotated.get();
        times.RotateForward = watch.Lap();
        times.RotatedPixels = int64_t(turned.Width) * turned.Height;
    }
    cells.columns_ = plane->Width();
    cells.rows_ = plane->Height();
    cells.entries_ = ChooseAllEntries(*plane, *dots);
    rotated.reset();
    times.Screening = watch.Lap();
    times.ScreenedPixels = int64_t(ScaledSide(cells.columns_, N)) * ScaledSide(cells.rows_, N);
    return cells;
}

void MakeRasterFromCells(const TScreenedCells& Cells, TLinearBitmap& Dest) {
    const TBitmapSize size = Cells.RasterSize();
    AllocateTarget(Dest, size.Width, size.Height,
                   Cells.Angle() > 0 ? RotatedTargetFileThreshold : ScreenTargetFileThreshold);
    FillRasterFromCells(Cells, Dest);
}

void FillRasterFromCells(const TScreenedCells& Cells, TLinearBitmap& Dest) {
    if (Dest.Width() != Cells.RasterSize().Width || Dest.Height() != Cells.RasterSize().Height)
        throw ELinearBitmap("Invalid bitmap size");
    // Unturned cells come back unchanged: with an angle of 0 every pixel is its own source.
    RotateCellScreen(Cells.Cells(), Dest, Cells.Angle());
    Dest.SetPalette(Cells.Palette().data());
}

void MakeRasterPattern(TLinearBitmap& Source, TLinearBitmap& Dest, int32_t CellSize,
                       uint8_t DotShape, double Angle, TRasterStageTimes* Times) {
    TRasterStageTimes ignored;
    TRasterStageTimes& times = Times ? *Times : ignored;
    times = {};
    RequireScreenable(Source, CellSize, DotShape);
    const int32_t N = CellSize;
    if (ScreenAngle(Angle) > 0) {
        // The chosen cells are turned back by looking the bits up in the cells and the dot
        // table directly, exactly as if the screen had been packed at one bit per pixel.
        const TScreenedCells cells = ScreenCells(Source, CellSize, DotShape, Angle, &times);
        TStopwatch watch;
        MakeRasterFromCells(cells, Dest);
        times.RotateBack = watch.Lap();
        times.OutputPixels = int64_t(Dest.Width()) * Dest.Height();
        return;
    }

    const TPalette palette = PaletteOf(Source);
    std::unique_ptr<TLinearBitmap> copy;
    TLinearBitmap* plane = &Source;
    if (&Source == &Dest) {
        copy = WorkingCopy(Source);
        plane = copy.get();
    }
    const int32_t outWidth = ScaledSide(plane->Width(), N);
    const int32_t outHeight = ScaledSide(plane->Height(), N);

    TStopwatch watch;
    const std::unique_ptr<TDotRows> dots = MakeDotRows(N, DotShape);
    times.DotTable = watch.Lap();
    AllocateTarget(Dest, outWidth, outHeight, ScreenTargetFileThreshold);
    Dest.SetPalette(palette.data());
    ScreenIntoBytes(*plane, Dest, *dots);
    times.Screening = watch.Lap();
    times.ScreenedPixels = times.OutputPixels = int64_t(outWidth) * outHeight;
}

} // namespace stipplor
