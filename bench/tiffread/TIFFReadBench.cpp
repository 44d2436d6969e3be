// Loads a 4096 x 4096 LZW CMYK conversion table (predictor 2) with our reader and with the
// independent library, printing decoded MB/s and peak memory (the resident set, reset before
// each reader) for both.
// Usage: bench_tiffread [repetitions=5] [file]  (without a file, one is generated first).
#include "tiff/TIFFBMP.h"

#include "bench/BenchSupport.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace bench;

namespace {

constexpr uint32_t Side = 4096;
constexpr double TableMB = double(Side) * Side * 4 / 1e6;

// A table shaped like a real one: pixel index = 24-bit RGB, value = a plain separation.
bool WriteTable(const std::string& path) {
    TIFF* out = TIFFOpen(path.c_str(), "w");
    if (out == nullptr)
        return false;
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, Side);
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, Side);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(out, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<uint8_t> row(Side * 4);
    for (uint32_t y = 0; y < Side; ++y) {
        for (uint32_t x = 0; x < Side; ++x) {
            const uint32_t rgb = y * Side + x;
            const int c = 255 - int(rgb >> 16), m = 255 - int(rgb >> 8 & 255),
                      ye = 255 - int(rgb & 255);
            const int k = std::min(c, std::min(m, ye)) / 2;
            uint8_t* p = &row[x * 4];
            p[0] = uint8_t(c - k);
            p[1] = uint8_t(m - k);
            p[2] = uint8_t(ye - k);
            p[3] = uint8_t(k);
        }
        if (TIFFWriteScanline(out, row.data(), y, 0) != 1)
            return false;
    }
    TIFFClose(out);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string path = argc > 2 ? argv[2] : "";
    if (path.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        path = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
               "/bench_tiffread_table.tif";
        if (!WriteTable(path)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    std::printf("table %s, best of %d\n", path.c_str(), repetitions);

    ResetPeakMemory();
    const double ours = BestSeconds(repetitions, [&] {
        stipplor::TTIFFBitMap bitmap;
        bitmap.SetConvertCMYK(false);
        bitmap.LoadFromFile(path);
    });
    std::printf("stipplor reader : %8.1f MB/s  (%.3f s)  peak %.0f MiB\n", PerSecond(TableMB, ours),
                ours, PeakMemoryMiB());

    ResetPeakMemory();
    const double theirs = BestSeconds(repetitions, [&] {
        TIFF* in = TIFFOpen(path.c_str(), "r");
        std::vector<uint8_t> pixels(size_t(TIFFStripSize(in)) * TIFFNumberOfStrips(in));
        for (tstrip_t s = 0; s < TIFFNumberOfStrips(in); ++s)
            TIFFReadEncodedStrip(in, s, pixels.data() + size_t(s) * TIFFStripSize(in), -1);
        TIFFClose(in);
    });
    std::printf("libtiff         : %8.1f MB/s  (%.3f s)  peak %.0f MiB\n",
                PerSecond(TableMB, theirs), theirs, PeakMemoryMiB());
    std::printf("ratio stipplor/libtiff: %.2f\n", theirs / ours);
    return 0;
}
