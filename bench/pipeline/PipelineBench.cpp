// The whole screening run as the user starts it: the dialog with its design defaults (CMYK,
// cell size 16, angles 22, 45, 67 and 0, diamond dots), file output on, OK clicked, four
// 1-bit plates of 16384 x 12288 written. The run's own progress reports mark the stages.
// Settings go to a temporary configuration folder, the plates to a temporary folder.
// With --host the four plates go to a host instead of files; with --combine the host gets the
// one combined CMYK image. The host stands in for the application: it takes each image as it
// is handed over (contiguous 8-bit pixels) and copies nothing, so the figures are the plug-in's.
//
//   bench_pipeline [runs] [--cell N] [--angles C,M,Y,K] [--picture NAME] [--folder DIR]
//                  [--host | --combine] [--kernel Scalar|AVX2|AVX512]
//       runs: default 3, the best run is shown; N: the cell size (default 16); the angles of
//       the four plates in degrees (default 22,45,67,0); NAME: a sample photograph or a PNG
//       file (default coffee-1024x768.png), or "noise": 1024 x 768 pixels of random colours,
//       where no part of a plate is blank or solid; DIR: where the temporary folder for the plates
//       goes (default the system's temporary folder); --kernel: the row kernels forced, as on a
//       processor without the faster ones (default the fastest this one has)
//   bench_pipeline --raw FILE    writes the photograph as raw 8-bit RGB, for other screeners
#include "screening/StipplorFormUnit.h"

#include "bench/BenchSupport.h"
#include "engine/Kernels.h"
#include "support/SamplePictures.h"
#include "toolkit/Agents.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using namespace stipplor;
using namespace bench;

namespace {

struct TStamp {
    int32_t Percent;
    double Seconds;
};

struct TRunFigures {
    double Seconds = 0;
    std::vector<TStamp> Stamps;
    uintmax_t BytesWritten = 0;
    double PeakMiB = 0;
    int Images = 0; // received by the host
};

struct TOptions {
    int Runs = 3;
    int CellSize = 16;
    std::vector<std::string> Angles{"22", "45", "67", "0"};
    std::string Picture = "coffee-1024x768.png";
    std::string Folder = std::filesystem::temp_directory_path().string();
    std::string Raw;      // --raw: the file to write the picture to
    bool Host = false;    // the plates to the host, no files
    bool Combine = false; // the combined image to the host, no files
    std::optional<TKernel> Kernel;
};

std::optional<TKernel> KernelNamed(const std::string& name) {
    for (TKernel kernel : AllKernels)
        if (name == KernelName(kernel))
            return kernel;
    return std::nullopt;
}

std::vector<std::string> SplitAtCommas(const std::string& text) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == ',')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

bool ParseOptions(int argc, char** argv, TOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--cell" && hasValue)
            options.CellSize = std::atoi(argv[++i]);
        else if (arg == "--angles" && hasValue)
            options.Angles = SplitAtCommas(argv[++i]);
        else if (arg == "--picture" && hasValue)
            options.Picture = argv[++i];
        else if (arg == "--folder" && hasValue)
            options.Folder = argv[++i];
        else if (arg == "--raw" && hasValue)
            options.Raw = argv[++i];
        else if (arg == "--host")
            options.Host = true;
        else if (arg == "--combine")
            options.Combine = true;
        else if (arg == "--kernel" && hasValue) {
            options.Kernel = KernelNamed(argv[++i]);
            if (!options.Kernel)
                return false;
        } else if (!arg.empty() && arg[0] != '-')
            options.Runs = std::max(1, std::atoi(arg.c_str()));
        else
            return false;
    }
    return options.CellSize >= 2 && options.CellSize <= 256 && options.Angles.size() == 4 &&
           !(options.Host && options.Combine);
}

TRunFigures RunOnce(const TLinearBitmap& photo, const std::string& outputPath,
                    const TOptions& options) {
    TRunFigures figures;
    TStopwatch stopwatch;
    THostLink link;
    const bool toFiles = !options.Host && !options.Combine;
    if (!toFiles)
        link.SendImage = [&](const TLinearBitmap& bitmap, const std::string&) {
            if (bitmap.IsWindowed() || bitmap.Pixels() == nullptr) {
                std::fprintf(stderr, "the host was handed pixels it cannot read as one block\n");
                std::exit(1);
            }
            ++figures.Images;
        };
    link.ReportProgress = [&](int32_t percent) {
        figures.Stamps.push_back({percent, stopwatch.Seconds()});
    };
    TStipplorForm form(std::move(link));
    // The run converts its source in place; each run starts from the photograph.
    TLinearBitmap source;
    source.Assign(photo);
    form.SourceBitmap = &source;
    const toolkit::TScopedAgents agents([&](toolkit::TCustomForm&) {
        // The settings of the run before are loaded: click only where a box must change.
        if (form.TIFFOutputBox.Checked() != toFiles)
            toolkit::user::Click(form.TIFFOutputBox);
        if (form.CombineResultsBox.Checked() != options.Combine)
            toolkit::user::Click(form.CombineResultsBox);
        toolkit::user::TypeText(form.OutputPathEdit, outputPath);
        toolkit::user::TypeText(form.CellSizeEdit, std::to_string(options.CellSize));
        TFloatEdit* angles[] = {&form.AngleEdit1, &form.AngleEdit2, &form.AngleEdit3,
                                &form.AngleEdit4};
        for (size_t i = 0; i < 4; ++i)
            toolkit::user::TypeText(*angles[i], options.Angles[i]);
        ResetPeakMemory();
        stopwatch.Restart();
        toolkit::user::Click(form.OKButton);
        figures.Seconds = stopwatch.Seconds();
        figures.PeakMiB = PeakMemoryMiB();
    });
    for (const char* plane : {"[C].tif", "[M].tif", "[Y].tif", "[K].tif"})
        std::filesystem::remove(outputPath + plane);
    if (form.ShowModal() != toolkit::mrYes) {
        std::fprintf(stderr, "the run did not complete\n");
        std::exit(1);
    }
    if (toFiles)
        for (const char* plane : {"[C].tif", "[M].tif", "[Y].tif", "[K].tif"})
            figures.BytesWritten += std::filesystem::file_size(outputPath + plane);
    return figures;
}

// The seconds between two reports.
double Between(const TRunFigures& run, int32_t from, int32_t to) {
    double start = 0, end = 0;
    for (const TStamp& stamp : run.Stamps) {
        if (stamp.Percent == from)
            start = stamp.Seconds;
        if (stamp.Percent == to)
            end = stamp.Seconds;
    }
    return end - start;
}

// 1024 x 768 pixels of random colours, the same every run.
void MakeNoise(TLinearBitmap& picture) {
    picture.Allocate(1024, 768, PixelFormat24, 0);
    uint32_t seed = 12345;
    for (int32_t y = 0; y < picture.Height(); ++y) {
        uint8_t* row = picture.RowPointer(y);
        for (int32_t i = 0; i < picture.Width() * 3; ++i) {
            seed = seed * 1664525u + 1013904223u;
            row[i] = static_cast<uint8_t>(seed >> 24);
        }
    }
}

// Rows of red, green, blue bytes, top row first.
bool WriteRawRGB(const TLinearBitmap& photo, const char* path) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr)
        return false;
    std::vector<uint8_t> row(size_t(photo.Width()) * 3);
    bool written = true;
    for (int32_t y = 0; y < photo.Height() && written; ++y) {
        const uint8_t* bgr = photo.RowPointer(y);
        for (size_t x = 0; x < size_t(photo.Width()); ++x) {
            row[3 * x] = bgr[3 * x + 2];
            row[3 * x + 1] = bgr[3 * x + 1];
            row[3 * x + 2] = bgr[3 * x];
        }
        written = std::fwrite(row.data(), 1, row.size(), file) == row.size();
    }
    return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char** argv) {
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: bench_pipeline [runs] [--cell N] [--angles C,M,Y,K] "
                             "[--picture NAME] [--folder DIR] [--host | --combine] "
                             "[--kernel Scalar|AVX2|AVX512] | --raw FILE\n");
        return 2;
    }
    TLinearBitmap photo;
    if (options.Picture == "noise")
        MakeNoise(photo);
    else if (!samples::Load(options.Picture, photo)) {
        std::fprintf(stderr, "cannot read the picture %s\n", options.Picture.c_str());
        return 1;
    }
    if (!options.Raw.empty())
        return WriteRawRGB(photo, options.Raw.c_str()) ? 0 : 1;
    std::string folder = (std::filesystem::path(options.Folder) / "stipplor-bench-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr)
        return 1;
    ::setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
    const std::string outputPath = folder + "/plates";

    std::optional<TForcedKernel> forced;
    if (options.Kernel) {
        if (!KernelAvailable(*options.Kernel)) {
            std::fprintf(stderr, "this processor cannot run the %s kernels\n",
                         KernelName(*options.Kernel));
            return 1;
        }
        forced.emplace(*options.Kernel);
    }
    const int N = options.CellSize;
    TRunFigures best;
    for (int i = 0; i < options.Runs; ++i) {
        const double cpuBefore = CpuSeconds();
        TRunFigures run = RunOnce(photo, outputPath, options);
        std::printf("run %d: %.3f s wall, %.3f s cpu\n", i + 1, run.Seconds,
                    CpuSeconds() - cpuBefore);
        if (i == 0 || run.Seconds < best.Seconds)
            best = run;
    }
    std::filesystem::remove_all(folder);

    const int64_t outputPixels = 4 * int64_t(photo.Width()) * N * (int64_t(photo.Height()) * N);
    const char* output = options.Host      ? "four plates to the host"
                         : options.Combine ? "the combined image to the host"
                                           : "four files";
    std::printf("\n%s %dx%d, CMYK, N = %d, angles %s/%s/%s/%s, diamond dots, %s, %s kernels\n",
                options.Picture.c_str(), photo.Width(), photo.Height(), N,
                options.Angles[0].c_str(), options.Angles[1].c_str(), options.Angles[2].c_str(),
                options.Angles[3].c_str(), output, KernelName(ActiveKernel()));
    std::printf("total           %8.3f s\n", best.Seconds);
    std::printf("  separation    %8.3f s\n", Between(best, 0, 10));
    const char* names[] = {"C", "M", "Y", "K"};
    const int32_t screened[] = {30, 55, 77, 99};
    const int32_t before[] = {10, 35, 57, 79};
    const int32_t written[] = {35, 57, 79, 100};
    for (int p = 0; p < 4; ++p)
        std::printf("  %s screen %7.3f s, %s %7.3f s\n", names[p],
                    Between(best, before[p], screened[p]),
                    options.Host      ? "host"
                    : options.Combine ? "combined"
                                      : "file",
                    Between(best, screened[p], written[p]));
    std::printf("output          %8.1f MP/s, %.3f ns per output pixel (%lld pixels)\n",
                PerSecond(double(outputPixels), best.Seconds) / 1e6,
                best.Seconds * 1e9 / double(outputPixels), static_cast<long long>(outputPixels));
    if (options.Combine)
        std::printf("combined image  %8.3f ns per combined pixel (%lld pixels)\n",
                    best.Seconds * 1e9 / double(outputPixels / 4),
                    static_cast<long long>(outputPixels / 4));
    std::printf("reports         ");
    for (const TStamp& stamp : best.Stamps)
        std::printf("%d%% %.3f s; ", stamp.Percent, stamp.Seconds);
    std::printf("\n");
    std::printf("peak memory     %8.0f MiB\n", best.PeakMiB);
    if (options.Host || options.Combine)
        std::printf("host images     %d\n", best.Images);
    else
        std::printf("bytes written   %llu\n", static_cast<unsigned long long>(best.BytesWritten));
    return 0;
}
