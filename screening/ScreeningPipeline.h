#pragma once
// The screening run behind the dialog's OK button: the picture is split into printing planes
// (grey; C, M, Y, K; or R, G, B), each plane is screened at its own angle, and every result
// goes to the output (files or host images). Progress is reported at fixed percentages; a
// report may raise EAbort to cancel. Whatever fails or is cancelled, every plane, raster and
// combined image of the run is freed; files written and images sent before stay.
#include "bitmap/LinarBitmap.h"
#include "screening/PlaneOutput.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace stipplor {

struct TScreeningSettings {
    int32_t ColorMode = -1; // 0 Grayscale, 1 CMYK, 2 RGB; anything else produces nothing
    bool Screening = true;
    int32_t CellSize = 8;
    std::array<double, 4> Angles{}; // radians, in plane order
    uint8_t DotShape = 1;
    bool Combine = false;
    bool InColor = false;
    bool DirectConversion = true;
    std::string ConversionTable;
    float BlackInkUsage = 1.0f; // 0..1
    float Gamma = 1.0f;         // of the picture
};

using TReportProgress = std::function<void(int32_t Percent)>;

// Runs the job on Source; CMYK and RGB runs convert Source to 24 bits first.
void RunScreening(TLinearBitmap& Source, const TScreeningSettings& Settings, TPlaneOutput& Output,
                  const TReportProgress& Report);

} // namespace stipplor
