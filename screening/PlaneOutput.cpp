#include "screening/PlaneOutput.h"

#include "engine/MultiCoreProcessing.h"
#include "engine/PackedScreen.h"
#include "engine/PlateRaster.h"
#include "engine/RowLoop.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <utility>
#include <vector>

namespace stipplor {

namespace {

constexpr uint32_t ColourCyan = 0xFFFF00;
constexpr uint32_t ColourMagenta = 0xFF00FF;
constexpr uint32_t ColourYellow = 0x00FFFF;
constexpr uint32_t ColourRed = 0x0000FF;
constexpr uint32_t ColourGreen = 0x00FF00;
constexpr uint32_t ColourBlue = 0xFF0000;

constexpr std::array<TPlaneInfo, 9> PlaneTable = {{
    {" [K]", "[K].tif", true, ColourBlack},
    {" [C]", "[C].tif", true, ColourCyan},
    {" [M]", "[M].tif", true, ColourMagenta},
    {" [Y]", "[Y].tif", true, ColourYellow},
    {" [R]", "[R].tif", false, ColourRed},
    {" [G]", "[G].tif", false, ColourGreen},
    {" [B]", "[B].tif", false, ColourBlue},
    {" [CMYK]", "", true, ColourBlack},
    {" [RGB]", "", false, ColourWhite},
}};

// Palette entries are stored blue, green, red.
void SetEntry(uint8_t* Palette, int Index, uint32_t Colour) {
    Palette[3 * Index] = static_cast<uint8_t>(Colour >> 16);
    Palette[3 * Index + 1] = static_cast<uint8_t>(Colour >> 8);
    Palette[3 * Index + 2] = static_cast<uint8_t>(Colour);
}

// The overprints of C (1), M (2), Y (4) and K (8): paper white, each ink takes its light, K
// is black; white beyond 15.
TPalette CMYKCombinationPalette() {
    TPalette palette;
    palette.fill(255);
    for (int i = 0; i < 16; ++i) {
        uint8_t* entry = &palette[3 * static_cast<size_t>(i)];
        if (i & 1)
            entry[2] = 0; // cyan takes the red
        if (i & 2)
            entry[1] = 0; // magenta the green
        if (i & 4)
            entry[0] = 0; // yellow the blue
        if (i & 8)
            entry[0] = entry[1] = entry[2] = 0;
    }
    return palette;
}

// The additive mixtures of R (1), G (2) and B (4); black beyond 7.
TPalette RGBCombinationPalette() {
    TPalette palette{};
    for (int i = 0; i < 8; ++i)
        SetEntry(palette.data(), i,
                 ((i & 1) ? ColourRed : 0) | ((i & 2) ? ColourGreen : 0) |
                     ((i & 4) ? ColourBlue : 0));
    return palette;
}

std::unique_ptr<TFileMappedBitmap> NewImageInMemory(TBitmapSize Size) {
    auto image = std::make_unique<TFileMappedBitmap>();
    image->AllocateIn(Size.Width, Size.Height, PixelFormat8, bsMemory, true);
    return image;
}

// Bit where the plate of Cells has a dot: stored (0 elsewhere) or ORed in.
void SpreadCells(const TScreenedCells& Cells, TLinearBitmap& Combined, uint8_t Bit, TSpread Op) {
    SpreadPlate(TPackedScreen(Cells.Cells(), Cells.Angle(), Cells.RasterSize()), Combined, Bit, Op);
}

} // namespace

const TPlaneInfo& PlaneInfo(TPlane Plane) noexcept {
    return PlaneTable[static_cast<size_t>(Plane)];
}

void FillRamp(uint8_t* Palette, uint32_t From, uint32_t To) {
    for (int i = 0; i < 256; ++i)
        SetEntry(Palette, i, BlendColors(To, From, i, 255));
}

void SetPlanePalette(TLinearBitmap& Plane, TPlane Kind, bool InColor) {
    const TPlaneInfo& info = PlaneInfo(Kind);
    TPalette palette = GrayPalette;
    if (info.Ink)
        FillRamp(palette.data(), ColourWhite, InColor ? info.Colour : ColourBlack);
    else if (InColor)
        FillRamp(palette.data(), ColourBlack, info.Colour);
    Plane.SetPalette(palette.data());
}

void InvertPlane(TLinearBitmap& Plane) {
    const size_t bytes = static_cast<size_t>(Plane.BytesPerLine());
    ForEachRow(Plane.Height(), !Plane.IsWindowed(), [&](int32_t y) {
        uint8_t* row = Plane.RowPointer(y);
        for (size_t x = 0; x < bytes; ++x)
            row[x] = static_cast<uint8_t>(255 - row[x]);
    });
}

void MakeContiguous(TLinearBitmap& Bitmap) {
    if (Bitmap.IsWindowed())
        dynamic_cast<TFileMappedBitmap&>(Bitmap).MoveToMemory();
}

TTIFFOptions PlaneFileOptions(TPlane Plane, bool Invert) noexcept {
    const bool whiteIsZero = PlaneInfo(Plane).Ink != Invert;
    return static_cast<TTIFFOptions>(tlBilevel | (whiteIsZero ? tlWhiteIsZero : 0));
}

std::string PlaneFileName(std::string_view OutputPath, TPlane Plane) {
    std::string name(OutputPath);
    name += PlaneInfo(Plane).FileSuffix;
    return name;
}

std::unique_ptr<TFileMappedBitmap> StartCMYKCombination(const TScreenedCells& C) {
    auto combined = NewImageInMemory(C.RasterSize());
    combined->SetPalette(CMYKCombinationPalette().data());
    SpreadCells(C, *combined, 1, TSpread::Store);
    return combined;
}

void AddToCMYKCombination(TLinearBitmap& Combined, const TScreenedCells& Cells, uint8_t Bit) {
    MakeContiguous(Combined);
    SpreadCells(Cells, Combined, Bit, TSpread::Or);
}

std::unique_ptr<TFileMappedBitmap> CombineRGBPlanes(std::array<TScreenedCells, 3>& Cells) {
    const TBitmapSize size = Cells[0].RasterSize();
    if (Cells[1].RasterSize() != size || Cells[2].RasterSize() != size)
        throw ELinearBitmap("Invalid bitmap size");
    auto combined = NewImageInMemory(size);
    constexpr std::array<uint8_t, 3> bits = {1, 2, 4};
    for (size_t i = 0; i < 3; ++i)
        SpreadCells(std::exchange(Cells[i], {}), *combined, bits[i],
                    i == 0 ? TSpread::Store : TSpread::Or);
    combined->SetPalette(RGBCombinationPalette().data());
    return combined;
}

void MakeHostRaster(const TScreenedCells& Cells, TFileMappedBitmap& Raster) {
    const TBitmapSize size = Cells.RasterSize();
    if (int64_t{size.Width} * size.Height > MaxBlockBytes) {
        MakeRasterFromCells(Cells, Raster);
        return;
    }
    Raster.AllocateIn(size.Width, size.Height, PixelFormat8, bsMemory, true);
    FillRasterFromCells(Cells, Raster);
}

void WritePlateFile(const TScreenedCells& Cells, const std::string& FileName,
                    const TTIFFLoader& Writer) {
    const TBitmapSize size = Cells.RasterSize();
    const TPackedScreen plate(Cells.Cells(), Cells.Angle(), size);
    TBilevelFileWriter file(FileName, size.Width, size.Height, Writer);
    ForEachPlateBand(plate, 0, size.Height, [&](int32_t y0, int32_t y1, const uint8_t* rows) {
        file.WriteRows(y0, y1 - y0, rows);
    });
    file.Finish();
}

TPlaneOutput::TPlaneOutput(TPlaneOutputOptions Options, TSendImage SendImage)
    : options_(std::move(Options)), sendImage_(std::move(SendImage)) {}

void TPlaneOutput::EmitPlaneFile(const TScreenedCells& Cells, TPlane Plane) {
    TTIFFLoader& writer = TIFFLoaderInstance();
    writer.Options = PlaneFileOptions(Plane, options_.Invert);
    WritePlateFile(Cells, PlaneFileName(options_.OutputPath, Plane), writer);
}

void TPlaneOutput::SendPlaneToHost(TLinearBitmap& Bitmap, TPlane Plane) {
    if (!sendImage_)
        return;
    MakeContiguous(Bitmap);
    sendImage_(Bitmap, options_.TitleBase + std::string(PlaneInfo(Plane).TitleSuffix));
}

void TPlaneOutput::CombineRGB(std::array<TScreenedCells, 3>& Cells) {
    const std::unique_ptr<TFileMappedBitmap> combined = CombineRGBPlanes(Cells);
    SendPlaneToHost(*combined, TPlane::RGB);
}

} // namespace stipplor
