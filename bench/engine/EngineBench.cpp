// Throughput of the engine's stages (separation, rotation forward, screening loop, rotation
// back) on a sample photograph, on one core and on all cores, and the full CMYK job at N = 16
// with 16384 x 12288 plates in windowed temporary files. Peak memory is the peak resident
// set, reset before each measurement.
//
//   bench_engine [--job] [--matrix] [--cores=1|all] [--runs=R]   (default: everything, R = 1;
//   the job shows the run of median time)
#include "bitmap/FileMappedBitmap.h"
#include "engine/ColorSeparation.h"
#include "engine/HalftoneScreen.h"
#include "engine/MultiCoreProcessing.h"
#include "engine/Rotation.h"

#include "bench/BenchSupport.h"
#include "support/SamplePictures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace stipplor;
using namespace bench;

namespace {

const char* const Picture = "coffee-1024x768.png";

double MPs(int64_t pixels, double seconds) {
    return PerSecond(double(pixels), seconds) / 1e6;
}

const char* CoreLabel(int cores) {
    return cores == 1 ? "1 core" : "all cores";
}

void UseCores(int cores) {
    SetProcessorCountForTesting(cores == 1 ? 1 : 0);
}

void Separation(const TLinearBitmap& photo, int cores) {
    UseCores(cores);
    const int runs = 10;
    TLinearBitmap c, m, y, k;
    ResetPeakMemory();
    const TStopwatch stopwatch;
    for (int i = 0; i < runs; ++i)
        SeparateCMYK(photo, c, m, y, k, 1.0f, 2.2f);
    const double t = stopwatch.Seconds();
    std::printf("separation CMYK (%s): %.1f MP/s input, peak %.0f MiB\n", CoreLabel(cores),
                MPs(int64_t(runs) * photo.Width() * photo.Height(), t), PeakMemoryMiB());
}

void Matrix(const TLinearBitmap& photo, int cores) {
    UseCores(cores);
    TLinearBitmap c, m, y, k;
    SeparateCMYK(photo, c, m, y, k, 1.0f, 1.0f);
    std::printf("\nscreening the C plane (%s); MP/s of each stage's output pixels\n",
                CoreLabel(cores));
    std::printf("   N  angle  fwd MP/s  screen MP/s  back MP/s   total s  ns/out px  "
                "cpu ns/px  peak MiB\n");
    for (int N : {8, 16, 64})
        for (double degrees : {0.0, 22.0, 45.0, 67.0}) {
            TLinearBitmap plane;
            plane.Assign(c);
            TFileMappedBitmap dest;
            TRasterStageTimes times;
            ResetPeakMemory();
            const double cpu = CpuSeconds();
            const TStopwatch stopwatch;
            MakeRasterPattern(plane, dest, N, DotShapeCircle, DegreesToRadians(degrees), &times);
            const double total = stopwatch.Seconds();
            const double cpuTotal = CpuSeconds() - cpu;
            std::printf("%4d  %5.0f  %8.1f  %11.1f  %9.1f  %8.2f  %9.3f  %9.3f  %8.0f\n", N,
                        degrees, MPs(times.RotatedPixels, times.RotateForward),
                        MPs(times.ScreenedPixels, times.Screening),
                        MPs(times.OutputPixels, times.RotateBack), total,
                        total * 1e9 / double(times.OutputPixels),
                        cpuTotal * 1e9 / double(times.OutputPixels), PeakMemoryMiB());
            std::fflush(stdout);
        }
}

struct TJobFigures {
    double Total = 0, Cpu = 0, Separation = 0, PeakMiB = 0;
    TRasterStageTimes Planes[4];
    int64_t OutputPixels = 0;
    TBitmapSize Plate;
    bool Windowed = false;

    double Sum(double TRasterStageTimes::*stage) const {
        double s = 0;
        for (const TRasterStageTimes& p : Planes)
            s += p.*stage;
        return s;
    }
    // Everything before the turn back: the separation, the forward turns, the dot tables and
    // the dot choice (with the bytes of the unturned plate).
    double FrontHalf() const {
        return Separation + Sum(&TRasterStageTimes::RotateForward) +
               Sum(&TRasterStageTimes::DotTable) + Sum(&TRasterStageTimes::Screening);
    }
};

TJobFigures RunJob(const TLinearBitmap& photo) {
    TJobFigures f;
    ResetPeakMemory();
    const double cpu = CpuSeconds();
    const TStopwatch stopwatch;
    TPlaneSet planes = CreatePlanes(4);
    SeparateCMYK(photo, planes[0], planes[1], planes[2], planes[3], 1.0f, 1.0f);
    f.Separation = stopwatch.Seconds();
    const double angles[4] = {22, 45, 67, 0};
    TFileMappedBitmap target; // one screening target for all planes, as the pipeline does
    for (int i = 0; i < 4; ++i) {
        MakeRasterPattern(planes[i], target, 16, DotShapeCircle, DegreesToRadians(angles[i]),
                          &f.Planes[i]);
        planes.Free(i);
        f.OutputPixels += f.Planes[i].OutputPixels;
    }
    f.Total = stopwatch.Seconds();
    f.Cpu = CpuSeconds() - cpu;
    f.PeakMiB = PeakMemoryMiB();
    f.Plate = {target.Width(), target.Height()};
    f.Windowed = target.IsWindowed();
    return f;
}

// Runs the job `runs` times and shows the run of median total time, stage by stage.
void FullJob(const TLinearBitmap& photo, int cores, int runs) {
    UseCores(cores);
    std::vector<TJobFigures> all;
    for (int i = 0; i < runs; ++i)
        all.push_back(RunJob(photo));
    std::sort(all.begin(), all.end(),
              [](const TJobFigures& a, const TJobFigures& b) { return a.Total < b.Total; });
    const TJobFigures& f = all[all.size() / 2];
    const double px = double(f.OutputPixels);
    std::printf("\nfull CMYK job, N = 16, 22/45/67/0 degrees, 4 plates of %d x %d (%s), median of "
                "%d:\n"
                "  %.3f s, %.1f MP/s output, %.3f ns per output pixel, peak %.0f MiB, plates "
                "windowed: %s\n"
                "  CPU time %.2f s (%.3f ns per output pixel)\n",
                f.Plate.Width, f.Plate.Height, CoreLabel(cores), runs, f.Total,
                MPs(f.OutputPixels, f.Total), f.Total * 1e9 / px, f.PeakMiB,
                f.Windowed ? "yes" : "no", f.Cpu, f.Cpu * 1e9 / px);
    std::printf("  separation %.4f s\n", f.Separation);
    const char* names[4] = {"C 22", "M 45", "Y 67", "K  0"};
    for (int i = 0; i < 4; ++i) {
        const TRasterStageTimes& p = f.Planes[i];
        std::printf("  %s: rotation forward %.4f s (%.1f MP/s), dot table %.4f s, screening "
                    "%.4f s (%.1f MP/s of plane cells), rotation back %.4f s\n",
                    names[i], p.RotateForward, MPs(p.RotatedPixels, p.RotateForward), p.DotTable,
                    p.Screening, MPs(p.ScreenedPixels / (16 * 16), p.Screening), p.RotateBack);
    }
    std::printf("  sums: rotation forward %.4f s, dot tables %.4f s, screening %.4f s, rotation "
                "back %.4f s\n"
                "  front half (separation to dot choice) %.4f s = %.4f ns per output pixel\n",
                f.Sum(&TRasterStageTimes::RotateForward), f.Sum(&TRasterStageTimes::DotTable),
                f.Sum(&TRasterStageTimes::Screening), f.Sum(&TRasterStageTimes::RotateBack),
                f.FrontHalf(), f.FrontHalf() * 1e9 / px);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    bool job = false, matrix = false;
    int runs = 1;
    std::vector<int> cores;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--job"))
            job = true;
        else if (!std::strcmp(argv[i], "--matrix"))
            matrix = true;
        else if (!std::strcmp(argv[i], "--cores=1"))
            cores.push_back(1);
        else if (!std::strcmp(argv[i], "--cores=all"))
            cores.push_back(0);
        else if (!std::strncmp(argv[i], "--runs=", 7))
            runs = std::max(1, std::atoi(argv[i] + 7));
    }
    if (!job && !matrix)
        job = matrix = true;
    if (cores.empty())
        cores = {1, 0};

    TLinearBitmap photo;
    if (!samples::Load(Picture, photo)) {
        std::fprintf(stderr, "sample %s missing or unreadable in %s\n", Picture,
                     samples::Directory().c_str());
        return 1;
    }
    std::printf("%s: %d x %d, %d processors\n", Picture, photo.Width(), photo.Height(),
                ProcessorCount());
    for (int c : cores) {
        if (matrix) {
            Separation(photo, c);
            Matrix(photo, c);
        }
        if (job)
            FullJob(photo, c, runs);
    }
    return 0;
}
