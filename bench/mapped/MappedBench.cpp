// Throughput of row passes over planes in each storage, and of moving a plane between memory
// and a temporary file, each with its peak memory (the resident set, reset before each pass).
// Usage: bench_mapped [width height]   (8-bit plane, default 16000²)
#include "bitmap/FileMappedBitmap.h"

#include "bench/BenchSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace stipplor;
using namespace bench;

namespace {

void Report(const char* what, double bytes, double seconds) {
    std::printf("%-34s %9.1f MB/s  (%.3f s)  peak %.0f MiB\n", what,
                PerSecond(bytes, seconds) / 1e6, seconds, PeakMemoryMiB());
}

uint64_t RowPasses(TFileMappedBitmap& plane, const char* name) {
    const double bytes = static_cast<double>(plane.FullSize());
    ResetPeakMemory();
    TStopwatch stopwatch;
    for (int32_t y = 0; y < plane.Height(); ++y)
        std::memset(plane.RowPointer(y), y & 0xFF, static_cast<size_t>(plane.BytesPerLine()));
    char label[64];
    std::snprintf(label, sizeof label, "%s write rows", name);
    Report(label, bytes, stopwatch.Seconds());

    uint64_t sum = 0;
    ResetPeakMemory();
    stopwatch.Restart();
    for (int32_t y = 0; y < plane.Height(); ++y) {
        const uint8_t* row = plane.RowPointer(y);
        for (int32_t x = 0; x < plane.BytesPerLine(); x += 64)
            sum += row[x];
    }
    std::snprintf(label, sizeof label, "%s read rows", name);
    Report(label, bytes, stopwatch.Seconds());
    return sum;
}

} // namespace

int main(int argc, char** argv) {
    const int32_t width = argc > 2 ? std::atoi(argv[1]) : 16000;
    const int32_t height = argc > 2 ? std::atoi(argv[2]) : 16000;
    std::printf("plane %d x %d, 8 bits (%.0f MB)\n", width, height, double(width) * height / 1e6);

    struct Storage {
        const char* name;
        TBitmapStorage storage;
        bool mapWhole;
    } const storages[] = {{"memory", bsMemory, true},
                          {"page file, whole", bsPageFile, true},
                          {"page file, windowed", bsPageFile, false},
                          {"temp file, windowed", bsTempFile, false}};
    uint64_t checksum = 0;
    for (const Storage& s : storages) {
        if (s.mapWhole && int64_t{width} * height > 2147483646)
            continue;
        TFileMappedBitmap plane;
        plane.AllocateIn(width, height, PixelFormat8, s.storage, s.mapWhole);
        checksum += RowPasses(plane, s.name);
    }

    if (int64_t{width} * height <= 2147483646) {
        auto plane = TLinearBitmap::Create<TFileMappedBitmap>(width, height, PixelFormat8);
        plane->Fill(1);
        const double bytes = static_cast<double>(plane->FullSize());
        ResetPeakMemory();
        TStopwatch stopwatch;
        plane->SetStorage(true, bsTempFile, false);
        Report("memory -> temp file (windowed)", bytes, stopwatch.Seconds());
        ResetPeakMemory();
        stopwatch.Restart();
        plane->MoveToMemory();
        Report("temp file -> memory", bytes, stopwatch.Seconds());
        checksum += plane->Pixels()[0];
    }
    std::printf("checksum %llu\n", static_cast<unsigned long long>(checksum));
}
