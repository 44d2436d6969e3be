#pragma once
// Writing 4096 x 4096 pictures in the conversion table's shape, CMYK tables and RGB identity
// pictures alike, with libtiff. Rows are made and compressed in strips on all processors;
// the compressed strips are then written in order.
#include <cstdint>
#include <functional>
#include <string>

namespace stipplor::tabletool {

class TProgress;

inline constexpr int32_t RowsPerStrip = 16;
inline constexpr int32_t StripCount = 4096 / RowsPerStrip;

struct TImageFormat {
    int32_t Samples = 4; // 4: CMYK (C, M, Y, K); 3: RGB (R, G, B)
    bool LZW = true;     // with the horizontal predictor; otherwise uncompressed
};

// Fills Count rows from row First: Count x 4096 pixels of Samples bytes each. Called from
// several threads at once, each time for other rows.
using TRowFiller = std::function<void(int32_t First, int32_t Count, uint8_t* Rows)>;

// Raises Exception "Cannot write PATH: <libtiff's reason>" when the file cannot be written.
// Progress, when given, advances by one for each of the StripCount strips.
void WriteTableImage(const std::string& Path, const TImageFormat& Format, const TRowFiller& Fill,
                     TProgress* Progress);

} // namespace stipplor::tabletool
