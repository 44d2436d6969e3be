#include "TableCheck.h"

#include "ExitStatus.h"
#include "TIFFFile.h"
#include "TableMaker.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

namespace stipplor::tabletool {
namespace {

constexpr int32_t Side = ConversionTableSide;

int Total(const TInk& ink) noexcept {
    return ink.C + ink.M + ink.Y + ink.K;
}

// Levels as whole percent of full ink (never a tie: 255 has no factor 2).
int Percent(int levels) noexcept {
    return (levels * 100 + 127) / 255;
}

int Spread(const TInk& ink) noexcept {
    return std::max({ink.C, ink.M, ink.Y}) - std::min({ink.C, ink.M, ink.Y});
}

uint8_t InkOf(const TInk& ink, char name) noexcept {
    switch (name) {
    case 'C':
        return ink.C;
    case 'M':
        return ink.M;
    case 'Y':
        return ink.Y;
    default:
        return ink.K;
    }
}

// --- totals ---------------------------------------------------------------------------------

void ScanTotals(const TConversionTable& table, int limit, TCheckResult& result) {
    for (int32_t y = 0; y < Side; ++y) {
        const uint8_t* e = table.Row(y);
        for (int32_t x = 0; x < Side; ++x, e += 4) {
            const int total = e[0] + e[1] + e[2] + e[3];
            if (total > result.MaxTotal) {
                result.MaxTotal = total;
                result.MaxTotalAt = TableColour(x, y);
            }
            if (limit != 0 && total > limit && result.OverLimit++ == 0)
                result.FirstOverLimit = TableColour(x, y);
        }
    }
}

// --- greys ----------------------------------------------------------------------------------

void ReadGreys(const TConversionTable& table, TCheckResult& result) {
    for (int v = 0; v < 256; ++v) {
        const auto level = static_cast<uint8_t>(v);
        const TInk ink = table.Ink({level, level, level});
        result.Greys[static_cast<size_t>(v)] = ink;
        if (Spread(ink) > result.GreySpread) {
            result.GreySpread = Spread(ink);
            result.GreySpreadAt = v;
        }
    }
}

// --- ramps ----------------------------------------------------------------------------------

struct TCorner {
    const char* Name;
    TRGB Colour;
};
constexpr TCorner Corners[] = {
    {"red", {255, 0, 0}},    {"green", {0, 255, 0}},     {"blue", {0, 0, 255}},
    {"cyan", {0, 255, 255}}, {"magenta", {255, 0, 255}}, {"yellow", {255, 255, 0}},
};

// The process inks a colour is printed with: cyan where it has no red, and so on.
std::string InksOf(TRGB colour, bool present) {
    std::string inks;
    if ((colour.R == 0) == present)
        inks += 'C';
    if ((colour.G == 0) == present)
        inks += 'M';
    if ((colour.B == 0) == present)
        inks += 'Y';
    return inks;
}

// Step t (0..255) of the straight ramp from `from` to `to`, whose channels are 0 or 255.
TRGB RampStep(TRGB from, TRGB to, int t) {
    auto channel = [t](uint8_t a, uint8_t b) {
        return a == b ? a : static_cast<uint8_t>(a == 0 ? t : 255 - t);
    };
    return {channel(from.R, to.R), channel(from.G, to.G), channel(from.B, to.B)};
}

// From white to a colour its own inks must grow; towards black, black must grow, or, on a
// ramp that carries no black at all, the inks the starting colour lacks.
TRampResult CheckRamp(const TConversionTable& table, std::string name, TRGB from, TRGB to) {
    std::array<TInk, 256> steps;
    bool carriesBlack = false;
    for (int t = 0; t < 256; ++t) {
        steps[static_cast<size_t>(t)] = table.Ink(RampStep(from, to, t));
        carriesBlack = carriesBlack || steps[static_cast<size_t>(t)].K != 0;
    }
    const bool toBlack = to == TRGB{0, 0, 0};
    const std::string watched = !toBlack       ? InksOf(to, true)
                                : carriesBlack ? "K"
                                               : InksOf(from, false);

    TRampResult result;
    result.Name = std::move(name);
    for (char ink : watched) {
        int highest = 0;
        for (int t = 0; t < 256; ++t) {
            const int value = InkOf(steps[static_cast<size_t>(t)], ink);
            highest = std::max(highest, value);
            if (highest - value > result.Fall) {
                result.Fall = highest - value;
                result.Ink = ink;
                result.Where = RampStep(from, to, t);
            }
        }
    }
    return result;
}

void CheckRamps(const TConversionTable& table, TCheckResult& result) {
    const TRGB white{255, 255, 255}, black{0, 0, 0};
    result.Ramps.push_back(CheckRamp(table, "white to black", white, black));
    for (const TCorner& corner : Corners)
        result.Ramps.push_back(
            CheckRamp(table, std::string("white to ") + corner.Name, white, corner.Colour));
    for (const TCorner& corner : Corners)
        result.Ramps.push_back(
            CheckRamp(table, std::string(corner.Name) + " to black", corner.Colour, black));
}

// --- the report -----------------------------------------------------------------------------

struct TFileLayout {
    uintmax_t Bytes = 0;
    bool Read = false; // libtiff could read the fields below
    uint16_t Compression = 0, Predictor = 1, Photometric = 0;
    uint32_t RowsPerStrip = 0, Strips = 0;
};

TFileLayout ReadFileLayout(const std::string& path) {
    TFileLayout layout;
    std::error_code error;
    layout.Bytes = std::filesystem::file_size(path, error);
    TTIFFFile file(path, "r");
    if (!file.Valid())
        return layout;
    TIFF* tiff = file.Handle();
    layout.Read = TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &layout.Compression) == 1 &&
                  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &layout.Photometric) == 1 &&
                  TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &layout.RowsPerStrip) == 1;
    // Only the codecs that know a predictor have the field.
    if (layout.Compression == COMPRESSION_LZW)
        TIFFGetFieldDefaulted(tiff, TIFFTAG_PREDICTOR, &layout.Predictor);
    layout.Strips = TIFFNumberOfStrips(tiff);
    return layout;
}

std::string Text(const char* format, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string ColourText(TRGB c) {
    return Text("(%d, %d, %d)", c.R, c.G, c.B);
}

std::string InkText(const TInk& ink) {
    return Text("C %d%%  M %d%%  Y %d%%  K %d%%  = %d%%", Percent(ink.C), Percent(ink.M),
                Percent(ink.Y), Percent(ink.K), Percent(Total(ink)));
}

void ReportLayout(std::ostream& out, const std::string& path, const TFileLayout& layout) {
    out << "Table " << path << '\n';
    out << "  4096 x 4096 entries of C, M, Y, K (8 bits each) in 16 x 16 tiles of 256 x 256:\n"
        << "  blue picks the tile, red runs across it, green down.\n";
    std::string file = Text("  File: %.1f MB", double(layout.Bytes) / 1e6);
    if (layout.Read) {
        const char* compression = layout.Compression == COMPRESSION_NONE     ? "uncompressed"
                                  : layout.Compression != COMPRESSION_LZW    ? "compressed"
                                  : layout.Predictor == PREDICTOR_HORIZONTAL ? "LZW with predictor"
                                                                             : "LZW";
        file += Text(", %s, %u strips of %u rows", compression, layout.Strips,
                     std::min(layout.RowsPerStrip, uint32_t(Side)));
    }
    out << file << '\n';
    if (layout.Read && layout.Photometric != PHOTOMETRIC_SEPARATED)
        out << "  note: the file does not call itself CMYK; its four samples are used as C, M, Y, "
               "K\n";
}

void ReportGreys(std::ostream& out, const TCheckResult& r) {
    out << "\nNeutrals (r = g = b):\n"
        << "   tone  r=g=b     C     M     Y     K   total  K share\n";
    for (int v : {255, 230, 204, 179, 153, 128, 102, 77, 51, 26, 0}) {
        const TInk& ink = r.Greys[static_cast<size_t>(v)];
        const int total = Total(ink);
        const std::string share =
            total == 0 ? "-" : Text("%d%%", (ink.K * 100 + total / 2) / total);
        out << Text("  %4d%%  %5d  %3d%%  %3d%%  %3d%%  %3d%%  %5d%%  %7s\n", Percent(255 - v), v,
                    Percent(ink.C), Percent(ink.M), Percent(ink.Y), Percent(ink.K), Percent(total),
                    share.c_str());
    }
    int firstBlack = 255;
    while (firstBlack >= 0 && r.Greys[static_cast<size_t>(firstBlack)].K == 0)
        --firstBlack;
    if (firstBlack < 0)
        out << "  No black in any grey: C, M and Y alone build them all.\n";
    else
        out << Text("  Black starts at %d%% tone (r = g = b = %d).\n", Percent(255 - firstBlack),
                    firstBlack);
    const std::string where =
        Text("%d%% tone (r = g = b = %d)", Percent(255 - r.GreySpreadAt), r.GreySpreadAt);
    if (r.GreysUnbalanced())
        out << "  FINDING: C, M and Y are unbalanced: they differ by " << Percent(r.GreySpread)
            << "% at " << where << " (more than " << GreySpreadPercent << "%).\n";
    else if (r.GreySpread == 0)
        out << "  C, M and Y are equal in every grey.\n";
    else
        out << "  C, M and Y stay balanced: they differ by at most " << Percent(r.GreySpread)
            << "%, at " << where << ".\n";
}

void ReportInk(std::ostream& out, const TConversionTable& table, const TCheckResult& r,
               const TCheckOptions& options) {
    out << "\nTotal ink:\n"
        << "  White " << ColourText({255, 255, 255}) << ": " << InkText(r.Greys[255]) << '\n'
        << "  Black " << ColourText({0, 0, 0}) << ":       " << InkText(r.Greys[0]) << '\n'
        << "  Most:  " << Percent(r.MaxTotal) << "% at " << ColourText(r.MaxTotalAt) << ": "
        << InkText(table.Ink(r.MaxTotalAt)) << '\n';
    if (options.InkLimit == 0)
        return;
    if (r.InkLimitExceeded())
        out << "  FINDING: " << r.OverLimit << " entries exceed the ink limit of "
            << options.InkLimit << "%, among them " << ColourText(r.FirstOverLimit) << ".\n";
    else
        out << "  The ink limit of " << options.InkLimit << "% holds on every entry.\n";
}

void ReportRamps(std::ostream& out, const TCheckResult& r) {
    out << "\nRamps from light to dark (" << r.Ramps.size() << "):\n";
    for (const TRampResult& ramp : r.Ramps)
        if (ramp.Fall > RampFallLevels)
            out << "  FINDING: " << ramp.Name << ": " << ramp.Ink << " falls by " << ramp.Fall
                << " levels, to " << ColourText(ramp.Where) << ".\n";
    if (!r.RampsNotMonotonic())
        out << "  All monotonic.\n";
}

void ReportVerdict(std::ostream& out, const TCheckResult& r) {
    std::vector<const char*> findings;
    if (r.InkLimitExceeded())
        findings.push_back("ink limit exceeded");
    if (r.GreysUnbalanced())
        findings.push_back("greys unbalanced");
    if (r.RampsNotMonotonic())
        findings.push_back("ramps not monotonic");
    out << "\nVerdict: ";
    if (findings.empty())
        out << "usable.\n";
    for (size_t i = 0; i < findings.size(); ++i)
        out << (i == 0 ? "not usable as it stands: " : "; ") << findings[i]
            << (i + 1 == findings.size() ? ".\n" : "");
}

} // namespace

bool TCheckResult::GreysUnbalanced() const noexcept {
    return GreySpread * 100 > GreySpreadPercent * 255;
}

bool TCheckResult::RampsNotMonotonic() const noexcept {
    return std::any_of(Ramps.begin(), Ramps.end(),
                       [](const TRampResult& ramp) { return ramp.Fall > RampFallLevels; });
}

TCheckResult CheckTable(const TConversionTable& Table, const TCheckOptions& Options) {
    TCheckResult result;
    ScanTotals(Table, Options.InkLimit == 0 ? 0 : InkLimitLevels(Options.InkLimit), result);
    ReadGreys(Table, result);
    CheckRamps(Table, result);
    return result;
}

int RunCheck(const std::string& Path, const TCheckOptions& Options, std::ostream& Out,
             std::ostream& Err) {
    std::unique_ptr<TConversionTable> table;
    try {
        table = std::make_unique<TConversionTable>(Path);
    } catch (const Exception& e) {
        Err << "stipplor-table: " << Path << ": " << e.Message() << '\n';
        return ExitUnreadable;
    }
    const TCheckResult result = CheckTable(*table, Options);
    ReportLayout(Out, Path, ReadFileLayout(Path));
    ReportGreys(Out, result);
    ReportInk(Out, *table, result, Options);
    ReportRamps(Out, result);
    ReportVerdict(Out, result);
    return result.Usable() ? ExitUsable : ExitFindings;
}

} // namespace stipplor::tabletool
