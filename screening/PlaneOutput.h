#pragma once
// Where the planes of a screening run end: 1-bit TIFF files beside the output path, new images
// in the host, or one indexed image that merges the screens of a run. Also the display
// palettes that make a plane look like its ink or light.
#include "bitmap/FileMappedBitmap.h"
#include "bitmap/LinarBitmap.h"
#include "engine/ColorSeparation.h"
#include "engine/HalftoneScreen.h"
#include "tiff/TIFFLoader.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace stipplor {

// Every kind of result image. K is also the one plane of Grayscale.
enum class TPlane : uint8_t { K, C, M, Y, R, G, B, CMYK, RGB };

struct TPlaneInfo {
    std::string_view TitleSuffix; // after the document's base name
    std::string_view FileSuffix;  // after the output path; empty for combined images
    bool Ink = true;              // 255 is full ink; otherwise full light
    uint32_t Colour = 0;          // of full ink or light, red in the lowest byte
};
const TPlaneInfo& PlaneInfo(TPlane Plane) noexcept;

// Colours with red in the lowest byte, green in the middle one and blue in the highest.
inline constexpr uint32_t ColourWhite = 0xFFFFFF;
inline constexpr uint32_t ColourBlack = 0x000000;

// Palette entry i becomes BlendColors(To, From, i, 255): From at 0, To at 255.
void FillRamp(uint8_t* Palette, uint32_t From, uint32_t To);
// The plane's display ramp: from white to its ink, or from black to its light; with InColor
// off, ink planes ramp to black and light planes get the grey palette.
void SetPlanePalette(TLinearBitmap& Plane, TPlane Kind, bool InColor);

// Every byte of every row becomes 255 minus itself.
void InvertPlane(TLinearBitmap& Plane);

// A windowed raster is moved into memory, so that its pixels can be read as one block.
// Raises "Out of memory" when it is too large for one block.
void MakeContiguous(TLinearBitmap& Bitmap);

// The writer options of a plane's file: bilevel, and white as zero for ink planes unless
// inverted and for light planes when inverted, so that dots are black on white by default.
TTIFFOptions PlaneFileOptions(TPlane Plane, bool Invert) noexcept;
// The output path as entered, followed directly by the plane's file suffix.
std::string PlaneFileName(std::string_view OutputPath, TPlane Plane);

// The combined images are made from the cells of each screen, without a raster per plane: each
// plate's packed rows are spread into the combined image as its bit. The combined image is made
// in memory; "Out of memory" when it cannot be one block, as moving a raster into memory fails.
//
// The combined CMYK image starts as C: its pixels 1 where C has a dot, its palette the 16
// overprints of C (1), M (2), Y (4) and K (8), black wherever K is, white beyond 15.
[[nodiscard]] std::unique_ptr<TFileMappedBitmap> StartCMYKCombination(const TScreenedCells& C);
// ORs Bit into the combined pixels wherever the screen of Cells has a dot; same size.
void AddToCMYKCombination(TLinearBitmap& Combined, const TScreenedCells& Cells, uint8_t Bit);
// The combined RGB image of three screens of one size: 1 for R, 2 for G, 4 for B light, with
// the 8 additive mixtures as palette (black beyond 7). The cells are freed.
[[nodiscard]] std::unique_ptr<TFileMappedBitmap>
CombineRGBPlanes(std::array<TScreenedCells, 3>& Cells);

// Raster becomes the raster of Cells for the host, which reads it as one block: made in memory
// at once where it can be one block, rather than in a temporary file that is moved into memory
// later. A larger one goes where MakeRasterFromCells puts it, and delivery then fails.
void MakeHostRaster(const TScreenedCells& Cells, TFileMappedBitmap& Raster);

// Writes the raster of Cells as the bilevel file Writer would write for it, without making the
// raster: threads take bands of rows, fill them with packed rows and write each band at its
// place in the file. A failure removes the file.
void WritePlateFile(const TScreenedCells& Cells, const std::string& FileName,
                    const TTIFFLoader& Writer);

// Sends a new image with its title to the host; the host copies it before returning.
using TSendImage = std::function<void(const TLinearBitmap& Bitmap, const std::string& Title)>;

struct TPlaneOutputOptions {
    bool FileOutput = false;
    std::string OutputPath; // as entered, not trimmed
    bool Invert = false;
    std::string TitleBase; // the document's base name
};

// Delivers the results of one run as the options say.
class TPlaneOutput {
public:
    TPlaneOutput(TPlaneOutputOptions Options, TSendImage SendImage);

    bool FileOutput() const noexcept { return options_.FileOutput; }

    bool SendsToHost() const noexcept { return static_cast<bool>(sendImage_); }

    // Writes the screen of Cells as a 1-bit TIFF file, made straight from the cells; an
    // existing file is overwritten.
    void EmitPlaneFile(const TScreenedCells& Cells, TPlane Plane);
    // A new host image titled with the base name and the plane's suffix. Without a host to
    // receive images nothing is sent.
    void SendPlaneToHost(TLinearBitmap& Bitmap, TPlane Plane);
    // CombineRGBPlanes, then the combined image to the host.
    void CombineRGB(std::array<TScreenedCells, 3>& Cells);

private:
    TPlaneOutputOptions options_;
    TSendImage sendImage_;
};

} // namespace stipplor
