// stipplor-table: makes CMYK conversion tables from ICC profiles with LittleCMS, checks them
// as the plug-in reads them, and writes the identity picture for converting elsewhere.
#include "ExitStatus.h"
#include "TableCheck.h"
#include "TableMaker.h"
#include "core/Exception.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <new>

using namespace stipplor::tabletool;

namespace {

const char* const Description =
    "Makes and checks the CMYK conversion tables of the Stipplor plug-in: 4096 x 4096 CMYK TIFF\n"
    "files that hold the inks of every 24-bit colour (blue picks one of 16 x 16 tiles of\n"
    "256 x 256 entries, red runs across a tile, green down).";

const char* const MakeHelp =
    "Converts all 16,777,216 colours with LittleCMS from the RGB profile to the CMYK profile, on\n"
    "all processors, and writes the table (LZW with predictor unless --uncompressed).\n"
    "--ink-limit uses LittleCMS's ink-limiting device link: where C + M + Y + K exceeds the\n"
    "limit, C, M and Y shrink in proportion and K stays. Its result is rounded to 8 bits, which\n"
    "can leave a colour one level above the limit; that level comes off the largest of C, M\n"
    "and Y, so the limit holds on every entry (levels: PERCENT x 255 / 100, rounded down).";

const char* const CheckHelp =
    "Reads the table exactly as the plug-in does and reports its layout, how greys are built,\n"
    "the most total ink and where, and whether ramps stay monotonic. Findings:\n"
    "  - with --ink-limit: an entry whose C + M + Y + K exceeds PERCENT x 255 / 100 levels;\n"
    "  - greys (r = g = b) whose C, M and Y differ by more than 15 % of full ink;\n"
    "  - a ramp from light to dark (white to black; white to red, green, blue, cyan, magenta,\n"
    "    yellow: their inks; each of these to black: K, or where the ramp has no K, the inks\n"
    "    the colour lacks) on which such an ink falls more than 3 levels of 255 below its\n"
    "    highest value earlier on the ramp.\n"
    "Exit status: 0 usable, 1 findings, 2 the plug-in cannot read the table (its message on\n"
    "standard error).";

const char* const IdentityHelp =
    "Writes the identity picture: a 4096 x 4096 RGB TIFF whose every pixel holds the colour of\n"
    "the table entry at its place. Convert it to CMYK in another program, without resampling,\n"
    "cropping or colour tags changing it, and the result is a table.";

template <class F> int Run(F&& work) {
    try {
        return work();
    } catch (const stipplor::Exception& e) {
        std::cerr << "stipplor-table: " << e.Message() << '\n';
    } catch (const std::bad_alloc&) {
        std::cerr << "stipplor-table: out of memory\n";
    }
    return ExitFailed;
}

// "wrote t.tif (5.1 MB) in 0.46 s"
void ReportWritten(const std::string& path, std::chrono::steady_clock::time_point start) {
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::error_code error;
    const double megabytes = double(std::filesystem::file_size(path, error)) / 1e6;
    std::cerr << "wrote " << path << " (" << std::fixed << std::setprecision(1) << megabytes
              << " MB) in " << std::setprecision(2) << took.count() << " s\n";
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app(Description, "stipplor-table");
    app.footer("Exit status: 0 done (check: usable table), 1 check found faults, 2 check cannot\n"
               "read the table, 3 a file could not be made, 64 wrong command line.");
    app.require_subcommand(1);

    TMakeOptions make;
    bool uncompressed = false;
    std::string out;
    CLI::App* makeCommand = app.add_subcommand("make", "Make a table from ICC profiles");
    makeCommand->footer(MakeHelp);
    makeCommand->add_option("--from", make.FromProfile, "RGB profile (default: sRGB)")
        ->check(CLI::ExistingFile)
        ->option_text("FILE");
    makeCommand->add_option("--to", make.ToProfile, "CMYK profile of the press")
        ->required()
        ->check(CLI::ExistingFile)
        ->option_text("FILE (required)");
    const std::map<std::string, TIntent> intents = {{"perceptual", TIntent::Perceptual},
                                                    {"relative", TIntent::Relative},
                                                    {"saturation", TIntent::Saturation},
                                                    {"absolute", TIntent::Absolute}};
    std::string intent = "perceptual";
    makeCommand->add_option("--intent", intent, "Rendering intent (default: perceptual)")
        ->transform(CLI::IsMember(intents, CLI::ignore_case))
        ->option_text("perceptual|relative|saturation|absolute");
    makeCommand->add_flag("--black-point-compensation", make.BlackPointCompensation,
                          "Map the source's black point to the press's");
    makeCommand->add_option("--ink-limit", make.InkLimit, "Most total ink, in percent")
        ->check(CLI::Range(MinInkLimit, MaxInkLimit))
        ->option_text("PERCENT (100..400)");
    makeCommand->add_flag("--uncompressed", uncompressed, "Write without LZW compression");
    makeCommand->add_option("OUT", out, "Table file to write")->required();

    TCheckOptions check;
    std::string table;
    CLI::App* checkCommand = app.add_subcommand("check", "Check a table");
    checkCommand->footer(CheckHelp);
    checkCommand->add_option("--ink-limit", check.InkLimit, "Most total ink allowed, in percent")
        ->check(CLI::Range(MinInkLimit, MaxInkLimit))
        ->option_text("PERCENT (100..400)");
    checkCommand->add_option("TABLE", table, "Table file to check")->required();

    CLI::App* identityCommand =
        app.add_subcommand("identity", "Write the identity picture for converting elsewhere");
    identityCommand->footer(IdentityHelp);
    identityCommand->add_flag("--uncompressed", uncompressed, "Write without LZW compression");
    identityCommand->add_option("OUT", out, "Picture file to write")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? ExitUsable : ExitUsage;
    }

    const auto start = std::chrono::steady_clock::now();
    if (*makeCommand)
        return Run([&] {
            make.LZW = !uncompressed;
            make.Intent = intents.at(intent);
            MakeTable(make, out, std::cerr);
            ReportWritten(out, start);
            return ExitUsable;
        });
    if (*identityCommand)
        return Run([&] {
            MakeIdentity(out, !uncompressed, std::cerr);
            ReportWritten(out, start);
            return ExitUsable;
        });
    return Run([&] { return RunCheck(table, check, std::cout, std::cerr); });
}
