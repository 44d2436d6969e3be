#pragma once
// Checking a conversion table as a print person would: how greys are built, how much ink the
// table lays down at most, whether ramps from light to dark stay monotonic. The table is read
// by the plug-in's own loader, so what cannot be read here cannot be read there either.
#include "screening/ConversionTable.h"

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace stipplor::tabletool {

// Findings. Greys are unbalanced when C, M and Y of one grey differ by more than this (the
// largest minus the smallest, in percent of full ink).
inline constexpr int GreySpreadPercent = 15;
// A ramp is not monotonic when an ink it should build falls by more than this many levels
// (of 255) below its highest value earlier on the ramp.
inline constexpr int RampFallLevels = 3;

struct TCheckOptions {
    int InkLimit = 0; // most total ink in percent; 0: not checked
};

struct TRampResult {
    std::string Name; // "white to red"
    int Fall = 0;     // worst fall in levels of the watched inks
    char Ink = ' ';   // the ink that fell: 'C', 'M', 'Y' or 'K'
    TRGB Where;       // the colour at the bottom of that fall
};

struct TCheckResult {
    std::array<TInk, 256> Greys{}; // the ink of (v, v, v) at index v
    int MaxTotal = 0;              // levels, 0..1020
    TRGB MaxTotalAt;
    int64_t OverLimit = 0; // entries above the ink limit
    TRGB FirstOverLimit;
    int GreySpread = 0; // levels; the widest C, M, Y spread of a grey
    int GreySpreadAt = 255;
    std::vector<TRampResult> Ramps;

    bool InkLimitExceeded() const noexcept { return OverLimit > 0; }
    bool GreysUnbalanced() const noexcept;
    bool RampsNotMonotonic() const noexcept;
    bool Usable() const noexcept {
        return !InkLimitExceeded() && !GreysUnbalanced() && !RampsNotMonotonic();
    }
};

TCheckResult CheckTable(const TConversionTable& Table, const TCheckOptions& Options);

// Reads Path as the plug-in does, writes the report to Out and returns ExitUsable,
// ExitFindings, or ExitUnreadable with the plug-in's message on Err.
int RunCheck(const std::string& Path, const TCheckOptions& Options, std::ostream& Out,
             std::ostream& Err);

} // namespace stipplor::tabletool
