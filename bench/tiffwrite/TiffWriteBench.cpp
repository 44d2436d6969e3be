// Writes a 16384 x 12288 screened-like plane as a bilevel TIFF, from memory and from a
// windowed file-mapped bitmap, next to a plain write() of the same number of bytes. Peak memory
// is the resident set, reset before each measurement.
//   bench_tiffwrite [width height]
// Output goes to $TMPDIR (else /tmp) and is deleted afterwards.
#include "bitmap/FileMappedBitmap.h"
#include "platform/TempDirectory.h"
#include "tiff/TIFFLoader.h"

#include "bench/BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace stipplor;
using namespace bench;

namespace {

constexpr int Repeats = 3;

int64_t FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

// Dots of growing size in 16-pixel cells, as a screen of a horizontal ramp would give.
void DrawScreen(TLinearBitmap& plane) {
    const int32_t width = plane.Width();
    std::vector<uint8_t> row(static_cast<size_t>(width));
    for (int32_t y = 0; y < plane.Height(); ++y) {
        const int32_t dy = y % 16 - 8;
        for (int32_t x = 0; x < width; ++x) {
            const int32_t dx = x % 16 - 8;
            const int64_t radius = 1 + int64_t{x} * 11 / width;
            row[static_cast<size_t>(x)] = dx * dx + dy * dy < radius * radius ? 255 : 0;
        }
        std::copy(row.begin(), row.end(), plane.RowPointer(y));
    }
}

// Best of a few runs of one save; prints throughput.
void TimeSave(const char* label, const TLinearBitmap& plane, const std::string& path) {
    TTIFFLoader& writer = TIFFLoaderInstance();
    writer.Options = tlBilevel;
    ResetPeakMemory();
    const double best = BestSeconds(Repeats, [&] { writer.SaveToFile(path, "TIF", plane); });
    const double pixels = double(plane.Width()) * plane.Height();
    const int64_t bytes = FileSize(path);
    std::printf("%-28s %8.1f Mpixel/s %8.1f MB/s  (%.3f s, %lld bytes)  peak %.0f MiB\n", label,
                PerSecond(pixels, best) / 1e6, PerSecond(double(bytes), best) / 1e6, best,
                static_cast<long long>(bytes), PeakMemoryMiB());
    ::unlink(path.c_str());
}

void TimePlainWrite(int64_t bytes, const std::string& path) {
    std::vector<uint8_t> buffer(1 << 20, 0x55);
    ResetPeakMemory();
    const double best = BestSeconds(Repeats, [&] {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) {
            std::perror("open");
            std::exit(1);
        }
        for (int64_t left = bytes; left > 0;) {
            const auto n = static_cast<size_t>(std::min<int64_t>(left, int64_t(buffer.size())));
            if (::write(fd, buffer.data(), n) != static_cast<ssize_t>(n)) {
                std::perror("write");
                std::exit(1);
            }
            left -= static_cast<int64_t>(n);
        }
        ::close(fd);
    });
    std::printf("%-28s %8s %8.1f MB/s  (%.3f s, %lld bytes)  peak %.0f MiB\n",
                "plain write() of same size", "", PerSecond(double(bytes), best) / 1e6, best,
                static_cast<long long>(bytes), PeakMemoryMiB());
    ::unlink(path.c_str());
}

} // namespace

int main(int argc, char** argv) {
    int32_t width = 16384, height = 12288;
    if (argc == 3) {
        width = std::atoi(argv[1]);
        height = std::atoi(argv[2]);
    }
    if (width < 1 || height < 1) {
        std::fprintf(stderr, "usage: bench_tiffwrite [width height]\n");
        return 2;
    }
    try {
        const std::string path =
            TemporaryDirectory() + "stipplor-bench-" + std::to_string(::getpid()) + ".tif";
        std::printf("bilevel TIFF of %d x %d pixels in %s\n", width, height, path.c_str());
        const int64_t fileBytes = 512 + 8 * int64_t{height} + (int64_t{width} + 7) / 8 * height;
        TimePlainWrite(fileBytes, path);

        {
            TFileMappedBitmap mapped;
            mapped.AllocateIn(width, height, PixelFormat8, bsTempFile, false);
            mapped.SetPalette(GrayPalette.data());
            DrawScreen(mapped);
            TimeSave("windowed temp-file plane", mapped, path);
        }
        auto plane = TLinearBitmap::Create(width, height, PixelFormat8);
        plane->SetPalette(GrayPalette.data());
        DrawScreen(*plane);
        TimeSave("in-memory plane", *plane, path);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.Message().c_str());
        return 1;
    }
    return 0;
}
