#include "ExitStatus.h"
#include "TableCheck.h"
#include "TableImage.h"
#include "TableMaker.h"

#include "TestSupport.h"
#include "screening/ConversionTable.h"
#include "screening/TableFixtures.h"

#include <gtest/gtest.h>
#include <lcms2.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <sys/wait.h>
#include <vector>

namespace stipplor::tabletool {
namespace {

const std::string Press = DEFAULT_CMYK_PROFILE;

// Removes the file when the test ends, however it ends.
struct TTempFile {
    std::string Path;
    explicit TTempFile(const std::string& name) : Path(testsupport::ProcessTempPath(name)) {}
    ~TTempFile() { std::remove(Path.c_str()); }
};

// Colours to compare: a 16-step grid of the cube, with its corners, and scattered colours.
std::vector<TRGB> SampleColours() {
    std::vector<TRGB> colours;
    for (int r = 0; r < 256; r += 17)
        for (int g = 0; g < 256; g += 17)
            for (int b = 0; b < 256; b += 17)
                colours.push_back({uint8_t(r), uint8_t(g), uint8_t(b)});
    uint32_t state = 99;
    for (int i = 0; i < 3000; ++i) {
        state = state * 1103515245u + 12345u;
        colours.push_back({uint8_t(state >> 8), uint8_t(state >> 16), uint8_t(state >> 24)});
    }
    return colours;
}

// LittleCMS's own answer, from a transform set up here without the tool.
std::vector<TInk> LittleCMSInks(const std::vector<TRGB>& colours, cmsUInt32Number intent,
                                cmsUInt32Number flags, int inkLimit = 0) {
    std::vector<cmsHPROFILE> chain = {cmsCreate_sRGBProfile(),
                                      cmsOpenProfileFromFile(Press.c_str(), "r")};
    if (inkLimit != 0)
        chain.push_back(cmsCreateInkLimitingDeviceLink(cmsSigCmykData, inkLimit));
    cmsHTRANSFORM transform = cmsCreateMultiprofileTransform(
        chain.data(), cmsUInt32Number(chain.size()), TYPE_RGB_8, TYPE_CMYK_8, intent, flags);
    EXPECT_NE(transform, nullptr);
    std::vector<TInk> inks(colours.size());
    if (transform != nullptr) {
        static_assert(sizeof(TRGB) == 3 && sizeof(TInk) == 4);
        cmsDoTransform(transform, colours.data(), inks.data(), cmsUInt32Number(colours.size()));
        cmsDeleteTransform(transform);
    }
    for (cmsHPROFILE profile : chain)
        cmsCloseProfile(profile);
    return inks;
}

// Options for sRGB to the press, perceptual, unless changed.
TMakeOptions ToPress() {
    TMakeOptions options;
    options.ToProfile = Press;
    return options;
}

std::vector<TInk> ToolInks(const TMakeOptions& options, const std::vector<TRGB>& colours) {
    const TTableTransform transform(options);
    std::vector<TInk> inks(colours.size());
    transform.Convert(&colours[0].R, &inks[0].C, int32_t(colours.size()));
    return inks;
}

// The plug-in's separation of a picture made of the colours, pixel by pixel.
std::vector<TInk> SeparatedThroughTable(const std::string& table,
                                        const std::vector<TRGB>& colours) {
    TLinearBitmap picture, planes[4];
    picture.Allocate(int32_t(colours.size()), 1, PixelFormat24);
    for (size_t i = 0; i < colours.size(); ++i) {
        uint8_t* p = picture.RowPointer(0) + 3 * i;
        p[0] = colours[i].B, p[1] = colours[i].G, p[2] = colours[i].R;
    }
    LoadConversionPlanes(picture, planes[0], planes[1], planes[2], planes[3], table);
    std::vector<TInk> inks;
    for (size_t i = 0; i < colours.size(); ++i)
        inks.push_back({planes[0].RowPointer(0)[i], planes[1].RowPointer(0)[i],
                        planes[2].RowPointer(0)[i], planes[3].RowPointer(0)[i]});
    return inks;
}

int CheckStatus(const std::string& path, int inkLimit, std::string* report = nullptr) {
    std::ostringstream out, err;
    const int status = RunCheck(path, {.InkLimit = inkLimit}, out, err);
    if (report != nullptr)
        *report = out.str() + err.str();
    return status;
}

TEST(StipplorTableTest, MadeTableHoldsLittleCMSsOwnTransform) {
    const std::vector<TRGB> colours = SampleColours();
    const TTempFile table("srgb.tif");
    std::ostringstream log;
    MakeTable(ToPress(), table.Path, log);
    EXPECT_NE(log.str().find("100%"), std::string::npos) << log.str();
    EXPECT_EQ(SeparatedThroughTable(table.Path, colours),
              LittleCMSInks(colours, INTENT_PERCEPTUAL, 0));

    std::string report;
    EXPECT_EQ(CheckStatus(table.Path, 0, &report), ExitUsable) << report;
    for (const char* line : {"LZW with predictor, 256 strips of 16 rows", "Verdict: usable."})
        EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;

    // Each option reaches LittleCMS as it would be given there.
    const std::pair<TIntent, cmsUInt32Number> intents[] = {
        {TIntent::Relative, INTENT_RELATIVE_COLORIMETRIC},
        {TIntent::Saturation, INTENT_SATURATION},
        {TIntent::Absolute, INTENT_ABSOLUTE_COLORIMETRIC}};
    for (const auto& [intent, cmsIntent] : intents)
        for (bool compensation : {false, true}) {
            TMakeOptions options = ToPress();
            options.Intent = intent;
            options.BlackPointCompensation = compensation;
            EXPECT_EQ(ToolInks(options, colours),
                      LittleCMSInks(colours, cmsIntent,
                                    compensation ? cmsFLAGS_BLACKPOINTCOMPENSATION : 0))
                << int(intent) << " " << compensation;
        }
}

TEST(StipplorTableTest, InkLimitHoldsOnEveryEntry) {
    const TTempFile table("limited.tif");
    std::ostringstream log;
    TMakeOptions options = ToPress();
    options.InkLimit = 260;
    options.LZW = false;
    MakeTable(options, table.Path, log);
    const int32_t limit = InkLimitLevels(260);
    {
        const TConversionTable loaded(table.Path);
        int64_t over = 0;
        for (int32_t y = 0; y < ConversionTableSide; ++y)
            for (int32_t x = 0; x < ConversionTableSide; ++x) {
                const TInk ink = loaded.InkAt(x, y);
                over += ink.C + ink.M + ink.Y + ink.K > limit;
            }
        EXPECT_EQ(over, 0);
    }
    // Where LittleCMS's ink limiting already holds, the table is LittleCMS's; where its
    // rounding went over, only C, M and Y gave up the excess.
    const std::vector<TRGB> colours = SampleColours();
    const std::vector<TInk> expected = LittleCMSInks(colours, INTENT_PERCEPTUAL, 0, 260);
    const std::vector<TInk> got = SeparatedThroughTable(table.Path, colours);
    int roundedOver = 0;
    for (size_t i = 0; i < colours.size(); ++i) {
        const TInk& e = expected[i];
        const TInk& g = got[i];
        if (e.C + e.M + e.Y + e.K <= limit) {
            EXPECT_EQ(g, e) << i;
            continue;
        }
        ++roundedOver;
        EXPECT_EQ(g.K, e.K);
        EXPECT_EQ(g.C + g.M + g.Y + g.K, limit);
        EXPECT_TRUE(g.C <= e.C && g.M <= e.M && g.Y <= e.Y) << i;
    }
    EXPECT_GT(roundedOver, 0) << "the samples should meet LittleCMS's rounding";

    std::string report;
    EXPECT_EQ(CheckStatus(table.Path, 260, &report), ExitUsable) << report;
    EXPECT_NE(report.find("The ink limit of 260% holds on every entry."), std::string::npos);
    EXPECT_EQ(CheckStatus(table.Path, 250, &report), ExitFindings);
    EXPECT_NE(report.find("Verdict: not usable as it stands: ink limit exceeded."),
              std::string::npos)
        << report;

    uint8_t pixels[] = {10, 20, 30, 40, 200, 210, 205, 255, 0, 0, 1, 255};
    HoldInkLimit(pixels, 3, 256);
    const uint8_t held[] = {10, 20, 30, 40, 0, 0, 1, 255, 0, 0, 1, 255};
    EXPECT_TRUE(std::equal(std::begin(pixels), std::end(pixels), std::begin(held)));
    uint8_t evenly[] = {100, 101, 100, 100};
    HoldInkLimit(evenly, 1, 398);
    EXPECT_EQ(std::vector<uint8_t>(evenly, evenly + 4), (std::vector<uint8_t>{99, 99, 100, 100}));
}

// A table made from a rule on each entry's colour.
template <class Rule> void WriteRuleTable(const std::string& path, Rule rule) {
    WriteTableImage(
        path, {.Samples = 4, .LZW = false},
        [&](int32_t first, int32_t count, uint8_t* rows) {
            for (int32_t y = first; y < first + count; ++y)
                for (int32_t x = 0; x < ConversionTableSide; ++x, rows += 4) {
                    const TInk ink = rule(TableColour(x, y));
                    rows[0] = ink.C, rows[1] = ink.M, rows[2] = ink.Y, rows[3] = ink.K;
                }
        },
        nullptr);
}

TEST(StipplorTableTest, CheckFindsUnbalancedGreysAndFallingRamps) {
    const TTempFile table("rule.tif");
    auto inverse = [](TRGB c) {
        return TInk{uint8_t(255 - c.R), uint8_t(255 - c.G), uint8_t(255 - c.B), 0};
    };

    WriteRuleTable(table.Path, inverse);
    std::string report;
    EXPECT_EQ(CheckStatus(table.Path, 0, &report), ExitUsable) << report;
    EXPECT_NE(report.find("No black in any grey"), std::string::npos) << report;

    // Half the cyan that magenta and yellow get: a red cast in every grey.
    WriteRuleTable(table.Path, [&](TRGB c) {
        TInk ink = inverse(c);
        ink.C /= 2;
        return ink;
    });
    EXPECT_EQ(CheckStatus(table.Path, 0, &report), ExitFindings);
    EXPECT_NE(report.find("FINDING: C, M and Y are unbalanced: they differ by 50% at 100% tone"),
              std::string::npos)
        << report;

    // Black that grows with the darkest ink and vanishes in the deepest shadows.
    WriteRuleTable(table.Path, [&](TRGB c) {
        TInk ink = inverse(c);
        const uint8_t k = std::min({ink.C, ink.M, ink.Y});
        ink.K = k < 192 ? k : 0;
        return ink;
    });
    const TConversionTable loaded(table.Path);
    const TCheckResult result = CheckTable(loaded, {});
    EXPECT_FALSE(result.GreysUnbalanced());
    std::vector<std::string> falling;
    for (const TRampResult& ramp : result.Ramps)
        if (ramp.Fall > RampFallLevels)
            falling.push_back(ramp.Name + " " + ramp.Ink + std::to_string(ramp.Fall));
    // Towards black the inks a colour lacks grow from 0, so black follows them up to 191;
    // from white towards a colour at least one ink stays 0, and so does black.
    EXPECT_EQ(falling, (std::vector<std::string>{"white to black K191", "red to black K191",
                                                 "green to black K191", "blue to black K191",
                                                 "cyan to black K191", "magenta to black K191",
                                                 "yellow to black K191"}));
    EXPECT_EQ(result.Ramps[0].Where, (TRGB{63, 63, 63}));
}

TEST(StipplorTableTest, IdentityPictureHoldsEachEntrysColour) {
    const TTempFile identity("identity.tif");
    std::ostringstream log;
    MakeIdentity(identity.Path, true, log);
    TIFF* in = TIFFOpen(identity.Path.c_str(), "r");
    ASSERT_NE(in, nullptr);
    uint32_t width = 0, height = 0;
    uint16_t samples = 0;
    TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(in, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(in, TIFFTAG_SAMPLESPERPIXEL, &samples);
    ASSERT_TRUE(width == 4096 && height == 4096 && samples == 3);
    std::vector<uint8_t> row(4096 * 3);
    int64_t wrong = 0;
    for (uint32_t y = 0; y < height; ++y) {
        ASSERT_EQ(TIFFReadScanline(in, row.data(), y, 0), 1);
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = &row[3 * x];
            wrong += p[0] != x % 256 || p[1] != y % 256 || p[2] != (y / 256) * 16 + x / 256;
        }
    }
    TIFFClose(in);
    EXPECT_EQ(wrong, 0);
}

// --- the program --------------------------------------------------------------------------

struct TRun {
    int Status = -1;
    std::string Output; // standard output and error
};

TRun RunTool(const std::string& arguments) {
    TRun run;
    FILE* pipe =
        ::popen((std::string(STIPPLOR_TABLE_TOOL) + " " + arguments + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.Output.append(buffer, n);
    const int status = ::pclose(pipe);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool Contains(const TRun& run, const std::string& text) {
    return run.Output.find(text) != std::string::npos;
}

TEST(StipplorTableTest, ProgramRefusesWhatThePluginRefuses) {
    const TTempFile identity("cli_identity.tif"), shortTable("cli_short.tif"), cut("cli_cut.tif"),
        missing("cli_missing.tif");
    // The identity picture given as a table, as a user might.
    TRun run = RunTool("identity " + identity.Path);
    ASSERT_EQ(run.Status, ExitUsable) << run.Output;
    run = RunTool("check " + identity.Path);
    EXPECT_EQ(run.Status, ExitUnreadable);
    EXPECT_TRUE(Contains(run, identity.Path + ": Conversion table must be CMYK TIFF file"))
        << run.Output;

    ASSERT_TRUE(
        testsupport::WriteTableFile(shortTable.Path, {.Height = 4095}, [](uint32_t, uint8_t*) {}));
    run = RunTool("check " + shortTable.Path);
    EXPECT_EQ(run.Status, ExitUnreadable);
    EXPECT_TRUE(Contains(run, ": Incorrect conversion table dimensions")) << run.Output;

    std::filesystem::copy_file(identity.Path, cut.Path,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(cut.Path, std::filesystem::file_size(cut.Path) / 2);
    run = RunTool("check " + cut.Path);
    EXPECT_EQ(run.Status, ExitUnreadable);
    EXPECT_TRUE(Contains(run, ": Invalid TIFF file")) << run.Output;

    run = RunTool("check " + missing.Path);
    EXPECT_EQ(run.Status, ExitUnreadable);
    EXPECT_TRUE(Contains(run, ": No such file or directory")) << run.Output;

    // Profiles that do not fit, and paths that cannot be written, cost no table.
    run = RunTool("make --to " + identity.Path + " " + missing.Path);
    EXPECT_EQ(run.Status, ExitFailed);
    EXPECT_TRUE(Contains(run, "Cannot open profile " + identity.Path)) << run.Output;
    const TTempFile profile("cli_profile.icc");
    std::filesystem::copy_file(Press, profile.Path,
                               std::filesystem::copy_options::overwrite_existing);
    run = RunTool("make --to " + profile.Path + " " + profile.Path);
    EXPECT_EQ(run.Status, ExitFailed);
    EXPECT_TRUE(Contains(run, "Will not overwrite the profile " + profile.Path)) << run.Output;
    EXPECT_EQ(std::filesystem::file_size(profile.Path), std::filesystem::file_size(Press));
    run = RunTool("make --to " + Press + " " + missing.Path + "/no/such/folder.tif");
    EXPECT_EQ(run.Status, ExitFailed);
    EXPECT_TRUE(Contains(run, "Cannot write " + missing.Path +
                                  "/no/such/folder.tif: No such file or directory"))
        << run.Output;
    EXPECT_FALSE(std::filesystem::exists(missing.Path));

    for (const std::string& wrong : std::vector<std::string>{
             "", "make --to " + Press + " --ink-limit 99 " + missing.Path, "check"})
        EXPECT_EQ(RunTool(wrong).Status, ExitUsage) << wrong;
}

} // namespace
} // namespace stipplor::tabletool
