#include "screening/ScreeningPipeline.h"

#include "PipelineFixtures.h"
#include "TestSupport.h"
#include "engine/ColorSeparation.h"
#include "engine/HalftoneScreen.h"
#include "engine/Rotation.h"
#include "screening/StipplorFormUnit.h"
#include "support/FileFaults.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <set>

namespace stipplor {
namespace {

using testsupport::MessageOf;
using testsupport::ReadBilevelFile;
using testsupport::THostStandIn;
using testsupport::TProgressRecorder;

constexpr int32_t W = 7, H = 5, N = 4;

TScreeningSettings Settings(int32_t ColorMode, bool Screening) {
    TScreeningSettings s;
    s.ColorMode = ColorMode;
    s.Screening = Screening;
    s.CellSize = N;
    s.Angles = {DegreesToRadians(15.0L), DegreesToRadians(75.0L), 0.0, DegreesToRadians(45.0L)};
    s.DotShape = DotShapeCircle;
    return s;
}

// One run on a fresh test picture, with what the host received and the progress reported.
struct TRunResult {
    THostStandIn Host;
    TProgressRecorder Progress;
    std::string Error = "(no exception)";
};

std::unique_ptr<TRunResult> RunJob(const TScreeningSettings& Settings,
                                   TPlaneOutputOptions Options = {},
                                   std::optional<int32_t> CancelAt = std::nullopt) {
    auto result = std::make_unique<TRunResult>();
    result->Progress.CancelAt = CancelAt;
    auto picture = testsupport::MakeTestPicture(W, H);
    TPlaneOutput output(std::move(Options),
                        [r = result.get()](const TLinearBitmap& b, const std::string& t) {
                            r->Host.Receive(b, t);
                        });
    try {
        RunScreening(*picture, Settings, output,
                     [r = result.get()](int32_t p) { r->Progress.Report(p); });
    } catch (const Exception& e) {
        result->Error = e.Message();
    }
    return result;
}

std::vector<std::string> Titles(const THostStandIn& Host) {
    std::vector<std::string> titles;
    for (const auto& image : Host.Images)
        titles.push_back(image.Title);
    return titles;
}

std::set<std::string> FilesIn(const std::string& Folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Folder))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(ScreeningPipeline, ProgressAndDeliveryOfEveryModeWithScreeningOnAndOff) {
    const testsupport::TemporaryFolder temp;
    struct TCase {
        int32_t Mode;
        bool Screening;
        std::vector<int32_t> Progress;
        std::vector<std::string> Titles;
    };
    const TCase cases[] = {
        {ColorModeGrayscale, true, {10}, {"pic [K]"}},
        {ColorModeGrayscale, false, {10}, {"pic [K]"}},
        {ColorModeCMYK,
         true,
         {10, 30, 35, 55, 57, 77, 79, 99},
         {"pic [C]", "pic [M]", "pic [Y]", "pic [K]"}},
        {ColorModeCMYK, false, {10}, {"pic [C]", "pic [M]", "pic [Y]", "pic [K]"}},
        {ColorModeRGB, true, {5, 30, 65, 90}, {"pic [R]", "pic [G]", "pic [B]"}},
        {ColorModeRGB, false, {5}, {"pic [R]", "pic [G]", "pic [B]"}},
        {ColorModeNone, true, {}, {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.Mode << " screening " << c.Screening);
        const auto run = RunJob(Settings(c.Mode, c.Screening), {false, "", false, "pic"});
        EXPECT_EQ(run->Error, "(no exception)");
        EXPECT_EQ(run->Progress.Reports, c.Progress);
        EXPECT_EQ(Titles(run->Host), c.Titles);
        const int32_t scale = c.Screening ? N : 1;
        for (const auto& image : run->Host.Images)
            EXPECT_TRUE(image.Width == W * scale && image.Height == H * scale);
    }
    EXPECT_TRUE(temp.Empty()); // the screens lived in memory or vanished with their files
}

TEST(ScreeningPipeline, UnscreenedPlanesAreTheEngineSeparations) {
    auto picture = testsupport::MakeTestPicture(W, H);
    TScreeningSettings s = Settings(ColorModeCMYK, false);
    s.BlackInkUsage = 0.4f;
    s.Gamma = 2.2f;
    const auto cmyk = RunJob(s);
    TPlaneSet expected = CreatePlanes(4);
    SeparateCMYK(*picture, expected[0], expected[1], expected[2], expected[3], 0.4f, 2.2f);
    ASSERT_EQ(cmyk->Host.Images.size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(0, std::memcmp(cmyk->Host.Images[size_t(i)].Pixels.data(), expected[i].Pixels(),
                                 size_t(W * H)))
            << "plane " << i; // CMYK planes never pass the tone table

    // Grey and RGB planes go through Round(255 (i/255)^2.2) when the picture's gamma is 2.2;
    // the grey plane is turned so that 255 is black ink.
    TToneTable table;
    MakeGammaTable(table, 1.0 / 2.2);
    TLinearBitmap grey;
    MakeGreyPlane(*picture, grey, 2.2f);
    const auto gray = RunJob([] {
        TScreeningSettings g = Settings(ColorModeGrayscale, false);
        g.Gamma = 2.2f;
        return g;
    }());
    ASSERT_EQ(gray->Host.Images.size(), 1u);
    for (int32_t i = 0; i < W * H; ++i)
        ASSERT_EQ(gray->Host.Images[0].Pixels[size_t(i)], 255 - table[grey.Pixels()[i]]);
    const auto grey1 = RunJob(Settings(ColorModeGrayscale, false));
    MakeGreyPlane(*picture, grey, 1.0f);
    for (int32_t i = 0; i < W * H; ++i)
        ASSERT_EQ(grey1->Host.Images[0].Pixels[size_t(i)], 255 - grey.Pixels()[i]);

    TScreeningSettings r = Settings(ColorModeRGB, false);
    r.Gamma = 2.2f;
    const auto rgb = RunJob(r);
    ASSERT_EQ(rgb->Host.Images.size(), 3u);
    for (int32_t i = 0; i < W * H; ++i) {
        const uint8_t* pixel = picture->Pixels() + 3 * i;
        ASSERT_EQ(rgb->Host.Images[0].Pixels[size_t(i)], table[pixel[2]]);
        ASSERT_EQ(rgb->Host.Images[2].Pixels[size_t(i)], table[pixel[0]]);
    }
}

// The combined CMYK preview is checked end to end against the plate files (HostRun); here its
// progress and the order of the light planes in the RGB image.
TEST(ScreeningPipeline, CombinedImagesHoldTheDotsOfEveryPlane) {
    TScreeningSettings s = Settings(ColorModeCMYK, true);
    s.Combine = true;
    EXPECT_EQ(RunJob(s)->Progress.Reports, (std::vector<int32_t>{10, 30, 35, 55, 57, 77, 79, 99}));

    TScreeningSettings r = Settings(ColorModeRGB, true);
    const auto lights = RunJob(r);
    r.Combine = true;
    const auto mixed = RunJob(r, {false, "", false, ""});
    ASSERT_EQ(Titles(mixed->Host), std::vector<std::string>{" [RGB]"});
    EXPECT_EQ(mixed->Progress.Reports, (std::vector<int32_t>{5, 30, 65, 90}));
    for (size_t j = 0; j < mixed->Host.Images[0].Pixels.size(); ++j) {
        int expected = 0;
        for (int p = 0; p < 3; ++p)
            expected |= lights->Host.Images[size_t(p)].Pixels[j] != 0 ? 1 << p : 0;
        ASSERT_EQ(mixed->Host.Images[0].Pixels[j], expected) << "pixel " << j;
    }
    EXPECT_EQ(mixed->Host.Images[0].Palette[3 * 5 + 1], 0); // magenta has no green
}

TEST(ScreeningPipeline, FilesAreThePlatesTheHostWouldHaveReceived) {
    const testsupport::TemporaryFolder temp;
    const std::string base = temp.Path() + "/plate";
    const auto plates = RunJob(Settings(ColorModeCMYK, true));
    const auto files = RunJob(Settings(ColorModeCMYK, true), {true, base, false, "pic"});
    EXPECT_TRUE(files->Host.Images.empty());
    EXPECT_EQ(FilesIn(temp.Path()), (std::set<std::string>{"plate[C].tif", "plate[M].tif",
                                                           "plate[Y].tif", "plate[K].tif"}));
    const char* names[] = {"[C].tif", "[M].tif", "[Y].tif", "[K].tif"};
    for (size_t p = 0; p < 4; ++p) {
        const auto file = ReadBilevelFile(base + names[p]);
        ASSERT_TRUE(file.Read) << names[p];
        EXPECT_EQ(file.Photometric, PHOTOMETRIC_MINISWHITE);
        const auto& plate = plates->Host.Images[p];
        ASSERT_EQ(file.Width, uint32_t(plate.Width));
        ASSERT_EQ(file.Height, uint32_t(plate.Height));
        for (size_t j = 0; j < file.Bits.size(); ++j)
            ASSERT_EQ(file.Bits[j], plate.Pixels[j] == 255 ? 1 : 0) << names[p] << " pixel " << j;
    }

    // RGB writes its files and still sends the planes to the host.
    const auto rgb = RunJob(Settings(ColorModeRGB, true), {true, base, true, "pic"});
    EXPECT_EQ(Titles(rgb->Host), (std::vector<std::string>{"pic [R]", "pic [G]", "pic [B]"}));
    const auto r = ReadBilevelFile(base + "[R].tif");
    ASSERT_TRUE(r.Read);
    EXPECT_EQ(r.Photometric, PHOTOMETRIC_MINISWHITE); // inverted light plane
}

TEST(ScreeningPipeline, ACancelAtAnyReportKeepsTheFilesWrittenBeforeIt) {
    // Which files exist once the report of each percentage has been answered with a cancel.
    const std::vector<std::pair<int32_t, size_t>> cancels = {{10, 0}, {30, 0}, {35, 1}, {55, 1},
                                                             {57, 2}, {77, 2}, {79, 3}, {99, 3}};
    const std::vector<std::string> order = {"x[C].tif", "x[M].tif", "x[Y].tif", "x[K].tif"};
    for (const auto& [percent, written] : cancels) {
        SCOPED_TRACE(percent);
        const testsupport::TemporaryFolder temp;
        const auto run =
            RunJob(Settings(ColorModeCMYK, true), {true, temp.Path() + "/x", false, ""}, percent);
        EXPECT_EQ(run->Error, "Operation aborted");
        EXPECT_EQ(run->Progress.Reports.back(), percent);
        EXPECT_EQ(FilesIn(temp.Path()),
                  std::set<std::string>(order.begin(), order.begin() + long(written)));
    }
}

TEST(ScreeningPipeline, FileSystemFailuresEndTheRunWithTheirMessage) {
    const testsupport::TemporaryFolder temp;
    // A plate whose name is taken by a folder cannot be written; the plates before it stay.
    std::filesystem::create_directory(temp.Path() + "/y[M].tif");
    const auto blocked =
        RunJob(Settings(ColorModeCMYK, true), {true, temp.Path() + "/y", false, ""});
    EXPECT_NE(blocked->Error.find("y[M].tif"), std::string::npos) << blocked->Error;
    EXPECT_EQ(blocked->Progress.Reports.back(), 55);
    EXPECT_EQ(FilesIn(temp.Path()), (std::set<std::string>{"y[C].tif", "y[M].tif"}));
}

TEST(ScreeningPipeline, AFullDiskLeavesOnlyTheFilesAlreadyWritten) {
    const testsupport::TemporaryFolder temp;
    const std::string base = temp.Path() + "/z";
    // One whole plate and part of the next fit on the disk.
    ASSERT_EQ(
        RunJob(Settings(ColorModeCMYK, true), {true, temp.Path() + "/probe", false, ""})->Error,
        "(no exception)");
    const auto plateBytes = std::filesystem::file_size(temp.Path() + "/probe[C].tif");
    for (const char* p : {"C", "M", "Y", "K"})
        std::filesystem::remove(temp.Path() + "/probe[" + p + "].tif");
    std::unique_ptr<TRunResult> full;
    {
        testsupport::TFileFaults faults;
        faults.FailWritesAfter(plateBytes + plateBytes / 2, ENOSPC);
        full = RunJob(Settings(ColorModeCMYK, true), {true, base, false, ""});
    }
    EXPECT_EQ(full->Error, std::string("Error writing to stream - ") + std::strerror(ENOSPC));
    // The half-written plate is gone; the whole one before it stays.
    EXPECT_EQ(FilesIn(temp.Path()), std::set<std::string>{"z[C].tif"});
    EXPECT_TRUE(ReadBilevelFile(base + "[C].tif").Read);
}

} // namespace
} // namespace stipplor
