// The whole job as the host starts it: orvalis-host loads the plug-in library, hands it its
// test chart and drives the dialog; the plates are read back with libtiff and the images the
// host received with libpng, both independent of the code under test.
#include "screening/PipelineFixtures.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace stipplor {
namespace {

using testsupport::ReadBilevelFile;

struct THostRun {
    int Status = -1;
    std::string Output; // standard output and error together
    std::vector<int> Progress;
};

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs the host on its 64 x 64 test chart with cell size 4 and the given arguments, with the
// settings in the folder too, so that runs of one test share them and no test touches the
// user's.
THostRun RunHost(const std::string& folder, const std::vector<std::string>& arguments) {
    std::string command = "XDG_CONFIG_HOME=" + Quoted(folder + "/config") + " " +
                          Quoted(ORVALIS_HOST) + " --size 64x64 --document chart --out " +
                          Quoted(folder) + " --set CellSizeEdit=4";
    for (const std::string& a : arguments)
        command += " " + Quoted(a);
    const std::string log = folder + "/host.log";
    command += " >" + Quoted(log) + " 2>&1";
    THostRun run;
    const int status = std::system(command.c_str());
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    run.Output = text.str();
    std::remove(log.c_str());
    // Every "progress N %" the host printed, in order.
    const std::string marker = "progress ";
    for (size_t at = run.Output.find(marker); at != std::string::npos;
         at = run.Output.find(marker, at + 1)) {
        const size_t number = at + marker.size();
        if (number >= run.Output.size() ||
            !std::isdigit(static_cast<unsigned char>(run.Output[number])))
            continue;
        size_t digits = 0;
        const int percent = std::stoi(run.Output.substr(number), &digits);
        if (run.Output.compare(number + digits, 2, " %") == 0)
            run.Progress.push_back(percent);
    }
    return run;
}

// An 8-bit palette PNG as its indexes and its palette (red, green, blue per entry).
struct TIndexedPNG {
    bool Read = false;
    uint32_t Width = 0, Height = 0;
    std::vector<uint8_t> Pixels, Palette;
};

TIndexedPNG ReadIndexedPNG(const std::string& path) {
    TIndexedPNG result;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return result;
    if ((image.format & PNG_FORMAT_FLAG_COLORMAP) == 0) {
        png_image_free(&image);
        return result;
    }
    image.format = PNG_FORMAT_RGB_COLORMAP;
    result.Width = image.width;
    result.Height = image.height;
    result.Pixels.resize(PNG_IMAGE_SIZE(image));
    result.Palette.resize(PNG_IMAGE_COLORMAP_SIZE(image));
    result.Read =
        png_image_finish_read(&image, nullptr, result.Pixels.data(), 0, result.Palette.data()) != 0;
    return result;
}

const std::vector<std::string> CMYK = {"--set", "ColorModeRadioGroup=1",
                                       "--set", "GenerateRasterBox=on",
                                       "--set", "CombineResultsBox=off"};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(HostRun, CMYKPlatesAsFilesAndTheirCombinedPreviewInTheHost) {
    const testsupport::TemporaryFolder temp;
    const std::string base = temp.Path() + "/plate ";
    const auto files = RunHost(
        temp.Path(), With(CMYK, {"--set", "TIFFOutputBox=on", "--set", "OutputPathEdit=" + base}));
    ASSERT_EQ(files.Status, 0) << files.Output;
    EXPECT_EQ(files.Progress, (std::vector<int>{0, 10, 30, 35, 55, 57, 77, 79, 99, 100}));
    std::vector<testsupport::TBilevelFile> plates;
    for (const char* p : {"[C].tif", "[M].tif", "[Y].tif", "[K].tif"}) {
        plates.push_back(ReadBilevelFile(base + p));
        ASSERT_TRUE(plates.back().Read) << p;
        EXPECT_EQ(plates.back().Photometric, PHOTOMETRIC_MINISWHITE) << p;
        EXPECT_EQ(plates.back().Width, 256u);
    }

    const auto combined = RunHost(
        temp.Path(), With(CMYK, {"--set", "TIFFOutputBox=off", "--set", "CombineResultsBox=on"}));
    ASSERT_EQ(combined.Status, 0) << combined.Output;
    const auto preview = ReadIndexedPNG(temp.Path() + "/chart [CMYK].png");
    ASSERT_TRUE(preview.Read) << combined.Output;
    ASSERT_EQ(preview.Pixels.size(), plates[0].Bits.size());
    // The preview holds exactly the dots of the four plates.
    for (size_t j = 0; j < preview.Pixels.size(); ++j) {
        int expected = 0;
        for (int p = 0; p < 4; ++p)
            expected |= plates[size_t(p)].Bits[j] << p;
        ASSERT_EQ(preview.Pixels[j], expected) << "pixel " << j;
    }
    const auto colour = [&](int i) {
        return std::vector<int>(preview.Palette.begin() + 3 * i,
                                preview.Palette.begin() + 3 * i + 3);
    };
    EXPECT_EQ(colour(0), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(colour(5), (std::vector<int>{0, 255, 0}));
    EXPECT_EQ(colour(13), (std::vector<int>{0, 0, 0}));
}

TEST(HostRun, RGBPlanesReachTheHostAsWellAsTheFiles) {
    const testsupport::TemporaryFolder temp;
    const std::vector<std::string> rgb = {"--set", "ColorModeRadioGroup=2",
                                          "--set", "GenerateRasterBox=on",
                                          "--set", "CombineResultsBox=on"};
    const auto run = RunHost(temp.Path(), rgb);
    ASSERT_EQ(run.Status, 0) << run.Output;
    EXPECT_EQ(run.Progress, (std::vector<int>{0, 5, 30, 65, 90, 100}));
    const auto preview = ReadIndexedPNG(temp.Path() + "/chart [RGB].png");
    ASSERT_TRUE(preview.Read) << run.Output;
    EXPECT_EQ(preview.Width, 256u);
    for (uint8_t value : preview.Pixels)
        ASSERT_LE(value, 7);
    EXPECT_EQ(std::vector<int>(preview.Palette.begin() + 15, preview.Palette.begin() + 18),
              (std::vector<int>{255, 0, 255})); // R and B light: magenta
}

TEST(HostRun, CancelsAndFailuresKeepTheFilesWrittenBefore) {
    const testsupport::TemporaryFolder temp;
    const auto cancelled = RunHost(
        temp.Path(), With(CMYK, {"--set", "TIFFOutputBox=on", "--set",
                                 "OutputPathEdit=" + temp.Path() + "/x", "--cancel-at", "57"}));
    EXPECT_EQ(cancelled.Status, 4) << cancelled.Output;
    EXPECT_EQ(cancelled.Output.find("[Error]"), std::string::npos) << cancelled.Output;
    EXPECT_TRUE(ReadBilevelFile(temp.Path() + "/x[C].tif").Read);
    EXPECT_TRUE(ReadBilevelFile(temp.Path() + "/x[M].tif").Read);
    EXPECT_FALSE(std::filesystem::exists(temp.Path() + "/x[Y].tif"));

    const auto missing =
        RunHost(temp.Path(), With(CMYK, {"--set", "TIFFOutputBox=on", "--set",
                                         "OutputPathEdit=" + temp.Path() + "/none/x"}));
    EXPECT_EQ(missing.Status, 3) << missing.Output;
    EXPECT_NE(missing.Output.find("none/x[C].tif"), std::string::npos) << missing.Output;
}

} // namespace
} // namespace stipplor
