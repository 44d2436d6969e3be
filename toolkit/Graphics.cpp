#include "toolkit/Graphics.h"

#include "core/Rounding.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace toolkit {

int BitsPerPixel(TPixelFormat format) noexcept {
    switch (format) {
    case pf1bit:
        return 1;
    case pf4bit:
        return 4;
    case pf8bit:
        return 8;
    case pf15bit:
    case pf16bit:
        return 16;
    case pfDevice:
    case pf24bit:
        return 24;
    case pf32bit:
        return 32;
    default:
        return 0;
    }
}

// --- palette objects ---------------------------------------------------------------------

namespace {

struct PaletteTable {
    std::mutex lock;
    std::unordered_map<HPALETTE, std::vector<TPaletteEntry>> palettes;
    HPALETTE next = 1;
};

// Never destroyed: bitmaps in static objects still free their palettes at process exit.
PaletteTable& Palettes() {
    static PaletteTable* table = new PaletteTable;
    return *table;
}

} // namespace

HPALETTE CreatePalette(const TPaletteEntry* entries, int count) {
    if (entries == nullptr || count < 1 || count > MaxPaletteEntries)
        return 0;
    std::vector<TPaletteEntry> copy(entries, entries + count);
    PaletteTable& table = Palettes();
    std::lock_guard guard(table.lock);
    HPALETTE handle = table.next++;
    table.palettes.emplace(handle, std::move(copy));
    return handle;
}

int GetPaletteEntries(HPALETTE palette, int start, int count, TPaletteEntry* out) {
    if (out == nullptr || start < 0 || count < 1)
        return 0;
    PaletteTable& table = Palettes();
    std::lock_guard guard(table.lock);
    auto found = table.palettes.find(palette);
    if (found == table.palettes.end())
        return 0;
    const auto& entries = found->second;
    if (start >= static_cast<int>(entries.size()))
        return 0;
    int copied = std::min(count, static_cast<int>(entries.size()) - start);
    std::copy_n(entries.begin() + start, copied, out);
    return copied;
}

int PaletteEntryCount(HPALETTE palette) {
    PaletteTable& table = Palettes();
    std::lock_guard guard(table.lock);
    auto found = table.palettes.find(palette);
    return found == table.palettes.end() ? 0 : static_cast<int>(found->second.size());
}

bool DeletePalette(HPALETTE palette) {
    PaletteTable& table = Palettes();
    std::lock_guard guard(table.lock);
    return table.palettes.erase(palette) == 1;
}

// --- assignable objects ------------------------------------------------------------------

void RaiseAssignError(const char* sourceClass, const char* destClass) {
    throw EConvertError(std::string("Cannot assign ") + sourceClass + " to " + destClass);
}

TPersistent::~TPersistent() = default;

const char* TPersistent::ClassName() const {
    return "TPersistent";
}

void TPersistent::Assign(TPersistent& Source) {
    Source.AssignTo(*this);
}

void TPersistent::AssignTo(TPersistent& Dest) {
    RaiseAssignError(ClassName(), Dest.ClassName());
}

const char* TGraphic::ClassName() const {
    return "TGraphic";
}
int TGraphic::Width() const {
    return 0;
}
int TGraphic::Height() const {
    return 0;
}
void TGraphic::SetWidth(int) {}
void TGraphic::SetHeight(int) {}

// --- pixel rows --------------------------------------------------------------------------

namespace {

constexpr int64_t MaxBitmapBytes = INT32_MAX;

bool IsIndexed(TPixelFormat format) noexcept {
    return format == pf1bit || format == pf4bit || format == pf8bit;
}

int64_t RowBytesFor(int width, TPixelFormat format) noexcept {
    return (static_cast<int64_t>(width) * BitsPerPixel(format) + 31) / 32 * 4;
}

// Row length of a bitmap of that size, which must fit MaxBitmapBytes. Divides rather than
// multiplies: rows times height can overflow even 64 bits.
int64_t CheckedRowBytes(int width, int height, TPixelFormat format) {
    const int64_t rowBytes = RowBytesFor(width, format);
    if (height > 0 && rowBytes > MaxBitmapBytes / height)
        throw EInvalidGraphic("Bitmap too large");
    return rowBytes;
}

uint8_t GreyLevel(uint8_t b, uint8_t g, uint8_t r) noexcept {
    return static_cast<uint8_t>((2 * r + 3 * g + b + 3) / 6);
}

void ReadIndexes(TPixelFormat format, const uint8_t* row, int x0, int count, uint8_t* idx) {
    switch (format) {
    case pf1bit:
        for (int i = 0; i < count; ++i) {
            int bit = x0 + i;
            idx[i] = (row[bit >> 3] >> (7 - (bit & 7))) & 1;
        }
        break;
    case pf4bit:
        for (int i = 0; i < count; ++i) {
            int p = x0 + i;
            uint8_t byte = row[p >> 1];
            idx[i] = (p & 1) ? (byte & 0x0F) : (byte >> 4);
        }
        break;
    default:
        std::memcpy(idx, row + x0, static_cast<size_t>(count));
        break;
    }
}

void WriteIndexes(TPixelFormat format, const uint8_t* idx, int count, uint8_t* row, int x0) {
    switch (format) {
    case pf1bit:
        for (int i = 0; i < count; ++i) {
            int bit = x0 + i;
            uint8_t mask = static_cast<uint8_t>(0x80 >> (bit & 7));
            uint8_t& byte = row[bit >> 3];
            byte = (idx[i] & 1) ? (byte | mask) : (byte & ~mask);
        }
        break;
    case pf4bit:
        for (int i = 0; i < count; ++i) {
            int p = x0 + i;
            uint8_t& byte = row[p >> 1];
            byte = (p & 1) ? ((byte & 0xF0) | (idx[i] & 0x0F)) : ((byte & 0x0F) | (idx[i] << 4));
        }
        break;
    default:
        std::memcpy(row + x0, idx, static_cast<size_t>(count));
        break;
    }
}

// Index rows are unpacked through a small stack buffer, a chunk at a time.
constexpr int IndexChunk = 256;

uint8_t Expand5(unsigned v) noexcept {
    return static_cast<uint8_t>((v << 3) | (v >> 2));
}

// Reads `count` pixels from column x0 of a stored row as blue, green, red triples. Indexes
// the palette does not have read as black.
void DecodeRow(TPixelFormat format, const std::vector<TPaletteEntry>& palette, const uint8_t* row,
               int x0, int count, uint8_t* bgr) {
    switch (format) {
    case pf1bit:
    case pf4bit:
    case pf8bit: {
        const size_t known = palette.size();
        uint8_t idx[IndexChunk];
        for (int done = 0; done < count; done += IndexChunk) {
            const int n = std::min(IndexChunk, count - done);
            ReadIndexes(format, row, x0 + done, n, idx);
            for (int i = 0; i < n; ++i, bgr += 3) {
                TPaletteEntry e = idx[i] < known ? palette[idx[i]] : TPaletteEntry{0, 0, 0, 0};
                bgr[0] = e.peBlue;
                bgr[1] = e.peGreen;
                bgr[2] = e.peRed;
            }
        }
        break;
    }
    case pf15bit:
        row += 2 * static_cast<int64_t>(x0);
        for (int i = 0; i < count; ++i, row += 2, bgr += 3) {
            unsigned v = row[0] | (row[1] << 8);
            bgr[0] = Expand5(v & 31);
            bgr[1] = Expand5((v >> 5) & 31);
            bgr[2] = Expand5((v >> 10) & 31);
        }
        break;
    case pf16bit:
        row += 2 * static_cast<int64_t>(x0);
        for (int i = 0; i < count; ++i, row += 2, bgr += 3)
            bgr[0] = bgr[1] = bgr[2] = row[1];
        break;
    case pf32bit:
        row += 4 * static_cast<int64_t>(x0);
        for (int i = 0; i < count; ++i, row += 4, bgr += 3) {
            bgr[0] = row[0];
            bgr[1] = row[1];
            bgr[2] = row[2];
        }
        break;
    default: // pfDevice, pf24bit
        std::memcpy(bgr, row + 3 * static_cast<int64_t>(x0), 3 * static_cast<size_t>(count));
        break;
    }
}

// Writes `count` colours into a row of a direct-colour format (15 bits and up).
void EncodeDirectRow(TPixelFormat format, const uint8_t* bgr, int count, uint8_t* row, int x0) {
    switch (format) {
    case pf15bit:
        row += 2 * static_cast<int64_t>(x0);
        for (int i = 0; i < count; ++i, row += 2, bgr += 3) {
            unsigned v = (bgr[0] >> 3) | ((bgr[1] >> 3) << 5) | ((bgr[2] >> 3) << 10);
            row[0] = static_cast<uint8_t>(v);
            row[1] = static_cast<uint8_t>(v >> 8);
        }
        break;
    case pf16bit:
        row += 2 * static_cast<int64_t>(x0);
        for (int i = 0; i < count; ++i, row += 2, bgr += 3)
            row[0] = row[1] = GreyLevel(bgr[0], bgr[1], bgr[2]); // level * 257
        break;
    case pf32bit:
        row += 4 * static_cast<int64_t>(x0);
        for (int i = 0; i < count; ++i, row += 4, bgr += 3) {
            row[0] = bgr[0];
            row[1] = bgr[1];
            row[2] = bgr[2];
            row[3] = 0;
        }
        break;
    default: // pfDevice, pf24bit
        std::memcpy(row + 3 * static_cast<int64_t>(x0), bgr, 3 * static_cast<size_t>(count));
        break;
    }
}

// The fixed rules by which colours become indexes when a bitmap changes to a palette format.
void ConversionIndexes(TPixelFormat format, const uint8_t* bgr, int count, uint8_t* idx) {
    for (int i = 0; i < count; ++i, bgr += 3) {
        uint8_t b = bgr[0], g = bgr[1], r = bgr[2];
        switch (format) {
        case pf1bit:
            idx[i] = GreyLevel(b, g, r) >= 128 ? 1 : 0;
            break;
        case pf4bit:
            idx[i] = static_cast<uint8_t>((GreyLevel(b, g, r) + 8) / 17);
            break;
        default:
            idx[i] = static_cast<uint8_t>((r & 0xE0) | (((g >> 5) & 7) << 2) | (b >> 6));
            break;
        }
    }
}

int NearestIndex(const std::vector<TPaletteEntry>& palette, uint8_t b, uint8_t g, uint8_t r) {
    int best = 0;
    int bestDistance = INT_MAX;
    for (size_t i = 0; i < palette.size(); ++i) {
        int db = palette[i].peBlue - b, dg = palette[i].peGreen - g, dr = palette[i].peRed - r;
        int distance = db * db + dg * dg + dr * dr;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<int>(i);
        }
    }
    return best;
}

std::vector<TPaletteEntry> GreyPalette(int levels) {
    std::vector<TPaletteEntry> entries(static_cast<size_t>(levels));
    for (int i = 0; i < levels; ++i) {
        auto v = static_cast<uint8_t>(i * 255 / (levels - 1));
        entries[i] = {v, v, v, 0};
    }
    return entries;
}

std::vector<TPaletteEntry> DefaultPalette(TPixelFormat format) {
    switch (format) {
    case pf1bit:
        return GreyPalette(2);
    case pf4bit:
        return GreyPalette(16);
    case pf8bit:
        return GreyPalette(256);
    default:
        return {};
    }
}

std::vector<TPaletteEntry> Palette332() {
    std::vector<TPaletteEntry> entries(256);
    for (int i = 0; i < 256; ++i) {
        entries[i].peRed = static_cast<uint8_t>(stipplor::RoundToInt32(((i >> 5) & 7) * 255.0 / 7));
        entries[i].peGreen =
            static_cast<uint8_t>(stipplor::RoundToInt32(((i >> 2) & 7) * 255.0 / 7));
        entries[i].peBlue = static_cast<uint8_t>((i & 3) * 85);
        entries[i].peFlags = 0;
    }
    return entries;
}

std::vector<TPaletteEntry> ConversionPalette(TPixelFormat format) {
    return format == pf8bit ? Palette332() : DefaultPalette(format);
}

} // namespace

// --- TBitmap -----------------------------------------------------------------------------

TBitmap::TBitmap() : canvas_(*this) {}

TBitmap::~TBitmap() {
    if (palette_ != 0)
        DeletePalette(palette_);
}

const char* TBitmap::ClassName() const {
    return "TBitmap";
}

void TBitmap::SetWidth(int width) {
    SetSize(width, height_);
}
void TBitmap::SetHeight(int height) {
    SetSize(width_, height);
}

void TBitmap::SetSize(int width, int height) {
    if (width == width_ && height == height_)
        return;
    Reallocate(width, height, format_, true);
}

void TBitmap::Reallocate(int width, int height, TPixelFormat format, bool keepPixels) {
    if (width < 0 || height < 0)
        throw EInvalidGraphic("Invalid bitmap size");
    const int64_t rowBytes = CheckedRowBytes(width, height, format);
    std::vector<uint8_t> bits(static_cast<size_t>(rowBytes * height), 0);
    if (keepPixels && !bits.empty() && !bits_.empty()) {
        const int rows = std::min(height, height_);
        const size_t bytes =
            static_cast<size_t>(RowBytesFor(std::min(width, width_), format)); // whole words
        for (int y = 0; y < rows; ++y)
            std::memcpy(bits.data() + (height - 1 - y) * rowBytes,
                        bits_.data() + static_cast<int64_t>(height_ - 1 - y) * rowBytes_, bytes);
    }
    bits_ = std::move(bits);
    width_ = width;
    height_ = height;
    format_ = format;
    rowBytes_ = static_cast<int>(rowBytes);
}

uint8_t* TBitmap::ScanLine(int y) {
    return const_cast<uint8_t*>(static_cast<const TBitmap*>(this)->ScanLine(y));
}

const uint8_t* TBitmap::ScanLine(int y) const {
    if (y < 0 || y >= height_)
        throw EInvalidGraphic("Scan line index out of range");
    return bits_.data() + static_cast<int64_t>(height_ - 1 - y) * rowBytes_;
}

void TBitmap::ReadRowBGR(int y, int x, int count, uint8_t* bgr) const {
    if (x < 0 || count < 0 || count > width_ - x)
        throw EInvalidGraphic("Pixel range out of bounds");
    DecodeRow(format_, entries_, ScanLine(y), x, count, bgr);
}

void TBitmap::ReplacePalette(std::vector<TPaletteEntry> entries) {
    HPALETTE handle = 0;
    if (!entries.empty()) {
        handle = CreatePalette(entries.data(), static_cast<int>(entries.size()));
        if (handle == 0)
            throw EInvalidGraphic("Invalid palette");
    }
    if (palette_ != 0)
        DeletePalette(palette_);
    palette_ = handle;
    entries_ = std::move(entries);
}

void TBitmap::SetPalette(HPALETTE palette) {
    const int bits = BitsPerPixel(format_);
    if (bits > 8)
        return;
    if (palette == 0) {
        ReplacePalette(DefaultPalette(format_));
        return;
    }
    const int count = std::min(PaletteEntryCount(palette), 1 << bits);
    if (count == 0)
        throw EInvalidGraphic("Invalid palette");
    std::vector<TPaletteEntry> entries(static_cast<size_t>(count));
    GetPaletteEntries(palette, 0, count, entries.data());
    ReplacePalette(std::move(entries));
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (BitsPerPixel(format) == 0)
        throw EInvalidGraphic("Invalid pixel format");
    if (format == format_)
        return;
    ConvertPixels(format);
    monochrome_ = false;
}

void TBitmap::SetMonochrome(bool monochrome) {
    if (monochrome && format_ != pf1bit)
        ConvertPixels(pf1bit);
    monochrome_ = monochrome;
}

void TBitmap::ConvertPixels(TPixelFormat target) {
    const TPixelFormat source = format_;
    const bool sameLayout = BitsPerPixel(source) == 24 && BitsPerPixel(target) == 24;
    if (width_ == 0 || height_ == 0 || sameLayout) {
        Reallocate(width_, height_, target, true);
        ReplacePalette(DefaultPalette(target));
        return;
    }
    const int64_t rowBytes = CheckedRowBytes(width_, height_, target);
    std::vector<uint8_t> bits(static_cast<size_t>(rowBytes * height_), 0);
    std::vector<uint8_t> idx(static_cast<size_t>(width_));
    std::vector<uint8_t> bgr(3 * static_cast<size_t>(width_));
    // Widening an index format keeps every index; narrowing goes through colours.
    const bool keepIndexes =
        IsIndexed(source) && IsIndexed(target) && BitsPerPixel(target) > BitsPerPixel(source);
    const bool greyHighBytes = source == pf16bit && target == pf8bit;
    std::vector<TPaletteEntry> palette = keepIndexes     ? entries_
                                         : greyHighBytes ? GreyPalette(256)
                                                         : ConversionPalette(target);
    for (int64_t r = 0; r < height_; ++r) {
        const uint8_t* from = bits_.data() + r * rowBytes_;
        uint8_t* to = bits.data() + r * rowBytes;
        if (keepIndexes) {
            ReadIndexes(source, from, 0, width_, idx.data());
            WriteIndexes(target, idx.data(), width_, to, 0);
        } else if (greyHighBytes) {
            for (int x = 0; x < width_; ++x)
                to[x] = from[2 * x + 1];
        } else {
            DecodeRow(source, entries_, from, 0, width_, bgr.data());
            if (IsIndexed(target)) {
                ConversionIndexes(target, bgr.data(), width_, idx.data());
                WriteIndexes(target, idx.data(), width_, to, 0);
            } else {
                EncodeDirectRow(target, bgr.data(), width_, to, 0);
            }
        }
    }
    ReplacePalette(std::move(palette));
    bits_ = std::move(bits);
    format_ = target;
    rowBytes_ = static_cast<int>(rowBytes);
}

void TBitmap::Draw(TCanvas& canvas, int x, int y) {
    if (Empty())
        return;
    if (&canvas.Bitmap() == this) { // drawing onto itself: read from a copy
        auto copy = Clone();
        copy->Draw(canvas, x, y);
        return;
    }
    const TBitmap& dest = canvas.Bitmap();
    const int64_t firstX = std::max<int64_t>(0, -static_cast<int64_t>(x));
    const int64_t lastX = std::min<int64_t>(width_, static_cast<int64_t>(dest.width_) - x);
    const int64_t firstY = std::max<int64_t>(0, -static_cast<int64_t>(y));
    const int64_t lastY = std::min<int64_t>(height_, static_cast<int64_t>(dest.height_) - y);
    if (firstX >= lastX || firstY >= lastY)
        return;
    const int count = static_cast<int>(lastX - firstX);
    std::vector<uint8_t> bgr(3 * static_cast<size_t>(count));
    for (int64_t sy = firstY; sy < lastY; ++sy) {
        ReadRowBGR(static_cast<int>(sy), static_cast<int>(firstX), count, bgr.data());
        canvas.WriteRowBGR(static_cast<int>(x + firstX), static_cast<int>(y + sy), bgr.data(),
                           count);
    }
}

std::unique_ptr<TGraphic> TBitmap::Clone() const {
    auto copy = std::make_unique<TBitmap>();
    copy->bits_ = bits_;
    copy->width_ = width_;
    copy->height_ = height_;
    copy->format_ = format_;
    copy->rowBytes_ = rowBytes_;
    copy->monochrome_ = monochrome_;
    copy->ReplacePalette(entries_);
    return copy;
}

void TBitmap::Assign(TPersistent& Source) {
    if (&Source == this)
        return;
    if (auto* bitmap = dynamic_cast<TBitmap*>(&Source)) {
        std::vector<uint8_t> bits = bitmap->bits_;
        ReplacePalette(bitmap->entries_);
        bits_ = std::move(bits);
        width_ = bitmap->width_;
        height_ = bitmap->height_;
        format_ = bitmap->format_;
        rowBytes_ = bitmap->rowBytes_;
        monochrome_ = bitmap->monochrome_;
        return;
    }
    if (auto* picture = dynamic_cast<TPicture*>(&Source)) {
        if (picture->Graphic() == nullptr)
            Reallocate(0, 0, format_, false);
        else
            Assign(*picture->Graphic());
        return;
    }
    TGraphic::Assign(Source);
}

// --- TCanvas -----------------------------------------------------------------------------

void TCanvas::Draw(int x, int y, TGraphic& graphic) {
    graphic.Draw(*this, x, y);
}

void TCanvas::WriteRowBGR(int x, int y, const uint8_t* bgr, int count) {
    TBitmap& bitmap = owner_;
    if (y < 0 || y >= bitmap.height_ || count <= 0)
        return;
    const int64_t first = std::max(x, 0);
    const int64_t last = std::min<int64_t>(static_cast<int64_t>(x) + count, bitmap.width_);
    if (first >= last)
        return;
    bgr += 3 * (first - x);
    const int n = static_cast<int>(last - first);
    uint8_t* row = bitmap.ScanLine(y);
    if (!IsIndexed(bitmap.format_)) {
        EncodeDirectRow(bitmap.format_, bgr, n, row, static_cast<int>(first));
        return;
    }
    // Runs of one colour (fills) look the nearest entry up once.
    int lastIndex = -1;
    uint32_t lastColour = 0;
    uint8_t idx[IndexChunk];
    for (int done = 0; done < n; done += IndexChunk) {
        const int chunk = std::min(IndexChunk, n - done);
        for (int i = 0; i < chunk; ++i, bgr += 3) {
            const uint32_t colour = bgr[0] | (bgr[1] << 8) | (bgr[2] << 16);
            if (lastIndex < 0 || colour != lastColour) {
                lastIndex = NearestIndex(bitmap.entries_, bgr[0], bgr[1], bgr[2]);
                lastColour = colour;
            }
            idx[i] = static_cast<uint8_t>(lastIndex);
        }
        WriteIndexes(bitmap.format_, idx, chunk, row, static_cast<int>(first) + done);
    }
}

void TCanvas::FillRect(int left, int top, int right, int bottom, TColor color) {
    TBitmap& bitmap = owner_;
    const int x0 = std::max(left, 0), x1 = std::min(right, bitmap.width_);
    const int y0 = std::max(top, 0), y1 = std::min(bottom, bitmap.height_);
    if (x0 >= x1 || y0 >= y1)
        return;
    std::vector<uint8_t> bgr(3 * static_cast<size_t>(x1 - x0));
    for (size_t i = 0; i < bgr.size(); i += 3) {
        bgr[i] = BlueOf(color);
        bgr[i + 1] = GreenOf(color);
        bgr[i + 2] = RedOf(color);
    }
    for (int y = y0; y < y1; ++y)
        WriteRowBGR(x0, y, bgr.data(), x1 - x0);
}

TColor TCanvas::Pixel(int x, int y) const {
    const TBitmap& bitmap = owner_;
    if (x < 0 || y < 0 || x >= bitmap.width_ || y >= bitmap.height_)
        return 0;
    uint8_t bgr[3];
    bitmap.ReadRowBGR(y, x, 1, bgr);
    return RGBColor(bgr[2], bgr[1], bgr[0]);
}

void TCanvas::SetPixel(int x, int y, TColor color) {
    const uint8_t bgr[3] = {BlueOf(color), GreenOf(color), RedOf(color)};
    WriteRowBGR(x, y, bgr, 1);
}

// --- TShapeGraphic -----------------------------------------------------------------------

const char* TShapeGraphic::ClassName() const {
    return "TShapeGraphic";
}

void TShapeGraphic::Draw(TCanvas& canvas, int x, int y) {
    auto end = [](int from, int extent) {
        return static_cast<int>(std::min<int64_t>(static_cast<int64_t>(from) + extent, INT_MAX));
    };
    canvas.FillRect(x, y, end(x, width_), end(y, height_), color_);
}

std::unique_ptr<TGraphic> TShapeGraphic::Clone() const {
    return std::make_unique<TShapeGraphic>(width_, height_, color_);
}

void TShapeGraphic::Assign(TPersistent& Source) {
    if (auto* shape = dynamic_cast<TShapeGraphic*>(&Source)) {
        width_ = shape->width_;
        height_ = shape->height_;
        color_ = shape->color_;
        return;
    }
    TGraphic::Assign(Source);
}

// --- TPicture ----------------------------------------------------------------------------

const char* TPicture::ClassName() const {
    return "TPicture";
}

TBitmap& TPicture::Bitmap() {
    if (auto* bitmap = dynamic_cast<TBitmap*>(graphic_.get()))
        return *bitmap;
    auto bitmap = std::make_unique<TBitmap>();
    TBitmap& result = *bitmap;
    graphic_ = std::move(bitmap);
    return result;
}

void TPicture::Assign(TPersistent& Source) {
    if (auto* picture = dynamic_cast<TPicture*>(&Source)) {
        graphic_ = picture->graphic_ ? picture->graphic_->Clone() : nullptr;
        return;
    }
    if (auto* graphic = dynamic_cast<TGraphic*>(&Source)) {
        graphic_ = graphic->Clone();
        return;
    }
    TPersistent::Assign(Source);
}

} // namespace toolkit
