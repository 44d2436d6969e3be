#pragma once
// Making conversion tables with LittleCMS: every 24-bit colour, laid out in the table's tile
// order, converted from an RGB profile to a CMYK profile; and the identity picture, the same
// colours unconverted, for converting in another program.
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace stipplor::tabletool {

enum class TIntent { Perceptual, Relative, Saturation, Absolute };

struct TMakeOptions {
    std::string FromProfile; // empty: LittleCMS's built-in sRGB
    std::string ToProfile;
    TIntent Intent = TIntent::Perceptual;
    bool BlackPointCompensation = false;
    int InkLimit = 0; // most total ink in percent, 100..400; 0 for none
    bool LZW = true;  // otherwise uncompressed
};

inline constexpr int MinInkLimit = 100, MaxInkLimit = 400;

// The most total ink C + M + Y + K, in levels of 255 per ink, that Percent allows.
constexpr int32_t InkLimitLevels(int Percent) noexcept {
    return Percent * 255 / 100;
}

// Takes whatever exceeds Limit (levels, at least 255) off the largest of C, M and Y of each of
// Count pixels, one level at a time; black stays. For the rounding of LittleCMS's 16-bit
// result to 8 bits, which can put an ink-limited colour a level above its limit.
void HoldInkLimit(uint8_t* CMYK, int64_t Count, int32_t Limit) noexcept;

// LittleCMS's transform for the options, ink limiting included. Raises Exception with the
// reason when a profile cannot be opened or does not fit, or LittleCMS refuses the pair.
class TTableTransform {
public:
    explicit TTableTransform(const TMakeOptions& Options);
    TTableTransform(const TTableTransform&) = delete;
    TTableTransform& operator=(const TTableTransform&) = delete;
    ~TTableTransform();

    // Count pixels of R, G, B to C, M, Y, K; safe on several threads at once.
    void Convert(const uint8_t* RGB, uint8_t* CMYK, int32_t Count) const;

    // What the user should know about the conversion (a profile without a table for the
    // intent, for example).
    const std::vector<std::string>& Notes() const noexcept { return notes_; }

private:
    struct TLittleCMS;
    std::unique_ptr<TLittleCMS> cms_;
    int32_t inkLimit_ = 0; // levels; 0 for none
    std::vector<std::string> notes_;
};

// Rows First.. First + Count - 1 of the identity picture: R, G, B of the colour each table
// entry belongs to.
void FillIdentityRows(int32_t First, int32_t Count, uint8_t* Rows);

// Write the table or the identity picture to Path; progress and notes go to Log.
void MakeTable(const TMakeOptions& Options, const std::string& Path, std::ostream& Log);
void MakeIdentity(const std::string& Path, bool LZW, std::ostream& Log);

} // namespace stipplor::tabletool
