#include "TableMaker.h"

#include "Progress.h"
#include "TableImage.h"
#include "core/Exception.h"
#include "screening/ConversionTable.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <filesystem>

namespace stipplor::tabletool {
namespace {

struct TContextDeleter {
    void operator()(cmsContext context) const { cmsDeleteContext(context); }
};
struct TProfileCloser {
    void operator()(cmsHPROFILE profile) const { cmsCloseProfile(profile); }
};
struct TTransformDeleter {
    void operator()(cmsHTRANSFORM transform) const { cmsDeleteTransform(transform); }
};
using TContext = std::unique_ptr<std::remove_pointer_t<cmsContext>, TContextDeleter>;
using TProfile = std::unique_ptr<void, TProfileCloser>;
using THandle = std::unique_ptr<void, TTransformDeleter>;

cmsUInt32Number LittleCMSIntent(TIntent intent) {
    switch (intent) {
    case TIntent::Relative:
        return INTENT_RELATIVE_COLORIMETRIC;
    case TIntent::Saturation:
        return INTENT_SATURATION;
    case TIntent::Absolute:
        return INTENT_ABSOLUTE_COLORIMETRIC;
    case TIntent::Perceptual:
        break;
    }
    return INTENT_PERCEPTUAL;
}

const char* IntentName(TIntent intent) {
    constexpr std::array<const char*, 4> names = {"perceptual", "relative", "saturation",
                                                  "absolute"};
    return names[static_cast<size_t>(intent)];
}

constexpr int32_t Side = ConversionTableSide;

} // namespace

// One LittleCMS context per transform, so that its complaints reach our message and nobody
// else's.
struct TTableTransform::TLittleCMS {
    std::string errors;
    TContext context;
    THandle transform;

    TLittleCMS() : context(cmsCreateContext(nullptr, &errors)) {
        if (!context)
            throw Exception("LittleCMS cannot start");
        cmsSetLogErrorHandlerTHR(context.get(), [](cmsContext c, cmsUInt32Number, const char* t) {
            auto& collected = *static_cast<std::string*>(cmsGetContextUserData(c));
            collected += collected.empty() ? t : std::string("; ") + t;
        });
    }

    std::string Reason(const char* otherwise) {
        std::string reason = errors.empty() ? otherwise : errors;
        errors.clear();
        return reason;
    }

    TProfile OpenProfile(const std::string& path) {
        TProfile profile(path.empty()
                             ? cmsCreate_sRGBProfileTHR(context.get())
                             : cmsOpenProfileFromFileTHR(context.get(), path.c_str(), "r"));
        if (!profile)
            throw Exception("Cannot open profile " + path + ": " + Reason("not a profile"));
        return profile;
    }
};

TTableTransform::TTableTransform(const TMakeOptions& Options)
    : cms_(std::make_unique<TLittleCMS>()) {
    const std::string fromName = Options.FromProfile.empty() ? "sRGB" : Options.FromProfile;
    const TProfile from = cms_->OpenProfile(Options.FromProfile);
    const TProfile to = cms_->OpenProfile(Options.ToProfile);
    if (cmsGetColorSpace(from.get()) != cmsSigRgbData)
        throw Exception(fromName + " is not an RGB profile");
    if (cmsGetColorSpace(to.get()) != cmsSigCmykData)
        throw Exception(Options.ToProfile + " is not a CMYK profile");

    const cmsUInt32Number intent = LittleCMSIntent(Options.Intent);
    if (!cmsIsIntentSupported(to.get(), intent, LCMS_USED_AS_OUTPUT))
        notes_.push_back(Options.ToProfile + " has no table of its own for the " +
                         IntentName(Options.Intent) +
                         " intent; LittleCMS uses its perceptual table instead");

    std::vector<cmsHPROFILE> chain = {from.get(), to.get()};
    TProfile limiter;
    if (Options.InkLimit != 0) {
        if (Options.InkLimit < MinInkLimit || Options.InkLimit > MaxInkLimit)
            throw Exception("The ink limit must lie between 100 and 400 percent");
        // LittleCMS's own ink limiting: C, M and Y shrink in proportion where the total
        // exceeds the limit, black stays.
        limiter.reset(cmsCreateInkLimitingDeviceLinkTHR(cms_->context.get(), cmsSigCmykData,
                                                        Options.InkLimit));
        if (!limiter)
            throw Exception("LittleCMS cannot limit the ink: " + cms_->Reason("refused"));
        chain.push_back(limiter.get());
        inkLimit_ = InkLimitLevels(Options.InkLimit);
    }

    cmsUInt32Number flags = cmsFLAGS_NOCACHE; // the one-pixel cache is all threads' to share
    if (Options.BlackPointCompensation)
        flags |= cmsFLAGS_BLACKPOINTCOMPENSATION;
    cms_->transform.reset(cmsCreateMultiprofileTransformTHR(
        cms_->context.get(), chain.data(), static_cast<cmsUInt32Number>(chain.size()), TYPE_RGB_8,
        TYPE_CMYK_8, intent, flags));
    if (!cms_->transform)
        throw Exception("LittleCMS cannot convert from " + fromName + " to " + Options.ToProfile +
                        ": " + cms_->Reason("no transform"));
}

TTableTransform::~TTableTransform() = default;

void TTableTransform::Convert(const uint8_t* RGB, uint8_t* CMYK, int32_t Count) const {
    cmsDoTransform(cms_->transform.get(), RGB, CMYK, static_cast<cmsUInt32Number>(Count));
    if (inkLimit_ != 0)
        HoldInkLimit(CMYK, Count, inkLimit_);
}

void HoldInkLimit(uint8_t* CMYK, int64_t Count, int32_t Limit) noexcept {
    for (int64_t i = 0; i < Count; ++i, CMYK += 4) {
        int32_t total = CMYK[0] + CMYK[1] + CMYK[2] + CMYK[3];
        for (; total > Limit; --total)
            --*std::max({&CMYK[0], &CMYK[1], &CMYK[2]},
                        [](const uint8_t* a, const uint8_t* b) { return *a < *b; });
    }
}

void FillIdentityRows(int32_t First, int32_t Count, uint8_t* Rows) {
    for (int32_t y = First; y < First + Count; ++y)
        for (int32_t x = 0; x < Side; ++x, Rows += 3) {
            const TRGB colour = TableColour(x, y);
            Rows[0] = colour.R;
            Rows[1] = colour.G;
            Rows[2] = colour.B;
        }
}

void MakeTable(const TMakeOptions& Options, const std::string& Path, std::ostream& Log) {
    // A slip of the command line must not turn a profile into a table.
    for (const std::string& profile : {Options.FromProfile, Options.ToProfile}) {
        std::error_code error;
        if (!profile.empty() && std::filesystem::equivalent(Path, profile, error))
            throw Exception("Will not overwrite the profile " + profile + " with a table");
    }
    const TTableTransform transform(Options);
    for (const std::string& note : transform.Notes())
        Log << "note: " << note << '\n';
    TProgress progress(Log, "making " + Path, StripCount);
    WriteTableImage(
        Path, {.Samples = 4, .LZW = Options.LZW},
        [&](int32_t first, int32_t count, uint8_t* rows) {
            std::vector<uint8_t> rgb(size_t(count) * Side * 3);
            FillIdentityRows(first, count, rgb.data());
            transform.Convert(rgb.data(), rows, count * Side);
        },
        &progress);
}

void MakeIdentity(const std::string& Path, bool LZW, std::ostream& Log) {
    TProgress progress(Log, "making " + Path, StripCount);
    WriteTableImage(Path, {.Samples = 3, .LZW = LZW}, FillIdentityRows, &progress);
}

} // namespace stipplor::tabletool
