#pragma once
// What the dialog and the pipeline need of the host application. The plug-in boundary fills
// the link in before it creates the dialog; screening never calls the host itself, so that
// dependencies keep pointing from the plug-in to the screening job and never back.
#include "bitmap/LinarBitmap.h"

#include <cstdint>
#include <functional>
#include <string>

namespace stipplor {

// An empty function means the host offers nothing of that kind.
struct THostLink {
    // Request 10: true, with the image's gamma, when the host reports one.
    std::function<bool(float& Gamma)> QueryImageGamma;
    // Request 2: a new image with its title; the host copies it before returning.
    std::function<void(const TLinearBitmap& Bitmap, const std::string& Title)> SendImage;
    // Request 5: a percentage; raises the silent abort (EAbort) when the host says stop.
    std::function<void(int32_t Percent)> ReportProgress;
};

// The process-wide progress target (`ProgressHook`): empty when the library is loaded; the
// pipeline points it at the link's ReportProgress at the start of each run, never resets it.
extern std::function<void(int32_t Percent)> ProgressHook;

} // namespace stipplor
